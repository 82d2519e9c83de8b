// The emulated hub's answers: reply layout for every command in both modes, refusal of bad
// input with the defined statuses, LED levels, the charging readout, timing and attachments.

#include <QElapsedTimer>
#include <QTest>

#include "FakeConnection.h"
#include "protocol/Commands.h"

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(EHubMode)

namespace {

THubEmulatorOptions InMode(EHubMode mode) {
  THubEmulatorOptions o = InstantHub();
  o.mode = mode;
  o.applicationVersion = 0x11140801;
  o.bootloaderVersion = 0x01000300;
  return o;
}

THubEmulatorOptions WithLatency(int ms) {
  THubEmulatorOptions o = InstantHub();
  o.replyLatencyMs = ms;
  return o;
}

}  // namespace

class HubCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  // Every command of the table in both modes: status and reply data, in the full reply layout.
  void replies_data() {
    QTest::addColumn<EHubMode>("mode");
    QTest::addColumn<int>("command");
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<int>("status");
    QTest::addColumn<Bytes>("reply");  // the data from byte 5

    const auto A = EHubMode::Application;
    const auto B = EHubMode::Bootloader;
    // InMode's versions, most significant byte first.
    const Bytes versions{0x11, 0x14, 0x08, 0x01, 0x01, 0x00, 0x03, 0x00};
    const Bytes leds{80, 70, 60, 50, 40, 30, 20, 10};
    const Bytes record{0, 0, 0, 0, 1, 2, 3, 4};
    const Bytes none;

    QTest::newRow("greeting") << A << 1 << none << 0 << versions;
    QTest::newRow("version query") << A << 1 << Bytes{0} << 0 << versions;
    QTest::newRow("version query in bootloader") << B << 1 << Bytes{0} << 0 << versions;
    QTest::newRow("version form with 1") << A << 1 << Bytes{1} << 6 << none;
    QTest::newRow("version with 2 bytes") << A << 1 << Bytes{0, 0} << 4 << none;
    QTest::newRow("mode in application") << A << 4 << none << 0 << Bytes{0};
    QTest::newRow("mode in bootloader") << B << 4 << none << 0 << Bytes{1};
    QTest::newRow("mode with data") << A << 4 << Bytes{0} << 4 << none;
    QTest::newRow("enter bootloader") << A << 7 << none << 0 << none;
    QTest::newRow("enter bootloader with data") << A << 7 << Bytes{0} << 4 << none;
    QTest::newRow("reboot") << B << 11 << none << 0 << none;
    QTest::newRow("load in application") << A << 9 << record << 5 << none;
    QTest::newRow("program in application") << A << 6 << record << 5 << none;
    QTest::newRow("load") << B << 9 << record << 0 << none;
    QTest::newRow("load without data bytes") << B << 9 << Bytes{0, 0, 0, 0} << 4 << none;
    QTest::newRow("load with header not zero") << B << 9 << Bytes{0, 0, 1, 0, 5} << 6 << none;
    QTest::newRow("program without load") << B << 6 << record << 7 << none;
    QTest::newRow("program too short") << B << 6 << Bytes{0, 0x10, 0, 0} << 4 << none;
    QTest::newRow("program with header not zero") << B << 6 << Bytes{0, 0x10, 0, 1, 5} << 6 << none;
    QTest::newRow("reboot with data") << B << 11 << Bytes{0} << 4 << none;
    QTest::newRow("status in bootloader") << B << 16 << none << 5 << none;
    QTest::newRow("status with data") << A << 16 << Bytes{0} << 4 << none;
    QTest::newRow("set level") << A << 241 << Bytes{3, 99} << 0 << none;
    QTest::newRow("set level channel 0") << A << 241 << Bytes{0, 50} << 6 << none;
    QTest::newRow("set level channel 9") << A << 241 << Bytes{9, 50} << 6 << none;
    QTest::newRow("set level 101") << A << 241 << Bytes{1, 101} << 6 << none;
    QTest::newRow("set level one byte") << A << 241 << Bytes{1} << 4 << none;
    QTest::newRow("set level in bootloader") << B << 241 << Bytes{1, 5} << 5 << none;
    QTest::newRow("adjust begin") << A << 242 << none << 0 << leds;
    QTest::newRow("adjust begin in bootloader") << B << 242 << none << 5 << none;
    QTest::newRow("adjust end") << A << 243 << none << 0 << none;
    QTest::newRow("adjust end with data") << A << 243 << Bytes{1} << 4 << none;
    QTest::newRow("unknown code 0") << A << 0 << none << 3 << none;
    QTest::newRow("unknown code 2") << A << 2 << none << 3 << none;
    QTest::newRow("unknown code 240") << B << 240 << none << 3 << none;
    QTest::newRow("unknown code 255") << A << 255 << none << 3 << none;
  }
  void replies() {
    QFETCH(EHubMode, mode);
    QFETCH(int, command);
    QFETCH(Bytes, data);
    QFETCH(int, status);
    QFETCH(Bytes, reply);
    TTestHub h(InMode(mode));
    const Bytes r = Exchange(h.hub, h.bus, static_cast<std::uint8_t>(command), data);
    QCOMPARE(r.size(), std::size_t{64});
    const std::size_t end = REPLY_DATA_OFFSET + reply.size();
    QCOMPARE(r[REPLY_LEAD_OFFSET], 0x55);
    QCOMPARE(int(r[REPLY_LENGTH_OFFSET]), 5 + int(reply.size()));
    QCOMPARE(r[2], 0);
    QCOMPARE(int(r[REPLY_COMMAND_OFFSET]), command);
    QCOMPARE(int(r[REPLY_STATUS_OFFSET]), status);
    QCOMPARE(Bytes(r.begin() + REPLY_DATA_OFFSET, r.begin() + end), reply);
    for (std::size_t i = end; i < BUFFER_SIZE; ++i)
      QCOMPARE(r[i], 0);
    QCOMPARE(h.hub.Mode(), mode);
  }

  // Reports that are not well-formed frames. Each row damages a valid frame in one place.
  void badFrames_data() {
    QTest::addColumn<Bytes>("report");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("echo");

    const Bytes good = Frame(CMD_SET_LED_LEVEL, {2, 33});
    auto with = [&good](std::size_t at, std::uint8_t value) {
      Bytes b = good;
      b[at] = value;
      return b;
    };
    Bytes shortReport = good;
    shortReport.resize(64);
    Bytes longReport = good;
    longReport.push_back(0);

    QTest::newRow("intact") << good << 0 << 241;
    QTest::newRow("64-byte report") << shortReport << 1 << 241;
    QTest::newRow("66-byte report") << longReport << 1 << 241;
    QTest::newRow("3-byte report") << Bytes{0, 0x55, 7} << 1 << 0;
    QTest::newRow("empty report") << Bytes{} << 1 << 0;
    const std::size_t data = FRAME_DATA_OFFSET;
    const std::size_t crc = FRAME_DATA_OFFSET + 2;
    QTest::newRow("report id 1") << with(FRAME_REPORT_ID_OFFSET, 1) << 1 << 241;
    QTest::newRow("lead byte 0x54") << with(FRAME_LEAD_OFFSET, 0x54) << 1 << 241;
    QTest::newRow("byte 3 not zero") << with(FRAME_ZERO_OFFSET, 1) << 1 << 241;
    QTest::newRow("length byte 4") << with(FRAME_LENGTH_OFFSET, 4) << 1 << 241;
    QTest::newRow("length byte 65") << with(FRAME_LENGTH_OFFSET, 65) << 1 << 241;
    QTest::newRow("length byte one short") << with(FRAME_LENGTH_OFFSET, 6) << 2 << 241;
    QTest::newRow("CRC off by one") << with(crc, good[crc] ^ 1) << 2 << 241;
    QTest::newRow("first data byte changed") << with(data, 3) << 2 << 241;
    // The CRC leaves the last data byte uncovered, so the hub cannot see this one.
    QTest::newRow("last data byte changed") << with(data + 1, 34) << 0 << 241;
    QTest::newRow("command byte changed") << with(FRAME_COMMAND_OFFSET, 242) << 2 << 242;
  }
  void badFrames() {
    QFETCH(Bytes, report);
    QFETCH(int, status);
    QFETCH(int, echo);
    TTestHub h;
    const std::vector<Bytes> r = Write(h.hub, h.bus, report);
    QCOMPARE(r.size(), std::size_t{1});
    QCOMPARE(r[0][REPLY_LEAD_OFFSET], 0x55);
    QCOMPARE(int(r[0][REPLY_COMMAND_OFFSET]), echo);
    QCOMPARE(int(r[0][REPLY_STATUS_OFFSET]), status);
    // A refused report changes nothing.
    const auto levels = THubEmulatorOptions{}.ledLevels;
    if (status != 0)
      QCOMPARE(h.hub.LedLevels(), levels);
    QCOMPARE(h.hub.Transcript().back().status, std::uint8_t(status));
  }

  // Levels set one by one come back in CMD_LED_ADJUST_BEGIN, channel c at reply byte 4 + c.
  void ledLevels() {
    TTestHub h;
    QVERIFY(!h.hub.LedAdjusting());
    QCOMPARE(Exchange(h.hub, h.bus, CMD_LED_ADJUST_BEGIN)[REPLY_STATUS_OFFSET], 0);
    QVERIFY(h.hub.LedAdjusting());
    for (int c = 1; c <= 8; ++c) {
      const Bytes r = Exchange(h.hub, h.bus, CMD_SET_LED_LEVEL,
                               {std::uint8_t(c), std::uint8_t(c == 8 ? 100 : c * 11)});
      QCOMPARE(r[REPLY_STATUS_OFFSET], 0);
    }
    const Bytes r = Exchange(h.hub, h.bus, CMD_LED_ADJUST_BEGIN);
    ReplyBuffer reply{};
    std::copy(r.begin(), r.end(), reply.begin());
    const std::array<std::uint8_t, 8> expected{11, 22, 33, 44, 55, 66, 77, 100};
    QCOMPARE(DecodeLedLevels(reply), expected);
    QCOMPARE(h.hub.LedLevels(), expected);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_LED_ADJUST_END)[REPLY_STATUS_OFFSET], 0);
    QVERIFY(!h.hub.LedAdjusting());
  }

  // The readout as the program decodes it equals the charging state, and moves with time.
  void statusReadout() {
    TTestHub h;
    // The reply's length byte and status, and the readout the program would decode.
    auto read = [&h](int& length, int& status) {
      const Bytes r = Exchange(h.hub, h.bus, CMD_READ_STATUS);
      ReplyBuffer reply{};
      std::copy(r.begin(), r.end(), reply.begin());
      length = r[REPLY_LENGTH_OFFSET];
      status = r[REPLY_STATUS_OFFSET];
      return DecodeStatusReply(reply);
    };
    int length = 0;
    int status = -1;
    const TStatusReadout first = read(length, status);
    QCOMPARE(length, 15);
    QCOMPARE(status, 0);
    const THubStatus s = h.hub.Status();
    QCOMPARE(first.voltage_mV, s.voltage_mV);
    QCOMPARE(first.current_mA, s.current_mA);
    QCOMPARE(first.state, s.state);
    QCOMPARE(first.channel, s.channel);
    for (int i = 0; i < 4; ++i)
      QCOMPARE(first.batteryPresent[i], bool(s.presence & (16 << i)));
    QCOMPARE(first.counters, s.counters);
    // The clock is stopped in these tests: nothing changes until the test moves it.
    QCOMPARE(read(length, status).voltage_mV, first.voltage_mV);
    h.hub.AdvanceStatus(60'000);
    QVERIFY(read(length, status).voltage_mV > first.voltage_mV);
    // Exact figures for tests of the readout: 10000 mV, 65535 mA, batteries 1 and 3.
    h.hub.SetFixedStatus(THubStatus{10000, 65535, 7, 2, 0x5A, {1, 2, 255}});
    const TStatusReadout fixed = read(length, status);
    QCOMPARE(fixed.voltage_mV, 10000);
    QCOMPARE(fixed.current_mA, 65535);
    QCOMPARE(fixed.state, 7);
    QCOMPARE(fixed.channel, 2);
    QCOMPARE(fixed.batteryPresent, (std::array<bool, 4>{true, false, true, false}));
    QCOMPARE(fixed.counters, (std::array<std::uint8_t, 3>{1, 2, 255}));
  }

  // With the clock running the readout follows real time, scaled.
  void statusMovesWithTime() {
    THubEmulatorOptions o = InstantHub();
    o.statusTimeScale = 1000;  // a second per millisecond: well inside the first charge
    TTestHub h(o);
    const Bytes first = Exchange(h.hub, h.bus, CMD_READ_STATUS);
    QTest::qWait(20);
    const Bytes later = Exchange(h.hub, h.bus, CMD_READ_STATUS);
    QCOMPARE(later[REPLY_STATUS_OFFSET], 0);
    QVERIFY(Bytes(first.begin() + 5, first.begin() + 15) !=
            Bytes(later.begin() + 5, later.begin() + 15));
  }

  // Hours of charging: every readout is one a hub could give.
  void chargingIsPlausible() {
    TChargeModel model(7);
    int charges = 0;
    int previousCharges = model.Status().counters[0];
    std::uint16_t previousVoltage = 0;
    int previousChannel = -1;
    bool sawConstantVoltage = false;
    for (int minute = 0; minute < 12 * 60; ++minute) {
      model.Advance(60'000);
      const THubStatus s = model.Status();
      // Full flags only for batteries that are there.
      QCOMPARE(s.presence & 0x0F & ~(s.presence >> 4), 0);
      if (s.channel) {
        QVERIFY(s.channel <= 4);
        QVERIFY(s.presence & (16 << (s.channel - 1)));
        QVERIFY(!(s.presence & (1 << (s.channel - 1))));
        QVERIFY(s.voltage_mV >= TChargeModel::EMPTY_MV && s.voltage_mV <= TChargeModel::FULL_MV);
        QVERIFY(s.current_mA > 0 && s.current_mA <= TChargeModel::CHARGE_MA);
        QCOMPARE(s.state, s.voltage_mV < TChargeModel::FULL_MV ? CHARGE_STATE_CONSTANT_CURRENT
                                                               : CHARGE_STATE_CONSTANT_VOLTAGE);
        sawConstantVoltage |= s.state == CHARGE_STATE_CONSTANT_VOLTAGE;
        // A battery on charge never loses voltage.
        if (s.channel == previousChannel)
          QVERIFY(s.voltage_mV >= previousVoltage);
      } else {
        QCOMPARE(s.voltage_mV, 0);
        QCOMPARE(s.current_mA, 0);
        QCOMPARE(s.state, (s.presence & 0xF0) ? CHARGE_STATE_ALL_FULL : CHARGE_STATE_IDLE);
      }
      charges += (s.counters[0] - previousCharges) & 0xFF;
      previousCharges = s.counters[0];
      previousVoltage = s.voltage_mV;
      previousChannel = s.channel;
    }
    QVERIFY(sawConstantVoltage);
    QVERIFY2(charges >= 3, qPrintable(QString::number(charges)));
  }

  // Latency 0 answers inside the write; otherwise the reply comes by timer, never earlier.
  void latency_data() {
    QTest::addColumn<int>("latencyMs");
    QTest::newRow("instant") << 0;
    QTest::newRow("1 ms") << 1;
    QTest::newRow("40 ms") << 40;
  }
  void latency() {
    QFETCH(int, latencyMs);
    TTestHub h(WithLatency(latencyMs));
    QElapsedTimer clock;
    clock.start();
    const std::vector<Bytes> inside = Write(h.hub, h.bus, Frame(CMD_QUERY_MODE));
    QCOMPARE(inside.size(), std::size_t(latencyMs == 0 ? 1 : 0));
    QCOMPARE(h.hub.Transcript().back().replyDelivered, latencyMs == 0);
    QTRY_COMPARE(h.bus.Count(TFakeConnection::EKind::Report), 1);
    QVERIFY(clock.elapsed() >= latencyMs);
    QVERIFY(h.hub.Transcript().back().replyDelivered);
  }

  // A reply on its way is lost with the attachment it belongs to; an unplugged hub hears
  // nothing; plugging in again is a new attachment.
  void replyDiesWithAttachment() {
    TTestHub h(WithLatency(20));
    Write(h.hub, h.bus, Frame(CMD_QUERY_MODE));
    h.hub.Unplug();
    QVERIFY(Write(h.hub, h.bus, Frame(CMD_QUERY_MODE)).empty());
    QCOMPARE(h.hub.Transcript().size(), std::size_t{1});
    h.hub.Plug();
    QCOMPARE(h.hub.Attachments(), 2);
    QTest::qWait(60);
    QCOMPARE(h.bus.Count(TFakeConnection::EKind::Report), 0);
    QVERIFY(!h.hub.Transcript()[0].replyDelivered);
    QCOMPARE(h.bus.Count(TFakeConnection::EKind::Attach), 2);
    QCOMPARE(h.bus.Count(TFakeConnection::EKind::Detach), 1);
  }

  // A reply still on its way when the transcript is cleared marks no later entry delivered.
  void transcriptClearedMidReply() {
    TTestHub h(WithLatency(20));
    Write(h.hub, h.bus, Frame(CMD_QUERY_MODE));
    h.hub.ClearTranscript();
    h.hub.AddFault({EFaultKind::NoReply});
    Write(h.hub, h.bus, Frame(CMD_QUERY_MODE));
    QTRY_COMPARE(h.bus.Count(TFakeConnection::EKind::Report), 1);
    QVERIFY(!h.hub.Transcript().at(0).replyDelivered);
  }

  // A hub that keeps no transcript (the demos') answers as before and grows nothing.
  void noTranscriptKept() {
    THubEmulatorOptions options = WithLatency(20);
    options.keepTranscript = false;
    TTestHub h(options);
    Write(h.hub, h.bus, Frame(CMD_QUERY_MODE));
    QTRY_COMPARE(h.bus.Count(TFakeConnection::EKind::Report), 1);
    QVERIFY(h.hub.Transcript().empty());
  }
};

QTEST_GUILESS_MAIN(HubCommandsTest)
#include "tst_hub_commands.moc"
