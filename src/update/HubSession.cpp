#include "update/HubSession.h"

#include "protocol/Commands.h"
#include "update/BuildConfig.h"
#include "update/EmbeddedFirmware.h"
#include "update/Pause.h"
#include "update/Texts.h"
#include "update/Version.h"

bool IsHub(const THidDevice* device) {
  return device->Attributes().VendorID == HUB_VENDOR_ID &&
         device->Attributes().ProductID == HUB_PRODUCT_ID;
}

QString AccessDeniedLine(const THidDevice* hub) {
  return Texts::AccessDenied(QString::fromStdString(hub->InterfaceInfo().DevicePath),
                             QString::fromStdString(hub->OpenErrorText()));
}

namespace {

// The USB port a device hangs on ("usb-0000:00:14.0-2" of "usb-0000:00:14.0-2/input0"): the
// bootloader may come back with another interface number, never on another port.
std::string PortOf(const THidDevice* device) {
  const auto& properties = device->InterfaceInfo().Properties;
  const auto it = properties.find("HID_PHYS");
  if (it == properties.end())
    return {};
  const std::string& phys = it->second;
  return phys.substr(0, phys.rfind("/input"));
}
}  // namespace

THubSession::THubSession(TUpdaterView& view, QObject* parent)
    : QObject(parent),
      view_(view),
      leds_(link_),
      update_(link_, image_, leds_, view_, [this] { FindHubDevice(); }) {
  leds_.onLevelShown = [this](int channel, int level) { view_.ShowLedLevel(channel, level); };
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
                        std::optional<FirmwareLines> image) {
  controller_ = std::make_unique<THidDeviceController>(this, std::move(platform));
  controller_->SetOnDeviceChange(TNotifyEvent::Bind<&THubSession::HidDeviceChange>(this));
  controller_->EnumerateDevices();
  image_ = image ? std::move(*image) : LoadEmbeddedFirmware();
  tmrAuto_.start();
}

void THubSession::HidDeviceChange(THidDeviceController* controller) {
  try {
    link_.SetCurrentDevice(nullptr);
    for (THidDevice*& hub : hubs_)
      controller->ReleaseDevice(hub);
    hubs_.clear();
    selected_ = -1;

    std::vector<THidDevice*> others;
    THidDevice* device = nullptr;
    while (controller->ClaimNextDevice(device)) {
      if (!IsHub(device)) {
        others.push_back(device);
        continue;
      }
      hubs_.push_back(device);
      device->SetInputBufferCount(HUB_QUEUE_LENGTH);
      device->SetReadBufferCount(HUB_QUEUE_LENGTH);
    }
    // Other devices go straight back: we never talk to them, and an unplugged one kept
    // claimed would be reported as removed again at every later change.
    for (THidDevice*& other : others)
      controller->ReleaseDevice(other);

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
      // Greets once the exchange in flight, if any, has read its own reply.
      link_.RunWhenIdle([this] { Greet(); });
      if (autoChecked_ && !update_.Running())
        autoUpdatePending_ = true;
    }
  } catch (...) {
    // Runs unattended: whatever was listed before the failure stays listed.
  }
  emit HubsChanged();
}

void THubSession::Greet() {
  if (link_.CurrentDevice())
    link_.SendFrame(CMD_GET_VERSION, GreetingRequest());
}

int THubSession::PreferredHub() const {
  if (updatePort_.empty())
    return hubs_.empty() ? -1 : 0;
  // Never another hub than the one being updated: its records would go to the wrong one.
  for (std::size_t i = 0; i < hubs_.size(); ++i) {
    if (PortOf(hubs_[i]) == updatePort_)
      return static_cast<int>(i);
  }
  return -1;
}

void THubSession::FindHubDevice() {
  const int index = PreferredHub();
  if (index >= 0)
    link_.SetCurrentDevice(hubs_[index]);
}

EUpdateResult THubSession::RunUpdate() {
  auto* hub = dynamic_cast<THidDevice*>(link_.CurrentDevice());
  updatePort_ = hub ? PortOf(hub) : std::string();
  struct Forget {
    std::string& port;
    ~Forget() { port.clear(); }
  } forget{updatePort_};
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

std::optional<VersionReply> THubSession::CheckVersion() {
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
  std::optional<VersionReply> version;
  if (result == 0) {
    version = DecodeVersionReply(reply);
    view_.ShowVersionLines(VersionLines(*version));
    view_.ShowStatus(VersionStatusText(version->application));
  }
  view_.ShowIndicator(0);
  return version;
}

EUpdateResult THubSession::Update() {
  return RunUpdate();
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

void THubSession::AutoTimerTick() {
  if (!autoUpdatePending_ || Busy())
    return;
  if (autoDelayTicks_ == 0) {
    autoDelayTicks_ = 1;
    return;
  }
  autoDelayTicks_ = 0;
  try {
    CheckVersion();
  } catch (...) {
    return;  // still pending: tried again on a later tick
  }
  autoUpdatePending_ = false;
  view_.SetAutoUpdateBoxEnabled(false);
  tmrAuto_.stop();
  EUpdateResult result = EUpdateResult::Error;
  try {
    ProcessPendingEvents();
    result = RunUpdate();
    ProcessPendingEvents();
    CheckVersion();
  } catch (...) {
    // An unattended run: the box and the timer come back whatever happened.
  }
  tmrAuto_.start();
  view_.SetAutoUpdateBoxEnabled(true);
  emit AutoUpdateFinished(result);
}
