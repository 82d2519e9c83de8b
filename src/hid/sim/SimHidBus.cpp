#include "hid/sim/SimHidBus.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <string>

#include "hid/ReportDescriptor.h"

namespace {

// Input reports kept per read handle, as many as hidraw keeps.
constexpr std::uint32_t QUEUE_LENGTH = 64;

class TSimHandle;

// The reports queued for one handle, in slots that keep their storage: a report costs no
// allocation once each slot has held one.
class TReportRing {
 public:
  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }
  const std::vector<std::uint8_t>& front() const { return slots_[head_]; }
  void pop() {
    head_ = (head_ + 1) % QUEUE_LENGTH;
    --count_;
  }
  void push(const std::uint8_t* report, std::size_t size) {
    slots_[(head_ + count_) % QUEUE_LENGTH].assign(report, report + size);
    ++count_;
  }
  void clear() { head_ = count_ = 0; }

 private:
  std::array<std::vector<std::uint8_t>, QUEUE_LENGTH> slots_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

}  // namespace

struct TSimHidBus::TState {
  struct Device {
    TDeviceConfig config;
    // Shared, so that a write takes it out of the lock without copying what it captured.
    std::shared_ptr<const TOutputCallback> onOutput;
    bool attached = false;
    std::uint32_t devInst = 0;
    std::size_t openCount = 0;
    std::map<EHidAccess, std::size_t> opensByKind;
    std::vector<TSimHandle*> handles;  // open handles of the current attachment
  };

  std::mutex mutex;
  std::map<TSimDeviceId, Device> devices;
  TSimDeviceId nextId = 1;
  std::uint32_t nextDevInst = 1;
  bool available = true;
  bool noticesAvailable = true;
  std::function<void()> notice;
  bool noticePosted = false;

  // The device behind an interface record, if that attachment is still current.
  Device* Find(const THidPnPInfo& info) {
    const auto it = devices.find(static_cast<TSimDeviceId>(std::stoul(info.SysPath)));
    if (it == devices.end() || !it->second.attached || it->second.devInst != info.DevInst) {
      return nullptr;
    }
    return &it->second;
  }
};

namespace {

class TSimHandle : public THidPlatformHandle {
 public:
  TSimHandle(std::shared_ptr<TSimHidBus::TState> state, TSimDeviceId id, EHidAccess access)
      : state_(std::move(state)), id_(id), access_(access) {}

  ~TSimHandle() override { Close(); }

  TResult<void> Write(const std::uint8_t* data, std::size_t size) override {
    std::shared_ptr<const TSimHidBus::TOutputCallback> callback;
    {
      std::lock_guard lock(state_->mutex);
      if (closed_ || access_ != EHidAccess::ReadWrite)
        return SystemError(QStringLiteral("write"), EBADF);
      if (lost_)
        return SystemError(QStringLiteral("write"), ENODEV);
      const TSimHidBus::TState::Device& device = state_->devices.at(id_);
      callback = device.onOutput;
    }
    // Outside the lock: the emulator answers from here.
    if (callback && *callback)
      (*callback)(data, size);
    return {};
  }

  EWait WaitInput() override {
    std::unique_lock lock(state_->mutex);
    changed_.wait(lock, [this] { return closed_ || woken_ || lost_ || !queue_.empty(); });
    if (closed_)
      return EWait::Closed;
    if (woken_) {
      woken_ = false;
      return EWait::Woken;
    }
    return queue_.empty() ? EWait::Lost : EWait::Ready;
  }

  ERead ReadInput(std::uint8_t* buffer, std::size_t capacity, std::size_t& got,
                  int& error) override {
    got = 0;
    std::lock_guard lock(state_->mutex);
    if (queue_.empty()) {
      if (!lost_ && !closed_)
        return ERead::Empty;
      error = closed_ ? EBADF : ENODEV;
      return ERead::Lost;
    }
    const std::vector<std::uint8_t>& report = queue_.front();
    got = std::min(capacity, report.size());
    std::copy_n(report.begin(), got, buffer);
    queue_.pop();
    return ERead::Report;
  }

  void DiscardInput() override {
    std::lock_guard lock(state_->mutex);
    queue_.clear();
  }

  void Wake() override {
    std::lock_guard lock(state_->mutex);
    woken_ = true;
    changed_.notify_all();
  }

  void Close() override {
    std::lock_guard lock(state_->mutex);
    if (closed_)
      return;
    closed_ = true;
    Unlist();
    changed_.notify_all();
  }

  // Under the bus lock.
  // Only the reader's handles take input: the program never reads the others.
  bool ReadsInput() const { return access_ == EHidAccess::Read && !closed_ && !lost_; }
  void Push(const std::uint8_t* report, std::size_t size) {
    if (queue_.size() >= QUEUE_LENGTH)
      queue_.pop();
    queue_.push(report, size);
    changed_.notify_all();
  }
  void MarkLost() {
    lost_ = true;
    changed_.notify_all();
  }

 private:
  void Unlist() {
    const auto it = state_->devices.find(id_);
    if (it != state_->devices.end())
      std::erase(it->second.handles, this);
  }

  std::shared_ptr<TSimHidBus::TState> state_;
  TSimDeviceId id_;
  EHidAccess access_;
  std::condition_variable changed_;
  TReportRing queue_;
  bool closed_ = false;
  bool woken_ = false;
  bool lost_ = false;
};

}  // namespace

TSimHidBus::TSimHidBus() : state_(std::make_shared<TState>()), context_(new QObject) {}

TSimHidBus::~TSimHidBus() {
  // Pending notices die with their context.
  delete context_;
  std::lock_guard lock(state_->mutex);
  for (auto& [id, device] : state_->devices) {
    for (TSimHandle* handle : device.handles)
      handle->MarkLost();
    device.handles.clear();
    device.attached = false;
  }
}

void TSimHidBus::PostNotice() {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->noticePosted || !state_->notice)
      return;
    state_->noticePosted = true;
  }
  std::weak_ptr<TState> weak = state_;
  QMetaObject::invokeMethod(
      context_,
      [weak] {
        std::shared_ptr<TState> state = weak.lock();
        if (!state)
          return;
        std::function<void()> notice;
        {
          std::lock_guard lock(state->mutex);
          state->noticePosted = false;
          notice = state->notice;
        }
        if (notice)
          notice();
      },
      Qt::QueuedConnection);
}

TSimDeviceId TSimHidBus::Attach(const TDeviceConfig& config, TOutputCallback onOutput) {
  TSimDeviceId id = 0;
  {
    std::lock_guard lock(state_->mutex);
    id = state_->nextId++;
    TState::Device& device = state_->devices[id];
    device.config = config;
    device.onOutput = std::make_shared<const TOutputCallback>(std::move(onOutput));
    device.attached = true;
    device.devInst = state_->nextDevInst++;
  }
  PostNotice();
  return id;
}

bool TSimHidBus::Detach(TSimDeviceId id, bool notify) {
  {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->devices.find(id);
    if (it == state_->devices.end() || !it->second.attached)
      return false;
    it->second.attached = false;
    for (TSimHandle* handle : it->second.handles)
      handle->MarkLost();
    it->second.handles.clear();
  }
  if (notify)
    PostNotice();
  return true;
}

bool TSimHidBus::Reattach(TSimDeviceId id) {
  {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->devices.find(id);
    if (it == state_->devices.end() || it->second.attached)
      return false;
    it->second.attached = true;
    it->second.devInst = state_->nextDevInst++;
  }
  PostNotice();
  return true;
}

std::size_t TSimHidBus::PushInput(TSimDeviceId id, const std::uint8_t* report, std::size_t size) {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->devices.find(id);
  if (it == state_->devices.end() || !it->second.attached)
    return 0;
  std::size_t reached = 0;
  for (TSimHandle* handle : it->second.handles) {
    if (!handle->ReadsInput())
      continue;
    handle->Push(report, size);
    ++reached;
  }
  return reached;
}

void TSimHidBus::SetAccess(TSimDeviceId id, EAccess access) {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->devices.find(id);
  if (it != state_->devices.end())
    it->second.config.Access = access;
}

std::uint32_t TSimHidBus::DevInst(TSimDeviceId id) const {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->devices.find(id);
  return it == state_->devices.end() ? 0 : it->second.devInst;
}

std::size_t TSimHidBus::OpenReadHandles(TSimDeviceId id) const {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->devices.find(id);
  if (it == state_->devices.end())
    return 0;
  return static_cast<std::size_t>(std::count_if(it->second.handles.begin(),
                                                it->second.handles.end(),
                                                [](TSimHandle* h) { return h->ReadsInput(); }));
}

std::size_t TSimHidBus::OpenCount(TSimDeviceId id) const {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->devices.find(id);
  return it == state_->devices.end() ? 0 : it->second.openCount;
}

std::size_t TSimHidBus::OpenCount(TSimDeviceId id, EHidAccess access) const {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->devices.find(id);
  if (it == state_->devices.end())
    return 0;
  const auto kind = it->second.opensByKind.find(access);
  return kind == it->second.opensByKind.end() ? 0 : kind->second;
}

void TSimHidBus::SetAvailable(bool available) {
  std::lock_guard lock(state_->mutex);
  state_->available = available;
}

void TSimHidBus::SetNoticesAvailable(bool available) {
  std::lock_guard lock(state_->mutex);
  state_->noticesAvailable = available;
}

bool TSimHidBus::Available() {
  std::lock_guard lock(state_->mutex);
  return state_->available;
}

std::vector<THidPnPInfo> TSimHidBus::Enumerate() {
  std::lock_guard lock(state_->mutex);
  std::vector<THidPnPInfo> list;
  for (const auto& [id, device] : state_->devices) {
    if (!device.attached)
      continue;
    THidPnPInfo info;
    info.DevInst = device.devInst;
    info.DevicePath = "sim:hidraw" + std::to_string(device.devInst);
    info.SysPath = std::to_string(id);
    if (!device.config.Name.empty())
      info.Properties["HID_NAME"] = device.config.Name;
    // The port: the same for every attachment of one device, as a re-plugged USB device keeps
    // its place on the bus.
    info.Properties["HID_PHYS"] = "sim-port-" + std::to_string(id);
    info.Properties["HID_UNIQ"] = device.config.Serial;
    list.push_back(std::move(info));
  }
  // In attachment order, like the kernel's numbering.
  std::sort(list.begin(), list.end(),
            [](const THidPnPInfo& a, const THidPnPInfo& b) { return a.DevInst < b.DevInst; });
  return list;
}

THidPlatform::THandleResult TSimHidBus::Open(const THidPnPInfo& info, EHidAccess access) {
  std::lock_guard lock(state_->mutex);
  const QString path = QString::fromStdString(info.DevicePath);
  TState::Device* device = state_->Find(info);
  if (!device)
    return SystemError(path, ENOENT);
  ++device->opensByKind[access];
  const EAccess rights = device->config.Access;
  if (rights == EAccess::None ||
      (rights == EAccess::AttributesOnly && access != EHidAccess::None)) {
    return SystemError(path, EACCES);
  }
  ++device->openCount;
  auto handle = std::make_unique<TSimHandle>(
      state_, static_cast<TSimDeviceId>(std::stoul(info.SysPath)), access);
  device->handles.push_back(handle.get());
  return std::unique_ptr<THidPlatformHandle>(std::move(handle));
}

TResult<HIDD_ATTRIBUTES> TSimHidBus::GetAttributes(const THidPnPInfo& info) {
  std::lock_guard lock(state_->mutex);
  const TState::Device* device = state_->Find(info);
  if (!device)
    return SystemError(QString::fromStdString(info.DevicePath), ENODEV);
  HIDD_ATTRIBUTES attributes;
  attributes.VendorID = device->config.VendorID;
  attributes.ProductID = device->config.ProductID;
  attributes.VersionNumber = device->config.VersionNumber;
  return attributes;
}

TResult<HIDP_CAPS> TSimHidBus::GetCaps(const THidPnPInfo& info) {
  std::lock_guard lock(state_->mutex);
  const TState::Device* device = state_->Find(info);
  if (!device)
    return SystemError(QString::fromStdString(info.DevicePath), ENODEV);
  const TDeviceConfig& config = device->config;
  return config.Caps ? *config.Caps
                     : CapsFromReportDescriptor(config.ReportDescriptor.data(),
                                                config.ReportDescriptor.size());
}

bool TSimHidBus::SetChangeNotice(std::function<void()> notice) {
  std::lock_guard lock(state_->mutex);
  if (!state_->noticesAvailable) {
    state_->notice = {};
    return false;
  }
  state_->notice = std::move(notice);
  return true;
}
