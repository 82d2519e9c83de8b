#pragma once
// What the desktop shows of the window when nobody looks at it: a notification
// (org.freedesktop.Notifications) and the update's progress on the task bar entry
// (com.canonical.Unity.LauncherEntry), both over the session bus. Without a session bus, or
// without a notification service on it, nothing happens.

#include <QObject>
#include <QString>

class TDesktopNotice : public QObject {
  Q_OBJECT

 public:
  // `desktopFile`: the program's desktop entry, which names the task bar entry.
  explicit TDesktopNotice(const QString& desktopFile, QObject* parent = nullptr);

  // A notification with the program's icon; replaces the one shown before, if still shown.
  void Notify(const QString& summary, const QString& body);
  // The progress on the task bar entry, 0 to 1; a negative value takes the bar away. Only a
  // visible change of a whole percent is sent.
  void SetProgress(double fraction);

 private:
  QString appUri_;
  unsigned shownId_ = 0;  // the notification shown last, replaced by the next
  int percent_ = -1;      // sent last, -1 for none
};
