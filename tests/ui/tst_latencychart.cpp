// The latency chart on a history file of two sites over the last two hours (one of them with a
// pause of forty minutes), a site that always fails and a reference address: the series it draws
// are the buckets of HistoryQuery::Chart() in milliseconds; the legend names the sites short and
// hides or shows their lines; the time axis fits the samples; the log scale, the zoom; the phase
// view stacks the phases; "Save as PNG..." writes the picture with what it shows; resting the mouse
// on a line shows the nearest sample in a tooltip that stays; one line replaces the chart when
// history is off.
#include "core/durationtext.h"
#include "history/historyquery.h"
#include "history/historystats.h"
#include "history/historystore.h"
#include "scriptedboxes.h"
#include "testenvironment.h"
#include "ui/latencychart.h"
#include "ui/viewsettings.h"

#include <QAccessible>
#include <QApplication>
#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>

namespace {

const QString A = QStringLiteral("http://a.test");
const QString B = QStringLiteral("https://b.test");
const QString Ref = QStringLiteral("http://ref1.test");
const QString Down = QStringLiteral("http://down.test");

HistorySample Sample(const QString& url, const QDateTime& at, qint64 pingUs,
                     HistorySample::Kind kind = HistorySample::Kind::Site) {
  HistorySample sample;
  sample.kind = kind;
  sample.url = url;
  sample.at = at;
  sample.pingUs = pingUs;
  if (pingUs >= 0) {
    sample.dnsUs = 2000;
    sample.connectUs = 10000;
    sample.tlsUs = url.startsWith(QLatin1String("https")) ? 30000 : -1;
    sample.ttfbUs = pingUs - 5000;
    sample.status = 200;
  } else {
    sample.result = QStringLiteral("Timed out");
  }
  return sample;
}

QList<QAbstractSeries*> Named(QChart* chart, const QString& name, const QString& url = QString()) {
  QList<QAbstractSeries*> found;
  for (QAbstractSeries* series : chart->series())
    if (series->objectName() == name && (url.isEmpty() || series->property("url").toString() == url))
      found << series;
  return found;
}

QStringList Legend(QChart* chart) {
  QStringList labels;
  for (QLegendMarker* marker : chart->legend()->markers())
    if (marker->isVisible())
      labels << marker->label();
  return labels;
}

// The value axis (the other vertical one, hidden, holds the failures' squares).
QAbstractAxis* ValueAxis(QChart* chart) {
  for (QAbstractAxis* axis : chart->axes(Qt::Vertical))
    if (axis->isVisible())
      return axis;
  return nullptr;
}

QList<QPointF> Points(QAbstractSeries* series) {
  return static_cast<QXYSeries*>(series)->points();
}

} // namespace

class tst_LatencyChart : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString path;

  HistoryAccess Access() const {
    HistoryAccess access;
    access.path = path;
    access.warnings = [] { return std::pair<double, double>(1, 20); };
    return access;
  }

  static void Loaded(LatencyChart& chart) { QTRY_VERIFY_WITH_TIMEOUT(!chart.Loading(), 20000); }

private slots:
  void initTestCase();
  void init() { QFile::remove(TestEnvironment::Current()->SettingsFile()); }
  void drawsTheBucketsOfTheSpan();
  void everySiteHasItsEntryAndItsFailures();
  void timeAxisLabels_data();
  void timeAxisLabels();
  void logScaleIsRemembered();
  void zoomsAndResets();
  void followsADarkPalette();
  void stacksThePhases();
  void savesAPng();
  void reportsAPngThatCannotBeSaved();
  void showsTheNearestSampleOnHover();
  void showsWhyThereIsNoChart();
};

// Two hours, a sample every 30 s: A slow for ten minutes and failing now and then; B pausing for
// forty minutes; a reference ping every five minutes; Down failing every ten minutes.
void tst_LatencyChart::initTestCase() {
  path = dir.filePath(QStringLiteral("history.sqlite"));
  HistoryStore store;
  QVERIFY(store.Open(path));
  const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-2 * 3600);
  for (int i = 0; i < 240; ++i) {
    const QDateTime at = start.addSecs(30 * i);
    const qint64 slow = i >= 100 && i < 120 ? 800000 : 0;
    store.Append(Sample(A, at, i % 37 == 5 ? -1 : 100000 + (i % 10) * 10000 + slow));
    if (i < 100 || i >= 180)
      store.Append(Sample(B, at.addMSecs(200), 200000 + (i % 7) * 5000));
    if (i % 10 == 0)
      store.Append(Sample(Ref, at.addSecs(2), 40000 + i * 100, HistorySample::Kind::Ref));
    if (i % 20 == 0)
      store.Append(Sample(Down, at.addSecs(1), -1));
  }
  QVERIFY(store.Flush());
}

void tst_LatencyChart::drawsTheBucketsOfTheSpan() {
  LatencyChart window(Access(), {A, B}, HistorySpan::Preset::Last24Hours);
  window.resize(1000, 560);
  window.show();
  Loaded(window);
  QChart* chart = window.Chart();
  const HistoryChart data = HistoryQuery(path).Chart(Access().SpanOf(HistorySpan::Preset::Last24Hours), {A, B});
  QCOMPARE(data.bucketMs, qint64(180000));

  // A: one median line and one band, bucket by bucket, in milliseconds; its failures along the
  // bottom in its colour.
  const HistorySeries& a = data.sites[0];
  const QList<QAbstractSeries*> medians = Named(chart, "median", A);
  QCOMPARE(medians.size(), 1);
  const QList<QPointF> median = Points(medians[0]);
  QCOMPARE(median.size(), a.buckets.size());
  for (qsizetype i = 0; i < median.size(); ++i) {
    if (i < median.size() - 1) // the last one may be cut to the end of the axis
      QCOMPARE(median[i].x(), qreal(a.buckets[i].startMs + data.bucketMs / 2));
    QCOMPARE(median[i].y(), double(a.buckets[i].medianUs) / 1e3);
  }
  const QList<QAbstractSeries*> bands = Named(chart, "band", A);
  QCOMPARE(bands.size(), 1);
  auto* band = static_cast<QAreaSeries*>(bands[0]);
  QCOMPARE(band->upperSeries()->at(5).y(), double(a.buckets[5].p90Us) / 1e3);
  QCOMPARE(band->lowerSeries()->at(5).y(), double(a.buckets[5].p10Us) / 1e3);
  QVERIFY(band->brush().color().alpha() < 255);
  const QList<QAbstractSeries*> failures = Named(chart, "failures", A);
  QCOMPARE(failures.size(), 1);
  QCOMPARE(Points(failures[0]).size(), a.failureMs.size());
  QVERIFY(a.failureMs.size() >= 6);
  const QColor colourOfA = static_cast<QLineSeries*>(medians[0])->pen().color();
  QCOMPARE(static_cast<QScatterSeries*>(failures[0])->color(), colourOfA);
  QVERIFY(Named(chart, "failures", B).isEmpty());

  // B's pause cuts its line in two, with one legend entry.
  QCOMPARE(Named(chart, "median", B).size(), 2);
  QCOMPARE(Named(chart, "band", B).size(), 2);
  QCOMPARE(Points(Named(chart, "median", B)[0]).size() + Points(Named(chart, "median", B)[1]).size(),
           data.sites[1].buckets.size());
  QVERIFY(static_cast<QLineSeries*>(Named(chart, "median", B)[0])->pen().color() != colourOfA);

  // The time axis covers the samples, not the span's empty 22 hours nor the future, with ticks on
  // round minutes.
  auto* time = qobject_cast<QCategoryAxis*>(chart->axes(Qt::Horizontal).first());
  QVERIFY(time);
  QCOMPARE(time->min(), qreal(a.buckets.first().startMs));
  QVERIFY(time->max() <= qreal(data.toMs));
  QVERIFY(time->max() > qreal(a.buckets.last().startMs));
  QVERIFY(time->count() >= 3);
  for (const QString& label : time->categoriesLabels())
    QCOMPARE(qint64(time->endValue(label)) % 60000, 0);

  // The warning values across the whole axis, the reference faint.
  for (const auto& [name, value] : {std::pair{"warning1", 1000.0}, std::pair{"warning2", 20000.0}}) {
    const QList<QAbstractSeries*> line = Named(chart, QLatin1String(name));
    QCOMPARE(line.size(), 1);
    QCOMPARE(Points(line[0]), QList<QPointF>({QPointF(time->min(), value), QPointF(time->max(), value)}));
  }
  const QList<QAbstractSeries*> reference = Named(chart, "reference", Ref);
  QCOMPARE(reference.size(), 1);
  QCOMPARE(Points(reference[0]).size(), data.references[0].buckets.size());
  QVERIFY(static_cast<QLineSeries*>(reference[0])->pen().color().alpha() < 255);

  const QString nbsp(QChar(0x00A0));
  QTRY_COMPARE(Legend(chart), QStringList({"a.test", "b.test", "Reference pings", "Warning 1 (1" + nbsp + "000 ms)",
                                           "Warning 2 (20" + nbsp + "000 ms)", "Failures"}));
  // The value axis in milliseconds reaches A's slow band and the first warning value, not the far
  // second one.
  auto* ms = qobject_cast<QValueAxis*>(ValueAxis(chart));
  QVERIFY(ms);
  QVERIFY(ms->max() >= 1000.0 && ms->max() < 20000.0);
  QCOMPARE(ms->titleText(), QStringLiteral("Ping (ms)"));
  QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Status"))->text(),
           QStringLiteral("%1 samples (%2 failed) in buckets of 3 min.").arg(240 + 160).arg(a.failureMs.size()));

  // Another span: read again, with its own buckets.
  window.SetSpan(HistorySpan::Preset::LastHour);
  Loaded(window);
  QVERIFY(Points(Named(chart, "median", A)[0]).size() > a.buckets.size());
}

// Every site has a legend entry named short, with its address on the side; a site that never
// answered has one too, and its failures in its own colour. A click on an entry hides its lines and
// another shows them; the entry stays, dimmed.
void tst_LatencyChart::everySiteHasItsEntryAndItsFailures() {
  LatencyChart window(Access(), {A, Down}, HistorySpan::Preset::Last24Hours);
  window.show();
  Loaded(window);
  QChart* chart = window.Chart();
  QCOMPARE(window.Names(), QStringList({"a.test", "down.test"}));
  QTRY_COMPARE(Legend(chart).mid(0, 2), QStringList({"a.test", "down.test"}));
  QCOMPARE(Named(chart, "median", Down).size(), 1);
  QVERIFY(Points(Named(chart, "median", Down)[0]).isEmpty());
  const QList<QAbstractSeries*> downFailures = Named(chart, "failures", Down);
  QCOMPARE(downFailures.size(), 1);
  QCOMPARE(Points(downFailures[0]).size(), 12);
  QCOMPARE(static_cast<QScatterSeries*>(downFailures[0])->color(),
           static_cast<QLineSeries*>(Named(chart, "median", Down)[0])->pen().color());
  QVERIFY(static_cast<QScatterSeries*>(downFailures[0])->color() !=
          static_cast<QScatterSeries*>(Named(chart, "failures", A)[0])->color());

  QLegendMarker* entry = window.LegendEntry(QStringLiteral("a.test"));
  QVERIFY(entry);
  emit entry->clicked();
  for (const char* name : {"median", "band", "failures"})
    for (QAbstractSeries* series : Named(chart, QLatin1String(name), A))
      QVERIFY(!series->isVisible());
  QVERIFY(Named(chart, "failures", Down)[0]->isVisible());
  QVERIFY(window.LegendEntry(QStringLiteral("a.test"))->isVisible());
  QVERIFY(Legend(chart).contains(QStringLiteral("a.test")));
  // "Failures" hides every square; a.test stays hidden when they come back.
  window.ToggleEntry(QStringLiteral("Failures"));
  QVERIFY(!Named(chart, "failures", Down)[0]->isVisible());
  window.ToggleEntry(QStringLiteral("Failures"));
  QVERIFY(Named(chart, "failures", Down)[0]->isVisible());
  QVERIFY(!Named(chart, "failures", A)[0]->isVisible());
  emit window.LegendEntry(QStringLiteral("a.test"))->clicked();
  for (const char* name : {"median", "band", "failures"})
    for (QAbstractSeries* series : Named(chart, QLatin1String(name), A))
      QVERIFY(series->isVisible());
}

void tst_LatencyChart::timeAxisLabels_data() {
  QTest::addColumn<QTime>("start"); // local time of the first sample, today
  QTest::addColumn<int>("hours");   // how long the samples go on
  QTest::addColumn<bool>("dated");  // some label carries the date
  QTest::addColumn<bool>("allDated");
  QTest::newRow("an afternoon") << QTime(13, 0) << 3 << false << false;
  QTest::newRow("across midnight") << QTime(22, 30) << 3 << true << false;
  QTest::newRow("three days") << QTime(9, 0) << 72 << true << true;
}

// The time axis' labels carry the date when the samples cross midnight (on the first label and
// at the new day), and on every label beyond a day.
void tst_LatencyChart::timeAxisLabels() {
  QFETCH(QTime, start);
  QFETCH(int, hours);
  QFETCH(bool, dated);
  QFETCH(bool, allDated);
  const qint64 from = QDateTime(QDate::currentDate().addDays(-5), start).toMSecsSinceEpoch();
  HistoryChart data;
  data.fromMs = from;
  data.toMs = from + qint64(hours) * 3600000;
  data.bucketMs = HistoryStats::BucketMs(data.toMs - data.fromMs);
  HistorySeries series;
  series.url = A;
  for (qint64 at = data.fromMs; at < data.toMs; at += data.bucketMs) {
    HistoryBucket bucket;
    bucket.startMs = at;
    bucket.samples = 1;
    bucket.p10Us = bucket.medianUs = bucket.p90Us = 100000;
    series.buckets << bucket;
  }
  data.sites << series;
  LatencyChart window(Access(), {A}, HistorySpan::Preset::All);
  window.resize(1000, 560);
  window.show();
  Loaded(window);
  window.Draw(data);
  auto* time = qobject_cast<QCategoryAxis*>(window.Chart()->axes(Qt::Horizontal).first());
  const QStringList labels = time->categoriesLabels();
  QVERIFY(labels.size() >= 3);
  const QRegularExpression date(QStringLiteral("^\\d{1,2} \\S+"));
  qsizetype withDate = 0;
  for (const QString& label : labels)
    withDate += date.match(label).hasMatch() ? 1 : 0;
  QVERIFY2((withDate > 0) == dated, qPrintable(labels.join(QLatin1Char('|'))));
  QVERIFY2((withDate == labels.size()) == allDated, qPrintable(labels.join(QLatin1Char('|'))));
}

// Log scale: a logarithmic axis over whole powers of ten, remembered for the next chart.
void tst_LatencyChart::logScaleIsRemembered() {
  {
    LatencyChart window(Access(), {A, B}, HistorySpan::Preset::Last24Hours);
    window.show();
    Loaded(window);
    QVERIFY(!window.LogScale());
    window.findChild<QPushButton*>(QStringLiteral("LogScale"))->click();
    auto* log = qobject_cast<QLogValueAxis*>(ValueAxis(window.Chart()));
    QVERIFY(log);
    QCOMPARE(log->min(), 10.0);    // the reference pings: 40 ms
    QCOMPARE(log->max(), 10000.0); // above the slow band and the first warning value (1 050 ms)
  }
  QVERIFY(ViewSettings::ChartLogScale());
  LatencyChart again(Access(), {A}, HistorySpan::Preset::Last24Hours);
  again.show();
  Loaded(again);
  QVERIFY(again.LogScale());
  QVERIFY(qobject_cast<QLogValueAxis*>(ValueAxis(again.Chart())));
}

// The wheel and a rectangle zoom; a double click or "Reset zoom" show the whole span again; a
// live reading of the same span keeps the zoom.
void tst_LatencyChart::zoomsAndResets() {
  LatencyChart window(Access(), {A}, HistorySpan::Preset::Last24Hours);
  window.resize(1000, 600);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  Loaded(window);
  auto* time = qobject_cast<QCategoryAxis*>(window.Chart()->axes(Qt::Horizontal).first());
  auto* reset = window.findChild<QPushButton*>(QStringLiteral("ResetZoom"));
  const double from = time->min();
  const double to = time->max();
  QVERIFY(!window.Zoomed() && !reset->isEnabled());

  window.ZoomTime(0.5, (from + to) / 2);
  QVERIFY(window.Zoomed() && reset->isEnabled());
  QCOMPARE(time->max() - time->min(), (to - from) / 2);
  const double zoomedFrom = time->min();
  window.Refresh(); // as the live refresh does
  Loaded(window);
  QVERIFY(window.Zoomed());
  QCOMPARE(time->min(), zoomedFrom);
  reset->click();
  QVERIFY(!window.Zoomed());
  QCOMPARE(time->min(), from);

  // A rectangle dragged over the middle of the plot.
  const QRectF plot = window.Chart()->plotArea();
  window.Chart()->zoomIn(QRectF(plot.center() - QPointF(50, 50), QSizeF(100, 100)));
  QVERIFY(window.Zoomed());
  QTest::mouseDClick(window.View()->viewport(), Qt::LeftButton, {}, plot.center().toPoint());
  QVERIFY(!window.Zoomed());
  // The wheel turned forward zooms in on the time axis.
  QWheelEvent wheel(plot.center(), window.View()->viewport()->mapToGlobal(plot.center()), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(window.View()->viewport(), &wheel);
  QVERIFY(window.Zoomed());
  QVERIFY(time->max() - time->min() < to - from);
}

// A dark palette: the chart's background, texts and warning lines follow it.
void tst_LatencyChart::followsADarkPalette() {
  LatencyChart window(Access(), {A}, HistorySpan::Preset::Last24Hours);
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
  window.setPalette(dark);
  window.show();
  Loaded(window);
  QChart* chart = window.Chart();
  QCOMPARE(chart->backgroundBrush().color(), QColor(0x20, 0x20, 0x20));
  QCOMPARE(chart->legend()->labelColor(), QColor(0xe0, 0xe0, 0xe0));
  QCOMPARE(ValueAxis(chart)->labelsBrush().color(), QColor(0xe0, 0xe0, 0xe0));
  const QColor warning = static_cast<QLineSeries*>(Named(chart, "warning1").first())->pen().color();
  QVERIFY(warning.lightnessF() > 0.5); // a blue that reads on the dark background
}

void tst_LatencyChart::stacksThePhases() {
  LatencyChart window(Access(), {A, B}, HistorySpan::Preset::Last24Hours);
  window.show();
  Loaded(window);
  auto* site = window.findChild<QComboBox*>(QStringLiteral("PhaseSite"));
  QVERIFY(!site->isVisible());
  window.findChild<QPushButton*>(QStringLiteral("Phases"))->click();
  QVERIFY(window.PhaseView());
  QVERIFY(site->isVisible());
  QChart* chart = window.Chart();
  QVERIFY(Named(chart, "median").isEmpty());
  QTRY_COMPARE(Legend(chart), QStringList({"Name lookup", "Connect", "TLS", "First byte", "Transfer"}));
  QCOMPARE(Named(chart, "phase", A).size(), 5);

  // Stacked: each phase starts where the one before ends; the top is the bucket's mean ping.
  const HistoryChart data = HistoryQuery(path).Chart(Access().SpanOf(HistorySpan::Preset::Last24Hours), {A});
  const HistoryPhases& phases = data.sites[0].buckets[3].phases;
  const QList<QAbstractSeries*> stack = Named(chart, "phase", A);
  for (int i = 1; i < 5; ++i)
    QCOMPARE(static_cast<QAreaSeries*>(stack[i])->lowerSeries()->at(3).y(),
             static_cast<QAreaSeries*>(stack[i - 1])->upperSeries()->at(3).y());
  QCOMPARE(static_cast<QAreaSeries*>(stack[0])->upperSeries()->at(3).y(), phases.nameLookupUs / 1e3);
  QCOMPARE(static_cast<QAreaSeries*>(stack[2])->upperSeries()->at(3).y(),
           static_cast<QAreaSeries*>(stack[1])->upperSeries()->at(3).y()); // no TLS on http
  QCOMPARE(static_cast<QAreaSeries*>(stack[4])->upperSeries()->at(3).y(),
           (phases.nameLookupUs + phases.connectUs + phases.firstByteUs + phases.transferUs) / 1e3);

  // The other site: its line is cut at its pause, each phase has one legend entry.
  site->setCurrentIndex(1);
  QCOMPARE(Named(chart, "phase", B).size(), 10);
  QTRY_COMPARE(Legend(chart).size(), 5);

  window.SetPhaseView(false);
  QVERIFY(Named(chart, "phase").isEmpty());
  QCOMPARE(Named(chart, "median").size(), 3);
  QVERIFY(ViewSettings::ChartPhases() == false);
}

void tst_LatencyChart::savesAPng() {
  ScriptedBoxes boxes;
  QTemporaryDir out;
  HistoryAccess access = Access();
  QString asked;
  access.saveFileName = [&](QWidget*, const QString& caption, const QString& name, const QString& filters) {
    asked = QStringList{caption, name, filters}.join(QLatin1Char('|'));
    return out.filePath(QStringLiteral("latency")); // typed without an ending
  };
  LatencyChart window(access, {A}, HistorySpan::Preset::Last24Hours);
  window.resize(900, 500);
  window.show();
  Loaded(window);
  window.findChild<QPushButton*>(QStringLiteral("SavePng"))->click();
  QCOMPARE(asked, QStringLiteral("Save as PNG|chart.png|PNG image (*.png)"));
  QCOMPARE(boxes.Texts(), QStringList());
  QImage image;
  QVERIFY(image.load(out.filePath(QStringLiteral("latency.png")), "PNG"));
  // The chart below a heading with the sites, the span and the date, which the file also carries.
  QCOMPARE(image.width(), int(window.View()->width() * window.View()->devicePixelRatio()));
  QVERIFY(image.height() > window.View()->height() * window.View()->devicePixelRatio());
  QCOMPARE(image.text(QStringLiteral("Sites")), A);
  QVERIFY2(image.text(QStringLiteral("Span")).startsWith(QStringLiteral("24 hours: ")),
           qPrintable(image.text(QStringLiteral("Span"))));
  QVERIFY(image.text(QStringLiteral("Creation Time")).startsWith(QDate::currentDate().toString(Qt::ISODate)));
  // Not blank: the chart was drawn into it, across the middle.
  bool drawn = false;
  for (int x = 0; x < image.width() && !drawn; ++x)
    drawn = image.pixelColor(x, image.height() / 2) != image.pixelColor(2, 2);
  QVERIFY(drawn);
}

void tst_LatencyChart::reportsAPngThatCannotBeSaved() {
  ScriptedBoxes boxes;
  QTemporaryDir out;
  HistoryAccess access = Access();
  access.saveFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
    return out.filePath(QStringLiteral("none/chart.png"));
  };
  LatencyChart window(access, {A}, HistorySpan::Preset::Last24Hours);
  window.show();
  Loaded(window);
  window.SaveAsPng();
  QCOMPARE(boxes.shown.size(), 1);
  QVERIFY2(boxes.shown.first().text.startsWith(QStringLiteral("Cannot save the chart to ")),
           qPrintable(boxes.shown.first().text));
}

// The mouse rests on a point of A's line: the tooltip shows the sample of A nearest to that time;
// resting far from every line shows nothing.
void tst_LatencyChart::showsTheNearestSampleOnHover() {
  LatencyChart window(Access(), {A}, HistorySpan::Preset::Last24Hours);
  window.resize(1000, 600);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  Loaded(window);
  QChart* chart = window.Chart();
  QChartView* view = window.View();
  QTRY_COMPARE(Legend(chart).size(), 5); // laid out: the plot area stays where it is
  QTest::qWait(20);
  auto* median = static_cast<QXYSeries*>(Named(chart, "median", A).first());
  const QPointF point = median->at(10);
  const QPoint pos = view->mapFromScene(chart->mapToScene(chart->mapToPosition(point, median)));

  QTest::mouseMove(window.windowHandle(), view->viewport()->mapTo(&window, pos));
  QTRY_VERIFY_WITH_TIMEOUT(!window.HoverText().isEmpty(), 5000);
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(
      qint64(chart->mapToValue(chart->mapFromScene(view->mapToScene(pos))).x()), Qt::UTC);
  const std::optional<HistorySample> nearest = HistoryQuery(path).Nearest(A, HistorySample::Kind::Site, at);
  QVERIFY(nearest);
  const QStringList lines = window.HoverText().split(QLatin1Char('\n'));
  QCOMPARE(lines.value(0), A);
  QCOMPARE(lines.value(1), nearest->at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
  QCOMPARE(lines.value(2), QStringLiteral("Ping %1").arg(DurationText::WithUnit(double(nearest->pingUs))));
  QCOMPARE(lines.value(3), QStringLiteral("Name lookup 2.00 ms, Connect 8.00 ms"));
  QCOMPARE(
      lines.value(4),
      QStringLiteral("First byte %1, Transfer 5.00 ms").arg(DurationText::WithUnit(double(nearest->pingUs - 15000))));
  // The tooltip stays while the mouse rests: the view's own tooltip request does not hide it.
  QTRY_VERIFY(QToolTip::isVisible());
  QHelpEvent request(QEvent::ToolTip, pos, view->viewport()->mapToGlobal(pos));
  QApplication::sendEvent(view->viewport(), &request);
  QVERIFY(QToolTip::isVisible());
  QCOMPARE(QToolTip::text(), window.HoverText());

  // High above every line: nothing to show.
  window.HoverAt(view->mapFromScene(chart->mapToScene(chart->plotArea().topLeft() + QPointF(5, 5))));
  const QString before = window.HoverText();
  QTest::qWait(200);
  QCOMPARE(window.HoverText(), before);
}

void tst_LatencyChart::showsWhyThereIsNoChart() {
  HistoryAccess access = Access();
  access.offLine = [] { return QStringLiteral("History is off: history.sqlite is locked by another program"); };
  LatencyChart window(access, {A}, HistorySpan::Preset::Last24Hours);
  window.show();
  Loaded(window);
  QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Status"))->text(),
           QStringLiteral("History is off: history.sqlite is locked by another program"));
  QVERIFY(window.Chart()->series().isEmpty());
}

TARVIK_TEST_MAIN(QApplication, tst_LatencyChart)
#include "tst_latencychart.moc"
