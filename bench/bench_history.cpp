// Figures of the history file at one million samples over 30 days of 20 sites (one of them with
// 100k samples, one more site with 1k) and two reference addresses: building the sealed hours and
// what they add to the file, the summary of every span (the Sites window's figures) and the chart
// of one site, each beside the floor (the same figures from every sample already in memory), the
// cost of Append() on the caller's thread (flat out, at a steady pace, and while the retention
// deletes a third of the file) and of the writer, opening, the integrity check, export.
//
// Run a Release build: bench_history [folder]   (the file is made in a temporary folder otherwise)
//   bench_history folder --week   a week at one sample a second for 20 sites instead (12M samples,
//                                 about 2 GB): building its sealed hours, the 7-day figures

#include "benchhistoryfile.h"
#include "history/historyaggregate.h"
#include "history/historyblocks.h"
#include "history/historyconnection.h"
#include "history/historyexport.h"
#include "history/historyquery.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "history/sqlitestatement.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <vector>

namespace {

constexpr int Repeats = 5;

double Ms(qint64 ns) {
  return double(ns) / 1e6;
}

// Processor time of this process (every thread), in nanoseconds.
qint64 CpuNs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Runs `work` Repeats + 1 times; prints the first run and the median of the others, in elapsed
// time and in processor time (of every thread: on a busy machine the elapsed time says more about
// the other programs).
void Time(const char* what, const std::function<void()>& work) {
  std::vector<qint64> runs;
  std::vector<qint64> cpu;
  for (int i = 0; i <= Repeats; ++i) {
    QElapsedTimer timer;
    const qint64 cpuBefore = CpuNs();
    timer.start();
    work();
    runs.push_back(timer.nsecsElapsed());
    cpu.push_back(CpuNs() - cpuBefore);
  }
  const qint64 first = runs.front();
  std::vector<qint64> rest(runs.begin() + 1, runs.end());
  std::sort(rest.begin(), rest.end());
  std::sort(cpu.begin() + 1, cpu.end());
  std::printf("  %-44s first %7.1f ms, median of %d %7.1f ms (processor %7.1f ms)\n", what, Ms(first), Repeats,
              Ms(rest[rest.size() / 2]), Ms(cpu[1 + Repeats / 2]));
}

void PrintLatencies(const char* what, std::vector<qint64> ns) {
  std::sort(ns.begin(), ns.end());
  const auto at = [&](double q) { return double(ns[size_t(q * double(ns.size() - 1))]) / 1000.0; };
  std::printf("  %-52s median %.2f us, p99 %.2f us, max %.1f us (%zu calls)\n", what, at(0.5), at(0.99), at(1.0),
              ns.size());
}

HistorySample Sample(int i) {
  HistorySample sample;
  sample.at = QDateTime::currentDateTimeUtc();
  sample.url = QStringLiteral("https://site%1.example").arg(i % 20 + 1, 2, 10, QLatin1Char('0'));
  sample.runId = 1;
  sample.siteId = i % 20 + 1;
  sample.packet = i / 20;
  sample.pingUs = 100000 + i % 1000;
  sample.dnsUs = 1000;
  sample.connectUs = 5000;
  sample.tlsUs = 15000;
  sample.ttfbUs = 90000;
  sample.status = 200;
  sample.remoteIp = QStringLiteral("192.0.2.1");
  sample.httpVersion = QStringLiteral("2");
  sample.bytes = 4;
  return sample;
}

// Append() on this thread: `count` calls, `pauseUs` apart.
std::vector<qint64> Appends(HistoryStore& store, int count, int pauseUs) {
  std::vector<qint64> ns;
  ns.reserve(size_t(count));
  std::vector<HistorySample> samples;
  for (int i = 0; i < count; ++i)
    samples.push_back(Sample(i));
  QElapsedTimer timer;
  for (const HistorySample& sample : samples) {
    timer.start();
    store.Append(sample);
    ns.push_back(timer.nsecsElapsed());
    if (pauseUs > 0)
      QThread::usleep(unsigned(pauseUs));
  }
  return ns;
}

// Every sample of the file in per-address arrays in time order: the figures computed from there
// are the floor that no reading of the file can beat.
class Floor {
public:
  explicit Floor(const QString& path) {
    HistoryConnection connection(path, HistoryConnection::Mode::ReadOnly);
    connection.Open();
    SqliteStatement rows(connection.Handle(),
                         QStringLiteral("SELECT %1 FROM samples").arg(HistoryAggregate::RowColumns()));
    while (rows.Step()) {
      const HistoryRow row = HistoryAggregate::Read(rows);
      if (row.ok)
        byAddress[{row.ref, rows.String(HistoryAggregate::UrlColumn)}].push_back(row);
    }
    for (auto& [address, all] : byAddress)
      std::sort(all.begin(), all.end(), [](const HistoryRow& a, const HistoryRow& b) { return a.atMs < b.atMs; });
  }

  // The summary of [fromMs, now]: every address, every figure and the local-network mark.
  qsizetype Summary(qint64 fromMs) const {
    std::vector<std::pair<const std::pair<bool, QString>*, HistoryAggregate>> groups;
    for (const auto& [address, all] : byAddress) {
      HistoryAggregate figures;
      for (auto row = First(all, fromMs); row != all.end(); ++row)
        figures.Add(*row);
      groups.emplace_back(&address, std::move(figures));
    }
    std::vector<qint64> minutes;
    for (const auto& [address, figures] : groups)
      if (address->first)
        figures.AddReferenceMinutes(&minutes);
    std::sort(minutes.begin(), minutes.end());
    minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
    QList<SiteSummary> lines;
    for (const auto& [address, figures] : groups)
      lines << figures.Summarize(address->first ? HistorySample::Kind::Ref : HistorySample::Kind::Site, address->second,
                                 address->first ? nullptr : &minutes);
    return lines.size();
  }

  // The buckets of one site's chart of [fromMs, now].
  qsizetype Chart(const QString& url, qint64 fromMs, qint64 bucketMs) const {
    std::map<qint64, HistoryAggregate> buckets;
    const std::vector<HistoryRow>& all = byAddress.at({false, url});
    for (auto row = First(all, fromMs); row != all.end(); ++row)
      buckets[HistoryStats::BucketStart(row->atMs, bucketMs)].Add(*row);
    QList<HistoryBucket> made;
    for (const auto& [start, figures] : buckets)
      made << figures.Bucket(start);
    return made.size();
  }

private:
  static std::vector<HistoryRow>::const_iterator First(const std::vector<HistoryRow>& all, qint64 fromMs) {
    return std::lower_bound(all.begin(), all.end(), fromMs,
                            [](const HistoryRow& row, qint64 ms) { return row.atMs < ms; });
  }

  std::map<std::pair<bool, QString>, std::vector<HistoryRow>> byAddress;
};

// The figures of a summary as texts, to compare two ways of reading: the mean and the standard
// deviation to 12 digits (sums of doubles in another order differ in their last bits, between the
// rows' own plans as well).
QStringList Figures(const QList<SiteSummary>& lines) {
  QStringList texts;
  for (const SiteSummary& l : lines)
    texts << QStringLiteral("%1 %2/%3/%4 %5 %6 %7 %8 %9 %10 %11 %12 %13 %14")
                 .arg(l.url)
                 .arg(l.samples)
                 .arg(l.failures)
                 .arg(l.cancelled)
                 .arg(l.minUs)
                 .arg(l.p50Us)
                 .arg(l.p95Us)
                 .arg(l.p99Us)
                 .arg(l.maxUs)
                 .arg(l.meanUs, 0, 'g', 12)
                 .arg(l.stddevUs, 0, 'g', 12)
                 .arg(HistoryTime::Text(l.lastAt))
                 .arg(l.lastUs)
                 .arg(l.slowMatched);
  return texts;
}

// Builds every sealed hour of the file as the writer does after opening a file of the previous
// layout, and prints what it cost and what it added to the file.
void Seal(const QString& path, const QDateTime& now, qint64 samples) {
  const double before = double(QFileInfo(path).size()) / 1e6;
  HistoryConnection connection(path, HistoryConnection::Mode::ReadWrite);
  connection.Open();
  int steps = 0;
  int code = 0;
  const qint64 cpuBefore = CpuNs();
  QElapsedTimer timer;
  timer.start();
  while (HistoryBlocks::Seal(connection.Handle(), now.toMSecsSinceEpoch(), &code) == HistoryBlocks::Step::More)
    ++steps;
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  const double cpu = double(CpuNs() - cpuBefore) / 1e9;
  QSqlQuery(connection.Database()).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
  const double after = double(QFileInfo(path).size()) / 1e6;
  std::printf(
      "sealed hours built in %.2f s (processor %.2f s, %d steps, code %d): %.2f us a sample; file %.1f MB "
      "-> %.1f MB (+%.1f %%)\n",
      seconds, cpu, steps + 1, code, cpu * 1e6 / double(samples), before, after, 100 * (after - before) / before);
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir temporary;
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
  const QString path = folder + QStringLiteral("/history.sqlite");
  const QDateTime now = QDateTime::currentDateTimeUtc();
  QFile::remove(path);

  QElapsedTimer timer;
  timer.start();
  if (argc > 2 && QByteArray(argv[2]) == "--week") {
    if (!BenchHistoryFile::MakeWeek(path, now.toMSecsSinceEpoch()))
      return 1;
    std::printf(
        "history file: 12,116,160 samples (20 sites at one a second for 7 days; 2 references), %.0f MB, "
        "made in %.1f s\n",
        double(QFileInfo(path).size()) / 1e6, double(timer.elapsed()) / 1000);
    Seal(path, now, 12116160);
    for (const HistoryQuery::Plan plan : {HistoryQuery::Plan::Auto, HistoryQuery::Plan::Index}) {
      int lines = 0;
      Time(plan == HistoryQuery::Plan::Auto ? "7 days: sealed hours and rows (Auto)" : "7 days: the rows (Index)", [&] {
        HistoryQuery query(path);
        lines = int(query.Summary(HistorySpan::Of(HistorySpan::Preset::Last7Days, 1, now), {}, plan).size());
      });
      std::printf("  (%d lines)\n", lines);
    }
    return 0;
  }
  if (!BenchHistoryFile::Make(path, now.toMSecsSinceEpoch())) {
    std::fprintf(stderr, "could not make the file\n");
    return 1;
  }
  std::printf(
      "history file: 1,009,640 samples (20 sites over 30 days, site01 100k; site21 1k; 2 references), "
      "%.0f MB, made in %.1f s\n",
      double(QFileInfo(path).size()) / 1e6, double(timer.elapsed()) / 1000);

  Seal(path, now, 1009640);
  const Floor floor(path);

  std::printf("summaries (every address, every figure and the local-network mark), beside the floor:\n");
  int lines = 0;
  const auto summary = [&](HistorySpan::Preset preset, HistoryQuery::Plan plan = HistoryQuery::Plan::Auto) {
    return [&, preset, plan] {
      HistoryQuery query(path);
      lines = int(query.Summary(HistorySpan::Of(preset, 1, now), {}, plan).size());
    };
  };
  const auto floorOf = [&](HistorySpan::Preset preset) {
    return [&, preset] {
      const HistorySpan span = HistorySpan::Of(preset, 1, now);
      lines =
          int(floor.Summary(span.from.isValid() ? span.from.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min()));
    };
  };
  const struct {
    const char* name;
    HistorySpan::Preset preset;
  } spans[] = {{"30 days", HistorySpan::Preset::Last30Days},
               {"7 days", HistorySpan::Preset::Last7Days},
               {"24 hours", HistorySpan::Preset::Last24Hours},
               {"last hour", HistorySpan::Preset::LastHour},
               {"this run (all of it: run 1)", HistorySpan::Preset::ThisRun}};
  for (const auto& span : spans) {
    HistoryQuery query(path);
    const HistorySpan of = HistorySpan::Of(span.preset, 1, now);
    const bool same = Figures(query.Summary(of, {}, HistoryQuery::Plan::Blocks)) ==
                      Figures(query.Summary(of, {}, HistoryQuery::Plan::Index));
    std::printf(" %s (%s figures as the rows'):\n", span.name, same ? "the same" : "NOT THE SAME");
    Time("sealed hours and rows (Auto)", summary(span.preset));
    Time("the rows through the index", summary(span.preset, HistoryQuery::Plan::Index));
    if (span.preset == HistorySpan::Preset::Last30Days)
      Time("a pass over the table", summary(span.preset, HistoryQuery::Plan::Scan));
    Time("floor: every sample in memory", floorOf(span.preset));
  }
  std::printf("  (%d lines)\n", lines);

  std::printf("charts (30 days), beside the floor:\n");
  int buckets = 0;
  const auto chart = [&](const QString& url) {
    return [&, url] {
      HistoryQuery query(path);
      buckets = int(query.Chart(HistorySpan::Of(HistorySpan::Preset::Last30Days, 1, now), {url}, now)
                        .sites.first()
                        .buckets.size());
    };
  };
  const qint64 chartFrom = now.addDays(-30).toMSecsSinceEpoch();
  Time("site01, 100k samples", chart(QStringLiteral("https://site01.example")));
  std::printf("  (%d buckets)\n", buckets);
  Time("floor: site01 in memory", [&] {
    buckets = int(floor.Chart(QStringLiteral("https://site01.example"), chartFrom,
                              HistoryStats::BucketMs(now.toMSecsSinceEpoch() - chartFrom)));
  });
  Time("site02, 47k samples", chart(QStringLiteral("https://site02.example")));
  Time("site21, 1k samples", chart(QStringLiteral("https://site21.example")));

  std::printf("the store on this file:\n");
  {
    HistoryStore store;
    store.SetRetentionDays(0);
    timer.start();
    if (!store.Open(path))
      return 1;
    std::printf("  %-52s %8.1f ms\n", "Open()", double(timer.nsecsElapsed()) / 1e6);
    PrintLatencies("Append(), flat out", Appends(store, 100000, 0));
    timer.start();
    store.Flush();
    std::printf("  %-52s %8.1f ms (%.1f us a sample on the writer's thread)\n", "Flush() after them",
                double(timer.nsecsElapsed()) / 1e6, double(timer.nsecsElapsed()) / 1e3 / 100000);
    PrintLatencies("Append(), one every 200 us", Appends(store, 10000, 200));
    store.Flush();
  }
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-check"));
    db.setDatabaseName(path);
    db.open();
    timer.start();
    QSqlQuery check(db);
    check.exec(QStringLiteral("PRAGMA quick_check(1)"));
    check.next();
    std::printf("  %-52s %8.1f ms (%s)\n", "integrity check after opening (its own thread)",
                double(timer.nsecsElapsed()) / 1e6, qPrintable(check.value(0).toString()));
    check.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("bench-check"));
  {
    // The retention at 20 days deletes a third of the file while samples keep coming.
    HistoryStore store;
    store.SetRetentionDays(20);
    timer.start();
    if (!store.Open(path))
      return 1;
    const QString cutoff = HistoryTime::Text(now.addDays(-20));
    std::vector<qint64> ns;
    int i = 0;
    for (;;) {
      const std::vector<qint64> some = Appends(store, 100, 1000);
      ns.insert(ns.end(), some.begin(), some.end());
      i += 100;
      HistoryQuery query(path);
      const std::optional<HistorySample> oldest =
          query.Nearest(QStringLiteral("https://site02.example"), HistorySample::Kind::Site, now.addDays(-40));
      if (oldest && HistoryTime::Text(oldest->at) >= cutoff)
        break;
    }
    std::printf("  %-52s %8.1f s\n", "retention: 30 to 20 days (~336k samples) deleted in",
                double(timer.elapsed()) / 1000);
    PrintLatencies("Append(), one every ms meanwhile", ns);
  }

  std::printf("export of every sample:\n");
  for (const char* name : {"all.csv", "all.jsonl"}) {
    QString line;
    timer.start();
    const int code =
        HistoryExport::Run(path, folder + QLatin1Char('/') + QLatin1String(name), QString(), QString(), {}, &line);
    std::printf("  %-52s %8.1f ms, %.0f MB (%s)\n", name, double(timer.nsecsElapsed()) / 1e6,
                double(QFileInfo(folder + QLatin1Char('/') + QLatin1String(name)).size()) / 1e6,
                code == 0 ? "written" : qPrintable(line));
  }
  return 0;
}
