#pragma once

// Fake servers on 127.0.0.1 for tests that talk HTTP.
//
// LoopbackServer: a small web site (Qt HTTP server) on a free port. Give it paths to serve, each with
// a body, a status and an added delay, or a handler that answers from the request. Every request it
// receives is recorded (method, path, query, headers, the client's port). Each answer closes its
// connection. Paths it does not know answer 404 with the body "Not found".
//
//   LoopbackServer site;
//   site.Serve("/vok.txt", "vok\r\n", 200);            // answer after 200 ms
//   client.OpenUrl(site.Url("/vok.txt"));
//   QCOMPARE(site.RequestCount("/vok.txt"), 1);
//
//   site.Handle("/cgi-bin/tarvik/ref.cgi", [](const LoopbackRequest& r) {
//     return LoopbackResponse{r.query.queryItemValue("k").toUtf8()};
//   });
//
// A LoopbackServer made with a LoopbackTls other than Off speaks HTTPS: with TestAuthority its
// certificate (for 127.0.0.1 and localhost) is signed by the local authority of the fixture file
// "ca.pem", which a client trusts after HttpClient::SetTrustStoreFile(TlsFixture("ca.pem"));
// with SelfSigned it is signed by nobody. The fixtures live in tests/support/tls, made by its
// make-certs.sh, valid until 2125. For a certificate whose validity depends on today (one that
// expires in five days), give it certificates made at run time (testcertificates.h).
//
//   LoopbackServer secure(LoopbackTls::TestAuthority);
//   secure.Serve("/vok.txt", "vok");
//   client.OpenUrl(secure.Url("/vok.txt"));           // https://127.0.0.1:<port>/vok.txt
//
// StallServer: a raw TCP server for the cases a web server cannot make: it accepts connections and
// then never answers (Silent), answers one byte at a time (Trickle), or cuts the connection
// (CutAfterRequest, CutMidBody).
//
//   StallServer stall(StallServer::Mode::Silent);
//   client.OpenUrl(stall.Url("/vok.txt"));             // waits until the time limit
//
// Both serve from the thread that creates them: the test's event loop must run (a synchronous
// fetch's own wait does that) for them to answer.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <map>
#include <memory>

class QSslConfiguration;
class QTcpServer;
class QTcpSocket;
struct TestCertificates;

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// What LoopbackServer answers.
struct LoopbackResponse {
  LoopbackResponse(QByteArray body = {}, int status = 200, int delayMs = 0)
      : body(std::move(body)), status(status), delayMs(delayMs) {}

  QByteArray body;
  int status = 200;
  int delayMs = 0; // added before the answer is sent
  QByteArray contentType = "text/plain; charset=utf-8";
  HeaderList headers; // extra header lines, e.g. Set-Cookie

  LoopbackResponse& AddHeader(const QByteArray& name, const QByteArray& value) {
    headers.append(qMakePair(name, value));
    return *this;
  }
};

// A request LoopbackServer received.
struct LoopbackRequest {
  QByteArray method; // "GET", "POST", ...
  QString path;      // decoded path, without the query
  QUrlQuery query;   // the query; queryItemValue(name, QUrl::FullyDecoded) gives the plain text
  QUrl url;          // as the server saw it
  HeaderList headers;
  QByteArray body;        // the request's body (a POST's)
  quint16 clientPort = 0; // the client's TCP port: different ports mean different connections

  // The value of a header (case-insensitive name); empty when it is absent.
  QByteArray Header(const QByteArray& name) const;
  bool HasHeader(const QByteArray& name) const;
};

enum class LoopbackTls { Off, TestAuthority, SelfSigned };

class LoopbackServer : public QObject {
  Q_OBJECT
public:
  using Handler = std::function<LoopbackResponse(const LoopbackRequest&)>;

  explicit LoopbackServer(LoopbackTls tls = LoopbackTls::Off, QObject* parent = nullptr);
  // HTTPS with certificates made at run time (TestCertificates): the server sends made.chain.
  explicit LoopbackServer(const TestCertificates& made, QObject* parent = nullptr);
  ~LoopbackServer() override;

  // The path of a TLS fixture file ("ca.pem", "server.pem", "server.key", "selfsigned.pem", ...).
  static QString TlsFixture(const QString& name);

  bool IsListening() const;
  quint16 Port() const;
  QString BaseUrl() const;                // "http://127.0.0.1:<port>" (https with TLS), no trailing slash
  QString Url(const QString& path) const; // BaseUrl() + path; path starts with "/"

  // Serves a fixed answer at path (the query is ignored when matching). A later call for the same
  // path replaces the earlier one.
  void Serve(const QString& path, const QByteArray& body, int delayMs = 0, int status = 200);
  void Serve(const QString& path, const LoopbackResponse& response);
  // Answers path from the request.
  void Handle(const QString& path, Handler handler);
  // Answers path with a redirect to location.
  void Redirect(const QString& path, const QString& location, int status = 302);
  void Remove(const QString& path);

  int RequestCount() const;
  int RequestCount(const QString& path) const;
  QList<LoopbackRequest> Requests() const;
  LoopbackRequest LastRequest() const; // a default LoopbackRequest when none arrived
  void ClearRequests();

  // A port on 127.0.0.1 that nobody listens on at the time of the call (connections are refused).
  static quint16 UnusedPort();

signals:
  // A request arrived (it is already recorded).
  void RequestReceived(const QString& path);

private:
  class Server;
  friend class Server;
  void Answer(const LoopbackRequest& request, QTcpSocket* socket);
  void ListenSecure(const QSslConfiguration& config);

  std::unique_ptr<Server> server;
  QTcpServer* tcp = nullptr;
  bool secure = false; // https
  std::map<QString, Handler> handlers;
  QList<LoopbackRequest> requests;
};

class StallServer : public QObject {
  Q_OBJECT
public:
  enum class Mode {
    Silent,          // reads the request, never answers, keeps the connection open
    Trickle,         // answers 200 with a Content-Length of TrickleBytes, then one byte per interval
    CutAfterRequest, // closes the connection as soon as the request has arrived
    CutMidBody,      // sends a header promising 1000 bytes, then 10 bytes, then closes
  };

  explicit StallServer(Mode mode = Mode::Silent, QObject* parent = nullptr);
  ~StallServer() override;

  void SetMode(Mode next);                         // for connections accepted from now on
  void SetTrickle(int intervalMs, int totalBytes); // default 100 ms, 1000 bytes

  bool IsListening() const;
  quint16 Port() const;
  QString Url(const QString& path = QStringLiteral("/")) const;

  int ConnectionCount() const;     // connections accepted so far
  int OpenConnectionCount() const; // connections the client has not closed yet
  QByteArray LastRequest() const;  // the raw bytes received on the latest connection

private:
  void Accept();

  QTcpServer* tcp = nullptr;
  Mode mode;
  int trickleIntervalMs = 100;
  int trickleBytes = 1000;
  int connections = 0;
  int open = 0;
  QByteArray lastRequest;
};
