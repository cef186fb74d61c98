// Summaries and charts of the history against plain reference computations on random samples,
// for every kind of span and every way of reading (the rows, and the sealed hours with rows added,
// changed and removed behind them, cut by the retention, and in a form the blocks cannot hold); the
// nearest-rank percentiles; the "local network?" mark on small fixtures; the chart's bucket widths;
// the nearest sample.
#include "history/historyaggregate.h"
#include "history/historyblocks.h"
#include "history/historyconnection.h"
#include "history/historyquery.h"
#include "history/historystats.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "history/sqlitestatement.h"
#include "historyfile.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <span>
#include <vector>

Q_DECLARE_METATYPE(HistorySpan)
Q_DECLARE_METATYPE(HistoryQuery::Plan)

namespace {

const QDateTime Now(QDate(2030, 1, 15), QTime(12, 0), Qt::UTC);
const qint64 NowMs = Now.toMSecsSinceEpoch();
constexpr qint64 Minute = 60 * 1000;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

const QStringList Sites{"http://a.test", "https://b.test/x,y", "http://c.test"};
const QStringList References{"http://ref1.test", "http://ref2.test"};

// The runs of the random data: run 1 a day a month ago (beginning and ending within an hour), run 2
// began three hours ago and goes on.
const qint64 Run1Start = NowMs - 30 * Day + 17 * Minute;
const qint64 Run1End = NowMs - 29 * Day + 43 * Minute;
const qint64 Run2Start = NowMs - 3 * Hour;

// ---- Plain reference computations ---------------------------------------------------------------

// The p-th percentile by its definition: the smallest value such that at least p % of the values
// are at or below it.
qint64 NearestRank(std::vector<qint64> values, int percent) {
  if (values.empty())
    return -1;
  std::sort(values.begin(), values.end());
  for (size_t i = 0; i < values.size(); ++i)
    if ((i + 1) * 100 >= size_t(percent) * values.size())
      return values[i];
  return values.back();
}

double MeanOrNone(const std::vector<double>& values) {
  if (values.empty())
    return -1;
  double sum = 0;
  for (const double value : values)
    sum += value;
  return sum / double(values.size());
}

HistoryPhases Phases(const std::vector<const HistorySample*>& samples) {
  std::vector<double> lookup, connect, tls, firstByte, transfer;
  for (const HistorySample* s : samples) {
    if (s->pingUs < 0)
      continue;
    if (s->dnsUs >= 0)
      lookup.push_back(double(s->dnsUs));
    if (s->dnsUs >= 0 && s->connectUs >= 0)
      connect.push_back(double(s->connectUs - s->dnsUs));
    if (s->tlsUs > 0 && s->connectUs >= 0)
      tls.push_back(double(s->tlsUs - s->connectUs));
    if (s->ttfbUs >= 0 && s->connectUs >= 0)
      firstByte.push_back(double(s->ttfbUs - std::max(s->connectUs, s->tlsUs)));
    if (s->ttfbUs >= 0)
      transfer.push_back(double(s->pingUs - s->ttfbUs));
  }
  return {MeanOrNone(lookup), MeanOrNone(connect), MeanOrNone(tls), MeanOrNone(firstByte), MeanOrNone(transfer)};
}

bool Cancelled(const HistorySample& s) {
  return s.pingUs < 0 && s.result == QLatin1String("Cancelled");
}

bool Same(double a, double b) {
  return std::abs(a - b) <= 1e-9 * std::max({1.0, std::abs(a), std::abs(b)});
}

#define COMPARE_PHASES(actual, expected)                                           \
  do {                                                                             \
    QVERIFY2(Same((actual).nameLookupUs, (expected).nameLookupUs), "name lookup"); \
    QVERIFY2(Same((actual).connectUs, (expected).connectUs), "connect");           \
    QVERIFY2(Same((actual).tlsUs, (expected).tlsUs), "TLS");                       \
    QVERIFY2(Same((actual).firstByteUs, (expected).firstByteUs), "first byte");    \
    QVERIFY2(Same((actual).transferUs, (expected).transferUs), "transfer");        \
  } while (false)

// A span as the test resolves it: [from, to), the run of the sites (-1: any).
struct Range {
  qint64 from = std::numeric_limits<qint64>::min();
  qint64 to = std::numeric_limits<qint64>::max();
  qint64 run = -1;
};

// ---- Writing test files -------------------------------------------------------------------------

void Write(const QString& path, const std::vector<HistorySample>& samples) {
  HistoryStore store;
  QVERIFY(store.Open(path));
  for (const HistorySample& sample : samples)
    store.Append(sample);
  QVERIFY(store.Flush());
}

// Seals every hour that is over at `nowMs`.
void SealAll(const QString& path, qint64 nowMs) {
  HistoryConnection connection(path, HistoryConnection::Mode::ReadWrite);
  QVERIFY(connection.Open());
  int code = 0;
  HistoryBlocks::Step step = HistoryBlocks::Step::More;
  for (int steps = 0; step == HistoryBlocks::Step::More && steps < 1000; ++steps)
    step = HistoryBlocks::Seal(connection.Handle(), nowMs, &code);
  QCOMPARE(step, HistoryBlocks::Step::Done);
}

// Writes a sample as another program would, past the store, with a time text of its own.
void Insert(HistoryFile& file, const HistorySample& s, const QString& atText) {
  const auto intOrNull = [](qint64 value) { return value < 0 ? QVariant() : QVariant(value); };
  QVERIFY2(file.Exec(QStringLiteral("INSERT INTO samples(at_utc, kind, url, run_id, ping_us, dns_us, connect_us, "
                                    "tls_us, ttfb_us, result, attempt, final, status, cert_not_after_utc) "
                                    "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                     {atText, s.kind == HistorySample::Kind::Ref ? "ref" : "site", s.url, intOrNull(s.runId),
                      intOrNull(s.pingUs), intOrNull(s.dnsUs), intOrNull(s.connectUs), intOrNull(s.tlsUs),
                      intOrNull(s.ttfbUs), s.result, s.attempt, s.finalAttempt ? 1 : 0,
                      s.status > 0 ? QVariant(s.status) : QVariant(),
                      s.certNotAfterMs >= 0 ? QVariant(HistoryTime::Text(s.certNotAfterMs)) : QVariant()}),
           qPrintable(file.Error().text()));
}

HistorySample Sample(HistorySample::Kind kind, const QString& url, qint64 atMs, qint64 pingUs,
                     const QString& result = QString()) {
  HistorySample sample;
  sample.kind = kind;
  sample.url = url;
  sample.at = QDateTime::fromMSecsSinceEpoch(atMs, Qt::UTC);
  sample.pingUs = pingUs;
  sample.result = result;
  return sample;
}

} // namespace

class HistoryQueryTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString path;                       // the file of random samples
  std::vector<HistorySample> samples; // what it holds, in id order

  // Which samples the span holds: sites by time and run, references by time alone.
  std::vector<size_t> InRange(const Range& range) const {
    std::vector<size_t> chosen;
    for (size_t i = 0; i < samples.size(); ++i) {
      const HistorySample& s = samples[i];
      const qint64 at = s.at.toMSecsSinceEpoch();
      if (at < range.from || at >= range.to)
        continue;
      if (s.kind == HistorySample::Kind::Site && range.run >= 0 && s.runId != range.run)
        continue;
      chosen.push_back(i);
    }
    return chosen;
  }

  // The summary of a span computed the plain way: sites first, then references, each by address.
  QList<SiteSummary> ReferenceSummary(const Range& range, const QStringList& urls) const {
    std::map<std::pair<int, QString>, std::vector<size_t>> groups;
    for (const size_t i : InRange(range))
      groups[{samples[i].kind == HistorySample::Kind::Ref ? 1 : 0, samples[i].url}].push_back(i);

    // The minutes of slow or failed reference pings.
    std::vector<qint64> referenceMinutes;
    for (const auto& [key, members] : groups) {
      if (key.first != 1)
        continue;
      std::vector<qint64> pings;
      for (const size_t i : members)
        if (samples[i].pingUs >= 0)
          pings.push_back(samples[i].pingUs);
      const qint64 p95 = NearestRank(pings, 95);
      for (const size_t i : members)
        if ((samples[i].pingUs < 0 && !Cancelled(samples[i])) || samples[i].pingUs > p95)
          referenceMinutes.push_back(HistoryTime::Minute(samples[i].at.toMSecsSinceEpoch()));
    }

    QList<SiteSummary> lines;
    for (const auto& [key, members] : groups) {
      if (!urls.isEmpty() && !urls.contains(key.second))
        continue;
      SiteSummary line;
      line.kind = key.first == 1 ? HistorySample::Kind::Ref : HistorySample::Kind::Site;
      line.url = key.second;
      std::vector<qint64> pings;
      std::vector<const HistorySample*> all;
      size_t last = members.front();
      const HistorySample* certified = nullptr; // the latest sample that told a certificate
      for (const size_t i : members) {
        const HistorySample& s = samples[i];
        all.push_back(&s);
        ++line.samples;
        if (s.pingUs >= 0)
          pings.push_back(s.pingUs);
        else if (Cancelled(s))
          ++line.cancelled;
        else
          ++line.failures;
        // A site's answer is up or an error; a reference ping is neither.
        if (s.pingUs >= 0 && line.kind == HistorySample::Kind::Site) {
          const bool marker = s.result.isEmpty() || s.result.startsWith(QLatin1String(" => "));
          if (s.status >= 200 && s.status < 300 && marker)
            ++line.upSamples;
          else
            ++line.errors;
        }
        if (s.at >= samples[last].at)
          last = i;
        if (s.certNotAfterMs >= 0 && line.kind == HistorySample::Kind::Site && (!certified || s.at >= certified->at))
          certified = &s;
      }
      line.lossPercent =
          line.samples > line.cancelled ? 100.0 * double(line.failures) / double(line.samples - line.cancelled) : 0;
      if (line.kind == HistorySample::Kind::Site)
        line.upPercent =
            line.samples > line.cancelled ? 100.0 * double(line.upSamples) / double(line.samples - line.cancelled) : -1;
      if (certified)
        line.certNotAfter = QDateTime::fromMSecsSinceEpoch(certified->certNotAfterMs, Qt::UTC);
      line.lastAt = samples[last].at;
      line.lastUs = samples[last].pingUs;
      line.phases = Phases(all);
      if (!pings.empty()) {
        line.minUs = *std::min_element(pings.begin(), pings.end());
        line.maxUs = *std::max_element(pings.begin(), pings.end());
        line.p50Us = NearestRank(pings, 50);
        line.p95Us = NearestRank(pings, 95);
        line.p99Us = NearestRank(pings, 99);
        double sum = 0;
        for (const qint64 p : pings)
          sum += double(p);
        line.meanUs = sum / double(pings.size());
        double squares = 0;
        for (const qint64 p : pings)
          squares += (double(p) - line.meanUs) * (double(p) - line.meanUs);
        line.stddevUs = std::sqrt(squares / double(pings.size()));
      }
      if (line.kind == HistorySample::Kind::Site) {
        for (const size_t i : members) {
          if (samples[i].pingUs <= line.p95Us)
            continue;
          ++line.slowSamples;
          const qint64 minute = HistoryTime::Minute(samples[i].at.toMSecsSinceEpoch());
          for (const qint64 m : referenceMinutes)
            if (std::abs(m - minute) <= 1) {
              ++line.slowMatched;
              break;
            }
        }
        line.localNetwork = line.slowSamples >= 3 && line.slowMatched * 2 > line.slowSamples;
      }
      lines << line;
    }
    return lines;
  }

  static void CompareSummaries(const QList<SiteSummary>& actual, const QList<SiteSummary>& expected) {
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
      const SiteSummary& a = actual[i];
      const SiteSummary& e = expected[i];
      const QByteArray where = e.url.toUtf8();
      QVERIFY2(a.kind == e.kind && a.url == e.url, where.constData());
      QCOMPARE(a.samples, e.samples);
      QCOMPARE(a.failures, e.failures);
      QCOMPARE(a.cancelled, e.cancelled);
      QVERIFY2(Same(a.lossPercent, e.lossPercent), where.constData());
      QCOMPARE(a.errors, e.errors);
      QCOMPARE(a.upSamples, e.upSamples);
      QVERIFY2(Same(a.upPercent, e.upPercent), where.constData());
      QCOMPARE(a.certNotAfter, e.certNotAfter);
      QCOMPARE(a.minUs, e.minUs);
      QCOMPARE(a.p50Us, e.p50Us);
      QCOMPARE(a.p95Us, e.p95Us);
      QCOMPARE(a.p99Us, e.p99Us);
      QCOMPARE(a.maxUs, e.maxUs);
      QVERIFY2(Same(a.meanUs, e.meanUs), where.constData());
      QVERIFY2(Same(a.stddevUs, e.stddevUs), where.constData());
      QCOMPARE(a.lastAt, e.lastAt);
      QCOMPARE(a.lastUs, e.lastUs);
      COMPARE_PHASES(a.phases, e.phases);
      QCOMPARE(a.slowSamples, e.slowSamples);
      QCOMPARE(a.slowMatched, e.slowMatched);
      QCOMPARE(a.localNetwork, e.localNetwork);
    }
  }

  // The chart of the sites over a resolved range, the plain way.
  HistorySeries ReferenceSeries(const Range& range, HistorySample::Kind kind, const QString& url, qint64 width) const {
    HistorySeries series;
    series.kind = kind;
    series.url = url;
    std::map<qint64, std::vector<size_t>> buckets;
    for (const size_t i : InRange(range))
      if (samples[i].kind == kind && samples[i].url == url)
        buckets[HistoryStats::BucketStart(samples[i].at.toMSecsSinceEpoch(), width)].push_back(i);
    for (auto& [start, members] : buckets) {
      std::stable_sort(members.begin(), members.end(),
                       [&](size_t a, size_t b) { return samples[a].at < samples[b].at; });
      HistoryBucket bucket;
      bucket.startMs = start;
      std::vector<qint64> pings;
      std::vector<const HistorySample*> all;
      for (const size_t i : members) {
        const HistorySample& s = samples[i];
        all.push_back(&s);
        ++bucket.samples;
        if (s.pingUs >= 0) {
          pings.push_back(s.pingUs);
        } else if (!Cancelled(s)) {
          if (bucket.failures++ == 0)
            series.failureMs << s.at.toMSecsSinceEpoch();
        }
      }
      bucket.p10Us = NearestRank(pings, 10);
      bucket.medianUs = NearestRank(pings, 50);
      bucket.p90Us = NearestRank(pings, 90);
      bucket.phases = Phases(all);
      series.buckets << bucket;
    }
    return series;
  }

  static void CompareSeries(const HistorySeries& actual, const HistorySeries& expected) {
    QCOMPARE(actual.url, expected.url);
    QVERIFY(actual.kind == expected.kind);
    QCOMPARE(actual.failureMs, expected.failureMs);
    QCOMPARE(actual.buckets.size(), expected.buckets.size());
    for (qsizetype i = 0; i < actual.buckets.size(); ++i) {
      const HistoryBucket& a = actual.buckets[i];
      const HistoryBucket& e = expected.buckets[i];
      QCOMPARE(a.startMs, e.startMs);
      QCOMPARE(a.samples, e.samples);
      QCOMPARE(a.failures, e.failures);
      QCOMPARE(a.p10Us, e.p10Us);
      QCOMPARE(a.medianUs, e.medianUs);
      QCOMPARE(a.p90Us, e.p90Us);
      COMPARE_PHASES(a.phases, e.phases);
    }
  }

  void SpanRows() {
    QTest::addColumn<HistorySpan>("span");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<qint64>("run");
    const qint64 open = std::numeric_limits<qint64>::max();
    const qint64 none = std::numeric_limits<qint64>::min();
    HistorySpan closed;
    closed.from = Now.addDays(-10);
    closed.to = Now.addDays(-9);
    const struct {
      const char* name;
      HistorySpan span;
      qint64 from, to, run;
    } spans[] = {
        {"this run", HistorySpan::Of(HistorySpan::Preset::ThisRun, 2, Now), Run2Start - Minute, open, 2},
        {"an ended run", HistorySpan::Of(HistorySpan::Preset::ThisRun, 1, Now), Run1Start - Minute, Run1End + Minute,
         1},
        {"no run", HistorySpan::Of(HistorySpan::Preset::ThisRun, 0, Now), 0, 0, 0},
        {"last hour", HistorySpan::Of(HistorySpan::Preset::LastHour, 2, Now), NowMs - Hour, open, -1},
        {"24 hours", HistorySpan::Of(HistorySpan::Preset::Last24Hours, 2, Now), NowMs - Day, open, -1},
        {"7 days", HistorySpan::Of(HistorySpan::Preset::Last7Days, 2, Now), NowMs - 7 * Day, open, -1},
        {"30 days", HistorySpan::Of(HistorySpan::Preset::Last30Days, 2, Now), NowMs - 30 * Day, open, -1},
        {"all", HistorySpan::Of(HistorySpan::Preset::All, 2, Now), none, open, -1},
        {"a closed day", closed, NowMs - 10 * Day, NowMs - 9 * Day, -1},
    };
    for (const auto& row : spans)
      QTest::newRow(row.name) << row.span << row.from << row.to << row.run;
    // Spans that begin and end within hours, of a few hours to a few weeks; one within run 1.
    QRandomGenerator random(4711);
    for (int i = 0; i < 6; ++i) {
      const qint64 start = NowMs - 39 * Day + qint64(random.bounded(38.0 * double(Day)));
      const qint64 end = std::min(NowMs, start + Hour + qint64(random.bounded(double(i < 3 ? Day : 20 * Day))));
      HistorySpan span;
      span.from = QDateTime::fromMSecsSinceEpoch(start, Qt::UTC);
      span.to = QDateTime::fromMSecsSinceEpoch(end, Qt::UTC);
      QTest::newRow(qPrintable(QStringLiteral("random %1").arg(i))) << span << start << end << qint64(-1);
    }
    HistorySpan inRun;
    inRun.from = QDateTime::fromMSecsSinceEpoch(Run1Start + 3 * Hour + 1234, Qt::UTC);
    inRun.runId = 1;
    QTest::newRow("within run 1") << inRun << Run1Start + 3 * Hour + 1234 << Run1End + Minute << qint64(1);
  }

  // A random sample taken at `at`: a site or a reference ping, a success (with or without its
  // phases), a failure or a cancellation, now and then a fetch that was not its row's final one.
  HistorySample RandomSample(QRandomGenerator& random, qint64 at) const {
    const bool reference = random.bounded(10) == 0;
    const QString url = reference ? References[random.bounded(2)] : Sites[random.bounded(3)];
    HistorySample s = Sample(reference ? HistorySample::Kind::Ref : HistorySample::Kind::Site, url, at, -1);
    const int fate = random.bounded(100);
    if (fate < 3) {
      s.result = QStringLiteral("Cancelled");
    } else if (fate < 12) {
      s.result = QStringLiteral("Timed out");
    } else {
      s.pingUs = 100 * qint64(50 + random.bounded(3000)) + (random.bounded(40) == 0 ? 2000000 : 0);
      // An answer: mostly the marker (a warning mark on a slow one), now and then an error status
      // or a page instead of the marker.
      s.status = fate < 16 ? 404 : 200;
      s.result = fate >= 16 && fate < 20 ? QStringLiteral("Code")
                 : s.pingUs >= 1000000   ? QStringLiteral(" => 1")
                                         : QString();
      if (url.startsWith(QLatin1String("https")) && random.bounded(4) > 0)
        s.certNotAfterMs = NowMs + qint64(random.bounded(90)) * Day;
      if (random.bounded(10) > 0) {
        s.dnsUs = random.bounded(5000);
        s.connectUs = s.dnsUs + random.bounded(20000);
        s.tlsUs = url.startsWith(QLatin1String("https")) ? s.connectUs + random.bounded(30000) : 0;
        s.ttfbUs = std::max(s.connectUs, s.tlsUs) + random.bounded(int(s.pingUs / 2));
        if (s.ttfbUs > s.pingUs)
          s.ttfbUs = s.pingUs;
        if (random.bounded(8) == 0)
          s.ttfbUs = -1;
      }
    }
    if (!reference && at >= Run1Start && at < Run1End)
      s.runId = 1;
    if (!reference && at >= Run2Start)
      s.runId = 2;
    if (!reference && random.bounded(8) == 0) {
      s.attempt = 2;
      s.finalAttempt = false;
    }
    return s;
  }

  // Rows added in hours already sealed, rows changed (one moved to another hour) and removed,
  // behind the store's back.
  void ChangeLate(QRandomGenerator& random, int count) {
    HistoryFile file(path);
    for (int i = 0; i < count; ++i) {
      const qint64 at = NowMs - 40 * Day + qint64(random.bounded(40.0 * double(Day) - 2.0 * double(Hour)));
      samples.push_back(RandomSample(random, at));
      Insert(file, samples.back(), HistoryTime::Text(at));
    }
    const auto idOf = [&](size_t index) {
      return file.Value(QStringLiteral("SELECT id FROM samples ORDER BY id LIMIT 1 OFFSET ?"), {qint64(index)});
    };
    for (int i = 0; i < count / 4; ++i) {
      const size_t index = size_t(random.bounded(int(samples.size())));
      HistorySample& s = samples[index];
      s.pingUs = 100 * qint64(50 + random.bounded(3000));
      s.dnsUs = s.connectUs = s.tlsUs = s.ttfbUs = -1;
      s.result.clear();
      if (i == 0)
        s.at = s.at.addSecs(-7200 - random.bounded(3600));
      QVERIFY(file.Exec(QStringLiteral("UPDATE samples SET at_utc = ?, ping_us = ?, dns_us = NULL, connect_us = NULL, "
                                       "tls_us = NULL, ttfb_us = NULL, result = '' WHERE id = ?"),
                        {HistoryTime::Text(s.at), s.pingUs, idOf(index)}));
    }
    for (int i = 0; i < count / 8; ++i) {
      const size_t index = size_t(random.bounded(int(samples.size())));
      QVERIFY(file.Exec(QStringLiteral("DELETE FROM samples WHERE id = ?"), {idOf(index)}));
      samples.erase(samples.begin() + qsizetype(index));
    }
  }

private slots:
  // Random samples over 40 days, denser in the last two hours: three sites and two reference
  // addresses, failures and cancellations, ties of pings and of times, unknown phases, two runs,
  // and a few samples appended out of time order. The hours that are over are sealed; then rows
  // change behind them, the retention cuts the oldest days in the middle of an hour, the hours are
  // sealed again, and more rows change (whose hours are left to be read as rows).
  void initTestCase() {
    path = dir.filePath(QStringLiteral("history.sqlite"));
    QRandomGenerator random(20300115);
    std::vector<qint64> times;
    for (int i = 0; i < 6000; ++i)
      times.push_back(NowMs - 40 * Day + qint64(random.bounded(40.0 * double(Day))));
    for (int i = 0; i < 1500; ++i)
      times.push_back(NowMs - 2 * Hour + qint64(random.bounded(2.0 * double(Hour))));
    std::sort(times.begin(), times.end());
    for (int i = 0; i < 30; ++i) // the same moment twice
      times.insert(times.begin() + random.bounded(int(times.size())), times[random.bounded(int(times.size()))]);
    for (int i = 0; i < 20; ++i) // late arrivals
      times.push_back(NowMs - qint64(random.bounded(40.0 * double(Day))));

    for (const qint64 at : times)
      samples.push_back(RandomSample(random, at));
    Write(path, samples);
    HistoryFile file(path);
    QVERIFY(
        file.Exec(QStringLiteral("INSERT INTO runs(id, started_utc, ended_utc, samplers, delay_s, warn1_s, warn2_s) "
                                 "VALUES(1, ?, ?, 1, 60, 1, 20), (2, ?, NULL, 2, 30, 0.5, 10)"),
                  {HistoryTime::Text(Run1Start), HistoryTime::Text(Run1End), HistoryTime::Text(Run2Start)}));
    // A time in another form of ISO 8601, which a block cannot hold: its hour stays rows.
    samples.push_back(RandomSample(random, NowMs - 20 * Day + 30 * Minute));
    samples.back().kind = HistorySample::Kind::Site;
    samples.back().url = Sites[0];
    Insert(file, samples.back(), HistoryTime::Text(samples.back().at).remove(QStringLiteral(".000")));
    file.Close();

    SealAll(path, NowMs);
    ChangeLate(random, 40);
    const qint64 cutoff = NowMs - 38 * Day - 1234567;
    {
      HistoryConnection connection(path, HistoryConnection::Mode::ReadWrite);
      QVERIFY(connection.Open());
      QCOMPARE(HistoryBlocks::Cut(connection.Handle(), HistoryTime::Text(cutoff)), 0);
    }
    HistoryFile retention(path);
    QVERIFY(retention.Exec(QStringLiteral("DELETE FROM samples WHERE at_utc < ?"), {HistoryTime::Text(cutoff)}));
    retention.Close();
    std::erase_if(samples, [&](const HistorySample& s) { return s.at.toMSecsSinceEpoch() < cutoff; });
    SealAll(path, NowMs);
    ChangeLate(random, 40);

    HistoryFile check(path);
    QVERIFY(check.Value(QStringLiteral("SELECT count(*) FROM blocks")).toInt() > 500);
    QVERIFY(check.Value(QStringLiteral("SELECT count(*) FROM blocks_stale WHERE kept = 0")).toInt() > 10);
    QCOMPARE(check.Value(QStringLiteral("SELECT count(*) FROM blocks_stale WHERE kept = 1")).toInt(), 1);
    QCOMPARE(check.Value(QStringLiteral("SELECT from_hour FROM blocks_state")).toString(),
             HistoryBlocks::Key(HistoryStats::BucketStart(cutoff, Hour)));
  }

  void percentile_data() {
    QTest::addColumn<QList<qint64>>("values");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qint64>("expected");
    const QList<qint64> ten{10, 1, 9, 2, 8, 3, 7, 4, 6, 5};
    QTest::newRow("none") << QList<qint64>{} << 50 << qint64(-1);
    QTest::newRow("one value") << QList<qint64>{7} << 99 << qint64(7);
    QTest::newRow("p0 is the least") << ten << 0 << qint64(1);
    QTest::newRow("p10 of ten") << ten << 10 << qint64(1);
    QTest::newRow("p11 of ten") << ten << 11 << qint64(2);
    QTest::newRow("p50 of ten") << ten << 50 << qint64(5);
    QTest::newRow("p95 of ten") << ten << 95 << qint64(10);
    QTest::newRow("p100 is the greatest") << ten << 100 << qint64(10);
    QTest::newRow("p50 of two") << QList<qint64>{4, 2} << 50 << qint64(2);
    QTest::newRow("ties") << QList<qint64>{5, 5, 5, 1} << 30 << qint64(5);
  }

  // The nearest-rank method on small tables, then against its definition on random ones.
  void percentile() {
    QFETCH(QList<qint64>, values);
    QFETCH(int, percent);
    QFETCH(qint64, expected);
    std::vector<qint64> v(values.begin(), values.end());
    QCOMPARE(HistoryStats::Percentile(v, percent), expected);

    QRandomGenerator random(percent);
    for (int round = 0; round < 200; ++round) {
      std::vector<qint64> numbers(size_t(1 + random.bounded(300)));
      for (qint64& n : numbers)
        n = random.bounded(100);
      qint64 several[4];
      std::vector<qint64> copy = numbers;
      HistoryStats::Percentiles(copy, {percent / 2, percent, percent, 100}, several);
      QCOMPARE(several[0], NearestRank(numbers, percent / 2));
      QCOMPARE(several[1], NearestRank(numbers, percent));
      QCOMPARE(several[2], several[1]);
      QCOMPARE(several[3], NearestRank(numbers, 100));
    }
  }

  void rankInRuns_data() {
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("longest");
    QTest::addColumn<int>("wide");      // values in the 64-bit run
    QTest::addColumn<qint64>("spread"); // values drawn from [0, spread)
    QTest::newRow("one run") << 1 << 50 << 0 << qint64(1000);
    QTest::newRow("the 64-bit run alone") << 0 << 0 << 40 << qint64(1000);
    QTest::newRow("many short runs and ties") << 300 << 5 << 0 << qint64(20);
    QTest::newRow("runs and 64-bit values") << 40 << 60 << 30 << qint64(100000);
    QTest::newRow("one value everywhere") << 20 << 10 << 5 << qint64(1);
    QTest::newRow("the whole 32-bit range") << 30 << 30 << 10 << qint64(std::numeric_limits<quint32>::max()) + 1;
  }

  // Every rank among sorted runs (some empty) is the value of that rank in all of them sorted.
  void rankInRuns() {
    QFETCH(int, runs);
    QFETCH(int, longest);
    QFETCH(int, wide);
    QFETCH(qint64, spread);
    QRandomGenerator random(quint32(runs * 1000 + wide));
    const auto draw = [&] { return qint64(random.bounded(double(spread))); };
    std::vector<std::vector<quint32>> lists(static_cast<size_t>(runs));
    std::vector<qint64> all;
    for (std::vector<quint32>& list : lists) {
      list.resize(size_t(random.bounded(longest + 1)));
      for (quint32& value : list)
        all.push_back(value = quint32(draw()));
      std::sort(list.begin(), list.end());
    }
    std::vector<qint64> wideList(static_cast<size_t>(wide));
    for (qint64& value : wideList)
      all.push_back(value = draw());
    std::sort(wideList.begin(), wideList.end());
    std::sort(all.begin(), all.end());
    QVERIFY(!all.empty());
    for (size_t rank = 0; rank < all.size(); ++rank) {
      std::vector<std::span<const quint32>> spans(lists.begin(), lists.end());
      QCOMPARE(HistoryStats::RankInRuns(std::move(spans), wideList, rank), all[rank]);
    }
  }

  void summaryMatchesReference_data() { SpanRows(); }

  // Every span, read both ways and the way Auto picks, gives the reference's figures.
  void summaryMatchesReference() {
    QFETCH(HistorySpan, span);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(qint64, run);
    const QList<SiteSummary> expected = ReferenceSummary({from, to, run}, {});
    if (run != 0 && !QByteArray(QTest::currentDataTag()).startsWith("random"))
      QVERIFY(expected.size() == 5);
    HistoryQuery query(path);
    for (const HistoryQuery::Plan plan :
         {HistoryQuery::Plan::Scan, HistoryQuery::Plan::Index, HistoryQuery::Plan::Blocks, HistoryQuery::Plan::Auto}) {
      CompareSummaries(query.Summary(span, {}, plan), expected);
      if (QTest::currentTestFailed())
        qWarning("plan %d", int(plan));
      QVERIFY(!QTest::currentTestFailed());
      QCOMPARE(query.ErrorText(), QString());
    }
    // Chosen addresses: only their lines, the mark still from every reference.
    const QStringList chosen{Sites[1], References[0]};
    CompareSummaries(query.Summary(span, chosen), ReferenceSummary({from, to, run}, chosen));
    CompareSummaries(query.Summary(span, chosen, HistoryQuery::Plan::Scan), ReferenceSummary({from, to, run}, chosen));
  }

  void localNetworkMark_data() {
    QTest::addColumn<QList<int>>("slow");            // minutes of the site's slow samples
    QTest::addColumn<QList<int>>("referenceFailed"); // minutes of failed reference pings
    QTest::addColumn<QList<int>>("referenceSlow");   // of reference pings above the references' p95
    QTest::addColumn<QList<int>>("referenceUsual");  // of ordinary reference pings
    QTest::addColumn<bool>("references");            // 60 ordinary reference pings far away
    QTest::addColumn<qint64>("matched");
    QTest::addColumn<bool>("mark");
    const QList<int> five{10, 30, 50, 70, 90};
    QTest::newRow("all match") << five << five << QList<int>{} << QList<int>{} << true << qint64(5) << true;
    QTest::newRow("three of five, one a minute later")
        << five << QList<int>{10, 30, 51} << QList<int>{} << QList<int>{} << true << qint64(3) << true;
    QTest::newRow("three of five, one a minute earlier")
        << five << QList<int>{9, 30, 50} << QList<int>{} << QList<int>{} << true << qint64(3) << true;
    QTest::newRow("two of five") << five << QList<int>{10, 30} << QList<int>{} << QList<int>{} << true << qint64(2)
                                 << false;
    QTest::newRow("two minutes away") << five << QList<int>{12, 32, 52, 68, 88} << QList<int>{} << QList<int>{} << true
                                      << qint64(0) << false;
    QTest::newRow("slow reference pings")
        << five << QList<int>{10} << QList<int>{69, 90} << QList<int>{} << true << qint64(3) << true;
    QTest::newRow("ordinary reference pings")
        << five << QList<int>{} << QList<int>{} << five << true << qint64(0) << false;
    QTest::newRow("too few slow samples")
        << QList<int>{10, 30} << QList<int>{10, 30} << QList<int>{} << QList<int>{} << true << qint64(2) << false;
    QTest::newRow("no reference pings") << five << QList<int>{} << QList<int>{} << QList<int>{} << false << qint64(0)
                                        << false;
  }

  // A site of 100 samples, one a minute, slow in the given minutes (the slow samples are the
  // last second of their minute, the reference pings the first of theirs).
  void localNetworkMark() {
    QFETCH(QList<int>, slow);
    QFETCH(QList<int>, referenceFailed);
    QFETCH(QList<int>, referenceSlow);
    QFETCH(QList<int>, referenceUsual);
    QFETCH(bool, references);
    QFETCH(qint64, matched);
    QFETCH(bool, mark);
    const qint64 base = NowMs - 5 * Hour;
    std::vector<HistorySample> fixture;
    for (int minute = 0; minute < 100; ++minute)
      fixture.push_back(Sample(HistorySample::Kind::Site, Sites[0], base + minute * Minute + 59900,
                               slow.contains(minute) ? 900000 : 100000));
    const auto reference = [&](int minute, qint64 ping, const QString& result = QString()) {
      fixture.push_back(Sample(HistorySample::Kind::Ref, References[0], base + minute * Minute + 100, ping, result));
    };
    for (int i = 0; references && i < 60; ++i)
      reference(200 + i, 20000);
    for (const int minute : referenceFailed)
      reference(minute, -1, QStringLiteral("Timed out"));
    for (const int minute : referenceSlow)
      reference(minute, 500000);
    for (const int minute : referenceUsual)
      reference(minute, 20000);
    const QString file = dir.filePath(QStringLiteral("mark-%1.sqlite").arg(QTest::currentDataTag()));
    Write(file, fixture);

    HistoryQuery query(file);
    const QList<SiteSummary> lines = query.Summary(HistorySpan::Of(HistorySpan::Preset::All, 0), {Sites[0]});
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines[0].p95Us, qint64(100000));
    QCOMPARE(lines[0].slowSamples, qint64(slow.size()));
    QCOMPARE(lines[0].slowMatched, matched);
    QCOMPARE(lines[0].localNetwork, mark);
  }

  void bucketWidth_data() {
    QTest::addColumn<qint64>("span");
    QTest::addColumn<qint64>("width");
    QTest::newRow("90 seconds") << 90 * 1000LL << 1000LL;
    QTest::newRow("an hour") << Hour << 10 * 1000LL;
    QTest::newRow("a day") << Day << 3 * Minute;
    QTest::newRow("a week") << 7 * Day << 20 * Minute;
    QTest::newRow("30 days") << 30 * Day << 2 * Hour;
    QTest::newRow("a year") << 365 * Day << Day;
    QTest::newRow("a century") << 36525 * Day << 90 * Day;
  }

  void bucketWidth() {
    QFETCH(qint64, span);
    QFETCH(qint64, width);
    QCOMPARE(HistoryStats::BucketMs(span), width);
    const qint64 buckets = (span + width - 1) / width;
    QVERIFY(buckets <= HistoryStats::MaxBuckets);
    if (span > 5 * Minute)
      QVERIFY2(buckets >= 250, qPrintable(QString::number(buckets)));
  }

  void chartMatchesReference_data() { SpanRows(); }

  // Buckets, failure marks and references as the plain computation has them; the time axis from
  // the span, its open ends from the samples and `now`.
  void chartMatchesReference() {
    QFETCH(HistorySpan, span);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(qint64, run);
    const QStringList chosen{Sites[1], Sites[0]};
    HistoryQuery query(path);
    const HistoryChart chart = query.Chart(span, chosen, Now);
    QCOMPARE(query.ErrorText(), QString());

    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = std::numeric_limits<qint64>::min();
    for (const HistorySample& s : samples)
      if (s.kind == HistorySample::Kind::Ref || chosen.contains(s.url)) {
        first = std::min(first, s.at.toMSecsSinceEpoch());
        last = std::max(last, s.at.toMSecsSinceEpoch());
      }
    const qint64 axisFrom = from == std::numeric_limits<qint64>::min() ? first : from;
    const qint64 axisTo = to == std::numeric_limits<qint64>::max() ? std::max(NowMs, last + 1) : to;
    if (run != 0) {
      QCOMPARE(chart.fromMs, axisFrom);
      QCOMPARE(chart.toMs, axisTo);
    }
    QCOMPARE(chart.bucketMs, HistoryStats::BucketMs(chart.toMs - chart.fromMs));

    QCOMPARE(chart.sites.size(), 2);
    for (qsizetype i = 0; i < chosen.size(); ++i) {
      CompareSeries(chart.sites[i],
                    ReferenceSeries({from, to, run}, HistorySample::Kind::Site, chosen[i], chart.bucketMs));
      QVERIFY(!QTest::currentTestFailed());
      QVERIFY(chart.sites[i].buckets.size() <= HistoryStats::MaxBuckets + 1);
    }
    QStringList referenceUrls;
    for (const HistorySeries& series : chart.references) {
      referenceUrls << series.url;
      CompareSeries(series, ReferenceSeries({from, to, run}, HistorySample::Kind::Ref, series.url, chart.bucketMs));
      QVERIFY(!QTest::currentTestFailed());
    }
    QStringList expectedReferences;
    for (const size_t i : InRange({from, to, run}))
      if (samples[i].kind == HistorySample::Kind::Ref && !expectedReferences.contains(samples[i].url))
        expectedReferences << samples[i].url;
    std::sort(expectedReferences.begin(), expectedReferences.end());
    QCOMPARE(referenceUrls, expectedReferences);
  }

  // A chart's rows come through the indexes on (url, at_utc) and of the reference pings, with no
  // sort of their own: a pass over the table or a sorted copy would grow with the whole file.
  void chartRowsComeThroughIndexes() {
    HistoryConnection connection(path, HistoryConnection::Mode::ReadOnly);
    QVERIFY(connection.Open());
    const QStringList statements = HistoryQuery::ChartRowStatements();
    QCOMPARE(statements.size(), 2);
    const char* indexes[] = {"USING INDEX samples_url_at (url=? AND at_utc>? AND at_utc<?)",
                             "USING INDEX samples_ref_at (at_utc>? AND at_utc<?)"};
    for (qsizetype i = 0; i < statements.size(); ++i) {
      SqliteStatement explain(connection.Handle(), QStringLiteral("EXPLAIN QUERY PLAN ") + statements[i]);
      QVERIFY2(explain.Ok(), qPrintable(explain.ErrorText()));
      QStringList plan;
      while (explain.Step())
        plan << explain.String(3);
      QCOMPARE(plan.size(), 1);
      QVERIFY2(plan[0].startsWith(QLatin1String("SEARCH samples ")) && plan[0].endsWith(QLatin1String(indexes[i])),
               qPrintable(plan[0]));
    }
  }

  // The nearest sample of an address at random moments: of two equally near, the earlier; of
  // samples at one moment, the last appended.
  void nearestSample() {
    HistoryQuery query(path);
    QRandomGenerator random(7);
    std::vector<qint64> probes{NowMs - 41 * Day, NowMs + Day};
    for (int i = 0; i < 300; ++i)
      probes.push_back(NowMs - qint64(random.bounded(40.0 * double(Day))));
    for (size_t i = 0; i < samples.size(); i += 97) // exactly on samples
      probes.push_back(samples[i].at.toMSecsSinceEpoch());
    for (const qint64 probe : probes) {
      const HistorySample* best = nullptr;
      qint64 distance = std::numeric_limits<qint64>::max();
      for (const HistorySample& s : samples) {
        if (s.url != Sites[2] || s.kind != HistorySample::Kind::Site)
          continue;
        const qint64 at = s.at.toMSecsSinceEpoch();
        const qint64 d = std::abs(at - probe);
        if (d < distance || (d == distance && at <= best->at.toMSecsSinceEpoch())) {
          best = &s;
          distance = d;
        }
      }
      const std::optional<HistorySample> found =
          query.Nearest(Sites[2], HistorySample::Kind::Site, QDateTime::fromMSecsSinceEpoch(probe, Qt::UTC));
      QVERIFY(found && best);
      QCOMPARE(found->at, best->at);
      QCOMPARE(found->pingUs, best->pingUs);
      QCOMPARE(found->ttfbUs, best->ttfbUs);
      QCOMPARE(found->result, best->result);
      QCOMPARE(found->runId, best->runId);
    }
    QVERIFY(!query.Nearest(QStringLiteral("http://nowhere.test"), HistorySample::Kind::Site, Now));
    QVERIFY(!query.Nearest(Sites[0], HistorySample::Kind::Ref, Now));
  }

  void runs() {
    HistoryQuery query(path);
    const std::optional<HistoryRun> run = query.Run(2);
    QVERIFY(run);
    QCOMPARE(run->started.toMSecsSinceEpoch(), Run2Start);
    QVERIFY(!run->ended.isValid());
    QCOMPARE(run->samplers, 2);
    QCOMPARE(run->delaySeconds, 30.0);
    QCOMPARE(run->warning1Seconds, 0.5);
    QCOMPARE(run->warning2Seconds, 10.0);
    QCOMPARE(query.Run(1)->ended.toMSecsSinceEpoch(), Run1End);
    QVERIFY(!query.Run(3));
  }

  // A file that is missing or damaged gives nothing and one line, and is neither made nor changed.
  void unreadableFile() {
    const QString missing = dir.filePath(QStringLiteral("missing.sqlite"));
    HistoryQuery query(missing);
    QVERIFY(!query.IsOpen());
    QCOMPARE(query.ErrorText(), QStringLiteral("Cannot read the history %1: no such file").arg(missing));
    QVERIFY(query.Summary(HistorySpan()).isEmpty());
    const HistoryChart chart = query.Chart(HistorySpan(), {Sites[0]});
    QCOMPARE(chart.sites.size(), 1);
    QVERIFY(chart.sites[0].buckets.isEmpty());
    QVERIFY(!QFileInfo::exists(missing));

    const QString garbage = dir.filePath(QStringLiteral("garbage.sqlite"));
    QFile file(garbage);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(8192, 'x'));
    file.close();
    HistoryQuery damaged(garbage);
    QVERIFY(damaged.Summary(HistorySpan()).isEmpty());
    QCOMPARE(damaged.ErrorText(), QStringLiteral("Cannot read the history %1: it is damaged").arg(garbage));
    QCOMPARE(QFileInfo(garbage).size(), 8192);
  }

  // A sealed hour gives back what was packed; one whose pings are no longer in order is refused,
  // since percentiles are counted in it as a sorted run.
  void packedHour() {
    const qint64 hour = HistoryStats::BucketStart(NowMs, Hour);
    HistoryAggregate packed;
    for (const qint64 ping : {300, 100, 200}) {
      HistoryRow row;
      row.ok = true;
      row.id = ping;
      row.atMs = hour + ping * 1000;
      row.pingUs = ping;
      packed.Add(row);
    }
    QByteArray data;
    QVERIFY(packed.Pack(hour, &data));
    HistoryAggregate unpacked;
    QVERIFY(unpacked.Unpack(data, hour));
    const SiteSummary line = unpacked.Summarize(HistorySample::Kind::Site, Sites[0], nullptr);
    QCOMPARE(line.samples, 3);
    QCOMPARE(line.p50Us, 200);
    QCOMPARE(line.maxUs, 300);
    QCOMPARE(line.meanUs, 200.0);
    QCOMPARE(line.stddevUs, std::sqrt(20000.0 / 3));
    QCOMPARE(line.lastUs, 300);

    // The tail holds the three pings (4 bytes each), then a minute for each: swap the first two.
    const qsizetype pings = data.size() - 3 * 5;
    const QByteArray first = data.mid(pings, 4);
    data.replace(pings, 4, data.mid(pings + 4, 4));
    data.replace(pings + 4, 4, first);
    HistoryAggregate damaged;
    QVERIFY(!damaged.Unpack(data, hour));
    QCOMPARE(damaged.samples, 0);
  }

  // A large file with many samples at one moment gives the same figures read in one pass, address
  // by address (which the reference checks above) and from its sealed hours.
  void largeFileReadEveryWay() {
    const QString large = dir.filePath(QStringLiteral("large.sqlite"));
    {
      HistoryStore layout;
      QVERIFY(layout.Open(large));
    }
    HistoryFile file(large);
    // Ids and times in step but for one address whose samples all have one time (its last sample
    // is then the last appended, in the last part); pings and failures spread by multiplicative
    // hashing.
    QVERIFY2(
        file.Exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 249999) "
            "INSERT INTO samples(at_utc, kind, url, run_id, ping_us, dns_us, connect_us, tls_us, ttfb_us, result, "
            "status, cert_not_after_utc) "
            "SELECT strftime('%Y-%m-%dT%H:%M:%fZ', CASE WHEN i % 5 = 4 THEN 1893801600 ELSE 1893456000 + (i / 3) * 7 "
            "END, 'unixepoch'), "
            "CASE WHEN i % 17 = 0 THEN 'ref' ELSE 'site' END, 'http://s' || (i % 5) || '.test', 1 + i % 2, "
            "CASE WHEN (i * 2654435761) % 100 < 3 THEN NULL ELSE 1000 + (i * 40503) % 90000 END, "
            "i % 700, 800 + i % 900, 0, 2000 + i % 3000, CASE WHEN i % 301 = 0 THEN 'Cancelled' WHEN i % 11 = 0 "
            "THEN 'Code' ELSE '' END, CASE WHEN i % 13 = 0 THEN 500 ELSE 200 END, CASE WHEN i % 7 < 3 THEN "
            "strftime('%Y-%m-%dT%H:%M:%fZ', 1900000000 + i, 'unixepoch') END "
            "FROM n")),
        qPrintable(file.Error().text()));
    QVERIFY(file.Exec(QStringLiteral("INSERT INTO runs(id, started_utc) VALUES(2, '2030-01-01T00:00:00.000Z')")));
    SealAll(large, QDateTime(QDate(2030, 1, 10), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch());
    HistoryQuery query(large);
    HistorySpan run;
    run.runId = 2;
    HistorySpan late;
    late.from = QDateTime(QDate(2030, 1, 2), QTime(0, 0), Qt::UTC);
    for (const HistorySpan& span : {HistorySpan(), run, late}) {
      const QList<SiteSummary> scanned = query.Summary(span, {}, HistoryQuery::Plan::Scan);
      QCOMPARE(scanned.size(), 10);
      CompareSummaries(scanned, query.Summary(span, {}, HistoryQuery::Plan::Index));
      CompareSummaries(scanned, query.Summary(span, {}, HistoryQuery::Plan::Blocks));
      QVERIFY(!QTest::currentTestFailed());
    }
  }
};

TARVIK_TEST_MAIN(QCoreApplication, HistoryQueryTest)
#include "tst_historyquery.moc"
