#include "hostileserver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

constexpr qint64 ChunkBytes = 64 * 1024;
constexpr qint64 HighWaterBytes = 4 * ChunkBytes; // most bytes queued in the socket at a time
constexpr int TrickleBytes = 1000;
constexpr int ResetPromisedBytes = 100000;
constexpr int ResetSentBytes = 1000;

QByteArray Head(int status, const QByteArray& reason, qint64 length, const QByteArray& extra = {}) {
  return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: text/plain\r\n" +
         "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n" + extra + "\r\n";
}

// The path of a request's first line ("GET /a/b HTTP/1.1" gives "/a/b").
QByteArray RequestPath(const QByteArray& request) {
  const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
  return words.size() >= 2 ? words.at(1) : QByteArray("/");
}

} // namespace

// Lives in the server's thread: the listening socket and every connection.
class HostileServer::Worker : public QObject {
public:
  Worker(HostileServer::Mode mode, std::atomic<int>& connections, std::atomic<int>& open,
         std::atomic<qint64>& bodyBytes)
      : mode(mode), connections(connections), open(open), bodyBytes(bodyBytes) {}

  quint16 Listen() {
    tcp = new QTcpServer(this);
    QObject::connect(tcp, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = tcp->nextPendingConnection())
        Accept(socket);
    });
    return tcp->listen(QHostAddress::LocalHost, 0) ? tcp->serverPort() : 0;
  }

private:
  void Accept(QTcpSocket* socket) {
    ++connections;
    ++open;
    QObject::connect(socket, &QObject::destroyed, [this] { --open; });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (mode == Mode::NotHttp) {
      // Such a server speaks first, then gives up on a peer that does not answer in its protocol.
      socket->write("SSH-2.0-xyz\r\n");
      socket->disconnectFromHost();
      return;
    }
    auto* request = new QByteArray;
    QObject::connect(socket, &QObject::destroyed, [request] { delete request; });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
      const bool answered = request->contains("\r\n\r\n") || request->size() > 64 * 1024;
      *request += socket->readAll();
      if (answered)
        return;
      if (mode == Mode::PlainHttp && !request->startsWith(QByteArray("GET ").left(request->size()))) {
        // Not a request at all (a TLS greeting, say): what a plain web server does with that.
        request->append("\r\n\r\n");
        socket->write(Head(400, "Bad Request", 0));
        socket->disconnectFromHost();
        return;
      }
      if (request->contains("\r\n\r\n"))
        Answer(socket, *request);
    });
  }

  void Answer(QTcpSocket* socket, const QByteArray& request) {
    switch (mode) {
    case Mode::Silent:
    case Mode::NotHttp: return;
    case Mode::Trickle: {
      socket->write(Head(200, "OK", TrickleBytes));
      auto* timer = new QTimer(socket);
      auto sent = std::make_shared<int>(0);
      QObject::connect(timer, &QTimer::timeout, socket, [this, socket, timer, sent] {
        socket->write("v");
        ++bodyBytes;
        if (++*sent == TrickleBytes) {
          timer->stop();
          socket->disconnectFromHost();
        }
      });
      timer->start(1000);
      return;
    }
    case Mode::Flood: {
      socket->write(Head(200, "OK", FloodBytes));
      auto sent = std::make_shared<qint64>(0);
      auto pump = [this, socket, sent] {
        static const QByteArray chunk(ChunkBytes, 'x');
        while (*sent < FloodBytes && socket->bytesToWrite() < HighWaterBytes) {
          const qint64 n = qMin(ChunkBytes, FloodBytes - *sent);
          socket->write(chunk.constData(), n);
          *sent += n;
          bodyBytes += n;
        }
        if (*sent == FloodBytes && socket->bytesToWrite() == 0)
          socket->disconnectFromHost();
      };
      QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
      pump();
      return;
    }
    case Mode::EndlessHeaders: {
      socket->write("HTTP/1.1 200 OK\r\n");
      auto pump = [socket] {
        static const QByteArray lines = [] {
          QByteArray line = "X-Padding: " + QByteArray(1000, 'h') + "\r\n";
          return line.repeated(64);
        }();
        while (socket->bytesToWrite() < HighWaterBytes)
          socket->write(lines);
      };
      QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
      pump();
      return;
    }
    case Mode::ResetMidBody: {
      socket->write(Head(200, "OK", ResetPromisedBytes));
      socket->write(QByteArray(ResetSentBytes, 'x'));
      bodyBytes += ResetSentBytes;
      // Once the part of the body is on its way, close with SO_LINGER 0: the peer gets an RST.
      QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() > 0)
          return;
        const struct linger hard = {1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
        socket->deleteLater();
      });
      return;
    }
    case Mode::RedirectLoop:
      socket->write(Head(302, "Found", 0, "Location: " + RequestPath(request) + "\r\n"));
      socket->disconnectFromHost();
      return;
    case Mode::PlainHttp:
      socket->write(Head(200, "OK", 5) + "vok\r\n");
      bodyBytes += 5;
      socket->disconnectFromHost();
      return;
    }
  }

  HostileServer::Mode mode;
  std::atomic<int>& connections;
  std::atomic<int>& open;
  std::atomic<qint64>& bodyBytes;
  QTcpServer* tcp = nullptr;
};

HostileServer::HostileServer(Mode mode, QObject* parent) : QObject(parent) {
  thread.setObjectName(QStringLiteral("HostileServer"));
  thread.start();
  worker = new Worker(mode, connections, open, bodyBytes);
  worker->moveToThread(&thread);
  QMetaObject::invokeMethod(
      worker, [this] { port = worker->Listen(); }, Qt::BlockingQueuedConnection);
}

HostileServer::~HostileServer() {
  QMetaObject::invokeMethod(
      worker, [this] { delete worker; }, Qt::BlockingQueuedConnection);
  thread.quit();
  thread.wait();
}

QString HostileServer::BaseUrl() const {
  return Url(QString());
}

QString HostileServer::Url(const QString& path, const QString& scheme) const {
  return scheme + QStringLiteral("://127.0.0.1:") + QString::number(port) + path;
}
