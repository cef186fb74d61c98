#include "ui/latencychart.h"

#include "core/durationtext.h"
#include "core/sitenames.h"
#include "history/historystats.h"
#include "platform/addresstext.h"
#include "platform/messageboxes.h"
#include "ui/liverefresh.h"
#include "ui/viewsettings.h"
#include "ui/windowhabits.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The sites' colours, in order: of middle lightness, so that they read on a light and on a dark
// background, and none of them the blue or the red of the warning values.
const QColor SiteColors[] = {QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd),
                             QColor(0x17, 0xbe, 0xcf), QColor(0xe3, 0x77, 0xc2), QColor(0xbc, 0xbd, 0x22),
                             QColor(0xb0, 0x76, 0x4f), QColor(0x5f, 0x9e, 0xa0)};

const char* const PhaseNames[HistoryStats::PhaseCount] = {"Name lookup", "Connect", "TLS", "First byte", "Transfer"};
const QColor PhaseColors[HistoryStats::PhaseCount] = {QColor(0x4e, 0x79, 0xa7), QColor(0xf2, 0x8e, 0x2b),
                                                      QColor(0x59, 0xa1, 0x4f), QColor(0xed, 0xc9, 0x48),
                                                      QColor(0xb0, 0x7a, 0xa1)};

// The height of the failures' squares in the strip along the bottom of the plot (0 to 1).
constexpr double FailureHeight = 0.025;

// A line is cut where the samples pause (the program did not run, the site failed throughout)
// rather than drawn straight across the pause; at most this many pieces a line, or it is not cut.
constexpr size_t MaxPieces = 100;

using Piece = std::vector<const HistoryBucket*>;

// The buckets with a median, cut where the time to the next one is much longer than usual: more
// than four times the median of those times and more than three buckets.
std::vector<Piece> Pieces(const QList<HistoryBucket>& buckets, qint64 bucketMs) {
  Piece usable;
  for (const HistoryBucket& bucket : buckets)
    if (bucket.medianUs >= 0)
      usable.push_back(&bucket);
  if (usable.size() < 3)
    return usable.empty() ? std::vector<Piece>() : std::vector<Piece>{usable};
  std::vector<qint64> gaps;
  for (size_t i = 1; i < usable.size(); ++i)
    gaps.push_back(usable[i]->startMs - usable[i - 1]->startMs);
  std::nth_element(gaps.begin(), gaps.begin() + qsizetype(gaps.size() / 2), gaps.end());
  const qint64 longest = std::max(4 * gaps[gaps.size() / 2], 3 * bucketMs);
  std::vector<Piece> pieces(1);
  for (size_t i = 0; i < usable.size(); ++i) {
    if (i > 0 && usable[i]->startMs - usable[i - 1]->startMs > longest)
      pieces.emplace_back();
    pieces.back().push_back(usable[i]);
  }
  return pieces.size() > MaxPieces ? std::vector<Piece>{usable} : pieces;
}

double Ms(double us) {
  return us / 1000;
}

// "3 min", "2 h", "10 s", "1 day"
QString Width(qint64 ms) {
  if (ms % 86400000 == 0)
    return ms == 86400000 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(ms / 86400000);
  if (ms % 3600000 == 0)
    return QStringLiteral("%1 h").arg(ms / 3600000);
  if (ms % 60000 == 0)
    return QStringLiteral("%1 min").arg(ms / 60000);
  return QStringLiteral("%1 s").arg(double(ms) / 1000);
}

// The phases of one sample as durations, as the Sites window's means take them: the network's
// (name lookup, connect, TLS) on one line, the server's and the transfer on the next.
QStringList PhaseLines(const HistorySample& sample) {
  HistoryStats::PhaseMeans means;
  means.Add(sample.pingUs, sample.dnsUs, sample.connectUs, sample.tlsUs, sample.ttfbUs);
  QStringList lines;
  for (const auto& [from, to] : {std::pair{0, 3}, std::pair{3, 5}}) {
    QStringList parts;
    for (int phase = from; phase < to; ++phase) {
      const double us = means.Mean(HistoryStats::Phase(phase));
      if (us >= 0)
        parts << QStringLiteral("%1 %2").arg(QLatin1String(PhaseNames[phase]), DurationText::WithUnit(us));
    }
    if (!parts.isEmpty())
      lines << parts.join(QStringLiteral(", "));
  }
  return lines;
}

QString Describe(const HistorySample& sample) {
  QStringList lines;
  const QString url = AddressText::Shown(sample.url);
  lines << (sample.kind == HistorySample::Kind::Ref ? url + QStringLiteral(" (reference)") : url);
  lines << sample.at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  if (sample.pingUs >= 0)
    lines << QStringLiteral("Ping %1").arg(DurationText::WithUnit(double(sample.pingUs))) << PhaseLines(sample);
  else
    lines << QStringLiteral("Failed: %1").arg(sample.result);
  return lines.join(QLatin1Char('\n'));
}

QString SpanName(HistorySpan::Preset preset) {
  const char* const texts[] = {"This run", "Last hour", "24 hours", "7 days", "30 days", "All"};
  return QString::fromLatin1(texts[int(preset)]);
}

// A background is dark when its lightness is below the middle.
bool IsDark(const QColor& background) {
  return background.lightnessF() < 0.5;
}

// The two warning values' colours: the blue and the red of the results table's marks, lighter on
// a dark background.
QColor WarningColor(int which, bool dark) {
  if (which == 0)
    return dark ? QColor(0x6e, 0x9b, 0xff) : QColor(0, 0, 255);
  return dark ? QColor(0xff, 0x6e, 0x6e) : QColor(255, 0, 0);
}

double AxisMin(const QAbstractAxis* axis) {
  if (const auto* linear = qobject_cast<const QValueAxis*>(axis))
    return linear->min();
  if (const auto* log = qobject_cast<const QLogValueAxis*>(axis))
    return log->min();
  return 0;
}

double AxisMax(const QAbstractAxis* axis) {
  if (const auto* linear = qobject_cast<const QValueAxis*>(axis))
    return linear->max();
  if (const auto* log = qobject_cast<const QLogValueAxis*>(axis))
    return log->max();
  return 1;
}

void Attach(QChart* chart, QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y) {
  chart->addSeries(series);
  series->attachAxis(x);
  series->attachAxis(y);
}

} // namespace

LatencyChart::LatencyChart(HistoryAccess access, QStringList urls, HistorySpan::Preset preset, QWidget* parent)
    : QWidget(parent, Qt::Window), access(std::move(access)), urls(std::move(urls)), span(new QComboBox(this)),
      phases(new QPushButton(QStringLiteral("&Phases"), this)), phaseSite(new QComboBox(this)),
      logScale(new QPushButton(QStringLiteral("&Log scale"), this)),
      resetZoom(new QPushButton(QStringLiteral("Reset &zoom"), this)), chart(new QChart),
      view(new QChartView(chart, this)), time(new QCategoryAxis), value(nullptr), failureStrip(new QValueAxis),
      status(new QLabel(this)), live(new LiveRefresh(
                                    [this] {
                                      if (isVisible())
                                        Refresh();
                                    },
                                    [this] { return loading; }, this)) {
  setObjectName(QStringLiteral("LatencyChart"));
  names = SiteNames::Shortest(this->urls);
  const QString shown = names.size() <= 3
                            ? names.join(QStringLiteral(", "))
                            : QStringLiteral("%1, %2 and %3 more").arg(names.at(0), names.at(1)).arg(names.size() - 2);
  setWindowTitle(QStringLiteral("Chart - %1").arg(shown));
  WindowHabits::Place(this, ViewSettings::Geometry(ViewSettings::Chart), QSize(1000, 560));
  WindowHabits::AddCloseKeys(this);

  span->setObjectName(QStringLiteral("Span"));
  span->setAccessibleName(QStringLiteral("Span"));
  HistorySpanChoice::Fill(span, preset);
  auto* spanLabel = new QLabel(QStringLiteral("&Span:"), this);
  spanLabel->setBuddy(span);
  phases->setObjectName(QStringLiteral("Phases"));
  phases->setCheckable(true);
  phases->setChecked(ViewSettings::ChartPhases());
  phases->setToolTip(QStringLiteral("The mean time of each phase of the fetches, stacked"));
  phases->setAccessibleName(QStringLiteral("Phases"));
  phaseSite->setObjectName(QStringLiteral("PhaseSite"));
  phaseSite->setAccessibleName(QStringLiteral("Site of the phases"));
  for (qsizetype i = 0; i < this->urls.size(); ++i)
    phaseSite->addItem(names.at(i), this->urls.at(i));
  phaseSite->setVisible(PhaseView() && this->urls.size() > 1);
  logScale->setObjectName(QStringLiteral("LogScale"));
  logScale->setCheckable(true);
  logScale->setChecked(ViewSettings::ChartLogScale());
  logScale->setToolTip(QStringLiteral("A logarithmic time axis, so that one slow site does not flatten the others"));
  logScale->setAccessibleName(QStringLiteral("Log scale"));
  resetZoom->setObjectName(QStringLiteral("ResetZoom"));
  resetZoom->setToolTip(
      QStringLiteral("Shows the whole span again (or a double click on the chart). Drag a "
                     "rectangle or turn the wheel to zoom"));
  resetZoom->setAccessibleName(QStringLiteral("Reset zoom"));
  resetZoom->setEnabled(false);
  auto* save = new QPushButton(QStringLiteral("Save as P&NG..."), this);
  save->setObjectName(QStringLiteral("SavePng"));
  save->setAccessibleName(QStringLiteral("Save as PNG"));

  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(6, 6, 6, 6));
  time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  chart->addAxis(time, Qt::AlignBottom);
  failureStrip->setRange(0, 1);
  chart->addAxis(failureStrip, Qt::AlignRight);
  failureStrip->setVisible(false);
  view->setObjectName(QStringLiteral("ChartView"));
  view->setAccessibleName(QStringLiteral("Latency chart"));
  view->setRenderHint(QPainter::Antialiasing);
  view->setRubberBand(QChartView::RectangleRubberBand);
  view->viewport()->setMouseTracking(true);
  view->viewport()->installEventFilter(this);
  view->installEventFilter(this);
  status->setObjectName(QStringLiteral("Status"));
  status->setAccessibleName(QStringLiteral("Status"));
  ApplyPalette();

  auto* top = new QHBoxLayout;
  top->addWidget(spanLabel);
  top->addWidget(span);
  top->addWidget(phases);
  top->addWidget(phaseSite);
  top->addWidget(logScale);
  top->addStretch();
  top->addWidget(resetZoom);
  top->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(view, 1);
  layout->addWidget(status);
  setTabOrder(span, phases);
  setTabOrder(phases, phaseSite);
  setTabOrder(phaseSite, logScale);
  setTabOrder(logScale, view);
  setTabOrder(view, resetZoom);
  setTabOrder(resetZoom, save);

  hoverTimer.setSingleShot(true);
  hoverTimer.setInterval(HoverPauseMs);
  connect(&hoverTimer, &QTimer::timeout, this, [this] { HoverAt(hoverPos); });
  connect(span, &QComboBox::currentIndexChanged, this, [this] {
    UpdateLive();
    Refresh();
  });
  connect(phases, &QPushButton::toggled, this, [this](bool on) {
    ViewSettings::SetChartPhases(on);
    phaseSite->setVisible(on && this->urls.size() > 1);
    Redraw();
  });
  connect(phaseSite, &QComboBox::currentIndexChanged, this, [this] {
    if (PhaseView())
      Redraw();
  });
  connect(logScale, &QPushButton::toggled, this, [this](bool on) {
    ViewSettings::SetChartLogScale(on);
    Redraw();
  });
  connect(resetZoom, &QPushButton::clicked, this, &LatencyChart::ResetZoom);
  connect(save, &QPushButton::clicked, this, &LatencyChart::SaveAsPng);
  // A zoom moves the axes: the time axis gets ticks for its new range, the failures' strip stays
  // where it is (queued: not while the chart is in the middle of zooming).
  connect(
      time, &QValueAxis::rangeChanged, this, [this] { UpdateTimeLabels(); }, Qt::QueuedConnection);
  connect(
      failureStrip, &QValueAxis::rangeChanged, this,
      [this](qreal min, qreal max) {
        if (min != 0 || max != 1)
          failureStrip->setRange(0, 1);
        resetZoom->setEnabled(Zoomed());
      },
      Qt::QueuedConnection);
  Refresh();
}

LatencyChart::~LatencyChart() = default;

int LatencyChart::LiveReads() const {
  return live->Reads();
}

HistorySpan::Preset LatencyChart::Span() const {
  return HistorySpanChoice::Of(span);
}

void LatencyChart::SetSpan(HistorySpan::Preset preset) {
  HistorySpanChoice::Select(span, preset);
}

void LatencyChart::SetPhaseView(bool on) {
  phases->setChecked(on);
}

bool LatencyChart::PhaseView() const {
  return phases->isChecked();
}

void LatencyChart::SetLogScale(bool on) {
  logScale->setChecked(on);
}

bool LatencyChart::LogScale() const {
  return logScale->isChecked();
}

void LatencyChart::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  UpdateLive();
}

void LatencyChart::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  ViewSettings::SetGeometry(ViewSettings::Chart, isMaximized() || isMinimized() ? normalGeometry() : geometry());
  UpdateLive();
}

void LatencyChart::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
    ApplyPalette();
    Redraw();
  }
}

void LatencyChart::UpdateLive() {
  live->SetLive(isVisible() && access.ReachesPresent(Span()));
}

void LatencyChart::SampleRecorded(const QString& url) {
  if (!isVisible())
    return;
  bool shown = urls.contains(url);
  for (const HistorySeries& reference : data.references)
    shown = shown || reference.url == url;
  if (shown)
    live->News();
}

// The chart's own colours from the window's palette: its background, texts, axes and grid.
void LatencyChart::ApplyPalette() {
  const QPalette colours = palette();
  const QColor text = colours.color(QPalette::WindowText);
  QColor grid = text;
  grid.setAlphaF(0.18);
  chart->setBackgroundBrush(colours.color(QPalette::Base));
  chart->setBackgroundPen(Qt::NoPen);
  chart->setPlotAreaBackgroundVisible(false);
  chart->setTitleBrush(text);
  chart->legend()->setLabelColor(text);
  for (QAbstractAxis* axis : chart->axes()) {
    axis->setLabelsBrush(text);
    axis->setTitleBrush(text);
    axis->setLinePenColor(grid);
    axis->setGridLineColor(grid);
    QColor minor = grid;
    minor.setAlphaF(0.08);
    axis->setMinorGridLineColor(minor);
  }
  view->setBackgroundBrush(colours.color(QPalette::Base));
}

void LatencyChart::Refresh() {
  const quint64 mine = ++generation;
  loading = false;
  const QString off = access.OffLine();
  if (!off.isEmpty()) {
    ShowMessage(off);
    return;
  }
  if (!QFileInfo::exists(access.path)) {
    ShowMessage(QStringLiteral("No history yet: %1 does not exist.").arg(QDir::toNativeSeparators(access.path)));
    return;
  }
  access.BeforeQuery();
  const HistorySpan chosen = access.SpanOf(Span());
  loading = true;
  live->Started();
  if (data.bucketMs <= 0)
    status->setText(QStringLiteral("Loading..."));
  struct Loaded {
    HistoryChart chart;
    QString error;
  };
  const HistorySpan::Preset preset = Span();
  InBackground<Loaded>(
      this,
      [path = access.path, chosen, urls = urls] {
        HistoryQuery query(path);
        Loaded loaded;
        loaded.chart = query.Chart(chosen, urls);
        loaded.error = query.ErrorText();
        return loaded;
      },
      [this, mine, preset](const Loaded& loaded) {
        if (mine != generation)
          return;
        loading = false;
        // The same span read again keeps the zoom; another span starts whole.
        keepZoom = data.bucketMs > 0 && shownPreset == preset;
        shownPreset = preset;
        if (loaded.error.isEmpty())
          Draw(loaded.chart);
        else
          ShowMessage(loaded.error);
        live->Finished();
        UpdateLive();
      });
}

void LatencyChart::ShowMessage(const QString& line) {
  data = HistoryChart();
  Redraw();
  status->setText(line);
}

void LatencyChart::Draw(const HistoryChart& chartData) {
  // A live reading of the same span keeps what the user zoomed into, within the new samples.
  const bool zoomed = keepZoom && Zoomed();
  keepZoom = false;
  const double fromMs = time->min();
  const double toMs = time->max();
  const double bottom = AxisMin(value);
  const double top = AxisMax(value);
  const bool wasLog = qobject_cast<QLogValueAxis*>(value) != nullptr;
  data = chartData;
  Redraw();
  if (zoomed && data.bucketMs > 0) {
    SetTimeRange(std::max(fromMs, fullFromMs), std::min(toMs, fullToMs));
    if (wasLog == (qobject_cast<QLogValueAxis*>(value) != nullptr))
      value->setRange(bottom, top);
  }
  resetZoom->setEnabled(Zoomed());
  qint64 samples = 0;
  qint64 failures = 0;
  for (const HistorySeries& series : data.sites)
    for (const HistoryBucket& bucket : series.buckets) {
      samples += bucket.samples;
      failures += bucket.failures;
    }
  status->setText(samples == 0 ? QStringLiteral("No samples of these sites in this span.")
                               : QStringLiteral("%1 samples (%2 failed) in buckets of %3.")
                                     .arg(samples)
                                     .arg(failures)
                                     .arg(Width(data.bucketMs)));
}

void LatencyChart::Redraw() {
  targets.clear();
  entries.clear();
  chart->removeAllSeries();
  chart->setTitle(QString());
  if (data.bucketMs <= 0) {
    for (QAbstractAxis* axis : chart->axes())
      axis->setVisible(false);
    UpdateDescription();
    return;
  }
  time->setVisible(true);
  // The time axis covers the samples, from the first bucket that holds one to the end of the last
  // (never beyond the span's end, the present for an open span).
  double first = std::numeric_limits<double>::max();
  double last = std::numeric_limits<double>::lowest();
  for (const QList<HistorySeries>* list : {&data.sites, &data.references})
    for (const HistorySeries& series : *list) {
      for (const HistoryBucket& bucket : series.buckets) {
        first = std::min(first, double(bucket.startMs));
        last = std::max(last, double(std::min(bucket.startMs + data.bucketMs, data.toMs)));
      }
      for (const qint64 ms : series.failureMs) {
        first = std::min(first, double(ms));
        last = std::max(last, double(ms));
      }
    }
  if (first > last) {
    first = double(data.fromMs);
    last = double(data.toMs);
  }
  if (last - first < double(data.bucketMs))
    last = first + double(data.bucketMs);
  fullFromMs = first;
  fullToMs = last;
  if (PhaseView())
    DrawPhases();
  else
    DrawLatency();
  SetTimeRange(fullFromMs, fullToMs);
  fullBottom = AxisMin(value);
  fullTop = AxisMax(value);
  ApplyPalette();

  // The legend: a click hides or shows an entry's lines, resting on a site's shows its address.
  for (const Entry& entry : entries) {
    QLegendMarker* marker = LegendEntry(entry.label);
    if (!marker)
      continue;
    const QString label = entry.label;
    const QString tip = entry.tip;
    connect(marker, &QLegendMarker::clicked, this, [this, label] { ToggleEntry(label); });
    if (!tip.isEmpty())
      connect(marker, &QLegendMarker::hovered, this, [this, tip](bool on) {
        if (on)
          QToolTip::showText(QCursor::pos(), tip, view);
        else
          QToolTip::hideText();
      });
  }
  for (const Entry& entry : entries)
    ShowEntry(entry, !hidden.contains(entry.label));
  UpdateDescription();
}

// The value axis, made anew for each drawing: linear from 0 with round ticks, or logarithmic
// over whole powers of ten.
void LatencyChart::MakeValueAxis(bool log, double bottomMs, double topMs) {
  if (value) {
    chart->removeAxis(value);
    delete value;
  }
  if (log) {
    auto* axis = new QLogValueAxis;
    axis->setBase(10);
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setMinorTickCount(8);
    const double low = std::pow(10.0, std::floor(std::log10(std::max(bottomMs, 0.001))));
    double high = std::pow(10.0, std::ceil(std::log10(std::max(topMs, low * 10))));
    if (high <= low)
      high = low * 10;
    axis->setRange(low, high);
    value = axis;
  } else {
    auto* axis = new QValueAxis;
    axis->setRange(0, topMs > 0 ? topMs : 1);
    axis->applyNiceNumbers();
    axis->setLabelFormat(QStringLiteral("%g"));
    value = axis;
  }
  value->setTitleText(PhaseView() ? QStringLiteral("Mean time (ms)") : QStringLiteral("Ping (ms)"));
  chart->addAxis(value, Qt::AlignLeft);
}

void LatencyChart::SetTimeRange(double fromMs, double toMs) {
  if (toMs <= fromMs)
    toMs = fromMs + 1000;
  time->setRange(fromMs, toMs);
  UpdateTimeLabels();
  resetZoom->setEnabled(Zoomed());
}

// Ticks at round local times within the axis' range, as many as fit its width: "HH:mm" (with
// seconds below a minute's step); with the date on the first label and at each new day when the
// range crosses midnight, and on every label beyond a day.
void LatencyChart::UpdateTimeLabels() {
  if (rebuildingLabels)
    return;
  const QScopedValueRollback guard(rebuildingLabels, true);
  for (const QString& label : time->categoriesLabels())
    time->remove(label);
  const double from = time->min();
  const double to = time->max();
  time->setStartValue(from);
  if (to <= from)
    return;
  constexpr qint64 S = 1000;
  constexpr qint64 M = 60 * S;
  constexpr qint64 H = 60 * M;
  constexpr qint64 D = 24 * H;
  constexpr qint64 Steps[] = {S,      2 * S,  5 * S,  10 * S, 15 * S, 30 * S,  M,      2 * M,  5 * M,
                              10 * M, 15 * M, 30 * M, H,      2 * H,  3 * H,   6 * H,  12 * H, D,
                              2 * D,  7 * D,  14 * D, 28 * D, 56 * D, 112 * D, 364 * D};
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(qint64(from));
  const QDateTime end = QDateTime::fromMSecsSinceEpoch(qint64(to));
  const bool crossesMidnight = start.date() != end.date();
  const bool beyondADay = to - from > double(D);
  const QFontMetrics metrics(time->labelsFont());
  // The axis elides a label that takes more than about two thirds of the room between ticks.
  const int labelWidth =
      metrics.horizontalAdvance(crossesMidnight ? QStringLiteral("30 Sep 00:00") : QStringLiteral("00:00:00")) * 3 / 2 +
      8;
  const int width = chart->plotArea().width() > 0 ? int(chart->plotArea().width()) : view->viewport()->width() - 80;
  const qint64 maxTicks = std::max<qint64>(2, width / std::max(1, labelWidth));
  qint64 step = Steps[std::size(Steps) - 1];
  for (const qint64 candidate : Steps)
    if (qint64(to - from) / candidate <= maxTicks) {
      step = candidate;
      break;
    }
  const qint64 offset = qint64(start.offsetFromUtc()) * 1000;
  qint64 tick = HistoryStats::BucketStart(qint64(from) + offset, step) - offset;
  if (double(tick) < from)
    tick += step;
  QDate lastDate;
  for (; double(tick) <= to; tick += step) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(tick);
    QString label;
    if (step >= D)
      label = at.toString(QStringLiteral("d MMM"));
    else if (beyondADay || (crossesMidnight && at.date() != lastDate))
      label = at.toString(QStringLiteral("d MMM HH:mm"));
    else
      label = at.toString(step < M ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
    lastDate = at.date();
    if (!time->categoriesLabels().contains(label))
      time->append(label, double(tick));
  }
}

void LatencyChart::DrawLatency() {
  // The top of the value axis: the highest band or reference line, and a warning value when it is
  // not far above them (a 20 s line would flatten pings of 100 ms). The bottom of a logarithmic
  // axis: the lowest band.
  double top = 0;
  double bottom = std::numeric_limits<double>::max();
  for (const HistorySeries& series : data.sites)
    for (const HistoryBucket& bucket : series.buckets)
      if (bucket.medianUs >= 0) {
        top = std::max(top, Ms(double(bucket.p90Us)));
        bottom = std::min(bottom, Ms(double(bucket.p10Us)));
      }
  for (const HistorySeries& series : data.references)
    for (const HistoryBucket& bucket : series.buckets)
      if (bucket.medianUs >= 0) {
        top = std::max(top, Ms(double(bucket.medianUs)));
        bottom = std::min(bottom, Ms(double(bucket.medianUs)));
      }
  const std::pair<double, double> warnings = access.warnings ? access.warnings() : std::pair<double, double>(-1, -1);
  double axisTop = top * 1.1;
  for (const double warning : {warnings.first, warnings.second})
    if (warning > 0 && (warning * 1000 <= 2 * top || top <= 0))
      axisTop = std::max(axisTop, warning * 1000 * 1.05);
  const bool log = LogScale();
  if (bottom > top)
    bottom = top > 0 ? top / 10 : 0.1;
  MakeValueAxis(log, bottom, axisTop);
  logScale->setEnabled(true);
  const double floor = AxisMin(value); // a logarithmic axis has no 0: lower values sit on its floor
  const auto y = [&](double us) { return log ? std::max(Ms(us), floor) : Ms(us); };
  chart->setTitle(QStringLiteral("Median ping of every %1, with the band from p10 to p90").arg(Width(data.bucketMs)));

  const bool dark = IsDark(palette().color(QPalette::Base));
  QList<QAbstractSeries*> allFailures;
  for (qsizetype i = 0; i < data.sites.size(); ++i) {
    const HistorySeries& site = data.sites.at(i);
    const QString name = names.value(urls.indexOf(site.url), AddressText::Shown(site.url));
    const QColor color = SiteColors[size_t(i) % std::size(SiteColors)];
    QColor shade = color;
    shade.setAlpha(dark ? 80 : 60);
    QList<QAbstractSeries*> own; // the first median leads the site's legend entry
    QList<QAbstractSeries*> bands;
    const auto addMedian = [&](QLineSeries* median) {
      median->setObjectName(QStringLiteral("median"));
      median->setProperty("url", site.url);
      median->setName(name);
      median->setPen(QPen(color, 2));
      Attach(chart, median, time, value);
      own << median;
    };
    for (const Piece& piece : Pieces(site.buckets, data.bucketMs)) {
      auto* band = new QAreaSeries;
      auto* upper = new QLineSeries(band);
      auto* lower = new QLineSeries(band);
      auto* median = new QLineSeries;
      for (const HistoryBucket* bucket : piece) {
        const qreal x = qreal(qBound(data.fromMs, bucket->startMs + data.bucketMs / 2, data.toMs));
        upper->append(x, y(double(bucket->p90Us)));
        lower->append(x, y(double(bucket->p10Us)));
        median->append(x, y(double(bucket->medianUs)));
      }
      band->setUpperSeries(upper);
      band->setLowerSeries(lower);
      band->setObjectName(QStringLiteral("band"));
      band->setProperty("url", site.url);
      band->setName(name + QStringLiteral(" p10-p90"));
      band->setBrush(shade);
      band->setPen(Qt::NoPen);
      Attach(chart, band, time, value);
      addMedian(median);
      bands << band;
      targets.push_back({median, site.url, HistorySample::Kind::Site});
    }
    if (own.isEmpty()) {
      // No successful sample: an empty line still gives the site its legend entry.
      addMedian(new QLineSeries);
    }
    own << bands;
    if (!site.failureMs.isEmpty()) {
      auto* marks = new QScatterSeries;
      marks->setObjectName(QStringLiteral("failures"));
      marks->setProperty("url", site.url);
      marks->setName(name + QStringLiteral(" failures"));
      marks->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
      marks->setMarkerSize(9);
      marks->setColor(color);
      marks->setBorderColor(color.darker(dark ? 60 : 150));
      for (const qint64 ms : site.failureMs)
        marks->append(qreal(ms), FailureHeight);
      own << marks;
      allFailures << marks;
      targets.push_back({marks, site.url, HistorySample::Kind::Site});
    }
    AddEntry(name, AddressText::Shown(site.url), own);
  }

  QList<QAbstractSeries*> references; // one entry for them all: they look alike
  QColor referenceColor = palette().color(QPalette::WindowText);
  referenceColor.setAlpha(110);
  for (const HistorySeries& reference : data.references) {
    for (const Piece& piece : Pieces(reference.buckets, data.bucketMs)) {
      auto* line = new QLineSeries;
      for (const HistoryBucket* bucket : piece)
        line->append(qreal(qBound(data.fromMs, bucket->startMs + data.bucketMs / 2, data.toMs)),
                     y(double(bucket->medianUs)));
      line->setObjectName(QStringLiteral("reference"));
      line->setProperty("url", reference.url);
      line->setName(QStringLiteral("Reference pings"));
      line->setPen(QPen(referenceColor, 1));
      Attach(chart, line, time, value);
      references << line;
      targets.push_back({line, reference.url, HistorySample::Kind::Ref});
    }
  }
  if (!references.isEmpty())
    AddEntry(QStringLiteral("Reference pings"), QString(), references);

  for (int which = 0; which < 2; ++which) {
    const double seconds = which == 0 ? warnings.first : warnings.second;
    if (seconds <= 0)
      continue;
    auto* line = new QLineSeries;
    line->setObjectName(which == 0 ? QStringLiteral("warning1") : QStringLiteral("warning2"));
    line->setName(QStringLiteral("Warning %1 (%2 ms)").arg(which + 1).arg(DurationText::Ms(seconds * 1e6)));
    line->append(fullFromMs, seconds * 1000);
    line->append(fullToMs, seconds * 1000);
    line->setPen(QPen(WarningColor(which, dark), 1, Qt::DashLine));
    Attach(chart, line, time, value);
    AddEntry(line->name(), QString(), {line});
  }

  // Last, so that they are drawn over the lines; one entry explains them all.
  if (!allFailures.isEmpty()) {
    auto* legend = new QScatterSeries;
    legend->setObjectName(QStringLiteral("failures-legend"));
    legend->setName(QStringLiteral("Failures"));
    legend->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    legend->setMarkerSize(9);
    legend->setColor(palette().color(QPalette::Mid));
    Attach(chart, legend, time, failureStrip);
    for (QAbstractSeries* marks : allFailures)
      Attach(chart, marks, time, failureStrip);
    AddEntry(QStringLiteral("Failures"), QString(), QList<QAbstractSeries*>{legend} + allFailures);
  }
}

void LatencyChart::DrawPhases() {
  logScale->setEnabled(false); // stacked areas have no logarithmic reading
  if (data.sites.isEmpty()) {
    MakeValueAxis(false, 0, 1);
    return;
  }
  const int index = qBound(0, phaseSite->currentIndex(), int(data.sites.size()) - 1);
  const HistorySeries& site = data.sites.at(index);
  const std::vector<Piece> pieces = Pieces(site.buckets, data.bucketMs);
  const auto phaseOf = [](const HistoryBucket& bucket, int phase) {
    const HistoryPhases& p = bucket.phases;
    const double us[] = {p.nameLookupUs, p.connectUs, p.tlsUs, p.firstByteUs, p.transferUs};
    return std::max(0.0, Ms(us[phase]));
  };
  double top = 0;
  for (const Piece& piece : pieces)
    for (const HistoryBucket* bucket : piece) {
      double sum = 0;
      for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase)
        sum += phaseOf(*bucket, phase);
      top = std::max(top, sum);
    }
  MakeValueAxis(false, 0, top * 1.1);
  chart->setTitle(QStringLiteral("Mean phases of %1 in every %2")
                      .arg(names.value(urls.indexOf(site.url), AddressText::Shown(site.url)), Width(data.bucketMs)));

  for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase) {
    QList<QAbstractSeries*> own;
    for (const Piece& piece : pieces) {
      auto* area = new QAreaSeries;
      auto* upper = new QLineSeries(area);
      auto* lower = new QLineSeries(area);
      for (const HistoryBucket* bucket : piece) {
        double below = 0;
        for (int earlier = 0; earlier < phase; ++earlier)
          below += phaseOf(*bucket, earlier);
        const qreal x = qreal(qBound(data.fromMs, bucket->startMs + data.bucketMs / 2, data.toMs));
        lower->append(x, below);
        upper->append(x, below + phaseOf(*bucket, phase));
      }
      area->setUpperSeries(upper);
      area->setLowerSeries(lower);
      area->setObjectName(QStringLiteral("phase"));
      area->setProperty("url", site.url);
      area->setName(QLatin1String(PhaseNames[phase]));
      area->setBrush(PhaseColors[phase]);
      area->setPen(QPen(PhaseColors[phase].darker(120), 1));
      Attach(chart, area, time, value);
      own << area;
    }
    if (!own.isEmpty())
      AddEntry(QLatin1String(PhaseNames[phase]), QString(), own);
  }
}

void LatencyChart::AddEntry(const QString& label, const QString& tip, const QList<QAbstractSeries*>& series) {
  entries.push_back({label, tip, series});
}

QLegendMarker* LatencyChart::LegendEntry(const QString& label) const {
  for (const Entry& entry : entries)
    if (entry.label == label && !entry.series.isEmpty()) {
      const QList<QLegendMarker*> markers = chart->legend()->markers(entry.series.first());
      return markers.isEmpty() ? nullptr : markers.first();
    }
  return nullptr;
}

void LatencyChart::ToggleEntry(const QString& label) {
  if (hidden.contains(label))
    hidden.remove(label);
  else
    hidden.insert(label);
  for (const Entry& entry : entries)
    ShowEntry(entry, !hidden.contains(entry.label));
}

// Shows or hides an entry's lines (a line of two entries shows only while both do) and keeps
// one legend mark per entry, dimmed while its lines are hidden. (A series that is hidden also
// hides its legend mark: the mark is shown again.)
void LatencyChart::ShowEntry(const Entry& entry, bool shown) {
  for (QAbstractSeries* series : entry.series) {
    bool visible = shown;
    for (const Entry& other : entries)
      if (visible && &other != &entry && hidden.contains(other.label) && other.series.contains(series))
        visible = false;
    series->setVisible(visible);
    for (QLegendMarker* marker : chart->legend()->markers(series))
      marker->setVisible(false);
  }
  if (QLegendMarker* marker = LegendEntry(entry.label)) {
    marker->setVisible(true);
    QColor text = palette().color(QPalette::WindowText);
    text.setAlphaF(shown ? 1.0 : 0.4);
    marker->setLabelBrush(text);
    QBrush brush = marker->brush();
    QColor fill = brush.color();
    fill.setAlphaF(shown ? 1.0 : 0.25);
    brush.setColor(fill);
    marker->setBrush(brush);
  }
}

void LatencyChart::UpdateDescription() {
  if (data.bucketMs <= 0) {
    view->setAccessibleDescription(QStringLiteral("No chart: %1").arg(status->text()));
    return;
  }
  const QString sites = names.join(QStringLiteral(", "));
  view->setAccessibleDescription(
      PhaseView() ? QStringLiteral("The mean time of each phase of the fetches of %1 in milliseconds, stacked, in "
                                   "buckets of %2, over %3")
                        .arg(phaseSite->currentText(), Width(data.bucketMs), SpanText())
                  : QStringLiteral("The median ping of %1 in milliseconds in buckets of %2 with the band from p10 to "
                                   "p90, failures marked along the bottom, over %3")
                        .arg(sites, Width(data.bucketMs), SpanText()));
}

// "24 hours: 1 May 2026 10:32 to 2 May 2026 10:32", the span's samples in local time.
QString LatencyChart::SpanText() const {
  if (data.bucketMs <= 0)
    return SpanName(Span());
  const QString format = QStringLiteral("d MMM yyyy HH:mm");
  return QStringLiteral("%1: %2 to %3")
      .arg(SpanName(shownPreset.value_or(Span())), QDateTime::fromMSecsSinceEpoch(qint64(fullFromMs)).toString(format),
           QDateTime::fromMSecsSinceEpoch(qint64(fullToMs)).toString(format));
}

bool LatencyChart::Zoomed() const {
  if (data.bucketMs <= 0 || !value)
    return false;
  return time->min() > fullFromMs + 0.5 || time->max() < fullToMs - 0.5 || AxisMin(value) != fullBottom ||
         AxisMax(value) != fullTop;
}

void LatencyChart::ZoomTime(double factor, double aroundMs) {
  if (data.bucketMs <= 0)
    return;
  const double from = time->min();
  const double to = time->max();
  const double least = std::min(fullToMs - fullFromMs, double(std::max<qint64>(4 * data.bucketMs, 10000)));
  const double width = std::clamp((to - from) * factor, least, fullToMs - fullFromMs);
  const double share = to > from ? (aroundMs - from) / (to - from) : 0.5;
  double newFrom = aroundMs - width * std::clamp(share, 0.0, 1.0);
  newFrom = std::clamp(newFrom, fullFromMs, fullToMs - width);
  SetTimeRange(newFrom, newFrom + width);
}

void LatencyChart::ResetZoom() {
  if (data.bucketMs <= 0)
    return;
  SetTimeRange(fullFromMs, fullToMs);
  value->setRange(fullBottom, fullTop);
  resetZoom->setEnabled(false);
}

bool LatencyChart::SavePng(const QString& file, QString* error) {
  const QPixmap picture = view->grab();
  const qreal ratio = picture.devicePixelRatio();
  const QSize size = picture.deviceIndependentSize().toSize();
  // Above the chart: what it shows (the addresses as shown: an earlier version's history may hold
  // passwords), over which time, and when it was saved.
  QStringList shown;
  for (const QString& url : urls)
    shown << AddressText::Shown(url);
  const QString sites = shown.join(QStringLiteral(", "));
  const QString saved = QDateTime::currentDateTime().toString(QStringLiteral("d MMM yyyy HH:mm"));
  const QStringList lines{sites, SpanText(), QStringLiteral("Saved %1 by Tarvik").arg(saved)};
  QFont heading = font();
  const QFontMetrics metrics(heading);
  const int margin = 8;
  const int header = margin * 2 + metrics.lineSpacing() * int(lines.size());
  QImage image(QSize(size.width(), size.height() + header) * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(palette().color(QPalette::Base));
  {
    QPainter painter(&image);
    painter.setFont(heading);
    painter.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < int(lines.size()); ++i)
      painter.drawText(QPoint(margin, margin + metrics.ascent() + i * metrics.lineSpacing()),
                       metrics.elidedText(lines.at(i), Qt::ElideRight, size.width() - 2 * margin));
    painter.drawPixmap(QPoint(0, header), picture);
  }
  image.setText(QStringLiteral("Title"), windowTitle());
  image.setText(QStringLiteral("Span"), SpanText());
  image.setText(QStringLiteral("Sites"), shown.join(QLatin1Char('\n')));
  image.setText(QStringLiteral("Creation Time"), QDateTime::currentDateTime().toString(Qt::ISODate));
  image.setText(QStringLiteral("Software"), QStringLiteral("Tarvik"));
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") || !out.commit()) {
    *error = QStringLiteral("Cannot save the chart to %1: %2")
                 .arg(QDir::toNativeSeparators(file),
                      out.error() != QFileDevice::NoError ? out.errorString() : QStringLiteral("write error"));
    return false;
  }
  return true;
}

void LatencyChart::SaveAsPng() {
  QString file = access.saveFileName(this, QStringLiteral("Save as PNG"), QStringLiteral("chart.png"),
                                     QStringLiteral("PNG image (*.png)"));
  if (file.isEmpty())
    return;
  if (QFileInfo(file).suffix().isEmpty())
    file += QStringLiteral(".png");
  QString error;
  if (!SavePng(file, &error))
    MessageBoxes::MsgBox(error, MessageBoxes::OkOnly, MessageBoxes::NoIcon, QStringLiteral("Save as PNG"));
}

bool LatencyChart::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view->viewport()) {
    switch (event->type()) {
    case QEvent::MouseMove:
      ++hoverGeneration; // a lookup under way is for where the mouse was
      hoverPos = static_cast<QMouseEvent*>(event)->position().toPoint();
      hoverTimer.start();
      break;
    case QEvent::Leave:
      ++hoverGeneration;
      hoverTimer.stop();
      break;
    case QEvent::ToolTip: return true; // the view would hide the sample's tooltip: it has none of its own
    case QEvent::MouseButtonDblClick: ResetZoom(); return true;
    case QEvent::Wheel: {
      const auto* wheel = static_cast<QWheelEvent*>(event);
      const int steps = wheel->angleDelta().y();
      if (steps != 0 && !chart->series().isEmpty()) {
        const QPointF at = chart->mapFromScene(view->mapToScene(wheel->position().toPoint()));
        ZoomTime(std::pow(0.8, double(steps) / 120), chart->mapToValue(at, chart->series().first()).x());
      }
      return true;
    }
    default: break;
    }
  } else if (watched == view) {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      const double middle = (time->min() + time->max()) / 2;
      if (key == Qt::Key_Plus || key == Qt::Key_Equal) {
        ZoomTime(0.5, middle);
        return true;
      }
      if (key == Qt::Key_Minus) {
        ZoomTime(2, middle);
        return true;
      }
      if (key == Qt::Key_0 || key == Qt::Key_Home) {
        ResetZoom();
        return true;
      }
    } else if (event->type() == QEvent::Resize) {
      QTimer::singleShot(0, this, [this] { UpdateTimeLabels(); }); // as many ticks as fit the new width
    }
  }
  return QWidget::eventFilter(watched, event);
}

void LatencyChart::HoverAt(const QPoint& viewportPos) {
  const QPointF at = chart->mapFromScene(view->mapToScene(viewportPos));
  if (!chart->plotArea().contains(at) || chart->series().isEmpty())
    return;
  // The line nearest on the screen; in the phase view, the site shown.
  QString url;
  HistorySample::Kind kind = HistorySample::Kind::Site;
  if (PhaseView()) {
    url = phaseSite->currentData().toString();
  } else {
    constexpr double Reach = 40; // pixels
    double distance = Reach;
    for (const Target& target : targets) {
      if (!target.series->isVisible())
        continue;
      for (const QPointF& point : target.series->points()) {
        const QPointF position = chart->mapToPosition(point, target.series);
        const double d = std::hypot(position.x() - at.x(), position.y() - at.y());
        if (d <= distance) {
          distance = d;
          url = target.url;
          kind = target.kind;
        }
      }
    }
  }
  if (url.isEmpty())
    return;
  const QDateTime when =
      QDateTime::fromMSecsSinceEpoch(qint64(chart->mapToValue(at, chart->series().first()).x()), Qt::UTC);
  const quint64 mine = ++hoverGeneration;
  InBackground<std::optional<HistorySample>>(
      this, [path = access.path, url, kind, when] { return HistoryQuery(path).Nearest(url, kind, when); },
      [this, mine, viewportPos](const std::optional<HistorySample>& sample) {
        if (mine != hoverGeneration || !sample)
          return;
        hoverText = Describe(*sample);
        // It stays while the mouse stays near where it rested (and for an hour at most).
        constexpr int Near = 24;
        QToolTip::showText(view->viewport()->mapToGlobal(viewportPos), hoverText, view->viewport(),
                           QRect(viewportPos - QPoint(Near, Near), QSize(2 * Near, 2 * Near)), 3600 * 1000);
      });
}
