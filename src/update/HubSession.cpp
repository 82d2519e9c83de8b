#include "update/HubSession.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "protocol/Commands.h"
#include "update/BuildConfig.h"
#include "update/EmbeddedFirmware.h"
#include "update/HubLock.h"
#include "update/Pause.h"
#include "update/Texts.h"
#include "update/Version.h"

bool HasHubIds(const THidDevice* device) {
  return device->Attributes().VendorID == HUB_VENDOR_ID &&
         device->Attributes().ProductID == HUB_PRODUCT_ID;
}

QString NotAHubReason(THidDevice* device) {
  if (!HasHubIds(device))
    return QStringLiteral("not the hub's vendor and product ids");
  // From the report descriptor, without opening the device: a hub without access is still
  // a hub. Lengths that cannot be read do not count against it.
  const TResult<HIDP_CAPS> caps = device->Platform().GetCaps(device->InterfaceInfo());
  if (!caps)
    return {};
  if (caps->InputReportByteLength != FRAME_SIZE || caps->OutputReportByteLength != FRAME_SIZE) {
    return QStringLiteral("report lengths %1/%2, a hub's are %3/%3")
        .arg(caps->InputReportByteLength)
        .arg(caps->OutputReportByteLength)
        .arg(FRAME_SIZE);
  }
  return {};
}

bool IsHub(THidDevice* device) {
  return HasHubIds(device) && NotAHubReason(device).isEmpty();
}

QString AccessDeniedLine(const THidDevice* hub) {
  return Texts::AccessDenied(QString::fromStdString(hub->InterfaceInfo().DevicePath),
                             QString::fromStdString(hub->OpenErrorText()));
}

namespace {
// A property of the device's HID parent; empty when the system does not say.
std::string PropertyOf(const THidDevice* device, const char* name) {
  const auto& properties = device->InterfaceInfo().Properties;
  const auto it = properties.find(name);
  return it == properties.end() ? std::string() : it->second;
}
}  // namespace

std::string PortOf(const THidDevice* device) {
  // The bootloader may come back with another interface number, never on another port.
  const std::string phys = PropertyOf(device, "HID_PHYS");
  return phys.substr(0, phys.rfind("/input"));
}

std::string SerialOf(const THidDevice* device) {
  return PropertyOf(device, "HID_UNIQ");
}

std::string HubIdentity(const THidDevice* hub) {
  // A hub without a serial number goes by its port, as its kept levels always have.
  const std::string serial = SerialOf(hub);
  return serial.empty() ? HubKey(hub) : "serial-" + serial;
}

std::string HubKey(const THidDevice* hub) {
  const std::string port = PortOf(hub);
  return port.empty() ? hub->InterfaceInfo().DevicePath : port;
}

namespace {
// The index of the first listed hub that `pred` takes, or -1.
template <typename TPred>
int IndexOf(const std::vector<THidDevice*>& hubs, TPred pred) {
  const auto it = std::find_if(hubs.begin(), hubs.end(), pred);
  return it == hubs.end() ? -1 : static_cast<int>(it - hubs.begin());
}
auto WithDevInst(std::uint32_t devInst) {
  return [devInst](const THidDevice* hub) { return hub->InterfaceInfo().DevInst == devInst; };
}
}  // namespace

std::optional<QString> THubSession::HolderElsewhere(const THidDevice* hub) {
  if (!hub)
    return std::nullopt;
  return THubLock::HolderElsewhere(HubKey(hub), hub->InterfaceInfo().DevicePath);
}

THubSession::THubSession(TUpdaterView& view, QObject* parent)
    : QObject(parent),
      view_(view),
      leds_(link_),
      update_(link_, image_, leds_, view_,
              [this](int waitMs) { return RefindUpdatedHub(waitMs); }) {
  leds_.onLevelShown = [this](int channel, int level) { view_.ShowLedLevel(channel, level); };
  leds_.onLevelChosen = [this](int, int) { ForgetKeptLedLevels(); };
  update_.SetLevelStore(&levelStore_);
  tmrAuto_.setInterval(AUTO_TIMER_INTERVAL_MS);
  connect(&tmrAuto_, &QTimer::timeout, this, &THubSession::AutoTimerTick);
}

THubSession::~THubSession() {
  link_.SetCurrentDevice(nullptr);
  // Hubs and other claimed devices are ours: the controller only marks them unplugged.
  std::vector<THidDevice*> claimed;
  if (controller_) {
    for (THidDevice* device : controller_->DeviceList()) {
      if (device->IsClaimed())
        claimed.push_back(device);
    }
  }
  controller_.reset();
  for (THidDevice* device : claimed)
    delete device;
}

void THubSession::Start(std::shared_ptr<THidPlatform> platform,
                        std::optional<TResult<FirmwareLines>> image,
                        std::optional<std::uint32_t> imageVersion) {
  controller_ = std::make_unique<THidDeviceController>(this, std::move(platform));
  connect(controller_.get(), &THidDeviceController::DevicesChanged, this,
          &THubSession::HidDeviceChange);
  // The first rescan reports the list as it is.
  controller_->DeviceChange();
  image_ = image ? std::move(*image) : LoadEmbeddedFirmware();
  update_.SetTargetVersion(imageVersion.value_or(BUILTIN_APP_VERSION));
  tmrAuto_.start();
}

void THubSession::HidDeviceChange() {
  std::vector<std::uint32_t> before;
  for (THidDevice* hub : hubs_)
    before.push_back(hub->InterfaceInfo().DevInst);
  link_.SetCurrentDevice(nullptr);
  for (THidDevice*& hub : hubs_)
    controller_->ReleaseDevice(hub);
  hubs_.clear();
  selected_ = -1;

  std::vector<THidDevice*> others;
  while (THidDevice* device = controller_->ClaimNextDevice())
    (IsHub(device) ? hubs_ : others).push_back(device);
  // Other devices go straight back: we never talk to them, and an unplugged one kept
  // claimed would be reported as removed again at every later change.
  for (THidDevice*& other : others)
    controller_->ReleaseDevice(other);

  QueueNewHubs(before);
  if (holdNode_) {
    // Nodes are reused after a re-plug: the node names the hub at the first listing only.
    held_ = THubTarget{};
    for (THidDevice* hub : hubs_) {
      if (hub->InterfaceInfo().DevicePath == *holdNode_)
        held_ = THubTarget{hub->InterfaceInfo().DevInst, PortOf(hub)};
    }
    holdNode_.reset();
  }
  view_.ShowIndicator(1);
  selected_ = PreferredHub();
  if (selected_ >= 0) {
    THidDevice* hub = hubs_[selected_];
    link_.SetCurrentDevice(hub);
    hub->SetDataHandler(link_.DataHandler());
    view_.ShowIndicator(0);
    if (!hub->CanReadWrite()) {
      view_.AppendLog(AccessDeniedLine(hub));
    }
    // Greets once the exchange in flight, if any, has read its own reply. Never a hub being
    // updated: it may be resetting, and the update does its own talking.
    if (!update_.Running())
      link_.RunWhenIdle([this] { Greet(); });
  }
  // Only a hub plugged in is one to update: not a rebuild for another device, nor the hub
  // being updated coming back from its resets.
  if (!autoQueue_.empty())
    autoUpdatePending_ = true;
  emit HubsChanged();
}

void THubSession::QueueNewHubs(const std::vector<std::uint32_t>& before) {
  if (!autoChecked_)
    return;
  const int updated = updating_ ? UpdatedHub() : -1;
  for (std::size_t i = 0; i < hubs_.size(); ++i) {
    const std::uint32_t devInst = hubs_[i]->InterfaceInfo().DevInst;
    if (std::find(before.begin(), before.end(), devInst) != before.end() ||
        std::find(autoQueue_.begin(), autoQueue_.end(), devInst) != autoQueue_.end()) {
      continue;
    }
    // The hub being updated coming back from a reset is not a new one.
    if (updating_ && (static_cast<int>(i) == updated ||
                      (!updating_->port.empty() && PortOf(hubs_[i]) == updating_->port) ||
                      (!updating_->serial.empty() && SerialOf(hubs_[i]) == updating_->serial))) {
      continue;
    }
    autoQueue_.push_back(devInst);
  }
}

THidDevice* THubSession::CurrentHub() const {
  // The link's device is always one of the listed hubs: a rebuild of the list clears it first.
  const auto it = std::find(hubs_.begin(), hubs_.end(), link_.CurrentDevice());
  return it == hubs_.end() ? nullptr : *it;
}

std::string THubSession::CurrentIdentity() const {
  const THidDevice* hub = CurrentHub();
  return hub ? HubIdentity(hub) : std::string();
}

void THubSession::Greet() {
  THidDevice* hub = CurrentHub();
  if (!hub || update_.Running() || HolderElsewhere(hub))
    return;
  // The wait may rebuild the list and free this object: what follows goes by the identity.
  const std::string identity = HubIdentity(hub);
  link_.SendFrame(CMD_GET_VERSION, GreetingRequest());
  RestoreKeptLedLevels(identity);
}

void THubSession::RestoreKeptLedLevels(const std::string& identity) {
  const auto kept = levelStore_.Load(identity);
  if (!kept)
    view_.AppendLog(Texts::LedStoreProblem(kept.Error().text));
  if (!kept || !*kept)
    return;
  const TLedLevels& levels = **kept;
  // In its bootloader the hub waits for an update, which takes the levels along.
  if (CurrentIdentity() != identity)
    return;
  const bool application = link_.SendFrame(CMD_QUERY_MODE, MakeRequest()) == 0 &&
                           ModeFromReply(0, link_.Reply()) == EHubMode::Application;
  if (!application || CurrentIdentity() != identity)
    return;
  bool restored = true;
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel) {
    leds_.ShowLevel(channel, levels[channel - 1]);
    restored = leds_.SendLevel(channel) == 0 && restored;
  }
  leds_.EndAdjust();
  if (!restored)
    return;
  view_.AppendLog(Texts::KeptLedLevelsWrittenBack);
  if (const TResult<void> removed = levelStore_.Remove(identity); !removed)
    view_.AppendLog(Texts::LedStoreProblem(removed.Error().text));
}

void THubSession::ForgetKeptLedLevels() {
  const std::string identity = CurrentIdentity();
  if (identity.empty() || update_.Running())
    return;
  if (const TResult<void> removed = levelStore_.Remove(identity); !removed)
    view_.AppendLog(Texts::LedStoreProblem(removed.Error().text));
}

bool THubSession::TUpdateTarget::MayBe(const THidDevice* hub) const {
  if (returning && !acceptOld && hub->InterfaceInfo().DevInst == devInst)
    return false;
  const std::string other = SerialOf(hub);
  return serial.empty() || other.empty() || other == serial;
}

int THubSession::UpdatedHub() const {
  const TUpdateTarget& t = *updating_;
  if (!t.returning) {
    if (const int i = IndexOf(hubs_, WithDevInst(t.devInst)); i >= 0)
      return i;
  }
  // Never another hub than the one being updated: its records would go to the wrong one. Its
  // serial number finds it in any socket; without one, its socket does.
  if (!t.serial.empty()) {
    const int i = IndexOf(
        hubs_, [&](const THidDevice* hub) { return t.MayBe(hub) && SerialOf(hub) == t.serial; });
    if (i >= 0)
      return i;
  }
  if (!t.port.empty()) {
    const int i = IndexOf(
        hubs_, [&](const THidDevice* hub) { return t.MayBe(hub) && PortOf(hub) == t.port; });
    if (i >= 0)
      return i;
  }
  // The only hub there is, back in another socket or without a port: it can be no other.
  if (t.onlyHub && hubs_.size() == 1 && t.MayBe(hubs_[0]))
    return 0;
  return t.acceptOld ? IndexOf(hubs_, WithDevInst(t.devInst)) : -1;
}

int THubSession::PreferredHub() const {
  if (updating_)
    return UpdatedHub();
  if (held_) {
    if (const int i = IndexOf(hubs_, WithDevInst(held_->devInst)); i >= 0 || held_->port.empty())
      return i;
    return IndexOf(hubs_, [this](const THidDevice* hub) { return PortOf(hub) == held_->port; });
  }
  return hubs_.empty() ? -1 : 0;
}

void THubSession::FindHubDevice() {
  const int index = PreferredHub();
  if (index >= 0)
    link_.SetCurrentDevice(hubs_[index]);
}

EHubReturn THubSession::RefindUpdatedHub(int waitMs) {
  if (!updating_) {
    FindHubDevice();
    return link_.CurrentDevice() ? EHubReturn::Same : EHubReturn::Gone;
  }
  updating_->returning = true;
  updating_->acceptOld = false;
  link_.SetCurrentDevice(nullptr);
  auto tryFind = [this] {
    const int index = UpdatedHub();
    if (index < 0)
      return false;
    THidDevice* hub = hubs_[index];
    link_.SetCurrentDevice(hub);
    hub->SetDataHandler(link_.DataHandler());
    return true;
  };
  bool found = tryFind();
  if (!found && waitMs > 0) {
    // Slow to come back: wait for device changes, and look again now and then in case a
    // notice was missed or came before the device was complete.
    QEventLoop loop;
    QTimer deadline;
    // The whole wait: a coarse timer may end it a twentieth early.
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer rescan;
    rescan.setInterval(RESCAN_WHILE_WAITING_MS);
    connect(&rescan, &QTimer::timeout, controller_.get(), &THidDeviceController::DeviceChange);
    const auto changed = connect(this, &THubSession::HubsChanged, &loop, [&] {
      if (tryFind()) {
        found = true;
        loop.quit();
      }
    });
    deadline.start(waitMs);
    rescan.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(changed);
  }
  if (!found) {
    // A notice missed altogether: enumerate afresh before giving up.
    controller_->DeviceChange();
    found = tryFind();
  }
  if (!found) {
    // The hub never left: take it as it is rather than strand the update.
    updating_->acceptOld = true;
    found = tryFind();
  }
  updating_->returning = false;
  updating_->acceptOld = false;
  if (!found)
    return EHubReturn::Gone;
  THidDevice* hub = CurrentHub();
  const std::string serial = SerialOf(hub);
  const std::string port = PortOf(hub);
  // Its own serial number, or its own socket: the hub that left. Anything else was taken as the
  // only hub there is, and may be another one.
  const bool same = hub->InterfaceInfo().DevInst == updating_->devInst ||
                    (!serial.empty() && serial == updating_->serial) ||
                    (!port.empty() && port == updating_->port);
  const std::uint32_t oldDevInst = updating_->devInst;
  updating_->devInst = hub->InterfaceInfo().DevInst;
  if (!port.empty())
    updating_->port = port;
  if (held_ && held_->devInst == oldDevInst)
    held_ = *updating_;
  // The lock follows the hub to its new node. Another program talking to that node gets nothing
  // from us; a node that cannot be locked is left to the port lock.
  const TResult<void> followed = updateLock_.FollowNode(hub->InterfaceInfo().DevicePath);
  if (!followed && followed.Error().code == THubLock::IN_USE) {
    view_.AppendLog(Texts::HubInUse(followed.Error().text));
    link_.SetCurrentDevice(nullptr);
    return EHubReturn::Gone;
  }
  return same ? EHubReturn::Same : EHubReturn::OtherSocket;
}

EUpdateResult THubSession::RunUpdate() {
  if (update_.Running())
    return update_.Run();  // says that it is refused
  THidDevice* hub = CurrentHub();
  // One updater per hub on the machine; held until this update has ended, however it ends.
  if (hub) {
    const TResult<void> locked = updateLock_.Acquire(HubKey(hub), hub->InterfaceInfo().DevicePath);
    if (!locked) {
      const TError& why = locked.Error();
      view_.ClearLog();
      view_.AppendLog(why.code == THubLock::IN_USE ? Texts::HubInUse(why.text)
                                                   : Texts::HubNotLocked(why.text));
      return EUpdateResult::HubInUse;
    }
    TUpdateTarget target;
    target.devInst = hub->InterfaceInfo().DevInst;
    target.port = PortOf(hub);
    target.serial = SerialOf(hub);
    target.onlyHub = hubs_.size() == 1;
    updating_ = target;
    update_.SetHubIdentity(HubIdentity(hub));
  }
  struct Forget {
    std::optional<TUpdateTarget>& target;
    THubLock& lock;
    ~Forget() {
      target.reset();
      lock.Release();
    }
  } forget{updating_, updateLock_};
  return update_.Run();
}

bool THubSession::UseHub(int index) {
  if (index < 0 || index >= static_cast<int>(hubs_.size()))
    return false;
  selected_ = index;
  THidDevice* hub = hubs_[index];
  link_.SetCurrentDevice(hub);
  hub->SetDataHandler(link_.DataHandler());
  return true;
}

bool THubSession::HoldHub(int index) {
  if (!UseHub(index))
    return false;
  held_ = THubTarget{hubs_[index]->InterfaceInfo().DevInst, PortOf(hubs_[index])};
  return true;
}

std::optional<TVersionReply> THubSession::CheckVersion() {
  if (selected_ >= 0 && selected_ < static_cast<int>(hubs_.size())) {
    if (const auto holder = HolderElsewhere(hubs_[selected_])) {
      view_.AppendLog(Texts::HubInUse(*holder));
      return std::nullopt;
    }
  }
  if (UseHub(selected_)) {
    view_.ShowIndicator(0);
    link_.SendFrame(CMD_GET_VERSION, GreetingRequest());
  }
  if (!link_.CurrentDevice()) {
    view_.ShowIndicator(1);
    view_.AppendLog(Texts::DeviceDisconnected);
    return std::nullopt;
  }
  const int result = link_.SendFrame(CMD_GET_VERSION, VersionQueryRequest());
  const ReplyBuffer reply = link_.Reply();
  std::optional<TVersionReply> version;
  if (result == 0) {
    version = DecodeVersionReply(reply);
    view_.ShowVersionLines(VersionLines(*version));
    view_.ShowStatus(VersionStatusText(version->application));
  }
  view_.ShowIndicator(0);
  return version;
}

void THubSession::SetAutoUpdate(bool checked) {
  autoChecked_ = checked;
  if (checked) {
    tmrAuto_.start();
  } else {
    tmrAuto_.stop();
  }
  view_.SetManualButtonsEnabled(!checked);
}

void THubSession::RequestAutoUpdate() {
  for (const THidDevice* hub : hubs_) {
    const std::uint32_t devInst = hub->InterfaceInfo().DevInst;
    if (std::find(autoQueue_.begin(), autoQueue_.end(), devInst) == autoQueue_.end())
      autoQueue_.push_back(devInst);
  }
  if (!hubs_.empty())
    autoUpdatePending_ = true;
}

void THubSession::AutoTimerTick() {
  if (!autoUpdatePending_ || Busy())
    return;
  if (autoDelayTicks_ == 0) {
    autoDelayTicks_ = 1;
    return;
  }
  autoDelayTicks_ = 0;
  // A hub plugged in while automatic updating is on comes first, in the order they came.
  while (!autoQueue_.empty()) {
    if (const int i = IndexOf(hubs_, WithDevInst(autoQueue_.front())); i >= 0) {
      selected_ = i;
      break;
    }
    autoQueue_.pop_front();  // gone again
  }
  CheckVersion();
  autoUpdatePending_ = false;
  if (!autoQueue_.empty())
    autoQueue_.pop_front();
  view_.SetAutoUpdateBoxEnabled(false);
  tmrAuto_.stop();
  ProcessPendingEvents();
  const EUpdateResult result = RunUpdate();
  ProcessPendingEvents();
  CheckVersion();
  // Hubs plugged in meanwhile are next.
  if (!autoQueue_.empty())
    autoUpdatePending_ = true;
  tmrAuto_.start();
  view_.SetAutoUpdateBoxEnabled(true);
  emit AutoUpdateFinished(result);
}
