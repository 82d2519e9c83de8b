#include "update/UpdateProcedure.h"

#include "protocol/Commands.h"
#include "update/BuildConfig.h"
#include "update/Pause.h"
#include "update/Texts.h"
#include "update/Version.h"

namespace {
// Runs `undo` when the scope ends, however it ends.
template <typename F>
struct OnExit {
  F undo;
  ~OnExit() { undo(); }
};
template <typename F>
OnExit(F) -> OnExit<F>;
}  // namespace

TUpdateProcedure::TUpdateProcedure(THubLink& link, const FirmwareLines& image, TLedAdjuster& leds,
                                   TUpdaterView& view, std::function<bool(int)> findHubDevice)
    : link_(link),
      image_(image),
      leds_(leds),
      view_(view),
      findHubDevice_(std::move(findHubDevice)),
      targetVersion_(BUILTIN_APP_VERSION) {}

EUpdateResult TUpdateProcedure::Run() {
  if (running_) {
    // A second click, or a queued one: the hub is already being programmed.
    view_.AppendLog(Texts::UpdateAlreadyRunning);
    return EUpdateResult::AlreadyRunning;
  }
  view_.ClearLog();
  view_.ClearUpdateProgress();
  record_ = {};
  if (!image_.IsValid()) {
    // Never start what cannot be finished: the hub would stay in its bootloader.
    view_.AppendLog(QStringLiteral("The built-in firmware image is broken (%1); nothing was sent.")
                        .arg(QString::fromStdString(image_.Error())));
    return EUpdateResult::BrokenImage;
  }
  if (!link_.CurrentDevice()) {
    view_.AppendLog(Texts::DeviceDisconnected);
    view_.ShowStatus(Texts::StatusNewDevice);
    return EUpdateResult::NoDevice;
  }

  running_ = true;
  stopRequested_ = false;
  stage_ = EUpdateStage::Preparing;
  view_.SetUpdateControlsEnabled(false);
  OnExit enableAgain{[this] {
    running_ = false;
    stage_ = EUpdateStage::Idle;
    link_.HoldUserActions(false);
    view_.SetUpdateControlsEnabled(true);
  }};
  return RunStages();
}

EUpdateResult TUpdateProcedure::RunStages() {
  const int maximum = static_cast<int>(image_.Count()) - 1;
  const bool startsInBootloader = QueryMode(link_) == MODE_BOOTLOADER;
  bool haveLevels = true;
  if (!startsInBootloader) {
    leds_.ClearLedLevelsRead();
    leds_.StartAdjust();
    ProcessPendingEvents();
    if (!leds_.LedLevelsRead()) {
      view_.AppendLog(Texts::UpdateFailedRetry);
      view_.ShowStatus(Texts::StatusFailedRetry);
      return EUpdateResult::LedLevelsNotRead;
    }
  } else {
    haveLevels = TakeKeptLedLevels(true);
  }
  if (stopRequested_) {
    view_.AppendLog(Texts::UpdateCancelled);
    return EUpdateResult::Cancelled;
  }
  if (!startsInBootloader)
    KeepLedLevels();
  if (haveLevels)
    record_.ledLevelsSaved = LevelsShown();
  view_.StopAutoRefresh();

  stage_ = EUpdateStage::Switching;
  EnterBootloader();
  if (!link_.CurrentDevice()) {
    view_.AppendLog(Texts::EnterBootloaderError);
    view_.ShowStatus(Texts::StatusStateError);
    return EUpdateResult::BootloaderNotFound;
  }

  stage_ = EUpdateStage::Programming;
  view_.AppendLog(Texts::Programming);
  view_.ShowStatus(Texts::StatusProgramming);
  view_.SetProgress(0, maximum);
  ProcessPendingEvents();
  if (!ProgramImage()) {
    if (stopRequested_) {
      view_.AppendLog(Texts::UpdateStopped);
      return EUpdateResult::Stopped;
    }
    view_.AppendLog(Texts::Timeout);
    view_.ShowIndicator(1);
    return EUpdateResult::RecordFailed;
  }
  stage_ = EUpdateStage::Finishing;
  return Finish();
}

void TUpdateProcedure::KeepLedLevels() {
  if (!store_)
    return;
  // Levels kept by an earlier update that did not get them back onto the hub are the user's;
  // what the hub shows now are its firmware's defaults.
  if (TakeKeptLedLevels(false))
    return;
  QString error;
  if (!store_->Save(port_, LevelsShown(), error))
    view_.AppendLog(Texts::LedStoreProblem(error));
}

TLedLevels TUpdateProcedure::LevelsShown() const {
  TLedLevels levels{};
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel)
    levels[channel - 1] = leds_.Level(channel);
  return levels;
}

bool TUpdateProcedure::TakeKeptLedLevels(bool sayWhenNone) {
  if (!store_)
    return false;
  QString error;
  const auto levels = store_->Load(port_, error);
  if (!levels) {
    if (!error.isEmpty())
      view_.AppendLog(Texts::LedStoreProblem(error));
    if (sayWhenNone)
      view_.AppendLog(Texts::NoSavedLedLevels);
    return false;
  }
  view_.AppendLog(Texts::SavedLedLevelsRestore);
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel)
    leds_.ShowLevel(channel, (*levels)[channel - 1]);
  return true;
}

void TUpdateProcedure::EnterBootloader() {
  view_.AppendLog(Texts::EnterBootloaderMode);
  modeSwitching_ = true;
  view_.SetWindowEnabled(false);
  OnExit restore{[this] {
    view_.SetWindowEnabled(true);
    modeSwitching_ = false;
  }};
  link_.SendFrame(CMD_ENTER_BOOTLOADER, MakeRequest());
  link_.SetCurrentDevice(nullptr);
  Pause(timing_.bootloaderPauseMs);
  findHubDevice_(timing_.returnWaitMs);
}

bool TUpdateProcedure::ProgramImage() {
  const int maximum = static_cast<int>(image_.Count()) - 1;
  for (std::size_t i = 0; i < image_.Count(); ++i) {
    view_.SetProgress(static_cast<int>(i), maximum);
    const auto& record = image_.Record(i);
    if (!record)
      continue;
    if (stopRequested_)
      return false;
    if (link_.SendFrame(CMD_LOAD_RECORD, LoadRecordRequest(*record)) != 0)
      return false;
    if (link_.SendFrame(CMD_PROGRAM_RECORD, ProgramRecordRequest(*record)) != 0)
      return false;
  }
  return true;
}

EUpdateResult TUpdateProcedure::Finish() {
  // From here to the end of the LED restore nothing the user queued may come between.
  link_.HoldUserActions(true);
  link_.SendFrame(CMD_REBOOT, MakeRequest());
  view_.AppendLog(Texts::Reboot);
  view_.ShowStatus(Texts::StatusReboot);
  Pause(timing_.rebootPauseMs);
  ProcessPendingEvents();
  if (!findHubDevice_(timing_.returnWaitMs)) {
    view_.AppendLog(Texts::UpdateFailedRetry);
    view_.ShowStatus(Texts::StatusFailed);
    return EUpdateResult::NotFoundAfterReboot;
  }
  view_.AppendLog(Texts::Ok);

  // Success is what the hub says it runs, not that every record was taken.
  const int mode = QueryMode(link_);
  std::optional<TVersionReply> version;
  if (link_.SendFrame(CMD_GET_VERSION, VersionQueryRequest()) == 0)
    version = DecodeVersionReply(link_.Reply());
  if (version) {
    view_.ShowVersionLines(VersionLines(*version));
    record_.applicationAfter = version->application;
  }
  if (mode == MODE_APPLICATION)
    RestoreLedLevels();

  QString what;
  if (mode == MODE_BOOTLOADER) {
    what = Texts::StillInBootloader;
  } else if (mode != MODE_APPLICATION || !version) {
    what = Texts::FirmwareNotSaid;
  } else if (version->application != targetVersion_) {
    what = Texts::OtherApplication(FormatVersion(VersionText(version->application)),
                                   FormatVersion(VersionText(targetVersion_)));
  }
  if (!what.isEmpty()) {
    view_.AppendLog(Texts::NotUpdated(what));
    view_.ShowStatus(Texts::StatusFailed);
    view_.ShowIndicator(1);
    return EUpdateResult::NotUpdated;
  }
  view_.AppendLog(Texts::UpdateCompleted);
  view_.ShowStatus(Texts::StatusCompleted);
  return EUpdateResult::Completed;
}

void TUpdateProcedure::RestoreLedLevels() {
  bool restored = true;
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel) {
    restored = leds_.SendLevel(channel) && restored;
    Pause(timing_.ledPauseMs);
  }
  leds_.EndAdjust();
  record_.ledLevelsRestored = restored;
  if (!restored || !store_)
    return;
  QString error;
  if (!store_->Remove(port_, error))
    view_.AppendLog(Texts::LedStoreProblem(error));
}
