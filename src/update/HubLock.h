#pragma once
// An advisory lock per hub, keyed by its USB port (or its node when the port is unknown), so two
// programs never update or talk to the same hub at once. flock() on a file under
// $XDG_RUNTIME_DIR/halvek-hub-updater/ (fallback when unset: a per-user dir under /tmp, mode 0700);
// the kernel releases it on every way out, crashes included. The holder writes its pid and
// program name into the file so the other side can name it.

#include <QString>
#include <string>

class THubLock {
 public:
  THubLock() = default;
  ~THubLock();  // releases
  THubLock(const THubLock&) = delete;
  THubLock& operator=(const THubLock&) = delete;

  // Takes the lock for `key`. False when another process holds it: `why` then names it, e.g.
  // "the hub is in use by another program (halvek-hubctl, pid 1234)". When no lock file can be
  // made at all (no writable directory) it returns true with `why` telling so (locking must
  // never stop an update); the caller logs it. Otherwise `why` is left empty.
  // A key already held by another THubLock of this process is refused too.
  bool Acquire(const std::string& key, QString& why);
  void Release();
  // Whether this object holds a lock (false after an Acquire that went on without a lock file).
  bool Held() const { return fd_ >= 0; }

  // Whether another process holds the lock of `key` (a lock this process holds never counts):
  // a probe for commands that only talk to the hub.
  static bool HeldElsewhere(const std::string& key, QString* why = nullptr);

  // Where the lock files go, and the file for `key` (for tests and messages).
  static QString Directory();
  static QString FileFor(const std::string& key);

 private:
  int fd_ = -1;
  QString path_;
};
