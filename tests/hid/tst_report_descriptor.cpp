#include <QTest>

#include "hid/ReportDescriptor.h"

class ReportDescriptorTest : public QObject {
  Q_OBJECT

 private slots:
  void emptyDescriptor() {
    const HIDP_CAPS caps = CapsFromReportDescriptor(nullptr, 0);
    QCOMPARE(caps.InputReportByteLength, 0);
    QCOMPARE(caps.OutputReportByteLength, 0);
  }
};

QTEST_GUILESS_MAIN(ReportDescriptorTest)
#include "tst_report_descriptor.moc"
