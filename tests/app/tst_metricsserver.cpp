// The metrics server and its web configuration, with real clients on the loopback address: what it
// answers to each kind of request, how it bounds the clients that would hold it or grow it, and TLS
// with basic auth as the web configuration asks.
#include "app/boundedhttpserver.h"
#include "app/metricsserver.h"
#include "app/webconfig.h"
#include "loopbackserver.h"
#include "platform/httpclient.h"
#include "results/metricsregistry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// bcrypt of "s3cret" at cost 5 (crypt_gensalt "$2b$", 5).
constexpr const char* SecretHash = "$2b$05$OgyYHrHjnZsTcwn6HZkBAeEphD6eC45qWM9gC5kq9pKwPUUWvp51i";

// One answer read off the wire.
struct Answer {
  int status = 0;
  QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
  QByteArray body;

  QByteArray Header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
      if (key == name)
        return value;
    return {};
  }
};

// Splits what a connection received into answers; `head[i]` says whether the i-th request was a
// HEAD (its answer has no body whatever its Content-Length).
QList<Answer> Answers(QByteArray bytes, const QList<bool>& head = {}) {
  QList<Answer> answers;
  while (!bytes.isEmpty()) {
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
      break;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    Answer answer;
    answer.status = lines.at(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const qsizetype colon = lines.at(i).indexOf(':');
      answer.headers.append({lines.at(i).left(colon).toLower(), lines.at(i).mid(colon + 1).trimmed()});
    }
    const qsizetype length = head.value(answers.size()) ? 0 : answer.Header("content-length").toLongLong();
    answer.body = bytes.mid(end + 4, length);
    bytes.remove(0, end + 4 + length);
    answers.append(answer);
  }
  return answers;
}

// A client connection; it waits through the event loop, since the server runs on the same thread.
class Client {
public:
  explicit Client(quint16 port, bool tls = false) {
    if (tls) {
      auto* secure = new QSslSocket;
      QSslConfiguration config = secure->sslConfiguration();
      config.setCaCertificates(QSslCertificate::fromPath(LoopbackServer::TlsFixture(QStringLiteral("ca.pem"))));
      secure->setSslConfiguration(config);
      socket.reset(secure);
      secure->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    } else {
      socket.reset(new QTcpSocket);
      socket->connectToHost(QHostAddress::LocalHost, port);
    }
  }

  bool Connected(int ms = 10000) {
    auto* secure = qobject_cast<QSslSocket*>(socket.get());
    return Wait(ms,
                [&] { return secure ? secure->isEncrypted() : socket->state() == QAbstractSocket::ConnectedState; });
  }
  void Send(const QByteArray& bytes) { socket->write(bytes); }
  // Waits until the server closed the connection; false after `ms`.
  bool Closed(int ms = 20000) {
    return Wait(ms, [&] {
      received += socket->readAll();
      return socket->state() == QAbstractSocket::UnconnectedState;
    });
  }
  // Waits until `count` answers have come (for HEAD requests as `head` says); false after `ms`.
  bool AnswersCame(int count, const QList<bool>& head = {}, int ms = 20000) {
    return Wait(ms, [&] {
      received += socket->readAll();
      return Answers(received, head).size() >= count;
    });
  }
  QAbstractSocket& Socket() { return *socket; }

  QByteArray received;

private:
  template <typename Done>
  static bool Wait(int ms, Done done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
      if (clock.elapsed() > ms)
        return false;
      QTest::qWait(10);
    }
    return true;
  }

  std::unique_ptr<QTcpSocket> socket;
};

// Sends `request` on a fresh connection and returns what came back until the server closed it.
QByteArray Exchange(quint16 port, const QByteArray& request, bool tls = false) {
  Client client(port, tls);
  if (!client.Connected())
    return "not connected";
  client.Send(request);
  if (!client.Closed())
    return client.received + "(not closed)";
  return client.received;
}

bool WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class MetricsServerTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void answersEachKindOfRequest_data();
  void answersEachKindOfRequest();
  void answersPipelinedRequestsInOrder();
  void refusesALargeBodyWithoutReadingIt();
  void closesIdleAndSlowConnections();
  void closesConnectionsBeyondTheLimit();
  void readsTheWebConfiguration_data();
  void readsTheWebConfiguration();
  void asksForTheConfiguredAccess_data();
  void asksForTheConfiguredAccess();

private:
  MetricsRegistry metrics;
  MetricsServer server{metrics};
};

void MetricsServerTest::initTestCase() {
  FetchResult fetched;
  fetched.ok = true;
  fetched.seconds = 0.012;
  metrics.RecordSample(QStringLiteral("http://a.example"), fetched, QString(), 1'700'000'000'000);
  QString error;
  QVERIFY2(server.Listen(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
  QVERIFY(!server.Exposed());
}

void MetricsServerTest::answersEachKindOfRequest_data() {
  QTest::addColumn<QByteArray>("request"); // sent as it stands; the server closes after the answer
  QTest::addColumn<int>("status");
  QTest::addColumn<bool>("metricsBody"); // the answer carries the metrics text

  const QByteArray close = "Connection: close\r\n\r\n";
  QTest::newRow("GET") << "GET /metrics HTTP/1.1\r\nHost: x\r\n" + close << 200 << true;
  QTest::newRow("query ignored") << "GET /metrics?debug=1 HTTP/1.1\r\n" + close << 200 << true;
  QTest::newRow("whole address") << "GET http://127.0.0.1/metrics HTTP/1.1\r\n" + close << 200 << true;
  QTest::newRow("lines ending in LF") << QByteArray("GET /metrics HTTP/1.1\nConnection: close\n\n") << 200 << true;
  QTest::newRow("HTTP/1.0 closes") << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << 200 << true;
  QTest::newRow("HEAD") << "HEAD /metrics HTTP/1.1\r\n" + close << 200 << false;
  QTest::newRow("other path") << "GET /metric HTTP/1.1\r\n" + close << 404 << false;
  QTest::newRow("POST") << "POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n" + close << 405 << false;
  QTest::newRow("OPTIONS") << "OPTIONS * HTTP/1.1\r\n" + close << 405 << false;
  QTest::newRow("DELETE") << "DELETE /metrics HTTP/1.1\r\n" + close << 405 << false;
  // A body is refused before anything else is looked at; the client has not sent it yet.
  QTest::newRow("body announced") << QByteArray("POST /metrics HTTP/1.1\r\nContent-Length: 314572800\r\n\r\n") << 413
                                  << false;
  QTest::newRow("GET with a body") << QByteArray("GET /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\n") << 413 << false;
  QTest::newRow("chunked body") << QByteArray("POST /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << 413
                                << false;
  QTest::newRow("two lengths") << "GET /metrics HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 0\r\n" + close << 400
                               << false;
  QTest::newRow("folded header") << "GET /metrics HTTP/1.1\r\nX-A: 1\r\n  2\r\n" + close << 400 << false;
  QTest::newRow("not HTTP") << QByteArray("hello there\r\n\r\n") << 400 << false;
  QTest::newRow("HTTP/2") << QByteArray("GET /metrics HTTP/2.0\r\n\r\n") << 505 << false;
  // The head (request line and headers) may take 8 KiB, no more.
  const QByteArray line = "GET /metrics HTTP/1.1\r\n";
  QTest::newRow("head of 8 KiB") << line + "X-Fill: " + QByteArray(8192 - line.size() - 10 - close.size(), 'a') +
                                        "\r\n" + close
                                 << 200 << true;
  QTest::newRow("head over 8 KiB") << line + "X-Fill: " + QByteArray(8192 - line.size() - 9 - close.size(), 'a') +
                                          "\r\n" + close
                                   << 431 << false;
  QTest::newRow("request line of 1 MB") << "GET /" + QByteArray(1 << 20, 'a') + " HTTP/1.1\r\n\r\n" << 431 << false;
}

void MetricsServerTest::answersEachKindOfRequest() {
  QFETCH(QByteArray, request);
  QFETCH(int, status);
  QFETCH(bool, metricsBody);

  const QByteArray received = Exchange(server.Port(), request);
  const QList<Answer> answers = Answers(received, {request.startsWith("HEAD")});
  QVERIFY2(answers.size() == 1, received.left(300).constData());
  const Answer& answer = answers.at(0);
  QCOMPARE(answer.status, status);
  QCOMPARE(answer.body.contains("tarvik_ping_seconds_count{url=\"http://a.example\"} 1"), metricsBody);
  if (status == 405)
    QCOMPARE(answer.Header("allow"), QByteArray("GET, HEAD"));
  if (request.startsWith("HEAD")) {
    // No body, but the length a GET gets.
    QVERIFY(answer.body.isEmpty());
    QCOMPARE(answer.Header("content-length").toLongLong(), metrics.Exposition().size());
    QCOMPARE(received.size(), received.indexOf("\r\n\r\n") + 4);
  }
}

void MetricsServerTest::answersPipelinedRequestsInOrder() {
  Client client(server.Port());
  QVERIFY(client.Connected());
  client.Send(
      "GET /metrics HTTP/1.1\r\n\r\nHEAD /metrics HTTP/1.1\r\n\r\nGET /nothing HTTP/1.1\r\n\r\n"
      "DELETE /metrics HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
  QVERIFY(client.Closed());
  const QList<Answer> answers = Answers(client.received, {false, true, false, false, false});
  QCOMPARE(answers.size(), 5);
  const QList<int> statuses{200, 200, 404, 405, 200};
  for (int i = 0; i < 5; ++i)
    QCOMPARE(answers.at(i).status, statuses.at(i));
  QVERIFY(answers.at(0).body.startsWith("# HELP"));
  QVERIFY(answers.at(1).body.isEmpty());
  QCOMPARE(answers.at(4).body, answers.at(0).body);
}

void MetricsServerTest::refusesALargeBodyWithoutReadingIt() {
  // The client pours out a body of 256 MB as fast as the connection takes it; the server refuses it
  // and closes long before: no more than the system's buffers ever went in.
  Client client(server.Port());
  QVERIFY(client.Connected());
  constexpr qint64 Body = qint64(256) << 20;
  client.Send("POST /metrics HTTP/1.1\r\nContent-Length: " + QByteArray::number(Body) + "\r\n\r\n");
  const QByteArray chunk(1 << 16, 'x');
  qint64 sent = 0;
  QElapsedTimer clock;
  clock.start();
  while (sent < Body && client.Socket().state() == QAbstractSocket::ConnectedState && clock.elapsed() < 60000) {
    if (client.Socket().bytesToWrite() < chunk.size()) {
      client.Socket().write(chunk);
      sent += chunk.size();
    }
    QTest::qWait(0);
  }
  QVERIFY(client.Closed());
  QVERIFY2(sent < Body / 4, qPrintable(QString::number(sent)));
  QCOMPARE(server.Port() != 0, true);
  QCOMPARE(Answers(Exchange(server.Port(), "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n")).value(0).status, 200);
}

void MetricsServerTest::closesIdleAndSlowConnections() {
  // With a deadline of half a second: an idle client, one that sends its request a byte at a time
  // and never finishes, and one idle after its first answer are all closed; a prompt one is served.
  BoundedHttpServer bounded(BoundedHttpServer::Limits{500, 64, 8192});
  bounded.Serve("/metrics", {"text/plain", [] { return QByteArray("x 1\n"); }});
  QVERIFY(bounded.listen(QHostAddress::LocalHost, 0));

  Client idle(bounded.serverPort());
  Client slow(bounded.serverPort());
  Client kept(bounded.serverPort());
  QVERIFY(idle.Connected() && slow.Connected() && kept.Connected());
  kept.Send("GET /metrics HTTP/1.1\r\n\r\n");
  QVERIFY(kept.AnswersCame(1));
  QCOMPARE(Answers(kept.received).at(0).body, QByteArray("x 1\n"));

  const QByteArray request = "GET /metrics HTTP/1.1\r\nX-Fill: " + QByteArray(200, 'a') + "\r\n\r\n";
  QElapsedTimer clock;
  clock.start();
  qsizetype dripped = 0;
  while (slow.Socket().state() == QAbstractSocket::ConnectedState && clock.elapsed() < 20000) {
    slow.Send(request.mid(dripped++, 1));
    QTest::qWait(50);
  }
  QVERIFY(slow.Closed(1));
  QVERIFY(slow.received.isEmpty());
  QVERIFY(dripped < request.size());
  QVERIFY(idle.Closed());
  QVERIFY(kept.Closed());
  QTRY_COMPARE(bounded.Connections(), 0);
}

void MetricsServerTest::closesConnectionsBeyondTheLimit() {
  BoundedHttpServer bounded(BoundedHttpServer::Limits{60000, 3, 8192});
  bounded.Serve("/metrics", {"text/plain", [] { return QByteArray("x 1\n"); }});
  QVERIFY(bounded.listen(QHostAddress::LocalHost, 0));

  std::vector<std::unique_ptr<Client>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<Client>(bounded.serverPort()));
    QVERIFY(held.back()->Connected());
  }
  QTRY_COMPARE(bounded.Connections(), 3);
  // The fourth is closed at once, unanswered.
  Client extra(bounded.serverPort());
  extra.Send("GET /metrics HTTP/1.1\r\n\r\n");
  QVERIFY(extra.Closed());
  QVERIFY(extra.received.isEmpty());
  QCOMPARE(bounded.Connections(), 3);

  // Once one of them goes, a new client is served.
  held.front()->Socket().abort();
  QTRY_COMPARE(bounded.Connections(), 2);
  const QList<Answer> answers =
      Answers(Exchange(bounded.serverPort(), "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n"));
  QCOMPARE(answers.value(0).status, 200);
}

void MetricsServerTest::readsTheWebConfiguration_data() {
  QTest::addColumn<QByteArray>("content"); // null: no file
  QTest::addColumn<QString>("error");      // what the one error line says; empty: read
  QTest::addColumn<bool>("tls");
  QTest::addColumn<int>("users");

  const QByteArray tls = "tls_server_config:\n  cert_file: server.pem\n  key_file: server.key\n";
  const QByteArray users = QByteArray("basic_auth_users:\n  prometheus: ") + SecretHash + "\n";
  QTest::newRow("empty file") << QByteArray("") << QString() << false << 0;
  QTest::newRow("TLS and users") << tls + users << QString() << true << 1;
  QTest::newRow("TLS 1.3 at least") << tls + "  min_version: TLS13\n" << QString() << true << 0;
  QTest::newRow("users only, quoted") << QByteArray("basic_auth_users:\n  'a b': \"") + SecretHash +
                                             "\"\n  c: " + SecretHash + "\n"
                                      << QString() << false << 2;
  QTest::newRow("empty parts") << QByteArray("tls_server_config:\nbasic_auth_users: ~\n") << QString() << false << 0;
  QTest::newRow("no file") << QByteArray() << QStringLiteral(": cannot read it") << false << 0;
  QTest::newRow("not YAML") << QByteArray("tls_server_config: [a,\n") << QStringLiteral(")") << false << 0;
  QTest::newRow("a list") << QByteArray("- a\n- b\n") << QStringLiteral("the file must be a mapping of names to values")
                          << false << 0;
  QTest::newRow("unknown part") << QByteArray("http_server_config:\n  http2: true\n")
                                << QStringLiteral("line 2: http_server_config is not supported") << false << 0;
  QTest::newRow("client certificates") << tls + "  client_ca_file: ca.pem\n"
                                       << QStringLiteral("line 4: tls_server_config: client_ca_file is not supported")
                                       << false << 0;
  QTest::newRow("old TLS") << tls + "  min_version: TLS11\n"
                           << QStringLiteral("min_version must be TLS12 or TLS13") << false << 0;
  QTest::newRow("certificate without key")
      << QByteArray("tls_server_config:\n  cert_file: server.pem\n")
      << QStringLiteral("tls_server_config needs both cert_file and key_file") << false << 0;
  QTest::newRow("missing certificate") << QByteArray(
                                              "tls_server_config:\n  cert_file: no.pem\n  key_file: server.key\n")
                                       << QStringLiteral("no.pem") << false << 0;
  QTest::newRow("key of another certificate")
      << QByteArray("tls_server_config:\n  cert_file: server.pem\n  key_file: selfsigned.key\n")
      << QStringLiteral("does not belong to the certificate in ") << false << 0;
  QTest::newRow("key file is a certificate")
      << QByteArray("tls_server_config:\n  cert_file: server.pem\n  key_file: server.pem\n")
      << QStringLiteral("holds no PEM private key (RSA, EC or DSA)") << false << 0;
  QTest::newRow("plain password") << QByteArray("basic_auth_users:\n  prometheus: s3cret\n")
                                  << QStringLiteral("the password of prometheus is not a bcrypt hash ($2b$ or $2y$)")
                                  << false << 0;
  QTest::newRow("user twice") << users + "  prometheus: " + SecretHash + "\n"
                              << QStringLiteral("line 3: prometheus is given twice") << false << 0;
  QTest::newRow("name with a colon") << QByteArray("basic_auth_users:\n  'a:b': ") + SecretHash + "\n"
                                     << QStringLiteral("a user name must not be empty or hold \":\"") << false << 0;
}

void MetricsServerTest::readsTheWebConfiguration() {
  QFETCH(QByteArray, content);
  QFETCH(QString, error);
  QFETCH(bool, tls);
  QFETCH(int, users);

  // The configuration names its files relative to its own folder.
  QTemporaryDir folder;
  for (const char* name : {"server.pem", "server.key", "selfsigned.key"})
    QVERIFY(QFile::copy(LoopbackServer::TlsFixture(QLatin1String(name)), folder.filePath(QLatin1String(name))));
  const QString path = folder.filePath(QStringLiteral("web.yml"));
  if (!content.isNull())
    QVERIFY(WriteFile(path, content));

  WebConfig config;
  QString said;
  const bool read = WebConfig::Load(path, &config, &said);
  if (error.isEmpty()) {
    QVERIFY2(read, qPrintable(said));
  } else {
    QVERIFY(!read);
    QVERIFY2(said.startsWith(QStringLiteral("--web-config ") + path) && said.contains(error) && !said.contains('\n'),
             qPrintable(said));
  }
  QCOMPARE(!config.tls.isNull(), tls);
  QCOMPARE(config.users.size(), users);
}

void MetricsServerTest::asksForTheConfiguredAccess_data() {
  QTest::addColumn<QByteArray>("authorization"); // the header's value; empty: no header
  QTest::addColumn<int>("status");

  const auto basic = [](const QByteArray& pair) { return "Basic " + pair.toBase64(); };
  QTest::newRow("none") << QByteArray() << 401;
  QTest::newRow("right") << basic("prometheus:s3cret") << 200;
  QTest::newRow("right again, remembered") << basic("prometheus:s3cret") << 200;
  QTest::newRow("scheme in lower case") << "basic " + QByteArray("prometheus:s3cret").toBase64() << 200;
  QTest::newRow("wrong password") << basic("prometheus:s3cre") << 401;
  QTest::newRow("unknown user") << basic("grafana:s3cret") << 401;
  QTest::newRow("no colon") << basic("prometheus") << 401;
  QTest::newRow("not base64") << QByteArray("Basic ***") << 401;
  QTest::newRow("other scheme") << QByteArray("Bearer abc") << 401;
}

void MetricsServerTest::asksForTheConfiguredAccess() {
  QFETCH(QByteArray, authorization);
  QFETCH(int, status);

  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("web.yml"));
  QVERIFY(WriteFile(
      path, "tls_server_config:\n  cert_file: " + LoopbackServer::TlsFixture(QStringLiteral("server.pem")).toUtf8() +
                "\n  key_file: " + LoopbackServer::TlsFixture(QStringLiteral("server.key")).toUtf8() +
                "\nbasic_auth_users:\n  prometheus: " + SecretHash + "\n"));
  WebConfig config;
  QString error;
  QVERIFY2(WebConfig::Load(path, &config, &error), qPrintable(error));
  MetricsServer secure(metrics);
  secure.Use(config);
  QVERIFY2(secure.Listen(QStringLiteral("127.0.0.1"), 0, &error), qPrintable(error));
  QCOMPARE(secure.Scheme(), QStringLiteral("https"));

  QByteArray request = "GET /metrics HTTP/1.1\r\nConnection: close\r\n";
  if (!authorization.isEmpty())
    request += "Authorization: " + authorization + "\r\n";
  const QList<Answer> answers = Answers(Exchange(secure.Port(), request + "\r\n", true));
  QCOMPARE(answers.size(), 1);
  QCOMPARE(answers.at(0).status, status);
  QCOMPARE(answers.at(0).body.startsWith("# HELP"), status == 200);
  if (status == 401)
    QCOMPARE(answers.at(0).Header("www-authenticate"), QByteArray("Basic"));

  // Plain HTTP to it is not answered.
  QVERIFY(Answers(Exchange(secure.Port(), "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n")).isEmpty());
}

QTEST_GUILESS_MAIN(MetricsServerTest)
#include "tst_metricsserver.moc"
