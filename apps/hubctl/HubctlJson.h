#pragma once
// The words of halvek-hubctl's JSON lines that more than one part writes or reads: the keys and
// kinds of the event objects, and the time of a --log record.

#include <QDateTime>
#include <QString>

namespace HubctlJson {
// The key naming an object's kind, and the kinds.
inline constexpr char KEY_EVENT[] = "event";
inline constexpr char EVENT_LOG[] = "log";
inline constexpr char EVENT_PROGRESS[] = "progress";
inline constexpr char EVENT_ERROR[] = "error";
inline constexpr char EVENT_NOTICE[] = "notice";
inline constexpr char EVENT_RESULT[] = "result";
inline constexpr char EVENT_HUB[] = "hub";
inline constexpr char EVENT_SUMMARY[] = "summary";

// Keys that more than one kind of object carries.
inline constexpr char KEY_NODE[] = "node";
inline constexpr char KEY_RESULT[] = "result";
inline constexpr char KEY_REASON[] = "reason";
inline constexpr char KEY_MESSAGE[] = "message";
inline constexpr char KEY_TEXT[] = "text";
inline constexpr char KEY_POSITION[] = "position";
inline constexpr char KEY_MAXIMUM[] = "maximum";
inline constexpr char KEY_TIME[] = "time";

// A record's time: UTC, to the millisecond, in ISO 8601.
inline constexpr Qt::DateFormat RECORD_TIME_FORMAT = Qt::ISODateWithMs;
inline QString RecordTime(const QDateTime& time) {
  return time.toUTC().toString(RECORD_TIME_FORMAT);
}
}  // namespace HubctlJson
