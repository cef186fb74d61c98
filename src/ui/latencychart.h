#pragma once

#include "history/historyquery.h"
#include "history/historyspan.h"
#include "ui/historyaccess.h"

#include <QPoint>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QPushButton;
class QValueAxis;
class QXYSeries;

// A chart window of the latency of some sites over a span: for every time bucket of the span
// (HistoryQuery::Chart()) the median ping as a line with the p10-p90 band around it as a shaded
// area, the failures as red marks on the time axis, the two warning values as dashed
// lines and the reference pings as faint lines. "Phases" shows instead the mean phases of one site's
// buckets stacked (name lookup, connect, TLS, first byte, transfer). Resting the mouse on the chart
// shows the nearest sample of the nearest line in a tooltip: its time, ping and phases.
// "Save as PNG..." writes the chart as it is shown.
//
// Series carry object names for what they show: "median", "band", "failures", "warning1",
// "warning2", "reference", and "phase" in the phase view; a line cut by a gap in the samples is
// several series of one name, of which only the first has a legend entry; the references share
// one entry ("Reference pings"), so do the failures of every site ("Failures"). The property "url"
// names the address of a median, band, failures, reference or phase series.
class LatencyChart : public QWidget {
  Q_OBJECT
public:
  // How long the mouse rests before the nearest sample is looked up.
  static constexpr int HoverPauseMs = 300;

  LatencyChart(HistoryAccess access, QStringList urls, HistorySpan::Preset preset, QWidget* parent = nullptr);

  // Reads the chart of the chosen span again (on a pool thread).
  void Refresh();
  bool Loading() const { return loading; }

  HistorySpan::Preset Span() const;
  void SetSpan(HistorySpan::Preset preset);
  QStringList Urls() const { return urls; }
  void SetPhaseView(bool on);
  bool PhaseView() const;

  // Draws a chart that was read (the window's thread; Refresh() calls it).
  void Draw(const HistoryChart& data);

  QChart* Chart() const { return chart; }
  QChartView* View() const { return view; }

  // Writes the chart as shown to a PNG file; false with `error` set when it cannot.
  bool SavePng(const QString& file, QString* error);
  // What "Save as PNG..." does: asks for a file, then SavePng(); a failure in a message box.
  void SaveAsPng();

  // Looks up the sample nearest to a point of the view's viewport (on a pool thread) and shows it
  // in a tooltip. What the mouse does after resting HoverPauseMs.
  void HoverAt(const QPoint& viewportPos);
  // The text of the last tooltip shown; empty when none.
  QString HoverText() const { return hoverText; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // A line the tooltip can point at.
  struct Target {
    QXYSeries* series;
    QString url;
    HistorySample::Kind kind;
  };
  void Redraw();
  void DrawLatency();
  void DrawPhases();
  void ShowMessage(const QString& line);

  HistoryAccess access;
  QStringList urls;
  QComboBox* span;
  QPushButton* phases;
  QComboBox* phaseSite;
  QChart* chart;
  QChartView* view;
  QDateTimeAxis* time; // the chart's two axes (it owns them), kept from one drawing to the next
  QValueAxis* seconds;
  QLabel* status;
  HistoryChart data;
  std::vector<Target> targets;
  quint64 generation = 0;
  bool loading = false;

  QTimer hoverTimer;
  QPoint hoverPos;
  quint64 hoverGeneration = 0;
  QString hoverText;
};
