#pragma once

#include "history/historyspan.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <utility>

class HistoryRecorder;
class HistoryStore;
class QComboBox;
class QWidget;
struct RunSettings;

// What the Sites window and the latency chart need from the program: the history file and a few
// callables into the running program. Every callable may be left empty.
struct HistoryAccess {
  // Asks the user for a file to write: (parent, caption, suggested file name, name filters as for
  // QFileDialog) -> the chosen path, empty when cancelled.
  using SaveFileName = std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;

  QString path;                                        // the history file
  std::function<qint64()> currentRunId;                // the id of this run (HistoryStore::BeginRun()); 0 or less: none
  std::function<void()> beforeQuery;                   // commits what the store has queued (HistoryStore::Flush())
  std::function<QString()> offLine;                    // why history is off, in one line; empty while it is on
  std::function<std::pair<double, double>()> warnings; // the two warning values, in seconds
  std::function<bool()> testing;                       // testing is on: the run of currentRunId goes on
  SaveFileName saveFileName = AskSaveFileName;

  qint64 RunId() const { return currentRunId ? currentRunId() : 0; }
  bool Testing() const { return testing && testing(); }
  // Whether the span of a preset reaches the present: every preset but "This run", which does
  // while testing is on.
  bool ReachesPresent(HistorySpan::Preset preset) const { return preset != HistorySpan::Preset::ThisRun || Testing(); }
  QString OffLine() const { return offLine ? offLine() : QString(); }
  void BeforeQuery() const {
    if (beforeQuery)
      beforeQuery();
  }
  // The span of a preset now.
  HistorySpan SpanOf(HistorySpan::Preset preset) const { return HistorySpan::Of(preset, RunId()); }

  // The access of the window's runs: the file at `path`, the run and the news of `recorder`, the
  // store's flush and failure, the warning values of `settings`. The store and the recorder may be
  // missing (no history kept by this window), and the recorder may go before the windows.
  static HistoryAccess Of(const QString& path, HistoryStore* store, HistoryRecorder* recorder,
                          const RunSettings& settings);

  // A save dialog (QFileDialog) in the user's home folder, which adds the ending of the chosen
  // filter to a name typed without one.
  static QString AskSaveFileName(QWidget* parent, const QString& caption, const QString& name, const QString& filters);
};

// The span choices of both windows: "This run", "Last hour", "24 hours", "7 days", "30 days", "All".
namespace HistorySpanChoice {
void Fill(QComboBox* combo, HistorySpan::Preset selected);
HistorySpan::Preset Of(const QComboBox* combo);
void Select(QComboBox* combo, HistorySpan::Preset preset);
} // namespace HistorySpanChoice

// Runs `work` on a thread of the global pool and hands its result to `done` on the thread of
// `owner`. When `owner` is gone by then, the result is dropped. (Qt 6.4's QFuture::then(context,
// ...) must not outlive its context; a watcher owned by `owner` goes with it.)
template <typename T, typename Work, typename Done>
void InBackground(QObject* owner, Work work, Done done) {
  auto promise = std::make_shared<QPromise<T>>();
  auto* watcher = new QFutureWatcher<T>(owner);
  QObject::connect(watcher, &QFutureWatcherBase::finished, owner, [watcher, done = std::move(done)]() mutable {
    watcher->deleteLater();
    done(watcher->result());
  });
  watcher->setFuture(promise->future());
  promise->start();
  QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
    promise->addResult(work());
    promise->finish();
  });
}
