#pragma once
// The platform layer under the controller: enumeration of HID interfaces, their attributes and
// report lengths, open handles for reading and writing, and the notice that devices changed.
// Two implementations: hidraw through libudev (hid/linux) and a simulated bus (hid/sim).
//
// Failures carry the errno behind them (TError::code); ReadInput's error is an errno too.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidTypes.h"

// Identity of a device as the HID stack reports it.
struct HIDD_ATTRIBUTES {
  std::uint32_t Size = 12;  // of the structure, as the HID stack fills it in
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
};

// One HID interface as a scan found it.
struct THidPnPInfo {
  // Differs for every attachment of a device and between devices attached at the same time:
  // the only key by which rescans recognise a device.
  std::uint32_t DevInst = 0;
  // What the platform's open takes (/dev/hidrawN).
  std::string DevicePath;
  // The platform's own key for attribute and descriptor queries (the sysfs path of the hid
  // device, or the simulated attachment).
  std::string SysPath;
  // Descriptive texts (name, unique id, physical path...). Nothing in the program relies on them.
  std::map<std::string, std::string> Properties;
};

enum class EHidAccess {
  ReadWrite,  // writing reports (and reading)
  Read,       // the reader's handle
  None,       // attribute queries only: succeeds when the device exists
};

// An open device. Write, Discard and Close come from the UI thread; WaitInput
// and ReadInput from the reader; Wake and Close may race with WaitInput and must wake it.
class THidPlatformHandle {
 public:
  enum class EWait {
    Ready,   // an input report is waiting
    Woken,   // Wake() was called (it stays signalled until a wait has seen it)
    Closed,  // Close() was called
    Lost,    // the device is gone
  };
  enum class ERead {
    Report,  // one report read, byte 0 is the report id
    Empty,   // nothing waiting after all
    Lost,    // the device is gone; error holds the reason
  };

  virtual ~THidPlatformHandle() = default;

  // Writes one output report, byte 0 the report id. Blocks until done.
  virtual TResult<void> Write(const std::uint8_t* data, std::size_t size) = 0;
  // Blocks until one of EWait happens.
  virtual EWait WaitInput() = 0;
  // Takes one input report without blocking. A report longer than capacity is cut.
  virtual ERead ReadInput(std::uint8_t* buffer, std::size_t capacity, std::size_t& got,
                          int& error) = 0;
  // Drops every input report waiting on this handle.
  virtual void DiscardInput() = 0;
  // Makes the current or next WaitInput return Woken. Thread-safe.
  virtual void Wake() = 0;
  // Ends the handle's use: a waiting WaitInput returns Closed, later calls fail. Thread-safe;
  // the system resource goes when the object is destroyed.
  virtual void Close() = 0;
};

class THidPlatform {
 public:
  virtual ~THidPlatform() = default;

  // False when the HID services cannot be used: the controller then lists nothing and gets
  // no notices.
  virtual bool Available() = 0;
  // Every present HID interface, in a stable order.
  virtual std::vector<THidPnPInfo> Enumerate() = 0;
  // Opens the interface. The error's code is EACCES/EPERM when the user has no rights.
  using THandleResult = TResult<std::unique_ptr<THidPlatformHandle>>;
  virtual THandleResult Open(const THidPnPInfo& info, EHidAccess access) = 0;
  // Vendor, product and version, without opening the device.
  virtual TResult<HIDD_ATTRIBUTES> GetAttributes(const THidPnPInfo& info) = 0;
  // Report lengths, from the device's report descriptor.
  virtual TResult<HIDP_CAPS> GetCaps(const THidPnPInfo& info) = 0;
  // The notice run on the UI thread after HID devices were added, removed or changed (rights
  // set by udev): once per burst of changes. An empty function removes it. Returns false when
  // no notices can come (no monitor): the caller then has to look again by itself.
  virtual bool SetChangeNotice(std::function<void()> notice) = 0;

  // The platform a controller uses when it is given none: hidraw unless another was set.
  static std::shared_ptr<THidPlatform> Default();
  static void SetDefault(std::shared_ptr<THidPlatform> platform);
};
