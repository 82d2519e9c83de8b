#include "update/FirmwareImage.h"

#include <algorithm>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Two hex digits at 1-based position pos, or -1.
int HexByte(std::string_view line, std::size_t pos) {
  if (line.size() < pos + 1)
    return -1;
  const int hi = HexDigit(line[pos - 1]);
  const int lo = HexDigit(line[pos]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::string HexText(int value) {
  static const char digits[] = "0123456789ABCDEF";
  return {'0', 'x', digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

RequestBuffer RecordRequest(const FirmwareRecord& record, std::uint8_t first, std::uint8_t second) {
  std::vector<std::uint8_t> data = {first, second, 0x00, 0x00};
  data.insert(data.end(), record.data.begin(), record.data.end());
  return MakeRequest(data);
}

}  // namespace

std::vector<std::string> SplitImageLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n')
      continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

std::optional<FirmwareRecord> ParseFirmwareLine(std::string_view line, std::string* error) {
  auto fail = [error](std::string message) -> std::optional<FirmwareRecord> {
    if (error)
      *error = std::move(message);
    return std::nullopt;
  };
  if (error)
    error->clear();
  if (line.size() < 2)
    return fail("the line is too short to hold a record type");
  const int type = HexDigit(line[1]);
  if (type < 0)
    return fail("the record type is not hexadecimal");
  if (type != 1)
    return std::nullopt;

  const int count = HexByte(line, 3);
  if (count < 0)
    return fail("the record count is missing or not hexadecimal");
  if (count < FIRMWARE_MIN_COUNT || count > FIRMWARE_MAX_COUNT) {
    return fail("the record count " + HexText(count) + " is outside 0x03 to " +
                HexText(FIRMWARE_MAX_COUNT));
  }
  // Count bytes follow the four leading characters: address, data, trailing byte.
  if (line.size() < 4 + 2 * static_cast<std::size_t>(count)) {
    return fail("the line is shorter than its count " + HexText(count) + " says");
  }
  const int high = HexByte(line, 5);
  const int low = HexByte(line, 7);
  if (high < 0 || low < 0)
    return fail("the address is not hexadecimal");

  FirmwareRecord record;
  record.type = static_cast<std::uint8_t>(type);
  record.count = static_cast<std::uint8_t>(count);
  record.address = static_cast<std::uint16_t>(high << 8 | low);
  const int k = count - 3;
  record.data.reserve(k);
  for (int j = 0; j < k; ++j) {
    const int byte = HexByte(line, 9 + 2 * j);
    if (byte < 0)
      return fail("data byte " + std::to_string(j + 1) + " is not hexadecimal");
    record.data.push_back(static_cast<std::uint8_t>(byte));
  }
  return record;
}

RequestBuffer LoadRecordRequest(const FirmwareRecord& record) {
  return RecordRequest(record, 0x00, 0x00);
}

RequestBuffer ProgramRecordRequest(const FirmwareRecord& record) {
  return RecordRequest(record, static_cast<std::uint8_t>(record.address & 0xFF),
                       static_cast<std::uint8_t>(record.address >> 8));
}

FirmwareLines FirmwareLines::Parse(std::string_view text) {
  FirmwareLines image;
  image.lines_ = SplitImageLines(text);
  image.records_.reserve(image.lines_.size());
  std::string error;
  for (std::size_t i = 0; i < image.lines_.size(); ++i) {
    image.records_.push_back(ParseFirmwareLine(image.lines_[i], &error));
    if (image.records_.back())
      ++image.recordCount_;
    if (!error.empty() && image.error_.empty()) {
      image.error_ = "firmware image line " + std::to_string(i + 1) + ": " + error;
    }
  }
  if (image.lines_.empty() && image.error_.empty())
    image.error_ = "the firmware image is empty";
  return image;
}

FirmwareLines FirmwareLines::Invalid(std::string error) {
  FirmwareLines image;
  image.error_ = std::move(error);
  return image;
}
