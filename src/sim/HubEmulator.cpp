#include "sim/HubEmulator.h"

#include <QTimer>
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "protocol/Commands.h"
#include "sim/HubConnection.h"
#include "update/EmbeddedFirmware.h"

namespace {

// Written apart from the program's own CRC code on purpose: test equipment that shared it would
// accept whatever that code gets wrong. Byte-wise CRC-8, polynomial 0x07, initial 0.
std::uint8_t HubCrc(const std::uint8_t* bytes, std::size_t count) {
  std::uint8_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
  }
  return crc;
}

void PutBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::vector<std::uint8_t> MakeReply(std::uint8_t command, std::uint8_t status,
                                    const std::vector<std::uint8_t>& data) {
  const ReplyBuffer reply = BuildReply(command, status, data);
  return {reply.begin(), reply.end()};
}

// The hub's checks of a record, written apart from the program's image parser for the same
// reason as HubCrc. The checksum: ones' complement of the sum of count, address and data bytes.
std::uint8_t RecordChecksum(std::uint16_t address, const std::vector<std::uint8_t>& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + 3 + (address >> 8) + (address & 0xFF);
  for (const std::uint8_t b : data)
    sum += b;
  return static_cast<std::uint8_t>(~sum);
}

// The checksum byte an image line ends its record with, as its maker wrote it.
std::optional<std::uint8_t> LineChecksum(const std::string& line) {
  auto byteAt = [&line](std::size_t at) -> std::optional<std::uint8_t> {
    constexpr std::string_view digits = "0123456789ABCDEF";
    if (line.size() < at + 2)
      return std::nullopt;
    const auto hi = digits.find(static_cast<char>(std::toupper(line[at])));
    const auto lo = digits.find(static_cast<char>(std::toupper(line[at + 1])));
    if (hi == digits.npos || lo == digits.npos)
      return std::nullopt;
    return static_cast<std::uint8_t>(hi << 4 | lo);
  };
  const auto count = byteAt(2);
  return count ? byteAt(2 + 2 * std::size_t{*count}) : std::nullopt;
}

// The image built into the program, parsed once for all emulated hubs.
const FirmwareLines& BuiltInImage() {
  static const FirmwareLines image = LoadEmbeddedFirmware().Value();
  return image;
}

std::vector<std::string> LinesOf(const FirmwareLines& image) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < image.Count(); ++i)
    lines.push_back(image.Line(i));
  return lines;
}

// The bootloader's application area, first and last byte: where the built-in image lies.
std::pair<std::uint32_t, std::uint32_t> ApplicationArea() {
  const TFirmwareArea area = BuiltInImage().Area().value_or(TFirmwareArea{0xFFFF, 0});
  return {area.first, area.last};
}

bool FaultMatches(const THubFault& fault, std::uint8_t command) {
  return fault.command == ANY_COMMAND || fault.command == command;
}

}  // namespace

THubEmulator::THubEmulator(THubEmulatorOptions options, QObject* parent)
    : QObject(parent),
      options_(options),
      mode_(options.mode),
      appValid_(options.applicationValid),
      appVersion_(options.applicationVersion),
      ledLevels_(options.ledLevels),
      charge_(options.statusSeed) {
  clock_.start();
  // Read once per program: a fleet of emulated hubs would otherwise parse it once per hub.
  static const TImage builtIn = ReadImage(LinesOf(BuiltInImage()), BUILTIN_APP_VERSION);
  image_ = builtIn;
}

THubEmulator::~THubEmulator() = default;

void THubEmulator::SetFirmwareImage(const FirmwareLines& image, std::uint32_t version) {
  SetFirmwareLines(LinesOf(image), version);
}

void THubEmulator::SetFirmwareLines(const std::vector<std::string>& lines, std::uint32_t version) {
  image_ = ReadImage(lines, version);
}

THubEmulator::TImage THubEmulator::ReadImage(const std::vector<std::string>& lines,
                                             std::uint32_t version) {
  // The hub judges the image by its own checks, not by the program's verdict on it.
  TImage image;
  image.version = version;
  bool unreadable = false;
  for (const std::string& line : lines) {
    if (line.empty())
      continue;
    image.ended = line.size() > 1 && line[1] == '9';
    const auto parsed = ParseFirmwareLine(line);
    if (parsed && *parsed) {
      const FirmwareRecord& r = **parsed;
      image.records.push_back({r.address, r.data});
      if (const auto checksum = LineChecksum(line))
        image.checksums[r.address] = *checksum;
    } else if (line.size() > 1 && line[1] == '1') {
      unreadable = true;  // a record nobody could read
    }
  }
  image.valid = !image.records.empty() && !unreadable;
  return image;
}

// ---- bus -------------------------------------------------------------------------------------

void THubEmulator::Plug(bool canReadWrite) {
  if (attached_)
    return;
  ++plugEpoch_;
  // Power-up: the bootloader starts the application when there is a valid one. The very first
  // plug starts in the mode the options name, so tests can begin anywhere.
  AttachAs(attachments_ == 0 ? options_.mode : StartMode(), canReadWrite);
}

void THubEmulator::Unplug() {
  ++plugEpoch_;
  DetachNow();
}

void THubEmulator::AttachAs(EHubMode mode, bool canReadWrite) {
  if (attached_)
    return;
  mode_ = mode;
  attached_ = true;
  ++attachments_;
  // A restart forgets everything that lived in RAM.
  loaded_.reset();
  erasedThisSession_ = false;
  nextAddress_.reset();
  ledAdjusting_ = false;
  if (connection_)
    connection_->Attach(canReadWrite);
  emit Appeared(attachments_);
}

void THubEmulator::DetachNow() {
  if (!attached_)
    return;
  attached_ = false;
  if (connection_)
    connection_->Detach();
  emit Disappeared();
}

void THubEmulator::ReEnumerate(int goneAfterMs, EHubMode mode, int comeBackMs, bool canReadWrite) {
  const int epoch = plugEpoch_;
  const int attachment = attachments_;
  QTimer::singleShot(std::max(0, goneAfterMs), Qt::PreciseTimer, this,
                     [this, epoch, attachment, mode, comeBackMs, canReadWrite] {
                       if (epoch != plugEpoch_ || attachment != attachments_)
                         return;
                       DetachNow();
                       if (comeBackMs < 0)
                         return;
                       QTimer::singleShot(comeBackMs, Qt::PreciseTimer, this,
                                          [this, epoch, mode, canReadWrite] {
                                            if (epoch != plugEpoch_)
                                              return;
                                            AttachAs(mode, canReadWrite);
                                          });
                     });
}

// ---- faults ----------------------------------------------------------------------------------

bool TOccurrence::Hits(int count) const {
  if (n_ < 1)
    return false;
  switch (rule_) {
    case ERule::Nth:
      return count == n_;
    case ERule::EveryNth:
      return count % n_ == 0;
    case ERule::FromNth:
      return count >= n_;
  }
  return false;
}

int THubEmulator::AddFault(const THubFault& fault) {
  faults_.push_back({nextFaultId_, fault, 0});
  return nextFaultId_++;
}

void THubEmulator::RemoveFault(int id) {
  std::erase_if(faults_, [id](const TActiveFault& f) { return f.id == id; });
}

void THubEmulator::ClearFaults() {
  faults_.clear();
}

// ---- one report ------------------------------------------------------------------------------

THubTranscriptEntry* THubEmulator::Entry(std::uint64_t seq) {
  if (seq < transcriptBase_ || seq - transcriptBase_ >= transcript_.size())
    return nullptr;
  return &transcript_[seq - transcriptBase_];
}

void THubEmulator::HandleOutputReport(const std::uint8_t* report, std::size_t size) {
  // A hub that is off the bus hears nothing.
  if (!attached_)
    return;
  THubTranscriptEntry entry = Received(report, size);
  const TFaultHits hits = FaultsHitting(entry);
  const TOutcome outcome = CarryOut(report, size, entry, hits);
  if (const THubFault* vanish = hits[EFaultKind::Vanish])
    ReEnumerate(0, StartMode(), vanish->delayMs, true);  // pulled out

  std::vector<std::uint8_t> reply = ReplyTo(entry, outcome, hits);
  const THubFault* delay = hits[EFaultKind::DelayReply];
  const int delayMs = delay ? delay->delayMs : options_.replyLatencyMs;
  const std::uint64_t seq = transcriptBase_ + transcript_.size();
  if (options_.keepTranscript) {
    entry.reply = reply;
    transcript_.push_back(std::move(entry));
  } else {
    ++transcriptBase_;
  }
  if (const THubFault* stale = hits[EFaultKind::StaleReply])
    ResendLastReply(stale->delayMs);
  if (!reply.empty()) {
    lastReply_ = reply;
    Send(seq, std::move(reply), delayMs);
  }
  ResetAfter(outcome, delayMs, hits);
}

THubTranscriptEntry THubEmulator::Received(const std::uint8_t* report, std::size_t size) const {
  THubTranscriptEntry entry;
  entry.timeMs = clock_.elapsed();
  entry.attachment = attachments_;
  entry.mode = mode_;
  entry.command = size > FRAME_COMMAND_OFFSET ? report[FRAME_COMMAND_OFFSET] : 0;
  const std::size_t length = size > FRAME_LENGTH_OFFSET ? report[FRAME_LENGTH_OFFSET] : 0;
  const std::size_t n = length >= LENGTH_BYTE_OVERHEAD ? length - LENGTH_BYTE_OVERHEAD : 0;
  if (size > FRAME_DATA_OFFSET)
    entry.data.assign(report + FRAME_DATA_OFFSET, report + std::min(size, FRAME_DATA_OFFSET + n));
  return entry;
}

// Counting runs over every report with the fault's command code.
THubEmulator::TFaultHits THubEmulator::FaultsHitting(THubTranscriptEntry& entry) {
  TFaultHits hits;
  for (TActiveFault& f : faults_) {
    if (!FaultMatches(f.fault, entry.command) || !f.fault.when.Hits(++f.seen))
      continue;
    entry.faults.push_back(f.fault.kind);
    hits.byKind[static_cast<std::size_t>(f.fault.kind)] = &f.fault;
  }
  return hits;
}

THubEmulator::TOutcome THubEmulator::CarryOut(const std::uint8_t* report, std::size_t size,
                                              THubTranscriptEntry& entry, const TFaultHits& hits) {
  const std::size_t length = size > FRAME_LENGTH_OFFSET ? report[FRAME_LENGTH_OFFSET] : 0;
  const bool wellFormed = size == FRAME_SIZE && report[FRAME_REPORT_ID_OFFSET] == 0 &&
                          report[FRAME_LEAD_OFFSET] == FRAME_LEAD_BYTE &&
                          report[FRAME_ZERO_OFFSET] == 0 && length >= LENGTH_BYTE_OVERHEAD &&
                          length <= BUFFER_SIZE;
  const std::size_t n = wellFormed ? length - LENGTH_BYTE_OVERHEAD : 0;
  TOutcome outcome;
  if (!wellFormed) {
    outcome.status = HUB_STATUS_BAD_FRAME;
  } else if (HubCrc(report + FRAME_LEAD_OFFSET, n + 3) != report[FRAME_DATA_OFFSET + n]) {
    // From the lead byte over n + 3 bytes: the last data byte is left out.
    outcome.status = HUB_STATUS_BAD_CRC;
  } else if (!hits[EFaultKind::NoReply] && !hits[EFaultKind::Vanish] &&
             !hits[EFaultKind::ErrorStatus]) {
    outcome = Execute(entry.command, entry.data);
    entry.carriedOut = outcome.status == HUB_STATUS_OK;
  }
  entry.status = outcome.status;
  return outcome;
}

// The reply as sent, faults applied; empty when none goes out.
std::vector<std::uint8_t> THubEmulator::ReplyTo(const THubTranscriptEntry& entry,
                                                const TOutcome& outcome,
                                                const TFaultHits& hits) const {
  if (hits[EFaultKind::NoReply] || hits[EFaultKind::Vanish])
    return {};
  const THubFault* refuse = hits[EFaultKind::ErrorStatus];
  std::vector<std::uint8_t> reply =
      MakeReply(entry.command, refuse ? refuse->status : outcome.status,
                refuse ? std::vector<std::uint8_t>{} : outcome.data);
  if (const THubFault* f = hits[EFaultKind::WrongLead])
    reply[REPLY_LEAD_OFFSET] = f->leadByte;
  if (const THubFault* f = hits[EFaultKind::LengthByte])
    reply[REPLY_LENGTH_OFFSET] = static_cast<std::uint8_t>(f->length);
  if (const THubFault* f = hits[EFaultKind::WrongEcho])
    reply[REPLY_COMMAND_OFFSET] = f->echo;
  if (const THubFault* f = hits[EFaultKind::ShortReport])
    reply.resize(std::clamp<std::size_t>(f->length, 0, BUFFER_SIZE));
  return reply;
}

// A copy of the last reply, as a hub that answers twice would leave it queued.
void THubEmulator::ResendLastReply(int delayMs) {
  Send(std::nullopt, lastReply_.empty() ? MakeReply(0, HUB_STATUS_OK, {}) : lastReply_, delayMs);
}

// After CMD_ENTER_BOOTLOADER and CMD_REBOOT the hub answers, then resets and enumerates anew.
void THubEmulator::ResetAfter(const TOutcome& outcome, int replyDelayMs, const TFaultHits& hits) {
  if (outcome.after == TOutcome::EAfter::Nothing)
    return;
  const bool reboot = outcome.after == TOutcome::EAfter::Reboot;
  int comeBackMs = reboot ? options_.rebootDelayMs : options_.bootloaderSwitchDelayMs;
  if (const THubFault* late = hits[EFaultKind::LateReturn])
    comeBackMs = late->delayMs;
  if (hits[EFaultKind::NoReturn])
    comeBackMs = -1;
  ReEnumerate(std::max(0, replyDelayMs) + options_.resetAfterReplyMs,
              reboot ? StartMode() : EHubMode::Bootloader, comeBackMs, !hits[EFaultKind::NoAccess]);
}

EHubMode THubEmulator::StartMode() const {
  return appValid_ ? EHubMode::Application : EHubMode::Bootloader;
}

void THubEmulator::Send(std::optional<std::uint64_t> seq, std::vector<std::uint8_t> report,
                        int delayMs) {
  auto push = [this, seq](const std::vector<std::uint8_t>& r) {
    if (!attached_)
      return;
    if (connection_)
      connection_->PushInputReport(r.data(), r.size());
    if (THubTranscriptEntry* e = seq ? Entry(*seq) : nullptr)
      e->replyDelivered = true;
  };
  if (delayMs <= 0) {
    push(report);
    return;
  }
  const int attachment = attachments_;
  QTimer::singleShot(delayMs, Qt::PreciseTimer, this,
                     [this, attachment, push, report = std::move(report)] {
                       // A reply does not outlive the attachment it belongs to.
                       if (attachment == attachments_)
                         push(report);
                     });
}

// ---- commands --------------------------------------------------------------------------------

THubEmulator::TOutcome THubEmulator::Execute(std::uint8_t command,
                                             const std::vector<std::uint8_t>& data) {
  TOutcome out;
  const std::size_t n = data.size();
  const bool app = mode_ == EHubMode::Application;
  auto fail = [&out](std::uint8_t status) {
    out.status = status;
    return out;
  };

  switch (command) {
    case CMD_GET_VERSION:
      // The greeting carries no data, the version query one byte 0x00.
      if (n > 1)
        return fail(HUB_STATUS_BAD_LENGTH);
      if (n == 1 && data[0] != 0)
        return fail(HUB_STATUS_BAD_ARGUMENT);
      PutBigEndian32(out.data, ApplicationVersion());
      PutBigEndian32(out.data, options_.bootloaderVersion);
      return out;

    case CMD_QUERY_MODE:
      if (n != 0)
        return fail(HUB_STATUS_BAD_LENGTH);
      out.data = {static_cast<std::uint8_t>(mode_)};
      return out;

    case CMD_ENTER_BOOTLOADER:
      if (n != 0)
        return fail(HUB_STATUS_BAD_LENGTH);
      out.after = TOutcome::EAfter::EnterBootloader;
      return out;

    case CMD_REBOOT:
      if (n != 0)
        return fail(HUB_STATUS_BAD_LENGTH);
      if (!app && erasedThisSession_) {
        // The application runs only if what was written is the image, whole and in order, and
        // the image came to its end record.
        appValid_ = image_.valid && image_.ended && flash_ == image_.records;
        if (appValid_) {
          appVersion_ = image_.version;
          ledLevels_ = options_.defaultLedLevels;
        }
      }
      out.after = TOutcome::EAfter::Reboot;
      return out;

    case CMD_LOAD_RECORD:
      if (app)
        return fail(HUB_STATUS_WRONG_MODE);
      return LoadRecord(data);

    case CMD_PROGRAM_RECORD:
      if (app)
        return fail(HUB_STATUS_WRONG_MODE);
      return ProgramRecord(data);

    case CMD_READ_STATUS: {
      if (!app)
        return fail(HUB_STATUS_WRONG_MODE);
      if (n != 0)
        return fail(HUB_STATUS_BAD_LENGTH);
      if (options_.statusTimeScale > 0) {
        const qint64 now = clock_.elapsed();
        charge_.Advance(
            static_cast<std::int64_t>((now - statusClockMs_) * options_.statusTimeScale));
        statusClockMs_ = now;
      }
      const THubStatus s = Status();
      out.data = {static_cast<std::uint8_t>(s.voltage_mV & 0xFF),
                  static_cast<std::uint8_t>(s.voltage_mV >> 8),
                  static_cast<std::uint8_t>(s.current_mA & 0xFF),
                  static_cast<std::uint8_t>(s.current_mA >> 8),
                  s.state,
                  s.channel,
                  s.presence,
                  s.counters[0],
                  s.counters[1],
                  s.counters[2]};
      return out;
    }

    case CMD_SET_LED_LEVEL:
      if (!app)
        return fail(HUB_STATUS_WRONG_MODE);
      if (n != 2)
        return fail(HUB_STATUS_BAD_LENGTH);
      if (data[0] < 1 || data[0] > LED_CHANNEL_COUNT || data[1] > LED_LEVEL_MAX) {
        return fail(HUB_STATUS_BAD_ARGUMENT);
      }
      ledLevels_[data[0] - 1] = data[1];
      return out;

    case CMD_LED_ADJUST_BEGIN:
      if (!app)
        return fail(HUB_STATUS_WRONG_MODE);
      if (n != 0)
        return fail(HUB_STATUS_BAD_LENGTH);
      ledAdjusting_ = true;
      out.data.assign(ledLevels_.begin(), ledLevels_.end());
      return out;

    case CMD_LED_ADJUST_END:
      if (!app)
        return fail(HUB_STATUS_WRONG_MODE);
      if (n != 0)
        return fail(HUB_STATUS_BAD_LENGTH);
      ledAdjusting_ = false;
      return out;

    default:
      return fail(HUB_STATUS_UNKNOWN_COMMAND);
  }
}

// Four header bytes and at least one data byte.
THubEmulator::TOutcome THubEmulator::LoadRecord(const std::vector<std::uint8_t>& data) {
  TOutcome out;
  if (data.size() < 5) {
    out.status = HUB_STATUS_BAD_LENGTH;
  } else if (data[0] || data[1] || data[2] || data[3]) {
    out.status = HUB_STATUS_BAD_ARGUMENT;
  } else {
    // The record buffer: a later load replaces it, so a repeated request does no harm.
    loaded_.emplace(data.begin() + 4, data.end());
  }
  return out;
}

// Address low, address high, 0, 0, then the bytes of the record loaded before.
THubEmulator::TOutcome THubEmulator::ProgramRecord(const std::vector<std::uint8_t>& data) {
  TOutcome out;
  if (data.size() < 5) {
    out.status = HUB_STATUS_BAD_LENGTH;
    return out;
  }
  if (data[2] || data[3]) {
    out.status = HUB_STATUS_BAD_ARGUMENT;
    return out;
  }
  TProgrammedRecord record{static_cast<std::uint16_t>(data[0] | (data[1] << 8)),
                           std::vector<std::uint8_t>(data.begin() + 4, data.end())};
  // The same record again: a request repeated because its reply was lost. Flash already holds
  // these bytes there.
  if (erasedThisSession_ && !flash_.empty() && flash_.back() == record && !loaded_)
    return out;
  if (!loaded_) {
    out.status = HUB_STATUS_SEQUENCE;
  } else if (*loaded_ != record.data) {
    out.status = HUB_STATUS_RECORD_MISMATCH;
  } else if (const auto [first, last] = ApplicationArea();
             record.address < first || record.address + record.data.size() - 1 > last) {
    out.status = HUB_STATUS_BAD_ARGUMENT;
  } else if (const auto sum = image_.checksums.find(record.address);
             sum != image_.checksums.end() &&
             sum->second != RecordChecksum(record.address, record.data)) {
    out.status = HUB_STATUS_RECORD_MISMATCH;
  } else if (nextAddress_ && record.address != *nextAddress_) {
    out.status = HUB_STATUS_SEQUENCE;
  } else {
    if (!erasedThisSession_) {
      // The first record written wipes the old application.
      erasedThisSession_ = true;
      appValid_ = false;
      flash_.clear();
    }
    nextAddress_ = static_cast<std::uint16_t>(record.address + record.data.size());
    flash_.push_back(std::move(record));
    loaded_.reset();
  }
  return out;
}
