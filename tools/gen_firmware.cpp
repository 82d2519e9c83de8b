// Writes a stand-in application image of the same shape as the hub maker's: 626 lines of 48
// characters ended by CR LF; 625 type-1 records (623 of 16 data bytes, 2 of 4) at consecutive
// addresses and a closing type-9 line. The data bytes are pseudo-random but always the same.
//
//   halvek-gen-firmware OUTPUT

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kRecords = 625;
constexpr int kLineLength = 48;
constexpr std::uint16_t kStartAddress = 0x1000;
constexpr int kShortRecords[] = {311, 624};  // records with 4 data bytes

std::uint32_t state = 0x48564B31;  // fixed seed: the image must not change between builds
std::uint8_t NextByte() {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<std::uint8_t>(state >> 24);
}

void AppendHex(std::string& s, unsigned value, int digits) {
  static const char hex[] = "0123456789ABCDEF";
  for (int d = digits - 1; d >= 0; --d)
    s += hex[(value >> (4 * d)) & 0xF];
}

std::string Finish(std::string line) {
  line.resize(kLineLength, 'F');
  return line + "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  std::string text;
  std::uint16_t address = kStartAddress;
  for (int r = 0; r < kRecords; ++r) {
    const bool isShort = r == kShortRecords[0] || r == kShortRecords[1];
    const int k = isShort ? 4 : 16;
    const int count = k + 3;
    std::string line = ":1";
    AppendHex(line, count, 2);
    AppendHex(line, address, 4);
    unsigned sum = count + (address >> 8) + (address & 0xFF);
    for (int j = 0; j < k; ++j) {
      const std::uint8_t b = NextByte();
      AppendHex(line, b, 2);
      sum += b;
    }
    AppendHex(line, ~sum & 0xFF, 2);
    text += Finish(line);
    address = static_cast<std::uint16_t>(address + k);
  }
  text += Finish(":9030000FC");

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
