// Programming the emulated hub: a complete update makes it run the new version; anything less
// leaves it in its bootloader. The transcript of an update is checked command by command.

#include <QTest>
#include <functional>

#include "FakeConnection.h"
#include "protocol/Commands.h"
#include "update/EmbeddedFirmware.h"

namespace {

struct TRecord {
  Bytes load;
  Bytes program;
};

// The records of every line that holds a readable one, whether or not the lines make an image.
std::vector<TRecord> ImageRecords(const std::vector<std::string>& lines) {
  std::vector<TRecord> records;
  for (const std::string& line : lines) {
    const auto parsed = ParseFirmwareLine(line);
    if (!parsed || !*parsed)
      continue;
    records.push_back(
        {RequestData(LoadRecordRequest(**parsed)), RequestData(ProgramRecordRequest(**parsed))});
  }
  return records;
}

// A record list changed on its way to the hub.
using TMutation = std::function<void(std::vector<TRecord>&)>;

// A plugged-in hub with the programming steps the update would take.
struct TProgrammer : TTestHub {
  int Status(std::uint8_t command, const Bytes& data = {}) {
    const Bytes r = Exchange(hub, bus, command, data);
    return r.empty() ? -1 : r[REPLY_STATUS_OFFSET];
  }
  // Sends a command that makes the hub re-enumerate and waits until it is back.
  bool Reset(std::uint8_t command) {
    const int before = hub.Attachments();
    if (Status(command) != 0)
      return false;
    return QTest::qWaitFor([&] { return hub.Attached() && hub.Attachments() == before + 1; });
  }
  // Every pair (an empty half is left out) until the first status that is not 0, which comes
  // back as "index:command:status", as the update procedure gives up there.
  QString Program(const std::vector<TRecord>& records) {
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (!records[i].load.empty()) {
        if (const int s = Status(CMD_LOAD_RECORD, records[i].load)) {
          return QStringLiteral("%1:load:%2").arg(i).arg(s);
        }
      }
      if (!records[i].program.empty()) {
        if (const int s = Status(CMD_PROGRAM_RECORD, records[i].program)) {
          return QStringLiteral("%1:program:%2").arg(i).arg(s);
        }
      }
    }
    return {};
  }
  std::uint32_t ReportedVersion() {
    const Bytes r = Exchange(hub, bus, CMD_GET_VERSION, {0});
    ReplyBuffer reply{};
    std::copy(r.begin(), r.end(), reply.begin());
    return DecodeVersionReply(reply).application;
  }
};

}  // namespace

Q_DECLARE_METATYPE(TMutation)

// The application the emulated hub runs before the update.
constexpr std::uint32_t OLD_VERSION = 0x11140801;

class HubProgrammingTest : public QObject {
  Q_OBJECT

  FirmwareLines image_;
  std::vector<TRecord> records_;

 private slots:
  void initTestCase() {
    image_ = LoadEmbeddedFirmware().Value();
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < image_.Count(); ++i)
      lines.push_back(image_.Line(i));
    records_ = ImageRecords(lines);
    QCOMPARE(records_.size(), std::size_t{625});
  }

  // The whole update as the program runs it, and the transcript it leaves.
  void completeUpdate() {
    TProgrammer h;
    QCOMPARE(h.ReportedVersion(), OLD_VERSION);
    h.hub.ClearTranscript();

    QCOMPARE(h.Status(CMD_QUERY_MODE), 0);
    QCOMPARE(h.Status(CMD_LED_ADJUST_BEGIN), 0);
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    QCOMPARE(h.hub.Mode(), EHubMode::Bootloader);
    QCOMPARE(h.Program(records_), QString());
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), EHubMode::Application);
    QVERIFY(h.hub.ApplicationValid());
    for (int c = 1; c <= 8; ++c) {
      QCOMPARE(h.Status(CMD_SET_LED_LEVEL, {std::uint8_t(c), std::uint8_t(c * 10)}), 0);
    }
    QCOMPARE(h.Status(CMD_LED_ADJUST_END), 0);

    QCOMPARE(h.ReportedVersion(), BUILTIN_APP_VERSION);
    QCOMPARE(h.hub.Attachments(), 3);
    QCOMPARE(h.bus.Count(TFakeConnection::EKind::Attach), 3);
    QCOMPARE(h.bus.Count(TFakeConnection::EKind::Detach), 2);

    // The transcript: every command, its data, its attachment and mode, and the reply as sent.
    const auto& t = h.hub.Transcript();
    QCOMPARE(t.size(), std::size_t{3 + 2 * 625 + 1 + 8 + 1 + 1});
    const std::vector<Bytes> replies = h.bus.Reports();
    std::size_t firstReply = replies.size() - t.size();
    std::size_t i = 0;
    auto expect = [&](std::uint8_t command, const Bytes& data, int attachment, EHubMode mode) {
      const THubTranscriptEntry& e = t[i];
      QCOMPARE(e.command, command);
      QCOMPARE(e.data, data);
      QCOMPARE(e.attachment, attachment);
      QCOMPARE(e.mode, mode);
      QCOMPARE(e.status, 0);
      QVERIFY(e.carriedOut);
      QVERIFY(e.faults.empty());
      QVERIFY(e.replyDelivered);
      QCOMPARE(e.reply, replies[firstReply + i]);
      if (i > 0)
        QVERIFY(e.timeMs >= t[i - 1].timeMs);
      ++i;
    };
    const auto A = EHubMode::Application;
    const auto B = EHubMode::Bootloader;
    expect(CMD_QUERY_MODE, {}, 1, A);
    expect(CMD_LED_ADJUST_BEGIN, {}, 1, A);
    expect(CMD_ENTER_BOOTLOADER, {}, 1, A);
    for (const TRecord& r : records_) {
      expect(CMD_LOAD_RECORD, r.load, 2, B);
      expect(CMD_PROGRAM_RECORD, r.program, 2, B);
    }
    expect(CMD_REBOOT, {}, 2, B);
    for (int c = 1; c <= 8; ++c)
      expect(CMD_SET_LED_LEVEL, {std::uint8_t(c), std::uint8_t(c * 10)}, 3, A);
    expect(CMD_LED_ADJUST_END, {}, 3, A);
    expect(CMD_GET_VERSION, {0}, 3, A);
  }

  // Record sequences that must not give the hub a running application, and a few harmless
  // irregularities that must.
  void sequences_data() {
    QTest::addColumn<TMutation>("mutation");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<std::uint32_t>("version");  // afterwards; 0: in the bootloader

    QTest::newRow("complete") << TMutation([](auto&) {}) << QString() << BUILTIN_APP_VERSION;
    QTest::newRow("last record missing")
        << TMutation([](auto& r) { r.pop_back(); }) << QString() << 0u;
    QTest::newRow("first record missing")
        << TMutation([](auto& r) { r.erase(r.begin()); }) << QString() << 0u;
    QTest::newRow("middle record missing")
        << TMutation([](auto& r) { r.erase(r.begin() + 300); }) << QString("300:program:7") << 0u;
    QTest::newRow("two records swapped")
        << TMutation([](auto& r) { std::swap(r[10], r[11]); }) << QString("10:program:7") << 0u;
    // The frame's CRC leaves the last data byte uncovered; the record's checksum does not.
    QTest::newRow("last data byte corrupted") << TMutation([](auto& r) {
      r[42].load.back() ^= 0x01;
      r[42].program.back() ^= 0x01;
    }) << QString("42:program:8") << 0u;
    QTest::newRow("program differs from load")
        << TMutation([](auto& r) { r[5].program.back() ^= 0x80; }) << QString("5:program:8") << 0u;
    QTest::newRow("load of another record")
        << TMutation([](auto& r) { r[7].load = r[6].load; }) << QString("7:program:8") << 0u;
    QTest::newRow("program without load")
        << TMutation([](auto& r) { r[7].load.clear(); }) << QString("7:program:7") << 0u;
    // Refused before anything was written: the old application is untouched.
    QTest::newRow("loads without data") << TMutation([](auto& r) {
      r[0].load = {0, 0, 0, 0};
    }) << QString("0:load:4") << OLD_VERSION;
    // The repeat is refused before it writes anything, so the image stands.
    QTest::newRow("the whole image twice") << TMutation([](auto& r) {
      const auto copy = r;
      r.insert(r.end(), copy.begin(), copy.end());
    }) << QString("625:program:7") << BUILTIN_APP_VERSION;
    // Outside the application area nothing is written.
    QTest::newRow("an extra record after the image") << TMutation([](auto& r) {
      TRecord extra = r.back();
      extra.program[0] = static_cast<std::uint8_t>(extra.program[0] + 4);
      r.push_back(extra);
    }) << QString("625:program:6") << BUILTIN_APP_VERSION;
    QTest::newRow("a record before the application area") << TMutation([](auto& r) {
      r[0].program[0] = 0xF0;
      r[0].program[1] = 0x0F;
    }) << QString("0:program:6") << OLD_VERSION;
    // A retry after a lost reply sends the same request again.
    QTest::newRow("a record repeated") << TMutation([](auto& r) {
      r.insert(r.begin() + 100, TRecord{{}, r[99].program});
    }) << QString() << BUILTIN_APP_VERSION;
    QTest::newRow("a load repeated") << TMutation([](auto& r) {
      r.insert(r.begin() + 100, TRecord{r[100].load, {}});
    }) << QString() << BUILTIN_APP_VERSION;
  }
  void sequences() {
    QFETCH(TMutation, mutation);
    QFETCH(QString, failure);
    QFETCH(std::uint32_t, version);
    const bool runs = version != 0;
    std::vector<TRecord> records = records_;
    mutation(records);
    TProgrammer h;
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    QCOMPARE(h.Program(records), failure);
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), runs ? EHubMode::Application : EHubMode::Bootloader);
    QCOMPARE(h.ReportedVersion(), version);
    QCOMPARE(h.Status(CMD_QUERY_MODE), 0);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_QUERY_MODE)[MODE_OFFSET], std::uint8_t(h.hub.Mode()));
    // A half-written hub stays in its bootloader however often it restarts.
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), runs ? EHubMode::Application : EHubMode::Bootloader);
    h.hub.Unplug();
    h.hub.Plug();
    QCOMPARE(h.hub.Mode(), runs ? EHubMode::Application : EHubMode::Bootloader);
  }

  // A failed update is repaired by a complete one, from the bootloader.
  void recoveryAfterFailedUpdate() {
    TProgrammer h;
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    h.Program({records_.begin(), records_.begin() + 200});
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), EHubMode::Bootloader);
    QCOMPARE(h.hub.Programmed().size(), std::size_t{200});
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    QCOMPARE(h.hub.Mode(), EHubMode::Bootloader);
    QCOMPARE(h.Program(records_), QString());
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), EHubMode::Application);
    QCOMPARE(h.ReportedVersion(), BUILTIN_APP_VERSION);
  }

  // Entering the bootloader and rebooting without a record leaves the old application alone.
  void bootloaderRoundTripKeepsApplication() {
    TProgrammer h;
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), EHubMode::Application);
    QCOMPARE(h.ReportedVersion(), OLD_VERSION);
    QCOMPARE(h.hub.LedLevels(), THubEmulatorOptions{}.ledLevels);
  }

  // Only a firmware change brings the default LED levels; a plain restart keeps them.
  void ledLevelsAcrossRestarts() {
    TProgrammer h;
    QCOMPARE(h.Status(CMD_SET_LED_LEVEL, {4, 7}), 0);
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.LedLevels()[3], 7);
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    h.Program(records_);
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.LedLevels(), THubEmulatorOptions{}.defaultLedLevels);
  }

  // An image given to the hub replaces the embedded one, with its own version; the hub reads it
  // itself and never runs one that a bootloader would refuse, whatever the program thinks.
  void givenImage_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("runs");
    const QByteArray first = ":1133000112233445566778899AABBCCDDEEFF00C4\r\n";
    const QByteArray second = ":1073010A1B2C3D4CE\r\n";
    QTest::newRow("whole") << first + second + ":9030000FC\r\n" << true;
    QTest::newRow("without its end record") << first + second << false;
    QTest::newRow("a record with a wrong checksum")
        << first + QByteArray(second).replace("CE", "CF") + ":9030000FC\r\n"
        << false;
  }
  void givenImage() {
    QFETCH(QByteArray, text);
    QFETCH(bool, runs);
    const std::vector<std::string> small = SplitImageLines(text.toStdString());
    QCOMPARE(FirmwareLines::Parse(text.toStdString()).Ok(), runs);
    TProgrammer h;
    h.hub.SetFirmwareLines(small, 0x02030405);
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    // The embedded image is no longer the one the hub waits for.
    h.Program(records_);
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), EHubMode::Bootloader);
    QVERIFY(h.Reset(CMD_ENTER_BOOTLOADER));
    QCOMPARE(h.Program(ImageRecords(small)), QString());
    QVERIFY(h.Reset(CMD_REBOOT));
    QCOMPARE(h.hub.Mode(), runs ? EHubMode::Application : EHubMode::Bootloader);
    QCOMPARE(h.ReportedVersion(), runs ? 0x02030405u : 0u);
  }
};

QTEST_GUILESS_MAIN(HubProgrammingTest)
#include "tst_hub_programming.moc"
