// halvek-updater's command line, run as a separate process: the help and version texts, a
// wrong option, and the one-line reason when no display can be opened.

#include <QDir>
#include <QLibraryInfo>
#include <QProcess>
#include <QTest>

#include "../../apps/updater/Usage.h"
#include "update/BuildConfig.h"
#include "update/Version.h"

namespace {

struct TRun {
  int exitCode = -1;
  QProcess::ExitStatus status = QProcess::CrashExit;
  QString out;
  QString err;
};

// `env`: variables set for the program, "-NAME" removes one. The display variables are all
// removed first.
TRun Start(const QStringList& args, const QStringList& env) {
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    e.remove(QString::fromLatin1(name));
  for (const QString& item : env) {
    const qsizetype eq = item.indexOf(QLatin1Char('='));
    e.insert(item.left(eq), item.mid(eq + 1));
  }
  QProcess p;
  p.setProcessEnvironment(e);
  p.start(QStringLiteral(HALVEK_UPDATER_PATH), args);
  TRun r;
  if (!p.waitForFinished(20000))
    return r;
  r.exitCode = p.exitCode();
  r.status = p.exitStatus();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// A display number no X server listens on.
QString UnusedDisplay() {
  for (int n = 87; n < 200; ++n) {
    if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
      return QStringLiteral(":%1").arg(n);
  }
  return QStringLiteral(":199");
}

bool WaylandPluginInstalled() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
  return !platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
}

}  // namespace

class TestUpdaterCli : public QObject {
  Q_OBJECT

 private slots:
  void commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");  // the whole standard output
    QTest::addColumn<QString>("err");  // the start of the only line on standard error
    const QString usage = QString::fromUtf8(UPDATER_USAGE);
    const QString version =
        QStringLiteral("halvek-updater %1\nbuilt-in hub firmware %2\n")
            .arg(QLatin1String(PROGRAM_VERSION), DottedVersion(BUILTIN_APP_VERSION));
    const QString noWindow = QStringLiteral("halvek-updater: cannot open its window: ");
    const QString display = UnusedDisplay();
    QTest::newRow("--help") << QStringList{"--help"} << QStringList{} << 0 << usage << QString();
    QTest::newRow("--help after another option")
        << QStringList{"--service", "--help"} << QStringList{} << 0 << usage << QString();
    QTest::newRow("--version") << QStringList{"--version"} << QStringList{} << 0 << version
                               << QString();
    QTest::newRow("unknown option") << QStringList{"--bogus"} << QStringList{} << 2 << QString()
                                    << QStringLiteral("halvek-updater: unknown option '--bogus'");
    QTest::newRow("no display at all")
        << QStringList{} << QStringList{} << 1 << QString()
        << noWindow + QStringLiteral("no display (DISPLAY and WAYLAND_DISPLAY are unset)");
    QTest::newRow("X display unreachable")
        << QStringList{"--simulate"} << QStringList{"DISPLAY=" + display} << 1 << QString()
        << noWindow + QStringLiteral("the X display \"%1\" cannot be reached").arg(display);
    QTest::newRow("X display unreachable, asked for by name")
        << QStringList{"--service"}
        << QStringList{"DISPLAY=" + display, QStringLiteral("QT_QPA_PLATFORM=xcb")} << 1
        << QString() << noWindow + QStringLiteral("the X display");
    // No compositor behind the name; without Qt's Wayland plugin that is said first.
    QTest::newRow("Wayland display only")
        << QStringList{} << QStringList{QStringLiteral("WAYLAND_DISPLAY=halvek-test-none")} << 1
        << QString()
        << noWindow + (WaylandPluginInstalled()
                           ? QStringLiteral("the Wayland display \"halvek-test-none\" cannot be "
                                            "reached")
                           : QStringLiteral("WAYLAND_DISPLAY is set but"));
  }
  void commandLine() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const TRun r = Start(args, env);
    QCOMPARE(r.status, QProcess::NormalExit);  // never Qt's abort
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, out);
    if (err.isEmpty()) {
      QCOMPARE(r.err, QString());
    } else {
      const QStringList lines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      QVERIFY2(!lines.isEmpty() && lines.first().startsWith(err), qPrintable(r.err));
      if (exitCode == 1)
        QCOMPARE(lines.size(), 1);
    }
  }
};

QTEST_GUILESS_MAIN(TestUpdaterCli)
#include "tst_updater_cli.moc"
