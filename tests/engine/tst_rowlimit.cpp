// The results table of the headless mode: the oldest whole passes make room for the next one.
#include "engine/rowlimit.h"
#include "results/resultsmodel.h"

#include "resultrows.h"

#include <QTest>

namespace {

// Rows given as Packet and Site ID; the Event Time numbers them so that what is left can be read.
void FillPasses(ResultsModel& model, const QList<std::pair<int, int>>& rows) {
  int n = 0;
  for (const auto& [packet, site] : rows) {
    Fill(model, Rows{{QString::number(++n), QStringLiteral("0.100"), QString::number(site), QString::number(packet)}},
         {ResultsModel::EventTime, ResultsModel::Ping, ResultsModel::SiteId, ResultsModel::Packet});
  }
}

} // namespace

class RowLimitTest : public QObject {
  Q_OBJECT

private slots:
  void dropsWholePasses_data();
  void dropsWholePasses();
};

using PassRows = QList<std::pair<int, int>>;

void RowLimitTest::dropsWholePasses_data() {
  QTest::addColumn<PassRows>("rows"); // Packet, Site ID
  QTest::addColumn<int>("maxRows");
  QTest::addColumn<int>("coming");
  QTest::addColumn<int>("firstKept"); // the Event Time of the first row left; 0 when none is
  QTest::addColumn<int>("dropped");

  const PassRows threeSites{{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3}};
  QTest::newRow("room enough") << threeSites << 12 << 3 << 1 << 0;
  QTest::newRow("one pass makes room") << threeSites << 11 << 3 << 4 << 3;
  QTest::newRow("a pass is never split") << threeSites << 10 << 3 << 4 << 3;
  QTest::newRow("two passes make room") << threeSites << 8 << 3 << 7 << 6;
  QTest::newRow("no limit") << threeSites << 0 << 3 << 1 << 0;
  QTest::newRow("a pass larger than the limit stands alone") << threeSites << 2 << 3 << 0 << 9;
  // A run length of 1: every Packet is 1; the Site IDs start again.
  QTest::newRow("run length 1") << PassRows{{1, 1}, {1, 2}, {1, 1}, {1, 2}, {1, 1}, {1, 2}} << 5 << 2 << 5 << 4;
  // After a restart the Packet starts at 1 again.
  QTest::newRow("restart") << PassRows{{2, 1}, {2, 2}, {1, 1}, {1, 2}} << 4 << 2 << 3 << 2;
  // A "Keep last" brought back the end of a pass: that part goes as one.
  QTest::newRow("kept part of a pass") << PassRows{{4, 2}, {4, 3}, {1, 1}, {1, 2}, {1, 3}} << 6 << 3 << 3 << 2;
  QTest::newRow("one site") << PassRows{{1, 1}, {2, 1}, {3, 1}} << 3 << 1 << 2 << 1;
  QTest::newRow("one site, run length 1") << PassRows{{1, 1}, {1, 1}, {1, 1}} << 2 << 1 << 3 << 2;
}

void RowLimitTest::dropsWholePasses() {
  QFETCH(PassRows, rows);
  QFETCH(int, maxRows);
  QFETCH(int, coming);
  QFETCH(int, firstKept);
  QFETCH(int, dropped);
  ResultsModel model;
  FillPasses(model, rows);
  QCOMPARE(RowLimit::MakeRoom(model, maxRows, coming), dropped);
  QCOMPARE(model.Count(), int(rows.size()) - dropped);
  QCOMPARE(model.Dropped(), dropped);
  QCOMPARE(model.TextAt(0, ResultsModel::EventTime), firstKept ? QString::number(firstKept) : QString());
}

QTEST_GUILESS_MAIN(RowLimitTest)
#include "tst_rowlimit.moc"
