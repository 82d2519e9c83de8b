#include "update/FirmwareImage.h"

#include <algorithm>
#include <map>

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

std::string HexText(std::uint32_t value, int digits = 2) {
  static const char hex[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    text += hex[(value >> shift) & 0xF];
  return text;
}

std::string HexAddress(std::uint32_t value) {
  return HexText(value, value > 0xFFFF ? 5 : 4);
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

TResult<std::optional<FirmwareRecord>> ParseFirmwareLine(std::string_view line) {
  auto fail = [](const std::string& message) { return TError{QString::fromStdString(message)}; };
  if (line.size() < 2)
    return fail("the line is too short to hold a record type");
  if (line[0] != ':')
    return fail("the line does not start with ':'");
  const int type = HexDigit(line[1]);
  if (type < 0)
    return fail("the record type is not hexadecimal");
  // 2, 3, 7 and 8 carry addresses wider than the hub's 16 bits.
  if (type != 0 && type != 1 && type != 5 && type != 9)
    return fail(std::string("the hub takes no record of type ") + line[1]);

  const int count = HexByte(line, 3);
  if (count < 0)
    return fail("the record count is missing or not hexadecimal");
  const int minCount = type == 1 ? FIRMWARE_MIN_COUNT : 3;
  const int maxCount = type == 1 ? FIRMWARE_MAX_COUNT : 0xFF;
  if (count < minCount || count > maxCount) {
    return fail("the record count " + HexText(count) + " is outside " + HexText(minCount) + " to " +
                HexText(maxCount));
  }
  // Count bytes follow the four leading characters: address, data, checksum.
  if (line.size() < 4 + 2 * static_cast<std::size_t>(count)) {
    return fail("the line is shorter than its count " + HexText(count) + " says");
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(count);
  unsigned sum = count;
  for (int j = 0; j < count; ++j) {
    const int byte = HexByte(line, 5 + 2 * j);
    if (byte < 0) {
      return fail(j < 2           ? "the address is not hexadecimal"
                  : j + 1 < count ? "data byte " + std::to_string(j - 1) + " is not hexadecimal"
                                  : "the checksum is not hexadecimal");
    }
    bytes.push_back(static_cast<std::uint8_t>(byte));
    if (j + 1 < count)
      sum += byte;
  }
  const int checksum = ~sum & 0xFF;
  if (bytes.back() != checksum) {
    return fail("the checksum is " + HexText(bytes.back()) + " but the record's bytes give " +
                HexText(checksum));
  }
  if (type != 1)
    return std::optional<FirmwareRecord>();

  FirmwareRecord record;
  record.type = static_cast<std::uint8_t>(type);
  record.count = static_cast<std::uint8_t>(count);
  record.address = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
  record.data.assign(bytes.begin() + 2, bytes.end() - 1);
  return std::optional(std::move(record));
}

RequestBuffer LoadRecordRequest(const FirmwareRecord& record) {
  return RecordRequest(record, 0x00, 0x00);
}

RequestBuffer ProgramRecordRequest(const FirmwareRecord& record) {
  return RecordRequest(record, static_cast<std::uint8_t>(record.address & 0xFF),
                       static_cast<std::uint8_t>(record.address >> 8));
}

TResult<FirmwareLines> FirmwareLines::Parse(std::string_view text,
                                            std::optional<TFirmwareArea> area) {
  FirmwareLines image;
  std::string error;
  image.lines_ = SplitImageLines(text);
  image.records_.reserve(image.lines_.size());
  auto note = [&error](std::size_t i, const std::string& what) {
    if (error.empty())
      error = "firmware image line " + std::to_string(i + 1) + ": " + what;
  };
  std::optional<std::size_t> endLine;
  std::map<std::uint16_t, std::size_t> lineOf;  // record address to line
  std::uint32_t previousFirst = 0;
  std::uint32_t previousEnd = 0;  // one past its last byte; 0 before the first record
  for (std::size_t i = 0; i < image.lines_.size(); ++i) {
    const std::string& line = image.lines_[i];
    const TResult<std::optional<FirmwareRecord>> parsed = ParseFirmwareLine(line);
    const auto& record =
        image.records_.emplace_back(parsed ? *parsed : std::optional<FirmwareRecord>());
    if (record)
      ++image.recordCount_;
    if (endLine) {
      if (!line.empty())
        note(i, "a line after the end record of line " + std::to_string(*endLine + 1));
      continue;
    }
    if (!parsed) {
      note(i, parsed.Error().text.toStdString());
      continue;
    }
    if (!record) {
      if (line[1] == '9')
        endLine = i;
      continue;
    }
    const std::uint32_t first = record->address;
    const std::uint32_t last = first + record->data.size() - 1;
    const std::string where = "the record at " + HexAddress(first);
    const auto [seen, isNew] = lineOf.emplace(record->address, i);
    if (!isNew) {
      note(i, where + " comes twice (first on line " + std::to_string(seen->second + 1) + ")");
    } else if (first < previousFirst) {
      note(i, where + " comes after the one at " + HexAddress(previousFirst) +
                  ": records must ascend");
    } else if (first < previousEnd) {
      note(i, where + " overlaps the one at " + HexAddress(previousFirst));
    } else if (last > 0xFFFF) {
      note(i, where + " runs past address 0xFFFF");
    } else if (area && (first < area->first || last > area->last)) {
      note(i, where + " to " + HexAddress(last) + " is outside the application area " +
                  HexAddress(area->first) + " to " + HexAddress(area->last));
    }
    const auto lastByte = static_cast<std::uint16_t>(std::min<std::uint32_t>(last, 0xFFFF));
    if (!image.area_)
      image.area_ = TFirmwareArea{record->address, lastByte};
    image.area_->last = std::max(image.area_->last, lastByte);
    previousFirst = first;
    previousEnd = last + 1;
  }
  if (image.lines_.empty())
    error = "the firmware image is empty";
  else if (!endLine)
    note(image.lines_.size() - 1, "the image ends without an end record (type 9): is it cut off?");
  if (!error.empty())
    return TError{QString::fromStdString(error)};
  return image;
}
