#include "app/metricsserver.h"

#include "app/basicauth.h"
#include "app/boundedhttpserver.h"
#include "app/webconfig.h"
#include "results/metricsregistry.h"

MetricsServer::MetricsServer(const MetricsRegistry& metrics, QObject* parent)
    : QObject(parent), metrics(metrics), server(std::make_unique<BoundedHttpServer>()) {
  server->Serve("/metrics",
                {"text/plain; version=0.0.4; charset=utf-8", [this] { return this->metrics.Exposition(); }});
}

MetricsServer::~MetricsServer() = default;

void MetricsServer::Use(const WebConfig& access) {
  if (!access.tls.isNull())
    server->UseTls(access.tls);
  if (!access.users.isEmpty())
    server->UseBasicAuth(std::make_shared<BasicAuth>(access.users));
}

QString MetricsServer::Scheme() const {
  return server->Tls() ? QStringLiteral("https") : QStringLiteral("http");
}

bool MetricsServer::Listen(const QString& host, quint16 wanted, QString* error) {
  if (host == QLatin1String("localhost"))
    address = QHostAddress(QHostAddress::LocalHost);
  else if (!address.setAddress(host)) {
    *error = QStringLiteral("cannot serve metrics on %1: not an IP address").arg(host);
    return false;
  }
  if (!server->listen(address, wanted)) {
    *error = QStringLiteral("cannot serve metrics on %1 port %2 (in use, or not an address of this machine)")
                 .arg(host)
                 .arg(wanted);
    return false;
  }
  port = server->serverPort();
  return true;
}
