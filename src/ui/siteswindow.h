#pragma once

#include "history/historyquery.h"
#include "history/historyspan.h"
#include "ui/historyaccess.h"

#include <QStringList>
#include <QWidget>

class HistorySummaryModel;
class IncidentsModel;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTableView;

// The "Sites" window: one line per address over a chosen span, with its status, up share, samples,
// failures, errors, loss, ping percentiles, the mean of each phase and the end of its certificate
// (HistorySummaryModel), the reference addresses after the sites; below, the incidents of the
// selected sites over the span (IncidentsModel; of every site while none is selected). "Chart" opens a LatencyChart of the selected sites, "Export..." writes the samples of
// the span (of the selected addresses, or of all) to a CSV or JSON Lines file, "Refresh" reads the
// figures again; so does showing the window.
//
// The figures are read on a pool thread; meanwhile the window says "Loading..." and stays usable,
// and a result that arrives after the span changed again is dropped. When history is off, the
// file does not exist or cannot be read, one line says so in place of the table.
class SitesWindow : public QWidget {
  Q_OBJECT
public:
  explicit SitesWindow(HistoryAccess access, QWidget* parent = nullptr);

  // Reads the figures of the chosen span again.
  void Refresh();
  // A read started by Refresh() has not come back yet.
  bool Loading() const { return loading; }
  // An export has not finished yet.
  bool Exporting() const { return exporting; }

  HistorySpan::Preset Span() const;
  void SetSpan(HistorySpan::Preset preset);
  // The addresses of the selected lines, in the table's order; `sitesOnly` leaves out references.
  QStringList SelectedAddresses(bool sitesOnly = false) const;

  // What the buttons do.
  void OpenChart();
  void Export();

protected:
  void showEvent(QShowEvent* event) override;

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
  quint64 generation = 0; // of the latest Refresh(): older results are dropped
  bool loading = false;
  bool exporting = false;
};
