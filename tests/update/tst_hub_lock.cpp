// The per-hub lock between programs: another process is refused and named, the lock goes on
// every way out of its holder, this process's own probe never refuses, an unusable directory
// never stops an update, and no key leads out of the lock directory.

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

// The other program: holds the lock of argv[2] until told on stdin ("release", "exit") or
// killed. Says "held" or "refused <why>", then "released" when told.
int HoldLock(const std::string& key) {
  THubLock lock;
  QString why;
  if (!lock.Acquire(key, why)) {
    std::cout << "refused " << why.toStdString() << std::endl;
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

// Another process's view of the lock of argv[2].
int Probe(const std::string& key) {
  QString why;
  const bool held = THubLock::HeldElsewhere(key, &why);
  std::cout << (held ? "held " : "free ") << why.toStdString() << std::endl;
  return 0;
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

  // Starts the other program; `held` is what it said.
  bool StartHolder(QProcess& p, const std::string& key, QByteArray& said) {
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--hold"), QString::fromStdString(key)});
    return p.waitForStarted() && ReadLine(p, said);
  }

 private slots:
  void init() {
    QVERIFY(runtime_.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
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
    QVERIFY(!lock.Acquire(kPort, why));
    QCOMPARE(why, named);
    QVERIFY(!lock.Held());
    QString probed;
    QVERIFY(THubLock::HeldElsewhere(kPort, &probed));
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

    QVERIFY(!THubLock::HeldElsewhere(kPort));
    QVERIFY(lock.Acquire(kPort, why));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(lock.Held());
    other.closeWriteChannel();
    other.waitForFinished(5000);
  }

  // This process's own lock never refuses its own probe, refuses a second lock object here, and
  // is seen by other programs with this pid.
  void sameProcess() {
    THubLock lock;
    QString why;
    QVERIFY(lock.Acquire(kPort, why));
    QVERIFY(lock.Held());
    QVERIFY(!THubLock::HeldElsewhere(kPort, &why));
    QVERIFY(lock.Acquire(kPort, why));  // again on the same object: still held

    THubLock second;
    QVERIFY(!second.Acquire(kPort, why));
    QVERIFY(!why.isEmpty());

    QProcess probe;
    probe.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--probe"), QString::fromStdString(kPort)});
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
    QVERIFY(StartHolder(startedMeanwhile, "another hub", said));
    QCOMPARE(said, QByteArray("held"));
    lock.Release();
    QVERIFY(!lock.Held());
    QVERIFY(StartHolder(other, kPort, said));
    QCOMPARE(said, QByteArray("held"));
    QVERIFY(!lock.Acquire(kPort, why));
    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(5000));
    QVERIFY(lock.Acquire(kPort, why));
    startedMeanwhile.closeWriteChannel();
    QVERIFY(startedMeanwhile.waitForFinished(5000));
  }

  // Locking must never stop an update: without a usable directory the lock goes on without a
  // file and says why.
  void unusableDirectory_data() {
    QTest::addColumn<QString>("setup");
    QTest::newRow("runtime dir is a file") << "file";
    QTest::newRow("runtime dir missing") << "missing";
    QTest::newRow("lock dir is a symlink") << "symlink";
    QTest::newRow("lock dir of another user") << "foreign";
  }
  void unusableDirectory() {
    QFETCH(QString, setup);
    QTemporaryDir base;
    const QString lockDir = base.path() + "/halvek-hub-updater";
    QTemporaryDir elsewhere;
    QString runtime = base.path();
    if (setup == "file") {
      runtime = base.path() + "/plain";
      QFile file(runtime);
      QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (setup == "missing") {
      runtime = base.path() + "/gone/away";
    } else if (setup == "symlink") {
      QVERIFY(QFile::link(elsewhere.path(), lockDir));
    } else {
      QVERIFY(QDir().mkdir(lockDir));
      QCOMPARE(::chown(QFile::encodeName(lockDir).constData(), geteuid() + 1, getegid()), 0);
    }
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());

    THubLock lock;
    QString why;
    QVERIFY(lock.Acquire(kPort, why));
    QVERIFY2(why.contains("going on without one"), qPrintable(why));
    QVERIFY(!lock.Held());
    QVERIFY(!THubLock::HeldElsewhere(kPort));
    QVERIFY(QDir(elsewhere.path()).isEmpty());
  }

  // Without XDG_RUNTIME_DIR: a private directory of this user under /tmp.
  void fallbackDirectory() {
    qunsetenv("XDG_RUNTIME_DIR");
    THubLock lock;
    QString why;
    QVERIFY(lock.Acquire(kPort, why));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(THubLock::Directory(), QStringLiteral("/tmp/halvek-hub-updater-%1").arg(geteuid()));
    struct stat st = {};
    QCOMPARE(::lstat(QFile::encodeName(THubLock::Directory()).constData(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 0777, 0700u);
    QCOMPARE(st.st_uid, geteuid());
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
    qputenv("XDG_RUNTIME_DIR", oddRuntime_.path().toLocal8Bit());
    const QString dir = oddRuntime_.path() + "/halvek-hub-updater";
    THubLock lock;
    QString why;
    QVERIFY(lock.Acquire(key.toStdString(), why));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(lock.Held());
    const QFileInfo file(THubLock::FileFor(key.toStdString()));
    QCOMPARE(file.absolutePath(), dir);
    QVERIFY(file.isFile());
    QVERIFY(file.fileName().size() < 255);
    // Nothing else beside the lock directory, nothing but files inside it.
    QCOMPARE(QDir(oddRuntime_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"halvek-hub-updater"});
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
  if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) {
    QCoreApplication app(argc, argv);
    return HoldLock(argv[2]);
  }
  if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) {
    QCoreApplication app(argc, argv);
    return Probe(argv[2]);
  }
  QCoreApplication app(argc, argv);
  HubLockTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_hub_lock.moc"
