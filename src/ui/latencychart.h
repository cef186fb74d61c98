#pragma once

#include "history/historyquery.h"
#include "history/historyspan.h"
#include "ui/historyaccess.h"

#include <QHash>
#include <QPoint>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <vector>

class LiveRefresh;
class QAbstractAxis;
class QAbstractSeries;
class QCategoryAxis;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLegendMarker;
class QPushButton;
class QValueAxis;
class QXYSeries;

// A chart window of the latency of some sites over a span: for every time bucket of the span
// (HistoryQuery::Chart()) the median ping as a line with the p10-p90 band around it as a shaded
// area, each site in a colour of its own; its failures as squares of that colour along the
// bottom of the plot; the two warning values as dashed lines and the reference pings as faint
// lines. "Phases" shows instead the mean phases of one site's buckets stacked (name lookup,
// connect, TLS, first byte, transfer). Times are in milliseconds, on a linear or (Log scale) a
// logarithmic axis; the time axis covers the samples of the span (not the time before the first
// or after the last) with round ticks, and its labels carry the date when it crosses midnight.
//
// Resting the mouse on a line shows the nearest sample in a tooltip (its time, ping and phases)
// that stays while the mouse stays near. Dragging a rectangle or turning the wheel zooms (the
// wheel the time axis only); "Reset zoom" or a double click shows the whole span again. A click
// on a legend entry hides or shows its lines; resting on a site's entry shows its whole address.
// "Save as PNG..." writes the chart with the span, the sites and the date above it. Colours follow
// the window's palette, so a dark theme reads well.
//
// Live, as the Sites window: while its span reaches the present it reads again every five
// seconds, and soon after a sample of a site it shows is recorded, keeping the zoom and the hidden
// lines. The view and the log scale and the window's place are remembered (ViewSettings).
//
// Series carry object names for what they show: "median", "band", "failures", "warning1",
// "warning2", "reference", and "phase" in the phase view; a line cut by a gap in the samples is
// several series of one name, of which only the first has a legend entry; a site without a
// successful sample has an empty "median" for its entry. The references share one entry
// ("Reference pings"); the failures of every site are explained by one entry ("Failures") whose
// series ("failures-legend") holds no point. The property "url" names the address of a median,
// band, failures, reference or phase series.
class LatencyChart : public QWidget {
  Q_OBJECT
public:
  // How long the mouse rests before the nearest sample is looked up.
  static constexpr int HoverPauseMs = 300;

  LatencyChart(HistoryAccess access, QStringList urls, HistorySpan::Preset preset, QWidget* parent = nullptr);
  ~LatencyChart() override;

  // Reads the chart of the chosen span again (on a pool thread).
  void Refresh();
  bool Loading() const { return loading; }
  int LiveReads() const;

  HistorySpan::Preset Span() const;
  void SetSpan(HistorySpan::Preset preset);
  QStringList Urls() const { return urls; }
  // The legend's names of the sites (SiteNames::Shortest), in the order of Urls().
  QStringList Names() const { return names; }
  void SetPhaseView(bool on);
  bool PhaseView() const;
  void SetLogScale(bool on);
  bool LogScale() const;

  // Draws a chart that was read (the window's thread; Refresh() calls it).
  void Draw(const HistoryChart& data);

  QChart* Chart() const { return chart; }
  QChartView* View() const { return view; }

  // Zooms the time axis by `factor` (below 1 in, above 1 out) around a time (ms since the epoch),
  // within the span's samples; what the wheel does.
  void ZoomTime(double factor, double aroundMs);
  // Shows the whole span again.
  void ResetZoom();
  bool Zoomed() const;

  // The legend entry of a site, of "Reference pings", "Failures" or a warning value, by its label;
  // a click on it hides or shows its lines.
  QLegendMarker* LegendEntry(const QString& label) const;
  void ToggleEntry(const QString& label);

  // Writes the chart as shown, with the span, the sites and the date above it, to a PNG file
  // (also as the PNG's texts "Title", "Span", "Sites" and "Creation Time"); false with `error`
  // set when it cannot.
  bool SavePng(const QString& file, QString* error);
  // What "Save as PNG..." does: asks for a file, then SavePng(); a failure in a message box.
  void SaveAsPng();

  // Looks up the sample nearest to a point of the view's viewport (on a pool thread) and shows it
  // in a tooltip. What the mouse does after resting HoverPauseMs.
  void HoverAt(const QPoint& viewportPos);
  // The text of the last tooltip shown; empty when none.
  QString HoverText() const { return hoverText; }

  // A sample of `url` was recorded: read again soon when the chart shows it.
  void SampleRecorded(const QString& url);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  // A line the tooltip can point at.
  struct Target {
    QXYSeries* series;
    QString url;
    HistorySample::Kind kind;
  };
  // The series behind one legend entry.
  struct Entry {
    QString label;
    QString tip; // the whole address of a site
    QList<QAbstractSeries*> series;
  };
  void Redraw();
  void DrawLatency();
  void DrawPhases();
  void ShowMessage(const QString& line);
  void MakeValueAxis(bool log, double bottomMs, double topMs);
  void SetTimeRange(double fromMs, double toMs);
  void UpdateTimeLabels();
  void AddEntry(const QString& label, const QString& tip, const QList<QAbstractSeries*>& series);
  void ShowEntry(const Entry& entry, bool shown);
  void ApplyPalette();
  void UpdateLive();
  void UpdateDescription();
  QString SpanText() const;

  HistoryAccess access;
  QStringList urls;
  QStringList names;
  QComboBox* span;
  QPushButton* phases;
  QComboBox* phaseSite;
  QPushButton* logScale;
  QPushButton* resetZoom;
  QChart* chart;
  QChartView* view;
  QCategoryAxis* time;      // the chart's axes (it owns them): time, ...
  QAbstractAxis* value;     // ... the ping (linear or logarithmic, made anew with each drawing) ...
  QValueAxis* failureStrip; // ... and 0 to 1 for the failures' squares, not shown
  QLabel* status;
  LiveRefresh* live;
  HistoryChart data;
  std::vector<Target> targets;
  std::vector<Entry> entries;
  QSet<QString> hidden;  // the labels of the entries hidden by a click
  double fullFromMs = 0; // the time axis of the whole span's samples
  double fullToMs = 0;
  double fullBottom = 0; // the value axis unzoomed
  double fullTop = 1;
  bool rebuildingLabels = false;
  std::optional<HistorySpan::Preset> shownPreset; // of the chart drawn
  bool keepZoom = false;                          // the next Draw() keeps the zoom
  quint64 generation = 0;
  bool loading = false;

  QTimer hoverTimer;
  QPoint hoverPos;
  quint64 hoverGeneration = 0;
  QString hoverText;
};
