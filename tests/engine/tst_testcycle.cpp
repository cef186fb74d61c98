// The test engine against real loopback sites: whole runs, the end-of-run options, the switch,
// the timers and what may happen while a fetch waits.
#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/completedsample.h"
#include "engine/testcycle.h"
#include "enginerig.h"
#include "loopbackserver.h"
#include "platform/clock.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "resultrows.h"
#include "results/resultsmodel.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

Q_DECLARE_METATYPE(Module1::FcTest)

namespace {

using Rig = EngineRig;

QByteArray ReadFile(const QString& name) {
  QFile file(ProgramFolder::File(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A site that answers each connection by the next step of its script: a body cut short (a failed
// fetch), "vok" after 300 ms (slow), or "vok" at once. Past the end of the script it answers at once.
class ScriptedSite : public QObject {
public:
  enum Step { Cut, Slow, Fast };

  explicit ScriptedSite(QList<Step> script) : script(std::move(script)) {
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server.nextPendingConnection()) {
        const Step step = this->script.value(connections++, Fast);
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, step, request] {
          *request += socket->readAll();
          if (!request->contains("\r\n\r\n"))
            return;
          if (step == Cut) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nvok");
            socket->flush();
            socket->abort();
            return;
          }
          QTimer::singleShot(step == Slow ? 300 : 0, socket, [socket] {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nvok\r\n");
            socket->disconnectFromHost();
          });
        });
      }
    });
  }

  QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
  int Connections() const { return connections; }

private:
  QTcpServer server;
  QList<Step> script;
  int connections = 0;
};

} // namespace

class TestCycleTest : public QObject {
  Q_OBJECT

  LoopbackServer site;

private slots:
  void initTestCase() {
    site.Serve(QStringLiteral("/fast/vok.txt"), "vok\r\n");
    site.Serve(QStringLiteral("/blue/vok.txt"), "vok\r\n", 300);
    site.Serve(QStringLiteral("/red/vok.txt"), "vok\r\n", 600);
    site.Serve(QStringLiteral("/html/vok.txt"), "<html>404</html>", 0, 404);
    site.Serve(QStringLiteral("/text/vok.txt"), "hello there");
    site.Serve(QStringLiteral("/empty/vok.txt"), "");
    site.Serve(QStringLiteral("/long/vok.txt"), "vok\r\n\r\n");
    // Bodies are judged as bytes: a byte-order mark counts, a three-byte character is three.
    site.Serve(QStringLiteral("/bom/vok.txt"), "\xEF\xBB\xBFvok\r\n");
    site.Serve(QStringLiteral("/wide/vok.txt"), "vok\xE2\x9C\x93\r\n");
    site.Serve(QStringLiteral("/latin1/vok.txt"), "vok\xE9\r\n");
    // The "<" comes after the part of the body that is kept.
    site.Serve(QStringLiteral("/latecode/vok.txt"), QByteArray(70000, 'x') + "<html>");
    site.Serve(QStringLiteral("/stall/vok.txt"), "vok\r\n", 4000);
    site.Serve(QStringLiteral("/ref1"), "reference one", 100);
    site.Serve(QStringLiteral("/ref2"), "reference two", 200);
  }

  void init() {
    TestEnvironment::Current()->Clear();
    HttpClient::SetTimeLimitMs(60000);
  }

  // A whole run: a fast site, one past the first warning, one past the second, one refused.
  void wholeRunWithSaveAndStop() {
    Rig rig;
    const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::UnusedPort());
    rig.settings.urls = {site.Url("/fast"), site.Url("/blue"), site.Url("/red"), refused};
    rig.settings.warning = {QStringLiteral("0.2"), QStringLiteral("0.5")};
    rig.settings.runLength = QStringLiteral("2");
    rig.settings.option[RunSettings::Save] = true;
    rig.settings.option[RunSettings::Stop] = true;
    rig.cycle.Text3_Change(QStringLiteral("4"));
    QCOMPARE(rig.inet1.Count(), 4);

    rig.SwitchOn();
    QVERIFY(rig.cycle.Testing());
    QCOMPARE(rig.cycle.SwitchCaption(), QStringLiteral("ON"));
    QCOMPARE(rig.bar2.Text(4), QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.cycle.Testing(), 30000);

    QCOMPARE(rig.results.Count(), 8);
    QCOMPARE(rig.Column(ResultsModel::SiteId), (QStringList{"1", "2", "3", "4", "1", "2", "3", "4"}));
    QCOMPARE(rig.Column(ResultsModel::Packet), (QStringList{"1", "1", "1", "1", "2", "2", "2", "2"}));
    for (int row = 0; row < 8; ++row) {
      const int site = row % 4;
      const QString ping = rig.Text(row, ResultsModel::Ping);
      const QString result = rig.Text(row, ResultsModel::Result);
      QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                  .match(rig.Text(row, ResultsModel::EventTime))
                  .hasMatch());
      switch (site) {
      case 0:
        QVERIFY2(PingForm.match(ping).hasMatch() && ping.toDouble() < 0.2, qPrintable(ping));
        QCOMPARE(result, QString());
        QCOMPARE(rig.Colour(row), ResultsModel::Black);
        QVERIFY(!rig.Bold(row));
        break;
      case 1:
        QVERIFY2(ping.toDouble() >= 0.2 && ping.toDouble() < 0.5, qPrintable(ping));
        QCOMPARE(result, QStringLiteral(" => 0.2"));
        QCOMPARE(rig.Colour(row), ResultsModel::Blue);
        QVERIFY(rig.Bold(row));
        break;
      case 2:
        QVERIFY2(ping.toDouble() >= 0.5, qPrintable(ping));
        QCOMPARE(result, QStringLiteral(" => 0.5"));
        QCOMPARE(rig.Colour(row), ResultsModel::Red);
        QVERIFY(rig.Bold(row));
        break;
      case 3:
        QCOMPARE(ping, QStringLiteral("Failed"));
        QCOMPARE(result, QStringLiteral("Connection refused"));
        QCOMPARE(rig.Colour(row), ResultsModel::Red);
        QVERIFY(rig.Bold(row));
        break;
      }
    }
    // The Average column is the site's average over its rows so far.
    const double first = rig.Text(1, ResultsModel::Ping).toDouble();
    const double second = rig.Text(5, ResultsModel::Ping).toDouble();
    QCOMPARE(rig.Text(1, ResultsModel::Average), QString::number(first, 'f', 3));
    QCOMPARE(rig.Text(5, ResultsModel::Average), Numbers::Fixed3((first + second) / 2));
    QCOMPARE(rig.Text(3, ResultsModel::Average), QStringLiteral("0.000"));
    // The last pass's statistics end on the highest site with rows: the refused site has no
    // counted ping, so the panels show site 3.
    QVERIFY(rig.bar1.Text(1).startsWith(QLatin1String("BT: ")));
    QVERIFY(rig.bar1.Text(1).contains(QLatin1String("   PING: 0.")));
    QCOMPARE(rig.bar1.Text(3), QStringLiteral("Avg: ") + rig.Text(7, ResultsModel::Average));
    QCOMPARE(rig.bar2.Text(1), QStringLiteral("Stop requested by configuration"));
    QCOMPARE(rig.bar2.Text(2), QStringLiteral("1 sec"));
    QCOMPARE(rig.bar2.Text(3), QStringLiteral("0 to go"));
    QCOMPARE(rig.cycle.SwitchCaption(), QStringLiteral("OFF"));
    QVERIFY(!rig.cycle.SwitchPressed());
    QCOMPARE(rig.cycle.PictureShown(), int(TestCycle::LightIdle));
    QVERIFY(!rig.Timer("Timer3")->isActive() && !rig.Timer("Timer4")->isActive());
    QCOMPARE(rig.inet1.Count(), 1);

    // Save wrote one block of the whole table to the report log.
    QByteArray expected = "-------------------- " + Clock::DateText().toLatin1() + "-------------------------\r\n";
    expected += " [ Begin: " + rig.Text(0, 0).toLatin1() + "  End:" + rig.Text(7, 0).toLatin1() + " ]\r\n\r\n";
    for (int row = 0; row < 8; ++row)
      expected += "[URL: " + rig.settings.urls.at(row % 4).toLatin1() + "] [Time: " + rig.Text(row, 0).toLatin1() +
                  "] [PING:" + rig.Text(row, 1).toLatin1() + "][Avg:" + rig.Text(row, 2).toLatin1() + "]\r\n";
    expected += "-------------------- End Report ---------------------\r\n\r\n";
    QCOMPARE(ReadFile(QStringLiteral("tarvik.log")), expected);
  }

  void bodiesAreClassified() {
    Rig rig;
    rig.settings.urls = {site.Url("/html"),   site.Url("/text"),     site.Url("/empty"),
                         site.Url("/long"),   site.Url("/bom"),      site.Url("/wide"),
                         site.Url("/latin1"), site.Url("/latecode"), site.Url("/fast")};
    rig.cycle.Text3_Change(QStringLiteral("9"));
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 9, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text(8, ResultsModel::SiteId), QStringLiteral("9"), 10000);
    rig.SwitchOff();
    QCOMPARE(rig.Column(ResultsModel::Result),
             (QStringList{"Code", "TXT", "Empty", "TXT", "TXT", "TXT", "", "Code", ""}));
    QVERIFY(PingForm.match(rig.Text(0, ResultsModel::Ping)).hasMatch());
  }

  void delaysThatNeverSample_data() {
    QTest::addColumn<QString>("delay");
    QTest::newRow("zero") << "0";
    QTest::newRow("negative") << "-1";
    QTest::newRow("fraction") << "1.5";
    QTest::newRow("text") << "soon";
  }
  void delaysThatNeverSample() {
    QFETCH(QString, delay);
    Rig rig;
    rig.settings.urls = {site.Url("/fast")};
    rig.settings.delay = delay;
    rig.settings.runLength = QStringLiteral("3");
    rig.SwitchOn();
    QTest::qWait(2300);
    QCOMPARE(rig.results.Count(), 0);
    QVERIFY(rig.cycle.Testing());
    // The countdown still runs every tick.
    QCOMPARE(rig.bar2.Text(3), QStringLiteral("3 to go"));
  }

  void emptyListSpringsBack() {
    Rig rig;
    rig.SwitchOn();
    QVERIFY(!rig.cycle.Testing());
    QVERIFY(!rig.cycle.SwitchPressed());
    QCOMPARE(rig.cycle.SwitchCaption(), QStringLiteral("OFF"));
  }

  // The list emptied while the service query waited: testing does not start; the configuration
  // and the help are shown instead, and the switch stays pressed with its caption "OFF".
  void listEmptiedDuringTheServiceQuery() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast")};
    QList<MenuItem> shown;
    rig.cycle.MenuAction = [&](MenuItem item) { shown << item; };
    rig.cycle.QueryService = [&] {
      rig.settings.urls.clear();
      return false;
    };
    rig.SwitchOn();
    QCOMPARE(shown, (QList<MenuItem>{MenuItem::Configure, MenuItem::Help}));
    QVERIFY(!rig.cycle.Testing());
    QVERIFY(rig.cycle.SwitchPressed());
    QCOMPARE(rig.cycle.SwitchCaption(), QStringLiteral("OFF"));
  }

  // Restart with keep-last: the table is cut to its last rows at every end of run and the run
  // starts again from pass 1.
  void keepLastAndRestart() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast"), site.Url("/fast")};
    rig.cycle.Text3_Change(QStringLiteral("2"));
    rig.settings.runLength = QStringLiteral("2");
    rig.settings.keepCount = QStringLiteral("3");
    rig.settings.option[RunSettings::Restart] = true;
    rig.settings.option[RunSettings::KeepLast] = true;
    rig.SwitchOn();
    QTRY_VERIFY_WITH_TIMEOUT(rig.cycle.KeepCycles >= 2, 15000);
    rig.SwitchOff();
    QVERIFY(rig.results.Count() <= 4);
    QVERIFY(!rig.Column(ResultsModel::Ping).contains(QStringLiteral("Sent")));
    QVERIFY(!QFile::exists(ProgramFolder::File(QStringLiteral("tmp.tmp"))));
  }

  // With a delay of 1 and a run length of 1, Restart ends the run at every pass. The extra tick
  // after a restart samples at once, but only one extra tick follows each tick of Timer1: the site
  // sees at most two passes per timer tick.
  void restartKeepsItsPace() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast")};
    rig.settings.runLength = QStringLiteral("1");
    rig.settings.option[RunSettings::Restart] = true;
    int ticks = 0;
    connect(rig.Timer("Timer1"), &QTimer::timeout, this, [&] { ++ticks; });
    site.ClearRequests();
    rig.SwitchOn();
    QTest::qWait(3500);
    rig.SwitchOff();
    const int requests = site.RequestCount(QStringLiteral("/fast/vok.txt"));
    site.ClearRequests();
    QVERIFY2(ticks >= 2 && requests <= 2 * ticks && requests >= 2 * ticks - 1,
             qPrintable(QStringLiteral("%1 requests in %2 ticks").arg(requests).arg(ticks)));
    QCOMPARE(rig.results.Count(), requests);
  }

  // Every failed fetch has its retry, not only the first of a row: in a first pass a failure, a
  // slow retry ("*"), a failed repeat and that repeat's own retry make four fetches into one row.
  // Every fetch of the row is told in order, the ones made again as attempts that are not final
  // (with the Result they would have had), the kept one as the completed sample.
  void everyFailureHasItsRetry() {
    ScriptedSite scripted({ScriptedSite::Cut, ScriptedSite::Slow, ScriptedSite::Cut, ScriptedSite::Fast});
    Rig rig;
    rig.settings.urls = {scripted.Url()};
    rig.settings.delay = QStringLiteral("60");
    rig.settings.warning = {QStringLiteral("0.2"), QStringLiteral("0.5")};
    QStringList told; // attempt, final, Ping form, Result
    const auto tell = [&](const CompletedSample& sample) {
      QCOMPARE(sample.siteId, 1);
      QCOMPARE(sample.packet, 1);
      QCOMPARE(sample.url, scripted.Url());
      told << QStringLiteral("%1 %2 %3 %4")
                  .arg(sample.attempt)
                  .arg(sample.finalAttempt ? "final" : "again")
                  .arg(PingForm.match(sample.ping).hasMatch() ? QStringLiteral("time") : sample.ping, sample.result);
    };
    connect(&rig.cycle, &TestCycle::AttemptCompleted, this, tell);
    connect(&rig.cycle, &TestCycle::SampleCompleted, this, tell);
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text(0, ResultsModel::SiteId), QStringLiteral("1"), 10000);
    rig.SwitchOff();
    QCOMPARE(scripted.Connections(), 4);
    const QString ping = rig.Text(0, ResultsModel::Ping);
    QVERIFY2(PingForm.match(ping).hasMatch() && ping.toDouble() < 0.2, qPrintable(ping));
    QCOMPARE(rig.Text(0, ResultsModel::Result), QString());
    QCOMPARE(told, (QStringList{"1 again Failed Connection closed", "2 again time  => 0.2",
                                "3 again Failed Connection closed", "4 final time "}));
  }

  // Samplers beyond the URL list and a blank entry test no site: their rows fail in the table as
  // they always did, but neither they nor their retries are told on (no history, no metrics).
  void samplersWithoutAnAddressTellNothing() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast"), QStringLiteral("  ")};
    rig.cycle.Text3_Change(QStringLiteral("3"));
    QList<int> told; // Site IDs of every sample and attempt told
    const auto tell = [&](const CompletedSample& sample) { told << sample.siteId; };
    connect(&rig.cycle, &TestCycle::AttemptCompleted, this, tell);
    connect(&rig.cycle, &TestCycle::SampleCompleted, this, tell);
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text(2, ResultsModel::SiteId), QStringLiteral("3"), 10000);
    rig.SwitchOff();
    QCOMPARE(rig.Column(ResultsModel::Ping).mid(1, 2), (QStringList{"Failed", "Failed"}));
    QCOMPARE(rig.Text(2, ResultsModel::Result), QStringLiteral("Bad address"));
    QCOMPARE(told, QList<int>{1});
  }

  void waitingCounterAndSkippedTicks() {
    Rig rig;
    rig.settings.urls = {site.Url("/stall"), site.Url("/fast")};
    rig.cycle.Text3_Change(QStringLiteral("2"));
    QStringList counter;
    connect(&rig.bar2, &StatusPanels::Changed, this, [&](int n, const QString& text) {
      if (n == 3 && text.startsWith(QLatin1String("! ")))
        counter << text;
    });
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 2, 10000);
    rig.SwitchOff();
    QVERIFY2(counter.size() >= 3, qPrintable(counter.join(',')));
    QCOMPARE(counter.mid(0, 3), (QStringList{"! 1", "! 2", "! 3"}));
    // The ticks that came during the four-second wait were skipped: one pass, two rows.
    QCOMPARE(rig.Column(ResultsModel::Packet), (QStringList{"1", "1"}));
  }

  // Switching off while a fetch waits ends it at once and ends the pass: the abandoned row is
  // completed like a failed sample, with the Result "Cancelled" and no colour; the rows the pass had
  // finished are in the best and worst panels; panel 3 says "Cancelled" whichever sampler waited.
  void switchingOffDuringAFetch_data() {
    QTest::addColumn<int>("waiting");
    QTest::newRow("first sampler") << 0;
    QTest::newRow("second sampler") << 1;
  }
  void switchingOffDuringAFetch() {
    QFETCH(int, waiting);
    Rig rig;
    rig.settings.urls = {site.Url("/fast"), site.Url("/fast")};
    rig.settings.urls[waiting] = site.Url("/stall");
    rig.cycle.Text3_Change(QStringLiteral("2"));
    QString pingWhileWaiting;
    QString counterWhileWaiting;
    // The click arrives while the stalled fetch waits (events run during the wait), after the
    // waiting counter has counted a second.
    connect(&rig.results, &QAbstractItemModel::rowsInserted, this, [&] {
      if (rig.results.Count() != waiting + 1)
        return;
      QTimer::singleShot(1500, this, [&] {
        pingWhileWaiting = rig.Text(waiting, ResultsModel::Ping);
        counterWhileWaiting = rig.bar2.Text(3);
        rig.SwitchOff();
      });
    });
    // What the cycle tells, in order: the end of testing comes after the abandoned row.
    QStringList told;
    connect(&rig.cycle, &TestCycle::SampleCompleted, this,
            [&](const CompletedSample& sample) { told << sample.result; });
    connect(&rig.cycle, &TestCycle::TestingChanged, this,
            [&](bool on) { told << (on ? QStringLiteral("on") : QStringLiteral("off")); });
    rig.SwitchOn();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.cycle.Testing(), 5000);
    QTest::qWait(200);
    QCOMPARE(told.mid(told.size() - 2), (QStringList{QStringLiteral("Cancelled"), QStringLiteral("off")}));
    QCOMPARE(pingWhileWaiting, QStringLiteral("Sent"));
    QCOMPARE(counterWhileWaiting, QStringLiteral("! 1"));
    QCOMPARE(rig.results.Count(), waiting + 1);
    QCOMPARE(rig.Text(waiting, ResultsModel::Ping), QStringLiteral("Failed"));
    QCOMPARE(rig.Text(waiting, ResultsModel::Result), QStringLiteral("Cancelled"));
    QCOMPARE(rig.Text(waiting, ResultsModel::SiteId), QString::number(waiting + 1));
    QCOMPARE(rig.Text(waiting, ResultsModel::Packet), QStringLiteral("1"));
    QVERIFY(!rig.Text(waiting, ResultsModel::Average).isEmpty());
    QCOMPARE(rig.bar1.Text(3), QStringLiteral("Avg: ") + rig.Text(waiting, ResultsModel::Average));
    QCOMPARE(rig.Colour(waiting), ResultsModel::Black);
    QVERIFY(!rig.Bold(waiting));
    if (waiting == 1)
      QVERIFY2(rig.bar1.Text(1).startsWith(QStringLiteral("BT: ") + rig.Text(0, ResultsModel::EventTime) +
                                           QStringLiteral("   PING: ")),
               qPrintable(rig.bar1.Text(1)));
    QCOMPARE(rig.bar2.Text(3), QStringLiteral("Cancelled"));
    QCOMPARE(rig.cycle.PictureShown(), int(TestCycle::LightIdle));
  }

  // A switch-off handled while a tick lets events run, before its pass, leaves the tick its
  // end-of-run check: the Save that is due is written.
  void switchOffBeforeThePassKeepsTheEndOfRunCheck() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast")};
    rig.settings.delay = QStringLiteral("60");
    rig.settings.runLength = QStringLiteral("1");
    rig.settings.option[RunSettings::Save] = true;
    Fill(rig.results, {{"10:00:00", "0.100", "0.100", "1"}});
    rig.SwitchOn();
    rig.cycle.RoundCount = 1;
    // The click is waiting when the tick begins.
    QMetaObject::invokeMethod(
        this, [&] { rig.SwitchOff(); }, Qt::QueuedConnection);
    rig.cycle.Timer1_Timer();
    QVERIFY(!rig.cycle.Testing());
    QVERIFY2(ReadFile(QStringLiteral("tarvik.log")).contains("[PING:0.100]"),
             ReadFile(QStringLiteral("tarvik.log")).constData());
  }

  // While a fetch waits the user may sort the table, change the sampler count and clear the table:
  // the pass goes on without crashing and leaves no row holding "Sent".
  void tableChangesDuringAFetch() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast"), site.Url("/blue"), site.Url("/fast")};
    rig.cycle.Text3_Change(QStringLiteral("3"));
    int countDuringWait = -1;
    connect(&rig.results, &QAbstractItemModel::rowsInserted, this, [&] {
      if (rig.results.Count() != 2 || countDuringWait != -1)
        return;
      countDuringWait = 0;
      QTimer::singleShot(100, this, [&] {
        rig.results.ColumnClick(ResultsModel::Ping);
        rig.cycle.Text3_Change(QStringLiteral("1"));
        countDuringWait = rig.inet1.Count();
        rig.results.Clear();
      });
    });
    rig.SwitchOn();
    QTRY_VERIFY_WITH_TIMEOUT(countDuringWait > 0, 10000);
    QTest::qWait(2500);
    rig.SwitchOff();
    // The change of the sampler count waited for the outstanding fetch to end.
    QCOMPARE(countDuringWait, 3);
    QCOMPARE(rig.inet1.Count(), 1);
    QVERIFY(rig.results.Count() >= 1);
    QVERIFY(!rig.Column(ResultsModel::Ping).contains(QStringLiteral("Sent")));
    QVERIFY(rig.Column(ResultsModel::SiteId).contains(QStringLiteral("1")));
  }

  void samplerCountFollowsTheText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("text") << "many" << 1;
    QTest::newRow("3") << "3" << 3;
    QTest::newRow("2.5") << "2.5" << 3;
    QTest::newRow("3.5") << "3.5" << 3;
    QTest::newRow("too large") << "40000" << 1;
  }
  void samplerCountFollowsTheText() {
    QFETCH(QString, text);
    QFETCH(int, count);
    Rig rig;
    rig.cycle.Text3_Change(QStringLiteral("5"));
    rig.cycle.Text3_Change(text);
    QCOMPARE(rig.inet1.Count(), count);
    QVERIFY(rig.inet1.At(0));
  }

  void fcMarkerRule_data() {
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QString>("runLength");
    QTest::addColumn<Module1::FcTest>("state");
    QTest::newRow("both 60") << "60"
                             << "60" << Module1::FcTest::Running;
    QTest::newRow("delay changed") << "30"
                                   << "60" << Module1::FcTest::Running;
    QTest::newRow("run length changed") << "60"
                                        << "50" << Module1::FcTest::Running;
    QTest::newRow("both changed") << "30"
                                  << "50" << Module1::FcTest::None;
  }
  void fcMarkerRule() {
    QFETCH(QString, delay);
    QFETCH(QString, runLength);
    QFETCH(Module1::FcTest, state);
    Rig rig;
    rig.state.FcTestState = Module1::FcTest::Running;
    rig.settings.delay = delay;
    rig.settings.runLength = runLength;
    rig.cycle.FcMarkerRule();
    QCOMPARE(rig.state.FcTestState, state);
  }

  void warnHourGate() {
    Rig rig;
    Clock::SetFixed(QDateTime(QDate(2026, 12, 5), QTime(10, 5, 0)));
    QList<bool> answers;
    for (int i = 0; i < 7; ++i)
      answers << rig.cycle.RefPings().WarnHourGate();
    QCOMPARE(answers, (QList<bool>{true, true, true, true, true, false, true}));
    Clock::SetFixed(QDateTime(QDate(2026, 12, 5), QTime(11, 0, 0)));
    QVERIFY(rig.cycle.RefPings().WarnHourGate());
    QCOMPARE(int(rig.cycle.RefPings().WarnCount), 1);
    Clock::SetFixed({});
  }

  // Reference pings: at the first pass of a run when the service gave a first reference.
  void referencePingsAtTheFirstPass() {
    Rig rig;
    rig.state.ServiceOk = true;
    rig.state.ServiceField.refAddress1 = site.Url("/ref1");
    rig.state.ServiceField.refAddress2 = site.Url("/ref2");
    rig.settings.urls = {site.Url("/fast")};
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 1, 5000);
    QVERIFY(PingForm.match(rig.cycle.RefPings().RefTime(0)).hasMatch());
    QVERIFY(rig.cycle.RefPings().RefTime(0).toDouble() >= 0.1);
    QVERIFY(rig.cycle.RefPings().RefTime(1).toDouble() >= 0.2);
    QVERIFY(!rig.cycle.RefPings().LastRefTime.isEmpty());
    QCOMPARE(site.RequestCount(QStringLiteral("/ref1")), 1);
    // The later passes of the run make none.
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 2, 5000);
    QCOMPARE(site.RequestCount(QStringLiteral("/ref1")), 1);
    site.ClearRequests();
  }

  void referencePassEndsEarly_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("firstTimed");
    QTest::newRow("no second reference") << "/ref1"
                                         << "" << true;
    QTest::newRow("first refused") << "refused"
                                   << "/ref2" << false;
    QTest::newRow("first not an address") << "file:///etc/passwd"
                                          << "/ref2" << false;
  }
  void referencePassEndsEarly() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, firstTimed);
    Rig rig;
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::UnusedPort());
    rig.state.ServiceField.refAddress1 = first == QLatin1String("refused")    ? refused
                                         : first.startsWith(QLatin1Char('/')) ? site.Url(first)
                                                                              : first;
    rig.state.ServiceField.refAddress2 = second.isEmpty() ? QString() : site.Url(second);
    rig.cycle.RefPings().RefPing();
    QCOMPARE(!rig.cycle.RefPings().RefTime(0).isEmpty(), firstTimed);
    QCOMPARE(rig.cycle.RefPings().RefTime(1), QString());
    // The pass did not complete: the time of the last pass stays empty, so the after-midnight
    // rule never starts one; the light is not left on.
    QCOMPARE(rig.cycle.RefPings().LastRefTime, QString());
    QCOMPARE(rig.cycle.PictureShown(), int(TestCycle::LightIdle));
  }

  void referencePassAfterMidnight_data() {
    QTest::addColumn<QString>("lastPass");
    QTest::addColumn<bool>("repeated");
    QTest::newRow("14:00 then 00:00") << "14:00:00" << true;
    QTest::newRow("10:00 then 00:00") << "10:00:00" << false;
    QTest::newRow("09:00 then 00:00") << "09:00:00" << false;
  }
  void referencePassAfterMidnight() {
    QFETCH(QString, lastPass);
    QFETCH(bool, repeated);
    Rig rig;
    rig.state.ServiceOk = true;
    rig.state.ServiceField.refAddress1 = site.Url("/ref1");
    rig.state.ServiceField.refAddress2 = site.Url("/ref2");
    rig.settings.delay = QStringLiteral("1000");
    rig.cycle.RefPings().LastRefTime = lastPass;
    Clock::SetFixed(QDateTime(QDate(2026, 12, 6), QTime(0, 0, 30)));
    rig.cycle.Timer1_Timer();
    Clock::SetFixed({});
    QCOMPARE(!rig.cycle.RefPings().RefTime(1).isEmpty(), repeated);
    QCOMPARE(rig.cycle.RefPings().LastRefTime, repeated ? QStringLiteral("00:00:30") : lastPass);
  }

  // The sixth red warning of a clock hour starts a reference pass.
  void sixthRedWarningOfTheHour() {
    Rig rig;
    rig.state.ServiceField.refAddress1 = site.Url("/ref1");
    rig.state.ServiceField.refAddress2 = site.Url("/ref2");
    rig.settings.urls = {site.Url("/blue")};
    rig.settings.warning = {QStringLiteral("0.1"), QStringLiteral("0.2")};
    rig.cycle.RefPings().WarnHour = Clock::TimeOfDay().toString(QStringLiteral("HH"));
    rig.cycle.RefPings().WarnCount = 4;
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.cycle.TickCount == 0, 5000);
    QCOMPARE(rig.cycle.RefPings().RefTime(0), QString());
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.cycle.RefPings().RefTime(1).isEmpty(), 5000);
    QCOMPARE(rig.Colour(1), ResultsModel::Red);
  }

  void timer2PutsTheRestingPictureBack() {
    Rig rig;
    rig.cycle.ShowPicture(TestCycle::LightSubmitted);
    rig.cycle.Timer2_Timer();
    QCOMPARE(rig.cycle.PictureShown(), int(TestCycle::LightRest));
  }

  void timer3ShowsTheCountdown() {
    Rig rig;
    rig.settings.urls = {site.Url("/fast")};
    rig.settings.delay = QStringLiteral("60");
    rig.SwitchOn();
    QCOMPARE(rig.bar2.Text(4), QStringLiteral("60"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.bar2.Text(4), QStringLiteral("1"), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.results.Count(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.bar2.Text(4), QStringLiteral("60"), 3000);
  }
};

TARVIK_TEST_MAIN(QCoreApplication, TestCycleTest)
#include "tst_testcycle.moc"
