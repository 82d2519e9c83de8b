// HID layer timings: the exchange round trip (WriteReport to the data handler's run, with the
// device answering at once), its CPU time and the UI thread's wake-ups, the same exchange as
// the updater makes it (through the link, with its 2 ms pause), and DeviceChange with 64 HID
// devices present.
//
//   bench_hid sim [exchanges]                       on the simulated bus
//   umockdev-wrapper bench_hid linux [exchanges]    on the hidraw platform under umockdev
//
// With "exchanges" only the exchanges run (the rescans under umockdev take most of a minute).

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "hid/HidController.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "hid/sim/SimHidBus.h"
#include "protocol/HubDevice.h"
#include "protocol/HubLink.h"

#ifdef HALVEK_HAVE_UMOCKDEV
#include <unistd.h>
extern "C" {
#include <umockdev.h>
}
#endif

// Every operator new of the process is counted, to show what one exchange allocates.
std::atomic<std::uint64_t> allocations{0};

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

constexpr int DEVICES = 64;
constexpr int WARMUP = 200;
constexpr int SIM_EXCHANGES = 5000;
constexpr int LINUX_EXCHANGES = 2000;
constexpr int RESCANS = 200;
constexpr int LINK_EXCHANGES = 1000;

struct TReceiver {
  QEventLoop* loop = nullptr;
  std::uint64_t reports = 0;
  void Data(THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
    ++reports;
    if (loop)
      loop->quit();
  }
};

struct TUsage {
  double processCpuUs = 0;
  double threadCpuUs = 0;
  long threadSwitches = 0;  // times the UI thread gave up the processor to wait
  std::uint64_t allocations = 0;
};

double Micros(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

TUsage Usage() {
  rusage self{};
  rusage thread{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_THREAD, &thread);
  return {Micros(self.ru_utime) + Micros(self.ru_stime),
          Micros(thread.ru_utime) + Micros(thread.ru_stime), thread.ru_nvcsw, allocations.load()};
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1)));
  return v[i];
}

// Exchanges as the updater makes them: SendFrame's write, 2 ms pause and reply. The reply's
// command byte names another command, which a hub that has not echoed one yet may send.
bool LinkExchanges(THidDevice& hub, const char* label) {
  THubLink link;
  link.SetCurrentDevice(&hub);
  hub.SetDataHandler(link.DataHandler());
  for (int i = 0; i < WARMUP; ++i)
    (void)link.SendFrame(CMD_LED_ADJUST_END, MakeRequest());
  const TUsage start = Usage();
  for (int i = 0; i < LINK_EXCHANGES; ++i) {
    if (link.SendFrame(CMD_LED_ADJUST_END, MakeRequest()) != 0) {
      std::fprintf(stderr, "no reply through the link\n");
      return false;
    }
  }
  const TUsage end = Usage();
  std::printf(
      "%-6s   through the link (2 ms pause each), %d exchanges: CPU per exchange %.1f us in the "
      "process, %.1f us on the UI thread; UI thread waits %.2f; allocations %.2f\n",
      label, LINK_EXCHANGES, (end.processCpuUs - start.processCpuUs) / LINK_EXCHANGES,
      (end.threadCpuUs - start.threadCpuUs) / LINK_EXCHANGES,
      static_cast<double>(end.threadSwitches - start.threadSwitches) / LINK_EXCHANGES,
      static_cast<double>(end.allocations - start.allocations) / LINK_EXCHANGES);
  return true;
}

// Writes a frame and runs the event loop until the answer has reached the handler.
bool Exchanges(THidDeviceController& controller, int count, const char* label) {
  THidDevice* hub = nullptr;
  const std::vector<THidDevice*>& list = controller.DeviceList();
  for (std::size_t i = 0; i < list.size() && !hub; ++i) {
    if (list[i]->Attributes().VendorID == 0xFFF0) {
      hub = controller.ClaimDeviceAt(static_cast<int>(i));
    }
  }
  if (!hub) {
    std::fprintf(stderr, "no hub listed\n");
    return false;
  }
  TReceiver receiver;
  hub->SetDataHandler(THidDataEvent::Bind<&TReceiver::Data>(&receiver));
  std::uint8_t frame[65] = {0, 0x55, 5, 0, 4};
  std::vector<double> micros;
  QElapsedTimer clock;
  TUsage start;
  QEventLoop loop;  // one for all exchanges: the bench adds no allocation of its own
  for (int i = 0; i < WARMUP + count; ++i) {
    if (i == WARMUP)
      start = Usage();
    receiver.loop = &loop;
    const std::uint64_t before = receiver.reports;
    clock.start();
    hub->DiscardPendingInput();
    if (!hub->WriteReport(frame, sizeof frame)) {
      std::fprintf(stderr, "write failed\n");
      return false;
    }
    if (receiver.reports == before)
      loop.exec();
    const double us = static_cast<double>(clock.nsecsElapsed()) / 1000.0;
    receiver.loop = nullptr;
    if (i >= WARMUP)
      micros.push_back(us);
  }
  const TUsage end = Usage();
  std::printf(
      "%-6s exchange round trip (write to handler), %d exchanges: p50 %.1f us, p99 %.1f us\n",
      label, count, Percentile(micros, 0.50), Percentile(micros, 0.99));
  // The process's CPU covers the reader, the UI thread and the device's answer (the emulator,
  // or umockdev's worker).
  std::printf(
      "%-6s   CPU per exchange: %.1f us in the process, %.1f us on the UI thread; "
      "UI thread waits per exchange %.2f\n",
      label, (end.processCpuUs - start.processCpuUs) / count,
      (end.threadCpuUs - start.threadCpuUs) / count,
      static_cast<double>(end.threadSwitches - start.threadSwitches) / count);
  // The simulated bus's queue entry is among them.
  std::printf("%-6s   allocations per exchange (whole process): %.2f\n", label,
              static_cast<double>(end.allocations - start.allocations) / count);
  const bool linked = LinkExchanges(*hub, label);
  controller.ReleaseDevice(hub);
  return linked;
}

void Rescans(THidDeviceController& controller, const char* label) {
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < RESCANS; ++i)
    controller.DeviceChange();
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6 / RESCANS;
  std::printf("%-6s DeviceChange with %zu HID devices present: mean %.3f ms per rescan\n", label,
              controller.DeviceList().size(), ms);
  // The platform's share: enumeration alone, and the read/write probe of every node.
  clock.start();
  std::size_t found = 0;
  for (int i = 0; i < RESCANS; ++i)
    found += controller.Platform().Enumerate().size();
  const double enumerateMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 / RESCANS;
  const std::vector<THidPnPInfo> infos = controller.Platform().Enumerate();
  clock.start();
  for (int i = 0; i < RESCANS; ++i) {
    for (const THidPnPInfo& info : infos)
      (void)controller.Platform().Open(info, EHidAccess::ReadWrite);
  }
  const double probeMs = static_cast<double>(clock.nsecsElapsed()) / 1e6 / RESCANS;
  std::printf("%-6s   of which enumeration %.3f ms, opening every node once %.3f ms\n", label,
              enumerateMs, probeMs);
  (void)found;
}

int RunSim(bool rescans) {
  auto bus = std::make_shared<TSimHidBus>();
  TSimDeviceId hub = 0;
  TSimHidBus::TDeviceConfig config;
  config.VendorID = 0xFFF0;
  config.ProductID = 0x0018;
  config.ReportDescriptor = HubReportDescriptor();
  std::uint8_t reply[65] = {0, 0x55, 5, 0, 4, 0};
  hub = bus->Attach(
      config, [&](const std::uint8_t*, std::size_t) { bus->PushInput(hub, reply, sizeof reply); });
  for (int i = 1; i < DEVICES; ++i) {
    TSimHidBus::TDeviceConfig other;
    other.VendorID = 0x046D;
    other.ProductID = static_cast<std::uint16_t>(0xC000 + i);
    other.Caps = HIDP_CAPS{6, 1, 9, 2, 0};
    bus->Attach(other);
  }
  THidDeviceController controller(nullptr, bus);
  if (!Exchanges(controller, SIM_EXCHANGES, "sim"))
    return 1;
  if (rescans)
    Rescans(controller, "sim");
  return 0;
}

#ifdef HALVEK_HAVE_UMOCKDEV

QByteArray Record(int index, bool hub) {
  const QByteArray usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + QByteArray::number(index);
  const QByteArray intf = usb + "/1-" + QByteArray::number(index) + ":1.0";
  const QByteArray seq = QByteArray::number(index + 1, 16).rightJustified(4, '0').toUpper();
  const QByteArray hidName = (hub ? "0003:FFF0:0018." : "0003:046D:C31C.") + seq;
  const QByteArray hid = intf + "/" + hidName;
  const QByteArray minor = QByteArray::number(index);
  const QByteArray descriptor =
      hub ? QByteArray(reinterpret_cast<const char*>(HubReportDescriptor().data()),
                       static_cast<qsizetype>(HubReportDescriptor().size()))
                .toHex()
          : QByteArray(
                "05010906a101050719e029e71500250175019508810295017508810195057501050819012905"
                "910295017503910195067508150025650507190029658100c0");
  QByteArray r;
  r += "P: " + hid + "/hidraw/hidraw" + minor + "\nN: hidraw" + minor +
       "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw" + minor +
       "\nE: MAJOR=240\nE: MINOR=" + minor + "\n\n";
  r += "P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=" +
       (hub ? "0003:0000FFF0:00000018" : "0003:0000046D:0000C31C") +
       "\nE: HID_NAME=bench\nH: report_descriptor=" + descriptor + "\n\n";
  r += "P: " + intf + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n";
  r += "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: bcdDevice=0100\n\n";
  return r;
}

struct TEcho {
  int master = -1;
  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    umockdev_ioctl_client_complete(client, arg->data_len, 0);
    std::uint8_t reply[64] = {0x55, 5, 0, 4, 0};
    [[maybe_unused]] const ssize_t n =
        ::write(static_cast<TEcho*>(self)->master, reply, sizeof reply);
    return TRUE;
  }
};

int RunLinux(bool rescans) {
  UMockdevTestbed* testbed = umockdev_testbed_new();
  for (int i = 0; i < DEVICES; ++i) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, Record(i, i == 0).constData(), &error)) {
      std::fprintf(stderr, "testbed: %s\n", error ? error->message : "?");
      return 1;
    }
  }
  TEcho echo;
  echo.master = umockdev_testbed_get_dev_fd(testbed, "/dev/hidraw0");
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-write", G_CALLBACK(&TEcho::OnWrite), &echo);
  umockdev_testbed_attach_ioctl(testbed, "/dev/hidraw0", handler, nullptr);
  int result = 0;
  {
    THidDeviceController controller(nullptr, std::make_shared<TLinuxHidPlatform>());
    if (!Exchanges(controller, LINUX_EXCHANGES, "linux"))
      result = 1;
    if (rescans)
      Rescans(controller, "linux");
  }
  g_object_unref(handler);
  g_object_unref(testbed);
  return result;
}

#endif

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool linuxPlatform = argc > 1 && std::strcmp(argv[1], "linux") == 0;
  const bool rescans = !(argc > 2 && std::strcmp(argv[2], "exchanges") == 0);
  if (!linuxPlatform)
    return RunSim(rescans);
#ifdef HALVEK_HAVE_UMOCKDEV
  if (!qEnvironmentVariableIsSet("LD_PRELOAD")) {
    std::fprintf(stderr, "run it as: umockdev-wrapper %s linux\n", argv[0]);
    return 2;
  }
  return RunLinux(rescans);
#else
  std::fprintf(stderr, "built without umockdev\n");
  return 2;
#endif
}
