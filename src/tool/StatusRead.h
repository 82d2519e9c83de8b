#pragma once

#include <optional>

#include "protocol/Commands.h"
#include "protocol/HubLink.h"

// One CMD_READ_STATUS exchange: the decoded readout, or nothing when there is no hub, no reply
// or a non-zero status (the display then keeps what it showed).
std::optional<TStatusReadout> ReadHubStatus(THubLink& link);
