#pragma once

#include "history/historyquery.h"
#include "history/historystats.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <limits>
#include <vector>

class SqliteStatement;

// A row of `samples` as the figures read it (the columns of HistoryAggregate::RowColumns()).
struct HistoryRow {
  bool ok = false; // a known kind and a time that reads
  bool ref = false;
  qint64 id = 0;
  qint64 atMs = 0;
  qint64 pingUs = -1; // -1: failed
  bool cancelled = false;
  qint64 dnsUs = -1;
  qint64 connectUs = -1;
  qint64 tlsUs = -1;
  qint64 ttfbUs = -1;
  // A site's sample judged on the whole answer (Health::Judge): up (slow ones too), or down with an
  // answer (a status outside 2xx, or not the marker file). A reference ping is neither.
  bool up = false;
  bool error = false;
  qint64 certNotAfterMs = -1; // the end of the server's certificates; -1: none told
};

// What the figures gather of the samples of one address over some part of the history (a span, a
// chart bucket, a sealed hour): counts, the pings with their minutes, the phase sums and the latest
// sample. Parts gathered apart and merged give what one pass over all their rows gives, in any
// order: the counts and sums add up exactly (the phase durations are whole microseconds, so their
// double sums are exact), percentiles do not depend on the order of the pings, and the latest
// sample is chosen by (time, id).
struct HistoryAggregate {
  qint64 samples = 0;              // every sample
  qint64 failures = 0;             // samples without a ping, but for the cancelled ones
  qint64 cancelled = 0;            // samples without a ping whose result is HistorySample::CancelledResult()
  std::vector<qint64> pings;       // of the successful samples added as rows (Add()), in any order
  std::vector<qint64> pingMinutes; // the minute (HistoryTime::Minute) of each of them
  // The pings of the sealed hours merged in (Unpack()), each hour's in ascending order beside the
  // minute in its hour of each, so that percentiles are found by counting in sorted runs rather
  // than by ranking every ping.
  struct SortedHour {
    std::vector<quint32> pings;  // ascending
    std::vector<quint8> minutes; // the minute in the hour of each
    qint64 firstMinute = 0;
  };
  std::vector<SortedHour> sortedHours;
  size_t sortedPings = 0; // in all of them
  // The sum of every ping and of their squares, exact (whole microseconds), for the mean and the
  // standard deviation without a pass over the pings.
  unsigned __int128 pingSum = 0;
  unsigned __int128 pingSquares = 0;
  std::vector<qint64> failureMinutes;                 // the minute of each failure
  HistoryStats::PhaseMeans phases;                    // of the successful samples
  qint64 lastMs = std::numeric_limits<qint64>::min(); // the latest sample: the greatest time, and of
  qint64 lastId = std::numeric_limits<qint64>::min(); // equal times the greatest id
  qint64 lastPing = -1;
  qint64 firstFailureMs = std::numeric_limits<qint64>::max(); // the earliest failure
  qint64 up = 0;                                              // samples that were up (HistoryRow::up)
  qint64 errors = 0;                                          // samples that got a wrong answer (HistoryRow::error)
  // The certificate end told by the latest sample that told one (by time and id, as the latest sample).
  qint64 certAtMs = std::numeric_limits<qint64>::min();
  qint64 certId = std::numeric_limits<qint64>::min();
  qint64 certNotAfterMs = -1;

  // The columns of `samples` that Read() takes, in its order, for a SELECT list: the kind as 0
  // (site), 1 (reference) or -1, and whether a failed sample was cancelled, worked out by SQLite, so
  // that a row costs as few calls and copies as can be. The address is column UrlColumn and the
  // time text column AtColumn; a statement may add columns after ColumnCount.
  static QString RowColumns();
  static constexpr int UrlColumn = 1;
  static constexpr int AtColumn = 2;
  static constexpr int ColumnCount = 13;
  static HistoryRow Read(const SqliteStatement& statement);

  void Add(const HistoryRow& row);
  void Merge(const HistoryAggregate& other);

  // The figures of the address (SiteSummary) but the "local network?" mark, which needs the
  // minutes of every reference address (ReferenceMinutes()): `referenceMinutes` sorted, or null
  // for none (a reference address's own line).
  SiteSummary Summarize(HistorySample::Kind kind, const QString& url,
                        const std::vector<qint64>* referenceMinutes) const;
  // The minutes where this reference address was slow (above its own p95) or failed, added to
  // `minutes` (unsorted, with repeats).
  void AddReferenceMinutes(std::vector<qint64>* minutes) const;
  // A chart bucket of these samples.
  HistoryBucket Bucket(qint64 startMs) const;

  // The compact form of the samples of one hour, [hourMs, hourMs + 1 h): what Unpack() adds back.
  // False when they do not fit in it (a sample outside the hour, a ping of more than 71 minutes):
  // such an hour is read from the rows.
  bool Pack(qint64 hourMs, QByteArray* data) const;
  // Merges what Pack() made of the hour starting at hourMs. False when the data is damaged (nothing
  // is added then).
  bool Unpack(QByteArrayView data, qint64 hourMs);
};
