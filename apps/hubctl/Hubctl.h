#pragma once
// halvek-hubctl: the updater's core on the command line, for headless machines, scripts and
// production lines.

#include <QJsonObject>
#include <QObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTextStream>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "HubctlExit.h"
#include "base/Result.h"
#include "hid/HidPlatform.h"
#include "sim/HubEmulator.h"
#include "update/FirmwareImage.h"
#include "update/UpdateProcedure.h"

class QElapsedTimer;
class TSimHidBus;
class TSimulatedHub;
class THubFleet;
class THubSession;
class TTerminalView;

// How an update ended, as its JSON result names it, and the exit code it gives.
const char* ResultName(EUpdateResult result);
EHubctlExit ExitCodeOf(EUpdateResult result);
// The results of an update that left the hub alone (its version, by the rules of --force and
// --allow-older).
inline constexpr char RESULT_ALREADY_CURRENT[] = "already-current";
inline constexpr char RESULT_IMAGE_OLDER[] = "image-older";
// The keys of a --log record, every one present in every record (null when unknown).
const QStringList& LogRecordKeys();

// The exit code of a run over several hubs (update --all, auto): an interrupted run says more
// than a failed one, a failed one more than success.
class THubTally {
 public:
  // One hub done, with its own exit code and result: an interrupted hub interrupts the run
  // (Ctrl-C reaches the hubs' own processes), a hub left alone by the version rules is no
  // failure, anything else but EHubctlExit::Ok is.
  void Add(EHubctlExit hubCode, const QString& result = QString());
  // The run itself was interrupted.
  void Interrupt() { interrupted_ = true; }
  int Done() const { return done_; }
  int LeftAlone() const { return leftAlone_; }
  EHubctlExit ExitCode() const;

 private:
  int done_ = 0;
  int leftAlone_ = 0;
  bool failed_ = false;
  bool interrupted_ = false;
};

// What the program takes from its surroundings; tests set their own.
struct THubctlEnvironment {
  QTextStream* out = nullptr;
  QTextStream* err = nullptr;
  bool terminal = false;  // stderr is a terminal: draw a progress bar
  // The terminal's width, and whether it takes cursor movements (TERM is not "dumb").
  int columns = 80;
  bool cursorControl = true;
  // The machine's HID devices unless set (--simulate makes its own bus).
  std::shared_ptr<THidPlatform> platform;
  // Tests shorten the update's pauses, the emulated hubs' delays and the automatic timer.
  std::optional<TUpdateTiming> timing;
  // The image to program and the version the hub must then report (the built-in one unless set).
  std::optional<FirmwareLines> image;
  std::optional<std::uint32_t> imageVersion;
  // Where LED levels wait during an update; unset: the user's state directory (memory only
  // with --simulate).
  std::optional<QString> levelStoreDirectory;
  THubEmulatorOptions simulatedHub;
  // Runs for every emulated hub --simulate plugs in (tests inject faults here).
  std::function<void(THubEmulator&)> onSimulatedHub;
  // The automatic-update timer's interval; unset: the session's own.
  std::optional<int> autoTimerMs;
  // What update --all and auto --parallel run for each hub: this program unless set.
  QString program;
  // Where install-udev-rule writes, where the package puts the rule, and whether it may run
  // udevadm afterwards.
  QString udevRulesDir = QStringLiteral("/etc/udev/rules.d");
  QString packageRulesDir = QStringLiteral("/usr/lib/udev/rules.d");
  QString udevadm = QStringLiteral("udevadm");  // empty: udev is not told
  bool requireRoot = true;
};

class THubctl : public QObject {
  Q_OBJECT

 public:
  explicit THubctl(THubctlEnvironment environment);
  ~THubctl() override;

  // Runs one command line (without the program name); returns the exit code. An output that
  // could not be written makes a successful command end with EHubctlExit::Error, said on
  // stderr.
  EHubctlExit Run(const QStringList& arguments);

  // What no step reports as a failure of its own (the device layer refusing to start), caught by
  // main: said like any other failure, with --json as a "cannot-reach-devices" error.
  EHubctlExit Failed(const std::exception& error);

  // Ctrl-C, or Soft: SIGHUP or SIGTERM, which act like a first Ctrl-C only.
  enum class EInterrupt { CtrlC, Soft };
  // A first interrupt during an update lets the update finish (saying so); a second Ctrl-C
  // stops it between records and says the hub is left in its bootloader. False when the
  // command in progress has nothing to wind down: the caller may just end the process.
  bool Interrupt(EInterrupt kind = EInterrupt::CtrlC);

  // The session of the command that runs; null before and after. For tests.
  THubSession* Session() const { return session_.get(); }

  // The emulated hubs of --simulate, oldest first.
  const std::vector<std::unique_ptr<TSimulatedHub>>& SimulatedHubs() const {
    return simulatedHubs_;
  }

 private:
  struct TOptions;
  EHubctlExit RunCommand(const QStringList& arguments);
  EHubctlExit Dispatch(const TOptions& options);
  EHubctlExit List(const TOptions& options);
  EHubctlExit Version(const TOptions& options);
  EHubctlExit Update(const TOptions& options);
  EHubctlExit Status(const TOptions& options);
  EHubctlExit Led(const TOptions& options);
  EHubctlExit Wait(const TOptions& options);
  EHubctlExit Auto(const TOptions& options);
  // update --all, auto --parallel: one child process per hub (see THubFleet).
  EHubctlExit UpdateAll(const TOptions& options);
  EHubctlExit AutoParallel(const TOptions& options);
  // The program and arguments of a hub's child process.
  QString ChildProgram() const;
  QStringList ChildArguments(const TOptions& options) const;
  // Ctrl-C during update --all / auto --parallel: passed on to every child, said once.
  void InterruptFleet(THubFleet& fleet);
  // What names a hub in records and lists: node, USB port and serial number (empty: unknown).
  struct THubIds {
    QString node, port, serial;
  };
  static THubIds IdsOf(const THidDevice* hub);
  // The record of one hub (for --json and --log): every key of LogRecordKeys, null where
  // unknown (an empty reason, a negative duration); `done`: what the update did.
  QJsonObject HubRecord(const THubIds& ids, const QString& result, const QString& reason,
                        std::optional<std::uint32_t> before, qint64 durationMs,
                        EHubctlExit exitCode, const TUpdateRecord* done = nullptr) const;
  // update --all, auto --parallel: a hub's record, made (and logged) here when its process
  // left none; `lastError` is the last error it said.
  QJsonObject FleetRecord(const TOptions& options, const QString& node, EHubctlExit code,
                          const QJsonObject& record, const QJsonObject& lastError);
  // The version the hub must report after the update.
  std::uint32_t TargetVersion() const;
  // Appends a record to --log; a log that cannot be written is said, and stops nothing.
  void WriteLog(const TOptions& options, const QJsonObject& record);
  EHubctlExit InstallUdevRule(const TOptions& options);
  // Has udev read the rules again and apply them to the hidraw nodes; else why not, in plain
  // words.
  TResult<void> TellUdev();
  EHubctlExit ShowVersion(bool json);
  EHubctlExit UsageError(const QString& why);

  // Picks the hub (--device, or the only one) and makes it current. EHubctlExit::Ok or why not.
  EHubctlExit SelectHub(const TOptions& options);
  // Several hubs and none chosen: says so and lists them.
  EHubctlExit SeveralHubs();
  // A listed hub's node, port, serial number and (when it answers) versions; the reply goes to
  // `reply` when given.
  QJsonObject HubFacts(int index, std::optional<TVersionReply>* reply = nullptr);
  // Whether the version rules leave the current hub, running `application`, alone: then said,
  // recorded, and the exit code.
  std::optional<EHubctlExit> LeftAlone(const TOptions& options,
                                       std::optional<std::uint32_t> application, const THubIds& ids,
                                       const QElapsedTimer& clock);
  // update --all, auto --parallel: the closing line, with the failures and the hubs left alone.
  void Summary(const THubTally& tally, const std::vector<QJsonObject>& records, bool json);
  // Ctrl-C during an update: what it may still do depends on how far the update has come.
  void InterruptUpdate();
  QString CurrentNode() const;
  // --simulate: the emulated hubs of --hubs, or a hub's own process's one hub.
  void PlugSimulatedHubs(const TOptions& options);
  // The hub numbered `number` from 1 (HALVEK_SIMULATE_FAULTS names hubs by it).
  void PlugSimulatedHub(int number);
  // update --all, auto --parallel under --simulate: what tells the child which emulated hub is
  // `hub` (empty for a hub that is none).
  QProcessEnvironment ChildEnvironment(const THidDevice* hub) const;
  EHubctlExit RunLoopUntilDone();
  void Finish(EHubctlExit code);
  // A failure: one line on stderr and, with --json, an "error" object with a stable reason.
  void Error(const QString& reason, const QString& line, const QJsonObject& more = {});
  // Something the user should know that is no failure (Ctrl-C's effect): stderr, and with
  // --json a "notice" object.
  void Notice(const QString& line);
  // One line on stderr, named by the program.
  void Say(const QString& line);

  THubctlEnvironment env_;
  std::unique_ptr<TTerminalView> view_;
  std::shared_ptr<TSimHidBus> bus_;
  std::vector<std::unique_ptr<TSimulatedHub>> simulatedHubs_;
  std::unique_ptr<THubSession> session_;
  std::function<void()> onInterrupt_;
  class QEventLoop* loop_ = nullptr;
  EHubctlExit loopResult_ = EHubctlExit::Ok;
  int interrupts_ = 0;
  // update --image: the supplied image (checked) and the version the hub must report after it.
  std::optional<FirmwareLines> image_;
  std::uint32_t imageVersion_ = 0;
  // The SHA-256 of the image to program, as its file holds it (hex).
  QString imageSha256_;
};
