#include "tool/StatusRead.h"

std::optional<TStatusReadout> ReadHubStatus(THubLink& link) {
  if (!link.CurrentDevice())
    return std::nullopt;
  const int result = link.SendFrame(CMD_READ_STATUS, MakeRequest());
  const ReplyBuffer reply = link.Reply();
  if (result != 0)
    return std::nullopt;
  return DecodeStatusReply(reply);
}
