#pragma once
// Everything the updater does with hubs, without a screen: the device list and the current hub,
// the version check, the update, the automatic update and the LED levels. The window and the
// command-line front end each drive one session and show what it reports through their view.

#include <QObject>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hid/HidController.h"
#include "protocol/Commands.h"
#include "protocol/HubLink.h"
#include "tool/LedAdjust.h"
#include "update/FirmwareImage.h"
#include "update/HubLock.h"
#include "update/LedLevelStore.h"
#include "update/UpdateProcedure.h"
#include "update/UpdaterView.h"

// Whether a device has the hub's vendor and product ids.
bool HasHubIds(const THidDevice* device);
// Whether a device is a hub: the hub's ids and its report lengths (65 in, 65 out).
bool IsHub(THidDevice* device);
// Why a device with the hub's ids is not taken for one; empty when it is a hub.
QString NotAHubReason(THidDevice* device);
// What names a hub to other programs (its lock): its USB port, or its node when the port is
// unknown.
std::string HubKey(const THidDevice* hub);
// The USB serial number a device reports (HID_UNIQ); empty when it has none.
std::string SerialOf(const THidDevice* device);
// What names a hub wherever it is plugged in: its serial number, or else its USB port (or node).
// Its kept LED levels go by this.
std::string HubIdentity(const THidDevice* hub);
// The USB port a device hangs on ("usb-0000:00:14.0-2" of HID_PHYS "usb-0000:00:14.0-2/input0");
// empty when the system does not say.
std::string PortOf(const THidDevice* device);
// The line that tells the user a hub's node cannot be opened and how to fix it.
QString AccessDeniedLine(const THidDevice* hub);

class THubSession : public QObject {
  Q_OBJECT

 public:
  static constexpr int AUTO_TIMER_INTERVAL_MS = 1500;
  // While waiting for a hub to come back, how often to enumerate afresh.
  static constexpr int RESCAN_WHILE_WAITING_MS = 1000;

  explicit THubSession(TUpdaterView& view, QObject* parent = nullptr);
  ~THubSession() override;

  // Start-up: creates the controller on `platform` (null: the machine's HID devices), reports
  // the devices present (a hub found is greeted at once), then loads the image (none given:
  // the built-in one, whose version the hub must report afterwards) and starts the
  // automatic-update timer.
  void Start(std::shared_ptr<THidPlatform> platform = nullptr,
             std::optional<TResult<FirmwareLines>> image = std::nullopt,
             std::optional<std::uint32_t> imageVersion = std::nullopt);

  // Where LED levels wait while a hub has no application (set before Start; the default is
  // the user's state directory).
  TLedLevelStore& LevelStore() { return levelStore_; }

  THubLink& Link() { return link_; }
  TLedAdjuster& Leds() { return leds_; }
  const TResult<FirmwareLines>& Image() const { return image_; }
  THidDeviceController& Controller() { return *controller_; }
  TUpdateProcedure& Procedure() { return update_; }
  QTimer& AutoTimer() { return tmrAuto_; }

  // The hubs found by the last rebuild (every entry reads "Device0" in the window's hidden
  // list), and the selected one (-1 for none).
  const std::vector<THidDevice*>& Hubs() const { return hubs_; }
  int SelectedHub() const { return selected_; }
  // The listed hub that is the link's current device; null for none.
  THidDevice* CurrentHub() const;
  // Selects the listed hub and makes it the current device with its reader running (what the
  // version check does with the selected entry). False for an index that is not listed.
  bool UseHub(int index);
  // As UseHub, and later rebuilds keep to this hub (by its attachment, then its USB port)
  // instead of taking the first one: what a command for one chosen hub wants.
  bool HoldHub(int index);
  // Before Start: the session keeps to the hub at device node `node` from the first listing on
  // (found there, it is held as by HoldHub; not found, no hub is chosen), and never greets
  // another. What a program updating one of several hubs wants: the others may be another
  // program's, in the middle of their own exchanges.
  void HoldNodeAtStart(std::string node) { holdNode_ = std::move(node); }

  // True while an exchange or an update is under way: timer ticks skip, clicks wait.
  bool Busy() const { return link_.Busy() || update_.Running(); }

  // What a change of the device list does: gives the hubs back, claims every device again,
  // lists the hubs, makes the first one current and greets it.
  void HidDeviceChange();
  // Makes the preferred listed hub the current device: the one being updated while an update
  // runs, else the held one, else the first; keeps the current one when there is none.
  void FindHubDevice();
  // After the hub being updated went away (bootloader switch, reboot): makes it current once
  // it is back as a new attachment, waiting for device changes up to `waitMs` more and
  // enumerating afresh before giving up. A hub with another serial number is never taken.
  EHubReturn RefindUpdatedHub(int waitMs);

  // The program updating `hub` when it is another one, in words for the user. Nothing may be
  // sent to such a hub: its update's commands would interleave with ours.
  static std::optional<QString> HolderElsewhere(const THidDevice* hub);

  // "Check Version"; the hub's versions when it answered.
  std::optional<TVersionReply> CheckVersion();
  // "Update": the current hub, under its lock, through the update procedure.
  EUpdateResult RunUpdate();

  // The automatic-update box: the timer runs exactly while it is ticked, the manual buttons
  // work exactly while it is not.
  void SetAutoUpdate(bool checked);
  bool AutoUpdateChecked() const { return autoChecked_; }
  bool AutoUpdatePending() const { return autoUpdatePending_; }
  // Marks every listed hub for the automatic update, as if each had just been plugged in.
  void RequestAutoUpdate();
  // The hubs plugged in while automatic updating is on and not updated yet, by DevInst.
  const std::deque<std::uint32_t>& AutoQueue() const { return autoQueue_; }
  int AutoDelayTicks() const { return autoDelayTicks_; }
  // One tick of the automatic-update timer.
  void AutoTimerTick();

 signals:
  // After every rebuild of the hub list.
  void HubsChanged();
  // After each automatic run, with how its update ended.
  void AutoUpdateFinished(EUpdateResult result);

 private:
  // A hub by the attachment and port it had when it was chosen.
  struct THubTarget {
    std::uint32_t devInst = 0;
    std::string port;
  };
  // The hub being updated: where it was, and whether it is on its way back from a reset.
  struct TUpdateTarget : THubTarget {
    std::string serial;      // empty: the hub has none
    bool returning = false;  // the attachment devInst is gone or going: wait for a new one
    bool acceptOld = false;  // the wait is over: the old attachment will do after all
    bool onlyHub = false;    // the only hub when the update started
    // Whether `hub` may be the one being updated: not another serial number, and not the
    // attachment that went away while it is on its way back.
    bool MayBe(const THidDevice* hub) const;
  };

  void Greet();
  // The identity of the current hub; empty for none.
  std::string CurrentIdentity() const;
  // Writes back LED levels kept for the hub `identity` by an update that could not, when it is
  // still the current hub and runs its application.
  void RestoreKeptLedLevels(const std::string& identity);
  // The user chose a level for the current hub: levels kept from before are no longer wanted.
  void ForgetKeptLedLevels();
  // The hub to make current: the one being updated when it is listed, else the held one,
  // else the first.
  int PreferredHub() const;
  int UpdatedHub() const;
  // Notes hubs plugged in while automatic updating is on.
  void QueueNewHubs(const std::vector<std::uint32_t>& before);

  TUpdaterView& view_;
  THubLink link_;
  TLedAdjuster leds_;
  TResult<FirmwareLines> image_{TError{QStringLiteral("no firmware image loaded")}};
  TUpdateProcedure update_;
  std::unique_ptr<THidDeviceController> controller_;
  std::vector<THidDevice*> hubs_;
  int selected_ = -1;
  TLedLevelStore levelStore_;
  std::optional<THubTarget> held_;
  std::optional<std::string> holdNode_;
  std::optional<TUpdateTarget> updating_;
  THubLock updateLock_;  // held while updating_ is set
  std::deque<std::uint32_t> autoQueue_;
  QTimer tmrAuto_;
  bool autoChecked_ = false;
  bool autoUpdatePending_ = false;
  int autoDelayTicks_ = 0;
};
