#pragma once
// The hub's side of every command: it reads the output reports the program writes, keeps the
// state a hub keeps (mode, versions, LED levels, charging, what was programmed) and answers with
// input reports, with a hub's delays and, when told to, with a hub's faults. It lives on the UI
// thread and uses Qt timers for everything that takes time.
//
// The reports and status codes are those of src/protocol/README.md; a report that is not a
// well-formed command for the hub's present mode gets one of the HUB_STATUS_ codes.

#include <QElapsedTimer>
#include <QObject>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Commands.h"
#include "sim/ChargeModel.h"
#include "sim/HubFaults.h"

class THubConnection;
class FirmwareLines;

// The application an emulated hub runs unless told otherwise: older than the built-in one, so an
// update is offered.
inline constexpr std::uint32_t EMULATED_APP_VERSION = 0x11140801;  // 1.1.14.0801

struct THubEmulatorOptions {
  EHubMode mode = EHubMode::Application;
  // The application the hub runs at start; with applicationValid false the hub has none (and
  // must then start in its bootloader).
  std::uint32_t applicationVersion = EMULATED_APP_VERSION;
  bool applicationValid = true;
  std::uint32_t bootloaderVersion = 0x01000300;
  std::array<std::uint8_t, LED_CHANNEL_COUNT> ledLevels{80, 70, 60, 50, 40, 30, 20, 10};
  // What a freshly programmed application starts with.
  std::array<std::uint8_t, LED_CHANNEL_COUNT> defaultLedLevels{100, 100, 100, 100,
                                                               100, 100, 100, 100};

  // Request to reply. 0: the reply is pushed at once, inside the write.
  int replyLatencyMs = 1;
  // The USB serial number; empty for a hub without one. A hub keeps it across its resets.
  std::string serialNumber;

  // From the hub going away to its coming back.
  int bootloaderSwitchDelayMs = 1200;
  int rebootDelayMs = 1200;
  // From the reply of CMD_ENTER_BOOTLOADER or CMD_REBOOT to the hub going away.
  int resetAfterReplyMs = 5;

  // Simulated charging seconds per real second; 0 stops the clock (tests use AdvanceStatus).
  double statusTimeScale = 10.0;
  std::uint32_t statusSeed = 1;

  // Every report received, with its reply, for tests to look at. A demo that runs for hours
  // keeps none: an update alone adds 1,265 entries.
  bool keepTranscript = true;
};

// One report the hub received.
struct THubTranscriptEntry {
  qint64 timeMs = 0;  // since the emulator was made
  int attachment = 0;
  EHubMode mode = EHubMode::Application;  // when it arrived
  std::uint8_t command = 0;               // 0 when the report is too short to hold one
  std::vector<std::uint8_t> data;         // the n data bytes, as far as the report held them
  std::uint8_t status = 0;                // what the hub made of it, before faults
  bool carriedOut = false;                // executed with status 0 (not withheld by a fault)
  std::vector<std::uint8_t> reply;        // the reply as sent (faults applied); empty: none
  bool replyDelivered = false;            // false while on its way, or lost with the device
  std::vector<EFaultKind> faults;         // the faults that hit this report
};

class THubEmulator : public QObject {
  Q_OBJECT

 public:
  // The hub runs the embedded image's application version (BUILTIN_APP_VERSION) once that image
  // has been programmed into it completely and in order.
  explicit THubEmulator(THubEmulatorOptions options = {}, QObject* parent = nullptr);
  ~THubEmulator() override;

  // The bus side. Not owned; may be null (the hub then talks to nobody).
  void SetConnection(THubConnection* connection) { connection_ = connection; }
  // Plugs the hub in (a new attachment) / pulls it out. Plug on an attached hub does nothing.
  void Plug(bool canReadWrite = true);
  void Unplug();
  bool Attached() const { return attached_; }
  int Attachments() const { return attachments_; }

  // One output report as the program wrote it: report id first, 65 bytes.
  void HandleOutputReport(const std::uint8_t* report, std::size_t size);

  // The image whose complete and ordered arrival makes the hub run `version`. The hub reads it
  // itself, as its maker's: an image without records, with a record line it cannot read or
  // without an end record can never be matched, and a record is refused when its bytes do not
  // give the checksum of its line, or when it lies outside the application area.
  void SetFirmwareImage(const FirmwareLines& image, std::uint32_t version);
  // The same from lines that may not make a sound image.
  void SetFirmwareLines(const std::vector<std::string>& lines, std::uint32_t version);

  int AddFault(const THubFault& fault);  // returns an id for RemoveFault
  void RemoveFault(int id);
  void ClearFaults();

  // What the hub is and holds.
  EHubMode Mode() const { return mode_; }
  bool ApplicationValid() const { return appValid_; }
  // 0 while there is no valid application, as CMD_GET_VERSION reports it.
  std::uint32_t ApplicationVersion() const { return appValid_ ? appVersion_ : 0; }
  std::uint32_t BootloaderVersion() const { return options_.bootloaderVersion; }
  const std::array<std::uint8_t, LED_CHANNEL_COUNT>& LedLevels() const { return ledLevels_; }
  bool LedAdjusting() const { return ledAdjusting_; }
  struct TProgrammedRecord {
    std::uint16_t address;
    std::vector<std::uint8_t> data;
    bool operator==(const TProgrammedRecord&) const = default;
  };
  // The records programmed since the application was last erased, in order.
  const std::vector<TProgrammedRecord>& Programmed() const { return flash_; }

  // What CMD_READ_STATUS reports: the fixed readout when one is set, else the charging.
  THubStatus Status() const { return fixedStatus_ ? *fixedStatus_ : charge_.Status(); }
  void AdvanceStatus(std::int64_t simulatedMs) { charge_.Advance(simulatedMs); }
  // For tests that need exact figures; nullopt goes back to the charging.
  void SetFixedStatus(std::optional<THubStatus> status) { fixedStatus_ = status; }

  const std::vector<THubTranscriptEntry>& Transcript() const { return transcript_; }
  // Replies still on their way then belong to no entry.
  void ClearTranscript() {
    transcriptBase_ += transcript_.size();
    transcript_.clear();
  }

  const THubEmulatorOptions& Options() const { return options_; }

 signals:
  // After the hub has appeared on / left the bus.
  void Appeared(int attachment);
  void Disappeared();

 private:
  struct TOutcome {
    std::uint8_t status = HUB_STATUS_OK;
    std::vector<std::uint8_t> data;
    enum class EAfter { Nothing, EnterBootloader, Reboot } after = EAfter::Nothing;
  };
  struct TActiveFault {
    int id;
    THubFault fault;
    int seen = 0;
  };

  // The faults that hit one report, one per kind: the last added when several of a kind do.
  struct TFaultHits {
    std::array<const THubFault*, FAULT_KIND_COUNT> byKind{};
    const THubFault* operator[](EFaultKind kind) const {
      return byKind[static_cast<std::size_t>(kind)];
    }
  };

  // The steps of one report: what arrived, the faults it meets, what the hub makes of it, its
  // answer, and the reset some commands end with.
  THubTranscriptEntry Received(const std::uint8_t* report, std::size_t size) const;
  TFaultHits FaultsHitting(THubTranscriptEntry& entry);
  TOutcome CarryOut(const std::uint8_t* report, std::size_t size, THubTranscriptEntry& entry,
                    const TFaultHits& hits);
  std::vector<std::uint8_t> ReplyTo(const THubTranscriptEntry& entry, const TOutcome& outcome,
                                    const TFaultHits& hits) const;
  void ResendLastReply(int delayMs);
  void ResetAfter(const TOutcome& outcome, int replyDelayMs, const TFaultHits& hits);
  // The mode a power-up ends in: the bootloader starts the application when there is a valid one.
  EHubMode StartMode() const;

  TOutcome Execute(std::uint8_t command, const std::vector<std::uint8_t>& data);
  TOutcome LoadRecord(const std::vector<std::uint8_t>& data);
  TOutcome ProgramRecord(const std::vector<std::uint8_t>& data);
  void AttachAs(EHubMode mode, bool canReadWrite);
  void DetachNow();
  // Goes away `goneAfterMs` from now and, unless `comeBackMs` < 0, comes back that much later.
  void ReEnumerate(int goneAfterMs, EHubMode mode, int comeBackMs, bool canReadWrite);
  // Pushes `report` after `delayMs`; `seq` names the transcript entry it answers, if any.
  void Send(std::optional<std::uint64_t> seq, std::vector<std::uint8_t> report, int delayMs);
  THubTranscriptEntry* Entry(std::uint64_t seq);

  THubEmulatorOptions options_;
  THubConnection* connection_ = nullptr;
  QElapsedTimer clock_;

  bool attached_ = false;
  int attachments_ = 0;
  EHubMode mode_;
  bool appValid_;
  std::uint32_t appVersion_;
  std::array<std::uint8_t, LED_CHANNEL_COUNT> ledLevels_;
  bool ledAdjusting_ = false;

  TChargeModel charge_;
  std::optional<THubStatus> fixedStatus_;
  qint64 statusClockMs_ = 0;

  // The image whose arrival makes the hub run its version, as the hub read it.
  struct TImage {
    std::vector<TProgrammedRecord> records;
    std::map<std::uint16_t, std::uint8_t> checksums;  // by record address, from its line
    bool valid = false;
    bool ended = false;
    std::uint32_t version = 0;
  };
  static TImage ReadImage(const std::vector<std::string>& lines, std::uint32_t version);
  TImage image_;

  // Bootloader session: from one attachment to the next.
  std::optional<std::vector<std::uint8_t>> loaded_;
  bool erasedThisSession_ = false;
  std::optional<std::uint16_t> nextAddress_;
  std::vector<TProgrammedRecord> flash_;

  std::vector<TActiveFault> faults_;
  int nextFaultId_ = 1;
  std::vector<std::uint8_t> lastReply_;
  std::vector<THubTranscriptEntry> transcript_;
  std::uint64_t transcriptBase_ = 0;  // sequence number of transcript_[0]
  // Bumped whenever the hub is plugged or pulled by hand: pending comings and goings are void.
  int plugEpoch_ = 0;
};
