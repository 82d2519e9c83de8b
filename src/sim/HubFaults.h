#pragma once
// Faults the emulated hub can be told to commit, and when.

#include <cstddef>
#include <cstdint>

#include "protocol/Commands.h"

// Which occurrences of a command a fault hits. Occurrences are counted per fault from 1, from
// the moment the fault was added, over every report that carries the fault's command code.
class TOccurrence {
 public:
  enum class ERule { Nth, EveryNth, FromNth };

  static TOccurrence Nth(int n) { return {ERule::Nth, n}; }
  static TOccurrence EveryNth(int n) { return {ERule::EveryNth, n}; }
  static TOccurrence FromNth(int n) { return {ERule::FromNth, n}; }
  static TOccurrence Always() { return FromNth(1); }

  // Whether the count-th occurrence (1-based) is hit. A rule with n < 1 hits nothing.
  bool Hits(int count) const;

 private:
  TOccurrence(ERule rule, int n) : rule_(rule), n_(n) {}
  ERule rule_;
  int n_;
};

enum class EFaultKind {
  NoReply,      // the request is lost: not carried out, no reply
  DelayReply,   // the reply comes `delayMs` after the request instead of after the latency
  ErrorStatus,  // the hub refuses the command: reply with `status`, nothing carried out
  WrongLead,    // the reply's lead byte is `leadByte`
  ShortReport,  // only the first `length` bytes of the reply are sent
  LengthByte,   // the reply's length byte (n + 5) is `length`, whatever data it carries
  WrongEcho,    // the reply's byte 3 names command `echo` instead of the one answered
  StaleReply,   // the previous reply is sent again, `delayMs` after the request, before the
                // real one when `delayMs` is below the latency
  Vanish,       // the hub drops off the bus instead of answering; returns `delayMs` later in
                // its bootloader, or never when `delayMs` < 0
  NoReturn,     // after CMD_ENTER_BOOTLOADER or CMD_REBOOT: the hub does not come back
  LateReturn,   // ... comes back `delayMs` after it went away instead of the usual delay
  NoAccess,     // ... comes back, but cannot be opened for reading and writing (keep it last)
};
inline constexpr std::size_t FAULT_KIND_COUNT = static_cast<std::size_t>(EFaultKind::NoAccess) + 1;

inline constexpr int ANY_COMMAND = -1;

// Tests write a fault as THubFault{kind, command, when, delayMs}: these four stay first.
struct THubFault {
  EFaultKind kind = EFaultKind::NoReply;
  int command = ANY_COMMAND;  // a CMD_ code, or ANY_COMMAND
  TOccurrence when = TOccurrence::Always();
  int delayMs = 0;
  std::uint8_t status = HUB_STATUS_TROUBLE;
  std::uint8_t leadByte = 0xAA;
  int length = 4;
  std::uint8_t echo = 0;
};
