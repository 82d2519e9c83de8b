#pragma once
// The LED levels read from a hub before its bootloader switch, kept on disk until they are back
// on the hub: an update that fails or is cut short leaves the hub with its application erased,
// and the next update, which starts from the bootloader, can no longer read them from the hub.
// One small file per hub under $XDG_STATE_HOME/halvek-hub-updater/, a directory of this user's
// that nobody else may write to. Files are written whole (a new file, synced, renamed over the
// old one) and never through a link; only a small regular file is read.

#include <QString>
#include <array>
#include <map>
#include <optional>
#include <string>

#include "base/Result.h"
#include "protocol/Commands.h"

using TLedLevels = std::array<int, LED_CHANNEL_COUNT>;

class TLedLevelStore {
 public:
  // $XDG_STATE_HOME/halvek-hub-updater, or ~/.local/state/halvek-hub-updater.
  static QString DefaultDirectory();

  // An empty directory keeps the levels in memory only (emulated hubs).
  explicit TLedLevelStore(QString directory = DefaultDirectory());

  const QString& Directory() const { return directory_; }

  // Each fails when the file cannot be written, read or removed; the levels kept before a failed
  // Save stay as they were. Save's error is the reason alone ("No space left on device"); Load's
  // names the file it refused and why (a link, a FIFO, an empty or cut-short file...). Load
  // gives nothing, and no error, when no levels are kept for `key`.
  TResult<void> Save(const std::string& key, const TLedLevels& levels);
  TResult<std::optional<TLedLevels>> Load(const std::string& key);
  TResult<void> Remove(const std::string& key);

  // The file that holds the levels of `key` (any string: it never leads out of the directory).
  QString PathFor(const std::string& key) const;

 private:
  QString directory_;
  std::map<std::string, TLedLevels> memory_;
};
