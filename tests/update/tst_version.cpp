// Version texts and the update-available decision.

#include <QTest>

#include "update/BuildConfig.h"
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

  // Around whatever version is built in, so that a new one changes nothing here.
  void versionLines_data() {
    QTest::addColumn<quint32>("application");
    QTest::addColumn<quint32>("bootloader");
    QTest::addColumn<bool>("offered");
    const quint32 builtIn = BUILTIN_APP_VERSION;
    QTest::newRow("older") << builtIn - 1 << 0x01020304u << true;
    QTest::newRow("same") << builtIn << 0u << false;
    QTest::newRow("newer") << builtIn + 1 << 0u << false;
    QTest::newRow("blank hub") << 0u << 0u << true;
    // Compared as unsigned: a top bit set is a large version, not a negative one.
    QTest::newRow("top bit") << (builtIn | 0x80000000u) << 0u << false;
  }
  void versionLines() {
    QFETCH(quint32, application);
    QFETCH(quint32, bootloader);
    QFETCH(bool, offered);
    const QStringList lines{"Bootloader :" + DottedVersion(bootloader),
                            "App        :" + DottedVersion(application),
                            "Current App:" + DottedVersion(BUILTIN_APP_VERSION),
                            QString(offered ? "Update available." : "No update available.")};
    QCOMPARE(VersionLines({application, bootloader}), lines);
  }

  void statusText() {
    QCOMPARE(VersionStatusText(0x11150906), QStringLiteral("APP版本：11150906"));
  }
};

QTEST_GUILESS_MAIN(VersionTest)
#include "tst_version.moc"
