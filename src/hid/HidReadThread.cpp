#include "hid/HidReadThread.h"

#include <cerrno>
#include <chrono>

#include "hid/HidDevice.h"
#include "hid/HidHandOver.h"

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device) : device_(device) {
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

void THidDeviceReadThread::Pause() {
  std::unique_lock lock(pauseMutex_);
  pauseWake_.wait_for(lock, std::chrono::milliseconds(device_->ReaderSleepTime()),
                      [this] { return terminated_.load(); });
}

void THidDeviceReadThread::Run() {
  try {
    Loop();
  } catch (...) {
    // A step raised: this reader delivers nothing more until it is stopped and started again.
  }
  ended_ = true;
  THidHandOver::Instance().Notify();
}

void THidDeviceReadThread::Loop() {
  THidHandOver& handOver = THidHandOver::Instance();
  // One rescan per hang-up: a node that keeps failing must not rescan at every slice.
  bool lossReported = false;
  while (!terminated_) {
    // The lengths may have been read again since the start (a descriptor written late).
    const std::size_t len = device_->ReaderCaps().InputReportByteLength;
    if (len > reportBuffer_.size())
      reportBuffer_.resize(len);
    std::fill_n(reportBuffer_.begin(), len, 0);
    if (len == 0) {
      // No report lengths known: there is nothing to read, and asking again at once would spin.
      Pause();
      continue;
    }
    int error = 0;
    std::shared_ptr<THidPlatformHandle> handle = device_->StartRead(error);
    if (!handle) {
      lastError_ = static_cast<std::uint32_t>(error);
      const std::uint32_t code = lastError_;
      handOver.Run([this, code] { device_->DeliverReadError(code); });
      // The device is gone or closed; try again after one slice instead of at once.
      Pause();
      continue;
    }
    std::size_t got = 0;
    std::uint64_t epoch = 0;
    switch (device_->ReadOne(*handle, terminated_, reportBuffer_.data(), len, got, epoch, error)) {
      case THidDevice::EReadOutcome::Report:
        lossReported = false;
        bytesRead_ = static_cast<std::uint32_t>(got);
        if (bytesRead_ > 0) {
          const std::uint32_t n = bytesRead_;
          handOver.Run(
              [this, n, epoch] { device_->DeliverReport(reportBuffer_.data(), n, epoch); });
        }
        break;
      case THidDevice::EReadOutcome::Lost: {
        if (error == EBADF) {
          // Our own close raced the read: not a hang-up.
          Pause();
          break;
        }
        // A hung-up node stays hung up: the next round opens afresh, which fails while the
        // device is gone.
        device_->DropReadHandle(handle.get());
        lastError_ = static_cast<std::uint32_t>(error);
        if (!lossReported) {
          lossReported = true;
          const std::uint32_t code = lastError_;
          handOver.Run([this, code] { device_->DeliverLoss(code); });
        }
        // The read fails at once for as long as the device is gone: wait before the next.
        Pause();
        break;
      }
      case THidDevice::EReadOutcome::Nothing:
        // The handle was closed under the wait. Whatever closed it, going round at once could
        // only find the same closed handle: wait one slice (a stop still ends it at once).
        Pause();
        break;
      case THidDevice::EReadOutcome::Stopped:
        break;
    }
  }
}
