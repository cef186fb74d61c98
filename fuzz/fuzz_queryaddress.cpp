// Query addresses: names and values (cut at unit separators, 0x1F, taken in pairs) percent-encoded
// after a base address and a path.
//
// Properties: the query holds nothing but letters, digits, "-._~", "%XX", "=" and "&", so no
// client or server can alter it; and the address, parsed as the HTTP client parses it, sent in its
// encoded form and read with QUrlQuery on the other side, gives back every name and value exactly,
// in order (see Fuzz::ReceivedQuery).
#include "core/module1.h"
#include "fuzzsupport.h"
#include "services/servicequery.h"

namespace {

bool Plain(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-' || u == u'.' ||
         u == u'_' || u == u'~';
}

bool IsHex(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QStringList pieces = Fuzz::Fields(Fuzz::Bytes(data, size), 8);
  QList<std::pair<QString, QString>> items;
  for (int i = 0; i + 1 < pieces.size(); i += 2) {
    // An empty name is never sent; stop at the first one, as long as one pair is left.
    if (pieces.at(i).isEmpty() && !items.isEmpty())
      break;
    items.append({pieces.at(i).isEmpty() ? QStringLiteral("p") : pieces.at(i), pieces.at(i + 1)});
  }

  const QString base = QStringLiteral("http://velmora.example/");
  const QString path = QStringLiteral("cgi-bin/tarvik/ref.cgi");
  const QString address = ServiceQuery::QueryAddress(base, path, items);
  FUZZ_CHECK(address.startsWith(base + path + QLatin1Char('?')), address);

  const QString query = address.mid(base.size() + path.size() + 1);
  for (qsizetype i = 0; i < query.size(); ++i) {
    const QChar c = query.at(i);
    if (c == QLatin1Char('%')) {
      FUZZ_CHECK(i + 2 < query.size() && IsHex(query.at(i + 1)) && IsHex(query.at(i + 2)), address);
      i += 2;
    } else {
      FUZZ_CHECK(Plain(c) || c == QLatin1Char('=') || c == QLatin1Char('&'), address);
    }
  }

  FUZZ_CHECK(QUrl(address, QUrl::TolerantMode).isValid(), address);
  const QList<std::pair<QString, QString>> read = Fuzz::ReceivedQuery(address);
  QStringList shown;
  for (const auto& [name, value] : read)
    shown << name + QLatin1Char('=') + value;
  FUZZ_CHECK(read == items, address + QStringLiteral(" read as ") + shown.join(QLatin1Char('&')));
  return 0;
}
