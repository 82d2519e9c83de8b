// Report lengths from report descriptors: real devices, hand-made broken ones, and a short
// deterministic fuzz run that checks what must hold for any input.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <memory>
#include <random>
#include <vector>

#include "hid/ReportDescriptor.h"

using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {

const QString DATA_DIR = QStringLiteral(HALVEK_HID_TESTDATA_DIR);
constexpr int REAL_DESCRIPTOR_COUNT = 25;

Bytes Hex(const char* text) {
  const QByteArray b = QByteArray::fromHex(text);
  return Bytes(b.begin(), b.end());
}

Bytes Repeat(const char* text, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) {
    const Bytes part = Hex(text);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The data files are C-style lists: "0x05, 0x01, ...".
Bytes ReadDescriptorFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  static const QRegularExpression byte(QStringLiteral("0x([0-9A-Fa-f]{2})"));
  Bytes out;
  for (const auto& m : byte.globalMatch(QString::fromLatin1(file.readAll()))) {
    out.push_back(static_cast<std::uint8_t>(m.captured(1).toUInt(nullptr, 16)));
  }
  return out;
}

// An exactly sized heap copy, so that ASan sees any read past the end.
HIDP_CAPS Caps(const Bytes& bytes, std::size_t size) {
  auto copy = std::make_unique<std::uint8_t[]>(size);
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size), copy.get());
  return CapsFromReportDescriptor(copy.get(), size);
}

bool Same(const HIDP_CAPS& a, const HIDP_CAPS& b) {
  return a.Usage == b.Usage && a.UsagePage == b.UsagePage &&
         a.InputReportByteLength == b.InputReportByteLength &&
         a.OutputReportByteLength == b.OutputReportByteLength &&
         a.FeatureReportByteLength == b.FeatureReportByteLength;
}

QByteArray Describe(const HIDP_CAPS& c) {
  return QStringLiteral("usage %1:%2 in %3 out %4 feature %5")
      .arg(c.UsagePage, 4, 16, QLatin1Char('0'))
      .arg(c.Usage, 4, 16, QLatin1Char('0'))
      .arg(c.InputReportByteLength)
      .arg(c.OutputReportByteLength)
      .arg(c.FeatureReportByteLength)
      .toLatin1();
}

Bytes RealDescriptor(int index) {
  static const std::vector<Bytes> all = [] {
    std::vector<Bytes> v;
    for (const QString& name : QDir(DATA_DIR).entryList({QStringLiteral("*.rpt_desc")})) {
      v.push_back(ReadDescriptorFile(DATA_DIR + QLatin1Char('/') + name));
    }
    return v;
  }();
  return all.empty() ? Bytes{} : all[static_cast<std::size_t>(index) % all.size()];
}

// A table of descriptors and the capabilities each must give.
void AddCapsColumns() {
  QTest::addColumn<Bytes>("descriptor");
  QTest::addColumn<int>("usage");
  QTest::addColumn<int>("usagePage");
  QTest::addColumn<int>("input");
  QTest::addColumn<int>("output");
  QTest::addColumn<int>("feature");
}
// Checks the current row of such a table.
void CheckCapsRow() {
  QFETCH(Bytes, descriptor);
  QFETCH(int, usage);
  QFETCH(int, usagePage);
  QFETCH(int, input);
  QFETCH(int, output);
  QFETCH(int, feature);
  const HIDP_CAPS caps = Caps(descriptor, descriptor.size());
  QCOMPARE(caps.InputReportByteLength, input);
  QCOMPARE(caps.OutputReportByteLength, output);
  QCOMPARE(caps.FeatureReportByteLength, feature);
  QCOMPARE(caps.Usage, usage);
  QCOMPARE(caps.UsagePage, usagePage);
}

}  // namespace

class ReportDescriptorTest : public QObject {
  Q_OBJECT

 private slots:
  // Lengths from expected-lengths.tsv; usage and page from the file name.
  void realDevices_data() {
    AddCapsColumns();
    QFile tsv(DATA_DIR + QStringLiteral("/expected-lengths.tsv"));
    QVERIFY2(tsv.open(QIODevice::ReadOnly), qPrintable(tsv.fileName()));
    int rows = 0;
    for (const QByteArray& line : tsv.readAll().split('\n')) {
      const QList<QByteArray> f = line.trimmed().split('\t');
      if (f.size() != 4 || f[0] == "name") {
        continue;
      }
      const QList<QByteArray> id = f[0].split('_');
      QCOMPARE(id.size(), 4);
      const Bytes descriptor = ReadDescriptorFile(DATA_DIR + '/' + f[0] + ".rpt_desc");
      QVERIFY2(!descriptor.empty(), f[0].constData());
      QTest::newRow(f[0].constData())
          << descriptor << id[2].toInt(nullptr, 16) << id[3].toInt(nullptr, 16) << f[1].toInt()
          << f[2].toInt() << f[3].toInt();
      ++rows;
    }
    QCOMPARE(rows, REAL_DESCRIPTOR_COUNT);
  }
  void realDevices() { CheckCapsRow(); }

  // Hand-made descriptors: the semantics that the real ones leave open, and broken input.
  void crafted_data() {
    AddCapsColumns();

    const Bytes twoInputBytes = Hex("75 08 95 02 81 02");
    QTest::newRow("hub: vendor page, 64-byte reports, no ids")
        << Hex("06 00 FF 09 01 A1 01 09 02 15 00 26 FF 00 75 08 95 40 81 02"
               "09 03 75 08 95 40 91 02 C0")
        << 1 << 0xFF00 << 65 << 65 << 0;
    QTest::newRow("empty") << Bytes{} << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("odd bits round up") << Hex("75 01 95 09 81 02") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("rounding over the report, not per item")
        << Hex("75 03 95 01 81 02 75 05 81 02 75 01 81 02") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("ids counted apart, largest wins")
        << Hex("75 08 85 01 95 04 81 02 85 02 95 0A 81 02 85 01 95 08 81 02") << 0 << 0 << 13 << 0
        << 0;
    QTest::newRow("types counted apart")
        << Hex("85 01 75 08 95 02 81 02 91 02 95 05 B1 02") << 0 << 0 << 3 << 3 << 6;
    QTest::newRow("zero-bit item still declares a report")
        << Hex("75 08 95 00 91 02") << 0 << 0 << 0 << 1 << 0;
    QTest::newRow("four-byte usage names its page")
        << Hex("06 00 FF 0B 05 00 01 00 A1 01 C0") << 5 << 1 << 0 << 0 << 0;
    QTest::newRow("page set after the usage applies")
        << Hex("09 06 05 01 A1 01 C0") << 6 << 1 << 0 << 0 << 0;
    QTest::newRow("first of several usages")
        << Hex("05 01 09 02 09 06 A1 01 C0") << 2 << 1 << 0 << 0 << 0;
    QTest::newRow("first top-level application collection")
        << Hex("05 01 09 01 A1 00 C0 09 06 A1 01 C0 09 02 A1 01 C0") << 6 << 1 << 0 << 0 << 0;
    QTest::newRow("nested application collection is not top-level")
        << Hex("05 01 09 02 A1 00 09 06 A1 01 C0 C0") << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("usage does not outlive its main item")
        << Hex("05 01 09 02 81 02 A1 01 C0") << 0 << 1 << 1 << 0 << 0;
    QTest::newRow("push and pop restore size, count and id")
        << Hex("85 01 75 08 95 10 A4 85 02 95 01 81 02 B4 81 02") << 0 << 0 << 17 << 0 << 0;
    QTest::newRow("sixteen nested pushes are fine")
        << Repeat("A4", 16) + twoInputBytes + Repeat("B4", 16) << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("long item skipped whole")
        << Hex("FE 06 10 75 08 95 40 81 02 75 08 95 03 81 02") << 0 << 0 << 4 << 0 << 0;
    QTest::newRow("empty long item") << Hex("FE 00 10 75 08 95 01 81 02") << 0 << 0 << 2 << 0 << 0;
    QTest::newRow("reserved item type skipped with its data")
        << Hex("75 08 0E 95 40 95 02 81 02") << 0 << 0 << 3 << 0 << 0;

    // Broken descriptors: the walk ends at the first broken item, what came before counts.
    QTest::newRow("item data cut off") << twoInputBytes + Hex("27 FF FF") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("main item data cut off") << Hex("75 08 95 02 81") << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("long item data cut off")
        << twoInputBytes + Hex("FE 10 00 81 02") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("long item header cut off")
        << twoInputBytes + Hex("FE 10") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("pop without push")
        << twoInputBytes + Hex("B4 95 08 81 02") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("seventeen nested pushes")
        << twoInputBytes + Repeat("A4", 17) + Hex("95 08 81 02") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("report id 0") << twoInputBytes + Hex("85 00 95 08 81 02") << 0 << 0 << 3 << 0
                                 << 0;
    QTest::newRow("report id over 255")
        << twoInputBytes + Hex("86 01 01 95 08 81 02") << 0 << 0 << 3 << 0 << 0;
    QTest::newRow("missing collection end")
        << Hex("06 00 FF 09 01 A1 01 75 08 95 40 81 02 91 02") << 1 << 0xFF00 << 65 << 65 << 0;
    QTest::newRow("stray collection ends")
        << Hex("C0 C0 05 01 09 02 A1 01 75 08 95 01 81 02 C0") << 2 << 1 << 2 << 0 << 0;

    // Sizes beyond what a length can hold clamp instead of wrapping.
    QTest::newRow("largest length that fits")
        << Hex("75 08 96 FE FF 81 02") << 0 << 0 << 0xFFFF << 0 << 0;
    QTest::newRow("count times size past 32 bits")
        << Hex("75 08 97 00 00 00 20 81 02") << 0 << 0 << 0xFFFF << 0 << 0;
    QTest::newRow("largest size and count, twice")
        << Hex("77 FF FF FF FF 97 FF FF FF FF 81 02 81 02 B1 02") << 0 << 0 << 0xFFFF << 0
        << 0xFFFF;
  }
  void crafted() { CheckCapsRow(); }

  // Whether reports carry their id, from the same walk as the lengths.
  void reportIds_data() {
    QTest::addColumn<Bytes>("descriptor");
    QTest::addColumn<bool>("usesIds");
    QTest::addColumn<int>("input");
    QTest::newRow("no ids") << Hex("75 08 95 40 81 02") << false << 65;
    QTest::newRow("id before the report") << Hex("85 02 75 08 95 20 81 02") << true << 33;
    QTest::newRow("id item after the last main item")
        << Hex("75 08 95 40 81 02 85 02") << false << 65;
    QTest::newRow("id popped before the report")
        << Hex("A4 85 02 B4 75 08 95 04 81 02") << false << 5;
    QTest::newRow("report id 0 ends the walk")
        << Hex("75 08 95 02 81 02 85 00 81 02") << false << 3;
    QTest::newRow("broken item before the id's report")
        << Hex("75 08 95 02 81 02 85 03 B4 81 02") << false << 3;
  }
  void reportIds() {
    QFETCH(Bytes, descriptor);
    QFETCH(bool, usesIds);
    QFETCH(int, input);
    const TReportDescriptorInfo info = ParseReportDescriptor(descriptor.data(), descriptor.size());
    QCOMPARE(info.UsesReportIds, usesIds);
    QCOMPARE(int(info.Caps.InputReportByteLength), input);
  }

  void nullData() { QVERIFY(Same(CapsFromReportDescriptor(nullptr, 64), HIDP_CAPS{})); }

  // Mutated real descriptors and random bytes. Besides what ASan catches: the result is
  // repeatable, and a prefix never reports more than the whole (the walk only adds), while its
  // usage is either not found yet or the same.
  void fuzzInvariants() {
    std::mt19937 rng(20261208);
    const auto below = [&rng](std::size_t n) {
      return static_cast<std::size_t>(std::uniform_int_distribution<std::size_t>(0, n - 1)(rng));
    };
    // Prefixes and values that reach the guarded paths often.
    static const std::uint8_t interesting[] = {0xFE, 0xA4, 0xB4, 0x85, 0x97, 0x77, 0x81,
                                               0x91, 0xB1, 0xA1, 0xC0, 0x0B, 0xFF, 0x00};
    constexpr int RUNS = 300000;
    for (int run = 0; run < RUNS; ++run) {
      Bytes input;
      if (run % 8 == 0) {
        input.resize(below(200));
        for (auto& b : input)
          b = static_cast<std::uint8_t>(below(256));
      } else {
        input = RealDescriptor(run);
        const std::size_t mutations = 1 + below(4);
        for (std::size_t m = 0; m < mutations && !input.empty(); ++m) {
          const std::size_t at = below(input.size());
          switch (below(5)) {
            case 0:
              input[at] ^= static_cast<std::uint8_t>(1u << below(8));
              break;
            case 1:
              input[at] = interesting[below(sizeof interesting)];
              break;
            case 2:
              input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                           interesting[below(sizeof interesting)]);
              break;
            case 3:
              input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
              break;
            default:
              input.resize(at);
              break;
          }
        }
      }
      const HIDP_CAPS whole = Caps(input, input.size());
      const HIDP_CAPS again = Caps(input, input.size());
      if (!Same(whole, again)) {
        QFAIL(qPrintable("not repeatable, run " + QString::number(run)));
      }
      const std::size_t cut = input.empty() ? 0 : below(input.size() + 1);
      const HIDP_CAPS part = Caps(input, cut);
      const bool usageOk = (part.Usage == 0 && part.UsagePage == 0) ||
                           (part.Usage == whole.Usage && part.UsagePage == whole.UsagePage);
      if (!usageOk || part.InputReportByteLength > whole.InputReportByteLength ||
          part.OutputReportByteLength > whole.OutputReportByteLength ||
          part.FeatureReportByteLength > whole.FeatureReportByteLength) {
        QFAIL(QByteArray("run " + QByteArray::number(run) + ": prefix of " +
                         QByteArray::number(qulonglong(cut)) + " bytes gives " + Describe(part) +
                         ", whole " + Describe(whole) + ": " +
                         QByteArray(reinterpret_cast<const char*>(input.data()),
                                    static_cast<qsizetype>(input.size()))
                             .toHex(' '))
                  .constData());
      }
    }
  }
};

QTEST_GUILESS_MAIN(ReportDescriptorTest)
#include "tst_report_descriptor.moc"
