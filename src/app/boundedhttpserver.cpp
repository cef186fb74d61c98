#include "app/boundedhttpserver.h"

#include "app/basicauth.h"

#include <QList>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include <cctype>

#include <unistd.h>

namespace {

// What a request head says, as far as the server needs it.
struct Request {
  int refusal = 0; // a status that refuses the request before anything else, or 0
  QByteArray method;
  QByteArray path;
  QByteArray authorization;
  bool keepAlive = true;
};

bool IsToken(QByteArrayView text) {
  if (text.isEmpty())
    return false;
  for (const char c : text)
    if (c <= ' ' || c >= 127 || QByteArrayView("\"(),/:;<=>?@[\\]{}").contains(c))
      return false;
  return true;
}

// Where the head in `bytes` ends (after its empty line), or -1 when it has not ended yet. Lines end
// in CR LF, or in LF alone as lenient servers accept.
qsizetype HeadEnd(const QByteArray& bytes) {
  for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1)) {
    if (at + 1 < bytes.size() && bytes.at(at + 1) == '\n')
      return at + 2;
    if (at + 2 < bytes.size() && bytes.at(at + 1) == '\r' && bytes.at(at + 2) == '\n')
      return at + 3;
  }
  return -1;
}

Request Parse(const QByteArray& head) {
  Request request;
  QList<QByteArray> lines = head.split('\n');
  for (QByteArray& line : lines)
    if (line.endsWith('\r'))
      line.chop(1);
  while (!lines.isEmpty() && lines.constLast().isEmpty())
    lines.removeLast();

  const QList<QByteArray> parts = lines.value(0).split(' ');
  if (parts.size() != 3 || !IsToken(parts.at(0)) || parts.at(1).isEmpty()) {
    request.refusal = 400;
    return request;
  }
  request.method = parts.at(0);
  const QByteArray& version = parts.at(2);
  if (version == "HTTP/1.1") {
    request.keepAlive = true;
  } else if (version == "HTTP/1.0") {
    request.keepAlive = false;
  } else {
    const bool http = version.size() == 8 && version.startsWith("HTTP/") && version.at(6) == '.' &&
                      std::isdigit(static_cast<unsigned char>(version.at(5))) &&
                      std::isdigit(static_cast<unsigned char>(version.at(7)));
    request.refusal = http ? 505 : 400;
    return request;
  }

  // The target: a path ("/metrics?x=1") or a whole address ("http://host:port/metrics").
  QByteArray target = parts.at(1);
  if (!target.startsWith('/') && target != "*") {
    const qsizetype scheme = target.indexOf("://");
    const qsizetype slash = scheme > 0 ? target.indexOf('/', scheme + 3) : -1;
    if (slash < 0) {
      request.refusal = 400;
      return request;
    }
    target = target.mid(slash);
  }
  const qsizetype query = target.indexOf('?');
  request.path = query < 0 ? target : target.left(query);

  bool sized = false;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray& line = lines.at(i);
    const qsizetype colon = line.indexOf(':');
    // A folded line (starting with a blank) or a name with blanks is not accepted.
    if (colon <= 0 || !IsToken(QByteArrayView(line).first(colon))) {
      request.refusal = 400;
      return request;
    }
    const QByteArray name = line.left(colon).toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
      bool ok = false;
      const qlonglong length = value.toLongLong(&ok);
      if (!ok || length < 0 || sized) {
        request.refusal = 400;
        return request;
      }
      sized = true;
      if (length > 0)
        request.refusal = 413;
    } else if (name == "transfer-encoding") {
      request.refusal = 413;
    } else if (name == "authorization") {
      request.authorization = value;
    } else if (name == "connection") {
      for (const QByteArray& option : value.toLower().split(','))
        if (option.trimmed() == "close")
          request.keepAlive = false;
    }
  }
  return request;
}

QByteArray Reason(int status) {
  switch (status) {
  case 200: return "OK";
  case 400: return "Bad Request";
  case 401: return "Unauthorized";
  case 404: return "Not Found";
  case 405: return "Method Not Allowed";
  case 413: return "Content Too Large";
  case 431: return "Request Header Fields Too Large";
  case 505: return "HTTP Version Not Supported";
  default: return "Error";
  }
}

} // namespace

// One accepted connection: reads one request head at a time, answers it, and goes on with the next
// once the answer has been taken. It deletes itself when the connection ends.
class HttpConnection : public QObject {
public:
  HttpConnection(BoundedHttpServer& server, QTcpSocket* socket) : QObject(&server), server(server), socket(socket) {
    ++server.connections;
    socket->setParent(this);
    // Qt reads no more than one head ahead of what has been answered; the rest stays with the system.
    socket->setReadBufferSize(server.limits.maxHeadBytes + 1);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &HttpConnection::End);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::Go);
    connect(socket, &QTcpSocket::bytesWritten, this, &HttpConnection::Written);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::End);
    connect(socket, &QTcpSocket::errorOccurred, this, &HttpConnection::End);
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
      connect(tls, &QSslSocket::encryptedBytesWritten, this, &HttpConnection::Written);
      tls->startServerEncryption();
    }
    deadline.start(server.limits.timeoutMs);
  }
  ~HttpConnection() override { --server.connections; }

private:
  // Reads and answers requests until one is being answered or no whole head has come yet.
  void Go() {
    while (!answering && !ending) {
      while (pending.startsWith("\r\n") || pending.startsWith('\n'))
        pending.remove(0, pending.startsWith('\n') ? 1 : 2);
      const qsizetype end = HeadEnd(pending);
      if (end > server.limits.maxHeadBytes || (end < 0 && pending.size() > server.limits.maxHeadBytes)) {
        Answer(431, {}, {}, false, false);
        return;
      }
      if (end >= 0) {
        const QByteArray head = pending.left(end);
        pending.remove(0, end);
        Handle(Parse(head));
        continue;
      }
      const QByteArray more = socket->read(server.limits.maxHeadBytes + 1 - pending.size());
      if (more.isEmpty())
        return;
      pending += more;
    }
  }

  void Handle(const Request& request) {
    if (request.refusal != 0) {
      Answer(request.refusal, {}, {}, false, false);
      return;
    }
    answering = true;
    if (!server.auth) {
      Respond(request);
      return;
    }
    server.auth->Check(request.authorization, this, [this, request](bool allowed) {
      if (allowed)
        Respond(request);
      else
        Answer(401, "WWW-Authenticate: Basic\r\n", {}, request.method == "HEAD", request.keepAlive);
    });
  }

  void Respond(const Request& request) {
    const bool head = request.method == "HEAD";
    if (request.method != "GET" && !head) {
      Answer(405, "Allow: GET, HEAD\r\n", {}, false, request.keepAlive);
      return;
    }
    const auto found = server.resources.constFind(request.path);
    if (found == server.resources.cend()) {
      Answer(404, {}, {}, head, request.keepAlive);
      return;
    }
    Answer(200, "Content-Type: " + found->contentType + "\r\n", found->body(), head, request.keepAlive);
  }

  // Sends the answer; the connection is closed once it has been taken unless `keepAlive`. An error
  // status without a body of its own says its reason.
  void Answer(int status, const QByteArray& headers, QByteArray body, bool head, bool keepAlive) {
    if (ending)
      return;
    answering = true;
    closeAfter = !keepAlive;
    QByteArray fields = headers;
    if (status != 200) {
      body = QByteArray::number(status) + ' ' + Reason(status) + '\n';
      fields += "Content-Type: text/plain; charset=utf-8\r\n";
    }
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) + "\r\n" + fields +
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\n" +
                      (closeAfter ? "Connection: close\r\n" : "") + "\r\n";
    if (!head)
      text += body;
    socket->write(text);
    deadline.start(server.limits.timeoutMs); // to take the answer
  }

  // A socket tells of written bytes from inside its own work (a TLS socket before the encrypted
  // bytes have reached the system): whether the answer has gone is looked at afterwards.
  void Written() {
    if (answering && !ending)
      QMetaObject::invokeMethod(this, &HttpConnection::Taken, Qt::QueuedConnection);
  }

  void Taken() {
    if (!answering || ending || socket->bytesToWrite() > 0)
      return;
    if (auto* tls = qobject_cast<QSslSocket*>(socket); tls && tls->encryptedBytesToWrite() > 0)
      return;
    answering = false;
    if (closeAfter) {
      End();
      return;
    }
    deadline.start(server.limits.timeoutMs); // for the next request
    Go();
  }

  // The connection goes once control is back in the event loop: it may end from inside one of its
  // socket's signals, where a TLS socket must not be closed under its own feet. Whatever was written
  // has left with the system by then; what the client sent beyond is dropped. The deletion is asked
  // for from a queued call: a deleteLater() made straight from the deadline's timeout was left
  // pending by the headless mode's event loop (only a test's qWait() flushed it).
  void End() {
    if (ending)
      return;
    ending = true;
    deadline.stop();
    socket->disconnect(this);
    QMetaObject::invokeMethod(this, &QObject::deleteLater, Qt::QueuedConnection);
  }

  BoundedHttpServer& server;
  QTcpSocket* socket;
  QTimer deadline;
  QByteArray pending; // bytes read after the last request head
  bool answering = false;
  bool closeAfter = false;
  bool ending = false;
};

BoundedHttpServer::BoundedHttpServer(QObject* parent) : BoundedHttpServer(Limits{}, parent) {}

BoundedHttpServer::BoundedHttpServer(Limits limits, QObject* parent) : QTcpServer(parent), limits(limits) {
  // Out of descriptors (or memory) the server stops accepting; it tries again a second later.
  connect(this, &QTcpServer::acceptError, this,
          [this] { QTimer::singleShot(1000, this, &QTcpServer::resumeAccepting); });
}

BoundedHttpServer::~BoundedHttpServer() {
  // A connection counts itself off the server when it goes: it goes while the server is whole, not
  // among the children QObject's destructor deletes after this one has ended.
  const QObjectList all = children();
  for (QObject* child : all)
    if (auto* connection = dynamic_cast<HttpConnection*>(child))
      delete connection;
}

void BoundedHttpServer::Serve(const QByteArray& path, const Resource& resource) {
  resources.insert(path, resource);
}

void BoundedHttpServer::UseTls(const QSslConfiguration& configuration) {
  tls = configuration;
}

void BoundedHttpServer::UseBasicAuth(std::shared_ptr<BasicAuth> users) {
  auth = std::move(users);
}

void BoundedHttpServer::incomingConnection(qintptr descriptor) {
  if (connections >= limits.maxConnections) {
    ::close(int(descriptor));
    return;
  }
  QTcpSocket* socket = nullptr;
  if (!tls.isNull()) {
    auto* secure = new QSslSocket;
    secure->setSslConfiguration(tls);
    socket = secure;
  } else {
    socket = new QTcpSocket;
  }
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    ::close(int(descriptor));
    return;
  }
  new HttpConnection(*this, socket);
}
