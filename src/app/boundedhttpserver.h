#pragma once

#include <QByteArray>
#include <QHash>
#include <QSslConfiguration>
#include <QTcpServer>

#include <functional>
#include <memory>

class BasicAuth;

// A small HTTP/1.1 server for texts the program exposes (the Prometheus metrics), made so that no
// client can hold it or grow it: every connection has a deadline, their number is capped, a request
// head is capped and a request body is never read. GET and HEAD only. With a TLS configuration every
// connection is TLS; with users every request must carry one's name and password (basic auth).
//
// A connection gets `timeoutMs` to deliver a complete request head, from its opening or from the end
// of the previous answer (a TLS handshake counts in the first), and as long again to take its
// answer; whatever is left then is closed. Requests sent one after another on a connection
// (pipelining) are answered in order, one at a time: the next is read once the answer before it
// has been taken.
class BoundedHttpServer : public QTcpServer {
  Q_OBJECT
public:
  struct Limits {
    int timeoutMs = 10000;
    int maxConnections = 64;       // more are closed as soon as they are accepted
    qsizetype maxHeadBytes = 8192; // request line and headers; more is answered 431
  };
  // The answer to a GET of one path.
  struct Resource {
    QByteArray contentType;
    std::function<QByteArray()> body;
  };

  explicit BoundedHttpServer(QObject* parent = nullptr);
  explicit BoundedHttpServer(Limits limits, QObject* parent = nullptr);
  ~BoundedHttpServer() override;

  // Answers GET and HEAD of `path` (the part of the target before any "?").
  void Serve(const QByteArray& path, const Resource& resource);
  // Every connection from now on is TLS with this configuration (certificate and key set).
  void UseTls(const QSslConfiguration& configuration);
  // From now on every request needs a name and password that `auth` accepts.
  void UseBasicAuth(std::shared_ptr<BasicAuth> auth);

  bool Tls() const { return !tls.isNull(); }
  int Connections() const { return connections; }

protected:
  void incomingConnection(qintptr descriptor) override;

private:
  friend class HttpConnection;

  Limits limits;
  QHash<QByteArray, Resource> resources;
  QSslConfiguration tls;
  std::shared_ptr<BasicAuth> auth;
  int connections = 0;
};
