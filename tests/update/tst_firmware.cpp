// The firmware image: the shipped shape, record requests, and refusal of broken images.

#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "protocol/Commands.h"
#include "update/EmbeddedFirmware.h"
#include "update/EmbeddedResource.h"

namespace {
// A type-1 line with the given count, address and data, its checksum, then `tail`.
std::string Line(int count, const char* address, const char* data, const char* tail = "") {
  char head[8];
  std::snprintf(head, sizeof head, ":1%02X", count);
  unsigned sum = count;
  const QByteArray bytes = QByteArray::fromHex(QByteArray(address) + data);
  for (const char b : bytes)
    sum += static_cast<std::uint8_t>(b);
  char checksum[3];
  std::snprintf(checksum, sizeof checksum, "%02X", ~sum & 0xFF);
  return std::string(head) + address + data + checksum + tail;
}

// The built-in image's lines, changed by `edit`, as a file.
QByteArray Edited(const std::function<void(std::vector<std::string>&)>& edit) {
  const FirmwareLines image = LoadEmbeddedFirmware().Value();
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < image.Count(); ++i)
    lines.push_back(image.Line(i));
  edit(lines);
  QByteArray text;
  for (const std::string& line : lines)
    text += QByteArray::fromStdString(line) + "\r\n";
  return text;
}
}  // namespace

class FirmwareTest : public QObject {
  Q_OBJECT

 private slots:
  void shippedImage() {
    const TResult<FirmwareLines> loaded = LoadEmbeddedFirmware();
    QVERIFY2(loaded, qPrintable(loaded ? QString() : loaded.Error().text));
    const FirmwareLines& image = *loaded;
    QCOMPARE(image.Count(), std::size_t{626});
    QCOMPARE(image.RecordCount(), std::size_t{625});
    int shortRecords = 0;
    std::uint32_t next = image.Record(0)->address;
    for (std::size_t i = 0; i < 625; ++i) {
      const auto& record = image.Record(i);
      QVERIFY(record.has_value());
      QCOMPARE(image.Line(i).size(), std::size_t{48});
      QVERIFY(record->count == 0x13 || record->count == 0x07);
      if (record->count == 0x07)
        ++shortRecords;
      QCOMPARE(record->data.size(), std::size_t{record->count - 3u});
      QCOMPARE(record->address, next);
      next += record->data.size();
    }
    QCOMPARE(shortRecords, 2);
    QVERIFY(!image.Record(625).has_value());  // the closing type-9 line is skipped
    QCOMPARE(image.Line(625).substr(0, 4), std::string(":903"));
    QCOMPARE(image.Area()->first, 0x1000);
    QCOMPARE(image.Area()->last, 0x36F7);
  }

  void requests_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("programHead");  // first bytes of CMD_PROGRAM_RECORD data
    QTest::newRow("full record") << QString::fromStdString(
                                        Line(0x13, "1A2B", "00112233445566778899AABBCCDDEEFF"))
                                 << 20 << QByteArray::fromHex("2B1A000000112233");
    QTest::newRow("short record") << QString::fromStdString(Line(0x07, "0100", "DEADBEEF")) << 8
                                  << QByteArray::fromHex("00010000DEADBEEF");
    QTest::newRow("lower case") << QString::fromStdString(Line(0x07, "ab0c", "deadbeef")) << 8
                                << QByteArray::fromHex("0CAB0000DEADBEEF");
    QTest::newRow("largest count")
        << QString::fromStdString(Line(58, "0000", std::string(110, 'A').c_str())) << 59
        << QByteArray::fromHex("00000000AAAA");
  }
  void requests() {
    QFETCH(QString, line);
    QFETCH(int, n);
    QFETCH(QByteArray, programHead);
    const auto parsed = ParseFirmwareLine(line.toStdString());
    QVERIFY2(parsed && *parsed, qPrintable(parsed ? QString() : parsed.Error().text));
    const RequestBuffer load = LoadRecordRequest(**parsed);
    const RequestBuffer program = ProgramRecordRequest(**parsed);
    QCOMPARE(int(load[1]), n);
    QCOMPARE(int(program[1]), n);
    for (int i = 0; i < 4; ++i)
      QCOMPARE(load[4 + i], 0);
    for (int i = 0; i < programHead.size(); ++i) {
      QCOMPARE(program[4 + i], static_cast<std::uint8_t>(programHead[i]));
    }
    for (int i = 4; i < n; ++i)
      QCOMPARE(load[4 + i], program[4 + i]);
    // Both go out as frames within the report.
    QCOMPARE(BuildCommandFrame(CMD_LOAD_RECORD, load)[2], n + 5);
  }

  // Whatever follows the data bytes changes nothing.
  void trailingCharactersIgnored() {
    const auto a = ParseFirmwareLine(Line(0x07, "1234", "01020304", "FF"));
    const auto b = ParseFirmwareLine(Line(0x07, "1234", "01020304", "zz ;; garbage"));
    QVERIFY(a && b && *a && *b);
    QCOMPARE(ProgramRecordRequest(**a), ProgramRecordRequest(**b));
    QCOMPARE(LoadRecordRequest(**a), LoadRecordRequest(**b));
  }

  void skippedTypes_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("type 9") << ":9030000FC";
    QTest::newRow("type 0") << ":0030000FC";
    QTest::newRow("type 5") << ":5030001FB";
  }
  void skippedTypes() {
    QFETCH(QString, line);
    const auto parsed = ParseFirmwareLine(line.toStdString());
    QVERIFY(parsed && !*parsed);
  }

  void brokenLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reason");
    QTest::newRow("empty") << ""
                           << "too short";
    QTest::newRow("type not hex") << ":X13"
                                  << "type";
    QTest::newRow("count not hex") << ":1G30000"
                                   << "count";
    QTest::newRow("count missing") << ":1"
                                   << "count";
    QTest::newRow("count 2") << QString::fromStdString(Line(0x02, "0000", "")) << "outside";
    QTest::newRow("count 59") << QString::fromStdString(
                                     Line(59, "0000", std::string(112, '0').c_str()))
                              << "outside";
    QTest::newRow("count 0xFF") << ":1FF0000"
                                << "outside";
    QTest::newRow("shorter than count") << ":1130000001122"
                                        << "shorter";
    QTest::newRow("trailing byte missing") << ":107000001020304"
                                           << "shorter";
    QTest::newRow("no data bytes")
        << QString::fromStdString(Line(0x03, "1000", "")) << "outside 0x04";
    QTest::newRow("wrong checksum") << ":10710000102030473"
                                    << "checksum is 0x73 but the record's bytes give 0xDE";
    QTest::newRow("header with a wrong checksum") << ":0030000FB"
                                                  << "checksum";
    QTest::newRow("no start character") << ";107100001020304"
                                        << "':'";
    QTest::newRow("24-bit record") << ":2080000000102030400"
                                   << "type 2";
    QTest::newRow("type 5 with junk") << ":5zz"
                                      << "count";
    QTest::newRow("address not hex")
        << QString::fromStdString(Line(0x07, "00G0", "01020304")) << "address";
    QTest::newRow("data not hex") << QString::fromStdString(Line(0x07, "0000", "0102 304"))
                                  << "data byte 3";
  }
  void brokenLines() {
    QFETCH(QString, line);
    QFETCH(QString, reason);
    const auto parsed = ParseFirmwareLine(line.toStdString());
    QVERIFY(!parsed);
    QVERIFY2(parsed.Error().text.contains(reason), qPrintable(parsed.Error().text));

    // In an image, the whole image is refused and the line is named.
    const std::string text =
        Line(0x07, "0000", "01020304") + "\r\n" + line.toStdString() + "\r\n:9030000FC\r\n";
    const TResult<FirmwareLines> image = FirmwareLines::Parse(text);
    QVERIFY(!image);
    QVERIFY2(image.Error().text.contains("line 2:"), qPrintable(image.Error().text));
  }

  void lineBreaks_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("LF") << QByteArray("a\nb") << QStringList{"a", "b"};
    QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("LF CR is two") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
  }
  void lineBreaks() {
    QFETCH(QByteArray, text);
    QFETCH(QStringList, lines);
    QStringList got;
    for (const auto& l : SplitImageLines(text.toStdString()))
      got << QString::fromStdString(l);
    QCOMPARE(got, lines);
  }

  // Images as the hub's bootloader would take them, inside the built-in image's area.
  void wholeImages_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("records");  // -1: refused
    QTest::addColumn<QString>("error");
    using Lines = std::vector<std::string>;
    const std::string ok = Line(0x13, "1018", "000102030405060708090A0B0C0D0E0F");
    QTest::newRow("only type 9") << QByteArray(":9030000FC\r\n") << 0 << "";
    QTest::newRow("empty lines after the end")
        << Edited([](Lines& l) { l.insert(l.end(), 2, ""); }) << 625 << "";
    QTest::newRow("empty") << QByteArray() << -1 << "empty";
    QTest::newRow("blank line inside") << QByteArray(":9030000FC\r\n\r\n:9030000FC\r\n") << -1
                                       << "line 3: a line after the end record of line 1";
    QTest::newRow("cut off at a line boundary") << Edited([](Lines& l) { l.resize(300); }) << -1
                                                << "line 300: the image ends without an end record";
    QTest::newRow("no end record") << Edited([](Lines& l) { l.pop_back(); }) << -1
                                   << "line 625: the image ends without an end record";
    QTest::newRow("wrong checksum")
        << Edited([](Lines& l) { l[99][41] ^= 1; }) << -1 << "line 100: the checksum is";
    QTest::newRow("out of order") << Edited([](Lines& l) { std::swap(l[10], l[11]); }) << -1
                                  << "line 12: the record at 0x10A0 comes after the one at 0x10B0";
    QTest::newRow("a record twice")
        << Edited([](Lines& l) { l.insert(l.begin() + 20, l[5]); }) << -1
        << "line 21: the record at 0x1050 comes twice (first on line 6)";
    QTest::newRow("overlapping records")
        << Edited([&](Lines& l) { l.insert(l.begin() + 2, ok); }) << -1
        << "line 3: the record at 0x1018 overlaps the one at 0x1010";
    QTest::newRow("before the application area")
        << Edited([](Lines& l) { l.insert(l.begin(), Line(0x07, "0F00", "01020304")); }) << -1
        << "line 1: the record at 0x0F00 to 0x0F03 is outside the application area 0x1000 to "
           "0x36F7";
    QTest::newRow("after the application area")
        << Edited([](Lines& l) { l.insert(l.end() - 1, Line(0x07, "36F8", "01020304")); }) << -1
        << "line 626: the record at 0x36F8 to 0x36FB is outside";
    QTest::newRow("past 0xFFFF") << QByteArray::fromStdString(
                                        Line(0x13, "FFF8", "000102030405060708090A0B0C0D0E0F") +
                                        "\n:9030000FC\n")
                                 << -1 << "line 1: the record at 0xFFF8 runs past address 0xFFFF";
  }
  void wholeImages() {
    QFETCH(QByteArray, text);
    QFETCH(int, records);
    QFETCH(QString, error);
    const TResult<FirmwareLines> image =
        FirmwareLines::Parse(text.toStdString(), LoadEmbeddedFirmware()->Area());
    const QString said = image ? QString() : image.Error().text;
    QVERIFY2(said.contains(error), qPrintable(said));
    QCOMPARE(image.Ok(), records >= 0);
    if (records < 0) {
      // A file refuses the same way, in the built-in image's area.
      QTemporaryDir dir;
      QFile file(dir.filePath("app.txt"));
      QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
      file.close();
      QCOMPARE(LoadFirmwareFile(file.fileName()).Error().text, file.fileName() + ": " + said);
    } else {
      QCOMPARE(int(image->RecordCount()), records);
    }
  }

  void resourceNamesIgnoreCase() {
    QVERIFY(LoadEmbeddedResource("APP", "appbin").has_value());
    QVERIFY(LoadEmbeddedResource("app", "APPBIN").has_value());
    QVERIFY(LoadEmbeddedResource("App", "AppBin").has_value());
    QVERIFY(!LoadEmbeddedResource("APP", "appbin2").has_value());
    QVERIFY(!LoadEmbeddedResource("SKIN", "appbin").has_value());
  }
};

QTEST_GUILESS_MAIN(FirmwareTest)
#include "tst_firmware.moc"
