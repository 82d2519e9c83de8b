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

TUpdateProcedure::TUpdateProcedure(THubLink& link, const TResult<FirmwareLines>& image,
                                   TLedAdjuster& leds, TUpdaterView& view,
                                   std::function<EHubReturn(int)> findHubDevice)
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
  if (!image_) {
    // Never start what cannot be finished: the hub would stay in its bootloader.
    view_.AppendLog(Texts::BrokenImage(image_.Error().text));
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
  const int maximum = static_cast<int>(image_->Count()) - 1;
  otherSocket_ = false;
  const bool startsInBootloader = QueryMode(link_) == EHubMode::Bootloader;
  bool haveLevels = true;
  if (!startsInBootloader) {
    // Read afresh: whatever was kept from before, the hub's application holds its levels now.
    leds_.ClearLedLevelsRead();
    leds_.StartAdjust();
    ProcessPendingEvents();
    if (!leds_.LedLevelsRead()) {
      view_.AppendLog(Texts::UpdateFailedRetry);
      view_.ShowStatus(Texts::StatusFailedRetry);
      return EUpdateResult::LedLevelsNotRead;
    }
  } else {
    haveLevels = TakeKeptLedLevels();
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
  if (!EnterBootloader()) {
    view_.ShowStatus(Texts::StatusStateError);
    return EUpdateResult::BootloaderNotFound;
  }

  stage_ = EUpdateStage::Programming;
  view_.AppendLog(Texts::Programming);
  view_.ShowStatus(Texts::StatusProgramming);
  view_.SetProgress(0, maximum);
  ProcessPendingEvents();
  QString refusal;
  if (!ProgramImage(refusal)) {
    if (stopRequested_) {
      view_.AppendLog(Texts::UpdateStopped);
      return EUpdateResult::Stopped;
    }
    view_.AppendLog(Texts::Timeout);
    if (!refusal.isEmpty())
      view_.AppendLog(refusal);
    view_.ShowIndicator(1);
    return EUpdateResult::RecordFailed;
  }
  stage_ = EUpdateStage::Finishing;
  return Finish();
}

void TUpdateProcedure::KeepLedLevels() {
  if (!store_)
    return;
  if (const TResult<void> saved = store_->Save(identity_, LevelsShown()); !saved)
    view_.AppendLog(Texts::LedLevelsNotKept(saved.Error().text));
}

TLedLevels TUpdateProcedure::LevelsShown() const {
  TLedLevels levels{};
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel)
    levels[channel - 1] = leds_.Level(channel);
  return levels;
}

bool TUpdateProcedure::TakeKeptLedLevels() {
  if (!store_)
    return false;
  const auto kept = store_->Load(identity_);
  if (!kept)
    view_.AppendLog(Texts::LedStoreProblem(kept.Error().text));
  if (!kept || !*kept) {
    view_.AppendLog(Texts::NoSavedLedLevels);
    return false;
  }
  const TLedLevels& levels = **kept;
  view_.AppendLog(Texts::SavedLedLevelsRestore);
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel)
    leds_.ShowLevel(channel, levels[channel - 1]);
  return true;
}

QString TUpdateProcedure::RefusalLine(const TFrameResult& result, std::uint8_t command,
                                      const QString& what) {
  return result.failure == EFrameFailure::Status
             ? Texts::Refused(CommandName(command), what, result.value)
             : QString();
}

void TUpdateProcedure::SayRefused(const TFrameResult& result, std::uint8_t command,
                                  const QString& what) {
  if (const QString line = RefusalLine(result, command, what); !line.isEmpty())
    view_.AppendLog(line);
}

bool TUpdateProcedure::EnterBootloader() {
  view_.AppendLog(Texts::EnterBootloaderMode);
  modeSwitching_ = true;
  view_.SetWindowEnabled(false);
  OnExit restore{[this] {
    view_.SetWindowEnabled(true);
    modeSwitching_ = false;
  }};
  const TFrameResult switched = link_.SendFrame(CMD_ENTER_BOOTLOADER, MakeRequest());
  if (switched.failure == EFrameFailure::Status) {
    // Still in its application, with its levels: nothing to keep.
    view_.AppendLog(Texts::EnterBootloaderError);
    SayRefused(switched, CMD_ENTER_BOOTLOADER, {});
    ForgetKeptLevels();
    return false;
  }
  // No reply is no proof: a hub may reset before it answers. What it answers afterwards is.
  link_.SetCurrentDevice(nullptr);
  Pause(timing_.bootloaderPauseMs);
  const EHubReturn back = findHubDevice_(timing_.returnWaitMs);
  if (back == EHubReturn::Gone || !link_.CurrentDevice()) {
    view_.AppendLog(Texts::EnterBootloaderError);
    return false;
  }
  otherSocket_ = back == EHubReturn::OtherSocket;
  // Records go only to a hub that says it waits for them: never to another hub in its
  // application, nor to this one if the switch did not happen.
  const TFrameResult asked = link_.SendFrame(CMD_QUERY_MODE, MakeRequest());
  if (asked != 0 || ModeFromReply(asked, link_.Reply()) != EHubMode::Bootloader) {
    view_.AppendLog(Texts::EnterBootloaderError);
    if (asked == 0)
      view_.AppendLog(Texts::NotInBootloader);
    return false;
  }
  return true;
}

bool TUpdateProcedure::ProgramImage(QString& refusal) {
  const int maximum = static_cast<int>(image_->Count()) - 1;
  std::size_t number = 0;
  for (std::size_t i = 0; i < image_->Count(); ++i) {
    view_.SetProgress(static_cast<int>(i), maximum);
    const auto& record = image_->Record(i);
    if (!record)
      continue;
    ++number;
    if (stopRequested_)
      return false;
    for (const std::uint8_t command : {CMD_LOAD_RECORD, CMD_PROGRAM_RECORD}) {
      const TFrameResult result =
          link_.SendFrame(command, command == CMD_LOAD_RECORD ? LoadRecordRequest(*record)
                                                              : ProgramRecordRequest(*record));
      if (result != 0) {
        refusal =
            RefusalLine(result, command,
                        QStringLiteral("record %1 of %2").arg(number).arg(image_->RecordCount()));
        return false;
      }
    }
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
  const EHubReturn back = findHubDevice_(timing_.returnWaitMs);
  if (back == EHubReturn::Gone) {
    view_.AppendLog(Texts::UpdateFailedRetry);
    view_.ShowStatus(Texts::StatusFailed);
    return EUpdateResult::NotFoundAfterReboot;
  }
  otherSocket_ = otherSocket_ || back == EHubReturn::OtherSocket;
  view_.AppendLog(Texts::Ok);

  // Success is what the hub says it runs, not that every record was taken.
  const EHubMode mode = QueryMode(link_);
  std::optional<TVersionReply> version;
  if (link_.SendFrame(CMD_GET_VERSION, VersionQueryRequest()) == 0)
    version = DecodeVersionReply(link_.Reply());
  if (version) {
    view_.ShowVersionLines(VersionLines(*version));
    record_.applicationAfter = version->application;
  }
  if (otherSocket_) {
    // It may be another hub: it is not called updated and gets none of this hub's levels.
    view_.AppendLog(Texts::BackInOtherSocket);
    view_.ShowStatus(Texts::StatusFailed);
    view_.ShowIndicator(1);
    return EUpdateResult::OtherSocket;
  }
  const bool restored = mode == EHubMode::Application && RestoreLedLevels();

  QString what;
  if (mode == EHubMode::Bootloader) {
    what = Texts::StillInBootloader;
  } else if (mode != EHubMode::Application || !version) {
    what = Texts::FirmwareNotSaid;
  } else if (version->application != targetVersion_) {
    what = Texts::OtherApplication(DottedVersion(version->application),
                                   DottedVersion(targetVersion_));
  }
  if (!what.isEmpty()) {
    view_.AppendLog(Texts::NotUpdated(what));
    view_.ShowStatus(Texts::StatusFailed);
    view_.ShowIndicator(1);
    return EUpdateResult::NotUpdated;
  }
  if (!restored) {
    view_.AppendLog(Texts::LedLevelsNotRestored);
    view_.ShowStatus(Texts::StatusCompleted);
    return EUpdateResult::LedLevelsNotRestored;
  }
  view_.AppendLog(Texts::UpdateCompleted);
  view_.ShowStatus(Texts::StatusCompleted);
  return EUpdateResult::Completed;
}

bool TUpdateProcedure::RestoreLedLevels() {
  bool restored = true;
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel) {
    if (const TFrameResult result = leds_.SendLevel(channel); result != 0) {
      restored = false;
      SayRefused(result, CMD_SET_LED_LEVEL, QStringLiteral("channel %1").arg(channel));
    }
    Pause(timing_.ledPauseMs);
  }
  leds_.EndAdjust();
  record_.ledLevelsRestored = restored;
  if (restored)
    ForgetKeptLevels();
  return restored;
}

void TUpdateProcedure::ForgetKeptLevels() {
  if (!store_)
    return;
  if (const TResult<void> removed = store_->Remove(identity_); !removed)
    view_.AppendLog(Texts::LedStoreProblem(removed.Error().text));
}
