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
// A file that is damaged (not a database, truncated: also found by an integrity check in the
// background after opening), locked by another program for longer than
// HistoryConnection::LockWaitMs, that cannot be written, or that a newer version wrote, turns
// history off: the store emits Failed() once with one line for the status bar, drops what was
// queued, and every later call does nothing (BeginRun() gives -1). The caller goes on; the next
// Open() tries again.
//
// Use the store from the thread it lives in; Failed() is emitted there.
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
  // The hours that are over are sealed (HistoryBlocks) after opening and at this interval.
  static constexpr int SealIntervalMs = 60 * 1000;

  explicit HistoryStore(QObject* parent = nullptr);
  ~HistoryStore() override; // closes (writes what is queued)

  // Opens the file, creating it when missing, and brings its layout up to date (HistorySchema).
  // Waits for that: milliseconds, or up to LockWaitMs while another program holds a lock. False
  // when history is off: FailureText() says why, and Failed() has been emitted with that line.
  bool Open(const QString& path);
  // Writes what is queued and closes the file. History stays off until the next Open().
  void Close();
  // Open, and not turned off by a failure.
  bool IsOn() const;
  // The line of the failure that turned history off; empty when none did.
  QString FailureText() const;

  // Starts a run: writes its row in `runs` (started now) and returns its id (> 0) for
  // HistorySample::runId. Waits for the writer thread (milliseconds). -1 when history is off.
  qint64 BeginRun(int samplers, double delaySeconds, double warning1Seconds, double warning2Seconds);
  // Records the end of a run (now). Queued like a sample.
  void EndRun(qint64 runId);
  // Queues a sample for the next commit.
  void Append(const HistorySample& sample);
  // Records the start of an incident (a row of `incidents` that goes on). Queued like a sample.
  void BeginIncident(const HistoryIncident& incident);
  // Records the end of the incident of that url and kind that goes on (of every such incident, should
  // the file hold more than one). Queued like a sample.
  void EndIncident(const QString& url, HistoryIncident::Kind kind, const QDateTime& ended);
  // The incidents the file held as going on when it was opened, oldest first; none while history
  // is off.
  QList<HistoryIncident> OngoingIncidents() const;
  // Waits until everything queued so far is committed. False when history is off.
  bool Flush();

  // Samples taken more than this many days ago are deleted in the background; 0 keeps every
  // sample. Values below 0 count as 0. Takes effect at once when open.
  void SetRetentionDays(int days);
  int RetentionDays() const { return retentionDays; }

signals:
  // History turned itself off; `line` says why ("History is off: history.sqlite is damaged").
  void Failed(const QString& line);

private:
  friend struct HistoryStoreShared;
  void Report(quint64 from, const QString& line);

  std::shared_ptr<HistoryStoreShared> shared; // with the writer and checker threads
  std::unique_ptr<QThread> writer;
  std::unique_ptr<QThread> checker;
  int retentionDays = DefaultRetentionDays;
  quint64 openings = 0;
};
