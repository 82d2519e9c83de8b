#pragma once
// The hub as a USB HID device: its ids, and its report descriptor (vendor page, one 64-byte
// input and one 64-byte output report, no report ids). The emulated hubs present the
// descriptor; the HID tests parse it for the lengths 65/65.

#include <cstdint>
#include <vector>

inline constexpr std::uint32_t HUB_VENDOR_ID = 0xFFF0;
inline constexpr std::uint32_t HUB_PRODUCT_ID = 0x0018;

inline const std::vector<std::uint8_t>& HubReportDescriptor() {
  static const std::vector<std::uint8_t> descriptor = {
      0x06, 0x00, 0xFF,  // usage page: vendor defined 0xFF00
      0x09, 0x01,        // usage 1
      0xA1, 0x01,        // collection: application
      0x15, 0x00,        //   logical minimum 0
      0x26, 0xFF, 0x00,  //   logical maximum 255
      0x75, 0x08,        //   report size 8 bits
      0x95, 0x40,        //   report count 64
      0x09, 0x02,        //   usage 2
      0x81, 0x02,        //   input: data, variable, absolute
      0x09, 0x03,        //   usage 3
      0x91, 0x02,        //   output: data, variable, absolute
      0xC0,              // end collection
  };
  return descriptor;
}
