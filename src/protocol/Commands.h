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
// CMD_READ_STATUS counters: charges completed, batteries inserted, minutes charged.
inline constexpr std::size_t STATUS_COUNTER_COUNT = 3;

// The status byte of a reply.
inline constexpr std::uint8_t HUB_STATUS_OK = 0x00;
// Not a frame: output report not 65 bytes, report id not 0, lead byte not 0x55, byte 3 not 0,
// or a length byte outside 5 to 64.
inline constexpr std::uint8_t HUB_STATUS_BAD_FRAME = 0x01;
// The CRC over the first n + 3 frame bytes does not match.
inline constexpr std::uint8_t HUB_STATUS_BAD_CRC = 0x02;
// A command code the hub does not know.
inline constexpr std::uint8_t HUB_STATUS_UNKNOWN_COMMAND = 0x03;
// The data length does not suit the command.
inline constexpr std::uint8_t HUB_STATUS_BAD_LENGTH = 0x04;
// A known command the present mode does not carry out (records in the application, LEDs and
// status in the bootloader).
inline constexpr std::uint8_t HUB_STATUS_WRONG_MODE = 0x05;
// A data value out of range: LED channel or level, version form, record header bytes.
inline constexpr std::uint8_t HUB_STATUS_BAD_ARGUMENT = 0x06;
// CMD_PROGRAM_RECORD out of turn: no CMD_LOAD_RECORD before it, or not at the address that
// follows the last programmed record.
inline constexpr std::uint8_t HUB_STATUS_SEQUENCE = 0x07;
// CMD_PROGRAM_RECORD with other data bytes than the CMD_LOAD_RECORD before it.
inline constexpr std::uint8_t HUB_STATUS_RECORD_MISMATCH = 0x08;
// The hub is in trouble; to the mode query this means EHubMode::Error. The emulated hub sends it
// only as an injected fault.
inline constexpr std::uint8_t HUB_STATUS_TROUBLE = 0xFF;

// The hub's mode. Application and Bootloader are the bytes the mode query's reply carries.
enum class EHubMode : std::uint8_t {
  Application = 0,
  Bootloader = 1,
  Error = 2,  // the hub answered the mode query with status 0xFF; never sent as a byte
};

// The command's name, for lines that say what the hub refused ("CMD_LOAD_RECORD").
const char* CommandName(std::uint8_t command);
// How many reply data bytes the program reads after `request` for `command` succeeded: a reply
// that carries fewer is not taken.
std::size_t ReplyDataNeeded(std::uint8_t command, const RequestBuffer& request);

// CMD_GET_VERSION: the greeting carries no data, the version query one byte 0x00.
RequestBuffer GreetingRequest();
RequestBuffer VersionQueryRequest();
// CMD_SET_LED_LEVEL: channel 1 to 8, level 0 to 100 (low bytes are sent as they are).
RequestBuffer LedLevelRequest(int channel, int level);

// Reply layouts: where each field starts in the reply buffer (src/protocol/README.md).
// CMD_GET_VERSION: two versions, most significant byte first.
inline constexpr std::size_t VERSION_APPLICATION_OFFSET = REPLY_DATA_OFFSET;     // 4 bytes
inline constexpr std::size_t VERSION_BOOTLOADER_OFFSET = REPLY_DATA_OFFSET + 4;  // 4 bytes
// CMD_QUERY_MODE: 0 application, 1 bootloader.
inline constexpr std::size_t MODE_OFFSET = REPLY_DATA_OFFSET;
// CMD_READ_STATUS: 16-bit values least significant byte first.
inline constexpr std::size_t STATUS_VOLTAGE_OFFSET = REPLY_DATA_OFFSET;      // 2 bytes, mV
inline constexpr std::size_t STATUS_CURRENT_OFFSET = REPLY_DATA_OFFSET + 2;  // 2 bytes, mA
inline constexpr std::size_t STATUS_STATE_OFFSET = REPLY_DATA_OFFSET + 4;
inline constexpr std::size_t STATUS_CHANNEL_OFFSET = REPLY_DATA_OFFSET + 5;
inline constexpr std::size_t STATUS_PRESENCE_OFFSET = REPLY_DATA_OFFSET + 6;  // bit 4 + i
inline constexpr std::size_t STATUS_COUNTERS_OFFSET = REPLY_DATA_OFFSET + 7;
// CMD_LED_ADJUST_BEGIN: the level of channel c at LED_LEVELS_OFFSET + c - 1.
inline constexpr std::size_t LED_LEVELS_OFFSET = REPLY_DATA_OFFSET;

struct TVersionReply {
  std::uint32_t application = 0;  // VERSION_APPLICATION_OFFSET
  std::uint32_t bootloader = 0;   // VERSION_BOOTLOADER_OFFSET
};
TVersionReply DecodeVersionReply(const ReplyBuffer& reply);

// The mode from the result of the CMD_QUERY_MODE exchange and its reply.
EHubMode ModeFromReply(int sendResult, const ReplyBuffer& reply);

struct TStatusReadout {
  std::uint16_t voltage_mV = 0;
  std::uint16_t current_mA = 0;
  std::uint8_t state = 0;
  std::uint8_t channel = 0;
  // Bit 4 + i of the presence byte for battery i + 1; the low four bits mean nothing to us.
  std::array<bool, BATTERY_COUNT> batteryPresent{};
  std::array<std::uint8_t, STATUS_COUNTER_COUNT> counters{};
};
TStatusReadout DecodeStatusReply(const ReplyBuffer& reply);

// CMD_LED_ADJUST_BEGIN: the eight levels as sent (may exceed 100).
std::array<std::uint8_t, LED_CHANNEL_COUNT> DecodeLedLevels(const ReplyBuffer& reply);
