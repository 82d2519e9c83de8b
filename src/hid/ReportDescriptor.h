#pragma once
// Report lengths from a HID report descriptor, as the platform's HID stack would report them.

#include <cstddef>
#include <cstdint>

#include "hid/HidTypes.h"

// Per report type the largest report over all report ids, in bytes rounded up, plus one for the
// report-id byte (also without ids); 0 where the type has no reports. Never reads outside
// [data, data + size).
HIDP_CAPS CapsFromReportDescriptor(const std::uint8_t* data, std::size_t size);
