// The window against emulated hubs: discovery, the version check, the update with every way it
// can stop, and the automatic update.

#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <csignal>

#include "UiRig.h"
#include "ui/CloseOnSignal.h"
#include "update/BuildConfig.h"
#include "update/Texts.h"
#include "update/Version.h"

using Cmds = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Cmds)
Q_DECLARE_METATYPE(THubEmulatorOptions)
Q_DECLARE_METATYPE(THubFault)

namespace {

const QStringList COMPLETE_LOG = {Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot,
                                  Texts::Ok, Texts::UpdateCompleted};

// What a whole update sends after `before`: the record pairs, the reboot, the eight levels and
// the end of the adjustment.
Cmds UpdateSequence(Cmds before, std::size_t records) {
  before.push_back(CMD_ENTER_BOOTLOADER);
  before.push_back(CMD_QUERY_MODE);  // in its bootloader before any record goes
  for (std::size_t i = 0; i < records; ++i) {
    before.push_back(CMD_LOAD_RECORD);
    before.push_back(CMD_PROGRAM_RECORD);
  }
  before.push_back(CMD_REBOOT);
  before.push_back(CMD_QUERY_MODE);  // what it runs now (the version query is a greeting's code)
  for (int c = 0; c < LED_CHANNEL_COUNT; ++c)
    before.push_back(CMD_SET_LED_LEVEL);
  before.push_back(CMD_LED_ADJUST_END);
  return before;
}

std::array<int, 8> Bars(TfrmMain& form) {
  std::array<int, 8> v{};
  for (int c = 1; c <= 8; ++c)
    v[c - 1] = form.LedBar(c)->value();
  return v;
}

}  // namespace

class TestUiUpdate : public QObject {
  Q_OBJECT

 private slots:
  void completeUpdate_data() {
    QTest::addColumn<bool>("bootloader");
    QTest::addColumn<bool>("fullImage");
    QTest::newRow("application mode, whole image") << false << true;
    QTest::newRow("bootloader mode") << true << false;
  }
  void completeUpdate() {
    QFETCH(bool, bootloader);
    QFETCH(bool, fullImage);
    THubEmulatorOptions o = QuickHub();
    if (bootloader)
      o.mode = EHubMode::Bootloader;
    UiRig rig({o}, fullImage);
    THubEmulator& hub = rig.Hub();
    const auto before = hub.LedLevels();
    hub.ClearTranscript();

    rig.form->btnUpdate->click();

    const std::size_t records = rig.image.RecordCount();
    Cmds expected;
    std::array<int, 8> bars{50, 50, 50, 50, 50, 50, 50, 50};
    expected.push_back(CMD_QUERY_MODE);
    if (!bootloader) {
      // One level set per bar that the hub's levels moved (channel 4 is at 50 already).
      expected.push_back(CMD_LED_ADJUST_BEGIN);
      for (int c = 1; c <= 8; ++c) {
        if (before[c - 1] != 50)
          expected.push_back(CMD_SET_LED_LEVEL);
        bars[c - 1] = before[c - 1];
      }
    }
    QCOMPARE(Commands(hub), UpdateSequence(expected, records));
    // From the bootloader the levels cannot be read, and none were kept from an earlier run.
    QCOMPARE(rig.Log(),
             bootloader ? QStringList{Texts::NoSavedLedLevels} + COMPLETE_LOG : COMPLETE_LOG);
    QCOMPARE(rig.form->pbProgram->value(), rig.form->pbProgram->maximum());
    QCOMPARE(rig.form->pbMsg->value(), rig.form->pbMsg->maximum());
    QCOMPARE(rig.form->pbProgram->maximum(), int(rig.image.Count()) - 1);
    QVERIFY(rig.form->pnlUpdate->isEnabled());
    QVERIFY(rig.form->isEnabled());
    QCOMPARE(hub.ApplicationVersion(), BUILTIN_APP_VERSION);
    QCOMPARE(hub.Mode(), EHubMode::Application);
    QCOMPARE(Bars(*rig.form), bars);
    // The levels written back, channel 1 to 8 in order, are what the bars show.
    // ... at least 10 ms apart.
    std::vector<int> written;
    std::vector<qint64> times;
    for (const auto& e : hub.Transcript()) {
      if (e.command == CMD_SET_LED_LEVEL && e.mode == EHubMode::Application &&
          e.attachment == hub.Attachments()) {
        if (!written.empty() && written.back() == e.data[0] * 1000 + e.data[1])
          continue;  // sent again after a held-up reply
        written.push_back(e.data[0] * 1000 + e.data[1]);
        times.push_back(e.timeMs);
      }
    }
    QCOMPARE(written.size(), std::size_t(8));
    for (int c = 1; c <= 8; ++c)
      QCOMPARE(written[c - 1], c * 1000 + bars[c - 1]);
    for (std::size_t i = 1; i < times.size(); ++i)
      QVERIFY(times[i] - times[i - 1] >= 10);
    for (int c = 1; c <= 8; ++c)
      QCOMPARE(int(hub.LedLevels()[c - 1]), bars[c - 1]);
    // Every greeting after a re-enumeration is a plain CMD_GET_VERSION without data; the one
    // version query, after the reboot, asks what the hub runs now.
    int queries = 0;
    for (const auto& e : hub.Transcript()) {
      if (e.command == CMD_GET_VERSION && !e.data.empty()) {
        QCOMPARE(e.data, std::vector<std::uint8_t>{0});
        QCOMPARE(e.attachment, hub.Attachments());
        ++queries;
      }
    }
    QCOMPARE(queries, 1);
  }

  void failures_data() {
    QTest::addColumn<THubFault>("fault");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("lampRed");
    QTest::addColumn<bool>("replug");
    QTest::newRow("LED levels not read")
        << THubFault{EFaultKind::NoReply, CMD_LED_ADJUST_BEGIN, TOccurrence::Always()}
        << QStringList{Texts::UpdateFailedRetry} << Texts::StatusFailedRetry << false << false;
    QTest::newRow("no hub after the bootloader switch")
        << THubFault{EFaultKind::NoReturn, CMD_ENTER_BOOTLOADER, TOccurrence::Always()}
        << QStringList{Texts::EnterBootloaderMode, Texts::EnterBootloaderError}
        << Texts::StatusStateError << false << true;
    QTest::newRow("record not answered")
        << THubFault{EFaultKind::NoReply, CMD_PROGRAM_RECORD, TOccurrence::FromNth(3)}
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout}
        << Texts::StatusProgramming << true << false;
    QTest::newRow("record refused")
        << THubFault{EFaultKind::ErrorStatus, CMD_LOAD_RECORD, TOccurrence::Nth(2)}
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout,
                       QStringLiteral("The hub refused CMD_LOAD_RECORD (record 2 of")}
        << Texts::StatusProgramming << true << false;
    QTest::newRow("unplugged while programming")
        << THubFault{EFaultKind::Vanish, CMD_PROGRAM_RECORD, TOccurrence::Nth(2), -1}
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout}
        << Texts::StatusProgramming << true << true;
    QTest::newRow("no hub after the reboot")
        << THubFault{EFaultKind::NoReturn, CMD_REBOOT, TOccurrence::Always()}
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot,
                       Texts::UpdateFailedRetry}
        << Texts::StatusFailed << false << true;
    QTest::newRow("back without access")
        << THubFault{EFaultKind::NoAccess, CMD_ENTER_BOOTLOADER, TOccurrence::Always()}
        << QStringList{Texts::EnterBootloaderMode, QStringLiteral("Cannot open the hub at"),
                       Texts::EnterBootloaderError}
        << Texts::StatusStateError << false << true;
  }
  void failures() {
    QFETCH(THubFault, fault);
    QFETCH(QStringList, log);
    QFETCH(QString, status);
    QFETCH(bool, lampRed);
    QFETCH(bool, replug);
    UiRig rig;
    rig.RaiseStatusStrip();
    THubEmulator& hub = rig.Hub();
    const int id = hub.AddFault(fault);

    rig.form->btnUpdate->click();
    UiRig::Settle();

    const QStringList got = rig.Log();
    QCOMPARE(got.size(), log.size());
    for (int i = 0; i < log.size(); ++i)
      QVERIFY2(got[i].startsWith(log[i]), qPrintable(got[i]));
    QVERIFY(rig.form->lblMsg->text().startsWith(status));
    if (lampRed)
      QCOMPARE(rig.form->IndicatorIndex(), 1);
    QVERIFY(rig.form->pnlUpdate->isEnabled());
    QVERIFY(rig.form->isEnabled());
    QVERIFY(!rig.form->Session().Procedure().Running());
    if (log.contains(Texts::UpdateFailedRetry) && !log.contains(Texts::Reboot)) {
      // Refused before the switch: nothing but the mode query and the LED read went out.
      QCOMPARE(Commands(hub, false, true), (Cmds{CMD_QUERY_MODE, CMD_LED_ADJUST_BEGIN,
                                                 CMD_LED_ADJUST_BEGIN, CMD_LED_ADJUST_BEGIN}));
    }
    if (lampRed)
      QVERIFY(!Commands(hub).empty() && Commands(hub).back() != CMD_REBOOT);

    // A clean update afterwards succeeds.
    hub.RemoveFault(id);
    if (replug) {
      hub.Unplug();
      hub.Plug();
    }
    QVERIFY(rig.WaitForHubs(1));
    UiRig::Settle();
    rig.form->btnUpdate->click();
    QCOMPARE(rig.Log().last(), Texts::UpdateCompleted);
    QCOMPARE(rig.form->lblMsg->text(), Texts::StatusCompleted);
    QCOMPARE(hub.ApplicationVersion(), BUILTIN_APP_VERSION);
  }

  // A close in the middle of an update waits for its end instead of stranding the hub; so do
  // the signals of a desktop logout or a terminal's Ctrl+C.
  void closeDuringUpdate_data() {
    QTest::addColumn<int>("signalNumber");  // 0: the close button
    QTest::newRow("close button") << 0;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
  }
  void closeDuringUpdate() {
    QFETCH(int, signalNumber);
    UiRig rig;
    const auto closeOnSignal = TCloseOnSignal::Install(rig.form.get());
    QVERIFY(closeOnSignal);
    // One at a time: a second is refused, the first keeps working.
    QVERIFY(!TCloseOnSignal::Install(rig.form.get()));
    rig.form->show();
    bool refused = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (rig.Hub().Programmed().empty())
        return;
      poll.stop();
      if (signalNumber)
        std::raise(signalNumber);
      else
        refused = !rig.form->close();
    });
    poll.start(1);
    rig.form->btnUpdate->click();
    QVERIFY(refused || signalNumber);
    QCOMPARE(rig.Log().last(), Texts::UpdateCompleted);
    QVERIFY(rig.Log().contains(Texts::CloseAfterUpdate));
    QCOMPARE(rig.Hub().ApplicationVersion(), UiRig::SMALL_VERSION);
    QTRY_VERIFY(!rig.form->isVisible());
  }

  // However the clicks come, one update runs: the panel goes off at the first click, a close
  // while an update waits for its turn is held back, and the version box shows the new firmware.
  void oneUpdateAtATime_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("double click") << "double";
    QTest::newRow("two clicks while a version check waits") << "during check";
    QTest::newRow("close while the update waits for its turn") << "close";
  }
  void oneUpdateAtATime() {
    QFETCH(QString, how);
    UiRig rig;
    rig.form->pgcMain->setCurrentWidget(rig.form->rztbshtUpdate);
    rig.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
    THubEmulator& hub = rig.Hub();
    hub.ClearTranscript();
    bool panelOffAtClick = true;
    bool closeRefused = false;
    if (how == "double") {
      // Both clicks are queued before the first is handled, as with a quick double click.
      const QPointF at = rig.form->btnUpdate->rect().center();
      for (int i = 0; i < 2; ++i) {
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
          QCoreApplication::postEvent(
              rig.form->btnUpdate,
              new QMouseEvent(type, at, rig.form->btnUpdate->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier));
        }
      }
    } else {
      // The clicks arrive while the version check's exchange waits for its reply.
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!rig.form->Session().Link().Busy())
          return;
        poll.stop();
        QTest::mouseClick(rig.form->btnUpdate, Qt::LeftButton);
        panelOffAtClick = !rig.form->pnlUpdate->isEnabled();
        QTest::mouseClick(rig.form->btnUpdate, Qt::LeftButton);
        if (how == "close")
          closeRefused = !rig.form->close();
      });
      poll.start(0);
      rig.form->btnConnect->click();
      QTRY_VERIFY_WITH_TIMEOUT(!poll.isActive(), 5000);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(rig.Log().contains(Texts::UpdateCompleted),
                              qPrintable(rig.Log().join('|')), 20000);
    UiRig::Settle(100);
    QVERIFY(panelOffAtClick);
    const Cmds sent = Commands(hub);
    QCOMPARE(std::count(sent.begin(), sent.end(), CMD_ENTER_BOOTLOADER), 1);
    QCOMPARE(std::count(sent.begin(), sent.end(), CMD_REBOOT), 1);
    QCOMPARE(hub.ApplicationVersion(), UiRig::SMALL_VERSION);
    QVERIFY(rig.form->mmoUpdate->toPlainText().contains(DottedVersion(UiRig::SMALL_VERSION)));
    if (how == "close") {
      QVERIFY(closeRefused);
      QTRY_VERIFY(!rig.form->isVisible());
    } else {
      QVERIFY(rig.form->pnlUpdate->isEnabled());
    }
  }

  void updateWithoutHub() {
    UiRig rig(NO_HUBS);
    rig.RaiseStatusStrip();
    rig.form->pnlUpdate->setEnabled(false);  // untouched by the refusal
    rig.form->btnUpdateClick();
    QCOMPARE(rig.Log(), QStringList{Texts::DeviceDisconnected});
    QCOMPARE(rig.form->lblMsg->text(), Texts::StatusNewDevice);
    QVERIFY(!rig.form->pnlUpdate->isEnabled());
  }

  void brokenImageNeverStarts() {
    UiRig rig;
    rig.form.reset();
    rig.form =
        std::make_unique<TfrmMain>(rig.bus, TResult<FirmwareLines>(TError{"line 3: bad count"}));
    rig.Hub().ClearTranscript();
    rig.form->btnUpdate->click();
    QCOMPARE(rig.Log().size(), 1);
    QVERIFY(rig.Log().front().contains(QStringLiteral("line 3: bad count")));
    QVERIFY(Commands(rig.Hub(), true).empty());
    QVERIFY(rig.form->pnlUpdate->isEnabled());
  }

  void hubWithoutAccess() {
    // One clear line naming the node and the cure, once per discovery.
    UiRig rig(NO_HUBS);
    TSimulatedHub& hub = rig.AddHub(QuickHub(), false);
    hub.Emulator().Plug(false);
    QVERIFY(rig.WaitForHubs(1));
    UiRig::Settle();
    QCOMPARE(rig.Log().size(), 1);
    QVERIFY(rig.Log().front().startsWith(QStringLiteral("Cannot open the hub at sim:")));
    QVERIFY(rig.Log().front().contains(QStringLiteral("udev rule")));
    QCOMPARE(rig.form->IndicatorIndex(), 0);
    rig.form->btnUpdate->click();
    QCOMPARE(rig.Log(), QStringList{Texts::UpdateFailedRetry});
    QVERIFY(rig.form->pnlUpdate->isEnabled());
    QVERIFY(hub.Emulator().Transcript().empty());
  }

  void versionCheck_data() {
    QTest::addColumn<THubEmulatorOptions>("hub");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("status");
    auto app = [](std::uint32_t v) {
      THubEmulatorOptions o = QuickHub(v);
      o.bootloaderVersion = 0x01000300;
      return o;
    };
    const QString boot = QStringLiteral("Bootloader :0.1.00.0300");
    const QString current = QStringLiteral("Current App:") + DottedVersion(BUILTIN_APP_VERSION);
    // The hub's application just below, at and just above the built-in one.
    const struct {
      const char* name;
      std::uint32_t version;
      QString verdict;
    } rows[] = {{"older", BUILTIN_APP_VERSION - 1, Texts::UpdateAvailable},
                {"same", BUILTIN_APP_VERSION, Texts::NoUpdateAvailable},
                {"newer", BUILTIN_APP_VERSION + 1, Texts::NoUpdateAvailable}};
    for (const auto& r : rows) {
      QTest::newRow(r.name) << app(r.version)
                            << QStringList{boot,
                                           QStringLiteral("App        :") +
                                               DottedVersion(r.version),
                                           current, r.verdict}
                            << QStringLiteral("APP版本：") + VersionText(r.version);
    }
    THubEmulatorOptions blank = QuickHub();
    blank.mode = EHubMode::Bootloader;
    blank.applicationValid = false;
    blank.bootloaderVersion = 0;
    QTest::newRow("nothing programmed")
        << blank
        << QStringList{QStringLiteral("Bootloader :0.0.00.0000"),
                       QStringLiteral("App        :0.0.00.0000"), current, Texts::UpdateAvailable}
        << QStringLiteral("APP版本：00000000");
  }
  void versionCheck() {
    QFETCH(THubEmulatorOptions, hub);
    QFETCH(QStringList, lines);
    QFETCH(QString, status);
    UiRig rig({hub});
    rig.RaiseStatusStrip();
    rig.form->btnConnect->click();
    QCOMPARE(rig.form->mmoUpdate->toPlainText().split(QLatin1Char('\n')), lines);
    QCOMPARE(rig.form->lblMsg->text(), status);
    QCOMPARE(rig.form->IndicatorIndex(), 0);
    QVERIFY(rig.Log().isEmpty());

    // A query that goes unanswered leaves the box as it was and logs nothing.
    THubFault silent;
    silent.kind = EFaultKind::NoReply;
    silent.command = CMD_GET_VERSION;
    rig.Hub().AddFault(silent);
    rig.form->mmoUpdate->setPlainText(QStringLiteral("before"));
    rig.form->btnConnect->click();
    QCOMPARE(rig.form->mmoUpdate->toPlainText(), QStringLiteral("before"));
    QVERIFY(rig.Log().isEmpty());
    QCOMPARE(rig.form->IndicatorIndex(), 0);

    // Without a hub: one log line, the red lamp, the box kept.
    rig.Hub().Unplug();
    QVERIFY(rig.WaitForHubs(0));
    rig.form->btnConnect->click();
    QCOMPARE(rig.Log(), QStringList{Texts::DeviceDisconnected});
    QCOMPARE(rig.form->IndicatorIndex(), 1);
    QCOMPARE(rig.form->mmoUpdate->toPlainText(), QStringLiteral("before"));
  }

  void discovery() {
    // Present at start: listed, current, greeted during start-up, before the image is loaded.
    UiRig rig;
    THubEmulator& first = rig.Hub();
    QCOMPARE(Commands(first, true, true), Cmds{CMD_GET_VERSION});
    QVERIFY(first.Transcript().front().data.empty());
    QCOMPARE(rig.form->IndicatorIndex(), 0);
    QCOMPARE(rig.form->Session().Hubs().size(), std::size_t(1));

    // A device that is not a hub is never listed, opened for reading or written to.
    int otherWrites = 0;
    TSimHidBus::TDeviceConfig keyboard;
    keyboard.VendorID = 0x046D;
    keyboard.ProductID = 0xC31C;
    keyboard.ReportDescriptor = HubReportDescriptor();
    const TSimDeviceId other =
        rig.bus->Attach(keyboard, [&](const std::uint8_t*, std::size_t) { ++otherWrites; });

    // A second hub plugged later: both listed, the first one current and greeted again.
    THubEmulatorOptions o = QuickHub();
    TSimulatedHub& second = rig.AddHub(o, true);
    QVERIFY(rig.WaitForHubs(2));
    UiRig::Settle();
    QCOMPARE(rig.form->Session().SelectedHub(), 0);
    QCOMPARE(Commands(first, true, true), (Cmds{CMD_GET_VERSION, CMD_GET_VERSION}));
    QVERIFY(second.Emulator().Transcript().empty());
    rig.form->btnConnect->click();
    rig.form->btnStartAdj->click();
    rig.form->btnRead->click();
    QCOMPARE(Commands(first, true, true),
             (Cmds{CMD_GET_VERSION, CMD_GET_VERSION, CMD_GET_VERSION, CMD_GET_VERSION,
                   CMD_LED_ADJUST_BEGIN, CMD_SET_LED_LEVEL, CMD_SET_LED_LEVEL, CMD_SET_LED_LEVEL,
                   CMD_SET_LED_LEVEL, CMD_SET_LED_LEVEL, CMD_SET_LED_LEVEL, CMD_SET_LED_LEVEL,
                   CMD_READ_STATUS}));
    QVERIFY(second.Emulator().Transcript().empty());
    QCOMPARE(otherWrites, 0);
    QCOMPARE(rig.bus->OpenReadHandles(other), std::size_t(0));

    // Unplugged: the list empties and the lamp goes red.
    first.Unplug();
    second.Emulator().Unplug();
    QVERIFY(rig.WaitForHubs(0));
    QCOMPARE(rig.form->IndicatorIndex(), 1);
    QVERIFY(!rig.form->Session().Link().CurrentDevice());
  }

  void autoUpdateFlag() {
    // Plugged with the box unticked: only greeted. Ticked: an update is due.
    UiRig rig(NO_HUBS);
    QCOMPARE(rig.form->IndicatorIndex(), 1);
    TSimulatedHub& hub = rig.AddHub(QuickHub(), true);
    QVERIFY(rig.WaitForHubs(1));
    UiRig::Settle();
    QCOMPARE(Commands(hub.Emulator(), true), Cmds{CMD_GET_VERSION});
    QCOMPARE(rig.form->IndicatorIndex(), 0);
    QVERIFY(!rig.form->Session().AutoUpdatePending());
    rig.form->chkAutoPRG->setChecked(true);
    hub.Emulator().Unplug();
    hub.Emulator().Plug();
    QVERIFY(QTest::qWaitFor([&] { return rig.form->Session().AutoUpdatePending(); }, 3000));
  }

  void automaticUpdate_data() {
    QTest::addColumn<std::uint32_t>("version");
    QTest::addColumn<bool>("pauseBetweenTicks");
    QTest::newRow("older hub") << std::uint32_t(0x11140801) << false;
    QTest::newRow("up to date, box unticked between ticks")
        << std::uint32_t(BUILTIN_APP_VERSION) << true;
  }
  void automaticUpdate() {
    QFETCH(std::uint32_t, version);
    QFETCH(bool, pauseBetweenTicks);
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    form.chkAutoPRG->setChecked(true);
    form.tmrAuto->setInterval(24 * 3600 * 1000);
    QVERIFY(!form.btnUpdate->isEnabled() && !form.btnConnect->isEnabled());
    TSimulatedHub& hub = rig.AddHub(QuickHub(version), true);
    QVERIFY(QTest::qWaitFor([&] { return form.Session().AutoUpdatePending(); }, 3000));
    UiRig::Settle();

    form.Session().AutoTimerTick();  // the first tick only counts
    QCOMPARE(Commands(hub.Emulator()), Cmds{});
    if (pauseBetweenTicks) {
      form.chkAutoPRG->setChecked(false);
      QVERIFY(!form.tmrAuto->isActive());
      QVERIFY(form.Session().AutoUpdatePending());
      QCOMPARE(form.Session().AutoDelayTicks(), 1);
      form.chkAutoPRG->setChecked(true);
    }

    // While the run is under way the box and the timer are off.
    bool sawRunning = false, boxOff = true, timerOff = true;
    QTimer probe;
    probe.setInterval(2);
    connect(&probe, &QTimer::timeout, [&] {
      if (!form.Session().Procedure().Running())
        return;
      sawRunning = true;
      boxOff &= !form.chkAutoPRG->isEnabled();
      timerOff &= !form.tmrAuto->isActive();
    });
    probe.start();
    form.Session().AutoTimerTick();
    probe.stop();

    QVERIFY(sawRunning && boxOff && timerOff);
    QVERIFY(rig.Log().contains(Texts::UpdateCompleted));
    QCOMPARE(hub.Emulator().ApplicationVersion(), BUILTIN_APP_VERSION);
    QVERIFY(form.chkAutoPRG->isEnabled());
    QVERIFY(form.tmrAuto->isActive());
    QCOMPARE(form.mmoUpdate->toPlainText().split(QLatin1Char('\n')).last(),
             Texts::NoUpdateAvailable);
    // The hub coming back from its own update does not make the update due again.
    UiRig::Settle(50);
    QVERIFY(!form.Session().AutoUpdatePending());
    const Cmds sent = Commands(hub.Emulator());
    QCOMPARE(std::count(sent.begin(), sent.end(), CMD_ENTER_BOOTLOADER), 1);
  }

  // A hub plugged in while another is being updated automatically is updated next, without
  // waiting for some other device change.
  void automaticUpdateOfAHubPluggedInMeanwhile() {
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    form.chkAutoPRG->setChecked(true);
    form.tmrAuto->setInterval(24 * 3600 * 1000);
    TSimulatedHub& first = rig.AddHub(QuickHub(), true);
    TSimulatedHub& second = rig.AddHub(QuickHub(), false);
    QVERIFY(QTest::qWaitFor([&] { return form.Session().AutoUpdatePending(); }, 3000));
    UiRig::Settle();
    QTimer plug;
    QObject::connect(&plug, &QTimer::timeout, [&] {
      if (first.Emulator().Programmed().empty())
        return;
      plug.stop();
      second.Emulator().Plug();
    });
    plug.start(1);
    form.Session().AutoTimerTick();
    form.Session().AutoTimerTick();
    QCOMPARE(first.Emulator().ApplicationVersion(), UiRig::SMALL_VERSION);
    QCOMPARE(second.Emulator().Attachments(), 1);
    QVERIFY(form.Session().AutoUpdatePending());
    form.Session().AutoTimerTick();
    form.Session().AutoTimerTick();
    QCOMPARE(second.Emulator().ApplicationVersion(), UiRig::SMALL_VERSION);
    const Cmds sent = Commands(first.Emulator());
    QCOMPARE(std::count(sent.begin(), sent.end(), CMD_ENTER_BOOTLOADER), 1);
  }
};

QTEST_MAIN(TestUiUpdate)
#include "tst_ui_update.moc"
