#pragma once
// A desktop logout ends its programs with SIGHUP or SIGTERM, and a terminal's Ctrl+C sends
// SIGINT. Ended at once, the window would leave a hub in the middle of its update in the
// bootloader; instead these signals close the window as its close button does, so an update
// runs to its end first.

#include <QObject>
#include <csignal>
#include <initializer_list>
#include <memory>
#include <vector>

#include "base/Result.h"

class QSocketNotifier;
class QWidget;

class TCloseOnSignal : public QObject {
  Q_OBJECT

 public:
  // One at a time in a process: the handlers are the process's. The old ones come back when
  // this goes.
  static TResult<std::unique_ptr<TCloseOnSignal>> Install(
      QWidget* window, std::initializer_list<int> signalNumbers = {SIGHUP, SIGINT, SIGTERM});
  ~TCloseOnSignal() override;

 private:
  TCloseOnSignal(QWidget* window, std::initializer_list<int> signalNumbers);
  void SignalArrived();

  QWidget* window_;
  QSocketNotifier* notifier_ = nullptr;
  std::vector<std::pair<int, struct sigaction>> previous_;
};
