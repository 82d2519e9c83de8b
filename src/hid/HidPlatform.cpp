#include "hid/HidPlatform.h"

#include <mutex>

#include "hid/linux/LinuxHidPlatform.h"

namespace {

std::mutex defaultMutex;
std::shared_ptr<THidPlatform> defaultPlatform;

}  // namespace

std::shared_ptr<THidPlatform> THidPlatform::Default() {
  std::lock_guard lock(defaultMutex);
  if (!defaultPlatform)
    defaultPlatform = std::make_shared<TLinuxHidPlatform>();
  return defaultPlatform;
}

void THidPlatform::SetDefault(std::shared_ptr<THidPlatform> platform) {
  std::lock_guard lock(defaultMutex);
  defaultPlatform = std::move(platform);
}

bool DescriptorUsesReportIds(const std::uint8_t* data, std::size_t size) {
  constexpr std::uint8_t LONG_ITEM = 0xFE;
  constexpr std::uint8_t REPORT_ID_TAG = 0x84;  // global item, tag 8
  std::size_t i = 0;
  while (i < size) {
    const std::uint8_t prefix = data[i];
    if (prefix == LONG_ITEM) {
      if (i + 1 >= size)
        break;
      i += 3 + std::size_t{data[i + 1]};
      continue;
    }
    static constexpr std::size_t DATA_SIZE[4] = {0, 1, 2, 4};
    if ((prefix & 0xFC) == REPORT_ID_TAG)
      return true;
    i += 1 + DATA_SIZE[prefix & 0x03];
  }
  return false;
}
