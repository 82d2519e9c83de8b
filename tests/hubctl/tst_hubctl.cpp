// halvek-hubctl: every command on emulated hubs, its output, JSON and exit codes; interruption;
// the udev rule.

#include <signal.h>
#include <sys/resource.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "HubctlJson.h"
#include "HubctlRun.h"
#include "TerminalView.h"
#include "hid/sim/SimHidBus.h"
#include "protocol/Commands.h"
#include "sim/SimulatedHub.h"
#include "update/BuildConfig.h"
#include "update/FirmwareImage.h"
#include "update/Texts.h"
#include "update/Version.h"

namespace {

namespace json = HubctlJson;
using Outcome = THubctlOutcome;

// The keys of `object`, and of the objects within it, that are not camelCase or that the man
// page does not name.
QStringList NonCamelKeys(const QJsonObject& object) {
  static const QRegularExpression camel("^[a-z][a-zA-Z0-9]*$");
  static const QString page = [] {
    QFile file(MAN_PAGE_FILE);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }();
  QStringList bad;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const QString named = it.key().endsWith("Dotted") ? it.key().chopped(6) : it.key();
    if (!camel.match(it.key()).hasMatch() ||
        !QRegularExpression("\\.BR? " + named + "\\b").match(page).hasMatch())
      bad << it.key();
    const QJsonArray items = it->isArray() ? it->toArray() : QJsonArray{*it};
    for (const QJsonValue& item : items)
      bad += NonCamelKeys(item.toObject());
  }
  return bad;
}

void MakeFast(THubctlEnvironment& env) {
  env.timing = TUpdateTiming{150, 150, 0, 1000};
  env.simulatedHub.replyLatencyMs = 0;
  env.simulatedHub.bootloaderSwitchDelayMs = 30;
  env.simulatedHub.rebootDelayMs = 30;
  env.autoTimerMs = 30;
}

// Runs one command line in-process; `prepare` may change the environment, `during` sees the
// running program.
Outcome RunHubctl(const QStringList& args,
                  const std::function<void(THubctlEnvironment&)>& prepare = {},
                  const std::function<void(THubctl&)>& during = {},
                  const std::function<void(THubctl&)>& after = {}) {
  return RunHubctlWith(
      args,
      [&](THubctlEnvironment& env) {
        MakeFast(env);
        if (prepare)
          prepare(env);
      },
      during, after);
}

}  // namespace

class HubctlTest : public QObject {
  Q_OBJECT

 private slots:
  void commands_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("outPattern");  // a regular expression the output must match
    QTest::newRow("list")
        << QStringList{"--simulate", "list"} << EHubctlExit::Ok
        << R"(^sim:hidraw\d+\s+FFF0:0018\s+in 65\s+out 65\s+read/write\s+hub  port sim-port-1  )"
           R"(serial unknown\n$)";
    QTest::newRow("version") << QStringList{"--simulate", "version"} << EHubctlExit::Ok
                             << "^Bootloader :0.1.00.0300\nApp        :1.1.14.0801\n"
                                "Current App:" +
                                    QRegularExpression::escape(DottedVersion(BUILTIN_APP_VERSION)) +
                                    "\nUpdate available.\n$";
    QTest::newRow("status") << QStringList{"--simulate", "status"} << EHubctlExit::Ok
                            << R"(^Voltage   \d+ mV\nCurrent   \d+ mA\nChannel   \d+\n)";
    QTest::newRow("led read") << QStringList{"--simulate", "led"} << EHubctlExit::Ok
                              << "^LED1  red  80  green  40\nLED2  red  70  green  30\n";
    QTest::newRow("led set") << QStringList{"--simulate", "led", "3", "40"} << EHubctlExit::Ok
                             << "^$";
    QTest::newRow("led set all") << QStringList{"led", "all", "0", "--simulate"} << EHubctlExit::Ok
                                 << "^$";
    QTest::newRow("wait, hub present")
        << QStringList{"--simulate", "wait"} << EHubctlExit::Ok << R"(^sim:hidraw\d+\n$)";
    QTest::newRow("--device unknown")
        << QStringList{"--simulate", "--device", "/dev/x", "version"} << EHubctlExit::NoHub << "^$";
    QTest::newRow("help") << QStringList{"--help"} << EHubctlExit::Ok << "^Usage: halvek-hubctl";
    QTest::newRow("version of the program")
        << QStringList{"--version"} << EHubctlExit::Ok
        << R"(^halvek-hubctl \d+\.\d+\.\d+\nbuilt-in hub firmware )" +
               QRegularExpression::escape(DottedVersion(BUILTIN_APP_VERSION)) + " \\(" +
               VersionText(BUILTIN_APP_VERSION) + "\\)\n$";
    QTest::newRow("no command") << QStringList{} << EHubctlExit::Usage << "^$";
    QTest::newRow("unknown command") << QStringList{"flash"} << EHubctlExit::Usage << "^$";
    QTest::newRow("unknown option") << QStringList{"--fast", "list"} << EHubctlExit::Usage << "^$";
    QTest::newRow("channel 9") << QStringList{"--simulate", "led", "9", "10"} << EHubctlExit::Usage
                               << "^$";
    QTest::newRow("level 101") << QStringList{"--simulate", "led", "1", "101"} << EHubctlExit::Usage
                               << "^$";
    QTest::newRow("level not a number")
        << QStringList{"--simulate", "led", "1", "x"} << EHubctlExit::Usage << "^$";
    QTest::newRow("--watch with version")
        << QStringList{"--watch", "version"} << EHubctlExit::Usage << "^$";
    QTest::newRow("--count 0") << QStringList{"auto", "--count", "0"} << EHubctlExit::Usage << "^$";
    QTest::newRow("extra argument") << QStringList{"version", "now"} << EHubctlExit::Usage << "^$";
    QTest::newRow("--device empty")
        << QStringList{"--simulate", "--device", "", "update"} << EHubctlExit::Usage << "^$";
    QTest::newRow("led, one argument too many")
        << QStringList{"--simulate", "led", "1", "50", "7"} << EHubctlExit::Usage << "^$";
    // The conventions: -V, --option=value, --, help COMMAND, COMMAND --help.
    QTest::newRow("-V") << QStringList{"-V"} << EHubctlExit::Ok
                        << R"(^halvek-hubctl \d+\.\d+\.\d+\n)";
    QTest::newRow("--option=value")
        << QStringList{"--simulate", "--hubs=2", "--device=sim:hidraw2", "led"} << EHubctlExit::Ok
        << "^LED1";
    QTest::newRow("-- ends the options")
        << QStringList{"--simulate", "--", "led", "all", "30"} << EHubctlExit::Ok << "^$";
    QTest::newRow("help COMMAND") << QStringList{"help", "led"} << EHubctlExit::Ok
                                  << R"(^Usage: halvek-hubctl \[OPTIONS\] led \[CHANNEL LEVEL\]\n)";
    QTest::newRow("COMMAND --help")
        << QStringList{"update", "--help"} << EHubctlExit::Ok
        << R"(^Usage: halvek-hubctl \[OPTIONS\] update \[--all\].*\n(.*\n)*Options of update:\n)";
    QTest::newRow("help of an unknown command")
        << QStringList{"help", "flash"} << EHubctlExit::Usage << "^$";
    QTest::newRow("a switch with a value")
        << QStringList{"status", "--watch=yes"} << EHubctlExit::Usage << "^$";
    QTest::newRow("--timeout=") << QStringList{"wait", "--timeout="} << EHubctlExit::Usage << "^$";
    QTest::newRow("--force with auto alone")
        << QStringList{"auto", "--force"} << EHubctlExit::Usage << "^$";
    QTest::newRow("--remove with update")
        << QStringList{"update", "--remove"} << EHubctlExit::Usage << "^$";
    QTest::newRow("completion, no shell")
        << QStringList{"completion"} << EHubctlExit::Usage << "^$";
    QTest::newRow("completion zsh")
        << QStringList{"completion", "zsh"} << EHubctlExit::Ok << "^#compdef halvek-hubctl\n";
  }

  // A watch on the hub named by --device stays with it when another hub is plugged in.
  void watchHoldsItsHub() {
    auto bus = std::make_shared<TSimHidBus>();
    THubEmulatorOptions o;
    o.replyLatencyMs = 0;
    TSimulatedHub first(bus, o);
    TSimulatedHub named(bus, o);
    TSimulatedHub later(bus, o, false);
    const QString node = QStringLiteral("sim:hidraw%1").arg(named.DevInst());
    QTimer plug, stop;
    const Outcome out = RunHubctl(
        {"--device", node, "status", "--watch"},
        [&](THubctlEnvironment& env) { env.platform = bus; },
        [&](THubctl& h) {
          plug.singleShot(300, [&] { later.Emulator().Plug(); });
          stop.singleShot(2600, [&h] { h.Interrupt(); });
        });
    auto statusReads = [](THubEmulator& hub) {
      int n = 0;
      for (const auto& e : hub.Transcript())
        n += e.command == CMD_READ_STATUS;
      return n;
    };
    QCOMPARE(out.code, EHubctlExit::Interrupted);
    QVERIFY(later.Emulator().Attached());
    QVERIFY2(statusReads(named.Emulator()) >= 3, qPrintable(out.out + out.err));
    QCOMPARE(statusReads(first.Emulator()), 0);
    QCOMPARE(statusReads(later.Emulator()), 0);
  }
  void commands() {
    QFETCH(QStringList, args);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, outPattern);
    const Outcome o = RunHubctl(args);
    QVERIFY2(o.code == code,
             qPrintable(QString("exit %1, stderr: %2").arg(ExitStatus(o.code)).arg(o.err)));
    QVERIFY2(QRegularExpression(outPattern).match(o.out).hasMatch(), qPrintable(o.out));
    // A usage error is one line and where to look, never the whole usage.
    if (code == EHubctlExit::Usage) {
      QVERIFY2(QRegularExpression(R"(^halvek-hubctl: [^\n]+\nTry 'halvek-hubctl --help'\.\n$)")
                   .match(o.err)
                   .hasMatch(),
               qPrintable(o.err));
    }
  }

  // The LED command reaches the hub's levels.
  void ledSetReachesHub() {
    std::array<std::uint8_t, 8> levels{};
    RunHubctl({"--simulate", "led", "6", "33"}, {}, {},
              [&](THubctl& h) { levels = h.SimulatedHubs()[0]->Emulator().LedLevels(); });
    QCOMPARE(levels[5], 33);
    QCOMPARE(levels[0], 80);
  }

  // Every JSON command prints lines that each parse as one object.
  void json_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("key");  // a key the last object has
    QTest::newRow("list") << QStringList{"--simulate", "--json", "list"} << "devices";
    QTest::newRow("version") << QStringList{"--simulate", "--json", "version"} << "updateAvailable";
    QTest::newRow("status") << QStringList{"--simulate", "--json", "status"} << "voltageMv";
    QTest::newRow("led") << QStringList{"--simulate", "--json", "led"} << "green";
    QTest::newRow("update") << QStringList{"--simulate", "--json", "update"} << "result";
    QTest::newRow("--version") << QStringList{"--json", "--version"} << "builtInDotted";
    QTest::newRow("version, two hubs")
        << QStringList{"--simulate", "--hubs", "2", "--json", "version"} << "serialNumber";
  }

  // With --json every failure is an "error" object with a stable reason and a message.
  void jsonErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("fault");  // on CMD_PROGRAM_RECORD (1) or CMD_READ_STATUS (2)
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("reason");
    const QStringList json{"--simulate", "--json"};
    QTest::newRow("unknown option")
        << (json + QStringList{"--fast", "list"}) << 0 << EHubctlExit::Usage << "usage";
    QTest::newRow("bad level") << (json + QStringList{"led", "1", "101"}) << 0 << EHubctlExit::Usage
                               << "usage";
    QTest::newRow("json after the error")
        << QStringList{"--bogus", "--json", "list"} << 0 << EHubctlExit::Usage << "usage";
    QTest::newRow("no hub at --device") << (json + QStringList{"--device", "/dev/x", "status"}) << 0
                                        << EHubctlExit::NoHub << "no-hub";
    QTest::newRow("several hubs") << (json + QStringList{"--hubs", "2", "status"}) << 0
                                  << EHubctlExit::Usage << "several-hubs";
    QTest::newRow("record not taken")
        << (json + QStringList{"update"}) << 1 << EHubctlExit::UpdateFailed << "record-failed";
    QTest::newRow("silent hub") << (json + QStringList{"status"}) << 2 << EHubctlExit::Timeout
                                << "no-answer";
    QTest::newRow("auto, record not taken") << (json + QStringList{"auto", "--count", "1"}) << 1
                                            << EHubctlExit::UpdateFailed << "record-failed";
    QTest::newRow("broken image") << (json + QStringList{"update", "--image", "/",
                                                         "--image-version", "1.1.15.0906"})
                                  << 0 << EHubctlExit::Usage << "broken-image";
  }
  void jsonErrors() {
    QFETCH(QStringList, args);
    QFETCH(int, fault);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, reason);
    const Outcome o = RunHubctl(args, [&](THubctlEnvironment& env) {
      env.onSimulatedHub = [fault](THubEmulator& hub) {
        if (fault == 1)
          hub.AddFault({EFaultKind::NoReply, CMD_PROGRAM_RECORD, TOccurrence::FromNth(3)});
        if (fault == 2)
          hub.AddFault({EFaultKind::NoReply, CMD_READ_STATUS, TOccurrence::Always()});
      };
    });
    QVERIFY2(o.code == code,
             qPrintable(QString("exit %1: %2").arg(ExitStatus(o.code)).arg(o.All())));
    QJsonObject error;
    for (const QString& line : o.out.split('\n', Qt::SkipEmptyParts)) {
      const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
      QVERIFY2(!object.isEmpty() && NonCamelKeys(object).isEmpty(), qPrintable(line));
      if (object[json::KEY_EVENT] == json::EVENT_ERROR && error.isEmpty())
        error = object;
    }
    QVERIFY2(error[json::KEY_REASON].toString() == reason, qPrintable(o.out));
    QVERIFY(!error[json::KEY_MESSAGE].toString().isEmpty());
    // The same words on stderr, for the person watching.
    QVERIFY2(o.err.contains(error[json::KEY_MESSAGE].toString()), qPrintable(o.err));
    if (reason == "several-hubs")
      QCOMPARE(error["hubs"].toArray().size(), 2);
  }
  void json() {
    QFETCH(QStringList, args);
    QFETCH(QString, key);
    const Outcome o = RunHubctl(args);
    QCOMPARE(o.code, EHubctlExit::Ok);
    const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    QJsonObject last;
    for (const QString& line : lines) {
      QJsonParseError error;
      const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
      QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(line));
      last = doc.object();
    }
    QVERIFY2(last.contains(key), qPrintable(lines.last()));
    // One style for every key, camelCase, and every key in the man page.
    for (const QString& line : lines)
      QVERIFY2(NonCamelKeys(QJsonDocument::fromJson(line.toUtf8()).object()).isEmpty(),
               qPrintable(line));
    if (key == "result")
      QCOMPARE(last[json::KEY_RESULT].toString(), QStringLiteral("completed"));
    if (key == "devices")
      QCOMPARE(last["devices"].toArray()[0].toObject()["hub"].toBool(), true);
    // Versions come raw and dotted.
    if (key == "updateAvailable") {
      QCOMPARE(last["application"].toString(), QStringLiteral("11140801"));
      QCOMPARE(last["applicationDotted"].toString(), QStringLiteral("1.1.14.0801"));
      QCOMPARE(last["bootloaderDotted"].toString(), QStringLiteral("0.1.00.0300"));
      QCOMPARE(last["builtInDotted"].toString(), DottedVersion(BUILTIN_APP_VERSION));
    }
    if (key == "builtInDotted") {
      QCOMPARE(last["builtIn"].toString(), VersionText(BUILTIN_APP_VERSION));
      QCOMPARE(last["builtInDotted"].toString(), DottedVersion(BUILTIN_APP_VERSION));
    }
  }

  // JSON progress: a line per whole percent, no more than ten a second, and the last always;
  // an update writes about 1,250 records in under three seconds.
  void jsonProgressLines() {
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    TTerminalView view(outStream, errStream, TTerminalView::EStyle::Json);
    constexpr int RECORDS = 1250;
    for (int position = 1; position <= RECORDS; ++position)
      view.SetProgress(position, RECORDS);
    outStream.flush();
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty() && lines.size() <= 3, qPrintable(out));
    const QJsonObject last = QJsonDocument::fromJson(lines.last().toUtf8()).object();
    QCOMPARE(last[json::KEY_POSITION].toInt(), RECORDS);
    // After a pause the next percent shows at once.
    QTest::qWait(120);
    view.SetProgress(1, 2);
    outStream.flush();
    QCOMPARE(out.split('\n', Qt::SkipEmptyParts).size(), lines.size() + 1);
  }

  // On a terminal the bars fit its width; where it cannot move its cursor (TERM=dumb) or is
  // too narrow for a bar, plain lines without escapes.
  void progressFitsTerminal_data() {
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("cursorControl");
    QTest::addColumn<bool>("all");  // update --all: a bar per hub, redrawn in place
    QTest::addColumn<bool>("bar");
    QTest::newRow("one hub, 40 columns") << 40 << true << false << true;
    QTest::newRow("one hub, 200 columns") << 200 << true << false << true;
    QTest::newRow("one hub, TERM=dumb") << 80 << false << false << false;
    QTest::newRow("one hub, 12 columns") << 12 << true << false << false;
    QTest::newRow("two hubs, 44 columns") << 44 << true << true << true;
    QTest::newRow("two hubs, TERM=dumb") << 80 << false << true << false;
  }
  void progressFitsTerminal() {
    QFETCH(int, columns);
    QFETCH(bool, cursorControl);
    QFETCH(bool, all);
    QFETCH(bool, bar);
    QTemporaryDir dir;
    const QString image = dir.filePath("app.txt");
    QVERIFY(QFile::copy(FIRMWARE_IMAGE_FILE, image));
    QStringList args{"--simulate", "--hubs",          "2",          "update", "--image",
                     image,        "--image-version", "1.1.15.0906"};
    args << (all ? QStringList{"--all"} : QStringList{"--device", "sim:hidraw1"});
    qputenv("HALVEK_SIMULATE_FAST", "1");
    const Outcome o = RunHubctl(args, [&](THubctlEnvironment& env) {
      env.terminal = true;
      env.columns = columns;
      env.cursorControl = cursorControl;
      env.program = HUBCTL_BINARY;
    });
    qunsetenv("HALVEK_SIMULATE_FAST");
    QVERIFY2(o.code == EHubctlExit::Ok, qPrintable(o.All()));
    QCOMPARE(o.err.contains('['), bar);
    QCOMPARE(o.err.contains('\x1b'), bar && all);
    int widest = 0;
    for (const QString& line : QString(o.err).replace('\r', '\n').split('\n'))
      widest =
          std::max(widest, int(QString(line).remove(QRegularExpression("\x1b\\[\\d*[FJ]")).size()));
    QVERIFY2(!bar || widest <= columns, qPrintable(o.err));
  }

  // update --image: a supplied file passes the built-in image's checks before anything is sent,
  // and the hub must come back with the version given.
  void imageFromFile_data() {
    QTest::addColumn<QStringList>("args");  // IMAGE stands for the file written from `content`
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("errPart");
    QFile shipped(FIRMWARE_IMAGE_FILE);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray good = shipped.readAll();
    QByteArray broken = good;
    broken.replace(broken.indexOf("\n:1") + 4, 2, "ZZ");  // the second line's count
    const QStringList update{"--simulate", "update", "--image", "IMAGE", "--image-version"};
    QTest::newRow("good image, new version")
        << (update + QStringList{"1.2.16.0001"}) << good << EHubctlExit::Ok << "";
    QTest::newRow("lower-case version")
        << (update + QStringList{"1.2.1a.00ff"}) << good << EHubctlExit::Ok << "";
    QTest::newRow("broken line") << (update + QStringList{"1.2.16.0001"}) << broken
                                 << EHubctlExit::Usage << "firmware image line 2";
    QTest::newRow("empty file") << (update + QStringList{"1.2.16.0001"}) << QByteArray()
                                << EHubctlExit::Usage << "empty";
    QTest::newRow("no records") << (update + QStringList{"1.2.16.0001"})
                                << QByteArray(":9030000FC\r\n") << EHubctlExit::Usage
                                << "no records";
    QTest::newRow("missing file") << QStringList{"--simulate",      "update",
                                                 "--image",         "/nonexistent/app.txt",
                                                 "--image-version", "1.2.16.0001"}
                                  << good << EHubctlExit::Usage << "no such file";
    QTest::newRow("a directory") << QStringList{"--simulate", "update",          "--image",
                                                "/",          "--image-version", "1.2.16.0001"}
                                 << good << EHubctlExit::Usage << "not a regular file";
    QTest::newRow("version missing") << QStringList{"--simulate", "update", "--image", "IMAGE"}
                                     << good << EHubctlExit::Usage << "together";
    QTest::newRow("version without value")
        << QStringList{"--simulate", "update", "--image", "IMAGE", "--image-version"} << good
        << EHubctlExit::Usage << "--image-version needs";
    QTest::newRow("image missing")
        << QStringList{"--simulate", "update", "--image-version", "1.2.16.0001"} << good
        << EHubctlExit::Usage << "together";
    QTest::newRow("version undotted")
        << (update + QStringList{"12160001"}) << good << EHubctlExit::Usage << "X.X.XX.XXXX";
    QTest::newRow("version short")
        << (update + QStringList{"1.2.16"}) << good << EHubctlExit::Usage << "X.X.XX.XXXX";
    QTest::newRow("version not hex")
        << (update + QStringList{"1.2.16.000G"}) << good << EHubctlExit::Usage << "X.X.XX.XXXX";
    QTest::newRow("version with newline")
        << (update + QStringList{"1.2.16.0001\n"}) << good << EHubctlExit::Usage << "X.X.XX.XXXX";
    QTest::newRow("version empty")
        << (update + QStringList{""}) << good << EHubctlExit::Usage << "X.X.XX.XXXX";
    QTest::newRow("with another command")
        << QStringList{"--simulate", "version",         "--image",
                       "IMAGE",      "--image-version", "1.2.16.0001"}
        << good << EHubctlExit::Usage << "goes with update and auto";
  }
  void imageFromFile() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, content);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, errPart);
    QTemporaryDir dir;
    const QString path = dir.filePath("app.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    args.replaceInStrings(QRegularExpression("^IMAGE$"), path);
    std::size_t sent = 0;
    std::uint32_t version = 0;
    const Outcome o = RunHubctl(args, {}, {}, [&](THubctl& h) {
      for (const auto& hub : h.SimulatedHubs()) {
        sent += hub->Emulator().Transcript().size();
        version = hub->Emulator().ApplicationVersion();
      }
    });
    QVERIFY2(o.code == code, qPrintable(QString("exit %1: %2").arg(ExitStatus(o.code)).arg(o.err)));
    QVERIFY2(o.err.contains(errPart), qPrintable(o.err));
    if (code == EHubctlExit::Ok) {
      const QString given = args.last().remove('.');
      QCOMPARE(version, given.toUInt(nullptr, 16));
    } else {
      QCOMPARE(sent, std::size_t(0));
    }
  }

  // A hub that comes back with another version than the one given: the update failed.
  void imageVersionNotReported() {
    QTemporaryDir dir;
    QVERIFY(QFile::copy(FIRMWARE_IMAGE_FILE, dir.filePath("app.txt")));
    const Outcome o =
        RunHubctl({"--simulate", "--json", "update", "--image", dir.filePath("app.txt"),
                   "--image-version", "1.2.16.0001"},
                  [](THubctlEnvironment& env) {
                    env.onSimulatedHub = [](THubEmulator& hub) {
                      QFile image(FIRMWARE_IMAGE_FILE);
                      QVERIFY(image.open(QIODevice::ReadOnly));
                      hub.SetFirmwareImage(
                          FirmwareLines::Parse(image.readAll().toStdString()).Value(), 0x12160002);
                    };
                  });
    QCOMPARE(o.code, EHubctlExit::UpdateFailed);
    QVERIFY2(o.out.contains("the hub runs application 1.2.16.0002, not 1.2.16.0001"),
             qPrintable(o.out));
    QVERIFY(o.out.contains(R"("result":"not-updated")"));
    QVERIFY(o.out.contains(R"("imageVersionDotted":"1.2.16.0001")"));
  }

  // The hub runs 1.1.14.0801: an image of that version leaves it alone unless --force, an older
  // one is refused unless --allow-older; either way the log has the hub's record.
  void versionRules_data() {
    QTest::addColumn<QString>("imageVersion");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("said");
    QTest::newRow("same version") << "1.1.14.0801" << QStringList{} << EHubctlExit::Ok
                                  << "already-current"
                                  << "The hub already runs 1.1.14.0801.";
    QTest::newRow("same version, --force")
        << "1.1.14.0801" << QStringList{"--force"} << EHubctlExit::Ok << "completed"
        << "Update completed.";
    QTest::newRow("older image") << "1.1.13.0000" << QStringList{} << EHubctlExit::Usage
                                 << "image-older"
                                 << "--allow-older";
    QTest::newRow("older image, --allow-older")
        << "1.1.13.0000" << QStringList{"--allow-older"} << EHubctlExit::Ok << "completed"
        << "Update completed.";
    QTest::newRow("older image, --force only")
        << "1.1.13.0000" << QStringList{"--force"} << EHubctlExit::Usage << "image-older"
        << "older";
    QTest::newRow("newer image") << "1.1.15.0906" << QStringList{} << EHubctlExit::Ok << "completed"
                                 << "Update completed.";
  }
  void versionRules() {
    QFETCH(QString, imageVersion);
    QFETCH(QStringList, extra);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, result);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString log = dir.filePath("log");
    std::size_t records = 0;
    const Outcome o = RunHubctl(QStringList{"--simulate", "update", "--log", log, "--image",
                                            FIRMWARE_IMAGE_FILE, "--image-version", imageVersion} +
                                    extra,
                                {}, {}, [&](THubctl& h) {
                                  records = h.SimulatedHubs()[0]->Emulator().Programmed().size();
                                });
    QVERIFY2(o.code == code,
             qPrintable(QString("exit %1: %2").arg(ExitStatus(o.code)).arg(o.All())));
    QVERIFY2(o.All().contains(said), qPrintable(o.All()));
    QCOMPARE(records > 0, result == "completed");
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject record = QJsonDocument::fromJson(file.readLine()).object();
    QCOMPARE(record[json::KEY_RESULT].toString(), result);
    QCOMPARE(record["exitCode"].toInt(), ExitStatus(code));
    QCOMPARE(record["versionBefore"].toString(), QStringLiteral("11140801"));
  }

  // Several hubs plugged in: a command for one hub refuses and lists them unless --device
  // chooses; version shows them all.
  void severalHubs_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("pattern");  // in stdout and stderr
    const QStringList two{"--simulate", "--hubs", "2"};
    const QString listed =
        R"(2 hubs are plugged in.*\n  sim:hidraw1  port sim-port-1  serial unknown  )"
        R"(application 1\.1\.14\.0801  bootloader 0\.1\.00\.0300\n  sim:hidraw2 )";
    QTest::newRow("update") << (two + QStringList{"update"}) << EHubctlExit::Usage << listed;
    QTest::newRow("status") << (two + QStringList{"status"}) << EHubctlExit::Usage << listed;
    QTest::newRow("led") << (two + QStringList{"led", "1", "5"}) << EHubctlExit::Usage << listed;
    QTest::newRow("wait") << (two + QStringList{"wait"}) << EHubctlExit::Usage << listed;
    QTest::newRow("--device chooses") << (two + QStringList{"--device", "sim:hidraw2", "status"})
                                      << EHubctlExit::Ok << "^Voltage";
    QTest::newRow("version shows every hub")
        << (two + QStringList{"version"}) << EHubctlExit::Ok
        << R"(^sim:hidraw1  port sim-port-1  serial unknown\nBootloader.*\n(.*\n){3}\n)"
           R"(sim:hidraw2  port sim-port-2)";
    QTest::newRow("list shows every hub") << (two + QStringList{"list"}) << EHubctlExit::Ok
                                          << R"(hub  port sim-port-1.*\n.*hub  port sim-port-2)";
  }
  void severalHubs() {
    QFETCH(QStringList, args);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, pattern);
    std::vector<std::size_t> sent;
    const Outcome o = RunHubctl(args, {}, {}, [&](THubctl& h) {
      for (const auto& hub : h.SimulatedHubs())
        sent.push_back(hub->Emulator().Programmed().size());
    });
    QVERIFY2(o.code == code,
             qPrintable(QString("exit %1: %2").arg(ExitStatus(o.code)).arg(o.All())));
    QVERIFY2(QRegularExpression(pattern).match(o.out + o.err).hasMatch(), qPrintable(o.All()));
    QCOMPARE(sent, (std::vector<std::size_t>{0, 0}));
  }

  void update() {
    std::uint32_t version = 0;
    const Outcome o = RunHubctl({"--simulate", "update"}, {}, {}, [&](THubctl& h) {
      version = h.SimulatedHubs()[0]->Emulator().ApplicationVersion();
    });
    QCOMPARE(o.code, EHubctlExit::Ok);
    const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    QStringList log;
    for (const QString& l : lines) {
      if (!l.endsWith(')'))
        log << l;  // progress lines end with "(n/625)"
    }
    QCOMPARE(log, (QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot,
                               Texts::Ok, Texts::UpdateCompleted}));
    QVERIFY(o.out.contains("100% (625/625)"));
    QCOMPARE(version, BUILTIN_APP_VERSION);
  }

  // How failures reach the exit code and the user.
  void failures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("setup");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("errPart");
    // One line on stderr: the hub's state and the next step.
    QTest::newRow("record not taken")
        << QStringList{"--simulate", "update"} << 0 << EHubctlExit::UpdateFailed
        << "no record taken at line 5 of the image); the hub waits in its bootloader: run "
           "'halvek-hubctl update' again\n";
    QTest::newRow("record not taken, hub chosen")
        << QStringList{"--simulate", "--device", "sim:hidraw1", "update"} << 0
        << EHubctlExit::UpdateFailed
        << "bootloader: run 'halvek-hubctl --device NODE update' again";
    QTest::newRow("no hub") << QStringList{"version"} << 1 << EHubctlExit::NoHub << "no hub found";
    QTest::newRow("no hub, update")
        << QStringList{"update"} << 1 << EHubctlExit::NoHub << "no hub found";
    QTest::newRow("access denied")
        << QStringList{"version"} << 2 << EHubctlExit::AccessDenied << "install-udev-rule";
    QTest::newRow("silent hub") << QStringList{"--simulate", "status"} << 3 << EHubctlExit::Timeout
                                << "did not answer";
    QTest::newRow("wait times out") << QStringList{"wait", "--timeout", "1"} << 1
                                    << EHubctlExit::Timeout << "no hub within 1 s";
  }
  void failures() {
    QFETCH(QStringList, args);
    QFETCH(int, setup);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, errPart);
    auto bus = std::make_shared<TSimHidBus>();
    std::unique_ptr<TSimulatedHub> lockedHub;
    const Outcome o = RunHubctl(args, [&](THubctlEnvironment& env) {
      if (setup == 0) {
        env.onSimulatedHub = [](THubEmulator& hub) {
          THubFault fault;
          fault.command = CMD_PROGRAM_RECORD;
          fault.kind = EFaultKind::ErrorStatus;
          fault.status = 0x07;
          fault.when = TOccurrence::Nth(5);
          hub.AddFault(fault);
        };
      } else if (setup == 1 || setup == 2) {
        env.platform = bus;
        if (setup == 2) {
          lockedHub = std::make_unique<TSimulatedHub>(bus, THubEmulatorOptions{}, false);
          lockedHub->Emulator().Plug(false);
        }
      } else if (setup == 3) {
        env.onSimulatedHub = [](THubEmulator& hub) {
          THubFault fault;
          fault.command = CMD_READ_STATUS;
          fault.kind = EFaultKind::NoReply;
          hub.AddFault(fault);
        };
      }
    });
    QVERIFY2(o.code == code,
             qPrintable(QString("exit %1: %2 %3").arg(ExitStatus(o.code)).arg(o.out, o.err)));
    QVERIFY2(o.err.contains(errPart), qPrintable(o.err));
    if (setup == 0)
      QVERIFY(o.out.contains(Texts::Timeout));
    if (setup == 2)
      QVERIFY(o.err.contains("sim:hidraw"));
  }

  // A run over several hubs: interrupted says more than failed, failed more than success, in
  // whatever order the hubs end; a hub's own reason (no hub, in use) is a failure of the run.
  void tally_data() {
    QTest::addColumn<QList<EHubctlExit>>("hubs");
    QTest::addColumn<bool>("interrupted");
    QTest::addColumn<EHubctlExit>("code");
    QTest::newRow("none") << QList<EHubctlExit>{} << false << EHubctlExit::Ok;
    QTest::newRow("all updated") << QList<EHubctlExit>{EHubctlExit::Ok, EHubctlExit::Ok} << false
                                 << EHubctlExit::Ok;
    QTest::newRow("failed last") << QList<EHubctlExit>{EHubctlExit::Ok, EHubctlExit::UpdateFailed}
                                 << false << EHubctlExit::UpdateFailed;
    QTest::newRow("failed first") << QList<EHubctlExit>{EHubctlExit::UpdateFailed, EHubctlExit::Ok}
                                  << false << EHubctlExit::UpdateFailed;
    QTest::newRow("in use, no hub") << QList<EHubctlExit>{EHubctlExit::HubInUse, EHubctlExit::NoHub}
                                    << false << EHubctlExit::UpdateFailed;
    QTest::newRow("interrupted, all updated")
        << QList<EHubctlExit>{EHubctlExit::Ok} << true << EHubctlExit::Interrupted;
    QTest::newRow("interrupted, one failed")
        << QList<EHubctlExit>{EHubctlExit::UpdateFailed, EHubctlExit::Ok} << true
        << EHubctlExit::Interrupted;
    // A hub's own process stopped by a signal: the run was interrupted, whoever sent it.
    QTest::newRow("a hub interrupted")
        << QList<EHubctlExit>{EHubctlExit::Ok, EHubctlExit::Interrupted, EHubctlExit::UpdateFailed}
        << false << EHubctlExit::Interrupted;
  }
  void tally() {
    QFETCH(QList<EHubctlExit>, hubs);
    QFETCH(bool, interrupted);
    QFETCH(EHubctlExit, code);
    THubTally tally;
    if (interrupted)
      tally.Interrupt();
    for (EHubctlExit hub : hubs)
      tally.Add(hub);
    QCOMPARE(tally.Done(), int(hubs.size()));
    QCOMPARE(tally.ExitCode(), code);
  }

  void waitForPlug() {
    auto bus = std::make_shared<TSimHidBus>();
    std::unique_ptr<TSimulatedHub> hub;
    QTimer::singleShot(200, [&] { hub = std::make_unique<TSimulatedHub>(bus); });
    const Outcome o = RunHubctl({"wait", "--timeout", "20"},
                                [&](THubctlEnvironment& env) { env.platform = bus; });
    QCOMPARE(o.code, EHubctlExit::Ok);
    QVERIFY(o.out.startsWith("sim:hidraw"));
  }

  // Each hub plugged in is updated once: never again after its own resets, whatever the bus.
  void autoEachHubOnce() {
    std::vector<std::uint32_t> versions;
    QTemporaryDir dir;
    const QString log = dir.filePath("log");
    const Outcome o = RunHubctl(
        {"--simulate", "--hubs", "2", "auto", "--log", log}, {},
        [](THubctl& h) { QTimer::singleShot(6000, &h, [&h] { h.Interrupt(); }); },
        [&](THubctl& h) {
          for (const auto& hub : h.SimulatedHubs())
            versions.push_back(hub->Emulator().ApplicationVersion());
        });
    QCOMPARE(o.code,
             EHubctlExit::Interrupted);  // ended by the interrupt while waiting for more hubs
    QCOMPARE(o.out.count(QRegularExpression("hub \\d+ at sim:hidraw\\d+: completed\n")), 2);
    QVERIFY2(o.out.contains("hub 2 at"), qPrintable(o.out));
    QCOMPARE(versions, (std::vector<std::uint32_t>{BUILTIN_APP_VERSION, BUILTIN_APP_VERSION}));
    // The same record as update's, every field present.
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < 2; ++i) {
      const QJsonObject record = QJsonDocument::fromJson(lines[i]).object();
      QCOMPARE(QStringList(record.keys()), [] {
        QStringList keys = LogRecordKeys();
        keys.sort();
        return keys;
      }());
      QCOMPARE(record["versionBefore"].toString(), QStringLiteral("11140801"));
      QCOMPARE(record["versionAfter"].toString(), VersionText(BUILTIN_APP_VERSION));
      // The node the hub had when it was plugged in, as the run's own line names it.
      QVERIFY(o.out.contains(QStringLiteral("hub %1 at %2: completed")
                                 .arg(i + 1)
                                 .arg(record[json::KEY_NODE].toString())));
      QVERIFY(record["durationMs"].toInt() > 0);
    }
  }

  // Ctrl-C during an update: once lets it finish (and says so), twice stops it and says the hub
  // is left in its bootloader.
  void interruptUpdate_data() {
    QTest::addColumn<int>("interrupts");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<bool>("completed");
    QTest::newRow("once") << 1 << EHubctlExit::Ok << true;
    QTest::newRow("twice") << 2 << EHubctlExit::Interrupted << false;
  }
  void interruptUpdate() {
    QFETCH(int, interrupts);
    QFETCH(EHubctlExit, code);
    QFETCH(bool, completed);
    QTimer poll;
    bool inBootloader = false;
    std::uint32_t version = 0;
    const Outcome o = RunHubctl(
        {"--simulate", "update"}, {},
        [&](THubctl& h) {
          QObject::connect(&poll, &QTimer::timeout, [&] {
            if (h.SimulatedHubs().empty() ||
                h.SimulatedHubs()[0]->Emulator().Programmed().size() < 20)
              return;
            poll.stop();
            for (int i = 0; i < interrupts; ++i)
              QVERIFY(h.Interrupt());
          });
          poll.start(5);
        },
        [&](THubctl& h) {
          inBootloader = h.SimulatedHubs()[0]->Emulator().Mode() == EHubMode::Bootloader;
          version = h.SimulatedHubs()[0]->Emulator().ApplicationVersion();
        });
    QCOMPARE(o.code, code);
    QVERIFY2(o.err.contains("goes on to its end"), qPrintable(o.err));
    QCOMPARE(o.out.contains(Texts::UpdateCompleted), completed);
    QCOMPARE(inBootloader, !completed);
    QCOMPARE(version == BUILTIN_APP_VERSION, completed);
    if (!completed)
      QVERIFY(o.err.contains("bootloader"));
  }

  // The real program, a real signal: outside an update Ctrl-C ends it at once.
  void sigintEndsWatch() {
    QProcess p;
    p.start(HUBCTL_BINARY, {"--simulate", "status", "--watch"});
    QVERIFY(p.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).contains("Voltage"), 5000);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), ExitStatus(EHubctlExit::Interrupted));
  }

  // The rule grants the seat's user access to the hub's hidraw node only, never to everyone.
  void udevRule_data() {
    QTest::addColumn<QString>("subsystem");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("matches");
    QTest::newRow("hub hidraw") << "hidraw"
                                << "fff0"
                                << "0018" << true;
    QTest::newRow("other vendor") << "hidraw"
                                  << "046d"
                                  << "0018" << false;
    QTest::newRow("other product") << "hidraw"
                                   << "fff0"
                                   << "0019" << false;
    QTest::newRow("hub usb node") << "usb"
                                  << "fff0"
                                  << "0018" << false;
    QTest::newRow("hub input node") << "input"
                                    << "fff0"
                                    << "0018" << false;
  }
  void udevRule() {
    QFETCH(QString, subsystem);
    QFETCH(QString, vendor);
    QFETCH(QString, product);
    QFETCH(bool, matches);
    QFile file(UDEV_RULE_FILE);
    QVERIFY(file.open(QIODevice::ReadOnly));
    int rules = 0;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split('\n')) {
      const QString line = raw.trimmed();
      if (line.isEmpty() || line.startsWith('#'))
        continue;
      ++rules;
      QVERIFY2(!line.contains("MODE") && !line.contains("GROUP"), qPrintable(line));
      QVERIFY(line.contains("TAG+=\"uaccess\""));
      // Evaluate the match keys against the device.
      const QMap<QString, QString> device{
          {"SUBSYSTEM", subsystem}, {"ATTRS{idVendor}", vendor}, {"ATTRS{idProduct}", product}};
      bool all = true;
      int keys = 0;
      const QRegularExpression match("([A-Z]+(?:\\{\\w+\\})?)==\"([^\"]*)\"");
      for (auto it = match.globalMatch(line); it.hasNext();) {
        const auto m = it.next();
        ++keys;
        all = all && device.value(m.captured(1)) == m.captured(2);
      }
      QCOMPARE(keys, 3);
      QCOMPARE(all, matches);
    }
    QCOMPARE(rules, 1);
  }

  // install-udev-rule: where the package put the rule, a copy already there, --simulate,
  // --remove, and udev that cannot be told.
  void installUdevRule_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("before");  // the copy in /etc: 0 none, 1 the rule, 2 another
    QTest::addColumn<bool>("packaged");
    QTest::addColumn<QString>("udevadm");
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("said");  // in stdout or stderr
    const QStringList install{"install-udev-rule"};
    const QStringList remove{"install-udev-rule", "--remove"};
    QTest::newRow("fresh") << install << 0 << false << "" << 1 << "Installed";
    QTest::newRow("an older copy") << install << 2 << false << "" << 1 << "Installed";
    QTest::newRow("already installed") << install << 1 << false << "" << 1 << "already installed";
    QTest::newRow("packaged") << install << 0 << true << "" << 0 << "The package installed";
    QTest::newRow("packaged, and a copy")
        << install << 1 << true << "" << 1 << "install-udev-rule --remove";
    QTest::newRow("simulate") << (install + QStringList{"--simulate"}) << 0 << false << "" << 0
                              << "nothing written";
    QTest::newRow("remove") << remove << 1 << true << "" << 0 << "Removed";
    QTest::newRow("remove, no copy") << remove << 0 << false << "" << 0 << "nothing to remove";
    QTest::newRow("remove, simulate")
        << (remove + QStringList{"--simulate"}) << 1 << false << "" << 1 << "nothing removed";
    QTest::newRow("no udevd") << install << 0 << false << "false" << 1 << "udev is not running";
    QTest::newRow("no udevadm") << install << 0 << false << "/nonexistent/udevadm" << 1
                                << "udevadm is not installed";
    QTest::newRow("json") << QStringList{"--json", "install-udev-rule"} << 0 << false << "" << 1
                          << R"("event":"installed")";
  }
  void installUdevRule() {
    QFETCH(QStringList, args);
    QFETCH(int, before);
    QFETCH(bool, packaged);
    QFETCH(QString, udevadm);
    QFETCH(int, after);
    QFETCH(QString, said);
    QFile source(UDEV_RULE_FILE);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray rule = source.readAll();
    QTemporaryDir dir;
    const QString copy = dir.filePath("etc/60-halvek-hub.rules");
    auto put = [](const QString& path, const QByteArray& text) {
      QDir().mkpath(QFileInfo(path).path());
      QFile file(path);
      return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    if (before)
      QVERIFY(put(copy, before == 1 ? rule : QByteArray("# older\n")));
    if (packaged)
      QVERIFY(put(dir.filePath("lib/60-halvek-hub.rules"), rule));
    const Outcome o = RunHubctl(args, [&](THubctlEnvironment& env) {
      env.udevRulesDir = dir.filePath("etc");
      env.packageRulesDir = dir.filePath("lib");
      env.udevadm = udevadm;
      env.requireRoot = false;
    });
    QVERIFY2(o.code == EHubctlExit::Ok, qPrintable(o.All()));
    QVERIFY2(o.All().contains(said), qPrintable(o.All()));
    QFile result(copy);
    const QByteArray now = result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
    QCOMPARE(now, after == 0 ? QByteArray() : after == 1 ? rule : QByteArray("# older\n"));
    QCOMPARE(QFileInfo::exists(copy), after != 0);
  }

  // A write that fails half-way (a full disk; here a file size limit) leaves the rule that was
  // there, never a truncated one.
  void installUdevRuleFullDisk() {
    QTemporaryDir dir;
    const QString path = dir.filePath("60-halvek-hub.rules");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("# old rule\n") > 0);
    old.close();
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 40;  // less than the rule
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Outcome o = RunHubctl({"install-udev-rule"}, [&](THubctlEnvironment& env) {
      env.udevRulesDir = dir.path();
      env.packageRulesDir = dir.filePath("none");
      env.udevadm.clear();
      env.requireRoot = false;
    });
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    QVERIFY2(o.code == EHubctlExit::Error, qPrintable(o.out + o.err));
    QVERIFY(o.err.contains("cannot write"));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("# old rule\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"60-halvek-hub.rules"});
  }
};

QTEST_GUILESS_MAIN(HubctlTest)
#include "tst_hubctl.moc"
