// LED levels and the status read against a scripted hub.

#include <QTest>

#include "protocol/Commands.h"
#include "support/ScriptedDevice.h"
#include "tool/LedAdjust.h"
#include "tool/StatusRead.h"

using Bytes = ScriptedDevice::Bytes;
Q_DECLARE_METATYPE(Bytes)

namespace {
struct Fixture : TScriptedLink {
  TLedAdjuster leds{link};
  Bytes beginLevels = Bytes(8, 50);
  std::uint8_t beginStatus = 0;
  bool beginAnswers = true;
  Bytes statusBytes;
  std::vector<std::pair<int, int>> shown;

  Fixture() {
    leds.onLevelShown = [this](int c, int l) { shown.emplace_back(c, l); };
    device.onWrite = [this](const Bytes& frame) {
      std::vector<ScriptedDevice::Answer> a;
      const std::uint8_t command = frame[4];
      if (command == CMD_LED_ADJUST_BEGIN && !beginAnswers)
        return a;
      Bytes data;
      if (command == CMD_LED_ADJUST_BEGIN)
        data = beginLevels;
      if (command == CMD_READ_STATUS)
        data = statusBytes;
      a.push_back(
          {ScriptedDevice::Reply(
               command, command == CMD_LED_ADJUST_BEGIN ? beginStatus : std::uint8_t{0}, data),
           0});
      return a;
    };
  }
  // (channel, level) of every CMD_SET_LED_LEVEL written, in order.
  std::vector<std::pair<int, int>> LevelsSent() const {
    std::vector<std::pair<int, int>> sent;
    for (const Bytes& f : device.writes) {
      if (f[4] == CMD_SET_LED_LEVEL)
        sent.emplace_back(f[5], f[6]);
    }
    return sent;
  }
};
using Pairs = std::vector<std::pair<int, int>>;
}  // namespace
Q_DECLARE_METATYPE(Pairs)

class LedStatusTest : public QObject {
  Q_OBJECT

 private slots:
  // What the hub's reply to CMD_LED_ADJUST_BEGIN does to the bars and what it sends.
  void startAdjust_data() {
    QTest::addColumn<Bytes>("levels");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<Pairs>("sent");
    QTest::addColumn<bool>("read");
    QTest::newRow("all unchanged") << Bytes(8, 50) << 0 << true << Pairs{} << true;
    QTest::newRow("channel 1 at 80")
        << Bytes{80, 50, 50, 50, 50, 50, 50, 50} << 0 << true << Pairs{{1, 80}} << true;
    QTest::newRow("200 clamps to 100")
        << Bytes{50, 50, 50, 50, 50, 200, 50, 50} << 0 << true << Pairs{{6, 100}} << true;
    QTest::newRow("in channel order") << Bytes{0, 50, 50, 1, 50, 50, 50, 100} << 0 << true
                                      << Pairs{{1, 0}, {4, 1}, {8, 100}} << true;
    QTest::newRow("error status") << Bytes{80, 0, 0, 0, 0, 0, 0, 0} << 3 << true << Pairs{}
                                  << false;
    QTest::newRow("no reply") << Bytes{} << 0 << false << Pairs{} << false;
  }
  void startAdjust() {
    QFETCH(Bytes, levels);
    QFETCH(int, status);
    QFETCH(bool, answers);
    QFETCH(Pairs, sent);
    QFETCH(bool, read);
    Fixture f;
    f.beginLevels = levels;
    f.beginStatus = static_cast<std::uint8_t>(status);
    f.beginAnswers = answers;
    f.leds.StartAdjust();
    QCOMPARE(f.LevelsSent(), sent);
    QCOMPARE(f.shown, sent);
    QCOMPARE(f.leds.LedLevelsRead(), read);
    for (int c = 1; c <= 8; ++c) {
      const int expected = read ? std::min<int>(levels[c - 1], 100) : 50;
      QCOMPARE(f.leds.Level(c), expected);
    }
  }

  void levelRequest() {
    Fixture f;
    f.leds.SetLevel(7, 35);
    f.leds.SendLevel(7);
    QCOMPARE(f.device.writes.size(), std::size_t{1});
    const Bytes& frame = f.device.writes[0];
    QCOMPARE(frame[2], 7);  // frame length: five bytes around two data bytes
    QCOMPARE(frame[4], CMD_SET_LED_LEVEL);
    QCOMPARE(frame[5], 7);
    QCOMPARE(frame[6], 35);
    f.leds.SetLevel(3, 250);
    QCOMPARE(f.leds.Level(3), 100);
    f.leds.SetLevel(3, -4);
    QCOMPARE(f.leds.Level(3), 0);
  }

  void nothingWithoutHub() {
    Fixture f;
    f.link.SetCurrentDevice(nullptr);
    f.leds.StartAdjust();
    f.leds.SendLevel(1);
    f.leds.EndAdjust();
    QVERIFY(ReadHubStatus(f.link) == std::nullopt);
    QVERIFY(f.device.writes.empty());
    QVERIFY(!f.leds.LedLevelsRead());
  }

  void statusRead() {
    Fixture f;
    f.statusBytes = {0x10, 0x27, 0xFF, 0xFF, 3, 2, 0x50, 7, 8, 9};
    const auto status = ReadHubStatus(f.link);
    QVERIFY(status.has_value());
    QCOMPARE(status->voltage_mV, 10000);
    QCOMPARE(status->current_mA, 65535);
    QCOMPARE(status->batteryPresent, (std::array<bool, 4>{true, false, true, false}));
    f.device.onWrite = [](const Bytes&) { return std::vector<ScriptedDevice::Answer>{}; };
    QVERIFY(!ReadHubStatus(f.link).has_value());
  }
};

QTEST_GUILESS_MAIN(LedStatusTest)
#include "tst_led_status.moc"
