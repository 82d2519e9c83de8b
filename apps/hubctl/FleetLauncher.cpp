#include "FleetLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include "HubctlTexts.h"

extern char** environ;

// What the launcher tells the fleet: a child started (value: 0, or the errno of a failed fork),
// or a child ended (value: its wait status).
struct TLauncherNotice {
  enum class EKind : std::int32_t { Started = 1, Ended = 2 };
  EKind kind = EKind::Started;
  std::int32_t pid = -1;
  std::int32_t value = 0;
};

namespace {

constexpr char LAUNCHER_VARIABLE[] = "HALVEK_FLEET_LAUNCHER";
constexpr int LAUNCHER_FD = 3;
// How long a start may wait for the launcher's answer before the launcher counts as broken.
constexpr int START_ANSWER_MS = 20000;
// A request of the fleet: start a child (followed by its arguments, then its environment, each
// string closed by a NUL, and carrying the write ends of its output), or signal one.
struct TRequest {
  enum class EKind : std::int32_t { Start = 1, Signal = 2 };
  EKind kind = EKind::Start;
  std::int32_t pid = -1;
  std::int32_t signal = 0;
  std::int32_t arguments = 0;
  std::int32_t variables = 0;
};
constexpr std::size_t MAX_REQUEST = 64 * 1024;
// The signals the launcher ignores (the fleet alone decides what its children are told) and
// its children take back as a program's start has them.
constexpr int PASSED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

bool SendNotice(int socket, TLauncherNotice::EKind kind, pid_t pid, int value) {
  const TLauncherNotice notice{kind, pid, value};
  return send(socket, &notice, sizeof notice, MSG_NOSIGNAL) == sizeof notice;
}

// A start request: its head, then the child's arguments and its variables.
QByteArray StartRequest(const QStringList& arguments, const QProcessEnvironment& environment) {
  TRequest request;
  request.arguments = static_cast<std::int32_t>(arguments.size());
  request.variables = static_cast<std::int32_t>(environment.keys().size());
  QByteArray message(reinterpret_cast<const char*>(&request), sizeof request);
  for (const QString& argument : arguments)
    message += argument.toLocal8Bit() + '\0';
  for (const QString& name : environment.keys())
    message += (name + '=' + environment.value(name)).toLocal8Bit() + '\0';
  return message;
}

// `count` strings from `at` on, each closed by a NUL before `end`; `at` ends after the last.
bool SplitStrings(char*& at, const char* end, int count, std::vector<char*>& strings) {
  for (int i = 0; i < count; ++i) {
    char* close = static_cast<char*>(std::memchr(at, '\0', end - at));
    if (close == nullptr)
      return false;
    strings.push_back(at);
    at = close + 1;
  }
  return true;
}

// In the forked child: its output, a process group of its own (a Ctrl-C at the terminal reaches
// it only through the fleet, once), the signals as a program starts with them, its environment
// and arguments.
void BecomeChild(const sigset_t& mask, int out, int err, const std::vector<char*>& arguments,
                 const std::vector<char*>& variables, char* program, int& argc, char**& argv) {
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  close(out);
  close(err);
  setpgid(0, 0);
  for (const int number : PASSED_SIGNALS)
    signal(number, SIG_DFL);
  signal(SIGCHLD, SIG_DFL);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  for (char* variable : variables)
    putenv(strdup(variable));
  // Kept for the whole life of the process, as a program's own arguments are.
  static char** own = nullptr;
  own = new char*[arguments.size() + 2];
  own[0] = program;
  for (std::size_t i = 0; i < arguments.size(); ++i)
    own[i + 1] = strdup(arguments[i]);
  own[arguments.size() + 1] = nullptr;
  argc = static_cast<int>(arguments.size() + 1);
  argv = own;
}

// One request of the fleet into `buffer`, with the descriptors it carries; its size, 0 when the
// fleet has gone, -1 (errno set) when none could be read.
ssize_t ReceiveRequest(int fleet, char* buffer, std::vector<int>& fds, bool& truncated) {
  alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
  iovec part{buffer, MAX_REQUEST};
  msghdr message = {};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t size = recvmsg(fleet, &message, MSG_CMSG_CLOEXEC);
  if (size <= 0)
    return size;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
      continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
      fds.push_back(fd);
    }
  }
  truncated = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
  return size;
}

// Every child that has ended, told to the fleet while it listens.
void Reap(int fleet, std::vector<pid_t>& live, bool& fleetGone) {
  int status = 0;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
    std::erase(live, pid);
    if (!fleetGone && !SendNotice(fleet, TLauncherNotice::EKind::Ended, pid, status))
      fleetGone = true;
  }
}

}  // namespace

void ServeAsFleetLauncher(int& argc, char**& argv) {
  const char* named = std::getenv(LAUNCHER_VARIABLE);
  if (named == nullptr)
    return;
  const bool ours = std::to_string(LAUNCHER_FD) == named;
  unsetenv(LAUNCHER_VARIABLE);
  struct stat status = {};
  if (!ours || fstat(LAUNCHER_FD, &status) != 0 || !S_ISSOCK(status.st_mode))
    return;
  const int fleet = LAUNCHER_FD;
  fcntl(fleet, F_SETFD, FD_CLOEXEC);
  for (const int number : PASSED_SIGNALS)
    signal(number, SIG_IGN);
  sigset_t original;
  sigset_t children;
  sigemptyset(&children);
  sigaddset(&children, SIGCHLD);
  sigprocmask(SIG_BLOCK, &children, &original);
  const int ends = signalfd(-1, &children, SFD_CLOEXEC | SFD_NONBLOCK);
  if (ends < 0)
    _exit(1);

  std::vector<pid_t> live;
  bool fleetGone = false;
  static char buffer[MAX_REQUEST];
  for (;;) {
    Reap(fleet, live, fleetGone);
    if (fleetGone && live.empty())
      _exit(0);
    pollfd waits[2] = {{ends, POLLIN, 0}, {fleetGone ? -1 : fleet, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0)
      continue;
    if (waits[0].revents != 0) {
      signalfd_siginfo info;
      while (read(ends, &info, sizeof info) > 0) {
      }
    }
    if (waits[1].revents == 0)
      continue;

    std::vector<int> fds;
    bool truncated = false;
    const ssize_t size = ReceiveRequest(fleet, buffer, fds, truncated);
    if (size < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (size <= 0) {
      fleetGone = true;
      continue;
    }
    TRequest request;
    const bool whole = std::size_t(size) >= sizeof request && !truncated;
    if (whole)
      std::memcpy(&request, buffer, sizeof request);
    if (whole && request.kind == TRequest::EKind::Signal) {
      if (std::find(live.begin(), live.end(), request.pid) != live.end())
        kill(request.pid, request.signal);
    } else if (whole && request.kind == TRequest::EKind::Start) {
      std::vector<char*> arguments;
      std::vector<char*> variables;
      char* at = buffer + sizeof request;
      const char* end = buffer + size;
      const bool read = fds.size() == 2 && SplitStrings(at, end, request.arguments, arguments) &&
                        SplitStrings(at, end, request.variables, variables);
      const pid_t child = read ? fork() : -1;
      const int error = child >= 0 ? 0 : (read ? errno : EPROTO);
      if (child == 0) {
        close(fleet);
        close(ends);
        BecomeChild(original, fds[0], fds[1], arguments, variables, argv[0], argc, argv);
        return;
      }
      if (child > 0)
        live.push_back(child);
      if (!SendNotice(fleet, TLauncherNotice::EKind::Started, child, error))
        fleetGone = true;
    } else if (!SendNotice(fleet, TLauncherNotice::EKind::Started, -1, EPROTO)) {
      fleetGone = true;
    }
    for (const int fd : fds)
      close(fd);
  }
}

TFleetLauncher::TFleetLauncher(QString program) : program_(std::move(program)) {}

TFleetLauncher::~TFleetLauncher() {
  notifier_.reset();
  // The launcher ends once its last child has: each hub's update runs to its own end.
  if (socket_ >= 0)
    close(socket_);
  if (launcher_ > 0) {
    while (waitpid(launcher_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

TResult<void> TFleetLauncher::Launch() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
    return ErrnoError(errno);
  // Above the launcher's own number, so that dup2 onto it always clears close-on-exec.
  const int theirs = fcntl(pair[1], F_DUPFD_CLOEXEC, LAUNCHER_FD + 1);
  close(pair[1]);
  const QByteArray named = QByteArray(LAUNCHER_VARIABLE) + '=';
  std::vector<QByteArray> own;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (!QByteArray(*variable).startsWith(named))
      own.emplace_back(*variable);
  }
  own.push_back(named + QByteArray::number(LAUNCHER_FD));
  std::vector<char*> environment;
  for (QByteArray& variable : own)
    environment.push_back(variable.data());
  environment.push_back(nullptr);
  QByteArray path = program_.toLocal8Bit();
  char* arguments[] = {path.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, theirs, LAUNCHER_FD);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own: a Ctrl-C at the terminal is the fleet's to pass on.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  const int error = posix_spawn(&launcher_, path.constData(), &actions, &attributes, arguments,
                                environment.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(theirs);
  if (error != 0) {
    close(pair[0]);
    launcher_ = -1;
    return SystemError(program_, error);
  }
  socket_ = pair[0];
  notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TFleetLauncher::ReadNotices);
  return {};
}

TResult<TFleetLauncher::TChild> TFleetLauncher::Start(const QStringList& arguments,
                                                      const QProcessEnvironment& environment) {
  if (!lost_.isEmpty())
    return TError{lost_};
  if (launcher_ < 0) {
    if (auto launched = Launch(); !launched)
      return launched.Error();
  }
  QByteArray message = StartRequest(arguments, environment);
  if (std::size_t(message.size()) > MAX_REQUEST)
    return ErrnoError(E2BIG);

  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    return ErrnoError(errno);
  if (pipe2(err, O_CLOEXEC) != 0) {
    const int error = errno;
    close(out[0]);
    close(out[1]);
    return ErrnoError(error);
  }
  alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
  iovec part{message.data(), std::size_t(message.size())};
  msghdr header = {};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  cmsghdr* rights = CMSG_FIRSTHDR(&header);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(2 * sizeof(int));
  const int theirs[2] = {out[1], err[1]};
  std::memcpy(CMSG_DATA(rights), theirs, sizeof theirs);
  const bool sent = sendmsg(socket_, &header, MSG_NOSIGNAL) == message.size();
  const int sendError = errno;
  close(out[1]);
  close(err[1]);

  TLauncherNotice notice;
  EReceived received = sent ? EReceived::None : EReceived::Gone;
  while (sent) {
    received = Receive(notice, START_ANSWER_MS);
    if (received != EReceived::Notice || notice.kind == TLauncherNotice::EKind::Started)
      break;
    ended_.emplace_back(notice.pid, notice.value);
  }
  if (!ended_.empty())
    QTimer::singleShot(0, this, &TFleetLauncher::TellEnded);
  if (received != EReceived::Notice || notice.pid <= 0) {
    close(out[0]);
    close(err[0]);
    if (received == EReceived::Notice)
      return ErrnoError(notice.value);
    const TError why = sent ? TError{HubctlTexts::LauncherGone}
                            : SystemError(HubctlTexts::LauncherGone, sendError);
    Lose(why.text);
    return why;
  }
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  running_.push_back(notice.pid);
  return TChild{notice.pid, out[0], err[0]};
}

void TFleetLauncher::Signal(pid_t pid, int signal) {
  if (std::find(running_.begin(), running_.end(), pid) == running_.end() || socket_ < 0)
    return;
  TRequest request;
  request.kind = TRequest::EKind::Signal;
  request.pid = pid;
  request.signal = signal;
  send(socket_, &request, sizeof request, MSG_NOSIGNAL);
}

TFleetLauncher::EReceived TFleetLauncher::Receive(TLauncherNotice& notice, int timeoutMs) {
  pollfd wait{socket_, POLLIN, 0};
  int ready;
  while ((ready = poll(&wait, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  if (ready == 0)
    return EReceived::None;
  const ssize_t size = recv(socket_, &notice, sizeof notice, MSG_DONTWAIT);
  if (size < 0 && (errno == EAGAIN || errno == EINTR))
    return EReceived::None;
  return size == sizeof notice ? EReceived::Notice : EReceived::Gone;
}

void TFleetLauncher::ReadNotices() {
  TLauncherNotice notice;
  EReceived received;
  while ((received = Receive(notice, 0)) == EReceived::Notice) {
    if (notice.kind == TLauncherNotice::EKind::Ended)
      ended_.emplace_back(notice.pid, notice.value);
  }
  TellEnded();
  if (received == EReceived::Gone)
    Lose(HubctlTexts::LauncherGone);
}

void TFleetLauncher::TellEnded() {
  std::vector<std::pair<pid_t, int>> ended;
  ended.swap(ended_);
  for (const auto& [pid, status] : ended) {
    std::erase(running_, pid);
    emit Ended(pid, status);
  }
}

void TFleetLauncher::Lose(const QString& why) {
  if (socket_ < 0)
    return;
  notifier_.reset();
  close(socket_);
  socket_ = -1;
  lost_ = why;
  running_.clear();
  emit Lost(why);
}
