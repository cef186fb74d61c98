#include "history/historyschema.h"

#include "history/historyblocks.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace HistorySchema {

QStringList Step(int n) {
  switch (n) {
  case 1:
    return {
        QStringLiteral("CREATE TABLE samples("
                       "id INTEGER PRIMARY KEY, "
                       "at_utc TEXT NOT NULL, "
                       "kind TEXT NOT NULL, "
                       "url TEXT NOT NULL, "
                       "run_id INTEGER, "
                       "site_id INTEGER, "
                       "packet INTEGER, "
                       "ping_us INTEGER, "
                       "dns_us INTEGER, "
                       "connect_us INTEGER, "
                       "tls_us INTEGER, "
                       "ttfb_us INTEGER, "
                       "status INTEGER, "
                       "result TEXT, "
                       "remote_ip TEXT, "
                       "http_version TEXT, "
                       "bytes INTEGER)"),
        QStringLiteral("CREATE INDEX samples_url_at ON samples(url, at_utc)"),
        QStringLiteral("CREATE TABLE runs("
                       "id INTEGER PRIMARY KEY, "
                       "started_utc TEXT NOT NULL, "
                       "ended_utc TEXT, "
                       "samplers INTEGER, "
                       "delay_s REAL, "
                       "warn1_s REAL, "
                       "warn2_s REAL)"),
    };
  case 2: return {QStringLiteral("CREATE INDEX samples_ref_at ON samples(at_utc) WHERE kind = 'ref'")};
  case 3:
    return {
        // Adding a column with a constant default rewrites no row: older samples read as the first
        // and final attempt of their row, which is what they were.
        QStringLiteral("ALTER TABLE samples ADD COLUMN attempt INTEGER NOT NULL DEFAULT 1"),
        QStringLiteral("ALTER TABLE samples ADD COLUMN final INTEGER NOT NULL DEFAULT 1"),
        QStringLiteral("ALTER TABLE samples ADD COLUMN cert_not_after_utc TEXT"),
        QStringLiteral("CREATE TABLE incidents("
                       "id INTEGER PRIMARY KEY, "
                       "url TEXT NOT NULL, "
                       "kind TEXT NOT NULL, "
                       "started_utc TEXT NOT NULL, "
                       "ended_utc TEXT, "
                       "cause TEXT)"),
        QStringLiteral("CREATE INDEX incidents_url_started ON incidents(url, started_utc)"),
    };
  case 4: return HistoryBlocks::Schema();
  default: return {};
  }
}

QStringList SampleColumns() {
  return {QStringLiteral("id"),        QStringLiteral("at_utc"),
          QStringLiteral("kind"),      QStringLiteral("url"),
          QStringLiteral("run_id"),    QStringLiteral("site_id"),
          QStringLiteral("packet"),    QStringLiteral("ping_us"),
          QStringLiteral("dns_us"),    QStringLiteral("connect_us"),
          QStringLiteral("tls_us"),    QStringLiteral("ttfb_us"),
          QStringLiteral("status"),    QStringLiteral("result"),
          QStringLiteral("remote_ip"), QStringLiteral("http_version"),
          QStringLiteral("bytes"),     QStringLiteral("attempt"),
          QStringLiteral("final"),     QStringLiteral("cert_not_after_utc")};
}

QStringList IncidentColumns() {
  return {QStringLiteral("id"),          QStringLiteral("url"),       QStringLiteral("kind"),
          QStringLiteral("started_utc"), QStringLiteral("ended_utc"), QStringLiteral("cause")};
}

int FileVersion(QSqlDatabase& db, QSqlError* error) {
  QSqlQuery query(db);
  if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
    *error = query.lastError();
    return -1;
  }
  return query.value(0).toInt();
}

Outcome Migrate(QSqlDatabase& db, QSqlError* error, int* found) {
  QSqlQuery query(db);
  // The write lock first, so that two programs opening one new file do not both create it.
  if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
    *error = query.lastError();
    return Outcome::Failed;
  }
  const auto fail = [&](const QSqlError& cause) {
    *error = cause;
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return Outcome::Failed;
  };
  const int version = FileVersion(db, error);
  if (found)
    *found = version;
  if (version < 0)
    return fail(*error);
  if (version > Version) {
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return Outcome::Newer;
  }
  for (int step = version + 1; step <= Version; ++step)
    for (const QString& statement : Step(step))
      if (!query.exec(statement))
        return fail(query.lastError());
  if (version != Version && !query.exec(QStringLiteral("PRAGMA user_version = %1").arg(Version)))
    return fail(query.lastError());
  if (!query.exec(QStringLiteral("COMMIT")))
    return fail(query.lastError());
  return Outcome::Current;
}

} // namespace HistorySchema
