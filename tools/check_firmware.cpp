// Checks a firmware image before it is built into the programs; a broken image fails the build.
//
//   halvek-check-firmware IMAGE [STAMP]

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "update/FirmwareImage.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s IMAGE [STAMP]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read the firmware image\n", argv[1]);
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const TResult<FirmwareLines> parsed = FirmwareLines::Parse(text);
  if (!parsed) {
    std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(parsed.Error().text));
    return 1;
  }
  const FirmwareLines& image = *parsed;
  std::printf("%s: %zu lines, %zu records", argv[1], image.Count(), image.RecordCount());
  if (const auto& area = image.Area())
    std::printf(", 0x%04X to 0x%04X", area->first, area->last);
  std::printf("\n");
  if (argc == 3)
    std::ofstream(argv[2]) << image.RecordCount() << '\n';
  return 0;
}
