// Firmware image text of any shape: every record that parses must fit a request frame, and an
// image taken as valid must be one the hub's bootloader takes: checksums right, records
// ascending without overlap inside the area, an end record last.

#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/Commands.h"
#include "update/FirmwareImage.h"

namespace {

// The built-in image's area; the fuzzer carries no image of its own.
constexpr TFirmwareArea AREA{0x1000, 0x36F7};

void Require(bool condition) {
  if (!condition)
    std::abort();
}

int Hex(std::string_view line, std::size_t at) {
  return std::stoi(std::string(line.substr(at, 2)), nullptr, 16);
}

// Recomputed here rather than trusted: the count, address and data bytes and the checksum that
// follows them sum to 0xFF in their low byte.
bool ChecksumHolds(std::string_view line) {
  const int count = Hex(line, 2);
  unsigned sum = count;
  for (int j = 0; j < count; ++j)
    sum += Hex(line, 4 + 2 * j);
  return (sum & 0xFF) == 0xFF;
}

void CheckRecord(const FirmwareRecord& r) {
  Require(r.type == 1 && r.count >= FIRMWARE_MIN_COUNT && r.count <= FIRMWARE_MAX_COUNT &&
          r.data.size() + 3 == r.count && !r.data.empty());
  for (const RequestBuffer& request : {LoadRecordRequest(r), ProgramRecordRequest(r)}) {
    Require(RequestLength(request) <= MAX_DATA_LENGTH);
    Require(BuildCommandFrame(CMD_PROGRAM_RECORD, request)[1] == FRAME_LEAD_BYTE);
  }
}

// What a valid image promises to the update.
void CheckValidImage(const FirmwareLines& image, bool withArea) {
  std::uint32_t end = 0;  // one past the last byte of the record before
  std::size_t endRecords = 0;
  for (std::size_t i = 0; i < image.Count(); ++i) {
    const std::string& line = image.Line(i);
    if (endRecords > 0) {
      Require(line.empty());
      continue;
    }
    Require(line.size() >= 4 && line[0] == ':' && ChecksumHolds(line));
    if (line[1] == '9')
      ++endRecords;
    if (const auto& record = image.Record(i)) {
      Require(record->address >= end);
      end = record->address + record->data.size();
      Require(end - 1 <= 0xFFFF);
      Require(!withArea || (record->address >= AREA.first && end - 1 <= AREA.last));
      Require(image.Area() && record->address >= image.Area()->first &&
              end - 1 <= image.Area()->last);
    }
  }
  Require(endRecords == 1);
  Require(image.Area().has_value() == (image.RecordCount() > 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto line = ParseFirmwareLine(text);
  Require(line || !line.Error().text.isEmpty());
  if (line && *line) {
    Require(ChecksumHolds(text));
    CheckRecord(**line);
  }

  const TResult<FirmwareLines> parsed = FirmwareLines::Parse(text);
  const TResult<FirmwareLines> inArea = FirmwareLines::Parse(text, AREA);
  // The area only ever refuses more.
  Require(!inArea || parsed);
  if (inArea)
    CheckValidImage(*inArea, true);
  if (!parsed) {
    Require(!parsed.Error().text.isEmpty());
    return 0;
  }
  const FirmwareLines& image = *parsed;
  std::size_t records = 0;
  for (std::size_t i = 0; i < image.Count(); ++i) {
    Require(image.Line(i).find_first_of("\r\n") == std::string::npos);
    if (const auto& record = image.Record(i)) {
      CheckRecord(*record);
      ++records;
    }
  }
  Require(records == image.RecordCount());
  CheckValidImage(image, false);
  return 0;
}
