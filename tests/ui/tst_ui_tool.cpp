// The Tool page against an emulated hub: the status readout and its refresh timer, the LED
// levels, and what happens to clicks and ticks that come while an exchange waits.

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "UiRig.h"
#include "ui/Shape.h"

namespace {

using Level = std::pair<int, int>;  // channel, level

std::vector<Level> LevelsSent(const THubEmulator& hub) {
  std::vector<Level> out;
  for (const auto& e : hub.Transcript()) {
    if (e.command != CMD_SET_LED_LEVEL)
      continue;
    const Level level(e.data.at(0), e.data.at(1));
    // A repeat after a held-up reply is the same send.
    if (out.empty() || out.back() != level)
      out.push_back(level);
  }
  return out;
}

int CountOf(const THubEmulator& hub, std::uint8_t command) {
  int n = 0;
  for (const auto& e : hub.Transcript())
    n += e.command == command;
  return n;
}

}  // namespace

class TestUiTool : public QObject {
  Q_OBJECT

 private slots:
  void statusReadout_data() {
    QTest::addColumn<int>("volt");
    QTest::addColumn<int>("curr");
    QTest::addColumn<int>("presence");
    QTest::addColumn<QList<bool>>("white");
    QTest::newRow("10000 mV, batteries 1 and 3")
        << 0x2710 << 1000 << 0x50 << QList<bool>{true, false, true, false};
    QTest::newRow("65535 mA, low bits only")
        << 0 << 0xFFFF << 0x0F << QList<bool>{false, false, false, false};
    QTest::newRow("all present") << 4200 << 0 << 0xF0 << QList<bool>{true, true, true, true};
  }
  void statusReadout() {
    QFETCH(int, volt);
    QFETCH(int, curr);
    QFETCH(int, presence);
    QFETCH(QList<bool>, white);
    UiRig rig;
    TfrmMain& form = *rig.form;
    THubEmulator& hub = rig.Hub();
    THubStatus s;
    s.voltage_mV = std::uint16_t(volt);
    s.current_mA = std::uint16_t(curr);
    s.state = 2;
    s.channel = 3;
    s.presence = std::uint8_t(presence);
    s.counters = {7, 255, 0};
    hub.SetFixedStatus(s);
    form.btnRead->click();
    const QStringList shown = {form.edtVolt->text(),    form.edtCurr->text(), form.edtState->text(),
                               form.edtChannel->text(), form.edtCyc1->text(), form.edtCyc2->text(),
                               form.edtCyc3->text()};
    QCOMPARE(shown, (QStringList{QString::number(volt), QString::number(curr), "2", "3", "7", "255",
                                 "0"}));
    const QColor highlight = form.palette().color(QPalette::Active, QPalette::Highlight);
    QVERIFY(highlight != QColor(Qt::white));
    for (int i = 0; i < 4; ++i)
      QCOMPARE(form.shp[i]->BrushColor(), white[i] ? QColor(Qt::white) : highlight);

    // A read that fails leaves everything standing.
    THubFault silent;
    silent.kind = EFaultKind::NoReply;
    silent.command = CMD_READ_STATUS;
    hub.AddFault(silent);
    s.voltage_mV = 1;
    s.presence = std::uint8_t(~presence);
    hub.SetFixedStatus(s);
    form.btnRead->click();
    QCOMPARE(form.edtVolt->text(), QString::number(volt));
    for (int i = 0; i < 4; ++i)
      QCOMPARE(form.shp[i]->BrushColor(), white[i] ? QColor(Qt::white) : highlight);
  }

  void refreshTimerFollowsTheBox() {
    UiRig rig;
    TfrmMain& form = *rig.form;
    QVERIFY(!form.tmrRefresh->isActive());
    QCOMPARE(form.tmrRefresh->interval(), 1000);
    form.chkRefresh->setChecked(true);
    QVERIFY(form.tmrRefresh->isActive());
    form.chkRefresh->setChecked(false);
    QVERIFY(!form.tmrRefresh->isActive());

    // Each tick reads once.
    rig.Hub().ClearTranscript();
    form.tmrRefreshTimer();
    QCOMPARE(CountOf(rig.Hub(), CMD_READ_STATUS), 1);

    // The update switches the periodic read off through the box.
    form.chkRefresh->setChecked(true);
    form.btnUpdate->click();
    QVERIFY(!form.chkRefresh->isChecked());
    QVERIFY(!form.tmrRefresh->isActive());
  }

  void actionsDuringAnExchange() {
    UiRig rig;
    TfrmMain& form = *rig.form;
    THubEmulator& hub = rig.Hub();
    THubFault slow;
    slow.kind = EFaultKind::DelayReply;
    slow.command = CMD_LED_ADJUST_END;
    slow.delayMs = 80;
    hub.AddFault(slow);
    hub.ClearTranscript();
    // Acts once, as soon as the exchange is waiting for its reply.
    bool acted = false;
    QTimer poll;
    poll.setInterval(1);
    connect(&poll, &QTimer::timeout, [&] {
      if (acted || !form.Session().Link().Busy())
        return;
      acted = true;
      form.tmrRefreshTimer();        // skipped
      form.btnRead->click();         // waits for the exchange
      form.LedBar(7)->setValue(35);  // likewise
    });
    poll.start();
    form.btnEndAdj->click();
    poll.stop();
    UiRig::Settle();
    QVERIFY(acted);
    QCOMPARE(Commands(hub),
             (std::vector<std::uint8_t>{CMD_LED_ADJUST_END, CMD_READ_STATUS, CMD_SET_LED_LEVEL}));
    QCOMPARE(LevelsSent(hub), (std::vector<Level>{{7, 35}}));
    QVERIFY(!form.edtVolt->text().isEmpty());
  }

  void ledLevels_data() {
    QTest::addColumn<QList<int>>("hubLevels");
    QTest::addColumn<QList<int>>("bars");
    QTest::addColumn<QList<int>>("sentChannels");
    QTest::newRow("all at 50") << QList<int>{50, 50, 50, 50, 50, 50, 50, 50}
                               << QList<int>{50, 50, 50, 50, 50, 50, 50, 50} << QList<int>{};
    QTest::newRow("one moved") << QList<int>{80, 50, 50, 50, 50, 50, 50, 50}
                               << QList<int>{80, 50, 50, 50, 50, 50, 50, 50} << QList<int>{1};
    QTest::newRow("clamped") << QList<int>{50, 50, 50, 50, 50, 200, 50, 50}
                             << QList<int>{50, 50, 50, 50, 50, 100, 50, 50} << QList<int>{6};
    QTest::newRow("several") << QList<int>{0, 50, 100, 50, 7, 50, 50, 99}
                             << QList<int>{0, 50, 100, 50, 7, 50, 50, 99} << QList<int>{1, 3, 5, 8};
  }
  void ledLevels() {
    QFETCH(QList<int>, hubLevels);
    QFETCH(QList<int>, bars);
    QFETCH(QList<int>, sentChannels);
    THubEmulatorOptions o = QuickHub();
    for (int i = 0; i < 8; ++i)
      o.ledLevels[i] = std::uint8_t(hubLevels[i]);
    UiRig rig({o});
    TfrmMain& form = *rig.form;
    THubEmulator& hub = rig.Hub();
    hub.ClearTranscript();

    form.btnStartAdj->click();
    std::vector<Level> expected;
    for (int c : sentChannels)
      expected.emplace_back(c, bars[c - 1]);
    QCOMPARE(LevelsSent(hub), expected);
    for (int c = 1; c <= 8; ++c)
      QCOMPARE(form.LedBar(c)->value(), bars[c - 1]);
    QVERIFY(form.Session().Leds().LedLevelsRead());

    // A bar moved by the user sends its channel and level at once.
    hub.ClearTranscript();
    form.LedBar(7)->setValue(35);
    QCOMPARE(LevelsSent(hub), (std::vector<Level>{{7, 35}}));
    QCOMPARE(int(hub.LedLevels()[6]), 35);
    form.btnEndAdj->click();
    QCOMPARE(Commands(hub).back(), CMD_LED_ADJUST_END);
    QVERIFY(!hub.LedAdjusting());
  }

  void nothingWithoutHub() {
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    form.btnStartAdj->click();
    form.LedBar(2)->setValue(90);
    form.btnEndAdj->click();
    form.btnRead->click();
    form.chkRefresh->setChecked(true);
    form.tmrRefreshTimer();
    QCOMPARE(form.Session().Link().FramesWritten(), std::uint64_t(0));
    QCOMPARE(form.LedBar(2)->value(), 90);
    QVERIFY(form.edtVolt->text().isEmpty());
    QVERIFY(!form.Session().Leds().LedLevelsRead());
  }
};

QTEST_MAIN(TestUiTool)
#include "tst_ui_tool.moc"
