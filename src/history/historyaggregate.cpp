#include "history/historyaggregate.h"

#include "core/health.h"
#include "history/historytime.h"
#include "history/sqlitestatement.h"

#include <QDateTime>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

namespace {

enum Column {
  ColKind,
  ColUrl,
  ColAt,
  ColId,
  ColPing,
  ColDns,
  ColConnect,
  ColTls,
  ColTtfb,
  ColCancelled,
  ColStatus,
  ColResult,
  ColCertNotAfter
};
static_assert(ColUrl == HistoryAggregate::UrlColumn && ColAt == HistoryAggregate::AtColumn &&
              ColCertNotAfter + 1 == HistoryAggregate::ColumnCount);

constexpr qint64 HourMs = 3600 * 1000;

// An integer column with NULL as -1. One call for all but the value 0, which NULL reads as too.
qint64 IntOrNone(const SqliteStatement& statement, int column) {
  const qint64 value = statement.RawInt(column);
  return value != 0 || !statement.IsNull(column) ? value : -1;
}

HistoryPhases PhasesOf(const HistoryStats::PhaseMeans& means) {
  HistoryPhases phases;
  phases.nameLookupUs = means.Mean(HistoryStats::NameLookup);
  phases.connectUs = means.Mean(HistoryStats::Connect);
  phases.tlsUs = means.Mean(HistoryStats::Tls);
  phases.firstByteUs = means.Mean(HistoryStats::FirstByte);
  phases.transferUs = means.Mean(HistoryStats::Transfer);
  return phases;
}

// The packed form, little-endian: a fixed head (six counts: samples, failures, cancelled, pings,
// up, errors; the phase sums as int64 whole microseconds and the phase counts as uint32; the latest
// sample's time, id and ping; the earliest failure's time; the time, id and end of the latest
// certificate told, -1 for none; the sum of the pings and the sum of their squares as two uint64,
// low half first), then the pings in ascending order (uint32 each), the minute in the hour of each
// ping in the same order (one byte each) and the minute in the hour of each failure (one byte each).
constexpr qsizetype HeadBytes = 6 * 4 + HistoryStats::PhaseCount * 12 + 7 * 8 + 3 * 8;

class Packer {
public:
  explicit Packer(QByteArray* data) : data(data) {}
  template <typename T>
  void Put(T value) {
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    data->append(bytes, qsizetype(sizeof(T)));
  }

private:
  QByteArray* data;
};

class Unpacker {
public:
  explicit Unpacker(QByteArrayView data) : at(data.data()) {}
  template <typename T>
  T Get() {
    const T value = qFromLittleEndian<T>(at);
    at += sizeof(T);
    return value;
  }
  const char* Here() const { return at; }

private:
  const char* at;
};

bool FitsIn32(qint64 value) {
  return value >= 0 && value <= qint64(std::numeric_limits<quint32>::max());
}

// The pings of an aggregate as ascending runs: each sealed hour's as it was stored, and those added
// as rows sorted once here. A percentile is found by halving the range of values it may take while
// counting, in each run, the pings at or below the middle within the part of the run still in
// question: a few hundred binary searches in place of ranking every ping.
class RankedPings {
public:
  explicit RankedPings(const HistoryAggregate& figures)
      : figures(figures), rows(figures.pings), inOneList(Count() <= OneListAtMost || figures.sortedHours.empty()) {
    // A few pings, or rows alone, are ranked in one list where they are (a partial sort in linear
    // time); rows beside many pings of sealed hours are sorted into a run of their own.
    for (const HistoryAggregate::SortedHour& hour : figures.sortedHours) {
      if (inOneList) {
        rows.insert(rows.end(), hour.pings.begin(), hour.pings.end());
      } else if (!hour.pings.empty()) {
        least = qMin(least, qint64(hour.pings.front()));
        most = qMax(most, qint64(hour.pings.back()));
      }
    }
    if (!inOneList)
      std::sort(rows.begin(), rows.end());
    if (!rows.empty()) {
      const auto [low, high] = std::minmax_element(rows.begin(), rows.end());
      least = qMin(least, *low);
      most = qMax(most, *high);
    }
  }

  size_t Count() const { return figures.pings.size() + figures.sortedPings; }
  qint64 Least() const { return least; }
  qint64 Most() const { return most; }

  // By the nearest-rank method (HistoryStats::RankIndex); -1 when there is no ping.
  qint64 Percentile(int percent) {
    if (inOneList)
      return HistoryStats::Percentile(rows, percent);
    return Count() == 0 ? -1 : AtRank(HistoryStats::RankIndex(Count(), percent));
  }

  // Calls f(minute) for every ping above `value`, with its minute.
  template <typename F>
  void ForEachAbove(qint64 value, F f) const {
    for (const HistoryAggregate::SortedHour& hour : figures.sortedHours)
      for (auto ping = std::upper_bound(hour.pings.begin(), hour.pings.end(), value); ping != hour.pings.end(); ++ping)
        f(hour.firstMinute + hour.minutes[size_t(ping - hour.pings.begin())]);
    for (size_t i = 0; i < figures.pings.size(); ++i)
      if (figures.pings[i] > value)
        f(figures.pingMinutes[i]);
  }

private:
  qint64 AtRank(size_t rank) const {
    std::vector<std::span<const quint32>> runs;
    runs.reserve(figures.sortedHours.size());
    for (const HistoryAggregate::SortedHour& hour : figures.sortedHours)
      runs.emplace_back(hour.pings);
    return HistoryStats::RankInRuns(std::move(runs), rows, rank);
  }

  // Up to this many pings, copying them into one list costs less than counting in runs.
  static constexpr size_t OneListAtMost = 4096;

  const HistoryAggregate& figures;
  std::vector<qint64> rows;
  bool inOneList;
  qint64 least = std::numeric_limits<qint64>::max();
  qint64 most = std::numeric_limits<qint64>::min();
};

} // namespace

QString HistoryAggregate::RowColumns() {
  return QStringLiteral(
             "CASE kind WHEN 'site' THEN 0 WHEN 'ref' THEN 1 ELSE -1 END, url, at_utc, id, ping_us, dns_us, "
             "connect_us, tls_us, ttfb_us, CASE WHEN ping_us IS NULL THEN result = '%1' END, status, result, "
             "cert_not_after_utc")
      .arg(HistorySample::CancelledResult());
}

HistoryRow HistoryAggregate::Read(const SqliteStatement& statement) {
  HistoryRow row;
  const qint64 kind = statement.RawInt(ColKind);
  if (kind < 0 || !HistoryTime::Parse(statement.Text(ColAt), &row.atMs))
    return row;
  row.ok = true;
  row.ref = kind == 1;
  row.id = statement.RawInt(ColId);
  row.pingUs = IntOrNone(statement, ColPing);
  if (row.pingUs >= 0) {
    row.dnsUs = IntOrNone(statement, ColDns);
    row.connectUs = IntOrNone(statement, ColConnect);
    row.tlsUs = IntOrNone(statement, ColTls);
    row.ttfbUs = IntOrNone(statement, ColTtfb);
  } else {
    row.cancelled = statement.RawInt(ColCancelled) != 0;
  }
  if (!row.ref) {
    // Up or down on the whole answer; slow does not matter here.
    const QByteArrayView result = statement.Text(ColResult);
    const Health::Verdict verdict = Health::Judge({.pingUs = row.pingUs,
                                                   .cancelled = row.cancelled,
                                                   .status = int(statement.RawInt(ColStatus)),
                                                   .result = QUtf8StringView(result.data(), result.size())},
                                                  qQNaN());
    row.up = verdict.Up();
    row.error = verdict.Answered();
    if (!statement.IsNull(ColCertNotAfter) && !HistoryTime::Parse(statement.Text(ColCertNotAfter), &row.certNotAfterMs))
      row.certNotAfterMs = -1;
  }
  return row;
}

void HistoryAggregate::Add(const HistoryRow& row) {
  if (!row.ok)
    return;
  ++samples;
  const qint64 minute = HistoryTime::Minute(row.atMs);
  if (row.pingUs >= 0) {
    pings.push_back(row.pingUs);
    pingSum += quint64(row.pingUs);
    pingSquares += (unsigned __int128)(quint64(row.pingUs)) * quint64(row.pingUs);
    pingMinutes.push_back(minute);
    phases.Add(row.pingUs, row.dnsUs, row.connectUs, row.tlsUs, row.ttfbUs);
  } else if (row.cancelled) {
    ++cancelled;
  } else {
    ++failures;
    failureMinutes.push_back(minute);
    firstFailureMs = qMin(firstFailureMs, row.atMs);
  }
  up += row.up ? 1 : 0;
  errors += row.error ? 1 : 0;
  if (row.certNotAfterMs >= 0 && (row.atMs > certAtMs || (row.atMs == certAtMs && row.id > certId))) {
    certAtMs = row.atMs;
    certId = row.id;
    certNotAfterMs = row.certNotAfterMs;
  }
  if (row.atMs > lastMs || (row.atMs == lastMs && row.id > lastId)) {
    lastMs = row.atMs;
    lastId = row.id;
    lastPing = row.pingUs;
  }
}

void HistoryAggregate::Merge(const HistoryAggregate& other) {
  samples += other.samples;
  failures += other.failures;
  cancelled += other.cancelled;
  pings.insert(pings.end(), other.pings.begin(), other.pings.end());
  pingMinutes.insert(pingMinutes.end(), other.pingMinutes.begin(), other.pingMinutes.end());
  pingSum += other.pingSum;
  pingSquares += other.pingSquares;
  sortedHours.insert(sortedHours.end(), other.sortedHours.begin(), other.sortedHours.end());
  sortedPings += other.sortedPings;
  failureMinutes.insert(failureMinutes.end(), other.failureMinutes.begin(), other.failureMinutes.end());
  phases.Merge(other.phases);
  firstFailureMs = qMin(firstFailureMs, other.firstFailureMs);
  up += other.up;
  errors += other.errors;
  if (other.certNotAfterMs >= 0 &&
      (other.certAtMs > certAtMs || (other.certAtMs == certAtMs && other.certId > certId))) {
    certAtMs = other.certAtMs;
    certId = other.certId;
    certNotAfterMs = other.certNotAfterMs;
  }
  if (other.samples > 0 && (other.lastMs > lastMs || (other.lastMs == lastMs && other.lastId > lastId))) {
    lastMs = other.lastMs;
    lastId = other.lastId;
    lastPing = other.lastPing;
  }
}

SiteSummary HistoryAggregate::Summarize(HistorySample::Kind kind, const QString& url,
                                        const std::vector<qint64>* referenceMinutes) const {
  SiteSummary line;
  line.kind = kind;
  line.url = url;
  line.samples = samples;
  line.failures = failures;
  line.cancelled = cancelled;
  const qint64 counted = samples - cancelled;
  line.lossPercent = counted > 0 ? 100.0 * double(failures) / double(counted) : 0;
  if (kind == HistorySample::Kind::Site) {
    line.errors = errors;
    line.upSamples = up;
    line.upPercent = counted > 0 ? 100.0 * double(up) / double(counted) : -1;
    if (certNotAfterMs >= 0)
      line.certNotAfter = QDateTime::fromMSecsSinceEpoch(certNotAfterMs, Qt::UTC);
  }
  line.lastAt = QDateTime::fromMSecsSinceEpoch(lastMs, Qt::UTC);
  line.lastUs = lastPing;
  line.phases = PhasesOf(phases);
  RankedPings ranked(*this);
  if (ranked.Count() == 0)
    return line;

  line.minUs = ranked.Least();
  line.maxUs = ranked.Most();
  line.p50Us = ranked.Percentile(50);
  line.p95Us = ranked.Percentile(95);
  line.p99Us = ranked.Percentile(99);
  // n² times the variance, n Σx² - (Σx)², is a whole number: exact before the one division.
  const auto count = (unsigned __int128)ranked.Count();
  const double n = double(ranked.Count());
  line.meanUs = double(pingSum) / n;
  line.stddevUs = std::sqrt(double(count * pingSquares - pingSum * pingSum) / n / n);

  if (referenceMinutes) {
    ranked.ForEachAbove(line.p95Us, [&](qint64 minute) {
      ++line.slowSamples;
      const auto near = std::lower_bound(referenceMinutes->begin(), referenceMinutes->end(), minute - 1);
      if (near != referenceMinutes->end() && *near <= minute + 1)
        ++line.slowMatched;
    });
    line.localNetwork = line.slowSamples >= SiteSummary::LocalNetworkMinSlow && 2 * line.slowMatched > line.slowSamples;
  }
  return line;
}

void HistoryAggregate::AddReferenceMinutes(std::vector<qint64>* minutes) const {
  minutes->insert(minutes->end(), failureMinutes.begin(), failureMinutes.end());
  RankedPings ranked(*this);
  ranked.ForEachAbove(ranked.Percentile(95), [&](qint64 minute) { minutes->push_back(minute); });
}

HistoryBucket HistoryAggregate::Bucket(qint64 startMs) const {
  HistoryBucket bucket;
  bucket.startMs = startMs;
  bucket.samples = int(samples);
  bucket.failures = int(failures);
  RankedPings ranked(*this);
  bucket.p10Us = ranked.Percentile(10);
  bucket.medianUs = ranked.Percentile(50);
  bucket.p90Us = ranked.Percentile(90);
  bucket.phases = PhasesOf(phases);
  return bucket;
}

bool HistoryAggregate::Pack(qint64 hourMs, QByteArray* data) const {
  const qint64 firstMinute = HistoryTime::Minute(hourMs);
  const auto inHour = [&](qint64 ms) { return ms >= hourMs && ms < hourMs + HourMs; };
  const auto minuteInHour = [&](qint64 minute) { return minute >= firstMinute && minute < firstMinute + 60; };
  // The pings in ascending order with their minutes (of equal pings, in the order of the minutes).
  std::vector<std::pair<qint64, qint64>> ranked;
  ranked.reserve(pings.size() + sortedPings);
  for (size_t i = 0; i < pings.size(); ++i)
    ranked.emplace_back(pings[i], pingMinutes[i]);
  for (const SortedHour& hour : sortedHours)
    for (size_t i = 0; i < hour.pings.size(); ++i)
      ranked.emplace_back(hour.pings[i], hour.firstMinute + hour.minutes[i]);
  std::sort(ranked.begin(), ranked.end());
  if (samples <= 0 || !FitsIn32(samples) || !inHour(lastMs) || (failures > 0 && !inHour(firstFailureMs)) ||
      (certNotAfterMs >= 0 && !inHour(certAtMs)) ||
      !std::all_of(ranked.begin(), ranked.end(),
                   [&](const auto& ping) { return FitsIn32(ping.first) && minuteInHour(ping.second); }) ||
      !std::all_of(failureMinutes.begin(), failureMinutes.end(), minuteInHour))
    return false;
  for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase) {
    const double sum = phases.Sum(HistoryStats::Phase(phase));
    if (std::abs(sum) > 9e15 || !FitsIn32(phases.Count(HistoryStats::Phase(phase))))
      return false;
  }

  data->clear();
  data->reserve(HeadBytes + qsizetype(ranked.size()) * 5 + qsizetype(failureMinutes.size()));
  Packer out(data);
  out.Put(quint32(samples));
  out.Put(quint32(failures));
  out.Put(quint32(cancelled));
  out.Put(quint32(ranked.size()));
  out.Put(quint32(up));
  out.Put(quint32(errors));
  for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase)
    out.Put(qint64(phases.Sum(HistoryStats::Phase(phase))));
  for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase)
    out.Put(quint32(phases.Count(HistoryStats::Phase(phase))));
  out.Put(lastMs);
  out.Put(lastId);
  out.Put(lastPing);
  out.Put(failures > 0 ? firstFailureMs : qint64(-1));
  out.Put(certNotAfterMs >= 0 ? certAtMs : qint64(-1));
  out.Put(certNotAfterMs >= 0 ? certId : qint64(-1));
  out.Put(certNotAfterMs);
  out.Put(quint64(pingSum));
  out.Put(quint64(pingSquares));
  out.Put(quint64(pingSquares >> 64));
  for (const auto& ping : ranked)
    out.Put(quint32(ping.first));
  for (const auto& ping : ranked)
    data->append(char(ping.second - firstMinute));
  for (const qint64 minute : failureMinutes)
    data->append(char(minute - firstMinute));
  return true;
}

bool HistoryAggregate::Unpack(QByteArrayView data, qint64 hourMs) {
  if (data.size() < HeadBytes)
    return false;
  Unpacker in(data);
  const quint32 count = in.Get<quint32>();
  const quint32 failed = in.Get<quint32>();
  const quint32 ended = in.Get<quint32>();
  const quint32 pinged = in.Get<quint32>();
  const quint32 upCount = in.Get<quint32>();
  const quint32 errorCount = in.Get<quint32>();
  if (data.size() != HeadBytes + qsizetype(pinged) * 5 + qsizetype(failed) ||
      qint64(pinged) + failed + ended != qint64(count) || qint64(upCount) + errorCount > qint64(count))
    return false;
  HistoryAggregate hour;
  hour.samples = count;
  hour.failures = failed;
  hour.cancelled = ended;
  hour.up = upCount;
  hour.errors = errorCount;
  qint64 sums[HistoryStats::PhaseCount];
  for (qint64& sum : sums)
    sum = in.Get<qint64>();
  for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase)
    hour.phases.AddSum(HistoryStats::Phase(phase), double(sums[phase]), in.Get<quint32>());
  hour.lastMs = in.Get<qint64>();
  hour.lastId = in.Get<qint64>();
  hour.lastPing = in.Get<qint64>();
  const qint64 firstFailure = in.Get<qint64>();
  if (failed > 0)
    hour.firstFailureMs = firstFailure;
  const qint64 certAt = in.Get<qint64>();
  const qint64 certRow = in.Get<qint64>();
  const qint64 certEnd = in.Get<qint64>();
  if (certEnd >= 0) {
    hour.certAtMs = certAt;
    hour.certId = certRow;
    hour.certNotAfterMs = certEnd;
  }
  hour.pingSum = in.Get<quint64>();
  hour.pingSquares = in.Get<quint64>();
  hour.pingSquares |= (unsigned __int128)(in.Get<quint64>()) << 64;
  // The pings, ascending, and the minute in the hour of each.
  const auto* ping = reinterpret_cast<const uchar*>(in.Here());
  const auto* minute = ping + 4 * qsizetype(pinged);
  const auto* failureMinute = minute + qsizetype(pinged);
  const auto valid = [](const uchar* minutes, quint32 count) {
    return std::all_of(minutes, minutes + count, [](uchar inHour) { return inHour < 60; });
  };
  if (!valid(minute, pinged) || !valid(failureMinute, failed))
    return false;
  const qint64 firstMinute = HistoryTime::Minute(hourMs);
  SortedHour sorted;
  sorted.firstMinute = firstMinute;
  if (pinged > 0) {
    sorted.pings.resize(pinged);
    qFromLittleEndian<quint32>(ping, pinged, sorted.pings.data());
    if (!std::is_sorted(sorted.pings.begin(), sorted.pings.end()))
      return false;
    sorted.minutes.assign(minute, minute + pinged);
  }
  Merge(hour);
  if (pinged > 0) {
    sortedPings += pinged;
    sortedHours.push_back(std::move(sorted));
  }
  for (size_t i = 0; i < failed; ++i)
    failureMinutes.push_back(firstMinute + failureMinute[i]);
  return true;
}
