#pragma once

#include <QtGlobal>

#include <initializer_list>
#include <span>
#include <vector>

// The arithmetic of the history's summaries and charts, on plain numbers.
namespace HistoryStats {

// Percentiles by the nearest-rank method: the p-th percentile of n values is the value of rank
// ceil(p / 100 × n) in ascending order (rank 1 for p = 0), that is the smallest value such that at
// least p % of the values are at or below it. It is always one of the values. -1 when there are
// none. Reorders `values` (a partial sort, linear time on average).
qint64 Percentile(std::vector<qint64>& values, int percent);
// The 0-based index in ascending order of the p-th percentile of n values.
size_t RankIndex(size_t n, int percent);
// The value of 0-based rank `rank` in ascending order among the values of ascending runs: `runs`
// of 32-bit values and `wide`, one of 64-bit values, none negative; rank below their count.
// Halves the range of values the answer may take while counting, in each run, the values at or
// below the middle within the part of the run still in question, so that it reads a few values of
// each run rather than all of them.
qint64 RankInRuns(std::vector<std::span<const quint32>> runs, std::span<const qint64> wide, size_t rank);
// Several percentiles at once, `percents` in ascending order; `out` receives one value for each.
void Percentiles(std::vector<qint64>& values, std::initializer_list<int> percents, qint64* out);

// The phases of a fetch as durations, from the cumulative times libcurl gives (HistorySample):
//   name lookup  dns
//   connect      connect - dns
//   TLS          tls - connect, only when tls > 0 (an https fetch)
//   first byte   ttfb - max(connect, tls)
//   transfer     total - ttfb
// A phase is left out of a sample when a time it needs is unknown. PhaseMeans adds up the phases
// of successful samples and gives their means.
enum Phase { NameLookup, Connect, Tls, FirstByte, Transfer, PhaseCount };

class PhaseMeans {
public:
  void Add(qint64 totalUs, qint64 dnsUs, qint64 connectUs, qint64 tlsUs, qint64 ttfbUs);
  void Merge(const PhaseMeans& other);
  // Adds `count` durations of a phase that sum to `sum` (what Sum() and Count() gave elsewhere).
  void AddSum(Phase phase, double sum, qint64 count);
  // The mean duration of a phase in microseconds; -1 when no sample had it.
  double Mean(Phase phase) const;
  double Sum(Phase phase) const { return sum[phase]; }
  qint64 Count(Phase phase) const { return count[phase]; }

private:
  double sum[PhaseCount] = {};
  qint64 count[PhaseCount] = {};
};

// The width of a chart's time buckets for a span: the smallest of the round widths (1, 2, 3, 5,
// 10, 15, 20, 30 seconds; 1, 2, 3, 5, 10, 15, 20, 30 minutes; 1, 2, 3, 4, 6, 8, 12 hours; 1, 2, 3,
// 7, 14, 30 days; then whole multiples of 30 days) that cuts it into at most MaxBuckets buckets.
// Spans longer than five minutes get from MaxBuckets / 2.4 (250) to MaxBuckets buckets.
constexpr int MaxBuckets = 600;
qint64 BucketMs(qint64 spanMs);

// The start of the bucket holding a moment: buckets are whole multiples of their width since the
// epoch, so they stay put while a span moves with the clock.
inline qint64 BucketStart(qint64 ms, qint64 bucketMs) {
  const qint64 index = ms >= 0 ? ms / bucketMs : -((-ms + bucketMs - 1) / bucketMs);
  return index * bucketMs;
}

} // namespace HistoryStats
