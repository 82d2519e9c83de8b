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
