#include "update/Pause.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void Pause(int ms) {
  QEventLoop loop;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(ms);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ProcessPendingEvents() {
  QCoreApplication::processEvents();
}
