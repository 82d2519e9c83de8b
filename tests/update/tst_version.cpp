// Version texts and the update-available decision.

#include <QTest>

#include "update/Version.h"

class VersionTest : public QObject {
  Q_OBJECT

 private slots:
  void formatVersion_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("dotted");
    QTest::newRow("built-in") << "11150906"
                              << "1.1.15.0906";
    QTest::newRow("letters") << "ABCDEF01"
                             << "A.B.CD.EF01";
    QTest::newRow("zero") << "00000000"
                          << "0.0.00.0000";
    QTest::newRow("short") << "123"
                           << "123";
    QTest::newRow("long") << "123456789"
                          << "123456789";
    QTest::newRow("empty") << ""
                           << "";
  }
  void formatVersion() {
    QFETCH(QString, text);
    QFETCH(QString, dotted);
    QCOMPARE(FormatVersion(text), dotted);
  }

  void versionText() {
    QCOMPARE(VersionText(0x11150906), QStringLiteral("11150906"));
    QCOMPARE(VersionText(0xabcdef01), QStringLiteral("ABCDEF01"));
    QCOMPARE(VersionText(0x5), QStringLiteral("00000005"));
  }

  void versionLines_data() {
    QTest::addColumn<quint32>("application");
    QTest::addColumn<quint32>("bootloader");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("older") << 0x11150905u << 0x01020304u
                           << QStringList{"Bootloader :0.1.02.0304", "App        :1.1.15.0905",
                                          "Current App:1.1.15.0906", "Update available."};
    QTest::newRow("same") << 0x11150906u << 0u
                          << QStringList{"Bootloader :0.0.00.0000", "App        :1.1.15.0906",
                                         "Current App:1.1.15.0906", "No update available."};
    QTest::newRow("newer") << 0x11150907u << 0u
                           << QStringList{"Bootloader :0.0.00.0000", "App        :1.1.15.0907",
                                          "Current App:1.1.15.0906", "No update available."};
    QTest::newRow("blank hub") << 0u << 0u
                               << QStringList{"Bootloader :0.0.00.0000", "App        :0.0.00.0000",
                                              "Current App:1.1.15.0906", "Update available."};
    // Compared as unsigned: a top bit set is a large version, not a negative one.
    QTest::newRow("top bit") << 0x91150906u << 0u
                             << QStringList{"Bootloader :0.0.00.0000", "App        :9.1.15.0906",
                                            "Current App:1.1.15.0906", "No update available."};
  }
  void versionLines() {
    QFETCH(quint32, application);
    QFETCH(quint32, bootloader);
    QFETCH(QStringList, lines);
    QCOMPARE(VersionLines({application, bootloader}), lines);
  }

  void statusText() {
    QCOMPARE(VersionStatusText(0x11150906), QStringLiteral("APP版本：11150906"));
  }
};

QTEST_GUILESS_MAIN(VersionTest)
#include "tst_version.moc"
