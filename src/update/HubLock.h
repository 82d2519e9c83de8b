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
#include <string>

class THubLock {
 public:
  enum class EResult {
    Taken,
    InUse,   // another program holds the hub
    Failed,  // the lock cannot be taken: the hub must not be updated
  };

  THubLock() = default;
  ~THubLock();  // releases
  THubLock(const THubLock&) = delete;
  THubLock& operator=(const THubLock&) = delete;

  // Takes the locks of the hub at `node` whose port lock is `key` (its USB port, or its node when
  // the port is unknown). Anything but Taken sets `why`: for InUse e.g. "the hub is in use by
  // another program (halvek-hubctl, pid 1234)", for Failed what could not be done. A key or node
  // already held by another THubLock of this process is InUse too. Without a node (empty) only
  // the port lock is taken.
  EResult Acquire(const std::string& key, const std::string& node, QString& why);
  // The hub came back at `node` after re-enumerating: locks that node instead of the old one.
  // InUse when another program holds it; Failed (`why` set) when it cannot be opened or locked,
  // the port lock holding on.
  EResult FollowNode(const std::string& node, QString& why);
  void Release();
  bool Held() const { return held_; }

  // Whether another process holds the locks of the hub at `node` or of `key` (those this
  // process holds never count): a probe for commands that only talk to the hub.
  static bool HeldElsewhere(const std::string& key, const std::string& node,
                            QString* why = nullptr);

  // Where the lock files go, and the file for `key` (for tests and messages).
  static QString Directory();
  static QString FileFor(const std::string& key);

 private:
  bool held_ = false;
  int portFd_ = -1;
  int nodeFd_ = -1;
  QString portPath_;
  QString nodePath_;
};
