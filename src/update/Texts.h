#pragma once
// What the program says to the user: English log lines and Chinese status texts. The window and
// the command-line front end share them.

#include <QString>

namespace Texts {
// Update log.
inline const QString DeviceDisconnected = QStringLiteral("Device disconnected.");
inline const QString UpdateFailedRetry = QStringLiteral("Update failed, remove USB and retry.");
inline const QString EnterBootloaderMode = QStringLiteral("Enter bootloader mode...");
inline const QString EnterBootloaderError = QStringLiteral("Enter bootloader error.");
inline const QString Programming = QStringLiteral("Programming...");
inline const QString Timeout = QStringLiteral("Timeout.");
inline const QString Reboot = QStringLiteral("Reboot...");
inline const QString Ok = QStringLiteral("OK.");
inline const QString UpdateCompleted = QStringLiteral("Update completed.");
inline const QString CloseAfterUpdate =
    QStringLiteral("The window closes once the update has ended.");
inline const QString UpdateStopped =
    QStringLiteral("Update stopped: the hub is left in its bootloader; update it again.");
inline const QString UpdateCancelled =
    QStringLiteral("Update cancelled before the bootloader switch: the hub was not changed.");
inline QString BrokenImage(const QString& why) {
  return QStringLiteral("The built-in firmware image is broken (%1); nothing was sent.").arg(why);
}
inline const QString UpdateAlreadyRunning =
    QStringLiteral("An update is already running; this one was not started.");
inline const QString SavedLedLevelsRestore =
    QStringLiteral("The LED levels saved before an earlier update will be written back.");
inline const QString NoSavedLedLevels =
    QStringLiteral("No saved LED levels for this hub: the LED levels will be set to defaults.");
// The LED levels cannot be kept on disk, or read back from it.
inline QString LedStoreProblem(const QString& reason) {
  return QStringLiteral("The saved LED levels cannot be used (%1); the update goes on.")
      .arg(reason);
}
// The levels read from the hub could not be written to disk before its application is erased.
inline QString LedLevelsNotKept(const QString& reason) {
  return QStringLiteral(
             "Could not keep the LED levels: %1; if this update is cut short they are lost.")
      .arg(reason);
}
inline const QString LedLevelsNotRestored = QStringLiteral(
    "The firmware is updated, but the LED levels could not all be written back: they are kept "
    "and go back on the hub the next time it is used.");
inline const QString KeptLedLevelsWrittenBack =
    QStringLiteral("The LED levels kept from an earlier update were written back to the hub.");
// The hub answered `command` with a status other than 0; `what` says which one it was.
inline QString Refused(const char* command, const QString& what, int status) {
  return QStringLiteral("The hub refused %1%2 with status 0x%3.")
      .arg(QLatin1String(command), what.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(what))
      .arg(status, 2, 16, QLatin1Char('0'));
}
inline const QString NotInBootloader = QStringLiteral(
    "The hub found after the switch is not in its bootloader: nothing was sent to it.");
inline const QString BackInOtherSocket = QStringLiteral(
    "A hub came back in another USB socket and may not be the one updated: check it with "
    "\"Check Version\" or 'halvek-hubctl version'. Its LED levels were not written to it.");
// Another program is updating the hub; `why` names it.
inline QString HubInUse(const QString& why) {
  return QStringLiteral("Not now: %1; wait until it has finished.").arg(why);
}
// The hub's lock against other programs cannot be taken: no update without it.
inline QString HubNotLocked(const QString& why) {
  return QStringLiteral("Not updated: the hub cannot be locked against other programs (%1).")
      .arg(why);
}
// Back after the reboot, but not running the new firmware. `what` says what the hub reports.
inline QString NotUpdated(const QString& what) {
  return QStringLiteral("The update did not take: %1. Run the update again.").arg(what);
}
inline const QString StillInBootloader = QStringLiteral("the hub is still in its bootloader");
inline const QString FirmwareNotSaid =
    QStringLiteral("the hub does not say which firmware it runs");
inline QString OtherApplication(const QString& runs, const QString& wanted) {
  return QStringLiteral("the hub runs application %1, not %2").arg(runs, wanted);
}

// Version box.
inline const QString BootloaderLabel = QStringLiteral("Bootloader :");
inline const QString AppLabel = QStringLiteral("App        :");
inline const QString CurrentAppLabel = QStringLiteral("Current App:");
inline const QString UpdateAvailable = QStringLiteral("Update available.");
inline const QString NoUpdateAvailable = QStringLiteral("No update available.");

// Status strip; the window shows them in the user's language (context "Status").
inline const QString StatusAppVersion = QStringLiteral(QT_TRANSLATE_NOOP("Status", "APP版本："));
inline const QString StatusNewDevice = QStringLiteral(QT_TRANSLATE_NOOP("Status", "新设备插入..."));
inline const QString StatusFailedRetry =
    QStringLiteral(QT_TRANSLATE_NOOP("Status", "升级失败，请重试..."));
inline const QString StatusStateError =
    QStringLiteral(QT_TRANSLATE_NOOP("Status", "状态错误，请手动升级."));
inline const QString StatusProgramming = QStringLiteral(QT_TRANSLATE_NOOP("Status", "升级中..."));
inline const QString StatusReboot = QStringLiteral(QT_TRANSLATE_NOOP("Status", "重启..."));
inline const QString StatusCompleted = QStringLiteral(QT_TRANSLATE_NOOP("Status", "升级完成."));
inline const QString StatusFailed = QStringLiteral(QT_TRANSLATE_NOOP("Status", "升级失败."));

// A hub whose device node cannot be opened for reading and writing.
inline QString AccessDenied(const QString& node, const QString& reason) {
  return QStringLiteral(
             "Cannot open the hub at %1 for reading and writing (%2): install the udev rule "
             "with 'sudo halvek-hubctl install-udev-rule', then plug the hub in again.")
      .arg(node, reason);
}
}  // namespace Texts
