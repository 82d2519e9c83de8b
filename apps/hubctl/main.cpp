// halvek-hubctl: the updater on the command line.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include "Hubctl.h"

namespace {
int interruptPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(interruptPipe[1], &byte, 1);
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTextStream out(stdout);
  QTextStream err(stderr);

  THubctlEnvironment environment;
  environment.out = &out;
  environment.err = &err;
  environment.terminal = isatty(STDERR_FILENO) == 1;
  THubctl hubctl(environment);

  // Ctrl-C reaches the event loop through a pipe, so that a running update can wind down.
  if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return EXIT_ERROR;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  QSocketNotifier notifier(interruptPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    char bytes[16];
    while (read(interruptPipe[0], bytes, sizeof bytes) > 0) {
      if (!hubctl.Interrupt()) {
        err << "\nhalvek-hubctl: interrupted\n";
        err.flush();
        _exit(EXIT_INTERRUPTED);
      }
    }
  });

  return hubctl.Run(app.arguments().mid(1));
}
