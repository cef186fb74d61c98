#pragma once

#include <QObject>
#include <QString>

#include <memory>

class MetricsRegistry;
class QHttpServer;

// Serves the figures of a MetricsRegistry to Prometheus: GET /metrics answers the text exposition
// format; any other path answers 404.
class MetricsServer : public QObject {
  Q_OBJECT
public:
  explicit MetricsServer(const MetricsRegistry& metrics, QObject* parent = nullptr);
  ~MetricsServer() override;

  // Listens on host (an IPv4 or IPv6 address, or "localhost") and port (0: any free port). False
  // with `error` set when it cannot.
  bool Listen(const QString& host, quint16 port, QString* error);
  // The port it listens on; 0 before Listen() succeeded.
  quint16 Port() const { return port; }

private:
  const MetricsRegistry& metrics;
  std::unique_ptr<QHttpServer> server;
  quint16 port = 0;
};
