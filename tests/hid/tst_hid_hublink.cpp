// THubLink::SendFrame through a real THidDevice and its reader, against a small echo responder
// on the simulated bus.

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "HidTestSupport.h"
#include "hid/HidController.h"
#include "hid/HidHandOver.h"
#include "hid/sim/SimHidBus.h"
#include "protocol/Commands.h"
#include "protocol/HubLink.h"

using namespace hidtest;

namespace {

// Answers each command frame with the given status and the command's first data byte, as an
// input report with id 0.
Bytes Answer(const std::uint8_t* frame, std::size_t size, std::uint8_t status) {
  Bytes report(1, 0);
  if (size < 6)
    return Bytes(FRAME_SIZE, 0);
  const ReplyBuffer reply = BuildReply(frame[4], status, std::span(frame + 5, 1));
  report.insert(report.end(), reply.begin(), reply.end());
  return report;
}

struct TLinkFixture {
  std::shared_ptr<TSimHidBus> bus = std::make_shared<TSimHidBus>();
  TSimDeviceId id = 0;
  std::unique_ptr<THidDeviceController> controller;
  THidDevice* device = nullptr;
  THubLink link;
  std::atomic<int> status{0};
  std::vector<Bytes> frames;
  bool answerFromThread = false;
  std::vector<std::thread> threads;

  TLinkFixture() {
    TSimHidBus::TDeviceConfig config = DeviceConfig(0xFFF0, 0x0018);
    config.Caps.reset();
    config.ReportDescriptor = HubReportDescriptor();
    id = bus->Attach(config, [this](const std::uint8_t* frame, std::size_t size) {
      frames.emplace_back(frame, frame + size);
      const Bytes reply = Answer(frame, size, static_cast<std::uint8_t>(status.load()));
      if (answerFromThread) {
        threads.emplace_back([this, reply] { bus->PushInput(id, reply.data(), reply.size()); });
      } else {
        bus->PushInput(id, reply.data(), reply.size());
      }
    });
    controller = std::make_unique<THidDeviceController>(nullptr, bus);
    device = controller->ClaimNextDevice();
    device->SetDataHandler(link.DataHandler());
    link.SetCurrentDevice(device);
  }
  ~TLinkFixture() {
    for (std::thread& t : threads)
      t.join();
    link.SetCurrentDevice(nullptr);
    controller->ReleaseDevice(device);
  }
};

}  // namespace

class HidHubLinkTest : public QObject {
  Q_OBJECT

 private slots:
  // Each exchange writes one 65-byte frame and returns the status of its own reply.
  void exchanges_data() {
    QTest::addColumn<bool>("fromThread");
    QTest::newRow("answered inside the write") << false;
    QTest::newRow("answered from another thread") << true;
  }
  void exchanges() {
    QFETCH(bool, fromThread);
    TLinkFixture f;
    f.answerFromThread = fromThread;
    for (int i = 0; i < 20; ++i) {
      f.status = i;
      const std::uint8_t data[] = {static_cast<std::uint8_t>(100 + i)};
      QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest(data)), i);
      QCOMPARE(f.link.Reply()[5], std::uint8_t(100 + i));
    }
    QCOMPARE(f.frames.size(), std::size_t{20});
    QCOMPARE(f.frames[0].size(), std::size_t{65});
    QCOMPARE(f.frames[0][0], std::uint8_t{0});
    QCOMPARE(f.frames[0][1], std::uint8_t{0x55});
  }

  // A reply that came in before the request (already read, waiting in the hand-over) is not
  // taken for the answer.
  void staleReplyDropped() {
    TLinkFixture f;
    QVERIFY(QTest::qWaitFor([&] { return f.bus->OpenReadHandles(f.id) == 1; }, 5000));
    Bytes stale(65, 0);
    stale[1] = 0x55;
    stale[5] = 9;
    f.bus->PushInput(f.id, stale.data(), stale.size());
    f.bus->PushInput(f.id, stale.data(), stale.size());
    // Without processing events: the first waits in the hand-over, the second in the queue.
    QVERIFY(WaitUntilHandOverPending(1));
    f.status = 3;
    QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), 3);
  }

  // Replies taken straight from the hand-over must not starve the event loop: timers (the
  // window, signals, device notices) still run during a long run of exchanges.
  void eventsServedDuringExchanges() {
    TLinkFixture f;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 100; ++i)
      QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), 0);
    // At least one turn per slice of the run (which takes 2 ms per exchange at the least).
    const qint64 slices = clock.elapsed() / THubLink::EVENT_SLICE_MS;
    QVERIFY2(ticks >= slices / 4,
             qPrintable(QStringLiteral("%1 ticks in %2 slices").arg(ticks).arg(slices)));
  }
};

QTEST_MAIN(HidHubLinkTest)
#include "tst_hid_hublink.moc"
