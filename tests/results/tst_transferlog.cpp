#include "filesizelimit.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "results/resultsmodel.h"
#include "results/transferlog.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

const QByteArray Header = "Transfer bytes, Use time(min)\r\n";

QString SubLog() {
  return ProgramFolder::File("sublog.log");
}

// Reads the file; a null array when it is missing.
QByteArray ReadSubLog() {
  QFile file(SubLog());
  if (!file.open(QIODevice::ReadOnly))
    return QByteArray();
  QByteArray bytes = file.readAll();
  return bytes.isNull() ? QByteArray("") : bytes;
}

void WriteSubLog(const QByteArray& bytes) {
  QFile file(SubLog());
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

// A table of `rows` rows, the first with the given Event Time, the rest one second apart.
void Fill(ResultsModel& model, const QString& firstTime, int rows) {
  QTime time = QTime::fromString(firstTime, "HH:mm:ss");
  for (int i = 0; i < rows; ++i) {
    const ResultsModel::RowId id = model.AddRow(i == 0 ? firstTime : time.addSecs(i).toString("HH:mm:ss"));
    model.SetText(id, ResultsModel::Ping, "0.250");
    model.SetText(id, ResultsModel::SiteId, "1");
  }
}

void SetNow(const QString& time) {
  Clock::SetFixed(QDateTime(QDate(2026, 12, 5), QTime::fromString(time, "HH:mm:ss")));
}

} // namespace

class TransferLogTest : public QObject {
  Q_OBJECT

private slots:
  void init();
  void cleanupTestCase();

  void readTotals_data();
  void readTotals();
  void writtenTotalsReadBack_data();
  void writtenTotalsReadBack();
  void update_data();
  void update();
  void firstRowInDisplayOrder();
  void failedRewriteKeepsOldFile();
  void unreadableFileIsNotReplaced();
  void readOnlyFolder();
};

void TransferLogTest::init() {
  TestEnvironment::Current()->Clear();
  Clock::SetFixed(QDateTime());
}

void TransferLogTest::cleanupTestCase() {
  Clock::SetFixed(QDateTime());
}

void TransferLogTest::readTotals_data() {
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<double>("bytes");
  QTest::addColumn<double>("minutes");

  const QString header = "Transfer bytes, Use time(min)";
  QTest::newRow("written file") << QStringList{header, "1386,754"} << 1386.0 << 754.0;
  QTest::newRow("blanks around the line") << QStringList{header, "  30,42  "} << 30.0 << 42.0;
  QTest::newRow("tabs around the line") << QStringList{"\t30,42\t"} << 30.0 << 42.0;
  QTest::newRow("blank after the comma") << QStringList{"30, 42"} << 30.0 << 42.0;
  QTest::newRow("empty second field") << QStringList{header, "30,"} << 30.0 << 0.0;
  QTest::newRow("second field not a number") << QStringList{"30,abc"} << 30.0 << 0.0;
  QTest::newRow("second field negative") << QStringList{"30,-42"} << 30.0 << 0.0;
  QTest::newRow("empty field stops the line") << QStringList{"30,,42"} << 30.0 << 0.0;
  QTest::newRow("one field") << QStringList{"30"} << 30.0 << 0.0;
  QTest::newRow("further fields ignored") << QStringList{"30,42,7,9"} << 30.0 << 42.0;
  QTest::newRow("leading numbers of the fields") << QStringList{"42 bytes,7 min"} << 42.0 << 7.0;
  QTest::newRow("fractions") << QStringList{"30.5,42.25"} << 30.5 << 42.25;
  QTest::newRow("exponent of the plain form") << QStringList{"1.5E+16,2E+15"} << 1.5e16 << 2e15;
  QTest::newRow("lone e is not an exponent") << QStringList{"30e,42E+"} << 30.0 << 42.0;
  QTest::newRow("too large for a number") << QStringList{QString(400, '9') + ",5"} << 0.0 << 5.0;
  QTest::newRow("exponent too large") << QStringList{"1E+999,5"} << 0.0 << 5.0;
  QTest::newRow("header only") << QStringList{header} << 0.0 << 0.0;
  QTest::newRow("no lines") << QStringList{} << 0.0 << 0.0;
  QTest::newRow("empty line") << QStringList{""} << 0.0 << 0.0;
  QTest::newRow("text only") << QStringList{"hello", "world, 42"} << 0.0 << 0.0;
  QTest::newRow("negative line skipped") << QStringList{"-5,3"} << 0.0 << 0.0;
  QTest::newRow("leading comma skipped") << QStringList{",30"} << 0.0 << 0.0;
  QTest::newRow("junk before digits") << QStringList{QString::fromLatin1("\xff\xfe"
                                                                         "30,42")}
                                      << 0.0 << 0.0;
  QTest::newRow("last numeric line counts") << QStringList{"10,20", header, "30,42", "junk"} << 30.0 << 42.0;
  QTest::newRow("last line counts whole") << QStringList{"30,42", "50"} << 50.0 << 0.0;
}

void TransferLogTest::readTotals() {
  QFETCH(QStringList, lines);
  const TransferTotals totals = ReadTotals(lines);
  QTEST(totals.bytes, "bytes");
  QTEST(totals.minutes, "minutes");
}

void TransferLogTest::writtenTotalsReadBack_data() {
  QTest::addColumn<double>("bytes");
  QTest::addColumn<double>("minutes");
  QTest::addColumn<QString>("line");
  QTest::newRow("ordinary") << 1386.0 << 754.0 << "1386,754";
  QTest::newRow("zero") << 0.0 << 0.0 << "0,0";
  QTest::newRow("fraction") << 30.5 << 0.25 << "30.5,0.25";
  QTest::newRow("15 digits") << 123456789012345.0 << 1.0 << "123456789012345,1";
  QTest::newRow("beyond 15 digits") << 1.5e16 << 3e20 << "1.5E+16,3E+20";
}

void TransferLogTest::writtenTotalsReadBack() {
  QFETCH(double, bytes);
  QFETCH(double, minutes);
  const QStringList lines = TotalsLines({bytes, minutes});
  QCOMPARE(lines.size(), 2);
  QCOMPARE(lines.at(0), QString("Transfer bytes, Use time(min)"));
  QTEST(lines.at(1), "line");
  const TransferTotals back = ReadTotals(lines);
  QCOMPARE(back.bytes, bytes);
  QCOMPARE(back.minutes, minutes);
}

void TransferLogTest::update_data() {
  QTest::addColumn<QByteArray>("before"); // null: no file
  QTest::addColumn<QString>("firstTime");
  QTest::addColumn<int>("rows");
  QTest::addColumn<QString>("now");
  QTest::addColumn<QByteArray>("after"); // null: no file

  QTest::newRow("no sub-log yet") << QByteArray() << "09:00:30" << 10 << "09:42:10" << Header + "30,42\r\n";
  QTest::newRow("totals added") << Header + "30,42\r\n"
                                << "14:03:20" << 4 << "14:15:20" << Header + "42,54\r\n";
  QTest::newRow("minute boundaries, not seconds")
      << QByteArray() << "10:15:59" << 1 << "10:16:00" << Header + "3,1\r\n";
  QTest::newRow("same minute") << QByteArray() << "10:15:00" << 1 << "10:15:59" << Header + "3,0\r\n";
  QTest::newRow("across midnight") << Header + "30,42\r\n"
                                   << "23:50:00" << 2 << "00:10:30" << Header + "36,62\r\n";
  QTest::newRow("empty table, no file") << QByteArray() << QString() << 0 << "09:42:10" << QByteArray();
  QTest::newRow("empty table, file untouched")
      << QByteArray("damaged\n30,") << QString() << 0 << "09:42:10" << QByteArray("damaged\n30,");
  QTest::newRow("blanks around the data line") << Header + "  30,42  \r\n"
                                               << "09:00:30" << 10 << "09:42:10" << Header + "60,84\r\n";
  QTest::newRow("empty second field") << Header + "30,\r\n"
                                      << "09:00:30" << 10 << "09:42:10" << Header + "60,42\r\n";
  QTest::newRow("empty file") << QByteArray("") << "09:00:30" << 10 << "09:42:10" << Header + "30,42\r\n";
  QTest::newRow("text only") << QByteArray("no totals here\r\n") << "09:00:30" << 10 << "09:42:10"
                             << Header + "30,42\r\n";
  QTest::newRow("Latin-1 bytes, LF ends")
      << QByteArray("caf\xe9\n100,200 \xe9t\xe9\n") << "09:00:30" << 10 << "09:42:10" << Header + "130,242\r\n";
  QTest::newRow("fractions kept") << Header + "0.5,1.25\r\n"
                                  << "09:00:30" << 1 << "09:01:00" << Header + "3.5,2.25\r\n";
}

void TransferLogTest::update() {
  QFETCH(QByteArray, before);
  QFETCH(QString, firstTime);
  QFETCH(int, rows);
  QFETCH(QString, now);
  QFETCH(QByteArray, after);

  if (!before.isNull())
    WriteSubLog(before);
  ResultsModel model;
  Fill(model, firstTime, rows);
  SetNow(now);
  UpdateTransferLog(model);

  const QByteArray written = ReadSubLog();
  QCOMPARE(written.isNull(), after.isNull());
  QCOMPARE(written, after);
}

void TransferLogTest::firstRowInDisplayOrder() {
  ResultsModel model;
  Fill(model, "09:00:30", 3);
  const ResultsModel::RowId late = model.AddRow("09:30:00");
  model.SetText(late, ResultsModel::Ping, "0.100");
  model.ColumnClick(ResultsModel::EventTime); // descending: 09:30:00 comes first
  SetNow("09:42:10");
  UpdateTransferLog(model);
  QCOMPARE(ReadSubLog(), Header + "12,12\r\n");
}

void TransferLogTest::failedRewriteKeepsOldFile() {
  // A file-size limit binds root as well: the rewrite cannot write its 40 bytes, so the temporary
  // file is dropped and the stored totals stay.
  const QByteArray old = Header + "30,42\r\n";
  WriteSubLog(old);
  ResultsModel model;
  Fill(model, "09:00:30", 10);
  SetNow("09:42:10");

  QString said;
  {
    const FileSizeLimit limit(8);
    QVERIFY(limit.Active());
    said = UpdateTransferLog(model);
  }

  // The line names the cause of the short write.
  QCOMPARE(said, QStringLiteral("sublog.log not updated: %1").arg(QString::fromLocal8Bit(strerror(EFBIG))));
  QCOMPARE(ReadSubLog(), old);
  QCOMPARE(QDir(ProgramFolder::Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"sublog.log"});

  // Without the limit the same update goes through.
  QCOMPARE(UpdateTransferLog(model), QString());
  QCOMPARE(ReadSubLog(), Header + "60,84\r\n");
}

void TransferLogTest::unreadableFileIsNotReplaced() {
  ResultsModel model;
  Fill(model, "09:00:30", 10);
  SetNow("09:42:10");

  // A folder in the sub-log's place cannot be read, whoever runs the test: nothing is written.
  QVERIFY(QDir().mkpath(SubLog()));
  const QString said = UpdateTransferLog(model);
  QVERIFY2(said.startsWith(QStringLiteral("sublog.log not updated: it cannot be read (")), qPrintable(said));
  QVERIFY(QFileInfo(SubLog()).isDir());
  QVERIFY(QDir(SubLog()).removeRecursively());

  // A program folder that does not exist: nothing is made, and the failure is told.
  const QByteArray home = qgetenv("TARVIK_HOME");
  qputenv("TARVIK_HOME", home + "/missing/folder");
  QVERIFY(UpdateTransferLog(model).startsWith(QStringLiteral("sublog.log not updated: ")));
  qputenv("TARVIK_HOME", home);
  QVERIFY(!QFileInfo::exists(home + "/missing"));
}

void TransferLogTest::readOnlyFolder() {
  if (geteuid() == 0)
    QSKIP("root writes into a read-only folder; failedRewriteKeepsOldFile covers a failed rewrite");
  const QByteArray old = Header + "30,42\r\n";
  WriteSubLog(old);
  ResultsModel model;
  Fill(model, "09:00:30", 10);
  SetNow("09:42:10");
  QFile::Permissions permissions = QFileInfo(ProgramFolder::Path()).permissions();
  QVERIFY(QFile::setPermissions(ProgramFolder::Path(), QFile::ReadOwner | QFile::ExeOwner));
  UpdateTransferLog(model);
  QFile::setPermissions(ProgramFolder::Path(), permissions);
  QCOMPARE(ReadSubLog(), old);
}

TARVIK_TEST_MAIN(QCoreApplication, TransferLogTest)
#include "tst_transferlog.moc"
