#include "update/EmbeddedFirmware.h"

#include <QFile>
#include <QFileInfo>

#include "update/EmbeddedResource.h"

FirmwareLines LoadEmbeddedFirmware() {
  const auto bytes = LoadEmbeddedResource(QStringLiteral("APP"), QStringLiteral("appbin"));
  if (!bytes)
    return FirmwareLines::Invalid("the embedded firmware image is missing");
  return FirmwareLines::Parse(std::string_view(bytes->constData(), bytes->size()));
}

FirmwareLines LoadFirmwareFile(const QString& path) {
  // A real image is some tens of kilobytes; this keeps /dev/zero and the like out.
  constexpr qint64 MAX_IMAGE_FILE_SIZE = 4 * 1024 * 1024;
  const QFileInfo info(path);
  const std::string name = path.toStdString();
  if (!info.exists())
    return FirmwareLines::Invalid(name + ": no such file");
  if (!info.isFile())
    return FirmwareLines::Invalid(name + ": not a regular file");
  if (info.size() > MAX_IMAGE_FILE_SIZE)
    return FirmwareLines::Invalid(name + ": too large for a firmware image");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return FirmwareLines::Invalid(name + ": " + file.errorString().toStdString());
  const QByteArray bytes = file.read(MAX_IMAGE_FILE_SIZE + 1);
  if (bytes.size() > MAX_IMAGE_FILE_SIZE)
    return FirmwareLines::Invalid(name + ": too large for a firmware image");
  // The hub's application area is where the built-in image lies.
  FirmwareLines image = FirmwareLines::Parse(std::string_view(bytes.constData(), bytes.size()),
                                             LoadEmbeddedFirmware().Area());
  if (!image.IsValid())
    return FirmwareLines::Invalid(name + ": " + image.Error());
  if (image.RecordCount() == 0)
    return FirmwareLines::Invalid(name + ": the firmware image holds no records");
  return image;
}
