#pragma once
// The command-line face of a hub session: log lines as they come, a progress bar on a terminal,
// plain lines otherwise, or one JSON object per line for machines.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <cstdint>
#include <utility>
#include <vector>

#include "update/UpdaterView.h"

class TTerminalView : public TUpdaterView {
 public:
  enum class EStyle { Plain, Terminal, Json };

  // `columns`: the terminal's width (Terminal style), which the progress bars fit.
  TTerminalView(QTextStream& out, QTextStream& err, EStyle style, int columns = 80);

  // One JSON object on its own line (Json style only).
  void EmitJson(const QJsonObject& object);
  // A line of the command's own output.
  void Print(const QString& line);
  // A line on stderr (above the progress lines).
  void PrintError(const QString& line);
  // Ends a progress bar in the middle of its line before anything else is printed.
  void FinishProgress();
  // Terminal style: one progress line per hub on stderr, redrawn in place; lines printed
  // meanwhile go above them.
  void ShowProgressLines(const QStringList& lines);
  // "[#####.....]  50%": a progress bar `width` characters wide and the percent.
  static QString Bar(int percent, int width);
  // The width of a bar that leaves `besides` characters of its line free on the terminal.
  int BarWidth(int besides) const;
  int Columns() const { return columns_; }
  // The last progress position shown (the image line being sent), -1 before any.
  int LastPosition() const { return lastPosition_; }
  // The application versions version checks found, oldest first (the status strip's texts).
  std::vector<std::uint32_t> TakeVersionsShown() { return std::exchange(versionsShown_, {}); }

  // Why the output could not be written (closed pipe, full disk), empty while it can. Once it
  // fails nothing more is written to it; the work goes on.
  const QString& OutputError() const { return outputError_; }
  static QString WriteErrorOf(QTextStream& stream);

  const QStringList& Log() const { return log_; }
  // Keeps log lines without printing them (start-up: the command says what matters itself).
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  EStyle Style() const { return style_; }

  void ClearLog() override { log_.clear(); }
  void AppendLog(const QString& line) override;
  void ShowVersionLines(const QStringList&) override {}
  void ShowStatus(const QString& text) override;
  void ShowIndicator(int) override {}
  void SetProgress(int position, int maximum) override;
  void SetUpdateControlsEnabled(bool) override {}
  void SetManualButtonsEnabled(bool) override {}
  void SetAutoUpdateBoxEnabled(bool) override {}
  void SetWindowEnabled(bool) override {}
  void StopAutoRefresh() override {}
  void ShowLedLevel(int, int) override {}

 private:
  void FlushOutput();
  // A line on `stream` above the progress lines, which are drawn again below it.
  void WriteAbove(QTextStream& stream, const QString& line);

  QTextStream& out_;
  QTextStream& err_;
  EStyle style_;
  int columns_;
  int lastPosition_ = -1;
  std::vector<std::uint32_t> versionsShown_;
  QStringList log_;
  int lastShown_ = -1;  // percent (or tenth) last shown
  static constexpr int JSON_PROGRESS_INTERVAL_MS = 100;
  QElapsedTimer jsonProgressShown_;
  bool barOpen_ = false;
  QStringList progressLines_;  // shown below everything printed
  bool quiet_ = false;
  QString outputError_;
};
