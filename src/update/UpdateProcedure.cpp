#include "update/UpdateProcedure.h"

#include "protocol/Commands.h"
#include "update/Pause.h"
#include "update/Texts.h"

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
                                   TUpdaterView& view, std::function<void()> findHubDevice)
    : link_(link),
      image_(image),
      leds_(leds),
      view_(view),
      findHubDevice_(std::move(findHubDevice)) {}

EUpdateResult TUpdateProcedure::Run() {
  const int maximum = static_cast<int>(image_.Count()) - 1;
  view_.ClearLog();
  view_.ClearUpdateProgress();
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
  view_.SetUpdateControlsEnabled(false);
  OnExit enableAgain{[this] {
    running_ = false;
    view_.SetUpdateControlsEnabled(true);
  }};

  if (QueryMode(link_) != MODE_BOOTLOADER) {
    leds_.ClearLedLevelsRead();
    leds_.StartAdjust();
    ProcessPendingEvents();
    if (!leds_.LedLevelsRead()) {
      view_.AppendLog(Texts::UpdateFailedRetry);
      view_.ShowStatus(Texts::StatusFailedRetry);
      return EUpdateResult::LedLevelsNotRead;
    }
  }
  view_.StopAutoRefresh();

  EnterBootloader();
  if (!link_.CurrentDevice()) {
    view_.AppendLog(Texts::EnterBootloaderError);
    view_.ShowStatus(Texts::StatusStateError);
    return EUpdateResult::BootloaderNotFound;
  }

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

  link_.SendFrame(CMD_REBOOT, MakeRequest());
  view_.AppendLog(Texts::Reboot);
  view_.ShowStatus(Texts::StatusReboot);
  Pause(timing_.rebootPauseMs);
  ProcessPendingEvents();
  findHubDevice_();

  if (!link_.CurrentDevice()) {
    view_.AppendLog(Texts::UpdateFailedRetry);
    view_.ShowStatus(Texts::StatusFailed);
    return EUpdateResult::NotFoundAfterReboot;
  }
  view_.AppendLog(Texts::Ok);
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel) {
    leds_.SendLevel(channel);
    Pause(timing_.ledPauseMs);
  }
  leds_.EndAdjust();
  view_.AppendLog(Texts::UpdateCompleted);
  view_.ShowStatus(Texts::StatusCompleted);
  return EUpdateResult::Completed;
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
  findHubDevice_();
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
