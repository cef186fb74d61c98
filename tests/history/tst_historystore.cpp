// The history store: the layout of a new file and of one brought forward, what a sample and a run
// become in the file, the retention, the hours sealed in the background, two programs on one file,
// and every way the file can be unusable (history turns itself off with one line, the caller goes
// on).
#include "filesizelimit.h"
#include "history/historyblocks.h"
#include "history/historyquery.h"
#include "history/historyschema.h"
#include "history/historysettings.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "historyfile.h"
#include "settings/settingsstore.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

namespace {

const QString Damaged = QStringLiteral("History is off: history.sqlite is damaged");
const QString Locked = QStringLiteral("History is off: history.sqlite is locked by another program");
const QString Unwritable = QStringLiteral("History is off: history.sqlite cannot be written");
const QString Newer = QStringLiteral("History is off: history.sqlite was written by a newer version of Tarvik");

HistorySample SiteSample(int packet, const QDateTime& at = QDateTime::currentDateTimeUtc()) {
  HistorySample sample;
  sample.at = at;
  sample.url = QStringLiteral("http://a.test");
  sample.packet = packet;
  sample.siteId = 1;
  sample.pingUs = 1000 + packet;
  sample.status = 200;
  return sample;
}

// A row as texts, NULL as "NULL", so that rows compare whatever the driver's value types.
QStringList Texts(const QVariantList& row) {
  QStringList texts;
  for (const QVariant& value : row)
    texts << (value.isNull() ? QStringLiteral("NULL") : value.toString());
  return texts;
}

// The figures of a summary as texts, to compare two ways of reading.
QStringList Figures(const QList<SiteSummary>& lines) {
  QStringList texts;
  for (const SiteSummary& l : lines)
    texts << QStringLiteral("%1 %2 %3/%4/%5 %6 %7 %8 %9 %10 %11 %12 %13 %14 %15")
                 .arg(l.url)
                 .arg(int(l.kind))
                 .arg(l.samples)
                 .arg(l.failures)
                 .arg(l.cancelled)
                 .arg(l.minUs)
                 .arg(l.p50Us)
                 .arg(l.p95Us)
                 .arg(l.p99Us)
                 .arg(l.maxUs)
                 .arg(l.meanUs, 0, 'g', 12)
                 .arg(l.stddevUs, 0, 'g', 12)
                 .arg(HistoryTime::Text(l.lastAt))
                 .arg(l.lastUs)
                 .arg(l.slowMatched);
  return texts;
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file in the layout of the given version, with one sample; made by the layout's own steps.
void MakeFile(const QString& path, int version) {
  HistoryFile file(path);
  for (int step = 1; step <= qMin(version, HistorySchema::Version); ++step)
    for (const QString& statement : HistorySchema::Step(step))
      QVERIFY2(file.Exec(statement), qPrintable(file.Error().text()));
  QVERIFY(file.Exec(QStringLiteral("PRAGMA user_version = %1").arg(version)));
  if (version >= 1)
    QVERIFY(file.Exec(
        QStringLiteral("INSERT INTO samples(at_utc, kind, url, ping_us) VALUES(?, 'site', 'http://old.test', 5)"),
        {HistoryTime::Text(QDateTime::currentDateTimeUtc())}));
}

} // namespace

class HistoryStoreTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString path;

private slots:
  void init() {
    path = dir.filePath(QStringLiteral("history.sqlite"));
    QVERIFY(QDir(dir.path()).removeRecursively());
    QVERIFY(QDir().mkpath(dir.path()));
  }

  // A new file has exactly the published layout, in WAL mode.
  void newFileHasTheLayout() {
    HistoryStore store;
    QVERIFY(store.Open(path));
    QVERIFY(store.IsOn());
    store.Close();
    QVERIFY(!store.IsOn());

    HistoryFile file(path);
    QCOMPARE(file.Value(QStringLiteral("PRAGMA user_version")).toInt(), HistorySchema::Version);
    QCOMPARE(file.Value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    const auto columns = [&](const QString& table) {
      QStringList described;
      for (const QVariantList& row : file.Rows(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        described << row[1].toString() + QLatin1Char(' ') + row[2].toString() + (row[3].toBool() ? " NOT NULL" : "") +
                         (row[5].toBool() ? " KEY" : "");
      return described;
    };
    QCOMPARE(columns(QStringLiteral("samples")), (QStringList{"id INTEGER KEY",         "at_utc TEXT NOT NULL",
                                                              "kind TEXT NOT NULL",     "url TEXT NOT NULL",
                                                              "run_id INTEGER",         "site_id INTEGER",
                                                              "packet INTEGER",         "ping_us INTEGER",
                                                              "dns_us INTEGER",         "connect_us INTEGER",
                                                              "tls_us INTEGER",         "ttfb_us INTEGER",
                                                              "status INTEGER",         "result TEXT",
                                                              "remote_ip TEXT",         "http_version TEXT",
                                                              "bytes INTEGER",          "attempt INTEGER NOT NULL",
                                                              "final INTEGER NOT NULL", "cert_not_after_utc TEXT"}));
    QCOMPARE(columns(QStringLiteral("runs")),
             (QStringList{"id INTEGER KEY", "started_utc TEXT NOT NULL", "ended_utc TEXT", "samplers INTEGER",
                          "delay_s REAL", "warn1_s REAL", "warn2_s REAL"}));
    QCOMPARE(columns(QStringLiteral("incidents")),
             (QStringList{"id INTEGER KEY", "url TEXT NOT NULL", "kind TEXT NOT NULL", "started_utc TEXT NOT NULL",
                          "ended_utc TEXT", "cause TEXT"}));
    const auto names = [&](const QString& table) {
      QStringList described;
      for (const QVariantList& row : file.Rows(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        described << row[1].toString();
      return described;
    };
    QCOMPARE(HistorySchema::SampleColumns(), names(QStringLiteral("samples")));
    QCOMPARE(HistorySchema::IncidentColumns(), names(QStringLiteral("incidents")));
    QCOMPARE(file.Rows(QStringLiteral("SELECT name FROM pragma_index_info('incidents_url_started')")),
             (QList<QVariantList>{{"url"}, {"started_utc"}}));
    QCOMPARE(file.Rows(QStringLiteral("SELECT name FROM pragma_index_info('samples_url_at')")),
             (QList<QVariantList>{{"url"}, {"at_utc"}}));
    QCOMPARE(file.Value(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'samples_ref_at'")).toString(),
             QStringLiteral("CREATE INDEX samples_ref_at ON samples(at_utc) WHERE kind = 'ref'"));
  }

  // A file of an older layout is brought forward and keeps its samples, which read as the first and
  // final attempt of their rows; a file of a newer one is left as it is, and history stays off.
  void olderLayoutIsBroughtForward_data() {
    QTest::addColumn<int>("version");
    QTest::newRow("1") << 1;
    QTest::newRow("2") << 2;
    QTest::newRow("3") << 3;
  }
  void olderLayoutIsBroughtForward() {
    QFETCH(int, version);
    MakeFile(path, version);
    HistoryStore store;
    QVERIFY(store.Open(path));
    HistorySample retried = SiteSample(1);
    retried.attempt = 2;
    retried.finalAttempt = false;
    retried.certNotAfterMs = QDateTime(QDate(2031, 2, 3), QTime(4, 5, 6), Qt::UTC).toMSecsSinceEpoch();
    store.Append(retried);
    QVERIFY(store.Flush());
    store.Close();
    HistoryFile file(path);
    QCOMPARE(file.Value(QStringLiteral("PRAGMA user_version")).toInt(), HistorySchema::Version);
    QCOMPARE(file.Rows(QStringLiteral("SELECT id, url, attempt, final, cert_not_after_utc FROM samples ORDER BY id")),
             (QList<QVariantList>{{1, "http://old.test", 1, 1, QVariant(QMetaType::fromType<QString>())},
                                  {2, "http://a.test", 2, 0, "2031-02-03T04:05:06.000Z"}}));
    QCOMPARE(file.Value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('samples_ref_at', "
                                       "'incidents', 'incidents_url_started')"))
                 .toInt(),
             3);
    QCOMPARE(file.Value(QStringLiteral("SELECT count(*) FROM incidents")).toInt(), 0);
  }

  void newerLayoutIsLeftAlone() {
    MakeFile(path, HistorySchema::Version + 1);
    const QByteArray before = ReadBytes(path);
    HistoryStore store;
    QSignalSpy failed(&store, &HistoryStore::Failed);
    QVERIFY(!store.Open(path));
    QCOMPARE(store.FailureText(), Newer);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), Newer);
    QCOMPARE(store.BeginRun(1, 60, 1, 20), -1);
    store.Append(SiteSample(1));
    QVERIFY(!store.Flush());
    store.Close();
    QCOMPARE(ReadBytes(path), before);
  }

  // Every field lands in its column, "none" as NULL; texts are kept as they are.
  void sampleFieldsLandInTheirColumns() {
    HistoryStore store;
    store.SetRetentionDays(0); // the samples of 2024 stay
    QVERIFY(store.Open(path));
    HistorySample full;
    full.at = QDateTime(QDate(2024, 5, 1), QTime(9, 30, 0, 250), Qt::UTC);
    full.kind = HistorySample::Kind::Site;
    full.url = QStringLiteral("https://b.test/x,\"y\"\r\nz é");
    full.runId = 7;
    full.siteId = 2;
    full.packet = 12;
    full.pingUs = 250123;
    full.dnsUs = 1000;
    full.connectUs = 2000;
    full.tlsUs = 0;
    full.ttfbUs = 240000;
    full.status = 404;
    full.result = QStringLiteral(" => 1");
    full.remoteIp = QStringLiteral("::1");
    full.httpVersion = QStringLiteral("2");
    full.bytes = 0;
    full.attempt = 3;
    full.finalAttempt = false;
    full.certNotAfterMs = QDateTime(QDate(2025, 6, 30), QTime(23, 59, 59), Qt::UTC).toMSecsSinceEpoch();
    store.Append(full);

    HistorySample failed;
    failed.at = QDateTime(QDate(2024, 5, 1), QTime(11, 30, 0, 5), Qt::OffsetFromUTC, 2 * 3600); // 09:30:00.005Z
    failed.kind = HistorySample::Kind::Ref;
    failed.url = QStringLiteral("http://ref.test");
    failed.result = QStringLiteral("Host not found");
    store.Append(failed);

    HistorySample untimed; // no time: the time of Append()
    untimed.url = QStringLiteral("http://c.test");
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    store.Append(untimed);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(store.Flush());

    HistoryFile file(path);
    const QList<QVariantList> rows = file.Rows(QStringLiteral("SELECT * FROM samples ORDER BY id"));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(Texts(rows[0]), (QStringList{"1",    "2024-05-01T09:30:00.250Z",
                                          "site", full.url,
                                          "7",    "2",
                                          "12",   "250123",
                                          "1000", "2000",
                                          "0",    "240000",
                                          "404",  " => 1",
                                          "::1",  "2",
                                          "0",    "3",
                                          "0",    "2025-06-30T23:59:59.000Z"}));
    QCOMPARE(Texts(rows[1]), (QStringList{"2",    "2024-05-01T09:30:00.005Z",
                                          "ref",  "http://ref.test",
                                          "NULL", "NULL",
                                          "NULL", "NULL",
                                          "NULL", "NULL",
                                          "NULL", "NULL",
                                          "NULL", "Host not found",
                                          "NULL", "NULL",
                                          "NULL", "1",
                                          "1",    "NULL"}));
    qint64 at = 0;
    QVERIFY(HistoryTime::Parse(rows[2][1].toString().toUtf8(), &at));
    QVERIFY(at >= before && at <= after);
    QCOMPARE(Texts(rows[2]).mid(2),
             (QStringList{"site", "http://c.test", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL",
                          "NULL", "", "NULL", "NULL", "NULL", "1", "1", "NULL"}));
  }

  void runsHaveTheirOwnRows() {
    HistoryStore store;
    QVERIFY(store.Open(path));
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const qint64 first = store.BeginRun(3, 60, 1.5, 20);
    const qint64 second = store.BeginRun(1, 30, 2, 10);
    QCOMPARE(first, 1);
    QCOMPARE(second, 2);
    store.EndRun(first);
    QVERIFY(store.Flush());
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    HistoryFile file(path);
    const QList<QVariantList> rows = file.Rows(QStringLiteral("SELECT * FROM runs ORDER BY id"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].mid(3), (QVariantList{3, 60.0, 1.5, 20.0}));
    QCOMPARE(rows[1].mid(3), (QVariantList{1, 30.0, 2.0, 10.0}));
    qint64 started = 0;
    qint64 ended = 0;
    QVERIFY(HistoryTime::Parse(rows[0][1].toString().toUtf8(), &started));
    QVERIFY(HistoryTime::Parse(rows[0][2].toString().toUtf8(), &ended));
    QVERIFY(before <= started && started <= ended && ended <= after);
    QVERIFY(rows[1][2].isNull());
  }

  // An incident's start and end reach the file; those that go on are read back at the next opening,
  // oldest first, and not those that ended (or that this program cannot read).
  void incidentsAreKeptAndReadBack() {
    const QDateTime at(QDate(2026, 3, 1), QTime(12, 0, 0, 250), Qt::UTC);
    {
      HistoryStore store;
      store.SetRetentionDays(0); // the incident that ended in March stays
      QVERIFY(store.Open(path));
      QVERIFY(store.OngoingIncidents().isEmpty());
      for (const auto& [url, kind, minutes, cause] :
           {std::tuple{"http://a.test", HistoryIncident::Kind::Down, 5, "Connection refused"},
            std::tuple{"http://a.test", HistoryIncident::Kind::Certificate, 0, "expires in 5 days"},
            std::tuple{"http://b.test/é", HistoryIncident::Kind::Slow, 1, "Ping 1.500 s"},
            std::tuple{"http://c.test", HistoryIncident::Kind::Down, 2, "HTTP 404"}}) {
        HistoryIncident incident;
        incident.url = QString::fromUtf8(url);
        incident.kind = kind;
        incident.started = at.addSecs(60 * minutes);
        incident.cause = QString::fromUtf8(cause);
        store.BeginIncident(incident);
      }
      store.EndIncident(QStringLiteral("http://c.test"), HistoryIncident::Kind::Down, at.addSecs(600));
      store.EndIncident(QStringLiteral("http://b.test/é"), HistoryIncident::Kind::Down, at.addSecs(600)); // none
      QVERIFY(store.Flush());
    }
    HistoryFile file(path);
    QVERIFY(
        file.Exec(QStringLiteral("INSERT INTO incidents(url, kind, started_utc) VALUES('http://d.test', "
                                 "'meteor', '2026-03-01T12:00:00.000Z')")));
    QCOMPARE(Texts(file.Rows(QStringLiteral("SELECT * FROM incidents WHERE id = 4")).value(0)),
             (QStringList{"4", "http://c.test", "down", "2026-03-01T12:02:00.250Z", "2026-03-01T12:10:00.250Z",
                          "HTTP 404"}));

    HistoryStore store;
    store.SetRetentionDays(0);
    QVERIFY(store.Open(path));
    QStringList ongoing;
    for (const HistoryIncident& incident : store.OngoingIncidents())
      ongoing << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(incident.id)
                     .arg(incident.url, HistoryIncident::KindName(incident.kind), HistoryTime::Text(incident.started),
                          incident.cause);
    QCOMPARE(ongoing, (QStringList{"2 http://a.test certificate 2026-03-01T12:00:00.250Z expires in 5 days",
                                   "3 http://b.test/é slow 2026-03-01T12:01:00.250Z Ping 1.500 s",
                                   "1 http://a.test down 2026-03-01T12:05:00.250Z Connection refused"}));
  }

  // Samples are committed without anyone asking, and Close() writes what is still queued.
  void queuedSamplesReachTheFile() {
    HistoryStore store;
    QVERIFY(store.Open(path));
    store.Append(SiteSample(1));
    HistoryFile file(path);
    QTRY_COMPARE_WITH_TIMEOUT(file.Value(QStringLiteral("SELECT count(*) FROM samples")).toInt(), 1, 5000);
    for (int i = 2; i <= 1000; ++i)
      store.Append(SiteSample(i));
    store.Close();
    QCOMPARE(file.Value(QStringLiteral("SELECT count(*) FROM samples")).toInt(), 1000);
    QCOMPARE(file.Value(QStringLiteral("SELECT sum(id = packet) FROM samples")).toInt(), 1000);
  }

  // Two programs writing one file: each gets runs of its own and nothing is lost.
  void twoStoresShareOneFile() {
    HistoryStore one;
    HistoryStore two;
    QVERIFY(one.Open(path));
    QVERIFY(two.Open(path));
    const qint64 runOne = one.BeginRun(1, 60, 1, 20);
    const qint64 runTwo = two.BeginRun(1, 60, 1, 20);
    QVERIFY(runOne > 0 && runTwo > 0 && runOne != runTwo);
    for (int i = 0; i < 500; ++i) {
      HistorySample sample = SiteSample(i);
      sample.runId = runOne;
      one.Append(sample);
      sample.runId = runTwo;
      two.Append(sample);
      if (i % 100 == 0)
        QTest::qWait(50);
    }
    QVERIFY(one.Flush());
    QVERIFY(two.Flush());
    HistoryFile file(path);
    QCOMPARE(file.Rows(QStringLiteral("SELECT run_id, count(*) FROM samples GROUP BY run_id ORDER BY run_id")),
             (QList<QVariantList>{{qMin(runOne, runTwo), 500}, {qMax(runOne, runTwo), 500}}));
  }

  // The retention deletes samples (in batches) and runs older than the cutoff, keeps the rest, and
  // follows a change at once; 0 keeps everything.
  void retentionDeletesOldSamples() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    MakeFile(path, HistorySchema::Version);
    {
      HistoryFile file(path);
      QVERIFY(file.Exec(QStringLiteral("DELETE FROM samples")));
      QVERIFY(file.Exec(QStringLiteral("BEGIN")));
      // More old samples than one batch deletes, then a few on either side of 90 and of 10 days.
      for (int i = 0; i < HistoryStore::PruneBatch * 2 + 10; ++i)
        QVERIFY(file.Exec(QStringLiteral("INSERT INTO samples(at_utc, kind, url, ping_us) VALUES(?, ?, ?, 1)"),
                          {HistoryTime::Text(now.addDays(-200).addSecs(i)), i % 7 ? "site" : "ref",
                           QStringLiteral("http://%1.test").arg(i % 5)}));
      for (const int days : {91, 89, 11, 9, 0})
        QVERIFY(file.Exec(QStringLiteral("INSERT INTO samples(at_utc, kind, url, ping_us) VALUES(?, 'site', ?, ?)"),
                          {HistoryTime::Text(now.addDays(-days)), QStringLiteral("http://%1.test").arg(days), days}));
      // Runs: ended 91 and 89 days ago; never ended, begun 91 days ago.
      QVERIFY(file.Exec(
          QStringLiteral("INSERT INTO runs(id, started_utc, ended_utc) VALUES(1, ?, ?), (2, ?, ?), (3, ?, NULL)"),
          {HistoryTime::Text(now.addDays(-92)), HistoryTime::Text(now.addDays(-91)),
           HistoryTime::Text(now.addDays(-90)), HistoryTime::Text(now.addDays(-89)),
           HistoryTime::Text(now.addDays(-91))}));
      // Incidents: ended 91 and 89 days ago; one begun 120 days ago that goes on.
      QVERIFY(file.Exec(QStringLiteral("INSERT INTO incidents(id, url, kind, started_utc, ended_utc) VALUES"
                                       "(1, 'http://a.test', 'down', ?, ?), (2, 'http://a.test', 'slow', ?, ?), "
                                       "(3, 'http://b.test', 'certificate', ?, NULL)"),
                        {HistoryTime::Text(now.addDays(-92)), HistoryTime::Text(now.addDays(-91)),
                         HistoryTime::Text(now.addDays(-90)), HistoryTime::Text(now.addDays(-89)),
                         HistoryTime::Text(now.addDays(-120))}));
      QVERIFY(file.Exec(QStringLiteral("COMMIT")));
    }
    HistoryFile file(path);
    const auto kept = [&] {
      QList<int> days;
      for (const QVariantList& row : file.Rows(QStringLiteral("SELECT ping_us FROM samples ORDER BY id")))
        days << row[0].toInt();
      return days;
    };
    HistoryStore store;
    QCOMPARE(store.RetentionDays(), 90);
    QVERIFY(store.Open(path));
    const qint64 run = store.BeginRun(1, 60, 1, 20); // this store's open run stays
    QTRY_COMPARE_WITH_TIMEOUT(kept(), (QList<int>{89, 11, 9, 0}), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(file.Rows(QStringLiteral("SELECT id FROM runs ORDER BY id")),
                              (QList<QVariantList>{{2}, {run}}), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(file.Rows(QStringLiteral("SELECT id FROM incidents ORDER BY id")),
                              (QList<QVariantList>{{2}, {3}}), 5000);

    store.SetRetentionDays(10);
    QTRY_COMPARE_WITH_TIMEOUT(kept(), (QList<int>{9, 0}), 5000);

    store.SetRetentionDays(0);
    HistorySample old = SiteSample(1, now.addDays(-1000));
    old.pingUs = 1000;
    store.Append(old);
    QVERIFY(store.Flush());
    store.Close();
    QVERIFY(store.Open(path)); // a retention pass runs at every opening
    QVERIFY(store.Flush());
    store.Close();
    QCOMPARE(kept(), (QList<int>{9, 0, 1000}));
  }

  // The hours of a file of the previous layout are sealed once it is opened, and sealed again when
  // a sample arrives late at the next opening; the figures read from them are those of the rows,
  // and the retention gives up the blocks of the hours it deletes.
  void hoursAreSealedInTheBackground() {
    MakeFile(path, 3);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    {
      HistoryFile file(path);
      QVERIFY(file.Exec(QStringLiteral("BEGIN")));
      for (int i = 0; i < 3000; ++i)
        QVERIFY(
            file.Exec(QStringLiteral("INSERT INTO samples(at_utc, kind, url, ping_us, result) VALUES(?, ?, ?, ?, ?)"),
                      {HistoryTime::Text(now.addSecs(-3 * 86400 + i * 86)), i % 10 ? "site" : "ref",
                       QStringLiteral("http://%1.test").arg(i % 3),
                       i % 13 ? QVariant(1000 + i * 7919 % 5000) : QVariant(), i % 39 ? "" : "Cancelled"}));
      QVERIFY(file.Exec(QStringLiteral("COMMIT")));
    }
    const auto sealedFigures = [&](const HistorySpan& span) {
      HistoryQuery query(path);
      const QStringList scanned = Figures(query.Summary(span, {}, HistoryQuery::Plan::Scan));
      QCOMPARE(Figures(query.Summary(span, {}, HistoryQuery::Plan::Blocks)), scanned);
      QCOMPARE(scanned.size(), 7);
    };
    HistoryFile file(path);
    const auto count = [&](const QString& sql) { return file.Value(sql).toInt(); };
    const QString sealedUntil =
        HistoryBlocks::Key(now.toMSecsSinceEpoch() - HistoryBlocks::SealDelayMs - HistoryBlocks::HourMs);
    HistoryStore store;
    store.SetRetentionDays(0);
    QVERIFY(store.Open(path));
    QTRY_VERIFY_WITH_TIMEOUT(
        file.Value(QStringLiteral("SELECT until_hour FROM blocks_state")).toString() >= sealedUntil, 20000);
    QVERIFY(count(QStringLiteral("SELECT count(*) FROM blocks")) > 3 * 24 * 3);
    sealedFigures(HistorySpan());
    sealedFigures(HistorySpan::Last(86400, now));

    HistorySample late = SiteSample(1, now.addDays(-2));
    late.url = QStringLiteral("http://1.test");
    late.pingUs = 99999999;
    store.Append(late);
    QVERIFY(store.Flush());
    sealedFigures(HistorySpan());
    store.Close();
    QVERIFY(store.Open(path));
    QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("SELECT count(*) FROM blocks_stale")), 0, 20000);
    sealedFigures(HistorySpan());

    store.SetRetentionDays(2);
    const QString cut = HistoryBlocks::Key(now.addDays(-2).toMSecsSinceEpoch());
    QTRY_COMPARE_WITH_TIMEOUT(
        count(
            QStringLiteral("SELECT count(*) FROM samples WHERE at_utc < '%1'").arg(HistoryTime::Text(now.addDays(-2)))),
        0, 20000);
    QVERIFY(file.Value(QStringLiteral("SELECT from_hour FROM blocks_state")).toString() >= cut);
    QTRY_COMPARE_WITH_TIMEOUT(count(QStringLiteral("SELECT count(*) FROM blocks_stale")), 0, 20000);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM blocks WHERE hour < '%1'").arg(cut)), 0);
    sealedFigures(HistorySpan());
  }

  // A file that cannot be used turns history off with one line: Failed() once, FailureText(), and
  // every later call harmless. A damaged file is left as it was.
  void unusableFileTurnsHistoryOff_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("line");
    QTest::newRow("not a database") << "garbage" << Damaged;
    QTest::newRow("a text file") << "text" << Damaged;
    QTest::newRow("cut short") << "truncated" << Damaged;
    QTest::newRow("cut to its first page") << "first page" << Damaged;
    QTest::newRow("a folder in its place") << "folder" << Unwritable;
    QTest::newRow("in a folder that is a file") << "under a file" << Unwritable;
    QTest::newRow("held by another connection, WAL") << "exclusive transaction" << Locked;
    QTest::newRow("held by another connection, exclusive mode") << "exclusive mode" << Locked;
    QTest::newRow("disk full") << "full" << Unwritable;
  }

  void unusableFileTurnsHistoryOff() {
    QFETCH(QString, how);
    QFETCH(QString, line);
    QString file = path;
    std::unique_ptr<HistoryFile> holder;
    std::unique_ptr<FileSizeLimit> limit;
    if (how == "garbage" || how == "text") {
      QFile out(path);
      QVERIFY(out.open(QIODevice::WriteOnly));
      QByteArray bytes(64 * 1024, 'x');
      if (how == "garbage")
        for (char& c : bytes)
          c = char(QRandomGenerator::global()->bounded(256));
      out.write(bytes);
    } else if (how == "truncated" || how == "first page") {
      {
        HistoryStore store;
        QVERIFY(store.Open(path));
        for (int i = 0; i < 20000; ++i)
          store.Append(SiteSample(i));
      }
      HistoryFile checkpoint(path);
      QVERIFY(checkpoint.Exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")));
      checkpoint.Close();
      QFile cut(path);
      QVERIFY(cut.resize(how == "first page" ? 4096 : cut.size() / 2));
    } else if (how == "folder") {
      QVERIFY(QDir().mkdir(path));
    } else if (how == "under a file") {
      QFile out(path);
      QVERIFY(out.open(QIODevice::WriteOnly));
      file = path + QStringLiteral("/history.sqlite");
    } else if (how == "exclusive transaction" || how == "exclusive mode") {
      {
        HistoryStore store;
        QVERIFY(store.Open(path));
      }
      holder = std::make_unique<HistoryFile>(path);
      if (how == "exclusive mode") {
        QVERIFY(holder->Exec(QStringLiteral("PRAGMA journal_mode = DELETE")));
        QVERIFY(holder->Exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE")));
      }
      QVERIFY(holder->Exec(QStringLiteral("BEGIN EXCLUSIVE")));
      QVERIFY(holder->Exec(QStringLiteral("INSERT INTO runs(started_utc) VALUES('x')")));
      if (how == "exclusive mode")
        QVERIFY(holder->Exec(QStringLiteral("COMMIT"))); // the lock stays with the connection
    } else if (how == "full") {
      {
        HistoryStore store;
        QVERIFY(store.Open(path));
      }
      limit = std::make_unique<FileSizeLimit>(QFileInfo(path).size() + 16 * 1024);
      if (!limit->Active())
        QSKIP("the file size limit cannot be set here");
    }
    const QByteArray before = QFileInfo(file).isFile() ? ReadBytes(file) : QByteArray();

    HistoryStore store;
    QSignalSpy failed(&store, &HistoryStore::Failed);
    store.Open(file);
    // Whatever Open() found, appending goes on until the writer finds the fault.
    for (int i = 0; i < 2000 && failed.isEmpty(); ++i) {
      HistorySample sample = SiteSample(i);
      sample.result = QString(200, QLatin1Char('r'));
      store.Append(sample);
      if (i % 100 == 99)
        store.Flush();
      QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
    QCOMPARE(failed.first().first().toString(), line);
    QCOMPARE(store.FailureText(), line);
    QVERIFY(!store.IsOn());
    QCOMPARE(store.BeginRun(1, 60, 1, 20), -1);
    store.Append(SiteSample(1));
    store.EndRun(1);
    QVERIFY(!store.Flush());
    store.Close();
    QTest::qWait(50);
    QCOMPARE(failed.count(), 1);
    limit.reset();
    if (how == "garbage" || how == "text" || how == "truncated")
      QCOMPARE(ReadBytes(file), before);

    // Once the other program lets go, the next opening works.
    if (holder) {
      holder.reset();
      HistoryStore again;
      QVERIFY(again.Open(file));
      QVERIFY(again.BeginRun(1, 60, 1, 20) > 0);
    }
  }

  // The settings live in a group of their own beside the program's values, with defaults for
  // missing and damaged values.
  void settings_data() {
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<QString>("retention");
    QTest::addColumn<bool>("enabledRead");
    QTest::addColumn<int>("retentionRead");
    QTest::newRow("missing") << QString() << QString() << true << 90;
    QTest::newRow("set") << "false"
                         << "30" << false << 30;
    QTest::newRow("zero keeps all") << "true"
                                    << "0" << true << 0;
    QTest::newRow("zero is off") << "0"
                                 << "36500" << false << 36500;
    QTest::newRow("damaged") << "maybe"
                             << "ninety" << true << 90;
    QTest::newRow("out of range") << "TRUE"
                                  << "36501" << true << 90;
    QTest::newRow("negative") << "FALSE"
                              << "-1" << false << 90;
  }

  void settings() {
    QFETCH(QString, enabled);
    QFETCH(QString, retention);
    QFETCH(bool, enabledRead);
    QFETCH(int, retentionRead);
    TestEnvironment::Current()->Clear();
    SettingsStore::SaveRegString(QStringLiteral("103"), QStringLiteral("kept"));
    if (!enabled.isNull())
      SettingsStore::SaveRegString(QStringLiteral("History/Enabled"), enabled);
    if (!retention.isNull())
      SettingsStore::SaveRegString(QStringLiteral("History/RetentionDays"), retention);
    QCOMPARE(HistorySettings::Enabled(), enabledRead);
    QCOMPARE(HistorySettings::RetentionDays(), retentionRead);

    HistorySettings::SetEnabled(!enabledRead);
    HistorySettings::SetRetentionDays(7);
    QCOMPARE(HistorySettings::Enabled(), !enabledRead);
    QCOMPARE(HistorySettings::RetentionDays(), 7);
    QCOMPARE(SettingsStore::GetRegString(QStringLiteral("103")), QStringLiteral("kept"));
    QFile store(TestEnvironment::Current()->SettingsFile());
    QVERIFY(store.open(QIODevice::ReadOnly));
    const QByteArray text = store.readAll();
    QVERIFY2(text.contains("[History]\nEnabled=") && text.contains("\nRetentionDays=7"), text.constData());
  }
};

TARVIK_TEST_MAIN(QCoreApplication, HistoryStoreTest)
#include "tst_historystore.moc"
