#pragma once
// Programs the built-in image into the current hub: saves its LED levels, switches it into its
// bootloader, sends every record, reboots it, finds it again and writes the LED levels back.

#include <functional>

#include "protocol/HubLink.h"
#include "tool/LedAdjust.h"
#include "update/FirmwareImage.h"
#include "update/UpdaterView.h"

// How an update ended.
enum class EUpdateResult {
  Completed,
  BrokenImage,          // nothing sent
  NoDevice,             // "Device disconnected."
  LedLevelsNotRead,     // the hub did not give its LED levels; not switched
  BootloaderNotFound,   // no hub after the switch into the bootloader
  RecordFailed,         // "Timeout.": a record was not taken; the hub is in its bootloader
  NotFoundAfterReboot,  // programmed, but no hub came back after the reboot
  Error,                // an error from the device layer ended it
  Stopped,              // stopped on request between two records; the hub is in its bootloader
};

struct TUpdateTiming {
  int bootloaderPauseMs = 2000;  // after CMD_ENTER_BOOTLOADER
  int rebootPauseMs = 2000;      // after CMD_REBOOT
  int ledPauseMs = 10;           // between the LED levels written back
};

class TUpdateProcedure {
 public:
  // `findHubDevice` makes the first hub of the device list the current device (and leaves the
  // current device as it is when there is none).
  TUpdateProcedure(THubLink& link, const FirmwareLines& image, TLedAdjuster& leds,
                   TUpdaterView& view, std::function<void()> findHubDevice);

  void SetTiming(const TUpdateTiming& timing) { timing_ = timing; }

  // The whole update; reports through the view. Re-enables the update controls on every way
  // out, exceptions included (which it lets through).
  EUpdateResult Run();

  // Asks a running update to stop before its next record (for Ctrl-C on the command line).
  void RequestStop() { stopRequested_ = true; }

  // True from the start of Run to its end.
  bool Running() const { return running_; }
  // True only while the hub is being switched into its bootloader.
  bool ModeSwitching() const { return modeSwitching_; }

 private:
  void EnterBootloader();
  bool ProgramImage();

  THubLink& link_;
  const FirmwareLines& image_;
  TLedAdjuster& leds_;
  TUpdaterView& view_;
  std::function<void()> findHubDevice_;
  TUpdateTiming timing_;
  bool running_ = false;
  bool modeSwitching_ = false;
  bool stopRequested_ = false;
};
