#include "history/historyquery.h"

#include "history/historyaggregate.h"
#include "history/historyblocks.h"
#include "history/historyproblem.h"
#include "history/historyschema.h"
#include "history/historystats.h"
#include "history/historytime.h"
#include "history/sqlitestatement.h"

#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sqlite3.h>

// The span as bounds on the stored time texts: from <= at_utc < to.
struct HistoryBounds {
  QString from;      // "" when open
  QString to;        // "~" (after every time text) when open
  qint64 fromMs = 0; // when !openFrom
  qint64 toMs = 0;   // when !openTo
  bool openFrom = true;
  bool openTo = true;
  qint64 runId = -1;  // -1: any
  bool empty = false; // nothing can match (an unknown run, an empty range)
};

namespace {

constexpr qint64 Minute = 60000;

// The conditions of a span, for a WHERE clause that has others before them; its values are bound
// by BindSpan() as ?1 (from), ?2 (to) and ?3 (run). Only what limits anything is asked, so that a
// pass over every row compares nothing it need not. Reference pings belong to a span by their time.
QString SpanTerms(const HistoryBounds& bounds, bool withRun = true) {
  QString terms;
  if (!bounds.openFrom)
    terms += QStringLiteral(" AND at_utc >= ?1");
  if (!bounds.openTo)
    terms += QStringLiteral(" AND at_utc < ?2");
  if (withRun && bounds.runId >= 0)
    terms += QStringLiteral(" AND (kind = 'ref' OR run_id = ?3)");
  return terms;
}

void BindSpan(SqliteStatement& statement, const HistoryBounds& bounds) {
  statement.Bind(1, bounds.from);
  statement.Bind(2, bounds.to);
  statement.Bind(3, bounds.runId);
}

QDateTime Utc(qint64 ms) {
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

// ---- Summary --------------------------------------------------------------------------------

// What the summary gathers of one address.
struct Group {
  bool ref = false;
  QString url;
  std::string key; // the address's UTF-8 bytes
  HistoryAggregate figures;
};

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

class Groups {
public:
  // Adds a row of HistoryAggregate::RowColumns().
  void Add(const SqliteStatement& statement) {
    const HistoryRow row = HistoryAggregate::Read(statement);
    if (row.ok)
      Of(row.ref, statement.Text(HistoryAggregate::UrlColumn)).Add(row);
  }

  // What is gathered of an address.
  HistoryAggregate& Of(bool ref, QByteArrayView url) {
    auto& index = ref ? referencesByUrl : sitesByUrl;
    const std::string_view key(url.data(), size_t(url.size()));
    const auto found = index.find(key);
    if (found != index.end())
      return groups[found->second].figures;
    index.emplace(std::string(key), groups.size());
    Group& group = groups.emplace_back();
    group.ref = ref;
    group.url = QString::fromUtf8(url.data(), url.size());
    group.key = std::string(key);
    return group.figures;
  }

  std::vector<Group>& All() { return groups; }

private:
  std::vector<Group> groups;
  using Index = std::unordered_map<std::string, size_t, TextHash, std::equal_to<>>;
  Index sitesByUrl;
  Index referencesByUrl;
};

// A pass over the whole table (where the sealed hours hold none of the span: a file not built yet).
// The SQLite result code.
int Scan(sqlite3* db, const HistoryBounds& bounds, Groups* groups) {
  SqliteStatement scan(db, QStringLiteral("SELECT %1 FROM samples NOT INDEXED WHERE 1%2")
                               .arg(HistoryAggregate::RowColumns(), SpanTerms(bounds)));
  BindSpan(scan, bounds);
  while (scan.Step())
    groups->Add(scan);
  return scan.ErrorCode();
}

// Auto's choice for every address: Index when the span covers under a quarter of the file's time
// (from its first sample to its last, by id), Scan otherwise.
HistoryQuery::Plan PlanFor(sqlite3* db, const HistoryBounds& bounds) {
  if (bounds.openFrom && bounds.openTo)
    return HistoryQuery::Plan::Scan;
  SqliteStatement extent(db, QStringLiteral("SELECT (SELECT at_utc FROM samples ORDER BY id LIMIT 1), "
                                            "(SELECT at_utc FROM samples ORDER BY id DESC LIMIT 1)"));
  qint64 first = 0;
  qint64 last = 0;
  if (!extent.Step() || !HistoryTime::Parse(extent.Text(0), &first) || !HistoryTime::Parse(extent.Text(1), &last) ||
      last <= first)
    return HistoryQuery::Plan::Scan;
  const qint64 from = bounds.openFrom ? first : qBound(first, bounds.fromMs, last);
  const qint64 to = bounds.openTo ? last : qBound(first, bounds.toMs, last);
  return 4 * (to - from) < last - first ? HistoryQuery::Plan::Index : HistoryQuery::Plan::Scan;
}

// The sites' rows address by address through the index on (url, at_utc), then the reference pings
// through theirs. The SQLite result code.
int ReadByAddress(sqlite3* db, const QStringList& addresses, const HistoryBounds& bounds, Groups* groups) {
  SqliteStatement sites(db, QStringLiteral("SELECT %1 FROM samples WHERE url = ?4 AND kind = 'site'%2")
                                .arg(HistoryAggregate::RowColumns(), SpanTerms(bounds)));
  for (const QString& url : addresses) {
    sites.Reset();
    BindSpan(sites, bounds);
    sites.Bind(4, url);
    while (sites.Step())
      groups->Add(sites);
    if (sites.ErrorCode() != SQLITE_OK)
      return sites.ErrorCode();
  }
  SqliteStatement references(db, QStringLiteral("SELECT %1 FROM samples WHERE kind = 'ref'%2")
                                     .arg(HistoryAggregate::RowColumns(), SpanTerms(bounds, false)));
  BindSpan(references, bounds);
  while (references.Step())
    groups->Add(references);
  return references.ErrorCode();
}

// The minutes where a reference address was slow (above its own p95) or failed, sorted.
std::vector<qint64> ReferenceMinutes(const std::vector<Group>& groups) {
  std::vector<qint64> minutes;
  for (const Group& group : groups)
    if (group.ref)
      group.figures.AddReferenceMinutes(&minutes);
  std::sort(minutes.begin(), minutes.end());
  minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
  return minutes;
}

// ---- Chart ----------------------------------------------------------------------------------

// The rows of a site's chart series (its address bound as ?4) and of the reference pings, each
// through its index; in any order, as buckets take them.
QString SiteRowsSql(const HistoryBounds& bounds) {
  return QStringLiteral("SELECT %1 FROM samples WHERE url = ?4 AND kind = 'site'%2")
      .arg(HistoryAggregate::RowColumns(), SpanTerms(bounds));
}

QString ReferenceRowsSql(const HistoryBounds& bounds) {
  return QStringLiteral("SELECT %1 FROM samples WHERE kind = 'ref'%2")
      .arg(HistoryAggregate::RowColumns(), SpanTerms(bounds, false));
}

// The buckets of a series while its rows go by, in any order.
class SeriesBuckets {
public:
  explicit SeriesBuckets(qint64 bucketMs) : bucketMs(bucketMs) {}

  // The bucket holding a moment.
  HistoryAggregate& At(qint64 ms) {
    const qint64 start = HistoryStats::BucketStart(ms, bucketMs);
    if (!current || start != currentStart) {
      current = &buckets[start];
      currentStart = start;
    }
    return *current;
  }

  // The buckets that hold samples, in time order, and the first failure of each.
  void Fill(HistorySeries* series) const {
    for (const auto& [start, figures] : buckets) {
      if (figures.samples == 0)
        continue;
      series->buckets.push_back(figures.Bucket(start));
      if (figures.failures > 0)
        series->failureMs.push_back(figures.firstFailureMs);
    }
  }

private:
  qint64 bucketMs;
  std::map<qint64, HistoryAggregate> buckets;
  HistoryAggregate* current = nullptr;
  qint64 currentStart = 0;
};

// The series of the reference addresses, in text order.
void AddReferences(const std::map<QString, SeriesBuckets>& byUrl, HistoryChart* chart) {
  for (const auto& [url, buckets] : byUrl) {
    HistorySeries& series = chart->references.emplace_back();
    series.kind = HistorySample::Kind::Ref;
    series.url = url;
    buckets.Fill(&series);
  }
}

} // namespace

HistoryQuery::HistoryQuery(const QString& path) : connection(path, HistoryConnection::Mode::ReadOnly) {}

bool HistoryQuery::IsOpen() {
  if (opened)
    return true;
  if (!connection.Open()) {
    Fail(connection.Missing() ? HistoryProblem::Kind::Missing : HistoryProblem::Of(connection.Error()));
    return false;
  }
  opened = true;
  error.clear();
  // A larger page cache than SQLite's default 2 MB: the summaries read every page of the span.
  QSqlQuery(connection.Database()).exec(QStringLiteral("PRAGMA cache_size = -32768"));
  return true;
}

void HistoryQuery::Fail(HistoryProblem::Kind kind) {
  error = HistoryProblem::ReadLine(kind, connection.Path());
}

HistoryBounds HistoryQuery::Resolve(const HistorySpan& span) {
  HistoryBounds bounds;
  if (span.from.isValid()) {
    bounds.openFrom = false;
    bounds.fromMs = span.from.toMSecsSinceEpoch();
  }
  if (span.to.isValid()) {
    bounds.openTo = false;
    bounds.toMs = span.to.toMSecsSinceEpoch();
  }
  if (span.runId >= 0) {
    bounds.runId = span.runId;
    const std::optional<HistoryRun> run = Run(span.runId);
    if (!run) {
      bounds.empty = true;
    } else {
      const qint64 started = run->started.toMSecsSinceEpoch() - Minute;
      bounds.fromMs = bounds.openFrom ? started : qMax(bounds.fromMs, started);
      bounds.openFrom = false;
      if (run->ended.isValid()) {
        const qint64 ended = run->ended.toMSecsSinceEpoch() + Minute;
        bounds.toMs = bounds.openTo ? ended : qMin(bounds.toMs, ended);
        bounds.openTo = false;
      }
    }
  }
  bounds.from = bounds.openFrom ? QString() : HistoryTime::Text(bounds.fromMs);
  bounds.to = bounds.openTo ? QStringLiteral("~") : HistoryTime::Text(bounds.toMs);
  if (!bounds.openFrom && !bounds.openTo && bounds.fromMs >= bounds.toMs)
    bounds.empty = true;
  return bounds;
}

QList<SiteSummary> HistoryQuery::Summary(const HistorySpan& span, const QStringList& urls, Plan plan) {
  if (!IsOpen())
    return {};
  const HistoryBounds bounds = Resolve(span);
  if (bounds.empty)
    return {};
  sqlite3* db = connection.Handle();

  Groups groups;
  int code = SQLITE_OK;
  bool covered = false;
  if (plan == Plan::Auto || plan == Plan::Blocks) {
    QSqlError listError;
    const QStringList addresses = connection.Addresses(&listError);
    if (listError.isValid()) {
      Fail(HistoryProblem::Of(listError));
      return {};
    }
    code = HistoryBlocks::ReadSpan(
        db, bounds.from, bounds.to, bounds.runId, addresses, {},
        [&](QByteArrayView url, bool ref, qint64 hourMs, QByteArrayView data) {
          return groups.Of(ref, url).Unpack(data, hourMs);
        },
        [&](const SqliteStatement& row) { groups.Add(row); }, &covered);
  }
  if (!covered && code == SQLITE_OK) {
    if (plan == Plan::Auto)
      plan = urls.isEmpty() ? PlanFor(db, bounds) : Plan::Index;
    if (plan == Plan::Scan) {
      code = Scan(db, bounds, &groups);
    } else {
      QStringList addresses = urls;
      if (addresses.isEmpty()) {
        QSqlError listError;
        addresses = connection.Addresses(&listError);
        if (listError.isValid()) {
          Fail(HistoryProblem::Of(listError));
          return {};
        }
      }
      code = ReadByAddress(db, addresses, bounds, &groups);
    }
  }
  if (code != SQLITE_OK) {
    Fail(HistoryProblem::Of(code));
    return {};
  }
  error.clear();

  std::vector<Group>& all = groups.All();
  std::sort(all.begin(), all.end(),
            [](const Group& a, const Group& b) { return a.ref != b.ref ? b.ref : a.url < b.url; });
  const std::vector<qint64> referenceMinutes = ReferenceMinutes(all);
  QList<SiteSummary> lines;
  for (const Group& group : all)
    if (urls.isEmpty() || urls.contains(group.url))
      lines.push_back(group.ref ? group.figures.Summarize(HistorySample::Kind::Ref, group.url, nullptr)
                                : group.figures.Summarize(HistorySample::Kind::Site, group.url, &referenceMinutes));
  return lines;
}

HistoryChart HistoryQuery::Chart(const HistorySpan& span, const QStringList& urls, const QDateTime& now) {
  HistoryChart chart;
  for (const QString& url : urls) {
    HistorySeries& series = chart.sites.emplace_back();
    series.url = url;
  }
  if (!IsOpen())
    return chart;
  const HistoryBounds bounds = Resolve(span);
  sqlite3* db = connection.Handle();

  // The time axis: open ends from the samples of these sites and of the references.
  qint64 from = bounds.fromMs;
  qint64 to = bounds.toMs;
  if (bounds.openFrom || bounds.openTo) {
    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = std::numeric_limits<qint64>::min();
    const auto extend = [&](SqliteStatement& statement) {
      qint64 ms = 0;
      if (!statement.Step())
        return;
      if (HistoryTime::Parse(statement.Text(0), &ms))
        first = qMin(first, ms);
      if (HistoryTime::Parse(statement.Text(1), &ms))
        last = qMax(last, ms);
    };
    // Two statements: SQLite finds a min() or a max() through the index only when it is alone.
    SqliteStatement ends(db, QStringLiteral("SELECT (SELECT min(at_utc) FROM samples WHERE url = ?1), "
                                            "(SELECT max(at_utc) FROM samples WHERE url = ?1)"));
    for (const QString& url : urls) {
      ends.Reset();
      ends.Bind(1, url);
      extend(ends);
    }
    SqliteStatement referenceEnds(db, QStringLiteral("SELECT (SELECT min(at_utc) FROM samples WHERE kind = 'ref'), "
                                                     "(SELECT max(at_utc) FROM samples WHERE kind = 'ref')"));
    extend(referenceEnds);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    if (bounds.openTo)
      to = last == std::numeric_limits<qint64>::min() ? nowMs : qMax(nowMs, last + 1);
    if (bounds.openFrom)
      from = first == std::numeric_limits<qint64>::max() ? to - 3600 * 1000 : first;
  }
  if (to <= from)
    to = from + 1;
  chart.fromMs = from;
  chart.toMs = to;
  chart.bucketMs = HistoryStats::BucketMs(to - from);
  if (bounds.empty)
    return chart;

  // Buckets of whole hours from the sealed hours, where these hold any of the span.
  if (chart.bucketMs % HistoryBlocks::HourMs == 0) {
    QSqlError listError;
    const QStringList addresses = connection.Addresses(&listError);
    if (listError.isValid()) {
      Fail(HistoryProblem::Of(listError));
      return chart;
    }
    std::map<QString, SeriesBuckets> bySite;
    for (const HistorySeries& series : chart.sites)
      bySite.try_emplace(series.url, chart.bucketMs);
    std::map<QString, SeriesBuckets> byReference;
    const auto bucketsOf = [&](QByteArrayView url, bool ref) -> SeriesBuckets* {
      const QString text = QString::fromUtf8(url);
      if (ref)
        return &byReference.try_emplace(text, chart.bucketMs).first->second;
      const auto found = bySite.find(text);
      return found == bySite.end() ? nullptr : &found->second;
    };
    bool covered = false;
    const int code = HistoryBlocks::ReadSpan(
        db, bounds.from, bounds.to, bounds.runId, addresses,
        [&](QByteArrayView url, bool ref) { return ref || bySite.count(QString::fromUtf8(url)) > 0; },
        [&](QByteArrayView url, bool ref, qint64 hourMs, QByteArrayView data) {
          return bucketsOf(url, ref)->At(hourMs).Unpack(data, hourMs);
        },
        [&](const SqliteStatement& statement) {
          const HistoryRow row = HistoryAggregate::Read(statement);
          if (SeriesBuckets* buckets =
                  row.ok ? bucketsOf(statement.Text(HistoryAggregate::UrlColumn), row.ref) : nullptr)
            buckets->At(row.atMs).Add(row);
        },
        &covered);
    if (code != SQLITE_OK) {
      Fail(HistoryProblem::Of(code));
      return chart;
    }
    if (covered) {
      for (HistorySeries& series : chart.sites)
        bySite.at(series.url).Fill(&series);
      AddReferences(byReference, &chart);
      error.clear();
      return chart;
    }
  }

  SqliteStatement sites(db, SiteRowsSql(bounds));
  for (HistorySeries& series : chart.sites) {
    sites.Reset();
    BindSpan(sites, bounds);
    sites.Bind(4, series.url);
    SeriesBuckets buckets(chart.bucketMs);
    while (sites.Step()) {
      const HistoryRow row = HistoryAggregate::Read(sites);
      if (row.ok)
        buckets.At(row.atMs).Add(row);
    }
    if (sites.ErrorCode() != SQLITE_OK) {
      Fail(HistoryProblem::Of(sites.ErrorCode()));
      return chart;
    }
    buckets.Fill(&series);
  }

  SqliteStatement references(db, ReferenceRowsSql(bounds));
  BindSpan(references, bounds);
  std::map<QString, SeriesBuckets> byUrl;
  while (references.Step()) {
    const HistoryRow row = HistoryAggregate::Read(references);
    if (row.ok)
      byUrl.try_emplace(references.String(HistoryAggregate::UrlColumn), chart.bucketMs)
          .first->second.At(row.atMs)
          .Add(row);
  }
  if (references.ErrorCode() != SQLITE_OK) {
    Fail(HistoryProblem::Of(references.ErrorCode()));
    return chart;
  }
  AddReferences(byUrl, &chart);
  error.clear();
  return chart;
}

QStringList HistoryQuery::ChartRowStatements() {
  HistoryBounds bounds;
  bounds.openFrom = false;
  bounds.openTo = false;
  bounds.runId = 1;
  return {SiteRowsSql(bounds), ReferenceRowsSql(bounds)};
}

std::optional<HistorySample> HistoryQuery::Nearest(const QString& url, HistorySample::Kind kind, const QDateTime& at) {
  if (!IsOpen())
    return std::nullopt;
  const qint64 atMs = at.toMSecsSinceEpoch();
  const QString columns = QStringLiteral(
      "at_utc, run_id, site_id, packet, ping_us, dns_us, connect_us, tls_us, "
      "ttfb_us, status, result, remote_ip, http_version, bytes");
  std::optional<HistorySample> nearest;
  qint64 distance = std::numeric_limits<qint64>::max();
  for (const char* direction : {"<= ?3 ORDER BY at_utc DESC, id DESC", ">= ?3 ORDER BY at_utc, id DESC"}) {
    SqliteStatement statement(
        connection.Handle(), QStringLiteral("SELECT %1 FROM samples WHERE url = ?1 AND kind = ?2 AND at_utc %2 LIMIT 1")
                                 .arg(columns, QLatin1String(direction)));
    statement.Bind(1, url);
    statement.Bind(2, kind == HistorySample::Kind::Ref ? QStringLiteral("ref") : QStringLiteral("site"));
    statement.Bind(3, HistoryTime::Text(atMs));
    qint64 ms = 0;
    if (!statement.Step()) {
      if (statement.ErrorCode() != SQLITE_OK) {
        Fail(HistoryProblem::Of(statement.ErrorCode()));
        return std::nullopt;
      }
      continue;
    }
    if (!HistoryTime::Parse(statement.Text(0), &ms) || std::abs(ms - atMs) >= distance)
      continue;
    distance = std::abs(ms - atMs);
    HistorySample sample;
    sample.at = Utc(ms);
    sample.kind = kind;
    sample.url = url;
    sample.runId = statement.Int(1);
    sample.siteId = int(statement.Int(2));
    sample.packet = int(statement.Int(3));
    sample.pingUs = statement.Int(4);
    sample.dnsUs = statement.Int(5);
    sample.connectUs = statement.Int(6);
    sample.tlsUs = statement.Int(7);
    sample.ttfbUs = statement.Int(8);
    sample.status = statement.IsNull(9) ? 0 : int(statement.Int(9));
    sample.result = statement.String(10);
    sample.remoteIp = statement.String(11);
    sample.httpVersion = statement.String(12);
    sample.bytes = statement.Int(13);
    nearest = sample;
  }
  error.clear();
  return nearest;
}

bool HistoryQuery::Rows(QString sql, const HistoryBounds& bounds, const QStringList& urls,
                        const std::function<bool(const SqliteStatement&)>& row) {
  if (!urls.isEmpty()) {
    QStringList parameters;
    for (qsizetype i = 0; i < urls.size(); ++i)
      parameters << QStringLiteral("?%1").arg(i + 4);
    sql += QStringLiteral(" AND url IN (%1)").arg(parameters.join(QStringLiteral(", ")));
  }
  SqliteStatement statement(connection.Handle(), sql + QStringLiteral(" ORDER BY id"));
  BindSpan(statement, bounds);
  for (qsizetype i = 0; i < urls.size(); ++i)
    statement.Bind(int(i + 4), urls.at(i));
  while (statement.Step())
    if (!row(statement))
      return true;
  if (statement.ErrorCode() != SQLITE_OK) {
    Fail(HistoryProblem::Of(statement.ErrorCode()));
    return false;
  }
  error.clear();
  return true;
}

bool HistoryQuery::Samples(const HistorySpan& span, const QStringList& urls,
                           const std::function<bool(const SqliteStatement&)>& row) {
  if (!IsOpen())
    return false;
  const HistoryBounds bounds = Resolve(span);
  if (bounds.empty)
    return true;
  const QString sql = QStringLiteral("SELECT %1 FROM samples WHERE 1%2")
                          .arg(HistorySchema::SampleColumns().join(QStringLiteral(", ")), SpanTerms(bounds));
  return Rows(sql, bounds, urls, row);
}

bool HistoryQuery::IncidentRows(const HistorySpan& span, const QStringList& urls,
                                const std::function<bool(const SqliteStatement&)>& row) {
  if (!IsOpen())
    return false;
  const HistoryBounds bounds = Resolve(span);
  if (bounds.empty)
    return true;
  // A file of a layout before incidents were kept (not brought forward by a store yet) has none.
  SqliteStatement table(
      connection.Handle(),
      QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'incidents'"));
  if (!table.Step()) {
    Fail(HistoryProblem::Of(table.ErrorCode()));
    return false;
  }
  if (table.Int(0) == 0)
    return true;
  QString sql = QStringLiteral("SELECT %1 FROM incidents WHERE 1")
                    .arg(HistorySchema::IncidentColumns().join(QStringLiteral(", ")));
  if (!bounds.openTo)
    sql += QStringLiteral(" AND started_utc < ?2");
  if (!bounds.openFrom)
    sql += QStringLiteral(" AND (ended_utc IS NULL OR ended_utc >= ?1)");
  return Rows(sql, bounds, urls, row);
}

QList<HistoryIncident> HistoryQuery::Incidents(const HistorySpan& span, const QStringList& urls) {
  QList<HistoryIncident> incidents;
  IncidentRows(span, urls, [&](const SqliteStatement& row) {
    HistoryIncident incident;
    qint64 ms = 0;
    const std::optional<HistoryIncident::Kind> kind = HistoryIncident::KindOf(row.String(2));
    if (!kind || !HistoryTime::Parse(row.Text(3), &ms))
      return true; // not of this program's making
    incident.id = row.Int(0);
    incident.url = row.String(1);
    incident.kind = *kind;
    incident.started = Utc(ms);
    if (!row.IsNull(4) && HistoryTime::Parse(row.Text(4), &ms))
      incident.ended = Utc(ms);
    incident.cause = row.String(5);
    incidents << incident;
    return true;
  });
  return incidents;
}

std::optional<HistoryRun> HistoryQuery::Run(qint64 id) {
  if (!IsOpen())
    return std::nullopt;
  SqliteStatement statement(connection.Handle(), QStringLiteral("SELECT started_utc, ended_utc, samplers, delay_s, "
                                                                "warn1_s, warn2_s FROM runs WHERE id = ?1"));
  statement.Bind(1, id);
  if (!statement.Step()) {
    if (statement.ErrorCode() != SQLITE_OK)
      Fail(HistoryProblem::Of(statement.ErrorCode()));
    return std::nullopt;
  }
  HistoryRun run;
  run.id = id;
  qint64 ms = 0;
  if (HistoryTime::Parse(statement.Text(0), &ms))
    run.started = Utc(ms);
  if (!statement.IsNull(1) && HistoryTime::Parse(statement.Text(1), &ms))
    run.ended = Utc(ms);
  run.samplers = int(statement.Int(2));
  run.delaySeconds = statement.Real(3);
  run.warning1Seconds = statement.Real(4);
  run.warning2Seconds = statement.Real(5);
  return run;
}
