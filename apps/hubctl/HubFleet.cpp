#include "HubFleet.h"

#include <signal.h>
#include <unistd.h>

#include <QJsonDocument>
#include <algorithm>

#include "HubctlJson.h"
#include "HubctlTexts.h"
#include "TerminalView.h"

THubFleet::THubFleet(TTerminalView& view, QString program, QStringList arguments)
    : view_(view), program_(std::move(program)), arguments_(std::move(arguments)) {}

THubFleet::~THubFleet() {
  for (auto& hub : hubs_) {
    if (hub->running) {
      hub->process->disconnect(this);
      hub->process->waitForFinished(-1);
    }
  }
}

bool THubFleet::Start(const QString& node, const QString& key,
                      const QProcessEnvironment& environment) {
  auto hub = std::make_unique<THub>();
  hub->node = node;
  hub->key = key;
  hub->process = new QProcess(this);
  // A process group of its own: a Ctrl-C at the terminal reaches the children only through us,
  // once, and not a second time from the terminal.
  hub->process->setChildProcessModifier([] { setpgid(0, 0); });
  THub* h = hub.get();
  connect(h->process, &QProcess::readyReadStandardOutput, this, [this, h] { ReadOutput(*h); });
  connect(h->process, &QProcess::readyReadStandardError, this, [this, h] { ReadErrors(*h); });
  connect(h->process, &QProcess::finished, this, [this, h](int code, QProcess::ExitStatus status) {
    ReadOutput(*h);
    ReadErrors(*h);
    Ended(*h, status == QProcess::NormalExit ? ExitCodeFromStatus(code) : EHubctlExit::Error);
  });
  if (!environment.isEmpty()) {
    QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    own.insert(environment);
    h->process->setProcessEnvironment(own);
  }
  h->process->start(program_, arguments_ + QStringList{"--json", "--device", node, "update"});
  if (!h->process->waitForStarted()) {
    const QString line = HubctlTexts::CannotStart(node, h->process->errorString());
    if (view_.Style() == TTerminalView::EStyle::Json)
      view_.EmitJson({{HubctlJson::KEY_EVENT, HubctlJson::EVENT_ERROR},
                      {HubctlJson::KEY_REASON, HubctlJson::REASON_CANNOT_START},
                      {HubctlJson::KEY_NODE, node},
                      {HubctlJson::KEY_MESSAGE, line}});
    else
      view_.Print(line);
    delete h->process;
    return false;
  }
  hubs_.push_back(std::move(hub));
  return true;
}

int THubFleet::Running() const {
  int count = 0;
  for (const auto& hub : hubs_)
    count += hub->running ? 1 : 0;
  return count;
}

bool THubFleet::Updating(const QString& key) const {
  for (const auto& hub : hubs_) {
    if (hub->running && hub->key == key)
      return true;
  }
  return false;
}

void THubFleet::Interrupt(int signal) {
  for (const auto& hub : hubs_) {
    if (hub->running)
      kill(static_cast<pid_t>(hub->process->processId()), signal);
  }
}

void THubFleet::ReadOutput(THub& hub) {
  hub.pending += hub.process->readAllStandardOutput();
  int end;
  while ((end = hub.pending.indexOf('\n')) >= 0) {
    const QByteArray line = hub.pending.left(end);
    hub.pending.remove(0, end + 1);
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (!object.isEmpty())
      TakeLine(hub, object);
  }
}

void THubFleet::ReadErrors(THub& hub) {
  hub.pendingErrors += hub.process->readAllStandardError();
  int end;
  while ((end = hub.pendingErrors.indexOf('\n')) >= 0) {
    QString line = QString::fromUtf8(hub.pendingErrors.left(end));
    hub.pendingErrors.remove(0, end + 1);
    // The hub's own lines, named by its node instead of the program.
    const QString program = HubctlTexts::Said(QString());
    if (line.startsWith(program))
      line.remove(0, program.size());
    view_.PrintError(HubctlTexts::Said(hub.node + QStringLiteral(": ") + line));
  }
}

void THubFleet::TakeLine(THub& hub, const QJsonObject& line) {
  namespace json = HubctlJson;
  const QString event = line.value(json::KEY_EVENT).toString();
  if (event == json::EVENT_RESULT)
    hub.record = line;
  if (event == json::EVENT_ERROR)
    hub.lastError = line;
  if (view_.Style() == TTerminalView::EStyle::Json) {
    QJsonObject tagged = line;
    tagged.insert(json::KEY_NODE, hub.node);
    view_.EmitJson(tagged);
    return;
  }
  // Errors come on stderr (ReadErrors), once.
  if (event == json::EVENT_LOG) {
    view_.Print(QStringLiteral("%1: %2").arg(hub.node, line.value(json::KEY_TEXT).toString()));
  } else if (event == json::EVENT_PROGRESS) {
    const int maximum = line.value(json::KEY_MAXIMUM).toInt();
    const int percent = maximum > 0 ? line.value(json::KEY_POSITION).toInt() * 100 / maximum : 0;
    if (view_.Style() == TTerminalView::EStyle::Plain) {
      // A line every tenth keeps logs short.
      if (percent / 10 != hub.percent / 10 && percent >= 10)
        view_.Print(QStringLiteral("%1: %2%").arg(hub.node).arg(percent));
      hub.percent = percent;
      return;
    }
    if (percent != hub.percent) {
      hub.percent = percent;
      ShowProgress();
    }
  }
}

void THubFleet::ShowProgress() {
  QStringList lines;
  for (const auto& hub : hubs_) {
    if (!hub->running || hub->percent < 0)
      continue;
    lines << QStringLiteral("%1 %2")
                 .arg(hub->node, -16)
                 .arg(TTerminalView::Bar(hub->percent,
                                         view_.BarWidth(std::max(17, int(hub->node.size()) + 1))));
  }
  view_.ShowProgressLines(lines);
}

void THubFleet::Ended(THub& hub, EHubctlExit exitCode) {
  if (!hub.running)
    return;
  hub.running = false;
  QJsonObject record = hub.record;
  record.remove(HubctlJson::KEY_EVENT);
  if (view_.Style() == TTerminalView::EStyle::Terminal)
    ShowProgress();
  emit HubFinished(hub.node, exitCode, record, hub.lastError);
}
