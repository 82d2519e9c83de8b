#include "protocol/Frame.h"

#include <algorithm>
#include <cassert>

RequestBuffer MakeRequest(std::span<const std::uint8_t> data) {
  RequestBuffer request{};
  assert(data.size() <= BUFFER_SIZE - REQUEST_DATA_OFFSET);
  const std::size_t n = std::min(data.size(), BUFFER_SIZE - REQUEST_DATA_OFFSET);
  request[REQUEST_LENGTH_OFFSET] = static_cast<std::uint8_t>(n);
  std::copy_n(data.begin(), n, request.begin() + REQUEST_DATA_OFFSET);
  return request;
}

ReplyBuffer BuildReply(std::uint8_t command, std::uint8_t status,
                       std::span<const std::uint8_t> data) {
  ReplyBuffer reply{};
  const std::size_t n = std::min(data.size(), MAX_DATA_LENGTH);
  reply[REPLY_LEAD_OFFSET] = FRAME_LEAD_BYTE;
  reply[REPLY_LENGTH_OFFSET] = static_cast<std::uint8_t>(n + LENGTH_BYTE_OVERHEAD);
  reply[REPLY_COMMAND_OFFSET] = command;
  reply[REPLY_STATUS_OFFSET] = status;
  std::copy_n(data.begin(), n, reply.begin() + REPLY_DATA_OFFSET);
  return reply;
}

std::uint8_t Crc8(const CommandFrame& frame, std::uint8_t count) {
  // Shift-register form: the register starts with the first byte, every following byte is
  // shifted in from the top, then eight zero bits flush it. Equal to the table-free CRC-8.
  std::uint8_t reg = count > FRAME_LEAD_OFFSET ? frame[FRAME_LEAD_OFFSET] : 0;
  auto shift = [&reg](std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool top = (reg & 0x80) != 0;
      reg = static_cast<std::uint8_t>((reg << 1) | ((byte >> bit) & 1));
      if (top)
        reg ^= 0x07;
    }
  };
  for (std::size_t i = FRAME_LEAD_OFFSET + 1; i < count && i < FRAME_SIZE; ++i)
    shift(frame[i]);
  shift(0);
  return reg;
}

CommandFrame BuildCommandFrame(std::uint8_t command, const RequestBuffer& request) {
  const std::size_t n = std::min(RequestLength(request), MAX_DATA_LENGTH);
  CommandFrame frame{};
  frame[FRAME_REPORT_ID_OFFSET] = 0x00;
  frame[FRAME_LEAD_OFFSET] = FRAME_LEAD_BYTE;
  frame[FRAME_LENGTH_OFFSET] = static_cast<std::uint8_t>(n + LENGTH_BYTE_OVERHEAD);
  frame[FRAME_ZERO_OFFSET] = 0x00;
  frame[FRAME_COMMAND_OFFSET] = command;
  std::copy_n(request.begin() + REQUEST_DATA_OFFSET, n, frame.begin() + FRAME_DATA_OFFSET);
  // The hub leaves the last data byte out of the CRC.
  frame[FRAME_DATA_OFFSET + n] = Crc8(frame, static_cast<std::uint8_t>(n + FRAME_DATA_OFFSET - 1));
  return frame;
}
