#include "update/HubLock.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cstring>
#include <mutex>
#include <set>

#include "update/KeyFileName.h"

namespace {

// flock() belongs to the open file description: a second open in this process would conflict
// with our own lock, so the locks this process holds are also kept here.
std::mutex& HeldMutex() {
  static std::mutex mutex;
  return mutex;
}
std::set<QString>& HeldPaths() {
  static std::set<QString> paths;
  return paths;
}
bool Register(const QString& path) {
  std::lock_guard lock(HeldMutex());
  return HeldPaths().insert(path).second;
}
void Unregister(const QString& path) {
  std::lock_guard lock(HeldMutex());
  HeldPaths().erase(path);
}
bool Registered(const QString& path) {
  std::lock_guard lock(HeldMutex());
  return HeldPaths().count(path) != 0;
}

bool IsEmulated(const std::string& node) {
  return node.rfind("sim:", 0) == 0;
}

const QString InUseByAnother = QStringLiteral("the hub is in use by another program");

// The lock directory is a real directory of root's (or of this user, in a testbed), and sticky
// when others may write to it, so that nobody removes or replaces another's lock file. A missing
// one is made as the system makes /run/lock; only root can, outside a testbed.
TResult<void> CheckDirectory(const QString& dir) {
  const QByteArray path = QFile::encodeName(dir);
  struct stat st = {};
  if (lstat(path.constData(), &st) != 0 && errno == ENOENT) {
    QDir().mkpath(QFileInfo(dir).path());
    if (mkdir(path.constData(), 01777) == 0)
      chmod(path.constData(), 01777);
  }
  if (lstat(path.constData(), &st) != 0)
    return SystemError(dir, errno);
  if (S_ISLNK(st.st_mode))
    return TError{QStringLiteral("%1 is a symbolic link, not a directory").arg(dir)};
  if (!S_ISDIR(st.st_mode))
    return TError{QStringLiteral("%1 is not a directory").arg(dir)};
  if (st.st_uid != 0 && st.st_uid != geteuid())
    return TError{QStringLiteral("%1 belongs to another user").arg(dir)};
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0)
    return TError{QStringLiteral("%1 can be written by others and is not sticky").arg(dir)};
  return {};
}

// Opens the lock file, made if missing, never through a link. A file another user made opens
// read-only: flock() needs no more.
TResult<int> OpenLockFile(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int flags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
    fd = open(name.constData(), O_RDWR | flags);
    if (fd < 0 && errno == EACCES)
      fd = open(name.constData(), O_RDONLY | flags);
    if (fd < 0 && errno == ENOENT) {
      fd = open(name.constData(), O_RDWR | O_CREAT | O_EXCL | flags, 0644);
      if (fd >= 0)
        fchmod(fd, 0644);  // whatever the umask: every user must be able to open it
      else if (errno == EEXIST)
        continue;  // made by another program meanwhile
    }
    if (fd < 0)
      break;
  }
  struct stat st = {};
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    return fd;
  if (fd >= 0) {
    close(fd);
    return TError{QStringLiteral("%1 is not a regular file").arg(path)};
  }
  if (errno == ELOOP)
    return TError{QStringLiteral("%1 is a symbolic link: not followed").arg(path), ELOOP};
  return SystemError(QStringLiteral("cannot open %1").arg(path), errno);
}

// flock() without waiting; `operation` LOCK_EX or LOCK_SH. 0, or flock's errno: EWOULDBLOCK
// when another program holds it. A probe of another program holds a lock shared for a moment:
// an exclusive one is tried again briefly.
int Lock(int fd, int operation) {
  for (int attempt = 0;; ++attempt) {
    if (flock(fd, operation | LOCK_NB) == 0)
      return 0;
    const int error = errno;
    if (error == EINTR)
      continue;
    if (error == EWOULDBLOCK && operation == LOCK_EX && attempt < 5) {
      QThread::msleep(1);
      continue;
    }
    return error;
  }
}

TError InUse(const QString& who) {
  return {who, THubLock::IN_USE};
}

// Whether `fd` is still what `path` names: the file was not removed or replaced, the node not
// made anew for another device. A node may be a link (udev's, a testbed's): it is followed.
bool StillNamed(int fd, const QString& path, bool followLink) {
  struct stat opened = {}, named = {};
  const QByteArray name = QFile::encodeName(path);
  return fd >= 0 && fstat(fd, &opened) == 0 &&
         (followLink ? stat(name.constData(), &named) : lstat(name.constData(), &named)) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

QString ProgramName() {
  QString name;
  if (QCoreApplication::instance())
    name = QCoreApplication::applicationName();
  if (name.isEmpty())
    name = QString::fromLocal8Bit(program_invocation_short_name);
  // One line, whatever the name holds.
  for (QChar& c : name) {
    if (c.isSpace() || !c.isPrint())
      c = QLatin1Char('_');
  }
  return name;
}

// Names the holder from what it wrote into the lock file, when that program still runs (a
// holder that cannot write the file leaves an earlier one's words in it).
QString InUseText(int fd) {
  char buffer[256];
  const ssize_t n = fd < 0 ? -1 : pread(fd, buffer, sizeof buffer - 1, 0);
  const QString text = n > 0 ? QString::fromUtf8(buffer, n).trimmed() : QString();
  const qsizetype space = text.indexOf(QLatin1Char(' '));
  bool ok = false;
  const qint64 pid = text.left(space).toLongLong(&ok);
  if (!ok || pid <= 0 || space < 0 || (kill(pid_t(pid), 0) != 0 && errno != EPERM))
    return InUseByAnother;
  return QStringLiteral("%1 (%2, pid %3)")
      .arg(InUseByAnother, text.mid(space + 1), QString::number(pid));
}

// Whether another program holds `fd`'s file; the shared probe lock goes with the close.
bool ProbeHeld(int fd) {
  return fd >= 0 && Lock(fd, LOCK_SH) == EWOULDBLOCK;
}

}  // namespace

THubLock::~THubLock() {
  Release();
}

QString THubLock::Directory() {
  // A umockdev testbed's hubs exist only in it: their locks go there too.
  return qEnvironmentVariable("UMOCKDEV_DIR") + QStringLiteral("/run/lock");
}

QString THubLock::FileFor(const std::string& key) {
  return Directory() + QStringLiteral("/halvek-hub-") + KeyFileName(key) + QStringLiteral(".lock");
}

TResult<void> THubLock::Acquire(const std::string& key, const std::string& node) {
  const QString path = FileFor(key);
  if (held_ && path == portPath_ && (IsEmulated(node) || nodePath_ == QString::fromStdString(node)))
    return {};
  Release();
  if (!Register(path))
    return InUse(QStringLiteral("the hub is already in use in this program"));
  held_ = true;
  portPath_ = path;
  if (IsEmulated(node))
    return {};

  TResult<void> result = LockPortFile(path);
  if (result)
    result = FollowNode(node);
  if (!result) {
    Release();
    return result;
  }
  // Who holds it, for the other side's message; without it the lock still holds.
  const QByteArray holder = QStringLiteral("%1 %2\n").arg(getpid()).arg(ProgramName()).toUtf8();
  if (ftruncate(portFd_, 0) == 0) {
    [[maybe_unused]] const ssize_t n = pwrite(portFd_, holder.constData(), holder.size(), 0);
  }
  return {};
}

TResult<void> THubLock::LockPortFile(const QString& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (TResult<void> directory = CheckDirectory(Directory()); !directory)
      return directory;
    const TResult<int> opened = OpenLockFile(path);
    if (!opened)
      return opened.Error();
    const int fd = *opened;
    const int error = Lock(fd, LOCK_EX);
    if (error == 0 && StillNamed(fd, path, false)) {
      portFd_ = fd;
      return {};
    }
    const QString holder = error == EWOULDBLOCK ? InUseText(fd) : QString();
    close(fd);
    if (error == EWOULDBLOCK)
      return InUse(holder);
    if (error != 0)
      return SystemError(QStringLiteral("cannot lock %1").arg(path), error);
    // Removed or replaced while it was being locked: once more.
  }
  return TError{QStringLiteral("cannot lock %1: it keeps being replaced").arg(path)};
}

TResult<void> THubLock::FollowNode(const std::string& node) {
  const QString path = QString::fromStdString(node);
  if (!held_)
    return TError{QStringLiteral("no lock is held for the hub")};
  if (IsEmulated(node) || node.empty() || (path == nodePath_ && StillNamed(nodeFd_, path, true)))
    return {};
  // A node name the kernel gave again to the hub coming back is another node: our lock on the
  // old one goes first, or it would refuse us.
  const bool sameName = path == nodePath_;
  if (sameName && nodeFd_ >= 0) {
    close(nodeFd_);
    nodeFd_ = -1;
  } else if (!sameName && !Register(path)) {
    return InUse(QStringLiteral("the hub is already in use in this program"));
  }
  // Its own open of the node: the lock is on the node, whoever opens it.
  const int fd =
      open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  const int error = fd < 0 ? errno : Lock(fd, LOCK_EX);
  if (error != 0) {
    if (fd >= 0)
      close(fd);
    if (!sameName)
      Unregister(path);
    if (error == EWOULDBLOCK)
      return InUse(InUseByAnother);
    return SystemError(QStringLiteral("cannot lock %1").arg(path), error);
  }
  if (!sameName && nodeFd_ >= 0)
    close(nodeFd_);
  if (!sameName && !nodePath_.isEmpty())
    Unregister(nodePath_);
  nodeFd_ = fd;
  nodePath_ = path;
  return {};
}

void THubLock::Release() {
  if (!held_)
    return;
  held_ = false;
  if (portFd_ >= 0) {
    // No stale name for the next reader; the lock file itself stays, so that two programs never
    // lock two different files of one name.
    [[maybe_unused]] const int truncated = ftruncate(portFd_, 0);
    close(portFd_);
    portFd_ = -1;
  }
  if (nodeFd_ >= 0)
    close(nodeFd_);
  nodeFd_ = -1;
  if (!nodePath_.isEmpty())
    Unregister(nodePath_);
  Unregister(portPath_);
  portPath_.clear();
  nodePath_.clear();
}

std::optional<QString> THubLock::HolderElsewhere(const std::string& key, const std::string& node) {
  if (IsEmulated(node))
    return std::nullopt;
  QString text;
  const QString path = FileFor(key);
  if (!Registered(path)) {
    const int fd = open(QFile::encodeName(path).constData(),
                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (ProbeHeld(fd))
      text = InUseText(fd);
    if (fd >= 0)
      close(fd);
  }
  const QString nodePath = QString::fromStdString(node);
  if (text.isEmpty() && !node.empty() && !Registered(nodePath)) {
    const int fd =
        open(QFile::encodeName(nodePath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (ProbeHeld(fd))
      text = InUseByAnother;
    if (fd >= 0)
      close(fd);
  }
  return text.isEmpty() ? std::nullopt : std::optional(text);
}
