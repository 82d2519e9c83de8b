#include "update/LedLevelStore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
// A port such as "usb-0000:00:14.0-2" as a file name: anything but letters, digits, '.', '-'
// and '_' becomes '_', so no key can leave the directory.
QString FileNameFor(const std::string& port) {
  QString name = port.empty() ? QStringLiteral("unknown-port") : QString::fromStdString(port);
  for (QChar& c : name) {
    if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '-' && c != '_' && c != '.')
      c = '_';
  }
  if (name.startsWith('.'))
    name.prepend('_');
  return QStringLiteral("leds-%1.txt").arg(name);
}
}  // namespace

QString TLedLevelStore::DefaultDirectory() {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QStringLiteral("/halvek-hub-updater");
}

TLedLevelStore::TLedLevelStore(QString directory) : directory_(std::move(directory)) {}

QString TLedLevelStore::PathFor(const std::string& port) const {
  return QDir(directory_).filePath(FileNameFor(port));
}

bool TLedLevelStore::Save(const std::string& port, const TLedLevels& levels, QString& error) {
  memory_[port] = levels;
  if (directory_.isEmpty())
    return true;
  if (!QDir().mkpath(directory_)) {
    error = QStringLiteral("cannot create %1").arg(directory_);
    return false;
  }
  QByteArray text;
  for (int level : levels)
    text += QByteArray::number(level) + ' ';
  text.back() = '\n';
  // Written whole or not at all: a half-written file would give wrong levels later.
  QSaveFile file(PathFor(port));
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
    error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return false;
  }
  return true;
}

std::optional<TLedLevels> TLedLevelStore::Load(const std::string& port, QString& error) {
  if (directory_.isEmpty()) {
    const auto it = memory_.find(port);
    return it == memory_.end() ? std::nullopt : std::optional(it->second);
  }
  QFile file(PathFor(port));
  if (!file.exists())
    return std::nullopt;
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
    return std::nullopt;
  }
  const QList<QByteArray> words = file.read(256).simplified().split(' ');
  TLedLevels levels{};
  bool valid = words.size() == LED_CHANNEL_COUNT;
  for (int i = 0; valid && i < LED_CHANNEL_COUNT; ++i) {
    bool ok = false;
    levels[i] = words[i].toInt(&ok);
    valid = ok && levels[i] >= 0 && levels[i] <= LED_LEVEL_MAX;
  }
  if (!valid) {
    error = QStringLiteral("%1 does not hold eight LED levels").arg(file.fileName());
    return std::nullopt;
  }
  return levels;
}

bool TLedLevelStore::Remove(const std::string& port, QString& error) {
  memory_.erase(port);
  if (directory_.isEmpty())
    return true;
  QFile file(PathFor(port));
  if (file.exists() && !file.remove()) {
    error = QStringLiteral("cannot remove %1: %2").arg(file.fileName(), file.errorString());
    return false;
  }
  return true;
}
