#include "core/statuspanels.h"
#include "resultrows.h"
#include "results/fcsummary.h"
#include "results/resultsmodel.h"
#include "results/sitepanels.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QTest>

class FcSummaryTest : public QObject {
  Q_OBJECT

private slots:
  void code_data();
  void code();
  void followsDisplayOrder();
};

void FcSummaryTest::code_data() {
  QTest::addColumn<bool>("fcTestFinished");
  QTest::addColumn<Rows>("rows");
  QTest::addColumn<int>("siteId");
  QTest::addColumn<QString>("code");
  QTest::addColumn<QString>("panel");

  // Three slow rows of site 1, the last with Average 0.812, spanning 10 minutes; site 2 between.
  const Rows threeSlow = {{"10:00:05", "2.500", "2.500", "1"},
                          {"10:00:06", "0.100", "0.100", "2"},
                          {"10:05:05", "3.100", "2.800", "1"},
                          {"10:10:05", "0.400", "0.812", "1"},
                          {"10:10:06", "2.200", "1.200", "1"}};
  Rows endsAt812 = threeSlow;
  endsAt812.append({"10:10:30", "0.300", "0.812", "1"});

  QTest::newRow("fc test not run, 10 minutes: 0?0") << false << threeSlow << 1 << "0?0"
                                                    << "fc: 0?0";
  QTest::newRow("completed: slow count and last Average") << true << endsAt812 << 1 << "3\\0.812"
                                                          << "fc: 3\\0.812";

  Rows one25 = endsAt812;
  one25[2][1] = "25.300";
  QTest::newRow("one row above 20 s: -figure") << true << one25 << 1 << "3\\0.812-25"
                                               << "fc: 3\\0.812-25";

  Rows two = endsAt812;
  two[0][1] = "21.000";
  two[2][1] = "24.000";
  QTest::newRow("two rows above 20 s: +mean, 22.5 to even") << true << two << 1 << "3\\0.812+22"
                                                            << "fc: 3\\0.812+22";
  Rows up = endsAt812;
  up[0][1] = "20.500";
  up[2][1] = "22.500";
  QTest::newRow("mean 21.5 to even is 22") << true << up << 1 << "3\\0.812+22"
                                           << "fc: 3\\0.812+22";
  Rows three = endsAt812;
  three[0][1] = "25.000";
  three[2][1] = "26.000";
  three[4][1] = "30.000";
  QTest::newRow("three rows above 20 s") << true << three << 1 << "3\\0.812+27"
                                         << "fc: 3\\0.812+27";

  const Rows noSlow = {
      {"10:00:05", "1.600", "1.600", "1"}, {"10:01:05", "1.523", "1.561", "1"}, {"10:02:05", "0.400", "1.174", "1"}};
  QTest::newRow("completed, none above 2 s: last above 1.45 s") << true << noSlow << 1 << "0\\1.523"
                                                                << "fc: 0?0";
  QTest::newRow("not completed, none above 2 s") << false << noSlow << 1 << "0?0"
                                                 << "fc: 0?0";
  const Rows quick = {{"10:00:05", "0.300", "0.300", "1"}, {"10:01:05", "1.450", "0.875", "1"}};
  QTest::newRow("completed, none above 1.45 s: 0\\0") << true << quick << 1 << "0\\0"
                                                      << "fc: 0?0";
  const Rows exact = {{"10:00:05", "1.450", "1.450", "1"}, {"10:01:05", "2.000", "1.725", "1"}};
  QTest::newRow("exactly 2.000 is not slow") << true << exact << 1 << "0\\2"
                                             << "fc: 0?0";
  const Rows exact20 = {{"10:00:05", "20.000", "20.000", "1"}, {"10:01:05", "1.600", "10.800", "1"}};
  QTest::newRow("exactly 20.000 is slow, not above 20") << true << exact20 << 1 << "1\\10.800"
                                                        << "fc: 1\\10.800";

  // The span runs from the site's first row to the table's last row, of any site.
  const Rows hour = {{"10:00:05", "2.500", "2.500", "1"},
                     {"10:30:00", "3.000", "2.750", "1"},
                     {"10:59:00", "0.500", "2.000", "1"},
                     {"11:00:59", "0.200", "0.200", "2"}};
  QTest::newRow("60 minutes without a completed fc test") << false << hour << 1 << "2\\2.000"
                                                          << "fc: 2\\2.000";
  Rows short59 = hour;
  short59[3][0] = "10:59:59";
  QTest::newRow("59 minutes") << false << short59 << 1 << "0?0"
                              << "fc: 0?0";
  Rows long61 = hour;
  long61[3][0] = "11:01:00";
  QTest::newRow("61 minutes") << false << long61 << 1 << "0?0"
                              << "fc: 0?0";
  const Rows midnight = {
      {"23:30:10", "2.500", "2.500", "1"}, {"23:59:59", "2.100", "2.300", "1"}, {"00:30:00", "0.500", "1.700", "1"}};
  QTest::newRow("60 minutes across midnight") << false << midnight << 1 << "2\\1.700"
                                              << "fc: 2\\1.700";
  Rows day = midnight;
  day[2][0] = "23:30:40";
  QTest::newRow("same minute is 0, not a day") << false << day << 1 << "0?0"
                                               << "fc: 0?0";

  QTest::newRow("site without rows") << false << threeSlow << 3 << "0?0"
                                     << "fc: 0?0";
  QTest::newRow("site without rows, completed") << true << threeSlow << 3 << "0\\0"
                                                << "fc: 0?0";
  QTest::newRow("empty table, completed") << true << Rows{} << 1 << "0\\0"
                                          << "fc: 0?0";

  // Failed, cancelled and outstanding rows are passed over: the failed row at 09:59:50 would make
  // the span 61 minutes, the failed last row of the site would give its Average. The outstanding
  // row ends the table and so the span.
  const Rows pending = {{"09:59:50", "Failed", "0.000", "1"}, {"10:00:05", "2.500", "2.500", "1"},
                        {"10:30:00", "3.000", "2.750", "1"},  {"10:40:00", "0.500", "2.000", "1"},
                        {"10:50:00", "Failed", "9.999", "1"}, {"10:55:00", "25.000", "9.999", "1x"},
                        {"11:00:30", "Sent", "", ""}};
  QTest::newRow("passes over rows that are not numbers") << false << pending << 1 << "2\\2.000"
                                                         << "fc: 2\\2.000";
  QTest::newRow("outstanding row alone") << true << Rows{{"10:00:00", "Sent", "", ""}} << 1 << "0\\0"
                                         << "fc: 0?0";
}

void FcSummaryTest::code() {
  QFETCH(bool, fcTestFinished);
  QFETCH(Rows, rows);
  QFETCH(int, siteId);

  ResultsModel model;
  Fill(model, rows);
  StatusPanels bar2(5, {"a", "b", "old", "d", "e"});

  const FcFigures fc = FcSummary(model, siteId, fcTestFinished);
  QTEST(fc.code, "code");
  SitePanels::ShowFcSummary(bar2, fc);
  QTEST(bar2.Text(3), "panel");
  QCOMPARE(bar2.Text(1), QString("a"));
  QCOMPARE(bar2.Text(4), QString("d"));
}

void FcSummaryTest::followsDisplayOrder() {
  // Sorted by Event Time descending, the site's "last row" is the earliest one and the table's last
  // row (which ends the span) is 10:00:05, the site's "first row" 11:00:30: the span is negative
  // and counts across midnight, so only the completed fc test gives a code.
  ResultsModel model;
  Fill(model,
       {{"10:00:05", "2.500", "2.500", "1"}, {"10:30:00", "3.000", "2.750", "1"}, {"11:00:30", "0.500", "2.000", "1"}});
  model.ColumnClick(ResultsModel::EventTime);
  QVERIFY(model.Descending());
  QCOMPARE(FcSummary(model, 1, false).code, QString("0?0"));
  QCOMPARE(FcSummary(model, 1, true).code, QString("2\\2.500"));
}

TARVIK_TEST_MAIN(QCoreApplication, FcSummaryTest)
#include "tst_fcsummary.moc"
