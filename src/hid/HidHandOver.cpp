#include "hid/HidHandOver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace {

const QEvent::Type HAND_OVER_EVENT = static_cast<QEvent::Type>(QEvent::registerEventType());

class TDispatcher : public QObject {
 public:
  explicit TDispatcher(THidHandOver& owner) : owner_(owner) {}
  bool event(QEvent* e) override {
    // Takes the hand-over's lock before touching the event: a reader made the event under that
    // lock, and the race detector cannot see Qt's own queue lock (Qt is not built with it).
    owner_.RunPending();
    return e->type() == HAND_OVER_EVENT || QObject::event(e);
  }

 private:
  THidHandOver& owner_;
};

}  // namespace

THidHandOver& THidHandOver::Instance() {
  // Never destroyed: reader threads may still reach it while statics go away.
  static THidHandOver* instance = new THidHandOver;
  return *instance;
}

THidHandOver::THidHandOver() {
  dispatcher_ = new TDispatcher(*this);
  if (QCoreApplication* app = QCoreApplication::instance()) {
    dispatcher_->moveToThread(app->thread());
  }
}

void THidHandOver::Run(const std::function<void()>& step) {
  TStep s{&step, false, nullptr};
  std::unique_lock lock(mutex_);
  queue_.push_back(&s);
  if (!posted_) {
    posted_ = true;
    QCoreApplication::postEvent(dispatcher_, new QEvent(HAND_OVER_EVENT));
  }
  changed_.notify_all();
  changed_.wait(lock, [&] { return s.done; });
  if (s.error)
    std::rethrow_exception(s.error);
}

void THidHandOver::RunAll(std::unique_lock<std::mutex>& lock) {
  while (!queue_.empty()) {
    TStep* s = queue_.front();
    queue_.pop_front();
    lock.unlock();
    // A step may run a nested event loop, which runs later steps from inside this one.
    std::exception_ptr error;
    try {
      (*s->fn)();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    s->error = error;
    s->done = true;
    changed_.notify_all();
  }
}

void THidHandOver::RunPending() {
  std::unique_lock lock(mutex_);
  posted_ = false;
  RunAll(lock);
}

void THidHandOver::RunQueued() {
  std::unique_lock lock(mutex_);
  RunAll(lock);
}

void THidHandOver::ServeUntil(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  for (;;) {
    RunAll(lock);
    if (done())
      return;
    changed_.wait(lock, [&] { return !queue_.empty() || done(); });
  }
}

void THidHandOver::Notify() {
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

std::size_t THidHandOver::Pending() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}
