// The real halvek-hubctl under signals and a lost output: an update in progress always runs to
// its end unless Ctrl-C is pressed twice, and an output that cannot be written ends the command
// with exit 1 once its work is done.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include "HubctlExit.h"
#include "HubctlTexts.h"
#include "update/Texts.h"

namespace {

// The program with --simulate, quick, its output on a pipe the test holds, SIGPIPE at its
// default as a shell leaves it, whatever this test inherited (an ignored SIGPIPE is passed on).
class TChild {
 public:
  ~TChild() {
    CloseOutput();
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

  // `toFullDisk`: the output goes to /dev/full instead of the pipe.
  bool Start(const QStringList& arguments, bool toFullDisk = false) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return false;
    out_ = fds[0];
    const int childOut = toFullDisk ? open("/dev/full", O_WRONLY | O_CLOEXEC) : fds[1];
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HALVEK_SIMULATE_FAST", "1");
    process_.setProcessEnvironment(environment);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setChildProcessModifier([childOut] {
      dup2(childOut, STDOUT_FILENO);
      signal(SIGPIPE, SIG_DFL);
    });
    process_.start(HUBCTL_BINARY, QStringList{"--simulate"} + arguments);
    const bool started = process_.waitForStarted(5000);
    close(fds[1]);
    if (toFullDisk)
      close(childOut);
    return started;
  }

  // The next line of the output; false at its end or after `timeoutMs`.
  bool ReadLine(QByteArray& line, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!buffer_.contains('\n')) {
      pollfd p = {out_, POLLIN, 0};
      const int left = timeoutMs - int(clock.elapsed());
      if (left <= 0 || poll(&p, 1, left) <= 0)
        return false;
      char bytes[4096];
      const ssize_t n = read(out_, bytes, sizeof bytes);
      if (n <= 0)
        return false;
      buffer_.append(bytes, n);
    }
    const qsizetype end = buffer_.indexOf('\n');
    line = buffer_.left(end);
    buffer_.remove(0, end + 1);
    output_ += line + '\n';
    return true;
  }

  // Reads lines until one contains `what`.
  bool WaitFor(const QByteArray& what) {
    QByteArray line;
    while (ReadLine(line)) {
      if (line.contains(what))
        return true;
    }
    return false;
  }

  // Reads to the end and waits for the program to end.
  bool Finish(int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (out_ >= 0 && clock.elapsed() < timeoutMs) {
      pollfd p = {out_, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char bytes[4096];
        const ssize_t n = read(out_, bytes, sizeof bytes);
        if (n <= 0)
          break;
        output_.append(bytes, n);
      }
    }
    return process_.state() == QProcess::NotRunning ||
           process_.waitForFinished(std::max(1, timeoutMs - int(clock.elapsed())));
  }

  void CloseOutput() {
    if (out_ >= 0)
      close(out_);
    out_ = -1;
  }
  // Never kill(0): that would signal the whole process group, this test included.
  void Signal(int number) {
    if (process_.processId() > 0)
      ::kill(static_cast<pid_t>(process_.processId()), number);
  }

  QProcess& Process() { return process_; }
  QString Output() const { return QString::fromUtf8(output_ + buffer_); }
  QString Errors() { return QString::fromUtf8(process_.readAllStandardError()); }

 private:
  QProcess process_;
  int out_ = -1;
  QByteArray buffer_;
  QByteArray output_;
};

}  // namespace

class HubctlSignalsTest : public QObject {
  Q_OBJECT

 private slots:
  // The output goes away: the command still does all its work, then says so and exits 1.
  void lostOutput_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("linesBeforeClose");  // -1: the output is a full disk
    QTest::newRow("update | head -1") << QStringList{"update"} << 1;
    QTest::newRow("update > /dev/full") << QStringList{"update"} << -1;
    QTest::newRow("version > /dev/full") << QStringList{"version"} << -1;
    QTest::newRow("list into a closed pipe") << QStringList{"list"} << 0;
    QTest::newRow("status --watch | head -1") << QStringList{"status", "--watch"} << 1;
    QTest::newRow("status --watch --json | head -1")
        << QStringList{"--json", "status", "--watch"} << 1;
    QTest::newRow("auto | head -1") << QStringList{"auto"} << 1;
    QTest::newRow("auto --parallel | head -1") << QStringList{"auto", "--parallel"} << 1;
  }
  void lostOutput() {
    QFETCH(QStringList, args);
    QFETCH(int, linesBeforeClose);
    TChild child;
    QVERIFY(child.Start(args, linesBeforeClose < 0));
    QByteArray line;
    for (int i = 0; i < linesBeforeClose; ++i)
      QVERIFY(child.ReadLine(line));
    child.CloseOutput();
    QVERIFY(child.Finish());
    const QString errors = child.Errors();
    QCOMPARE(child.Process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(ExitCodeFromStatus(child.Process().exitCode()) == EHubctlExit::Error,
             qPrintable(errors));
    QVERIFY2(errors.contains(HubctlTexts::Said(HubctlTexts::CannotWriteOutput(QString()))),
             qPrintable(errors));
    // An update went on to its end: nothing was stopped.
    QVERIFY2(!errors.contains("stopped"), qPrintable(errors));
  }

  // Signals while the hub is being programmed: SIGHUP and SIGTERM act like a first Ctrl-C, the
  // update always runs to its end; only Ctrl-C pressed again stops it.
  void signalsDuringProgramming_data() {
    QTest::addColumn<QList<int>>("sent");
    QTest::addColumn<EHubctlExit>("code");
    QTest::addColumn<bool>("completed");
    QTest::newRow("SIGHUP") << QList<int>{SIGHUP} << EHubctlExit::Ok << true;
    QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << EHubctlExit::Ok << true;
    QTest::newRow("SIGTERM twice") << QList<int>{SIGTERM, SIGTERM} << EHubctlExit::Ok << true;
    QTest::newRow("SIGHUP twice") << QList<int>{SIGHUP, SIGHUP} << EHubctlExit::Ok << true;
    QTest::newRow("SIGHUP then SIGTERM") << QList<int>{SIGHUP, SIGTERM} << EHubctlExit::Ok << true;
    QTest::newRow("Ctrl-C then SIGTERM") << QList<int>{SIGINT, SIGTERM} << EHubctlExit::Ok << true;
    QTest::newRow("Ctrl-C twice") << QList<int>{SIGINT, SIGINT} << EHubctlExit::Interrupted
                                  << false;
    // Told to press Ctrl-C again to stop, the user did.
    QTest::newRow("SIGTERM then Ctrl-C")
        << QList<int>{SIGTERM, SIGINT} << EHubctlExit::Interrupted << false;
  }
  void signalsDuringProgramming() {
    QFETCH(QList<int>, sent);
    QFETCH(EHubctlExit, code);
    QFETCH(bool, completed);
    TChild child;
    QVERIFY(child.Start({"update"}));
    // Progress lines come only while records are being sent.
    QVERIFY2(child.WaitFor("% ("), qPrintable(child.Output()));
    for (int number : sent) {
      child.Signal(number);
      QTest::qWait(50);
    }
    QVERIFY(child.Finish());
    const QString errors = child.Errors();
    QCOMPARE(child.Process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(ExitCodeFromStatus(child.Process().exitCode()) == code, qPrintable(errors));
    QVERIFY2(errors.contains("goes on to its end"), qPrintable(errors));
    QCOMPARE(child.Output().contains(Texts::UpdateCompleted), completed);
  }

  // Outside an update, SIGHUP and SIGTERM end a command at once, as Ctrl-C does.
  void signalsEndWatch_data() {
    QTest::addColumn<int>("number");
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
  }
  void signalsEndWatch() {
    QFETCH(int, number);
    TChild child;
    QVERIFY(child.Start({"status", "--watch"}));
    QVERIFY(child.WaitFor("Voltage"));
    child.Signal(number);
    QVERIFY(child.Finish(5000));
    QCOMPARE(child.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(ExitCodeFromStatus(child.Process().exitCode()), EHubctlExit::Interrupted);
  }
};

QTEST_GUILESS_MAIN(HubctlSignalsTest)
#include "tst_hubctl_signals.moc"
