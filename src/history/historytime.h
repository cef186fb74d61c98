#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The time format of the history file: UTC, ISO 8601 with milliseconds and a "Z"
// ("2024-05-01T09:30:00.250Z"). Every text has the same length, so texts compare in time order.
namespace HistoryTime {

// The text of a moment given in milliseconds since 1970-01-01T00:00:00Z.
QString Text(qint64 msSinceEpoch);
QString Text(const QDateTime& at);

// Milliseconds since the epoch of a stored time text; false when the text is not a time. Texts in
// the file's own format are read without QDateTime (fast); any other ISO 8601 text through it.
bool Parse(QByteArrayView text, qint64* msSinceEpoch);

// The minute a moment falls in: whole minutes since the epoch (floor).
inline qint64 Minute(qint64 msSinceEpoch) {
  return msSinceEpoch >= 0 ? msSinceEpoch / 60000 : -((-msSinceEpoch + 59999) / 60000);
}

} // namespace HistoryTime
