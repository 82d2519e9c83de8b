#pragma once
// One exchange with the hub: a command frame written as an output report, one input report
// read back. The wait for the reply keeps the event loop running, so other handlers run
// meanwhile; the link makes sure that only one exchange is in flight and that every exchange
// reads its own reply.

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>

#include "hid/HidTypes.h"
#include "protocol/Commands.h"
#include "protocol/Frame.h"

class QEventLoop;

// Why an exchange did not end with status 0.
enum class EFrameFailure {
  None,
  NoDevice,     // no current hub
  Refused,      // too much data, or another exchange in flight: nothing written
  WriteFailed,  // the hub did not take the report (gone, most likely)
  NoReply,      // no reply to this command in any attempt
  ShortReply,   // the reply carried fewer data bytes than the command's reply has
  Status,       // the hub answered with a status other than 0
};

// What SendFrame returns: -1 or the hub's status byte, as an int, and why it was not 0.
struct TFrameResult {
  int value = -1;
  EFrameFailure failure = EFrameFailure::NoReply;
  operator int() const { return value; }  // NOLINT: callers compare with 0 and -1
};

class THubLink : public QObject {
  Q_OBJECT

 public:
  static constexpr int ATTEMPTS = 3;
  static constexpr int REPLY_TIMEOUT_MS = 100;
  static constexpr int WRITE_PAUSE_MS = 2;
  // A run of exchanges lets the event loop turn at least this often.
  static constexpr int EVENT_SLICE_MS = 10;

  explicit THubLink(QObject* parent = nullptr);
  ~THubLink() override;

  // The hub every command goes to, or none. Not owned. Read afresh by every attempt, so a
  // device-list rebuild during a wait can replace it.
  THidReportDevice* CurrentDevice() const { return currentDevice_; }
  void SetCurrentDevice(THidReportDevice* device) { currentDevice_ = device; }

  // Sends one command with up to three attempts. Returns -1 (no device, too much data, three
  // failed attempts, or another exchange already in flight) or the hub's status byte, 0 to 255,
  // with the cause. The reply stays in ReplyBuffer() until the next exchange.
  //
  // Once the hub has shown that it echoes the command code in byte 3 of its replies, a reply
  // naming another command is a late one to an earlier request: it is dropped and the wait goes
  // on. A reply with fewer data bytes than the command's reply has counts as no reply. A hub that
  // leaves bytes 1 to 3 zero is taken at its lead byte alone.
  TFrameResult SendFrame(std::uint8_t command, RequestBuffer request);
  // One attempt: write the frame, pause 2 ms, wait for the reply. 0 or -1.
  int SendFrameSub(std::uint8_t command, const RequestBuffer& request);
  // Clears the reply buffer and waits up to 100 ms for a reply (lead byte 0x55). 0 or -1.
  int WaitReply();

  // The data handler installed on the current device: copies the report into the reply buffer.
  void HidDeviceData(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data,
                     std::uint16_t size);
  THidDataEvent DataHandler() { return THidDataEvent::Bind<&THubLink::HidDeviceData>(this); }

  const ReplyBuffer& Reply() const { return reply_; }

  // True while an exchange waits for its reply. Timer ticks that find the link busy skip.
  bool Busy() const { return depth_ > 0; }
  // Runs `action` now when idle, else once the exchange in flight has ended (in arrival order).
  // For user actions and greetings, which must not be lost and must not nest.
  void RunWhenIdle(std::function<void()> action);
  // The same for an action the user started (a click, a slider): these wait, in order, while
  // held, whether an exchange is in flight or not.
  void RunUserActionWhenIdle(std::function<void()> action);
  // Holds user actions back, or lets them run again. An update holds them while the hub
  // reboots and gets its LED levels back.
  void HoldUserActions(bool hold);

  // Whether the hub has shown that it echoes the command code in its replies.
  bool EchoSeen() const { return echoSeen_; }

  // Counters for tests and benchmarks.
  std::uint64_t FramesWritten() const { return framesWritten_; }
  std::uint64_t StaleRepliesDropped() const { return staleDropped_; }
  std::uint64_t RefusedWhileBusy() const { return refusedWhileBusy_; }

 private:
  bool HasReply() const;
  // One attempt, and why it failed.
  EFrameFailure Attempt(std::uint8_t command, const RequestBuffer& request);
  // A reply to another command than the one in flight, from a hub known to echo it.
  bool IsStale(const std::uint8_t* data, std::size_t size) const;
  // Whether the reply in the buffer carries `needed` data bytes.
  bool CarriesData(std::size_t needed) const;
  void ScheduleIdleActions();
  void RunIdleActions();

  THidReportDevice* currentDevice_ = nullptr;
  ReplyBuffer reply_{};
  // Bytes the last report brought into reply_.
  std::size_t replySize_ = 0;
  // The command of the exchange in flight.
  std::uint8_t command_ = 0;
  bool echoSeen_ = false;
  int depth_ = 0;
  QEventLoop* waitLoop_ = nullptr;
  // When the event loop last turned inside a wait.
  QElapsedTimer eventsServed_;
  struct TIdleAction {
    std::function<void()> run;
    bool user = false;
  };
  // Runs `action` now when nothing is in flight or waiting before it, else queues it.
  void Enqueue(std::function<void()> action, bool user);
  // The next action that may run now, or the end of the queue.
  std::deque<TIdleAction>::iterator NextRunnable();

  std::deque<TIdleAction> idleActions_;
  bool userActionsHeld_ = false;
  bool idleRunPosted_ = false;
  std::uint64_t framesWritten_ = 0;
  std::uint64_t refusedWhileBusy_ = 0;
  std::uint64_t staleDropped_ = 0;
};

// CMD_QUERY_MODE mapped to the hub's mode (EHubMode::Error for status 0xFF). An exception while
// asking counts as the application.
EHubMode QueryMode(THubLink& link);
