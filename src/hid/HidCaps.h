#pragma once
// The report lengths of a device: what the pure descriptor parser and the device layer share.

#include <cstdint>

// Report lengths of a device. Both report lengths count the leading report-id byte, also for a
// device that uses no report ids; 0 where the device has no report of that type.
struct HIDP_CAPS {
  std::uint16_t Usage = 0;
  std::uint16_t UsagePage = 0;
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
};
