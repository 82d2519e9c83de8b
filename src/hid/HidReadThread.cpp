#include "hid/HidReadThread.h"

#include <cerrno>
#include <chrono>

#include "hid/HidDevice.h"
#include "hid/HidHandOver.h"

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device)
    : device_(device),
      reportStep_(&DeliverReportStep, this, &EndAfterRaise),
      lossStep_(&DeliverLossStep, this) {
  reportBuffer_.resize(device_->QueryCaps().InputReportByteLength);
  ownBuffer_.resize(reportBuffer_.size());
}

THidDeviceReadThread::~THidDeviceReadThread() {
  RequestTermination();
  Wait();
}

void THidDeviceReadThread::Start() {
  thread_ = std::thread([this] { Run(); });
}

void THidDeviceReadThread::Wait() {
  if (thread_.joinable())
    thread_.join();
}

void THidDeviceReadThread::RequestTermination() {
  {
    std::lock_guard lock(pauseMutex_);
    terminated_ = true;
  }
  pauseWake_.notify_all();
  device_->WakeReader();
}

void THidDeviceReadThread::BackOff() {
  std::unique_lock lock(pauseMutex_);
  pauseWake_.wait_for(lock, std::chrono::milliseconds(ERROR_BACKOFF_MS),
                      [this] { return terminated_ || holdAsked_; });
}

bool THidDeviceReadThread::Hold() {
  std::uint64_t holdsBefore = 0;
  {
    std::lock_guard lock(pauseMutex_);
    holdAsked_ = true;
    lastUse_ = std::chrono::steady_clock::now();
    if (held_)
      return true;
    holdsBefore = holds_;
  }
  // It may be waiting for input, backing off, or handing over a report: the last one is
  // delivered before it holds. Its hold may already have ended when this thread gets to run
  // again (a busy machine): what counts is that it began.
  pauseWake_.notify_all();
  device_->WakeReader();
  THidHandOver::Instance().ServeUntil([&] { return holds_ != holdsBefore || ended_; });
  return held_;
}

void THidDeviceReadThread::Release() {
  {
    std::lock_guard lock(pauseMutex_);
    if (!holdAsked_)
      return;
    holdAsked_ = false;
  }
  pauseWake_.notify_all();
}

bool THidDeviceReadThread::BeginOwnRead() {
  std::lock_guard lock(pauseMutex_);
  ownRead_ = held_ && holdAsked_;
  return ownRead_;
}

void THidDeviceReadThread::EndOwnRead() {
  std::lock_guard lock(pauseMutex_);
  ownRead_ = false;
  lastUse_ = std::chrono::steady_clock::now();
}

void THidDeviceReadThread::WaitWhileHeld() {
  std::unique_lock lock(pauseMutex_);
  held_ = true;
  ++holds_;
  lock.unlock();
  THidHandOver::Instance().Notify();
  lock.lock();
  const auto idle = std::chrono::milliseconds(HOLD_IDLE_MS);
  while (holdAsked_ && !terminated_) {
    // A hold the UI thread stopped using (the exchanges ended) ends here, so that reports
    // that come later are delivered as usual.
    if (!ownRead_ && std::chrono::steady_clock::now() - lastUse_ >= idle) {
      holdAsked_ = false;
      break;
    }
    pauseWake_.wait_until(lock, lastUse_ + idle);
  }
  held_ = false;
}

void THidDeviceReadThread::DeliverReportStep(void* reader) {
  THidDeviceReadThread& r = *static_cast<THidDeviceReadThread*>(reader);
  r.device_->DeliverReport(r.reportBuffer_.data(), r.reportBytes_, r.reportEpoch_);
}

void THidDeviceReadThread::DeliverLossStep(void* reader) {
  THidDeviceReadThread& r = *static_cast<THidDeviceReadThread*>(reader);
  r.device_->DeliverLoss();
}

void THidDeviceReadThread::EndAfterRaise(void* reader) {
  // A report's step raised: this reader delivers nothing more until it is stopped and started
  // again. It may be waiting for input, so it is woken now rather than at the next report.
  static_cast<THidDeviceReadThread*>(reader)->RequestTermination();
}

void THidDeviceReadThread::Run() {
  Loop();
  // The last report's step may not have run yet, and it reads this reader's buffer.
  THidHandOver::Instance().Wait(reportStep_);
  ended_ = true;
  THidHandOver::Instance().Notify();
}

void THidDeviceReadThread::Loop() {
  THidHandOver& handOver = THidHandOver::Instance();
  // One rescan per hang-up: a node that keeps failing must not rescan at every back-off.
  bool lossReported = false;
  while (!terminated_) {
    if (holdAsked_) {
      WaitWhileHeld();
      continue;
    }
    // The lengths may have been read again since the start (a descriptor written late).
    const std::size_t len = device_->ReaderCaps().InputReportByteLength;
    if (len == 0) {
      // No report lengths known: there is nothing to read, and asking again at once would spin.
      BackOff();
      continue;
    }
    std::shared_ptr<THidPlatformHandle> handle = device_->StartRead();
    if (!handle) {
      // The device is gone or closed; try again after a while instead of at once.
      BackOff();
      continue;
    }
    int error = 0;
    THidDevice::EReadOutcome outcome = device_->WaitReport(*handle, terminated_, holdAsked_, error);
    std::size_t got = 0;
    std::uint64_t epoch = 0;
    if (outcome == THidDevice::EReadOutcome::Report) {
      // The buffer is the last report's until its step has run; a stop asked for meanwhile
      // leaves this report for the next reader.
      if (!handOver.Wait(reportStep_) || terminated_)
        return;
      if (len > reportBuffer_.size())
        reportBuffer_.resize(len);
      std::fill_n(reportBuffer_.begin(), len, 0);
      outcome = device_->ReadOne(*handle, reportBuffer_.data(), len, got, epoch, error);
    }
    switch (outcome) {
      case THidDevice::EReadOutcome::Report:
        lossReported = false;
        if (got > 0) {
          reportBytes_ = static_cast<std::uint32_t>(got);
          reportEpoch_ = epoch;
          handOver.Post(reportStep_);
        }
        break;
      case THidDevice::EReadOutcome::Empty:
        break;
      case THidDevice::EReadOutcome::Lost: {
        if (error == EBADF) {
          // Our own close raced the read: not a hang-up.
          BackOff();
          break;
        }
        // A hung-up node stays hung up: the next round opens afresh, which fails while the
        // device is gone.
        device_->DropReadHandle(handle.get());
        if (!lossReported) {
          lossReported = true;
          if (!handOver.Run(lossStep_))
            return;
        }
        // The read fails at once for as long as the device is gone: wait before the next.
        BackOff();
        break;
      }
      case THidDevice::EReadOutcome::Nothing:
        // The handle was closed under the wait. Whatever closed it, going round at once could
        // only find the same closed handle: back off (a stop still ends it at once).
        BackOff();
        break;
      case THidDevice::EReadOutcome::Stopped:
        break;
    }
  }
}
