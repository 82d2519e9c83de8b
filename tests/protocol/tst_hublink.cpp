// The exchange against a scripted device: attempts, time-outs, statuses, stale and nested
// replies.

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "protocol/Commands.h"
#include "protocol/HubLink.h"
#include "support/ScriptedDevice.h"

using Bytes = ScriptedDevice::Bytes;
Q_DECLARE_METATYPE(Bytes)

namespace {

struct TFixture : TScriptedLink {
  // The device answers every write with `status` after `delayMs`, with data enough for any reply.
  void AnswerAll(std::uint8_t status, int delayMs = 0, Bytes data = Bytes(10, 0)) {
    device.onWrite = [=](const Bytes& frame) {
      return std::vector<ScriptedDevice::Answer>{
          {ScriptedDevice::Reply(frame[FRAME_COMMAND_OFFSET], status, data), delayMs}};
    };
  }
};

class TThrowingDevice : public ScriptedDevice {
 public:
  TResult<void> WriteReport(const std::uint8_t*, std::uint32_t) override {
    throw std::runtime_error("device vanished");
  }
};

}  // namespace

class HubLinkTest : public QObject {
  Q_OBJECT

 private slots:
  // What one SendFrame returns and how many reports it writes, for each way the hub answers.
  void outcomes_data() {
    QTest::addColumn<Bytes>("answer");  // empty: silence
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("writes");
    QTest::newRow("success") << ScriptedDevice::Reply(4, 0, {1}) << 0 << 1;
    QTest::newRow("status 0xFF is 255") << ScriptedDevice::Reply(4, 0xFF) << 255 << 1;
    QTest::newRow("error status not retried") << ScriptedDevice::Reply(4, 3) << 3 << 1;
    QTest::newRow("silence") << Bytes{} << -1 << 3;
    QTest::newRow("garbage lead byte") << Bytes{0xAA, 5, 0, 4, 0} << -1 << 3;
    // A report without a status byte, or without the mode it must carry, is no reply.
    QTest::newRow("short report") << Bytes{0x55, 5, 0, 4} << -1 << 3;
    QTest::newRow("one byte report") << Bytes{0x55} << -1 << 3;
    QTest::newRow("status but no mode") << Bytes{0x55, 6, 0, 4, 0} << -1 << 3;
    QTest::newRow("length byte says no data") << ScriptedDevice::Reply(4, 0) << -1 << 3;
    QTest::newRow("refusal needs no data") << ScriptedDevice::Reply(4, 5) << 5 << 1;
    // A hub that leaves bytes 1 to 3 zero is read at its lead byte, as always.
    QTest::newRow("no length, no echo") << Bytes{0x55, 0, 0, 0, 0, 1} << 0 << 1;
    QTest::newRow("another command's echo, before any echo")
        << Bytes{0x55, 6, 0, 9, 0, 1} << 0 << 1;
  }
  void outcomes() {
    QFETCH(Bytes, answer);
    QFETCH(int, result);
    QFETCH(int, writes);
    TFixture f;
    f.device.onWrite = [&](const Bytes&) {
      std::vector<ScriptedDevice::Answer> a;
      if (!answer.empty())
        a.push_back({answer, 1});
      return a;
    };
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), result);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(int(f.device.writes.size()), writes);
    QCOMPARE(f.device.writes[0].size(), FRAME_SIZE);
    QCOMPARE(f.device.writes[0][FRAME_COMMAND_OFFSET], CMD_QUERY_MODE);
    if (result == -1) {
      // Three attempts of a 2 ms pause and a 100 ms wait each, measured as elapsed time; a
      // report that is no reply ends its attempt at once.
      if (answer.empty() || answer[REPLY_LEAD_OFFSET] != 0x55)
        QVERIFY2(elapsed >= 3 * 102, qPrintable(QString::number(elapsed)));
      QVERIFY2(elapsed < 1500, qPrintable(QString::number(elapsed)));
    } else {
      QVERIFY2(elapsed < 90, qPrintable(QString::number(elapsed)));
      for (std::size_t i = 0; i < answer.size(); ++i)
        QCOMPARE(f.link.Reply()[i], answer[i]);
      for (std::size_t i = answer.size(); i < 64; ++i)
        QCOMPARE(f.link.Reply()[i], 0);
    }
  }

  // A garbage report does not end the wait; the real reply that follows does.
  void garbageThenReply() {
    TFixture f;
    f.device.onWrite = [](const Bytes& frame) {
      return std::vector<ScriptedDevice::Answer>{
          {{0x00, 1, 2, 3}, 1}, {ScriptedDevice::Reply(frame[FRAME_COMMAND_OFFSET], 7), 20}};
    };
    QCOMPARE(f.link.SendFrame(CMD_READ_STATUS, MakeRequest()), 7);
    QCOMPARE(f.device.writes.size(), std::size_t{1});
  }

  void dataLengthLimit_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("writes");
    QTest::newRow("59 is sent") << 59 << 1;
    QTest::newRow("60 is refused") << 60 << 0;
  }
  void dataLengthLimit() {
    QFETCH(int, n);
    QFETCH(int, writes);
    TFixture f;
    f.AnswerAll(0);
    const Bytes data(n, 0x42);
    const int result = f.link.SendFrame(CMD_LOAD_RECORD, MakeRequest(data));
    QCOMPARE(int(f.device.writes.size()), writes);
    QCOMPARE(result, writes ? 0 : -1);
    if (writes)
      QCOMPARE(f.device.writes[0][FRAME_LENGTH_OFFSET], 64);
  }

  void noCurrentDevice() {
    TFixture f;
    f.AnswerAll(0);
    f.link.SetCurrentDevice(nullptr);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(f.link.SendFrame(CMD_GET_VERSION, VersionQueryRequest()), -1);
    QVERIFY(clock.elapsed() < 50);
    QVERIFY(f.device.writes.empty());
  }

  void refusedWrite() {
    TFixture f;
    f.device.failWrites = true;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(f.link.SendFrame(CMD_GET_VERSION, GreetingRequest()), -1);
    QVERIFY(clock.elapsed() < 50);  // no wait after a refused write
  }

  void writeLengthFollowsCaps() {
    TFixture f;
    f.AnswerAll(0);
    f.device.caps.OutputReportByteLength = 33;
    f.link.SendFrame(CMD_REBOOT, MakeRequest());
    QCOMPARE(f.device.writes[0].size(), std::size_t{33});
    f.device.caps.OutputReportByteLength = 200;  // never more than the frame
    f.link.SendFrame(CMD_REBOOT, MakeRequest());
    QCOMPARE(f.device.writes[1].size(), FRAME_SIZE);
  }

  // A report that arrived before the request was written is not its reply.
  void staleReplyIgnored() {
    TFixture f;
    f.device.Queue(ScriptedDevice::Reply(CMD_READ_STATUS, 9));
    f.AnswerAll(0, 15);
    QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), 0);
    QCOMPARE(f.link.Reply()[REPLY_COMMAND_OFFSET], CMD_QUERY_MODE);
  }

  // A reply that comes after its wait gave up is still on its way at the next attempt.
  void lateReplyOfSameCommand() {
    TFixture f;
    int count = 0;
    f.device.onWrite = [&](const Bytes& frame) {
      std::vector<ScriptedDevice::Answer> a;
      if (count++ == 0)
        a.push_back({ScriptedDevice::Reply(frame[FRAME_COMMAND_OFFSET], 0, {0}), 130});
      return a;
    };
    QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), 0);
    QCOMPARE(f.device.writes.size(), std::size_t{2});
  }

  // Once the hub has echoed a command, a late reply to an earlier request is dropped, whatever it
  // carries, and the wait goes on for the reply to this one.
  void lateReplyOfAnotherCommand_data() {
    QTest::addColumn<Bytes>("late");
    QTest::addColumn<int>("result");
    QTest::newRow("mode reply during LED read")
        << ScriptedDevice::Reply(CMD_QUERY_MODE, 0, {0}) << 0;
    QTest::newRow("refusal of another command") << ScriptedDevice::Reply(CMD_LOAD_RECORD, 5) << 0;
    QTest::newRow("no echo in the late one")
        << Bytes{0x55, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8} << 0;
  }
  void lateReplyOfAnotherCommand() {
    QFETCH(Bytes, late);
    QFETCH(int, result);
    TFixture f;
    f.AnswerAll(0, 0, {0});
    QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), 0);  // shows the echo
    QVERIFY(f.link.EchoSeen());
    const Bytes levels{11, 22, 33, 44, 55, 66, 77, 88};
    f.device.onWrite = [&](const Bytes& frame) {
      return std::vector<ScriptedDevice::Answer>{
          {late, 1}, {ScriptedDevice::Reply(frame[FRAME_COMMAND_OFFSET], 0, levels), 20}};
    };
    const TFrameResult got = f.link.SendFrame(CMD_LED_ADJUST_BEGIN, MakeRequest());
    QCOMPARE(int(got), result);
    const bool echoed = late[REPLY_COMMAND_OFFSET] != 0;
    QCOMPARE(f.link.StaleRepliesDropped(), echoed ? 1u : 0u);
    // A late reply without an echo cannot be told apart: it is taken, as it always was.
    const auto decoded = DecodeLedLevels(f.link.Reply());
    QCOMPARE(decoded[0], echoed ? 11 : 1);
    QCOMPARE(f.device.writes.size(), std::size_t{2});
  }

  // A handler that runs inside the wait and starts an exchange of its own is refused; the
  // outer exchange still reads its own reply. Work handed to RunWhenIdle runs afterwards.
  void nestedExchange() {
    TFixture f;
    f.AnswerAll(0, 40);
    int nestedResult = 1;
    bool busySeen = false;
    std::vector<int> order;
    QTimer::singleShot(10, [&] {
      busySeen = f.link.Busy();
      nestedResult = f.link.SendFrame(CMD_READ_STATUS, MakeRequest());
      f.link.RunWhenIdle([&] {
        order.push_back(2);
        QCOMPARE(f.link.SendFrame(CMD_LED_ADJUST_END, MakeRequest()), 0);
      });
    });
    QCOMPARE(f.link.SendFrame(CMD_QUERY_MODE, MakeRequest()), 0);
    order.push_back(1);
    QVERIFY(busySeen);
    QCOMPARE(nestedResult, -1);
    QCOMPARE(f.link.RefusedWhileBusy(), 1u);
    QCOMPARE(f.link.Reply()[REPLY_COMMAND_OFFSET], CMD_QUERY_MODE);
    QCOMPARE(f.device.writes.size(), std::size_t{1});
    QTRY_COMPARE(order.size(), std::size_t{2});
    QCOMPARE(order, (std::vector<int>{1, 2}));
    QCOMPARE(f.device.writes.size(), std::size_t{2});
    QCOMPARE(f.device.writes[1][FRAME_COMMAND_OFFSET], CMD_LED_ADJUST_END);
    QVERIFY(!f.link.Busy());
  }

  // Actions queued while busy keep their order, and run when the link is idle at once.
  void idleActionsOrder() {
    TFixture f;
    f.AnswerAll(0, 20);
    std::vector<int> order;
    f.link.RunWhenIdle([&] { order.push_back(0); });
    QCOMPARE(order.size(), std::size_t{1});
    QTimer::singleShot(5, [&] {
      for (int i = 1; i <= 3; ++i)
        f.link.RunWhenIdle([&order, i] { order.push_back(i); });
    });
    f.link.SendFrame(CMD_QUERY_MODE, MakeRequest());
    QTRY_COMPARE(order.size(), std::size_t{4});
    QCOMPARE(order, (std::vector<int>{0, 1, 2, 3}));
  }

  // Reports are cut at 64 bytes; the device pointer in the handler is not needed.
  void longReportCut() {
    TFixture f;
    Bytes big(70, 0x33);
    big[REPLY_LEAD_OFFSET] = 0x55;
    f.device.onWrite = [&](const Bytes&) { return std::vector<ScriptedDevice::Answer>{{big, 0}}; };
    QCOMPARE(f.link.SendFrame(CMD_READ_STATUS, MakeRequest()), 0x33);
    QCOMPARE(f.link.Reply()[63], 0x33);
  }

  void queryMode_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("byte5");
    QTest::addColumn<EHubMode>("mode");
    QTest::newRow("bootloader") << 0 << 1 << EHubMode::Bootloader;
    QTest::newRow("application") << 0 << 0 << EHubMode::Application;
    QTest::newRow("status 0xFF") << 0xFF << 0 << EHubMode::Error;
  }
  void queryMode() {
    QFETCH(int, status);
    QFETCH(int, byte5);
    QFETCH(EHubMode, mode);
    TFixture f;
    f.AnswerAll(static_cast<std::uint8_t>(status), 0, {static_cast<std::uint8_t>(byte5)});
    QCOMPARE(QueryMode(f.link), mode);
  }

  // A device that raises leaves the link free for the next exchange.
  void exceptionLeavesLinkIdle() {
    TThrowingDevice device;
    THubLink link;
    link.SetCurrentDevice(&device);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, QueryMode(link));
    QVERIFY(!link.Busy());
  }
};

QTEST_GUILESS_MAIN(HubLinkTest)
#include "tst_hublink.moc"
