#include "update/EmbeddedResource.h"

#include <QDir>
#include <QFile>

namespace {
// The entry of `dir` whose name equals `name` ignoring case, or an empty string.
QString FindEntry(const QString& dir, const QString& name, QDir::Filters filters) {
  const QStringList entries = QDir(dir).entryList(filters);
  for (const QString& entry : entries) {
    if (entry.compare(name, Qt::CaseInsensitive) == 0)
      return dir + '/' + entry;
  }
  return {};
}
}  // namespace

std::optional<QByteArray> LoadEmbeddedResource(const QString& type, const QString& name) {
  const QString dir = FindEntry(QStringLiteral(":"), type, QDir::Dirs);
  if (dir.isEmpty())
    return std::nullopt;
  const QString path = FindEntry(dir, name, QDir::Files);
  if (path.isEmpty())
    return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return std::nullopt;
  return file.readAll();
}
