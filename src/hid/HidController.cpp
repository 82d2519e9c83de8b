#include "hid/HidController.h"

#include <algorithm>
#include <utility>

namespace {

int controllerInstances = 0;

}  // namespace

THidDeviceController::THidDeviceController(QObject* owner, std::shared_ptr<THidPlatform> platform)
    : QObject(owner), platform_(platform ? std::move(platform) : THidPlatform::Default()) {
  available_ = platform_->Available();
  if (++controllerInstances > 1) {
    // The existing controller keeps its list and its notices.
    --controllerInstances;
    throw EControllerError(HID_ERR_SECOND_CONTROLLER);
  }
  std::vector<std::uint32_t> found;
  for (auto& device : ScanDevices(found))
    deviceList_.push_back(device.release());
  if (available_ && !platform_->SetChangeNotice([this] { RunDeviceChangeNotice(); })) {
    // No notices will come: without looking again a hub plugged in later, or one coming back
    // from its bootloader switch, would never be seen.
    fallbackRescan_.setInterval(FALLBACK_RESCAN_INTERVAL_MS);
    connect(&fallbackRescan_, &QTimer::timeout, this, [this] { RunDeviceChangeNotice(); });
    fallbackRescan_.start();
  }
}

THidDeviceController::~THidDeviceController() {
  --controllerInstances;
  onDeviceChange_ = {};
  onDeviceUnplug_ = {};
  onEnumerate_ = {};
  if (available_)
    platform_->SetChangeNotice({});
  for (THidDevice* device : deviceList_) {
    device->controller_ = nullptr;
    if (device->IsClaimed()) {
      device->MarkUnplugged();
    } else {
      delete device;
    }
  }
  deviceList_.clear();
}

// Runs one of a device's events with its InEvent set, so the handler may use it unclaimed. The
// handler may release the device; then there is no flag left to reset.
template <typename Handler, typename... Args>
auto THidDeviceController::FireDeviceEvent(const Handler& handler, THidDevice* device,
                                           Args... args) {
  device->inEvent_ = true;
  struct Reset {
    THidDeviceController* self;
    THidDevice* device;
    ~Reset() {
      if (std::find(self->deviceList_.begin(), self->deviceList_.end(), device) !=
          self->deviceList_.end()) {
        device->inEvent_ = false;
      }
    }
  } reset{this, device};
  return handler(device, args...);
}

int THidDeviceController::ControllerInstances() {
  return controllerInstances;
}

void THidDeviceController::RequestRescan() {
  if (rescanRequested_)
    return;
  rescanRequested_ = true;
  // A rescan that runs meanwhile answers the request; one asked for after it is asked again.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (std::exchange(rescanRequested_, false))
          RunDeviceChangeNotice();
      },
      Qt::QueuedConnection);
}

void THidDeviceController::RunDeviceChangeNotice() {
  // Runs from the event loop, where an exception cannot go anywhere; the handlers that run here
  // are the unattended kind, which drop their failures anyway.
  try {
    DeviceChange();
  } catch (...) {
  }
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::ScanDevices(
    std::vector<std::uint32_t>& found) {
  std::vector<std::unique_ptr<THidDevice>> fresh;
  if (!available_)
    return fresh;
  for (THidPnPInfo& info : platform_->Enumerate()) {
    const std::uint32_t devInst = info.DevInst;
    const auto known = std::find_if(deviceList_.begin(), deviceList_.end(), [&](THidDevice* e) {
      return e->InterfaceInfo().DevInst == devInst && e->IsPresent();
    });
    if (known != deviceList_.end()) {
      // A listed device only needs to be still there. Making an object for it again would open
      // its node at every rescan, which can wake a sleeping USB device, only to throw it away.
      // Only one that was refused a read/write open is tried again (udev may have set the
      // rights since), and only one whose identity was read incomplete is read again.
      THidDevice* entry = *known;
      int error = 0;
      const bool there = !entry->AccessRefused()
                             ? platform_->Open(info, EHidAccess::None, error) != nullptr
                             : entry->RetryAccess(listedChanged_);
      if (!there)
        continue;
      found.push_back(devInst);
      if (entry->RefreshIdentity(info))
        listedChanged_ = true;
      continue;
    }
    try {
      fresh.push_back(std::make_unique<THidDevice>(std::make_unique<THidPnPInfo>(std::move(info)),
                                                   this, platform_));
      found.push_back(devInst);
    } catch (const EControllerError&) {
      // Cannot be opened or identified: not listed until a later scan succeeds.
    }
  }
  return fresh;
}

void THidDeviceController::DeviceChange() {
  rescanRequested_ = false;
  listedChanged_ = false;
  std::vector<std::uint32_t> found;
  std::vector<std::unique_ptr<THidDevice>> fresh = ScanDevices(found);
  bool changed = listedChanged_;

  // Removals, from the last entry to the first. An absent entry is still listed only because
  // it is claimed; it counts as removed again at every rescan.
  for (std::size_t i = deviceList_.size(); i-- > 0;) {
    THidDevice* entry = deviceList_[i];
    const bool stillThere =
        entry->IsPresent() &&
        std::find(found.begin(), found.end(), entry->InterfaceInfo().DevInst) != found.end();
    if (stillThere)
      continue;
    entry->MarkUnplugged();
    changed = true;
    if (onRemoval_)
      FireDeviceEvent(onRemoval_, entry);
    // The handler may have released the entry already.
    if (i >= deviceList_.size() || deviceList_[i] != entry)
      continue;
    if (!entry->IsClaimed()) {
      deviceList_.erase(deviceList_.begin() + static_cast<std::ptrdiff_t>(i));
      delete entry;
    }
  }

  // Arrivals, in scan order, at the end of the list.
  for (std::unique_ptr<THidDevice>& f : fresh) {
    THidDevice* device = f.release();
    deviceList_.push_back(device);
    changed = true;
    if (onArrival_)
      FireDeviceEvent(onArrival_, device);
  }

  if ((changed || !changeReported_) && onDeviceChange_)
    onDeviceChange_(this);
}

bool THidDeviceController::ClaimDeviceAt(THidDevice*& device, int index, bool allowed) {
  if (!allowed || index < 0 || static_cast<std::size_t>(index) >= deviceList_.size())
    return false;
  THidDevice* entry = deviceList_[static_cast<std::size_t>(index)];
  if (entry->IsClaimed())
    return false;
  device = entry;
  entry->claimed_ = true;
  entry->StartReader();
  return true;
}

bool THidDeviceController::ClaimNextDevice(THidDevice*& device) {
  device = nullptr;
  for (std::size_t i = 0; i < deviceList_.size(); ++i) {
    if (ClaimDeviceAt(device, static_cast<int>(i), true))
      return true;
  }
  return false;
}

void THidDeviceController::ReleaseDevice(THidDevice*& device) {
  if (!device)
    return;
  std::unique_ptr<THidDevice> released(device);
  device = nullptr;
  const THidDataEvent dataHandler = released->DataHandler();
  const THidPlugEvent unplugHandler = released->UnplugHandler();
  const std::int32_t sleepTime = released->ReaderSleepTime();
  released->Teardown();
  if (released->controller_ != this)
    return;
  const auto it = std::find(deviceList_.begin(), deviceList_.end(), released.get());
  if (it == deviceList_.end())
    return;
  if (!released->IsPresent()) {
    deviceList_.erase(it);
    return;
  }
  try {
    auto replacement = std::make_unique<THidDevice>(released->TakeInterfaceInfo(), this, platform_);
    replacement->SetDataHandler(dataHandler);
    replacement->SetUnplugHandler(unplugHandler);
    replacement->SetReaderSleepTime(sleepTime);
    // Report lengths read already stay known for the same attachment, also when they came back
    // empty: a rescan then reads them again (a descriptor written after the node appeared).
    replacement->AdoptCaps(*released);
    *it = replacement.release();
  } catch (const EControllerError&) {
    // The device can no longer be opened or identified: it is as good as gone. Dropping the
    // entry lets the next rescan list it afresh if it comes back.
    deviceList_.erase(it);
  }
}

int THidDeviceController::EnumerateDevices() {
  int count = 0;
  // By index: a handler may release or claim, but the list only changes in DeviceChange and
  // ReleaseDevice, which keep the positions of the other entries.
  for (std::size_t i = 0; i < deviceList_.size(); ++i) {
    THidDevice* entry = deviceList_[i];
    if (!entry->IsPresent())
      continue;
    ++count;
    const bool goOn =
        onEnumerate_ && FireDeviceEvent(onEnumerate_, entry, static_cast<std::int32_t>(i));
    if (i < deviceList_.size() && deviceList_[i] == entry && !entry->IsClaimed()) {
      entry->CloseIoHandle();
      entry->CloseReadHandle();
    }
    if (!goOn)
      break;
  }
  return count;
}

void THidDeviceController::SetOnDeviceChange(const TNotifyEvent& h) {
  if (h.SameFunction(onDeviceChange_))
    return;
  onDeviceChange_ = h;
  DeviceChange();
  changeReported_ = true;
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& h) {
  if (h.SameFunction(onDeviceData_))
    return;
  for (THidDevice* entry : deviceList_) {
    if (entry->DataHandler().SameFunction(onDeviceData_))
      entry->SetDataHandler(h);
  }
  onDeviceData_ = h;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& h) {
  if (h.SameFunction(onDeviceDataError_))
    return;
  for (THidDevice* entry : deviceList_) {
    if (entry->DataErrorHandler().SameFunction(onDeviceDataError_))
      entry->SetDataErrorHandler(h);
  }
  onDeviceDataError_ = h;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& h) {
  if (h.SameFunction(onDeviceUnplug_))
    return;
  for (THidDevice* entry : deviceList_) {
    if (entry->UnplugHandler().SameFunction(onDeviceUnplug_))
      entry->SetUnplugHandler(h);
  }
  onDeviceUnplug_ = h;
}

void THidDeviceController::SetDevThreadSleepTime(std::int32_t ms) {
  if (ms == devThreadSleepTime_)
    return;
  for (THidDevice* entry : deviceList_) {
    if (entry->ReaderSleepTime() == devThreadSleepTime_)
      entry->SetReaderSleepTime(ms);
  }
  devThreadSleepTime_ = ms;
}
