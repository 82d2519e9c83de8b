// Start-up of the updater. The window is still to come; until then this reports what the
// program carries.

#include <QCoreApplication>
#include <cstdio>

#include "update/EmbeddedFirmware.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const FirmwareLines image = LoadEmbeddedFirmware();
  if (!image.IsValid()) {
    std::fprintf(stderr, "halvek-updater: %s\n", image.Error().c_str());
    return 1;
  }
  std::printf("halvek-updater: embedded application %08X, %zu records in %zu lines\n",
              BUILTIN_APP_VERSION, image.RecordCount(), image.Count());
  return 0;
}
