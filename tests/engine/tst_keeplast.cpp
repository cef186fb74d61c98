#include "core/statuspanels.h"
#include "engine/keeplast.h"
#include "platform/programfolder.h"
#include "resultrows.h"
#include "results/resultsmodel.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {

// Rows "01".."n": Event Time 10:00:nn, Ping 0.nnn, Average, Site ID 1 or 2, Packet, Result; every
// third row red and bold with a warning note, the others with an empty Result.
void FillNumbered(ResultsModel& model, int n) {
  for (int i = 1; i <= n; ++i) {
    const ResultsModel::RowId row = model.AddRow(QStringLiteral("10:00:%1").arg(i, 2, 10, QLatin1Char('0')));
    model.SetText(row, ResultsModel::Ping, QStringLiteral("0.%1").arg(i, 3, 10, QLatin1Char('0')));
    model.SetText(row, ResultsModel::Average, QStringLiteral("0.100"));
    model.SetText(row, ResultsModel::SiteId, QString::number(1 + i % 2));
    model.SetText(row, ResultsModel::Packet, QString::number((i + 1) / 2));
    if (i % 3 == 0) {
      model.SetText(row, ResultsModel::Result, QStringLiteral(" => 20"));
      model.SetMark(row, ResultsModel::Red, true);
    }
  }
}

Rows AllRows(const ResultsModel& model) {
  Rows rows;
  for (int i = 0; i < model.Count(); ++i) {
    QStringList texts;
    for (int c = 0; c < ResultsModel::ColumnCount; ++c)
      texts << model.TextAt(i, c);
    rows << texts;
  }
  return rows;
}

QString TmpFile() {
  return ProgramFolder::File(QStringLiteral("tmp.tmp"));
}

bool WriteRaw(const QByteArray& bytes) {
  QFile file(TmpFile());
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class KeepLastTest : public QObject {
  Q_OBJECT

private slots:
  void init();

  void firstKeptRow_data();
  void firstKeptRow();
  void fileLines();
  void splitLine_data();
  void splitLine();

  void keepsTheLastRows_data();
  void keepsTheLastRows();
  void textsComeBackWhole();
  void sortedTableKeepsItsLastDisplayedRows();
  void failedWriteLeavesEverything();
  void failedReloadPutsTheRowsBack();
  void reloadOfForeignFile();
};

void KeepLastTest::init() {
  TestEnvironment::Current()->Clear();
  QDir(TmpFile()).removeRecursively();
}

void KeepLastTest::firstKeptRow_data() {
  QTest::addColumn<int>("total");
  QTest::addColumn<double>("keep");
  QTest::addColumn<int>("first");
  QTest::newRow("ten keep three") << 10 << 3.0 << 8;
  QTest::newRow("keep 2.5: 8.5 rounds to 8") << 10 << 2.5 << 8;
  QTest::newRow("keep 1.5: 9.5 rounds to 10") << 10 << 1.5 << 10;
  QTest::newRow("keep all") << 10 << 10.0 << 1;
  QTest::newRow("keep more than there are") << 10 << 11.0 << 1;
  QTest::newRow("keep a huge count") << 10 << 1e300 << 1;
  QTest::newRow("keep 0.4 keeps none") << 10 << 0.4 << 11;
  QTest::newRow("empty table") << 0 << 3.0 << 1;
  // Beyond the 16-bit row numbers of old: a large table keeps its last rows too.
  QTest::newRow("large table") << 1000000 << 5.0 << 999996;
}

void KeepLastTest::firstKeptRow() {
  QFETCH(int, total);
  QFETCH(double, keep);
  QFETCH(int, first);
  QCOMPARE(KeepLast::FirstKeptRow(total, keep), first);
}

void KeepLastTest::fileLines() {
  ResultsModel model;
  FillNumbered(model, 4);
  QVERIFY(KeepLast::WriteFile(KeepLast::KeptLines(model, 2)));
  QFile file(TmpFile());
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), QByteArray("10:00:03|0.003|0.100|2|2| => 20\r\n"
                                      "10:00:04|0.004|0.100|1|2|\r\n"));
}

void KeepLastTest::splitLine_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QStringList>("fields");
  QTest::addColumn<bool>("fits");
  QTest::newRow("six fields") << "a|b|c|d|e|f" << QStringList{"a", "b", "c", "d", "e", "f"} << true;
  QTest::newRow("empty last field dropped") << "a|b|c|d|e|" << QStringList{"a", "b", "c", "d", "e"} << true;
  QTest::newRow("only the last empty field") << "a||" << QStringList{"a", ""} << true;
  QTest::newRow("no separator") << "a" << QStringList{"a"} << true;
  QTest::newRow("empty line") << "" << QStringList{""} << true;
  QTest::newRow("just a separator") << "|" << QStringList{""} << true;
  QTest::newRow("commas and blanks stay") << " 1,5 |\"x\"" << QStringList{" 1,5 ", "\"x\""} << true;
  QTest::newRow("seven fields") << "a|b|c|d|e|f|g" << QStringList{} << false;
  QTest::newRow("twelve fields") << "1|2|3|4|5|6|7|8|9|10|11|12" << QStringList{} << false;
}

void KeepLastTest::splitLine() {
  QFETCH(QString, line);
  QFETCH(QStringList, fields);
  QFETCH(bool, fits);
  const std::optional<QStringList> split = KeepLast::SplitLine(line);
  QCOMPARE(split.has_value(), fits);
  if (fits)
    QCOMPARE(*split, fields);
}

void KeepLastTest::keepsTheLastRows_data() {
  QTest::addColumn<int>("total");
  QTest::addColumn<double>("keep");
  QTest::addColumn<int>("first"); // 1-based number of the first kept row
  QTest::newRow("ten keep three") << 10 << 3.0 << 8;
  QTest::newRow("ten keep 2.5") << 10 << 2.5 << 8;
  QTest::newRow("keep equals rows") << 10 << 10.0 << 1;
  QTest::newRow("keep more than rows") << 4 << 20.0 << 1;
  QTest::newRow("keep none") << 4 << 0.3 << 5;
}

void KeepLastTest::keepsTheLastRows() {
  QFETCH(int, total);
  QFETCH(double, keep);
  QFETCH(int, first);
  ResultsModel model;
  FillNumbered(model, total);
  const Rows before = AllRows(model);
  StatusPanels bar2(5);
  qint16 cycles = 2;

  QVERIFY(KeepLastRows(model, keep, cycles, bar2));
  QCOMPARE(AllRows(model), before.mid(first - 1));
  // Texts only: the reloaded rows lose their colour and bold marks.
  for (int i = 0; i < model.Count(); ++i) {
    QCOMPARE(model.Colour(model.RowAt(i)), ResultsModel::Black);
    QVERIFY(!model.Bold(model.RowAt(i)));
  }
  QVERIFY(!QFile::exists(TmpFile()));
  QCOMPARE(cycles, qint16(3));
  QCOMPARE(bar2.Text(4), QStringLiteral("3 cycles"));
}

// Lines are read whole: commas, quotes, leading blanks and non-ASCII texts come back as they were.
void KeepLastTest::textsComeBackWhole() {
  ResultsModel model;
  const Rows rows = {{"10:00:01", "0.250", "0.250", "1", "1", "Größe, \"quoted\", €"},
                     {"  10:00:02", "Failed", "0.250", "2", "1", "Connection refused, twice"},
                     {"10:00:03", "", "", "", "", ""}};
  Fill(model, rows, AllColumns);
  StatusPanels bar2(5);
  qint16 cycles = 0;
  QVERIFY(KeepLastRows(model, 5, cycles, bar2));
  QCOMPARE(AllRows(model), rows);
  QCOMPARE(bar2.Text(4), QStringLiteral("1 cycles"));
}

void KeepLastTest::sortedTableKeepsItsLastDisplayedRows() {
  ResultsModel model;
  FillNumbered(model, 6);
  model.ColumnClick(ResultsModel::Ping); // descending: 0.006 ... 0.001
  StatusPanels bar2(5);
  qint16 cycles = 0;
  QVERIFY(KeepLastRows(model, 2, cycles, bar2));
  QCOMPARE(model.Count(), 2);
  QCOMPARE(model.TextAt(0, ResultsModel::Ping), QStringLiteral("0.002"));
  QCOMPARE(model.TextAt(1, ResultsModel::Ping), QStringLiteral("0.001"));
  QVERIFY(model.Sorted());
}

// The file cannot be written: the table keeps every row, nothing is counted or shown.
void KeepLastTest::failedWriteLeavesEverything() {
  QVERIFY(QDir().mkpath(TmpFile()));
  ResultsModel model;
  FillNumbered(model, 10);
  const Rows before = AllRows(model);
  StatusPanels bar2(5, {"", "", "", "9 sec to go"});
  qint16 cycles = 4;
  QVERIFY(!KeepLastRows(model, 3, cycles, bar2));
  QCOMPARE(AllRows(model), before);
  QCOMPARE(model.Colour(model.RowAt(2)), ResultsModel::Red);
  QCOMPARE(cycles, qint16(4));
  QCOMPARE(bar2.Text(4), QStringLiteral("9 sec to go"));
}

// A text holding "|" cannot be told apart from the column separators on reading: the reload fails,
// and the kept rows are put back from memory, marks and all, rather than lost.
void KeepLastTest::failedReloadPutsTheRowsBack() {
  ResultsModel model;
  FillNumbered(model, 10);
  model.SetText(model.RowAt(8), ResultsModel::Result, QStringLiteral("a|b"));
  const Rows before = AllRows(model);
  StatusPanels bar2(5);
  qint16 cycles = 0;
  QVERIFY(!KeepLastRows(model, 3, cycles, bar2));
  QCOMPARE(AllRows(model), before.mid(7));
  QCOMPARE(model.Colour(model.RowAt(1)), ResultsModel::Red); // row 9
  QVERIFY(model.Bold(model.RowAt(1)));
  QCOMPARE(cycles, qint16(0));
  QCOMPARE(bar2.Text(4), QString());
}

void KeepLastTest::reloadOfForeignFile() {
  ResultsModel model;
  // Missing file: nothing happens.
  QVERIFY(!KeepLast::ReloadFile(model));
  QCOMPARE(model.Count(), 0);

  // Not UTF-8: read as Latin-1. A last line without its line end still counts.
  QVERIFY(WriteRaw("10:00:01|0.250|0.250|1|1|caf\xE9\r\n10:00:02|0.300\n10:00:03"));
  QVERIFY(KeepLast::ReloadFile(model));
  QCOMPARE(AllRows(model), Rows({{"10:00:01", "0.250", "0.250", "1", "1", "café"},
                                 {"10:00:02", "0.300", "", "", "", ""},
                                 {"10:00:03", "", "", "", "", ""}}));
  QVERIFY(!QFile::exists(TmpFile()));

  // A line that does not fit stops the reload; the rows before it stay, the file too.
  model.Clear();
  QVERIFY(WriteRaw("a|1\r\nb|1|2|3|4|5|6|7\r\nc\r\n"));
  QVERIFY(!KeepLast::ReloadFile(model));
  QCOMPARE(model.Count(), 1);
  QVERIFY(QFile::exists(TmpFile()));
}

TARVIK_TEST_MAIN(QCoreApplication, KeepLastTest)
#include "tst_keeplast.moc"
