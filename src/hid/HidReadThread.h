#pragma once
// The reader thread of an open device.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/HidHandOver.h"

class THidDevice;

// Reads one input report at a time and hands each to the UI thread. It does not wait for the
// data handler; it waits for the handler of the last report only before it reads the next one
// into the same buffer (by then that handler has normally run: a reply comes after the
// request). A plain std::thread: it needs no event loop of its own.
class THidDeviceReadThread {
 public:
  // How long the reader waits before trying again when a read could not be made (no report
  // lengths known, no handle, the node hung up): going round at once would spin.
  static constexpr int ERROR_BACKOFF_MS = 100;

  explicit THidDeviceReadThread(THidDevice* device);
  ~THidDeviceReadThread();
  THidDeviceReadThread(const THidDeviceReadThread&) = delete;
  THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

  void Start();
  // Waits until the thread has ended (after RequestTermination, or after a step raised).
  void Wait();

  // Asks the reader to end; it notices at once, also in the middle of a wait.
  void RequestTermination();
  bool Ended() const { return ended_; }

 private:
  void Run();
  void Loop();
  // The steps handed to the UI thread; `context` is the reader.
  static void DeliverReportStep(void* reader);
  static void DeliverLossStep(void* reader);
  static void EndAfterRaise(void* reader);
  // Waits ERROR_BACKOFF_MS, or less when termination is requested.
  void BackOff();

  THidDevice* device_;
  std::vector<std::uint8_t> reportBuffer_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> ended_{false};
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  std::thread thread_;

  // What the queued steps deliver. Written by the reader before it queues the step, read on the
  // UI thread while it runs; the reader waits for the step before it writes them again.
  THidHandOver::TStep reportStep_;
  THidHandOver::TStep lossStep_;
  std::uint32_t reportBytes_ = 0;
  std::uint64_t reportEpoch_ = 0;
};
