#pragma once
// An emulated hub on the simulated HID bus: the device the program finds, opens and talks to
// when there is no real hub. Several can hang on one bus at once.
//
//   auto bus = std::make_shared<TSimHidBus>();
//   TSimulatedHub hub(bus);                       // plugged in at once
//   hub.Emulator().AddFault(...);                 // state, faults, transcript
//   THidDeviceController controller(nullptr, bus);

#include <cstdint>
#include <memory>
#include <vector>

#include "hid/sim/SimHidBus.h"
#include "protocol/HubDevice.h"
#include "sim/HubConnection.h"
#include "sim/HubEmulator.h"

// The bus end of one emulated hub. Every Attach after the first re-plugs the same bus device,
// which the bus lists as a new attachment with a new DevInst.
class TSimBusConnection : public THubConnection {
 public:
  TSimBusConnection(std::shared_ptr<TSimHidBus> bus, THubEmulator& hub);
  ~TSimBusConnection() override;

  // 0 until the first Attach.
  TSimDeviceId DeviceId() const { return id_; }

  void Attach(bool canReadWrite) override;
  void Detach() override;
  void PushInputReport(const std::uint8_t* data, std::size_t size) override;

 private:
  std::shared_ptr<TSimHidBus> bus_;
  THubEmulator& hub_;
  TSimDeviceId id_ = 0;
};

// An emulator and its bus end together.
class TSimulatedHub {
 public:
  explicit TSimulatedHub(std::shared_ptr<TSimHidBus> bus, THubEmulatorOptions options = {},
                         bool plugIn = true);
  ~TSimulatedHub();

  THubEmulator& Emulator() { return emulator_; }
  TSimDeviceId DeviceId() const { return connection_.DeviceId(); }
  // The DevInst of the current (or last) attachment.
  std::uint32_t DevInst() const;

 private:
  std::shared_ptr<TSimHidBus> bus_;
  THubEmulator emulator_;
  TSimBusConnection connection_;
};
