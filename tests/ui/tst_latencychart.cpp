// The latency chart on a history file of two sites over the last two hours (one of them with a
// pause of forty minutes) and a reference address: the series it draws are the buckets of
// HistoryQuery::Chart(); the phase view stacks the phases; "Save as PNG..." writes the picture of
// the chart; resting the mouse on a line shows the nearest sample; one line replaces the chart when
// history is off.
#include "history/historyquery.h"
#include "history/historystore.h"
#include "platform/numbers.h"
#include "scriptedboxes.h"
#include "testenvironment.h"
#include "ui/latencychart.h"

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

namespace {

const QString A = QStringLiteral("http://a.test");
const QString B = QStringLiteral("https://b.test");
const QString Ref = QStringLiteral("http://ref1.test");

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
  void drawsTheBucketsOfTheSpan();
  void stacksThePhases();
  void savesAPng();
  void reportsAPngThatCannotBeSaved();
  void showsTheNearestSampleOnHover();
  void showsWhyThereIsNoChart();
};

// Two hours, a sample every 30 s: A slow for ten minutes and failing now and then; B pausing for
// forty minutes; a reference ping every five minutes.
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
  }
  QVERIFY(store.Flush());
}

void tst_LatencyChart::drawsTheBucketsOfTheSpan() {
  LatencyChart window(Access(), {A, B}, HistorySpan::Preset::Last24Hours);
  window.show();
  Loaded(window);
  QChart* chart = window.Chart();
  const HistoryChart data = HistoryQuery(path).Chart(Access().SpanOf(HistorySpan::Preset::Last24Hours), {A, B});
  QCOMPARE(data.bucketMs, qint64(180000));

  // A: one median line and one band, bucket by bucket; its failures on the time axis.
  const HistorySeries& a = data.sites[0];
  const QList<QAbstractSeries*> medians = Named(chart, "median", A);
  QCOMPARE(medians.size(), 1);
  const QList<QPointF> median = Points(medians[0]);
  QCOMPARE(median.size(), a.buckets.size());
  for (qsizetype i = 0; i < median.size(); ++i) {
    if (i < median.size() - 1) // the last one may be cut to the end of the axis
      QCOMPARE(median[i].x(), qreal(a.buckets[i].startMs + data.bucketMs / 2));
    QCOMPARE(median[i].y(), double(a.buckets[i].medianUs) / 1e6);
  }
  const QList<QAbstractSeries*> bands = Named(chart, "band", A);
  QCOMPARE(bands.size(), 1);
  auto* band = static_cast<QAreaSeries*>(bands[0]);
  QCOMPARE(band->upperSeries()->at(5).y(), double(a.buckets[5].p90Us) / 1e6);
  QCOMPARE(band->lowerSeries()->at(5).y(), double(a.buckets[5].p10Us) / 1e6);
  QVERIFY(band->brush().color().alpha() < 255);
  const QList<QAbstractSeries*> failures = Named(chart, "failures", A);
  QCOMPARE(failures.size(), 1);
  QCOMPARE(Points(failures[0]).size(), a.failureMs.size());
  QVERIFY(a.failureMs.size() >= 6);
  for (const QPointF& mark : Points(failures[0]))
    QCOMPARE(mark.y(), 0.0);
  QCOMPARE(static_cast<QScatterSeries*>(failures[0])->color(), QColor(0xd6, 0x27, 0x28));
  QVERIFY(Named(chart, "failures", B).isEmpty());

  // B's pause cuts its line in two, with one legend entry.
  QCOMPARE(Named(chart, "median", B).size(), 2);
  QCOMPARE(Named(chart, "band", B).size(), 2);
  QCOMPARE(Points(Named(chart, "median", B)[0]).size() + Points(Named(chart, "median", B)[1]).size(),
           data.sites[1].buckets.size());

  // The warning values across the whole axis, the reference faint.
  for (const auto& [name, value] : {std::pair{"warning1", 1.0}, std::pair{"warning2", 20.0}}) {
    const QList<QAbstractSeries*> line = Named(chart, QLatin1String(name));
    QCOMPARE(line.size(), 1);
    const auto* time = qobject_cast<QDateTimeAxis*>(chart->axes(Qt::Horizontal).first());
    QCOMPARE(Points(line[0]), QList<QPointF>({QPointF(qreal(time->min().toMSecsSinceEpoch()), value),
                                              QPointF(qreal(time->max().toMSecsSinceEpoch()), value)}));
  }
  const QList<QAbstractSeries*> reference = Named(chart, "reference", Ref);
  QCOMPARE(reference.size(), 1);
  QCOMPARE(Points(reference[0]).size(), data.references[0].buckets.size());
  QVERIFY(static_cast<QLineSeries*>(reference[0])->pen().color().alpha() < 255);

  QTRY_COMPARE(Legend(chart),
               QStringList({A, B, "Reference pings", "Warning 1 (1 s)", "Warning 2 (20 s)", "Failures"}));
  // The value axis reaches A's slow band and the first warning value, not the far second one.
  auto* seconds = qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).first());
  QVERIFY(seconds->max() >= 1.0 && seconds->max() < 20.0);
  QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Status"))->text(),
           QStringLiteral("%1 samples in buckets of 3 min.").arg(240 + 160));

  // Another span: read again, with its own buckets.
  window.SetSpan(HistorySpan::Preset::LastHour);
  Loaded(window);
  QVERIFY(Points(Named(chart, "median", A)[0]).size() > a.buckets.size());
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
  QCOMPARE(static_cast<QAreaSeries*>(stack[0])->upperSeries()->at(3).y(), phases.nameLookupUs / 1e6);
  QCOMPARE(static_cast<QAreaSeries*>(stack[2])->upperSeries()->at(3).y(),
           static_cast<QAreaSeries*>(stack[1])->upperSeries()->at(3).y()); // no TLS on http
  QCOMPARE(static_cast<QAreaSeries*>(stack[4])->upperSeries()->at(3).y(),
           (phases.nameLookupUs + phases.connectUs + phases.firstByteUs + phases.transferUs) / 1e6);

  // The other site: its line is cut at its pause, each phase has one legend entry.
  site->setCurrentIndex(1);
  QCOMPARE(Named(chart, "phase", B).size(), 10);
  QTRY_COMPARE(Legend(chart).size(), 5);

  window.SetPhaseView(false);
  QVERIFY(Named(chart, "phase").isEmpty());
  QCOMPARE(Named(chart, "median").size(), 3);
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
  QCOMPARE(image.size(), window.View()->size() * window.View()->devicePixelRatio());
  // Not blank: the chart was drawn into it.
  QVERIFY(image.pixelColor(image.width() / 2, image.height() / 2) != image.pixelColor(2, 2) ||
          image.pixelColor(image.width() / 3, image.height() / 3) != image.pixelColor(2, 2));
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
  QCOMPARE(lines.value(2), QStringLiteral("Ping %1").arg(Numbers::Fixed3(double(nearest->pingUs) / 1e6)));
  QCOMPARE(lines.value(3), QStringLiteral("Name lookup 0.002, Connect 0.008"));
  QCOMPARE(lines.value(4),
           QStringLiteral("First byte %1, Transfer 0.005").arg(Numbers::Fixed3(double(nearest->pingUs - 15000) / 1e6)));

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
