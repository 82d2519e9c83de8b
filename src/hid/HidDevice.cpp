#include "hid/HidDevice.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "hid/HidController.h"
#include "hid/HidHandOver.h"
#include "hid/HidReadThread.h"

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller,
                       std::shared_ptr<THidPlatform> platform)
    : platform_(std::move(platform)), info_(std::move(info)), controller_(controller) {
  if (controller_) {
    // Not claimed yet, so no reader starts here.
    SetDataHandler(controller_->OnDeviceData());
    unplugHandler_ = controller_->OnDeviceUnplug();
  }
  // Opening other devices for writing can wake them from their sleep, and fails on nodes the
  // user may not open anyway: only proving that the node is there.
  int error = 0;
  if (!platform_->Open(*info_, EHidAccess::None, error))
    throw EControllerError(HID_ERR_CANNOT_OPEN);
  attributes_.Size = 12;
  if (!platform_->GetAttributes(*info_, attributes_))
    throw EControllerError(HID_ERR_CANNOT_IDENTIFY);
}

THidDevice::~THidDevice() {
  Teardown();
}

void THidDevice::Teardown() {
  SetDataHandler({});
  unplugHandler_ = {};
  CloseIoHandle();
  CloseReadHandle();
}

std::string THidDevice::OpenErrorText() const {
  const int error = OpenError();
  return error ? std::generic_category().message(error) : std::string();
}

void THidDevice::ProbeAccess() const {
  // A device found gone keeps what was known: there is nothing left to open.
  if (accessKnown_ || !present_)
    return;
  int error = 0;
  std::unique_ptr<THidPlatformHandle> handle =
      platform_->Open(*info_, EHidAccess::ReadWrite, error);
  NoteAccess(handle != nullptr, error);
  if (handle)
    handle->Close();
}

void THidDevice::NoteAccess(bool canReadWrite, int error) const {
  accessKnown_ = true;
  canReadWrite_ = canReadWrite;
  openError_ = canReadWrite ? 0 : error;
}

bool THidDevice::OpenIoHandle() {
  if (IsUsable() && !io_) {
    int error = 0;
    io_ = platform_->Open(*info_, EHidAccess::ReadWrite, error);
    NoteAccess(io_ != nullptr, error);
    if (!io_) {
      lastError_ = static_cast<std::uint32_t>(error);
      io_ = platform_->Open(*info_, EHidAccess::None, error);
    }
    if (io_) {
      // 0 only reads the current length back.
      inputBufferCount_ = io_->SetQueueLength(inputBufferCount_);
    }
  }
  return io_ != nullptr;
}

void THidDevice::CloseIoHandle() {
  if (io_) {
    io_->Close();
    io_.reset();
  }
  inputBufferCount_ = 0;
}

std::shared_ptr<THidPlatformHandle> THidDevice::StartRead(int& error) {
  // Tested under the lock: MarkUnplugged clears IsPresent under it before it closes the
  // handle, so a reader can never open a fresh handle on a device found gone.
  std::lock_guard lock(ioMutex_);
  if (!IsUsable()) {
    error = present_ ? EBADF : ENODEV;
    return nullptr;
  }
  if (!read_) {
    std::unique_ptr<THidPlatformHandle> handle = platform_->Open(*info_, EHidAccess::Read, error);
    if (!handle)
      return nullptr;
    readBufferCount_ = handle->SetQueueLength(readBufferCount_);
    read_ = std::move(handle);
  }
  return read_;
}

bool THidDevice::OpenReadHandle() {
  int error = 0;
  return StartRead(error) != nullptr;
}

bool THidDevice::ReadHandleOpen() const {
  std::lock_guard lock(ioMutex_);
  return read_ != nullptr;
}

void THidDevice::CloseReadHandle() {
  std::lock_guard lock(ioMutex_);
  if (read_) {
    // A read waiting on it ends; the reader keeps the object alive until it lets go.
    read_->Close();
    read_.reset();
  }
  readBufferCount_ = 0;
}

void THidDevice::SetInputBufferCount(std::uint32_t count) {
  if (count != inputBufferCount_ && OpenIoHandle())
    inputBufferCount_ = io_->SetQueueLength(count);
}

void THidDevice::SetReadBufferCount(std::uint32_t count) {
  if (count == readBufferCount_ || !OpenReadHandle())
    return;
  std::lock_guard lock(ioMutex_);
  if (read_)
    readBufferCount_ = read_->SetQueueLength(count);
}

void THidDevice::SetReaderSleepTime(std::int32_t ms) {
  if (ms >= MIN_READER_SLEEP_TIME && ms <= MAX_READER_SLEEP_TIME)
    readerSleepTime_ = ms;
}

void THidDevice::FetchCaps() {
  {
    std::lock_guard lock(ioMutex_);
    if (capsFetched_)
      return;
  }
  if (!OpenIoHandle())
    return;
  HIDP_CAPS caps;
  const bool ok = platform_->GetCaps(*info_, caps);
  {
    std::lock_guard lock(ioMutex_);
    capsFetched_ = ok;
    caps_ = ok ? caps : HIDP_CAPS{};
  }
  CloseIoHandle();
}

HIDP_CAPS THidDevice::QueryCaps() {
  FetchCaps();
  std::lock_guard lock(ioMutex_);
  return caps_;
}

bool THidDevice::WriteReport(const std::uint8_t* buffer, std::uint32_t count,
                             std::uint32_t& written) {
  written = 0;
  if (!IsUsable()) {
    lastError_ = present_ ? EBADF : ENODEV;
    errno = static_cast<int>(lastError_);
    return false;
  }
  if (!OpenIoHandle()) {
    errno = static_cast<int>(lastError_);
    return false;
  }
  std::size_t done = 0;
  int error = 0;
  if (!io_->Write(buffer, count, done, error)) {
    lastError_ = static_cast<std::uint32_t>(error);
    errno = error;
    return false;
  }
  written = static_cast<std::uint32_t>(done);
  return true;
}

void THidDevice::SetDataHandler(const THidDataEvent& handler) {
  if (!handler)
    StopReader();
  dataHandler_ = handler;
  StartReader();
}

void THidDevice::DiscardPendingInput() {
  std::lock_guard lock(ioMutex_);
  // Reports already read but not yet delivered carry an older count and are dropped when
  // their hand-over runs.
  ++discardEpoch_;
  if (read_)
    read_->DiscardInput();
}

void THidDevice::DeliverPendingInput() {
  THidHandOver::Instance().RunQueued();
}

void THidDevice::StartReader() {
  if (!dataHandler_ || !present_ || !claimed_ || reader_ || !CanReadWrite())
    return;
  THidHandOver::Instance();  // made on this thread, the one that serves it
  reader_ = std::make_unique<THidDeviceReadThread>(this);
  reader_->Start();
}

void THidDevice::StopReader() {
  if (!reader_)
    return;
  reader_->RequestTermination();
  // The reader may be blocked in a hand-over: keep serving them until it has ended.
  THidDeviceReadThread* reader = reader_.get();
  THidHandOver::Instance().ServeUntil([reader] { return reader->Ended(); });
  reader_->Wait();
  reader_.reset();
}

bool THidDevice::ReaderRunning() const {
  return reader_ && !reader_->Ended();
}

void THidDevice::WakeReader() {
  std::lock_guard lock(ioMutex_);
  if (read_)
    read_->Wake();
}

THidDevice::EReadOutcome THidDevice::WaitReport(THidPlatformHandle& handle,
                                                const std::atomic<bool>& terminated, int& error) {
  for (;;) {
    if (terminated)
      return EReadOutcome::Stopped;
    const THidPlatformHandle::EWait wait = handle.WaitInput();
    if (terminated)
      return EReadOutcome::Stopped;
    switch (wait) {
      case THidPlatformHandle::EWait::Woken:
        continue;  // a stale wake-up from an earlier stop
      case THidPlatformHandle::EWait::Closed:
        return EReadOutcome::Nothing;
      case THidPlatformHandle::EWait::Lost:
        error = ENODEV;
        return EReadOutcome::Lost;
      case THidPlatformHandle::EWait::Ready:
        return EReadOutcome::Report;
    }
  }
}

THidDevice::EReadOutcome THidDevice::ReadOne(THidPlatformHandle& handle, std::uint8_t* buffer,
                                             std::size_t count, std::size_t& got,
                                             std::uint64_t& epoch, int& error) {
  // Read and note the discard count in one step, so that DiscardPendingInput either drops
  // the report from the queue or marks it stale.
  std::lock_guard lock(ioMutex_);
  switch (handle.ReadInput(buffer, count, got, error)) {
    case THidPlatformHandle::ERead::Report:
      epoch = discardEpoch_;
      return EReadOutcome::Report;
    case THidPlatformHandle::ERead::Empty:
      return EReadOutcome::Empty;
    case THidPlatformHandle::ERead::Lost:
      break;
  }
  return EReadOutcome::Lost;
}

void THidDevice::AdoptCaps(const THidDevice& from) {
  bool fetched = false;
  HIDP_CAPS caps;
  {
    std::lock_guard lock(from.ioMutex_);
    fetched = from.capsFetched_;
    caps = from.caps_;
  }
  std::lock_guard lock(ioMutex_);
  capsFetched_ = fetched;
  caps_ = caps;
}

HIDP_CAPS THidDevice::ReaderCaps() const {
  std::lock_guard lock(ioMutex_);
  return caps_;
}

void THidDevice::DeliverReport(const std::uint8_t* buffer, std::uint32_t bytesRead,
                               std::uint64_t epoch) {
  {
    std::lock_guard lock(ioMutex_);
    if (epoch != discardEpoch_)
      return;
  }
  if (!dataHandler_)
    return;
  dataHandler_(this, buffer[0], buffer + 1, static_cast<std::uint16_t>(bytesRead - 1));
}

void THidDevice::DeliverReadError(std::uint32_t error) {
  if (dataErrorHandler_)
    dataErrorHandler_(this, error);
}

void THidDevice::DeliverLoss(std::uint32_t error) {
  // The rescan must not run here: its handlers may release this device, whose StopReader would
  // then wait for the reader that waits for this step.
  if (present_ && controller_)
    controller_->RequestRescan();
  DeliverReadError(error);
}

void THidDevice::DropReadHandle(const THidPlatformHandle* handle) {
  std::lock_guard lock(ioMutex_);
  if (read_.get() == handle) {
    read_->Close();
    read_.reset();
  }
}

namespace {

bool NoReports(const HIDP_CAPS& caps) {
  return caps.InputReportByteLength == 0 && caps.OutputReportByteLength == 0 &&
         caps.FeatureReportByteLength == 0;
}

}  // namespace

bool THidDevice::RetryAccess(bool& regained) {
  int error = 0;
  if (std::unique_ptr<THidPlatformHandle> probe =
          platform_->Open(*info_, EHidAccess::ReadWrite, error)) {
    probe->Close();
    NoteAccess(true, 0);
    regained = true;
    // A handle opened without rights cannot write: the next write opens a real one.
    if (io_)
      CloseIoHandle();
    StartReader();
    return true;
  }
  const int refused = error;
  if (!platform_->Open(*info_, EHidAccess::None, error))
    return false;
  NoteAccess(false, refused);
  return true;
}

bool THidDevice::RefreshIdentity(const THidPnPInfo& fresh) {
  bool emptyCaps = false;
  {
    std::lock_guard lock(ioMutex_);
    emptyCaps = capsFetched_ && NoReports(caps_);
  }
  // The properties come with every scan, so comparing them is free; the attributes are read
  // again only when they changed (HID_ID among them), which keeps a rescan cheap.
  const bool propertiesChanged = fresh.Properties != info_->Properties;
  if (!propertiesChanged && !emptyCaps)
    return false;
  bool changed = false;
  if (propertiesChanged) {
    std::lock_guard lock(ioMutex_);
    info_->Properties = fresh.Properties;
    changed = true;
  }
  HIDD_ATTRIBUTES attributes = attributes_;
  if (platform_->GetAttributes(*info_, attributes) &&
      (attributes.VendorID != attributes_.VendorID ||
       attributes.ProductID != attributes_.ProductID ||
       attributes.VersionNumber != attributes_.VersionNumber)) {
    attributes_ = attributes;
    changed = true;
  }
  HIDP_CAPS caps;
  if (emptyCaps && platform_->GetCaps(*info_, caps) && !NoReports(caps)) {
    std::lock_guard lock(ioMutex_);
    caps_ = caps;
    changed = true;
  }
  return changed;
}

void THidDevice::MarkUnplugged() {
  {
    std::lock_guard lock(ioMutex_);
    present_ = false;
  }
  CloseIoHandle();
  CloseReadHandle();
  // Cleared first, so that it runs once even if it throws.
  const THidPlugEvent handler = unplugHandler_;
  unplugHandler_ = {};
  if (handler)
    handler(this);
}
