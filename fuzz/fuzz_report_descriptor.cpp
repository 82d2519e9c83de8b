// Report descriptors of any shape: no read outside the buffer, no overflow, and a prefix never
// reports more than the whole.

#include <cstdlib>
#include <vector>

#include "hid/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const HIDP_CAPS whole = CapsFromReportDescriptor(data, size);
  if (size == 0) {
    return 0;
  }
  // An exact copy of the prefix, so that reading past the cut shows up under ASan.
  const std::size_t cut = data[size - 1] % (size + 1);
  const std::vector<std::uint8_t> prefix(data, data + cut);
  const HIDP_CAPS part = CapsFromReportDescriptor(prefix.data(), prefix.size());
  if (part.InputReportByteLength > whole.InputReportByteLength ||
      part.OutputReportByteLength > whole.OutputReportByteLength ||
      part.FeatureReportByteLength > whole.FeatureReportByteLength) {
    std::abort();
  }
  if ((part.Usage != 0 || part.UsagePage != 0) &&
      (part.Usage != whole.Usage || part.UsagePage != whole.UsagePage)) {
    std::abort();
  }
  return 0;
}
