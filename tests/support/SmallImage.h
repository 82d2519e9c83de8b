#pragma once
// A short firmware image for tests that program hubs.

#include <string>

#include "update/EmbeddedFirmware.h"
#include "update/FirmwareImage.h"

// The first `records` records of the built-in image and its last line: enough to exercise
// programming without sending 625 records.
inline FirmwareLines SmallImage(std::size_t records = 6) {
  const FirmwareLines full = LoadEmbeddedFirmware().Value();
  std::string text;
  std::size_t taken = 0;
  for (std::size_t i = 0; i < full.Count(); ++i) {
    const bool record = full.Record(i).has_value();
    if ((record && taken < records) || i + 1 == full.Count())
      text += full.Line(i) + "\n";
    taken += record;
  }
  return FirmwareLines::Parse(text).Value();
}
