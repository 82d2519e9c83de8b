#pragma once
// What the emulated hub needs of the bus it hangs on. The emulator knows nothing of the bus
// itself: an adapter implements this and hands every output report the program writes to
// THubEmulator::HandleOutputReport.

#include <cstddef>
#include <cstdint>

class THubConnection {
 public:
  virtual ~THubConnection() = default;

  // The hub appears on the bus. Every call is a new attachment, as after a USB re-enumeration.
  // With `canReadWrite` false the device is listed but cannot be opened for reading and writing.
  virtual void Attach(bool canReadWrite) = 0;
  // The hub leaves the bus; reports it has not delivered yet are lost with it.
  virtual void Detach() = 0;
  // One input report: the bytes after the report id, at most 64. Safe from any thread.
  virtual void PushInputReport(const std::uint8_t* data, std::size_t size) = 0;
};
