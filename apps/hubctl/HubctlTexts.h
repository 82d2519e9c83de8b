#pragma once
// What halvek-hubctl itself says (beside the update's own texts in update/Texts.h).

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "HubctlJson.h"
#include "protocol/Commands.h"
#include "update/UpdateProcedure.h"

namespace HubctlTexts {
inline const QString PROGRAM = QStringLiteral("halvek-hubctl");
// A line on stderr, named by the program that says it.
inline QString Said(const QString& line) {
  return PROGRAM + QStringLiteral(": ") + line;
}
// A signal ended a command that had nothing to wind down.
inline const QString Interrupted = QStringLiteral("interrupted");

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

// The process that starts each hub's own one has gone: how the updates under way end is unknown.
inline const QString LauncherGone =
    QStringLiteral("the process that starts each hub's update has gone");

// Usage errors beside those of the table of commands and options.
inline const QString VersionRulesGoWith = QStringLiteral(
    "--force and --allow-older go with update and auto --parallel (auto alone programs every "
    "hub, whatever it runs)");
inline QString NotAVersion(const QString& text) {
  return QStringLiteral(
             "--image-version %1 is not a version of the form X.X.XX.XXXX (hex digits, such as "
             "1.1.15.0906)")
      .arg(text);
}

// Several hubs plugged in and a command for one.
inline QString SeveralHubs(int count) {
  return QStringLiteral(
             "%1 hubs are plugged in: choose one with --device NODE (update --all updates them "
             "all)")
      .arg(count);
}
// One hub as the lists show it, from its facts (node, port, serialNumber and, when asked for,
// its versions).
inline QString HubLine(const QJsonObject& hub, bool versions = true) {
  auto text = [&](const char* key) {
    const QString value = hub.value(QLatin1String(key)).toString();
    return value.isEmpty() ? QStringLiteral("unknown") : value;
  };
  const QString line = QStringLiteral("%1  port %2  serial %3")
                           .arg(text(HubctlJson::KEY_NODE), text("port"), text("serialNumber"));
  if (!versions)
    return line;
  return line + QStringLiteral("  application %1  bootloader %2")
                    .arg(text("applicationDotted"), text("bootloaderDotted"));
}

// The version rules of update.
inline QString AlreadyRuns(const QString& version) {
  return QStringLiteral("The hub already runs %1.").arg(version);
}
inline QString ImageOlder(const QString& image, const QString& running) {
  return QStringLiteral(
             "the image (%1) is older than what the hub runs (%2); the hub is left as it is "
             "(--allow-older programs it all the same)")
      .arg(image, running);
}

// Why the version rules left a hub alone, in a few words: it runs `version`, the image's or a
// newer one.
inline QString AlreadyRunsReason(const QString& version) {
  return QStringLiteral("already runs %1").arg(version);
}
inline QString NewerThanImageReason(const QString& version) {
  return QStringLiteral("runs %1, newer than the image").arg(version);
}

// Why a hub was not updated, in a few words (the log's and the summary's reason). `line`: the
// image line last sent.
inline QString ReasonOf(EUpdateResult result, int line) {
  switch (result) {
    case EUpdateResult::RecordFailed:
      return QStringLiteral("no record taken at line %1 of the image").arg(line + 1);
    case EUpdateResult::Stopped:
      return QStringLiteral("stopped at line %1 of the image").arg(line + 1);
    case EUpdateResult::BrokenImage:
      return QStringLiteral("the image is broken");
    case EUpdateResult::NoDevice:
      return QStringLiteral("no hub");
    case EUpdateResult::LedLevelsNotRead:
      return QStringLiteral("did not give its LED levels");
    case EUpdateResult::BootloaderNotFound:
      return QStringLiteral("not back after the switch into its bootloader");
    case EUpdateResult::NotFoundAfterReboot:
      return QStringLiteral("not back after its restart");
    case EUpdateResult::NotUpdated:
      return QStringLiteral("does not run the image's version after the update");
    case EUpdateResult::Cancelled:
      return QStringLiteral("cancelled before the switch into its bootloader");
    case EUpdateResult::AlreadyRunning:
      return QStringLiteral("another update was running");
    case EUpdateResult::HubInUse:
      return QStringLiteral("in use by another program");
    default:
      return QStringLiteral("error");
  }
}

// A failed update: the state the hub is left in and the next step. `chosen`: the hub was one
// of several, chosen by its node (which its restarts may have changed).
inline QString WhatNext(EUpdateResult result, const QString& reason, bool chosen) {
  const QString again =
      chosen ? QStringLiteral(
                   "run 'halvek-hubctl --device NODE update' again, with the node 'halvek-hubctl "
                   "list' shows for it now")
             : QStringLiteral("run 'halvek-hubctl update' again");
  const QString replug = QStringLiteral("unplug the hub, plug it in again and ") + again;
  switch (result) {
    case EUpdateResult::LedLevelsNotRead:
    case EUpdateResult::BootloaderNotFound:
      return QStringLiteral("the update failed (%1); the hub keeps its firmware: %2")
          .arg(reason, replug);
    case EUpdateResult::RecordFailed:
      return QStringLiteral("the update failed (%1); the hub waits in its bootloader: %2")
          .arg(reason, again);
    case EUpdateResult::Stopped:
      return QStringLiteral(
                 "stopped: the hub is in its bootloader without a complete application: %1")
          .arg(again);
    case EUpdateResult::NotFoundAfterReboot:
      return QStringLiteral(
                 "the update failed (%1); the hub has its new firmware but did not come back: "
                 "unplug it, plug it in again and run 'halvek-hubctl version'")
          .arg(reason);
    case EUpdateResult::NoDevice:
      return QStringLiteral("the update failed: no hub; plug one in and ") + again;
    case EUpdateResult::HubInUse:
    case EUpdateResult::AlreadyRunning:
      return QStringLiteral("the update failed (%1): %2 once the other update has ended")
          .arg(reason, again);
    default:
      return QStringLiteral("the update failed (%1): %2").arg(reason, replug);
  }
}

// auto: a hub not updated, and how to have it updated after all.
inline QString AutoNotUpdated(const QString& node, const QString& reason) {
  return QStringLiteral(
             "the hub at %1 was not updated (%2): unplug it and plug it in again to have it "
             "updated anew")
      .arg(node, reason);
}

// update --all: the closing line; `failures` as "NODE (reason)".
inline QString FleetSummary(int hubs, int updated, int leftAlone, const QStringList& failures) {
  const QString counts = QStringLiteral("%1 updated, %2 left alone").arg(updated).arg(leftAlone);
  if (failures.isEmpty())
    return QStringLiteral("%1 hubs: %2.").arg(hubs).arg(counts);
  return QStringLiteral("%1 of %2 hubs failed: %3; %4.")
      .arg(failures.size())
      .arg(hubs)
      .arg(failures.join(QStringLiteral(", ")), counts);
}

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
// auto: the hub just done, counted from 1.
inline QString HubDone(int count, const QString& node, const QString& result) {
  return QStringLiteral("hub %1 at %2: %3").arg(count).arg(node, result);
}

// list
inline const QString ReadWrite = QStringLiteral("read/write");
inline QString NoAccess(const QString& reason) {
  return QStringLiteral("no access (%1)").arg(reason);
}
inline QString ListHub(const QString& port, const QString& serial) {
  return QStringLiteral("  hub  port %1  serial %2")
      .arg(port.isEmpty() ? QStringLiteral("unknown") : port,
           serial.isEmpty() ? QStringLiteral("unknown") : serial);
}
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
  return PROGRAM + QLatin1Char(' ') + version;
}
inline QString BuiltInFirmware(const QString& dotted, const QString& raw) {
  return QStringLiteral("built-in hub firmware %1 (%2)").arg(dotted, raw);
}

// install-udev-rule
inline const QString RuleMissing = QStringLiteral("the udev rule is missing from this build");
inline QString RuleNeedsRoot(bool remove) {
  return QStringLiteral("this needs root: sudo halvek-hubctl install-udev-rule") +
         (remove ? QStringLiteral(" --remove") : QString());
}
inline QString CannotWrite(const QString& path, const QString& reason) {
  return QStringLiteral("cannot write %1: %2").arg(path, reason);
}
inline QString CannotRemove(const QString& path, const QString& reason) {
  return QStringLiteral("cannot remove %1: %2").arg(path, reason);
}
inline QString RuleInstalled(const QString& path) {
  return QStringLiteral("Installed %1").arg(path);
}
inline QString WouldInstall(const QString& path) {
  return QStringLiteral("Would install %1 (--simulate: nothing written).").arg(path);
}
inline QString AlreadyInstalled(const QString& path) {
  return QStringLiteral("The udev rule is already installed: %1").arg(path);
}
inline QString RulePackaged(const QString& path) {
  return QStringLiteral("The package installed the udev rule as %1; nothing to write.").arg(path);
}
inline QString CopyOverrides(const QString& path) {
  return QStringLiteral(
             "A copy in %1 overrides it: 'sudo halvek-hubctl install-udev-rule --remove' takes "
             "it out.")
      .arg(path);
}
inline QString NoCopy(const QString& path) {
  return QStringLiteral("There is no copy of the udev rule at %1; nothing to remove.").arg(path);
}
inline QString Removed(const QString& path) {
  return QStringLiteral("Removed %1").arg(path);
}
inline QString WouldRemove(const QString& path) {
  return QStringLiteral("Would remove %1 (--simulate: nothing removed).").arg(path);
}
inline const QString NoUdevadm = QStringLiteral(
    "udevadm is not installed, so udev was not told: plug the hub in again once udev runs");
inline const QString NoUdevd = QStringLiteral(
    "udev is not running on this system (no udevd to tell): the rule takes effect once it runs; "
    "then plug the hub in again");
inline const QString PlugAgain = QStringLiteral("Plug the hub in again if it is already attached.");
}  // namespace HubctlTexts
