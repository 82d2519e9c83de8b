#include "update/EmbeddedFirmware.h"

#include "update/EmbeddedResource.h"

FirmwareLines LoadEmbeddedFirmware() {
  const auto bytes = LoadEmbeddedResource(QStringLiteral("APP"), QStringLiteral("appbin"));
  if (!bytes)
    return FirmwareLines::Invalid("the embedded firmware image is missing");
  return FirmwareLines::Parse(std::string_view(bytes->constData(), bytes->size()));
}
