#include "ui/latencychart.h"

#include "history/historystats.h"
#include "platform/addresstext.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// The sites' colours, in order (none of them the red of failures and of the second warning value,
// or the blue of the first).
const QColor SiteColors[] = {QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd),
                             QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
                             QColor(0xbc, 0xbd, 0x22), QColor(0x44, 0x44, 0x44)};
const QColor FailureColor(0xd6, 0x27, 0x28);
const QColor ReferenceColor(0x80, 0x80, 0x80, 150);
const QColor WarningColors[] = {QColor(0, 0, 255), QColor(255, 0, 0)};

const char* const PhaseNames[HistoryStats::PhaseCount] = {"Name lookup", "Connect", "TLS", "First byte", "Transfer"};
const QColor PhaseColors[HistoryStats::PhaseCount] = {QColor(0x4e, 0x79, 0xa7), QColor(0xf2, 0x8e, 0x2b),
                                                      QColor(0x59, 0xa1, 0x4f), QColor(0xed, 0xc9, 0x48),
                                                      QColor(0xb0, 0x7a, 0xa1)};

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

double Seconds(double us) {
  return us / 1e6;
}

// "3 min", "2 h", "10 s", "1 day"
QString Width(qint64 ms) {
  if (ms % 86400000 == 0)
    return ms == 86400000 ? QStringLiteral("1 day") : QStringLiteral("%1 days").arg(ms / 86400000);
  if (ms % 3600000 == 0)
    return QStringLiteral("%1 h").arg(ms / 3600000);
  if (ms % 60000 == 0)
    return QStringLiteral("%1 min").arg(ms / 60000);
  return QStringLiteral("%1 s").arg(Numbers::Plain(double(ms) / 1000));
}

void HideFromLegend(QChart* chart, QAbstractSeries* series) {
  for (QLegendMarker* marker : chart->legend()->markers(series))
    marker->setVisible(false);
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
        parts << QStringLiteral("%1 %2").arg(QLatin1String(PhaseNames[phase]), Numbers::Fixed3(Seconds(us)));
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
    lines << QStringLiteral("Ping %1").arg(Numbers::Fixed3(Seconds(double(sample.pingUs)))) << PhaseLines(sample);
  else
    lines << QStringLiteral("Failed: %1").arg(sample.result);
  return lines.join(QLatin1Char('\n'));
}

} // namespace

LatencyChart::LatencyChart(HistoryAccess access, QStringList urls, HistorySpan::Preset preset, QWidget* parent)
    : QWidget(parent, Qt::Window), access(std::move(access)), urls(std::move(urls)), span(new QComboBox(this)),
      phases(new QPushButton(QStringLiteral("Phases"), this)), phaseSite(new QComboBox(this)), chart(new QChart),
      view(new QChartView(chart, this)), time(new QDateTimeAxis), seconds(new QValueAxis), status(new QLabel(this)) {
  setObjectName(QStringLiteral("LatencyChart"));
  // The addresses as shown; the history of an earlier version may hold passwords.
  QStringList names;
  for (const QString& url : this->urls)
    names << AddressText::Shown(url);
  const QString shown = names.size() <= 2 ? names.join(QStringLiteral(", "))
                                          : QStringLiteral("%1 and %2 more").arg(names.first()).arg(names.size() - 1);
  setWindowTitle(QStringLiteral("Chart - %1").arg(shown));
  resize(1000, 560);

  span->setObjectName(QStringLiteral("Span"));
  HistorySpanChoice::Fill(span, preset);
  auto* spanLabel = new QLabel(QStringLiteral("&Span:"), this);
  spanLabel->setBuddy(span);
  phases->setObjectName(QStringLiteral("Phases"));
  phases->setCheckable(true);
  phases->setToolTip(QStringLiteral("The mean time of each phase of the fetches, stacked"));
  phaseSite->setObjectName(QStringLiteral("PhaseSite"));
  phaseSite->addItems(names);
  phaseSite->setVisible(false);
  auto* save = new QPushButton(QStringLiteral("Save as PNG..."), this);
  save->setObjectName(QStringLiteral("SavePng"));

  chart->legend()->setAlignment(Qt::AlignBottom);
  seconds->setTitleText(QStringLiteral("Seconds"));
  seconds->setLabelFormat(QStringLiteral("%.3f"));
  chart->addAxis(time, Qt::AlignBottom);
  chart->addAxis(seconds, Qt::AlignLeft);
  chart->setMargins(QMargins(6, 6, 6, 6));
  view->setObjectName(QStringLiteral("ChartView"));
  view->setRenderHint(QPainter::Antialiasing);
  view->viewport()->setMouseTracking(true);
  view->viewport()->installEventFilter(this);
  status->setObjectName(QStringLiteral("Status"));

  auto* top = new QHBoxLayout;
  top->addWidget(spanLabel);
  top->addWidget(span);
  top->addWidget(phases);
  top->addWidget(phaseSite);
  top->addStretch();
  top->addWidget(save);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(view, 1);
  layout->addWidget(status);

  hoverTimer.setSingleShot(true);
  hoverTimer.setInterval(HoverPauseMs);
  connect(&hoverTimer, &QTimer::timeout, this, [this] { HoverAt(hoverPos); });
  connect(span, &QComboBox::currentIndexChanged, this, &LatencyChart::Refresh);
  connect(phases, &QPushButton::toggled, this, [this](bool on) {
    phaseSite->setVisible(on && this->urls.size() > 1);
    Redraw();
  });
  connect(phaseSite, &QComboBox::currentIndexChanged, this, [this] {
    if (PhaseView())
      Redraw();
  });
  connect(save, &QPushButton::clicked, this, &LatencyChart::SaveAsPng);
  Refresh();
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
  status->setText(QStringLiteral("Loading..."));
  struct Loaded {
    HistoryChart chart;
    QString error;
  };
  InBackground<Loaded>(
      this,
      [path = access.path, chosen, urls = urls] {
        HistoryQuery query(path);
        Loaded loaded;
        loaded.chart = query.Chart(chosen, urls);
        loaded.error = query.ErrorText();
        return loaded;
      },
      [this, mine](const Loaded& loaded) {
        if (mine != generation)
          return;
        loading = false;
        if (loaded.error.isEmpty())
          Draw(loaded.chart);
        else
          ShowMessage(loaded.error);
      });
}

void LatencyChart::ShowMessage(const QString& line) {
  data = HistoryChart();
  Redraw();
  status->setText(line);
}

void LatencyChart::Draw(const HistoryChart& chartData) {
  data = chartData;
  Redraw();
  qint64 samples = 0;
  for (const HistorySeries& series : data.sites)
    for (const HistoryBucket& bucket : series.buckets)
      samples += bucket.samples;
  status->setText(samples == 0 ? QStringLiteral("No samples of these sites in this span.")
                               : QStringLiteral("%1 samples in buckets of %2.").arg(samples).arg(Width(data.bucketMs)));
}

void LatencyChart::Redraw() {
  targets.clear();
  QToolTip::hideText();
  chart->removeAllSeries();
  chart->setTitle(QString());
  for (QAbstractAxis* axis : chart->axes())
    axis->setVisible(data.bucketMs > 0);
  if (data.bucketMs <= 0)
    return;
  if (PhaseView())
    DrawPhases();
  else
    DrawLatency();
}

namespace {

// Sets the axes of a chart to [fromMs, toMs) and to 0 to `top` seconds. The time axis is widened to
// whole steps of a round width (in local time), so that its ticks fall on round times.
void SetAxes(QDateTimeAxis* time, QValueAxis* seconds, qint64 fromMs, qint64 toMs, double top) {
  constexpr qint64 MinuteMs = 60000;
  constexpr qint64 HourMs = 60 * MinuteMs;
  constexpr qint64 DayMs = 24 * HourMs;
  constexpr qint64 Steps[] = {MinuteMs,      2 * MinuteMs, 5 * MinuteMs, 10 * MinuteMs, 15 * MinuteMs,
                              30 * MinuteMs, HourMs,       2 * HourMs,   3 * HourMs,    6 * HourMs,
                              12 * HourMs,   DayMs,        2 * DayMs,    7 * DayMs,     14 * DayMs};
  constexpr qint64 MaxTicks = 8;
  qint64 step = Steps[std::size(Steps) - 1];
  for (const qint64 candidate : Steps)
    if ((toMs - fromMs) / candidate <= MaxTicks) {
      step = candidate;
      break;
    }
  while ((toMs - fromMs) / step >= 2 * MaxTicks) // spans beyond weeks
    step *= 2;
  const qint64 offset = qint64(QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc()) * 1000;
  const qint64 first = HistoryStats::BucketStart(fromMs + offset, step) - offset;
  const qint64 last = HistoryStats::BucketStart(toMs + offset + step - 1, step) - offset;

  time->setFormat(step < HourMs  ? QStringLiteral("HH:mm")
                  : step < DayMs ? (last - first > DayMs ? QStringLiteral("ddd HH:mm") : QStringLiteral("HH:mm"))
                                 : QStringLiteral("d MMM"));
  time->setTickCount(int((last - first) / step) + 1);
  time->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
  seconds->setRange(0, top > 0 ? top : 1);
  seconds->applyNiceNumbers();
}

// The middle of a bucket, within the chart's time axis.
qreal Middle(const HistoryBucket& bucket, const HistoryChart& data) {
  return qreal(qBound(data.fromMs, bucket.startMs + data.bucketMs / 2, data.toMs));
}

void Attach(QChart* chart, QAbstractSeries* series) {
  chart->addSeries(series);
  for (QAbstractAxis* axis : chart->axes())
    series->attachAxis(axis);
}

} // namespace

void LatencyChart::DrawLatency() {
  // The top of the value axis: the highest band or reference line, and a warning value when it is
  // not far above them (a 20 s line would flatten pings of 0.1 s).
  double top = 0;
  for (const HistorySeries& series : data.sites)
    for (const HistoryBucket& bucket : series.buckets)
      top = std::max(top, Seconds(double(bucket.p90Us)));
  for (const HistorySeries& series : data.references)
    for (const HistoryBucket& bucket : series.buckets)
      top = std::max(top, Seconds(double(bucket.medianUs)));
  const std::pair<double, double> warnings = access.warnings ? access.warnings() : std::pair<double, double>(-1, -1);
  double axisTop = top * 1.1;
  for (const double warning : {warnings.first, warnings.second})
    if (warning > 0 && (warning <= 2 * top || top <= 0))
      axisTop = std::max(axisTop, warning * 1.05);
  SetAxes(time, seconds, data.fromMs, data.toMs, axisTop);
  chart->setTitle(QStringLiteral("Median ping of every %1, with the band from p10 to p90").arg(Width(data.bucketMs)));

  bool failuresInLegend = false;
  for (qsizetype i = 0; i < data.sites.size(); ++i) {
    const HistorySeries& site = data.sites.at(i);
    const QColor color = SiteColors[size_t(i) % std::size(SiteColors)];
    QColor shade = color;
    shade.setAlpha(60);
    bool first = true;
    for (const Piece& piece : Pieces(site.buckets, data.bucketMs)) {
      auto* band = new QAreaSeries;
      auto* upper = new QLineSeries(band);
      auto* lower = new QLineSeries(band);
      auto* median = new QLineSeries;
      for (const HistoryBucket* bucket : piece) {
        const qreal x = Middle(*bucket, data);
        upper->append(x, Seconds(double(bucket->p90Us)));
        lower->append(x, Seconds(double(bucket->p10Us)));
        median->append(x, Seconds(double(bucket->medianUs)));
      }
      band->setUpperSeries(upper);
      band->setLowerSeries(lower);
      band->setObjectName(QStringLiteral("band"));
      band->setProperty("url", site.url);
      band->setName(AddressText::Shown(site.url) + QStringLiteral(" p10-p90"));
      band->setBrush(shade);
      band->setPen(Qt::NoPen);
      Attach(chart, band);
      HideFromLegend(chart, band);

      median->setObjectName(QStringLiteral("median"));
      median->setProperty("url", site.url);
      median->setName(AddressText::Shown(site.url));
      median->setPen(QPen(color, 2));
      Attach(chart, median);
      if (!first)
        HideFromLegend(chart, median);
      targets.push_back({median, site.url, HistorySample::Kind::Site});
      first = false;
    }
  }

  bool referenceInLegend = false; // one entry for them all: they look alike
  for (const HistorySeries& reference : data.references) {
    for (const Piece& piece : Pieces(reference.buckets, data.bucketMs)) {
      auto* line = new QLineSeries;
      for (const HistoryBucket* bucket : piece)
        line->append(Middle(*bucket, data), Seconds(double(bucket->medianUs)));
      line->setObjectName(QStringLiteral("reference"));
      line->setProperty("url", reference.url);
      line->setName(QStringLiteral("Reference pings"));
      line->setPen(QPen(ReferenceColor, 1));
      Attach(chart, line);
      if (referenceInLegend)
        HideFromLegend(chart, line);
      referenceInLegend = true;
      targets.push_back({line, reference.url, HistorySample::Kind::Ref});
    }
  }

  for (int which = 0; which < 2; ++which) {
    const double value = which == 0 ? warnings.first : warnings.second;
    if (value <= 0)
      continue;
    auto* line = new QLineSeries;
    line->setObjectName(which == 0 ? QStringLiteral("warning1") : QStringLiteral("warning2"));
    line->setName(QStringLiteral("Warning %1 (%2 s)").arg(which + 1).arg(Numbers::Plain(value)));
    line->append(qreal(time->min().toMSecsSinceEpoch()), value);
    line->append(qreal(time->max().toMSecsSinceEpoch()), value);
    line->setPen(QPen(WarningColors[which], 1, Qt::DashLine));
    Attach(chart, line);
  }

  // Last, so that they are drawn over the lines.
  for (const HistorySeries& site : data.sites) {
    if (site.failureMs.isEmpty())
      continue;
    auto* marks = new QScatterSeries;
    marks->setObjectName(QStringLiteral("failures"));
    marks->setProperty("url", site.url);
    marks->setName(QStringLiteral("Failures"));
    marks->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    marks->setMarkerSize(9);
    marks->setColor(FailureColor);
    marks->setBorderColor(FailureColor);
    for (const qint64 ms : site.failureMs)
      marks->append(qreal(ms), 0);
    Attach(chart, marks);
    if (failuresInLegend)
      HideFromLegend(chart, marks);
    failuresInLegend = true;
    targets.push_back({marks, site.url, HistorySample::Kind::Site});
  }
}

void LatencyChart::DrawPhases() {
  if (data.sites.isEmpty())
    return;
  const int index = qBound(0, phaseSite->currentIndex(), int(data.sites.size()) - 1);
  const HistorySeries& site = data.sites.at(index);
  const std::vector<Piece> pieces = Pieces(site.buckets, data.bucketMs);
  const auto phaseOf = [](const HistoryBucket& bucket, int phase) {
    const HistoryPhases& p = bucket.phases;
    const double us[] = {p.nameLookupUs, p.connectUs, p.tlsUs, p.firstByteUs, p.transferUs};
    return std::max(0.0, Seconds(us[phase]));
  };
  double top = 0;
  for (const Piece& piece : pieces)
    for (const HistoryBucket* bucket : piece) {
      double sum = 0;
      for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase)
        sum += phaseOf(*bucket, phase);
      top = std::max(top, sum);
    }
  SetAxes(time, seconds, data.fromMs, data.toMs, top * 1.1);
  chart->setTitle(
      QStringLiteral("Mean phases of %1 in every %2").arg(AddressText::Shown(site.url), Width(data.bucketMs)));

  for (int phase = 0; phase < HistoryStats::PhaseCount; ++phase) {
    bool first = true;
    for (const Piece& piece : pieces) {
      auto* area = new QAreaSeries;
      auto* upper = new QLineSeries(area);
      auto* lower = new QLineSeries(area);
      for (const HistoryBucket* bucket : piece) {
        double below = 0;
        for (int earlier = 0; earlier < phase; ++earlier)
          below += phaseOf(*bucket, earlier);
        const qreal x = Middle(*bucket, data);
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
      Attach(chart, area);
      if (!first)
        HideFromLegend(chart, area);
      first = false;
    }
  }
}

bool LatencyChart::SavePng(const QString& file, QString* error) {
  const QPixmap picture = view->grab();
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) || !picture.save(&out, "PNG") || !out.commit()) {
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
    if (event->type() == QEvent::MouseMove) {
      const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
      ++hoverGeneration; // a lookup under way is for where the mouse was
      if ((pos - hoverPos).manhattanLength() > 8)
        QToolTip::hideText();
      hoverPos = pos;
      hoverTimer.start();
    } else if (event->type() == QEvent::Leave) {
      ++hoverGeneration;
      hoverTimer.stop();
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
    url = urls.value(phaseSite->currentIndex());
  } else {
    constexpr double Reach = 40; // pixels
    double distance = Reach;
    for (const Target& target : targets)
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
  if (url.isEmpty())
    return;
  const QDateTime when = QDateTime::fromMSecsSinceEpoch(qint64(chart->mapToValue(at).x()), Qt::UTC);
  const quint64 mine = ++hoverGeneration;
  InBackground<std::optional<HistorySample>>(
      this, [path = access.path, url, kind, when] { return HistoryQuery(path).Nearest(url, kind, when); },
      [this, mine, viewportPos](const std::optional<HistorySample>& sample) {
        if (mine != hoverGeneration || !sample)
          return;
        hoverText = Describe(*sample);
        QToolTip::showText(view->viewport()->mapToGlobal(viewportPos), hoverText, view->viewport());
      });
}
