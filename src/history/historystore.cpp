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

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <utility>

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
  // Opening: Open() waits. On: writing. Waiting: a lock, a full disk or an unwritable file stopped
  // the writing; the queue is kept and the file tried again every retryMs. Off: for good.
  enum class State { Opening, On, Waiting, Off };

  QString path;
  HistoryStore* store = nullptr; // outlives both threads: Close() waits for them
  quint64 opening = 0;           // which of the store's openings this is
  int retryMs = HistoryStore::RetryIntervalMs;

  QMutex mutex;
  QWaitCondition wake; // for the writer: a flush is due, or stop
  QWaitCondition done; // for the callers: the file is open, items are committed, or history is off
  State state = State::Opening;
  QString failure;
  std::deque<Item> queue;
  size_t samplesQueued = 0; // the Sample items in `queue`
  quint64 dropped = 0;      // samples dropped from a full queue, in all
  quint64 droppedUntold = 0;
  quint64 queued = 0;  // seq of the last item queued
  quint64 written = 0; // seq of the last item committed
  bool flushNow = false;
  bool stop = false;
  std::map<quint64, qint64> runIds; // the ids of the runs written, by the seq of their BeginRun
  int retentionDays = HistoryStore::DefaultRetentionDays;
  bool pruneAsked = true;
  QString closingLine;            // the samples a Close() could not write, for Close() to tell
  QList<HistoryIncident> ongoing; // the incidents going on when the file was opened
  sqlite3* checking = nullptr;    // the integrity check's connection while it runs

  // Queues an item (the caller holds the mutex). A sample beyond the queue's bound pushes out the
  // oldest queued sample.
  Item& Queue(Item::What what) {
    if (what == Item::What::Sample) {
      if (samplesQueued >= HistoryStore::MaxQueuedSamples)
        DropOldestSample();
      ++samplesQueued;
    }
    Item& item = queue.emplace_back();
    item.what = what;
    item.seq = ++queued;
    item.calledMs = QDateTime::currentMSecsSinceEpoch();
    return item;
  }

  void DropOldestSample() {
    const auto oldest =
        std::find_if(queue.begin(), queue.end(), [](const Item& item) { return item.what == Item::What::Sample; });
    if (oldest == queue.end())
      return;
    queue.erase(oldest);
    --samplesQueued;
    ++dropped;
    ++droppedUntold;
  }

  // Items that could not be written go back in front of those queued since, in their order.
  void PutBack(std::deque<Item>& items) {
    for (const Item& item : items)
      if (item.what == Item::What::Sample)
        ++samplesQueued;
    queue.insert(queue.begin(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
    items.clear();
    while (samplesQueued > HistoryStore::MaxQueuedSamples)
      DropOldestSample();
  }

  // Tells the store, on its own thread, unless it has opened a file anew meanwhile.
  void Tell(const QString& line, bool back) const {
    HistoryStore* target = store;
    const quint64 from = opening;
    QMetaObject::invokeMethod(
        target, [target, from, line, back] { target->Report(from, line, back); }, Qt::QueuedConnection);
  }

  // Turns history off for good, once, and drops what is queued (counted with the dropped samples). A
  // failure after the file opened is reported through the store's Failed(); one while opening, by
  // Open() itself; one at the last try of a Close(), to nobody.
  void TurnOff(const QString& line) {
    if (state == State::Off)
      return;
    const bool report = state == State::On || (state == State::Waiting && !stop);
    state = State::Off;
    failure = line;
    dropped += samplesQueued;
    queue.clear();
    samplesQueued = 0;
    done.wakeAll();
    wake.wakeAll();
    if (report)
      Tell(line, false);
  }

  // Writing stopped for a fault that may pass: the queue stays and the writer tries again later.
  // Reported like TurnOff(), once per stop.
  void StartWaiting(const QString& line) {
    if (state == State::Off || state == State::Waiting)
      return;
    const bool report = state == State::On;
    state = State::Waiting;
    failure = line;
    done.wakeAll();
    if (report)
      Tell(line, false);
  }
};

namespace {

using Shared = HistoryStoreShared;
using State = HistoryStoreShared::State;

// Whether the store takes items: writing, or waiting for a fault to pass.
bool Takes(State state) {
  return state == State::On || state == State::Waiting;
}

// The writer thread: opens the file, then commits the queue at every flush and deletes old
// samples in between. A fault that may pass (a lock, a full disk, a file it may not write) stops
// the writing for a while: the queue is kept and the file opened anew every retry interval.
class Writer {
public:
  explicit Writer(std::shared_ptr<Shared> shared) : s(std::move(shared)) {}
  void Run();

private:
  enum class Pruned { More, Done, Failed };
  // How the writing ended: asked to stop (or turned off by the integrity check), or by a fault.
  enum class Ended { Stopped, Fault };

  // Opens the file on a fresh connection; false with the fault's kind.
  bool OpenFile(HistoryProblem::Kind* kind);
  void CloseFile();
  // Commits and prunes until stopped or a fault; `back`: the writing resumed after a fault, to be
  // told once the queued samples are written.
  Ended Work(bool back, QSqlError* error);
  // The incidents that go on in the file, oldest first; false when they cannot be read.
  bool ReadOngoing(QList<HistoryIncident>* incidents, QSqlError* error);
  bool Commit(const std::deque<Item>& items, std::map<quint64, qint64>* begun, QSqlError* error);
  Pruned PruneStep(const QString& cutoff, QSqlError* error);
  // The id of a run for the file: a run begun while history waited has an id that stands for its
  // BeginRun (HistoryStore::BeginRun), which is written before the samples of the run.
  qint64 FileRunId(qint64 runId, const std::map<quint64, qint64>& begun) const;

  std::shared_ptr<Shared> s;
  std::optional<HistoryConnection> connection;
  // Prepared once the file is open; destroyed before the connection.
  std::optional<QSqlQuery> insertSample;
  std::optional<QSqlQuery> insertRun;
  std::optional<QSqlQuery> endRun;
  std::optional<QSqlQuery> insertIncident;
  std::optional<QSqlQuery> endIncident;
  QSet<qint64> openRuns;             // begun by this store and not yet ended
  std::map<quint64, qint64> runIdOf; // the ids of the runs written, by the seq of their BeginRun
  bool ongoingRead = false;          // the incidents going on were read at the first opening
  QString cutFor;                    // the retention cutoff whose hours the blocks have given up
};

qint64 Writer::FileRunId(qint64 runId, const std::map<quint64, qint64>& begun) const {
  if (runId >= -1)
    return runId;
  const quint64 seq = quint64(-runId - 1);
  if (const auto found = begun.find(seq); found != begun.end())
    return found->second;
  const auto found = runIdOf.find(seq);
  return found == runIdOf.end() ? -1 : found->second;
}

void Writer::CloseFile() {
  insertSample.reset();
  insertRun.reset();
  endRun.reset();
  insertIncident.reset();
  endIncident.reset();
  connection.reset();
}

bool Writer::OpenFile(HistoryProblem::Kind* kind) {
  CloseFile();
  // The caller closes the connection (after the queries here are gone).
  const auto problem = [&](HistoryProblem::Kind found) {
    *kind = found;
    return false;
  };
  connection.emplace(s->path, HistoryConnection::Mode::ReadWrite);
  if (!connection->Open())
    return problem(HistoryProblem::Of(connection->Error()));
  QSqlDatabase& db = connection->Database();
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
  // What went on when the program started; at a later opening (after a fault) the file also holds
  // what this program began since.
  if (ongoingRead)
    return true;
  QList<HistoryIncident> ongoing;
  if (!ReadOngoing(&ongoing, &error))
    return problem(HistoryProblem::Of(error));
  ongoingRead = true;
  QMutexLocker lock(&s->mutex);
  s->ongoing = ongoing;
  return true;
}

bool Writer::ReadOngoing(QList<HistoryIncident>* incidents, QSqlError* error) {
  QSqlQuery query(connection->Database());
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

bool Writer::Commit(const std::deque<Item>& items, std::map<quint64, qint64>* begun, QSqlError* error) {
  QSqlDatabase& db = connection->Database();
  QSet<qint64> begunIds;
  QSet<qint64> endedIds;
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
      query->bindValue(3, IntOrNull(FileRunId(sample.runId, *begun), 1));
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
      query->bindValue(1, FileRunId(item.runId, *begun));
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
      begunIds.insert(id);
    } else if (item.what == Item::What::EndRun) {
      endedIds.insert(FileRunId(item.runId, *begun));
    }
  }
  if (!transaction.exec(QStringLiteral("COMMIT"))) {
    *error = transaction.lastError();
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return false;
  }
  openRuns.unite(begunIds);
  openRuns.subtract(endedIds);
  runIdOf.insert(begun->begin(), begun->end());
  return true;
}

// One batch of the retention: deletes the first PruneBatch samples (in id order) taken before
// `cutoff`. Done once no sample is older; then the runs that ended before the cutoff go too (and
// those that never ended and began before it, unless this store began them), and the incidents that
// ended before it.
Writer::Pruned Writer::PruneStep(const QString& cutoff, QSqlError* error) {
  QSqlDatabase& db = connection->Database();
  if (cutFor != cutoff) {
    if (const int code = HistoryBlocks::Cut(connection->Handle(), cutoff); code != SQLITE_OK) {
      *error = SqliteError(code);
      return Pruned::Failed;
    }
    cutFor = cutoff;
  }
  QSqlQuery query(db);
  // The oldest sample, from the index: the first time of every address.
  bool older = false;
  for (const QString& url : connection->Addresses(error)) {
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
  bool back = false;    // the writing resumes after a fault
  bool lastTry = false; // asked to stop while waiting: one more try to write what is queued
  for (;;) {
    HistoryProblem::Kind kind = HistoryProblem::Kind::Damaged;
    if (OpenFile(&kind)) {
      {
        QMutexLocker lock(&s->mutex);
        if (s->state == State::Off)
          break; // the integrity check found the file damaged meanwhile
        // After a fault the store stays waiting until what was queued is written.
        if (!back) {
          s->state = State::On;
          s->done.wakeAll();
        }
      }
      QSqlError error;
      if (Work(back, &error) == Ended::Stopped)
        break;
      kind = HistoryProblem::Of(error);
    }
    CloseFile(); // the file is not held while waiting
    QMutexLocker lock(&s->mutex);
    // A lock, a full disk or a file that may not be written can pass; a damaged or newer file stays.
    const bool passing = kind == HistoryProblem::Kind::Locked || kind == HistoryProblem::Kind::Unwritable;
    if (!passing || lastTry) {
      if (passing && s->samplesQueued > 0)
        s->closingLine = HistoryProblem::NotWrittenLine(kind, s->path, s->samplesQueued);
      s->TurnOff(HistoryProblem::OffLine(kind, s->path));
      break;
    }
    s->StartWaiting(HistoryProblem::RetryLine(kind, s->path, s->retryMs));
    back = true;
    const QDeadlineTimer retryAt(s->retryMs);
    while (!s->stop && s->state == State::Waiting && !retryAt.hasExpired())
      s->wake.wait(&s->mutex, retryAt);
    if (s->state == State::Off)
      break;
    lastTry = s->stop;
  }
  CloseFile();
}

Writer::Ended Writer::Work(bool back, QSqlError* error) {
  QDeadlineTimer flushAt(HistoryStore::FlushIntervalMs);
  QElapsedTimer sincePrune; // since the last retention pass ended
  bool pruning = false;
  QString cutoff;
  // Sealing the hours that are over (HistoryBlocks), a step at a time between the commits: at once
  // after opening (which builds the blocks of an older file), then every SealIntervalMs.
  bool sealing = true;
  QDeadlineTimer sealAt(HistoryStore::SealIntervalMs);
  // Swapped with the queue at every commit and cleared after it.
  std::deque<Item> items;
  for (;;) {
    quint64 last = 0;
    bool commit = false;
    bool stopping = false;
    {
      QMutexLocker lock(&s->mutex);
      for (;;) {
        if (s->state == State::Off)
          return Ended::Stopped; // turned off by the integrity check
        if (s->stop || s->flushNow || flushAt.hasExpired() || back) {
          commit = true;
          break;
        }
        if (pruning || s->pruneAsked || sealing)
          break;
        s->wake.wait(&s->mutex, flushAt);
      }
      if (commit) {
        items.swap(s->queue);
        s->samplesQueued = 0;
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

    if (commit) {
      flushAt.setRemainingTime(HistoryStore::FlushIntervalMs);
      std::map<quint64, qint64> begun;
      // Back after a fault, an empty transaction too: it shows whether the file can be written.
      if ((back || !items.empty()) && !Commit(items, &begun, error)) {
        QMutexLocker lock(&s->mutex);
        s->PutBack(items);
        return Ended::Fault;
      }
      const auto samples =
          std::count_if(items.begin(), items.end(), [](const Item& item) { return item.what == Item::What::Sample; });
      items.clear();
      QMutexLocker lock(&s->mutex);
      s->runIds.insert(begun.begin(), begun.end());
      s->written = last;
      if (std::exchange(back, false)) {
        s->state = State::On;
        s->failure.clear();
        s->Tell(HistoryProblem::BackLine(s->path, quint64(samples), s->droppedUntold), true);
        s->droppedUntold = 0;
      }
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
      switch (PruneStep(cutoff, error)) {
      case Pruned::Failed: return Ended::Fault;
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
      if (HistoryBlocks::Seal(connection->Handle(), QDateTime::currentMSecsSinceEpoch(), &code) !=
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
  return Ended::Stopped;
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
  shared->retryMs = retryMs;
  writer.reset(QThread::create([s = shared] { Writer(s).Run(); }));
  writer->setObjectName(QStringLiteral("HistoryWriter"));
  writer->start();
  QString failure;
  bool off = false;
  {
    QMutexLocker lock(&shared->mutex);
    while (shared->state == State::Opening)
      shared->done.wait(&shared->mutex);
    failure = shared->state == State::On ? QString() : shared->failure;
    off = shared->state == State::Off;
  }
  if (off) {
    writer->wait();
    writer.reset();
  }
  if (!failure.isEmpty()) {
    emit Failed(failure); // off for good, or waiting: the writer tries again
    return false;
  }
  StartCheck();
  return true;
}

void HistoryStore::StartCheck() {
  if (checker || !shared)
    return;
  checker.reset(QThread::create([s = shared] { Check(s); }));
  checker->setObjectName(QStringLiteral("HistoryCheck"));
  checker->start(QThread::LowPriority);
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
  QString lost;
  {
    QMutexLocker lock(&shared->mutex);
    lost = std::exchange(shared->closingLine, QString());
  }
  if (!lost.isEmpty())
    emit Failed(lost);
}

void HistoryStore::Report(quint64 from, const QString& line, bool back) {
  if (from != openings)
    return;
  if (back) {
    // A file that could not be opened at first is checked now.
    StartCheck();
    emit Restored(line);
  } else {
    emit Failed(line);
  }
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

quint64 HistoryStore::DroppedSamples() const {
  if (!shared)
    return 0;
  QMutexLocker lock(&shared->mutex);
  return shared->dropped;
}

void HistoryStore::SetRetryIntervalMs(int ms) {
  retryMs = qMax(1, ms);
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  shared->retryMs = retryMs;
}

qint64 HistoryStore::BeginRun(int samplers, double delaySeconds, double warning1Seconds, double warning2Seconds) {
  if (!shared)
    return NoRun;
  QMutexLocker lock(&shared->mutex);
  if (!Takes(shared->state))
    return NoRun;
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
  const auto found = shared->runIds.find(seq);
  if (found != shared->runIds.end())
    return found->second;
  // Not written (history waits for a fault to pass): an id that stands for this BeginRun until then.
  return Takes(shared->state) ? -qint64(seq) - 1 : NoRun;
}

qint64 HistoryStore::RunIdOf(qint64 runId) const {
  if (runId >= NoRun || !shared)
    return runId;
  QMutexLocker lock(&shared->mutex);
  const auto found = shared->runIds.find(quint64(-runId - 1));
  return found == shared->runIds.end() ? runId : found->second;
}

void HistoryStore::EndRun(qint64 runId) {
  if (!shared || runId == NoRun)
    return;
  QMutexLocker lock(&shared->mutex);
  if (!Takes(shared->state))
    return;
  shared->Queue(Item::What::EndRun).runId = runId;
}

void HistoryStore::Append(const HistorySample& sample) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (!Takes(shared->state))
    return;
  shared->Queue(Item::What::Sample).sample = sample;
}

void HistoryStore::BeginIncident(const HistoryIncident& incident) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (!Takes(shared->state))
    return;
  shared->Queue(Item::What::BeginIncident).incident = incident;
}

void HistoryStore::EndIncident(const QString& url, HistoryIncident::Kind kind, const QDateTime& ended) {
  if (!shared)
    return;
  QMutexLocker lock(&shared->mutex);
  if (!Takes(shared->state))
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
  return Takes(shared->state) ? shared->ongoing : QList<HistoryIncident>();
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
