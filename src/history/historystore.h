#pragma once

#include "history/historyincident.h"
#include "history/historysample.h"

#include <QObject>
#include <QString>

#include <memory>

class QThread;
struct HistoryStoreShared;

// The history's writer: appends samples and runs to the history file (SQLite through Qt SQL, WAL
// mode) from a thread of its own, and deletes samples older than the retention in the background.
//
// Append() only queues the sample (about a microsecond on the caller's thread). The writer thread
// commits what is queued every FlushIntervalMs, in one transaction, so a program killed at any
// moment loses at most the samples of the last fraction of a second, never the file.
//
// A fault that may pass (another program holds a lock longer than HistoryConnection::LockWaitMs, a
// full disk, a file or folder that cannot be written) stops the writing for a while: the store
// emits Failed() once with one line for the status bar, keeps queueing (at most MaxQueuedSamples
// samples: beyond that the oldest are dropped and counted) and opens the file anew every retry
// interval (RetryIntervalMs). Once the queued samples are written it emits Restored() with one
// line. A file that is damaged (not a database, truncated: also found by an integrity check in
// the background after opening) or that a newer version wrote turns history off for good: Failed()
// once, what was queued is dropped, and every later call does nothing (BeginRun() gives NoRun).
// The caller goes on either way; the next Open() tries again.
//
// Use the store from the thread it lives in; Failed() and Restored() are emitted there.
class HistoryStore : public QObject {
  Q_OBJECT
public:
  static constexpr int FlushIntervalMs = 250;
  static constexpr int DefaultRetentionDays = 90;
  // The retention is applied when the file opens, when it changes, and at this interval.
  static constexpr int PruneIntervalMs = 3600 * 1000;
  // Old samples are deleted this many at a time, each batch in a transaction of its own, with the
  // queued samples written in between.
  static constexpr int PruneBatch = 5000;
  // While a fault stops the writing: how often the file is tried again, and how many samples wait
  // in memory at most.
  static constexpr int RetryIntervalMs = 30 * 1000;
  static constexpr size_t MaxQueuedSamples = 100000;
  // BeginRun()'s answer when history is off.
  static constexpr qint64 NoRun = -1;
  // The hours that are over are sealed (HistoryBlocks) after opening and at this interval.
  static constexpr int SealIntervalMs = 60 * 1000;

  explicit HistoryStore(QObject* parent = nullptr);
  ~HistoryStore() override; // closes (writes what is queued)

  // Opens the file, creating it when missing, and brings its layout up to date (HistorySchema).
  // Waits for that: milliseconds, or up to LockWaitMs while another program holds a lock. False
  // when history is not on: FailureText() says why, and Failed() has been emitted with that line;
  // for a fault that may pass the store goes on queueing and tries again (see above).
  bool Open(const QString& path);
  // Writes what is queued and closes the file; while a fault stops the writing, one last try is
  // made first, and when it fails Failed() says how many samples were not written. History stays
  // off until the next Open().
  void Close();
  // Writing: open, and neither waiting for a fault to pass nor turned off.
  bool IsOn() const;
  // The line of the fault that stopped the writing or turned history off; empty while it writes.
  QString FailureText() const;
  // Samples that never reached the file since Open(): dropped from a full queue while a fault
  // stopped the writing, or queued when history turned off for good.
  quint64 DroppedSamples() const;
  // The retry interval, for a test; RetryIntervalMs unless changed. Takes effect at the next wait.
  void SetRetryIntervalMs(int ms);

  // Starts a run: writes its row in `runs` (started now) and returns its id (> 0) for
  // HistorySample::runId. Waits for the writer thread (milliseconds). NoRun when history is off.
  // While a fault stops the writing it returns at once with an id below NoRun that stands for the
  // run until its row is written; samples and EndRun() take it all the same, and RunIdOf() gives
  // the file's id once there is one.
  qint64 BeginRun(int samplers, double delaySeconds, double warning1Seconds, double warning2Seconds);
  // The file's id of a run BeginRun() returned; the id itself while its row is not written yet.
  qint64 RunIdOf(qint64 runId) const;
  // Records the end of a run (now). Queued like a sample.
  void EndRun(qint64 runId);
  // Queues a sample for the next commit.
  void Append(const HistorySample& sample);
  // Records the start of an incident (a row of `incidents` that goes on). Queued like a sample.
  void BeginIncident(const HistoryIncident& incident);
  // Records the end of the incident of that url and kind that goes on (of every such incident, should
  // the file hold more than one). Queued like a sample.
  void EndIncident(const QString& url, HistoryIncident::Kind kind, const QDateTime& ended);
  // The incidents the file held as going on when it was first opened, oldest first; none while
  // history is off, or while a fault that came before the first opening lasts.
  QList<HistoryIncident> OngoingIncidents() const;
  // Waits until everything queued so far is committed. False (at once) when history is not on.
  bool Flush();

  // Samples taken more than this many days ago are deleted in the background; 0 keeps every
  // sample. Values below 0 count as 0. Takes effect at once when open.
  void SetRetentionDays(int days);
  int RetentionDays() const { return retentionDays; }

signals:
  // History stopped writing; `line` says why ("History is off: history.sqlite is damaged", or for a
  // fault that may pass "...; trying again every 30 s").
  void Failed(const QString& line);
  // The writing resumed after a fault and what was queued is written; `line` says so ("History is
  // on again: 312 queued samples written to history.sqlite").
  void Restored(const QString& line);

private:
  friend struct HistoryStoreShared;
  void Report(quint64 from, const QString& line, bool back);
  void StartCheck();

  std::shared_ptr<HistoryStoreShared> shared; // with the writer and checker threads
  std::unique_ptr<QThread> writer;
  std::unique_ptr<QThread> checker;
  int retentionDays = DefaultRetentionDays;
  int retryMs = RetryIntervalMs;
  quint64 openings = 0;
};
