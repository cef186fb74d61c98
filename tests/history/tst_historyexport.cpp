// Export of the history: CSV and JSON Lines read back (by a strict RFC 4180 reader and by
// QJsonDocument) equal to the file, with commas, quotes and line ends in addresses and results;
// the span and address choices; the command line's arguments and exit codes; a failed export
// leaves no file and keeps an earlier one.
#include "filesizelimit.h"
#include "history/historyexport.h"
#include "history/historyschema.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "historyfile.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

namespace {

const QDateTime Now(QDate(2030, 1, 15), QTime(12, 0), Qt::UTC);

// A field of a CSV record: its text, and whether it was quoted.
struct Field {
  QString text;
  bool quoted = false;
};

// Reads CSV strictly by RFC 4180: records end in CR LF; a quoted field may hold commas, quotes
// (doubled) and line ends; a quote inside an unquoted field, a lone CR or LF outside quotes, or
// anything after a closing quote but a comma or the record's end is an error (returns false).
bool ReadCsv(const QByteArray& bytes, QList<QList<Field>>* records) {
  const QString text = QString::fromUtf8(bytes);
  QList<Field> record;
  Field field;
  qsizetype i = 0;
  const qsizetype n = text.size();
  if (n == 0)
    return true;
  while (i < n) {
    if (text[i] == QLatin1Char('"')) {
      field.quoted = true;
      ++i;
      for (;;) {
        if (i >= n)
          return false;
        if (text[i] == QLatin1Char('"')) {
          if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
            field.text += QLatin1Char('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.text += text[i++];
      }
    } else {
      while (i < n && text[i] != QLatin1Char(',') && text[i] != QLatin1Char('\r')) {
        if (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\n'))
          return false;
        field.text += text[i++];
      }
    }
    record << field;
    field = Field();
    if (i < n && text[i] == QLatin1Char(',')) {
      ++i;
      if (i == n)
        return false;
      continue;
    }
    if (i + 1 < n && text[i] == QLatin1Char('\r') && text[i + 1] == QLatin1Char('\n')) {
      i += 2;
      *records << record;
      record.clear();
      continue;
    }
    return false; // a record must end in CR LF
  }
  return record.isEmpty();
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class HistoryExportTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString database;
  QString Out(const QString& name) const { return dir.filePath(name); }

  // The rows of the file as the export should have them (NULL as an invalid QVariant).
  QList<QVariantList> Expected(const QString& where = QString(), const QVariantList& values = {}) {
    HistoryFile file(database);
    QList<QVariantList> rows = file.Rows(QStringLiteral("SELECT %1 FROM samples %2 ORDER BY id")
                                             .arg(HistorySchema::SampleColumns().join(QStringLiteral(", ")), where),
                                         values);
    for (QVariantList& row : rows)
      for (QVariant& value : row)
        if (value.isNull())
          value = QVariant();
    return rows;
  }

  // The CSV file's rows, checking its header: an unquoted empty field is NULL; numbers as numbers.
  QList<QVariantList> CsvRows(const QString& file, const QStringList& columns = HistorySchema::SampleColumns()) {
    QList<QList<Field>> records;
    if (!ReadCsv(ReadBytes(file), &records)) {
      qWarning("not RFC 4180 CSV");
      return {{QStringLiteral("not CSV")}};
    }
    QStringList header;
    for (const Field& field : records.value(0))
      header << field.text;
    if (header != columns)
      return {{QStringLiteral("header"), header}};
    QList<QVariantList> rows;
    for (const QList<Field>& record : records.mid(1)) {
      QVariantList row;
      for (const Field& field : record) {
        bool isNumber = false;
        const qlonglong number = field.text.toLongLong(&isNumber);
        row << (field.text.isEmpty() && !field.quoted ? QVariant()
                : isNumber && !field.quoted           ? QVariant(number)
                                                      : QVariant(field.text));
      }
      rows << row;
    }
    return rows;
  }

  // The JSON Lines file's rows, checking that every line is one object with the columns in order.
  QList<QVariantList> JsonRows(const QString& file, const QStringList& columns = HistorySchema::SampleColumns()) {
    const QByteArray bytes = ReadBytes(file);
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
      return {{QStringLiteral("no final line end")}};
    QList<QVariantList> rows;
    for (const QByteArray& line : bytes.split('\n')) {
      if (line.isEmpty())
        continue;
      QJsonParseError error;
      const QJsonDocument document = QJsonDocument::fromJson(line, &error);
      if (!document.isObject() || document.object().keys().size() != columns.size())
        return {{QStringLiteral("bad line"), QString::fromUtf8(line)}};
      qsizetype at = 0;
      for (const QString& column : columns) { // the schema's order, as written
        at = line.indexOf('"' + column.toUtf8() + "\":", at);
        if (at < 0)
          return {{QStringLiteral("order"), QString::fromUtf8(line)}};
      }
      QVariantList row;
      for (const QString& column : columns) {
        const QJsonValue value = document.object().value(column);
        row << (value.isNull()     ? QVariant()
                : value.isDouble() ? QVariant(qlonglong(value.toInteger()))
                                   : QVariant(value.toString()));
      }
      rows << row;
    }
    return rows;
  }

private slots:
  // Samples with every awkward text in addresses and results, NULLs, an empty result, two days.
  void initTestCase() {
    database = dir.filePath(QStringLiteral("history.sqlite"));
    HistoryStore store;
    QVERIFY(store.Open(database));
    const QStringList urls{"http://plain.test",   "http://a.test/x,y",   "http://q.test/\"quoted\"",
                           "http://cr.test/a\rb", "http://lf.test/a\nb", "http://crlf.test/a\r\nb",
                           "http://é.test/✓"};
    const QStringList results{
        "",   " => 1", "Timed out", "say \"hi\", then\r\nleave", "tab\tand\\backslash", QString(QChar(1)) + "control",
        "\"", ","};
    for (int i = 0; i < 60; ++i) {
      HistorySample sample;
      sample.at = Now.addSecs(-3600 * 40 + i * 3600 * 40 / 60);
      sample.kind = i % 9 == 0 ? HistorySample::Kind::Ref : HistorySample::Kind::Site;
      sample.url = urls[i % urls.size()];
      sample.runId = i % 4 == 0 ? -1 : 3;
      sample.siteId = i % urls.size() + 1;
      sample.packet = i;
      sample.pingUs = i % 5 == 0 ? -1 : 100000 + i;
      sample.dnsUs = i % 3 == 0 ? -1 : 10 * i;
      sample.connectUs = sample.dnsUs < 0 ? -1 : 20 * i;
      sample.tlsUs = 0;
      sample.ttfbUs = 30 * i;
      sample.status = i % 5 == 0 ? 0 : 200;
      sample.result = results[i % results.size()];
      sample.remoteIp = i % 2 ? QStringLiteral("127.0.0.1") : QString();
      sample.httpVersion = i % 2 ? QStringLiteral("1.1") : QString();
      sample.bytes = i % 5 == 0 ? -1 : 4;
      store.Append(sample);
    }
    // Incidents: one long ended, one that ended within the last day, one that ended just before it,
    // one that goes on.
    const auto incident = [&](const char* url, HistoryIncident::Kind kind, qint64 startedSecs, qint64 endedSecs,
                              const QString& cause) {
      HistoryIncident made;
      made.url = QString::fromUtf8(url);
      made.kind = kind;
      made.started = Now.addSecs(-startedSecs);
      made.cause = cause;
      store.BeginIncident(made);
      if (endedSecs >= 0)
        store.EndIncident(made.url, kind, Now.addSecs(-endedSecs));
    };
    incident("http://a.test/x,y", HistoryIncident::Kind::Down, 40 * 3600, 39 * 3600, "say \"hi\", then\r\nleave");
    incident("http://plain.test", HistoryIncident::Kind::Slow, 30 * 3600, 23 * 3600, "Ping 1.500 s");
    incident("http://é.test/✓", HistoryIncident::Kind::Certificate, 2 * 3600, -1, "expires in 5 days");
    incident("http://plain.test", HistoryIncident::Kind::Down, 25 * 3600, 24 * 3600 + 1, "HTTP 404");
    QVERIFY(store.Flush());
  }

  // --incidents writes the incidents that overlap the span, of the addresses given, in both formats.
  void incidents_data() {
    QTest::addColumn<QString>("last");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QList<int>>("ids");
    QTest::newRow("all") << "" << QStringList() << QList<int>{1, 2, 3, 4};
    QTest::newRow("last 24h") << "24h" << QStringList() << QList<int>{2, 3};
    QTest::newRow("an address") << "" << QStringList{"http://plain.test"} << QList<int>{2, 4};
    QTest::newRow("an address, 24h") << "24h" << QStringList{"http://é.test/✓"} << QList<int>{3};
  }
  void incidents() {
    QFETCH(QString, last);
    QFETCH(QStringList, urls);
    QFETCH(QList<int>, ids);
    HistoryFile file(database);
    QList<QVariantList> expected;
    for (const int id : ids) {
      QVariantList row = file.Rows(QStringLiteral("SELECT %1 FROM incidents WHERE id = ?")
                                       .arg(HistorySchema::IncidentColumns().join(QStringLiteral(", "))),
                                   {id})
                             .value(0);
      for (QVariant& value : row)
        if (value.isNull())
          value = QVariant();
      expected << row;
    }
    QCOMPARE(expected.size(), ids.size());
    QString line;
    for (const char* name : {"incidents.csv", "incidents.jsonl"}) {
      QCOMPARE(
          HistoryExport::Run(database, Out(name), QString(), last, urls, &line, Now, HistoryExport::Table::Incidents),
          int(HistoryExport::Written));
      QCOMPARE(line, QStringLiteral("%1 incidents written to %2").arg(ids.size()).arg(Out(name)));
    }
    QCOMPARE(CsvRows(Out("incidents.csv"), HistorySchema::IncidentColumns()), expected);
    QCOMPARE(JsonRows(Out("incidents.jsonl"), HistorySchema::IncidentColumns()), expected);
  }

  void readsBackEqual_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("CSV") << "all.csv";
    QTest::newRow("JSON Lines") << "all.jsonl";
    QTest::newRow("CSV, any case") << "ALL.CSV";
  }

  void readsBackEqual() {
    QFETCH(QString, name);
    QString line;
    QCOMPARE(HistoryExport::Run(database, Out(name), QString(), QString(), {}, &line, Now),
             int(HistoryExport::Written));
    QCOMPARE(line, QStringLiteral("60 samples written to %1").arg(Out(name)));
    const QList<QVariantList> expected = Expected();
    QCOMPARE(expected.size(), 60);
    QCOMPARE(name.endsWith(QLatin1String(".jsonl")) ? JsonRows(Out(name)) : CsvRows(Out(name)), expected);
    QVERIFY(!ReadBytes(Out(name)).startsWith("\xEF\xBB\xBF"));
    // Reading leaves no companion files of SQLite behind.
    QVERIFY(!QFileInfo::exists(database + QStringLiteral("-wal")));
    QVERIFY(!QFileInfo::exists(database + QStringLiteral("-shm")));
  }

  // A text a spreadsheet would run as a formula gets a leading "'" in CSV, in any text column; JSON
  // Lines keeps it as stored, and a negative number stays a number.
  void csvDisarmsFormulas_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("csv"); // the field as a CSV reader gives it back
    QTest::newRow("=") << "=cmd|'/C calc'!A0"
                       << "'=cmd|'/C calc'!A0";
    QTest::newRow("+") << "+1+1"
                       << "'+1+1";
    QTest::newRow("-") << "-2+3"
                       << "'-2+3";
    QTest::newRow("@") << "@SUM(1+1)*cmd|' /C calc'!A0"
                       << "'@SUM(1+1)*cmd|' /C calc'!A0";
    QTest::newRow("tab") << "\t=1+1"
                         << "'\t=1+1";
    QTest::newRow("carriage return, quoted") << "\r=1+1"
                                             << "'\r=1+1";
    QTest::newRow("quoted for a comma") << "=1,2"
                                        << "'=1,2";
    QTest::newRow("inside") << "a=1+1"
                            << "a=1+1";
    QTest::newRow("a blank first") << " => 1"
                                   << " => 1";
    QTest::newRow("empty") << ""
                           << "";
  }
  void csvDisarmsFormulas() {
    QFETCH(QString, text);
    QFETCH(QString, csv);
    const QString db = Out(QStringLiteral("formula.sqlite"));
    QFile::remove(db);
    {
      HistoryStore store;
      QVERIFY(store.Open(db));
      HistorySample sample;
      sample.at = Now;
      sample.url = text;
      sample.result = text;
      store.Append(sample);
      QVERIFY(store.Flush());
    }
    // A negative number (no sample holds one, but a number column may): never a text.
    QVERIFY(HistoryFile(db).Exec(QStringLiteral("UPDATE samples SET ping_us = -5")));
    QString line;
    QCOMPARE(HistoryExport::Run(db, Out("formula.csv"), QString(), QString(), {}, &line, Now),
             int(HistoryExport::Written));
    QCOMPARE(HistoryExport::Run(db, Out("formula.jsonl"), QString(), QString(), {}, &line, Now),
             int(HistoryExport::Written));
    const QStringList columns = HistorySchema::SampleColumns();
    const qsizetype url = columns.indexOf(QStringLiteral("url"));
    const qsizetype result = columns.indexOf(QStringLiteral("result"));
    const qsizetype ping = columns.indexOf(QStringLiteral("ping_us"));
    const QList<QVariantList> csvRows = CsvRows(Out("formula.csv"));
    QCOMPARE(csvRows.size(), 1);
    QCOMPARE(csvRows.at(0).at(url).toString(), csv);
    QCOMPARE(csvRows.at(0).at(result).toString(), csv);
    QCOMPARE(csvRows.at(0).at(ping), QVariant(qlonglong(-5)));
    const QList<QVariantList> jsonRows = JsonRows(Out("formula.jsonl"));
    QCOMPARE(jsonRows.size(), 1);
    QCOMPARE(jsonRows.at(0).at(url).toString(), text);
    QCOMPARE(jsonRows.at(0).at(result).toString(), text);
    QCOMPARE(jsonRows.at(0).at(ping), QVariant(qlonglong(-5)));
  }

  // --since and --last choose by time, --url by address; nothing matching still writes a file.
  void chooses_data() {
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QVariantList>("values");
    const QString dayAgo = HistoryTime::Text(Now.addDays(-1));
    QTest::newRow("last 24h") << ""
                              << "24h" << QStringList() << "WHERE at_utc >= ?" << QVariantList{dayAgo};
    QTest::newRow("last 1440m") << ""
                                << "1440m" << QStringList() << "WHERE at_utc >= ?" << QVariantList{dayAgo};
    QTest::newRow("last 1d") << ""
                             << "1d" << QStringList() << "WHERE at_utc >= ?" << QVariantList{dayAgo};
    QTest::newRow("last 30s") << ""
                              << "30s" << QStringList() << "WHERE at_utc >= ?"
                              << QVariantList{HistoryTime::Text(Now.addSecs(-30))};
    QTest::newRow("last 1w") << ""
                             << "1w" << QStringList() << "" << QVariantList{};
    QTest::newRow("since, UTC") << "2030-01-14T12:00:00Z"
                                << "" << QStringList() << "WHERE at_utc >= ?" << QVariantList{dayAgo};
    QTest::newRow("since, offset") << "2030-01-14T14:00:00.000+02:00"
                                   << "" << QStringList() << "WHERE at_utc >= ?" << QVariantList{dayAgo};
    QTest::newRow("since, a date") << "2030-01-15"
                                   << "" << QStringList() << "WHERE at_utc >= ?"
                                   << QVariantList{
                                          HistoryTime::Text(QDateTime(QDate(2030, 1, 15), QTime(0, 0)).toUTC())};
    QTest::newRow("addresses") << ""
                               << "" << QStringList{"http://a.test/x,y", "http://crlf.test/a\r\nb"}
                               << "WHERE url IN (?, ?)" << QVariantList{"http://a.test/x,y", "http://crlf.test/a\r\nb"};
    QTest::newRow("addresses and time") << ""
                                        << "24h" << QStringList{"http://é.test/✓"} << "WHERE url = ? AND at_utc >= ?"
                                        << QVariantList{"http://é.test/✓", dayAgo};
    QTest::newRow("nothing") << ""
                             << "" << QStringList{"http://none.test"} << "WHERE 0" << QVariantList{};
  }

  void chooses() {
    QFETCH(QString, since);
    QFETCH(QString, last);
    QFETCH(QStringList, urls);
    QFETCH(QString, where);
    QFETCH(QVariantList, values);
    const QList<QVariantList> expected = Expected(where, values);
    QString line;
    QCOMPARE(HistoryExport::Run(database, Out("chosen.csv"), since, last, urls, &line, Now),
             int(HistoryExport::Written));
    QCOMPARE(CsvRows(Out("chosen.csv")), expected);
    QCOMPARE(HistoryExport::Run(database, Out("chosen.jsonl"), since, last, urls, &line, Now),
             int(HistoryExport::Written));
    QCOMPARE(JsonRows(Out("chosen.jsonl")), expected);
    QCOMPARE(line, QStringLiteral("%1 samples written to %2").arg(expected.size()).arg(Out("chosen.jsonl")));
  }

  // A span of one run holds that run's sites and, by time alone, the reference pings.
  void runSpan() {
    HistoryFile file(database);
    QVERIFY(file.Exec(QStringLiteral("INSERT INTO runs(id, started_utc) VALUES(3, ?)"),
                      {HistoryTime::Text(Now.addDays(-1))}));
    HistorySpan span;
    span.runId = 3;
    QString line;
    QCOMPARE(HistoryExport::Write(database, Out("run.csv"), span, {}, &line), int(HistoryExport::Written));
    QCOMPARE(CsvRows(Out("run.csv")), Expected(QStringLiteral("WHERE at_utc >= ? AND (run_id = 3 OR kind = 'ref')"),
                                               {HistoryTime::Text(Now.addDays(-1).addSecs(-60))}));
    QVERIFY(file.Exec(QStringLiteral("DELETE FROM runs")));
  }

  void exitCodes_data() {
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    const QString db = QStringLiteral("<db>");
    const QString out = QStringLiteral("<dir>/out.csv");
    QTest::newRow("written") << db << out << ""
                             << "7d" << QStringList() << 0 << "60 samples written to <dir>/out.csv";
    QTest::newRow("another ending") << db << "<dir>/out.txt"
                                    << ""
                                    << "" << QStringList() << 2
                                    << "Cannot export to <dir>/out.txt: the file name must end in .csv or .jsonl";
    QTest::newRow("no ending") << db << "<dir>/csv"
                               << ""
                               << "" << QStringList() << 2
                               << "Cannot export to <dir>/csv: the file name must end in .csv or .jsonl";
    QTest::newRow("since and last") << db << out << "2030-01-01"
                                    << "24h" << QStringList() << 2 << "--since and --last cannot be used together";
    QTest::newRow("since, not a date") << db << out << "yesterday"
                                       << "" << QStringList() << 2
                                       << "--since: 'yesterday' is not an ISO 8601 date or date and time";
    QTest::newRow("since, no such day") << db << out << "2030-02-30"
                                        << "" << QStringList() << 2
                                        << "--since: '2030-02-30' is not an ISO 8601 date or date and time";
    for (const char* span : {"5y", "0h", "h", "24", "-1d", "1.5h", "24 h"})
      QTest::addRow("last %s", span) << db << out << "" << span << QStringList() << 2
                                     << QStringLiteral("--last: '%1' is not a span such as 30m, 24h or 7d").arg(span);
    QTest::newRow("an empty address") << db << out << ""
                                      << "" << QStringList{""} << 2 << "--url needs an address";
    QTest::newRow("no history") << "<dir>/missing.sqlite" << out << ""
                                << "" << QStringList() << 3
                                << "Cannot read the history <dir>/missing.sqlite: no such file";
    QTest::newRow("damaged history") << "<dir>/garbage.sqlite" << out << ""
                                     << "" << QStringList() << 3
                                     << "Cannot read the history <dir>/garbage.sqlite: it is damaged";
    QTest::newRow("no such folder") << db << "<dir>/missing/out.csv"
                                    << ""
                                    << "" << QStringList() << 4 << "Cannot write <dir>/missing/out.csv: ";
    QTest::newRow("a folder in the way") << db << "<dir>/folder.csv"
                                         << ""
                                         << "" << QStringList() << 4 << "Cannot write <dir>/folder.csv: ";
  }

  // A bad argument, an unreadable history and an unwritable file each give their own code and
  // one line; only a written export leaves a file.
  void exitCodes() {
    QFETCH(QString, database);
    QFETCH(QString, file);
    QFETCH(QString, since);
    QFETCH(QString, last);
    QFETCH(QStringList, urls);
    QFETCH(int, code);
    QFETCH(QString, line);
    const auto place = [&](QString text) {
      return text.replace(QLatin1String("<db>"), this->database).replace(QLatin1String("<dir>"), dir.path());
    };
    QFile garbage(Out("garbage.sqlite"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'g'));
    garbage.close();
    QVERIFY(QDir().mkpath(Out("folder.csv")));
    QFile::remove(Out("out.csv"));

    QString said;
    QCOMPARE(HistoryExport::Run(place(database), place(file), since, last, urls, &said, Now), code);
    QVERIFY2(said.startsWith(place(line)) && !said.contains(QLatin1Char('\n')), qPrintable(said));
    if (code != HistoryExport::FileUnwritable)
      QVERIFY2(!said.endsWith(QLatin1String(": ")), qPrintable(said));
    QCOMPARE(QFileInfo::exists(Out("out.csv")), code == 0);
    QVERIFY(!QFileInfo::exists(Out("missing.sqlite")));
  }

  // An export that fails while writing leaves the earlier file as it was, and no other file.
  void failedWriteKeepsEarlierFile() {
    const QString file = Out("kept.jsonl");
    {
      QFile earlier(file);
      QVERIFY(earlier.open(QIODevice::WriteOnly));
      earlier.write("earlier\n");
    }
    // A reader's shared-memory file is made before the limit, which it would exceed.
    HistoryFile reader(database);
    QCOMPARE(reader.Value(QStringLiteral("SELECT count(*) FROM samples")).toInt(), 60);
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    QString line;
    int code = 0;
    {
      FileSizeLimit limit(2000); // the export is some 20 KB
      if (!limit.Active())
        QSKIP("the file size limit cannot be set here");
      code = HistoryExport::Run(database, file, QString(), QString(), {}, &line, Now);
    }
    QCOMPARE(code, int(HistoryExport::FileUnwritable));
    // A short write names its cause.
    QCOMPARE(line, QStringLiteral("Cannot write %1: %2").arg(file, QString::fromLocal8Bit(strerror(EFBIG))));
    QCOMPARE(ReadBytes(file), QByteArray("earlier\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
  }

  // Exporting reads the file as it is, while a store writes it, and changes nothing.
  void exportsWhileTheStoreWrites() {
    const QString live = Out("live.sqlite");
    HistoryStore store;
    QVERIFY(store.Open(live));
    HistorySample sample;
    sample.url = QStringLiteral("http://live.test");
    for (int i = 0; i < 10; ++i)
      store.Append(sample);
    QVERIFY(store.Flush());
    QString line;
    QCOMPARE(HistoryExport::Run(live, Out("live.csv"), QString(), QString(), {}, &line, Now),
             int(HistoryExport::Written));
    QCOMPARE(line, QStringLiteral("10 samples written to %1").arg(Out("live.csv")));
    store.Append(sample);
    QVERIFY(store.Flush());
    QCOMPARE(HistoryExport::Run(live, Out("live.csv"), QString(), QString(), {}, &line, Now),
             int(HistoryExport::Written));
    QCOMPARE(line, QStringLiteral("11 samples written to %1").arg(Out("live.csv")));
  }
};

TARVIK_TEST_MAIN(QCoreApplication, HistoryExportTest)
#include "tst_historyexport.moc"
