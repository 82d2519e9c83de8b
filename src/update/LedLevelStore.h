#pragma once
// The LED levels read from a hub before its bootloader switch, kept on disk until they are back
// on the hub: an update that fails or is cut short leaves the hub with its application erased,
// and the next update, which starts from the bootloader, can no longer read them from the hub.
// One small file per USB port under $XDG_STATE_HOME/halvek-hub-updater/.

#include <QString>
#include <array>
#include <map>
#include <optional>
#include <string>

#include "protocol/Commands.h"

using TLedLevels = std::array<int, LED_CHANNEL_COUNT>;

class TLedLevelStore {
 public:
  // $XDG_STATE_HOME/halvek-hub-updater, or ~/.local/state/halvek-hub-updater.
  static QString DefaultDirectory();

  // An empty directory keeps the levels in memory only (emulated hubs).
  explicit TLedLevelStore(QString directory = DefaultDirectory());

  const QString& Directory() const { return directory_; }

  // Each returns false (or nothing) with `error` set when the file cannot be written, read or
  // removed. Load gives nothing and no error when no levels are kept for the port.
  bool Save(const std::string& port, const TLedLevels& levels, QString& error);
  std::optional<TLedLevels> Load(const std::string& port, QString& error);
  bool Remove(const std::string& port, QString& error);

  // The file that holds the levels of `port`.
  QString PathFor(const std::string& port) const;

 private:
  QString directory_;
  std::map<std::string, TLedLevels> memory_;
};
