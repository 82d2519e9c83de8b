#pragma once
// Several hubs updated at once: one child process per hub, each a plain
// `halvek-hubctl --json --device NODE update`, forked by the fleet's launcher. A child has its
// own event loop, so one hub's waits never hold up another's, and the exchange rules hold per
// hub exactly as for a single update; a child that fails or crashes takes no other hub with it.

#include <QJsonObject>
#include <QObject>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QStringList>
#include <memory>
#include <vector>

#include "FleetLauncher.h"
#include "HubctlExit.h"

class TTerminalView;

class THubFleet : public QObject {
  Q_OBJECT

 public:
  // A child runs `program` with `arguments`, then --json --device NODE update.
  THubFleet(TTerminalView& view, QString program, QStringList arguments);
  ~THubFleet() override;

  // Starts the update of the hub at `node`, named to others by `key` (its USB port, or its node
  // when the port is unknown). The child gets `environment` on top of this program's own. A hub
  // whose process cannot start is said and ends as failed, as any other.
  void Start(const QString& node, const QString& key, const QProcessEnvironment& environment = {});
  int Running() const;
  // Whether an update of the hub named `key` runs now: the hub may be away, or back under
  // another node, in the middle of its update.
  bool Updating(const QString& key) const;
  // Passes an interrupt on to every running update, each of which decides what it may still do
  // (the same as for a single update): SIGINT for Ctrl-C, SIGTERM for a hang-up or termination.
  void Interrupt(int signal);

 signals:
  // A hub's update has ended: its exit code and its record (the child's result line; empty when
  // the child said nothing of its end: it crashed, or could not reach the hub), and the last
  // error it said (empty when none).
  void HubFinished(const QString& node, EHubctlExit exitCode, const QJsonObject& record,
                   const QJsonObject& lastError);

 private:
  struct THub {
    ~THub();
    QString node;
    QString key;
    TFleetLauncher::TChild child;
    std::unique_ptr<QSocketNotifier> outNotifier;
    std::unique_ptr<QSocketNotifier> errNotifier;
    bool outClosed = false;
    bool errClosed = false;
    QByteArray pending;
    QByteArray pendingErrors;
    QJsonObject record;
    QJsonObject lastError;
    int percent = -1;
    bool running = true;
  };
  void ReadOutput(THub& hub);
  void ReadErrors(THub& hub);
  void ChildEnded(pid_t pid, int status);
  void LauncherLost(const QString& why);
  void EndedUnseen(THub& hub);
  void TakeLine(THub& hub, const QJsonObject& line);
  void Ended(THub& hub, EHubctlExit exitCode);
  void ShowProgress();

  TTerminalView& view_;
  QStringList arguments_;
  // Before the hubs: it waits for every child when the fleet goes, after the hubs have closed
  // their ends of the children's output (a child writing to a full pipe would never end).
  TFleetLauncher launcher_;
  std::vector<std::unique_ptr<THub>> hubs_;
};
