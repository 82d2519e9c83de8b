// The update procedure against a scripted hub: the command sequence, the log, and every way it
// can stop.

#include <QTest>

#include "protocol/Commands.h"
#include "support/RecordingView.h"
#include "support/ScriptedDevice.h"
#include "update/EmbeddedFirmware.h"
#include "update/Texts.h"
#include "update/UpdateProcedure.h"

using Bytes = ScriptedDevice::Bytes;

namespace {

enum Fault {
  None,
  LedBeginSilent,
  NoHubAfterBootloader,
  RecordSilent,
  RecordError,
  NoHubAfterReboot
};

struct Hub {
  ScriptedDevice device;
  THubLink link;
  TLedAdjuster leds{link};
  RecordingView view;
  FirmwareLines image = LoadEmbeddedFirmware();
  TUpdateProcedure update{link, image, leds, view, [this] { FindHub(); }};
  int mode = 0;  // what CMD_QUERY_MODE reports
  Fault fault = None;
  int faultRecord = 10;  // which CMD_PROGRAM_RECORD fails
  int programCount = 0;
  bool present = true;
  Bytes ledLevels{10, 20, 30, 40, 60, 70, 80, 90};

  Hub() {
    update.SetTiming({0, 0, 0});
    device.SetDataHandler(link.DataHandler());
    link.SetCurrentDevice(&device);
    device.onWrite = [this](const Bytes& frame) { return Answer(frame); };
  }
  void FindHub() {
    if (present)
      link.SetCurrentDevice(&device);
  }
  std::vector<ScriptedDevice::Answer> Answer(const Bytes& frame) {
    const std::uint8_t command = frame[4];
    Bytes data;
    std::uint8_t status = 0;
    switch (command) {
      case CMD_QUERY_MODE:
        if (mode == 2)
          status = 0xFF;
        data = {static_cast<std::uint8_t>(mode)};
        break;
      case CMD_LED_ADJUST_BEGIN:
        if (fault == LedBeginSilent)
          return {};
        data = ledLevels;
        break;
      case CMD_ENTER_BOOTLOADER:
        if (fault == NoHubAfterBootloader)
          present = false;
        break;
      case CMD_PROGRAM_RECORD:
        ++programCount;
        if (fault == RecordSilent && programCount >= faultRecord)
          return {};
        if (fault == RecordError && programCount == faultRecord)
          status = 5;
        break;
      case CMD_REBOOT:
        // The rebuild that sees the hub leave clears the current device.
        if (fault == NoHubAfterReboot) {
          present = false;
          link.SetCurrentDevice(nullptr);
        }
        break;
    }
    return {{ScriptedDevice::Reply(command, status, data), 0}};
  }
  std::vector<int> Commands() const {
    std::vector<int> c;
    for (const Bytes& f : device.writes)
      c.push_back(f[4]);
    return c;
  }
};

// The full sequence for a hub whose LED levels differ from the bars on every channel.
std::vector<int> CompleteSequence(bool readLeds, int records) {
  std::vector<int> c = {CMD_QUERY_MODE};
  if (readLeds) {
    c.push_back(CMD_LED_ADJUST_BEGIN);
    c.insert(c.end(), 8, CMD_SET_LED_LEVEL);
  }
  c.push_back(CMD_ENTER_BOOTLOADER);
  for (int i = 0; i < records; ++i) {
    c.push_back(CMD_LOAD_RECORD);
    c.push_back(CMD_PROGRAM_RECORD);
  }
  c.push_back(CMD_REBOOT);
  c.insert(c.end(), 8, CMD_SET_LED_LEVEL);
  c.push_back(CMD_LED_ADJUST_END);
  return c;
}

// The first `records` lines of the built-in image and its closing line: the same kind of image
// without 1,250 exchanges of 2 ms each.
FirmwareLines SmallImage(int records) {
  const FirmwareLines full = LoadEmbeddedFirmware();
  std::string text;
  for (int i = 0; i < records; ++i)
    text += full.Line(i) + "\r\n";
  return FirmwareLines::Parse(text + full.Line(full.Count() - 1) + "\r\n");
}

}  // namespace

class UpdateProcedureTest : public QObject {
  Q_OBJECT

 private slots:
  void completeUpdate_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("readsLeds");
    QTest::addColumn<int>("records");
    QTest::newRow("application mode, whole image") << 0 << true << 625;
    QTest::newRow("bootloader mode") << 1 << false << 12;
    QTest::newRow("mode query status 0xFF") << 2 << true << 12;
  }
  void completeUpdate() {
    QFETCH(int, mode);
    QFETCH(bool, readsLeds);
    QFETCH(int, records);
    Hub hub;
    hub.mode = mode;
    if (records < 625)
      hub.image = SmallImage(records);
    hub.update.Run();
    QCOMPARE(hub.Commands(), CompleteSequence(readsLeds, records));
    QCOMPARE(hub.view.log, (QStringList{Texts::EnterBootloaderMode, Texts::Programming,
                                        Texts::Reboot, Texts::Ok, Texts::UpdateCompleted}));
    QCOMPARE(hub.view.statuses.last(), Texts::StatusCompleted);
    QCOMPARE(hub.view.progress, records);
    QCOMPARE(hub.view.progressMaximum, records);
    QVERIFY(hub.view.controlsEnabled);
    QVERIFY(hub.view.windowEnabled);
    QCOMPARE(hub.view.windowDisabledCount, 1);
    QCOMPARE(hub.view.autoRefreshStops, 1);
    QVERIFY(!hub.update.Running());

    // The levels written back: the hub's own when they were read, else the bars' (50).
    std::vector<int> replayed;
    const auto& w = hub.device.writes;
    for (std::size_t i = w.size() - 9; i < w.size() - 1; ++i) {
      QCOMPARE(int(w[i][5]), int(replayed.size()) + 1);  // channels 1 to 8 in order
      replayed.push_back(w[i][6]);
    }
    const std::vector<int> expected =
        readsLeds ? std::vector<int>{10, 20, 30, 40, 60, 70, 80, 90} : std::vector<int>(8, 50);
    QCOMPARE(replayed, expected);

    // Records go out exactly as the image gives them.
    const Bytes& firstProgram = w[readsLeds ? 12 : 3];
    QCOMPARE(firstProgram[4], CMD_PROGRAM_RECORD);
    const auto& record = *hub.image.Record(0);
    QCOMPARE(firstProgram[5], record.address & 0xFF);
    QCOMPARE(firstProgram[6], record.address >> 8);
    QCOMPARE(Bytes(firstProgram.begin() + 9, firstProgram.begin() + 25), record.data);
  }

  // Every way the update stops: its log, its status text, and the controls usable again.
  void failures_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("rebootSent");
    QTest::addColumn<bool>("redLamp");
    QTest::newRow("LED levels not read")
        << int(LedBeginSilent) << QStringList{Texts::UpdateFailedRetry} << Texts::StatusFailedRetry
        << false << false;
    QTest::newRow("no hub after bootloader switch")
        << int(NoHubAfterBootloader)
        << QStringList{Texts::EnterBootloaderMode, Texts::EnterBootloaderError}
        << Texts::StatusStateError << false << false;
    QTest::newRow("record times out")
        << int(RecordSilent)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout}
        << Texts::StatusProgramming << false << true;
    QTest::newRow("record error status")
        << int(RecordError)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout}
        << Texts::StatusProgramming << false << true;
    QTest::newRow("no hub after reboot")
        << int(NoHubAfterReboot)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot,
                       Texts::UpdateFailedRetry}
        << Texts::StatusFailed << true << false;
  }
  void failures() {
    QFETCH(int, fault);
    QFETCH(QStringList, log);
    QFETCH(QString, status);
    QFETCH(bool, rebootSent);
    QFETCH(bool, redLamp);
    Hub hub;
    hub.image = SmallImage(20);
    hub.fault = static_cast<Fault>(fault);
    hub.update.Run();
    QCOMPARE(hub.view.log, log);
    QCOMPARE(hub.view.statuses.last(), status);
    QCOMPARE(hub.view.indicators.contains(1), redLamp);
    const std::vector<int> commands = hub.Commands();
    QCOMPARE(std::count(commands.begin(), commands.end(), CMD_REBOOT) > 0, rebootSent);
    QVERIFY(hub.view.controlsEnabled);
    QVERIFY(hub.view.windowEnabled);
    QVERIFY(!hub.update.Running());
    if (fault == RecordSilent)
      QCOMPARE(hub.programCount, hub.faultRecord + 2);  // 3 attempts
    if (fault == RecordError)
      QCOMPARE(hub.programCount, hub.faultRecord);  // not retried
    if (fault == LedBeginSilent) {
      QCOMPARE(hub.Commands(), (std::vector<int>{CMD_QUERY_MODE, CMD_LED_ADJUST_BEGIN,
                                                 CMD_LED_ADJUST_BEGIN, CMD_LED_ADJUST_BEGIN}));
    }

    // The next clean update succeeds.
    hub.fault = None;
    hub.present = true;
    hub.programCount = 0;
    hub.link.SetCurrentDevice(&hub.device);
    hub.update.Run();
    QCOMPARE(hub.view.log.last(), Texts::UpdateCompleted);
  }

  void withoutHub() {
    Hub hub;
    hub.link.SetCurrentDevice(nullptr);
    hub.update.Run();
    QCOMPARE(hub.view.log, QStringList{Texts::DeviceDisconnected});
    QCOMPARE(hub.view.statuses, QStringList{Texts::StatusNewDevice});
    QCOMPARE(hub.view.controlsDisabledCount, 0);
    QVERIFY(hub.device.writes.empty());
  }

  void brokenImageSendsNothing() {
    Hub hub;
    hub.image = FirmwareLines::Parse(":1130000001122\r\n");
    hub.update.Run();
    QCOMPARE(hub.view.log.size(), 1);
    QVERIFY(hub.view.log[0].contains("broken"));
    QVERIFY(hub.device.writes.empty());
  }

  void onlySkippedLines() {
    Hub hub;
    hub.image = FirmwareLines::Parse(":9030000FC\r\n");
    hub.update.Run();
    QCOMPARE(hub.Commands(), CompleteSequence(true, 0));
    QCOMPARE(hub.view.log.last(), Texts::UpdateCompleted);
  }

  // An exception from the device layer still leaves the controls usable.
  void exceptionReenablesControls() {
    Hub hub;
    hub.device.onWrite = [&](const Bytes& frame) -> std::vector<ScriptedDevice::Answer> {
      if (frame[4] == CMD_LOAD_RECORD)
        throw std::runtime_error("gone");
      return hub.Answer(frame);
    };
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, hub.update.Run());
    QVERIFY(hub.view.controlsEnabled);
    QVERIFY(hub.view.windowEnabled);
    QVERIFY(!hub.update.Running());
    QVERIFY(!hub.link.Busy());
  }
};

QTEST_GUILESS_MAIN(UpdateProcedureTest)
#include "tst_update_procedure.moc"
