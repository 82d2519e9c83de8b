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

// Records every handler call as a short line.
struct TRecorder {
  QStringList events;
  std::vector<Bytes> reports;  // ReportID followed by the data
  std::vector<std::uint32_t> errors;
  std::function<void(THidDevice*)> onData;  // runs inside the data handler

  // Devices are named by letter: product id 0x000A is "A", 0x000B "B"...
  static QString Name(THidDevice* d) {
    return QString(QChar('A' + d->Attributes().ProductID - 0x0A));
  }
  void Arrival(THidDevice* d) { events << "arr:" + Name(d); }
  void Removal(THidDevice* d) { events << "rem:" + Name(d); }
  void Unplug(THidDevice* d) { events << "unplug:" + Name(d); }
  void Change(THidDeviceController*) { events << "chg"; }
  bool Enumerate(THidDevice* d, std::int32_t idx) {
    events << QString("enum:%1@%2").arg(Name(d)).arg(idx);
    return enumerateGoesOn;
  }
  void Data(THidDevice* d, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
    Bytes r{id};
    r.insert(r.end(), data, data + size);
    reports.push_back(std::move(r));
    if (onData)
      onData(d);
  }
  void DataError(THidDevice*, std::uint32_t error) { errors.push_back(error); }
  bool enumerateGoesOn = true;

  THidPlugEvent ArrivalHandler() { return THidPlugEvent::Bind<&TRecorder::Arrival>(this); }
  THidPlugEvent RemovalHandler() { return THidPlugEvent::Bind<&TRecorder::Removal>(this); }
  THidPlugEvent UnplugHandler() { return THidPlugEvent::Bind<&TRecorder::Unplug>(this); }
  TNotifyEvent ChangeHandler() { return TNotifyEvent::Bind<&TRecorder::Change>(this); }
  THidEnumerateEvent EnumerateHandler() {
    return THidEnumerateEvent::Bind<&TRecorder::Enumerate>(this);
  }
  THidDataEvent DataHandler() { return THidDataEvent::Bind<&TRecorder::Data>(this); }
  THidDataErrorEvent DataErrorHandler() {
    return THidDataErrorEvent::Bind<&TRecorder::DataError>(this);
  }
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

}  // namespace hidtest
