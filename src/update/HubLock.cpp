#include "update/HubLock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QThread>
#include <cstring>
#include <mutex>
#include <set>

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

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(strerror(error));
}

// The directory exists, is ours and nobody else's: another user must not be able to plant or
// hold our lock files.
bool PrepareDirectory(const QString& dir, QString& why) {
  const QByteArray path = QFile::encodeName(dir);
  if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    why = QStringLiteral("cannot make %1: %2").arg(dir, ErrnoText(errno));
    return false;
  }
  struct stat st = {};
  if (lstat(path.constData(), &st) != 0) {
    why = QStringLiteral("cannot use %1: %2").arg(dir, ErrnoText(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    why = QStringLiteral("%1 is not a directory of this user").arg(dir);
    return false;
  }
  if ((st.st_mode & 077) != 0 && chmod(path.constData(), 0700) != 0) {
    why = QStringLiteral("cannot make %1 private: %2").arg(dir, ErrnoText(errno));
    return false;
  }
  return true;
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

// Names the holder from what it wrote into the file.
QString InUseText(int fd) {
  char buffer[256];
  const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  const QString text = n > 0 ? QString::fromUtf8(buffer, n).trimmed() : QString();
  const qsizetype space = text.indexOf(QLatin1Char(' '));
  bool ok = false;
  const qint64 pid = text.left(space).toLongLong(&ok);
  if (!ok || pid <= 0 || space < 0)
    return QStringLiteral("the hub is in use by another program");
  return QStringLiteral("the hub is in use by another program (%1, pid %2)")
      .arg(text.mid(space + 1))
      .arg(pid);
}

QString NoLockText(const QString& reason) {
  return QStringLiteral("no lock against other programs for this hub (%1); going on without one")
      .arg(reason);
}

}  // namespace

THubLock::~THubLock() {
  Release();
}

QString THubLock::Directory() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty())
    return QFile::decodeName(runtime) + QStringLiteral("/halvek-hub-updater");
  return QStringLiteral("/tmp/halvek-hub-updater-%1").arg(geteuid());
}

QString THubLock::FileFor(const std::string& key) {
  // Letters, digits, '-' and '_' stay; every other byte is escaped, '/' and '.' included, so
  // no key leaves the directory.
  QString name;
  for (const unsigned char c : key) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      name += QLatin1Char(c);
    } else {
      name += QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
    }
  }
  // File names end at 255 bytes.
  if (name.size() > 200) {
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256);
    name = QStringLiteral("long-") + QString::fromLatin1(hash.toHex());
  } else {
    name = QStringLiteral("hub-") + name;
  }
  return Directory() + QLatin1Char('/') + name + QStringLiteral(".lock");
}

bool THubLock::Acquire(const std::string& key, QString& why) {
  why.clear();
  const QString path = FileFor(key);
  if (fd_ >= 0 && path == path_)
    return true;
  Release();
  if (!Register(path)) {
    why = QStringLiteral("the hub is already in use in this program");
    return false;
  }
  QString reason;
  if (!PrepareDirectory(Directory(), reason)) {
    Unregister(path);
    why = NoLockText(reason);
    return true;
  }
  const int fd =
      open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    Unregister(path);
    why = NoLockText(QStringLiteral("cannot open %1: %2").arg(path, ErrnoText(errno)));
    return true;
  }
  // A probe of another program holds the lock shared for a moment: try again briefly.
  for (int attempt = 0;; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
      break;
    const int error = errno;
    if (error == EINTR)
      continue;
    if (error == EWOULDBLOCK && attempt < 5) {
      QThread::msleep(1);
      continue;
    }
    if (error == EWOULDBLOCK) {
      why = InUseText(fd);
      close(fd);
      Unregister(path);
      return false;
    }
    close(fd);
    Unregister(path);
    why = NoLockText(QStringLiteral("cannot lock %1: %2").arg(path, ErrnoText(error)));
    return true;
  }
  // Who holds it, for the other side's message; without it the lock still holds.
  const QByteArray holder = QStringLiteral("%1 %2\n").arg(getpid()).arg(ProgramName()).toUtf8();
  if (ftruncate(fd, 0) == 0) {
    [[maybe_unused]] const ssize_t n = pwrite(fd, holder.constData(), holder.size(), 0);
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void THubLock::Release() {
  if (fd_ < 0)
    return;
  // No stale name for the next reader; the lock file itself stays, so that two programs never
  // lock two different files of one name.
  [[maybe_unused]] const int truncated = ftruncate(fd_, 0);
  close(fd_);
  fd_ = -1;
  Unregister(path_);
  path_.clear();
}

bool THubLock::HeldElsewhere(const std::string& key, QString* why) {
  const QString path = FileFor(key);
  if (Registered(path))
    return false;
  const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0)
    return false;
  // Shared, so that two probes never see each other.
  int result;
  do {
    result = flock(fd, LOCK_SH | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  const bool held = result != 0 && errno == EWOULDBLOCK;
  if (held && why)
    *why = InUseText(fd);
  close(fd);  // also ends a shared lock taken here
  return held;
}
