#pragma once
// The program's one view of the attached HID devices: an ordered list of THidDevice objects kept
// in step with arrivals and removals, claiming and releasing entries. Runs on the UI thread.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

#include "hid/HidDevice.h"
#include "hid/HidPlatform.h"

class THidDeviceController : public QObject {
  Q_OBJECT

 public:
  // Where the platform cannot tell of changes, the list is rescanned this often.
  static constexpr int FALLBACK_RESCAN_INTERVAL_MS = 2000;

  // Scans the devices and starts listening for changes. A null platform means
  // THidPlatform::Default(). One controller at a time: the devices' readers and the platform's
  // notices assume it, so a second one is a programming error and stops the program.
  explicit THidDeviceController(QObject* owner = nullptr,
                                std::shared_ptr<THidPlatform> platform = nullptr);
  // Destroys unclaimed entries; claimed ones are marked unplugged and live on for their
  // claimers (delete them when done).
  ~THidDeviceController() override;

  // How many controllers exist now (0 or 1).
  static int ControllerInstances();

  const std::vector<THidDevice*>& DeviceList() const { return deviceList_; }
  THidPlatform& Platform() const { return *platform_; }

  // Looks at the devices again and brings the list in step: removals, arrivals, listed devices
  // whose access or identity changed. Emits DevicesChanged when anything changed, and after
  // the first rescan whatever it found, so that a new listener learns the list. A command, not
  // an event: the name is the one the hub's documents give it.
  void DeviceChange();
  // Claims the first unclaimed entry; null when there is none.
  THidDevice* ClaimNextDevice();
  // Claims the entry at `index`; null when there is none or it is claimed already.
  THidDevice* ClaimDeviceAt(int index);
  // Gives a claimed device back; the object is destroyed and device set to null. A present
  // device gets a fresh object in its place, without a data handler.
  void ReleaseDevice(THidDevice*& device);

 Q_SIGNALS:
  // The list changed (see DeviceChange). Listeners may claim and release entries.
  void DevicesChanged();

 private:
  // New objects for the interfaces not listed yet; `found` gets the DevInst of every interface
  // that is there (listed or new).
  std::vector<std::unique_ptr<THidDevice>> ScanDevices(std::vector<std::uint32_t>& found);
  // A new entry for the interface, or none when it cannot be opened or identified (a later
  // scan tries again).
  std::unique_ptr<THidDevice> MakeDevice(std::unique_ptr<THidPnPInfo> info);
  // A device's reader found its node hung up: rescan soon, from the event loop, unless a rescan
  // runs before that anyway. Not at once: a listener may release that device, whose reader
  // waits for this call to return.
  void DeviceLost(THidDevice* device);

  std::shared_ptr<THidPlatform> platform_;
  bool available_ = false;
  std::vector<THidDevice*> deviceList_;
  bool rescanned_ = false;
  // Listed devices that regained access or whose identity was read again in the last scan.
  bool listedChanged_ = false;
  bool rescanRequested_ = false;
  QTimer fallbackRescan_;
};
