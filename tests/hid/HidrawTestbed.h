#pragma once
// What tests of the hidraw platform under umockdev share: a USB HID device as sysfs shows it,
// and a way to act as an ordinary user although the tests run as root.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace hidtest {

inline QString UsbSysPath(int port) {
  return QString("/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(port);
}

// The hidraw node's syspath, as udev events and umockdev_testbed_remove_device want it.
inline QString RawSysPath(int port, const QString& hidName, int minor) {
  return QString("/sys%1/1-%2:1.0/%3/hidraw/hidraw%4")
      .arg(UsbSysPath(port))
      .arg(port)
      .arg(hidName)
      .arg(minor);
}

// One USB HID device: USB device, interface, hid device, hidraw node /dev/hidraw<minor>.
// `phys` is the hid device's HID_PHYS; empty leaves it out. `uniq` its HID_UNIQ, the USB
// serial number.
inline QByteArray Record(int port, const QString& hidName, int minor, const QString& hidId,
                         const QString& descriptorHex, const QString& bcdDevice,
                         const QString& phys = {}, const QString& uniq = {}) {
  const QString usb = UsbSysPath(port);
  const QString intf = usb + QString("/1-%1:1.0").arg(port);
  const QString hid = intf + "/" + hidName;
  const QString raw = hid + QString("/hidraw/hidraw%1").arg(minor);
  QString r;
  r += QString(
           "P: %1\nN: hidraw%2\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw%2\n"
           "E: MAJOR=240\nE: MINOR=%2\n\n")
           .arg(raw)
           .arg(minor);
  r += QString(
           "P: %1\nE: SUBSYSTEM=hid\nE: HID_ID=%2\nE: HID_NAME=Test device %3\n"
           "E: HID_UNIQ=%4\n%5H: report_descriptor=%6\n\n")
           .arg(hid, hidId)
           .arg(port)
           .arg(uniq, phys.isEmpty() ? QString() : "E: HID_PHYS=" + phys + "\n", descriptorHex);
  r += QString("P: %1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n").arg(intf);
  r += QString("P: %1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: bcdDevice=%2\n\n")
           .arg(usb, bcdDevice);
  return r.toLatin1();
}

// Lowers or restores this thread's right to ignore file permissions (tests run as root).
// Threads started meanwhile keep what they started with.
inline void SetPermissionOverride(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  syscall(SYS_capget, &header, data);
  const std::uint32_t bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  data[0].effective =
      on ? (data[0].effective | (bits & data[0].permitted)) : (data[0].effective & ~bits);
  syscall(SYS_capset, &header, data);
}

}  // namespace hidtest
