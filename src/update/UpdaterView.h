#pragma once
// What the procedures show to the user. The window implements it with widgets, the command-line
// front end with terminal output. Every call comes on the UI thread.

#include <QString>
#include <QStringList>

class TUpdaterView {
 public:
  virtual ~TUpdaterView() = default;

  // The update log.
  virtual void ClearLog() = 0;
  virtual void AppendLog(const QString& line) = 0;
  // The version box; replaces what it showed.
  virtual void ShowVersionLines(const QStringList& lines) = 0;
  // A status text; the window shows it only while its status strip is visible.
  virtual void ShowStatus(const QString& text) = 0;
  // The connection lamp: 0 a hub is chosen, 1 none (or an update stopped).
  virtual void ShowIndicator(int index) = 0;
  // Programming progress, 0 to maximum (both bars of the window).
  virtual void SetProgress(int position, int maximum) = 0;
  // An update begins: the update page's bar goes back to 0; the status strip's bar keeps what
  // it showed until programming starts.
  virtual void ClearUpdateProgress() {}
  // The panel holding the update and version-check buttons (off while an update runs).
  virtual void SetUpdateControlsEnabled(bool enabled) = 0;
  // The update and version-check buttons themselves (off while updates are automatic).
  virtual void SetManualButtonsEnabled(bool enabled) = 0;
  // The automatic-update check box (off during an automatic run).
  virtual void SetAutoUpdateBoxEnabled(bool enabled) = 0;
  // The whole window, while the hub switches into its bootloader.
  virtual void SetWindowEnabled(bool enabled) = 0;
  // Switches the periodic status read off (the Tool page's check box).
  virtual void StopAutoRefresh() = 0;
  // A LED level set by the program (the hub's levels read back); the display follows without
  // sending anything.
  virtual void ShowLedLevel(int channel, int level) = 0;
};
