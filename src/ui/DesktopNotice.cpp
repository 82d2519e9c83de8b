#include "ui/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>
#include <cmath>

namespace {

constexpr auto NOTIFICATIONS = "org.freedesktop.Notifications";
constexpr auto NOTIFICATIONS_PATH = "/org/freedesktop/Notifications";
constexpr auto LAUNCHER_ENTRY = "com.canonical.Unity.LauncherEntry";
constexpr auto LAUNCHER_ENTRY_PATH = "/com/halvek/HubUpdater/LauncherEntry";

}  // namespace

TDesktopNotice::TDesktopNotice(const QString& desktopFile, QObject* parent)
    : QObject(parent), appUri_(QStringLiteral("application://%1.desktop").arg(desktopFile)) {}

void TDesktopNotice::Notify(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QLatin1String service(NOTIFICATIONS);
  if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
    return;
  QDBusMessage call = QDBusMessage::createMethodCall(service, QLatin1String(NOTIFICATIONS_PATH),
                                                     service, QStringLiteral("Notify"));
  QVariantMap hints;
  if (!QGuiApplication::desktopFileName().isEmpty())
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
  call << QGuiApplication::applicationDisplayName() << shownId_
       << QGuiApplication::desktopFileName() << summary << body << QStringList() << hints << -1;
  // Never waited for: the window goes on at once; the id only lets the next one replace it.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<unsigned> reply = *w;
    if (reply.isValid())
      shownId_ = reply.value();
    w->deleteLater();
  });
}

void TDesktopNotice::SetProgress(double fraction) {
  const int percent =
      fraction < 0 ? -1 : static_cast<int>(std::lround(std::min(fraction, 1.0) * 100));
  if (percent == percent_)
    return;
  percent_ = percent;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return;
  QDBusMessage update = QDBusMessage::createSignal(
      QLatin1String(LAUNCHER_ENTRY_PATH), QLatin1String(LAUNCHER_ENTRY), QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress-visible"), percent >= 0);
  if (percent >= 0)
    properties.insert(QStringLiteral("progress"), percent / 100.0);
  update << appUri_ << properties;
  bus.send(update);
}
