// A whole update through the window, against an emulated hub that answers at once, with the
// real pauses. Reports wall time against the floor of fixed pauses, the process's CPU time over
// the update, and memory: peak RSS and RSS after each of the runs.
//
//   bench_app_update [runs]      (20 by default)

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "hid/sim/SimHidBus.h"
#include "sim/SimulatedHub.h"
#include "ui/MainForm.h"
#include "update/Texts.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double RssMiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double PeakRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

struct PaintWatch : QObject {
  bool seen = false;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      seen = true;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // Start: the application and the window made (the hub found and greeted), shown and painted.
  QElapsedTimer startClock;
  startClock.start();
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  auto bus = std::make_shared<TSimHidBus>();
  THubEmulatorOptions options;
  options.replyLatencyMs = 0;
  TSimulatedHub hub(bus, options);

  TfrmMain form(bus);
  PaintWatch painted;
  form.installEventFilter(&painted);
  form.show();
  while (!painted.seen)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  std::printf("start to first paint: %.1f ms (target <= 300)\n", startClock.nsecsElapsed() / 1e6);
  // Where a user watches an update: the log and the progress bar repaint as it goes.
  form.pgcMain->setCurrentWidget(form.rztbshtUpdate);
  QApplication::processEvents();

  const std::size_t records = form.Session().Image()->RecordCount();
  const double floorMs = 2 * 2000.0 + 8 * 10.0 + 2.0 * 2 * records;
  std::printf("image: %zu records, %zu exchanges; floor of fixed pauses %.0f ms\n", records,
              2 * records, floorMs);
  std::printf("%4s %10s %7s %9s %7s %9s %9s\n", "run", "wall ms", "x floor", "CPU ms", "CPU %",
              "frames", "RSS MiB");

  std::vector<double> walls, cpus, rss;
  for (int run = 1; run <= runs; ++run) {
    const std::uint64_t frames = form.Session().Link().FramesWritten();
    const double cpu0 = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    form.btnUpdate->click();
    const double wall = clock.nsecsElapsed() / 1e6;
    const double cpu = (CpuSeconds() - cpu0) * 1000.0;
    const QStringList log = form.mmoUplog->toPlainText().split(QLatin1Char('\n'));
    if (log.isEmpty() || log.last() != Texts::UpdateCompleted) {
      std::fprintf(stderr, "run %d did not complete: %s\n", run, qPrintable(log.join(" | ")));
      return 1;
    }
    // The emulator's record of every report is the test rig's memory, not the program's.
    hub.Emulator().ClearTranscript();
    // Let the greeting after the reboot and other posted work finish before the next run.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 50)
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    walls.push_back(wall);
    cpus.push_back(cpu);
    rss.push_back(RssMiB());
    std::printf("%4d %10.1f %7.4f %9.1f %7.2f %9llu %9.1f\n", run, wall, wall / floorMs, cpu,
                100.0 * cpu / wall,
                static_cast<unsigned long long>(form.Session().Link().FramesWritten() - frames),
                rss.back());
    std::fflush(stdout);
  }

  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double best = *std::min_element(walls.begin(), walls.end());
  std::printf(
      "\nwall: median %.1f ms = %.4f x floor, best %.1f ms = %.4f x floor (target <= 1.05)\n",
      median(walls), median(walls) / floorMs, best, best / floorMs);
  std::printf("median CPU %.1f ms = %.2f %% of wall (target <= 5 %%)\n", median(cpus),
              100.0 * median(cpus) / median(walls));
  std::printf("RSS after run 1 %.1f MiB, after run %d %.1f MiB; peak RSS %.1f MiB (target <= 80)\n",
              rss.front(), runs, rss.back(), PeakRssMiB());
  return 0;
}
