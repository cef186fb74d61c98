#pragma once

#include <QDateTime>
#include <QtGlobal>

// The part of the history a summary, a chart or an export looks at: a range of time, and
// optionally one run.
struct HistorySpan {
  // The spans a user picks from.
  enum class Preset { ThisRun, LastHour, Last24Hours, Last7Days, Last30Days, All };

  QDateTime from;    // the first moment included; invalid: from the first sample
  QDateTime to;      // the first moment no longer included; invalid: up to the last sample
  qint64 runId = -1; // 0 or more: only the samples of that run (0 matches none); -1: any run.
                     // A run's samples are looked for from a minute before it began to a minute
                     // after it ended (both in `runs`), within from and to.

  // `currentRunId` is the run of ThisRun (0 or less when there is none: the span is then empty);
  // the others end open (they include samples taken after `now`).
  static HistorySpan Of(Preset preset, qint64 currentRunId, const QDateTime& now = QDateTime::currentDateTimeUtc());
  // The last `seconds` before `now`, open at the end.
  static HistorySpan Last(qint64 seconds, const QDateTime& now = QDateTime::currentDateTimeUtc());
};
