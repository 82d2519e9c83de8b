// Several hubs updated at once (update --all): one hub failing mid-update and one unplugged must
// leave the others updated, the exit code must say that not all were, and --log must get one
// whole JSON line per hub, appended.
//
// Built twice from this file: with emulated hubs of --simulate (the real binary, faults planted
// through HALVEK_SIMULATE_FAULTS), and through udev and hidraw with the hubs behind a umockdev
// testbed (HALVEK_FLEET_LINUX, run under umockdev-wrapper): the supervisor runs in-process, its
// children are the real binary under the same testbed.

#include <signal.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <map>
#include <memory>

#include "HubctlJson.h"
#include "HubctlRun.h"
#include "HubctlTexts.h"
#include "update/EmbeddedFirmware.h"
#include "update/Version.h"

#ifdef HALVEK_FLEET_LINUX
#include "HidrawTestbed.h"
#include "UmockdevEmulatedHub.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "protocol/Commands.h"
#include "sim/HubEmulator.h"
#include "sim/SimulatedHub.h"
#endif

namespace {

// The first records of the built-in image and its closing line, in a file at `path`.
QString ShortImage(const QString& path) {
  const FirmwareLines full = LoadEmbeddedFirmware().Value();
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return {};
  int records = 0;
  for (std::size_t i = 0; i < full.Count(); ++i) {
    const bool record = full.Record(i).has_value();
    if ((record && records < 8) || i + 1 == full.Count())
      file.write(QByteArray::fromStdString(full.Line(i)) + "\n");
    records += record ? 1 : 0;
  }
  return path;
}

#ifdef HALVEK_FLEET_LINUX
std::string LoadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}
#endif

namespace json = HubctlJson;

constexpr std::uint32_t NEW_VERSION = 0x11150906;

using TOutcome = THubctlOutcome;

// What --log holds: one object per line; a line that is not whole JSON fails the test.
std::vector<QJsonObject> LogLines(const QString& path, QString& problem) {
  std::vector<QJsonObject> lines;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    problem = QStringLiteral("no log");
    return lines;
  }
  const QByteArray text = file.readAll();
  if (!text.endsWith('\n'))
    problem = QStringLiteral("the log does not end with a whole line");
  for (const QByteArray& line : text.split('\n')) {
    if (line.isEmpty())
      continue;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
      problem = QStringLiteral("not a JSON line: ") + QString::fromUtf8(line);
    lines.push_back(doc.object());
  }
  return lines;
}

#ifdef HALVEK_FLEET_LINUX
// Hubs behind a umockdev testbed; the children find them through udev like a real hub.
class TRig {
 public:
  explicit TRig(int hubs) {
    for (int i = 0; i < hubs; ++i)
      hubs_.push_back(std::make_unique<TUmockdevEmulatedHub>(testbed_, Options(), i * 10));
    for (auto& hub : hubs_)
      hub->emulator.Plug();
  }
  THubEmulator& Hub(int i) { return hubs_.at(i)->emulator; }
  QString Node(int i) { return hubs_.at(i)->connection.Node(); }

 private:
  static THubEmulatorOptions Options() {
    THubEmulatorOptions o;
    o.replyLatencyMs = 0;
    o.bootloaderSwitchDelayMs = 40;
    o.rebootDelayMs = 40;
    o.statusTimeScale = 0;
    return o;
  }
  TUmockdevTestbed testbed_;
  std::vector<std::unique_ptr<TUmockdevEmulatedHub>> hubs_;
};
#endif

}  // namespace

class HubctlFleetTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir_;

  // Runs `update --all` (plus `args`) on `hubs` hubs: hub 2 stops answering while programming,
  // hub 3 is unplugged while programming (numbers from 1; 0: no such fault). The nodes of the
  // hubs, in order, go to `nodes`.
  TOutcome RunAll(int hubs, int failing, int unplugged, const QStringList& args,
                  QStringList& nodes) {
    return Run(hubs, failing, unplugged, QStringList{"update", "--all"} + args, 0, nodes);
  }

  // Runs `command`; with `stopAfter`, interrupts it a while after the log (--log, the last
  // argument) has that many lines.
  TOutcome Run(int hubs, int failing, int unplugged, const QStringList& command, int stopAfter,
               QStringList& nodes) {
    QTimer watch;
    bool interrupted = false;
    auto logFull = [&] {
      QString problem;
      return stopAfter > 0 && int(LogLines(command.last(), problem).size()) >= stopAfter;
    };
    TOutcome o;
    // A short image keeps the updates quick.
    const QString image = ShortImage(dir_->filePath("short.txt"));
    const QStringList imageArgs{"--image", image, "--image-version", DottedVersion(NEW_VERSION)};
#ifdef HALVEK_FLEET_LINUX
    TRig rig(hubs);
    for (int i = 0; i < hubs; ++i)
      nodes << rig.Node(i);
    if (failing) {
      rig.Hub(failing - 1)
          .AddFault(THubFault{EFaultKind::NoReply, CMD_PROGRAM_RECORD, TOccurrence::FromNth(3)});
    }
    if (unplugged) {
      rig.Hub(unplugged - 1)
          .AddFault(THubFault{EFaultKind::Vanish, CMD_PROGRAM_RECORD, TOccurrence::Nth(3), -1});
    }
    for (int i = 0; i < hubs; ++i)
      rig.Hub(i).SetFirmwareImage(FirmwareLines::Parse(LoadFile(image)).Value(), NEW_VERSION);
    o = RunHubctlWith(
        command + imageArgs,
        [](THubctlEnvironment& env) {
          env.platform = std::make_shared<TLinuxHidPlatform>();
          env.program = QStringLiteral(HUBCTL_BINARY);
        },
        [&](THubctl& hubctl) {
          connect(&watch, &QTimer::timeout, &hubctl, [&, h = &hubctl] {
            if (!interrupted && logFull()) {
              interrupted = true;
              // Long enough for the hubs' returns to be seen: none may be taken for a new one.
              QTimer::singleShot(1500, h, [h] { h->Interrupt(); });
            }
          });
          watch.start(50);
        });
#else
    QStringList faults;
    if (failing)
      faults << QStringLiteral("%1:no-reply@3").arg(failing);
    if (unplugged)
      faults << QStringLiteral("%1:vanish@3").arg(unplugged);
    for (int i = 0; i < hubs; ++i)
      nodes << QStringLiteral("sim:hidraw%1").arg(i + 1);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HALVEK_SIMULATE_FAST", "1");
    env.insert("HALVEK_SIMULATE_FAULTS", faults.join(','));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(HUBCTL_BINARY),
                  QStringList{"--simulate", "--hubs", QString::number(hubs)} + command + imageArgs);
    connect(&watch, &QTimer::timeout, this, [&] {
      if (!interrupted && logFull()) {
        interrupted = true;
        QTimer::singleShot(1500, this, [&] { kill(pid_t(process.processId()), SIGINT); });
      }
    });
    watch.start(50);
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
      loop.exec();
    if (process.state() != QProcess::NotRunning)
      return o;
    o.code = ExitCodeFromStatus(process.exitCode());
    o.out = QString::fromUtf8(process.readAllStandardOutput());
    o.err = QString::fromUtf8(process.readAllStandardError());
#endif
    return o;
  }

 private Q_SLOTS:
  void initTestCase() {
#ifdef HALVEK_FLEET_LINUX
    if (!qEnvironmentVariableIsSet("UMOCKDEV_DIR") && !qgetenv("LD_PRELOAD").contains("umockdev"))
      QSKIP("needs umockdev-wrapper");
#endif
  }
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    // The children's locks and kept LED levels stay in this test's own directories.
    QVERIFY(QDir().mkpath(dir_->filePath("run")) && QDir().mkpath(dir_->filePath("state")));
    QFile::setPermissions(dir_->filePath("run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", dir_->filePath("run").toUtf8());
    qputenv("XDG_STATE_HOME", dir_->filePath("state").toUtf8());
  }

  void all_data() {
    QTest::addColumn<int>("hubs");
    QTest::addColumn<int>("failing");
    QTest::addColumn<int>("unplugged");
    QTest::addColumn<EHubctlExit>("code");
    // Each hub's result, by its place.
    QTest::addColumn<QStringList>("results");
#ifndef HALVEK_FLEET_LINUX
    QTest::newRow("three hubs") << 3 << 0 << 0 << EHubctlExit::Ok
                                << QStringList{"completed", "completed", "completed"};
#endif
    QTest::newRow("one failing, one unplugged, two updated")
        << 4 << 2 << 3 << EHubctlExit::UpdateFailed
        << QStringList{"completed", "record-failed", "record-failed", "completed"};
  }
  void all() {
    QFETCH(int, hubs);
    QFETCH(int, failing);
    QFETCH(int, unplugged);
    QFETCH(EHubctlExit, code);
    QFETCH(QStringList, results);
    const QString log = dir_->filePath("updates.log");
    {
      // A record of an earlier run stays: the log is appended to.
      QFile earlier(log);
      QVERIFY(earlier.open(QIODevice::WriteOnly));
      earlier.write("{\"earlier\":true}\n");
    }
    QStringList nodes;
    const TOutcome o = RunAll(hubs, failing, unplugged, {"--log", log}, nodes);
    QVERIFY2(o.code == code,
             qPrintable(QString("exit %1:\n%2%3").arg(ExitStatus(o.code)).arg(o.out, o.err)));

    QString problem;
    const auto lines = LogLines(log, problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(int(lines.size()), hubs + 1);
    QVERIFY(lines[0].value("earlier").toBool());
    std::map<QString, QJsonObject> byNode;
    for (std::size_t i = 1; i < lines.size(); ++i)
      byNode[lines[i].value(json::KEY_NODE).toString()] = lines[i];
    for (int i = 0; i < hubs; ++i) {
      QVERIFY2(byNode.count(nodes[i]), qPrintable(nodes[i] + " has no record"));
      const QJsonObject& record = byNode[nodes[i]];
      // Every field, null where unknown, never absent.
      for (const QString& key : LogRecordKeys())
        QVERIFY2(record.contains(key), qPrintable(key));
      QCOMPARE(record.size(), int(LogRecordKeys().size()));
      QCOMPARE(record.value("imageSha256").toString().size(), 64);
      QCOMPARE(ExitCodeFromStatus(record.value("exitCode").toInt()),
               results[i] == "completed" ? EHubctlExit::Ok : EHubctlExit::UpdateFailed);
      QCOMPARE(record.value(json::KEY_REASON).isNull(), results[i] == "completed");
      QCOMPARE(record.value(json::KEY_RESULT).toString(), results[i]);
      QVERIFY(!record.value("port").toString().isEmpty());
      // A time that reads back as one.
      QVERIFY(
          QDateTime::fromString(record.value(json::KEY_TIME).toString(), json::RECORD_TIME_FORMAT)
              .isValid());
      QVERIFY(record.value("durationMs").toInt() > 0);
      QCOMPARE(record.value("ledLevelsSaved").toArray().size(), 8);
      const bool completed = results[i] == "completed";
      QCOMPARE(record.value("ledLevelsRestored").toBool(), completed);
      if (completed) {
        QCOMPARE(record.value("versionAfter").toString(), VersionText(NEW_VERSION));
        QCOMPARE(record.value("versionBefore").toString(), QStringLiteral("11140801"));
      }
      // Every hub's own lines name it.
      QVERIFY2(o.out.contains(nodes[i] + ": " + results[i]), qPrintable(o.out));
    }
    // The closing line names every hub that failed, and why; each failed hub's own line on
    // stderr names it, once.
    if (code != EHubctlExit::Ok) {
      QCOMPARE(o.err.count(
                   HubctlTexts::Said(nodes[failing - 1] + QStringLiteral(": the update failed"))),
               1);
      QVERIFY2(QRegularExpression(QStringLiteral("2 of %1 hubs failed: .*%2 \\(no record taken")
                                      .arg(hubs)
                                      .arg(QRegularExpression::escape(nodes[failing - 1])))
                   .match(o.err)
                   .hasMatch(),
               qPrintable(o.err));
    } else {
      QVERIFY2(o.out.contains(QStringLiteral("%1 hubs: %1 updated").arg(hubs)), qPrintable(o.out));
    }
  }

  // The supervisor, the launcher that forks the hubs' processes, or one hub's process, killed
  // outright while both hubs program: every hub's process that lives runs to its end and leaves
  // its line in the log, and a hub is said updated only when its own process said so.
  void killedProcess_data() {
    QTest::addColumn<QString>("killed");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QStringList>("results");
    QTest::newRow("the supervisor")
        << "supervisor" << EHubctlExit::Ok << QStringList{"completed", "completed"};
    QTest::newRow("the launcher") << "launcher" << EHubctlExit::Ok
                                  << QStringList{"completed", "completed"};
    QTest::newRow("a hub's process")
        << "hub" << EHubctlExit::UpdateFailed << QStringList{"completed", "error"};
  }
  void killedProcess() {
#ifdef HALVEK_FLEET_LINUX
    QSKIP("the same code as with emulated hubs");
#else
    QFETCH(QString, killed);
    QFETCH(EHubctlExit, code);
    QFETCH(QStringList, results);
    const QString log = dir_->filePath("updates.log");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HALVEK_SIMULATE_FAST", "1");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(HUBCTL_BINARY),
                  {"--simulate", "--hubs", "2", "update", "--all", "--log", log});
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += QString::fromUtf8(process.readAllStandardOutput())).count("Programming...") == 2,
        20000);
    auto children = [](qint64 pid) {
      QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
      return file.open(QIODevice::ReadOnly)
                 ? QString::fromLatin1(file.readAll()).split(' ', Qt::SkipEmptyParts)
                 : QStringList();
    };
    const QStringList launchers = children(process.processId());
    QCOMPARE(launchers.size(), 1);
    const QStringList hubs = children(launchers[0].toLongLong());
    QCOMPARE(hubs.size(), 2);
    const qint64 victim = killed == "supervisor" ? process.processId()
                          : killed == "launcher" ? launchers[0].toLongLong()
                                                 : hubs[1].toLongLong();
    kill(pid_t(victim), SIGKILL);
    QVERIFY(process.waitForFinished(30000));
    if (killed != "supervisor") {
      const QString err = QString::fromUtf8(process.readAllStandardError());
      QVERIFY2(ExitCodeFromStatus(process.exitCode()) == code, qPrintable(err));
      QCOMPARE(err.contains(HubctlTexts::LauncherGone), killed == "launcher");
    }
    QString problem;
    QTRY_VERIFY_WITH_TIMEOUT(LogLines(log, problem).size() == std::size_t(results.size()), 30000);
    problem.clear();
    QStringList logged;
    for (const QJsonObject& line : LogLines(log, problem))
      logged << line.value(json::KEY_RESULT).toString();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    logged.sort();
    QCOMPARE(logged, results);
#endif
  }

  // No hub's process can start: each hub is said and counted as failed, never as updated.
  void cannotStart() {
#ifdef HALVEK_FLEET_LINUX
    QSKIP("the same code as with emulated hubs");
#else
    const TOutcome o = RunHubctlWith(
        {"--simulate", "--hubs", "2", "update", "--all"},
        [](THubctlEnvironment& env) { env.program = QStringLiteral("/nonexistent/hubctl"); });
    QVERIFY2(o.code == EHubctlExit::UpdateFailed, qPrintable(o.All()));
    for (const QString node : {"sim:hidraw1", "sim:hidraw2"})
      QVERIFY2(o.err.contains(HubctlTexts::CannotStart(node, QString())), qPrintable(o.err));
    QVERIFY2(o.err.contains("2 of 2 hubs failed"), qPrintable(o.err));
#endif
  }

  // auto --parallel: every hub plugged in is updated once, at once; none coming back from its
  // restarts is taken for a new one.
  void autoParallel() {
    const QString log = dir_->filePath("auto.log");
    QStringList nodes;
    const TOutcome o = Run(3, 0, 0, {"auto", "--parallel", "--count", "4", "--log", log}, 3, nodes);
    QVERIFY2(o.code == EHubctlExit::Interrupted,
             qPrintable(QString("exit %1:\n%2%3").arg(ExitStatus(o.code)).arg(o.out, o.err)));
    QString problem;
    const auto lines = LogLines(log, problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QStringList updated;
    for (const QJsonObject& line : lines) {
      QVERIFY2(line.value(json::KEY_RESULT).toString() == QStringLiteral("completed"),
               qPrintable(o.out + o.err));
      updated << line.value(json::KEY_NODE).toString();
    }
    updated.sort();
    nodes.sort();
    QCOMPARE(updated, nodes);
  }

  // Ctrl-C while every hub is programming: once, every update runs to its end; twice, every one
  // stops between two records.
  void interrupt_data() {
    QTest::addColumn<int>("times");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<QString>("result");
    QTest::newRow("once") << 1 << EHubctlExit::Ok << "completed";
    QTest::newRow("twice") << 2 << EHubctlExit::Interrupted << "stopped";
  }
  void interrupt() {
#ifdef HALVEK_FLEET_LINUX
    QSKIP("the same code as with emulated hubs");
#else
    QFETCH(int, times);
    QFETCH(EHubctlExit, code);
    QFETCH(QString, result);
    constexpr int hubs = 3;
    const QString log = dir_->filePath("updates.log");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HALVEK_SIMULATE_FAST", "1");
    process.setProcessEnvironment(env);
    QString out;
    bool sent = false;
    // Every hub programming: each has shown a percent (from 10 % on).
    const QRegularExpression progress(QStringLiteral("^(\\S+): \\d+%$"),
                                      QRegularExpression::MultilineOption);
    auto programming = [&] {
      QSet<QString> nodes;
      for (const QRegularExpressionMatch& m : progress.globalMatch(out))
        nodes << m.captured(1);
      return int(nodes.size());
    };
    // The whole built-in image: programming lasts long enough to be interrupted.
    connect(&process, &QProcess::readyReadStandardOutput, this, [&] {
      out += QString::fromUtf8(process.readAllStandardOutput());
      if (!sent && programming() == hubs) {
        sent = true;
        // Apart, as a person presses them: signals sent at once may arrive as one.
        for (int i = 0; i < times; ++i) {
          QTimer::singleShot(300 * i, this,
                             [&process] { kill(pid_t(process.processId()), SIGINT); });
        }
      }
    });
    process.start(QStringLiteral(HUBCTL_BINARY),
                  {"--simulate", "--hubs", QString::number(hubs), "update", "--all", "--log", log});
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    QVERIFY(process.state() == QProcess::NotRunning);
    QVERIFY(sent);
    QVERIFY2(ExitCodeFromStatus(process.exitCode()) == code,
             qPrintable(QString("exit %1:\n%2").arg(process.exitCode()).arg(out)));
    QString problem;
    const auto lines = LogLines(log, problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(int(lines.size()), hubs);
    for (const QJsonObject& line : lines)
      QCOMPARE(line.value(json::KEY_RESULT).toString(), result);
#endif
  }

  // A log that cannot be written stops nothing, and is said.
  void logNotWritable() {
#ifdef HALVEK_FLEET_LINUX
    QSKIP("the same code as with emulated hubs; only the updates differ");
#endif
    QStringList nodes;
    const TOutcome o =
        RunAll(2, 0, 0, {"--log", dir_->filePath("no such directory/updates.log")}, nodes);
    QVERIFY2(o.code == EHubctlExit::Ok, qPrintable(o.err));
    QVERIFY2(o.err.contains("cannot write the log"), qPrintable(o.err));
    QCOMPARE(o.out.count(": completed"), 2);
  }
};

QTEST_GUILESS_MAIN(HubctlFleetTest)
#include "tst_hubctl_fleet.moc"
