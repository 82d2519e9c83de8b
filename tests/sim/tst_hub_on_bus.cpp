// Emulated hubs on the simulated HID bus, reached by the program's own controller, device
// objects and THubLink: the device the program sees, exchanges, re-enumeration and access.

#include <QTest>
#include <memory>

#include "hid/HidController.h"
#include "hid/ReportDescriptor.h"
#include "protocol/Commands.h"
#include "protocol/HubLink.h"
#include "sim/SimulatedHub.h"
#include "update/EmbeddedFirmware.h"

namespace {

THubEmulatorOptions Quick(std::uint32_t version) {
  THubEmulatorOptions o;
  o.applicationVersion = version;
  o.bootloaderSwitchDelayMs = 20;
  o.rebootDelayMs = 20;
  return o;
}

struct TRig {
  std::shared_ptr<TSimHidBus> bus = std::make_shared<TSimHidBus>();
  std::vector<std::unique_ptr<TSimulatedHub>> hubs;
  std::unique_ptr<THidDeviceController> controller;
  THubLink link;
  THidDevice* device = nullptr;

  explicit TRig(std::initializer_list<std::uint32_t> versions) {
    for (std::uint32_t v : versions)
      hubs.push_back(std::make_unique<TSimulatedHub>(bus, Quick(v)));
    controller = std::make_unique<THidDeviceController>(nullptr, bus);
  }
  ~TRig() { Release(); }

  void Release() {
    link.SetCurrentDevice(nullptr);
    if (device)
      controller->ReleaseDevice(device);
  }
  // Claims the list entry of the hub's present attachment and makes it the link's device.
  bool Use(const TSimulatedHub& hub) {
    Release();
    const auto& list = controller->DeviceList();
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i]->InterfaceInfo().DevInst != hub.DevInst())
        continue;
      if (!list[i]->CanReadWrite())
        return false;
      device = controller->ClaimDeviceAt(int(i));
      if (!device)
        return false;
      device->SetDataHandler(link.DataHandler());
      link.SetCurrentDevice(device);
      return QTest::qWaitFor([&] { return bus->OpenReadHandles(hub.DeviceId()) == 1; }, 5000);
    }
    return false;
  }
  // The list entry of the hub's present attachment, once the controller has caught up.
  THidDevice* Listed(const TSimulatedHub& hub) {
    THidDevice* found = nullptr;
    (void)QTest::qWaitFor(
        [&] {
          for (THidDevice* d : controller->DeviceList()) {
            if (d->IsPresent() && d->InterfaceInfo().DevInst == hub.DevInst())
              found = d;
          }
          return found != nullptr;
        },
        5000);
    return found;
  }
  TVersionReply Version() {
    if (link.SendFrame(CMD_GET_VERSION, VersionQueryRequest()) != 0)
      return {};
    return DecodeVersionReply(link.Reply());
  }
};

}  // namespace

class HubOnBusTest : public QObject {
  Q_OBJECT

 private slots:
  // The report lengths a real HID stack would compute from the hub's descriptor.
  void descriptor() {
    const auto& d = HubReportDescriptor();
    const HIDP_CAPS caps = CapsFromReportDescriptor(d.data(), d.size());
    QCOMPARE(caps.UsagePage, 0xFF00);
    QCOMPARE(caps.InputReportByteLength, 65);
    QCOMPARE(caps.OutputReportByteLength, 65);
    QCOMPARE(caps.FeatureReportByteLength, 0);
  }

  // Three hubs at once: each is listed with the hub's ids and answers its own version query.
  void versionReplies() {
    TRig rig{0x11140801, 0x11150906, 0x01020304};
    QCOMPARE(rig.controller->DeviceList().size(), std::size_t{3});
    for (const auto& hub : rig.hubs) {
      THidDevice* listed = rig.Listed(*hub);
      QVERIFY(listed);
      QCOMPARE(listed->Attributes().VendorID, 0xFFF0);
      QCOMPARE(listed->Attributes().ProductID, 0x0018);
      QVERIFY(rig.Use(*hub));
      QCOMPARE(rig.device->QueryCaps().OutputReportByteLength, 65);
      const TVersionReply v = rig.Version();
      QCOMPARE(v.application, hub->Emulator().ApplicationVersion());
      QCOMPARE(v.bootloader, hub->Emulator().BootloaderVersion());
      const auto& t = hub->Emulator().Transcript();
      QCOMPARE(t.size(), std::size_t{1});
      QCOMPARE(t[0].command, CMD_GET_VERSION);
      QCOMPARE(t[0].data, std::vector<std::uint8_t>{0});
    }
  }

  // Into the bootloader and back through the bus: every return is a new DevInst, and the
  // program reaches the hub again only through the new entry.
  void reEnumeration() {
    TRig rig{0x11140801, 0x11140801};
    TSimulatedHub& hub = *rig.hubs[1];
    const std::uint32_t first = hub.DevInst();
    QVERIFY(rig.Use(hub));
    QCOMPARE(QueryMode(rig.link), EHubMode::Application);
    rig.link.SendFrame(CMD_ENTER_BOOTLOADER, MakeRequest());
    QTRY_COMPARE(hub.Emulator().Attachments(), 2);
    const std::uint32_t second = hub.DevInst();
    QVERIFY(second != first);
    QVERIFY(rig.Listed(hub));
    QVERIFY(rig.Use(hub));
    QCOMPARE(QueryMode(rig.link), EHubMode::Bootloader);
    rig.link.SendFrame(CMD_REBOOT, MakeRequest());
    QTRY_COMPARE(hub.Emulator().Attachments(), 3);
    QVERIFY(hub.DevInst() != second && hub.DevInst() != first);
    QVERIFY(rig.Use(hub));
    QCOMPARE(QueryMode(rig.link), EHubMode::Application);
    // The other hub saw nothing of it.
    QCOMPARE(rig.hubs[0]->Emulator().Attachments(), 1);
    QVERIFY(rig.hubs[0]->Emulator().Transcript().empty());
  }

  // A whole update through the program's exchange, at the hub's usual reply latency.
  void updateThroughTheLink() {
    TRig rig{0x11140801};
    TSimulatedHub& hub = *rig.hubs[0];
    const FirmwareLines image = LoadEmbeddedFirmware().Value();
    QVERIFY(rig.Use(hub));
    QCOMPARE(QueryMode(rig.link), EHubMode::Application);
    QCOMPARE(rig.link.SendFrame(CMD_LED_ADJUST_BEGIN, MakeRequest()), 0);
    rig.link.SendFrame(CMD_ENTER_BOOTLOADER, MakeRequest());
    QTRY_COMPARE(hub.Emulator().Attachments(), 2);
    QVERIFY(rig.Listed(hub));
    QVERIFY(rig.Use(hub));
    for (std::size_t i = 0; i < image.Count(); ++i) {
      if (!image.Record(i))
        continue;
      QCOMPARE(rig.link.SendFrame(CMD_LOAD_RECORD, LoadRecordRequest(*image.Record(i))), 0);
      QCOMPARE(rig.link.SendFrame(CMD_PROGRAM_RECORD, ProgramRecordRequest(*image.Record(i))), 0);
    }
    rig.link.SendFrame(CMD_REBOOT, MakeRequest());
    QTRY_COMPARE(hub.Emulator().Attachments(), 3);
    QVERIFY(rig.Listed(hub));
    QVERIFY(rig.Use(hub));
    QCOMPARE(rig.Version().application, BUILTIN_APP_VERSION);
    // One attempt per command: no reply was lost on the way.
    QCOMPARE(hub.Emulator().Transcript().size(), std::size_t{3 + 2 * 625 + 1 + 1});
  }

  // A hub that comes back without access is listed, but cannot be opened for writing.
  void comesBackWithoutAccess() {
    TRig rig{0x11140801};
    TSimulatedHub& hub = *rig.hubs[0];
    THubFault f;
    f.kind = EFaultKind::NoAccess;
    f.command = CMD_ENTER_BOOTLOADER;
    hub.Emulator().AddFault(f);
    QVERIFY(rig.Use(hub));
    rig.link.SendFrame(CMD_ENTER_BOOTLOADER, MakeRequest());
    QTRY_COMPARE(hub.Emulator().Attachments(), 2);
    THidDevice* listed = rig.Listed(hub);
    QVERIFY(listed);
    QVERIFY(!listed->CanReadWrite());
    QVERIFY(!rig.Use(hub));
  }
};

QTEST_GUILESS_MAIN(HubOnBusTest)
#include "tst_hub_on_bus.moc"
