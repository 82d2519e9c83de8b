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
                      [this] { return terminated_.load(); });
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
    THidDevice::EReadOutcome outcome = device_->WaitReport(*handle, terminated_, error);
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
