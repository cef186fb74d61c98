#include "services/servicequery.h"

#include "core/module1.h"
#include "platform/httpclient.h"
#include "settings/settingsstore.h"

#include <QUrl>

namespace ServiceQuery {

QString QueryAddress(const QString& base, const QString& path, const QList<std::pair<QString, QString>>& items) {
  QByteArray query;
  for (const auto& [name, value] : items) {
    if (!query.isEmpty())
      query += '&';
    query += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
  }
  return base + path + QLatin1Char('?') + QString::fromLatin1(query);
}

QString QueryUrl(const QString& vendorUrl, const QString& accountId) {
  return QueryAddress(vendorUrl, QStringLiteral("cgi-bin/tarvik/ref.cgi"), {{QStringLiteral("k"), accountId}});
}

bool TakeAnswer(Module1& state, const QString& answer) {
  if (answer.isEmpty() || answer == QLatin1String("voknog"))
    return false;
  state.ServiceOk = true;
  QString rest = answer;
  for (int i = 0;; ++i) {
    if (i >= ServiceAnswer::FieldCount)
      return false; // a seventh field has no place
    const qsizetype bar = rest.indexOf(QLatin1Char('|'));
    if (bar < 0) {
      state.ServiceField.Field(i) = rest;
      return true;
    }
    state.ServiceField.Field(i) = rest.left(bar);
    rest = rest.mid(bar + 1);
    if (rest.isEmpty())
      return true;
  }
}

bool QueryService(Module1& state, HttpClient& client, const std::function<void(bool waiting)>& waiting) {
  if (waiting)
    waiting(true);
  // Events run while the request waits (the caller's switch may go off meanwhile).
  const FetchResult result = client.OpenUrl(QueryUrl(state.VendorURL, SettingsStore::GetAccountId()));
  if (waiting)
    waiting(false);
  // An error page, or an answer too long to be a record (only its start arrived), is no answer.
  if (!result.ok || result.status < 200 || result.status > 299 || result.truncated)
    return false;
  return TakeAnswer(state, result.body);
}

} // namespace ServiceQuery
