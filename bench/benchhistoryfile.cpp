#include "benchhistoryfile.h"

#include "history/historystore.h"
#include "history/historytime.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace {

constexpr qint64 Day = 86400 * 1000LL;

bool Exec(QSqlDatabase& db, const QString& sql) {
  QSqlQuery query(db);
  if (!query.exec(sql)) {
    std::fprintf(stderr, "%s\n%s\n", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
  }
  return true;
}

} // namespace

namespace BenchHistoryFile {

namespace {

// Made by SQLite itself: the store would take minutes for a million.
bool Fill(const QString& path, qint64 nowMs, qint64 days, qint64 sites, qint64 references) {
  {
    HistoryStore store; // the layout
    if (!store.Open(path))
      return false;
  }
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-make"));
  db.setDatabaseName(path);
  if (!db.open())
    return false;
  const double start = double(nowMs - days * Day) / 1000.0;
  const QString columns = QStringLiteral(
      "at_utc, kind, url, run_id, site_id, packet, ping_us, dns_us, connect_us, "
      "tls_us, ttfb_us, status, result, remote_ip, http_version, bytes, attempt, final, cert_not_after_utc");
  const QString values = QStringLiteral(
      "SELECT strftime('%Y-%m-%dT%H:%M:%fZ', %1 + i * %2, 'unixepoch'), '%3', %4, 1, 1, i, "
      "CASE WHEN f THEN NULL ELSE p END, CASE WHEN f THEN NULL ELSE 1000 + i % 3000 END, "
      "CASE WHEN f THEN NULL ELSE 5000 + i % 9000 END, CASE WHEN f THEN NULL ELSE 15000 + i % 11000 END, "
      "CASE WHEN f THEN NULL ELSE p - 3000 END, CASE WHEN f THEN NULL WHEN i % 200 = 7 THEN 404 ELSE 200 END, "
      "CASE WHEN f THEN 'Timed out' WHEN i % 200 = 11 THEN 'Code' WHEN p >= 1000000 THEN ' => 1' ELSE '' END, "
      "'192.0.2.1', '2', 4, CASE WHEN f AND i % 2 = 1 THEN 2 ELSE 1 END, CASE WHEN f AND i % 2 = 0 THEN 0 ELSE 1 END, "
      "CASE WHEN '%3' = 'site' THEN '2031-01-01T00:00:00.000Z' END "
      "FROM (SELECT i, abs(random()) % 100 = 0 AS f, 20000 + abs(random()) % 400000 + "
      "CASE WHEN abs(random()) % 50 = 0 THEN 1500000 ELSE 0 END AS p FROM n)");
  const auto fill = [&](qint64 count, double step, const char* kind, const QString& url) {
    return Exec(db, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                   "INSERT INTO samples(%2) %3")
                        .arg(count - 1)
                        .arg(columns, values.arg(start, 0, 'f', 3).arg(step, 0, 'f', 6).arg(QLatin1String(kind), url)));
  };
  const double seconds = double(days) * 86400;
  const bool month = days == 30;
  const bool made =
      Exec(db, QStringLiteral("BEGIN")) &&
      (month ? fill(sites, seconds / double(sites), "site",
                    QStringLiteral("CASE WHEN i % 10 = 0 THEN 'https://site01.example' ELSE "
                                   "printf('https://site%02d.example', 2 + (i / 10 * 9 + i % 10 - 1) % 19) END")) &&
                   fill(1000, seconds / 1000, "site", QStringLiteral("'https://site21.example'"))
             : fill(sites, seconds / double(sites), "site",
                    QStringLiteral("printf('https://site%02d.example', 1 + i % 20)"))) &&
      fill(references, seconds / double(references), "ref",
           QStringLiteral("CASE WHEN i % 2 = 0 THEN 'http://ref1.example' ELSE 'http://ref2.example' END")) &&
      Exec(db, QStringLiteral("INSERT INTO runs(id, started_utc, samplers, delay_s, warn1_s, warn2_s) "
                              "VALUES(1, '%1', 20, 60, 1, 20)")
                   .arg(HistoryTime::Text(nowMs - days * Day))) &&
      Exec(db, QStringLiteral("COMMIT")) && Exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(QStringLiteral("bench-make"));
  return made;
}

} // namespace

bool Make(const QString& path, qint64 nowMs) {
  return Fill(path, nowMs, 30, 1000000, 8640);
}

bool MakeWeek(const QString& path, qint64 nowMs) {
  return Fill(path, nowMs, 7, 7 * 86400 * 20, 20160);
}

} // namespace BenchHistoryFile
