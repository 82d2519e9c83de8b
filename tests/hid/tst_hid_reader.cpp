// The reader thread and the hand-over over the simulated bus: when readers run, what they
// deliver, stopping them in every state, errors, and dropping stale input.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <ctime>
#include <stdexcept>

#include "HidTestSupport.h"
#include "hid/HidController.h"
#include "hid/HidHandOver.h"
#include "hid/HidReadThread.h"
#include "hid/sim/SimHidBus.h"

using namespace hidtest;
Q_DECLARE_METATYPE(hidtest::Bytes)

namespace {

struct TFixture {
  std::shared_ptr<TSimHidBus> bus = std::make_shared<TSimHidBus>();
  TSimDeviceId id;
  std::unique_ptr<THidDeviceController> controller;
  TRecorder rec;
  THidDevice* device = nullptr;

  explicit TFixture(bool claim = true, HIDP_CAPS caps = {1, 0xFF00, 65, 65, 0}) {
    TSimHidBus::TDeviceConfig config = DeviceConfig(0xFFF0, 0x0A);
    config.Caps = caps;
    id = bus->Attach(config);
    controller = std::make_unique<THidDeviceController>(nullptr, bus);
    if (claim)
      device = controller->ClaimNextDevice();
  }
  ~TFixture() {
    if (device)
      controller->ReleaseDevice(device);
  }
  void Push(const Bytes& report) { bus->PushInput(id, report.data(), report.size()); }
  // Waits until the reader has its read handle, so that pushed reports reach it.
  bool ReaderListening() {
    return QTest::qWaitFor([&] { return bus->OpenReadHandles(id) == 1; }, 5000);
  }
};

Bytes Report(std::size_t size, std::uint8_t id = 0) {
  Bytes r(size);
  for (std::size_t i = 0; i < size; ++i)
    r[i] = static_cast<std::uint8_t>(i * 7 + 1);
  if (size)
    r[0] = id;
  return r;
}

}  // namespace

class HidReaderTest : public QObject {
  Q_OBJECT

 private slots:
  // What the handler sees for each report as read: ReportID is byte 0, Data the rest.
  void delivery_data() {
    QTest::addColumn<Bytes>("report");
    QTest::addColumn<Bytes>("expected");
    QTest::newRow("report id only") << Bytes{0} << Bytes{0};
    QTest::newRow("65 bytes, id 0") << Report(65) << Report(65);
    QTest::newRow("numbered report") << Report(10, 5) << Report(10, 5);
    QTest::newRow("longer than the input length is cut") << Report(80) << Report(65);
  }
  void delivery() {
    QFETCH(Bytes, report);
    QFETCH(Bytes, expected);
    TFixture f;
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.Push(report);
    QTRY_COMPARE(f.rec.reports.size(), std::size_t{1});
    QCOMPARE(f.rec.reports[0], expected);
  }

  // Every report is delivered once, in order, on the UI thread.
  void deliveryOrder() {
    TFixture f;
    bool onUiThread = true;
    f.rec.onData = [&](THidDevice*) { onUiThread &= QThread::currentThread() == thread(); };
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    // Fewer than the 64 reports a hidraw node keeps.
    for (int i = 0; i < 60; ++i)
      f.Push(Bytes(65, static_cast<std::uint8_t>(i)));
    QTRY_COMPARE(f.rec.reports.size(), std::size_t{60});
    for (int i = 0; i < 60; ++i)
      QCOMPARE(f.rec.reports[i][1], std::uint8_t(i));
    QVERIFY(onUiThread);
  }

  // When a reader exists: handler set, claimed, present and writable.
  void readerRules_data() {
    QTest::addColumn<bool>("claim");
    QTest::addColumn<bool>("handler");
    QTest::addColumn<int>("access");
    QTest::addColumn<bool>("reader");
    const int rw = int(TSimHidBus::EAccess::ReadWrite);
    QTest::newRow("claimed with handler") << true << true << rw << true;
    QTest::newRow("claimed without handler") << true << false << rw << false;
    QTest::newRow("unclaimed with handler") << false << true << rw << false;
    QTest::newRow("no read/write access")
        << true << true << int(TSimHidBus::EAccess::AttributesOnly) << false;
  }
  void readerRules() {
    QFETCH(bool, claim);
    QFETCH(bool, handler);
    QFETCH(int, access);
    QFETCH(bool, reader);
    auto bus = std::make_shared<TSimHidBus>();
    bus->Attach(DeviceConfig(1, 0x0A, static_cast<TSimHidBus::EAccess>(access)));
    THidDeviceController controller(nullptr, bus);
    TRecorder rec;
    THidDevice* d = controller.DeviceList().at(0);
    if (handler)
      d->SetDataHandler(rec.DataHandler());
    THidDevice* claimed = nullptr;
    if (claim)
      QVERIFY((claimed = controller.ClaimNextDevice()));
    QCOMPARE(d->HasReader(), reader);
    if (claimed)
      controller.ReleaseDevice(claimed);
  }

  // A handler installed on an unclaimed entry starts its reader at the claim; clearing the
  // handler stops it; another handler keeps the reader and gets the next report.
  void startAndStop() {
    TFixture f(false);
    THidDevice* d = f.controller->DeviceList()[0];
    d->SetDataHandler(f.rec.DataHandler());
    QVERIFY(!d->HasReader());
    QVERIFY((f.device = f.controller->ClaimNextDevice()));
    QVERIFY(d->ReaderRunning());
    TRecorder other;
    d->SetDataHandler(other.DataHandler());
    QVERIFY(d->ReaderRunning());
    QVERIFY(f.ReaderListening());
    f.Push(Report(65));
    QTRY_COMPARE(other.reports.size(), std::size_t{1});
    QCOMPARE(f.rec.reports.size(), std::size_t{0});
    d->SetDataHandler({});
    QVERIFY(!d->HasReader());
  }

  // Stopping while a read waits is immediate.
  void stopWhileReading() {
    TFixture f;
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    QElapsedTimer t;
    t.start();
    f.device->SetDataHandler({});
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!f.device->HasReader());
  }

  // Stopping while a hand-over waits runs that hand-over: no deadlock, and the report is still
  // delivered once. A report that came after it stays unread, also when the reader already
  // waits to read it.
  void stopWhileHandingOver_data() {
    QTest::addColumn<int>("reports");
    QTest::newRow("one report") << 1;
    QTest::newRow("a second report waiting") << 2;
  }
  void stopWhileHandingOver() {
    QFETCH(int, reports);
    TFixture f;
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.Push(Report(65));
    QVERIFY(WaitUntilHandOverPending(1));  // the UI thread has not processed events since
    if (reports == 2) {
      f.Push(Report(65));
      QThread::msleep(20);  // lets the reader reach the wait for the first report's step
    }
    QCOMPARE(f.rec.reports.size(), std::size_t{0});
    f.controller->ReleaseDevice(f.device);
    QCOMPARE(f.rec.reports.size(), std::size_t{1});
    QCOMPARE(THidHandOver::Instance().Pending(), std::size_t{0});
  }

  // Hand-overs run in nested event loops too, and a handler may wait in one for another
  // device's report.
  void nestedLoops() {
    auto bus = std::make_shared<TSimHidBus>();
    const TSimDeviceId a = bus->Attach(DeviceConfig(1, 0x0A));
    const TSimDeviceId b = bus->Attach(DeviceConfig(1, 0x0B));
    THidDeviceController controller(nullptr, bus);
    THidDevice* da = controller.ClaimNextDevice();
    THidDevice* db = controller.ClaimNextDevice();
    QVERIFY(da && db);
    TRecorder ra, rb;
    bool innerSeen = false;
    ra.onData = [&](THidDevice*) {
      QEventLoop loop;
      rb.onData = [&](THidDevice*) { loop.quit(); };
      const Bytes r = Report(65);
      bus->PushInput(b, r.data(), r.size());
      loop.exec();
      innerSeen = rb.reports.size() == 1;
    };
    da->SetDataHandler(ra.DataHandler());
    db->SetDataHandler(rb.DataHandler());
    QTRY_COMPARE(bus->OpenReadHandles(a) + bus->OpenReadHandles(b), std::size_t{2});
    const Bytes r = Report(65);
    bus->PushInput(a, r.data(), r.size());
    QTRY_VERIFY(innerSeen);
    controller.ReleaseDevice(da);
    controller.ReleaseDevice(db);
  }

  // A handler that throws ends the reader: nothing more arrives until the handler is cleared
  // and set again, also a report that was waiting while the handler ran.
  void exceptionEndsReader_data() {
    QTest::addColumn<bool>("nextWaiting");
    QTest::newRow("next report after the end") << false;
    QTest::newRow("next report waiting") << true;
  }
  void exceptionEndsReader() {
    QFETCH(bool, nextWaiting);
    TFixture f;
    int calls = 0;
    f.rec.onData = [&](THidDevice*) {
      if (++calls == 1)
        throw std::runtime_error("handler failed");
    };
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.Push(Report(65));
    if (nextWaiting) {
      QVERIFY(WaitUntilHandOverPending(1));
      f.Push(Report(65));
      QThread::msleep(20);  // lets the reader reach the wait for the first report's step
    }
    QTRY_VERIFY(!f.device->ReaderRunning());
    QVERIFY(f.device->HasReader());
    if (!nextWaiting)
      f.Push(Report(65));
    f.device->StartReader();  // the ended reader still counts
    QTest::qWait(50);
    QCOMPARE(calls, 1);
    f.device->SetDataHandler({});
    f.device->SetDataHandler(f.rec.DataHandler());
    QTRY_COMPARE(calls, 2);  // the report waiting in the queue
  }

  // After the rescan has found the device gone: writes fail saying so, and the reader, which
  // can no longer read, backs off instead of spinning until the release.
  void unpluggedBacksOff() {
    TFixture f;
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.bus->Detach(f.id);
    QTRY_VERIFY(!f.device->IsPresent());
    const std::uint8_t report[65] = {};
    const TResult<void> written = f.device->WriteReport(report, 65);
    QVERIFY(!written);
    QCOMPARE(written.Error().code, ENODEV);
    const std::clock_t cpu = std::clock();
    QTest::qWait(300);
    // A reader going round without a pause would take most of a core meanwhile.
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs < 100, qPrintable(QString::number(cpuMs)));
    QVERIFY(f.device->ReaderRunning());
    f.controller->ReleaseDevice(f.device);
  }

  // Input that arrived before DiscardPendingInput never reaches the handler, whether it waits
  // in the bus queue or in a hand-over; input after it does.
  void discardPendingInput() {
    TFixture f;
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.Push(Bytes(65, 1));
    QVERIFY(WaitUntilHandOverPending(1));
    f.Push(Bytes(65, 2));
    f.Push(Bytes(65, 3));
    f.device->DiscardPendingInput();
    f.Push(Bytes(65, 4));
    QTRY_COMPARE(f.rec.reports.size(), std::size_t{1});
    QTest::qWait(20);
    QCOMPARE(f.rec.reports.size(), std::size_t{1});
    QCOMPARE(f.rec.reports[0][1], std::uint8_t{4});
  }

  // DeliverPendingInput hands a report that waits in the hand-over to the handler at once,
  // without the event loop; reports read after it still come through the event loop. While the
  // reader is held, DeliverPendingInput reads every waiting report itself, in order; a hold left
  // unused ends by itself and the reader delivers again.
  void deliverPendingInput_data() {
    QTest::addColumn<bool>("hold");
    QTest::addColumn<bool>("deliver");
    QTest::newRow("handed over") << false << true;
    QTest::newRow("held: read here") << true << true;
    QTest::newRow("held, unused: the reader goes on") << true << false;
  }
  void deliverPendingInput() {
    QFETCH(bool, hold);
    QFETCH(bool, deliver);
    TFixture f;
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.device->HoldReader(hold);
    for (std::uint8_t i = 1; i <= 3; ++i)
      f.Push(Bytes(65, i));
    if (!hold)
      QVERIFY(WaitUntilHandOverPending(1));
    if (deliver) {
      // Held again at once: a busy machine may have let the first hold run out meanwhile.
      f.device->HoldReader(hold);
      f.device->DeliverPendingInput();
      // A reader that is not held has handed over one report at most.
      QCOMPARE(f.rec.reports.size(), std::size_t{hold ? 3u : 1u});
    }
    QTRY_COMPARE(f.rec.reports.size(), std::size_t{3});
    for (std::uint8_t i = 1; i <= 3; ++i)
      QCOMPARE(f.rec.reports[i - 1][1], i);
    f.Push(Bytes(65, 4));
    QTRY_COMPARE(f.rec.reports.size(), std::size_t{4});
  }

  // A hold that began and ended while the UI thread was busy in a slow handler still counts:
  // Hold returns rather than wait for a hold that has come and gone, and nothing is lost.
  void holdWhileAHandlerIsSlow() {
    TFixture f;
    f.rec.onData = [](THidDevice*) { QThread::msleep(3 * THidDeviceReadThread::HOLD_IDLE_MS); };
    f.device->SetDataHandler(f.rec.DataHandler());
    QVERIFY(f.ReaderListening());
    f.Push(Bytes(65, 1));
    QVERIFY(WaitUntilHandOverPending(1));
    f.device->HoldReader(true);
    QCOMPARE(f.rec.reports.size(), std::size_t{1});
    f.Push(Bytes(65, 2));
    QTRY_COMPARE(f.rec.reports.size(), std::size_t{2});
  }

  // Without report lengths there is nothing to read; the reader waits quietly.
  void noInputLength() {
    TFixture f(true, HIDP_CAPS{});
    f.device->SetDataHandler(f.rec.DataHandler());
    QTest::qWait(50);
    QVERIFY(f.device->ReaderRunning());
    QCOMPARE(f.bus->OpenReadHandles(f.id), std::size_t{0});
  }

  // Report lengths need a usable device: an unclaimed one reports zeros.
  void queryCaps() {
    TFixture f(false);
    THidDevice* d = f.controller->DeviceList()[0];
    QCOMPARE(d->QueryCaps().InputReportByteLength, std::uint16_t{0});
    QVERIFY((f.device = f.controller->ClaimNextDevice()));
    const HIDP_CAPS caps = d->QueryCaps();
    QCOMPARE(caps.InputReportByteLength, std::uint16_t{65});
    QCOMPARE(caps.OutputReportByteLength, std::uint16_t{65});
    QVERIFY(!d->IoHandleOpen());  // closed again after the fetch
  }
};

QTEST_MAIN(HidReaderTest)
#include "tst_hid_reader.moc"
