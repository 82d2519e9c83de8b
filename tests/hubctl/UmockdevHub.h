#pragma once
// An emulated hub behind a umockdev testbed: the program finds it through udev and talks to it
// through /dev/hidrawN, as to a real hub, and the emulator answers.
//
//   TUmockdevTestbed testbed;
//   THubEmulator emulator(options);
//   TUmockdevHubConnection connection(testbed, HubReportDescriptor(),
//       [&](const std::uint8_t* r, std::size_t n) { emulator.HandleOutputReport(r, n); });
//   emulator.SetConnection(&connection);
//   emulator.Plug();
//
// Needs the umockdev preload library (umockdev-wrapper) and a Qt event loop on the thread that
// made it, the emulator's. umockdev.h stays out of this header: glib uses Qt's keywords as
// names, and the emulator's header needs them.

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/HubConnection.h"

struct _UMockdevTestbed;

// A fresh umockdev testbed: its own /sys and /dev for this process until it goes.
class TUmockdevTestbed {
 public:
  TUmockdevTestbed();
  ~TUmockdevTestbed();
  TUmockdevTestbed(const TUmockdevTestbed&) = delete;
  TUmockdevTestbed& operator=(const TUmockdevTestbed&) = delete;

  // Devices in umockdev's record format, without an "add" event.
  bool Add(const QByteArray& record);
  QByteArray RootDir() const;
  _UMockdevTestbed* Get() { return testbed_; }

 private:
  _UMockdevTestbed* testbed_;
};

class TUmockdevHubConnection : public THubConnection {
 public:
  // Attachment k (from 0) is /dev/hidraw<firstMinor + k> on USB port <firstMinor + k + 1>: a
  // removed device cannot be added again under the same path in umockdev, so every attachment
  // gets a new one. The HID_PHYS property stays the same, as for a hub on the same port.
  // `toHub` gets every output report the program writes, on the thread that made this.
  using TSink = std::function<void(const std::uint8_t* report, std::size_t size)>;
  TUmockdevHubConnection(TUmockdevTestbed& testbed, const std::vector<std::uint8_t>& descriptor,
                         TSink toHub, int firstMinor = 0);
  ~TUmockdevHubConnection() override;

  void Attach(bool canReadWrite) override;
  void Detach() override;
  void PushInputReport(const std::uint8_t* data, std::size_t size) override;

  // The node of the present attachment; empty while detached.
  QString Node() const;
  // Later attachments hang on another port: HID_PHYS `phys`, or none when empty (a hub plugged
  // into another socket, or a system that does not say).
  void MoveTo(const QString& phys) { phys_ = phys; }
  // The USB serial number every attachment reports (HID_UNIQ); empty for none.
  void SetSerial(const QString& serial) { serial_ = serial; }
  // The next attachment comes without an "add" event: a notice the program misses.
  void MissNextNotice() { missNotice_ = true; }
  // Writes that reached a node after its removal; they were refused with ENODEV.
  int WritesAfterRemoval() const { return writesAfterRemoval_; }

 private:
  struct TAttachment;
  // umockdev's handle-write signal; the types are glib's.
  static int OnWrite(void* handler, void* client, void* attachment);
  void Pump();

  TUmockdevTestbed& testbed_;
  QString descriptorHex_;
  TSink toHub_;
  int firstMinor_;
  std::optional<QString> phys_;
  QString serial_;
  bool missNotice_ = false;
  std::vector<std::unique_ptr<TAttachment>> attachments_;
  TAttachment* live_ = nullptr;
  std::atomic<int> writesAfterRemoval_{0};

  // Input reports not yet written to the node.
  std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> pending_;
  QTimer pumpTimer_;
  // Receives the writes handed over from umockdev's thread; goes before the attachments do.
  QObject context_;
};
