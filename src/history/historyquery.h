#pragma once

#include "history/historyconnection.h"
#include "history/historyincident.h"
#include "history/historyproblem.h"
#include "history/historysample.h"
#include "history/historyspan.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class SqliteStatement;
struct HistoryBounds;

// Mean phase durations in microseconds (HistoryStats::PhaseMeans); -1 where no sample told.
struct HistoryPhases {
  double nameLookupUs = -1;
  double connectUs = -1;
  double tlsUs = -1;
  double firstByteUs = -1;
  double transferUs = -1;
};

// One address over a span. Times in microseconds.
struct SiteSummary {
  HistorySample::Kind kind = HistorySample::Kind::Site;
  QString url;
  // Every fetch attempt is a sample (a row of `samples`), judged by Health::Judge.
  qint64 samples = 0;     // every sample in the span
  qint64 failures = 0;    // samples without a ping (no answer), but for the cancelled ones
  qint64 cancelled = 0;   // samples without a ping whose result is HistorySample::CancelledResult()
  qint64 errors = 0;      // down samples that got an answer: a status outside 2xx, or not the marker file
  qint64 upSamples = 0;   // samples that were up (slow ones too)
  double lossPercent = 0; // failures / (samples - cancelled) × 100; 0 when nothing is left
  double upPercent = -1;  // upSamples / (samples - cancelled) × 100; -1 when nothing is left
  // The end of the server's certificates that the latest sample telling one told; invalid when none.
  QDateTime certNotAfter;
  // Of the successful samples (those with a ping); -1 when there is none. Percentiles by the
  // nearest-rank method (HistoryStats::Percentile).
  qint64 minUs = -1;
  qint64 p50Us = -1;
  qint64 p95Us = -1;
  qint64 p99Us = -1;
  qint64 maxUs = -1;
  double meanUs = -1;
  double stddevUs = -1; // population standard deviation (divided by n)
  // The latest sample (the greatest time; of equal times the one appended last).
  QDateTime lastAt;
  qint64 lastUs = -1;   // its ping; -1 when it failed
  HistoryPhases phases; // of the successful samples

  // "local network?": the site's slow samples fall mostly in minutes where the reference pings
  // were slow too, so the delay was more likely near the user than at the site.
  //  - a slow sample is a successful sample of the site with a ping above the site's own p95;
  //  - a reference minute is a UTC minute (HistoryTime::Minute) holding a reference ping that
  //    failed or whose ping is above the p95 of its own reference address, over the same span;
  //  - a slow sample matches when a reference minute is its own minute, the one before or the one
  //    after (a reference ping follows the slow sample that called for it, perhaps past the turn of
  //    the minute);
  //  - "mostly": at least LocalNetworkMinSlow slow samples, and more than half of them match.
  // Reference pings are taken from the span's time range, whatever their run. Never set on the
  // references' own lines.
  static constexpr qint64 LocalNetworkMinSlow = 3;
  qint64 slowSamples = 0;
  qint64 slowMatched = 0;
  bool localNetwork = false;
};

// A time bucket of a chart series. Times in microseconds.
struct HistoryBucket {
  qint64 startMs = 0; // the bucket is [startMs, startMs + HistoryChart::bucketMs), ms since the epoch
  int samples = 0;    // every sample in it
  int failures = 0;   // as SiteSummary::failures
  // Nearest-rank percentiles of its successful samples; -1 when it has none.
  qint64 p10Us = -1;
  qint64 medianUs = -1;
  qint64 p90Us = -1;
  HistoryPhases phases; // of its successful samples (for a stacked view of the phases)
};

// One address on a chart.
struct HistorySeries {
  HistorySample::Kind kind = HistorySample::Kind::Site;
  QString url;
  QList<HistoryBucket> buckets; // only the buckets that hold samples, in time order
  QList<qint64> failureMs;      // the time of the first failure of every bucket that has one
};

// A chart of one or more addresses over a span: at most HistoryStats::MaxBuckets buckets a series,
// however many samples there are.
struct HistoryChart {
  qint64 fromMs = 0; // the time axis: [fromMs, toMs), ms since the epoch
  qint64 toMs = 0;
  qint64 bucketMs = 0;             // HistoryStats::BucketMs(toMs - fromMs)
  QList<HistorySeries> sites;      // in the order asked for; a series without samples has no buckets
  QList<HistorySeries> references; // every reference address with pings in the span, in text order
};

// A row of `runs`.
struct HistoryRun {
  qint64 id = -1;
  QDateTime started;
  QDateTime ended; // invalid while the run goes on (or when the program ended without saying)
  int samplers = 0;
  double delaySeconds = 0;
  double warning1Seconds = 0;
  double warning2Seconds = 0;
};

// Reads the history file, never changing it: summaries, charts, single samples. It holds a
// read-only connection of its own, so it reads a consistent state while the store writes (samples
// still queued in the store are not seen: HistoryStore::Flush() first where that matters).
//
// Use an object on one thread only (see HistoryConnection).
class HistoryQuery {
public:
  // How Summary() reads the samples: one pass over the whole table (Scan), through the index on
  // (url, at_utc), address by address (Index), or from the sealed hours (HistoryBlocks) and the rows
  // they do not hold (Blocks; Index where they hold no whole hour of the span). All give the same
  // figures; Auto picks Blocks where they hold a whole hour of the span, otherwise Index for chosen
  // addresses or for a span holding under a quarter of the file's time, Scan otherwise.
  enum class Plan { Auto, Scan, Index, Blocks };

  explicit HistoryQuery(const QString& path);

  // Whether the file could be opened (a missing file cannot); each query tries again.
  bool IsOpen();
  // The one-line reason of the last failure (HistoryProblem::ReadLine()); empty when none.
  QString ErrorText() const { return error; }

  // One line for every address with samples in the span: the sites first, then the reference
  // addresses, each in text order. With `urls`, only those addresses.
  QList<SiteSummary> Summary(const HistorySpan& span, const QStringList& urls = {}, Plan plan = Plan::Auto);

  // The chart of the sites `urls` over the span, with every reference address. An open start is
  // the first sample of those sites (or of the references); an open end is `now` (or the last
  // sample when later).
  HistoryChart Chart(const HistorySpan& span, const QStringList& urls,
                     const QDateTime& now = QDateTime::currentDateTimeUtc());

  // The statements a chart reads rows with, for a span with both ends and a run, parameters
  // unbound: a site's series, then the reference pings (to look at their query plans).
  static QStringList ChartRowStatements();

  // The sample of an address (of one kind) nearest in time to `at`: of two equally near, the
  // earlier; of samples taken at one moment, the last appended. None when the address has none.
  std::optional<HistorySample> Nearest(const QString& url, HistorySample::Kind kind, const QDateTime& at);

  // Every sample of the span (of `urls` only, when given) in id order, as a row of the columns of
  // HistorySchema::SampleColumns(), handed to `row`, which returns false to stop early. False
  // when reading failed (ErrorText()); stopping early is no failure.
  bool Samples(const HistorySpan& span, const QStringList& urls,
               const std::function<bool(const SqliteStatement&)>& row);

  // The incidents that overlap the span (began before its end, and go on or ended at or after its
  // start; a run's span counts by its times), of `urls` only when given, in id order: as rows of the
  // columns of HistorySchema::IncidentColumns() handed to `row`, or as a list. False, or an empty
  // list, when reading failed (ErrorText()).
  bool IncidentRows(const HistorySpan& span, const QStringList& urls,
                    const std::function<bool(const SqliteStatement&)>& row);
  QList<HistoryIncident> Incidents(const HistorySpan& span, const QStringList& urls = {});

  // A run by its id; none when there is no such run.
  std::optional<HistoryRun> Run(qint64 id);

private:
  HistoryBounds Resolve(const HistorySpan& span);
  void Fail(HistoryProblem::Kind kind);
  // Runs `sql` (a SELECT whose WHERE takes more terms), limited to `urls` when given, in id order,
  // handing each row to `row`; as Samples().
  bool Rows(QString sql, const HistoryBounds& bounds, const QStringList& urls,
            const std::function<bool(const SqliteStatement&)>& row);

  HistoryConnection connection;
  bool opened = false;
  QString error;
};
