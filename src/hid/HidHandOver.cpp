#include "hid/HidHandOver.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <cassert>
#include <cstdint>

THidHandOver& THidHandOver::Instance() {
  // Never destroyed: reader threads may still reach it while statics go away.
  static THidHandOver* instance = new THidHandOver;
  return *instance;
}

THidHandOver::THidHandOver() {
  context_ = new QObject;
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ >= 0) {
    notifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, context_);
    QObject::connect(notifier_, &QSocketNotifier::activated, context_, [this] { Woken(); });
  }
  if (QCoreApplication* app = QCoreApplication::instance()) {
    context_->moveToThread(app->thread());
  }
}

void THidHandOver::Post(TStep& step) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    assert(step.state != TStep::EState::Queued && step.state != TStep::EState::Running);
    step.state = TStep::EState::Queued;
    step.next = nullptr;
    (tail_ ? tail_->next : head_) = &step;
    tail_ = &step;
    ++queued_;
    if (serving_ > 0)
      changed_.notify_all();
    // Once woken, the UI thread runs everything queued until it empties the eventfd again.
    wake = !signalled_;
    signalled_ = true;
  }
  if (!wake)
    return;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
  } else {
    // No eventfd to be had (out of descriptors): the event queue instead, at an allocation.
    QMetaObject::invokeMethod(
        context_, [this] { Woken(); }, Qt::QueuedConnection);
  }
}

bool THidHandOver::Wait(TStep& step) {
  std::unique_lock lock(mutex_);
  const auto ran = [&] {
    return step.state != TStep::EState::Queued && step.state != TStep::EState::Running;
  };
  if (!ran()) {
    ++waiters_;
    changed_.wait(lock, ran);
    --waiters_;
  }
  const bool raised = step.state == TStep::EState::Raised;
  step.state = TStep::EState::Idle;
  return !raised;
}

bool THidHandOver::Run(TStep& step) {
  Post(step);
  return Wait(step);
}

void THidHandOver::Woken() {
  if (wakeFd_ >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
  }
  std::unique_lock lock(mutex_);
  // Cleared before the queue is emptied: a step queued after this writes the eventfd again.
  signalled_ = false;
  RunAll(lock);
}

void THidHandOver::RunAll(std::unique_lock<std::mutex>& lock) {
  while (head_) {
    TStep* s = head_;
    head_ = s->next;
    if (!head_)
      tail_ = nullptr;
    --queued_;
    s->state = TStep::EState::Running;
    lock.unlock();
    // A step may run a nested event loop, which runs later steps from inside this one.
    bool raised = false;
    try {
      s->run(s->context);
    } catch (...) {
      raised = true;
    }
    if (raised && s->raised)
      s->raised(s->context);
    lock.lock();
    s->state = raised ? TStep::EState::Raised : TStep::EState::Done;
    if (waiters_ > 0)
      changed_.notify_all();
  }
}

void THidHandOver::RunQueued() {
  std::unique_lock lock(mutex_);
  RunAll(lock);
}

void THidHandOver::ServeUntil(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  ++serving_;  // a step may stop another reader from inside this one
  for (;;) {
    RunAll(lock);
    if (done())
      break;
    changed_.wait(lock, [&] { return head_ != nullptr || done(); });
  }
  --serving_;
}

void THidHandOver::Notify() {
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

std::size_t THidHandOver::Pending() {
  std::lock_guard lock(mutex_);
  return queued_;
}
