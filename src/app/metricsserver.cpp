#include "app/metricsserver.h"

#include "results/metricsregistry.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>

MetricsServer::MetricsServer(const MetricsRegistry& metrics, QObject* parent)
    : QObject(parent), metrics(metrics), server(std::make_unique<QHttpServer>()) {
  server->route(QStringLiteral("/metrics"), [this] {
    return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                               this->metrics.Exposition());
  });
}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::Listen(const QString& host, quint16 wanted, QString* error) {
  QHostAddress address;
  if (host == QLatin1String("localhost"))
    address = QHostAddress(QHostAddress::LocalHost);
  else if (!address.setAddress(host)) {
    *error = QStringLiteral("cannot serve metrics on %1: not an IP address").arg(host);
    return false;
  }
  port = server->listen(address, wanted);
  if (port == 0) {
    *error = QStringLiteral("cannot serve metrics on %1 port %2 (in use, or not an address of this machine)")
                 .arg(host)
                 .arg(wanted);
    return false;
  }
  return true;
}
