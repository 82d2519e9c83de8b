// Firmware image text of any shape: every record that parses must fit a request frame.

#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/Commands.h"
#include "update/FirmwareImage.h"

namespace {

void CheckRecord(const FirmwareRecord& r) {
  if (r.type != 1 || r.count < FIRMWARE_MIN_COUNT || r.count > FIRMWARE_MAX_COUNT ||
      r.data.size() + 3 != r.count) {
    std::abort();
  }
  for (const RequestBuffer& request : {LoadRecordRequest(r), ProgramRecordRequest(r)}) {
    if (RequestLength(request) > MAX_DATA_LENGTH) {
      std::abort();
    }
    const CommandFrame frame = BuildCommandFrame(CMD_PROGRAM_RECORD, request);
    if (frame[1] != FRAME_LEAD_BYTE) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::string error;
  if (const auto record = ParseFirmwareLine(text, &error)) {
    if (!error.empty()) {
      std::abort();
    }
    CheckRecord(*record);
  }
  ParseFirmwareLine(text, nullptr);

  const FirmwareLines image = FirmwareLines::Parse(text);
  std::size_t records = 0;
  for (std::size_t i = 0; i < image.Count(); ++i) {
    if (image.Line(i).find_first_of("\r\n") != std::string::npos) {
      std::abort();
    }
    if (const auto& record = image.Record(i)) {
      CheckRecord(*record);
      ++records;
    }
  }
  if (records != image.RecordCount() || image.IsValid() == !image.Error().empty()) {
    std::abort();
  }
  return 0;
}
