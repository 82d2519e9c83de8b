#pragma once
// What halvek-hubctl itself says (beside the update's own texts in update/Texts.h).

#include <QString>
#include <QStringList>
#include <cstdint>

#include "protocol/Commands.h"

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

// Usage errors; the usage text follows each.
inline const QString ImageNeedsFile = QStringLiteral("--image needs a file");
inline const QString ImageVersionNeedsVersion =
    QStringLiteral("--image-version needs a version such as 1.1.15.0906");
inline const QString LogNeedsFile = QStringLiteral("--log needs a file");
inline const QString HubsNeedsNumber = QStringLiteral("--hubs needs a number of hubs, 1 to 64");
inline const QString DeviceNeedsNode = QStringLiteral("--device needs a device node");
inline const QString TimeoutNeedsSeconds = QStringLiteral("--timeout needs a number of seconds");
inline const QString CountNeedsNumber = QStringLiteral("--count needs a number of hubs");
inline QString UnknownOption(const QString& option) {
  return QStringLiteral("unknown option ") + option;
}
inline const QString NoCommand = QStringLiteral("no command given");
inline QString UnknownCommand(const QString& command) {
  return QStringLiteral("unknown command ") + command;
}
inline QString Unexpected(const QStringList& arguments) {
  return QStringLiteral("unexpected ") + arguments.join(QLatin1Char(' '));
}
// An option given without the command (or option) it belongs to.
inline QString GoesWith(const QString& option, const QString& with) {
  return QStringLiteral("%1 goes with %2").arg(option, with);
}
inline const QString AllExcludesDevice = QStringLiteral("--all and --device exclude each other");
inline const QString ImageGoesWith =
    QStringLiteral("--image and --image-version go with update and auto");
inline const QString ImageGoTogether = QStringLiteral("--image and --image-version go together");
inline QString NotAVersion(const QString& text) {
  return QStringLiteral(
             "--image-version %1 is not a version of the form X.X.XX.XXXX (hex digits, such as "
             "1.1.15.0906)")
      .arg(text);
}
// led: said without the usage text.
inline const QString LedArguments =
    QStringLiteral("led takes no arguments, or CHANNEL LEVEL, or all LEVEL");
inline const QString LedChannelRange = QStringLiteral("the channel is 1 to 8, or all");
inline const QString LedLevelRange = QStringLiteral("the level is 0 to 100");

inline QString CannotWriteOutput(const QString& reason) {
  return QStringLiteral("cannot write the output: ") + reason;
}
inline QString RefusingImage(const QString& reason) {
  return QStringLiteral("refusing the firmware image %1").arg(reason);
}
inline QString CannotReachDevices(const QString& reason) {
  return QStringLiteral("cannot reach the HID devices: %1").arg(reason);
}
// Another program is updating the hub: why, as the lock says.
inline QString HubInUse(const QString& node, const QString& why) {
  return QStringLiteral("the hub at %1: %2").arg(node, why);
}
inline QString UpdateFailed(const QString& reason) {
  return QStringLiteral("the update failed: %1").arg(reason);
}
// auto: the hub just done, counted from 1.
inline QString HubDone(int count, const QString& node, const QString& result) {
  return QStringLiteral("hub %1 at %2: %3").arg(count).arg(node, result);
}

// list
inline const QString ReadWrite = QStringLiteral("read/write");
inline QString NoAccess(const QString& reason) {
  return QStringLiteral("no access (%1)").arg(reason);
}
inline const QString ListHub = QStringLiteral("  hub");
inline QString ListNotHub(const QString& reason) {
  return QStringLiteral("  not a hub: ") + reason;
}
inline const QString NoHidDevices = QStringLiteral("No HID devices.");

// status
inline QStringList StatusLines(const TStatusReadout& status) {
  QStringList batteries;
  for (int i = 0; i < BATTERY_COUNT; ++i) {
    batteries << QStringLiteral("%1 %2").arg(i + 1).arg(status.batteryPresent[i] ? "present"
                                                                                 : "absent");
  }
  return {QStringLiteral("Voltage   %1 mV").arg(status.voltage_mV),
          QStringLiteral("Current   %1 mA").arg(status.current_mA),
          QStringLiteral("Channel   %1").arg(status.channel),
          QStringLiteral("State     %1").arg(status.state),
          QStringLiteral("Batteries %1").arg(batteries.join(", ")),
          QStringLiteral("Counters  %1 %2 %3")
              .arg(status.counters[0])
              .arg(status.counters[1])
              .arg(status.counters[2])};
}

// led
inline QString LedLine(int led, std::uint8_t red, std::uint8_t green) {
  return QStringLiteral("LED%1  red %2  green %3").arg(led).arg(red, 3).arg(green, 3);
}
inline QString NoLedLevels(const QString& node) {
  return QStringLiteral("the hub at %1 did not give its LED levels").arg(node);
}
inline QString LevelNotTaken(const QString& node) {
  return QStringLiteral("the hub at %1 did not take the level").arg(node);
}

// wait
inline QString NoHubWithin(int seconds) {
  return QStringLiteral("no hub within %1 s").arg(seconds);
}

// --version
inline QString ProgramVersion(const QString& version) {
  return QStringLiteral("halvek-hubctl ") + version;
}
inline QString BuiltInFirmware(const QString& dotted, const QString& raw) {
  return QStringLiteral("built-in hub firmware %1 (%2)").arg(dotted, raw);
}

// install-udev-rule
inline const QString RuleMissing = QStringLiteral("the udev rule is missing from this build");
inline const QString RuleNeedsRoot =
    QStringLiteral("this needs root: sudo halvek-hubctl install-udev-rule");
inline QString CannotWrite(const QString& path, const QString& reason) {
  return QStringLiteral("cannot write %1: %2").arg(path, reason);
}
inline QString RuleInstalled(const QString& path) {
  return QStringLiteral("Installed %1").arg(path);
}
inline const QString UdevadmDidNotRun =
    QStringLiteral("udevadm did not run; plug the hub in again to apply the rule.");
inline const QString PlugAgain = QStringLiteral("Plug the hub in again if it is already attached.");
}  // namespace HubctlTexts
