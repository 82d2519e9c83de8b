#pragma once
// Hand-over of steps from reader threads to the UI thread. A reader queues a step and blocks
// until the UI thread has run it; the UI thread runs queued steps from its event processing
// (the main loop, nested loops, processEvents) and while it waits for a reader to end.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

class QObject;

class THidHandOver {
 public:
  // Created on first use; call it first from the UI thread (StartReader does).
  static THidHandOver& Instance();

  // Reader side: runs `step` on the UI thread and returns when it has run. An exception of the
  // step is raised again here.
  void Run(const std::function<void()>& step);

  // UI side: runs every queued step. RunPending is the posted event's; RunQueued is for
  // callers that do not wait for the event (it stays posted, for the steps queued after).
  void RunPending();
  void RunQueued();
  // UI side: runs queued steps until `done` holds. `done` is tested under the queue's lock;
  // whoever makes it true calls Notify().
  void ServeUntil(const std::function<bool()>& done);
  void Notify();
  // Steps queued and not yet started. For tests.
  std::size_t Pending();

 private:
  THidHandOver();
  struct TStep {
    const std::function<void()>* fn;
    bool done = false;
    std::exception_ptr error;
  };
  // Runs queued steps until none is left; `lock` is held on entry and exit, not while a step runs.
  void RunAll(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TStep*> queue_;
  bool posted_ = false;
  QObject* dispatcher_ = nullptr;
};
