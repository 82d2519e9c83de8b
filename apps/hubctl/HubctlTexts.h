#pragma once
// What halvek-hubctl itself says (beside the update's own texts in update/Texts.h).

#include <QString>

namespace HubctlTexts {
// Ctrl-C during an update, by how far it has come.
inline const QString InterruptBeforeSwitch = QStringLiteral(
    "interrupted: the update stops before the hub is switched into its bootloader; the hub is "
    "left as it was");
inline const QString InterruptGoesOn = QStringLiteral(
    "interrupted: the update goes on to its end so that the hub is not left half-programmed; "
    "press Ctrl-C again to stop it now");
inline const QString InterruptFinishing = QStringLiteral(
    "interrupted: the hub has all of its new firmware and is restarting; the update ends in a "
    "moment");
inline const QString InterruptAll = QStringLiteral(
    "interrupted: every update under way goes on to its end; press Ctrl-C again to stop them "
    "all between records");
inline const QString StoppedInBootloader = QStringLiteral(
    "stopped: the hub is in its bootloader without a complete application; run 'halvek-hubctl "
    "update' to program it");

inline const QString NoHubFound = QStringLiteral("no hub found");
inline QString NoHubAt(const QString& node) {
  return QStringLiteral("no hub at %1").arg(node);
}
inline QString DidNotAnswer(const QString& node) {
  return QStringLiteral("the hub at %1 did not answer").arg(node);
}
inline const QString WaitingForHubs = QStringLiteral("Waiting for hubs; Ctrl-C to stop.");
// --log: the record of a hub could not be written; the updates go on.
inline QString LogNotWritten(const QString& path, const QString& reason) {
  return QStringLiteral("cannot write the log %1 (%2); the updates go on").arg(path, reason);
}
// update --all / auto --parallel: one hub's update could not be started.
inline QString CannotStart(const QString& node, const QString& reason) {
  return QStringLiteral("cannot start the update of the hub at %1: %2").arg(node, reason);
}
}  // namespace HubctlTexts
