#include "update/LedLevelStore.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cstring>
#include <utility>

#include "update/KeyFileName.h"

namespace {

// Eight levels of at most three digits, seven spaces and a newline fit many times over.
constexpr qint64 MAX_FILE_SIZE = 256;

QString FileNameFor(const std::string& key) {
  return QStringLiteral("leds-%1.txt").arg(KeyFileName(key));
}

// Closes on every way out.
class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0)
      close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  // Closes now, for the error close() may give; -1 with errno set when it fails.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd);
  }

 private:
  int fd_;
};

// What a file that is not a regular one is, for the refusal.
QString KindOf(mode_t mode) {
  if (S_ISDIR(mode))
    return QStringLiteral("a directory");
  if (S_ISFIFO(mode))
    return QStringLiteral("a FIFO");
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return QStringLiteral("a device");
  if (S_ISSOCK(mode))
    return QStringLiteral("a socket");
  return QStringLiteral("not a regular file");
}

// The store's directory, opened without following a link, when it is this user's and nobody
// else may write to it: a directory others can write to would let them plant the file. With
// `create`, a missing one is made (mode 0700); without, a missing one gives -1 and no error.
TResult<int> OpenDirectory(const QString& directory, bool create) {
  const QByteArray path = QFile::encodeName(directory);
  if (create && access(path.constData(), F_OK) != 0) {
    QDir().mkpath(QFileInfo(directory).path());
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
      return SystemError(QStringLiteral("cannot create %1").arg(directory), errno);
  }
  const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int failure = errno;
    struct stat st = {};
    if (failure == ENOENT && !create)
      return -1;
    if (lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode))
      return TError{QStringLiteral("%1 is a symbolic link, not a directory").arg(directory),
                    failure};
    if (failure == ENOTDIR)
      return TError{QStringLiteral("%1 is not a directory").arg(directory), failure};
    return SystemError(QStringLiteral("cannot open %1").arg(directory), failure);
  }
  // A refused directory is closed again; the one taken passes to the caller.
  TFd dir(fd);
  struct stat st = {};
  if (fstat(fd, &st) != 0)
    return SystemError(QStringLiteral("cannot open %1").arg(directory), errno);
  if (st.st_uid != geteuid())
    return TError{QStringLiteral("%1 belongs to another user").arg(directory)};
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return TError{QStringLiteral("%1 can be written by other users").arg(directory)};
  return dir.Release();
}

// 0, or the errno of the write that failed; a write that takes only part goes on with the rest.
int WriteAll(int fd, const QByteArray& data) {
  qsizetype done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.constData() + done, data.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errno;
    if (n == 0)
      return EIO;
    done += n;
  }
  return 0;
}

}  // namespace

QString TLedLevelStore::DefaultDirectory() {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QStringLiteral("/halvek-hub-updater");
}

TLedLevelStore::TLedLevelStore(QString directory) : directory_(std::move(directory)) {}

QString TLedLevelStore::PathFor(const std::string& key) const {
  return QDir(directory_).filePath(FileNameFor(key));
}

TResult<void> TLedLevelStore::Save(const std::string& key, const TLedLevels& levels) {
  memory_[key] = levels;
  if (directory_.isEmpty())
    return {};
  const TResult<int> opened = OpenDirectory(directory_, true);
  if (!opened)
    return opened.Error();
  const TFd dir(*opened);
  QByteArray text;
  for (int level : levels)
    text += QByteArray::number(level) + ' ';
  text.back() = '\n';

  // Written whole or not at all: a new file of our own beside the old one, renamed over it once
  // it is on disk. The rename replaces whatever has the name, a link included, and follows none.
  const QByteArray name = QFile::encodeName(FileNameFor(key));
  QByteArray temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
    temp = '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16);
    fd = openat(dir.Get(), temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0600);
    if (fd < 0 && errno != EEXIST)
      break;
  }
  if (fd < 0)
    return ErrnoError(errno);
  TFd file(fd);
  int failure = WriteAll(file.Get(), text);
  if (failure == 0 && fsync(file.Get()) != 0)
    failure = errno;
  if (file.Close() != 0 && failure == 0)
    failure = errno;
  if (failure == 0 && renameat(dir.Get(), temp.constData(), dir.Get(), name.constData()) != 0)
    failure = errno;
  if (failure != 0) {
    unlinkat(dir.Get(), temp.constData(), 0);
    return ErrnoError(failure);
  }
  // The rename on disk too; a file system that cannot sync a directory has done what it can.
  fsync(dir.Get());
  return {};
}

TResult<std::optional<TLedLevels>> TLedLevelStore::Load(const std::string& key) {
  if (directory_.isEmpty()) {
    const auto it = memory_.find(key);
    return it == memory_.end() ? std::nullopt : std::optional(it->second);
  }
  const TResult<int> opened = OpenDirectory(directory_, false);
  if (!opened)
    return opened.Error();
  const TFd dir(*opened);
  if (dir.Get() < 0)
    return std::optional<TLedLevels>();
  const QString path = PathFor(key);
  // Never waits: a FIFO opens at once and is refused below.
  const TFd file(openat(dir.Get(), QFile::encodeName(FileNameFor(key)).constData(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.Get() < 0) {
    if (errno == ELOOP)
      return TError{QStringLiteral("%1 is a symbolic link: not followed").arg(path), ELOOP};
    if (errno != ENOENT)
      return SystemError(QStringLiteral("cannot read %1").arg(path), errno);
    return std::optional<TLedLevels>();
  }
  struct stat st = {};
  if (fstat(file.Get(), &st) != 0)
    return SystemError(QStringLiteral("cannot read %1").arg(path), errno);
  if (!S_ISREG(st.st_mode))
    return TError{QStringLiteral("%1 is %2, not a file of LED levels: not read")
                      .arg(path, KindOf(st.st_mode))};
  if (st.st_size > MAX_FILE_SIZE)
    return TError{QStringLiteral("%1 is too big (%2 bytes) to hold LED levels: not read")
                      .arg(path, QString::number(st.st_size))};
  char buffer[MAX_FILE_SIZE + 1];
  ssize_t n;
  do {
    n = read(file.Get(), buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return SystemError(QStringLiteral("cannot read %1").arg(path), errno);
  const QByteArray text(buffer, n);
  // Every file written here ends with its newline: without one it was cut short.
  if (text.isEmpty())
    return TError{QStringLiteral("%1 is empty: no LED levels taken from it").arg(path)};
  if (!text.endsWith('\n'))
    return TError{QStringLiteral("%1 is cut short: no LED levels taken from it").arg(path)};
  const QList<QByteArray> words = text.simplified().split(' ');
  TLedLevels levels{};
  bool valid = words.size() == LED_CHANNEL_COUNT;
  for (int i = 0; valid && i < LED_CHANNEL_COUNT; ++i) {
    bool ok = false;
    levels[i] = words[i].toInt(&ok);
    valid = ok && levels[i] >= 0 && levels[i] <= LED_LEVEL_MAX;
  }
  if (!valid)
    return TError{QStringLiteral("%1 does not hold eight LED levels").arg(path)};
  return std::optional(levels);
}

TResult<void> TLedLevelStore::Remove(const std::string& key) {
  memory_.erase(key);
  if (directory_.isEmpty())
    return {};
  const TResult<int> opened = OpenDirectory(directory_, false);
  if (!opened)
    return opened.Error();
  const TFd dir(*opened);
  if (dir.Get() < 0)
    return {};
  // Removes a link itself, never what it points to.
  if (unlinkat(dir.Get(), QFile::encodeName(FileNameFor(key)).constData(), 0) != 0 &&
      errno != ENOENT)
    return SystemError(QStringLiteral("cannot remove %1").arg(PathFor(key)), errno);
  return {};
}
