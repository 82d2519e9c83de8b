#pragma once
// A simulated HID bus in the same process: virtual HID devices that the controller sees like
// real ones. Tests, benchmarks and the demo mode plug device emulators into it.
//
// Using it:
//
//   auto bus = std::make_shared<TSimHidBus>();            // on the UI thread
//   THidDeviceController controller(nullptr, bus);        // or THidPlatform::SetDefault(bus)
//
//   TSimHidBus::TDeviceConfig config;
//   config.VendorID = 0xFFF0; config.ProductID = 0x0018; config.VersionNumber = 0x0100;
//   config.ReportDescriptor = {...};                        // or config.Caps = HIDP_CAPS{...}
//   TSimDeviceId id = bus->Attach(config, [&](const std::uint8_t* report, std::size_t size) {
//     // one output report as the program wrote it, byte 0 the report id
//     bus->PushInput(id, reply.data(), reply.size());    // answer at once, or later
//   });
//   ...
//   bus->Detach(id);                                       // unplugged
//   bus->Reattach(id);                                     // plugged in again: a new attachment
//
// Rules:
// - Attach, Detach and Reattach may be called from any thread. Each posts a device-change
//   notice to the thread that created the bus (like the real monitor, one notice per burst);
//   the controller rescans when it runs. Nothing changes in the controller's list before that.
// - Every attachment gets a new DevInst and a new DevicePath ("sim:hidrawN"), as the kernel
//   gives a re-plugged device a new HID sequence number. Its HID_PHYS property ("sim-port-ID")
//   stays, as a device re-plugged into the same USB port keeps its physical path.
// - The output callback runs on the thread that wrote the report (the program's UI thread),
//   synchronously inside its write and without any lock of the bus held: it may call
//   PushInput, Detach or Reattach. It does not run for a detached device.
// - PushInput is thread-safe. It puts a copy of the report, byte 0 the report id, into the
//   queue of every handle the program has open for reading on the current attachment. A full
//   queue drops its oldest report (like the kernel's). Reports pushed while the program has no
//   read handle open are lost, as on a real bus.
// - Detach ends the current attachment: open handles report the device as lost, writes fail
//   with ENODEV, opens fail with ENOENT.
// - The bus knows nothing about what the reports mean.

#include <QObject>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "hid/HidPlatform.h"

using TSimDeviceId = std::uint32_t;

class TSimHidBus : public THidPlatform {
 public:
  enum class EAccess {
    ReadWrite,       // opens for reading and writing succeed
    AttributesOnly,  // read/write opens fail with EACCES; the device is listed, CanReadWrite false
    None,            // every open fails with EACCES; the controller skips the device
  };

  struct TDeviceConfig {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
    // Report lengths come from Caps when set, else from ReportDescriptor.
    std::vector<std::uint8_t> ReportDescriptor;
    std::optional<HIDP_CAPS> Caps;
    EAccess Access = EAccess::ReadWrite;
    // Shown as the device's name property.
    std::string Name;
    // The USB serial number (HID_UNIQ); empty for none. Kept by every attachment.
    std::string Serial;
  };

  // One output report as written, byte 0 the report id.
  using TOutputCallback = std::function<void(const std::uint8_t* report, std::size_t size)>;

  // Create it on the thread that runs the controller: notices are posted there.
  TSimHidBus();
  ~TSimHidBus() override;

  // Plugs in a new virtual device. The callback may be empty (writes then go nowhere).
  TSimDeviceId Attach(const TDeviceConfig& config, TOutputCallback onOutput = {});
  // Unplugs it. False when it is not attached. Without `notify` no notice is posted: a node
  // that hangs up with no udev event (its readers still see the loss).
  bool Detach(TSimDeviceId id, bool notify = true);
  // Plugs a detached device in again, with the same config and callback, as a new attachment
  // (new DevInst and DevicePath). False when it is attached already or unknown.
  bool Reattach(TSimDeviceId id);
  // Sends one input report (byte 0 the report id) to every open read handle of the device.
  // Returns how many handles it reached. Thread-safe.
  std::size_t PushInput(TSimDeviceId id, const std::uint8_t* report, std::size_t size);
  // Changes the access rights the next opens get (handles already open keep theirs): a hub that
  // comes back after a re-plug with a node the user may not open.
  void SetAccess(TSimDeviceId id, EAccess access);

  // The DevInst of the current (or last) attachment; 0 for an unknown id.
  std::uint32_t DevInst(TSimDeviceId id) const;
  // Read handles the program has open on the device now.
  std::size_t OpenReadHandles(TSimDeviceId id) const;
  // Opens the program has made on the device so far (all kinds), for tests of handle use.
  std::size_t OpenCount(TSimDeviceId id) const;
  // Opens of one kind tried so far, refused ones included.
  std::size_t OpenCount(TSimDeviceId id, EHidAccess access) const;

  // Whether the program can use the bus at all (false: it lists nothing). For tests.
  void SetAvailable(bool available);
  // Whether the bus tells of changes (false: like a machine without a udev monitor, no notice
  // is ever posted and SetChangeNotice says so). Takes effect at the next SetChangeNotice.
  void SetNoticesAvailable(bool available);

  // THidPlatform.
  bool Available() override;
  std::vector<THidPnPInfo> Enumerate() override;
  THandleResult Open(const THidPnPInfo& info, EHidAccess access) override;
  TResult<HIDD_ATTRIBUTES> GetAttributes(const THidPnPInfo& info) override;
  TResult<HIDP_CAPS> GetCaps(const THidPnPInfo& info) override;
  bool SetChangeNotice(std::function<void()> notice) override;

  struct TState;

 private:
  void PostNotice();

  std::shared_ptr<TState> state_;
  QObject* context_;
};
