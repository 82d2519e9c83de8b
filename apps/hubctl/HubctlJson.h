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
inline constexpr char KEY_EXIT_CODE[] = "exitCode";

// The reasons of "error" objects (beside an update's results), stable for scripts.
inline constexpr char REASON_USAGE[] = "usage";
inline constexpr char REASON_NO_HUB[] = "no-hub";
inline constexpr char REASON_SEVERAL_HUBS[] = "several-hubs";
inline constexpr char REASON_ACCESS_DENIED[] = "access-denied";
inline constexpr char REASON_HUB_IN_USE[] = "hub-in-use";
inline constexpr char REASON_NO_ANSWER[] = "no-answer";
inline constexpr char REASON_TIMEOUT[] = "timeout";
inline constexpr char REASON_BROKEN_IMAGE[] = "broken-image";
inline constexpr char REASON_CANNOT_REACH_DEVICES[] = "cannot-reach-devices";
inline constexpr char REASON_LOG_NOT_WRITTEN[] = "log-not-written";
inline constexpr char REASON_HUBS_FAILED[] = "hubs-failed";
inline constexpr char REASON_RULE_MISSING[] = "rule-missing";
inline constexpr char REASON_NEEDS_ROOT[] = "needs-root";
inline constexpr char REASON_CANNOT_WRITE[] = "cannot-write";
inline constexpr char REASON_CANNOT_START[] = "cannot-start";

// A record's time: UTC, to the millisecond, in ISO 8601.
inline constexpr Qt::DateFormat RECORD_TIME_FORMAT = Qt::ISODateWithMs;
inline QString RecordTime(const QDateTime& time) {
  return time.toUTC().toString(RECORD_TIME_FORMAT);
}
}  // namespace HubctlJson
