// Input reports of any length and content reaching the link's data handler, then every reply
// decoder on what it kept.

#include <algorithm>
#include <cstdlib>

#include "protocol/Commands.h"
#include "protocol/HubLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Byte 0: report id; byte 1: the exchange's result for the mode query; the rest: the report.
  if (size < 2) {
    return 0;
  }
  const std::uint8_t reportId = data[0];
  const int sendResult = data[1] == 0xFE ? -1 : data[1];
  const std::uint8_t* report = data + 2;
  const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(size - 2, 0xFFFF));

  THubLink link;
  link.HidDeviceData(nullptr, reportId, report, length);
  const ReplyBuffer& reply = link.Reply();
  const std::size_t kept = std::min<std::size_t>(length, BUFFER_SIZE);
  if (!std::equal(report, report + kept, reply.begin()) ||
      std::any_of(reply.begin() + static_cast<std::ptrdiff_t>(kept), reply.end(),
                  [](std::uint8_t b) { return b != 0; })) {
    std::abort();
  }

  const ReplyBuffer copy = reply;
  const TVersionReply version = DecodeVersionReply(copy);
  const EHubMode mode = ModeFromReply(sendResult, copy);
  const TStatusReadout status = DecodeStatusReply(copy);
  const auto levels = DecodeLedLevels(copy);
  if (mode != EHubMode::Application && mode != EHubMode::Bootloader && mode != EHubMode::Error) {
    std::abort();
  }
  // Keep the decoded values alive so that the decoders are not optimised away.
  volatile std::uint32_t sink =
      version.application ^ version.bootloader ^ status.voltage_mV ^ status.current_mA ^ levels[0];
  (void)sink;
  return 0;
}
