#include "fakevendor.h"

namespace {
QString Decoded(const LoopbackRequest& request, const QString& name) {
  return request.query.queryItemValue(name, QUrl::FullyDecoded);
}
} // namespace

FakeVendor::FakeVendor(QObject* parent) : QObject(parent) {
  server.Handle(QStringLiteral("/cgi-bin/tarvik/ref.cgi"), [this](const LoopbackRequest& request) {
    rawQueries << request.url.query(QUrl::FullyEncoded);
    if (request.query.hasQueryItem(QStringLiteral("k"))) {
      const QString value = Decoded(request, QStringLiteral("k"));
      queries << value;
      if (!queryAnswers.isEmpty())
        return queryAnswers.dequeue();
      return queryHandler ? queryHandler(value) : queryDefault;
    }
    if (request.query.hasQueryItem(QStringLiteral("p"))) {
      const QString value = Decoded(request, QStringLiteral("p"));
      reports << value;
      if (!reportAnswers.isEmpty())
        return reportAnswers.dequeue();
      return reportHandler ? reportHandler(value) : reportDefault;
    }
    return LoopbackResponse{"Bad request", 400};
  });
}

QString FakeVendor::BaseUrl() const {
  return server.BaseUrl() + QLatin1Char('/');
}

void FakeVendor::Clear() {
  queryAnswers.clear();
  reportAnswers.clear();
  queryHandler = nullptr;
  reportHandler = nullptr;
  queryDefault = LoopbackResponse{"voknog"};
  reportDefault = LoopbackResponse{"ok"};
  queries.clear();
  reports.clear();
  rawQueries.clear();
  server.ClearRequests();
}

FakeWhois::FakeWhois(QObject* parent) : QObject(parent) {
  server.Handle(QStringLiteral("/cgi/whois"), [this](const LoopbackRequest& request) {
    rawQueries << request.url.query(QUrl::FullyEncoded);
    const QString name = Decoded(request, QStringLiteral("whois_nic"));
    lookups << name;
    types << Decoded(request, QStringLiteral("type"));
    const auto found = records.constFind(name);
    if (found != records.constEnd())
      return *found;
    return handler ? handler(name) : defaultAnswer;
  });
}

QString FakeWhois::BaseUrl() const {
  return server.BaseUrl() + QLatin1Char('/');
}

QByteArray FakeWhois::Record(const QStringList& nameServers, const QByteArray& lineEnd, const QByteArray& indent) {
  QByteArray text = indent + "Domain Name: EXAMPLE" + lineEnd;
  for (const QString& nameServer : nameServers)
    text += indent + "Name Server: " + nameServer.toUtf8() + lineEnd;
  text += indent + "DNSSEC: unsigned" + lineEnd;
  return text;
}

void FakeWhois::Clear() {
  records.clear();
  handler = nullptr;
  defaultAnswer = LoopbackResponse{"No match for domain.\n"};
  lookups.clear();
  types.clear();
  rawQueries.clear();
  server.ClearRequests();
}
