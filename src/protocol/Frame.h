#pragma once
// The command frame every request travels in, its CRC-8, and the buffers around it.

#include <array>
#include <cstdint>
#include <span>

inline constexpr std::uint8_t FRAME_LEAD_BYTE = 0x55;
inline constexpr std::size_t BUFFER_SIZE = 64;
inline constexpr std::size_t FRAME_SIZE = BUFFER_SIZE + 1;  // with the report id: 65
// The length byte of a frame and of a reply: n data bytes + this (lead byte, length, byte 3,
// command, and the CRC or the status).
inline constexpr std::size_t LENGTH_BYTE_OVERHEAD = 5;
// 59 data bytes fit in a 64-byte report.
inline constexpr std::size_t MAX_DATA_LENGTH = BUFFER_SIZE - LENGTH_BYTE_OVERHEAD;

// Where things are in a request frame (the output report, report id first).
inline constexpr std::size_t FRAME_REPORT_ID_OFFSET = 0;  // 0
inline constexpr std::size_t FRAME_LEAD_OFFSET = 1;       // FRAME_LEAD_BYTE
inline constexpr std::size_t FRAME_LENGTH_OFFSET = 2;     // n + LENGTH_BYTE_OVERHEAD
inline constexpr std::size_t FRAME_ZERO_OFFSET = 3;       // 0
inline constexpr std::size_t FRAME_COMMAND_OFFSET = 4;
inline constexpr std::size_t FRAME_DATA_OFFSET = 5;  // n data bytes, then the CRC
// Where things are in a RequestBuffer.
inline constexpr std::size_t REQUEST_LENGTH_OFFSET = 1;  // n
inline constexpr std::size_t REQUEST_DATA_OFFSET = 4;

// Where things are in a reply (the input report without its report id).
inline constexpr std::size_t REPLY_LEAD_OFFSET = 0;     // FRAME_LEAD_BYTE
inline constexpr std::size_t REPLY_LENGTH_OFFSET = 1;   // n + LENGTH_BYTE_OVERHEAD
inline constexpr std::size_t REPLY_COMMAND_OFFSET = 3;  // the command echoed
inline constexpr std::size_t REPLY_STATUS_OFFSET = 4;   // 0: done
inline constexpr std::size_t REPLY_DATA_OFFSET = 5;     // n data bytes

// Byte 1 holds the data length n, the data bytes start at byte 4.
using RequestBuffer = std::array<std::uint8_t, BUFFER_SIZE>;
// The last input report without its report id: lead byte, ..., status at 4, data from 5.
using ReplyBuffer = std::array<std::uint8_t, BUFFER_SIZE>;
// Report id 0, lead byte, n + 5, 0, command, n data bytes, CRC, zero padding.
using CommandFrame = std::array<std::uint8_t, FRAME_SIZE>;

// A zero-filled request carrying `data`. The caller must keep data within MAX_DATA_LENGTH + 1
// bytes (one more than allowed is representable so that the refusal can be tested).
RequestBuffer MakeRequest(std::span<const std::uint8_t> data = {});

inline std::size_t RequestLength(const RequestBuffer& request) {
  return request[REQUEST_LENGTH_OFFSET];
}

// A hub's reply to `command`: lead byte, 5 + n, 0, command, status, the n data bytes, zero
// padding. Data beyond MAX_DATA_LENGTH bytes is cut off. The program only reads replies; the
// emulated hub and the tests build them with this.
ReplyBuffer BuildReply(std::uint8_t command, std::uint8_t status,
                       std::span<const std::uint8_t> data = {});

// CRC-8 (polynomial 0x07, initial 0, no reflection, no final XOR) over frame bytes 1 to
// count - 1. The hub expects it over n + 3 bytes, which leaves the last data byte uncovered.
std::uint8_t Crc8(const CommandFrame& frame, std::uint8_t count);

// The frame for `command` and `request`, CRC included. The request must hold at most
// MAX_DATA_LENGTH data bytes.
CommandFrame BuildCommandFrame(std::uint8_t command, const RequestBuffer& request);
