// halvek-hubctl end to end through the real Linux path: udev enumeration and monitor, the hidraw
// node, the reader thread; on the other side of a umockdev testbed the hub emulator answers.
// Runs under umockdev-wrapper; every case gets a fresh testbed.

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "HidrawTestbed.h"
#include "HubctlRun.h"
#include "UmockdevEmulatedHub.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "protocol/Commands.h"
#include "sim/HubEmulator.h"
#include "sim/SimulatedHub.h"
#include "update/BuildConfig.h"
#include "update/HubLock.h"
#include "update/Texts.h"
#include "update/Version.h"

namespace {

const char* const KEYBOARD_DESCRIPTOR =
    "05010906A101050719E029E71500250175019508810295017508810195057501050819012905910295017503"
    "910195067508150025650507190029658100C0";

using Outcome = THubctlOutcome;

// The program waits a fixed pause for the hub to come back after the bootloader switch and
// the reboot; the hub comes back long before it ends, also on a busy machine.
constexpr int PROGRAM_PAUSE_MS = 1000;
constexpr int HUB_AWAY_MS = 50;

THubEmulatorOptions FastHub() {
  THubEmulatorOptions options;
  options.replyLatencyMs = 0;
  options.bootloaderSwitchDelayMs = HUB_AWAY_MS;
  options.rebootDelayMs = HUB_AWAY_MS;
  return options;
}

// An emulated hub on the testbed.
using THub = TUmockdevEmulatedHub;

// Runs one command line in-process on the machine's (the testbed's) HID devices.
Outcome RunHubctl(const QStringList& args) {
  return RunHubctlWith(args, [](THubctlEnvironment& env) {
    env.platform = std::make_shared<TLinuxHidPlatform>();
    env.timing = TUpdateTiming{PROGRAM_PAUSE_MS, PROGRAM_PAUSE_MS, 0, 1500};
  });
}

// Root opens whatever it likes; while this lives, this thread (and threads it starts) does not.
struct TAsOrdinaryUser {
  TAsOrdinaryUser() { hidtest::SetPermissionOverride(false); }
  ~TAsOrdinaryUser() { hidtest::SetPermissionOverride(true); }
};

QStringList LogLines(const QString& out) {
  QStringList log;
  for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
    if (!line.endsWith(')'))
      log << line;  // progress lines end with "(n/625)"
  }
  return log;
}

}  // namespace

class HubctlLinuxTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TUmockdevTestbed> testbed_;
  // LED levels kept by one case's failed update must not reach the next one's hub.
  std::unique_ptr<QTemporaryDir> state_;

  bool AddKeyboard() {
    return testbed_->Add(hidtest::Record(40, "0003:046D:C31C.0028", 40, "0003:0000046D:0000C31C",
                                         KEYBOARD_DESCRIPTOR, "6400"));
  }

 private Q_SLOTS:
  void initTestCase() {
    if (!qEnvironmentVariableIsSet("UMOCKDEV_DIR") && !qgetenv("LD_PRELOAD").contains("umockdev"))
      QSKIP("needs umockdev-wrapper");
  }
  void init() {
    testbed_ = std::make_unique<TUmockdevTestbed>();
    state_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", state_->path().toLocal8Bit());
  }
  void cleanup() { testbed_.reset(); }

  // What the program says about a hub that answers, and about a keyboard beside it.
  void commands_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("upToDate");  // the hub already runs the built-in version
    QTest::addColumn<QString>("outPattern");
    const QString builtIn = DottedVersion(BUILTIN_APP_VERSION);
    QTest::newRow("list")
        << QStringList{"list"} << false
        << R"(^/dev/hidraw0\s+FFF0:0018\s+in 65\s+out 65\s+read/write\s+hub  port )"
           R"(usb-0000:00:14.0-1  serial unknown\n)"
           R"(/dev/hidraw40\s+046D:C31C\s+in 9\s+out 2\s+read/write\n$)";
    QTest::newRow("version") << QStringList{"version"} << false
                             << "^Bootloader :0.1.00.0300\nApp        :1.1.14.0801\n"
                                "Current App:" +
                                    QRegularExpression::escape(builtIn) + "\nUpdate available.\n$";
    QTest::newRow("version, up to date")
        << QStringList{"version"} << true
        << "^Bootloader :0.1.00.0300\nApp        :" + QRegularExpression::escape(builtIn) +
               "\nCurrent App:" + QRegularExpression::escape(builtIn) + "\nNo update available.\n$";
  }
  void commands() {
    QFETCH(QStringList, args);
    QFETCH(bool, upToDate);
    QFETCH(QString, outPattern);
    THubEmulatorOptions options = FastHub();
    if (upToDate)
      options.applicationVersion = BUILTIN_APP_VERSION;
    THub hub(*testbed_, options);
    hub.emulator.Plug();
    QVERIFY(AddKeyboard());
    const Outcome o = RunHubctl(args);
    QVERIFY2(o.code == EHubctlExit::Ok,
             qPrintable(QString("exit %1: %2").arg(ExitStatus(o.code)).arg(o.err)));
    QVERIFY2(QRegularExpression(outPattern).match(o.out).hasMatch(), qPrintable(o.out));
    QVERIFY2(o.err.isEmpty(), qPrintable(o.err));
  }

  // A complete update: the hub leaves for its bootloader and comes back, is programmed, leaves
  // again and comes back running the built-in application.
  void update() {
    THub hub(*testbed_, FastHub());
    hub.emulator.Plug();
    const Outcome o = RunHubctl({"update"});
    QVERIFY2(o.code == EHubctlExit::Ok,
             qPrintable(QString("exit %1: %2").arg(ExitStatus(o.code)).arg(o.err)));
    QCOMPARE(LogLines(o.out), (QStringList{Texts::EnterBootloaderMode, Texts::Programming,
                                           Texts::Reboot, Texts::Ok, Texts::UpdateCompleted}));
    QCOMPARE(hub.emulator.Attachments(), 3);
    QCOMPARE(hub.connection.Node(), QStringLiteral("/dev/hidraw2"));
    QCOMPARE(hub.emulator.Mode(), EHubMode::Application);
    QCOMPARE(hub.emulator.ApplicationVersion(), BUILTIN_APP_VERSION);
    QCOMPARE(hub.emulator.LedLevels(), FastHub().ledLevels);
  }

  // With two hubs plugged in, the one named by --device is updated and the other left alone,
  // although the first comes back under new nodes twice meanwhile.
  void updateSecondOfTwo() {
    THub other(*testbed_, FastHub());
    THub named(*testbed_, FastHub(), 10);
    other.emulator.Plug();
    named.emulator.Plug();
    const Outcome o = RunHubctl({"--device", "/dev/hidraw10", "update"});
    int recordsToOther = 0;
    for (const THubTranscriptEntry& e : other.emulator.Transcript()) {
      if (e.command == CMD_LOAD_RECORD || e.command == CMD_PROGRAM_RECORD)
        ++recordsToOther;
    }
    QVERIFY2(o.out.contains(Texts::Programming), qPrintable(o.out + o.err));
    // Back from its bootloader the hub is listed after the other one: only its USB port
    // (HID_PHYS) tells it apart.
    QCOMPARE(recordsToOther, 0);
    QVERIFY2(o.code == EHubctlExit::Ok,
             qPrintable(QString("exit %1: %2 %3").arg(ExitStatus(o.code)).arg(o.out, o.err)));
    QCOMPARE(named.emulator.ApplicationVersion(), BUILTIN_APP_VERSION);
    QCOMPARE(named.emulator.Attachments(), 3);
    QCOMPARE(other.emulator.Attachments(), 1);
    QCOMPARE(other.emulator.ApplicationVersion(), FastHub().applicationVersion);
  }

  // A hub whose node the user may not open: nothing reaches it, the one line names the node and
  // the command that installs the udev rule.
  void accessRefused_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("version") << QStringList{"version"};
    QTest::newRow("update") << QStringList{"update"};
  }
  void accessRefused() {
    QFETCH(QStringList, args);
    THub hub(*testbed_, FastHub());
    hub.emulator.Plug(false);
    Outcome o;
    {
      TAsOrdinaryUser user;
      o = RunHubctl(args);
    }
    QVERIFY2(o.code == EHubctlExit::AccessDenied,
             qPrintable(QString("exit %1: %2 %3").arg(ExitStatus(o.code)).arg(o.out, o.err)));
    QVERIFY2(o.err.contains("/dev/hidraw0") && o.err.contains("install-udev-rule"),
             qPrintable(o.err));
    QCOMPARE(o.err.count('\n'), 1);
    QVERIFY(hub.emulator.Transcript().empty());
    QCOMPARE(hub.emulator.ApplicationVersion(), FastHub().applicationVersion);
    // Said once, on standard error.
    QCOMPARE((o.out + o.err).count("install-udev-rule"), 1);
  }

  // The list still shows such a hub, with the reason; what to do about it goes to stderr.
  void accessRefusedListed() {
    THub hub(*testbed_, FastHub());
    hub.emulator.Plug(false);
    Outcome o;
    {
      TAsOrdinaryUser user;
      o = RunHubctl({"list"});
    }
    QCOMPARE(o.code, EHubctlExit::Ok);
    QVERIFY2(QRegularExpression(R"(^/dev/hidraw0\s+FFF0:0018\s+in 65\s+out 65\s+)"
                                R"(no access \(Permission denied\)\s+hub  port \S+  serial )"
                                R"(unknown\n$)")
                 .match(o.out)
                 .hasMatch(),
             qPrintable(o.out));
    QVERIFY2(o.err.contains("Cannot open the hub at /dev/hidraw0") &&
                 o.err.count("install-udev-rule") == 1,
             qPrintable(o.err));
  }

  // A device with the hub's ids whose reports are not 65 bytes is no hub: nothing is sent to
  // it, and the list says why.
  void hubIdsWithOtherReportLengths() {
    QVERIFY(testbed_->Add(hidtest::Record(41, "0003:FFF0:0018.0029", 41, "0003:0000FFF0:00000018",
                                          KEYBOARD_DESCRIPTOR, "0100")));
    const Outcome list = RunHubctl({"list"});
    QCOMPARE(list.code, EHubctlExit::Ok);
    QVERIFY2(list.out.contains("FFF0:0018  in 9    out 2    read/write  not a hub: report lengths "
                               "9/2, a hub's are 65/65"),
             qPrintable(list.out));
    const Outcome update = RunHubctl({"update"});
    QVERIFY2(update.code == EHubctlExit::NoHub, qPrintable(update.out + update.err));
  }

  // While another program updates the hub (holds its lock on the port, or on the node: a pty
  // here), nothing is sent to it: the command names the reason and ends with its own exit code.
  void hubInUseElsewhere_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("nodeLocked");
    QTest::newRow("update") << QStringList{"update"} << false;
    QTest::newRow("version") << QStringList{"version"} << false;
    QTest::newRow("status") << QStringList{"status"} << false;
    QTest::newRow("update, node locked") << QStringList{"update"} << true;
    QTest::newRow("version, node locked") << QStringList{"version"} << true;
  }
  void hubInUseElsewhere() {
    QFETCH(QStringList, args);
    QFETCH(bool, nodeLocked);
    THub hub(*testbed_, FastHub());
    hub.emulator.Plug();
    QTest::qWait(20);
    hub.emulator.ClearTranscript();
    // The lock is the machine's: another runtime directory changes nothing.
    QTemporaryDir runtime, otherRuntime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QDir().mkpath(THubLock::Directory());
    const std::string port = "usb-0000:00:14.0-1", node = hub.connection.Node().toStdString();
    QProcess holder;
    holder.start("flock",
                 {"-x", "-o", nodeLocked ? QString::fromStdString(node) : THubLock::FileFor(port),
                  "sleep", "30"});
    QVERIFY(holder.waitForStarted());
    QVERIFY(QTest::qWaitFor(
        [&] { return THubLock::HolderElsewhere(nodeLocked ? "another" : port, node).has_value(); },
        3000));
    qputenv("XDG_RUNTIME_DIR", otherRuntime.path().toLocal8Bit());
    const Outcome o = RunHubctl(args);
    holder.kill();
    holder.waitForFinished();
    QVERIFY2(o.code == EHubctlExit::HubInUse,
             qPrintable(QString("exit %1: %2 %3").arg(ExitStatus(o.code)).arg(o.out, o.err)));
    QVERIFY2((o.out + o.err).contains("in use by another program"), qPrintable(o.out + o.err));
    // Not even a greeting.
    QVERIFY(hub.emulator.Transcript().empty());
    QCOMPARE(hub.emulator.ApplicationVersion(), FastHub().applicationVersion);
    // Once the other program is done, the update goes through.
    const Outcome after = RunHubctl(args);
    QVERIFY2(after.code == EHubctlExit::Ok, qPrintable(after.err));
  }

  // The hub drops off the bus during the update, for good or back in its bootloader at once: the
  // update ends with its failure line and exit code, no hang.
  void vanishDuringUpdate_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("backAfterMs");  // -1: never
    QTest::addColumn<QStringList>("log");
    QTest::newRow("while programming")
        << int(EFaultKind::Vanish) << int(CMD_PROGRAM_RECORD) << 100 << -1
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout};
    QTest::newRow("at the bootloader switch")
        << int(EFaultKind::NoReturn) << int(CMD_ENTER_BOOTLOADER) << 1 << -1
        << QStringList{Texts::EnterBootloaderMode, Texts::EnterBootloaderError};
    QTest::newRow("at the reboot") << int(EFaultKind::NoReturn) << int(CMD_REBOOT) << 1 << -1
                                   << QStringList{Texts::EnterBootloaderMode, Texts::Programming,
                                                  Texts::Reboot, Texts::UpdateFailedRetry};
    // Back at once in its bootloader, which lost the record loaded before.
    QTest::newRow("while programming, back at once")
        << int(EFaultKind::Vanish) << int(CMD_PROGRAM_RECORD) << 100 << 50
        << QStringList{
               Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout,
               Texts::Refused("CMD_PROGRAM_RECORD", "record 100 of 625", HUB_STATUS_SEQUENCE)};
  }
  void vanishDuringUpdate() {
    QFETCH(int, kind);
    QFETCH(int, command);
    QFETCH(int, nth);
    QFETCH(int, backAfterMs);
    QFETCH(QStringList, log);
    THub hub(*testbed_, FastHub());
    THubFault fault;
    fault.kind = EFaultKind(kind);
    fault.command = command;
    fault.when = TOccurrence::Nth(nth);
    fault.delayMs = backAfterMs;
    hub.emulator.AddFault(fault);
    hub.emulator.Plug();
    const Outcome o = RunHubctl({"update"});
    QVERIFY2(o.code == EHubctlExit::UpdateFailed,
             qPrintable(QString("exit %1: %2 %3").arg(ExitStatus(o.code)).arg(o.out, o.err)));
    QVERIFY2(LogLines(o.out) == log, qPrintable(o.out + o.err));
    QCOMPARE(hub.emulator.Attached(), backAfterMs >= 0);
  }
};

QTEST_GUILESS_MAIN(HubctlLinuxTest)
#include "tst_hubctl_linux.moc"
