#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

class BoundedHttpServer;
class MetricsRegistry;
struct WebConfig;

// Serves the figures of a MetricsRegistry to Prometheus: GET /metrics answers the text exposition
// format; any other path answers 404. The server is a BoundedHttpServer with its default limits;
// a web configuration adds TLS and basic auth.
class MetricsServer : public QObject {
  Q_OBJECT
public:
  explicit MetricsServer(const MetricsRegistry& metrics, QObject* parent = nullptr);
  ~MetricsServer() override;

  // Serves with the web configuration's TLS and users (call before Listen()).
  void Use(const WebConfig& access);
  // Listens on host (an IPv4 or IPv6 address, or "localhost") and port (0: any free port). False
  // with `error` set when it cannot.
  bool Listen(const QString& host, quint16 port, QString* error);
  // The port it listens on; 0 before Listen() succeeded.
  quint16 Port() const { return port; }
  // Whether other machines can reach it: it listens on an address other than a loopback one.
  bool Exposed() const { return port != 0 && !address.isLoopback(); }
  // "https" with TLS, else "http".
  QString Scheme() const;

private:
  const MetricsRegistry& metrics;
  std::unique_ptr<BoundedHttpServer> server;
  QHostAddress address;
  quint16 port = 0;
};
