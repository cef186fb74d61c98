#pragma once

#include <QObject>

class HistoryStore;
class TestCycle;
struct CompletedReference;
struct CompletedSample;
struct RunSettings;

// Keeps the test cycle's samples in the history: every completed sample (accepted, failed or
// cancelled) with every attempt its row made before it, and every reference ping, each run between switching on and off
// as a run of the history. Does nothing while the store is off.
class HistoryRecorder : public QObject {
  Q_OBJECT
public:
  HistoryRecorder(TestCycle& cycle, const RunSettings& settings, HistoryStore& store, QObject* parent = nullptr);

  // The run under way, or -1 when testing is off (or the history is).
  qint64 RunId() const { return runId; }
  // The run under way or, while testing is off, the last one; -1 before the first.
  qint64 LatestRunId() const { return latestRunId; }

  void RecordSample(const CompletedSample& sample);
  void RecordReference(const CompletedReference& reference);
  void TestingChanged(bool on);
  // The settings a run is recorded with changed while testing: the run under way ends and a new one
  // begins with them.
  void NewRun();

signals:
  // A sample or reference ping of `url` went to the store (it is in the file after its next commit,
  // or after HistoryStore::Flush()). What the windows that show the history listen to.
  void Recorded(const QString& url);

private:
  const RunSettings& settings;
  HistoryStore& store;
  qint64 runId = -1;
  qint64 latestRunId = -1;
};
