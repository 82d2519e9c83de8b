#pragma once
// The reader thread of an open device.

#include <atomic>
#include <chrono>
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
//
// During a run of exchanges the UI thread may hold the reader: it then waits without reading,
// and the UI thread reads the replies itself right after its pause. A reply then costs no
// wake-up of this thread and no hand-over. A hold not used for HOLD_IDLE_MS ends by itself.
class THidDeviceReadThread {
 public:
  // How long the reader waits before trying again when a read could not be made (no report
  // lengths known, no handle, the node hung up): going round at once would spin.
  static constexpr int ERROR_BACKOFF_MS = 100;
  static constexpr int HOLD_IDLE_MS = 50;

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

  // UI side. Hold: waits until the reader holds (running the hand-overs queued meanwhile); false
  // when it has ended. Release: the reader reads again.
  bool Hold();
  void Release();
  // UI side: a read of its own may start only while the reader holds; End marks the hold used.
  bool BeginOwnRead();
  void EndOwnRead();
  // The UI thread's buffer for its own reads.
  std::vector<std::uint8_t>& OwnReadBuffer() { return ownBuffer_; }

 private:
  void Run();
  void Loop();
  // The steps handed to the UI thread; `context` is the reader.
  static void DeliverReportStep(void* reader);
  static void DeliverLossStep(void* reader);
  static void EndAfterRaise(void* reader);
  // Waits ERROR_BACKOFF_MS, or less when termination or a hold is requested.
  void BackOff();
  // Waits while held: until released, stopped, or the hold went unused for HOLD_IDLE_MS.
  void WaitWhileHeld();

  THidDevice* device_;
  std::vector<std::uint8_t> reportBuffer_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> ended_{false};
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  // The hold, changed under pauseMutex_; the flags are also read without it, to end a wait.
  std::atomic<bool> holdAsked_{false};
  std::atomic<bool> held_{false};
  std::atomic<std::uint64_t> holds_{0};  // holds begun, for Hold's wait
  bool ownRead_ = false;
  std::chrono::steady_clock::time_point lastUse_;
  std::vector<std::uint8_t> ownBuffer_;
  std::thread thread_;

  // What the queued steps deliver. Written by the reader before it queues the step, read on the
  // UI thread while it runs; the reader waits for the step before it writes them again.
  THidHandOver::TStep reportStep_;
  THidHandOver::TStep lossStep_;
  std::uint32_t reportBytes_ = 0;
  std::uint64_t reportEpoch_ = 0;
};
