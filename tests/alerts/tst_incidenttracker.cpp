// The incidents of the sites: the rules (how many down, up and slow samples make or end one, what a
// cancelled sample does), the counts of the sites by state, the certificate that ends soon, and, on
// real loopback sites through the test engine, what the history keeps and what a restart keeps.
#include "alerts/incidentrules.h"
#include "alerts/incidenttracker.h"
#include "engine/completedsample.h"
#include "enginerig.h"
#include "history/historyquery.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "loopbackserver.h"
#include "settings/settingsstore.h"
#include "testcertificates.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

const QDateTime Start(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

// A completed row of a script: 'U' up (0.100 s), 'S' slow (1.500 s), 'D' down (HTTP 500), 'R'
// refused, 'C' cancelled; the i-th sample of a script is taken i minutes after Start.
CompletedSample Scripted(QChar step, int i, const QString& url = QStringLiteral("http://a.test")) {
  CompletedSample sample;
  sample.at = Start.addSecs(60 * i);
  sample.url = url;
  sample.siteId = 1;
  sample.packet = i + 1;
  sample.accepted = step != QLatin1Char('R') && step != QLatin1Char('C');
  sample.cancelled = step == QLatin1Char('C');
  sample.fetched.ok = sample.accepted;
  sample.fetched.seconds = step == QLatin1Char('S') ? 1.5 : 0.1;
  sample.fetched.totalUs = sample.accepted ? qint64(sample.fetched.seconds * 1e6) : -1;
  sample.fetched.status = step == QLatin1Char('D') ? 500 : sample.accepted ? 200 : 0;
  sample.ping = sample.accepted ? QStringLiteral("0.100") : QStringLiteral("Failed");
  sample.result = step == QLatin1Char('S')   ? QStringLiteral(" => 1")
                  : step == QLatin1Char('R') ? QStringLiteral("Connection refused")
                  : step == QLatin1Char('C') ? QStringLiteral("Cancelled")
                                             : QString();
  return sample;
}

// An event as "kind started-ended cause", the times as the index of the script's sample ("-" while
// it goes on).
QString Told(const AlertEvent& event) {
  const auto index = [](const QDateTime& at) {
    return at.isValid() ? QString::number(Start.secsTo(at) / 60) : QStringLiteral("-");
  };
  return QStringLiteral("%1 %2-%3 %4")
      .arg(AlertEvent::EventName(event.kind), index(event.started), index(event.ended), event.cause);
}

} // namespace

class IncidentTrackerTest : public QObject {
  Q_OBJECT

private slots:
  void init() { TestEnvironment::Current()->Clear(); }
  void cleanup() { HttpClient::SetTrustStoreFile(QString()); }

  void rules_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("downAfter");
    QTest::addColumn<int>("upAfter");
    QTest::addColumn<int>("slowAfter");
    QTest::addColumn<QStringList>("told");

    // clang-format off
    QTest::newRow("one down sample is none")   << "UDU"      << 2 << 1 << 3 << QStringList{};
    QTest::newRow("down after two")            << "UDDDU"    << 2 << 1 << 3
        << QStringList{"down 1-- HTTP 500", "up 1-4 HTTP 500"};
    QTest::newRow("the first down's cause")    << "RDDU"     << 2 << 1 << 3
        << QStringList{"down 0-- Connection refused", "up 0-3 Connection refused"};
    QTest::newRow("down after three")          << "DDUDDDUU" << 3 << 1 << 3
        << QStringList{"down 3-- HTTP 500", "up 3-6 HTTP 500"};
    QTest::newRow("up after two")              << "DDUDUU"   << 2 << 2 << 3
        << QStringList{"down 0-- HTTP 500", "up 0-4 HTTP 500"};
    QTest::newRow("cancelled changes nothing") << "DCDUCU"   << 2 << 2 << 3
        << QStringList{"down 0-- HTTP 500", "up 0-3 HTTP 500"};
    QTest::newRow("slow after three")          << "SSUSSSU"  << 2 << 1 << 3
        << QStringList{"slow 3-- Ping 1.500 s", "slow-end 3-6 Ping 1.500 s"};
    QTest::newRow("a slow site is up")         << "DDSU"     << 2 << 1 << 3
        << QStringList{"down 0-- HTTP 500", "up 0-2 HTTP 500"};
    QTest::newRow("slow ends where down begins") << "SSSDD"  << 2 << 1 << 3
        << QStringList{"slow 0-- Ping 1.500 s", "slow-end 0-3 Ping 1.500 s", "down 3-- HTTP 500"};
    QTest::newRow("slow right after an outage")  << "DDSSS"  << 2 << 1 << 3
        << QStringList{"down 0-- HTTP 500", "up 0-2 HTTP 500", "slow 2-- Ping 1.500 s"};
    QTest::newRow("one of each")                 << "DSUS"   << 1 << 1 << 1
        << QStringList{"down 0-- HTTP 500", "up 0-1 HTTP 500", "slow 1-- Ping 1.500 s",
                       "slow-end 1-2 Ping 1.500 s", "slow 3-- Ping 1.500 s"};
    // clang-format on
  }

  void rules() {
    QFETCH(QString, script);
    QFETCH(int, downAfter);
    QFETCH(int, upAfter);
    QFETCH(int, slowAfter);
    QFETCH(QStringList, told);
    EngineRig rig;
    HistoryStore closed; // never opened: nothing is kept
    IncidentRules rules;
    rules.downAfter = downAfter;
    rules.upAfter = upAfter;
    rules.slowAfter = slowAfter;
    IncidentTracker tracker(rig.cycle, rig.settings, closed, rules);
    QStringList events;
    connect(&tracker, &IncidentTracker::Event, this, [&](const AlertEvent& event) {
      QCOMPARE(event.url, QStringLiteral("http://a.test"));
      events << Told(event);
    });
    for (int i = 0; i < script.size(); ++i)
      tracker.RecordSample(Scripted(script.at(i), i));
    QCOMPARE(events, told);
  }

  // Attempts made before a row's final fetch do not count.
  void onlyTheRowsCount() {
    EngineRig rig;
    HistoryStore closed;
    IncidentTracker tracker(rig.cycle, rig.settings, closed);
    QSignalSpy events(&tracker, &IncidentTracker::Event);
    for (int i = 0; i < 4; ++i) {
      CompletedSample attempt = Scripted(QLatin1Char('R'), i);
      attempt.finalAttempt = false;
      tracker.RecordSample(attempt);
    }
    QCOMPARE(events.count(), 0);
  }

  // The counts take the sites with a sample since testing started; each change is told once.
  void countsOfTheSitesByState() {
    EngineRig rig;
    HistoryStore closed;
    IncidentRules rules;
    rules.downAfter = 1;
    rules.slowAfter = 1;
    IncidentTracker tracker(rig.cycle, rig.settings, closed, rules);
    QList<QList<int>> told;
    connect(&tracker, &IncidentTracker::StatesChanged, this, [&](int up, int slow, int down) {
      told << QList<int>{up, slow, down};
    });
    tracker.RecordSample(Scripted(QLatin1Char('U'), 0, QStringLiteral("http://a.test")));
    tracker.RecordSample(Scripted(QLatin1Char('U'), 0, QStringLiteral("http://b.test")));
    tracker.RecordSample(Scripted(QLatin1Char('U'), 1, QStringLiteral("http://a.test"))); // no change
    tracker.RecordSample(Scripted(QLatin1Char('S'), 1, QStringLiteral("http://b.test")));
    tracker.RecordSample(Scripted(QLatin1Char('R'), 2, QStringLiteral("http://c.test")));
    tracker.RecordSample(Scripted(QLatin1Char('C'), 3, QStringLiteral("http://d.test"))); // no sample
    tracker.RecordSample(Scripted(QLatin1Char('U'), 4, QStringLiteral("http://c.test")));
    QCOMPARE(told, (QList<QList<int>>{{1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 1, 1}, {2, 1, 0}}));
  }

  // A certificate that ends within CertDays is an incident until a sample shows a later end.
  void certificateEndingSoon_data() {
    QTest::addColumn<QList<double>>("daysLeft"); // of each sample; negative: http, no certificate
    QTest::addColumn<int>("certDays");
    QTest::addColumn<QStringList>("told");
    QTest::newRow("renewed") << QList<double>{30, 13.5, 13, -1, 90} << 14
                             << QStringList{"certificate 1-- expires in 13 days", "certificate 1-4 expires in 13 days"};
    QTest::newRow("last day") << QList<double>{1.9, 0.5} << 14 << QStringList{"certificate 0-- expires in 1 day"};
    QTest::newRow("under a day") << QList<double>{0.25} << 14
                                 << QStringList{"certificate 0-- expires in less than a day"};
    QTest::newRow("at the limit") << QList<double>{14, 13.99} << 14
                                  << QStringList{"certificate 1-- expires in 13 days"};
    QTest::newRow("turned off") << QList<double>{0.5} << 0 << QStringList{};
  }
  void certificateEndingSoon() {
    QFETCH(QList<double>, daysLeft);
    QFETCH(int, certDays);
    QFETCH(QStringList, told);
    EngineRig rig;
    HistoryStore closed;
    IncidentRules rules;
    rules.certDays = certDays;
    IncidentTracker tracker(rig.cycle, rig.settings, closed, rules);
    QStringList events;
    connect(&tracker, &IncidentTracker::Event, this, [&](const AlertEvent& event) { events << Told(event); });
    for (int i = 0; i < daysLeft.size(); ++i) {
      CompletedSample sample = Scripted(QLatin1Char('U'), i);
      if (daysLeft.at(i) >= 0)
        sample.fetched.certNotAfterMs = sample.at.toMSecsSinceEpoch() + qint64(daysLeft.at(i) * 86400 * 1000);
      tracker.RecordSample(sample);
    }
    QCOMPARE(events, told);
  }

  // Stored rules, each brought into its range; a damaged value reads as its default.
  void storedRules_data() {
    QTest::addColumn<QStringList>("stored"); // DownAfter, UpAfter, SlowAfter, CertDays; null: not stored
    QTest::addColumn<QList<int>>("read");
    QTest::newRow("defaults") << QStringList{QString(), QString(), QString(), QString()} << QList<int>{2, 1, 3, 14};
    QTest::newRow("set") << QStringList{"5", "3", "10", "0"} << QList<int>{5, 3, 10, 0};
    QTest::newRow("damaged") << QStringList{"0", "x", "1001", "-1"} << QList<int>{2, 1, 3, 14};
    QTest::newRow("limits") << QStringList{"1", " 1000 ", "1", "3650"} << QList<int>{1, 1000, 1, 3650};
  }
  void storedRules() {
    QFETCH(QStringList, stored);
    QFETCH(QList<int>, read);
    const QStringList keys{"Alerts/DownAfter", "Alerts/UpAfter", "Alerts/SlowAfter", "Alerts/CertDays"};
    for (int i = 0; i < keys.size(); ++i)
      if (!stored.at(i).isNull())
        SettingsStore::SaveRegString(keys.at(i), stored.at(i));
    const IncidentRules rules = IncidentRules::Stored();
    QCOMPARE((QList<int>{rules.downAfter, rules.upAfter, rules.slowAfter, rules.certDays}), read);
  }

  // Real sites through the engine: what becomes an incident, what the history keeps, and what a
  // restart keeps: an outage across it is one incident, taken up without being told again.
  void incidentsOfRealSitesAcrossARestart() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    const TestCertificates made = TestCertificates::Make(dir.path(), 5 * 86400 + 3600);
    HttpClient::SetTrustStoreFile(made.authorityFile);
    LoopbackServer site;
    site.Serve(QStringLiteral("/ok/vok.txt"), "vok\r\n");
    site.Serve(QStringLiteral("/missing/vok.txt"), "vok", 0, 404);
    site.Serve(QStringLiteral("/marker/vok.txt"), "<html>nothing here</html>");
    int flaps = 0; // answers 500, then vok, then 500 twice, then vok
    site.Handle(QStringLiteral("/flap/vok.txt"), [&](const LoopbackRequest&) {
      ++flaps;
      return flaps == 1 || flaps == 3 || flaps == 4 ? LoopbackResponse("oops", 500) : LoopbackResponse("vok");
    });
    LoopbackServer secure(made);
    secure.Serve(QStringLiteral("/vok.txt"), "vok");
    const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::UnusedPort());
    const QString ok = site.Url(QStringLiteral("/ok"));
    const QString missing = site.Url(QStringLiteral("/missing"));
    const QString marker = site.Url(QStringLiteral("/marker"));
    const QString flap = site.Url(QStringLiteral("/flap"));
    const QStringList urls{ok, missing, marker, refused, flap, secure.BaseUrl()};
    const auto name = [&](const QString& url) {
      static const QStringList names{"ok", "missing", "marker", "refused", "flap", "tls"};
      return names.value(urls.indexOf(url), url);
    };

    // Each sample's pass, by its site and time, to read the events' times as passes.
    std::map<std::pair<QString, qint64>, int> passOf;
    const auto run = [&](const QStringList& listed, int passes, QStringList* events, QList<int>* states) {
      HistoryStore store;
      QVERIFY(store.Open(path));
      EngineRig rig;
      // Before the tracker's, so that an event finds the pass of the sample that caused it.
      connect(&rig.cycle, &TestCycle::SampleCompleted, this, [&](const CompletedSample& sample) {
        passOf[{sample.url, sample.at.toMSecsSinceEpoch()}] = sample.packet;
      });
      IncidentTracker tracker(rig.cycle, rig.settings, store);
      const auto pass = [&](const QString& url, const QDateTime& at) {
        const auto found = passOf.find({url, at.toMSecsSinceEpoch()});
        return found == passOf.end() ? QStringLiteral("?") : QString::number(found->second);
      };
      connect(&tracker, &IncidentTracker::Event, this, [&](const AlertEvent& event) {
        *events << QStringLiteral("%1 %2 %3-%4 %5")
                       .arg(AlertEvent::EventName(event.kind), name(event.url), pass(event.url, event.started),
                            event.ended.isValid() ? pass(event.url, event.ended) : QStringLiteral("-"), event.cause);
      });
      connect(&tracker, &IncidentTracker::StatesChanged, this, [&](int up, int slow, int down) {
        *states = {up, slow, down};
      });
      rig.settings.urls = listed;
      rig.cycle.Text3_Change(QString::number(listed.size()));
      rig.SwitchOn();
      QTRY_VERIFY_WITH_TIMEOUT(rig.results.Count() >= listed.size() * passes &&
                                   !rig.Text(listed.size() * passes - 1, ResultsModel::Average).isEmpty(),
                               30000);
      rig.SwitchOff();
    };

    QStringList events;
    QList<int> states;
    run(urls, 5, &events, &states);
    QCOMPARE(events,
             (QStringList{"certificate tls 1-- expires in 5 days", "down missing 1-- HTTP 404", "down marker 1-- Code",
                          "down refused 1-- Connection refused", "down flap 3-- HTTP 500", "up flap 3-5 HTTP 500"}));
    QCOMPARE(states, (QList<int>{3, 0, 3}));

    // The next start: the missing file is back, the refused site is no longer listed.
    site.Serve(QStringLiteral("/missing/vok.txt"), "vok");
    QStringList urlsAfter = urls;
    urlsAfter.removeAll(refused);
    events.clear();
    run(urlsAfter, 1, &events, &states);
    QCOMPARE(events, (QStringList{"up missing 1-1 HTTP 404"}));
    QCOMPARE(states, (QList<int>{4, 0, 1}));

    HistoryQuery history(path);
    QStringList kept;
    for (const HistoryIncident& incident : history.Incidents(HistorySpan{}))
      kept << QStringLiteral("%1 %2 %3 %4")
                  .arg(name(incident.url), HistoryIncident::KindName(incident.kind),
                       incident.Ongoing() ? QStringLiteral("ongoing") : QStringLiteral("ended"), incident.cause);
    QCOMPARE(kept, (QStringList{"tls certificate ongoing expires in 5 days", "missing down ended HTTP 404",
                                "marker down ongoing Code", "refused down ended Connection refused",
                                "flap down ended HTTP 500"}));
  }
};

TARVIK_TEST_MAIN(QCoreApplication, IncidentTrackerTest)
#include "tst_incidenttracker.moc"
