#include "Hubctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSysInfo>
#include <QTimer>

#include "CommandLine.h"
#include "HubFleet.h"
#include "HubctlJson.h"
#include "HubctlTexts.h"
#include "TerminalView.h"
#include "base/Result.h"
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

namespace json = HubctlJson;

namespace {
// Names, by its number from 1, the one emulated hub a process of update --all or auto --parallel
// plugs in under --simulate: the one at its --device node.
constexpr char OWN_SIMULATED_HUB[] = "HALVEK_SIMULATE_HUB";
}  // namespace

struct THubctl::TOptions {
  QString command;
  QStringList arguments;
  bool simulate = false;
  bool json = false;
  bool watch = false;
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
  bool force = false;       // update a hub that runs the image's version
  bool allowOlder = false;  // program an image older than the hub's
  bool remove = false;      // install-udev-rule --remove
};

const char* ResultName(EUpdateResult result) {
  switch (result) {
    case EUpdateResult::Completed:
      return "completed";
    case EUpdateResult::BrokenImage:
      return json::REASON_BROKEN_IMAGE;
    case EUpdateResult::NoDevice:
      return json::REASON_NO_HUB;
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
      return json::REASON_HUB_IN_USE;
  }
  return "error";
}

EHubctlExit ExitCodeOf(EUpdateResult result) {
  switch (result) {
    case EUpdateResult::Completed:
      return EHubctlExit::Ok;
    case EUpdateResult::Stopped:
    case EUpdateResult::Cancelled:
      return EHubctlExit::Interrupted;
    case EUpdateResult::NoDevice:
      return EHubctlExit::NoHub;
    case EUpdateResult::HubInUse:
      return EHubctlExit::HubInUse;
    default:
      return EHubctlExit::UpdateFailed;
  }
}

const QStringList& LogRecordKeys() {
  static const QStringList keys = {
      json::KEY_TIME,   "host",           "programVersion", "imageVersion",
      "imageSha256",    json::KEY_NODE,   "port",           "serialNumber",
      "versionBefore",  "versionAfter",   "ledLevelsSaved", "ledLevelsRestored",
      json::KEY_RESULT, json::KEY_REASON, "durationMs",     json::KEY_EXIT_CODE};
  return keys;
}

void THubTally::Add(EHubctlExit hubCode, const QString& result) {
  ++done_;
  if (result == RESULT_ALREADY_CURRENT || result == RESULT_IMAGE_OLDER) {
    ++leftAlone_;
    return;
  }
  failed_ = failed_ || hubCode != EHubctlExit::Ok;
  interrupted_ = interrupted_ || hubCode == EHubctlExit::Interrupted;
}

EHubctlExit THubTally::ExitCode() const {
  if (interrupted_)
    return EHubctlExit::Interrupted;
  return failed_ ? EHubctlExit::UpdateFailed : EHubctlExit::Ok;
}

namespace {

// Appends `record` to the file at `path` as one JSON line, written whole in one write() to a
// file opened for appending, so that concurrent writers and crashes never leave half a line.
TResult<void> AppendJsonLine(const QString& path, const QJsonObject& record) {
  // The system's words alone: the log's line names the file.
  const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
  const int fd =
      open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    return ErrnoError(errno);
  const ssize_t written = write(fd, line.constData(), static_cast<size_t>(line.size()));
  const int writeErrno = errno;
  const bool closed = close(fd) == 0;
  const int closeErrno = errno;
  if (written < 0)
    return ErrnoError(writeErrno);
  if (written != line.size())
    return TError{QStringLiteral("only part of the line was written")};
  if (!closed)
    return ErrnoError(closeErrno);
  return {};
}

QString Hex4(unsigned value) {
  return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

// A version in JSON: the raw hex digits and the dotted form the window shows; null for none.
void AddVersion(QJsonObject& object, const QString& key, std::optional<std::uint32_t> version) {
  object.insert(key, version ? QJsonValue(VersionText(*version)) : QJsonValue());
  object.insert(key + QStringLiteral("Dotted"),
                version ? QJsonValue(DottedVersion(*version)) : QJsonValue());
}

QJsonValue OrNull(const QString& text) {
  return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

}  // namespace

THubctl::THubctl(THubctlEnvironment environment) : env_(std::move(environment)) {}

THubctl::~THubctl() {
  // The session's devices go before the bus they live on.
  session_.reset();
  simulatedHubs_.clear();
}

EHubctlExit THubctl::Run(const QStringList& arguments) {
  const EHubctlExit code = RunCommand(arguments);
  env_.out->flush();
  QString error = view_ ? view_->OutputError() : QString();
  if (error.isEmpty() && env_.out->status() != QTextStream::Ok)
    error = TTerminalView::WriteErrorOf(*env_.out);
  if (error.isEmpty())
    return code;
  Say(HubctlTexts::CannotWriteOutput(error));
  // A failed command keeps its own code: it says more.
  return code == EHubctlExit::Ok ? EHubctlExit::Error : code;
}

EHubctlExit THubctl::Failed(const std::exception& error) {
  const QString line = HubctlTexts::CannotReachDevices(QString::fromLocal8Bit(error.what()));
  if (!view_) {
    Say(line);
    return EHubctlExit::Error;
  }
  view_->SetQuiet(false);
  Error(json::REASON_CANNOT_REACH_DEVICES, line);
  return EHubctlExit::Error;
}

EHubctlExit THubctl::UsageError(const QString& why) {
  Error(json::REASON_USAGE, why);
  *env_.err << HubctlCommandLine::TryHelp() << '\n';
  env_.err->flush();
  return EHubctlExit::Usage;
}

EHubctlExit THubctl::RunCommand(const QStringList& arguments) {
  namespace cl = HubctlCommandLine;
  const cl::TParsed parsed = cl::Parse(arguments);
  // A bar needs a terminal that takes cursor movements and has room for it.
  constexpr int NARROWEST_BAR_TERMINAL = 30;
  const bool bar = env_.terminal && env_.cursorControl && env_.columns >= NARROWEST_BAR_TERMINAL;
  const auto style = parsed.json ? TTerminalView::EStyle::Json
                     : bar       ? TTerminalView::EStyle::Terminal
                                 : TTerminalView::EStyle::Plain;
  view_ = std::make_unique<TTerminalView>(*env_.out, *env_.err, style, env_.columns);
  if (!parsed.error.isEmpty())
    return UsageError(parsed.error);
  if (parsed.help) {
    const cl::TCommand* command = cl::FindCommand(parsed.command);
    *env_.out << (command ? cl::CommandHelp(*command) : cl::Usage());
    return EHubctlExit::Ok;
  }
  if (parsed.Has("--version"))
    return ShowVersion(parsed.json);
  if (parsed.command == "completion") {
    *env_.out << (parsed.arguments[0] == "zsh" ? cl::ZshCompletion() : cl::BashCompletion());
    return EHubctlExit::Ok;
  }

  TOptions options;
  options.command = parsed.command;
  options.arguments = parsed.arguments;
  options.simulate = parsed.Has("--simulate");
  options.json = parsed.json;
  options.watch = parsed.Has("--watch");
  options.device = parsed.Value("--device");
  options.all = parsed.Has("--all");
  options.parallel = parsed.Has("--parallel");
  options.force = parsed.Has("--force");
  options.allowOlder = parsed.Has("--allow-older");
  options.remove = parsed.Has("--remove");
  if (parsed.Has("--image")) {
    options.image = parsed.Value("--image");
    options.imageVersion = parsed.Value("--image-version");
  }
  if (parsed.Has("--log"))
    options.log = parsed.Value("--log");
  if (parsed.Has("--hubs"))
    options.hubs = parsed.Number("--hubs");
  if (parsed.Has("--timeout"))
    options.timeoutS = parsed.Number("--timeout");
  if (parsed.Has("--count"))
    options.count = parsed.Number("--count");
  // auto alone programs every hub as the window does: the version rules are not its own.
  if ((options.force || options.allowOlder) && options.command == "auto" && !options.parallel)
    return UsageError(HubctlTexts::VersionRulesGoWith);
  if (options.imageVersion) {
    const auto version = ParseDottedVersion(*options.imageVersion);
    if (!version) {
      return UsageError(HubctlTexts::NotAVersion(*options.imageVersion));
    }
    imageVersion_ = *version;
  }
  if (options.image) {
    // Checked like the built-in image, before any hub is touched.
    TResult<FirmwareLines> image = LoadFirmwareFile(*options.image);
    if (!image) {
      Error(json::REASON_BROKEN_IMAGE, HubctlTexts::RefusingImage(image.Error().text));
      return EHubctlExit::Usage;
    }
    image_ = std::move(image).Value();
    QFile file(*options.image);
    if (file.open(QIODevice::ReadOnly))
      imageSha256_ = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
  } else if (env_.image) {
    QByteArray text;
    for (std::size_t i = 0; i < env_.image->Count(); ++i)
      text += QByteArray::fromStdString(env_.image->Line(i)) + '\n';
    imageSha256_ = QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
  } else if (const auto builtIn =
                 LoadEmbeddedResource(QStringLiteral("APP"), QStringLiteral("appbin"))) {
    imageSha256_ = QCryptographicHash::hash(*builtIn, QCryptographicHash::Sha256).toHex();
  }
  if (options.command == "install-udev-rule")
    return InstallUdevRule(options);
  return Dispatch(options);
}

EHubctlExit THubctl::Dispatch(const TOptions& options) {
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
    PlugSimulatedHubs(options);
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
  // A supplied image names the version the hub must come back with.
  if (image_)
    session_->Start(platform, image_, imageVersion_);
  else
    session_->Start(platform, env_.image, env_.imageVersion);
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

void THubctl::PlugSimulatedHubs(const TOptions& options) {
  const int count = options.hubs.value_or(1);
  // A hub's own process in update --all or auto --parallel: that hub alone. The others are other
  // processes' business, and building every hub in every process slowed the whole fleet's start.
  bool named = false;
  const int own = qEnvironmentVariableIntValue(OWN_SIMULATED_HUB, &named);
  const bool alone = named && !options.device.isEmpty() && own >= 1 && own <= count;
  for (int number = 1; number <= count; ++number) {
    if (!alone || number == own) {
      PlugSimulatedHub(number);
      continue;
    }
    // The bus numbers its devices in the order they are plugged in: the others' numbers are
    // used up, so that the hub keeps the node and port the whole fleet's list gave it, and
    // comes back from its restarts under the nodes it would have had there.
    bus_->Detach(bus_->Attach({}), false);
  }
}

QProcessEnvironment THubctl::ChildEnvironment(const THidDevice* hub) const {
  QProcessEnvironment environment;
  for (std::size_t i = 0; i < simulatedHubs_.size(); ++i) {
    if (simulatedHubs_[i]->DevInst() == hub->InterfaceInfo().DevInst)
      environment.insert(OWN_SIMULATED_HUB, QString::number(i + 1));
  }
  return environment;
}

void THubctl::PlugSimulatedHub(int number) {
  auto hub = std::make_unique<TSimulatedHub>(bus_, env_.simulatedHub);
  // An emulated hub takes a supplied image as the real one would: running its version after.
  if (image_)
    hub->Emulator().SetFirmwareImage(*image_, imageVersion_);
  if (env_.onSimulatedHub)
    env_.onSimulatedHub(hub->Emulator());
  // HALVEK_SIMULATE_FAULTS="2:no-reply@100,3:vanish@100": the second hub stops answering from
  // the 100th record programmed, the third drops off the bus for good at it. A hub's own process
  // in update --all plants the faults of its number.
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

void THubctl::Error(const QString& reason, const QString& line, const QJsonObject& more) {
  view_->FinishProgress();
  if (view_->Style() == TTerminalView::EStyle::Json) {
    QJsonObject object = more;
    object.insert(json::KEY_EVENT, json::EVENT_ERROR);
    object.insert(json::KEY_REASON, reason);
    object.insert(json::KEY_MESSAGE, line);
    view_->EmitJson(object);
  }
  Say(line);
}

void THubctl::Notice(const QString& line) {
  view_->FinishProgress();
  if (view_->Style() == TTerminalView::EStyle::Json)
    view_->EmitJson({{json::KEY_EVENT, json::EVENT_NOTICE}, {json::KEY_MESSAGE, line}});
  Say(line);
}

void THubctl::Say(const QString& line) {
  *env_.err << HubctlTexts::Said(line) << '\n';
  env_.err->flush();
}

QString THubctl::CurrentNode() const {
  auto* device = session_->CurrentHub();
  return device ? QString::fromStdString(device->InterfaceInfo().DevicePath) : QString();
}

THubctl::THubIds THubctl::IdsOf(const THidDevice* hub) {
  if (!hub)
    return {};
  return {QString::fromStdString(hub->InterfaceInfo().DevicePath),
          QString::fromStdString(PortOf(hub)), QString::fromStdString(SerialOf(hub))};
}

EHubctlExit THubctl::SelectHub(const TOptions& options) {
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
      Error(json::REASON_NO_HUB, HubctlTexts::NoHubAt(options.device));
      return EHubctlExit::NoHub;
    }
  } else if (hubs.size() > 1) {
    return SeveralHubs();
  }
  if (index < 0) {
    Error(json::REASON_NO_HUB, HubctlTexts::NoHubFound);
    return EHubctlExit::NoHub;
  }
  // Later device changes keep to this hub, whatever else is plugged in.
  session_->HoldHub(index);
  THidDevice* hub = hubs[index];
  if (!hub->CanReadWrite()) {
    Error(json::REASON_ACCESS_DENIED, AccessDeniedLine(hub));
    return EHubctlExit::AccessDenied;
  }
  if (const auto holder = THubSession::HolderElsewhere(hub)) {
    Error(json::REASON_HUB_IN_USE, HubctlTexts::HubInUse(CurrentNode(), *holder));
    return EHubctlExit::HubInUse;
  }
  return EHubctlExit::Ok;
}

QJsonObject THubctl::HubFacts(int index, std::optional<TVersionReply>* reply) {
  THidDevice* hub = session_->Hubs()[index];
  const THubIds ids = IdsOf(hub);
  QJsonObject facts{
      {json::KEY_NODE, ids.node}, {"port", OrNull(ids.port)}, {"serialNumber", OrNull(ids.serial)}};
  std::optional<TVersionReply> version;
  // A hub another program updates is sent nothing.
  if (hub->CanReadWrite() && !THubSession::HolderElsewhere(hub) && session_->UseHub(index)) {
    view_->SetQuiet(true);
    version = session_->CheckVersion();
    view_->SetQuiet(false);
  }
  AddVersion(facts, QStringLiteral("bootloader"),
             version ? std::optional(version->bootloader) : std::nullopt);
  AddVersion(facts, QStringLiteral("application"),
             version ? std::optional(version->application) : std::nullopt);
  if (reply)
    *reply = version;
  return facts;
}

EHubctlExit THubctl::SeveralHubs() {
  QJsonArray hubs;
  QStringList lines;
  for (int i = 0; i < static_cast<int>(session_->Hubs().size()); ++i) {
    const QJsonObject facts = HubFacts(i);
    hubs.append(facts);
    lines << HubctlTexts::HubLine(facts);
  }
  Error(json::REASON_SEVERAL_HUBS, HubctlTexts::SeveralHubs(static_cast<int>(lines.size())),
        {{"hubs", hubs}});
  for (const QString& line : lines)
    *env_.err << "  " << line << '\n';
  env_.err->flush();
  return EHubctlExit::Usage;
}

EHubctlExit THubctl::List(const TOptions& options) {
  THidDeviceController& controller = session_->Controller();
  QJsonArray devices;
  for (THidDevice* device : controller.DeviceList()) {
    if (!device->IsPresent())
      continue;
    // Lengths that cannot be read show as 0.
    const TResult<HIDP_CAPS> read = controller.Platform().GetCaps(device->InterfaceInfo());
    const HIDP_CAPS caps = read ? *read : HIDP_CAPS{};
    const auto& a = device->Attributes();
    const bool hub = IsHub(device);
    // A device with the hub's ids that is not taken for one says why.
    const QString notHub = HasHubIds(device) && !hub ? NotAHubReason(device) : QString();
    const THubIds ids = IdsOf(device);
    const QString access =
        device->CanReadWrite()
            ? HubctlTexts::ReadWrite
            : HubctlTexts::NoAccess(QString::fromStdString(device->OpenErrorText()));
    if (options.json) {
      QJsonObject object{{json::KEY_NODE, ids.node},
                         {"vendor", Hex4(a.VendorID)},
                         {"product", Hex4(a.ProductID)},
                         {"inputLength", caps.InputReportByteLength},
                         {"outputLength", caps.OutputReportByteLength},
                         {"readWrite", device->CanReadWrite()},
                         {"hub", hub},
                         {"port", OrNull(ids.port)},
                         {"serialNumber", OrNull(ids.serial)}};
      if (!notHub.isEmpty())
        object.insert("notHub", notHub);
      devices.append(object);
    } else {
      view_->Print(QStringLiteral("%1  %2:%3  in %4  out %5  %6%7")
                       .arg(ids.node, -16)
                       .arg(Hex4(a.VendorID), Hex4(a.ProductID))
                       .arg(caps.InputReportByteLength, -3)
                       .arg(caps.OutputReportByteLength, -3)
                       .arg(access, hub                ? HubctlTexts::ListHub(ids.port, ids.serial)
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
      Error(json::REASON_ACCESS_DENIED, AccessDeniedLine(hub));
    }
  }
  return EHubctlExit::Ok;
}

EHubctlExit THubctl::Version(const TOptions& options) {
  const int count = static_cast<int>(session_->Hubs().size());
  // Several hubs and none chosen: every hub's versions.
  const bool every = options.device.isEmpty() && count > 1;
  EHubctlExit code = EHubctlExit::Ok;
  for (int i = 0; i < (every ? count : 1); ++i) {
    std::optional<TVersionReply> version;
    QJsonObject facts;
    if (every) {
      // The list may have changed during the exchanges before.
      if (i >= static_cast<int>(session_->Hubs().size()))
        break;
      THidDevice* hub = session_->Hubs()[i];
      if (!hub->CanReadWrite()) {
        Error(json::REASON_ACCESS_DENIED, AccessDeniedLine(hub));
        code = EHubctlExit::AccessDenied;
        continue;
      }
      if (const auto holder = THubSession::HolderElsewhere(hub)) {
        Error(json::REASON_HUB_IN_USE, HubctlTexts::HubInUse(IdsOf(hub).node, *holder));
        code = EHubctlExit::HubInUse;
        continue;
      }
      facts = HubFacts(i, &version);
      if (!options.json && version)
        view_->Print((i > 0 ? QStringLiteral("\n") : QString()) +
                     HubctlTexts::HubLine(facts, false));
    } else {
      if (const EHubctlExit refused = SelectHub(options); refused != EHubctlExit::Ok)
        return refused;
      version = session_->CheckVersion();
      facts = QJsonObject{{json::KEY_NODE, CurrentNode()}};
      if (version) {
        AddVersion(facts, QStringLiteral("bootloader"), version->bootloader);
        AddVersion(facts, QStringLiteral("application"), version->application);
      }
    }
    if (!version) {
      Error(json::REASON_NO_ANSWER,
            HubctlTexts::DidNotAnswer(facts.value(json::KEY_NODE).toString(CurrentNode())));
      code = EHubctlExit::Timeout;
      continue;
    }
    if (options.json) {
      facts.insert("updateAvailable", IsUpdateAvailable(version->application));
      AddVersion(facts, QStringLiteral("builtIn"), BUILTIN_APP_VERSION);
      view_->EmitJson(facts);
    } else {
      for (const QString& line : VersionLines(*version))
        view_->Print(line);
    }
  }
  return code;
}

std::uint32_t THubctl::TargetVersion() const {
  return image_ ? imageVersion_ : env_.imageVersion.value_or(BUILTIN_APP_VERSION);
}

std::optional<EHubctlExit> THubctl::LeftAlone(const TOptions& options,
                                              std::optional<std::uint32_t> application,
                                              const THubIds& ids, const QElapsedTimer& clock) {
  const std::uint32_t target = TargetVersion();
  if (!application || *application < target)
    return std::nullopt;
  const bool same = *application == target;
  if ((same && options.force) || (!same && options.allowOlder))
    return std::nullopt;
  // A hub in its bootloader has no whole application, whatever it reports: it is programmed.
  if (QueryMode(session_->Link()) == EHubMode::Bootloader)
    return std::nullopt;
  // An update cut short after programming left the hub's LED levels kept, not back on the hub:
  // the update runs again, and writes them back.
  const auto* hub = session_->CurrentHub();
  if (const auto kept = hub ? session_->LevelStore().Load(HubIdentity(hub))
                            : TResult<std::optional<TLedLevels>>(std::nullopt);
      kept && *kept)
    return std::nullopt;
  const QString running = DottedVersion(*application);
  const QString result = same ? RESULT_ALREADY_CURRENT : RESULT_IMAGE_OLDER;
  const EHubctlExit code = same ? EHubctlExit::Ok : EHubctlExit::Usage;
  if (same) {
    if (!options.json)
      view_->Print(HubctlTexts::AlreadyRuns(running));
  } else {
    Error(RESULT_IMAGE_OLDER, HubctlTexts::ImageOlder(DottedVersion(target), running));
  }
  QJsonObject record = HubRecord(
      ids, result,
      same ? HubctlTexts::AlreadyRunsReason(running) : HubctlTexts::NewerThanImageReason(running),
      application, clock.elapsed(), code);
  record.insert("versionAfter", VersionText(*application));
  if (options.json) {
    QJsonObject object = record;
    object.insert(json::KEY_EVENT, json::EVENT_RESULT);
    view_->EmitJson(object);
  }
  WriteLog(options, record);
  return code;
}

EHubctlExit THubctl::Update(const TOptions& options) {
  if (options.all)
    return UpdateAll(options);
  if (const EHubctlExit code = SelectHub(options); code != EHubctlExit::Ok)
    return code;
  QElapsedTimer clock;
  clock.start();
  // The hub's device object goes with its first restart: what names it is taken now.
  const THubIds ids = IdsOf(session_->CurrentHub());
  std::optional<std::uint32_t> before;
  if (const auto version = session_->CheckVersion())
    before = version->application;
  if (const auto code = LeftAlone(options, before, ids, clock))
    return *code;
  onInterrupt_ = [this] { InterruptUpdate(); };
  const EUpdateResult result = session_->RunUpdate();
  onInterrupt_ = nullptr;
  view_->FinishProgress();
  const EHubctlExit code = ExitCodeOf(result);
  const QString reason = result == EUpdateResult::Completed
                             ? QString()
                             : HubctlTexts::ReasonOf(result, view_->LastPosition());
  const QJsonObject record = HubRecord(ids, ResultName(result), reason, before, clock.elapsed(),
                                       code, &session_->Procedure().Record());
  if (result != EUpdateResult::Completed && result != EUpdateResult::Cancelled) {
    // What the hub is left in, and what to do next.
    Error(ResultName(result), HubctlTexts::WhatNext(result, reason, !options.device.isEmpty()));
  }
  if (options.json) {
    QJsonObject object = record;
    object.insert(json::KEY_EVENT, json::EVENT_RESULT);
    if (image_)
      object.insert("image", *options.image);
    AddVersion(object, QStringLiteral("imageVersion"), TargetVersion());
    view_->EmitJson(object);
  }
  WriteLog(options, record);
  return code;
}

QJsonObject THubctl::HubRecord(const THubIds& ids, const QString& result, const QString& reason,
                               std::optional<std::uint32_t> before, qint64 durationMs,
                               EHubctlExit exitCode, const TUpdateRecord* done) const {
  QJsonObject record;
  for (const QString& key : LogRecordKeys())
    record.insert(key, QJsonValue());
  record.insert(json::KEY_TIME, json::RecordTime(QDateTime::currentDateTimeUtc()));
  record.insert("host", OrNull(QSysInfo::machineHostName()));
  record.insert("programVersion", PROGRAM_VERSION);
  record.insert("imageVersion", VersionText(TargetVersion()));
  record.insert("imageSha256", OrNull(imageSha256_));
  record.insert(json::KEY_NODE, OrNull(ids.node));
  record.insert("port", OrNull(ids.port));
  record.insert("serialNumber", OrNull(ids.serial));
  if (before)
    record.insert("versionBefore", VersionText(*before));
  record.insert(json::KEY_RESULT, result);
  record.insert(json::KEY_REASON, OrNull(reason));
  if (durationMs >= 0)
    record.insert("durationMs", durationMs);
  record.insert(json::KEY_EXIT_CODE, ExitStatus(exitCode));
  if (done) {
    if (done->applicationAfter)
      record.insert("versionAfter", VersionText(*done->applicationAfter));
    if (done->ledLevelsSaved) {
      QJsonArray levels;
      for (int level : *done->ledLevelsSaved)
        levels.append(level);
      record.insert("ledLevelsSaved", levels);
    }
    record.insert("ledLevelsRestored", done->ledLevelsRestored);
  }
  return record;
}

void THubctl::WriteLog(const TOptions& options, const QJsonObject& record) {
  if (!options.log)
    return;
  if (const auto written = AppendJsonLine(*options.log, record); !written)
    Error(json::REASON_LOG_NOT_WRITTEN,
          HubctlTexts::LogNotWritten(*options.log, written.Error().text));
}

QString THubctl::ChildProgram() const {
  return env_.program.isEmpty() ? QCoreApplication::applicationFilePath() : env_.program;
}

void THubctl::InterruptFleet(THubFleet& fleet) {
  if (interrupts_ == 1)
    Notice(HubctlTexts::InterruptAll);
  fleet.Interrupt(SIGINT);
}

QStringList THubctl::ChildArguments(const TOptions& options) const {
  QStringList arguments;
  if (options.simulate) {
    // The child takes the emulated hub at its node, named by its number in ChildEnvironment.
    arguments << "--simulate"
              << "--hubs" << QString::number(options.hubs.value_or(1));
  }
  if (options.image)
    arguments << "--image" << *options.image << "--image-version" << *options.imageVersion;
  if (options.force)
    arguments << "--force";
  if (options.allowOlder)
    arguments << "--allow-older";
  // Each hub's own process writes its record: a supervisor killed midway loses none.
  if (options.log)
    arguments << "--log" << *options.log;
  return arguments;
}

QJsonObject THubctl::FleetRecord(const TOptions& options, const QString& node, EHubctlExit code,
                                 const QJsonObject& record, const QJsonObject& lastError) {
  if (!record.isEmpty())
    return record;
  // The hub's process said nothing of its end (it crashed, or never reached the hub): its
  // record is made and written here.
  THidDevice* hub = nullptr;
  for (THidDevice* listed : session_->Hubs()) {
    if (IdsOf(listed).node == node)
      hub = listed;
  }
  THubIds ids = IdsOf(hub);
  ids.node = node;
  const QJsonObject made =
      HubRecord(ids, lastError.value(json::KEY_REASON).toString(QStringLiteral("error")),
                lastError.value(json::KEY_MESSAGE).toString(), std::nullopt, -1, code);
  WriteLog(options, made);
  return made;
}

EHubctlExit THubctl::UpdateAll(const TOptions& options) {
  THubFleet fleet(*view_, ChildProgram(), ChildArguments(options));
  THubTally tally;
  std::vector<QJsonObject> records;
  connect(&fleet, &THubFleet::HubFinished, this,
          [&](const QString& node, EHubctlExit code, const QJsonObject& childRecord,
              const QJsonObject& lastError) {
            const QJsonObject record = FleetRecord(options, node, code, childRecord, lastError);
            records.push_back(record);
            if (!options.json) {
              view_->Print(
                  QStringLiteral("%1: %2").arg(node, record.value(json::KEY_RESULT).toString()));
            }
            tally.Add(code, record.value(json::KEY_RESULT).toString());
            if (fleet.Running() == 0)
              Finish(tally.ExitCode());
          });
  for (THidDevice* hub : session_->Hubs()) {
    fleet.Start(QString::fromStdString(hub->InterfaceInfo().DevicePath),
                QString::fromStdString(HubKey(hub)), ChildEnvironment(hub));
  }
  if (fleet.Running() == 0) {
    Error(json::REASON_NO_HUB, HubctlTexts::NoHubFound);
    return EHubctlExit::NoHub;
  }
  onInterrupt_ = [&] { InterruptFleet(fleet); };
  const EHubctlExit code = RunLoopUntilDone();
  Summary(tally, records, options.json);
  return code;
}

void THubctl::Summary(const THubTally& tally, const std::vector<QJsonObject>& records, bool json) {
  QStringList failures;
  QJsonArray failed;
  int updated = 0;
  for (const QJsonObject& record : records) {
    const QString result = record.value(json::KEY_RESULT).toString();
    if (result == QLatin1String("completed")) {
      ++updated;
    } else if (result != RESULT_ALREADY_CURRENT && result != RESULT_IMAGE_OLDER) {
      const QString reason = record.value(json::KEY_REASON).toString(result);
      failures << QStringLiteral("%1 (%2)").arg(record.value(json::KEY_NODE).toString(), reason);
      failed.append(QJsonObject{{json::KEY_NODE, record.value(json::KEY_NODE)},
                                {json::KEY_RESULT, result},
                                {json::KEY_REASON, record.value(json::KEY_REASON)}});
    }
  }
  const int count = static_cast<int>(records.size());
  const QString line = HubctlTexts::FleetSummary(count, updated, tally.LeftAlone(), failures);
  if (json) {
    view_->EmitJson({{json::KEY_EVENT, json::EVENT_SUMMARY},
                     {"hubs", count},
                     {"updated", updated},
                     {"leftAlone", tally.LeftAlone()},
                     {"failed", failed}});
  }
  if (!failures.isEmpty()) {
    Error(json::REASON_HUBS_FAILED, line);
  } else if (!json) {
    view_->Print(line);
  }
}

EHubctlExit THubctl::AutoParallel(const TOptions& options) {
  THubFleet fleet(*view_, ChildProgram(), ChildArguments(options));
  THubTally tally;
  std::vector<QJsonObject> records;
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
      fleet.Start(node, key, ChildEnvironment(hub));
    }
  };
  connect(&fleet, &THubFleet::HubFinished, this,
          [&](const QString& node, EHubctlExit code, const QJsonObject& childRecord,
              const QJsonObject& lastError) {
            const QJsonObject record = FleetRecord(options, node, code, childRecord, lastError);
            const QString result = record.value(json::KEY_RESULT).toString();
            records.push_back(record);
            tally.Add(code, result);
            if (options.json) {
              view_->EmitJson({{json::KEY_EVENT, json::EVENT_HUB},
                               {json::KEY_NODE, node},
                               {json::KEY_RESULT, result}});
            } else {
              view_->Print(HubctlTexts::HubDone(tally.Done(), node, result));
            }
            // Nobody reads any more: the updates under way end, no more hubs are taken on.
            const bool unread = !view_->OutputError().isEmpty();
            if (fleet.Running() == 0 && unread) {
              Finish(EHubctlExit::Error);
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
  const EHubctlExit code = RunLoopUntilDone();
  if (!records.empty())
    Summary(tally, records, options.json);
  return code;
}

EHubctlExit THubctl::Status(const TOptions& options) {
  if (const EHubctlExit code = SelectHub(options); code != EHubctlExit::Ok)
    return code;
  auto readOnce = [this, &options]() {
    const auto status = ReadHubStatus(session_->Link());
    if (!status) {
      Error(json::REASON_NO_ANSWER, HubctlTexts::DidNotAnswer(CurrentNode()));
      return false;
    }
    if (options.json) {
      QJsonArray batteries;
      for (bool present : status->batteryPresent)
        batteries.append(present);
      view_->EmitJson({{"voltageMv", status->voltage_mV},
                       {"currentMa", status->current_mA},
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
    return ok ? EHubctlExit::Ok : EHubctlExit::Timeout;

  QTimer timer;
  timer.setInterval(HubctlCommandLine::WATCH_INTERVAL_MS);
  connect(&timer, &QTimer::timeout, this, [&] {
    if (!session_->Busy()) {
      if (!options.json)
        view_->Print(QString());
      readOnce();
    }
    // Nobody reads any more (`| head`): nothing left to watch for.
    if (!view_->OutputError().isEmpty())
      Finish(EHubctlExit::Error);
  });
  if (!view_->OutputError().isEmpty())
    return EHubctlExit::Error;
  timer.start();
  onInterrupt_ = [this] { Finish(EHubctlExit::Interrupted); };
  return RunLoopUntilDone();
}

EHubctlExit THubctl::Led(const TOptions& options) {
  // The words were checked against the table: CHANNEL (1-8 or all) and LEVEL, or none.
  const QStringList& args = options.arguments;
  if (const EHubctlExit code = SelectHub(options); code != EHubctlExit::Ok)
    return code;
  TLedAdjuster& leds = session_->Leds();
  const QString node = CurrentNode();
  if (args.isEmpty()) {
    leds.ClearLedLevelsRead();
    leds.StartAdjust();
    leds.EndAdjust();
    if (!leds.LedLevelsRead()) {
      Error(json::REASON_NO_ANSWER, HubctlTexts::NoLedLevels(node));
      return EHubctlExit::Timeout;
    }
    if (options.json) {
      QJsonArray red, green;
      for (int channel = 1; channel <= 4; ++channel) {
        red.append(leds.Level(channel));
        green.append(leds.Level(channel + 4));
      }
      view_->EmitJson({{json::KEY_NODE, node}, {"red", red}, {"green", green}});
    } else {
      for (int led = 1; led <= 4; ++led)
        view_->Print(HubctlTexts::LedLine(led, leds.Level(led), leds.Level(led + 4)));
    }
    return EHubctlExit::Ok;
  }
  const bool all = args[0] == "all";
  const int from = all ? 1 : args[0].toInt();
  const int to = all ? LED_CHANNEL_COUNT : from;
  bool answered = true;
  for (int channel = from; channel <= to; ++channel) {
    leds.SetLevel(channel, args[1].toInt());
    answered = leds.SendLevel(channel) == 0 && answered;
  }
  leds.EndAdjust();
  if (!answered) {
    Error(json::REASON_NO_ANSWER, HubctlTexts::LevelNotTaken(node));
    return EHubctlExit::Timeout;
  }
  if (options.json)
    view_->EmitJson({{json::KEY_NODE, node}, {"set", true}});
  return EHubctlExit::Ok;
}

EHubctlExit THubctl::Wait(const TOptions& options) {
  // EHubctlExit::Ok once the hub is there; with several and none chosen, what SelectHub says.
  auto found = [this, &options]() -> std::optional<EHubctlExit> {
    for (THidDevice* hub : session_->Hubs()) {
      const QString node = QString::fromStdString(hub->InterfaceInfo().DevicePath);
      if (!options.device.isEmpty() && node != options.device)
        continue;
      if (options.device.isEmpty() && session_->Hubs().size() > 1)
        return SeveralHubs();
      if (options.json) {
        view_->EmitJson({{json::KEY_EVENT, json::EVENT_HUB}, {json::KEY_NODE, node}});
      } else {
        view_->Print(node);
      }
      return EHubctlExit::Ok;
    }
    return std::nullopt;
  };
  if (const auto code = found())
    return *code;
  connect(session_.get(), &THubSession::HubsChanged, this, [&] {
    if (const auto code = found())
      Finish(*code);
  });
  QTimer timeout;
  if (options.timeoutS) {
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, [&] {
      Error(json::REASON_TIMEOUT, HubctlTexts::NoHubWithin(*options.timeoutS));
      Finish(EHubctlExit::Timeout);
    });
    timeout.start(*options.timeoutS * 1000);
  }
  onInterrupt_ = [this] { Finish(EHubctlExit::Interrupted); };
  return RunLoopUntilDone();
}

EHubctlExit THubctl::Auto(const TOptions& options) {
  if (options.parallel)
    return AutoParallel(options);
  THubTally tally;
  // The hub being updated, as it was when the run began (its node changes on the way).
  THubIds ids;
  QElapsedTimer clock;
  connect(session_.get(), &THubSession::HubsChanged, this, [&] {
    if (!session_->Procedure().Running()) {
      ids = IdsOf(session_->CurrentHub());
      clock.start();
    }
  });
  connect(session_.get(), &THubSession::AutoUpdateFinished, this, [&](EUpdateResult result) {
    const EHubctlExit code = ExitCodeOf(result);
    tally.Add(code);
    // The versions the run's checks found: before the update, and after.
    const auto versions = view_->TakeVersionsShown();
    const bool done = result == EUpdateResult::Completed;
    const QString reason = done ? QString() : HubctlTexts::ReasonOf(result, view_->LastPosition());
    const QJsonObject record =
        HubRecord(ids, ResultName(result), reason,
                  versions.empty() ? std::nullopt : std::optional(versions.front()),
                  clock.isValid() ? clock.elapsed() : -1, code, &session_->Procedure().Record());
    WriteLog(options, record);
    const QString node = ids.node.isEmpty() ? QStringLiteral("?") : ids.node;
    if (!done && result != EUpdateResult::Cancelled)
      Error(ResultName(result), HubctlTexts::AutoNotUpdated(node, reason),
            {{json::KEY_NODE, node}});
    if (options.json) {
      view_->EmitJson({{json::KEY_EVENT, json::EVENT_HUB},
                       {json::KEY_NODE, node},
                       {json::KEY_RESULT, ResultName(result)}});
    } else {
      view_->Print(HubctlTexts::HubDone(tally.Done(), node, ResultName(result)));
    }
    if (options.count && tally.Done() >= *options.count) {
      Finish(tally.ExitCode());
      return;
    }
    // Nobody reads any more: no more hubs are taken on.
    if (!view_->OutputError().isEmpty()) {
      Finish(EHubctlExit::Error);
      return;
    }
  });
  onInterrupt_ = [this] {
    if (session_->Procedure().Running()) {
      InterruptUpdate();
      // Leave once that update has ended.
      connect(session_.get(), &THubSession::AutoUpdateFinished, this,
              [this] { Finish(EHubctlExit::Interrupted); });
      return;
    }
    Finish(EHubctlExit::Interrupted);
  };
  if (!options.json)
    view_->Print(HubctlTexts::WaitingForHubs);
  ids = IdsOf(session_->CurrentHub());
  clock.start();
  session_->SetAutoUpdate(true);
  // Hubs already plugged in when we start are to be updated too, each once.
  session_->RequestAutoUpdate();
  return RunLoopUntilDone();
}

EHubctlExit THubctl::ShowVersion(bool json) {
  if (json) {
    QJsonObject object{{"program", "halvek-hubctl"}, {"version", PROGRAM_VERSION}};
    AddVersion(object, QStringLiteral("builtIn"), BUILTIN_APP_VERSION);
    *env_.out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
  } else {
    *env_.out << HubctlTexts::ProgramVersion(PROGRAM_VERSION) << '\n'
              << HubctlTexts::BuiltInFirmware(DottedVersion(BUILTIN_APP_VERSION),
                                              VersionText(BUILTIN_APP_VERSION))
              << '\n';
  }
  env_.out->flush();
  return EHubctlExit::Ok;
}

TResult<void> THubctl::TellUdev() {
  QProcess reload;
  reload.start(env_.udevadm, {"control", "--reload-rules"});
  if (!reload.waitForStarted())
    return TError{HubctlTexts::NoUdevadm};
  reload.waitForFinished();
  // udevadm's own words ("Failed to send reload request: No such file or directory") say
  // little: what they mean here is that no udev daemon runs.
  if (reload.exitStatus() != QProcess::NormalExit || reload.exitCode() != 0)
    return TError{HubctlTexts::NoUdevd};
  QProcess::execute(env_.udevadm, {"trigger", "--subsystem-match=hidraw", "--action=change"});
  return {};
}

EHubctlExit THubctl::InstallUdevRule(const TOptions& options) {
  const QString ruleName = QStringLiteral("60-halvek-hub.rules");
  const auto rule = LoadEmbeddedResource(QStringLiteral("PACKAGING"), ruleName);
  if (!rule) {
    Error(json::REASON_RULE_MISSING, HubctlTexts::RuleMissing);
    return EHubctlExit::Error;
  }
  const QString path = QDir(env_.udevRulesDir).filePath(ruleName);
  const QString packaged = QDir(env_.packageRulesDir).filePath(ruleName);
  const bool dryRun = options.simulate;
  // What was done (or, with --simulate, would be), as a line or a JSON object.
  auto say = [&](const char* event, const QString& where, const QString& line,
                 const TResult<void>& udev = {}) {
    if (options.json) {
      view_->EmitJson({{json::KEY_EVENT, event},
                       {"path", where},
                       {"simulate", dryRun},
                       {"udevTold", udev.Ok() && !dryRun},
                       {json::KEY_MESSAGE, line}});
    } else {
      view_->Print(line);
    }
    if (!udev)
      Notice(udev.Error().text);
    return EHubctlExit::Ok;
  };
  const bool copied = QFileInfo::exists(path);
  auto needsRoot = [&] {
    if (!env_.requireRoot || dryRun || geteuid() == 0)
      return false;
    Error(json::REASON_NEEDS_ROOT, HubctlTexts::RuleNeedsRoot(options.remove));
    return true;
  };
  if (options.remove) {
    if (!copied)
      return say("not-installed", path, HubctlTexts::NoCopy(path));
    if (needsRoot())
      return EHubctlExit::AccessDenied;
    if (dryRun)
      return say("removed", path, HubctlTexts::WouldRemove(path));
    QFile copy(path);
    if (!copy.remove()) {
      Error(json::REASON_CANNOT_WRITE, HubctlTexts::CannotRemove(path, copy.errorString()));
      return EHubctlExit::Error;
    }
    return say("removed", path, HubctlTexts::Removed(path), TellUdev());
  }
  // The package's rule is udev's already: a copy in /etc would override it and outlive the
  // package.
  if (QFileInfo::exists(packaged)) {
    return say("packaged", packaged,
               HubctlTexts::RulePackaged(packaged) +
                   (copied ? QLatin1Char('\n') + HubctlTexts::CopyOverrides(path) : QString()));
  }
  QFile existing(path);
  if (existing.open(QIODevice::ReadOnly) && existing.readAll() == *rule)
    return say("already-installed", path, HubctlTexts::AlreadyInstalled(path));
  if (needsRoot())
    return EHubctlExit::AccessDenied;
  if (dryRun)
    return say("installed", path, HubctlTexts::WouldInstall(path));
  // Written beside the rule and renamed over it: a full disk leaves the old rule (or none),
  // never a truncated one. The explicit flush: commit() does not see a failing final write.
  QSaveFile file(path);
  if (!QDir().mkpath(env_.udevRulesDir) || !file.open(QIODevice::WriteOnly) ||
      file.write(*rule) != rule->size() || !file.flush() || !file.commit()) {
    Error(json::REASON_CANNOT_WRITE, HubctlTexts::CannotWrite(path, file.errorString()));
    return EHubctlExit::Error;
  }
  const TResult<void> udev = env_.udevadm.isEmpty() ? TResult<void>() : TellUdev();
  return say("installed", path,
             HubctlTexts::RuleInstalled(path) +
                 (udev ? QLatin1Char('\n') + HubctlTexts::PlugAgain : QString()),
             udev);
}

void THubctl::InterruptUpdate() {
  TUpdateProcedure& update = session_->Procedure();
  switch (update.Stage()) {
    case EUpdateStage::Idle:
    case EUpdateStage::Preparing:
      // Nothing has changed on the hub yet: stop before the bootloader switch.
      update.RequestStop();
      Notice(HubctlTexts::InterruptBeforeSwitch);
      return;
    case EUpdateStage::Switching:
    case EUpdateStage::Programming:
      if (interrupts_ == 1 || update.Stage() == EUpdateStage::Switching) {
        Notice(HubctlTexts::InterruptGoesOn);
      } else {
        update.RequestStop();
      }
      return;
    case EUpdateStage::Finishing:
      Notice(HubctlTexts::InterruptFinishing);
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

EHubctlExit THubctl::RunLoopUntilDone() {
  QEventLoop loop;
  loop_ = &loop;
  loopResult_ = EHubctlExit::Ok;
  loop.exec();
  loop_ = nullptr;
  onInterrupt_ = nullptr;
  view_->FinishProgress();
  return loopResult_;
}

void THubctl::Finish(EHubctlExit code) {
  loopResult_ = code;
  if (loop_)
    loop_->quit();
}
