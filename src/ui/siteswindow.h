#pragma once

#include "history/historyquery.h"
#include "history/historyspan.h"
#include "ui/historyaccess.h"

#include <QStringList>
#include <QWidget>

class HistorySummaryModel;
class IncidentsModel;
class LiveRefresh;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTableView;

// The "Sites" window: one line per address over a chosen span, with its status, up share, samples,
// failures, errors, loss, ping percentiles, the mean of each phase and the end of its certificate
// (HistorySummaryModel), the reference addresses after the sites; below, the incidents of the
// selected sites over the span (IncidentsModel; of every site while none is selected). "Chart"
// (Enter, a double click) opens a LatencyChart of the selected sites, "Export..." writes the samples
// of the span (of the selected addresses, or of all) to a CSV or JSON Lines file, "Refresh" (F5)
// reads the figures again; so does showing the window.
//
// The figures are read on a pool thread; meanwhile the window says "Loading..." and stays usable,
// and a result that arrives after the span changed again is dropped. When history is off, the
// file does not exist or cannot be read, one line says so in place of the table.
//
// Live: while the window shows and its span reaches the present, it reads its figures again
// every five seconds, and soon after a sample of an address is recorded (SampleRecorded(): at
// most once a second, never while a read is under way); the selection, the current line, the
// sort order and the scroll position stay. The span, the sort order and the window's place are
// remembered (ViewSettings). Escape and Ctrl+W close it.
class SitesWindow : public QWidget {
  Q_OBJECT
public:
  explicit SitesWindow(HistoryAccess access, QWidget* parent = nullptr);
  ~SitesWindow() override;

  // Reads the figures of the chosen span again.
  void Refresh();
  // A read started by Refresh() has not come back yet.
  bool Loading() const { return loading; }
  // An export has not finished yet.
  bool Exporting() const { return exporting; }
  // Reads made by the live refresh (for tests and the benchmark).
  int LiveReads() const;
  // Reading again by itself every few seconds: shown, and the span reaches the present.
  bool Live() const;

  HistorySpan::Preset Span() const;
  void SetSpan(HistorySpan::Preset preset);
  // The addresses of the selected lines, in the table's order; `sitesOnly` leaves out references.
  QStringList SelectedAddresses(bool sitesOnly = false) const;

  // What the buttons do.
  void OpenChart();
  void Export();

  // A sample or reference ping of `url` was recorded: the window (and its charts) read again soon.
  void SampleRecorded(const QString& url);

signals:
  // Passed on to the charts opened from this window.
  void Recorded(const QString& url);

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  struct Loaded {
    QList<SiteSummary> lines;
    QList<HistoryIncident> incidents; // of the span
    QString error;
  };
  void ShowIncidents();
  void Show(const Loaded& loaded);
  void ShowLine(const QString& line);
  void UpdateButtons();
  void UpdateLive();
  void FitColumns(bool all);

  HistoryAccess access;
  HistorySummaryModel* model;
  IncidentsModel* incidents;
  QComboBox* span;
  QStackedWidget* pages;
  QTableView* table;
  QLabel* message;
  QLabel* status;
  QTableView* incidentsTable;
  QLabel* incidentsLabel;
  QPushButton* chartButton;
  QPushButton* exportButton;
  QPushButton* refreshButton;
  LiveRefresh* live;
  quint64 generation = 0; // of the latest Refresh(): older results are dropped
  bool loading = false;
  bool exporting = false;
  bool wasReset = false; // the model was reset by the figures just set
};
