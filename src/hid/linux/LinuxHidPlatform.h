#pragma once
// HID devices through hidraw: enumeration and the change monitor through libudev, reports through
// /dev/hidrawN.
//
// DevInst is the sequence number of the kernel's HID device name (0003:FFF0:0018.000A -> 0xA),
// which grows with every attachment; the hidraw minor is reused on re-plug and cannot tell an
// old attachment from a new one. Attributes come from sysfs without opening the node: HID_ID of
// the hid parent (bus:vendor:product) and bcdDevice of the USB parent. Report lengths come from
// the hid parent's report_descriptor.

#include <memory>

#include "hid/HidPlatform.h"

class QSocketNotifier;
struct udev;
struct udev_monitor;

class TLinuxHidPlatform : public THidPlatform {
 public:
  TLinuxHidPlatform();
  ~TLinuxHidPlatform() override;

  bool Available() override;
  std::vector<THidPnPInfo> Enumerate() override;
  THandleResult Open(const THidPnPInfo& info, EHidAccess access) override;
  TResult<HIDD_ATTRIBUTES> GetAttributes(const THidPnPInfo& info) override;
  TResult<HIDP_CAPS> GetCaps(const THidPnPInfo& info) override;
  // Starts the udev monitor on the calling thread's event loop; false (logged once) when
  // there can be none.
  bool SetChangeNotice(std::function<void()> notice) override;

 private:
  bool StartMonitor();
  void StopMonitor();
  void DrainMonitor();

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  std::function<void()> notice_;
};
