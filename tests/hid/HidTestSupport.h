#pragma once
// Helpers for the HID layer's tests: devices on the simulated bus and handlers that record what
// they were given.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <cstdint>
#include <functional>
#include <vector>

#include "hid/HidController.h"
#include "hid/HidHandOver.h"
#include "hid/sim/SimHidBus.h"
#include "protocol/HubDevice.h"

namespace hidtest {

using Bytes = std::vector<std::uint8_t>;

inline TSimHidBus::TDeviceConfig DeviceConfig(
    std::uint16_t vendor, std::uint16_t product,
    TSimHidBus::EAccess access = TSimHidBus::EAccess::ReadWrite) {
  TSimHidBus::TDeviceConfig config;
  config.VendorID = vendor;
  config.ProductID = product;
  config.VersionNumber = 0x0100;
  config.Caps = HIDP_CAPS{0x01, 0xFF00, 65, 65, 0};
  config.Access = access;
  return config;
}

// Records what the data handler is given, and the lists a controller reports.
struct TRecorder {
  QStringList events;
  std::vector<Bytes> reports;               // ReportID followed by the data
  std::function<void(THidDevice*)> onData;  // runs inside the data handler

  // Devices are named by letter: product id 0x000A is "A", 0x000B "B"...
  static QString Name(THidDevice* d) {
    return QString(QChar('A' + d->Attributes().ProductID - 0x0A));
  }
  void Data(THidDevice* d, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
    Bytes r{id};
    r.insert(r.end(), data, data + size);
    reports.push_back(std::move(r));
    if (onData)
      onData(d);
  }
  THidDataEvent DataHandler() { return THidDataEvent::Bind<&TRecorder::Data>(this); }
  // Every DevicesChanged of `controller` adds the list it reports, as "[A Bc]".
  void Listen(THidDeviceController& controller);
};

// Waits, without processing events, until n hand-overs are queued.
inline bool WaitUntilHandOverPending(std::size_t n) {
  QElapsedTimer t;
  t.start();
  while (THidHandOver::Instance().Pending() != n) {
    if (t.elapsed() > 5000)
      return false;
    QThread::msleep(1);
  }
  return true;
}

// "A Bc Cxc": product ids of the entries as letters ('A' is 0x000A...), c claimed, x absent.
inline QString DescribeList(const THidDeviceController& controller) {
  QStringList parts;
  for (THidDevice* d : controller.DeviceList()) {
    QString s = TRecorder::Name(d);
    if (!d->IsPresent())
      s += 'x';
    if (d->IsClaimed())
      s += 'c';
    parts << s;
  }
  return parts.join(' ');
}

inline void TRecorder::Listen(THidDeviceController& controller) {
  QObject::connect(&controller, &THidDeviceController::DevicesChanged, &controller,
                   [this, &controller] { events << "[" + DescribeList(controller) + "]"; });
}

}  // namespace hidtest
