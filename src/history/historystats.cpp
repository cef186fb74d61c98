#include "history/historystats.h"

#include <algorithm>
#include <limits>

namespace HistoryStats {

size_t RankIndex(size_t n, int percent) {
  const auto p = size_t(qBound(0, percent, 100));
  const size_t rank = (p * n + 99) / 100; // ceil(p n / 100)
  return rank == 0 ? 0 : rank - 1;
}

qint64 Percentile(std::vector<qint64>& values, int percent) {
  qint64 out = -1;
  Percentiles(values, {percent}, &out);
  return out;
}

void Percentiles(std::vector<qint64>& values, std::initializer_list<int> percents, qint64* out) {
  // Each nth_element leaves the larger values after the chosen one, so the next (higher) rank is
  // searched for in what is left.
  auto from = values.begin();
  for (const int percent : percents) {
    if (values.empty()) {
      *out++ = -1;
      continue;
    }
    const auto at = values.begin() + qsizetype(RankIndex(values.size(), percent));
    if (at >= from) {
      std::nth_element(from, at, values.end());
      from = at;
    }
    *out++ = *at;
  }
}

qint64 RankInRuns(std::vector<std::span<const quint32>> runs, std::span<const qint64> wide, size_t rank) {
  std::erase_if(runs, [](std::span<const quint32> run) { return run.empty(); });
  qint64 least = wide.empty() ? std::numeric_limits<qint64>::max() : wide.front();
  qint64 most = wide.empty() ? std::numeric_limits<qint64>::min() : wide.back();
  for (const std::span<const quint32> run : runs) {
    least = qMin(least, qint64(run.front()));
    most = qMax(most, qint64(run.back()));
  }
  if (least > most)
    return -1;
  // Invariant: at most `rank` values are at or below `low`, more than `rank` at or below `high`;
  // in each run, the values before what is left of it are at or below `low`, those after above
  // `high`.
  std::vector<size_t> cuts(runs.size());
  size_t atOrBelowLow = 0;
  qint64 low = least - 1;
  qint64 high = most;
  while (high - low > 1) {
    const qint64 middle = low + (high - low) / 2;
    size_t counted = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
      cuts[i] = size_t(std::upper_bound(runs[i].begin(), runs[i].end(), middle) - runs[i].begin());
      counted += cuts[i];
    }
    const auto wideCut = size_t(std::upper_bound(wide.begin(), wide.end(), middle) - wide.begin());
    counted += wideCut;
    const bool lower = atOrBelowLow + counted > rank;
    if (lower) {
      high = middle;
      wide = wide.first(wideCut);
    } else {
      low = middle;
      atOrBelowLow += counted;
      wide = wide.subspan(wideCut);
    }
    // The runs with nothing left in question drop out: most do after a few rounds.
    size_t kept = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
      const std::span<const quint32> left = lower ? runs[i].first(cuts[i]) : runs[i].subspan(cuts[i]);
      if (!left.empty())
        runs[kept++] = left;
    }
    runs.resize(kept);
  }
  return high;
}

void PhaseMeans::Add(qint64 totalUs, qint64 dnsUs, qint64 connectUs, qint64 tlsUs, qint64 ttfbUs) {
  const auto add = [this](Phase phase, qint64 duration) {
    sum[phase] += double(duration);
    ++count[phase];
  };
  if (dnsUs >= 0)
    add(NameLookup, dnsUs);
  if (dnsUs >= 0 && connectUs >= 0)
    add(Connect, connectUs - dnsUs);
  if (tlsUs > 0 && connectUs >= 0)
    add(Tls, tlsUs - connectUs);
  if (ttfbUs >= 0 && connectUs >= 0)
    add(FirstByte, ttfbUs - qMax(connectUs, tlsUs));
  if (ttfbUs >= 0 && totalUs >= 0)
    add(Transfer, totalUs - ttfbUs);
}

void PhaseMeans::Merge(const PhaseMeans& other) {
  for (int phase = 0; phase < PhaseCount; ++phase) {
    sum[phase] += other.sum[phase];
    count[phase] += other.count[phase];
  }
}

void PhaseMeans::AddSum(Phase phase, double phaseSum, qint64 phaseCount) {
  sum[phase] += phaseSum;
  count[phase] += phaseCount;
}

double PhaseMeans::Mean(Phase phase) const {
  return count[phase] > 0 ? sum[phase] / double(count[phase]) : -1;
}

qint64 BucketMs(qint64 spanMs) {
  constexpr qint64 Second = 1000;
  constexpr qint64 Minute = 60 * Second;
  constexpr qint64 Hour = 60 * Minute;
  constexpr qint64 Day = 24 * Hour;
  static constexpr qint64 Widths[] = {Second,      2 * Second,  3 * Second,  5 * Second,  10 * Second, 15 * Second,
                                      20 * Second, 30 * Second, Minute,      2 * Minute,  3 * Minute,  5 * Minute,
                                      10 * Minute, 15 * Minute, 20 * Minute, 30 * Minute, Hour,        2 * Hour,
                                      3 * Hour,    4 * Hour,    6 * Hour,    8 * Hour,    12 * Hour,   Day,
                                      2 * Day,     3 * Day,     7 * Day,     14 * Day,    30 * Day};
  for (const qint64 width : Widths)
    if ((spanMs + width - 1) / width <= MaxBuckets)
      return width;
  const qint64 month = 30 * Day;
  const qint64 months = (spanMs + MaxBuckets * month - 1) / (MaxBuckets * month);
  return months * month;
}

} // namespace HistoryStats
