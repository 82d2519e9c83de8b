// The hidraw platform under umockdev: enumeration from sysfs, report lengths from the report
// descriptor, hot-plug through the udev monitor, writes, reads, access rights, device loss.
// Runs under umockdev-wrapper; every case gets a fresh testbed.

#include <dlfcn.h>
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "HidTestSupport.h"
#include "HidrawTestbed.h"
#include "hid/HidController.h"
#include "hid/linux/LinuxHidPlatform.h"

extern "C" {
#include <umockdev.h>
}

using namespace hidtest;

namespace {

// Faults of the system calls under the platform, switched on by the cases that need them.
std::atomic<bool> eventfdFails{false};
std::atomic<bool> monitorFails{false};
// One sign of a lost node at a time: a poll on the node reports POLLHUP, or a read of it fails
// with EIO. The node is the pty named here (set before either is switched on).
std::atomic<bool> pollHangsUp{false};
std::atomic<bool> readFailsEio{false};
char nodePty[64] = {};

bool IsNode(int fd) {
  char link[64] = {};
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
  return n > 0 && std::strcmp(link, nodePty) == 0;
}

}  // namespace

// These replace the C library's and libudev's functions for the whole test program.
extern "C" int eventfd(unsigned int count, int flags) noexcept {
  using Real = int (*)(unsigned int, int);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "eventfd"));
  if (eventfdFails) {
    errno = EMFILE;
    return -1;
  }
  return real(count, flags);
}

namespace {
// The reader's wait on the node, hung up. -1: not that, or no fault.
int ReaderPoll(pollfd* fds, nfds_t count) {
  if (!pollHangsUp || count == 0 || !IsNode(fds[0].fd))
    return -1;
  for (nfds_t i = 0; i < count; ++i)
    fds[i].revents = 0;
  fds[0].revents = POLLHUP;
  return 1;
}
}  // namespace

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  using Real = int (*)(pollfd*, nfds_t, int);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "poll"));
  const int faked = ReaderPoll(fds, count);
  return faked >= 0 ? faked : real(fds, count, timeout);
}

// What poll() becomes with _FORTIFY_SOURCE and an array of known size.
extern "C" int __poll_chk(pollfd* fds, nfds_t count, int timeout, size_t size) {
  using Real = int (*)(pollfd*, nfds_t, int, size_t);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "__poll_chk"));
  const int faked = ReaderPoll(fds, count);
  return faked >= 0 ? faked : real(fds, count, timeout, size);
}

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  using Real = ssize_t (*)(int, void*, size_t);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "read"));
  if (readFailsEio && IsNode(fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, count);
}

extern "C" udev_monitor* udev_monitor_new_from_netlink(udev* context, const char* name) {
  using Real = udev_monitor* (*)(udev*, const char*);
  static const Real real =
      reinterpret_cast<Real>(dlsym(RTLD_NEXT, "udev_monitor_new_from_netlink"));
  if (monitorFails) {
    errno = EPROTONOSUPPORT;
    return nullptr;
  }
  return real(context, name);
}

namespace {

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

const char* const KEYBOARD_DESCRIPTOR =
    "05010906A101050719E029E71500250175019508810295017508810195057501050819012905910295017503"
    "910195067508150025650507190029658100C0";

QString Hex(const Bytes& bytes) {
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
          .toHex());
}

// Collects what the program writes to one node.
struct TWrites {
  std::mutex mutex;
  std::vector<Bytes> reports;
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return reports.size();
  }
  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto* writes = static_cast<TWrites*>(self);
    {
      std::lock_guard lock(writes->mutex);
      writes->reports.emplace_back(arg->data, arg->data + arg->data_len);
    }
    umockdev_ioctl_client_complete(client, arg->data_len, 0);
    return TRUE;
  }
};

struct TBed {
  UMockdevTestbed* testbed = umockdev_testbed_new();
  UMockdevIoctlBase* hubHandler = umockdev_ioctl_base_new();
  TWrites hubWrites;

  TBed() {
    g_signal_connect(hubHandler, "handle-write", G_CALLBACK(&TWrites::OnWrite), &hubWrites);
  }
  ~TBed() {
    g_object_unref(hubHandler);
    g_object_unref(testbed);
  }
  bool Add(const QByteArray& record) {
    GError* error = nullptr;
    const bool ok = umockdev_testbed_add_from_string(testbed, record.constData(), &error);
    if (error) {
      qWarning("%s", error->message);
      g_error_free(error);
    }
    return ok;
  }
  bool AddHub(int port = 1, const char* hidName = "0003:FFF0:0018.0001", int minor = 0,
              const QString& descriptorHex = Hex(HubReportDescriptor())) {
    if (!Add(Record(port, hidName, minor, "0003:0000FFF0:00000018", descriptorHex, "0105")))
      return false;
    const QByteArray node = QString("/dev/hidraw%1").arg(minor).toLatin1();
    GError* error = nullptr;
    const bool ok = umockdev_testbed_attach_ioctl(testbed, node.constData(), hubHandler, &error);
    if (error)
      g_error_free(error);
    return ok;
  }
  bool AddKeyboard() {
    return Add(Record(2, "0003:046D:C31C.0002", 1, "0003:0000046D:0000C31C",
                      QString(KEYBOARD_DESCRIPTOR), "6400"));
  }
  void Unplug(const QString& rawSysPath) {
    const QByteArray path = rawSysPath.toLatin1();
    umockdev_testbed_uevent(testbed, path.constData(), "remove");
    umockdev_testbed_remove_device(testbed, path.constData());
  }
  void Plug(const QString& rawSysPath, const char* action = "add") {
    umockdev_testbed_uevent(testbed, rawSysPath.toLatin1().constData(), action);
  }
  // The node hangs up as the kernel's does when its device goes (readers get POLLHUP, reads
  // fail), and the device leaves sysfs, but no udev event tells of it.
  void HangUp(int minor, const QString& rawSysPath) {
    // The test bed keeps its end's descriptor and closes it later: put something harmless in
    // its place, which closes the pty's master.
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ::dup2(nothing, Master(minor));
    ::close(nothing);
    umockdev_testbed_remove_device(testbed, rawSysPath.toLatin1().constData());
  }
  QString NodePath(int minor) {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const QString path = QString::fromLocal8Bit(root) + QString("/dev/hidraw%1").arg(minor);
    g_free(root);
    return path;
  }
  // The test's end of a node: what is written here, the program reads.
  int Master(int minor) {
    return umockdev_testbed_get_dev_fd(testbed,
                                       QString("/dev/hidraw%1").arg(minor).toLatin1().constData());
  }
};

}  // namespace

class HidLinuxTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    if (!qEnvironmentVariableIsSet("UMOCKDEV_DIR") && !qgetenv("LD_PRELOAD").contains("umockdev"))
      QSKIP("needs umockdev-wrapper");
  }

  // Identity and report lengths of each device, from sysfs and the report descriptor.
  void enumeration_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("devInst");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("output");
    QTest::newRow("hub") << 0 << 0xFFF0 << 0x0018 << 0x0105 << "/dev/hidraw0" << 1 << 65 << 65;
    QTest::newRow("keyboard") << 1 << 0x046D << 0xC31C << 0x6400 << "/dev/hidraw1" << 2 << 9 << 2;
  }
  void enumeration() {
    QFETCH(int, index);
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(int, version);
    QFETCH(QString, path);
    QFETCH(int, devInst);
    QFETCH(int, input);
    QFETCH(int, output);
    TBed bed;
    QVERIFY(bed.AddHub());
    QVERIFY(bed.AddKeyboard());
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    QCOMPARE(controller.DeviceList().size(), std::size_t{2});
    THidDevice* d = controller.DeviceList()[static_cast<std::size_t>(index)];
    QCOMPARE(int(d->Attributes().VendorID), vendor);
    QCOMPARE(int(d->Attributes().ProductID), product);
    QCOMPARE(int(d->Attributes().VersionNumber), version);
    QCOMPARE(QString::fromStdString(d->InterfaceInfo().DevicePath), path);
    QCOMPARE(int(d->InterfaceInfo().DevInst), devInst);
    QVERIFY(d->CanReadWrite());
    QVERIFY(!d->IoHandleOpen());
    THidDevice* claimed = controller.ClaimDeviceAt(index);
    QVERIFY(claimed);
    const HIDP_CAPS caps = claimed->QueryCaps();
    QCOMPARE(int(caps.InputReportByteLength), input);
    QCOMPARE(int(caps.OutputReportByteLength), output);
    controller.ReleaseDevice(claimed);
  }

  // Plugging in and out reaches DeviceChange through the udev monitor; a re-plugged hub gets a
  // new entry while the claimed old one is still listed as absent.
  void hotPlug() {
    TBed bed;
    QVERIFY(bed.AddKeyboard());
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    TRecorder rec;
    rec.Listen(controller);

    QVERIFY(bed.AddHub());
    bed.Plug(RawSysPath(1, "0003:FFF0:0018.0001", 0));
    QTRY_COMPARE(controller.DeviceList().size(), std::size_t{2});
    QCOMPARE(controller.DeviceList()[1]->Attributes().ProductID, std::uint16_t{0x0018});
    THidDevice* hub = controller.ClaimDeviceAt(1);
    QVERIFY(hub);

    bed.Unplug(RawSysPath(1, "0003:FFF0:0018.0001", 0));
    QTRY_VERIFY(!hub->IsPresent());
    QCOMPARE(controller.DeviceList().size(), std::size_t{2});

    // Back under a new node, minor and port, as after a bootloader switch.
    QVERIFY(bed.AddHub(3, "0003:FFF0:0018.0003", 2));
    bed.Plug(RawSysPath(3, "0003:FFF0:0018.0003", 2));
    QTRY_COMPARE(controller.DeviceList().size(), std::size_t{3});
    QCOMPARE(controller.DeviceList()[2]->InterfaceInfo().DevInst, 3u);
    QVERIFY(controller.DeviceList()[2]->IsPresent());
    controller.ReleaseDevice(hub);
    QCOMPARE(controller.DeviceList().size(), std::size_t{2});
    // Reported: the hub arriving, gone while claimed, and back (after the keyboard's entry).
    const QString events = rec.events.join(' ');
    QVERIFY2(events.contains(QRegularExpression(" O\\].* Oxc\\].* Oxc O\\]$")), qPrintable(events));
  }

  // A written report reaches the device as written. An input report reaches the handler with
  // its report id first: hidraw leaves the id out for a device without ids (the hub: 64 bytes
  // become ReportID 0 and 64 bytes) and keeps it for one with ids.
  void writeAndRead_data() {
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<int>("reportId");
    QTest::addColumn<int>("length");  // with the id byte
    QTest::newRow("hub, no report ids") << Hex(HubReportDescriptor()) << 0 << 65;
    QTest::newRow("report id 2") << "0600ff0901a10185020901150026ff00750895208102090195209102c0"
                                 << 2 << 33;
    // The id item declares no report: the lengths and the reader both go without ids.
    QTest::newRow("report id item after the last main item")
        << Hex(HubReportDescriptor()) + "8502" << 0 << 65;
  }
  void writeAndRead() {
    QFETCH(QString, descriptor);
    QFETCH(int, reportId);
    QFETCH(int, length);
    TBed bed;
    QVERIFY(bed.AddHub(1, "0003:FFF0:0018.0001", 0, descriptor));
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    THidDevice* hub = controller.ClaimNextDevice();
    QVERIFY(hub);
    QCOMPARE(int(hub->QueryCaps().OutputReportByteLength), length);
    TRecorder rec;
    hub->SetDataHandler(rec.DataHandler());

    Bytes frame(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < frame.size(); ++i)
      frame[i] = static_cast<std::uint8_t>(i);
    frame[0] = static_cast<std::uint8_t>(reportId);
    QVERIFY(hub->WriteReport(frame.data(), static_cast<std::uint32_t>(length)).Ok());
    QTRY_COMPARE(bed.hubWrites.Count(), std::size_t{1});
    {
      std::lock_guard lock(bed.hubWrites.mutex);
      QCOMPARE(bed.hubWrites.reports[0], frame);
    }

    // As hidraw hands it out: the id byte only where the device uses ids.
    Bytes raw;
    if (reportId != 0)
      raw.push_back(static_cast<std::uint8_t>(reportId));
    for (int i = 0; i < length - 1; ++i)
      raw.push_back(static_cast<std::uint8_t>(0xA0 + i));
    QCOMPARE(::write(bed.Master(0), raw.data(), raw.size()), ssize_t(raw.size()));
    QTRY_COMPARE(rec.reports.size(), std::size_t{1});
    Bytes expected = raw;
    if (reportId == 0)
      expected.insert(expected.begin(), 0);
    QCOMPARE(rec.reports[0], expected);
    QCOMPARE(int(rec.reports[0].size()), length);
    controller.ReleaseDevice(hub);
  }

  // A node the user may not open for reading and writing: listed, with the reason kept, and
  // neither written to nor read from.
  void accessRefused() {
    TBed bed;
    QVERIFY(bed.AddHub());
    gchar* root = umockdev_testbed_get_root_dir(bed.testbed);
    const QByteArray node = QByteArray(root) + "/dev/hidraw0";
    g_free(root);
    struct stat before;
    QCOMPARE(::stat(node.constData(), &before), 0);
    QCOMPARE(::chmod(node.constData(), 0), 0);
    SetPermissionOverride(false);
    std::unique_ptr<THidDeviceController> controller;
    controller =
        std::make_unique<THidDeviceController>(nullptr, std::make_shared<TLinuxHidPlatform>());
    QCOMPARE(controller->DeviceList().size(), std::size_t{1});
    THidDevice* hub = controller->ClaimNextDevice();
    QVERIFY(hub);
    const bool canReadWrite = hub->CanReadWrite();
    const int openError = hub->OpenError();
    TRecorder rec;
    hub->SetDataHandler(rec.DataHandler());
    const bool reader = hub->HasReader();
    const std::uint8_t frame[65] = {};
    const TResult<void> written = hub->WriteReport(frame, 65);
    controller->ReleaseDevice(hub);
    controller.reset();
    SetPermissionOverride(true);
    ::chmod(node.constData(), before.st_mode & 07777);
    QVERIFY(!canReadWrite);
    QCOMPARE(openError, EACCES);
    QVERIFY(!reader);
    QVERIFY(!written);
    QCOMPARE(written.Error().code, EACCES);
  }

  // A node that hangs up under its reader with no udev event: the reader's loss leads to a
  // rescan, which finds the hub gone. Each sign counts on its own.
  void hangUpLeadsToRescan_data() {
    QTest::addColumn<QString>("sign");
    QTest::newRow("POLLHUP and EIO") << "both";
    QTest::newRow("POLLHUP alone") << "pollhup";
    QTest::newRow("EIO read alone") << "eio";
  }
  void hangUpLeadsToRescan() {
    QFETCH(QString, sign);
    TBed bed;
    QVERIFY(bed.AddHub());
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    TRecorder rec;
    rec.Listen(controller);
    THidDevice* hub = controller.ClaimNextDevice();
    QVERIFY(hub);
    hub->SetDataHandler(rec.DataHandler());
    QTRY_VERIFY(hub->ReadHandleOpen());
    struct Clear {
      ~Clear() {
        pollHangsUp = false;
        readFailsEio = false;
      }
    } clear;
    ::ptsname_r(bed.Master(0), nodePty, sizeof nodePty);
    const QString sysPath = RawSysPath(1, "0003:FFF0:0018.0001", 0);
    if (sign == "both") {
      bed.HangUp(0, sysPath);
    } else {
      umockdev_testbed_remove_device(bed.testbed, sysPath.toLatin1().constData());
      (sign == "pollhup" ? pollHangsUp : readFailsEio) = true;
      // A report ends the wait the reader is in: the next wait or read fails.
      const Bytes raw(64, 0x5A);
      QCOMPARE(::write(bed.Master(0), raw.data(), raw.size()), ssize_t(raw.size()));
    }
    QTRY_VERIFY(!hub->IsPresent());
    QCOMPARE(rec.events, QStringList{"[Oxc]"});
    controller.ReleaseDevice(hub);
    QVERIFY(controller.DeviceList().empty());
  }

  // No wake-up descriptor can be made for the reader (out of descriptors): it neither spins nor
  // goes deaf. Reports still arrive, a stop still ends it, and the process stays idle.
  void readerWithoutWakeDescriptor() {
    TBed bed;
    QVERIFY(bed.AddHub());
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    THidDevice* hub = controller.ClaimNextDevice();
    QVERIFY(hub);
    TRecorder rec;
    eventfdFails = true;
    hub->SetDataHandler(rec.DataHandler());
    const bool listening = QTest::qWaitFor([&] { return hub->ReadHandleOpen(); }, 5000);
    QTest::qWait(20);
    eventfdFails = false;
    QVERIFY(listening);

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = ProcessCpuSeconds();
    QTest::qWait(500);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double seconds = double(wall.elapsed()) / 1000;
    // An idle reader costs next to nothing; a spinning one a whole core.
    QVERIFY2(cpu < 0.25 * seconds, qPrintable(QString("%1 s CPU in %2 s").arg(cpu).arg(seconds)));

    const Bytes raw(64, 0x5A);
    QCOMPARE(::write(bed.Master(0), raw.data(), raw.size()), ssize_t(raw.size()));
    QTRY_COMPARE(rec.reports.size(), std::size_t{1});
    QCOMPARE(rec.reports[0].size(), std::size_t{65});
    hub->SetDataHandler({});
    QVERIFY(!hub->HasReader());
    controller.ReleaseDevice(hub);
  }

  // A hub whose node could not be opened for writing when first seen is tried again at the
  // next device change, udev's "change" (its rules set the rights) or any rescan; once it can
  // be opened the change is reported and its reader starts.
  void accessArrivesLater_data() {
    QTest::addColumn<QString>("notice");
    QTest::newRow("udev change event") << "change";
    QTest::newRow("another device plugged") << "add";
    QTest::newRow("rescan") << "";
  }
  void accessArrivesLater() {
    QFETCH(QString, notice);
    TBed bed;
    QVERIFY(bed.AddHub());
    const QByteArray node = bed.NodePath(0).toLocal8Bit();
    struct stat before;
    QCOMPARE(::stat(node.constData(), &before), 0);
    QCOMPARE(::chmod(node.constData(), 0), 0);
    SetPermissionOverride(false);
    struct Restore {
      ~Restore() { SetPermissionOverride(true); }
    } restore;
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    TRecorder rec;
    rec.Listen(controller);
    controller.DeviceChange();
    rec.events.clear();
    THidDevice* hub = controller.ClaimNextDevice();
    QVERIFY(hub);
    hub->SetDataHandler(rec.DataHandler());
    QVERIFY(!hub->CanReadWrite());
    QVERIFY(!hub->HasReader());
    controller.DeviceChange();
    QVERIFY(rec.events.isEmpty());

    QCOMPARE(::chmod(node.constData(), before.st_mode & 07777), 0);
    if (notice == "change") {
      bed.Plug(RawSysPath(1, "0003:FFF0:0018.0001", 0), "change");
    } else if (notice == "add") {
      QVERIFY(bed.AddKeyboard());
      bed.Plug(RawSysPath(2, "0003:046D:C31C.0002", 1));
    } else {
      controller.DeviceChange();
    }
    QTRY_VERIFY(hub->CanReadWrite());
    QCOMPARE(hub->OpenError(), 0);
    QVERIFY(!rec.events.isEmpty());
    QVERIFY(hub->ReaderRunning());
    QTRY_VERIFY(hub->ReadHandleOpen());
    const Bytes raw(64, 0x33);
    QCOMPARE(::write(bed.Master(0), raw.data(), raw.size()), ssize_t(raw.size()));
    QTRY_COMPARE(rec.reports.size(), std::size_t{1});
    const std::uint8_t frame[65] = {};
    QVERIFY(hub->WriteReport(frame, 65).Ok());
    controller.ReleaseDevice(hub);
  }

  // Without a udev monitor the list is still kept in step: a rescan every 2 s finds a hub
  // plugged in and one unplugged.
  void noMonitorRescans() {
    TBed bed;
    monitorFails = true;
    std::unique_ptr<THidDeviceController> controller;
    controller =
        std::make_unique<THidDeviceController>(nullptr, std::make_shared<TLinuxHidPlatform>());
    monitorFails = false;
    TRecorder rec;
    rec.Listen(*controller);
    QVERIFY(controller->DeviceList().empty());
    QVERIFY(bed.AddHub());
    QTRY_COMPARE_WITH_TIMEOUT(controller->DeviceList().size(), std::size_t{1}, 6000);
    bed.HangUp(0, RawSysPath(1, "0003:FFF0:0018.0001", 0));
    QTRY_COMPARE_WITH_TIMEOUT(controller->DeviceList().size(), std::size_t{0}, 6000);
    QCOMPARE(rec.events, (QStringList{"[O]", "[]"}));
  }

  // A hidraw node enumerated before its parents' properties were all written: what was missing
  // is read again at a later rescan, which reports the change so that users list it again.
  void identityWrittenLate_data() {
    QTest::addColumn<QString>("late");
    QTest::addColumn<bool>("listedAtFirst");
    QTest::newRow("HID_PHYS") << "HID_PHYS" << true;
    QTest::newRow("HID_ID") << "HID_ID" << false;
    QTest::newRow("bcdDevice and HID_PHYS") << "bcdDevice" << true;
    QTest::newRow("report descriptor") << "report_descriptor" << true;
  }
  void identityWrittenLate() {
    QFETCH(QString, late);
    QFETCH(bool, listedAtFirst);
    TBed bed;
    const QString phys = "usb-0000:00:14.0-1/input0";
    QString record =
        QString::fromLatin1(Record(1, "0003:FFF0:0018.0001", 0, "0003:0000FFF0:00000018",
                                   Hex(HubReportDescriptor()), "0105", phys));
    const QString hidPath = "/sys" + UsbSysPath(1) + "/1-1:1.0/0003:FFF0:0018.0001";
    if (late == "HID_PHYS") {
      record.remove("E: HID_PHYS=" + phys + "\n");
    } else if (late == "HID_ID") {
      record.remove("E: HID_ID=0003:0000FFF0:00000018\n");
    } else if (late == "bcdDevice") {
      record.remove("E: HID_PHYS=" + phys + "\n");
      record.remove("A: bcdDevice=0105\n");
    } else {
      record.replace("H: report_descriptor=" + Hex(HubReportDescriptor()), "H: report_descriptor=");
    }
    QVERIFY(bed.Add(record.toLatin1()));
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    TRecorder rec;
    rec.Listen(controller);
    QCOMPARE(controller.DeviceList().size(), std::size_t(listedAtFirst ? 1 : 0));
    if (late == "report_descriptor") {
      THidDevice* hub = controller.ClaimNextDevice();
      QVERIFY(hub);
      QCOMPARE(int(hub->QueryCaps().InputReportByteLength), 0);
      controller.ReleaseDevice(hub);
    }
    controller.DeviceChange();
    rec.events.clear();

    if (late == "HID_PHYS") {
      umockdev_testbed_set_property(bed.testbed, qPrintable(hidPath), "HID_PHYS", qPrintable(phys));
    } else if (late == "HID_ID") {
      umockdev_testbed_set_property(bed.testbed, qPrintable(hidPath), "HID_ID",
                                    "0003:0000FFF0:00000018");
    } else if (late == "bcdDevice") {
      umockdev_testbed_set_attribute(bed.testbed, qPrintable("/sys" + UsbSysPath(1)), "bcdDevice",
                                     "0105");
      umockdev_testbed_set_property(bed.testbed, qPrintable(hidPath), "HID_PHYS", qPrintable(phys));
    } else {
      Bytes descriptor = HubReportDescriptor();
      umockdev_testbed_set_attribute_binary(bed.testbed, qPrintable(hidPath), "report_descriptor",
                                            descriptor.data(),
                                            static_cast<gssize>(descriptor.size()));
    }
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{"[O]"});
    QCOMPARE(controller.DeviceList().size(), std::size_t{1});
    THidDevice* hub = controller.DeviceList()[0];
    QCOMPARE(hub->Attributes().VendorID, std::uint16_t{0xFFF0});
    QCOMPARE(hub->Attributes().ProductID, std::uint16_t{0x0018});
    QCOMPARE(hub->Attributes().VersionNumber, std::uint16_t{0x0105});
    QCOMPARE(QString::fromStdString(hub->InterfaceInfo().Properties.at("HID_PHYS")), phys);
    QVERIFY((hub = controller.ClaimNextDevice()));
    QCOMPARE(int(hub->QueryCaps().InputReportByteLength), 65);
    QCOMPARE(int(hub->QueryCaps().OutputReportByteLength), 65);
    controller.ReleaseDevice(hub);
    // Nothing more to read: the next rescan reports nothing.
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{"[O]"});
  }

  // The hub goes away while its reader waits: the rescan marks it unplugged, the reader's read
  // ends and its handle is gone; writes say why; the release takes the entry off the list.
  void lossWhileReading() {
    TBed bed;
    QVERIFY(bed.AddHub());
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    THidDevice* hub = controller.ClaimNextDevice();
    QVERIFY(hub);
    TRecorder rec;
    hub->SetDataHandler(rec.DataHandler());
    QVERIFY(hub->ReaderRunning());
    QTRY_VERIFY(hub->ReadHandleOpen());
    bed.Unplug(RawSysPath(1, "0003:FFF0:0018.0001", 0));
    QTRY_VERIFY(!hub->IsPresent());
    QVERIFY(!hub->ReadHandleOpen());
    QVERIFY(hub->ReaderRunning());
    const std::uint8_t frame[65] = {};
    const TResult<void> written = hub->WriteReport(frame, 65);
    QVERIFY(!written);
    QCOMPARE(written.Error().code, ENODEV);
    controller.ReleaseDevice(hub);
    QVERIFY(controller.DeviceList().empty());
  }
};

QTEST_MAIN(HidLinuxTest)
#include "tst_hid_linux.moc"
