// The controller over the simulated bus: the list discipline, claiming and releasing, notices,
// and rescans after a device was lost.

#include <QTest>
#include <cerrno>
#include <map>

#include "HidTestSupport.h"
#include "hid/HidController.h"
#include "hid/HidHandOver.h"
#include "hid/HidReadThread.h"
#include "hid/sim/SimHidBus.h"

using namespace hidtest;

namespace {

// Runs a script of bus and controller actions, separated by spaces:
//   +A attach A (product 0x000A)   -A detach A   ^A attach A again (a new attachment)
//   s  DeviceChange                     c  ClaimNextDevice (logs claim:X or claim:-)
//   rN release the claimed device listed at index N
//   !A A's node can no longer be opened at all
// Every list the controller reports is logged as "[A Bc]".
struct TScript {
  std::shared_ptr<TSimHidBus> bus = std::make_shared<TSimHidBus>();
  TRecorder rec;
  std::unique_ptr<THidDeviceController> controller;
  std::map<QChar, TSimDeviceId> ids;
  std::vector<THidDevice*> claimed;

  TScript() {
    controller = std::make_unique<THidDeviceController>(nullptr, bus);
    rec.Listen(*controller);
    controller->DeviceChange();
  }
  ~TScript() {
    controller.reset();
    for (THidDevice* d : claimed)
      delete d;
  }

  void Run(const QString& script) {
    for (const QString& step : script.split(' ', Qt::SkipEmptyParts)) {
      const QChar op = step[0];
      if (op == '+') {
        ids[step[1]] = bus->Attach(
            DeviceConfig(0xFFF0, static_cast<std::uint16_t>(step[1].unicode() - 'A' + 0x0A)));
      } else if (op == '-') {
        QVERIFY(bus->Detach(ids[step[1]]));
      } else if (op == '^') {
        QVERIFY(bus->Reattach(ids[step[1]]));
      } else if (op == '!') {
        bus->SetAccess(ids[step[1]], TSimHidBus::EAccess::None);
      } else if (op == 's') {
        controller->DeviceChange();
      } else if (op == 'c') {
        if (THidDevice* d = controller->ClaimNextDevice()) {
          rec.events << "claim:" + TRecorder::Name(d);
          claimed.push_back(d);
        } else {
          rec.events << "claim:-";
        }
      } else if (op == 'r') {
        THidDevice* d = controller->DeviceList().at(step.mid(1).toUInt());
        QVERIFY(d->IsClaimed());
        std::erase(claimed, d);
        controller->ReleaseDevice(d);
        QCOMPARE(d, nullptr);
      } else {
        QFAIL(qPrintable("bad step " + step));
      }
    }
  }
};

}  // namespace

class HidControllerTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { QCOMPARE(THidDeviceController::ControllerInstances(), 0); }

  // How the list and what it reports follow arrivals, removals, claims and releases. Every
  // script starts with an empty bus and a first rescan, which reports the empty list.
  void listDiscipline_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("events");
    QTest::newRow("arrivals in scan order") << "+A +B s"
                                            << "A B"
                                            << "[] [A B]";
    QTest::newRow("no change, no report") << "+A s s s"
                                          << "A"
                                          << "[] [A]";
    QTest::newRow("unclaimed removal") << "+A +B s -A s"
                                       << "B"
                                       << "[] [A B] [B]";
    QTest::newRow("claimed removal stays listed, reported at every rescan")
        << "+A s c -A s s"
        << "Axc"
        << "[] [A] claim:A [Axc] [Axc]";
    QTest::newRow("release of an absent entry removes it") << "+A +B s c -A s r0 s"
                                                           << "B"
                                                           << "[] [A B] claim:A [Axc B]";
    QTest::newRow("re-plug while the old entry is listed") << "+A s c -A s ^A s"
                                                           << "Axc A"
                                                           << "[] [A] claim:A [Axc] [Axc A]";
    QTest::newRow("release of a present entry keeps its place") << "+A +B s c c r0"
                                                                << "A Bc"
                                                                << "[] [A B] claim:A claim:B";
    QTest::newRow("claims in list order, then none")
        << "+A +B +C s c c c c"
        << "Ac Bc Cc"
        << "[] [A B C] claim:A claim:B claim:C claim:-";
    QTest::newRow("claim on an empty list") << "c"
                                            << ""
                                            << "[] claim:-";
    QTest::newRow("surviving entries keep their places") << "+A +B +C s -B +D s"
                                                         << "A C D"
                                                         << "[] [A B C] [A C D]";
    QTest::newRow("a listed node that cannot be opened any more is gone")
        << "+A +B s c !A !B s"
        << "Axc"
        << "[] [A B] claim:A [Axc]";
  }
  void listDiscipline() {
    QFETCH(QString, script);
    QFETCH(QString, list);
    QFETCH(QString, events);
    TScript t;
    t.Run(script);
    QCOMPARE(DescribeList(*t.controller), list);
    QCOMPARE(t.rec.events.join(' '), events);
  }

  // A released present entry is a fresh object in the same place, without the old one's data
  // handler: claimed again, it reads nothing until it is given one.
  void releaseGivesFreshEntry() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    THidDevice* d = controller.ClaimDeviceAt(1);
    QVERIFY(d);
    THidDevice* const old = d;
    d->SetDataHandler(rec.DataHandler());
    QVERIFY(d->HasReader());
    controller.ReleaseDevice(d);
    QCOMPARE(d, nullptr);
    THidDevice* fresh = controller.DeviceList()[1];
    QVERIFY(fresh != old);
    QVERIFY(!fresh->IsClaimed());
    QCOMPARE(controller.ClaimDeviceAt(1), fresh);
    QCOMPARE(controller.ClaimDeviceAt(1), nullptr);
    QVERIFY(!fresh->HasReader());
    controller.ReleaseDevice(fresh);
  }

  // A release whose replacement cannot be made (the node can no longer be opened) drops the
  // entry instead of keeping a dead object; the next rescan lists the device afresh.
  void releaseWhenReplacementFails() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    THidDeviceController controller(nullptr, bus);
    THidDevice* d = controller.ClaimNextDevice();
    QVERIFY(d);
    bus->SetAccess(id, TSimHidBus::EAccess::None);
    controller.ReleaseDevice(d);
    QCOMPARE(d, nullptr);
    QCOMPARE(DescribeList(controller), QString());
    bus->SetAccess(id, TSimHidBus::EAccess::ReadWrite);
    controller.DeviceChange();
    QCOMPARE(DescribeList(controller), QString("A"));
  }

  // A device whose node hangs up under its reader with no notice: the reader's loss leads to a
  // rescan, which finds it gone. Only one rescan comes of it, however long the loss lasts.
  void hangUpWithoutNotice() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.Listen(controller);
    controller.DeviceChange();
    rec.events.clear();
    THidDevice* d = controller.ClaimNextDevice();
    QVERIFY(d);
    d->SetDataHandler(rec.DataHandler());
    QTRY_COMPARE(bus->OpenReadHandles(id), std::size_t{1});
    QVERIFY(bus->Detach(id, false));
    QTRY_VERIFY(!d->IsPresent());
    QTest::qWait(3 * THidDeviceReadThread::ERROR_BACKOFF_MS);
    QCOMPARE(rec.events, QStringList{"[Axc]"});
    controller.ReleaseDevice(d);
    QCOMPARE(DescribeList(controller), QString());
  }

  // A rescan asked for after another rescan ran, while an earlier request still waits, is not
  // lost: the device that went away without a notice is found gone.
  void rescanRequestAfterAScan() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId a = bus->Attach(DeviceConfig(1, 0x0A));
    const TSimDeviceId b = bus->Attach(DeviceConfig(1, 0x0B));
    bus->Attach(DeviceConfig(1, 0x0C));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    THidDevice* da = controller.ClaimNextDevice();
    THidDevice* db = controller.ClaimNextDevice();
    QVERIFY(da && db);
    da->SetDataHandler(rec.DataHandler());
    db->SetDataHandler(rec.DataHandler());
    QTRY_COMPARE(bus->OpenReadHandles(a) + bus->OpenReadHandles(b), std::size_t{2});
    // A's reader finds its node hung up and asks for a rescan; a rescan runs before the one
    // asked for (a notice, say).
    QVERIFY(bus->Detach(a, false));
    QVERIFY(WaitUntilHandOverPending(1));
    THidHandOver::Instance().RunQueued();
    controller.DeviceChange();
    // Then B's node hangs up too.
    QVERIFY(bus->Detach(b, false));
    QVERIFY(WaitUntilHandOverPending(1));
    THidHandOver::Instance().RunQueued();
    QTRY_VERIFY(!db->IsPresent());
    controller.ReleaseDevice(da);
    controller.ReleaseDevice(db);
    QCOMPARE(DescribeList(controller), QString("C"));
  }

  // A device listed without the right to write is tried again at every rescan: once it may be
  // opened, the change is reported and the claimed device's reader starts. While it still may
  // not, nothing is reported.
  void accessArrivesLater() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A, TSimHidBus::EAccess::AttributesOnly));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.Listen(controller);
    controller.DeviceChange();
    rec.events.clear();
    THidDevice* d = controller.ClaimNextDevice();
    QVERIFY(d);
    d->SetDataHandler(rec.DataHandler());
    QVERIFY(!d->HasReader());
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{});
    QCOMPARE(d->OpenError(), EACCES);
    bus->SetAccess(id, TSimHidBus::EAccess::ReadWrite);
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{"[Ac]"});
    QVERIFY(d->CanReadWrite());
    QCOMPARE(d->OpenError(), 0);
    QVERIFY(d->ReaderRunning());
    QTRY_COMPARE(bus->OpenReadHandles(id), std::size_t{1});
    // Known now: later rescans open nothing more.
    const std::size_t opens = bus->OpenCount(id);
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{"[Ac]"});
    controller.ReleaseDevice(d);
    QVERIFY(bus->OpenCount(id) > opens);  // the release's fresh object
  }

  // A platform that cannot tell of changes: the controller looks again every 2 s by itself.
  void rescanWithoutNotices() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->SetNoticesAvailable(false);
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.Listen(controller);
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    QTRY_COMPARE_WITH_TIMEOUT(DescribeList(controller), QString("A"), 6000);
    QVERIFY(bus->Detach(id));
    QTRY_COMPARE_WITH_TIMEOUT(DescribeList(controller), QString(), 6000);
    QCOMPARE(rec.events, (QStringList{"[A]", "[]"}));
  }

  // Devices nobody uses are never opened for reading or writing: not when listed, not when
  // claimed and given back (as the window does with every device that is not a hub), not at
  // rescans, and not when they may not be opened anyway. The first question about access opens
  // once, and one refused open is what later rescans try again.
  void unusedDevicesNotOpened() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId open = bus->Attach(DeviceConfig(1, 0x0A));
    const TSimDeviceId locked =
        bus->Attach(DeviceConfig(1, 0x0B, TSimHidBus::EAccess::AttributesOnly));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.Listen(controller);
    for (int round = 0; round < 3; ++round) {
      THidDevice* a = controller.ClaimNextDevice();
      THidDevice* b = controller.ClaimNextDevice();
      QVERIFY(a && b);
      controller.ReleaseDevice(a);
      controller.ReleaseDevice(b);
      controller.DeviceChange();
    }
    QCOMPARE(DescribeList(controller), QString("A B"));
    for (TSimDeviceId id : {open, locked}) {
      QCOMPARE(bus->OpenCount(id, EHidAccess::ReadWrite), std::size_t{0});
      QCOMPARE(bus->OpenCount(id, EHidAccess::Read), std::size_t{0});
    }
    QVERIFY(controller.DeviceList()[0]->CanReadWrite());
    QVERIFY(!controller.DeviceList()[1]->CanReadWrite());
    QCOMPARE(controller.DeviceList()[1]->OpenError(), EACCES);
    QCOMPARE(bus->OpenCount(open, EHidAccess::ReadWrite), std::size_t{1});
    controller.DeviceChange();
    controller.DeviceChange();
    QCOMPARE(bus->OpenCount(open, EHidAccess::ReadWrite), std::size_t{1});
    QCOMPARE(bus->OpenCount(locked, EHidAccess::ReadWrite), std::size_t{3});
    QCOMPARE(rec.events, QStringList{"[A B]"});
  }

  // Access rights: a node that cannot be opened for reading and writing is listed with the
  // reason kept; one that cannot be opened at all is not listed.
  void accessRights_data() {
    QTest::addColumn<int>("access");
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("canReadWrite");
    QTest::addColumn<int>("openError");
    QTest::newRow("read/write") << int(TSimHidBus::EAccess::ReadWrite) << "A" << true << 0;
    QTest::newRow("attributes only")
        << int(TSimHidBus::EAccess::AttributesOnly) << "A" << false << EACCES;
    QTest::newRow("none") << int(TSimHidBus::EAccess::None) << "" << false << 0;
  }
  void accessRights() {
    QFETCH(int, access);
    QFETCH(QString, list);
    QFETCH(bool, canReadWrite);
    QFETCH(int, openError);
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(0xFFF0, 0x0A, static_cast<TSimHidBus::EAccess>(access)));
    THidDeviceController controller(nullptr, bus);
    QCOMPARE(DescribeList(controller), list);
    if (list.isEmpty())
      return;
    THidDevice* d = controller.ClaimNextDevice();
    QVERIFY(d);
    QCOMPARE(d->Attributes().VendorID, std::uint16_t{0xFFF0});
    QCOMPARE(d->CanReadWrite(), canReadWrite);
    QCOMPARE(d->OpenError(), openError);
    QCOMPARE(d->OpenErrorText().empty(), openError == 0);
    TRecorder rec;
    d->SetDataHandler(rec.DataHandler());
    QCOMPARE(d->HasReader(), canReadWrite);
    // A write without the right says why, with the cause to tell apart.
    const std::uint8_t report[65] = {};
    const TResult<void> written = d->WriteReport(report, 65);
    QCOMPARE(written.Ok() ? 0 : written.Error().code, openError);
    controller.ReleaseDevice(d);
  }

  // The first rescan reports the list as it is, so that a listener learns it; later rescans
  // report only changes. Without HID services the list stays empty and no notice comes.
  void firstRescanReports_data() {
    QTest::addColumn<bool>("available");
    QTest::addColumn<QString>("events");
    QTest::newRow("available") << true << "[A]";
    QTest::newRow("no HID services") << false << "[]";
  }
  void firstRescanReports() {
    QFETCH(bool, available);
    QFETCH(QString, events);
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->SetAvailable(available);
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.Listen(controller);
    controller.DeviceChange();
    controller.DeviceChange();
    QCOMPARE(rec.events.join(' '), events);
    if (available)
      return;
    bus->Attach(DeviceConfig(1, 0x0B));
    QTest::qWait(20);
    QCOMPARE(DescribeList(controller), QString());
    QCOMPARE(rec.events.join(' '), events);
  }

  // Notices come through the event loop, one rescan per burst of changes.
  void noticesReachRescan() {
    auto bus = std::make_shared<TSimHidBus>();
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.Listen(controller);
    const TSimDeviceId a = bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    bus->Attach(DeviceConfig(1, 0x0C));
    QCOMPARE(controller.DeviceList().size(), std::size_t{0});
    QTRY_COMPARE(DescribeList(controller), QString("A B C"));
    QCOMPARE(rec.events, QStringList{"[A B C]"});
    bus->Detach(a);
    QTRY_COMPARE(DescribeList(controller), QString("B C"));
    QCOMPARE(rec.events, (QStringList{"[A B C]", "[B C]"}));
  }

  // Destruction: unclaimed entries die, claimed ones are marked unplugged and live on detached.
  void destructionDetachesClaimed() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    auto controller = std::make_unique<THidDeviceController>(nullptr, bus);
    TRecorder rec;
    THidDevice* d = controller->ClaimNextDevice();
    QVERIFY(d);
    d->SetDataHandler(rec.DataHandler());
    controller.reset();
    QVERIFY(!d->IsPresent());
    QVERIFY(!d->IoHandleOpen());
    delete d;  // only torn down
  }
};

QTEST_MAIN(HidControllerTest)
#include "tst_hid_controller.moc"
