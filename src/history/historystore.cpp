#include "history/historystore.h"

#include "history/historyblocks.h"
#include "history/historyconnection.h"
#include "history/historyproblem.h"
#include "history/historyschema.h"
#include "history/historytime.h"
#include "history/sqlitestatement.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QSet>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>
#include <QWaitCondition>

#include <map>
#include <optional>
#include <vector>

#include <sqlite3.h>

namespace {

// What the caller queued for the writer thread.
struct Item {
  enum class What { Sample, BeginRun, EndRun, BeginIncident, EndIncident };
  What what = What::Sample;
  quint64 seq = 0;      // order of queueing, from 1
  qint64 calledMs = 0;  // when it was queued
  HistorySample sample; // Sample
  qint64 runId = -1;    // EndRun
  int samplers = 0;     // BeginRun
  double delay = 0;
  double warning1 = 0;
  double warning2 = 0;
  HistoryIncident incident; // BeginIncident; EndIncident: url, kind and ended
};

QVariant IntOrNull(qint64 value, qint64 smallest = 0) {
  return value < smallest ? QVariant(QMetaType::fromType<qint64>()) : QVariant(value);
}

// An error of SQLite's own interface as Qt SQL's driver gives it.
QSqlError SqliteError(int code) {
  return QSqlError(QString(), QString::fromUtf8(sqlite3_errstr(code)), QSqlError::StatementError,
                   QString::number(code));
}

QVariant TextOrNull(const QString& text) {
  return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

} // namespace

// What the store shares with its threads; every member is guarded by `mutex`.
struct HistoryStoreShared {
  enum class State { Opening, On, Off };

  QString path;
  HistoryStore* store = nullptr; // outlives both threads: Close() waits for them
  quint64 opening = 0;           // which of the store's openings this is

  QMutex mutex;
  QWaitCondition wake; // for the writer: a flush is due, or stop
  QWaitCondition done; // for the callers: the file is open, items are committed, or history is off
  State state = State::Opening;
  QString failure;
  std::vector<Item> queue;
  quint64 queued = 0;  // seq of the last item queued
  quint64 written = 0; // seq of the last item committed
  bool flushNow = false;
  bool stop = false;
  std::map<quint64, qint64> begun; // new run ids by the seq of their BeginRun
  int retentionDays = HistoryStore::DefaultRetentionDays;
  bool pruneAsked = true;
  QList<HistoryIncident> ongoing; // the incidents going on when the file was opened
  sqlite3* checking = nullptr;    // the integrity check's connection while it runs

  // Queues an item (the caller holds the mutex).
  Item& Queue(Item::What what) {
    Item& item = queue.emplace_back();
    item.what = what;
    item.seq = ++queued;
    item.calledMs = QDateTime::currentMSecsSinceEpoch();
    return item;
  }

  // Turns history off, once, and drops what is queued. A failure after the file opened is reported
  // through the store's Failed(); one while opening, by Open() itself.
  void TurnOff(const QString& line) {
    if (state == State::Off)
      return;
    const bool report = state == State::On;
    state = State::Off;
    failure = line;
    queue.clear();
    done.wakeAll();
    wake.wakeAll();
    if (report) {
      // Emitted on the store's thread, unless the store has opened a file anew meanwhile.
      HistoryStore* target = store;
      const quint64 from = opening;
      QMetaObject::invokeMethod(
          target, [target, from, line] { target->Report(from, line); }, Qt::QueuedConnection);
    }
  }
};

namespace {

using Shared = HistoryStoreShared;
using State = HistoryStoreShared::State;

// The writer thread: opens the file, then commits the queue at every flush and deletes old
// samples in between.
class Writer {
public:
  explicit Writer(std::shared_ptr<Shared> shared)
      : s(std::move(shared)), connection(s->path, HistoryConnection::Mode::ReadWrite) {}
  void Run();

private:
  enum class Pruned { More, Done, Failed };

  bool OpenFile(QString* line);
  // The incidents that go on in the file, oldest first; false when they cannot be read.
  bool ReadOngoing(QList<HistoryIncident>* incidents, QSqlError* error);
  bool Commit(const std::vector<Item>& items, std::map<quint64, qint64>* begun, QSqlError* error);
  Pruned PruneStep(const QString& cutoff, QSqlError* error);
  void Fail(const QSqlError& error) {
    QMutexLocker lock(&s->mutex);
    s->TurnOff(HistoryProblem::OffLine(HistoryProblem::Of(error), s->path));
  }

  std::shared_ptr<Shared> s;
  HistoryConnection connection;
  // Prepared once the file is open; destroyed before the connection.
  std::optional<QSqlQuery> insertSample;
  std::optional<QSqlQuery> insertRun;
  std::optional<QSqlQuery> endRun;
  std::optional<QSqlQuery> insertIncident;
  std::optional<QSqlQuery> endIncident;
  QSet<qint64> openRuns; // begun by this store and not yet ended
  QString cutFor;        // the retention cutoff whose hours the blocks have given up
};

bool Writer::OpenFile(QString* line) {
  const auto problem = [&](HistoryProblem::Kind kind) {
    *line = HistoryProblem::OffLine(kind, s->path);
    return false;
  };
  if (!connection.Open())
    return problem(HistoryProblem::Of(connection.Error()));
  QSqlDatabase& db = connection.Database();
  // A newer program's file is left exactly as it is: no switch to WAL either.
  QSqlError error;
  const int version = HistorySchema::FileVersion(db, &error);
  if (version < 0)
    return problem(HistoryProblem::Of(error));
  if (version > HistorySchema::Version)
    return problem(HistoryProblem::Kind::Newer);
  QSqlQuery query(db);
  if (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !query.next())
    return problem(HistoryProblem::Of(query.lastError()));
  if (query.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
    return problem(HistoryProblem::Kind::Unwritable);
  // In WAL mode a commit is safe from a crash of the program without waiting for the disk; only
  // a crash of the whole machine may lose the last commits.
  query.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
  query.finish();
  switch (HistorySchema::Migrate(db, &error)) {
  case HistorySchema::Outcome::Newer: return problem(HistoryProblem::Kind::Newer);
  case HistorySchema::Outcome::Failed: return problem(HistoryProblem::Of(error));
  case HistorySchema::Outcome::Current: break;
  }
  insertSample.emplace(db);
  insertSample->prepare(QStringLiteral(
      "INSERT INTO samples(at_utc, kind, url, run_id, site_id, packet, ping_us, dns_us, connect_us, tls_us, "
      "ttfb_us, status, result, remote_ip, http_version, bytes, attempt, final, cert_not_after_utc) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  insertRun.emplace(db);
  insertRun->prepare(
      QStringLiteral("INSERT INTO runs(started_utc, samplers, delay_s, warn1_s, warn2_s) VALUES(?, ?, ?, ?, ?)"));
  endRun.emplace(db);
  endRun->prepare(QStringLiteral("UPDATE runs SET ended_utc = ? WHERE id = ?"));
  insertIncident.emplace(db);
  insertIncident->prepare(
      QStringLiteral("INSERT INTO incidents(url, kind, started_utc, ended_utc, cause) VALUES(?, ?, ?, ?, ?)"));
  endIncident.emplace(db);
  endIncident->prepare(
      QStringLiteral("UPDATE incidents SET ended_utc = ? WHERE url = ? AND kind = ? AND ended_utc IS NULL"));
  QList<HistoryIncident> ongoing;
  if (!ReadOngoing(&ongoing, &error))
    return problem(HistoryProblem::Of(error));
  QMutexLocker lock(&s->mutex);
  s->ongoing = ongoing;
  return true;
}

bool Writer::ReadOngoing(QList<HistoryIncident>* incidents, QSqlError* error) {
  QSqlQuery query(connection.Database());
  if (!query.exec(QStringLiteral("SELECT id, url, kind, started_utc, cause FROM incidents WHERE ended_utc IS NULL "
                                 "ORDER BY started_utc, id"))) {
    *error = query.lastError();
    return false;
  }
  while (query.next()) {
    HistoryIncident incident;
    qint64 started = 0;
    const std::optional<HistoryIncident::Kind> kind = HistoryIncident::KindOf(query.value(2).toString());
    if (!kind || !HistoryTime::Parse(query.value(3).toString().toUtf8(), &started))
      continue; // a row of another program's making that this one cannot take up
    incident.id = query.value(0).toLongLong();
    incident.url = query.value(1).toString();
    incident.kind = *kind;
    incident.started = QDateTime::fromMSecsSinceEpoch(started, Qt::UTC);
    incident.cause = query.value(4).toString();
    incidents->append(incident);
  }
  return true;
}

bool Writer::Commit(const std::vector<Item>& items, std::map<quint64, qint64>* begun, QSqlError* error) {
  QSqlDatabase& db = connection.Database();
  QSqlQuery transaction(db);
  if (!transaction.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
    *error = transaction.lastError();
    return false;
  }
  for (const Item& item : items) {
    QSqlQuery* query = nullptr;
    switch (item.what) {
    case Item::What::Sample: {
      const HistorySample& sample = item.sample;
      query = &*insertSample;
      query->bindValue(0, HistoryTime::Text(sample.at.isValid() ? sample.at.toMSecsSinceEpoch() : item.calledMs));
      query->bindValue(1, sample.kind == HistorySample::Kind::Ref ? QStringLiteral("ref") : QStringLiteral("site"));
      query->bindValue(2, sample.url.isNull() ? QStringLiteral("") : sample.url);
      query->bindValue(3, IntOrNull(sample.runId, 1));
      query->bindValue(4, IntOrNull(sample.siteId));
      query->bindValue(5, IntOrNull(sample.packet));
      query->bindValue(6, IntOrNull(sample.pingUs));
      query->bindValue(7, IntOrNull(sample.dnsUs));
      query->bindValue(8, IntOrNull(sample.connectUs));
      query->bindValue(9, IntOrNull(sample.tlsUs));
      query->bindValue(10, IntOrNull(sample.ttfbUs));
      query->bindValue(11, IntOrNull(sample.status, 1));
      query->bindValue(12, sample.result.isNull() ? QStringLiteral("") : sample.result);
      query->bindValue(13, TextOrNull(sample.remoteIp));
      query->bindValue(14, TextOrNull(sample.httpVersion));
      query->bindValue(15, IntOrNull(sample.bytes));
      query->bindValue(16, qMax(1, sample.attempt));
      query->bindValue(17, sample.finalAttempt ? 1 : 0);
      query->bindValue(18, sample.certNotAfterMs < 0 ? QVariant(QMetaType::fromType<QString>())
                                                     : QVariant(HistoryTime::Text(sample.certNotAfterMs)));
      break;
    }
    case Item::What::BeginRun:
      query = &*insertRun;
      query->bindValue(0, HistoryTime::Text(item.calledMs));
      query->bindValue(1, item.samplers);
      query->bindValue(2, item.delay);
      query->bindValue(3, item.warning1);
      query->bindValue(4, item.warning2);
      break;
    case Item::What::EndRun:
      query = &*endRun;
      query->bindValue(0, HistoryTime::Text(item.calledMs));
      query->bindValue(1, item.runId);
      break;
    case Item::What::BeginIncident:
      query = &*insertIncident;
      query->bindValue(0, item.incident.url);
      query->bindValue(1, HistoryIncident::KindName(item.incident.kind));
      query->bindValue(2, HistoryTime::Text(item.incident.started.isValid() ? item.incident.started.toMSecsSinceEpoch()
                                                                            : item.calledMs));
      query->bindValue(3, item.incident.ended.isValid() ? QVariant(HistoryTime::Text(item.incident.ended))
                                                        : QVariant(QMetaType::fromType<QString>()));
      query->bindValue(4, item.incident.cause);
      break;
    case Item::What::EndIncident:
      query = &*endIncident;
      query->bindValue(0, HistoryTime::Text(item.incident.ended.isValid() ? item.incident.ended.toMSecsSinceEpoch()
                                                                          : item.calledMs));
      query->bindValue(1, item.incident.url);
      query->bindValue(2, HistoryIncident::KindName(item.incident.kind));
      break;
    }
    if (!query->exec()) {
      *error = query->lastError();
      QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
      return false;
    }
    if (item.what == Item::What::BeginRun) {
      const qint64 id = query->lastInsertId().toLongLong();
      (*begun)[item.seq] = id;
      openRuns.insert(id);
    } else if (item.what == Item::What::EndRun) {
      openRuns.remove(item.runId);
    }
  }
  if (!transaction.exec(QStringLiteral("COMMIT"))) {
    *error = transaction.lastError();
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return false;
  }
  return true;
}

// One batch of the retention: deletes the first PruneBatch samples (in id order) taken before
// `cutoff`. Done once no sample is older; then the runs that ended before the cutoff go too (and
// those that never ended and began before it, unless this store began them), and the incidents that
// ended before it.
Writer::Pruned Writer::PruneStep(const QString& cutoff, QSqlError* error) {
  QSqlDatabase& db = connection.Database();
  if (cutFor != cutoff) {
    if (const int code = HistoryBlocks::Cut(connection.Handle(), cutoff); code != SQLITE_OK) {
      *error = SqliteError(code);
      return Pruned::Failed;
    }
    cutFor = cutoff;
  }
  QSqlQuery query(db);
  // The oldest sample, from the index: the first time of every address.
  bool older = false;
  for (const QString& url : connection.Addresses(error)) {
    query.prepare(QStringLiteral("SELECT min(at_utc) FROM samples WHERE url = ?"));
    query.addBindValue(url);
    if (!query.exec() || !query.next()) {
      *error = query.lastError();
      return Pruned::Failed;
    }
    if (query.value(0).toString() < cutoff) {
      older = true;
      break;
    }
  }
  if (error->isValid())
    return Pruned::Failed;
  if (!older) {
    QStringList open;
    for (qint64 id : std::as_const(openRuns))
      open << QString::number(id);
    query.prepare(QStringLiteral("DELETE FROM runs WHERE ended_utc < ? OR (ended_utc IS NULL AND started_utc < ? "
                                 "AND id NOT IN (%1))")
                      .arg(open.join(QLatin1Char(','))));
    query.addBindValue(cutoff);
    query.addBindValue(cutoff);
    if (!query.exec()) {
      *error = query.lastError();
      return Pruned::Failed;
    }
    // Incidents that ended before the cutoff go with their samples; one that goes on stays.
    query.prepare(QStringLiteral("DELETE FROM incidents WHERE ended_utc < ?"));
    query.addBindValue(cutoff);
    if (!query.exec()) {
      *error = query.lastError();
      return Pruned::Failed;
    }
    return Pruned::Done;
  }
  query.prepare(
      QStringLiteral("SELECT id FROM samples WHERE at_utc < ? ORDER BY id LIMIT %1").arg(HistoryStore::PruneBatch));
  query.addBindValue(cutoff);
  if (!query.exec()) {
    *error = query.lastError();
    return Pruned::Failed;
  }
  qint64 lastId = -1;
  while (query.next())
    lastId = query.value(0).toLongLong();
  query.finish();
  if (lastId < 0)
    return Pruned::More; // an address's first time was older, yet no row: let the next step see
  query.prepare(QStringLiteral("DELETE FROM samples WHERE id <= ? AND at_utc < ?"));
  query.addBindValue(lastId);
  query.addBindValue(cutoff);
  if (!query.exec()) {
    *error = query.lastError();
    return Pruned::Failed;
  }
  return Pruned::More;
}

void Writer::Run() {
  {
    QString line;
    const bool opened = OpenFile(&line);
    QMutexLocker lock(&s->mutex);
    if (!opened) {
      s->TurnOff(line);
      return;
    }
    s->state = State::On;
    s->done.wakeAll();
  }

  QDeadlineTimer flushAt(HistoryStore::FlushIntervalMs);
  QElapsedTimer sincePrune; // since the last retention pass ended
  bool pruning = false;
  QString cutoff;
  // Sealing the hours that are over (HistoryBlocks), a step at a time between the commits: at once
  // after opening (which builds the blocks of an older file), then every SealIntervalMs.
  bool sealing = true;
  QDeadlineTimer sealAt(HistoryStore::SealIntervalMs);
  // Swapped with the queue at every commit and cleared after it, so that the queue gets its
  // capacity back and Append() seldom has to grow it.
  std::vector<Item> items;
  for (;;) {
    quint64 last = 0;
    bool commit = false;
    bool stopping = false;
    {
      QMutexLocker lock(&s->mutex);
      for (;;) {
        if (s->state != State::On)
          return; // turned off by the integrity check
        if (s->stop || s->flushNow || flushAt.hasExpired()) {
          commit = true;
          break;
        }
        if (pruning || s->pruneAsked || sealing)
          break;
        s->wake.wait(&s->mutex, flushAt);
      }
      if (commit) {
        items.swap(s->queue);
        last = s->queued;
        s->flushNow = false;
        stopping = s->stop;
      } else if (!pruning && s->pruneAsked) {
        s->pruneAsked = false;
        if (s->retentionDays > 0) {
          pruning = true;
          cutoff = HistoryTime::Text(QDateTime::currentMSecsSinceEpoch() - qint64(s->retentionDays) * 86400000);
        }
      }
    }

    QSqlError error;
    if (commit) {
      flushAt.setRemainingTime(HistoryStore::FlushIntervalMs);
      std::map<quint64, qint64> begun;
      if (!items.empty() && !Commit(items, &begun, &error)) {
        Fail(error);
        return;
      }
      items.clear();
      QMutexLocker lock(&s->mutex);
      s->begun.merge(begun);
      s->written = last;
      s->done.wakeAll();
      if (stopping)
        break;
      if (!pruning && sincePrune.isValid() && sincePrune.hasExpired(HistoryStore::PruneIntervalMs)) {
        s->pruneAsked = true;
        sincePrune.invalidate();
      }
      if (!sealing && sealAt.hasExpired())
        sealing = true;
    } else if (pruning) {
      switch (PruneStep(cutoff, &error)) {
      case Pruned::Failed: Fail(error); return;
      case Pruned::Done:
        pruning = false;
        sincePrune.start();
        sealing = true; // the hour the retention cut, sealed again
        break;
      case Pruned::More: break;
      }
    } else if (sealing) {
      // A failure leaves the blocks as they were (the rows are read instead); the next round tries
      // again.
      int code = SQLITE_OK;
      if (HistoryBlocks::Seal(connection.Handle(), QDateTime::currentMSecsSinceEpoch(), &code) !=
          HistoryBlocks::Step::More) {
        sealing = false;
        sealAt.setRemainingTime(HistoryStore::SealIntervalMs);
      }
    }
  }
  QMutexLocker lock(&s->mutex);
  if (s->state == State::On)
    s->state = State::Off;
  s->done.wakeAll();
}

// The integrity check after opening, on a connection of its own so that the writes go on: a file
// cut short or damaged in the middle reads well until the damaged part is reached.
void Check(const std::shared_ptr<Shared>& s) {
  HistoryConnection connection(s->path, HistoryConnection::Mode::ReadOnly);
  if (!connection.Open())
    return; // the writer's connection reports what matters
  {
    QMutexLocker lock(&s->mutex);
    if (s->stop || s->state != State::On)
      return;
    s->checking = connection.Handle();
  }
  SqliteStatement check(connection.Handle(), QStringLiteral("PRAGMA quick_check(1)"));
  const bool row = check.Step();
  const QByteArray verdict = row ? check.Text(0).toByteArray() : QByteArray();
  const int code = check.ErrorCode() & 0xff;
  QMutexLocker lock(&s->mutex);
  s->checking = nullptr;
  // Interrupted by Close(), or a lock: no verdict.
  if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB || (row && verdict != "ok"))
    s->TurnOff(HistoryProblem::OffLine(HistoryProblem::Kind::Damaged, s->path));
}

} // namespace

HistoryStore::HistoryStore(QObject* parent) : QObject(parent) {}

HistoryStore::~HistoryStore() {
  Close();
}

bool HistoryStore::Open(const QString& path) {
  Close();
  shared = std::make_shared<Shared>();
  shared->path = path;
  shared->store = this;
  shared->opening = ++openings;
  shared->retentionDays = retentionDays;
  writer.reset(QThread::create([s = shared] { Writer(s).Run(); }));
  writer->setObjectName(QStringLiteral("HistoryWriter"));
  writer->start();
  QString failure;
  {
    QMutexLocker lock(&shared->mutex);
    while (shared->state == State::Opening)
      shared->done.wait(&shared->mutex);
    if (shared->state == State::Off)
      failure = shared->failure;
  }
  if (!failure.isEmpty()) {
    writer->wait();
    writer.reset();
    emit Failed(failure);
    return false;
  }
  checker.reset(QThread::create([s = shared] { Check(s); }));
  checker->setObjectName(QStringLiteral("HistoryCheck"));
  checker->start(QThread::LowPriority);
  return true;
}

void HistoryStore::Close() {
  if (!writer)
    return;
  {
    QMutexLocker lock(&shared->mutex);
    shared->stop = true;
    shared->wake.wakeAll();
    if (shared->checking)
      sqlite3_interrupt(shared->checking);
  }
  if (checker) {
    checker->wait();
    checker.reset();
  }
  writer->wait();
  writer.reset();
}

void HistoryStore::Report(quint64 from, const QString& line) {
  if (from == openings)
    emit Failed(line);
}

bool HistoryStore::IsOn() const {
  if (!shared)
    return false;
  QMutexLocker lock(&shared->mutex);
  return shared->state == State::On;
}

QString HistoryStore::FailureText() const {
  if (!shared)
    return QString();
  QMutexLocker lock(&shared->mutex);
  return shared->failure;
}

qint64 HistoryStore::BeginRun(int samplers, double delaySeconds, double warning1Seconds, double warning2Seconds) {
  if (!shared)
    return -1;
  QMutexLocker lock(&shared->mutex);
  if (shared->state != State::On)
    return -1;
  Item& item = shared->Queue(Item::What::BeginRun);
  item.samplers = samplers;
  item.delay = delaySeconds;
  item.warning1 = warning1Seconds;
  item.warning2 = warning2Seconds;
  const quint64 seq = item.seq;
  shared->flushNow = true;
  shared->wake.wakeAll();
  while (shared->state == State::On && shared->written < seq)
    shared->done.wait(&shared->mutex);
  const auto found = shared->begun.find(seq);
  if (found == shared->begun.end())
    return -1;
  const qint64 id = found->second;
  shared->begun.erase(found);
  return id;
}

void HistoryStore::EndRun(qint64 runId) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (shared->state != State::On)
    return;
  shared->Queue(Item::What::EndRun).runId = runId;
}

void HistoryStore::Append(const HistorySample& sample) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (shared->state != State::On)
    return;
  shared->Queue(Item::What::Sample).sample = sample;
}

void HistoryStore::BeginIncident(const HistoryIncident& incident) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (shared->state != State::On)
    return;
  shared->Queue(Item::What::BeginIncident).incident = incident;
}

void HistoryStore::EndIncident(const QString& url, HistoryIncident::Kind kind, const QDateTime& ended) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (shared->state != State::On)
    return;
  HistoryIncident& incident = shared->Queue(Item::What::EndIncident).incident;
  incident.url = url;
  incident.kind = kind;
  incident.ended = ended;
}

QList<HistoryIncident> HistoryStore::OngoingIncidents() const {
  if (!shared)
    return {};
  QMutexLocker lock(&shared->mutex);
  return shared->state == State::On ? shared->ongoing : QList<HistoryIncident>();
}

bool HistoryStore::Flush() {
  if (!shared)
    return false;
  QMutexLocker lock(&shared->mutex);
  const quint64 target = shared->queued;
  shared->flushNow = true;
  shared->wake.wakeAll();
  while (shared->state == State::On && shared->written < target)
    shared->done.wait(&shared->mutex);
  return shared->state == State::On;
}

void HistoryStore::SetRetentionDays(int days) {
  retentionDays = qMax(0, days);
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  shared->retentionDays = retentionDays;
  shared->pruneAsked = true;
  shared->wake.wakeAll();
}
