#include "ui/CloseOnSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>

namespace {

// The pipe from the handler, which may do next to nothing, to the event loop.
int signalPipe[2] = {-1, -1};

void OnSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  // A full pipe already holds a close to do.
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TResult<std::unique_ptr<TCloseOnSignal>> TCloseOnSignal::Install(
    QWidget* window, std::initializer_list<int> signalNumbers) {
  if (signalPipe[0] >= 0)
    return TError{QStringLiteral("the logout signals are watched already")};
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return SystemError(QStringLiteral("cannot watch for the logout signals"), errno);
  return std::unique_ptr<TCloseOnSignal>(new TCloseOnSignal(window, signalNumbers));
}

TCloseOnSignal::TCloseOnSignal(QWidget* window, std::initializer_list<int> signalNumbers)
    : window_(window) {
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TCloseOnSignal::SignalArrived);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : signalNumbers) {
    struct sigaction old {};
    if (sigaction(number, &action, &old) == 0)
      previous_.emplace_back(number, old);
  }
}

TCloseOnSignal::~TCloseOnSignal() {
  for (const auto& [number, old] : previous_)
    sigaction(number, &old, nullptr);
  delete notifier_;
  ::close(signalPipe[0]);
  ::close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

void TCloseOnSignal::SignalArrived() {
  char bytes[16];
  while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
  }
  // Refused while an update runs; the window then closes at its end.
  window_->close();
}
