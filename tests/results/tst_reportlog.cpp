#include "platform/clock.h"
#include "platform/programfolder.h"
#include "resultrows.h"
#include "results/reportlog.h"
#include "results/resultsmodel.h"
#include "scriptedboxes.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray Lines(const QStringList& lines) {
  QByteArray bytes;
  for (const QString& line : lines)
    bytes += line.toUtf8() + "\r\n";
  return bytes;
}

QByteArray LogFile() {
  QFile file(ProgramFolder::File("tarvik.log"));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString Header = "-------------------- 12-05-2026-------------------------";
const QString Trailer = "-------------------- End Report ---------------------";
const QString Blanks17(17, QLatin1Char(' '));

} // namespace

class ReportLogTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void init();
  void cleanupTestCase();

  void block_data();
  void block();
  void blocksFollowEachOther();
  void unwritableLog();
};

void ReportLogTest::initTestCase() {
  Clock::SetFixed(QDateTime(QDate(2026, 12, 5), QTime(10, 20, 30)));
}

void ReportLogTest::init() {
  TestEnvironment::Current()->Clear();
}

void ReportLogTest::cleanupTestCase() {
  Clock::SetFixed(QDateTime());
}

void ReportLogTest::block_data() {
  QTest::addColumn<QStringList>("urls");
  QTest::addColumn<Rows>("rows");
  QTest::addColumn<QByteArray>("expected");
  QTest::addColumn<bool>("complete");

  const QStringList one = {"URL-1"};
  const QStringList three = {"URL-1", "URL-2", "URL-3"};

  QTest::newRow("single site, two rows") << one
                                         << Rows{{"10:15:02", "0.250", "0.250", "1"},
                                                 {"10:16:02", "0.310", "0.280", "1"}}
                                         << Lines({Header, " [ Begin: 10:15:02  End:10:16:02 ]", "", "[URL: URL-1]", "",
                                                   " [Time: 10:15:02] [PING:0.250]", " [Time: 10:16:02] [PING:0.310]",
                                                   Blanks17 + "[Avg:0.280]", Trailer, ""})
                                         << true;
  QTest::newRow("single site, one row") << one << Rows{{"10:15:02", "0.250", "0.250", "1"}}
                                        << Lines({Header, " [ Begin: 10:15:02  End:10:15:02 ]", "", "[URL: URL-1]", "",
                                                  " [Time: 10:15:02] [PING:0.250]", Blanks17 + "[Avg:0.250]", Trailer,
                                                  ""})
                                        << true;
  QTest::newRow("empty table") << three << Rows{} << Lines({Header, Trailer, ""}) << true;
  QTest::newRow("multi-site") << three
                              << Rows{{"10:15:02", "0.250", "0.250", "1"}, {"10:15:03", "0.100", "0.100", "2"},
                                      {"10:15:04", "1.500", "1.500", "3"}, {"10:16:02", "0.350", "0.300", "1"},
                                      {"10:16:03", "0.200", "0.150", "2"}, {"10:16:04", "Failed", "1.500", "3"}}
                              << Lines({Header, " [ Begin: 10:15:02  End:10:16:04 ]", "",
                                        "[URL: URL-1] [Time: 10:15:02] [PING:0.250][Avg:0.250]",
                                        "[URL: URL-2] [Time: 10:15:03] [PING:0.100][Avg:0.100]",
                                        "[URL: URL-3] [Time: 10:15:04] [PING:1.500][Avg:1.500]",
                                        "[URL: URL-1] [Time: 10:16:02] [PING:0.350][Avg:0.300]",
                                        "[URL: URL-2] [Time: 10:16:03] [PING:0.200][Avg:0.150]",
                                        "[URL: URL-3] [Time: 10:16:04] [PING:Failed][Avg:1.500]", Trailer, ""})
                              << true;
  QTest::newRow("no URL: multi-site form, empty URLs")
      << QStringList{} << Rows{{"10:15:02", "0.250", "0.250", "1"}}
      << Lines({Header, " [ Begin: 10:15:02  End:10:15:02 ]", "", "[URL: ] [Time: 10:15:02] [PING:0.250][Avg:0.250]",
                Trailer, ""})
      << true;
  // Site IDs read strictly, less one, rounded half to even: 1.5 -> 0, 2.5 -> 2; beyond the list
  // (and below it) the URL is empty.
  QTest::newRow("URL positions") << three
                                 << Rows{{"a", "1", "1", "1.5"},
                                         {"b", "2", "2", "2.5"},
                                         {"c", "3", "3", " 2 "},
                                         {"d", "4", "4", "4"},
                                         {"e", "5", "5", "0"}}
                                 << Lines({Header, " [ Begin: a  End:e ]", "", "[URL: URL-1] [Time: a] [PING:1][Avg:1]",
                                           "[URL: URL-3] [Time: b] [PING:2][Avg:2]",
                                           "[URL: URL-2] [Time: c] [PING:3][Avg:3]",
                                           "[URL: ] [Time: d] [PING:4][Avg:4]", "[URL: ] [Time: e] [PING:5][Avg:5]",
                                           Trailer, ""})
                                 << true;
  QTest::newRow("multi-site, outstanding row in the middle")
      << three
      << Rows{{"10:15:02", "0.250", "0.250", "1"}, {"10:15:03", "Sent", "", ""}, {"10:15:04", "1.500", "1.500", "3"}}
      << Lines({Header, " [ Begin: 10:15:02  End:10:15:04 ]", "",
                "[URL: URL-1] [Time: 10:15:02] [PING:0.250][Avg:0.250]"})
      << false;
  QTest::newRow("single site, outstanding last row")
      << one << Rows{{"10:15:02", "0.250", "0.250", "1"}, {"10:16:02", "Sent", "", ""}}
      << Lines({Header, " [ Begin: 10:15:02  End:10:16:02 ]", "", "[URL: URL-1]", "", " [Time: 10:15:02] [PING:0.250]",
                " [Time: 10:16:02] [PING:Sent]", Blanks17 + "[Avg:]", Trailer, ""})
      << true;
  QTest::newRow("single site, outstanding first row")
      << one << Rows{{"10:15:02", "Sent", "", ""}} << Lines({Header, " [ Begin: 10:15:02  End:10:15:02 ]", ""})
      << false;
  QTest::newRow("non-ASCII URL in UTF-8")
      << QStringList{"http://bücher.example/ü"} << Rows{{"10:15:02", "0.250", "0.250", "1"}}
      << Lines({Header, " [ Begin: 10:15:02  End:10:15:02 ]", "", "[URL: http://bücher.example/ü]", "",
                " [Time: 10:15:02] [PING:0.250]", Blanks17 + "[Avg:0.250]", Trailer, ""})
      << true;
}

void ReportLogTest::block() {
  QFETCH(QStringList, urls);
  QFETCH(Rows, rows);
  QFETCH(QByteArray, expected);
  QFETCH(bool, complete);
  ResultsModel model;
  Fill(model, rows);
  ScriptedBoxes boxes;

  QCOMPARE(WriteReportLog(model, urls), complete);
  QCOMPARE(LogFile(), expected);
  if (complete) {
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown.at(0).text, QStringLiteral("Log Saved"));
    QCOMPARE(boxes.shown.at(0).buttons, MessageBoxes::OkOnly);
    QCOMPARE(boxes.shown.at(0).icon, MessageBoxes::Information);
    QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Tarvik"));
  } else {
    QVERIFY(boxes.shown.isEmpty());
  }
}

// Reports accumulate: each block follows the previous one directly, also one that stopped short.
void ReportLogTest::blocksFollowEachOther() {
  ResultsModel model;
  Fill(model, {{"10:15:02", "0.250", "0.250", "1"}, {"10:15:03", "Sent", "", ""}});
  const QStringList urls = {"URL-1", "URL-2"};
  ScriptedBoxes boxes;
  QVERIFY(!WriteReportLog(model, urls));
  model.SetText(model.RowAt(1), ResultsModel::SiteId, "2");
  QVERIFY(WriteReportLog(model, urls));
  QVERIFY(WriteReportLog(model, urls));

  const QByteArray first = Lines(
      {Header, " [ Begin: 10:15:02  End:10:15:03 ]", "", "[URL: URL-1] [Time: 10:15:02] [PING:0.250][Avg:0.250]"});
  const QByteArray full =
      Lines({Header, " [ Begin: 10:15:02  End:10:15:03 ]", "", "[URL: URL-1] [Time: 10:15:02] [PING:0.250][Avg:0.250]",
             "[URL: URL-2] [Time: 10:15:03] [PING:Sent][Avg:]", Trailer, ""});
  QCOMPARE(LogFile(), first + full + full);
  QCOMPARE(boxes.Texts(), QStringList({"Log Saved", "Log Saved"}));
}

void ReportLogTest::unwritableLog() {
  // A folder in the log's place cannot be opened as a file, whoever runs the test.
  QVERIFY(QDir().mkpath(ProgramFolder::File("tarvik.log")));
  ResultsModel model;
  Fill(model, {{"10:15:02", "0.250", "0.250", "1"}});
  ScriptedBoxes boxes;
  QVERIFY(!WriteReportLog(model, {"URL-1"}));
  QVERIFY(boxes.shown.isEmpty());
  QVERIFY(QDir(ProgramFolder::File("tarvik.log")).removeRecursively());

  // A program folder that does not exist.
  const QByteArray home = qgetenv("TARVIK_HOME");
  qputenv("TARVIK_HOME", home + "/missing/folder");
  const bool written = WriteReportLog(model, {"URL-1"});
  qputenv("TARVIK_HOME", home);
  QVERIFY(!written);
  QVERIFY(boxes.shown.isEmpty());
}

TARVIK_TEST_MAIN(QCoreApplication, ReportLogTest)
#include "tst_reportlog.moc"
