#pragma once
// A stand-in for the bus under the emulated hub: it writes down every attach, detach and input
// report, and turns requests into output reports as the program would write them.

#include <QElapsedTimer>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/Frame.h"
#include "sim/HubConnection.h"
#include "sim/HubEmulator.h"

using Bytes = std::vector<std::uint8_t>;

class TFakeConnection : public THubConnection {
 public:
  enum class EKind { Attach, Detach, Report };
  struct TEvent {
    EKind kind;
    bool canReadWrite = false;
    Bytes report;
    qint64 ms = 0;
  };
  std::vector<TEvent> events;

  TFakeConnection() { clock_.start(); }

  void Attach(bool canReadWrite) override {
    events.push_back({EKind::Attach, canReadWrite, {}, clock_.elapsed()});
  }
  void Detach() override { events.push_back({EKind::Detach, false, {}, clock_.elapsed()}); }
  void PushInputReport(const std::uint8_t* data, std::size_t size) override {
    events.push_back({EKind::Report, false, Bytes(data, data + size), clock_.elapsed()});
  }

  int Count(EKind kind) const {
    int c = 0;
    for (const TEvent& e : events)
      c += e.kind == kind;
    return c;
  }
  std::vector<Bytes> Reports(std::size_t from = 0) const {
    std::vector<Bytes> r;
    for (std::size_t i = from; i < events.size(); ++i) {
      if (events[i].kind == EKind::Report)
        r.push_back(events[i].report);
    }
    return r;
  }

 private:
  QElapsedTimer clock_;
};

// The 65-byte output report for `command` with `data`, as the program builds it.
inline Bytes Frame(std::uint8_t command, const Bytes& data = {}) {
  const CommandFrame f = BuildCommandFrame(command, MakeRequest(data));
  return Bytes(f.begin(), f.end());
}

// The data bytes a request carries.
inline Bytes RequestData(const RequestBuffer& request) {
  const auto data = request.begin() + REQUEST_DATA_OFFSET;
  return Bytes(data, data + static_cast<std::ptrdiff_t>(RequestLength(request)));
}

// Writes one report and returns what the hub pushed meanwhile (with latency 0: its reply).
inline std::vector<Bytes> Write(THubEmulator& hub, TFakeConnection& bus, const Bytes& report) {
  const std::size_t before = bus.events.size();
  hub.HandleOutputReport(report.data(), report.size());
  return bus.Reports(before);
}

// One command on an instant hub: its single reply, or an empty report when none came.
inline Bytes Exchange(THubEmulator& hub, TFakeConnection& bus, std::uint8_t command,
                      const Bytes& data = {}) {
  const std::vector<Bytes> r = Write(hub, bus, Frame(command, data));
  return r.size() == 1 ? r[0] : Bytes{};
}

// Options for a hub that answers at once and re-enumerates quickly.
inline THubEmulatorOptions InstantHub() {
  THubEmulatorOptions o;
  o.replyLatencyMs = 0;
  o.bootloaderSwitchDelayMs = 5;
  o.rebootDelayMs = 5;
  o.resetAfterReplyMs = 0;
  o.statusTimeScale = 0;
  return o;
}

// An emulated hub plugged into a fake bus.
struct TTestHub {
  TFakeConnection bus;
  THubEmulator hub;
  explicit TTestHub(THubEmulatorOptions o = InstantHub()) : hub(o) {
    hub.SetConnection(&bus);
    hub.Plug();
  }
};
