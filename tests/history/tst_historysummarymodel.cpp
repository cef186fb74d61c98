// The Sites window's table model: checked by QAbstractItemModelTester through new lines and every
// sort; the times in milliseconds with the unit in the header and empty cells for what does not
// exist; sorting keeps the references after the sites, puts empty cells last in either order and
// carries the selection (persistent indexes) along, and so do new figures of the same addresses.
#include "history/historysummarymodel.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>

namespace {

SiteSummary Site(const QString& url, qint64 p50Us, qint64 samples = 10) {
  SiteSummary line;
  line.url = url;
  line.samples = samples;
  if (p50Us >= 0) {
    line.minUs = p50Us / 2;
    line.p50Us = p50Us;
    line.p95Us = p50Us * 2;
    line.p99Us = p50Us * 3;
    line.maxUs = p50Us * 4;
    line.meanUs = double(p50Us) + 0.4;
    line.stddevUs = 1500.5;
    line.lastUs = p50Us;
  }
  return line;
}

SiteSummary Reference(const QString& url, qint64 p50Us) {
  SiteSummary line = Site(url, p50Us);
  line.kind = HistorySample::Kind::Ref;
  return line;
}

QStringList Column(const HistorySummaryModel& model, int column) {
  QStringList texts;
  for (int row = 0; row < model.rowCount(); ++row)
    texts << model.index(row, column).data().toString();
  return texts;
}

} // namespace

class tst_HistorySummaryModel : public QObject {
  Q_OBJECT

private slots:
  void showsFigures();
  void sorts_data();
  void sorts();
  void sortingCarriesTheSelectionAndStays();
};

void tst_HistorySummaryModel::showsFigures() {
  HistorySummaryModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

  SiteSummary full = Site(QStringLiteral("https://a.test"), 123456);
  full.failures = 2;
  full.lossPercent = 100.0 / 6;
  full.phases = {1000, 2500.4, -1, 80000, 499.6};
  full.localNetwork = true;
  full.slowSamples = 4;
  full.slowMatched = 3;
  full.lastAt = QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), Qt::UTC);
  full.upSamples = 7;
  full.upPercent = 70;
  full.errors = 1;
  const QDateTime now(QDate(2030, 1, 2), QTime(12, 0), Qt::UTC);
  full.certNotAfter = now.addDays(23).addSecs(60);
  SiteSummary failing = Site(QStringLiteral("http://down.test"), -1, 3);
  failing.failures = 3;
  failing.lossPercent = 100;
  failing.upPercent = 0;
  failing.certNotAfter = now.addSecs(-1);
  model.SetNow(now);
  model.SetLines({full, failing, Reference(QStringLiteral("http://ref.test"), 50000)});
  HistoryIncident down;
  down.url = QStringLiteral("http://down.test");
  down.kind = HistoryIncident::Kind::Down;
  down.started = now.addSecs(-600);
  down.cause = QStringLiteral("Connection refused");
  HistoryIncident ended = down; // over: it does not count
  ended.url = QStringLiteral("https://a.test");
  ended.ended = now.addSecs(-60);
  HistoryIncident renewing = down; // a certificate incident does not make a site down
  renewing.url = QStringLiteral("https://a.test");
  renewing.kind = HistoryIncident::Kind::Certificate;
  model.SetIncidents({down, ended, renewing});

  QCOMPARE(model.columnCount(), int(HistorySummaryModel::ColumnCount));
  QStringList headers;
  for (int column = 0; column < model.columnCount(); ++column)
    headers << model.headerData(column, Qt::Horizontal).toString();
  QCOMPARE(headers,
           QStringList({"Address",  "Status",          "Up %",          "Samples",   "Failures",         "Errors",
                        "Loss %",   "Certificate",     "Min (ms)",      "p50 (ms)",  "p95 (ms)",         "p99 (ms)",
                        "Max (ms)", "Mean (ms)",       "Std dev (ms)",  "Last (ms)", "Name lookup (ms)", "Connect (ms)",
                        "TLS (ms)", "First byte (ms)", "Transfer (ms)", "Note"}));
  const QString since = down.started.toLocalTime().toString(
      down.started.toLocalTime().date() == now.toLocalTime().date() ? "HH:mm" : "yyyy-MM-dd HH:mm");

  const auto row = [&](int r) {
    QStringList texts;
    for (int column = 0; column < model.columnCount(); ++column)
      texts << model.index(r, column).data().toString();
    return texts;
  };
  // clang-format off
  QCOMPARE(row(0), QStringList({"https://a.test", "up", "70.00", "10", "2", "1", "16.67", "expires in 23 days",
                                "61.7", "123", "247", "370", "494", "123", "1.50", "123", "1.00", "2.50", "", "80.0",
                                "0.500", "local network?"}));
  QCOMPARE(row(1), QStringList({"http://down.test", "down since " + since + " (Connection refused)", "0.00", "3", "3",
                                "0", "100.00", "expired", "", "", "", "", "", "", "", "Failed", "", "", "", "", "",
                                ""}));
  // clang-format on
  QCOMPARE(row(2).constFirst(), QStringLiteral("http://ref.test"));
  QCOMPARE(row(2).at(HistorySummaryModel::Status), QString());
  QCOMPARE(row(2).at(HistorySummaryModel::Up), QString());
  QCOMPARE(row(2).constLast(), QStringLiteral("reference"));

  // The mark explains itself; the last sample tells its time.
  QVERIFY(model.index(0, HistorySummaryModel::Note).data(Qt::ToolTipRole).toString().contains("3 of 4"));
  QVERIFY(model.index(0, HistorySummaryModel::Last).data(Qt::ToolTipRole).toString().contains("2030-01-0"));
  QCOMPARE(model.index(0, HistorySummaryModel::P50).data(HistorySummaryModel::SortRole).toDouble(), 123456.0);
  QVERIFY(!model.index(1, HistorySummaryModel::P50).data(HistorySummaryModel::SortRole).isValid());
}

void tst_HistorySummaryModel::sorts_data() {
  QTest::addColumn<int>("column");
  QTest::addColumn<Qt::SortOrder>("order");
  QTest::addColumn<QStringList>("addresses");

  // Sites b (p50 0.3), A (0.1), c (none), d (0.2); references r2 (0.05), r1 (0.5).
  QTest::newRow("as given") << -1 << Qt::AscendingOrder << QStringList{"b", "A", "c", "d", "r2", "r1"};
  QTest::newRow("address, case aside") << int(HistorySummaryModel::Address) << Qt::AscendingOrder
                                       << QStringList{"A", "b", "c", "d", "r1", "r2"};
  QTest::newRow("address, descending") << int(HistorySummaryModel::Address) << Qt::DescendingOrder
                                       << QStringList{"d", "c", "b", "A", "r2", "r1"};
  QTest::newRow("p50, empty last") << int(HistorySummaryModel::P50) << Qt::AscendingOrder
                                   << QStringList{"A", "d", "b", "c", "r2", "r1"};
  QTest::newRow("p50 descending, empty still last")
      << int(HistorySummaryModel::P50) << Qt::DescendingOrder << QStringList{"b", "d", "A", "c", "r1", "r2"};
  QTest::newRow("samples, ties as they were")
      << int(HistorySummaryModel::Samples) << Qt::AscendingOrder << QStringList{"b", "A", "c", "d", "r2", "r1"};
}

void tst_HistorySummaryModel::sorts() {
  QFETCH(int, column);
  QFETCH(Qt::SortOrder, order);
  QFETCH(QStringList, addresses);

  HistorySummaryModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  model.SetLines({Site("b", 300000), Site("A", 100000), Site("c", -1), Site("d", 200000), Reference("r2", 50000),
                  Reference("r1", 500000)});
  model.sort(column, order);
  QCOMPARE(Column(model, HistorySummaryModel::Address), addresses);
}

void tst_HistorySummaryModel::sortingCarriesTheSelectionAndStays() {
  HistorySummaryModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  model.SetLines({Site("b", 300000), Site("a", 100000), Reference("r", 1000)});
  const QPersistentModelIndex selected(model.index(0, HistorySummaryModel::P95)); // b
  model.sort(HistorySummaryModel::P50, Qt::AscendingOrder);
  QCOMPARE(selected.row(), 1);
  QCOMPARE(selected.column(), int(HistorySummaryModel::P95));
  QCOMPARE(model.index(selected.row(), HistorySummaryModel::Address).data().toString(), QStringLiteral("b"));

  // New figures of the same addresses: no reset; each line moves to its new place in the order,
  // its persistent indexes with it.
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.SetLines({Site("a", 400000), Site("b", 200000), Reference("r", 2000)});
  QCOMPARE(resets.count(), 0);
  QCOMPARE(changed.count(), 1);
  QCOMPARE(Column(model, HistorySummaryModel::Address), QStringList({"b", "a", "r"}));
  QCOMPARE(selected.row(), 0);
  QCOMPARE(model.index(selected.row(), HistorySummaryModel::P50).data().toString(), QStringLiteral("200"));

  // Other addresses: a reset, in the chosen order.
  model.SetLines({Site("x", 900000), Site("y", 10000), Reference("r", 1000)});
  QCOMPARE(resets.count(), 1);
  QCOMPARE(Column(model, HistorySummaryModel::Address), QStringList({"y", "x", "r"}));
}

QTEST_GUILESS_MAIN(tst_HistorySummaryModel)
#include "tst_historysummarymodel.moc"
