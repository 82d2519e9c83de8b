#include "protocol/Commands.h"

namespace {
std::uint32_t BigEndian32(const ReplyBuffer& r, std::size_t at) {
  return (std::uint32_t{r[at]} << 24) | (std::uint32_t{r[at + 1]} << 16) |
         (std::uint32_t{r[at + 2]} << 8) | std::uint32_t{r[at + 3]};
}
std::uint16_t LittleEndian16(const ReplyBuffer& r, std::size_t at) {
  return static_cast<std::uint16_t>(r[at] | (r[at + 1] << 8));
}
}  // namespace

const char* CommandName(std::uint8_t command) {
  switch (command) {
    case CMD_GET_VERSION:
      return "CMD_GET_VERSION";
    case CMD_QUERY_MODE:
      return "CMD_QUERY_MODE";
    case CMD_PROGRAM_RECORD:
      return "CMD_PROGRAM_RECORD";
    case CMD_ENTER_BOOTLOADER:
      return "CMD_ENTER_BOOTLOADER";
    case CMD_LOAD_RECORD:
      return "CMD_LOAD_RECORD";
    case CMD_REBOOT:
      return "CMD_REBOOT";
    case CMD_READ_STATUS:
      return "CMD_READ_STATUS";
    case CMD_SET_LED_LEVEL:
      return "CMD_SET_LED_LEVEL";
    case CMD_LED_ADJUST_BEGIN:
      return "CMD_LED_ADJUST_BEGIN";
    case CMD_LED_ADJUST_END:
      return "CMD_LED_ADJUST_END";
  }
  return "an unknown command";
}

std::size_t ReplyDataNeeded(std::uint8_t command, const RequestBuffer& request) {
  switch (command) {
    case CMD_GET_VERSION:
      // The greeting's reply is not read.
      return RequestLength(request) == 0 ? 0 : VERSION_BOOTLOADER_OFFSET + 4 - REPLY_DATA_OFFSET;
    case CMD_QUERY_MODE:
      return MODE_OFFSET + 1 - REPLY_DATA_OFFSET;
    case CMD_READ_STATUS:
      return STATUS_COUNTERS_OFFSET + STATUS_COUNTER_COUNT - REPLY_DATA_OFFSET;
    case CMD_LED_ADJUST_BEGIN:
      return LED_LEVELS_OFFSET + LED_CHANNEL_COUNT - REPLY_DATA_OFFSET;
    default:
      return 0;
  }
}

RequestBuffer GreetingRequest() {
  return MakeRequest();
}

RequestBuffer VersionQueryRequest() {
  const std::uint8_t data[] = {0x00};
  return MakeRequest(data);
}

RequestBuffer LedLevelRequest(int channel, int level) {
  const std::uint8_t data[] = {static_cast<std::uint8_t>(channel & 0xFF),
                               static_cast<std::uint8_t>(level & 0xFF)};
  return MakeRequest(data);
}

TVersionReply DecodeVersionReply(const ReplyBuffer& reply) {
  return {BigEndian32(reply, VERSION_APPLICATION_OFFSET),
          BigEndian32(reply, VERSION_BOOTLOADER_OFFSET)};
}

EHubMode ModeFromReply(int sendResult, const ReplyBuffer& reply) {
  constexpr auto bootloader = static_cast<std::uint8_t>(EHubMode::Bootloader);
  if (sendResult == HUB_STATUS_OK)
    return reply[MODE_OFFSET] == bootloader ? EHubMode::Bootloader : EHubMode::Application;
  if (sendResult == HUB_STATUS_TROUBLE)
    return EHubMode::Error;
  return EHubMode::Application;
}

TStatusReadout DecodeStatusReply(const ReplyBuffer& reply) {
  TStatusReadout s;
  s.voltage_mV = LittleEndian16(reply, STATUS_VOLTAGE_OFFSET);
  s.current_mA = LittleEndian16(reply, STATUS_CURRENT_OFFSET);
  s.state = reply[STATUS_STATE_OFFSET];
  s.channel = reply[STATUS_CHANNEL_OFFSET];
  for (int i = 0; i < BATTERY_COUNT; ++i)
    s.batteryPresent[i] = (reply[STATUS_PRESENCE_OFFSET] >> (4 + i)) & 1;
  for (std::size_t i = 0; i < s.counters.size(); ++i)
    s.counters[i] = reply[STATUS_COUNTERS_OFFSET + i];
  return s;
}

std::array<std::uint8_t, LED_CHANNEL_COUNT> DecodeLedLevels(const ReplyBuffer& reply) {
  std::array<std::uint8_t, LED_CHANNEL_COUNT> levels{};
  for (std::size_t i = 0; i < levels.size(); ++i)
    levels[i] = reply[LED_LEVELS_OFFSET + i];
  return levels;
}
