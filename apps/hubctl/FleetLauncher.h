#pragma once
// The processes of a fleet are forked from a launcher: one copy of this program, started when
// the fleet starts its first hub, that forks a child per hub before Qt is set up in it. A child
// then pays neither an exec nor the loading of Qt, which was most of its start and held up a
// fleet of many hubs starting at once. The launcher reaps its children and tells the fleet how
// each ended; it ends itself once the fleet has gone and its last child has ended.

#include <sys/types.h>

#include <QObject>
#include <QProcessEnvironment>
#include <QSocketNotifier>
#include <QStringList>
#include <memory>
#include <vector>

#include "base/Result.h"

struct TLauncherNotice;

// In main, before anything else. In a launcher this serves the fleet and returns only in a
// forked child, with that child's arguments in argc and argv; anywhere else it returns at once.
void ServeAsFleetLauncher(int& argc, char**& argv);

class TFleetLauncher : public QObject {
  Q_OBJECT

 public:
  // A child's process and the read ends of its output (non-blocking, closed by the caller).
  struct TChild {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
  };

  // `program`: this program's binary, started as the launcher when the first child is.
  explicit TFleetLauncher(QString program);
  // Waits for every child to end, then for the launcher.
  ~TFleetLauncher() override;

  // A child running `program` with `arguments` (after the program's name), with `environment`
  // on top of this program's own.
  TResult<TChild> Start(const QStringList& arguments, const QProcessEnvironment& environment);
  // Sends `signal` to the child `pid` if it has not ended: a pid never reaches another process.
  void Signal(pid_t pid, int signal);
  // The launcher has gone (Lost was emitted).
  bool Gone() const { return !lost_.isEmpty(); }

 signals:
  // The child `pid` has ended, with its wait status.
  void Ended(pid_t pid, int status);
  // The launcher has gone (killed, or broken): how the children still running end is unknown.
  void Lost(const QString& why);

 private:
  enum class EReceived { Notice, None, Gone };
  TResult<void> Launch();
  // One notice from the launcher, waiting up to `timeoutMs`.
  EReceived Receive(TLauncherNotice& notice, int timeoutMs);
  void ReadNotices();
  void TellEnded();
  void Lose(const QString& why);

  QString program_;
  pid_t launcher_ = -1;
  int socket_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<pid_t> running_;
  // Ends read while a start waited for its answer, told once the start has returned.
  std::vector<std::pair<pid_t, int>> ended_;
  QString lost_;
};
