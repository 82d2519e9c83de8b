#pragma once
// The hub's commands: codes, the requests the program sends and typed views of the replies it
// reads. Decoders take a copy of the reply buffer; they are meaningful only when the exchange
// returned 0.

#include <array>
#include <cstdint>

#include "protocol/Frame.h"

inline constexpr std::uint8_t CMD_GET_VERSION = 1;
inline constexpr std::uint8_t CMD_QUERY_MODE = 4;
inline constexpr std::uint8_t CMD_PROGRAM_RECORD = 6;
inline constexpr std::uint8_t CMD_ENTER_BOOTLOADER = 7;
inline constexpr std::uint8_t CMD_LOAD_RECORD = 9;
inline constexpr std::uint8_t CMD_REBOOT = 11;
inline constexpr std::uint8_t CMD_READ_STATUS = 16;
inline constexpr std::uint8_t CMD_SET_LED_LEVEL = 241;
inline constexpr std::uint8_t CMD_LED_ADJUST_BEGIN = 242;
inline constexpr std::uint8_t CMD_LED_ADJUST_END = 243;

inline constexpr int LED_CHANNEL_COUNT = 8;
inline constexpr int LED_LEVEL_MAX = 100;
inline constexpr int BATTERY_COUNT = 4;

// Hub modes as the update sees them.
inline constexpr int MODE_APPLICATION = 0;
inline constexpr int MODE_BOOTLOADER = 1;
inline constexpr int MODE_ERROR = 2;  // the hub answered the mode query with status 0xFF

// CMD_GET_VERSION: the greeting carries no data, the version query one byte 0x00.
RequestBuffer GreetingRequest();
RequestBuffer VersionQueryRequest();
// CMD_SET_LED_LEVEL: channel 1 to 8, level 0 to 100 (low bytes are sent as they are).
RequestBuffer LedLevelRequest(int channel, int level);

struct VersionReply {
  std::uint32_t application = 0;  // reply bytes 5 to 8, most significant first
  std::uint32_t bootloader = 0;   // reply bytes 9 to 12
};
VersionReply DecodeVersionReply(const ReplyBuffer& reply);

// The mode from the result of the CMD_QUERY_MODE exchange and its reply.
int ModeFromReply(int sendResult, const ReplyBuffer& reply);

struct StatusReadout {
  std::uint16_t voltage_mV = 0;  // bytes 5, 6, least significant first
  std::uint16_t current_mA = 0;  // bytes 7, 8
  std::uint8_t state = 0;        // byte 9
  std::uint8_t channel = 0;      // byte 10
  // Byte 11, bit 4 + i for battery i + 1; the low four bits mean nothing to us.
  std::array<bool, BATTERY_COUNT> batteryPresent{};
  std::array<std::uint8_t, 3> counters{};  // bytes 12, 13, 14
};
StatusReadout DecodeStatusReply(const ReplyBuffer& reply);

// CMD_LED_ADJUST_BEGIN: level of channel c in reply byte 4 + c, as sent (may exceed 100).
std::array<std::uint8_t, LED_CHANNEL_COUNT> DecodeLedLevels(const ReplyBuffer& reply);
