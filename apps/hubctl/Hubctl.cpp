#include "Hubctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>

#include "HubFleet.h"
#include "HubctlTexts.h"
#include "TerminalView.h"
#include "hid/sim/SimHidBus.h"
#include "protocol/Commands.h"
#include "sim/SimulatedHub.h"
#include "tool/StatusRead.h"
#include "update/BuildConfig.h"
#include "update/EmbeddedFirmware.h"
#include "update/EmbeddedResource.h"
#include "update/HubSession.h"
#include "update/Texts.h"
#include "update/Version.h"

struct THubctl::TOptions {
  QString command;
  QStringList arguments;
  bool simulate = false;
  bool json = false;
  bool watch = false;
  bool version = false;
  QString device;
  // update --image FILE --image-version X.X.XX.XXXX
  std::optional<QString> image;
  std::optional<QString> imageVersion;
  std::optional<int> timeoutS;
  std::optional<int> count;
  bool all = false;       // update --all
  bool parallel = false;  // auto --parallel
  std::optional<QString> log;
  std::optional<int> hubs;  // --simulate --hubs N
};

const char* ResultName(EUpdateResult result) {
  switch (result) {
    case EUpdateResult::Completed:
      return "completed";
    case EUpdateResult::BrokenImage:
      return "broken-image";
    case EUpdateResult::NoDevice:
      return "no-hub";
    case EUpdateResult::LedLevelsNotRead:
      return "led-levels-not-read";
    case EUpdateResult::BootloaderNotFound:
      return "not-found-after-bootloader-switch";
    case EUpdateResult::RecordFailed:
      return "record-failed";
    case EUpdateResult::NotFoundAfterReboot:
      return "not-found-after-reboot";
    case EUpdateResult::Error:
      return "error";
    case EUpdateResult::NotUpdated:
      return "not-updated";
    case EUpdateResult::OtherSocket:
      return "back-in-another-socket";
    case EUpdateResult::LedLevelsNotRestored:
      return "led-levels-not-restored";
    case EUpdateResult::Stopped:
      return "stopped";
    case EUpdateResult::Cancelled:
      return "cancelled";
    case EUpdateResult::AlreadyRunning:
      return "already-running";
    case EUpdateResult::HubInUse:
      return "hub-in-use";
  }
  return "error";
}

int ExitCodeOf(EUpdateResult result) {
  switch (result) {
    case EUpdateResult::Completed:
      return EXIT_OK;
    case EUpdateResult::Stopped:
    case EUpdateResult::Cancelled:
      return EXIT_INTERRUPTED;
    case EUpdateResult::NoDevice:
      return EXIT_NO_HUB;
    case EUpdateResult::HubInUse:
      return EXIT_HUB_IN_USE;
    default:
      return EXIT_UPDATE_FAILED;
  }
}

void THubTally::Add(int hubCode) {
  ++done_;
  failed_ = failed_ || hubCode != EXIT_OK;
  interrupted_ = interrupted_ || hubCode == EXIT_INTERRUPTED;
}

int THubTally::ExitCode() const {
  if (interrupted_)
    return EXIT_INTERRUPTED;
  return failed_ ? EXIT_UPDATE_FAILED : EXIT_OK;
}

namespace {

// Appends `record` to the file at `path` as one JSON line, written whole in one write() to a
// file opened for appending, so that concurrent writers and crashes never leave half a line.
// False with `error` set when it could not be written.
bool AppendJsonLine(const QString& path, const QJsonObject& record, QString& error) {
  const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
  const int fd =
      open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = QString::fromLocal8Bit(strerror(errno));
    return false;
  }
  const ssize_t written = write(fd, line.constData(), static_cast<size_t>(line.size()));
  const int writeErrno = errno;
  const bool closed = close(fd) == 0;
  if (written != line.size()) {
    error = written < 0 ? QString::fromLocal8Bit(strerror(writeErrno))
                        : QStringLiteral("only part of the line was written");
    return false;
  }
  if (!closed) {
    error = QString::fromLocal8Bit(strerror(errno));
    return false;
  }
  return true;
}

QString Hex4(unsigned value) {
  return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

// A version in JSON: the raw hex digits and the dotted form the window shows.
void AddVersion(QJsonObject& object, const QString& key, std::uint32_t version) {
  object.insert(key, VersionText(version));
  object.insert(key + QStringLiteral("Dotted"), FormatVersion(VersionText(version)));
}

bool ParseInt(const QString& text, int low, int high, int& value) {
  bool ok = false;
  value = text.toInt(&ok);
  return ok && value >= low && value <= high;
}

}  // namespace

THubctl::THubctl(THubctlEnvironment environment) : env_(std::move(environment)) {}

THubctl::~THubctl() {
  // The session's devices go before the bus they live on.
  session_.reset();
  simulatedHubs_.clear();
}

QString THubctl::Usage() {
  return QStringLiteral(
      "Usage: halvek-hubctl [--simulate] [--device NODE] [--json] COMMAND [ARGUMENTS]\n"
      "\n"
      "Commands:\n"
      "  list                  every HID device: node, vendor:product, report lengths, access\n"
      "  version               the hub's versions and whether an update is available\n"
      "  update                programs the built-in firmware into the hub\n"
      "  update --all          updates every hub plugged in, all at once\n"
      "  update --image FILE --image-version X.X.XX.XXXX\n"
      "                        programs the image in FILE instead; the hub must then report\n"
      "                        that application version\n"
      "  status [--watch]      the hub's charging data, once or every second\n"
      "  led                   the hub's eight LED levels\n"
      "  led CHANNEL LEVEL     sets one level (channel 1-8: 1-4 red, 5-8 green; level 0-100)\n"
      "  led all LEVEL         sets all eight levels\n"
      "  wait [--timeout S]    waits until a hub is plugged in\n"
      "  auto [--count N]      updates every hub as it is plugged in, until Ctrl-C (or N hubs)\n"
      "  auto --parallel       the same, without waiting for the hubs being updated\n"
      "  install-udev-rule     lets the user at the seat use hubs without root (run as root)\n"
      "\n"
      "Options:\n"
      "  --simulate            use emulated hubs instead of the machine's\n"
      "  --device NODE         the hub at NODE (such as /dev/hidraw3) when several are plugged in\n"
      "  --json                one JSON object per line\n"
      "  --log FILE            (update, auto) appends one JSON line per hub updated\n"
      "  --hubs N              with --simulate: N emulated hubs\n"
      "  --help, -h            this text\n"
      "  --version             this program's version and that of the built-in firmware\n"
      "\n"
      "Exit codes: 0 success, 1 other error (the output could not be written, for one),\n"
      "2 usage error, 3 no hub, 4 access denied, 5 update failed, 6 time-out (no answer, or\n"
      "wait ran out), 7 hub in use by another program, 130 interrupted.\n"
      "\n"
      "SIGHUP and SIGTERM act like a first Ctrl-C: an update in progress runs to its end.\n"
      "HALVEK_SIMULATE_FAST=1 with --simulate: short pauses and a hub that answers at once\n"
      "(for tests and demos). HALVEK_SIMULATE_FAULTS=\"2:no-reply@100,3:vanish@100\" with\n"
      "--simulate: the second emulated hub stops answering from its 100th record, the third\n"
      "drops off the bus at it.\n");
}

int THubctl::Run(const QStringList& arguments) {
  const int code = RunCommand(arguments);
  env_.out->flush();
  QString error = view_ ? view_->OutputError() : QString();
  if (error.isEmpty() && env_.out->status() != QTextStream::Ok)
    error = TTerminalView::WriteErrorOf(*env_.out);
  if (error.isEmpty())
    return code;
  *env_.err << "halvek-hubctl: " << HubctlTexts::CannotWriteOutput(error) << '\n';
  env_.err->flush();
  // A failed command keeps its own code: it says more.
  return code == EXIT_OK ? EXIT_ERROR : code;
}

int THubctl::RunCommand(const QStringList& arguments) {
  TOptions options;
  auto usageError = [this](const QString& why) {
    *env_.err << "halvek-hubctl: " << why << "\n\n" << Usage();
    env_.err->flush();
    return EXIT_USAGE;
  };
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    auto value = [&](QString& out) {
      if (i + 1 >= arguments.size())
        return false;
      out = arguments[++i];
      return true;
    };
    QString text;
    int number = 0;
    if (a == "--help" || a == "-h") {
      *env_.out << Usage();
      return EXIT_OK;
    } else if (a == "--version") {
      options.version = true;
    } else if (a == "--image") {
      if (!value(text))
        return usageError(HubctlTexts::ImageNeedsFile);
      options.image = text;
    } else if (a == "--image-version") {
      if (!value(text))
        return usageError(HubctlTexts::ImageVersionNeedsVersion);
      options.imageVersion = text;
    } else if (a == "--simulate") {
      options.simulate = true;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--all") {
      options.all = true;
    } else if (a == "--parallel") {
      options.parallel = true;
    } else if (a == "--log") {
      if (!value(text) || text.isEmpty())
        return usageError(HubctlTexts::LogNeedsFile);
      options.log = text;
    } else if (a == "--hubs") {
      if (!value(text) || !ParseInt(text, 1, 64, number))
        return usageError(HubctlTexts::HubsNeedsNumber);
      options.hubs = number;
    } else if (a == "--watch") {
      options.watch = true;
    } else if (a == "--device") {
      if (!value(options.device) || options.device.isEmpty())
        return usageError(HubctlTexts::DeviceNeedsNode);
    } else if (a == "--timeout") {
      if (!value(text) || !ParseInt(text, 0, 86400, number)) {
        return usageError(HubctlTexts::TimeoutNeedsSeconds);
      }
      options.timeoutS = number;
    } else if (a == "--count") {
      if (!value(text) || !ParseInt(text, 1, 1000000, number)) {
        return usageError(HubctlTexts::CountNeedsNumber);
      }
      options.count = number;
    } else if (a.startsWith("--")) {
      return usageError(HubctlTexts::UnknownOption(a));
    } else if (options.command.isEmpty()) {
      options.command = a;
    } else {
      options.arguments << a;
    }
  }
  if (options.version)
    return ShowVersion(options);
  static const QStringList commands = {"list", "version", "update", "status",
                                       "led",  "wait",    "auto",   "install-udev-rule"};
  if (options.command.isEmpty())
    return usageError(HubctlTexts::NoCommand);
  if (!commands.contains(options.command))
    return usageError(HubctlTexts::UnknownCommand(options.command));
  if (options.command != "led" && !options.arguments.isEmpty()) {
    return usageError(HubctlTexts::Unexpected(options.arguments));
  }
  if (options.watch && options.command != "status")
    return usageError(HubctlTexts::GoesWith("--watch", "status"));
  if (options.timeoutS && options.command != "wait")
    return usageError(HubctlTexts::GoesWith("--timeout", "wait"));
  if (options.count && options.command != "auto")
    return usageError(HubctlTexts::GoesWith("--count", "auto"));
  if (options.all && options.command != "update")
    return usageError(HubctlTexts::GoesWith("--all", "update"));
  if (options.all && !options.device.isEmpty())
    return usageError(HubctlTexts::AllExcludesDevice);
  if (options.parallel && options.command != "auto")
    return usageError(HubctlTexts::GoesWith("--parallel", "auto"));
  if (options.log && options.command != "update" && options.command != "auto")
    return usageError(HubctlTexts::GoesWith("--log", "update and auto"));
  if (options.hubs && !options.simulate)
    return usageError(HubctlTexts::GoesWith("--hubs", "--simulate"));
  if ((options.image || options.imageVersion) && options.command != "update" &&
      options.command != "auto") {
    return usageError(HubctlTexts::ImageGoesWith);
  }
  if (options.image.has_value() != options.imageVersion.has_value())
    return usageError(HubctlTexts::ImageGoTogether);
  if (options.imageVersion) {
    const auto version = ParseDottedVersion(*options.imageVersion);
    if (!version) {
      return usageError(HubctlTexts::NotAVersion(*options.imageVersion));
    }
    imageVersion_ = *version;
  }

  const auto style = options.json    ? TTerminalView::EStyle::Json
                     : env_.terminal ? TTerminalView::EStyle::Terminal
                                     : TTerminalView::EStyle::Plain;
  view_ = std::make_unique<TTerminalView>(*env_.out, *env_.err, style);
  if (options.image) {
    // Checked like the built-in image, before any hub is touched.
    image_ = LoadFirmwareFile(*options.image);
    if (!image_->IsValid()) {
      Error(HubctlTexts::RefusingImage(QString::fromStdString(image_->Error())));
      return EXIT_USAGE;
    }
  }
  if (options.command == "install-udev-rule")
    return InstallUdevRule();
  return Dispatch(options);
}

int THubctl::Dispatch(const TOptions& options) {
  std::shared_ptr<THidPlatform> platform = env_.platform;
  if (options.simulate) {
    if (qgetenv("HALVEK_SIMULATE_FAST") == "1") {
      // For tests and demos: short pauses and a hub that answers at once.
      TUpdateTiming fast;
      fast.bootloaderPauseMs = 150;
      fast.rebootPauseMs = 150;
      fast.ledPauseMs = 0;
      env_.timing = fast;
      env_.simulatedHub.replyLatencyMs = 0;
      env_.simulatedHub.bootloaderSwitchDelayMs = 30;
      env_.simulatedHub.rebootDelayMs = 30;
      env_.autoTimerMs = 30;
    }
    bus_ = std::make_shared<TSimHidBus>();
    platform = bus_;
    for (int i = 0; i < options.hubs.value_or(1); ++i)
      PlugSimulatedHub();
  }
  session_ = std::make_unique<THubSession>(*view_);
  if (env_.levelStoreDirectory)
    session_->LevelStore() = TLedLevelStore(*env_.levelStoreDirectory);
  else if (options.simulate)
    session_->LevelStore() = TLedLevelStore(QString());  // emulated hubs: nothing on disk
  if (env_.timing)
    session_->Procedure().SetTiming(*env_.timing);
  // One hub of several: from the start nothing goes to the others, which may be another
  // program's. Updating them all: this process talks to none of them.
  if (!options.device.isEmpty())
    session_->HoldNodeAtStart(options.device.toStdString());
  else if (options.all || options.parallel)
    session_->HoldNodeAtStart(std::string());
  // What discovery logs at start (a hub without access) the command reports itself, once.
  view_->SetQuiet(true);
  try {
    // A supplied image names the version the hub must come back with.
    if (image_)
      session_->Start(platform, image_, imageVersion_);
    else
      session_->Start(platform, env_.image, env_.imageVersion);
  } catch (const std::exception& e) {
    view_->SetQuiet(false);
    Error(HubctlTexts::CannotReachDevices(e.what()));
    return EXIT_ERROR;
  }
  if (env_.autoTimerMs)
    session_->AutoTimer().setInterval(*env_.autoTimerMs);
  // Discovery's own greeting may still be queued: let it go out before the command.
  QCoreApplication::processEvents();
  view_->SetQuiet(false);

  if (options.command == "list")
    return List(options);
  if (options.command == "version")
    return Version(options);
  if (options.command == "update")
    return Update(options);
  if (options.command == "status")
    return Status(options);
  if (options.command == "led")
    return Led(options);
  if (options.command == "wait")
    return Wait(options);
  return Auto(options);
}

void THubctl::PlugSimulatedHub() {
  auto hub = std::make_unique<TSimulatedHub>(bus_, env_.simulatedHub);
  // An emulated hub takes a supplied image as the real one would: running its version after.
  if (image_)
    hub->Emulator().SetFirmwareImage(*image_, imageVersion_);
  if (env_.onSimulatedHub)
    env_.onSimulatedHub(hub->Emulator());
  // HALVEK_SIMULATE_FAULTS="2:no-reply@100,3:vanish@100": the second hub stops answering from
  // the 100th record programmed, the third drops off the bus for good at it. Every process of
  // update --all makes the same hubs, so each plants the same faults.
  const int number = static_cast<int>(simulatedHubs_.size()) + 1;
  for (const QString& item : QString::fromLocal8Bit(qgetenv("HALVEK_SIMULATE_FAULTS")).split(',')) {
    static const QRegularExpression form(QStringLiteral("^(\\d+):(no-reply|vanish)@(\\d+)$"));
    const auto match = form.match(item.trimmed());
    if (!match.hasMatch() || match.captured(1).toInt() != number)
      continue;
    THubFault fault;
    fault.command = CMD_PROGRAM_RECORD;
    const int at = match.captured(3).toInt();
    if (match.captured(2) == QLatin1String("vanish")) {
      fault.kind = EFaultKind::Vanish;
      fault.when = TOccurrence::Nth(at);
      fault.delayMs = -1;
    } else {
      fault.kind = EFaultKind::NoReply;
      fault.when = TOccurrence::FromNth(at);
    }
    hub->Emulator().AddFault(fault);
  }
  simulatedHubs_.push_back(std::move(hub));
}

void THubctl::Error(const QString& line) {
  view_->FinishProgress();
  if (view_->Style() == TTerminalView::EStyle::Json) {
    view_->EmitJson({{"event", "error"}, {"text", line}});
  }
  *env_.err << "halvek-hubctl: " << line << '\n';
  env_.err->flush();
}

QString THubctl::CurrentNode() const {
  auto* device = dynamic_cast<THidDevice*>(session_->Link().CurrentDevice());
  return device ? QString::fromStdString(device->InterfaceInfo().DevicePath) : QString();
}

int THubctl::SelectHub(const TOptions& options) {
  const auto& hubs = session_->Hubs();
  int index = hubs.empty() ? -1 : 0;
  if (!options.device.isEmpty()) {
    index = -1;
    for (std::size_t i = 0; i < hubs.size(); ++i) {
      if (QString::fromStdString(hubs[i]->InterfaceInfo().DevicePath) == options.device) {
        index = static_cast<int>(i);
      }
    }
    if (index < 0) {
      Error(HubctlTexts::NoHubAt(options.device));
      return EXIT_NO_HUB;
    }
  }
  if (index < 0) {
    Error(HubctlTexts::NoHubFound);
    return EXIT_NO_HUB;
  }
  // Later device changes keep to this hub, whatever else is plugged in.
  session_->HoldHub(index);
  THidDevice* hub = hubs[index];
  if (!hub->CanReadWrite()) {
    Error(AccessDeniedLine(hub));
    return EXIT_ACCESS_DENIED;
  }
  QString why;
  if (THubSession::InUseElsewhere(hub, &why)) {
    Error(HubctlTexts::HubInUse(CurrentNode(), why));
    return EXIT_HUB_IN_USE;
  }
  return EXIT_OK;
}

int THubctl::List(const TOptions& options) {
  THidDeviceController& controller = session_->Controller();
  QJsonArray devices;
  for (THidDevice* device : controller.DeviceList()) {
    if (!device->IsPresent())
      continue;
    HIDP_CAPS caps;
    controller.Platform().GetCaps(device->InterfaceInfo(), caps);
    const auto& a = device->Attributes();
    const bool hub = IsHub(device);
    // A device with the hub's ids that is not taken for one says why.
    const QString notHub = HasHubIds(device) && !hub ? NotAHubReason(device) : QString();
    const QString node = QString::fromStdString(device->InterfaceInfo().DevicePath);
    const QString access =
        device->CanReadWrite()
            ? HubctlTexts::ReadWrite
            : HubctlTexts::NoAccess(QString::fromStdString(device->OpenErrorText()));
    if (options.json) {
      devices.append(QJsonObject{{"node", node},
                                 {"vendor", Hex4(a.VendorID)},
                                 {"product", Hex4(a.ProductID)},
                                 {"inputLength", caps.InputReportByteLength},
                                 {"outputLength", caps.OutputReportByteLength},
                                 {"readWrite", device->CanReadWrite()},
                                 {"hub", hub}});
      if (!notHub.isEmpty()) {
        QJsonObject last = devices.last().toObject();
        last.insert("notHub", notHub);
        devices.replace(devices.size() - 1, last);
      }
    } else {
      view_->Print(QStringLiteral("%1  %2:%3  in %4  out %5  %6%7")
                       .arg(node, -16)
                       .arg(Hex4(a.VendorID), Hex4(a.ProductID))
                       .arg(caps.InputReportByteLength, -3)
                       .arg(caps.OutputReportByteLength, -3)
                       .arg(access, hub                ? HubctlTexts::ListHub
                                    : notHub.isEmpty() ? QString()
                                                       : HubctlTexts::ListNotHub(notHub)));
    }
  }
  if (options.json) {
    view_->EmitJson({{"devices", devices}});
  } else if (controller.DeviceList().empty()) {
    view_->Print(HubctlTexts::NoHidDevices);
  }
  for (THidDevice* hub : session_->Hubs()) {
    if (!hub->CanReadWrite()) {
      Error(AccessDeniedLine(hub));
    }
  }
  return EXIT_OK;
}

int THubctl::Version(const TOptions& options) {
  if (const int code = SelectHub(options))
    return code;
  const auto version = session_->CheckVersion();
  if (!version) {
    Error(HubctlTexts::DidNotAnswer(CurrentNode()));
    return EXIT_TIMEOUT;
  }
  if (options.json) {
    QJsonObject object{{"node", CurrentNode()},
                       {"updateAvailable", IsUpdateAvailable(version->application)}};
    AddVersion(object, QStringLiteral("bootloader"), version->bootloader);
    AddVersion(object, QStringLiteral("application"), version->application);
    AddVersion(object, QStringLiteral("builtIn"), BUILTIN_APP_VERSION);
    view_->EmitJson(object);
  } else {
    for (const QString& line : VersionLines(*version))
      view_->Print(line);
  }
  return EXIT_OK;
}

int THubctl::Update(const TOptions& options) {
  if (options.all)
    return UpdateAll(options);
  if (const int code = SelectHub(options))
    return code;
  const bool keepRecord = options.json || options.log;
  const QString node = CurrentNode();
  auto* hub = dynamic_cast<THidDevice*>(session_->Link().CurrentDevice());
  const QString port = hub ? QString::fromStdString(PortOf(hub)) : QString();
  QElapsedTimer clock;
  clock.start();
  std::optional<std::uint32_t> before;
  if (keepRecord) {
    if (const auto version = session_->CheckVersion())
      before = version->application;
  }
  onInterrupt_ = [this] { InterruptUpdate(); };
  EUpdateResult result = EUpdateResult::Error;
  try {
    result = session_->Update();
  } catch (const std::exception& e) {
    Error(HubctlTexts::UpdateFailed(e.what()));
  }
  onInterrupt_ = nullptr;
  view_->FinishProgress();
  const QJsonObject record = UpdateRecord(result, node, port, before, clock.elapsed());
  if (options.json) {
    QJsonObject object = record;
    object.insert("event", "result");
    if (image_) {
      object.insert("image", *options.image);
      AddVersion(object, QStringLiteral("imageVersion"), imageVersion_);
    }
    view_->EmitJson(object);
  }
  WriteLog(options, record);
  if (result == EUpdateResult::Stopped)
    Error(HubctlTexts::StoppedInBootloader);
  return ExitCodeOf(result);
}

QJsonObject THubctl::UpdateRecord(EUpdateResult result, const QString& node, const QString& port,
                                  std::optional<std::uint32_t> before, qint64 durationMs) const {
  const TUpdateRecord& done = session_->Procedure().Record();
  QJsonObject record{{"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                     {"node", node},
                     {"port", port},
                     {"result", ResultName(result)},
                     {"ledLevelsRestored", done.ledLevelsRestored}};
  if (durationMs >= 0)
    record.insert("durationMs", durationMs);
  if (before)
    record.insert("versionBefore", VersionText(*before));
  if (done.applicationAfter)
    record.insert("versionAfter", VersionText(*done.applicationAfter));
  if (done.ledLevelsSaved) {
    QJsonArray levels;
    for (int level : *done.ledLevelsSaved)
      levels.append(level);
    record.insert("ledLevelsSaved", levels);
  }
  return record;
}

void THubctl::WriteLog(const TOptions& options, const QJsonObject& record) {
  QString error;
  if (options.log && !AppendJsonLine(*options.log, record, error))
    Error(HubctlTexts::LogNotWritten(*options.log, error));
}

QString THubctl::ChildProgram() const {
  return env_.program.isEmpty() ? QCoreApplication::applicationFilePath() : env_.program;
}

void THubctl::InterruptFleet(THubFleet& fleet) {
  if (interrupts_ == 1)
    Error(HubctlTexts::InterruptAll);
  fleet.Interrupt(SIGINT);
}

QStringList THubctl::ChildArguments(const TOptions& options) const {
  QStringList arguments;
  if (options.simulate) {
    // The child makes the same emulated hubs and takes the one at its node.
    arguments << "--simulate"
              << "--hubs" << QString::number(options.hubs.value_or(1));
  }
  if (options.image)
    arguments << "--image" << *options.image << "--image-version" << *options.imageVersion;
  return arguments;
}

int THubctl::UpdateAll(const TOptions& options) {
  THubFleet fleet(*view_, ChildProgram(), ChildArguments(options));
  THubTally tally;
  connect(&fleet, &THubFleet::HubFinished, this,
          [&](const QString& node, int code, const QJsonObject& record) {
            WriteLog(options, record);
            if (!options.json) {
              view_->Print(QStringLiteral("%1: %2").arg(node, record.value("result").toString()));
            }
            tally.Add(code);
            if (fleet.Running() == 0)
              Finish(tally.ExitCode());
          });
  for (THidDevice* hub : session_->Hubs()) {
    fleet.Start(QString::fromStdString(hub->InterfaceInfo().DevicePath),
                QString::fromStdString(HubKey(hub)));
  }
  if (fleet.Running() == 0) {
    Error(HubctlTexts::NoHubFound);
    return EXIT_NO_HUB;
  }
  onInterrupt_ = [&] { InterruptFleet(fleet); };
  return RunLoopUntilDone();
}

int THubctl::AutoParallel(const TOptions& options) {
  THubFleet fleet(*view_, ChildProgram(), ChildArguments(options));
  THubTally tally;
  // Ctrl-C, or nobody reading any more: no more hubs are taken on.
  bool stopping = false;
  // Ports (or nodes) whose hub has been updated and is still plugged in: not new until it goes.
  QStringList updated;
  auto keyOf = [](THidDevice* hub) { return QString::fromStdString(HubKey(hub)); };
  auto startNew = [&] {
    QStringList present;
    for (THidDevice* hub : session_->Hubs())
      present << keyOf(hub);
    // A hub taken away after its update makes room for the next one in that socket; one away
    // in the middle of its update is coming back.
    updated.removeIf(
        [&](const QString& key) { return !present.contains(key) && !fleet.Updating(key); });
    for (THidDevice* hub : session_->Hubs()) {
      const QString node = QString::fromStdString(hub->InterfaceInfo().DevicePath);
      const QString key = keyOf(hub);
      // A hub coming back from its bootloader switch is the one being updated, not a new one.
      if (stopping || updated.contains(key) || fleet.Updating(key) ||
          (options.count && tally.Done() + fleet.Running() >= *options.count)) {
        continue;
      }
      updated << key;
      fleet.Start(node, key);
    }
  };
  connect(
      &fleet, &THubFleet::HubFinished, this,
      [&](const QString& node, int code, const QJsonObject& record) {
        tally.Add(code);
        WriteLog(options, record);
        if (options.json) {
          view_->EmitJson(
              {{"event", "hub"}, {"node", node}, {"result", record.value("result").toString()}});
        } else {
          view_->Print(HubctlTexts::HubDone(tally.Done(), node, record.value("result").toString()));
        }
        // Nobody reads any more: the updates under way end, no more hubs are taken on.
        const bool unread = !view_->OutputError().isEmpty();
        if (fleet.Running() == 0 && unread) {
          Finish(EXIT_ERROR);
          return;
        }
        stopping = stopping || unread;
        if (fleet.Running() == 0 &&
            (stopping || (options.count && tally.Done() >= *options.count))) {
          Finish(tally.ExitCode());
        }
      });
  connect(session_.get(), &THubSession::HubsChanged, this, startNew);
  onInterrupt_ = [&] {
    stopping = true;
    tally.Interrupt();
    if (fleet.Running() == 0) {
      Finish(tally.ExitCode());
      return;
    }
    InterruptFleet(fleet);
  };
  if (!options.json)
    view_->Print(HubctlTexts::WaitingForHubs);
  // Hubs already plugged in when we start are to be updated too.
  startNew();
  return RunLoopUntilDone();
}

int THubctl::Status(const TOptions& options) {
  if (const int code = SelectHub(options))
    return code;
  auto readOnce = [this, &options]() {
    const auto status = ReadHubStatus(session_->Link());
    if (!status) {
      Error(HubctlTexts::DidNotAnswer(CurrentNode()));
      return false;
    }
    if (options.json) {
      QJsonArray batteries;
      for (bool present : status->batteryPresent)
        batteries.append(present);
      view_->EmitJson({{"voltage_mV", status->voltage_mV},
                       {"current_mA", status->current_mA},
                       {"state", status->state},
                       {"channel", status->channel},
                       {"batteries", batteries},
                       {"counters", QJsonArray{status->counters[0], status->counters[1],
                                               status->counters[2]}}});
      return true;
    }
    for (const QString& line : HubctlTexts::StatusLines(*status))
      view_->Print(line);
    return true;
  };
  const bool ok = readOnce();
  if (!options.watch)
    return ok ? EXIT_OK : EXIT_TIMEOUT;

  QTimer timer;
  timer.setInterval(1000);
  connect(&timer, &QTimer::timeout, this, [&] {
    if (!session_->Busy()) {
      if (!options.json)
        view_->Print(QString());
      readOnce();
    }
    // Nobody reads any more (`| head`): nothing left to watch for.
    if (!view_->OutputError().isEmpty())
      Finish(EXIT_ERROR);
  });
  if (!view_->OutputError().isEmpty())
    return EXIT_ERROR;
  timer.start();
  onInterrupt_ = [this] { Finish(EXIT_INTERRUPTED); };
  return RunLoopUntilDone();
}

int THubctl::Led(const TOptions& options) {
  const QStringList& args = options.arguments;
  auto usageError = [this](const QString& why) {
    *env_.err << "halvek-hubctl: " << why << '\n';
    return EXIT_USAGE;
  };
  int channelFrom = 0, channelTo = 0, level = 0;
  if (!args.isEmpty()) {
    if (args.size() != 2)
      return usageError(HubctlTexts::LedArguments);
    if (args[0] == "all") {
      channelFrom = 1;
      channelTo = LED_CHANNEL_COUNT;
    } else if (ParseInt(args[0], 1, LED_CHANNEL_COUNT, channelFrom)) {
      channelTo = channelFrom;
    } else {
      return usageError(HubctlTexts::LedChannelRange);
    }
    if (!ParseInt(args[1], 0, LED_LEVEL_MAX, level))
      return usageError(HubctlTexts::LedLevelRange);
  }
  if (const int code = SelectHub(options))
    return code;
  THubLink& link = session_->Link();
  const QString node = CurrentNode();
  if (args.isEmpty()) {
    const int result = link.SendFrame(CMD_LED_ADJUST_BEGIN, MakeRequest());
    const ReplyBuffer reply = link.Reply();
    link.SendFrame(CMD_LED_ADJUST_END, MakeRequest());
    if (result != 0) {
      Error(HubctlTexts::NoLedLevels(node));
      return EXIT_TIMEOUT;
    }
    const auto levels = DecodeLedLevels(reply);
    if (options.json) {
      QJsonArray red, green;
      for (int i = 0; i < 4; ++i)
        red.append(levels[i]);
      for (int i = 4; i < 8; ++i)
        green.append(levels[i]);
      view_->EmitJson({{"node", node}, {"red", red}, {"green", green}});
    } else {
      for (int led = 0; led < 4; ++led) {
        view_->Print(HubctlTexts::LedLine(led + 1, levels[led], levels[led + 4]));
      }
    }
    return EXIT_OK;
  }
  bool answered = true;
  for (int channel = channelFrom; channel <= channelTo; ++channel) {
    answered = link.SendFrame(CMD_SET_LED_LEVEL, LedLevelRequest(channel, level)) == 0 && answered;
  }
  link.SendFrame(CMD_LED_ADJUST_END, MakeRequest());
  if (!answered) {
    Error(HubctlTexts::LevelNotTaken(node));
    return EXIT_TIMEOUT;
  }
  if (options.json)
    view_->EmitJson({{"node", node}, {"set", true}});
  return EXIT_OK;
}

int THubctl::Wait(const TOptions& options) {
  auto found = [this, &options]() {
    for (THidDevice* hub : session_->Hubs()) {
      const QString node = QString::fromStdString(hub->InterfaceInfo().DevicePath);
      if (options.device.isEmpty() || node == options.device) {
        if (options.json) {
          view_->EmitJson({{"event", "hub"}, {"node", node}});
        } else {
          view_->Print(node);
        }
        return true;
      }
    }
    return false;
  };
  if (found())
    return EXIT_OK;
  connect(session_.get(), &THubSession::HubsChanged, this, [&] {
    if (found())
      Finish(EXIT_OK);
  });
  QTimer timeout;
  if (options.timeoutS) {
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, [&] {
      Error(HubctlTexts::NoHubWithin(*options.timeoutS));
      Finish(EXIT_TIMEOUT);
    });
    timeout.start(*options.timeoutS * 1000);
  }
  onInterrupt_ = [this] { Finish(EXIT_INTERRUPTED); };
  return RunLoopUntilDone();
}

int THubctl::Auto(const TOptions& options) {
  if (options.parallel)
    return AutoParallel(options);
  THubTally tally;
  connect(session_.get(), &THubSession::AutoUpdateFinished, this, [&](EUpdateResult result) {
    tally.Add(ExitCodeOf(result));
    const QString node = CurrentNode();
    auto* hub = dynamic_cast<THidDevice*>(session_->Link().CurrentDevice());
    WriteLog(options, UpdateRecord(result, node, hub ? QString::fromStdString(PortOf(hub)) : "",
                                   std::nullopt, -1));
    if (options.json) {
      view_->EmitJson({{"event", "hub"}, {"node", node}, {"result", ResultName(result)}});
    } else {
      view_->Print(HubctlTexts::HubDone(tally.Done(), node.isEmpty() ? QStringLiteral("?") : node,
                                        ResultName(result)));
    }
    if (options.count && tally.Done() >= *options.count) {
      Finish(tally.ExitCode());
      return;
    }
    // Nobody reads any more: no more hubs are taken on.
    if (!view_->OutputError().isEmpty()) {
      Finish(EXIT_ERROR);
      return;
    }
  });
  onInterrupt_ = [this] {
    if (session_->Procedure().Running()) {
      InterruptUpdate();
      // Leave once that update has ended.
      connect(session_.get(), &THubSession::AutoUpdateFinished, this,
              [this] { Finish(EXIT_INTERRUPTED); });
      return;
    }
    Finish(EXIT_INTERRUPTED);
  };
  if (!options.json)
    view_->Print(HubctlTexts::WaitingForHubs);
  session_->SetAutoUpdate(true);
  // Hubs already plugged in when we start are to be updated too, each once.
  session_->RequestAutoUpdate();
  return RunLoopUntilDone();
}

int THubctl::ShowVersion(const TOptions& options) {
  if (options.json) {
    QJsonObject object{{"program", "halvek-hubctl"}, {"version", PROGRAM_VERSION}};
    AddVersion(object, QStringLiteral("builtIn"), BUILTIN_APP_VERSION);
    *env_.out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
  } else {
    *env_.out << HubctlTexts::ProgramVersion(PROGRAM_VERSION) << '\n'
              << HubctlTexts::BuiltInFirmware(FormatVersion(VersionText(BUILTIN_APP_VERSION)),
                                              VersionText(BUILTIN_APP_VERSION))
              << '\n';
  }
  env_.out->flush();
  return EXIT_OK;
}

int THubctl::InstallUdevRule() {
  const QString ruleName = QStringLiteral("60-halvek-hub.rules");
  const auto rule = LoadEmbeddedResource(QStringLiteral("PACKAGING"), ruleName);
  if (!rule) {
    Error(HubctlTexts::RuleMissing);
    return EXIT_ERROR;
  }
  if (env_.requireRoot && geteuid() != 0) {
    Error(HubctlTexts::RuleNeedsRoot);
    return EXIT_ACCESS_DENIED;
  }
  const QString path = QDir(env_.udevRulesDir).filePath(ruleName);
  // Written beside the rule and renamed over it: a full disk leaves the old rule (or none),
  // never a truncated one. The explicit flush: commit() does not see a failing final write.
  QSaveFile file(path);
  if (!QDir().mkpath(env_.udevRulesDir) || !file.open(QIODevice::WriteOnly) ||
      file.write(*rule) != rule->size() || !file.flush() || !file.commit()) {
    Error(HubctlTexts::CannotWrite(path, file.errorString()));
    return EXIT_ERROR;
  }
  bool reloaded = false;
  if (env_.runUdevadm) {
    reloaded = QProcess::execute("udevadm", {"control", "--reload-rules"}) == 0 &&
               QProcess::execute("udevadm",
                                 {"trigger", "--subsystem-match=hidraw", "--action=change"}) == 0;
  }
  if (view_->Style() == TTerminalView::EStyle::Json) {
    view_->EmitJson({{"event", "installed"}, {"path", path}, {"udevadmRan", reloaded}});
    return EXIT_OK;
  }
  view_->Print(HubctlTexts::RuleInstalled(path));
  if (env_.runUdevadm && !reloaded) {
    view_->Print(HubctlTexts::UdevadmDidNotRun);
    return EXIT_OK;
  }
  view_->Print(HubctlTexts::PlugAgain);
  return EXIT_OK;
}

void THubctl::InterruptUpdate() {
  TUpdateProcedure& update = session_->Procedure();
  switch (update.Stage()) {
    case EUpdateStage::Idle:
    case EUpdateStage::Preparing:
      // Nothing has changed on the hub yet: stop before the bootloader switch.
      update.RequestStop();
      Error(HubctlTexts::InterruptBeforeSwitch);
      return;
    case EUpdateStage::Switching:
    case EUpdateStage::Programming:
      if (interrupts_ == 1 || update.Stage() == EUpdateStage::Switching) {
        Error(HubctlTexts::InterruptGoesOn);
      } else {
        update.RequestStop();
      }
      return;
    case EUpdateStage::Finishing:
      Error(HubctlTexts::InterruptFinishing);
      return;
  }
}

bool THubctl::Interrupt(EInterrupt kind) {
  // A hang-up or termination is only ever a first Ctrl-C: once one has been seen, it adds
  // nothing, and it never stops an update midway.
  if (kind == EInterrupt::Soft && interrupts_ > 0)
    return static_cast<bool>(onInterrupt_);
  ++interrupts_;
  if (!onInterrupt_)
    return false;
  onInterrupt_();
  return true;
}

int THubctl::RunLoopUntilDone() {
  QEventLoop loop;
  loop_ = &loop;
  loopResult_ = EXIT_OK;
  loop.exec();
  loop_ = nullptr;
  onInterrupt_ = nullptr;
  view_->FinishProgress();
  return loopResult_;
}

void THubctl::Finish(int code) {
  loopResult_ = code;
  if (loop_)
    loop_->quit();
}
