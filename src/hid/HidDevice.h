#pragma once
// One HID device interface: its identity, handles opened on demand, report lengths, writing
// output reports, and the reader thread that hands each input report to the UI thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/HidPlatform.h"
#include "hid/HidTypes.h"

class THidDeviceReadThread;

class THidDevice : public THidReportDevice {
 public:
  // Identifies the interface from what the platform tells without opening it for reading or
  // writing (a device that is never used is never opened). Fails when the node is not there or
  // its identity cannot be read. `lost` runs on the UI thread when the reader finds the node
  // hung up, so that a device gone without a notice is found gone.
  static TResult<std::unique_ptr<THidDevice>> Make(std::unique_ptr<THidPnPInfo> info,
                                                   std::shared_ptr<THidPlatform> platform,
                                                   THidLostEvent lost = {});
  // Stops the reader and closes the handles.
  ~THidDevice() override;
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  // Identity.
  THidPlatform& Platform() const { return *platform_; }
  const THidPnPInfo& InterfaceInfo() const { return *info_; }
  const HIDD_ATTRIBUTES& Attributes() const { return attributes_; }
  bool IsPresent() const { return present_; }
  bool IsClaimed() const { return claimed_; }
  // Learnt by one read/write open at the first question (or the first use), not before.
  bool CanReadWrite() const {
    ProbeAccess();
    return canReadWrite_;
  }
  // Usable devices open handles: present and claimed.
  bool IsUsable() const { return present_ && claimed_; }
  // Why the last read/write open failed (0 when it succeeded), so the user can be told.
  int OpenError() const {
    ProbeAccess();
    return openError_;
  }
  std::string OpenErrorText() const;

  // Handles open now: the device opens them on demand and closes them when done.
  bool IoHandleOpen() const { return io_ != nullptr; }
  bool ReadHandleOpen() const;

  // THidReportDevice.
  HIDP_CAPS QueryCaps() override;
  TResult<void> WriteReport(const std::uint8_t* buffer, std::uint32_t count) override;
  void SetDataHandler(const THidDataEvent& handler) override;
  void DiscardPendingInput() override;
  void DeliverPendingInput() override;
  void HoldReader(bool hold) override;

  // Starts a reader when a data handler is set, the device is present, claimed and writable,
  // and no reader exists (an ended one still counts until the data handler is cleared).
  void StartReader();
  bool HasReader() const { return reader_ != nullptr; }
  // True while the reader exists and has not ended (an exception in a step ends it).
  bool ReaderRunning() const;

  // What the controller does with a listed device. Claim marks it taken and starts its reader
  // (when it has a data handler); MarkUnplugged closes the handles of a device found gone.
  void Claim();
  void MarkUnplugged();
  // A read/write open was tried and refused: rescans try again.
  bool AccessRefused() const { return accessKnown_ && !canReadWrite_; }
  // Whether the node is still there, proven without opening it for reading or writing.
  bool StillThere() const;
  // For a device refused a read/write open before: tries one again; `regained` is set when it
  // now has it, and its reader starts. Returns whether the node is still there.
  bool RetryAccess(bool& regained);
  // Takes the properties of a fresh scan; when they changed (written after the node appeared)
  // reads the attributes again, and report lengths found empty before. True when anything
  // changed.
  bool RefreshIdentity(const THidPnPInfo& fresh);
  // The report lengths known of the object this one replaces (same attachment).
  void AdoptCaps(const THidDevice& from);
  // Gives up the interface for a fresh object of the same attachment; this one is done.
  std::unique_ptr<THidPnPInfo> TakeInterfaceInfo();

 private:
  friend class THidDeviceReadThread;

  THidDevice(std::unique_ptr<THidPnPInfo> info, std::shared_ptr<THidPlatform> platform,
             THidLostEvent lost);

  // Outcome of one wait or read on the reader thread. Empty: nothing waiting after all.
  enum class EReadOutcome { Report, Empty, Nothing, Lost, Stopped };

  // Reader side.
  // The reader's handle, opened when there is none; null when the device is not usable or
  // cannot be opened.
  std::shared_ptr<THidPlatformHandle> StartRead();
  // Waits until a report can be read (Report), or the handle is closed, the device lost or the
  // reader stopped or held.
  EReadOutcome WaitReport(THidPlatformHandle& handle, const std::atomic<bool>& terminated,
                          const std::atomic<bool>& holdAsked, int& error);
  // Reads the report WaitReport found, with the discard count it is delivered against.
  EReadOutcome ReadOne(THidPlatformHandle& handle, std::uint8_t* buffer, std::size_t count,
                       std::size_t& got, std::uint64_t& epoch, int& error);
  void WakeReader();

  // Drops the reader's handle after its device hung up, so that the next read opens afresh.
  void DropReadHandle(const THidPlatformHandle* handle);

  // UI side, run through the hand-over.
  void DeliverReport(const std::uint8_t* buffer, std::uint32_t bytesRead, std::uint64_t epoch);
  // The node hung up under the reader: `lost` hears of it.
  void DeliverLoss();

  bool OpenIoHandle();
  void CloseIoHandle();
  void CloseReadHandle();
  // Ends the reader and waits for it, running queued hand-overs meanwhile. Must not be called
  // from this device's own data handler.
  void StopReader();
  void ProbeAccess() const;
  // What a read/write open told of the access.
  void NoteAccess(const THidPlatform::THandleResult& open) const;

  // Report lengths as known now; fetches nothing (for the reader).
  HIDP_CAPS ReaderCaps() const;
  void Teardown();
  void FetchCaps();

  std::shared_ptr<THidPlatform> platform_;
  std::unique_ptr<THidPnPInfo> info_;
  THidLostEvent lost_;
  HIDD_ATTRIBUTES attributes_;
  std::atomic<bool> present_{true};
  std::atomic<bool> claimed_{false};
  mutable bool accessKnown_ = false;
  mutable bool canReadWrite_ = false;
  mutable int openError_ = 0;

  std::unique_ptr<THidPlatformHandle> io_;

  // Guards the read handle, the report lengths and the discard count: the reader and the UI
  // thread both reach them.
  mutable std::mutex ioMutex_;
  std::shared_ptr<THidPlatformHandle> read_;
  bool capsFetched_ = false;
  HIDP_CAPS caps_;
  // Counts DiscardPendingInput calls; a report read before the last one is not delivered.
  std::uint64_t discardEpoch_ = 0;

  THidDataEvent dataHandler_;
  std::unique_ptr<THidDeviceReadThread> reader_;
};
