// The skinned frame: time from start to the first painted frame, and the time of one hover
// redraw (one button restored from the backdrop, drawn again and put on screen).
//
//   bench_skin [starts] [redraws]      (10 and 2000 by default)
//
// Start-up is measured twice: in whole processes (exec to the end of the first paint, loader and
// Qt start-up included), and inside one process from the top of main(). Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise (xcb under Xvfb shows the cost of a real flush).

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ui/skin/SkinForm.h"

namespace {

QElapsedTimer gSinceMain;

// The frame as the program sets it up, telling when its first paint is done.
class TBenchSkin : public TSkinForm {
 public:
  TBenchSkin() {
    resize(859, 587);
    SetBackground(QStringLiteral("BkImage1_jpg"), QStringLiteral("Skin"), 255, 150, 60, 60);
    AddModule(100, QStringLiteral("Home"), QStringLiteral("Module_Home_png"),
              QStringLiteral("Skin"));
    AddModule(101, QStringLiteral("Update"), QStringLiteral("Module_protec_png"),
              QStringLiteral("Skin"));
    SelectModule(100);
  }
  qint64 firstPaintNs = -1;

 protected:
  void paintEvent(QPaintEvent* event) override {
    TSkinForm::paintEvent(event);
    if (firstPaintNs < 0)
      firstPaintNs = gSinceMain.nsecsElapsed();
  }
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

// One start: show the frame, print the time of its first paint, quit.
int Child(int argc, char** argv) {
  QApplication app(argc, argv);
  TBenchSkin form;
  form.show();
  while (form.firstPaintNs < 0)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  std::printf("painted %lld\n", static_cast<long long>(form.firstPaintNs));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  gSinceMain.start();
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
    return Child(argc, argv);
  const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int redraws = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;

  // Whole processes: from starting the program to its first painted frame.
  std::vector<double> processMs;
  std::vector<double> mainMs;
  for (int i = 0; i < starts; ++i) {
    QProcess child;
    QElapsedTimer t;
    t.start();
    child.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("--child")});
    QByteArray line;
    while (!line.contains('\n') && child.waitForReadyRead(10000))
      line += child.readAllStandardOutput();
    const double ms = t.nsecsElapsed() / 1e6;
    child.waitForFinished();
    long long ns = 0;
    if (std::sscanf(line.constData(), "painted %lld", &ns) != 1) {
      std::fprintf(stderr, "bench_skin: the child painted nothing\n");
      return 1;
    }
    processMs.push_back(ms);
    mainMs.push_back(ns / 1e6);
  }

  QApplication app(argc, argv);
  TBenchSkin form;
  form.show();
  while (form.firstPaintNs < 0)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

  // A full rebuild of both surfaces, for comparison with one button.
  std::vector<double> buildUs;
  for (int i = 0; i < 200; ++i) {
    QElapsedTimer t;
    t.start();
    form.BuildBackBuffer();
    buildUs.push_back(t.nsecsElapsed() / 1e3);
  }

  // Hover on and off the Update button: each call redraws that one button and shows it.
  const int update = form.ButtonCount() - 1;
  std::vector<double> hoverUs;
  hoverUs.reserve(redraws);
  for (int i = 0; i < redraws; ++i) {
    QElapsedTimer t;
    t.start();
    form.SetHotButton(i % 2 == 0 ? update : -1);
    hoverUs.push_back(t.nsecsElapsed() / 1e3);
  }

  std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
  std::printf(
      "start to first painted frame, whole process (%d starts): median %.1f ms, max %.1f ms\n",
      starts, Percentile(processMs, 0.5), Percentile(processMs, 1.0));
  std::printf("  of which from main(): median %.1f ms\n", Percentile(mainMs, 0.5));
  std::printf("full rebuild of both surfaces (200): median %.0f us, p99 %.0f us\n",
              Percentile(buildUs, 0.5), Percentile(buildUs, 0.99));
  std::printf("hover redraw of one button (%d): median %.1f us, p99 %.1f us\n", redraws,
              Percentile(hoverUs, 0.5), Percentile(hoverUs, 0.99));
  return 0;
}
