// Desktop notifications against a notification service of the test's own on a private bus: what
// each alert shows, at most one per site per minute without losing the site's latest state, and
// that nothing waits for the bus (no service, a service that never answers, no bus at all).
#include "alerts/desktopnotifier.h"
#include "notificationbus.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Site = QStringLiteral("https://shop.example.net");

AlertEvent Event(AlertEvent::Kind kind, const QString& url = Site, const QString& cause = QString()) {
  AlertEvent event;
  event.kind = kind;
  event.url = url;
  event.cause = cause;
  event.started = QDateTime(QDate(2026, 12, 10), QTime(14, 2, 5), Qt::UTC);
  if (kind == AlertEvent::Kind::Up || kind == AlertEvent::Kind::SlowEnd)
    event.ended = event.started.addSecs(192);
  return event;
}

QString Local(int h, int m, int s) {
  return QDateTime(QDate(2026, 12, 10), QTime(h, m, s), Qt::UTC).toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QStringList Summaries(const NotificationServer& server) {
  QStringList summaries;
  for (const ReceivedNotification& n : server.Received())
    summaries << n.summary;
  return summaries;
}

} // namespace

class DesktopNotifierTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void showsEachAlert_data();
  void showsEachAlert();
  void atMostOnePerSitePerMinuteKeepingTheLatestState();
  void waitingNewsIsShownInOrder();
  void withoutAServiceNothingFails();
  void aServiceThatNeverAnswersHoldsNothingUp();
  void noSessionBusAnnouncedMeansNoNotifications();
  void connectsToTheSessionBusAside();

private:
  std::unique_ptr<PrivateBus> bus;
  int connections = 0;
  QDBusConnection Client() { return bus->Connect(QStringLiteral("client-%1").arg(++connections)); }
};

void DesktopNotifierTest::initTestCase() {
  bus = std::make_unique<PrivateBus>();
  QVERIFY2(bus->Started(), "dbus-daemon did not start (Debian package dbus-daemon)");
}

void DesktopNotifierTest::showsEachAlert_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("cause");
  QTest::addColumn<double>("ping");
  QTest::addColumn<QString>("summary");
  QTest::addColumn<QString>("body");
  QTest::addColumn<int>("urgency");
  using Kind = AlertEvent::Kind;
  QTest::newRow("down") << int(Kind::Down) << "Connection refused" << -1.0 << "Site down: " + Site
                        << "Connection refused at " + Local(14, 2, 5) << 2;
  QTest::newRow("down on a status") << int(Kind::Down) << "HTTP 404" << 0.012 << "Site down: " + Site
                                    << "HTTP 404 at " + Local(14, 2, 5) << 2;
  QTest::newRow("back") << int(Kind::Up) << "Connection refused" << 0.02 << "Site back up: " + Site
                        << "Back at " + Local(14, 5, 17) + " after 3 min 12 s down (Connection refused)" << 1;
  QTest::newRow("slow") << int(Kind::Slow) << "" << 1.5 << "Site slow: " + Site << "Ping 1.500 s at " + Local(14, 2, 5)
                        << 1;
  QTest::newRow("no longer slow") << int(Kind::SlowEnd) << "" << 0.2 << "Site no longer slow: " + Site
                                  << "Normal again at " + Local(14, 5, 17) + " after 3 min 12 s slow" << 1;
  QTest::newRow("certificate") << int(Kind::Certificate) << "expires in 5 days" << -1.0
                               << "Certificate expires soon: " + Site << "expires in 5 days" << 1;
  // The service may read the body as markup: a cause with markup characters stays text.
  QTest::newRow("markup") << int(Kind::Down) << "<b>&" << -1.0 << "Site down: " + Site
                          << "&lt;b&gt;&amp; at " + Local(14, 2, 5) << 2;
}

void DesktopNotifierTest::showsEachAlert() {
  QFETCH(int, kind);
  QFETCH(QString, cause);
  QFETCH(double, ping);
  NotificationServer server(bus->Address());
  QVERIFY(server.Registered());
  DesktopNotifier notifier(Client());
  AlertEvent event = Event(AlertEvent::Kind(kind), Site, cause);
  event.pingSeconds = ping;
  notifier.Notify(event);
  QTRY_COMPARE(server.Received().size(), 1);
  const ReceivedNotification n = server.Received().first();
  QTEST(n.summary, "summary");
  QTEST(n.body, "body");
  QTEST(n.Urgency(), "urgency");
  QCOMPARE(n.appName, QStringLiteral("Tarvik"));
  QCOMPARE(n.appIcon, QStringLiteral("example.velmora.Tarvik"));
  QCOMPARE(n.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("example.velmora.Tarvik"));
  QCOMPARE(n.replacesId, 0u);
  QCOMPARE(n.expireTimeout, -1);
}

void DesktopNotifierTest::atMostOnePerSitePerMinuteKeepingTheLatestState() {
  using Kind = AlertEvent::Kind;
  NotificationServer server(bus->Address());
  DesktopNotifier notifier(Client());
  // Long enough that the first two notifications surely arrive within it on a loaded machine.
  notifier.SetMinimumGapMs(1500);
  const QString other = QStringLiteral("http://other.example.org");

  // Down, back, down again and back again inside one minute: the first is shown at once, the
  // latest when the minute is over; the ones between are out of date by then.
  notifier.Notify(Event(Kind::Down, Site, QStringLiteral("Connection refused")));
  notifier.Notify(Event(Kind::Up));
  notifier.Notify(Event(Kind::Down, Site, QStringLiteral("Timed out")));
  // Another site has a minute of its own.
  notifier.Notify(Event(Kind::Down, other, QStringLiteral("HTTP 500")));
  QTRY_COMPARE(server.Received().size(), 2);
  QCOMPARE(Summaries(server), QStringList({"Site down: " + Site, "Site down: " + other}));
  QCOMPARE(notifier.Waiting(), 1);
  notifier.Notify(Event(Kind::Up));

  QTRY_COMPARE_WITH_TIMEOUT(server.Received().size(), 3, 10000);
  QCOMPARE(server.Received().at(2).summary, "Site back up: " + Site);
  QCOMPARE(notifier.Waiting(), 0);
  // The minute starts again with what was shown last.
  notifier.Notify(Event(Kind::Down, Site, QStringLiteral("Timed out")));
  QCOMPARE(notifier.Waiting(), 1);
  QTRY_COMPARE_WITH_TIMEOUT(server.Received().size(), 4, 10000);
  QCOMPARE(server.Received().at(3).body.left(9), QStringLiteral("Timed out"));
}

void DesktopNotifierTest::waitingNewsIsShownInOrder() {
  using Kind = AlertEvent::Kind;
  NotificationServer server(bus->Address());
  DesktopNotifier notifier(Client());
  notifier.SetMinimumGapMs(300);

  notifier.Notify(Event(Kind::Slow));
  // Within the minute: certificate news, then the site goes down (which makes waiting slow news
  // moot), then slow news again after it.
  notifier.Notify(Event(Kind::Certificate, Site, QStringLiteral("expires in 5 days")));
  notifier.Notify(Event(Kind::SlowEnd));
  notifier.Notify(Event(Kind::Down, Site, QStringLiteral("Connection refused")));
  QCOMPARE(notifier.Waiting(), 3);
  QTRY_COMPARE(server.Received().size(), 3);
  QCOMPARE(Summaries(server),
           QStringList({"Site slow: " + Site, "Site down: " + Site, "Certificate expires soon: " + Site}));
  QCOMPARE(notifier.Waiting(), 0);
  QTest::qWait(400);
  QCOMPARE(server.Received().size(), 3);
}

void DesktopNotifierTest::withoutAServiceNothingFails() {
  // A bus where nobody owns the service, and a connection to no bus at all.
  QVERIFY(!Client().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value());
  DesktopNotifier noService(Client());
  DesktopNotifier noBus(
      QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere")));
  for (DesktopNotifier* notifier : {&noService, &noBus})
    notifier->Notify(Event(AlertEvent::Kind::Down, Site, QStringLiteral("Connection refused")));
  QCOMPARE(noService.Shown(), 1);
  QCOMPARE(noBus.Shown(), 0);
  QTest::qWait(200); // the error answer of the bus arrives and is dropped
}

void DesktopNotifierTest::aServiceThatNeverAnswersHoldsNothingUp() {
  // The service takes the calls but never answers them. Were a call to wait for its answer, the
  // service (on this same thread) would get the next call only after the call's time-out.
  NotificationServer server(bus->Address());
  server.SetAnswer(false);
  DesktopNotifier notifier(Client());
  for (int i = 0; i < 5; ++i)
    notifier.Notify(Event(AlertEvent::Kind::Down, QStringLiteral("http://site%1.example").arg(i)));
  QCOMPARE(notifier.Shown(), 5);
  QTRY_COMPARE(server.Received().size(), 5);
}

void DesktopNotifierTest::noSessionBusAnnouncedMeansNoNotifications() {
  NotificationServer server(bus->Address());
  QTemporaryDir runtime;
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  DesktopNotifier notifier;
  notifier.Notify(Event(AlertEvent::Kind::Down));
  QTest::qWait(200);
  QCOMPARE(notifier.Shown(), 0);
  QCOMPARE(server.Received().size(), 0);
}

void DesktopNotifierTest::connectsToTheSessionBusAside() {
  // The program's own way: the session bus named in the environment, connected on another thread;
  // an alert that comes before the connection is made waits for it.
  NotificationServer server(bus->Address());
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus->Address().toUtf8());
  DesktopNotifier notifier;
  notifier.Notify(Event(AlertEvent::Kind::Down, Site, QStringLiteral("Connection refused")));
  QTRY_COMPARE(server.Received().size(), 1);
  QCOMPARE(server.Received().first().summary, "Site down: " + Site);
}

TARVIK_TEST_MAIN(QCoreApplication, DesktopNotifierTest)
#include "tst_desktopnotifier.moc"
