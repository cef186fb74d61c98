// The Sites window on a small history file of known samples: its figures for every span are the
// summary's; a result that comes back after the span changed again is dropped; the header sorts
// with the references last and the selection kept; export writes the span's samples of the selected
// addresses (or all) and reports failures in a box; one line replaces the table when history is
// off or the file cannot be read; the store is flushed before each read; "Chart" opens a chart of
// the selected sites. It refreshes itself, keeping what the user looks at; it remembers its span,
// sort order and place; it works from the keyboard.
#include "history/historyquery.h"
#include "history/historystore.h"
#include "history/historysummarymodel.h"
#include "scriptedboxes.h"
#include "testenvironment.h"
#include "ui/incidentsmodel.h"
#include "ui/latencychart.h"
#include "ui/liverefresh.h"
#include "ui/siteswindow.h"
#include "ui/viewsettings.h"
#include "ui/windowhabits.h"

#include <QAccessible>
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

Q_DECLARE_METATYPE(HistorySpan::Preset)

namespace {

const QString A = QStringLiteral("http://a.test");
const QString B = QStringLiteral("https://b.test/it's,odd");
const QString Ref = QStringLiteral("http://ref.test");

HistorySample Sample(const QString& url, const QDateTime& at, qint64 pingUs, qint64 runId,
                     HistorySample::Kind kind = HistorySample::Kind::Site) {
  HistorySample sample;
  sample.kind = kind;
  sample.url = url;
  sample.at = at;
  sample.runId = runId;
  sample.pingUs = pingUs;
  if (pingUs >= 0) {
    sample.dnsUs = 1000;
    sample.connectUs = 3000;
    sample.ttfbUs = pingUs - 2000;
    sample.status = 200;
    sample.result = QString(); // the marker file
  } else {
    sample.result = QStringLiteral("Timed out");
  }
  return sample;
}

} // namespace

class tst_SitesWindow : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString path;
  qint64 runId = 0;

  // The windows' access to the fixture; the run id getter reads `runId`.
  HistoryAccess Access() {
    HistoryAccess access;
    access.path = path;
    access.currentRunId = [this] { return runId; };
    access.warnings = [] { return std::pair<double, double>(1, 20); };
    return access;
  }

  static QTableView* Table(SitesWindow& window) { return window.findChild<QTableView*>(QStringLiteral("Table")); }
  static HistorySummaryModel* Model(SitesWindow& window) {
    return qobject_cast<HistorySummaryModel*>(Table(window)->model());
  }
  static QString Status(SitesWindow& window) { return window.findChild<QLabel*>(QStringLiteral("Status"))->text(); }
  static QStringList Addresses(SitesWindow& window) {
    QStringList urls;
    for (const SiteSummary& line : Model(window)->Lines())
      urls << line.url;
    return urls;
  }
  static void Select(SitesWindow& window, const QStringList& urls) {
    QTableView* table = Table(window);
    table->clearSelection();
    for (int row = 0; row < Model(window)->rowCount(); ++row)
      if (urls.contains(Model(window)->Line(row).url))
        table->selectionModel()->select(Model(window)->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  static void Loaded(SitesWindow& window) { QTRY_VERIFY_WITH_TIMEOUT(!window.Loading(), 20000); }

private slots:
  void initTestCase();
  void init() { QFile::remove(TestEnvironment::Current()->SettingsFile()); }

  void showsTheSummaryOfEachSpan_data();
  void showsTheSummaryOfEachSpan();
  void showsTheFiguresAsTheProgramWritesTimes();
  void dropsTheResultOfAnEarlierSpan();
  void sortsWithReferencesLastAndKeepsTheSelection();

  void exportsTheSpan_data();
  void exportsTheSpan();
  void reportsAFailedExport_data();
  void reportsAFailedExport();

  void showsOneLineInsteadOfTheTable_data();
  void showsOneLineInsteadOfTheTable();
  void flushesTheStoreBeforeReading();
  void opensAChartOfTheSelectedSites();
  void dropsTheFiguresOfAWindowThatIsGone();
  void showsHealthCertificateAndIncidents();

  void keyboard_data();
  void keyboard();
  void everyControlHasAnAccessibleName();
  void refreshesItselfKeepingWhatTheUserSees();
  void aReadUnderWayIsNotStartedAgain();
  void refreshesEveryFewSecondsWhileTheSpanReachesThePresent();
  void remembersSpanSortAndPlace();
  void fitsIntoTheScreen_data();
  void fitsIntoTheScreen();
};

// This run: A (three pings and a failure) and B (one ping) a few seconds after it began, and a
// reference ping. Before it, without a run: B three days ago (two pings) and forty days ago.
void tst_SitesWindow::initTestCase() {
  path = dir.filePath(QStringLiteral("history.sqlite"));
  HistoryStore store;
  QVERIFY(store.Open(path));
  runId = store.BeginRun(2, 60, 1, 20);
  QVERIFY(runId > 0);
  const QDateTime start = QDateTime::currentDateTimeUtc();
  store.Append(Sample(A, start.addSecs(1), 100000, runId));
  store.Append(Sample(A, start.addSecs(2), 300000, runId));
  store.Append(Sample(A, start.addSecs(3), 200000, runId));
  store.Append(Sample(A, start.addSecs(4), -1, runId));
  store.Append(Sample(B, start.addSecs(5), 150000, runId));
  store.Append(Sample(Ref, start.addSecs(6), 50000, -1, HistorySample::Kind::Ref));
  store.Append(Sample(B, start.addDays(-3), 400000, -1));
  store.Append(Sample(B, start.addDays(-3).addSecs(60), 500000, -1));
  store.Append(Sample(B, start.addDays(-40), 900000, -1));
  QVERIFY(store.Flush());
}

void tst_SitesWindow::showsTheSummaryOfEachSpan_data() {
  QTest::addColumn<HistorySpan::Preset>("preset");
  QTest::addColumn<QStringList>("addresses");
  QTest::addColumn<qint64>("samplesOfB");
  QTest::newRow("this run") << HistorySpan::Preset::ThisRun << QStringList{A, B, Ref} << qint64(1);
  QTest::newRow("last hour") << HistorySpan::Preset::LastHour << QStringList{A, B, Ref} << qint64(1);
  QTest::newRow("24 hours") << HistorySpan::Preset::Last24Hours << QStringList{A, B, Ref} << qint64(1);
  QTest::newRow("7 days") << HistorySpan::Preset::Last7Days << QStringList{A, B, Ref} << qint64(3);
  QTest::newRow("30 days") << HistorySpan::Preset::Last30Days << QStringList{A, B, Ref} << qint64(3);
  QTest::newRow("all") << HistorySpan::Preset::All << QStringList{A, B, Ref} << qint64(4);
}

// Every span shows what HistoryQuery::Summary() gives for it, line for line.
void tst_SitesWindow::showsTheSummaryOfEachSpan() {
  QFETCH(HistorySpan::Preset, preset);
  QFETCH(QStringList, addresses);
  QFETCH(qint64, samplesOfB);

  SitesWindow window(Access());
  window.show();
  Loaded(window);
  window.SetSpan(preset);
  Loaded(window);
  QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("Span"))->currentText(),
           QStringList({"This run", "Last hour", "24 hours", "7 days", "30 days", "All"}).at(int(preset)));
  QCOMPARE(Addresses(window), addresses);

  const QList<SiteSummary> expected = HistoryQuery(path).Summary(Access().SpanOf(preset));
  const QList<SiteSummary>& shown = Model(window)->Lines();
  QCOMPARE(shown.size(), expected.size());
  for (qsizetype i = 0; i < shown.size(); ++i) {
    QCOMPARE(shown[i].url, expected[i].url);
    QCOMPARE(shown[i].samples, expected[i].samples);
    QCOMPARE(shown[i].failures, expected[i].failures);
    QCOMPARE(shown[i].p50Us, expected[i].p50Us);
    QCOMPARE(shown[i].p99Us, expected[i].p99Us);
    QCOMPARE(shown[i].meanUs, expected[i].meanUs);
    QCOMPARE(shown[i].phases.connectUs, expected[i].phases.connectUs);
    QCOMPARE(shown[i].lastUs, expected[i].lastUs);
  }
  QCOMPARE(shown[1].samples, samplesOfB);
  QCOMPARE(Status(window), QStringLiteral("2 sites, 1 reference address, %1 samples.").arg(5 + samplesOfB));

  // Without a run, "This run" has nothing to show and says why.
  const qint64 kept = runId;
  runId = 0;
  window.SetSpan(HistorySpan::Preset::ThisRun);
  window.Refresh();
  Loaded(window);
  runId = kept;
  QCOMPARE(Model(window)->rowCount(), 0);
  QCOMPARE(Status(window), QStringLiteral("Testing has not run since the program started."));
}

void tst_SitesWindow::showsTheFiguresAsTheProgramWritesTimes() {
  SitesWindow window(Access());
  window.SetSpan(HistorySpan::Preset::LastHour);
  window.show();
  Loaded(window);
  const HistorySummaryModel* model = Model(window);
  QStringList a;
  for (int column = 0; column < HistorySummaryModel::ColumnCount; ++column)
    a << model->index(0, column).data().toString();
  // 0.1, 0.3, 0.2 and a failure: the last sample failed; phases 1 ms lookup, 2 ms connect, first
  // byte ping - 5 ms, 2 ms transfer.
  // clang-format off
  QCOMPARE(a, QStringList({A, "up", "75.00", "4", "1", "0", "25.00", "", "100", "200", "300", "300", "300", "200",
                           "81.6", "Failed", "1.00", "2.00", "", "195", "2.00", ""}));
  // clang-format on
  QCOMPARE(model->headerData(HistorySummaryModel::P95, Qt::Horizontal).toString(), QStringLiteral("p95 (ms)"));
  QCOMPARE(model->index(2, HistorySummaryModel::Note).data().toString(), QStringLiteral("reference"));
}

// Two span changes while the pool is busy: both reads come back after the second change, and only
// the last span's figures are shown (the model is reset by each change and once by the last read,
// never by the earlier one).
void tst_SitesWindow::dropsTheResultOfAnEarlierSpan() {
  SitesWindow window(Access());
  window.show();
  Loaded(window);
  QSignalSpy resets(Model(window), &QAbstractItemModel::modelReset);

  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  QSemaphore busy;
  pool->start([&busy] { busy.acquire(); });
  window.SetSpan(HistorySpan::Preset::All);
  window.SetSpan(HistorySpan::Preset::LastHour);
  QVERIFY(window.Loading());
  QCOMPARE(Status(window), QStringLiteral("Loading..."));
  busy.release();
  pool->waitForDone();
  pool->setMaxThreadCount(threads);
  Loaded(window);
  QTest::qWait(50); // any other continuation runs now
  QCOMPARE(resets.count(), 3);
  QCOMPARE(Model(window)->Line(1).samples, qint64(1)); // B in the last hour, not in all time (4)
}

void tst_SitesWindow::sortsWithReferencesLastAndKeepsTheSelection() {
  SitesWindow window(Access());
  window.SetSpan(HistorySpan::Preset::All);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  Loaded(window);
  Select(window, {A});
  QHeaderView* header = Table(window)->horizontalHeader();
  const auto click = [&](int column) {
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 4, header->height() / 2));
  };
  // p50: A 0.2, B 0.45 (0.15, 0.4, 0.5, 0.9)
  click(HistorySummaryModel::P50);
  QCOMPARE(Addresses(window), QStringList({A, B, Ref}));
  click(HistorySummaryModel::P50);
  QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
  QCOMPARE(Addresses(window), QStringList({B, A, Ref}));
  QCOMPARE(window.SelectedAddresses(), QStringList{A});

  // The order and the selection outlive a refresh.
  window.Refresh();
  Loaded(window);
  QCOMPARE(Addresses(window), QStringList({B, A, Ref}));
  QCOMPARE(window.SelectedAddresses(), QStringList{A});
}

void tst_SitesWindow::exportsTheSpan_data() {
  QTest::addColumn<QStringList>("selected");
  QTest::addColumn<QString>("file");
  QTest::addColumn<HistorySpan::Preset>("preset");
  QTest::addColumn<QStringList>("exported"); // the host names written
  QTest::addColumn<int>("rows");
  QTest::newRow("nothing selected: all, CSV") << QStringList() << "all.csv" << HistorySpan::Preset::Last24Hours
                                              << QStringList{"a.test", "b.test", "ref.test"} << 6;
  QTest::newRow("a site, JSON Lines") << QStringList{A} << "a.jsonl" << HistorySpan::Preset::All
                                      << QStringList{"a.test"} << 4;
  QTest::newRow("a site and a reference over 7 days")
      << QStringList{B, Ref} << "b.csv" << HistorySpan::Preset::Last7Days << QStringList{"b.test", "ref.test"} << 4;
}

void tst_SitesWindow::exportsTheSpan() {
  QFETCH(QStringList, selected);
  QFETCH(QString, file);
  QFETCH(HistorySpan::Preset, preset);
  QFETCH(QStringList, exported);
  QFETCH(int, rows);

  ScriptedBoxes boxes;
  QTemporaryDir out;
  HistoryAccess access = Access();
  QString asked;
  access.saveFileName = [&](QWidget*, const QString& caption, const QString&, const QString& filters) {
    asked = caption + QLatin1Char('|') + filters;
    return out.filePath(file);
  };
  SitesWindow window(access);
  window.SetSpan(preset);
  window.show();
  Loaded(window);
  Select(window, selected);
  window.findChild<QPushButton*>(QStringLiteral("Export"))->click();
  QCOMPARE(asked, QStringLiteral("Export|CSV (*.csv);;JSON Lines (*.jsonl)"));
  QTRY_VERIFY_WITH_TIMEOUT(!window.Exporting(), 20000);
  QCOMPARE(boxes.Texts(), QStringList());
  QCOMPARE(Status(window), QStringLiteral("%1 samples written to %2.").arg(rows).arg(out.filePath(file)));

  QFile written(out.filePath(file));
  QVERIFY(written.open(QIODevice::ReadOnly));
  const QByteArray text = written.readAll();
  const bool csv = file.endsWith(QLatin1String(".csv"));
  QCOMPARE(text.count(csv ? "\r\n" : "\n"), rows + (csv ? 1 : 0));
  for (const QString host : {"a.test", "b.test", "ref.test"})
    QCOMPARE(text.contains(host.toUtf8()), exported.contains(host));
}

void tst_SitesWindow::reportsAFailedExport_data() {
  QTest::addColumn<QString>("file"); // in the temporary folder; empty: the dialog was cancelled
  QTest::addColumn<QString>("box");  // the start of the box's text; empty: none
  QTest::newRow("cancelled") << ""
                             << "";
  QTest::newRow("no known ending") << "history.txt"
                                   << "Cannot export to";
  QTest::newRow("no such folder") << "none/history.csv"
                                  << "Cannot write";
}

void tst_SitesWindow::reportsAFailedExport() {
  QFETCH(QString, file);
  QFETCH(QString, box);

  ScriptedBoxes boxes;
  QTemporaryDir out;
  HistoryAccess access = Access();
  access.saveFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
    return file.isEmpty() ? QString() : out.filePath(file);
  };
  SitesWindow window(access);
  window.show();
  Loaded(window);
  window.Export();
  QTRY_VERIFY_WITH_TIMEOUT(!window.Exporting(), 20000);
  if (box.isEmpty()) {
    QCOMPARE(boxes.Texts(), QStringList());
  } else {
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY2(boxes.shown.first().text.startsWith(box), qPrintable(boxes.shown.first().text));
    QCOMPARE(boxes.shown.first().title, QStringLiteral("Export"));
  }
  QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
  QVERIFY(window.findChild<QPushButton*>(QStringLiteral("Export"))->isEnabled());
}

void tst_SitesWindow::showsOneLineInsteadOfTheTable_data() {
  QTest::addColumn<QString>("offLine");
  QTest::addColumn<QByteArray>("content"); // of the history file; "missing": none
  QTest::addColumn<QString>("line");
  QTest::newRow("history off") << "History is off: history.sqlite is damaged" << QByteArray("fixture")
                               << "History is off: history.sqlite is damaged";
  QTest::newRow("no file yet") << "" << QByteArray("missing") << "No history yet: %1 does not exist.";
  QTest::newRow("damaged file") << "" << QByteArray(4096, 'x') << "Cannot read the history %1: it is damaged";
}

void tst_SitesWindow::showsOneLineInsteadOfTheTable() {
  QFETCH(QString, offLine);
  QFETCH(QByteArray, content);
  QFETCH(QString, line);

  QTemporaryDir other;
  HistoryAccess access = Access();
  if (content != "fixture") {
    access.path = other.filePath(QStringLiteral("history.sqlite"));
    if (content != "missing") {
      QFile garbage(access.path);
      QVERIFY(garbage.open(QIODevice::WriteOnly));
      garbage.write(content);
    }
  }
  access.offLine = [offLine] { return offLine; };
  SitesWindow window(access);
  window.show();
  Loaded(window);
  auto* pages = window.findChild<QStackedWidget*>();
  auto* message = window.findChild<QLabel*>(QStringLiteral("Message"));
  QCOMPARE(pages->currentWidget(), message);
  if (line.contains(QLatin1String("%1")))
    line = line.arg(access.path);
  QVERIFY2(message->text().startsWith(line), qPrintable(message->text()));
  QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("Export"))->isEnabled());
  QVERIFY(!window.findChild<QPushButton*>(QStringLiteral("Chart"))->isEnabled());
}

// A sample still queued in the store is in the figures: the window has the store flush first.
void tst_SitesWindow::flushesTheStoreBeforeReading() {
  QTemporaryDir other;
  HistoryAccess access = Access();
  access.path = other.filePath(QStringLiteral("history.sqlite"));
  HistoryStore store;
  QVERIFY(store.Open(access.path));
  const qint64 run = store.BeginRun(1, 1, 1, 20);
  access.currentRunId = [run] { return run; };
  int flushes = 0;
  access.beforeQuery = [&] {
    ++flushes;
    QVERIFY(store.Flush());
  };
  SitesWindow window(access);
  window.SetSpan(HistorySpan::Preset::ThisRun);
  store.Append(Sample(A, QDateTime::currentDateTimeUtc(), 120000, run));
  window.show();
  Loaded(window);
  QCOMPARE(flushes, 1);
  QCOMPARE(Addresses(window), QStringList{A});
  store.Append(Sample(A, QDateTime::currentDateTimeUtc(), 130000, run));
  window.findChild<QPushButton*>(QStringLiteral("Refresh"))->click();
  Loaded(window);
  QCOMPARE(flushes, 2);
  QCOMPARE(Model(window)->Line(0).samples, qint64(2));
}

void tst_SitesWindow::opensAChartOfTheSelectedSites() {
  SitesWindow window(Access());
  window.SetSpan(HistorySpan::Preset::Last7Days);
  window.show();
  Loaded(window);
  auto* chartButton = window.findChild<QPushButton*>(QStringLiteral("Chart"));
  QVERIFY(!chartButton->isEnabled());
  Select(window, {Ref});
  QVERIFY(!chartButton->isEnabled()); // a reference alone has no chart of its own
  Select(window, {B, Ref});
  QVERIFY(chartButton->isEnabled());
  chartButton->click();
  auto* chart = window.findChild<LatencyChart*>();
  QVERIFY(chart);
  QVERIFY(chart->isVisible());
  QCOMPARE(chart->Urls(), QStringList{B});
  QCOMPARE(chart->Span(), HistorySpan::Preset::Last7Days);
  QTRY_VERIFY_WITH_TIMEOUT(!chart->Loading(), 20000);
}

// A window closed while its figures are read drops them: nothing runs for it once they arrive.
// The pool's one thread is held until both windows are gone.
void tst_SitesWindow::dropsTheFiguresOfAWindowThatIsGone() {
  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  QSemaphore hold;
  pool->start([&hold] { hold.acquire(); });
  auto* sites = new SitesWindow(Access());
  sites->show();
  auto* chart = new LatencyChart(Access(), {A}, HistorySpan::Preset::Last24Hours);
  chart->show();
  QVERIFY(sites->Loading() && chart->Loading());
  delete sites;
  delete chart;
  hold.release();
  pool->waitForDone();
  QCoreApplication::processEvents();
  pool->setMaxThreadCount(threads);
}

// Each site's status from its incidents that go on, its up share and errors from every attempt, its
// certificate; below, the incidents of the span: of every site, then of the selected ones.
void tst_SitesWindow::showsHealthCertificateAndIncidents() {
  QTemporaryDir own;
  HistoryAccess access = Access();
  access.path = own.filePath(QStringLiteral("history.sqlite"));
  const QString c = QStringLiteral("https://c.test");
  const QString d = QStringLiteral("http://d.test");
  const QDateTime now = QDateTime::currentDateTimeUtc();
  {
    HistoryStore store;
    QVERIFY(store.Open(access.path));
    const auto append = [&](const QString& url, int status, const QString& result, qint64 pingUs, int secondsAgo) {
      HistorySample sample = Sample(url, now.addSecs(-secondsAgo), pingUs, -1);
      sample.status = status;
      sample.result = result;
      if (url == c && pingUs >= 0)
        sample.certNotAfterMs = now.addDays(23).addSecs(3600).toMSecsSinceEpoch();
      store.Append(sample);
    };
    // c: up, slow (up), a 404, a page instead of the marker, no answer, cancelled.
    append(c, 200, QString(), 100000, 60);
    append(c, 200, QStringLiteral(" => 1"), 1500000, 50);
    append(c, 404, QString(), 100000, 40);
    append(c, 200, QStringLiteral("Code"), 100000, 30);
    append(c, 0, QStringLiteral("Connection refused"), -1, 20);
    append(c, 0, HistorySample::CancelledResult(), -1, 10);
    append(d, 200, QStringLiteral(" => 1"), 1500000, 5);
    const auto incident = [&](const QString& url, HistoryIncident::Kind kind, int startedAgo, int endedAgo,
                              const QString& cause) {
      HistoryIncident made;
      made.url = url;
      made.kind = kind;
      made.started = now.addSecs(-startedAgo);
      made.cause = cause;
      store.BeginIncident(made);
      if (endedAgo >= 0)
        store.EndIncident(url, kind, now.addSecs(-endedAgo));
    };
    incident(c, HistoryIncident::Kind::Down, 3000, 2900, QStringLiteral("Timed out"));
    incident(c, HistoryIncident::Kind::Down, 40, -1, QStringLiteral("HTTP 404"));
    incident(d, HistoryIncident::Kind::Slow, 600, -1, QStringLiteral("Ping 1.500 s"));
    QVERIFY(store.Flush());
  }

  SitesWindow window(access);
  window.SetSpan(HistorySpan::Preset::LastHour);
  window.show();
  Loaded(window);
  const HistorySummaryModel* model = Model(window);
  QCOMPARE(Addresses(window), (QStringList{d, c}));
  const auto cell = [&](int row, int column) { return model->index(row, column).data().toString(); };
  const QString since = now.addSecs(-40).toLocalTime().toString(now.addSecs(-40).toLocalTime().date() ==
                                                                        QDateTime::currentDateTime().date()
                                                                    ? QStringLiteral("HH:mm")
                                                                    : QStringLiteral("yyyy-MM-dd HH:mm"));
  QCOMPARE(cell(1, HistorySummaryModel::Status), QStringLiteral("down since %1 (HTTP 404)").arg(since));
  QCOMPARE(cell(0, HistorySummaryModel::Status), QStringLiteral("slow"));
  // Of c's five samples that count (the cancelled one does not), two were up.
  QCOMPARE(cell(1, HistorySummaryModel::Up), QStringLiteral("40.00"));
  QCOMPARE(cell(1, HistorySummaryModel::Samples), QStringLiteral("6"));
  QCOMPARE(cell(1, HistorySummaryModel::Failures), QStringLiteral("1"));
  QCOMPARE(cell(1, HistorySummaryModel::Errors), QStringLiteral("2"));
  QCOMPARE(cell(1, HistorySummaryModel::Loss), QStringLiteral("20.00"));
  QCOMPARE(cell(1, HistorySummaryModel::Certificate), QStringLiteral("expires in 23 days"));
  QCOMPARE(cell(0, HistorySummaryModel::Up), QStringLiteral("100.00"));
  QCOMPARE(cell(0, HistorySummaryModel::Certificate), QString());

  auto* incidents = window.findChild<QTableView*>(QStringLiteral("Incidents"));
  QVERIFY(incidents && incidents->isVisible());
  const auto listed = [&] {
    QStringList rows;
    for (int row = 0; row < incidents->model()->rowCount(); ++row) {
      QStringList texts;
      for (const int column : {IncidentsModel::Address, IncidentsModel::Kind, IncidentsModel::Ended,
                               IncidentsModel::Duration, IncidentsModel::Cause})
        texts << incidents->model()->index(row, column).data().toString();
      rows << texts.join(QLatin1Char('|'));
    }
    return rows;
  };
  // The latest first; the one that ended 48 minutes ago overlaps the last hour.
  QStringList all = listed();
  QCOMPARE(all.size(), 3);
  QVERIFY2(all[0].startsWith(c + QStringLiteral("|down|ongoing|")) && all[0].endsWith(QStringLiteral("|HTTP 404")),
           qPrintable(all[0]));
  QVERIFY2(all[1].startsWith(d + QStringLiteral("|slow|ongoing|10 min")), qPrintable(all[1]));
  QVERIFY2(all[2].endsWith(QStringLiteral("|1 min 40 s|Timed out")), qPrintable(all[2]));
  QCOMPARE(window.findChild<QLabel*>(QStringLiteral("IncidentsLabel"))->text(),
           QStringLiteral("&Incidents of every site:"));

  Select(window, {c});
  QCOMPARE(listed().size(), 2);
  QVERIFY(listed().join(QString()).count(c) == 2);
  QCOMPARE(window.findChild<QLabel*>(QStringLiteral("IncidentsLabel"))->text(),
           QStringLiteral("&Incidents of the selected sites:"));

  // The figures read again (as every few seconds): the incident the user picked stays picked.
  incidents->selectRow(1);
  window.Refresh();
  QVERIFY(window.Loading());
  Loaded(window);
  QCOMPARE(listed().size(), 2);
  const QModelIndexList picked = incidents->selectionModel()->selectedRows();
  QCOMPARE(picked.size(), 1);
  QCOMPARE(picked.constFirst().row(), 1);
}

void tst_SitesWindow::keyboard_data() {
  QTest::addColumn<QString>("window"); // "sites" or "chart"
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::newRow("Escape closes the Sites window") << "sites" << int(Qt::Key_Escape) << 0;
  QTest::newRow("Ctrl+W closes the Sites window") << "sites" << int(Qt::Key_W) << int(Qt::ControlModifier);
  QTest::newRow("Escape closes the chart") << "chart" << int(Qt::Key_Escape) << 0;
  QTest::newRow("Ctrl+W closes the chart") << "chart" << int(Qt::Key_W) << int(Qt::ControlModifier);
}

// Tab goes from the span to the table (one stop: the arrows move within it), the incidents below it,
// then the buttons; Enter
// on a line opens its chart; Escape and Ctrl+W close either window.
void tst_SitesWindow::keyboard() {
  QFETCH(QString, window);
  QFETCH(int, key);
  QFETCH(int, modifiers);

  SitesWindow sites(Access());
  sites.SetSpan(HistorySpan::Preset::All);
  sites.show();
  QVERIFY(QTest::qWaitForWindowActive(&sites));
  Loaded(sites);
  Table(sites)->selectRow(0); // A: Chart is enabled
  auto* span = sites.findChild<QComboBox*>(QStringLiteral("Span"));
  span->setFocus();
  QStringList order;
  for (int i = 0; i < 6; ++i) {
    order << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  QCOMPARE(order, QStringList({"Span", "Table", "Incidents", "Chart", "Export", "Refresh"}));
  Table(sites)->setFocus();
  QTest::keyClick(Table(sites), Qt::Key_Return);
  auto* chart = sites.findChild<LatencyChart*>();
  QVERIFY(chart && chart->isVisible());
  QCOMPARE(chart->Urls(), QStringList{A});
  QTRY_VERIFY_WITH_TIMEOUT(!chart->Loading(), 20000);

  // The chart deletes itself when it closes.
  QPointer<QWidget> target = chart;
  if (window == QLatin1String("sites")) {
    delete chart;
    target = &sites;
  }
  target->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(target));
  QTest::keyClick(target->windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
  QTRY_VERIFY(!target || !target->isVisible());
}

void tst_SitesWindow::everyControlHasAnAccessibleName() {
  SitesWindow sites(Access());
  sites.show();
  Loaded(sites);
  Select(sites, {A});
  sites.OpenChart();
  auto* chart = sites.findChild<LatencyChart*>();
  QTRY_VERIFY_WITH_TIMEOUT(!chart->Loading(), 20000);
  for (QWidget* window : {static_cast<QWidget*>(&sites), static_cast<QWidget*>(chart)})
    for (QWidget* control : window->findChildren<QWidget*>()) {
      const auto* area = qobject_cast<QAbstractScrollArea*>(control->parentWidget());
      if (!control->isVisibleTo(window) || !(control->focusPolicy() & Qt::TabFocus) || control->window() != window ||
          (area && area->viewport() == control))
        continue;
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY(accessible);
      QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(control->objectName()));
    }
  QAccessibleInterface* view = QAccessible::queryAccessibleInterface(chart->View());
  QCOMPARE(view->text(QAccessible::Name), QStringLiteral("Latency chart"));
  QVERIFY2(view->text(QAccessible::Description).startsWith(QStringLiteral("The median ping of a.test")),
           qPrintable(view->text(QAccessible::Description)));
}

// New samples come in: the window reads again soon after their news and keeps the selected lines,
// the current line, the sort order and the scroll position, also when a new address adds a line.
void tst_SitesWindow::refreshesItselfKeepingWhatTheUserSees() {
  QTemporaryDir other;
  HistoryAccess access = Access();
  access.path = other.filePath(QStringLiteral("history.sqlite"));
  HistoryStore store;
  QVERIFY(store.Open(access.path));
  const qint64 run = store.BeginRun(40, 1, 1, 20);
  access.currentRunId = [run] { return run; };
  access.testing = [] { return true; };
  access.beforeQuery = [&store] { store.Flush(); };
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const auto url = [](int i) { return QStringLiteral("http://site%1.test").arg(i, 2, 10, QLatin1Char('0')); };
  for (int i = 0; i < 40; ++i)
    store.Append(Sample(url(i), now.addSecs(-10), 1000 * (i + 1), run));

  SitesWindow window(access);
  window.SetSpan(HistorySpan::Preset::ThisRun);
  window.resize(700, 300);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  Loaded(window);
  QTableView* table = Table(window);
  table->sortByColumn(HistorySummaryModel::Max, Qt::DescendingOrder);        // site39 first
  table->setCurrentIndex(Model(window)->index(9, HistorySummaryModel::Max)); // site30
  Select(window, {url(30), url(31)});
  table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() / 2);
  table->horizontalScrollBar()->setValue(table->horizontalScrollBar()->maximum());
  const int down = table->verticalScrollBar()->value();
  const int across = table->horizontalScrollBar()->value();
  QVERIFY(down > 0 && across > 0);

  const auto check = [&](int reads, int lines) {
    QTRY_VERIFY_WITH_TIMEOUT(window.LiveReads() >= reads && !window.Loading(), 20000);
    QCOMPARE(Model(window)->rowCount(), lines);
    QCOMPARE(window.SelectedAddresses(), QStringList({url(31), url(30)}));
    QCOMPARE(Model(window)->Line(table->currentIndex().row()).url, url(30));
    QCOMPARE(table->currentIndex().column(), int(HistorySummaryModel::Max));
    QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), int(HistorySummaryModel::Max));
    QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(table->verticalScrollBar()->value(), down);
    QCOMPARE(table->horizontalScrollBar()->value(), across);
  };
  // A slower sample of site05: its line moves to the top, the view stays where it was.
  store.Append(Sample(url(5), now, 900000, run));
  window.SampleRecorded(url(5));
  check(1, 40);
  QCOMPARE(Model(window)->Line(0).url, url(5));
  QCOMPARE(Model(window)->Line(0).samples, qint64(2));

  // A new address: a new line.
  store.Append(Sample(QStringLiteral("http://new.test"), now, 5000, run));
  window.SampleRecorded(QStringLiteral("http://new.test"));
  check(2, 41);
}

// News while a read is under way starts no second read; it waits for the first one to end, and
// then makes one read for all of it.
void tst_SitesWindow::aReadUnderWayIsNotStartedAgain() {
  SitesWindow window(Access());
  window.SetSpan(HistorySpan::Preset::LastHour);
  window.show();
  Loaded(window);
  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  QSemaphore busy;
  pool->start([&busy] { busy.acquire(); });
  QTest::qWait(LiveRefresh::MinGapMs + 100);
  window.SampleRecorded(A);
  QVERIFY(window.Loading());
  QCOMPARE(window.LiveReads(), 1);
  for (int i = 0; i < 5; ++i) {
    window.SampleRecorded(B);
    QTest::qWait(300);
  }
  QCOMPARE(window.LiveReads(), 1);
  busy.release();
  pool->waitForDone();
  pool->setMaxThreadCount(threads);
  QTRY_VERIFY_WITH_TIMEOUT(window.LiveReads() == 2 && !window.Loading(), 20000);
  QTest::qWait(LiveRefresh::MinGapMs + 200);
  QCOMPARE(window.LiveReads(), 2);
}

// Live while shown and while the span reaches the present: "This run" only while testing goes on.
void tst_SitesWindow::refreshesEveryFewSecondsWhileTheSpanReachesThePresent() {
  bool testing = false;
  HistoryAccess access = Access();
  access.testing = [&testing] { return testing; };
  SitesWindow window(access);
  window.SetSpan(HistorySpan::Preset::ThisRun);
  window.show();
  Loaded(window);
  QVERIFY(!window.Live());
  testing = true;
  window.Refresh();
  Loaded(window);
  QVERIFY(window.Live());
  window.SetSpan(HistorySpan::Preset::Last7Days);
  QVERIFY(window.Live());
  QTRY_VERIFY_WITH_TIMEOUT(window.LiveReads() >= 1, 3 * LiveRefresh::PeriodMs);
  window.hide();
  QVERIFY(!window.Live());
}

// The span, the sort order and the place outlive the window; a place too large for the screen is
// fitted into it.
void tst_SitesWindow::remembersSpanSortAndPlace() {
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect place(available.topLeft() + QPoint(40, 30), QSize(500, 300));
  {
    SitesWindow window(Access());
    window.show();
    Loaded(window);
    window.SetSpan(HistorySpan::Preset::Last7Days);
    Table(window)->sortByColumn(HistorySummaryModel::P95, Qt::DescendingOrder);
    window.setGeometry(place);
    window.close();
  }
  QCOMPARE(ViewSettings::SitesSpan(), HistorySpan::Preset::Last7Days);
  SitesWindow again(Access());
  QCOMPARE(again.Span(), HistorySpan::Preset::Last7Days);
  QCOMPARE(Table(again)->horizontalHeader()->sortIndicatorSection(), int(HistorySummaryModel::P95));
  QCOMPARE(Table(again)->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
  QCOMPARE(again.geometry(), place);

  ViewSettings::SetGeometry(ViewSettings::Sites, QRect(available.topLeft(), available.size() * 3));
  SitesWindow large(Access());
  QVERIFY(large.width() <= available.width() * WindowHabits::MaxShare);
  QVERIFY(large.height() <= available.height() * WindowHabits::MaxShare);
  QVERIFY(available.contains(large.geometry()));
}

void tst_SitesWindow::fitsIntoTheScreen_data() {
  QTest::addColumn<QRect>("wanted");
  QTest::addColumn<QRect>("fitted"); // into a screen of 1000 x 800
  QTest::newRow("fits as it is") << QRect(100, 50, 600, 400) << QRect(100, 50, 600, 400);
  QTest::newRow("too large: 90 %") << QRect(0, 0, 2360, 840) << QRect(0, 0, 900, 720);
  QTest::newRow("off the right edge") << QRect(700, 100, 600, 300) << QRect(400, 100, 600, 300);
  QTest::newRow("above and left") << QRect(-50, -20, 300, 200) << QRect(0, 0, 300, 200);
  QTest::newRow("far below") << QRect(10, 5000, 300, 200) << QRect(10, 600, 300, 200);
}

void tst_SitesWindow::fitsIntoTheScreen() {
  QFETCH(QRect, wanted);
  QFETCH(QRect, fitted);
  QCOMPARE(WindowHabits::Fit(wanted, QRect(0, 0, 1000, 800)), fitted);
}

TARVIK_TEST_MAIN(QApplication, tst_SitesWindow)
#include "tst_siteswindow.moc"
