// Updates that go wrong, through halvek-hubctl: each row plants one fault in an emulated hub or
// on the bus, and checks what the user is told, the exit code, the hub's state afterwards, and
// that a clean retry then finishes with the LED levels the hub had at the start.
//
// Built twice from this file: on the simulated bus, and through udev and hidraw with the hubs
// behind a umockdev testbed (HALVEK_FAULTS_LINUX, run under umockdev-wrapper). The rows are the
// table of docs/reliability.md; a test fails when the two disagree.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "HubctlRun.h"
#include "protocol/Commands.h"
#include "sim/HubEmulator.h"
#include "sim/SimulatedHub.h"
#include "support/SmallImage.h"
#include "update/EmbeddedFirmware.h"
#include "update/HubSession.h"
#include "update/Texts.h"
#include "update/Version.h"

#ifdef HALVEK_FAULTS_LINUX
#include "HidrawTestbed.h"
#include "UmockdevEmulatedHub.h"
#include "hid/linux/LinuxHidPlatform.h"
#else
#include "hid/sim/SimHidBus.h"
#endif

namespace {

constexpr std::uint32_t OLD_VERSION = 0x11140801;
constexpr std::uint32_t NEW_VERSION = 0x11150906;
// The program's fixed pauses, shortened; the hub is back well within them.
constexpr int PAUSE_MS = 300;
constexpr int HUB_AWAY_MS = 40;
// How much longer the program waits for a hub that is late.
constexpr int RETURN_WAIT_MS = 1500;
// Later than the pause, within the extra wait.
constexpr int LATE_MS = PAUSE_MS + 600;
constexpr std::array<std::uint8_t, 8> START_LEVELS{80, 70, 60, 50, 40, 30, 20, 10};

THubEmulatorOptions QuickHub() {
  THubEmulatorOptions o;
  o.applicationVersion = OLD_VERSION;
  o.ledLevels = START_LEVELS;
  o.replyLatencyMs = 0;
  o.bootloaderSwitchDelayMs = HUB_AWAY_MS;
  o.rebootDelayMs = HUB_AWAY_MS;
  o.statusTimeScale = 0;
  return o;
}

// Changes the options of hub i before it is plugged in.
using TConfigure = std::function<void(int, THubEmulatorOptions&)>;

// One or more emulated hubs on the bus under test. Hub 0 is the one updated.
class TRig {
 public:
  explicit TRig(int hubs, const TConfigure& configure = {}) {
    for (int i = 0; i < hubs; ++i) {
      THubEmulatorOptions options = QuickHub();
      if (configure)
        configure(i, options);
#ifdef HALVEK_FAULTS_LINUX
      hubs_.push_back(std::make_unique<TUmockdevEmulatedHub>(testbed_, options, i * 10));
#else
      hubs_.push_back(std::make_unique<TSimulatedHub>(bus_, options, false));
#endif
    }
    for (int i = 0; i < hubs; ++i) {
      Hub(i).SetFirmwareImage(image, NEW_VERSION);
      Hub(i).Plug();
    }
  }

  THubEmulator& Hub(int i = 0) {
#ifdef HALVEK_FAULTS_LINUX
    return hubs_.at(i)->emulator;
#else
    return hubs_.at(i)->Emulator();
#endif
  }
  std::shared_ptr<THidPlatform> Platform() {
#ifdef HALVEK_FAULTS_LINUX
    return std::make_shared<TLinuxHidPlatform>();
#else
    return bus_;
#endif
  }
  // The node of the hub's present attachment.
  QString Node(int i = 0) {
#ifdef HALVEK_FAULTS_LINUX
    return hubs_.at(i)->connection.Node();
#else
    return QStringLiteral("sim:hidraw%1").arg(hubs_.at(i)->DevInst());
#endif
  }
  // Later attachments of hub i hang on another port (none: empty). False where the bus cannot.
  bool MoveTo(int i, const QString& phys) {
#ifdef HALVEK_FAULTS_LINUX
    hubs_.at(i)->connection.MoveTo(phys);
    return true;
#else
    Q_UNUSED(i);
    Q_UNUSED(phys);
    return false;
#endif
  }
  // Hub i's next attachment comes without a notice. False where the bus cannot.
  bool MissNextNotice(int i) {
#ifdef HALVEK_FAULTS_LINUX
    hubs_.at(i)->connection.MissNextNotice();
    return true;
#else
    Q_UNUSED(i);
    return false;
#endif
  }

  const FirmwareLines image = SmallImage();

 private:
#ifdef HALVEK_FAULTS_LINUX
  TUmockdevTestbed testbed_;
  std::vector<std::unique_ptr<TUmockdevEmulatedHub>> hubs_;
#else
  std::shared_ptr<TSimHidBus> bus_ = std::make_shared<TSimHidBus>();
  std::vector<std::unique_ptr<TSimulatedHub>> hubs_;
#endif
};

using TOutcome = THubctlOutcome;

// Runs one command line in-process against the rig's bus; `during` runs every millisecond
// while the command runs (and may interrupt it).
TOutcome RunHubctl(TRig& rig, const QString& stateDir, const QStringList& args,
                   const std::function<void(THubctl&)>& during = {},
                   const std::optional<TUpdateTiming>& timing = {}) {
  QTimer poll;
  return RunHubctlWith(
      args,
      [&](THubctlEnvironment& env) {
        env.platform = rig.Platform();
        env.timing = timing.value_or(TUpdateTiming{PAUSE_MS, PAUSE_MS, 0, RETURN_WAIT_MS});
        env.image = rig.image;
        env.imageVersion = NEW_VERSION;
        env.levelStoreDirectory = stateDir;
      },
      [&](THubctl& hubctl) {
        if (!during)
          return;
        // The program is the context: the polls end with it.
        QObject::connect(&poll, &QTimer::timeout, &hubctl, [during, h = &hubctl] { during(*h); });
        poll.start(1);
      });
}

// What the hub holds after the faulty run.
enum class EAfter {
  Untouched,   // the old application, in application mode: nothing was changed
  Bootloader,  // attached, in its bootloader
  Gone,        // not attached
  Updated,     // the new application
};

// Rows name only the fields they need; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

struct TFaultRow {
  int hubs = 1;
  // Plants the fault before the run.
  std::function<void(TRig&)> arrange;
  // Called every millisecond during the run, with the first hub's emulator.
  std::function<void(TRig&, THubctl&)> during;
  EHubctlExit code = EHubctlExit::Ok;
  // A line (or part of one) the user must see.
  QString said;
  EAfter after = EAfter::Updated;
  // Only where the bus can do it (another socket).
  bool linuxOnly = false;
  // The hub is plugged into its first socket again before the retry.
  bool replug = false;
  // The program's own waits instead of the shortened ones; and a bound the run must keep.
  std::optional<TUpdateTiming> timing;
  int maxMs = 0;
  TConfigure configure;
};

std::function<void(TRig&)> Plant(THubFault fault) {
  return [fault](TRig& rig) { rig.Hub().AddFault(fault); };
}

// Runs `act` once hub 0 has received `command`.
std::function<void(TRig&, THubctl&)> Once(int command, std::function<void(TRig&, THubctl&)> act) {
  auto done = std::make_shared<bool>(false);
  return [=](TRig& rig, THubctl& hubctl) {
    if (*done)
      return;
    for (const auto& e : rig.Hub().Transcript()) {
      if (e.command == command) {
        *done = true;
        act(rig, hubctl);
        return;
      }
    }
  };
}

// Plants `faults` in hub 0 once it has been rebooted.
std::function<void(TRig&, THubctl&)> AfterReboot(std::vector<THubFault> faults) {
  return Once(CMD_REBOOT, [faults](TRig& rig, THubctl&) {
    for (const THubFault& fault : faults)
      rig.Hub().AddFault(fault);
  });
}

// Hub 1 is taken out now and plugged into its own socket soon after hub 0 leaves for the
// `leave`-th time, while the program waits for hub 0.
std::function<void(TRig&)> SecondHubWhenGone(int leave, THubFault fault) {
  return [=](TRig& rig) {
    rig.Hub().AddFault(fault);
    THubEmulator* second = &rig.Hub(1);
    second->Unplug();
    auto left = std::make_shared<int>(0);
    QObject::connect(&rig.Hub(0), &THubEmulator::Disappeared, second, [=] {
      if (++*left == leave)
        QTimer::singleShot(100, second, [second] { second->Plug(); });
    });
  };
}

// Every hub but the first already runs the new firmware; with `serials` each has its own USB
// serial number.
TConfigure OthersUpdated(bool serials) {
  return [serials](int i, THubEmulatorOptions& o) {
    if (serials)
      o.serialNumber = "HLV-000" + std::to_string(i + 1);
    if (i > 0)
      o.applicationVersion = NEW_VERSION;
  };
}

// Ctrl-C `times` times once the hub has received `command` (counted from the start).
std::function<void(TRig&, THubctl&)> InterruptAt(int command, int times) {
  auto done = std::make_shared<bool>(false);
  return [=](TRig& rig, THubctl& hubctl) {
    if (*done)
      return;
    for (const auto& e : rig.Hub().Transcript()) {
      if (e.command == command) {
        *done = true;
        for (int i = 0; i < times; ++i)
          hubctl.Interrupt();
        return;
      }
    }
  };
}

const QString NOT_UPDATED_BOOTLOADER = Texts::NotUpdated("the hub is still in its bootloader");

std::map<QString, TFaultRow> Rows() {
  using F = EFaultKind;
  std::map<QString, TFaultRow> rows;
  // The hub coming back from a reset.
  rows["slow back from bootloader switch"] = {
      1,
      Plant(THubFault{F::LateReturn, CMD_ENTER_BOOTLOADER, TOccurrence::Nth(1), LATE_MS}),
      {},
      EHubctlExit::Ok,
      Texts::UpdateCompleted,
      EAfter::Updated};
  rows["slow back from reboot"] = {
      1,
      Plant(THubFault{F::LateReturn, CMD_REBOOT, TOccurrence::Nth(1), LATE_MS}),
      {},
      EHubctlExit::Ok,
      Texts::UpdateCompleted,
      EAfter::Updated};
  rows["never back from bootloader switch"] = {
      1,
      Plant(THubFault{F::NoReturn, CMD_ENTER_BOOTLOADER, TOccurrence::Nth(1)}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::EnterBootloaderError,
      EAfter::Gone};
  rows["never back from reboot"] = {1,
                                    Plant(THubFault{F::NoReturn, CMD_REBOOT, TOccurrence::Nth(1)}),
                                    {},
                                    EHubctlExit::UpdateFailed,
                                    Texts::UpdateFailedRetry,
                                    EAfter::Gone};
  // Without a serial number a hub in another socket may be another hub: never called updated,
  // and it gets no levels.
  rows["back in another socket"] = {1,
                                    [](TRig& rig) { rig.MoveTo(0, "usb-0000:00:14.0-7/input0"); },
                                    {},
                                    EHubctlExit::UpdateFailed,
                                    Texts::BackInOtherSocket,
                                    EAfter::Updated,
                                    true,
                                    true};
  rows["back without a port"] = {1,
                                 [](TRig& rig) { rig.MoveTo(0, QString()); },
                                 {},
                                 EHubctlExit::UpdateFailed,
                                 Texts::BackInOtherSocket,
                                 EAfter::Updated,
                                 true,
                                 true};
  rows["back in another socket with its serial number"] = {
      .arrange = [](TRig& rig) { rig.MoveTo(0, "usb-0000:00:14.0-7/input0"); },
      .said = Texts::UpdateCompleted,
      .linuxOnly = true,
      .configure = OthersUpdated(true)};
  // Another hub plugged in while the one being updated is away.
  rows["another hub plugged in during the bootloader switch"] = {
      .hubs = 2,
      .arrange = SecondHubWhenGone(1, {F::NoReturn, CMD_ENTER_BOOTLOADER, TOccurrence::Nth(1)}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::NotInBootloader,
      .after = EAfter::Gone};
  rows["another hub plugged in during the reboot"] = {
      .hubs = 2,
      .arrange = SecondHubWhenGone(2, {F::NoReturn, CMD_REBOOT, TOccurrence::Nth(1)}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::BackInOtherSocket,
      .after = EAfter::Gone,
      .configure = OthersUpdated(false)};
  rows["another hub with its own serial number plugged in during the reboot"] = {
      .hubs = 2,
      .arrange = SecondHubWhenGone(2, {F::NoReturn, CMD_REBOOT, TOccurrence::Nth(1)}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::UpdateFailedRetry,
      .after = EAfter::Gone,
      .configure = OthersUpdated(true)};
  // The program's own waits: a hub 3 s late is waited for, and a missed notice costs a second.
  rows["back 3 s late with the full wait"] = {
      .arrange = Plant(THubFault{F::LateReturn, CMD_REBOOT, TOccurrence::Nth(1), 3000}),
      .said = Texts::UpdateCompleted,
      .timing = TUpdateTiming{PAUSE_MS, PAUSE_MS, 0, 10000}};
  rows["notice of the return missed"] = {.arrange = [](TRig& rig) { rig.MissNextNotice(0); },
                                         .said = Texts::UpdateCompleted,
                                         .linuxOnly = true,
                                         .timing = TUpdateTiming{PAUSE_MS, PAUSE_MS, 0, 10000},
                                         .maxMs = 2 * PAUSE_MS + 4000};
  rows["back in another socket beside another hub"] = {
      2,
      [](TRig& rig) { rig.MoveTo(0, "usb-0000:00:14.0-7/input0"); },
      {},
      EHubctlExit::UpdateFailed,
      Texts::EnterBootloaderError,
      EAfter::Bootloader,
      true};
  rows["reboot not carried out"] = {1,
                                    Plant(THubFault{F::NoReply, CMD_REBOOT, TOccurrence::Always()}),
                                    {},
                                    EHubctlExit::UpdateFailed,
                                    NOT_UPDATED_BOOTLOADER,
                                    EAfter::Bootloader};
  // The hub dropping off the bus.
  rows["vanish while reading LED levels"] = {
      1,
      Plant(THubFault{F::Vanish, CMD_LED_ADJUST_BEGIN, TOccurrence::Nth(1), -1}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::UpdateFailedRetry,
      EAfter::Gone};
  rows["vanish while programming"] = {
      1,
      Plant(THubFault{F::Vanish, CMD_PROGRAM_RECORD, TOccurrence::Nth(3), -1}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::Timeout,
      EAfter::Gone};
  rows["vanish while programming, back at once"] = {
      1,
      Plant(THubFault{F::Vanish, CMD_PROGRAM_RECORD, TOccurrence::Nth(3), 30}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::Timeout,
      EAfter::Bootloader};
  rows["no access after bootloader switch"] = {
      1,
      Plant(THubFault{F::NoAccess, CMD_ENTER_BOOTLOADER, TOccurrence::Nth(1)}),
      {},
      EHubctlExit::UpdateFailed,
      QStringLiteral("install-udev-rule"),
      EAfter::Bootloader,
      false,
      true};
  rows["no access after reboot"] = {1,
                                    Plant(THubFault{F::NoAccess, CMD_REBOOT, TOccurrence::Nth(1)}),
                                    {},
                                    EHubctlExit::UpdateFailed,
                                    QStringLiteral("install-udev-rule"),
                                    EAfter::Updated,
                                    false,
                                    true};
  // Replies that are missing, late or wrong.
  rows["mode query unanswered"] = {
      1,
      Plant(THubFault{F::NoReply, CMD_QUERY_MODE, TOccurrence::Nth(1)}),
      {},
      EHubctlExit::Ok,
      Texts::UpdateCompleted,
      EAfter::Updated};
  rows["LED levels unanswered"] = {
      1,
      Plant(THubFault{F::NoReply, CMD_LED_ADJUST_BEGIN, TOccurrence::Always()}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::UpdateFailedRetry,
      EAfter::Untouched};
  rows["LED levels refused"] = {
      1,
      Plant(THubFault{F::ErrorStatus, CMD_LED_ADJUST_BEGIN, TOccurrence::Always()}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::UpdateFailedRetry,
      EAfter::Untouched};
  rows["LED levels late once"] = {
      1,
      Plant(THubFault{F::DelayReply, CMD_LED_ADJUST_BEGIN, TOccurrence::Nth(1), 150}),
      {},
      EHubctlExit::Ok,
      Texts::UpdateCompleted,
      EAfter::Updated};
  rows["record lost once"] = {1,
                              Plant(THubFault{F::NoReply, CMD_PROGRAM_RECORD, TOccurrence::Nth(3)}),
                              {},
                              EHubctlExit::Ok,
                              Texts::UpdateCompleted,
                              EAfter::Updated};
  rows["record reply late once"] = {
      1,
      Plant(THubFault{F::DelayReply, CMD_PROGRAM_RECORD, TOccurrence::Nth(3), 150}),
      {},
      EHubctlExit::Ok,
      Texts::UpdateCompleted,
      EAfter::Updated};
  rows["record refused"] = {
      1,
      Plant(THubFault{F::ErrorStatus, CMD_LOAD_RECORD, TOccurrence::Nth(3)}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::Timeout + "\n" +
          Texts::Refused("CMD_LOAD_RECORD",
                         QString("record 3 of %1").arg(SmallImage().RecordCount()), 0xFF),
      EAfter::Bootloader};
  rows["bootloader switch refused"] = {
      .arrange = Plant(THubFault{F::ErrorStatus, CMD_ENTER_BOOTLOADER, TOccurrence::Nth(1), 0,
                                 HUB_STATUS_WRONG_MODE}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::EnterBootloaderError + "\n" +
              Texts::Refused("CMD_ENTER_BOOTLOADER", {}, HUB_STATUS_WRONG_MODE),
      .after = EAfter::Untouched};
  rows["LED level refused after the reboot"] = {
      .during = AfterReboot({{F::ErrorStatus, CMD_SET_LED_LEVEL, TOccurrence::Nth(3), 0, 0x06}}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::Refused("CMD_SET_LED_LEVEL", "channel 3", 0x06) + "\n" +
              Texts::LedLevelsNotRestored};
  rows["unplugged during the LED restore"] = {
      .during = AfterReboot({{F::Vanish, CMD_SET_LED_LEVEL, TOccurrence::Nth(3), -1}}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::LedLevelsNotRestored,
      .after = EAfter::Gone};
  rows["final mode query refused"] = {
      .during = AfterReboot({{F::ErrorStatus, CMD_QUERY_MODE, TOccurrence::Always()}}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::NotUpdated(Texts::FirmwareNotSaid)};
  rows["second update asked for while switching"] = {
      .during = Once(CMD_ENTER_BOOTLOADER,
                     [](TRig&, THubctl& h) {
                       QCOMPARE(h.Session()->RunUpdate(), EUpdateResult::AlreadyRunning);
                     }),
      .said = Texts::UpdateCompleted};
  rows["records unanswered"] = {
      1,
      Plant(THubFault{F::NoReply, CMD_PROGRAM_RECORD, TOccurrence::FromNth(3)}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::Timeout,
      EAfter::Bootloader};
  rows["garbled lead byte"] = {
      1,
      Plant(THubFault{F::WrongLead, CMD_PROGRAM_RECORD, TOccurrence::FromNth(2)}),
      {},
      EHubctlExit::UpdateFailed,
      Texts::Timeout,
      EAfter::Bootloader};
  // The first mode reply comes after its wait, during the next exchange, which takes a while.
  rows["mode reply late"] = {
      .arrange =
          [](TRig& rig) {
            rig.Hub().AddFault({F::DelayReply, CMD_QUERY_MODE, TOccurrence::Nth(1), 150});
            rig.Hub().AddFault({F::DelayReply, CMD_LED_ADJUST_BEGIN, TOccurrence::Nth(1), 60});
          },
      .said = Texts::UpdateCompleted};
  rows["final mode reply late"] = {
      .during = AfterReboot({{F::DelayReply, CMD_QUERY_MODE, TOccurrence::Nth(1), 150},
                             {F::DelayReply, CMD_GET_VERSION, TOccurrence::Nth(1), 60}}),
      .said = Texts::UpdateCompleted};
  rows["LED levels reply short"] = {
      .arrange = Plant(
          THubFault{F::ShortReport, CMD_LED_ADJUST_BEGIN, TOccurrence::Always(), 0, 0xFF, 0xAA, 7}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::UpdateFailedRetry,
      .after = EAfter::Untouched};
  rows["LED levels reply says no data"] = {
      .arrange = Plant(
          THubFault{F::LengthByte, CMD_LED_ADJUST_BEGIN, TOccurrence::Always(), 0, 0xFF, 0xAA, 5}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::UpdateFailedRetry,
      .after = EAfter::Untouched};
  rows["LED levels reply names another command"] = {
      .arrange = Plant(THubFault{F::WrongEcho, CMD_LED_ADJUST_BEGIN, TOccurrence::Always(), 0, 0xFF,
                                 0xAA, 4, CMD_QUERY_MODE}),
      .code = EHubctlExit::UpdateFailed,
      .said = Texts::UpdateFailedRetry,
      .after = EAfter::Untouched};
  rows["stale reply"] = {1,
                         Plant(THubFault{F::StaleReply, CMD_LOAD_RECORD, TOccurrence::Nth(2)}),
                         {},
                         EHubctlExit::Ok,
                         Texts::UpdateCompleted,
                         EAfter::Updated};
  // What the hub runs afterwards.
  rows["image did not take"] = {
      1,
      [](TRig& rig) { rig.Hub().SetFirmwareImage(SmallImage(5), NEW_VERSION); },
      {},
      EHubctlExit::UpdateFailed,
      NOT_UPDATED_BOOTLOADER,
      EAfter::Bootloader};
  rows["back with the old version"] = {
      1,
      [](TRig& rig) { rig.Hub().SetFirmwareImage(rig.image, OLD_VERSION); },
      {},
      EHubctlExit::UpdateFailed,
      Texts::NotUpdated("the hub runs application 1.1.14.0801, not 1.1.15.0906"),
      EAfter::Untouched};
  // Ctrl-C at each stage.
  rows["Ctrl-C while reading LED levels"] = {1,
                                             {},
                                             InterruptAt(CMD_LED_ADJUST_BEGIN, 1),
                                             EHubctlExit::Interrupted,
                                             Texts::UpdateCancelled,
                                             EAfter::Untouched};
  rows["Ctrl-C while programming"] = {1,
                                      {},
                                      InterruptAt(CMD_PROGRAM_RECORD, 1),
                                      EHubctlExit::Ok,
                                      Texts::UpdateCompleted,
                                      EAfter::Updated};
  rows["Ctrl-C twice while programming"] = {1,
                                            {},
                                            InterruptAt(CMD_PROGRAM_RECORD, 2),
                                            EHubctlExit::Interrupted,
                                            Texts::UpdateStopped,
                                            EAfter::Bootloader};
  rows["Ctrl-C twice while rebooting"] = {1,
                                          {},
                                          InterruptAt(CMD_REBOOT, 2),
                                          EHubctlExit::Ok,
                                          QStringLiteral("the hub has all of its new firmware"),
                                          EAfter::Updated};
  return rows;
}

}  // namespace

class UpdateFaultsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> state_;

 private Q_SLOTS:
  void initTestCase() {
#ifdef HALVEK_FAULTS_LINUX
    if (!qEnvironmentVariableIsSet("UMOCKDEV_DIR") && !qgetenv("LD_PRELOAD").contains("umockdev"))
      QSKIP("needs umockdev-wrapper");
#endif
  }
  void init() {
    state_ = std::make_unique<QTemporaryDir>();
  }

  void faults_data() {
    QTest::addColumn<QString>("name");
    for (const auto& [name, row] : Rows()) {
#ifndef HALVEK_FAULTS_LINUX
      if (row.linuxOnly)
        continue;
#endif
      QTest::newRow(qPrintable(name)) << name;
    }
  }
  void faults() {
    QFETCH(QString, name);
    const TFaultRow row = Rows().at(name);
    TRig rig(row.hubs, row.configure);
    if (row.arrange)
      row.arrange(rig);
    const QString firstNode = rig.Node(0);
    const QStringList args =
        row.hubs > 1 ? QStringList{"--device", firstNode, "update"} : QStringList{"update"};
    TOutcome o;
    {
#ifdef HALVEK_FAULTS_LINUX
      // Root would open a node whatever its mode.
      hidtest::SetPermissionOverride(false);
#endif
      QElapsedTimer clock;
      clock.start();
      o = RunHubctl(
          rig, state_->path(), args,
          [&](THubctl& h) {
            if (row.during)
              row.during(rig, h);
          },
          row.timing);
      if (row.maxMs)
        QVERIFY2(clock.elapsed() < row.maxMs, qPrintable(QString::number(clock.elapsed())));
#ifdef HALVEK_FAULTS_LINUX
      hidtest::SetPermissionOverride(true);
#endif
    }
    const QString what = QString("exit %1\n%2").arg(ExitStatus(o.code)).arg(o.All());
    QVERIFY2(o.code == row.code, qPrintable(what));
    QVERIFY2(o.All().contains(row.said), qPrintable(what));
    // Success is said only where the hub runs the new firmware.
    QCOMPARE(o.out.contains(Texts::UpdateCompleted), row.code == EHubctlExit::Ok);
    THubEmulator& hub = rig.Hub();
    switch (row.after) {
      case EAfter::Untouched:
        QVERIFY(hub.Attached());
        QCOMPARE(hub.Mode(), EHubMode::Application);
        QCOMPARE(hub.ApplicationVersion(), OLD_VERSION);
        QCOMPARE(hub.LedLevels(), START_LEVELS);
        break;
      case EAfter::Bootloader:
        QVERIFY(hub.Attached());
        QCOMPARE(hub.Mode(), EHubMode::Bootloader);
        break;
      case EAfter::Gone:
        QVERIFY(!hub.Attached());
        break;
      case EAfter::Updated:
        QCOMPARE(hub.ApplicationVersion(), NEW_VERSION);
        break;
    }
    if (row.code == EHubctlExit::Ok) {
      QCOMPARE(hub.LedLevels(), START_LEVELS);
    }
    // The other hubs were only asked, never changed.
    for (int i = 1; i < row.hubs; ++i) {
      QCOMPARE(rig.Hub(i).LedLevels(), START_LEVELS);
      for (const auto& e : rig.Hub(i).Transcript()) {
        QVERIFY2(e.command == CMD_GET_VERSION || e.command == CMD_QUERY_MODE,
                 qPrintable(QString("hub %1 got command %2").arg(i).arg(e.command)));
      }
    }

    // The fault gone and the hub plugged back in, a clean retry finishes the job with the
    // levels the hub had at the start.
    hub.ClearFaults();
    hub.SetFirmwareImage(rig.image, NEW_VERSION);
    if (!hub.Attached() || row.after == EAfter::Bootloader || row.replug) {
      hub.Unplug();
      rig.MoveTo(0, "usb-0000:00:14.0-1/input0");
      hub.Plug();
    }
    QTest::qWait(50);
    const QStringList again =
        row.hubs > 1 ? QStringList{"--device", rig.Node(0), "update"} : QStringList{"update"};
    const TOutcome retry = RunHubctl(rig, state_->path(), again);
    QVERIFY2(
        retry.code == EHubctlExit::Ok,
        qPrintable(QString("retry: exit %1\n%2").arg(ExitStatus(retry.code)).arg(retry.All())));
    QCOMPARE(hub.Mode(), EHubMode::Application);
    QCOMPARE(hub.ApplicationVersion(), NEW_VERSION);
    QCOMPARE(hub.LedLevels(), START_LEVELS);
    // Nothing is kept once the levels are back on the hub.
    QCOMPARE(QDir(state_->path()).entryList(QDir::Files), QStringList{});
  }

  // The table of docs/reliability.md names exactly the rows of this test.
  void documented() {
    QFile doc(QStringLiteral(RELIABILITY_DOC));
    QVERIFY(doc.open(QIODevice::ReadOnly));
    QStringList documented;
    const QRegularExpression row(QStringLiteral(R"(^\|\s*([^|]+?)\s*\|\s*tst_update_faults\s*\|)"));
    for (const QString& line : QString::fromUtf8(doc.readAll()).split('\n')) {
      const auto m = row.match(line);
      if (m.hasMatch())
        documented << m.captured(1);
    }
    QStringList tested;
    for (const auto& [name, r] : Rows())
      tested << name;
    documented.sort();
    QCOMPARE(documented, tested);
  }
};

QTEST_GUILESS_MAIN(UpdateFaultsTest)
#include "tst_update_faults.moc"
