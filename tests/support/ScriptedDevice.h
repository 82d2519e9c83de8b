#pragma once
// A stand-in hub for protocol tests: records every output report and answers it as the test
// script says, through the event loop like the real reader's hand-over.

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "hid/HidTypes.h"
#include "protocol/HubLink.h"

class ScriptedDevice : public THidReportDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;
  struct Answer {
    Bytes report;  // bytes after the report id
    int delayMs = 0;
  };
  // Called for every write with the frame as written; returns the reports to send back.
  std::function<std::vector<Answer>(const Bytes& frame)> onWrite;

  HIDP_CAPS caps{0, 0xFF00, 65, 65, 0};
  bool failWrites = false;
  std::vector<Bytes> writes;

  // A reply report, as BuildReply makes it.
  static Bytes Reply(std::uint8_t command, std::uint8_t status, const Bytes& data = {});

  // Queues a report that arrives after delayMs and is handed over as a reader would.
  void Queue(Bytes report, int delayMs = 0);
  std::size_t PendingCount() const { return pending_.size(); }
  int DiscardCount() const { return discards_; }

  HIDP_CAPS QueryCaps() override { return caps; }
  TResult<void> WriteReport(const std::uint8_t* buffer, std::uint32_t count) override;
  void SetDataHandler(const THidDataEvent& handler) override { handler_ = handler; }
  void DiscardPendingInput() override;

 private:
  THidDataEvent handler_;
  struct Pending {
    Bytes report;
    qint64 dueMs;
  };
  std::map<int, Pending> pending_;
  QElapsedTimer clock_;
  int nextId_ = 0;
  int discards_ = 0;
  QObject context_;
};

// A link whose current device is a scripted one.
struct TScriptedLink {
  ScriptedDevice device;
  THubLink link;
  TScriptedLink() {
    device.SetDataHandler(link.DataHandler());
    link.SetCurrentDevice(&device);
  }
};
