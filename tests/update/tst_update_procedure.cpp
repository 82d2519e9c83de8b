// The update procedure against a scripted hub: the command sequence, the log, and every way it
// can stop.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>

#include "protocol/Commands.h"
#include "support/RecordingView.h"
#include "support/ScriptedDevice.h"
#include "update/BuildConfig.h"
#include "update/EmbeddedFirmware.h"
#include "update/Texts.h"
#include "update/UpdateProcedure.h"
#include "update/Version.h"

using Bytes = ScriptedDevice::Bytes;

namespace {

enum class EFault {
  None,
  LedBeginSilent,
  NoHubAfterBootloader,
  RecordSilent,
  RecordError,
  NoHubAfterReboot,
  BackInBootloader,  // the image did not take: the hub reboots into its bootloader
  BackWithOldVersion,
};

struct Hub {
  ScriptedDevice device;
  THubLink link;
  TLedAdjuster leds{link};
  RecordingView view;
  TResult<FirmwareLines> image = LoadEmbeddedFirmware();
  TUpdateProcedure update{link, image, leds, view, [this](int) {
                            FindHub();
                            return link.CurrentDevice() ? EHubReturn::Same : EHubReturn::Gone;
                          }};
  int mode = 0;  // what CMD_QUERY_MODE reports
  std::uint32_t version = 0x11140801;
  EFault fault = EFault::None;
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
      case CMD_GET_VERSION:
        data = {Bytes::value_type(version >> 24),
                Bytes::value_type(version >> 16),
                Bytes::value_type(version >> 8),
                Bytes::value_type(version),
                1,
                0,
                3,
                0};
        break;
      case CMD_QUERY_MODE:
        if (mode == 2)
          status = 0xFF;
        data = {static_cast<std::uint8_t>(mode)};
        break;
      case CMD_LED_ADJUST_BEGIN:
        if (fault == EFault::LedBeginSilent)
          return {};
        data = ledLevels;
        break;
      case CMD_ENTER_BOOTLOADER:
        if (fault == EFault::NoHubAfterBootloader)
          present = false;
        mode = 1;
        break;
      case CMD_PROGRAM_RECORD:
        ++programCount;
        if (fault == EFault::RecordSilent && programCount >= faultRecord)
          return {};
        if (fault == EFault::RecordError && programCount == faultRecord)
          status = 5;
        break;
      case CMD_REBOOT:
        // The rebuild that sees the hub leave clears the current device.
        if (fault == EFault::NoHubAfterReboot) {
          present = false;
          link.SetCurrentDevice(nullptr);
        }
        mode = fault == EFault::BackInBootloader ? 1 : 0;
        if (fault != EFault::BackInBootloader && fault != EFault::BackWithOldVersion)
          version = BUILTIN_APP_VERSION;
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
  c.push_back(CMD_QUERY_MODE);
  for (int i = 0; i < records; ++i) {
    c.push_back(CMD_LOAD_RECORD);
    c.push_back(CMD_PROGRAM_RECORD);
  }
  c.push_back(CMD_REBOOT);
  c.push_back(CMD_QUERY_MODE);
  c.push_back(CMD_GET_VERSION);
  c.insert(c.end(), 8, CMD_SET_LED_LEVEL);
  c.push_back(CMD_LED_ADJUST_END);
  return c;
}

// The first `records` lines of the built-in image and its closing line: the same kind of image
// without 1,250 exchanges of 2 ms each.
TResult<FirmwareLines> SmallImage(int records) {
  const FirmwareLines full = LoadEmbeddedFirmware().Value();
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
      QCOMPARE(int(w[i][4]), int(CMD_SET_LED_LEVEL));
      QCOMPARE(int(w[i][5]), int(replayed.size()) + 1);  // channels 1 to 8 in order
      replayed.push_back(w[i][6]);
    }
    const std::vector<int> expected =
        readsLeds ? std::vector<int>{10, 20, 30, 40, 60, 70, 80, 90} : std::vector<int>(8, 50);
    QCOMPARE(replayed, expected);

    // Records go out exactly as the image gives them.
    const Bytes& firstProgram = w[readsLeds ? 13 : 4];
    QCOMPARE(firstProgram[4], CMD_PROGRAM_RECORD);
    const auto& record = *hub.image->Record(0);
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
        << int(EFault::LedBeginSilent) << QStringList{Texts::UpdateFailedRetry}
        << Texts::StatusFailedRetry << false << false;
    QTest::newRow("no hub after bootloader switch")
        << int(EFault::NoHubAfterBootloader)
        << QStringList{Texts::EnterBootloaderMode, Texts::EnterBootloaderError}
        << Texts::StatusStateError << false << false;
    QTest::newRow("record times out")
        << int(EFault::RecordSilent)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout}
        << Texts::StatusProgramming << false << true;
    QTest::newRow("record error status")
        << int(EFault::RecordError)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Timeout,
                       Texts::Refused("CMD_PROGRAM_RECORD", "record 10 of 20", 5)}
        << Texts::StatusProgramming << false << true;
    QTest::newRow("no hub after reboot")
        << int(EFault::NoHubAfterReboot)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot,
                       Texts::UpdateFailedRetry}
        << Texts::StatusFailed << true << false;
    QTest::newRow("back in its bootloader")
        << int(EFault::BackInBootloader)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot, Texts::Ok,
                       Texts::NotUpdated("the hub is still in its bootloader")}
        << Texts::StatusFailed << true << true;
    QTest::newRow("back with the old version")
        << int(EFault::BackWithOldVersion)
        << QStringList{Texts::EnterBootloaderMode, Texts::Programming, Texts::Reboot, Texts::Ok,
                       Texts::NotUpdated("the hub runs application 1.1.14.0801, not " +
                                         DottedVersion(BUILTIN_APP_VERSION))}
        << Texts::StatusFailed << true << true;
  }
  void failures() {
    QFETCH(int, fault);
    QFETCH(QStringList, log);
    QFETCH(QString, status);
    QFETCH(bool, rebootSent);
    QFETCH(bool, redLamp);
    Hub hub;
    hub.image = SmallImage(20);
    hub.fault = static_cast<EFault>(fault);
    hub.update.Run();
    QCOMPARE(hub.view.log, log);
    QCOMPARE(hub.view.statuses.last(), status);
    QCOMPARE(hub.view.indicators.contains(1), redLamp);
    const std::vector<int> commands = hub.Commands();
    QCOMPARE(std::count(commands.begin(), commands.end(), CMD_REBOOT) > 0, rebootSent);
    QVERIFY(hub.view.controlsEnabled);
    QVERIFY(hub.view.windowEnabled);
    QVERIFY(!hub.update.Running());
    if (hub.fault == EFault::RecordSilent)
      QCOMPARE(hub.programCount, hub.faultRecord + 2);  // 3 attempts
    if (hub.fault == EFault::RecordError)
      QCOMPARE(hub.programCount, hub.faultRecord);  // not retried
    if (hub.fault == EFault::LedBeginSilent) {
      QCOMPARE(hub.Commands(), (std::vector<int>{CMD_QUERY_MODE, CMD_LED_ADJUST_BEGIN,
                                                 CMD_LED_ADJUST_BEGIN, CMD_LED_ADJUST_BEGIN}));
    }

    // The next clean update succeeds.
    hub.fault = EFault::None;
    hub.present = true;
    hub.programCount = 0;
    hub.link.SetCurrentDevice(&hub.device);
    QCOMPARE(hub.update.Run(), EUpdateResult::Completed);
    QCOMPARE(hub.view.log.last(), Texts::UpdateCompleted);
  }

  // The LED levels read before the switch outlive an update that does not finish: the retry,
  // which finds the hub in its bootloader, writes them back instead of the bars' levels.
  void ledLevelsKeptAcrossAFailure_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("storeState");  // "ok", "unwritable", "corrupt"
    QTest::addColumn<bool>("hubLevelsBack");
    QTest::newRow("record fails") << int(EFault::RecordSilent) << "ok" << true;
    QTest::newRow("back in bootloader") << int(EFault::BackInBootloader) << "ok" << true;
    QTest::newRow("no hub after reboot") << int(EFault::NoHubAfterReboot) << "ok" << true;
    QTest::newRow("state directory unwritable")
        << int(EFault::RecordSilent) << "unwritable" << false;
    QTest::newRow("state file corrupt") << int(EFault::RecordSilent) << "corrupt" << false;
  }
  void ledLevelsKeptAcrossAFailure() {
    QFETCH(int, fault);
    QFETCH(QString, storeState);
    QFETCH(bool, hubLevelsBack);
    QTemporaryDir dir;
    QString directory = dir.path() + "/state";
    if (storeState == "unwritable") {
      QFile blocker(directory);  // a file where the directory should be
      QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    TLedLevelStore store(directory);
    Hub hub;
    hub.image = SmallImage(20);
    hub.update.SetLevelStore(&store);
    hub.update.SetHubIdentity("usb-0000:00:14.0-2");
    hub.fault = static_cast<EFault>(fault);
    QVERIFY(hub.update.Run() != EUpdateResult::Completed);
    if (storeState == "corrupt") {
      QFile file(store.PathFor("usb-0000:00:14.0-2"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("12 x\n");
    }
    if (storeState == "unwritable")
      QVERIFY(hub.view.log.contains(Texts::LedLevelsNotKept(directory + " is not a directory")));

    // The retry starts from the bootloader; the bars were moved meanwhile by something else.
    hub.fault = EFault::None;
    hub.present = true;
    hub.mode = 1;
    hub.link.SetCurrentDevice(&hub.device);
    for (int channel = 1; channel <= 8; ++channel)
      hub.leds.SetLevel(channel, 50);
    hub.device.writes.clear();
    QCOMPARE(hub.update.Run(), EUpdateResult::Completed);
    std::vector<int> replayed;
    const auto& w = hub.device.writes;
    for (std::size_t i = w.size() - 9; i < w.size() - 1; ++i)
      replayed.push_back(w[i][6]);
    const std::vector<int> expected =
        hubLevelsBack ? std::vector<int>{10, 20, 30, 40, 60, 70, 80, 90} : std::vector<int>(8, 50);
    QCOMPARE(replayed, expected);
    QCOMPARE(hub.view.log.contains(Texts::SavedLedLevelsRestore), hubLevelsBack);
    QCOMPARE(hub.view.log.contains(Texts::NoSavedLedLevels), !hubLevelsBack);
    // Back on the hub: nothing is kept any more.
    QVERIFY(!QFile::exists(store.PathFor("usb-0000:00:14.0-2")));
  }

  // The store takes nothing it did not write itself and never writes through a link: each
  // refusal names the file or directory and why. A full disk fails the save with its reason
  // alone and keeps the levels saved before.
  void ledStoreRefusals_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("loadError");  // empty: the levels saved before are read
    QTest::addColumn<QString>("saveError");  // empty: the new levels are saved and read back
    const QString shared = "<dir> can be written by other users";
    const QString foreign = "<dir> belongs to another user";
    const QString dirLink = "<dir> is a symbolic link, not a directory";
    QTest::newRow("link to another file") << "link"
                                          << "<file> is a symbolic link: not followed"
                                          << "";
    QTest::newRow("dangling link") << "dangling"
                                   << "<file> is a symbolic link: not followed"
                                   << "";
    QTest::newRow("FIFO") << "fifo"
                          << "<file> is a FIFO, not a file of LED levels: not read"
                          << "";
    QTest::newRow("empty file") << "empty"
                                << "<file> is empty: no LED levels taken from it"
                                << "";
    QTest::newRow("partial file") << "partial"
                                  << "<file> is cut short: no LED levels taken from it"
                                  << "";
    QTest::newRow("big file") << "big"
                              << "<file> is too big (4096 bytes) to hold LED levels: not read"
                              << "";
    QTest::newRow("directory writable by others") << "shared" << shared << shared;
    QTest::newRow("directory of another user") << "foreign" << foreign << foreign;
    QTest::newRow("directory is a link") << "dirlink" << dirLink << dirLink;
    QTest::newRow("full disk") << "full"
                               << ""
                               << "No space left on device";
  }
  void ledStoreRefusals() {
    QFETCH(QString, setup);
    QFETCH(QString, loadError);
    QFETCH(QString, saveError);
    QTemporaryDir base;
    const QString dir = base.path() + "/state", other = base.path() + "/other";
    const QByteArray dirName = QFile::encodeName(dir), otherName = QFile::encodeName(other);
    struct Unmount {
      QByteArray path;
      ~Unmount() {
        if (!path.isEmpty())
          ::umount2(path.constData(), MNT_DETACH);
      }
    } unmount;
    if (setup == "full") {
      // One page: the first file fills it.
      QVERIFY(QDir().mkdir(dir));
      if (::mount("tmpfs", dirName.constData(), "tmpfs", 0, "size=4k,mode=0700") != 0)
        QSKIP("a small tmpfs cannot be mounted here (needs root)");
      unmount.path = dirName;
    }
    TLedLevelStore store(dir);
    const std::string key = "3-1.2";
    const TLedLevels before{1, 2, 3, 4, 5, 6, 7, 8}, after{9, 10, 11, 12, 13, 14, 15, 16};
    QVERIFY(store.Save(key, before).Ok());
    const QString path = store.PathFor(key);
    const QByteArray pathName = QFile::encodeName(path);
    auto write = [](const QString& name, const QByteArray& text) {
      QFile file(name);
      return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    const QByteArray linked = "50 50 50 50 50 50 50 50\n";
    const QMap<QString, QByteArray> contents{
        {"empty", ""}, {"partial", "1 2 3 4 5 6 7 80"}, {"big", QByteArray(4096, '1')}};
    if (QStringList{"link", "dangling", "fifo", "empty", "partial", "big"}.contains(setup))
      QVERIFY(QFile::remove(path));
    if (contents.contains(setup))
      QVERIFY(write(path, contents[setup]));
    if (setup == "link")
      QVERIFY(write(other, linked));
    if (setup == "link" || setup == "dangling")
      QCOMPARE(::symlink(otherName.constData(), pathName.constData()), 0);
    if (setup == "fifo")
      QCOMPARE(::mkfifo(pathName.constData(), 0600), 0);
    if (setup == "shared" || setup == "foreign") {
      QCOMPARE(setup == "shared" ? ::chmod(dirName.constData(), 0777)
                                 : ::chown(dirName.constData(), geteuid() + 1, getegid()),
               0);
    }
    if (setup == "dirlink") {
      QCOMPARE(::rename(dirName.constData(), otherName.constData()), 0);
      QCOMPARE(::symlink(otherName.constData(), dirName.constData()), 0);
    }

    // A FIFO that blocked the reader would hang here until the test's watchdog ends the run.
    const auto loaded = store.Load(key);
    const std::optional<TLedLevels> levels = loaded ? *loaded : std::nullopt;
    auto expected = [&](QString text) {
      return text.replace("<dir>", dir).replace("<file>", path);
    };
    QCOMPARE(levels, loadError.isEmpty() ? std::optional(before) : std::nullopt);
    QCOMPARE(loaded ? QString() : loaded.Error().text, expected(loadError));

    const TResult<void> saved = store.Save(key, after);
    QCOMPARE(saved ? QString() : saved.Error().text, expected(saveError));
    const auto reloaded = store.Load(key);
    const std::optional<TLedLevels> now = reloaded ? *reloaded : std::nullopt;
    QCOMPARE(now, saveError.isEmpty() ? std::optional(after)
                  : setup == "full"   ? std::optional(before)
                                      : std::nullopt);
    // Nothing written through a link, no new file left behind.
    QFile target(other);
    QCOMPARE(target.open(QIODevice::ReadOnly) ? target.readAll() : "none",
             setup == "link" ? linked : "none");
    if (saveError.isEmpty() || setup == "full")
      QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
               1);
  }

  // A stop asked for before the bootloader switch leaves the hub as it was; one asked for
  // during programming stops between records; a second Run while one runs is refused.
  void stopsAndSecondRuns_data() {
    QTest::addColumn<int>("stopAt");  // the command during whose exchange it happens
    QTest::addColumn<bool>("secondRun");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("switched");
    QTest::newRow("stop while reading the LED levels")
        << int(CMD_LED_ADJUST_BEGIN) << false << int(EUpdateResult::Cancelled) << false;
    QTest::newRow("stop while programming")
        << int(CMD_PROGRAM_RECORD) << false << int(EUpdateResult::Stopped) << true;
    QTest::newRow("stop while rebooting")
        << int(CMD_REBOOT) << false << int(EUpdateResult::Completed) << true;
    QTest::newRow("second run while reading the mode")
        << int(CMD_QUERY_MODE) << true << int(EUpdateResult::Completed) << true;
    QTest::newRow("second run while programming")
        << int(CMD_PROGRAM_RECORD) << true << int(EUpdateResult::Completed) << true;
  }
  void stopsAndSecondRuns() {
    QFETCH(int, stopAt);
    QFETCH(bool, secondRun);
    QFETCH(int, result);
    QFETCH(bool, switched);
    Hub hub;
    hub.image = SmallImage(5);
    bool done = false;
    std::optional<EUpdateResult> nested;
    hub.device.onWrite = [&](const Bytes& frame) {
      if (frame[4] == stopAt && !done) {
        done = true;
        if (secondRun) {
          nested = hub.update.Run();
        } else {
          hub.update.RequestStop();
        }
      }
      return hub.Answer(frame);
    };
    QCOMPARE(int(hub.update.Run()), result);
    const std::vector<int> commands = hub.Commands();
    QCOMPARE(std::count(commands.begin(), commands.end(), CMD_ENTER_BOOTLOADER), switched ? 1 : 0);
    if (secondRun) {
      QCOMPARE(nested, EUpdateResult::AlreadyRunning);
      QCOMPARE(std::count(commands.begin(), commands.end(), CMD_REBOOT), 1);
    }
    QVERIFY(hub.view.controlsEnabled);
  }

  // A user action queued while the hub reboots (a click, a slider) runs only once the LED levels
  // are back and the adjustment has ended, never in between.
  void userActionsWaitForTheLedRestore() {
    Hub hub;
    hub.image = SmallImage(3);
    std::optional<std::size_t> ranAfterWrites;
    bool queued = false;
    hub.device.onWrite = [&](const Bytes& frame) {
      if (frame[4] == CMD_REBOOT && !queued) {
        queued = true;
        hub.link.RunUserActionWhenIdle([&] { ranAfterWrites = hub.device.writes.size(); });
      }
      return hub.Answer(frame);
    };
    QCOMPARE(hub.update.Run(), EUpdateResult::Completed);
    QVERIFY(queued);
    QTRY_VERIFY(ranAfterWrites.has_value());
    QCOMPARE(*ranAfterWrites, hub.device.writes.size());
    QCOMPARE(int(hub.device.writes.back()[4]), int(CMD_LED_ADJUST_END));
  }

  // A LED read that fails after an earlier one succeeded must not count the old read.
  void failedLedReadAfterAGoodOne() {
    Hub hub;
    hub.image = SmallImage(3);
    QCOMPARE(hub.update.Run(), EUpdateResult::Completed);
    hub.fault = EFault::LedBeginSilent;
    hub.device.writes.clear();
    QCOMPARE(hub.update.Run(), EUpdateResult::LedLevelsNotRead);
    const std::vector<int> commands = hub.Commands();
    QCOMPARE(std::count(commands.begin(), commands.end(), CMD_ENTER_BOOTLOADER), 0);
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
