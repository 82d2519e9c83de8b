#pragma once
// Programs the built-in image into the current hub: saves its LED levels, switches it into its
// bootloader, sends every record, reboots it, finds it again, checks that it runs the new
// firmware and writes the LED levels back.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/HubLink.h"
#include "tool/LedAdjust.h"
#include "update/FirmwareImage.h"
#include "update/LedLevelStore.h"
#include "update/UpdaterView.h"

// How an update ended.
enum class EUpdateResult {
  Completed,
  BrokenImage,           // nothing sent
  NoDevice,              // "Device disconnected."
  LedLevelsNotRead,      // the hub did not give its LED levels; not switched
  BootloaderNotFound,    // no hub after the switch into the bootloader
  RecordFailed,          // "Timeout.": a record was not taken; the hub is in its bootloader
  NotFoundAfterReboot,   // programmed, but no hub came back after the reboot
  NotUpdated,            // back after the reboot, but not running the new firmware
  OtherSocket,           // a hub without a serial number came back in another USB socket: it
                         // may be another one; nothing written to it
  LedLevelsNotRestored,  // updated, but not every LED level went back; they are kept
  Error,                 // an error from the device layer ended it
  Stopped,               // stopped on request between two records; the hub is in its bootloader
  Cancelled,             // stopped on request before the bootloader switch; the hub is untouched
  AlreadyRunning,        // another update runs: refused, nothing sent
  HubInUse,              // another program holds the hub: refused, nothing sent
};

// Where a running update stands, for what an interruption can still do.
enum class EUpdateStage {
  Idle,
  Preparing,    // mode and LED levels: a stop cancels, the hub is untouched
  Switching,    // into the bootloader: the hub is away
  Programming,  // a stop ends it between two records
  Finishing,    // reboot, check and LED levels: runs to its end
};

// How the hub being updated came back from a reset.
enum class EHubReturn {
  Gone,         // not back
  Same,         // by its serial number or its USB port: the hub that left
  OtherSocket,  // the only hub, but without a serial number and in another socket
};

struct TUpdateTiming {
  int bootloaderPauseMs = 2000;  // after CMD_ENTER_BOOTLOADER
  int rebootPauseMs = 2000;      // after CMD_REBOOT
  int ledPauseMs = 10;           // between the LED levels written back
  // How much longer to wait for a hub that is not back after either pause.
  int returnWaitMs = 10000;
};

// What one update did, for a record of every hub (the production line's log).
struct TUpdateRecord {
  std::optional<std::uint32_t> applicationAfter;  // what the hub said it runs at the end
  std::optional<TLedLevels> ledLevelsSaved;       // read from the hub, or kept from before
  bool ledLevelsRestored = false;                 // every level written back and taken
};

class TUpdateProcedure {
 public:
  // `findHubDevice(waitMs)` makes the hub being updated the current device once it is back from
  // a re-enumeration, waiting up to `waitMs` more for it, and says how it came back.
  TUpdateProcedure(THubLink& link, const TResult<FirmwareLines>& image, TLedAdjuster& leds,
                   TUpdaterView& view, std::function<EHubReturn(int waitMs)> findHubDevice);

  void SetTiming(const TUpdateTiming& timing) { timing_ = timing; }
  const TUpdateTiming& Timing() const { return timing_; }
  // The application version the hub must report after the update (the image's).
  void SetTargetVersion(std::uint32_t version) { targetVersion_ = version; }
  std::uint32_t TargetVersion() const { return targetVersion_; }
  // Where the LED levels wait while the hub has no application; `identity` names the hub there
  // (its serial number, or its USB port).
  void SetLevelStore(TLedLevelStore* store) { store_ = store; }
  void SetHubIdentity(std::string identity) { identity_ = std::move(identity); }

  // The whole update; reports through the view. Re-enables the update controls on every way
  // out, exceptions included (which it lets through). Refuses while an update runs.
  EUpdateResult Run();

  // Asks a running update to stop: before the bootloader switch it is cancelled, while
  // programming it stops before the next record, later it runs to its end.
  void RequestStop() { stopRequested_ = true; }

  // True from the start of Run to its end.
  bool Running() const { return running_; }
  EUpdateStage Stage() const { return stage_; }
  // What the last (or running) update did.
  const TUpdateRecord& Record() const { return record_; }
  // True only while the hub is being switched into its bootloader.
  bool ModeSwitching() const { return modeSwitching_; }

 private:
  EUpdateResult RunStages();
  // Keeps the levels read from the hub on disk before it loses its application.
  void KeepLedLevels();
  // The levels the LED bars show now: read from the hub, or kept from before.
  TLedLevels LevelsShown() const;
  // Takes levels kept by an earlier update into the bars; false when there are none.
  bool TakeKeptLedLevels();
  // Switches the hub into its bootloader and finds it there; false (said) when it is not.
  bool EnterBootloader();
  // Sends every record; false when one was not taken (`refusal` then says which, if the hub
  // refused it) or a stop was asked for.
  bool ProgramImage(QString& refusal);
  EUpdateResult Finish();
  // Writes the bars' levels back; true when the hub took every one.
  bool RestoreLedLevels();
  // Drops the kept levels: they are on the hub.
  void ForgetKeptLevels();
  // The line naming a command the hub refused, `what` saying which one; empty when the hub did
  // not refuse it (no reply is not a refusal).
  static QString RefusalLine(const TFrameResult& result, std::uint8_t command, const QString& what);
  void SayRefused(const TFrameResult& result, std::uint8_t command, const QString& what);

  THubLink& link_;
  const TResult<FirmwareLines>& image_;
  TLedAdjuster& leds_;
  TUpdaterView& view_;
  std::function<EHubReturn(int)> findHubDevice_;
  TUpdateTiming timing_;
  std::uint32_t targetVersion_;
  TLedLevelStore* store_ = nullptr;
  std::string identity_;
  // A hub without a serial number came back in another socket during this update.
  bool otherSocket_ = false;
  bool running_ = false;
  bool modeSwitching_ = false;
  bool stopRequested_ = false;
  EUpdateStage stage_ = EUpdateStage::Idle;
  TUpdateRecord record_;
};
