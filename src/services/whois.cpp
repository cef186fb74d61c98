#include "services/whois.h"

#include "platform/numbers.h"

namespace Whois {

namespace {
const QString Scheme = QStringLiteral("http://");
const QString SecureScheme = QStringLiteral("https://");
const QString NameServerLabel = QStringLiteral("Name Server:");
// The value starts this many characters after the start of the label: the label and one separator.
constexpr qsizetype ValueOffset = 13;

} // namespace

std::optional<QString> LookupName(const QString& urlText) {
  QString name = urlText;
  qsizetype dots = 0;
  qsizetype digits = 0;
  for (qsizetype at = urlText.size() - 1; at >= 0; --at) {
    const QChar c = urlText.at(at);
    if (c == QLatin1Char('.')) {
      if (++dots == 2) {
        const qsizetype after = urlText.size() - at - 1;
        // Everything after this dot but the one dot between the last two labels is digits.
        if (digits == after - 1)
          return std::nullopt;
        name = urlText.mid(at + 1);
        break;
      }
    } else if (Numbers::IsDigit(c)) {
      ++digits;
    }
  }
  // Everything up to and including the first scheme goes, whichever of the two it is.
  const qsizetype plain = name.indexOf(Scheme);
  const qsizetype secure = name.indexOf(SecureScheme);
  if (secure >= 0 && (plain < 0 || secure < plain))
    name = name.mid(secure + SecureScheme.size());
  else if (plain >= 0)
    name = name.mid(plain + Scheme.size());
  return name;
}

NameServerList NameServers(const QString& text) {
  NameServerList list;
  QString* values[2] = {&list.first, &list.second};
  qsizetype from = 0;
  for (QString* value : values) {
    const qsizetype label = text.indexOf(NameServerLabel, from);
    if (label < 0)
      return {};
    const qsizetype lineFeed = text.indexOf(QLatin1Char('\n'), label);
    if (lineFeed < 0)
      return {};
    if (lineFeed - label < ValueOffset)
      return {NameServerList::Status::ShortLine, {}, {}};
    *value = text.mid(label + ValueOffset, lineFeed - label - ValueOffset);
    from = lineFeed + 1;
  }
  list.status = NameServerList::Status::Found;
  return list;
}

std::optional<QString> HostOf(const QString& nameServer) {
  const qsizetype dot = nameServer.indexOf(QLatin1Char('.'));
  if (dot < 0)
    return std::nullopt;
  return nameServer.mid(dot + 1);
}

} // namespace Whois
