#pragma once
// One updater per hub on the machine, whoever runs it and in whatever environment. An update
// holds two flock() locks that every program sees:
// - on the hub's node itself (its own open of /dev/hidrawN), while the hub is at that node;
// - on a lock file per USB port in /run/lock, the machine's place for device locks, for the gaps
//   when the hub re-enumerates (its bootloader switch, its reboot) and its node changes.
// The kernel releases both on every way out, crashes included. The holder writes its pid and
// program name into the file so the other side can name it. Emulated hubs (nodes "sim:...")
// lock only within this program, so two demos never refuse each other. Under a umockdev testbed
// the lock files go into the testbed, beside its devices.

#include <QString>
#include <cerrno>
#include <optional>
#include <string>

#include "base/Result.h"

class THubLock {
 public:
  // The error code of a refusal because another program, or another lock of this one, holds
  // the hub; any other error means the lock cannot be taken and the hub must not be updated.
  static constexpr int IN_USE = EBUSY;

  THubLock() = default;
  ~THubLock();  // releases
  THubLock(const THubLock&) = delete;
  THubLock& operator=(const THubLock&) = delete;

  // Takes the locks of the hub at `node` whose port lock is `key` (its USB port, or its node when
  // the port is unknown). A refusal says why: IN_USE with e.g. "the hub is in use by another
  // program (halvek-hubctl, pid 1234)", also for a key or node already held by another THubLock
  // of this process; else what could not be done. Without a node (empty) only the port lock is
  // taken.
  TResult<void> Acquire(const std::string& key, const std::string& node);
  // The hub came back at `node` after re-enumerating: locks that node instead of the old one.
  // IN_USE when another program holds it; another error when it cannot be opened or locked, the
  // port lock holding on.
  TResult<void> FollowNode(const std::string& node);
  void Release();
  bool Held() const { return held_; }

  // Who holds the locks of the hub at `node` or of `key` when another process does (those this
  // process holds never count), e.g. "the hub is in use by another program (halvek-hubctl, pid
  // 1234)": a probe for commands that only talk to the hub.
  static std::optional<QString> HolderElsewhere(const std::string& key, const std::string& node);

  // Where the lock files go, and the file for `key` (for tests and messages).
  static QString Directory();
  static QString FileFor(const std::string& key);

 private:
  TResult<void> LockPortFile(const QString& path);

  bool held_ = false;
  int portFd_ = -1;
  int nodeFd_ = -1;
  QString portPath_;
  QString nodePath_;
};
