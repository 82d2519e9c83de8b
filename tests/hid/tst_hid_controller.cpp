// The controller over the simulated bus: the list discipline, claiming and releasing, the
// defaults passed on to devices, notices, and the one-controller rule.

#include <QTest>
#include <cerrno>
#include <map>

#include "HidTestSupport.h"
#include "hid/HidController.h"
#include "hid/HidHandOver.h"
#include "hid/sim/SimHidBus.h"

using namespace hidtest;

namespace {

// Runs a script of bus and controller actions, separated by spaces:
//   +A attach A (product 0x000A)   -A detach A   ^A attach A again (a new attachment)
//   s  DeviceChange               c  ClaimNextDevice (logs claim:X or claim:-)
//   rN release the claimed device listed at index N       e EnumerateDevices (logs count:N)
//   !A A's node can no longer be opened at all
struct TScript {
  std::shared_ptr<TSimHidBus> bus = std::make_shared<TSimHidBus>();
  TRecorder rec;
  std::unique_ptr<THidDeviceController> controller;
  std::map<QChar, TSimDeviceId> ids;
  std::vector<THidDevice*> claimed;

  TScript() {
    controller = std::make_unique<THidDeviceController>(nullptr, bus);
    controller->SetOnArrival(rec.ArrivalHandler());
    controller->SetOnRemoval(rec.RemovalHandler());
    controller->SetOnDeviceUnplug(rec.UnplugHandler());
    controller->SetOnEnumerate(rec.EnumerateHandler());
    controller->SetOnDeviceChange(rec.ChangeHandler());
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
        THidDevice* d = reinterpret_cast<THidDevice*>(1);
        if (controller->ClaimNextDevice(d)) {
          rec.events << "claim:" + TRecorder::Name(d);
          claimed.push_back(d);
        } else {
          QCOMPARE(d, nullptr);
          rec.events << "claim:-";
        }
      } else if (op == 'r') {
        THidDevice* d = controller->DeviceList().at(step.mid(1).toUInt());
        QVERIFY(d->IsClaimed());
        std::erase(claimed, d);
        controller->ReleaseDevice(d);
        QCOMPARE(d, nullptr);
      } else if (op == 'e') {
        rec.events << QString("count:%1").arg(controller->EnumerateDevices());
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

  // How the list and the events follow arrivals, removals, claims and releases. Every script
  // starts with an empty bus and the handlers installed (hence the leading "chg").
  void listDiscipline_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("events");
    QTest::newRow("arrivals in scan order") << "+A +B s"
                                            << "A B"
                                            << "chg arr:A arr:B chg";
    QTest::newRow("no change, no report") << "+A s s s"
                                          << "A"
                                          << "chg arr:A chg";
    QTest::newRow("unclaimed removal") << "+A +B s -A s"
                                       << "B"
                                       << "chg arr:A arr:B chg unplug:A rem:A chg";
    QTest::newRow("claimed removal stays listed, reported at every rescan")
        << "+A s c -A s s"
        << "Axc"
        << "chg arr:A chg claim:A unplug:A rem:A chg rem:A chg";
    QTest::newRow("release of an absent entry removes it")
        << "+A +B s c -A s r0 s"
        << "B"
        << "chg arr:A arr:B chg claim:A unplug:A rem:A chg";
    QTest::newRow("re-plug while the old entry is listed")
        << "+A s c -A s ^A s"
        << "Axc A"
        << "chg arr:A chg claim:A unplug:A rem:A chg rem:A arr:A chg";
    QTest::newRow("release of a present entry keeps its place")
        << "+A +B s c c r0"
        << "A Bc"
        << "chg arr:A arr:B chg claim:A claim:B";
    QTest::newRow("claims in list order, then none")
        << "+A +B +C s c c c c"
        << "Ac Bc Cc"
        << "chg arr:A arr:B arr:C chg claim:A claim:B claim:C claim:-";
    QTest::newRow("claim on an empty list") << "c"
                                            << ""
                                            << "chg claim:-";
    QTest::newRow("surviving entries keep their places")
        << "+A +B +C s -B +D s"
        << "A C D"
        << "chg arr:A arr:B arr:C chg unplug:B rem:B arr:D chg";
    QTest::newRow("enumerate visits present entries")
        << "+A +B s c -A s e"
        << "Axc B"
        << "chg arr:A arr:B chg claim:A unplug:A rem:A chg enum:B@1 count:1";
    QTest::newRow("enumerate on an empty list") << "e"
                                                << ""
                                                << "chg count:0";
    QTest::newRow("a listed node that cannot be opened any more is gone")
        << "+A +B s c !A !B s"
        << "Axc"
        << "chg arr:A arr:B chg claim:A unplug:B rem:B unplug:A rem:A chg";
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

  // EnumerateDevices counts until the handler says stop; without a handler it stops at once.
  void enumerateCounts_data() {
    QTest::addColumn<int>("present");
    QTest::addColumn<bool>("handler");
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<int>("count");
    QTest::newRow("no handler, none") << 0 << false << false << 0;
    QTest::newRow("no handler, three") << 3 << false << false << 1;
    QTest::newRow("handler goes on") << 3 << true << true << 3;
    QTest::newRow("handler stops") << 3 << true << false << 1;
  }
  void enumerateCounts() {
    QFETCH(int, present);
    QFETCH(bool, handler);
    QFETCH(bool, goOn);
    QFETCH(int, count);
    auto bus = std::make_shared<TSimHidBus>();
    for (int i = 0; i < present; ++i)
      bus->Attach(DeviceConfig(1, static_cast<std::uint16_t>(0x0A + i)));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    rec.enumerateGoesOn = goOn;
    bool usable = true;
    if (handler) {
      controller.SetOnEnumerate(rec.EnumerateHandler());
    }
    QCOMPARE(controller.EnumerateDevices(), count);
    // Afterwards the unclaimed entries are no longer usable and hold no handles.
    for (THidDevice* d : controller.DeviceList()) {
      usable = usable && !d->IsUsable() && !d->IoHandleOpen() && !d->ReadHandleOpen();
    }
    QVERIFY(usable);
  }

  // Inside OnEnumerate an unclaimed entry may be used; its handles close afterwards.
  void enumerateLendsUnclaimedEntry() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    std::vector<Bytes> written;
    bus->Attach(DeviceConfig(1, 0x0B));
    THidDeviceController controller(nullptr, bus);
    struct Writer {
      bool wrote = false;
      bool Enumerate(THidDevice* d, std::int32_t idx) {
        const std::uint8_t report[65] = {};
        std::uint32_t n = 0;
        if (idx == 0)
          wrote = d->WriteReport(report, 65, n) && n == 65 && d->IoHandleOpen();
        return true;
      }
    } writer;
    controller.SetOnEnumerate(THidEnumerateEvent::Bind<&Writer::Enumerate>(&writer));
    QCOMPARE(controller.EnumerateDevices(), 2);
    QVERIFY(writer.wrote);
    QVERIFY(!controller.DeviceList()[0]->IoHandleOpen());
    // Outside the event it is not usable.
    std::uint32_t n = 0;
    const std::uint8_t report[65] = {};
    QVERIFY(!controller.DeviceList()[0]->WriteReport(report, 65, n));
    QCOMPARE(bus->OpenReadHandles(id), std::size_t{0});
  }

  // A released present entry is a fresh object in the same place that carries the handlers and
  // sleep time of the old one, so claiming it again starts its reader at once.
  void releaseCarriesHandlers() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    THidDevice* d = nullptr;
    QVERIFY(controller.ClaimDeviceAt(d, 1, true));
    THidDevice* const old = d;
    d->SetDataHandler(rec.DataHandler());
    d->SetUnplugHandler(rec.UnplugHandler());
    d->SetReaderSleepTime(250);
    QVERIFY(d->HasReader());
    controller.ReleaseDevice(d);
    QCOMPARE(d, nullptr);
    THidDevice* fresh = controller.DeviceList()[1];
    QVERIFY(fresh != old);
    QVERIFY(!fresh->IsClaimed());
    QVERIFY(!fresh->HasReader());
    QVERIFY(fresh->DataHandler().SameFunction(rec.DataHandler()));
    QVERIFY(fresh->UnplugHandler().SameFunction(rec.UnplugHandler()));
    QCOMPARE(fresh->ReaderSleepTime(), 250);
    QVERIFY(controller.ClaimDeviceAt(d, 1, true));
    QCOMPARE(d, fresh);
    QVERIFY(d->HasReader());
    controller.ReleaseDevice(d);
  }

  // A release whose replacement cannot be made (the node can no longer be opened) drops the
  // entry instead of keeping a dead object; the next rescan lists the device afresh.
  void releaseWhenReplacementFails() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    controller.SetOnArrival(rec.ArrivalHandler());
    THidDevice* d = nullptr;
    QVERIFY(controller.ClaimNextDevice(d));
    bus->SetAccess(id, TSimHidBus::EAccess::None);
    controller.ReleaseDevice(d);
    QCOMPARE(d, nullptr);
    QCOMPARE(DescribeList(controller), QString());
    bus->SetAccess(id, TSimHidBus::EAccess::ReadWrite);
    controller.DeviceChange();
    QCOMPARE(DescribeList(controller), QString("A"));
    QCOMPARE(rec.events, QStringList{"arr:A"});
  }

  // A device whose node hangs up under its reader with no notice: the reader's loss leads to a
  // rescan, which finds it gone. Only one rescan comes of it, however long the loss lasts.
  void hangUpWithoutNotice() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    controller.SetOnRemoval(rec.RemovalHandler());
    controller.SetOnDeviceChange(rec.ChangeHandler());
    rec.events.clear();
    THidDevice* d = nullptr;
    QVERIFY(controller.ClaimNextDevice(d));
    d->SetReaderSleepTime(10);
    d->SetUnplugHandler(rec.UnplugHandler());
    d->SetDataHandler(rec.DataHandler());
    QTRY_COMPARE(bus->OpenReadHandles(id), std::size_t{1});
    QVERIFY(bus->Detach(id, false));
    QTRY_VERIFY(!d->IsPresent());
    QTest::qWait(100);
    QCOMPARE(rec.events, (QStringList{"unplug:A", "rem:A", "chg"}));
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
    controller.SetOnRemoval(rec.RemovalHandler());
    THidDevice* da = nullptr;
    THidDevice* db = nullptr;
    QVERIFY(controller.ClaimNextDevice(da));
    QVERIFY(controller.ClaimNextDevice(db));
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
    QVERIFY(rec.events.contains("rem:B"));
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
    controller.SetOnDeviceChange(rec.ChangeHandler());
    rec.events.clear();
    THidDevice* d = nullptr;
    QVERIFY(controller.ClaimNextDevice(d));
    d->SetDataHandler(rec.DataHandler());
    QVERIFY(!d->HasReader());
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{});
    QCOMPARE(d->OpenError(), EACCES);
    bus->SetAccess(id, TSimHidBus::EAccess::ReadWrite);
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{"chg"});
    QVERIFY(d->CanReadWrite());
    QCOMPARE(d->OpenError(), 0);
    QVERIFY(d->ReaderRunning());
    QTRY_COMPARE(bus->OpenReadHandles(id), std::size_t{1});
    // Known now: later rescans open nothing more.
    const std::size_t opens = bus->OpenCount(id);
    controller.DeviceChange();
    QCOMPARE(rec.events, QStringList{"chg"});
    controller.ReleaseDevice(d);
    QVERIFY(bus->OpenCount(id) > opens);  // the release's fresh object
  }

  // A platform that cannot tell of changes: the controller looks again every 2 s by itself.
  void rescanWithoutNotices() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->SetNoticesAvailable(false);
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    controller.SetOnArrival(rec.ArrivalHandler());
    controller.SetOnRemoval(rec.RemovalHandler());
    const TSimDeviceId id = bus->Attach(DeviceConfig(1, 0x0A));
    QTRY_COMPARE_WITH_TIMEOUT(DescribeList(controller), QString("A"), 6000);
    QVERIFY(bus->Detach(id));
    QTRY_COMPARE_WITH_TIMEOUT(DescribeList(controller), QString(), 6000);
    QCOMPARE(rec.events, (QStringList{"arr:A", "rem:A"}));
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
    controller.SetOnDeviceChange(rec.ChangeHandler());
    for (int round = 0; round < 3; ++round) {
      THidDevice* a = nullptr;
      THidDevice* b = nullptr;
      QVERIFY(controller.ClaimNextDevice(a));
      QVERIFY(controller.ClaimNextDevice(b));
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
    QCOMPARE(rec.events, QStringList{"chg"});
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
    THidDevice* d = nullptr;
    QVERIFY(controller.ClaimNextDevice(d));
    QCOMPARE(d->Attributes().VendorID, std::uint16_t{0xFFF0});
    QCOMPARE(d->CanReadWrite(), canReadWrite);
    QCOMPARE(d->OpenError(), openError);
    QCOMPARE(d->OpenErrorText().empty(), openError == 0);
    TRecorder rec;
    d->SetDataHandler(rec.DataHandler());
    QCOMPARE(d->HasReader(), canReadWrite);
    const std::uint8_t report[65] = {};
    std::uint32_t n = 0;
    QCOMPARE(d->WriteReport(report, 65, n), canReadWrite);
    controller.ReleaseDevice(d);
  }

  // OnDeviceChange: installing a new function reports once; the same function (even with
  // another receiver) reports nothing; a rescan without change reports nothing.
  void deviceChangeReportedOnce() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    THidDeviceController controller(nullptr, bus);
    TRecorder a, b;
    QVERIFY(!controller.ChangeReported());
    controller.SetOnDeviceChange(a.ChangeHandler());
    QCOMPARE(a.events, QStringList{"chg"});
    QVERIFY(controller.ChangeReported());
    controller.SetOnDeviceChange(b.ChangeHandler());
    controller.DeviceChange();
    QCOMPARE(a.events.size() + b.events.size(), 1);
  }

  // Notices come through the event loop, one rescan per burst of changes.
  void noticesReachDeviceChange() {
    auto bus = std::make_shared<TSimHidBus>();
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    controller.SetOnDeviceChange(rec.ChangeHandler());
    rec.events.clear();
    const TSimDeviceId a = bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    bus->Attach(DeviceConfig(1, 0x0C));
    QCOMPARE(controller.DeviceList().size(), std::size_t{0});
    QTRY_COMPARE(DescribeList(controller), QString("A B C"));
    QCOMPARE(rec.events, QStringList{"chg"});
    bus->Detach(a);
    QTRY_COMPARE(DescribeList(controller), QString("B C"));
    QCOMPARE(rec.events, (QStringList{"chg", "chg"}));
  }

  // Defaults reach the devices that still carry the old default, and only those.
  void propagation() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    THidDeviceController controller(nullptr, bus);
    TRecorder first, second, own;
    THidDevice* a = controller.DeviceList()[0];
    THidDevice* b = controller.DeviceList()[1];
    b->SetDataHandler(own.DataHandler());
    b->SetReaderSleepTime(300);
    controller.SetOnDeviceData(first.DataHandler());
    controller.SetOnDeviceDataError(first.DataErrorHandler());
    controller.SetOnDeviceUnplug(first.UnplugHandler());
    QVERIFY(a->DataHandler().SameFunction(first.DataHandler()));
    QCOMPARE(a->DataHandler().Receiver(), &first);
    QCOMPARE(b->DataHandler().Receiver(), &own);  // same function, but not the old default
    QVERIFY(a->DataErrorHandler());
    QVERIFY(a->UnplugHandler());
    // Same function, another receiver: nothing changes.
    controller.SetOnDeviceData(second.DataHandler());
    QCOMPARE(a->DataHandler().Receiver(), &first);

    // Sleep time: 5 is stored by the controller but refused by the devices, which then no
    // longer follow the default.
    controller.SetDevThreadSleepTime(200);
    QCOMPARE(a->ReaderSleepTime(), 200);
    QCOMPARE(b->ReaderSleepTime(), 300);
    controller.SetDevThreadSleepTime(5);
    QCOMPARE(controller.DevThreadSleepTime(), 5);
    QCOMPARE(a->ReaderSleepTime(), 200);
    controller.SetDevThreadSleepTime(400);
    QCOMPARE(a->ReaderSleepTime(), 200);

    // A new device takes the data and unplug defaults, not the error handler nor the sleep time.
    bus->Attach(DeviceConfig(1, 0x0C));
    controller.DeviceChange();
    THidDevice* c = controller.DeviceList()[2];
    QVERIFY(c->DataHandler().SameFunction(first.DataHandler()));
    QVERIFY(c->UnplugHandler().SameFunction(first.UnplugHandler()));
    QVERIFY(!c->DataErrorHandler());
    QCOMPARE(c->ReaderSleepTime(), 100);
  }

  // A second controller is refused; the first keeps its list and its notices.
  void secondControllerRefused() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    THidDeviceController first(nullptr, bus);
    QString message;
    try {
      THidDeviceController second(nullptr, bus);
    } catch (const EControllerError& e) {
      message = e.what();
    }
    QCOMPARE(message, QString("Only one THidDeviceController allowed per program"));
    QCOMPARE(THidDeviceController::ControllerInstances(), 1);
    QCOMPARE(DescribeList(first), QString("A"));
    bus->Attach(DeviceConfig(1, 0x0B));
    QTRY_COMPARE(DescribeList(first), QString("A B"));
  }

  // Without HID services: an empty list, no notices, and OnDeviceChange still reports once.
  void platformUnavailable() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->SetAvailable(false);
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    controller.SetOnDeviceChange(rec.ChangeHandler());
    QCOMPARE(rec.events, QStringList{"chg"});
    bus->Attach(DeviceConfig(1, 0x0B));
    QTest::qWait(20);
    QCOMPARE(DescribeList(controller), QString());
    QCOMPARE(rec.events, QStringList{"chg"});
  }

  // Destruction: unclaimed entries die, claimed ones are marked unplugged and live on detached.
  void destructionDetachesClaimed() {
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A));
    bus->Attach(DeviceConfig(1, 0x0B));
    auto controller = std::make_unique<THidDeviceController>(nullptr, bus);
    TRecorder rec;
    THidDevice* d = nullptr;
    QVERIFY(controller->ClaimNextDevice(d));
    d->SetUnplugHandler(rec.UnplugHandler());
    d->SetDataHandler(rec.DataHandler());
    controller.reset();
    QCOMPARE(rec.events, QStringList{"unplug:A"});
    QCOMPARE(d->Controller(), nullptr);
    QVERIFY(!d->IsPresent());
    QVERIFY(!d->IoHandleOpen());
    delete d;  // only torn down
  }
};

QTEST_MAIN(HidControllerTest)
#include "tst_hid_controller.moc"
