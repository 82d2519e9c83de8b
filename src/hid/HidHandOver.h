#pragma once
// Hand-over of steps from reader threads to the UI thread. A reader queues a step it owns and
// goes on; the UI thread runs queued steps, in order, from its event processing (the main loop,
// nested loops, processEvents) and while it waits for a reader to end. A queued step costs no
// allocation and at most one wake-up of the UI thread: an eventfd under a socket notifier, written
// only when the UI thread has not been woken already.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

class QObject;
class QSocketNotifier;

class THidHandOver {
 public:
  // One step, owned by the reader that queues it; it must stay alive until it has run.
  struct TStep {
    // `raised` runs on the UI thread after `run` raised, so that a reader that is not waiting
    // for the step hears of it at once.
    TStep(void (*run)(void*), void* context, void (*raised)(void*) = nullptr)
        : run(run), context(context), raised(raised) {}
    TStep(const TStep&) = delete;
    TStep& operator=(const TStep&) = delete;

    void (*const run)(void* context);
    void* const context;
    void (*const raised)(void* context);

   private:
    friend class THidHandOver;
    enum class EState { Idle, Queued, Running, Done, Raised };
    EState state = EState::Idle;
    TStep* next = nullptr;
  };

  // Created on first use; call it first from the UI thread (StartReader does).
  static THidHandOver& Instance();

  // Reader side: queues `step` (which is not queued already) and returns at once.
  void Post(TStep& step);
  // Reader side: waits until `step` has run, if it was queued. False when it raised.
  bool Wait(TStep& step);
  // Reader side: Post, then Wait.
  bool Run(TStep& step);

  // UI side: runs every queued step, without waiting for the event loop.
  void RunQueued();
  // UI side: runs queued steps until `done` holds. `done` is tested under the queue's lock;
  // whoever makes it true calls Notify().
  void ServeUntil(const std::function<bool()>& done);
  void Notify();
  // Steps queued and not yet started. For tests.
  std::size_t Pending();

 private:
  THidHandOver();
  // The UI thread's wake-up: empties the eventfd, then runs what is queued.
  void Woken();
  // Runs queued steps until none is left; `lock` is held on entry and exit, not while a step runs.
  void RunAll(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable changed_;
  TStep* head_ = nullptr;
  TStep* tail_ = nullptr;
  std::size_t queued_ = 0;
  // Readers in Wait, and ServeUntil calls under way: only they need a notify.
  int waiters_ = 0;
  int serving_ = 0;
  // The eventfd has been written and the UI thread has not emptied it yet.
  bool signalled_ = false;
  int wakeFd_ = -1;
  // Lives on the UI thread: the notifier's parent, and the receiver of the wake-up.
  QObject* context_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
};
