#pragma once
// A view that writes down everything the procedures show.

#include <QStringList>
#include <map>

#include "update/UpdaterView.h"

class RecordingView : public TUpdaterView {
 public:
  QStringList log;
  QStringList versionLines;
  QStringList statuses;
  QList<int> indicators;
  int progress = -1;
  int progressMaximum = -1;
  bool controlsEnabled = true;
  bool windowEnabled = true;
  int controlsDisabledCount = 0;
  int windowDisabledCount = 0;
  int autoRefreshStops = 0;
  std::map<int, int> ledShown;

  void ClearLog() override { log.clear(); }
  void AppendLog(const QString& line) override { log << line; }
  void ShowVersionLines(const QStringList& lines) override { versionLines = lines; }
  void ShowStatus(const QString& text) override { statuses << text; }
  void ShowIndicator(int index) override { indicators << index; }
  void SetProgress(int position, int maximum) override {
    progress = position;
    progressMaximum = maximum;
  }
  void SetUpdateControlsEnabled(bool enabled) override {
    controlsEnabled = enabled;
    if (!enabled)
      ++controlsDisabledCount;
  }
  bool manualButtonsEnabled = true;
  bool autoBoxEnabled = true;
  void SetManualButtonsEnabled(bool enabled) override { manualButtonsEnabled = enabled; }
  void SetAutoUpdateBoxEnabled(bool enabled) override { autoBoxEnabled = enabled; }
  void SetWindowEnabled(bool enabled) override {
    windowEnabled = enabled;
    if (!enabled)
      ++windowDisabledCount;
  }
  void StopAutoRefresh() override { ++autoRefreshStops; }
  void ShowLedLevel(int channel, int level) override { ledShown[channel] = level; }
};
