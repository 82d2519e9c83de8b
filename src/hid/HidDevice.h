#pragma once
// One HID device interface: its identity, handles opened on demand, report lengths, writing
// output reports, and the reader thread that hands each input report to the UI thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

class THidDeviceController;
class THidDeviceReadThread;

// Raised when a controller or a device object cannot be made.
class EControllerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* HID_ERR_SECOND_CONTROLLER =
    "Only one THidDeviceController allowed per program";
inline constexpr const char* HID_ERR_CANNOT_OPEN = "device cannot be opened";
inline constexpr const char* HID_ERR_CANNOT_IDENTIFY = "device cannot be identified";

class THidDevice : public THidReportDevice {
 public:
  static constexpr std::int32_t DEFAULT_READER_SLEEP_TIME = 100;
  static constexpr std::int32_t MIN_READER_SLEEP_TIME = 10;
  static constexpr std::int32_t MAX_READER_SLEEP_TIME = 10000;

  // Identifies the interface from what the platform tells without opening it for reading or
  // writing (a device that is never used is never opened). Throws EControllerError ("device
  // cannot be opened" when it is not there / "device cannot be identified").
  THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller,
             std::shared_ptr<THidPlatform> platform);
  // Teardown: stops the reader and closes the handles.
  ~THidDevice() override;
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  // Identity.
  THidDeviceController* Controller() const { return controller_; }
  const THidPnPInfo& InterfaceInfo() const { return *info_; }
  const HIDD_ATTRIBUTES& Attributes() const { return attributes_; }
  bool IsPresent() const { return present_; }
  bool IsClaimed() const { return claimed_; }
  bool InEvent() const { return inEvent_; }
  // Learnt by one read/write open at the first question (or the first use), not before.
  bool CanReadWrite() const {
    ProbeAccess();
    return canReadWrite_;
  }
  // Usable devices open handles: present, and claimed or inside one of its events.
  bool IsUsable() const { return present_ && (claimed_ || inEvent_); }
  // Why the last read/write open failed (0 when it succeeded), so the user can be told.
  int OpenError() const {
    ProbeAccess();
    return openError_;
  }
  std::string OpenErrorText() const;
  // The error of the last failed write or open on the UI thread.
  std::uint32_t LastError() const { return lastError_; }

  // Handles.
  bool OpenIoHandle();
  bool OpenReadHandle();
  void CloseIoHandle();
  void CloseReadHandle();
  bool IoHandleOpen() const { return io_ != nullptr; }
  bool ReadHandleOpen() const;

  // Queue lengths read back from the platform; 0 while the handle is closed.
  std::uint32_t InputBufferCount() const { return inputBufferCount_; }
  std::uint32_t ReadBufferCount() const { return readBufferCount_; }
  void SetInputBufferCount(std::uint32_t count);
  void SetReadBufferCount(std::uint32_t count);

  std::int32_t ReaderSleepTime() const { return readerSleepTime_; }
  // Only 10 to 10000 ms are taken.
  void SetReaderSleepTime(std::int32_t ms);

  // THidReportDevice.
  HIDP_CAPS QueryCaps() override;
  bool WriteReport(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t& written) override;
  void SetDataHandler(const THidDataEvent& handler) override;
  void DiscardPendingInput() override;
  void DeliverPendingInput() override;

  const THidDataEvent& DataHandler() const { return dataHandler_; }
  const THidDataErrorEvent& DataErrorHandler() const { return dataErrorHandler_; }
  void SetDataErrorHandler(const THidDataErrorEvent& handler) { dataErrorHandler_ = handler; }
  const THidPlugEvent& UnplugHandler() const { return unplugHandler_; }
  void SetUnplugHandler(const THidPlugEvent& handler) { unplugHandler_ = handler; }

  // Starts a reader when a data handler is set, the device is present, claimed and writable,
  // and no reader exists (an ended one still counts until StopReader).
  void StartReader();
  // Ends the reader and waits for it, running queued hand-overs meanwhile. Must not be called
  // from this device's own data handler.
  void StopReader();
  bool HasReader() const { return reader_ != nullptr; }
  // True while the reader exists and has not ended (an exception in a step ends it).
  bool ReaderRunning() const;

  // The controller's rescan found the device gone: handles closed, unplug handler run once.
  void MarkUnplugged();

 private:
  friend class THidDeviceController;
  friend class THidDeviceReadThread;

  // Outcome of one wait or read on the reader thread. Empty: nothing waiting after all.
  enum class EReadOutcome { Report, Empty, Nothing, Lost, Stopped };

  // Reader side.
  std::shared_ptr<THidPlatformHandle> StartRead(int& error);
  // Waits until a report can be read (Report), or the handle is closed, the device lost or the
  // reader stopped.
  EReadOutcome WaitReport(THidPlatformHandle& handle, const std::atomic<bool>& terminated,
                          int& error);
  // Reads the report WaitReport found, with the discard count it is delivered against.
  EReadOutcome ReadOne(THidPlatformHandle& handle, std::uint8_t* buffer, std::size_t count,
                       std::size_t& got, std::uint64_t& epoch, int& error);
  void WakeReader();

  // Drops the reader's handle after its device hung up, so that the next read opens afresh.
  void DropReadHandle(const THidPlatformHandle* handle);

  // UI side, run through the hand-over.
  void DeliverReport(const std::uint8_t* buffer, std::uint32_t bytesRead, std::uint64_t epoch);
  void DeliverReadError(std::uint32_t error);
  // The node hung up under the reader: the error handler hears of it and the controller
  // rescans, so that a device gone without a notice is found gone.
  void DeliverLoss(std::uint32_t error);

  void ProbeAccess() const;
  // What a read/write open told of the access.
  void NoteAccess(bool canReadWrite, int error) const;
  // A read/write open was tried and refused: rescans try again.
  bool AccessRefused() const { return accessKnown_ && !canReadWrite_; }
  // Rescans of a listed device (controller). RetryAccess tries a read/write open again for a
  // device that had none; `regained` is set when it now has it, and its reader starts. Returns
  // whether the node is still there.
  bool RetryAccess(bool& regained);
  // Takes the properties of a fresh scan; when they changed (written after the node appeared)
  // reads the attributes again, and report lengths found empty before. True when anything
  // changed.
  bool RefreshIdentity(const THidPnPInfo& fresh);

  // Report lengths as known now; fetches nothing (for the reader).
  HIDP_CAPS ReaderCaps() const;
  // The report lengths known of the object this one replaces (same attachment).
  void AdoptCaps(const THidDevice& from);
  void Teardown();
  std::unique_ptr<THidPnPInfo> TakeInterfaceInfo() { return std::move(info_); }
  void FetchCaps();

  std::shared_ptr<THidPlatform> platform_;
  std::unique_ptr<THidPnPInfo> info_;
  THidDeviceController* controller_ = nullptr;
  HIDD_ATTRIBUTES attributes_;
  std::atomic<bool> present_{true};
  std::atomic<bool> claimed_{false};
  std::atomic<bool> inEvent_{false};
  mutable bool accessKnown_ = false;
  mutable bool canReadWrite_ = false;
  mutable int openError_ = 0;
  std::uint32_t lastError_ = 0;

  std::unique_ptr<THidPlatformHandle> io_;
  std::uint32_t inputBufferCount_ = 0;
  std::atomic<std::uint32_t> readBufferCount_{0};
  std::atomic<std::int32_t> readerSleepTime_{DEFAULT_READER_SLEEP_TIME};

  // Guards the read handle, the report lengths and the discard count: the reader and the UI
  // thread both reach them.
  mutable std::mutex ioMutex_;
  std::shared_ptr<THidPlatformHandle> read_;
  bool capsFetched_ = false;
  HIDP_CAPS caps_;
  // Counts DiscardPendingInput calls; a report read before the last one is not delivered.
  std::uint64_t discardEpoch_ = 0;

  THidDataEvent dataHandler_;
  THidDataErrorEvent dataErrorHandler_;
  THidPlugEvent unplugHandler_;
  std::unique_ptr<THidDeviceReadThread> reader_;
};
