// Frames, CRC and reply decoding, byte for byte.

#include <QTest>
#include <vector>

#include "protocol/Commands.h"

using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(EHubMode)

namespace {
Bytes Hex(const char* text) {
  return [](QByteArray b) { return Bytes(b.begin(), b.end()); }(QByteArray::fromHex(text));
}
ReplyBuffer ReplyWith(std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
  ReplyBuffer r{};
  r[REPLY_LEAD_OFFSET] = 0x55;
  for (auto [at, value] : bytes)
    r[at] = value;
  return r;
}
}  // namespace

class FrameTest : public QObject {
  Q_OBJECT

 private slots:
  void workedFrames_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<Bytes>("expected");
    QTest::newRow("query mode") << 4 << Bytes{} << Hex("00 55 05 00 04 A5");
    QTest::newRow("reboot") << 11 << Bytes{} << Hex("00 55 05 00 0B A5");
    QTest::newRow("version query") << 1 << Bytes{0x00} << Hex("00 55 06 00 01 00 C8");
    QTest::newRow("led level 7 35") << 241 << Bytes{7, 35} << Bytes{};
  }
  void workedFrames() {
    QFETCH(int, command);
    QFETCH(Bytes, data);
    QFETCH(Bytes, expected);
    const CommandFrame frame =
        BuildCommandFrame(static_cast<std::uint8_t>(command), MakeRequest(data));
    const std::size_t n = data.size();
    const std::size_t crcAt = FRAME_DATA_OFFSET + n;
    QCOMPARE(frame[FRAME_REPORT_ID_OFFSET], 0x00);
    QCOMPARE(frame[FRAME_LEAD_OFFSET], 0x55);
    QCOMPARE(frame[FRAME_LENGTH_OFFSET], n + 5);
    QCOMPARE(frame[FRAME_ZERO_OFFSET], 0x00);
    QCOMPARE(frame[FRAME_COMMAND_OFFSET], command);
    for (std::size_t i = 0; i < n; ++i)
      QCOMPARE(frame[FRAME_DATA_OFFSET + i], data[i]);
    if (!expected.empty())
      QCOMPARE(Bytes(frame.begin(), frame.begin() + crcAt + 1), expected);
    for (std::size_t i = crcAt + 1; i < FRAME_SIZE; ++i)
      QCOMPARE(frame[i], 0);
  }

  void crcCheckValue() {
    CommandFrame frame{};
    const char digits[] = "123456789";
    for (int i = 0; i < 9; ++i)
      frame[FRAME_LEAD_OFFSET + i] = static_cast<std::uint8_t>(digits[i]);
    QCOMPARE(Crc8(frame, 10), 0xF4);
  }

  // What the hub's CRC does not cover: the command byte when there is no data, and always the
  // last data byte. What it does cover must change it.
  void crcCoverage_data() {
    QTest::addColumn<int>("commandA");
    QTest::addColumn<Bytes>("dataA");
    QTest::addColumn<int>("commandB");
    QTest::addColumn<Bytes>("dataB");
    QTest::addColumn<bool>("sameCrc");
    QTest::newRow("commands without data") << 4 << Bytes{} << 243 << Bytes{} << true;
    QTest::newRow("last data byte") << 241 << Bytes{3, 10} << 241 << Bytes{3, 99} << true;
    QTest::newRow("last of 59 bytes") << 9 << Bytes(59, 0x11) << 9 << [] {
      Bytes b(59, 0x11);
      b[58] = 0xEE;
      return b;
    }() << true;
    QTest::newRow("first data byte") << 241 << Bytes{3, 10} << 241 << Bytes{4, 10} << false;
    QTest::newRow("command with data") << 241 << Bytes{3, 10} << 242 << Bytes{3, 10} << false;
  }
  void crcCoverage() {
    QFETCH(int, commandA);
    QFETCH(Bytes, dataA);
    QFETCH(int, commandB);
    QFETCH(Bytes, dataB);
    QFETCH(bool, sameCrc);
    const auto a = BuildCommandFrame(static_cast<std::uint8_t>(commandA), MakeRequest(dataA));
    const auto b = BuildCommandFrame(static_cast<std::uint8_t>(commandB), MakeRequest(dataB));
    QCOMPARE(a[FRAME_DATA_OFFSET + dataA.size()] == b[FRAME_DATA_OFFSET + dataB.size()], sameCrc);
    if (dataA.empty())
      QCOMPARE(a[FRAME_DATA_OFFSET], 0xA5);
  }

  void largestFrame() {
    const Bytes data(59, 0xAB);
    const auto frame = BuildCommandFrame(CMD_LOAD_RECORD, MakeRequest(data));
    QCOMPARE(frame[FRAME_LENGTH_OFFSET], 64);
    QCOMPARE(frame[FRAME_SIZE - 2], 0xAB);
    QCOMPARE(frame[FRAME_SIZE - 1], Crc8(frame, FRAME_SIZE - 2));
  }

  // The replies the emulated hub and the tests send, byte for byte.
  void builtReplies_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("status");
    QTest::addColumn<Bytes>("data");
    QTest::addColumn<Bytes>("expected");
    QTest::newRow("mode, bootloader") << 4 << 0 << Bytes{1} << Hex("55 06 00 04 00 01");
    QTest::newRow("refused") << 16 << 5 << Bytes{} << Hex("55 05 00 10 05");
    QTest::newRow("59 data bytes") << 242 << 0 << Bytes(59, 7) << [] {
      Bytes b = Hex("55 40 00 F2 00");
      b.resize(64, 7);
      return b;
    }();
    QTest::newRow("60 cut to 59") << 242 << 0 << Bytes(60, 7) << [] {
      Bytes b = Hex("55 40 00 F2 00");
      b.resize(64, 7);
      return b;
    }();
  }
  void builtReplies() {
    QFETCH(int, command);
    QFETCH(int, status);
    QFETCH(Bytes, data);
    QFETCH(Bytes, expected);
    const ReplyBuffer reply =
        BuildReply(static_cast<std::uint8_t>(command), static_cast<std::uint8_t>(status), data);
    expected.resize(BUFFER_SIZE, 0);
    QCOMPARE(Bytes(reply.begin(), reply.end()), expected);
  }

  void versionReply() {
    const auto v = DecodeVersionReply(ReplyWith({{5, 0x11},
                                                 {6, 0x15},
                                                 {7, 0x09},
                                                 {8, 0x06},
                                                 {9, 0x01},
                                                 {10, 0x02},
                                                 {11, 0x03},
                                                 {12, 0xFF}}));
    QCOMPARE(v.application, 0x11150906u);
    QCOMPARE(v.bootloader, 0x010203FFu);
  }

  void mode_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("byte5");
    QTest::addColumn<EHubMode>("mode");
    const auto A = EHubMode::Application;
    QTest::newRow("bootloader") << 0 << 1 << EHubMode::Bootloader;
    QTest::newRow("application") << 0 << 0 << A;
    QTest::newRow("byte 5 = 2") << 0 << 2 << A;
    QTest::newRow("byte 5 = 0x81") << 0 << 0x81 << A;
    QTest::newRow("status 0xFF") << 255 << 1 << EHubMode::Error;
    QTest::newRow("no reply") << -1 << 1 << A;
    QTest::newRow("status 1") << 1 << 1 << A;
    QTest::newRow("status 0xFE") << 0xFE << 1 << A;
  }
  void mode() {
    QFETCH(int, result);
    QFETCH(int, byte5);
    QFETCH(EHubMode, mode);
    QCOMPARE(ModeFromReply(result, ReplyWith({{5, static_cast<std::uint8_t>(byte5)}})), mode);
  }

  void statusReply_data() {
    QTest::addColumn<Bytes>("bytes5to14");
    QTest::addColumn<int>("voltage");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("present");  // batteries 1 to 4
    QTest::newRow("10000 mV, 1 and 3") << Hex("1027 0000 05 02 50 010203") << 10000 << 0 << "1010";
    QTest::newRow("maximum current") << Hex("0000 FFFF 00 00 F0 000000") << 0 << 65535 << "1111";
    QTest::newRow("low bits only") << Hex("0100 0001 00 00 0F 000000") << 1 << 256 << "0000";
    QTest::newRow("battery 4 only") << Hex("FFFF 0100 FF FF 80 FFFFFF") << 65535 << 1 << "0001";
  }
  void statusReply() {
    QFETCH(Bytes, bytes5to14);
    QFETCH(int, voltage);
    QFETCH(int, current);
    QFETCH(QString, present);
    ReplyBuffer r{};
    std::copy(bytes5to14.begin(), bytes5to14.end(), r.begin() + 5);
    const TStatusReadout s = DecodeStatusReply(r);
    QCOMPARE(s.voltage_mV, voltage);
    QCOMPARE(s.current_mA, current);
    QCOMPARE(s.state, r[9]);
    QCOMPARE(s.channel, r[10]);
    QString bits;
    for (bool b : s.batteryPresent)
      bits += b ? '1' : '0';
    QCOMPARE(bits, present);
    QCOMPARE(s.counters[0], r[12]);
    QCOMPARE(s.counters[1], r[13]);
    QCOMPARE(s.counters[2], r[14]);
  }

  void ledLevels() {
    ReplyBuffer r{};
    for (int c = 1; c <= 8; ++c)
      r[4 + c] = static_cast<std::uint8_t>(c * 10);
    r[4 + 6] = 200;  // out of range stays as sent; the bars clamp
    const auto levels = DecodeLedLevels(r);
    QCOMPARE(levels[0], 10);
    QCOMPARE(levels[5], 200);
    QCOMPARE(levels[7], 80);
  }

  void requests() {
    const RequestBuffer led = LedLevelRequest(7, 35);
    QCOMPARE(led[REQUEST_LENGTH_OFFSET], 2);
    QCOMPARE(led[REQUEST_DATA_OFFSET], 7);
    QCOMPARE(led[REQUEST_DATA_OFFSET + 1], 35);
    QCOMPARE(BuildCommandFrame(CMD_SET_LED_LEVEL, led)[FRAME_LENGTH_OFFSET], 7);
    QCOMPARE(GreetingRequest()[REQUEST_LENGTH_OFFSET], 0);
    QCOMPARE(VersionQueryRequest()[REQUEST_LENGTH_OFFSET], 1);
    QCOMPARE(VersionQueryRequest()[REQUEST_DATA_OFFSET], 0);
  }
};

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frame.moc"
