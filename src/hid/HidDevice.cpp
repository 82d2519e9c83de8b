#include "hid/HidDevice.h"

#include <algorithm>
#include <cerrno>

#include "hid/HidHandOver.h"
#include "hid/HidReadThread.h"

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> info, std::shared_ptr<THidPlatform> platform,
                       THidLostEvent lost)
    : platform_(std::move(platform)), info_(std::move(info)), lost_(lost) {}

TResult<std::unique_ptr<THidDevice>> THidDevice::Make(std::unique_ptr<THidPnPInfo> info,
                                                      std::shared_ptr<THidPlatform> platform,
                                                      THidLostEvent lost) {
  std::unique_ptr<THidDevice> device(new THidDevice(std::move(info), std::move(platform), lost));
  // Opening other devices for writing can wake them from their sleep, and fails on nodes the
  // user may not open anyway: only proving that the node is there.
  if (THidPlatform::THandleResult probe = device->platform_->Open(*device->info_, EHidAccess::None);
      !probe) {
    return probe.Error();
  }
  TResult<HIDD_ATTRIBUTES> attributes = device->platform_->GetAttributes(*device->info_);
  if (!attributes) {
    return attributes.Error().Prefixed(QString::fromStdString(device->info_->DevicePath) +
                                       QStringLiteral(": cannot read its identity"));
  }
  device->attributes_ = *attributes;
  return device;
}

THidDevice::~THidDevice() {
  Teardown();
}

void THidDevice::Teardown() {
  SetDataHandler({});
  CloseIoHandle();
  CloseReadHandle();
}

std::unique_ptr<THidPnPInfo> THidDevice::TakeInterfaceInfo() {
  Teardown();
  return std::move(info_);
}

std::string THidDevice::OpenErrorText() const {
  const int error = OpenError();
  return error ? ErrnoText(error).toStdString() : std::string();
}

void THidDevice::ProbeAccess() const {
  // A device found gone keeps what was known: there is nothing left to open.
  if (accessKnown_ || !present_)
    return;
  THidPlatform::THandleResult handle = platform_->Open(*info_, EHidAccess::ReadWrite);
  NoteAccess(handle);
  if (handle)
    (*handle)->Close();
}

void THidDevice::NoteAccess(const THidPlatform::THandleResult& open) const {
  accessKnown_ = true;
  canReadWrite_ = open.Ok();
  openError_ = open ? 0 : open.Error().code;
}

bool THidDevice::OpenIoHandle() {
  if (IsUsable() && !io_) {
    THidPlatform::THandleResult open = platform_->Open(*info_, EHidAccess::ReadWrite);
    NoteAccess(open);
    if (!open)
      open = platform_->Open(*info_, EHidAccess::None);
    if (open)
      io_ = std::move(*open);
  }
  return io_ != nullptr;
}

void THidDevice::CloseIoHandle() {
  if (io_) {
    io_->Close();
    io_.reset();
  }
}

std::shared_ptr<THidPlatformHandle> THidDevice::StartRead() {
  // Tested under the lock: MarkUnplugged clears IsPresent under it before it closes the
  // handle, so a reader can never open a fresh handle on a device found gone.
  std::lock_guard lock(ioMutex_);
  if (!IsUsable())
    return nullptr;
  if (!read_) {
    THidPlatform::THandleResult open = platform_->Open(*info_, EHidAccess::Read);
    if (!open)
      return nullptr;
    read_ = std::move(*open);
  }
  return read_;
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
}

void THidDevice::FetchCaps() {
  {
    std::lock_guard lock(ioMutex_);
    if (capsFetched_)
      return;
  }
  if (!OpenIoHandle())
    return;
  const TResult<HIDP_CAPS> caps = platform_->GetCaps(*info_);
  {
    std::lock_guard lock(ioMutex_);
    capsFetched_ = caps.Ok();
    caps_ = caps ? *caps : HIDP_CAPS{};
  }
  CloseIoHandle();
}

HIDP_CAPS THidDevice::QueryCaps() {
  FetchCaps();
  std::lock_guard lock(ioMutex_);
  return caps_;
}

TResult<void> THidDevice::WriteReport(const std::uint8_t* buffer, std::uint32_t count) {
  // Every exchange writes: the device's name is only made into a text on failure.
  const auto path = [this] { return QString::fromStdString(info_->DevicePath); };
  if (!IsUsable())
    return SystemError(path(), present_ ? EBADF : ENODEV);
  // Without the right to write, the refused open says why.
  if (!OpenIoHandle() || !canReadWrite_)
    return SystemError(path(), openError_ ? openError_ : EBADF);
  if (TResult<void> written = io_->Write(buffer, count); !written)
    return written.Error().Prefixed(path());
  return {};
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
  if (!reader_ || !reader_->BeginOwnRead())
    return;
  // The reader holds: what waits is read here, in order, as the reader would have.
  std::shared_ptr<THidPlatformHandle> handle = StartRead();
  std::vector<std::uint8_t>& buffer = reader_->OwnReadBuffer();
  const std::size_t len = std::min<std::size_t>(ReaderCaps().InputReportByteLength, buffer.size());
  bool lost = !handle;
  bool raised = false;
  while (handle && len > 0 && !raised) {
    std::size_t got = 0;
    std::uint64_t epoch = 0;
    int error = 0;
    std::fill_n(buffer.begin(), len, 0);
    const EReadOutcome outcome = ReadOne(*handle, buffer.data(), len, got, epoch, error);
    if (outcome == EReadOutcome::Lost)
      lost = true;
    if (outcome != EReadOutcome::Report)
      break;
    if (got == 0)
      continue;
    // As in the hand-over: a handler that raises ends this device's reading.
    try {
      DeliverReport(buffer.data(), static_cast<std::uint32_t>(got), epoch);
    } catch (...) {
      raised = true;
    }
  }
  reader_->EndOwnRead();
  if (raised)
    reader_->RequestTermination();
  else if (lost)
    reader_->Release();  // a hang-up is the reader's to find and report
}

void THidDevice::HoldReader(bool hold) {
  if (!reader_)
    return;
  if (hold)
    reader_->Hold();
  else
    reader_->Release();
}

void THidDevice::Claim() {
  claimed_ = true;
  StartReader();
}

void THidDevice::StartReader() {
  if (!dataHandler_ || !present_ || !claimed_ || reader_ || !CanReadWrite())
    return;
  THidHandOver::Instance();  // made on this thread, the one that serves it
  reader_ = std::make_unique<THidDeviceReadThread>(this);  // fetches the report lengths
  // The node only queues input for handles already open: opened here, not by the reader, a
  // reply to a write made right after this call is not lost.
  if (ReaderCaps().InputReportByteLength > 0)
    StartRead();
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
                                                const std::atomic<bool>& terminated,
                                                const std::atomic<bool>& holdAsked, int& error) {
  for (;;) {
    // Looked at once the handle is open: a stop or hold asked before it was has woken nothing.
    if (terminated || holdAsked)
      return EReadOutcome::Stopped;
    const THidPlatformHandle::EWait wait = handle.WaitInput();
    if (terminated || holdAsked)
      return EReadOutcome::Stopped;
    switch (wait) {
      case THidPlatformHandle::EWait::Woken:
        // A stop or a hold: the reader looks at both before it waits again.
        return EReadOutcome::Stopped;
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

void THidDevice::DeliverLoss() {
  // A device found gone already needs no second look.
  if (present_ && lost_)
    lost_(this);
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

bool THidDevice::StillThere() const {
  return platform_->Open(*info_, EHidAccess::None).Ok();
}

bool THidDevice::RetryAccess(bool& regained) {
  THidPlatform::THandleResult probe = platform_->Open(*info_, EHidAccess::ReadWrite);
  if (probe) {
    (*probe)->Close();
    NoteAccess(probe);
    regained = true;
    // A handle opened without rights cannot write: the next write opens a real one.
    if (io_)
      CloseIoHandle();
    StartReader();
    return true;
  }
  if (!StillThere())
    return false;
  NoteAccess(probe);
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
  const TResult<HIDD_ATTRIBUTES> attributes = platform_->GetAttributes(*info_);
  if (attributes && (attributes->VendorID != attributes_.VendorID ||
                     attributes->ProductID != attributes_.ProductID ||
                     attributes->VersionNumber != attributes_.VersionNumber)) {
    attributes_ = *attributes;
    changed = true;
  }
  if (emptyCaps) {
    const TResult<HIDP_CAPS> caps = platform_->GetCaps(*info_);
    if (caps && !NoReports(*caps)) {
      std::lock_guard lock(ioMutex_);
      caps_ = *caps;
      changed = true;
    }
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
}
