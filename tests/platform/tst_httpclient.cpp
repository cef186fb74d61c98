#include "hostileserver.h"
#include "loopbackserver.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "platform/httppost.h"
#include "testcertificates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

// Runs fn after ms milliseconds of event processing (that is: during a synchronous fetch's wait).
template <typename Fn>
static void Later(int ms, QObject* context, Fn fn) {
  QTimer::singleShot(ms, Qt::PreciseTimer, context, fn);
}

class HttpClientTest : public QObject {
  Q_OBJECT

private slots:
  void init() { HttpClient::SetTimeLimitMs(60000); }
  void cleanup() { HttpClient::SetTrustStoreFile(QString()); }

  void returnsBodyOfAnyStatus_data();
  void returnsBodyOfAnyStatus();
  void measuresTheServerDelay_data();
  void measuresTheServerDelay();
  void reportsThePhasesOfTheRequest();
  void timingEndsWhenTheLastByteArrives();
  void busyCallerDoesNotLengthenThePing();
  void sendsIndependentPlainRequests();
  void followsRedirectsButNotToOtherSchemes();
  void refusesNonHttpAddresses_data();
  void refusesNonHttpAddresses();
  void reportsTransferFailures_data();
  void reportsTransferFailures();
  void refusesOversizedHeaders_data();
  void refusesOversizedHeaders();
  void tellsRunningOutOfDescriptorsFromARefusal_data();
  void tellsRunningOutOfDescriptorsFromARefusal();
  void cancelEndsTheWaitAtOnce();
  void timeLimitEndsTheRequest_data();
  void timeLimitEndsTheRequest();
  void keepsOnlyTheStartOfALargeBody();
  void fetchesOverTls();
  void tellsTheEarliestCertificateEnd_data();
  void tellsTheEarliestCertificateEnd();
  void refusesUntrustedCertificates_data();
  void refusesUntrustedCertificates();
  void redirectsNeverLeaveHttps_data();
  void redirectsNeverLeaveHttps();
  void secondCallWhileBusyFailsAlone();
  void clientDeletedWhileWaiting();
  void arrayLoadsAndUnloadsIdempotently();
  void arrayForwardsStateChanges();
  void unloadingABusyElement();
  void arrayDestroyedWhileWaiting();
  void postsWithoutWaiting_data();
  void postsWithoutWaiting();
  void aPostGivenUpTellsNothing();
  // Last: it makes the application quit, which ends every later event loop at once.
  void quitWhileWaiting();

private:
  QTemporaryDir dir;
};

void HttpClientTest::returnsBodyOfAnyStatus_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<QByteArray>("served");
  QTest::addColumn<QString>("expected");

  QTest::newRow("marker") << 200 << QByteArray("vok\r\n") << QStringLiteral("vok\r\n");
  QTest::newRow("empty") << 200 << QByteArray() << QString();
  QTest::newRow("404 page") << 404 << QByteArray("<html>gone</html>") << QStringLiteral("<html>gone</html>");
  QTest::newRow("500 page") << 500 << QByteArray("oops") << QStringLiteral("oops");
  // The bytes as they came, one byte one character: nothing decoded, no byte-order mark removed.
  QTest::newRow("utf-8") << 200 << QByteArray("h\xC3\xA4\xE2\x82\xAC")
                         << QStringLiteral("h\u00C3\u00A4\u00E2\u0082\u00AC");
  QTest::newRow("latin-1") << 200 << QByteArray("gr\xFC\xDF") << QStringLiteral("gr\u00FC\u00DF");
  QTest::newRow("byte-order mark") << 200 << QByteArray("\xEF\xBB\xBFvok\r\n")
                                   << QStringLiteral("\u00EF\u00BB\u00BFvok\r\n");
}

void HttpClientTest::returnsBodyOfAnyStatus() {
  QFETCH(int, status);
  QFETCH(QByteArray, served);
  QFETCH(QString, expected);

  LoopbackServer site;
  QVERIFY(site.IsListening());
  site.Serve("/vok.txt", served, 0, status);
  HttpClient client(3);
  QSignalSpy states(&client, &HttpClient::StateChanged);

  const FetchResult result = client.OpenUrl(site.Url("/vok.txt"));

  QVERIFY2(result.ok, qPrintable(result.error));
  QCOMPARE(result.body, expected);
  QCOMPARE(result.status, status);
  QVERIFY(result.error.isEmpty());
  QVERIFY(result.seconds > 0);
  QCOMPARE(client.ResponseCode(), status);
  QCOMPARE(client.ResponseInfo(), QStringLiteral("Response received"));
  QVERIFY(!client.Busy());
  QCOMPARE(states.count(), 0);
  QCOMPARE(site.RequestCount("/vok.txt"), 1);
  QCOMPARE(site.LastRequest().method, QByteArray("GET"));
}

void HttpClientTest::measuresTheServerDelay_data() {
  QTest::addColumn<int>("delayMs");
  QTest::newRow("200 ms") << 200;
  QTest::newRow("500 ms") << 500;
}

void HttpClientTest::measuresTheServerDelay() {
  QFETCH(int, delayMs);
  LoopbackServer site;
  site.Serve("/vok.txt", "vok", delayMs);
  HttpClient client;

  const FetchResult result = client.OpenUrl(site.Url("/vok.txt"));

  QVERIFY2(result.ok, qPrintable(result.error));
  const double delay = delayMs / 1000.0;
  QVERIFY2(result.seconds >= delay, qPrintable(QString::number(result.seconds)));
  QVERIFY2(result.seconds < delay + 0.3, qPrintable(QString::number(result.seconds)));
}

// The phases are libcurl's, cumulative from the start of the request: the server's delay lies
// between the connection and the first byte of the answer.
void HttpClientTest::reportsThePhasesOfTheRequest() {
  LoopbackServer site;
  site.Serve("/vok.txt", "vok\r\n", 100);
  HttpClient client;

  const FetchResult result = client.OpenUrl(site.Url("/vok.txt"));

  QVERIFY2(result.ok, qPrintable(result.error));
  QVERIFY(result.dnsUs > 0);
  QVERIFY(result.connectUs >= result.dnsUs);
  QCOMPARE(result.tlsUs, -1); // no TLS on http
  QVERIFY(result.ttfbUs >= result.connectUs + 100000);
  QVERIFY(result.totalUs >= result.ttfbUs);
  QCOMPARE(result.seconds, result.totalUs / 1e6);
  QCOMPARE(result.remoteIp, QStringLiteral("127.0.0.1"));
  QCOMPARE(result.httpVersion, QStringLiteral("1.1"));
  QCOMPARE(result.bytes, 5);
}

// A modal dialog opened during the wait keeps the caller from resuming; the measured span must
// still end when the answer arrived, not when the caller resumes.
void HttpClientTest::timingEndsWhenTheLastByteArrives() {
  LoopbackServer site;
  site.Serve("/vok.txt", "vok", 100);
  HttpClient client;
  QObject context;
  Later(30, &context, [] {
    QEventLoop dialog;
    QTimer::singleShot(700, &dialog, &QEventLoop::quit);
    dialog.exec();
  });

  QElapsedTimer wall;
  wall.start();
  const FetchResult result = client.OpenUrl(site.Url("/vok.txt"));
  const qint64 waitedMs = wall.elapsed();

  QVERIFY2(result.ok, qPrintable(result.error));
  QVERIFY(waitedMs >= 700);
  QVERIFY2(result.seconds >= 0.1 && result.seconds < 0.5, qPrintable(QString::number(result.seconds)));
}

// The caller's thread is blocked (a long sort, say) while the answer arrives: the Ping is the
// transfer's own time, not the time until the caller got round to it. The server answers from a
// thread of its own.
void HttpClientTest::busyCallerDoesNotLengthenThePing() {
  HostileServer site(HostileServer::Mode::PlainHttp);
  HttpClient client;
  QObject context;
  Later(0, &context, [] { QThread::msleep(500); });

  QElapsedTimer wall;
  wall.start();
  const FetchResult result = client.OpenUrl(site.Url(QStringLiteral("/vok.txt")));
  const qint64 waitedMs = wall.elapsed();

  QVERIFY2(result.ok, qPrintable(result.error));
  QCOMPARE(result.body, QStringLiteral("vok\r\n"));
  QVERIFY(waitedMs >= 500);
  QVERIFY2(result.seconds < 0.25, qPrintable(QString::number(result.seconds)));
}

// Each request stands alone: its own connection, no cookie carried over, no cache or auth headers.
void HttpClientTest::sendsIndependentPlainRequests() {
  LoopbackServer site;
  LoopbackResponse withCookie{"vok"};
  withCookie.AddHeader("Set-Cookie", "session=42; Path=/").AddHeader("Cache-Control", "max-age=3600");
  site.Serve("/vok.txt", withCookie);
  HttpClient client;

  QVERIFY(client.OpenUrl(site.Url("/vok.txt")).ok);
  QVERIFY(client.OpenUrl(site.Url("/vok.txt")).ok);

  const QList<LoopbackRequest> requests = site.Requests();
  QCOMPARE(requests.size(), 2); // the second was not answered from a cache
  QVERIFY(requests[0].clientPort != requests[1].clientPort);
  for (const LoopbackRequest& request : requests) {
    QVERIFY(!request.HasHeader("Cookie"));
    QVERIFY(!request.HasHeader("Authorization"));
    QVERIFY(!request.HasHeader("Cache-Control"));
    QVERIFY(!request.HasHeader("Pragma"));
  }
}

void HttpClientTest::followsRedirectsButNotToOtherSchemes() {
  QFile secret(dir.filePath("secret.txt"));
  QVERIFY(secret.open(QIODevice::WriteOnly));
  secret.write("vok");
  secret.close();

  LoopbackServer site;
  site.Serve("/vok.txt", "vok", 150);
  site.Redirect("/moved", "/vok.txt");
  site.Redirect("/to-file", QUrl::fromLocalFile(secret.fileName()).toString());
  site.Redirect("/to-data", "data:text/plain,vok");
  HttpClient client;

  const FetchResult moved = client.OpenUrl(site.Url("/moved"));
  QVERIFY2(moved.ok, qPrintable(moved.error));
  QCOMPARE(moved.body, QStringLiteral("vok"));
  QCOMPARE(moved.status, 200);
  QVERIFY(moved.seconds >= 0.15); // the span covers the redirect and the final answer
  QCOMPARE(site.RequestCount("/vok.txt"), 1);

  for (const char* path : {"/to-file", "/to-data"}) {
    const FetchResult result = client.OpenUrl(site.Url(path));
    QVERIFY2(!result.ok, path);
    QVERIFY(result.body.isEmpty());
    QVERIFY(!result.error.isEmpty());
  }
}

void HttpClientTest::refusesNonHttpAddresses_data() {
  QTest::addColumn<QString>("url");

  QFile local(dir.filePath("vok.txt"));
  QVERIFY(local.open(QIODevice::WriteOnly));
  local.write("vok");
  local.close();
  const quint16 port = LoopbackServer::UnusedPort();

  QTest::newRow("file") << QStringLiteral("file:///etc/passwd");
  QTest::newRow("local marker") << QUrl::fromLocalFile(local.fileName()).toString();
  QTest::newRow("bare path") << dir.filePath("vok.txt");
  QTest::newRow("data") << QStringLiteral("data:text/plain,vok");
  QTest::newRow("qrc") << QStringLiteral("qrc:/x");
  QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1:%1/vok.txt").arg(port);
  QTest::newRow("empty") << QString();
  QTest::newRow("empty entry") << QStringLiteral("/vok.txt");
  QTest::newRow("no colon") << QStringLiteral("http//x/vok.txt");
  QTest::newRow("no host") << QStringLiteral("http:///vok.txt");
  QTest::newRow("scheme only") << QStringLiteral("https://");
  QTest::newRow("bad host") << QStringLiteral("http://exa mple.com/vok.txt");
  QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)");
}

void HttpClientTest::refusesNonHttpAddresses() {
  QFETCH(QString, url);
  HttpClient client(1);
  QSignalSpy states(&client, &HttpClient::StateChanged);
  // A refusal happens before any event is processed: this zero-time timer has not fired yet.
  bool eventsRan = false;
  QTimer::singleShot(0, &client, [&eventsRan] { eventsRan = true; });

  const FetchResult result = client.OpenUrl(url);

  QVERIFY(!eventsRan);
  QVERIFY(!result.ok);
  QCOMPARE(result.error, QStringLiteral("Bad address"));
  QVERIFY(result.body.isEmpty());
  QCOMPARE(result.status, 0);
  QCOMPARE(client.ResponseCode(), HttpClient::CancelCode);
  QCOMPARE(client.ResponseInfo(), QStringLiteral("Bad address"));
  QCOMPARE(states.count(), 1);
  QCOMPARE(states[0][0].toInt(), 1);
  QVERIFY(!HttpClient::IsFetchable(url));
  QCOMPARE(result.totalUs, -1);
  QCOMPARE(result.seconds, 0.0);
}

void HttpClientTest::reportsTransferFailures_data() {
  QTest::addColumn<int>("kind"); // 0 refused, 1 cut after the request, 2 cut in the body
  QTest::addColumn<QString>("error");
  QTest::newRow("refused") << 0 << QStringLiteral("Connection refused");
  QTest::newRow("cut after request") << 1 << QStringLiteral("Connection closed");
  QTest::newRow("cut in the body") << 2 << QString();
}

void HttpClientTest::reportsTransferFailures() {
  QFETCH(int, kind);
  QFETCH(QString, error);

  StallServer stall(kind == 1 ? StallServer::Mode::CutAfterRequest : StallServer::Mode::CutMidBody);
  const QString url = kind == 0 ? QStringLiteral("http://127.0.0.1:%1/vok.txt").arg(LoopbackServer::UnusedPort())
                                : stall.Url("/vok.txt");
  HttpClient client(2);
  // The window's state-change handler: cancel on the failure code, show the text, yield.
  QStringList shown;
  connect(&client, &HttpClient::StateChanged, &client, [&](int index, int) {
    QCOMPARE(index, 2);
    if (client.ResponseCode() == HttpClient::CancelCode)
      client.Cancel();
    shown << client.ResponseInfo();
    QCoreApplication::processEvents();
  });

  const FetchResult result = client.OpenUrl(url);

  QVERIFY(!result.ok);
  QVERIFY(result.body.isEmpty());
  QVERIFY(!result.error.isEmpty());
  QVERIFY(result.error != QLatin1String("Cancelled"));
  if (!error.isEmpty())
    QCOMPARE(result.error, error);
  if (kind == 0)
    QCOMPARE(result.connectUs, -1); // the phases not reached are unknown
  else
    QVERIFY(result.connectUs > 0 && result.totalUs >= result.connectUs);
  QCOMPARE(shown, QStringList{result.error});
  QCOMPARE(client.ResponseCode(), HttpClient::CancelCode);
  QVERIFY(!client.Busy());

  // The client stays usable after a failure.
  LoopbackServer site;
  site.Serve("/vok.txt", "vok");
  QVERIFY(client.OpenUrl(site.Url("/vok.txt")).ok);
  QCOMPARE(client.ResponseCode(), 200);
}

void HttpClientTest::refusesOversizedHeaders_data() {
  QTest::addColumn<int>("lines");
  QTest::addColumn<int>("lineBytes");
  QTest::newRow("one huge line") << 1 << 200 * 1024;
  QTest::newRow("too many lines") << 300 << 1024;
}

void HttpClientTest::refusesOversizedHeaders() {
  QFETCH(int, lines);
  QFETCH(int, lineBytes);
  LoopbackServer site;
  LoopbackResponse bloated{"vok"};
  for (int i = 0; i < lines; ++i)
    bloated.AddHeader("X-Padding-" + QByteArray::number(i), QByteArray(lineBytes, 'h'));
  site.Serve("/vok.txt", bloated);
  HttpClient client;

  const FetchResult result = client.OpenUrl(site.Url("/vok.txt"));

  QVERIFY(!result.ok);
  QCOMPARE(result.error, QStringLiteral("Bad response"));
  QVERIFY(result.body.isEmpty());
}

void HttpClientTest::tellsRunningOutOfDescriptorsFromARefusal_data() {
  QTest::addColumn<QString>("host");
  QTest::newRow("address") << QStringLiteral("127.0.0.1");
  QTest::newRow("name to look up") << QStringLiteral("localhost");
}

void HttpClientTest::tellsRunningOutOfDescriptorsFromARefusal() {
  QFETCH(QString, host);
  LoopbackServer site;
  site.Serve("/vok.txt", "vok");
  const QString url = QStringLiteral("http://%1:%2/vok.txt").arg(host).arg(site.Port());
  HttpClient client;
  QVERIFY(client.OpenUrl(site.Url("/vok.txt")).ok); // the network thread is up

  // The process runs out of descriptors: a limit a little above those open, the rest taken.
  rlimit before{};
  QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
  std::vector<int> taken;
  int highest = ::dup(0);
  rlimit low = before;
  low.rlim_cur = rlim_t(highest + 64);
  ::close(highest);
  QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
  for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
    taken.push_back(fd);
  const FetchResult starved = client.OpenUrl(url);
  for (const int fd : taken)
    ::close(fd);
  QCOMPARE(::setrlimit(RLIMIT_NOFILE, &before), 0);

  QVERIFY(!starved.ok);
  QCOMPARE(starved.error, QStringLiteral("Too many open files"));
  // With descriptors back, the same site answers.
  QVERIFY(client.OpenUrl(site.Url("/vok.txt")).ok);
}

void HttpClientTest::cancelEndsTheWaitAtOnce() {
  StallServer stall(StallServer::Mode::Silent);
  HttpClient client;
  client.Cancel(); // idle: nothing happens
  QVERIFY(!client.Busy());
  QSignalSpy states(&client, &HttpClient::StateChanged);

  int ticks = 0;
  QTimer ticker;
  connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
  ticker.start(20);
  bool busyDuringWait = false;
  Later(250, &client, [&] {
    busyDuringWait = client.Busy();
    client.Cancel();
  });

  QElapsedTimer wall;
  wall.start();
  const FetchResult result = client.OpenUrl(stall.Url("/vok.txt"));

  QVERIFY(busyDuringWait);
  QCOMPARE(result.error, QStringLiteral("Cancelled"));
  QVERIFY(!result.ok);
  QVERIFY(wall.elapsed() < 5000);
  QVERIFY2(ticks > 0, "the event loop ran during the wait");
  QCOMPARE(states.count(), 1);
  QCOMPARE(client.ResponseInfo(), QStringLiteral("Cancelled"));
  QCOMPARE(stall.ConnectionCount(), 1);
  QTRY_COMPARE(stall.OpenConnectionCount(), 0); // the connection was closed, not left behind
}

void HttpClientTest::timeLimitEndsTheRequest_data() {
  QTest::addColumn<StallServer::Mode>("mode");
  QTest::newRow("no answer") << StallServer::Mode::Silent;
  QTest::newRow("answer trickles") << StallServer::Mode::Trickle; // data keeps arriving
}

void HttpClientTest::timeLimitEndsTheRequest() {
  QFETCH(StallServer::Mode, mode);
  StallServer stall(mode);
  stall.SetTrickle(50, 1000);
  HttpClient::SetTimeLimitMs(400);
  HttpClient client;
  QSignalSpy states(&client, &HttpClient::StateChanged);

  const FetchResult result = client.OpenUrl(stall.Url("/vok.txt"));

  QVERIFY(!result.ok);
  QCOMPARE(result.error, QStringLiteral("Timed out"));
  QVERIFY2(result.seconds >= 0.39 && result.seconds < 5, qPrintable(QString::number(result.seconds)));
  QCOMPARE(states.count(), 1);
  QCOMPARE(client.ResponseInfo(), QStringLiteral("Timed out"));
  QTRY_COMPARE(stall.OpenConnectionCount(), 0);
}

void HttpClientTest::keepsOnlyTheStartOfALargeBody() {
  LoopbackServer site;
  site.Serve("/big", QByteArray(10 * 1024 * 1024, 'a'));
  // One ASCII byte, then two-byte characters: the cut at 64 KiB falls inside a character.
  QByteArray utf8 = "x";
  while (utf8.size() < 200 * 1024)
    utf8 += "\xC3\xA9";
  site.Serve("/big-utf8", utf8);
  site.Serve("/exact", QByteArray(65536, 'b'));
  // A "<" past the part that is kept is still noted.
  site.Serve("/late-markup", QByteArray(70000, 'x') + "<html>");
  HttpClient client;

  const FetchResult exact = client.OpenUrl(site.Url("/exact"));
  QCOMPARE(exact.body.size(), 65536);
  QVERIFY(!exact.truncated);

  const FetchResult big = client.OpenUrl(site.Url("/big"));
  QVERIFY2(big.ok, qPrintable(big.error));
  QCOMPARE(big.body.size(), 65536);
  QCOMPARE(big.body, QString(65536, QLatin1Char('a')));
  QVERIFY(big.truncated);
  QCOMPARE(big.bytes, 10 * 1024 * 1024); // every byte was read
  QVERIFY(!big.markup);

  const FetchResult text = client.OpenUrl(site.Url("/big-utf8"));
  QVERIFY2(text.ok, qPrintable(text.error));
  QCOMPARE(text.body.size(), 65536);
  QCOMPARE(text.body.at(1), QChar(0xC3));
  QCOMPARE(text.body.back(), QChar(0xC3));

  const FetchResult late = client.OpenUrl(site.Url("/late-markup"));
  QVERIFY2(late.ok, qPrintable(late.error));
  QVERIFY(late.truncated);
  QVERIFY(!late.body.contains(QLatin1Char('<')));
  QVERIFY(late.markup);
}

// https against a server whose certificate the local authority signed: verified, with a full
// handshake between the connection and the request.
void HttpClientTest::fetchesOverTls() {
  HttpClient::SetTrustStoreFile(LoopbackServer::TlsFixture(QStringLiteral("ca.pem")));
  LoopbackServer secure(LoopbackTls::TestAuthority);
  QVERIFY(secure.IsListening());
  secure.Serve("/vok.txt", "vok\r\n");
  HttpClient client;

  for (const QString& host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
    const QString url = QStringLiteral("https://%1:%2/vok.txt").arg(host).arg(secure.Port());
    const FetchResult result = client.OpenUrl(url);
    QVERIFY2(result.ok, qPrintable(host + QLatin1Char(' ') + result.error));
    QCOMPARE(result.body, QStringLiteral("vok\r\n"));
    QCOMPARE(result.status, 200);
    QVERIFY(result.dnsUs > 0);
    QVERIFY(result.connectUs >= result.dnsUs);
    QVERIFY(result.tlsUs > result.connectUs);
    QVERIFY(result.ttfbUs >= result.tlsUs);
    QVERIFY(result.totalUs >= result.ttfbUs);
    QVERIFY(!result.remoteIp.isEmpty());
    QCOMPARE(result.httpVersion, QStringLiteral("1.1"));
  }
  const QList<LoopbackRequest> requests = secure.Requests();
  QCOMPARE(requests.size(), 2);
  QVERIFY(requests[0].clientPort != requests[1].clientPort);
}

void HttpClientTest::tellsTheEarliestCertificateEnd_data() {
  QTest::addColumn<qint64>("serverSeconds");       // 0: the committed fixture (valid until 2125)
  QTest::addColumn<qint64>("intermediateSeconds"); // 0: none
  QTest::addColumn<bool>("redirected");            // reached through an http address that redirects
  QTest::newRow("fixture") << qint64(0) << qint64(0) << false;
  QTest::newRow("expires in 5 days") << qint64(5 * 86400) << qint64(0) << false;
  QTest::newRow("intermediate ends first") << qint64(30 * 86400) << qint64(5 * 86400 + 7) << false;
  QTest::newRow("server ends first") << qint64(3 * 86400) << qint64(300 * 86400) << false;
  QTest::newRow("after a redirect from http") << qint64(5 * 86400) << qint64(0) << true;
}

// The earliest notAfter of the certificates the server sent, whether its own or an intermediate's;
// for the last hop of a redirect; none for plain http.
void HttpClientTest::tellsTheEarliestCertificateEnd() {
  QFETCH(qint64, serverSeconds);
  QFETCH(qint64, intermediateSeconds);
  QFETCH(bool, redirected);

  std::unique_ptr<LoopbackServer> secure;
  QDateTime expected;
  if (serverSeconds == 0) {
    HttpClient::SetTrustStoreFile(LoopbackServer::TlsFixture(QStringLiteral("ca.pem")));
    secure = std::make_unique<LoopbackServer>(LoopbackTls::TestAuthority);
    expected =
        QSslCertificate::fromPath(LoopbackServer::TlsFixture(QStringLiteral("server.pem"))).value(0).expiryDate();
  } else {
    const TestCertificates made = TestCertificates::Make(dir.path(), serverSeconds, intermediateSeconds);
    HttpClient::SetTrustStoreFile(made.authorityFile);
    secure = std::make_unique<LoopbackServer>(made);
    expected = made.intermediateNotAfter.isValid() ? qMin(made.serverNotAfter, made.intermediateNotAfter)
                                                   : made.serverNotAfter;
  }
  QVERIFY(secure->IsListening());
  secure->Serve("/vok.txt", "vok");
  LoopbackServer plain;
  plain.Serve("/vok.txt", "vok");
  plain.Redirect("/hop/vok.txt", secure->Url(QStringLiteral("/vok.txt")));

  HttpClient client;
  const FetchResult result =
      client.OpenUrl(redirected ? plain.Url(QStringLiteral("/hop/vok.txt")) : secure->Url(QStringLiteral("/vok.txt")));
  QVERIFY2(result.ok, qPrintable(result.error));
  QCOMPARE(QDateTime::fromMSecsSinceEpoch(result.certNotAfterMs, Qt::UTC), expected.toUTC());

  const FetchResult http = client.OpenUrl(plain.Url(QStringLiteral("/vok.txt")));
  QVERIFY(http.ok);
  QCOMPARE(http.certNotAfterMs, qint64(-1));
}

void HttpClientTest::refusesUntrustedCertificates_data() {
  QTest::addColumn<LoopbackTls>("tls");
  QTest::addColumn<QString>("trusted"); // the trust store file; empty: the system's
  QTest::addColumn<QString>("error");
  const QString authority = LoopbackServer::TlsFixture(QStringLiteral("ca.pem"));
  QTest::newRow("self-signed") << LoopbackTls::SelfSigned << authority << QStringLiteral("Certificate self-signed");
  QTest::newRow("unknown authority") << LoopbackTls::TestAuthority << QString()
                                     << QStringLiteral("Certificate not trusted");
}

void HttpClientTest::refusesUntrustedCertificates() {
  QFETCH(LoopbackTls, tls);
  QFETCH(QString, trusted);
  QFETCH(QString, error);
  HttpClient::SetTrustStoreFile(trusted);
  LoopbackServer secure(tls);
  secure.Serve("/vok.txt", "vok");
  HttpClient client;
  QSignalSpy states(&client, &HttpClient::StateChanged);

  const FetchResult result = client.OpenUrl(secure.Url("/vok.txt"));

  QVERIFY(!result.ok);
  QCOMPARE(result.error, error);
  QVERIFY(result.body.isEmpty());
  QCOMPARE(states.count(), 1);
  QCOMPARE(secure.RequestCount(), 0); // nothing was sent over the untrusted connection
}

void HttpClientTest::redirectsNeverLeaveHttps_data() {
  QTest::addColumn<QString>("chain"); // the scheme of each hop, the last one serves the marker
  QTest::addColumn<QString>("error"); // empty: followed to the end
  QTest::addColumn<int>("reached");   // hops that received a request
  QTest::newRow("https to https") << "https https" << QString() << 2;
  QTest::newRow("http to https") << "http https" << QString() << 2;
  QTest::newRow("http to http to https") << "http http https" << QString() << 3;
  QTest::newRow("https to http") << "https http" << QStringLiteral("Insecure redirect") << 1;
  QTest::newRow("http to https to http") << "http https http" << QStringLiteral("Insecure redirect") << 2;
  QTest::newRow("http to https to https to http")
      << "http https https http" << QStringLiteral("Insecure redirect") << 3;
}

void HttpClientTest::redirectsNeverLeaveHttps() {
  QFETCH(QString, chain);
  QFETCH(QString, error);
  QFETCH(int, reached);
  HttpClient::SetTrustStoreFile(LoopbackServer::TlsFixture(QStringLiteral("ca.pem")));
  std::vector<std::unique_ptr<LoopbackServer>> hops;
  for (const QString& scheme : chain.split(QLatin1Char(' ')))
    hops.push_back(std::make_unique<LoopbackServer>(scheme == QLatin1String("https") ? LoopbackTls::TestAuthority
                                                                                     : LoopbackTls::Off));
  for (std::size_t i = 0; i + 1 < hops.size(); ++i)
    hops[i]->Redirect("/hop", hops[i + 1]->Url("/hop"));
  hops.back()->Serve("/hop", "vok");
  HttpClient client;

  const FetchResult result = client.OpenUrl(hops.front()->Url("/hop"));

  if (error.isEmpty()) {
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.body, QStringLiteral("vok"));
  } else {
    QVERIFY(!result.ok);
    QCOMPARE(result.error, error);
  }
  for (std::size_t i = 0; i < hops.size(); ++i)
    QCOMPARE(hops[i]->RequestCount(), i < std::size_t(reached) ? 1 : 0);
}

// A handler running during the wait calls OpenUrl on the same client: that call fails alone.
void HttpClientTest::secondCallWhileBusyFailsAlone() {
  LoopbackServer site;
  site.Serve("/vok.txt", "vok", 200);
  site.Serve("/other", "other");
  HttpClient client;
  QSignalSpy states(&client, &HttpClient::StateChanged);
  FetchResult nested;
  Later(50, &client, [&] { nested = client.OpenUrl(site.Url("/other")); });

  const FetchResult first = client.OpenUrl(site.Url("/vok.txt"));

  QCOMPARE(nested.error, QStringLiteral("Busy"));
  QVERIFY(!nested.ok);
  QVERIFY2(first.ok, qPrintable(first.error));
  QCOMPARE(first.body, QStringLiteral("vok"));
  QCOMPARE(client.ResponseCode(), 200);
  QCOMPARE(states.count(), 0);
  QCOMPARE(site.RequestCount("/other"), 0);
}

void HttpClientTest::clientDeletedWhileWaiting() {
  StallServer stall(StallServer::Mode::Silent);
  QPointer<HttpClient> client = new HttpClient;
  QObject context;
  Later(100, &context, [&client] { delete client; });

  const FetchResult result = client->OpenUrl(stall.Url("/vok.txt"));

  QCOMPARE(result.error, QStringLiteral("Cancelled"));
  QVERIFY(client.isNull());
  QTRY_COMPARE(stall.OpenConnectionCount(), 0);
}

void HttpClientTest::arrayLoadsAndUnloadsIdempotently() {
  HttpClientArray array;
  QCOMPARE(array.Count(), 1);
  QVERIFY(array.At(0));
  QCOMPARE(array.At(0)->Index(), 0);
  QVERIFY(!array.At(1));
  QVERIFY(!array.At(-1));

  QVERIFY(!array.Load(0)); // exists already
  QVERIFY(array.Load(1));
  QVERIFY(array.Load(2));
  HttpClient* one = array.At(1);
  QVERIFY(!array.Load(1));
  QCOMPARE(array.At(1), one);
  QCOMPARE(array.At(2)->Index(), 2);
  QCOMPARE(array.Count(), 3);

  QVERIFY(!array.Unload(0)); // element 0 stays
  QVERIFY(!array.Unload(7)); // missing
  QVERIFY(!array.Load(-1));
  QVERIFY(!array.Load(HttpClientArray::MaxIndex + 1));
  QVERIFY(array.Unload(2));
  QVERIFY(!array.Unload(2));
  QVERIFY(!array.At(2));
  QCOMPARE(array.Count(), 2);

  QPointer<HttpClient> unloaded = one;
  QVERIFY(array.Unload(1));
  QTRY_VERIFY(unloaded.isNull()); // idle elements are deleted once events run
  QCOMPARE(array.Count(), 1);
  QVERIFY(array.At(0));
}

void HttpClientTest::arrayForwardsStateChanges() {
  HttpClientArray array;
  array.Load(1);
  array.Load(2);
  QSignalSpy states(&array, &HttpClientArray::StateChanged);

  array.At(2)->OpenUrl(QStringLiteral("/vok.txt"));
  QCOMPARE(states.count(), 1);
  QCOMPARE(states[0][0].toInt(), 2);
  QCOMPARE(states[0][1].toInt(), int(HttpClient::CancelCode));

  HttpClient* old = array.At(2);
  QPointer<HttpClient> guard = old;
  array.Unload(2);
  if (guard)
    old->OpenUrl(QStringLiteral("/vok.txt")); // no longer an element: not forwarded
  QCOMPARE(states.count(), 1);
}

void HttpClientTest::unloadingABusyElement() {
  StallServer stall(StallServer::Mode::Silent);
  HttpClientArray array;
  array.Load(1);
  array.Load(2);
  QSignalSpy states(&array, &HttpClientArray::StateChanged);
  QPointer<HttpClient> element = array.At(1);

  bool goneAtOnce = false;
  int countAfterUnload = 0;
  bool reloadedIsNew = false;
  Later(100, &array, [&] {
    array.Unload(1);
    goneAtOnce = array.At(1) == nullptr;
    countAfterUnload = array.Count();
    array.Load(1); // a new element may take the index while the old one still waits
    reloadedIsNew = array.At(1) != nullptr && array.At(1) != element.data();
  });

  const FetchResult result = element->OpenUrl(stall.Url("/vok.txt"));

  QCOMPARE(result.error, QStringLiteral("Cancelled"));
  QVERIFY(goneAtOnce);
  QCOMPARE(countAfterUnload, 2);
  QVERIFY(reloadedIsNew);
  QVERIFY2(!element.isNull(), "not freed under the returning call");
  QCOMPARE(element->ResponseInfo(), QStringLiteral("Cancelled"));
  QCOMPARE(states.count(), 0); // an unloaded element's failure is not forwarded
  QTRY_VERIFY(element.isNull());
  QCOMPARE(array.Count(), 3);
  QVERIFY(!array.At(1)->Busy());
}

void HttpClientTest::arrayDestroyedWhileWaiting() {
  StallServer stall(StallServer::Mode::Silent);
  auto* array = new HttpClientArray;
  QPointer<HttpClient> element = array->At(0);
  QObject context;
  Later(100, &context, [&array] {
    delete array;
    array = nullptr;
  });

  const FetchResult result = element->OpenUrl(stall.Url("/vok.txt"));

  QVERIFY(!array);
  QCOMPARE(result.error, QStringLiteral("Cancelled"));
  QVERIFY(!element.isNull());
  QTRY_VERIFY(element.isNull());
  QTRY_COMPARE(stall.OpenConnectionCount(), 0);
}

void HttpClientTest::postsWithoutWaiting_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("error");
  QTest::newRow("taken") << "/hook" << 200 << "";
  QTest::newRow("refused by the receiver") << "/broken" << 500 << "";
  // A redirect is an answer of its own: following it, libcurl would turn the POST into a GET.
  QTest::newRow("redirect not followed") << "/moved" << 302 << "";
  QTest::newRow("nobody listens") << "refused" << 0 << "Connection refused";
  QTest::newRow("not http") << "file:///etc/passwd" << 0 << "Bad address";
}

void HttpClientTest::postsWithoutWaiting() {
  QFETCH(QString, path);
  QFETCH(int, status);
  QFETCH(QString, error);
  LoopbackServer site;
  site.Serve("/hook", "taken");
  site.Serve("/broken", LoopbackResponse("no", 500));
  site.Redirect("/moved", site.Url("/hook"));
  const QString url = path == QLatin1String("refused")
                          ? QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::UnusedPort())
                      : path.startsWith(QLatin1Char('/')) ? site.Url(path)
                                                          : path;
  HttpPost post;
  QSignalSpy finished(&post, &HttpPost::Finished);
  post.Send(url, R"({"text": "Site down"})", "application/json", 10000);
  // Send() returned before anything was sent: the answer comes through the event loop.
  QCOMPARE(finished.count(), 0);
  QTRY_COMPARE(finished.count(), 1);
  const auto result = finished.first().first().value<FetchResult>();
  QCOMPARE(result.status, status);
  QCOMPARE(result.error, error);
  QCOMPARE(result.ok, error.isEmpty());
  QVERIFY(!post.Busy());
  if (!error.isEmpty())
    return;
  QCOMPARE(site.RequestCount(), 1);
  const LoopbackRequest request = site.LastRequest();
  QCOMPARE(request.method, QByteArray("POST"));
  QCOMPARE(request.path, path);
  QCOMPARE(request.body, QByteArray(R"({"text": "Site down"})"));
  QCOMPARE(request.Header("Content-Type"), QByteArray("application/json"));
}

void HttpClientTest::aPostGivenUpTellsNothing() {
  // A later Send() gives the outstanding post up; deleting the object gives its post up too. Only
  // the post that was not given up is told, and the silent server sees its connections closed.
  StallServer stall(StallServer::Mode::Silent);
  LoopbackServer site;
  site.Serve("/hook", "taken");
  HttpPost post;
  QSignalSpy finished(&post, &HttpPost::Finished);
  post.Send(stall.Url("/hook"), "{}", "application/json", 60000);
  QTRY_COMPARE(stall.ConnectionCount(), 1);
  post.Send(site.Url("/hook"), "{}", "application/json", 60000);
  QTRY_COMPARE(finished.count(), 1);
  QCOMPARE(finished.first().first().value<FetchResult>().status, 200);

  auto* abandoned = new HttpPost;
  abandoned->Send(stall.Url("/hook"), "{}", "application/json", 60000);
  QTRY_COMPARE(stall.ConnectionCount(), 2);
  delete abandoned;
  QTRY_COMPARE(stall.OpenConnectionCount(), 0);
  QCOMPARE(finished.count(), 1);
}

void HttpClientTest::quitWhileWaiting() {
  StallServer stall(StallServer::Mode::Silent);
  HttpClient client;
  Later(100, &client, [] { QCoreApplication::exit(0); });

  QElapsedTimer wall;
  wall.start();
  const FetchResult result = client.OpenUrl(stall.Url("/vok.txt"));
  QCOMPARE(result.error, QStringLiteral("Cancelled"));
  QVERIFY(wall.elapsed() < 5000);

  // Once the program is quitting, a new fetch gives up at once.
  const FetchResult after = client.OpenUrl(stall.Url("/vok.txt"));
  QCOMPARE(after.error, QStringLiteral("Cancelled"));
  QVERIFY(!client.Busy());
}

QTEST_GUILESS_MAIN(HttpClientTest)
#include "tst_httpclient.moc"
