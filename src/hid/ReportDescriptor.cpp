#include "hid/ReportDescriptor.h"

HIDP_CAPS CapsFromReportDescriptor(const std::uint8_t*, std::size_t) { return {}; }
