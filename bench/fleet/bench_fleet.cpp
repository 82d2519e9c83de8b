// halvek-hubctl --simulate --hubs N update --all for N = 1 to 32: emulated hubs that answer
// at once, with the real pauses. Reports each run's wall time against that of one hub, the CPU
// time of the program and its children against the wall time and per hub, and what a program
// start with N emulated hubs costs alone (`list`): each hub's update runs in a child of its own.
//
//   bench_fleet [runs] [hubctl]   (1 run by default; the best wall time of the runs counts, and
//                                 the median CPU time: on a shared machine one run can be far
//                                 off. hubctl: another build of the program, to compare)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

const char* hubctl = HUBCTL_BINARY;

struct TRun {
  double wallS = 0;
  double cpuS = 0;
  int code = -1;
};

TRun RunOnce(int hubs, bool update = true) {
  const std::string count = std::to_string(hubs);
  std::vector<const char*> argv{hubctl, "--simulate", "--hubs", count.c_str()};
  if (update) {
    argv.push_back("update");
    argv.push_back("--all");
  } else {
    argv.push_back("list");
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  TRun run;
  if (posix_spawn(&pid, hubctl, &actions, nullptr, const_cast<char**>(argv.data()), environ) != 0) {
    return run;
  }
  int status = 0;
  rusage usage{};
  // The children's CPU counts too: the program waits for each of them.
  wait4(pid, &status, 0, &usage);
  run.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuS = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  if (argc > 2)
    hubctl = argv[2];
  std::printf(
      "| hubs | wall s (best) | x one hub | CPU s (median) | CPU %% of wall | CPU ms per hub |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|\n");
  double one = 0;
  bool ok = true;
  for (int hubs : {1, 2, 4, 8, 16, 32}) {
    TRun best;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
      const TRun run = RunOnce(hubs);
      if (run.code != 0) {
        std::fprintf(stderr, "%d hubs: exit %d\n", hubs, run.code);
        ok = false;
      }
      if (i == 0 || run.wallS < best.wallS)
        best = run;
      cpu.push_back(run.cpuS);
    }
    std::sort(cpu.begin(), cpu.end());
    best.cpuS = cpu[cpu.size() / 2];
    if (hubs == 1)
      one = best.wallS;
    std::printf("| %d | %.2f | %.2f | %.2f | %.1f | %.0f |\n", hubs, best.wallS, best.wallS / one,
                best.cpuS, 100.0 * best.cpuS / best.wallS, 1000.0 * best.cpuS / hubs);
    std::fflush(stdout);
  }
  std::printf("\nOne program start alone (`list`), CPU ms (median):");
  for (int hubs : {1, 32}) {
    std::vector<double> cpu;
    for (int i = 0; i < std::max(runs, 3); ++i)
      cpu.push_back(RunOnce(hubs, false).cpuS);
    std::sort(cpu.begin(), cpu.end());
    std::printf(" %d emulated hubs %.0f;", hubs, 1000.0 * cpu[cpu.size() / 2]);
  }
  std::printf(
      "\n\nTargets: 32 hubs within 1.05 x the wall time of one; CPU at most 50 ms per "
      "hub's update.\n");
  return ok ? 0 : 1;
}
