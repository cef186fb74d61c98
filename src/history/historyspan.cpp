#include "history/historyspan.h"

HistorySpan HistorySpan::Of(Preset preset, qint64 currentRunId, const QDateTime& now) {
  switch (preset) {
  case Preset::ThisRun: {
    HistorySpan span;
    span.runId = qMax<qint64>(0, currentRunId);
    return span;
  }
  case Preset::LastHour: return Last(3600, now);
  case Preset::Last24Hours: return Last(24 * 3600, now);
  case Preset::Last7Days: return Last(7 * 24 * 3600, now);
  case Preset::Last30Days: return Last(30 * 24 * 3600, now);
  case Preset::All: break;
  }
  return HistorySpan();
}

HistorySpan HistorySpan::Last(qint64 seconds, const QDateTime& now) {
  HistorySpan span;
  span.from = now.toUTC().addSecs(-seconds);
  return span;
}
