// The webhook against real receivers on the loopback address: the JSON each alert posts, the
// order of the posts, the retries of a failing receiver and the one line that tells an alert was
// given up.
#include "alerts/webhooksender.h"
#include "hostileserver.h"
#include "loopbackserver.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString Site = QStringLiteral("https://shop.example.net");
const QDateTime Start(QDate(2026, 12, 10), QTime(14, 2, 5, 120), Qt::UTC);

AlertEvent Event(AlertEvent::Kind kind, const QString& cause = QString(), double ping = -1) {
  AlertEvent event;
  event.kind = kind;
  event.url = Site;
  event.cause = cause;
  event.started = Start;
  if (kind == AlertEvent::Kind::Up || kind == AlertEvent::Kind::SlowEnd)
    event.ended = Start.addSecs(192);
  event.pingSeconds = ping;
  return event;
}

QJsonObject Json(const QByteArray& body) {
  return QJsonDocument::fromJson(body).object();
}

QStringList Events(const LoopbackServer& receiver) {
  QStringList events;
  for (const LoopbackRequest& request : receiver.Requests())
    events << Json(request.body).value(QStringLiteral("event")).toString();
  return events;
}

// A receiver that answers each post with the next status of a list (the last one repeats).
void AnswerInTurn(LoopbackServer& receiver, QList<int> statuses) {
  receiver.Handle(QStringLiteral("/hook"), [statuses, n = 0](const LoopbackRequest&) mutable {
    const int status = statuses.value(n++, statuses.last());
    return LoopbackResponse(status < 300 ? "ok" : "no", status);
  });
}

} // namespace

class WebhookSenderTest : public QObject {
  Q_OBJECT

private slots:
  void postsEachAlertAsJson_data();
  void postsEachAlertAsJson();
  void postsInOrderAndRetriesUntilDelivered();
  void givesUpAfterThreeRetriesAndSaysSoOnce_data();
  void givesUpAfterThreeRetriesAndSaysSoOnce();
};

void WebhookSenderTest::postsEachAlertAsJson_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("cause");
  QTest::addColumn<double>("ping");
  QTest::addColumn<QByteArray>("expected");
  using Kind = AlertEvent::Kind;
  // "URL" stands for the site's address.
  QTest::newRow("down") << int(Kind::Down) << "Connection refused" << -1.0
                        << QByteArray(R"j({"text": "Site down: URL (Connection refused)", "event": "down", "url": "URL",
                                          "cause": "Connection refused", "started": "2026-12-10T14:02:05.120Z",
                                          "ended": null, "ping_seconds": null})j");
  QTest::newRow("back") << int(Kind::Up) << "HTTP 404" << 0.025
                        << QByteArray(
                               R"j({"text": "Site back up: URL after 3 min 12 s down", "event": "up", "url": "URL",
                                          "cause": "HTTP 404", "started": "2026-12-10T14:02:05.120Z",
                                          "ended": "2026-12-10T14:05:17.120Z", "ping_seconds": 0.025})j");
  QTest::newRow("slow") << int(Kind::Slow) << "Ping 1.500 s" << 1.5
                        << QByteArray(R"j({"text": "Site slow: URL (Ping 1.500 s)", "event": "slow", "url": "URL",
                                          "cause": "Ping 1.500 s", "started": "2026-12-10T14:02:05.120Z",
                                          "ended": null, "ping_seconds": 1.5})j");
  QTest::newRow("slow end") << int(Kind::SlowEnd) << "" << 0.2
                            << QByteArray(R"j({"text": "Site no longer slow: URL after 3 min 12 s slow",
                                              "event": "slow-end", "url": "URL", "cause": "",
                                              "started": "2026-12-10T14:02:05.120Z",
                                              "ended": "2026-12-10T14:05:17.120Z", "ping_seconds": 0.2})j");
  QTest::newRow("certificate") << int(Kind::Certificate) << "expires in 5 days" << 0.05
                               << QByteArray(R"j({"text": "Certificate expires soon: URL (expires in 5 days)",
                                                 "event": "certificate", "url": "URL", "cause": "expires in 5 days",
                                                 "started": "2026-12-10T14:02:05.120Z", "ended": null,
                                                 "ping_seconds": 0.05})j");
}

void WebhookSenderTest::postsEachAlertAsJson() {
  QFETCH(int, kind);
  QFETCH(QString, cause);
  QFETCH(double, ping);
  QFETCH(QByteArray, expected);
  LoopbackServer receiver;
  receiver.Serve(QStringLiteral("/hook"), "ok");
  WebhookSender sender(receiver.Url(QStringLiteral("/hook")));
  sender.Send(Event(AlertEvent::Kind(kind), cause, ping));
  QTRY_COMPARE(sender.Waiting(), 0);
  QCOMPARE(receiver.RequestCount(), 1);
  const LoopbackRequest request = receiver.LastRequest();
  QCOMPARE(request.method, QByteArray("POST"));
  QCOMPARE(request.Header("Content-Type"), QByteArray("application/json"));
  QCOMPARE(Json(request.body), Json(expected.replace("URL", Site.toUtf8())));
}

void WebhookSenderTest::postsInOrderAndRetriesUntilDelivered() {
  // The receiver fails twice, then takes every post. The second and third alert wait for the
  // first, so that the chat shows them in the order they happened.
  LoopbackServer receiver;
  AnswerInTurn(receiver, {500, 503, 200});
  WebhookSender sender(receiver.Url(QStringLiteral("/hook")));
  sender.SetRetryDelaysMs({50, 100, 200});
  QSignalSpy failed(&sender, &WebhookSender::Failed);
  sender.Send(Event(AlertEvent::Kind::Down, QStringLiteral("Timed out")));
  sender.Send(Event(AlertEvent::Kind::Up));
  sender.Send(Event(AlertEvent::Kind::Slow));
  QCOMPARE(sender.Waiting(), 3);
  QTRY_COMPARE(sender.Waiting(), 0);
  QCOMPARE(Events(receiver), QStringList({"down", "down", "down", "up", "slow"}));
  QCOMPARE(failed.count(), 0);
}

void WebhookSenderTest::givesUpAfterThreeRetriesAndSaysSoOnce_data() {
  QTest::addColumn<bool>("refused");
  QTest::addColumn<QString>("why");
  QTest::newRow("status 500") << false << "HTTP 500";
  QTest::newRow("nobody listens") << true << "Connection refused";
}

void WebhookSenderTest::givesUpAfterThreeRetriesAndSaysSoOnce() {
  QFETCH(bool, refused);
  QFETCH(QString, why);
  LoopbackServer receiver;
  AnswerInTurn(receiver, {500});
  const QString url = refused ? QStringLiteral("http://127.0.0.1:%1/hook").arg(LoopbackServer::UnusedPort())
                              : receiver.Url(QStringLiteral("/hook"));
  WebhookSender sender(url);
  sender.SetRetryDelaysMs({50, 100, 150});
  QSignalSpy failed(&sender, &WebhookSender::Failed);
  sender.Send(Event(AlertEvent::Kind::Down, QStringLiteral("Connection refused")));
  QTRY_COMPARE(failed.count(), 1);
  QCOMPARE(failed.first().first().toString(),
           "Webhook: not delivered after 4 attempts (" + why + "): Site down: " + Site + " (Connection refused)");
  QCOMPARE(sender.Waiting(), 0);
  if (!refused)
    QCOMPARE(receiver.RequestCount(), 4);
  // The line names the alert, never the webhook's address (it holds the service's secret).
  QVERIFY(!failed.first().first().toString().contains(QStringLiteral("/hook")));

  // The next alert is tried afresh.
  AnswerInTurn(receiver, {200});
  WebhookSender later(receiver.Url(QStringLiteral("/hook")));
  later.Send(Event(AlertEvent::Kind::Up));
  QTRY_COMPARE(later.Waiting(), 0);
  QTest::qWait(300);
  QCOMPARE(failed.count(), 1);
}

TARVIK_TEST_MAIN(QCoreApplication, WebhookSenderTest)
#include "tst_webhooksender.moc"
