#pragma once
// The application image the programs carry: text lines in S-record layout with ':' as the first
// character. Type-1 lines are records the hub gets; a header (0), a record count (5) and the end
// record (9) are checked and skipped. The data bytes are enciphered for the hub and passed on as
// they are. Every line ends in a checksum: the ones' complement of the low byte of the sum of its
// count, address and data bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "protocol/Frame.h"

// Record counts are limited so that a request stays within the frame's 59 data bytes; the hub
// takes no record without a data byte.
inline constexpr int FIRMWARE_MIN_COUNT = 4;
inline constexpr int FIRMWARE_MAX_COUNT = static_cast<int>(MAX_DATA_LENGTH) - 1;

struct FirmwareRecord {
  std::uint8_t type = 0;
  std::uint8_t count = 0;  // address (2) + data + trailing byte
  std::uint16_t address = 0;
  std::vector<std::uint8_t> data;  // count - 3 bytes
};

// The addresses a set of records covers, first and last byte.
struct TFirmwareArea {
  std::uint16_t first = 0;
  std::uint16_t last = 0;
};

// Splits at CR, LF or CR LF; a final line break adds no empty line.
std::vector<std::string> SplitImageLines(std::string_view text);

// One line: a record for type 1, nothing for the other types; an error when the line breaks the
// format, its checksum is wrong or its type is not one the hub takes.
TResult<std::optional<FirmwareRecord>> ParseFirmwareLine(std::string_view line);

// Request data of CMD_LOAD_RECORD (0, 0, 0, 0, data) and CMD_PROGRAM_RECORD (address low,
// address high, 0, 0, data): n = count + 1 for both.
RequestBuffer LoadRecordRequest(const FirmwareRecord& record);
RequestBuffer ProgramRecordRequest(const FirmwareRecord& record);

// The whole image, checked once as the hub's bootloader would take it: every line sound, the
// records in ascending order, none twice or overlapping, an end record last (only empty lines
// may follow it) and, when `area` is given, every record inside it. An image that fails, with its
// first problem and line, must never be sent: the update would stop half-way, or end with a hub
// that has no working application.
class FirmwareLines {
 public:
  FirmwareLines() = default;
  static TResult<FirmwareLines> Parse(std::string_view text,
                                      std::optional<TFirmwareArea> area = {});

  std::size_t Count() const { return lines_.size(); }
  const std::string& Line(std::size_t i) const { return lines_[i]; }
  // The record of line i, or none for a skipped line.
  const std::optional<FirmwareRecord>& Record(std::size_t i) const { return records_[i]; }
  std::size_t RecordCount() const { return recordCount_; }
  // The first and last address the records cover; none without records.
  const std::optional<TFirmwareArea>& Area() const { return area_; }

 private:
  std::vector<std::string> lines_;
  std::vector<std::optional<FirmwareRecord>> records_;
  std::size_t recordCount_ = 0;
  std::optional<TFirmwareArea> area_;
};
