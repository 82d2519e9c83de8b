#include "TerminalView.h"

#include <QFileDevice>
#include <QJsonDocument>
#include <algorithm>

#include "HubctlJson.h"
#include "update/Texts.h"

TTerminalView::TTerminalView(QTextStream& out, QTextStream& err, EStyle style, int columns)
    : out_(out), err_(err), style_(style), columns_(columns) {}

int TTerminalView::BarWidth(int besides) const {
  // "[", "] 100%" and a space to spare for the cursor at the end of the line.
  return std::clamp(columns_ - besides - 8, 10, 40);
}

void TTerminalView::ShowStatus(const QString& text) {
  // A version check shows the application version it found in the status strip.
  if (!text.startsWith(Texts::StatusAppVersion))
    return;
  bool ok = false;
  const std::uint32_t version = text.mid(Texts::StatusAppVersion.size()).toUInt(&ok, 16);
  if (ok)
    versionsShown_.push_back(version);
}

QString TTerminalView::WriteErrorOf(QTextStream& stream) {
  auto* file = qobject_cast<QFileDevice*>(stream.device());
  return file && file->error() != QFileDevice::NoError ? file->errorString()
                                                       : QStringLiteral("write error");
}

void TTerminalView::FlushOutput() {
  out_.flush();
  if (out_.status() != QTextStream::Ok)
    outputError_ = WriteErrorOf(out_);
}

void TTerminalView::EmitJson(const QJsonObject& object) {
  if (!outputError_.isEmpty())
    return;
  out_ << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
  FlushOutput();
}

void TTerminalView::WriteAbove(QTextStream& stream, const QString& line) {
  const QStringList shown = progressLines_;
  ShowProgressLines({});
  stream << line << '\n';
  if (&stream == &out_)
    FlushOutput();
  else
    stream.flush();
  ShowProgressLines(shown);
}

void TTerminalView::Print(const QString& line) {
  FinishProgress();
  if (outputError_.isEmpty())
    WriteAbove(out_, line);
}

void TTerminalView::PrintError(const QString& line) {
  FinishProgress();
  WriteAbove(err_, line);
}

QString TTerminalView::Bar(int percent, int width) {
  const int filled = percent * width / 100;
  return QStringLiteral("[%1%2] %3%")
      .arg(QString(filled, '#'), QString(width - filled, '.'))
      .arg(percent, 3);
}

void TTerminalView::ShowProgressLines(const QStringList& lines) {
  if (style_ != EStyle::Terminal || (lines.isEmpty() && progressLines_.isEmpty()))
    return;
  // Back to the first line of the block and clear it and all below, then draw it again.
  if (!progressLines_.isEmpty())
    err_ << "\x1b[" << progressLines_.size() << "F\x1b[J";
  // A line wider than the terminal would wrap and spoil the count of lines to go back over.
  for (const QString& line : lines)
    err_ << line.left(columns_ - 1) << '\n';
  err_.flush();
  progressLines_ = lines;
}

void TTerminalView::FinishProgress() {
  if (!barOpen_)
    return;
  err_ << '\n';
  err_.flush();
  barOpen_ = false;
}

void TTerminalView::AppendLog(const QString& line) {
  log_ << line;
  lastShown_ = -1;
  if (quiet_)
    return;
  if (style_ == EStyle::Json) {
    EmitJson({{HubctlJson::KEY_EVENT, HubctlJson::EVENT_LOG}, {HubctlJson::KEY_TEXT, line}});
  } else {
    Print(line);
  }
}

void TTerminalView::SetProgress(int position, int maximum) {
  // Position 0 only resets the bars before work starts: nothing to show yet.
  if (maximum <= 0 || position <= 0)
    return;
  const int percent = position * 100 / maximum;
  lastPosition_ = position;
  switch (style_) {
    case EStyle::Json:
      // Whole percents, at most ten lines a second, and always the last: a supervisor reading
      // several updates at once wakes for every line.
      if (percent == lastShown_ || (position < maximum && jsonProgressShown_.isValid() &&
                                    !jsonProgressShown_.hasExpired(JSON_PROGRESS_INTERVAL_MS))) {
        return;
      }
      lastShown_ = percent;
      jsonProgressShown_.start();
      EmitJson({{HubctlJson::KEY_EVENT, HubctlJson::EVENT_PROGRESS},
                {HubctlJson::KEY_POSITION, position},
                {HubctlJson::KEY_MAXIMUM, maximum}});
      return;
    case EStyle::Plain:
      // A line every tenth keeps logs short.
      if (percent < 10 || percent / 10 == lastShown_)
        return;
      lastShown_ = percent / 10;
      Print(QStringLiteral("%1% (%2/%3)").arg(percent).arg(position).arg(maximum));
      return;
    case EStyle::Terminal: {
      if (percent == lastShown_)
        return;
      lastShown_ = percent;
      // The count as wide at the start as at the end, so the bar keeps its width.
      const int digits = static_cast<int>(QString::number(maximum).size());
      const QString count = QStringLiteral(" %1/%2").arg(position, digits).arg(maximum);
      err_ << '\r' << Bar(percent, BarWidth(static_cast<int>(count.size()))) << count;
      err_.flush();
      barOpen_ = true;
      return;
    }
  }
}
