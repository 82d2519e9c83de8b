#pragma once
// Everything the updater does with hubs, without a screen: the device list and the current hub,
// the version check, the update, the automatic update and the LED levels. The window and the
// command-line front end each drive one session and show what it reports through their view.

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "hid/HidController.h"
#include "protocol/Commands.h"
#include "protocol/HubLink.h"
#include "tool/LedAdjust.h"
#include "update/FirmwareImage.h"
#include "update/UpdateProcedure.h"
#include "update/UpdaterView.h"

// Whether a device is a hub (its vendor and product ids).
bool IsHub(const THidDevice* device);
// The line that tells the user a hub's node cannot be opened and how to fix it.
QString AccessDeniedLine(const THidDevice* hub);

class THubSession : public QObject {
  Q_OBJECT

 public:
  static constexpr int AUTO_TIMER_INTERVAL_MS = 1500;
  static constexpr std::uint32_t HUB_QUEUE_LENGTH = 128;

  explicit THubSession(TUpdaterView& view, QObject* parent = nullptr);
  ~THubSession() override;

  // Start-up: creates the controller on `platform` (null: the machine's HID devices), reports
  // the devices present (a hub found is greeted at once), then loads the image (none given:
  // the built-in one) and starts the automatic-update timer.
  void Start(std::shared_ptr<THidPlatform> platform = nullptr,
             std::optional<FirmwareLines> image = std::nullopt);

  THubLink& Link() { return link_; }
  TLedAdjuster& Leds() { return leds_; }
  const FirmwareLines& Image() const { return image_; }
  THidDeviceController& Controller() { return *controller_; }
  TUpdateProcedure& Procedure() { return update_; }
  QTimer& AutoTimer() { return tmrAuto_; }

  // The hubs found by the last rebuild (every entry reads "Device0" in the window's hidden
  // list), and the selected one (-1 for none).
  const std::vector<THidDevice*>& Hubs() const { return hubs_; }
  int SelectedHub() const { return selected_; }
  void SelectHub(int index) { selected_ = index; }
  // Selects the listed hub and makes it the current device with its reader running (what the
  // version check does with the selected entry). False for an index that is not listed.
  bool UseHub(int index);

  // True while an exchange or an update is under way: timer ticks skip, clicks wait.
  bool Busy() const { return link_.Busy() || update_.Running(); }

  // The device-change handler: gives the hubs back, claims every device again, lists the hubs,
  // makes the first one current and greets it.
  void HidDeviceChange(THidDeviceController* controller);
  // Makes the first listed hub the current device; keeps the current one when there is none.
  // While an update runs, the hub it updates comes first: with several hubs plugged in, the
  // one that comes back from its bootloader switch is found by its USB port.
  void FindHubDevice();

  // "Check Version"; the hub's versions when it answered.
  std::optional<VersionReply> CheckVersion();
  // "Update".
  EUpdateResult Update();

  // The automatic-update box: the timer runs exactly while it is ticked, the manual buttons
  // work exactly while it is not.
  void SetAutoUpdate(bool checked);
  bool AutoUpdateChecked() const { return autoChecked_; }
  bool AutoUpdatePending() const { return autoUpdatePending_; }
  // Marks the current hub for the automatic update, as if it had just been plugged in.
  void RequestAutoUpdate() {
    if (!hubs_.empty())
      autoUpdatePending_ = true;
  }
  int AutoDelayTicks() const { return autoDelayTicks_; }
  // One tick of the automatic-update timer.
  void AutoTimerTick();

 signals:
  // After every rebuild of the hub list.
  void HubsChanged();
  // After each automatic run, with how its update ended.
  void AutoUpdateFinished(EUpdateResult result);

 private:
  void Greet();
  EUpdateResult RunUpdate();
  // The hub to make current: the one being updated when it is listed, else the first.
  int PreferredHub() const;

  TUpdaterView& view_;
  THubLink link_;
  TLedAdjuster leds_;
  FirmwareLines image_;
  TUpdateProcedure update_;
  std::unique_ptr<THidDeviceController> controller_;
  std::vector<THidDevice*> hubs_;
  int selected_ = -1;
  // The USB port of the hub being updated; empty when no update runs or the port is unknown.
  std::string updatePort_;
  QTimer tmrAuto_;
  bool autoChecked_ = false;
  bool autoUpdatePending_ = false;
  int autoDelayTicks_ = 0;
};
