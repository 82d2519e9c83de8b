// The per-hub lock between programs: another process is refused and named whatever its
// environment, the lock goes on every way out of its holder, this process's own probe never
// refuses, a lock that cannot be taken safely is never taken, emulated hubs lock nothing
// between programs, and no key leads out of the lock directory. The test machine's lock
// directory is in a directory of the test's own (UMOCKDEV_DIR, as in a umockdev testbed); a
// file stands for the hub's node.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <string>

#include "update/HubLock.h"

namespace {

const std::string kPort = "1-1.4";

// The other program: holds the lock of argv[2] at node argv[3] until told on stdin ("release",
// "exit") or killed. Says "held" or "refused <why>", then "released" when told.
int HoldLock(const std::string& key, const std::string& node) {
  THubLock lock;
  if (const TResult<void> taken = lock.Acquire(key, node); !taken) {
    std::cout << "refused " << taken.Error().text.toStdString() << std::endl;
    return 1;
  }
  std::cout << "held" << std::endl;
  std::string command;
  while (std::getline(std::cin, command)) {
    if (command == "release") {
      lock.Release();
      std::cout << "released" << std::endl;
    } else if (command == "exit") {
      std::exit(0);  // the lock object is never destroyed: the kernel must let go
    }
  }
  return 0;
}

// Another process's view of the lock of argv[2] at node argv[3].
int Probe(const std::string& key, const std::string& node) {
  const auto holder = THubLock::HolderElsewhere(key, node);
  std::cout << (holder ? "held " : "free ") << holder.value_or(QString()).toStdString()
            << std::endl;
  return 0;
}

enum class EOutcome { Taken, InUse, Failed };

EOutcome OutcomeOf(const TResult<void>& result, QString& why) {
  why = result ? QString() : result.Error().text;
  if (result)
    return EOutcome::Taken;
  return result.Error().code == THubLock::IN_USE ? EOutcome::InUse : EOutcome::Failed;
}

bool HeldElsewhere(const std::string& key, const std::string& node, QString* why = nullptr) {
  const auto holder = THubLock::HolderElsewhere(key, node);
  if (holder && why)
    *why = *holder;
  return holder.has_value();
}

bool ReadLine(QProcess& p, QByteArray& line) {
  while (!p.canReadLine()) {
    if (!p.waitForReadyRead(5000))
      return false;
  }
  line = p.readLine().trimmed();
  return true;
}

}  // namespace

class HubLockTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;
  std::string node_;

  // Starts the other program; `held` is what it said.
  bool StartHolder(QProcess& p, const std::string& key, QByteArray& said, std::string node = {}) {
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--hold"), QString::fromStdString(key),
             QString::fromStdString(node.empty() ? node_ : node)});
    return p.waitForStarted() && ReadLine(p, said);
  }

 private slots:
  void init() {
    QVERIFY(runtime_.isValid());
    qputenv("UMOCKDEV_DIR", runtime_.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    node_ = runtime_.filePath("hidraw0").toStdString();
    QFile node(QString::fromStdString(node_));
    QVERIFY(node.open(QIODevice::WriteOnly));
  }

  // Another program holds the hub: refused with its name and pid, until it lets go in each way
  // a program can.
  void heldElsewhereUntilReleased_data() {
    QTest::addColumn<QString>("wayOut");
    QTest::newRow("Release") << "release";
    QTest::newRow("normal exit") << "exit";
    QTest::newRow("crash (kill -9)") << "kill";
    QTest::newRow("terminated") << "term";
  }
  void heldElsewhereUntilReleased() {
    QFETCH(QString, wayOut);
    QProcess other;
    QByteArray said;
    QVERIFY(StartHolder(other, kPort, said));
    QCOMPARE(said, QByteArray("held"));
    const QString named =
        QStringLiteral("the hub is in use by another program (tst_hub_lock, pid %1)")
            .arg(other.processId());

    THubLock lock;
    QString why;
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why), EOutcome::InUse);
    QCOMPARE(why, named);
    QVERIFY(!lock.Held());
    QString probed;
    QVERIFY(HeldElsewhere(kPort, node_, &probed));
    QCOMPARE(probed, named);

    if (wayOut == "release") {
      other.write("release\n");
      QVERIFY(ReadLine(other, said));
      QCOMPARE(said, QByteArray("released"));
    } else if (wayOut == "exit") {
      other.write("exit\n");
      QVERIFY(other.waitForFinished(5000));
    } else {
      ::kill(static_cast<pid_t>(other.processId()), wayOut == "kill" ? SIGKILL : SIGTERM);
      QVERIFY(other.waitForFinished(5000));
    }

    QVERIFY(!HeldElsewhere(kPort, node_));
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why), EOutcome::Taken);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(lock.Held());
    other.closeWriteChannel();
    other.waitForFinished(5000);
  }

  // This process's own lock never refuses its own probe, refuses a second lock object here, and
  // is seen by other programs with this pid.
  void sameProcess() {
    using R = EOutcome;
    THubLock lock;
    QString why;
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why), R::Taken);
    QVERIFY(lock.Held());
    QVERIFY(!HeldElsewhere(kPort, node_, &why));
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why),
             R::Taken);  // again on the same object: still held

    THubLock second;
    QCOMPARE(OutcomeOf(second.Acquire(kPort, node_), why), R::InUse);
    QVERIFY(!why.isEmpty());

    QProcess probe;
    probe.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--probe"), QString::fromStdString(kPort), QString::fromStdString(node_)});
    QVERIFY(probe.waitForFinished(5000));
    QCOMPARE(probe.readAllStandardOutput().trimmed(),
             QStringLiteral("held the hub is in use by another program (tst_hub_lock, pid %1)")
                 .arg(QCoreApplication::applicationPid())
                 .toUtf8());

    QProcess other;
    QByteArray said;
    QVERIFY(StartHolder(other, kPort, said));
    QVERIFY(said.startsWith("refused the hub is in use by another program"));
    QVERIFY(other.waitForFinished(5000));

    // A program started meanwhile must not keep the lock alive after this one lets go.
    QProcess startedMeanwhile;
    QVERIFY(StartHolder(startedMeanwhile, "another hub", said, "sim:hidraw9"));
    QCOMPARE(said, QByteArray("held"));
    lock.Release();
    QVERIFY(!lock.Held());
    QVERIFY(StartHolder(other, kPort, said));
    QCOMPARE(said, QByteArray("held"));
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why), R::InUse);
    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(5000));
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why), R::Taken);
    startedMeanwhile.closeWriteChannel();
    QVERIFY(startedMeanwhile.waitForFinished(5000));
  }

  // One lock for every program on the machine: whatever their runtime directories, and through
  // the node when the keys differ. Emulated hubs lock nothing between programs.
  void oneLockForEveryone_data() {
    QTest::addColumn<QString>("holderRuntime");  // XDG_RUNTIME_DIR: "a", "b", "unset", "file"
    QTest::addColumn<QString>("myRuntime");
    QTest::addColumn<QString>("holderKey");
    QTest::addColumn<QString>("node");  // both sides' node; empty: the node file
    QTest::addColumn<bool>("inUse");
    QTest::newRow("another XDG_RUNTIME_DIR") << "a"
                                             << "b"
                                             << "1-1.4"
                                             << "" << true;
    QTest::newRow("no XDG_RUNTIME_DIR (sudo)") << "unset"
                                               << "a"
                                               << "1-1.4"
                                               << "" << true;
    QTest::newRow("runtime dir unusable") << "file"
                                          << "file"
                                          << "1-1.4"
                                          << "" << true;
    QTest::newRow("same node, another key") << "a"
                                            << "a"
                                            << "/dev/hidraw0"
                                            << "" << true;
    QTest::newRow("emulated hubs") << "a"
                                   << "a"
                                   << "1-1.4"
                                   << "sim:hidraw1" << false;
  }
  void oneLockForEveryone() {
    QFETCH(QString, holderRuntime);
    QFETCH(QString, myRuntime);
    QFETCH(QString, holderKey);
    QFETCH(QString, node);
    QFETCH(bool, inUse);
    QTemporaryDir dirs;
    QFile(dirs.filePath("file")).open(QIODevice::WriteOnly);
    QVERIFY(QDir(dirs.path()).mkdir("a") && QDir(dirs.path()).mkdir("b"));
    auto useRuntime = [&](const QString& which) {
      if (which == "unset")
        qunsetenv("XDG_RUNTIME_DIR");
      else
        qputenv("XDG_RUNTIME_DIR", dirs.filePath(which).toLocal8Bit());
    };
    const std::string hubNode = node.isEmpty() ? node_ : node.toStdString();
    useRuntime(holderRuntime);
    QProcess other;
    QByteArray said;
    QVERIFY(StartHolder(other, holderKey.toStdString(), said, hubNode));
    QCOMPARE(said, QByteArray("held"));

    useRuntime(myRuntime);
    THubLock lock;
    QString why;
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, hubNode), why),
             inUse ? EOutcome::InUse : EOutcome::Taken);
    QVERIFY2(!inUse || why.startsWith("the hub is in use by another program"), qPrintable(why));
    QCOMPARE(HeldElsewhere(kPort, hubNode), inUse);
    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(5000));
  }

  // The lock follows the hub to its node after it re-enumerated, also when the kernel gives the
  // new node the old one's name: another program cannot take it.
  void followsTheHubToItsNewNode_data() {
    QTest::addColumn<bool>("sameName");
    QTest::newRow("new node name") << false;
    QTest::newRow("node name given again") << true;
  }
  void followsTheHubToItsNewNode() {
    QFETCH(bool, sameName);
    THubLock lock;
    QString why;
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), why), EOutcome::Taken);
    const std::string next = sameName ? node_ : runtime_.filePath("hidraw1").toStdString();
    QVERIFY(QFile::remove(QString::fromStdString(node_)));
    QFile created(QString::fromStdString(next));
    QVERIFY(created.open(QIODevice::WriteOnly));
    QCOMPARE(OutcomeOf(lock.FollowNode(next), why), EOutcome::Taken);
    QProcess other;
    QByteArray said;
    QVERIFY(StartHolder(other, "another key", said, next));
    QVERIFY2(said.startsWith("refused the hub is in use by another program"), said.constData());
    QVERIFY(other.waitForFinished(5000));
  }

  // A lock directory or file another user could have planted or could remove is not used, and
  // nothing is followed: the update is refused with the reason (never "going on without one").
  void unsafeLockPlaces_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("why");
    QTest::newRow("lock dir is a link") << "dirlink"
                                        << "<dir> is a symbolic link, not a directory";
    QTest::newRow("lock dir of another user") << "foreign"
                                              << "<dir> belongs to another user";
    QTest::newRow("lock dir writable by all, not sticky")
        << "open"
        << "<dir> can be written by others and is not sticky";
    QTest::newRow("planted link to a file") << "link"
                                            << "<file> is a symbolic link: not followed";
    QTest::newRow("planted dangling link") << "dangling"
                                           << "<file> is a symbolic link: not followed";
    QTest::newRow("FIFO in its place") << "fifo"
                                       << "<file> is not a regular file";
  }
  void unsafeLockPlaces() {
    QFETCH(QString, setup);
    QFETCH(QString, why);
    QTemporaryDir testbed, elsewhere;
    qputenv("UMOCKDEV_DIR", testbed.path().toLocal8Bit());
    const QString dir = THubLock::Directory(), file = THubLock::FileFor(kPort);
    const QString victim = elsewhere.filePath("victim");
    QVERIFY(QDir().mkpath(testbed.filePath("run")));
    if (setup == "dirlink")
      QVERIFY(QFile::link(elsewhere.path(), dir));
    else
      QVERIFY(QDir().mkdir(dir));
    const QByteArray dirName = QFile::encodeName(dir), fileName = QFile::encodeName(file);
    if (setup == "foreign")
      QCOMPARE(::chown(dirName.constData(), geteuid() + 1, getegid()), 0);
    QCOMPARE(::chmod(dirName.constData(), setup == "open" ? 0777 : 01777), 0);
    QFile precious(victim);
    if (setup == "link")
      QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("precious\n") == 9);
    precious.close();
    if (setup == "link" || setup == "dangling")
      QVERIFY(QFile::link(victim, file));
    if (setup == "fifo")
      QCOMPARE(::mkfifo(fileName.constData(), 0644), 0);

    THubLock lock;
    QString said;
    QCOMPARE(OutcomeOf(lock.Acquire(kPort, node_), said), EOutcome::Failed);
    QCOMPARE(said, QString(why).replace("<dir>", dir).replace("<file>", file));
    QVERIFY(!lock.Held());
    QFile target(victim);  // nothing followed: untouched, or never made
    QCOMPARE(target.open(QIODevice::ReadOnly) ? target.readAll() : "none",
             QByteArray(setup == "link" ? "precious\n" : "none"));
  }

  // Any key makes one file directly inside the lock directory, and different keys different
  // files.
  void oddKeys_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("usb port") << QByteArray("3-1.2");
    QTest::newRow("node") << QByteArray("/dev/hidraw3");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("dot") << QByteArray(".");
    QTest::newRow("dot dot") << QByteArray("..");
    QTest::newRow("climbing") << QByteArray("../../etc/passwd");
    QTest::newRow("slash") << QByteArray("a/b");
    QTest::newRow("slashes") << QByteArray("a/b//c/");
    QTest::newRow("escaped slash") << QByteArray("a%2Fb");
    QTest::newRow("newline and nul") << QByteArray("a\nb\0c", 5);
    QTest::newRow("non-ASCII") << QByteArray("集线器");
    QTest::newRow("very long") << QByteArray(1000, '/');
    QTest::newRow("very long other") << QByteArray(999, '/');
  }
  void oddKeys() {
    QFETCH(QByteArray, key);
    QVERIFY(oddRuntime_.isValid());
    qputenv("UMOCKDEV_DIR", oddRuntime_.path().toLocal8Bit());
    const QString dir = oddRuntime_.path() + "/run/lock";
    THubLock lock;
    QString why;
    QCOMPARE(OutcomeOf(lock.Acquire(key.toStdString(), node_), why), EOutcome::Taken);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(lock.Held());
    const QFileInfo file(THubLock::FileFor(key.toStdString()));
    QCOMPARE(file.absolutePath(), dir);
    QVERIFY(file.isFile());
    QVERIFY(file.fileName().size() < 255);
    // Nothing else beside the lock directory, nothing but files inside it.
    QCOMPARE(QDir(oddRuntime_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"run"});
    const auto entries = QDir(dir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
      QVERIFY(entry.isFile());
    // Every key so far still has a file of its own.
    keysSeen_.insert(file.fileName());
    QCOMPARE(int(entries.size()), int(keysSeen_.size()));
  }

 private:
  QTemporaryDir oddRuntime_;
  std::set<QString> keysSeen_;
};

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) {
    QCoreApplication app(argc, argv);
    return HoldLock(argv[2], argv[3]);
  }
  if (argc == 4 && std::strcmp(argv[1], "--probe") == 0) {
    QCoreApplication app(argc, argv);
    return Probe(argv[2], argv[3]);
  }
  QCoreApplication app(argc, argv);
  HubLockTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_hub_lock.moc"
