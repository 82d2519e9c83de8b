#pragma once
// The program's one view of the attached HID devices: an ordered list of THidDevice objects kept
// in step with arrivals and removals, claiming and releasing entries, and the defaults that new
// devices take. Runs on the UI thread.

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

#include "hid/HidDevice.h"
#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

class THidDeviceController;
using TNotifyEvent = THandler<void(THidDeviceController*)>;

class THidDeviceController : public QObject {
  Q_OBJECT

 public:
  static constexpr std::int32_t DEFAULT_DEV_THREAD_SLEEP_TIME = 100;
  // Where the platform cannot tell of changes, the list is rescanned this often.
  static constexpr std::int32_t FALLBACK_RESCAN_INTERVAL_MS = 2000;

  // Scans the devices and starts listening for changes. A null platform means
  // THidPlatform::Default(). Throws EControllerError when a controller already exists.
  explicit THidDeviceController(QObject* owner = nullptr,
                                std::shared_ptr<THidPlatform> platform = nullptr);
  // Destroys unclaimed entries; claimed ones are detached and marked unplugged, and live on
  // for their claimers (delete them when done).
  ~THidDeviceController() override;

  static int ControllerInstances();
  // Version, SetVersion and the OnArrival, OnRemoval and OnDeviceDataError pairs are not used by
  // this program. They stay because they are part of the interface this device layer has
  // always offered, which code written against it expects.
  QString Version() const { return QStringLiteral("1.0.22"); }
  void SetVersion(const QString&) {}

  const std::vector<THidDevice*>& DeviceList() const { return deviceList_; }
  bool ChangeReported() const { return changeReported_; }
  THidPlatform& Platform() const { return *platform_; }

  // Rescans and brings the list in step: removals, arrivals, listed devices whose access or
  // identity changed, OnDeviceChange.
  void DeviceChange();
  // Claims the first unclaimed entry; false with device = null when there is none.
  bool ClaimNextDevice(THidDevice*& device);
  bool ClaimDeviceAt(THidDevice*& device, int index, bool allowed);
  // Gives a claimed device back; the object is destroyed and device set to null. A present
  // device gets a fresh object in its place.
  void ReleaseDevice(THidDevice*& device);
  // Runs OnEnumerate over the present entries; returns how many were visited.
  int EnumerateDevices();

  const THidPlugEvent& OnArrival() const { return onArrival_; }
  void SetOnArrival(const THidPlugEvent& h) { onArrival_ = h; }
  const THidPlugEvent& OnRemoval() const { return onRemoval_; }
  void SetOnRemoval(const THidPlugEvent& h) { onRemoval_ = h; }
  const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
  void SetOnEnumerate(const THidEnumerateEvent& h) { onEnumerate_ = h; }
  const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
  // A new function reports the current list at once, change or not.
  void SetOnDeviceChange(const TNotifyEvent& h);
  const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
  void SetOnDeviceData(const THidDataEvent& h);
  const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
  void SetOnDeviceDataError(const THidDataErrorEvent& h);
  const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
  void SetOnDeviceUnplug(const THidPlugEvent& h);
  std::int32_t DevThreadSleepTime() const { return devThreadSleepTime_; }
  void SetDevThreadSleepTime(std::int32_t ms);

 private:
  friend class THidDevice;

  // New objects for the interfaces not listed yet; `found` gets the DevInst of every interface
  // that is there (listed or new).
  std::vector<std::unique_ptr<THidDevice>> ScanDevices(std::vector<std::uint32_t>& found);
  void RunDeviceChangeNotice();
  // A device's reader found its node hung up: rescan soon, from the event loop, unless a rescan
  // runs before that anyway.
  void RequestRescan();
  template <typename Handler, typename... Args>
  auto FireDeviceEvent(const Handler& handler, THidDevice* device, Args... args);

  std::shared_ptr<THidPlatform> platform_;
  bool available_ = false;
  std::vector<THidDevice*> deviceList_;
  bool changeReported_ = false;
  // Listed devices that regained access or whose identity was read again in the last scan.
  bool listedChanged_ = false;
  bool rescanRequested_ = false;
  QTimer fallbackRescan_;
  std::int32_t devThreadSleepTime_ = DEFAULT_DEV_THREAD_SLEEP_TIME;
  THidPlugEvent onArrival_;
  THidPlugEvent onRemoval_;
  THidEnumerateEvent onEnumerate_;
  TNotifyEvent onDeviceChange_;
  THidDataEvent onDeviceData_;
  THidDataErrorEvent onDeviceDataError_;
  THidPlugEvent onDeviceUnplug_;
};
