#pragma once
// The reader thread of an open device.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class THidDevice;

// Reads one input report at a time and hands each to the UI thread, blocking until the data
// handler has returned. A plain std::thread: it needs no event loop of its own.
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
  // Waits ERROR_BACKOFF_MS, or less when termination is requested.
  void BackOff();

  THidDevice* device_;
  std::vector<std::uint8_t> reportBuffer_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> ended_{false};
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  std::thread thread_;
};
