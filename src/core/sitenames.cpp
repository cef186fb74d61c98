#include "core/sitenames.h"

#include <QHash>
#include <QUrl>

#include <array>
#include <vector>

namespace SiteNames {

namespace {

constexpr int Steps = 5;

std::array<QString, Steps> Candidates(const QString& address) {
  const QUrl url(address, QUrl::TolerantMode);
  QString host = url.host();
  if (!url.isValid() || host.isEmpty())
    return {address, address, address, address, address};
  if (host.contains(QLatin1Char(':')))
    host = QLatin1Char('[') + host + QLatin1Char(']'); // an IPv6 address, as written in an address
  const QString withPort = url.port() >= 0 ? host + QLatin1Char(':') + QString::number(url.port()) : host;
  QString path = url.path(QUrl::FullyDecoded);
  while (path.endsWith(QLatin1Char('/')))
    path.chop(1);
  QString withPath = withPort + path;
  if (url.hasQuery())
    withPath += QLatin1Char('?') + url.query(QUrl::FullyDecoded);
  const QString withScheme = url.scheme().isEmpty() ? withPath : url.scheme() + QStringLiteral("://") + withPath;
  return {host, withPort, withPath, withScheme, address};
}

} // namespace

QStringList Shortest(const QStringList& urls) {
  std::vector<std::array<QString, Steps>> candidates;
  candidates.reserve(size_t(urls.size()));
  for (const QString& url : urls)
    candidates.push_back(Candidates(url));
  std::array<QHash<QString, int>, Steps> uses;
  for (const auto& names : candidates)
    for (int step = 0; step < Steps; ++step)
      ++uses[size_t(step)][names[size_t(step)]];
  QStringList names;
  for (size_t i = 0; i < candidates.size(); ++i) {
    QString name = urls.at(qsizetype(i));
    for (int step = 0; step < Steps; ++step)
      if (uses[size_t(step)].value(candidates[i][size_t(step)]) == 1) {
        name = candidates[i][size_t(step)];
        break;
      }
    names << name;
  }
  return names;
}

} // namespace SiteNames
