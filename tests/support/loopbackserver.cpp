#include "loopbackserver.h"

#include "testcertificates.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray ReasonPhrase(int status) {
  switch (status) {
  case 200: return "OK";
  case 301: return "Moved Permanently";
  case 302: return "Found";
  case 303: return "See Other";
  case 307: return "Temporary Redirect";
  case 308: return "Permanent Redirect";
  case 400: return "Bad Request";
  case 403: return "Forbidden";
  case 404: return "Not Found";
  case 500: return "Internal Server Error";
  case 503: return "Service Unavailable";
  default: return "Status";
  }
}

QByteArray MethodName(QHttpServerRequest::Method method) {
  switch (method) {
  case QHttpServerRequest::Method::Get: return "GET";
  case QHttpServerRequest::Method::Put: return "PUT";
  case QHttpServerRequest::Method::Delete: return "DELETE";
  case QHttpServerRequest::Method::Post: return "POST";
  case QHttpServerRequest::Method::Head: return "HEAD";
  case QHttpServerRequest::Method::Options: return "OPTIONS";
  case QHttpServerRequest::Method::Patch: return "PATCH";
  case QHttpServerRequest::Method::Connect: return "CONNECT";
  case QHttpServerRequest::Method::Trace: return "TRACE";
  default: return "UNKNOWN";
  }
}

// Writes a whole answer and closes the connection once it has been sent.
void WriteAnswer(QTcpSocket* socket, const LoopbackResponse& response, bool withBody) {
  if (socket->state() != QAbstractSocket::ConnectedState)
    return;
  QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + ReasonPhrase(response.status) + "\r\n";
  head += "Content-Type: " + response.contentType + "\r\n";
  head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
  head += "Connection: close\r\n";
  for (const auto& [name, value] : response.headers)
    head += name + ": " + value + "\r\n";
  head += "\r\n";
  socket->write(head);
  if (withBody)
    socket->write(response.body);
  socket->disconnectFromHost();
}

} // namespace

QByteArray LoopbackRequest::Header(const QByteArray& name) const {
  for (const auto& [key, value] : headers)
    if (key.compare(name, Qt::CaseInsensitive) == 0)
      return value;
  return {};
}

bool LoopbackRequest::HasHeader(const QByteArray& name) const {
  for (const auto& header : headers)
    if (header.first.compare(name, Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

// Qt parses the requests; the answers are written by LoopbackServer::Answer, which can delay them.
class LoopbackServer::Server : public QAbstractHttpServer {
public:
  explicit Server(LoopbackServer* owner) : owner(owner) {}

protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    LoopbackRequest recorded;
    recorded.method = MethodName(request.method());
    recorded.url = request.url();
    recorded.path = request.url().path();
    recorded.query = request.query();
    recorded.headers = request.headers();
    recorded.body = request.body();
    recorded.clientPort = socket->peerPort();
    owner->Answer(recorded, socket);
    return true;
  }

  void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override {
    WriteAnswer(socket, LoopbackResponse{"Not found", 404}, true);
  }

private:
  LoopbackServer* owner;
};

LoopbackServer::LoopbackServer(LoopbackTls tls, QObject* parent)
    : QObject(parent), server(std::make_unique<Server>(this)), secure(tls != LoopbackTls::Off) {
  if (secure) {
    const QString name = tls == LoopbackTls::TestAuthority ? QStringLiteral("server") : QStringLiteral("selfsigned");
    QFile key(TlsFixture(name + QStringLiteral(".key")));
    if (!key.open(QIODevice::ReadOnly))
      qFatal("LoopbackServer: cannot read %s", qPrintable(key.fileName()));
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(QSslCertificate::fromPath(TlsFixture(name + QStringLiteral(".pem"))).value(0));
    config.setPrivateKey(QSslKey(&key, QSsl::Ec));
    ListenSecure(config);
    return;
  }
  tcp = new QTcpServer(this);
  if (tcp->listen(QHostAddress::LocalHost, 0))
    server->bind(tcp);
}

LoopbackServer::LoopbackServer(const TestCertificates& made, QObject* parent)
    : QObject(parent), server(std::make_unique<Server>(this)), secure(true) {
  QSslConfiguration config = QSslConfiguration::defaultConfiguration();
  config.setLocalCertificateChain(made.chain);
  config.setPrivateKey(made.key);
  ListenSecure(config);
}

void LoopbackServer::ListenSecure(const QSslConfiguration& config) {
  auto* sslServer = new QSslServer(this);
  sslServer->setSslConfiguration(config);
  tcp = sslServer;
  if (tcp->listen(QHostAddress::LocalHost, 0))
    server->bind(tcp);
}

LoopbackServer::~LoopbackServer() = default;

QString LoopbackServer::TlsFixture(const QString& name) {
  return QStringLiteral(TARVIK_TLS_FIXTURES "/") + name;
}

bool LoopbackServer::IsListening() const {
  return tcp->isListening();
}

quint16 LoopbackServer::Port() const {
  return tcp->serverPort();
}

QString LoopbackServer::BaseUrl() const {
  return QStringLiteral("%1://127.0.0.1:%2").arg(secure ? QStringLiteral("https") : QStringLiteral("http")).arg(Port());
}

QString LoopbackServer::Url(const QString& path) const {
  return BaseUrl() + path;
}

void LoopbackServer::Serve(const QString& path, const QByteArray& body, int delayMs, int status) {
  LoopbackResponse response;
  response.body = body;
  response.delayMs = delayMs;
  response.status = status;
  Serve(path, response);
}

void LoopbackServer::Serve(const QString& path, const LoopbackResponse& response) {
  Handle(path, [response](const LoopbackRequest&) { return response; });
}

void LoopbackServer::Handle(const QString& path, Handler handler) {
  handlers[path] = std::move(handler);
}

void LoopbackServer::Redirect(const QString& path, const QString& location, int status) {
  LoopbackResponse response;
  response.status = status;
  response.AddHeader("Location", location.toUtf8());
  Serve(path, response);
}

void LoopbackServer::Remove(const QString& path) {
  handlers.erase(path);
}

int LoopbackServer::RequestCount() const {
  return static_cast<int>(requests.size());
}

int LoopbackServer::RequestCount(const QString& path) const {
  int count = 0;
  for (const auto& request : requests)
    if (request.path == path)
      ++count;
  return count;
}

QList<LoopbackRequest> LoopbackServer::Requests() const {
  return requests;
}

LoopbackRequest LoopbackServer::LastRequest() const {
  return requests.isEmpty() ? LoopbackRequest{} : requests.last();
}

void LoopbackServer::ClearRequests() {
  requests.clear();
}

void LoopbackServer::Answer(const LoopbackRequest& request, QTcpSocket* socket) {
  requests.append(request);
  emit RequestReceived(request.path);

  const auto found = handlers.find(request.path);
  const LoopbackResponse response =
      found == handlers.end() ? LoopbackResponse{"Not found", 404} : found->second(request);
  const bool withBody = request.method != "HEAD";
  if (response.delayMs <= 0) {
    WriteAnswer(socket, response, withBody);
    return;
  }
  // The socket is the timer's context: a connection the client has closed meanwhile gets nothing.
  QTimer::singleShot(response.delayMs, Qt::PreciseTimer, socket,
                     [socket, response, withBody] { WriteAnswer(socket, response, withBody); });
}

quint16 LoopbackServer::UnusedPort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0))
    return 0;
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

// --- StallServer ---------------------------------------------------------------------------------

StallServer::StallServer(Mode mode, QObject* parent) : QObject(parent), mode(mode) {
  tcp = new QTcpServer(this);
  tcp->listen(QHostAddress::LocalHost, 0);
  connect(tcp, &QTcpServer::newConnection, this, &StallServer::Accept);
}

StallServer::~StallServer() = default;

void StallServer::SetMode(Mode next) {
  mode = next;
}

void StallServer::SetTrickle(int intervalMs, int totalBytes) {
  trickleIntervalMs = qMax(1, intervalMs);
  trickleBytes = qMax(1, totalBytes);
}

bool StallServer::IsListening() const {
  return tcp->isListening();
}

quint16 StallServer::Port() const {
  return tcp->serverPort();
}

QString StallServer::Url(const QString& path) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
}

int StallServer::ConnectionCount() const {
  return connections;
}

int StallServer::OpenConnectionCount() const {
  return open;
}

QByteArray StallServer::LastRequest() const {
  return lastRequest;
}

void StallServer::Accept() {
  while (QTcpSocket* socket = tcp->nextPendingConnection()) {
    ++connections;
    ++open;
    lastRequest.clear();
    socket->setParent(this);
    const Mode answer = mode;
    const int interval = trickleIntervalMs;
    const int total = trickleBytes;
    auto answered = std::make_shared<bool>(false);

    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      --open;
      socket->deleteLater();
    });
    connect(socket, &QTcpSocket::readyRead, this, [=, this] {
      lastRequest += socket->readAll();
      if (*answered || !lastRequest.contains("\r\n\r\n"))
        return;
      *answered = true;
      switch (answer) {
      case Mode::Silent: break;
      case Mode::CutAfterRequest: socket->abort(); break;
      case Mode::CutMidBody:
        socket->write(
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
            "Content-Length: 1000\r\n\r\n0123456789");
        socket->flush();
        socket->abort();
        break;
      case Mode::Trickle: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(total) +
                      "\r\n\r\n");
        auto* timer = new QTimer(socket);
        auto sent = std::make_shared<int>(0);
        connect(timer, &QTimer::timeout, socket, [socket, timer, sent, total] {
          socket->write("v");
          if (++*sent >= total) {
            timer->stop();
            socket->disconnectFromHost();
          }
        });
        timer->start(interval);
        break;
      }
      }
    });
  }
}
