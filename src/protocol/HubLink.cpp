#include "protocol/HubLink.h"

#include <sys/prctl.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "protocol/Commands.h"

namespace {
// The 2 ms pause comes 1,250 times in an update. The kernel's default timer slack of 50 us lets
// every one of them run long; 1 us keeps the update close to its floor of fixed pauses.
void PauseAfterWrite() {
  thread_local const bool precise = prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
  (void)precise;
  QThread::msleep(THubLink::WRITE_PAUSE_MS);
}
}  // namespace

THubLink::THubLink(QObject* parent) : QObject(parent) {}

THubLink::~THubLink() {
  if (waitLoop_)
    waitLoop_->quit();
}

TFrameResult THubLink::SendFrame(std::uint8_t command, RequestBuffer request) {
  if (RequestLength(request) > MAX_DATA_LENGTH)
    return {-1, EFrameFailure::Refused};
  if (Busy()) {
    // A handler that ran inside another exchange's wait. Its reply could not be told apart
    // from the one the outer exchange waits for, so it is refused rather than nested.
    ++refusedWhileBusy_;
    return {-1, EFrameFailure::Refused};
  }
  struct InFlight {
    THubLink& link;
    InFlight(THubLink& l, std::uint8_t command) : link(l) {
      ++link.depth_;
      link.command_ = command;
    }
    ~InFlight() {
      if (--link.depth_ == 0)
        link.ScheduleIdleActions();
    }
  } inFlight(*this, command);

  const std::size_t needed = ReplyDataNeeded(command, request);
  EFrameFailure failure = EFrameFailure::NoReply;
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    failure = Attempt(command, request);
    if (failure != EFrameFailure::None)
      continue;
    if (reply_[REPLY_COMMAND_OFFSET] == command && command != 0)
      echoSeen_ = true;
    const int status = reply_[REPLY_STATUS_OFFSET];
    // A refusal carries no data; a success must carry what its decoder reads.
    if (!CarriesData(status == 0 ? needed : 0)) {
      failure = EFrameFailure::ShortReply;
      continue;
    }
    return {status, status == 0 ? EFrameFailure::None : EFrameFailure::Status};
  }
  return {-1, failure};
}

int THubLink::SendFrameSub(std::uint8_t command, const RequestBuffer& request) {
  return Attempt(command, request) == EFrameFailure::None ? 0 : -1;
}

EFrameFailure THubLink::Attempt(std::uint8_t command, const RequestBuffer& request) {
  THidReportDevice* device = currentDevice_;
  if (!device)
    return EFrameFailure::NoDevice;
  const CommandFrame frame = BuildCommandFrame(command, request);
  const HIDP_CAPS caps = device->QueryCaps();
  const std::uint32_t count = std::min<std::uint32_t>(caps.OutputReportByteLength, FRAME_SIZE);
  // A reply that came in before this request cannot be its answer.
  device->DiscardPendingInput();
  // The reply is read here after the pause, not by the reader (see WaitReply).
  device->HoldReader(true);
  if (!device->WriteReport(frame.data(), count))
    return EFrameFailure::WriteFailed;
  ++framesWritten_;
  PauseAfterWrite();
  return WaitReply() == 0 ? EFrameFailure::None : EFrameFailure::NoReply;
}

bool THubLink::CarriesData(std::size_t needed) const {
  // The status byte at least, and the data the length byte announces, when the hub fills it in.
  if (replySize_ < REPLY_DATA_OFFSET + needed)
    return false;
  const std::size_t length = reply_[REPLY_LENGTH_OFFSET];
  return length == 0 || length >= REPLY_DATA_OFFSET + needed;
}

bool THubLink::IsStale(const std::uint8_t* data, std::size_t size) const {
  if (!echoSeen_ || depth_ == 0 || size <= REPLY_COMMAND_OFFSET ||
      data[REPLY_LEAD_OFFSET] != FRAME_LEAD_BYTE) {
    return false;
  }
  const std::uint8_t echoed = data[REPLY_COMMAND_OFFSET];
  return echoed != 0 && echoed != command_;
}

bool THubLink::HasReply() const {
  return reply_[REPLY_LEAD_OFFSET] == FRAME_LEAD_BYTE;
}

int THubLink::WaitReply() {
  reply_.fill(0);
  replySize_ = 0;
  // The reply normally came during the pause: read it here, without a turn of the event loop
  // and without waking the reader, each of which costs more than the rest of the exchange. The
  // loop still turns at least every EVENT_SLICE_MS, so that the window, signals and device
  // notices are served during a long run of exchanges.
  if (!eventsServed_.isValid() || eventsServed_.hasExpired(EVENT_SLICE_MS)) {
    QCoreApplication::processEvents();
    eventsServed_.start();
  }
  if (currentDevice_)
    currentDevice_->DeliverPendingInput();
  if (HasReply())
    return 0;
  // A late reply: the reader takes it, and the loop below hears of it.
  if (currentDevice_)
    currentDevice_->HoldReader(false);
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer deadline;
  deadline.setTimerType(Qt::PreciseTimer);
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
    const qint64 left = REPLY_TIMEOUT_MS - clock.elapsed();
    if (left < 0) {
      loop.quit();
    } else {
      deadline.start(static_cast<int>(left) + 1);
    }
  });
  QEventLoop* outer = waitLoop_;
  waitLoop_ = &loop;
  struct Restore {
    QEventLoop*& slot;
    QEventLoop* value;
    ~Restore() { slot = value; }
  } restore{waitLoop_, outer};

  deadline.start(REPLY_TIMEOUT_MS + 1);
  loop.exec();
  eventsServed_.start();
  return HasReply() ? 0 : -1;
}

void THubLink::HidDeviceData(THidDevice*, std::uint8_t, const std::uint8_t* data,
                             std::uint16_t size) {
  const std::size_t count = std::min<std::size_t>(size, BUFFER_SIZE);
  if (IsStale(data, count)) {
    // The late answer to an earlier request: the one this exchange waits for is still to come.
    ++staleDropped_;
    return;
  }
  std::copy_n(data, count, reply_.begin());
  replySize_ = count;
  if (waitLoop_ && HasReply())
    waitLoop_->quit();
}

void THubLink::RunWhenIdle(std::function<void()> action) {
  Enqueue(std::move(action), false);
}

void THubLink::RunUserActionWhenIdle(std::function<void()> action) {
  Enqueue(std::move(action), true);
}

void THubLink::Enqueue(std::function<void()> action, bool user) {
  if (!Busy() && !(user && userActionsHeld_) && idleActions_.empty()) {
    action();
    return;
  }
  idleActions_.push_back({std::move(action), user});
  if (!Busy())
    ScheduleIdleActions();
}

void THubLink::HoldUserActions(bool hold) {
  userActionsHeld_ = hold;
  if (!hold && !Busy())
    ScheduleIdleActions();
}

std::deque<THubLink::TIdleAction>::iterator THubLink::NextRunnable() {
  if (!userActionsHeld_)
    return idleActions_.begin();
  return std::find_if(idleActions_.begin(), idleActions_.end(),
                      [](const TIdleAction& a) { return !a.user; });
}

void THubLink::ScheduleIdleActions() {
  if (idleActions_.empty() || idleRunPosted_)
    return;
  idleRunPosted_ = true;
  QMetaObject::invokeMethod(this, &THubLink::RunIdleActions, Qt::QueuedConnection);
}

void THubLink::RunIdleActions() {
  idleRunPosted_ = false;
  // Posted events also run inside a later exchange's wait; then the end of that exchange
  // schedules another run. Held user actions stay queued, in order, until released.
  while (!Busy()) {
    const auto next = NextRunnable();
    if (next == idleActions_.end())
      break;
    auto action = std::move(next->run);
    idleActions_.erase(next);
    try {
      action();
    } catch (...) {
      // Deferred actions are handlers that run unattended; a failure must not stop the rest.
    }
  }
}

EHubMode QueryMode(THubLink& link) {
  const int result = link.SendFrame(CMD_QUERY_MODE, MakeRequest());
  return ModeFromReply(result, link.Reply());
}
