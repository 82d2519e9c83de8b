#include "update/EmbeddedFirmware.h"

#include <QFile>
#include <QFileInfo>

#include "update/EmbeddedResource.h"

TResult<FirmwareLines> LoadEmbeddedFirmware() {
  const auto bytes = LoadEmbeddedResource(QStringLiteral("APP"), QStringLiteral("appbin"));
  if (!bytes)
    return TError{QStringLiteral("the embedded firmware image is missing")};
  return FirmwareLines::Parse(std::string_view(bytes->constData(), bytes->size()));
}

TResult<FirmwareLines> LoadFirmwareFile(const QString& path) {
  // A real image is some tens of kilobytes; this keeps /dev/zero and the like out.
  constexpr qint64 MAX_IMAGE_FILE_SIZE = 4 * 1024 * 1024;
  const QFileInfo info(path);
  if (!info.exists())
    return TError{path + QStringLiteral(": no such file")};
  if (!info.isFile())
    return TError{path + QStringLiteral(": not a regular file")};
  if (info.size() > MAX_IMAGE_FILE_SIZE)
    return TError{path + QStringLiteral(": too large for a firmware image")};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return TError{path + QStringLiteral(": ") + file.errorString()};
  const QByteArray bytes = file.read(MAX_IMAGE_FILE_SIZE + 1);
  if (bytes.size() > MAX_IMAGE_FILE_SIZE)
    return TError{path + QStringLiteral(": too large for a firmware image")};
  // The hub's application area is where the built-in image lies.
  const TResult<FirmwareLines> builtIn = LoadEmbeddedFirmware();
  TResult<FirmwareLines> image =
      FirmwareLines::Parse(std::string_view(bytes.constData(), bytes.size()),
                           builtIn ? builtIn->Area() : std::optional<TFirmwareArea>());
  if (!image)
    return image.Error().Prefixed(path);
  if (image->RecordCount() == 0)
    return TError{path + QStringLiteral(": the firmware image holds no records")};
  return image;
}
