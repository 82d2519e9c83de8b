#include "hid/ReportDescriptor.h"

#include <algorithm>
#include <array>

namespace {

// Item prefix: bits 0-1 size code, bits 2-3 type, bits 4-7 tag.
constexpr std::uint8_t TYPE_MAIN = 0;
constexpr std::uint8_t TYPE_GLOBAL = 1;
constexpr std::uint8_t TYPE_LOCAL = 2;
constexpr std::uint8_t LONG_ITEM_PREFIX = 0xFE;

constexpr std::uint8_t MAIN_INPUT = 0x8;
constexpr std::uint8_t MAIN_OUTPUT = 0x9;
constexpr std::uint8_t MAIN_COLLECTION = 0xA;
constexpr std::uint8_t MAIN_FEATURE = 0xB;
constexpr std::uint8_t MAIN_END_COLLECTION = 0xC;

constexpr std::uint8_t GLOBAL_USAGE_PAGE = 0x0;
constexpr std::uint8_t GLOBAL_REPORT_SIZE = 0x7;
constexpr std::uint8_t GLOBAL_REPORT_ID = 0x8;
constexpr std::uint8_t GLOBAL_REPORT_COUNT = 0x9;
constexpr std::uint8_t GLOBAL_PUSH = 0xA;
constexpr std::uint8_t GLOBAL_POP = 0xB;

constexpr std::uint8_t LOCAL_USAGE = 0x0;

constexpr std::uint32_t COLLECTION_APPLICATION = 0x01;

// Real descriptors push a level or two at most; deeper nesting is taken as broken.
constexpr std::size_t GLOBAL_STACK_DEPTH = 16;

constexpr std::uint32_t MAX_LENGTH = 0xFFFF;
// Enough bits for the largest length we can report; sums saturate here so they cannot wrap.
constexpr std::uint64_t MAX_REPORT_BITS = std::uint64_t{MAX_LENGTH} * 8;

enum class EReportKind { Input, Output, Feature };
constexpr std::size_t REPORT_KIND_COUNT = 3;

// The global items that matter for report lengths and the collection usage.
struct TGlobalState {
  std::uint32_t usagePage = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;  // 0: no id declared (yet)
};

struct TReports {
  // Report ids are one byte on the wire; 0 collects the reports of a descriptor without ids.
  std::array<std::array<std::uint32_t, 256>, REPORT_KIND_COUNT> bits{};
  // Sums only grow, so the longest report so far is the longest of all.
  std::array<std::uint32_t, REPORT_KIND_COUNT> longest{};
  std::array<bool, REPORT_KIND_COUNT> any{};
  bool withId = false;

  void Add(EReportKind kind, std::uint32_t id, const TGlobalState& g) {
    // Two 32-bit factors: the product and the saturated sum both fit in 64 bits.
    const std::uint64_t itemBits = std::uint64_t{g.reportSize} * g.reportCount;
    const auto k = static_cast<std::size_t>(kind);
    std::uint32_t& sum = bits[k][id];
    sum = static_cast<std::uint32_t>(std::min(sum + itemBits, MAX_REPORT_BITS));
    longest[k] = std::max(longest[k], sum);
    any[k] = true;
    withId = withId || id != 0;
  }

  std::uint16_t Length(EReportKind kind) const {
    const auto k = static_cast<std::size_t>(kind);
    if (!any[k]) {
      return 0;
    }
    // Whole bytes plus the leading report-id byte, which the length always counts.
    return static_cast<std::uint16_t>(
        std::min<std::uint32_t>((longest[k] + 7) / 8 + 1, MAX_LENGTH));
  }
};

}  // namespace

HIDP_CAPS CapsFromReportDescriptor(const std::uint8_t* data, std::size_t size) {
  return ParseReportDescriptor(data, size).Caps;
}

TReportDescriptorInfo ParseReportDescriptor(const std::uint8_t* data, std::size_t size) {
  TReportDescriptorInfo info;
  HIDP_CAPS& caps = info.Caps;
  if (data == nullptr) {
    return info;
  }

  TReports reports;
  TGlobalState global;
  std::array<TGlobalState, GLOBAL_STACK_DEPTH> stack;
  std::size_t stackDepth = 0;
  std::size_t collectionDepth = 0;
  bool haveApplication = false;
  // The first usage of the current local set, and whether it named its own page.
  bool haveUsage = false;
  std::uint32_t firstUsage = 0;
  bool usageHasPage = false;

  std::size_t pos = 0;
  // A broken item ends the walk; the reports before it still count. Lengths do not depend on
  // collections, so unbalanced collection ends are harmless and only tracked for the usage.
  while (pos < size) {
    const std::uint8_t prefix = data[pos];
    if (prefix == LONG_ITEM_PREFIX) {
      // Long items: data size, tag, data. No standard long item exists; skip them whole.
      if (size - pos < 3) {
        break;
      }
      const std::size_t itemSize = std::size_t{3} + data[pos + 1];
      if (size - pos < itemSize) {
        break;
      }
      pos += itemSize;
      continue;
    }

    const std::size_t dataSize = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
    if (size - pos - 1 < dataSize) {
      break;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < dataSize; ++i) {
      value |= std::uint32_t{data[pos + 1 + i]} << (8 * i);
    }
    pos += 1 + dataSize;

    const std::uint8_t type = (prefix >> 2) & 0x3;
    const std::uint8_t tag = prefix >> 4;
    bool broken = false;

    if (type == TYPE_MAIN) {
      switch (tag) {
        case MAIN_INPUT:
          reports.Add(EReportKind::Input, global.reportId, global);
          break;
        case MAIN_OUTPUT:
          reports.Add(EReportKind::Output, global.reportId, global);
          break;
        case MAIN_FEATURE:
          reports.Add(EReportKind::Feature, global.reportId, global);
          break;
        case MAIN_COLLECTION:
          if (collectionDepth == 0 && !haveApplication &&
              (value & 0xFF) == COLLECTION_APPLICATION) {
            haveApplication = true;
            // A four-byte usage carries its page in the high half; a shorter one takes the page
            // in force at the collection, even when that page was set after the usage.
            caps.Usage = static_cast<std::uint16_t>(haveUsage ? firstUsage & 0xFFFF : 0);
            caps.UsagePage = static_cast<std::uint16_t>(
                haveUsage && usageHasPage ? firstUsage >> 16 : global.usagePage & 0xFFFF);
          }
          ++collectionDepth;
          break;
        case MAIN_END_COLLECTION:
          if (collectionDepth > 0) {
            --collectionDepth;
          }
          break;
        default:
          break;
      }
      // Local items last until the next main item.
      haveUsage = false;
    } else if (type == TYPE_GLOBAL) {
      switch (tag) {
        case GLOBAL_USAGE_PAGE:
          global.usagePage = value;
          break;
        case GLOBAL_REPORT_SIZE:
          global.reportSize = value;
          break;
        case GLOBAL_REPORT_COUNT:
          global.reportCount = value;
          break;
        case GLOBAL_REPORT_ID:
          // The id travels in one byte, and 0 is reserved for "no id".
          if (value == 0 || value > 0xFF) {
            broken = true;
          } else {
            global.reportId = value;
          }
          break;
        case GLOBAL_PUSH:
          if (stackDepth == stack.size()) {
            broken = true;
          } else {
            stack[stackDepth++] = global;
          }
          break;
        case GLOBAL_POP:
          if (stackDepth == 0) {
            broken = true;
          } else {
            global = stack[--stackDepth];
          }
          break;
        default:
          break;
      }
    } else if (type == TYPE_LOCAL) {
      if (tag == LOCAL_USAGE && !haveUsage) {
        haveUsage = true;
        firstUsage = value;
        usageHasPage = dataSize == 4;
      }
    }
    if (broken) {
      break;
    }
  }

  caps.InputReportByteLength = reports.Length(EReportKind::Input);
  caps.OutputReportByteLength = reports.Length(EReportKind::Output);
  caps.FeatureReportByteLength = reports.Length(EReportKind::Feature);
  info.UsesReportIds = reports.withId;
  return info;
}
