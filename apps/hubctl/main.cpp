// halvek-hubctl: the updater on the command line.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <cerrno>

#include "FleetLauncher.h"
#include "Hubctl.h"
#include "HubctlTexts.h"

namespace {
int interruptPipe[2] = {-1, -1};

// Ctrl-C, or a hang-up or termination (which never stops an update midway).
constexpr char CTRL_C_BYTE = 'i';
constexpr char SOFT_BYTE = 's';

void OnSignal(int number) {
  const char byte = number == SIGINT ? CTRL_C_BYTE : SOFT_BYTE;
  [[maybe_unused]] const ssize_t n = write(interruptPipe[1], &byte, 1);
}
}  // namespace

int main(int argc, char** argv) {
  // A fleet's launcher serves here; each hub's process goes on from here with its own arguments.
  ServeAsFleetLauncher(argc, argv);
  QCoreApplication app(argc, argv);
  QTextStream out(stdout);
  QTextStream err(stderr);

  THubctlEnvironment environment;
  environment.out = &out;
  environment.err = &err;
  environment.terminal = isatty(STDERR_FILENO) == 1;
  // The bar fits the terminal; a terminal that cannot move its cursor gets plain lines.
  struct winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    environment.columns = size.ws_col;
  environment.cursorControl = qgetenv("TERM") != "dumb";
  // --simulate: the emulated hub answers at once. The program cannot tell that from a reply
  // within the 2 ms pause after each write, and the emulator runs on the program's own thread,
  // where a timer per reply would count against the program: a real hub costs it nothing.
  environment.simulatedHub.replyLatencyMs = 0;
  environment.simulatedHub.keepTranscript = false;
  THubctl hubctl(environment);

  // A reader that goes away (`| head -1`) must not kill an update midway: a failed write is
  // noticed instead, and the command ends with exit 1 once its work is done.
  signal(SIGPIPE, SIG_IGN);
  // Signals reach the event loop through a pipe, so that a running update can wind down.
  if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    err << HubctlTexts::Said(SystemError(QStringLiteral("cannot watch for signals"), errno).text)
        << '\n';
    return ExitStatus(EHubctlExit::Error);
  }
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  QSocketNotifier notifier(interruptPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    char bytes[16];
    ssize_t n;
    while ((n = read(interruptPipe[0], bytes, sizeof bytes)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        const auto kind =
            bytes[i] == CTRL_C_BYTE ? THubctl::EInterrupt::CtrlC : THubctl::EInterrupt::Soft;
        if (!hubctl.Interrupt(kind)) {
          err << '\n' << HubctlTexts::Said(HubctlTexts::Interrupted) << '\n';
          err.flush();
          _exit(ExitStatus(EHubctlExit::Interrupted));
        }
      }
    }
  });

  // What no step reports as a failure of its own (the device layer refusing to start) ends the
  // program here, said like any other failure.
  try {
    return ExitStatus(hubctl.Run(app.arguments().mid(1)));
  } catch (const std::exception& e) {
    return ExitStatus(hubctl.Failed(e));
  }
}
