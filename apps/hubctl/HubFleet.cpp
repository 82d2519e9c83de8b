#include "HubFleet.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QTimer>
#include <algorithm>
#include <cerrno>

#include "HubctlJson.h"
#include "HubctlTexts.h"
#include "TerminalView.h"

THubFleet::THubFleet(TTerminalView& view, QString program, QStringList arguments)
    : view_(view), arguments_(std::move(arguments)), launcher_(std::move(program)) {
  connect(&launcher_, &TFleetLauncher::Ended, this, &THubFleet::ChildEnded);
  connect(&launcher_, &TFleetLauncher::Lost, this, &THubFleet::LauncherLost);
}

THubFleet::~THubFleet() = default;

THubFleet::THub::~THub() {
  outNotifier.reset();
  errNotifier.reset();
  if (child.out >= 0)
    close(child.out);
  if (child.err >= 0)
    close(child.err);
}

void THubFleet::Start(const QString& node, const QString& key,
                      const QProcessEnvironment& environment) {
  auto hub = std::make_unique<THub>();
  hub->node = node;
  hub->key = key;
  THub* h = hub.get();
  hubs_.push_back(std::move(hub));
  auto started =
      launcher_.Start(arguments_ + QStringList{"--json", "--device", node, "update"}, environment);
  if (!started) {
    const QString line = HubctlTexts::CannotStart(node, started.Error().text);
    h->lastError = {{HubctlJson::KEY_EVENT, HubctlJson::EVENT_ERROR},
                    {HubctlJson::KEY_REASON, HubctlJson::REASON_CANNOT_START},
                    {HubctlJson::KEY_NODE, node},
                    {HubctlJson::KEY_MESSAGE, line}};
    if (view_.Style() == TTerminalView::EStyle::Json)
      view_.EmitJson(h->lastError);
    else
      view_.PrintError(HubctlTexts::Said(line));
    // Told from the event loop, as any other end: the caller may still be starting others.
    QTimer::singleShot(0, this, [this, h] { Ended(*h, EHubctlExit::Error); });
    return;
  }
  h->child = *started;
  h->outNotifier = std::make_unique<QSocketNotifier>(h->child.out, QSocketNotifier::Read);
  h->errNotifier = std::make_unique<QSocketNotifier>(h->child.err, QSocketNotifier::Read);
  connect(h->outNotifier.get(), &QSocketNotifier::activated, this, [this, h] { ReadOutput(*h); });
  connect(h->errNotifier.get(), &QSocketNotifier::activated, this, [this, h] { ReadErrors(*h); });
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
    if (!hub->running || hub->child.pid <= 0)
      continue;
    // Without the launcher, a hub still followed has not closed its output: its process lives.
    if (launcher_.Gone())
      kill(hub->child.pid, signal);
    else
      launcher_.Signal(hub->child.pid, signal);
  }
}

namespace {
// What waits in the pipe `fd`; `closed` once the writer has gone and all is read.
QByteArray ReadAvailable(int fd, bool& closed) {
  QByteArray data;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      data.append(buffer, n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    closed = closed || n == 0;
    return data;
  }
}
}  // namespace

void THubFleet::ReadOutput(THub& hub) {
  hub.pending += ReadAvailable(hub.child.out, hub.outClosed);
  if (hub.outClosed && hub.outNotifier)
    hub.outNotifier->setEnabled(false);
  int end;
  while ((end = hub.pending.indexOf('\n')) >= 0) {
    const QByteArray line = hub.pending.left(end);
    hub.pending.remove(0, end + 1);
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (!object.isEmpty())
      TakeLine(hub, object);
  }
  EndedUnseen(hub);
}

void THubFleet::ReadErrors(THub& hub) {
  hub.pendingErrors += ReadAvailable(hub.child.err, hub.errClosed);
  if (hub.errClosed && hub.errNotifier)
    hub.errNotifier->setEnabled(false);
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
  EndedUnseen(hub);
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

void THubFleet::ChildEnded(pid_t pid, int status) {
  for (auto& hub : hubs_) {
    if (hub->running && hub->child.pid == pid) {
      // All it wrote is in its pipes now.
      ReadOutput(*hub);
      ReadErrors(*hub);
      Ended(*hub, WIFEXITED(status) ? ExitCodeFromStatus(WEXITSTATUS(status)) : EHubctlExit::Error);
      return;
    }
  }
}

void THubFleet::LauncherLost(const QString& why) {
  view_.PrintError(HubctlTexts::Said(why));
  for (auto& hub : hubs_) {
    if (hub->running && hub->lastError.isEmpty())
      hub->lastError = {{HubctlJson::KEY_MESSAGE, why}};
    EndedUnseen(*hub);
  }
}

void THubFleet::EndedUnseen(THub& hub) {
  // With the launcher gone, a hub's process is known to have ended once it has closed its
  // output; its own result line says how (it wrote its own record too), else it failed.
  if (!launcher_.Gone() || !hub.outClosed || !hub.errClosed)
    return;
  const QJsonValue code = hub.record.value(HubctlJson::KEY_EXIT_CODE);
  Ended(hub, code.isDouble() ? ExitCodeFromStatus(code.toInt()) : EHubctlExit::Error);
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
