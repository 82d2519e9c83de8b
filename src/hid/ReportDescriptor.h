#pragma once
// Report lengths from a HID report descriptor, as the platform's HID stack would report them.

#include <cstddef>
#include <cstdint>

#include "hid/HidCaps.h"

// Per report type the largest report over all report ids, in bytes rounded up, plus one for the
// report-id byte (also without ids); 0 where the type has no reports. Lengths cover the whole
// descriptor (one hidraw node carries all its collections); Usage and UsagePage come from the
// first top-level application collection. Lengths past 0xFFFF clamp to 0xFFFF.
// Never reads outside [data, data + size). A broken item (cut off by the end, pop without push,
// more than 16 nested pushes, report id 0 or over 255) ends the walk; reports before it count.
// An Input, Output or Feature item of zero bits still declares its report.
HIDP_CAPS CapsFromReportDescriptor(const std::uint8_t* data, std::size_t size);

// What one walk of a descriptor tells. Both answers come from the same walk, so that the lengths
// and the report-id byte can never disagree.
struct TReportDescriptorInfo {
  HIDP_CAPS Caps;
  // Reports start with their id: some Input, Output or Feature item was declared under a report
  // id. A report id item after the last main item declares nothing.
  bool UsesReportIds = false;
};
TReportDescriptorInfo ParseReportDescriptor(const std::uint8_t* data, std::size_t size);
