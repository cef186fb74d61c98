#pragma once

// A web server on 127.0.0.1 that misbehaves on purpose, for tests of what the client and the engine
// do when a site answers badly or not at all.
//
// It serves from a thread of its own, so it keeps answering (or keeps stalling) whatever the test's
// thread is doing, and a fast stream is not slowed down by the client it feeds.
//
//   HostileServer flood(HostileServer::Mode::Flood);
//   client.OpenUrl(flood.Url("/vok.txt"));   // 1 GiB of body, streamed as fast as it is read
//   QCOMPARE(flood.ConnectionCount(), 1);

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

class HostileServer : public QObject {
  Q_OBJECT
public:
  enum class Mode {
    Silent,         // reads the request, never answers, keeps the connection open
    Trickle,        // answers 200 with a Content-Length of 1000, then sends one byte per second
    Flood,          // answers 200 with a body of FloodBytes "x", written as fast as the peer reads
    ResetMidBody,   // answers 200 promising 100000 bytes, sends 1000, then resets the connection (RST)
    NotHttp,        // greets with "SSH-2.0-xyz\r\n" as soon as a connection arrives, then closes
    RedirectLoop,   // answers every request with 302 and a Location of the request's own path
    PlainHttp,      // a plain web server: "vok\r\n" for a GET, 400 and close for anything else
    EndlessHeaders, // answers a status line, then header lines as fast as the peer reads, never a body
  };

  static constexpr qint64 FloodBytes = qint64(1) << 30;

  explicit HostileServer(Mode mode, QObject* parent = nullptr);
  ~HostileServer() override;

  quint16 Port() const { return port; }
  // "http://127.0.0.1:<port>", no trailing slash.
  QString BaseUrl() const;
  // "<scheme>://127.0.0.1:<port>" + path.
  QString Url(const QString& path, const QString& scheme = QStringLiteral("http")) const;

  // Connections accepted so far.
  int ConnectionCount() const { return connections.load(); }
  // Connections not closed yet (by either side).
  int OpenConnectionCount() const { return open.load(); }
  // Body bytes written so far over every connection.
  qint64 BodyBytesSent() const { return bodyBytes.load(); }

private:
  class Worker;
  QThread thread;
  Worker* worker = nullptr;
  quint16 port = 0;
  std::atomic<int> connections{0};
  std::atomic<int> open{0};
  std::atomic<qint64> bodyBytes{0};
};
