#include "sim/SimulatedHub.h"

#include <string>

#include "protocol/Frame.h"

TSimBusConnection::TSimBusConnection(std::shared_ptr<TSimHidBus> bus, THubEmulator& hub)
    : bus_(std::move(bus)), hub_(hub) {}

TSimBusConnection::~TSimBusConnection() {
  if (id_)
    bus_->Detach(id_);
}

void TSimBusConnection::Attach(bool canReadWrite) {
  const auto access =
      canReadWrite ? TSimHidBus::EAccess::ReadWrite : TSimHidBus::EAccess::AttributesOnly;
  if (id_) {
    bus_->SetAccess(id_, access);
    bus_->Reattach(id_);
    return;
  }
  TSimHidBus::TDeviceConfig device;
  device.VendorID = HUB_VENDOR_ID;
  device.ProductID = HUB_PRODUCT_ID;
  device.VersionNumber = 0x0100;
  device.ReportDescriptor = HubReportDescriptor();
  device.Access = access;
  device.Name = "Halvek Charging Hub (emulated)";
  device.Serial = hub_.Options().serialNumber;
  // The bus calls this inside the program's write, on its thread: the emulator's.
  id_ = bus_->Attach(device, [this](const std::uint8_t* report, std::size_t size) {
    hub_.HandleOutputReport(report, size);
  });
}

void TSimBusConnection::Detach() {
  if (id_)
    bus_->Detach(id_);
}

void TSimBusConnection::PushInputReport(const std::uint8_t* data, std::size_t size) {
  if (!id_)
    return;
  // The hub's reports carry no id; the bus, like hidraw for the program, puts a 0 in front.
  std::uint8_t report[FRAME_SIZE] = {};
  const std::size_t n = std::min(size, BUFFER_SIZE);
  std::copy_n(data, n, report + 1);
  bus_->PushInput(id_, report, n + 1);
}

TSimulatedHub::TSimulatedHub(std::shared_ptr<TSimHidBus> bus, THubEmulatorOptions options,
                             bool plugIn)
    : bus_(bus), emulator_(options), connection_(std::move(bus), emulator_) {
  emulator_.SetConnection(&connection_);
  if (plugIn)
    emulator_.Plug();
}

TSimulatedHub::~TSimulatedHub() {
  // The emulator must not reach the bus end while both go.
  emulator_.SetConnection(nullptr);
}

std::uint32_t TSimulatedHub::DevInst() const {
  return connection_.DeviceId() ? bus_->DevInst(connection_.DeviceId()) : 0;
}
