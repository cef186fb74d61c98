#include "history/historyblocks.h"

#include "history/historyaggregate.h"
#include "history/historystats.h"
#include "history/historytime.h"
#include "history/sqlitestatement.h"

#include <QHash>

#include <map>
#include <set>
#include <utility>

#include <sqlite3.h>

namespace HistoryBlocks {

namespace {

constexpr int KeyLength = 13; // "2024-05-01T09"

// The statements of a trigger that marks the key of a row (NEW or OLD) stale and drops its blocks.
QString StaleMark(const char* row) {
  return QStringLiteral(
             "INSERT INTO blocks_stale(url, hour) VALUES(%1.url, substr(%1.at_utc, 1, 13)) "
             "ON CONFLICT DO UPDATE SET kept = 0; "
             "DELETE FROM blocks WHERE url = %1.url AND hour = substr(%1.at_utc, 1, 13); ")
      .arg(QLatin1String(row));
}

// Runs a statement that returns no rows; the SQLite result code.
int Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// A write transaction that rolls back unless committed.
class Transaction {
public:
  explicit Transaction(sqlite3* db) : db(db), code(Exec(db, "BEGIN IMMEDIATE")) {}
  ~Transaction() {
    if (code == SQLITE_OK && !committed)
      Exec(db, "ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  int Begun() const { return code; }
  int Commit() {
    committed = true;
    const int result = Exec(db, "COMMIT");
    if (result != SQLITE_OK)
      Exec(db, "ROLLBACK");
    return result;
  }

private:
  sqlite3* db;
  int code;
  bool committed = false;
};

// Every address in `samples`, one seek each through the index on (url, at_utc).
int Addresses(sqlite3* db, QStringList* urls) {
  SqliteStatement statement(
      db, QStringLiteral("WITH RECURSIVE addresses(url) AS (SELECT min(url) FROM samples UNION ALL "
                         "SELECT (SELECT min(url) FROM samples WHERE url > addresses.url) FROM addresses "
                         "WHERE url IS NOT NULL) SELECT url FROM addresses WHERE url IS NOT NULL"));
  while (statement.Step())
    *urls << statement.String(0);
  return statement.ErrorCode();
}

// Seals one address's rows of a text range [key, end): the rows of the class `key` (the key of the
// hour at `hourMs`) go into blocks by kind and run, or, when one of them cannot (a text not of the
// file's own form, a time outside the hour, figures that do not fit), the class stays stale for
// good and is read as rows; so does any other class in the range that holds a row a figure reads.
// The number of rows read.
class Sealer {
public:
  explicit Sealer(sqlite3* db)
      : rows(db, QStringLiteral("SELECT %1, CASE WHEN typeof(run_id) = 'integer' AND run_id >= 0 THEN run_id "
                                "ELSE -1 END, substr(at_utc, 1, %2) FROM samples WHERE url = ?1 AND at_utc >= ?2 "
                                "AND at_utc < ?3")
                     .arg(HistoryAggregate::RowColumns())
                     .arg(KeyLength)),
        drop(db, QStringLiteral("DELETE FROM blocks WHERE url = ?1 AND hour = ?2")),
        insert(db, QStringLiteral("INSERT INTO blocks(url, hour, kind, run, data) VALUES(?1, ?2, ?3, ?4, ?5)")),
        keep(db, QStringLiteral("INSERT INTO blocks_stale(url, hour, kept) VALUES(?1, ?2, 1) "
                                "ON CONFLICT DO UPDATE SET kept = 1")),
        unmark(db, QStringLiteral("DELETE FROM blocks_stale WHERE url = ?1 AND hour = ?2")) {}

  // `stale`: the key was sealed before (its blocks and mark go even when no row is left).
  int Seal(const QString& url, const QString& key, qint64 hourMs, const QString& end, bool stale, int* code) {
    std::map<std::pair<int, qint64>, HistoryAggregate> parts; // by kind and run
    std::set<QString> others;
    bool sealable = true;
    int read = 0;
    rows.Reset();
    rows.Bind(1, url);
    rows.Bind(2, key);
    rows.Bind(3, end);
    const QByteArray keyBytes = key.toUtf8();
    constexpr int RunColumn = HistoryAggregate::ColumnCount;
    constexpr int ClassColumn = HistoryAggregate::ColumnCount + 1;
    while (rows.Step()) {
      ++read;
      const HistoryRow row = HistoryAggregate::Read(rows);
      if (!row.ok)
        continue; // no figure reads it
      const QByteArrayView at = rows.Text(HistoryAggregate::AtColumn);
      if (!at.startsWith(keyBytes)) {
        others.insert(rows.String(ClassColumn));
        continue;
      }
      // Only the file's own form, so that a block's rows compare with a span's bounds as their
      // times do.
      if (at.size() != 24 || at[19] != '.' || at[23] != 'Z' || row.atMs < hourMs || row.atMs >= hourMs + HourMs)
        sealable = false;
      if (sealable)
        parts[{row.ref ? 1 : 0, rows.RawInt(RunColumn)}].Add(row);
    }
    if ((*code = rows.ErrorCode()) != SQLITE_OK || (read == 0 && !stale))
      return read;

    Run(drop, url, key);
    QByteArray data;
    for (const auto& [kindRun, figures] : parts)
      sealable = sealable && figures.Pack(hourMs, &data);
    if (sealable) {
      for (const auto& [kindRun, figures] : parts) {
        figures.Pack(hourMs, &data);
        insert.Reset();
        insert.Bind(1, url);
        insert.Bind(2, key);
        insert.Bind(3, qint64(kindRun.first));
        insert.Bind(4, kindRun.second);
        insert.BindBlob(5, data);
        insert.Step();
        if ((*code = insert.ErrorCode()) != SQLITE_OK)
          return read;
      }
      Run(unmark, url, key);
    } else {
      others.insert(key);
    }
    for (const QString& other : others)
      Run(keep, url, other);
    *code = Error();
    return read;
  }

  // Keeps a key stale for good: it cannot be sealed.
  int Keep(const QString& url, const QString& key) {
    Run(keep, url, key);
    return Error();
  }

private:
  static void Run(SqliteStatement& statement, const QString& url, const QString& key) {
    statement.Reset();
    statement.Bind(1, url);
    statement.Bind(2, key);
    statement.Step();
  }
  int Error() const {
    for (const SqliteStatement* statement : {&drop, &keep, &unmark})
      if (statement->ErrorCode() != SQLITE_OK)
        return statement->ErrorCode();
    return SQLITE_OK;
  }

  SqliteStatement rows;
  SqliteStatement drop;
  SqliteStatement insert;
  SqliteStatement keep;
  SqliteStatement unmark;
};

// The first text after every text that begins with `key`.
QString AfterKey(const QString& key) {
  QString end = key;
  if (!end.isEmpty())
    end[end.size() - 1] = QChar(end.at(end.size() - 1).unicode() + 1);
  return end;
}

// The earliest time text at or after `from` ("" for any) over every address; empty when none.
int Earliest(sqlite3* db, const QStringList& urls, const QString& from, QString* earliest) {
  SqliteStatement first(db, QStringLiteral("SELECT min(at_utc) FROM samples WHERE url = ?1 AND at_utc >= ?2"));
  earliest->clear();
  for (const QString& url : urls) {
    first.Reset();
    first.Bind(1, url);
    first.Bind(2, from);
    if (first.Step() && !first.IsNull(0)) {
      const QString text = first.String(0);
      if (earliest->isEmpty() || text < *earliest)
        *earliest = text;
    }
    if (first.ErrorCode() != SQLITE_OK)
      return first.ErrorCode();
  }
  return SQLITE_OK;
}

// The latest hour key at or before a time text (so that no text between them begins another key);
// empty when the text is not a time of the file's own form.
QString KeyBefore(const QString& text) {
  qint64 ms = 0;
  if (!HistoryTime::Parse(text.toUtf8(), &ms))
    return QString();
  const QString key = Key(HistoryStats::BucketStart(ms, HourMs));
  return key <= text ? key : QString();
}

} // namespace

QStringList Schema() {
  const QString until = QStringLiteral("(SELECT until_hour FROM blocks_state)");
  return {
      QStringLiteral("CREATE TABLE blocks(url TEXT NOT NULL, hour TEXT NOT NULL, kind INTEGER NOT NULL, "
                     "run INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(url, hour, kind, run)) WITHOUT ROWID"),
      QStringLiteral("CREATE TABLE blocks_stale(url TEXT NOT NULL, hour TEXT NOT NULL, kept INTEGER NOT NULL "
                     "DEFAULT 0, PRIMARY KEY(url, hour)) WITHOUT ROWID"),
      QStringLiteral("CREATE TABLE blocks_state(format INTEGER NOT NULL, from_hour TEXT, until_hour TEXT)"),
      QStringLiteral("INSERT INTO blocks_state VALUES(0, NULL, NULL)"),
      QStringLiteral("CREATE TRIGGER blocks_added AFTER INSERT ON samples WHEN NEW.at_utc < %1 BEGIN %2END")
          .arg(until, StaleMark("NEW")),
      QStringLiteral("CREATE TRIGGER blocks_changed AFTER UPDATE ON samples WHEN OLD.at_utc < %1 OR NEW.at_utc < %1 "
                     "BEGIN %2%3END")
          .arg(until, StaleMark("OLD"), StaleMark("NEW")),
      QStringLiteral("CREATE TRIGGER blocks_removed AFTER DELETE ON samples WHEN OLD.at_utc < %1 AND "
                     "OLD.at_utc >= (SELECT from_hour FROM blocks_state) BEGIN %2END")
          .arg(until, StaleMark("OLD")),
  };
}

QString Key(qint64 hourMs) {
  return HistoryTime::Text(hourMs).left(KeyLength);
}

bool HourOf(QByteArrayView key, qint64* hourMs) {
  if (key.size() != KeyLength)
    return false;
  qint64 ms = 0;
  const QByteArray text = key.toByteArray() + ":00:00.000Z";
  if (!HistoryTime::Parse(text, &ms) || Key(ms) != QLatin1String(key))
    return false;
  *hourMs = ms;
  return true;
}

int ReadState(sqlite3* db, State* state) {
  *state = State();
  SqliteStatement read(db, QStringLiteral("SELECT format, from_hour, until_hour FROM blocks_state"));
  if (!read.Ok() && (read.ErrorCode() & 0xff) == SQLITE_ERROR)
    return SQLITE_OK; // a file of an older layout: no blocks
  qint64 hourMs = 0;
  if (read.Step() && read.Int(0) == Format && HourOf(read.Text(1), &hourMs) && HourOf(read.Text(2), &hourMs)) {
    state->from = read.String(1);
    state->until = read.String(2);
    state->usable = state->from < state->until;
  }
  return read.ErrorCode();
}

Step Seal(sqlite3* db, qint64 nowMs, int* code) {
  Transaction transaction(db);
  if ((*code = transaction.Begun()) != SQLITE_OK)
    return Step::Failed;
  const auto failed = [&](int error) {
    *code = error;
    return Step::Failed;
  };

  // Blocks of another format, or a state that is not one this program wrote, are built anew.
  QString from;
  QString until;
  {
    SqliteStatement read(db, QStringLiteral("SELECT format, from_hour, until_hour FROM blocks_state"));
    qint64 hourMs = 0;
    if (read.Step() && read.Int(0) == Format && HourOf(read.Text(1), &hourMs) && HourOf(read.Text(2), &hourMs) &&
        read.String(1) <= read.String(2)) {
      from = read.String(1);
      until = read.String(2);
    }
    if (read.ErrorCode() != SQLITE_OK)
      return failed(read.ErrorCode());
  }
  const bool built = !until.isEmpty();
  if (until.isEmpty())
    for (const char* sql : {"DELETE FROM blocks", "DELETE FROM blocks_stale"})
      if (const int error = Exec(db, sql); error != SQLITE_OK)
        return failed(error);
  QStringList urls;
  if (const int error = Addresses(db, &urls); error != SQLITE_OK)
    return failed(error);
  if (until.isEmpty()) {
    // From the hour of the earliest time of the file's own form (texts before it are read as rows).
    QString earliest;
    QString first;
    for (int tries = 0; tries < 100 && first.isEmpty(); ++tries) {
      const QString after = tries == 0 ? QString() : earliest + QChar(1);
      if (const int error = Earliest(db, urls, after, &earliest); error != SQLITE_OK)
        return failed(error);
      if (earliest.isEmpty())
        break;
      first = KeyBefore(earliest);
    }
    // Without a sample nothing is built yet: the blocks begin at the hour of the first.
    if (first.isEmpty())
      return Step::Done;
    from = until = first;
  }

  Sealer sealer(db);
  int budget = StepRows;
  int error = SQLITE_OK;
  bool more = false;
  // Nothing to write: the transaction is rolled back, so that a step with nothing to do costs no
  // write to the file.
  bool changed = !built;

  // Stale keys first: a few at a time, the rest in the next step.
  {
    SqliteStatement stale(db, QStringLiteral("SELECT url, hour FROM blocks_stale WHERE kept = 0 LIMIT 200"));
    std::vector<std::pair<QString, QString>> marks;
    while (stale.Step())
      marks.emplace_back(stale.String(0), stale.String(1));
    if (stale.ErrorCode() != SQLITE_OK)
      return failed(stale.ErrorCode());
    more = marks.size() == 200;
    changed = changed || !marks.empty();
    SqliteStatement unmark(db, QStringLiteral("DELETE FROM blocks_stale WHERE url = ?1 AND hour = ?2"));
    for (const auto& [url, key] : marks) {
      if (budget <= 0) {
        more = true;
        break;
      }
      if (key < from || key >= until) { // read as rows there anyway; sealed as usual when reached
        unmark.Reset();
        unmark.Bind(1, url);
        unmark.Bind(2, key);
        unmark.Step();
        if (unmark.ErrorCode() != SQLITE_OK)
          return failed(unmark.ErrorCode());
        continue;
      }
      qint64 hourMs = 0;
      if (HourOf(key.toUtf8(), &hourMs))
        budget -= sealer.Seal(url, key, hourMs, AfterKey(key), true, &error);
      else
        error = sealer.Keep(url, key);
      if (error != SQLITE_OK)
        return failed(error);
    }
  }

  // Then the hours that are over.
  const QString last = Key(HistoryStats::BucketStart(nowMs - SealDelayMs, HourMs)); // the first not yet over
  while (until < last) {
    if (budget <= 0) {
      more = true;
      break;
    }
    qint64 hourMs = 0;
    HourOf(until.toUtf8(), &hourMs);
    const QString next = Key(hourMs + HourMs);
    int read = 0;
    for (const QString& url : urls) {
      read += sealer.Seal(url, until, hourMs, next, false, &error);
      if (error != SQLITE_OK)
        return failed(error);
    }
    budget -= read + int(urls.size());
    until = next;
    changed = true;
    if (read == 0 && until < last) {
      // Over hours without samples at once, to the hour of the next sample.
      QString earliest;
      if (const int earliestError = Earliest(db, urls, until, &earliest); earliestError != SQLITE_OK)
        return failed(earliestError);
      const QString jump = earliest.isEmpty() ? last : qMin(KeyBefore(earliest), last);
      if (jump > until)
        until = jump;
    }
  }

  if (!changed)
    return Step::Done;
  if (const int error = Exec(db, "DELETE FROM blocks_state"); error != SQLITE_OK)
    return failed(error);
  SqliteStatement write(db,
                        QStringLiteral("INSERT INTO blocks_state(format, from_hour, until_hour) VALUES(?1, ?2, ?3)"));
  write.Bind(1, qint64(Format));
  write.Bind(2, from);
  write.Bind(3, until);
  write.Step();
  if (write.ErrorCode() != SQLITE_OK)
    return failed(write.ErrorCode());
  if (const int commit = transaction.Commit(); commit != SQLITE_OK)
    return failed(commit);
  return more ? Step::More : Step::Done;
}

int Cut(sqlite3* db, const QString& cutoff) {
  Transaction transaction(db);
  if (transaction.Begun() != SQLITE_OK)
    return transaction.Begun();
  State state;
  if (const int error = ReadState(db, &state); error != SQLITE_OK)
    return error;
  const QString from = cutoff.left(KeyLength);
  if (state.from.isEmpty() || from <= state.from)
    return transaction.Commit();
  QStringList urls;
  if (const int error = Addresses(db, &urls); error != SQLITE_OK)
    return error;
  SqliteStatement drop(db, QStringLiteral("DELETE FROM blocks WHERE url = ?1 AND hour < ?2"));
  for (const QString& url : urls) {
    drop.Reset();
    drop.Bind(1, url);
    drop.Bind(2, from);
    drop.Step();
    if (drop.ErrorCode() != SQLITE_OK)
      return drop.ErrorCode();
  }
  SqliteStatement unmark(db, QStringLiteral("DELETE FROM blocks_stale WHERE hour < ?1"));
  unmark.Bind(1, from);
  unmark.Step();
  SqliteStatement move(db, QStringLiteral("UPDATE blocks_state SET from_hour = ?1, until_hour = max(until_hour, ?1)"));
  move.Bind(1, from);
  move.Step();
  if (unmark.ErrorCode() != SQLITE_OK || move.ErrorCode() != SQLITE_OK)
    return unmark.ErrorCode() != SQLITE_OK ? unmark.ErrorCode() : move.ErrorCode();
  return transaction.Commit();
}

namespace {

// The key of the first hour that starts at or after a time text, or of the hour it falls in; empty
// when the text is not a time.
QString KeyAtOrAfter(const QString& text, bool after) {
  qint64 ms = 0;
  if (!HistoryTime::Parse(text.toUtf8(), &ms))
    return QString();
  const qint64 hourMs = HistoryStats::BucketStart(ms, HourMs);
  return Key(after && hourMs < ms ? hourMs + HourMs : hourMs);
}

// A read transaction, ended when it goes.
class ReadTransaction {
public:
  explicit ReadTransaction(sqlite3* db) : db(db), code(Exec(db, "BEGIN")) {}
  ~ReadTransaction() {
    if (code == SQLITE_OK)
      Exec(db, "COMMIT");
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  int Begun() const { return code; }

private:
  sqlite3* db;
  int code;
};

} // namespace

int ReadSpan(sqlite3* db, const QString& from, const QString& to, qint64 runId, const QStringList& addresses,
             const Wants& wants, const BlockSink& block, const RowSink& row, bool* covered) {
  *covered = false;
  ReadTransaction transaction(db);
  if (transaction.Begun() != SQLITE_OK)
    return transaction.Begun();
  State state;
  if (const int error = ReadState(db, &state); error != SQLITE_OK || !state.usable)
    return error;
  // The whole sealed hours of the span: [first, last).
  const QString first = from.isEmpty() ? state.from : qMax(state.from, KeyAtOrAfter(from, true));
  const QString last = to == QLatin1String("~") ? state.until : qMin(state.until, KeyAtOrAfter(to, false));
  if (first.isEmpty() || last.isEmpty() || first >= last)
    return SQLITE_OK;
  *covered = true;

  // The classes of the blocks' range read as rows, by address.
  std::multimap<QString, QString> stale;
  {
    SqliteStatement marks(db, QStringLiteral("SELECT url, hour FROM blocks_stale WHERE hour >= ?1 AND hour < ?2"));
    marks.Bind(1, first);
    marks.Bind(2, last);
    while (marks.Step())
      stale.emplace(marks.String(0), marks.String(1));
    if (marks.ErrorCode() != SQLITE_OK)
      return marks.ErrorCode();
  }

  // All the blocks of an address, or its reference pings' only (when its sites' are not wanted: SQLite
  // passes over the others itself).
  const QString blocksSql = QStringLiteral(
      "SELECT kind, run, hour, data FROM blocks WHERE url = ?1 AND hour >= ?2 "
      "AND hour < ?3");
  SqliteStatement allBlocks(db, blocksSql);
  SqliteStatement referenceBlocks(db, blocksSql + QStringLiteral(" AND kind = 1"));
  SqliteStatement rows(db, QStringLiteral("SELECT %1 FROM samples WHERE url = ?4 AND at_utc >= ?1 AND at_utc < ?2%3")
                               .arg(HistoryAggregate::RowColumns(),
                                    runId >= 0 ? QStringLiteral(" AND (kind = 'ref' OR run_id = ?3)") : QString()));
  // The rows of the address of a text range, within the span.
  const auto readRows = [&](const QString& url, const QString& low, const QString& high) {
    const QString begin = qMax(low, from);
    const QString end = qMin(high, to);
    if (begin >= end)
      return SQLITE_OK;
    rows.Reset();
    rows.Bind(1, begin);
    rows.Bind(2, end);
    rows.Bind(3, runId);
    rows.Bind(4, url);
    while (rows.Step())
      row(rows);
    return rows.ErrorCode();
  };

  // The hours of the keys, found once: every address has blocks of the same hours.
  QHash<QByteArray, qint64> hours;
  const auto hourOf = [&](QByteArrayView key, qint64* hourMs) {
    const auto found = hours.constFind(key.toByteArray());
    if (found != hours.constEnd()) {
      *hourMs = *found;
      return true;
    }
    if (!HourOf(key, hourMs))
      return false;
    hours.insert(key.toByteArray(), *hourMs);
    return true;
  };

  for (const QString& url : addresses) {
    const QByteArray urlBytes = url.toUtf8();
    SqliteStatement& blocks = wants && !wants(urlBytes, false) ? referenceBlocks : allBlocks;
    blocks.Reset();
    blocks.Bind(1, url);
    blocks.Bind(2, first);
    blocks.Bind(3, last);
    while (blocks.Step()) {
      const bool ref = blocks.RawInt(0) == 1;
      if ((!ref && runId >= 0 && blocks.RawInt(1) != runId) || (wants && !wants(urlBytes, ref)))
        continue;
      qint64 hourMs = 0;
      if (!hourOf(blocks.Text(2), &hourMs) || !block(urlBytes, ref, hourMs, blocks.Blob(3)))
        return SQLITE_CORRUPT;
    }
    if (blocks.ErrorCode() != SQLITE_OK)
      return blocks.ErrorCode();

    int error = readRows(url, QString(), first);
    if (error == SQLITE_OK)
      error = readRows(url, last, QStringLiteral("~"));
    const auto [begin, end] = stale.equal_range(url);
    for (auto mark = begin; mark != end && error == SQLITE_OK; ++mark) {
      // A class of the hours' length holds every text that begins with it; a shorter one, itself.
      const QString& name = mark->second;
      error = readRows(url, name, name.size() == KeyLength ? AfterKey(name) : name + QChar(1));
    }
    if (error != SQLITE_OK)
      return error;
  }
  return SQLITE_OK;
}

} // namespace HistoryBlocks
