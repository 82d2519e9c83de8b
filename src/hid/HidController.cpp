#include "hid/HidController.h"

#include <QtGlobal>
#include <algorithm>
#include <utility>

namespace {

int controllerInstances = 0;

}  // namespace

THidDeviceController::THidDeviceController(QObject* owner, std::shared_ptr<THidPlatform> platform)
    : QObject(owner), platform_(platform ? std::move(platform) : THidPlatform::Default()) {
  if (controllerInstances > 0)
    qFatal("THidDeviceController: a second controller was made while one exists");
  ++controllerInstances;
  available_ = platform_->Available();
  std::vector<std::uint32_t> found;
  for (auto& device : ScanDevices(found))
    deviceList_.push_back(device.release());
  if (available_ && !platform_->SetChangeNotice([this] { DeviceChange(); })) {
    // No notices will come: without looking again a hub plugged in later, or one coming back
    // from its bootloader switch, would never be seen.
    fallbackRescan_.setInterval(FALLBACK_RESCAN_INTERVAL_MS);
    connect(&fallbackRescan_, &QTimer::timeout, this, &THidDeviceController::DeviceChange);
    fallbackRescan_.start();
  }
}

THidDeviceController::~THidDeviceController() {
  --controllerInstances;
  if (available_)
    platform_->SetChangeNotice({});
  for (THidDevice* device : deviceList_) {
    // A claimed device outlives the list: found gone, its reader no longer reaches back here.
    if (device->IsClaimed()) {
      device->MarkUnplugged();
    } else {
      delete device;
    }
  }
  deviceList_.clear();
}

int THidDeviceController::ControllerInstances() {
  return controllerInstances;
}

void THidDeviceController::DeviceLost(THidDevice*) {
  if (rescanRequested_)
    return;
  rescanRequested_ = true;
  // A rescan that runs meanwhile answers the request; one asked for after it is asked again.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (std::exchange(rescanRequested_, false))
          DeviceChange();
      },
      Qt::QueuedConnection);
}

std::unique_ptr<THidDevice> THidDeviceController::MakeDevice(std::unique_ptr<THidPnPInfo> info) {
  TResult<std::unique_ptr<THidDevice>> made = THidDevice::Make(
      std::move(info), platform_, THidLostEvent::Bind<&THidDeviceController::DeviceLost>(this));
  return made ? std::move(*made) : nullptr;
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
      const bool there =
          !entry->AccessRefused() ? entry->StillThere() : entry->RetryAccess(listedChanged_);
      if (!there)
        continue;
      found.push_back(devInst);
      if (entry->RefreshIdentity(info))
        listedChanged_ = true;
      continue;
    }
    if (std::unique_ptr<THidDevice> device =
            MakeDevice(std::make_unique<THidPnPInfo>(std::move(info)))) {
      fresh.push_back(std::move(device));
      found.push_back(devInst);
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

  // Removals. An absent entry is still listed only because it is claimed; it counts as removed
  // again at every rescan.
  for (std::size_t i = deviceList_.size(); i-- > 0;) {
    THidDevice* entry = deviceList_[i];
    const bool stillThere =
        entry->IsPresent() &&
        std::find(found.begin(), found.end(), entry->InterfaceInfo().DevInst) != found.end();
    if (stillThere)
      continue;
    entry->MarkUnplugged();
    changed = true;
    if (!entry->IsClaimed()) {
      deviceList_.erase(deviceList_.begin() + static_cast<std::ptrdiff_t>(i));
      delete entry;
    }
  }

  // Arrivals, in scan order, at the end of the list.
  for (std::unique_ptr<THidDevice>& f : fresh) {
    deviceList_.push_back(f.release());
    changed = true;
  }

  if (changed || !std::exchange(rescanned_, true))
    Q_EMIT DevicesChanged();
}

THidDevice* THidDeviceController::ClaimDeviceAt(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= deviceList_.size())
    return nullptr;
  THidDevice* entry = deviceList_[static_cast<std::size_t>(index)];
  if (entry->IsClaimed())
    return nullptr;
  entry->Claim();
  return entry;
}

THidDevice* THidDeviceController::ClaimNextDevice() {
  for (std::size_t i = 0; i < deviceList_.size(); ++i) {
    if (THidDevice* device = ClaimDeviceAt(static_cast<int>(i)))
      return device;
  }
  return nullptr;
}

void THidDeviceController::ReleaseDevice(THidDevice*& device) {
  if (!device)
    return;
  std::unique_ptr<THidDevice> released(std::exchange(device, nullptr));
  const auto it = std::find(deviceList_.begin(), deviceList_.end(), released.get());
  if (it == deviceList_.end())
    return;
  if (!released->IsPresent()) {
    deviceList_.erase(it);
    return;
  }
  std::unique_ptr<THidDevice> replacement = MakeDevice(released->TakeInterfaceInfo());
  if (!replacement) {
    // The device can no longer be opened or identified: it is as good as gone. Dropping the
    // entry lets the next rescan list it afresh if it comes back.
    deviceList_.erase(it);
    return;
  }
  // Report lengths read already stay known for the same attachment, also when they came back
  // empty: a rescan then reads them again (a descriptor written after the node appeared).
  replacement->AdoptCaps(*released);
  *it = replacement.release();
}
