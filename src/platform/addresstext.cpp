#include "platform/addresstext.h"

namespace AddressText {

namespace {

const QString Hidden = QStringLiteral("***");

// Where the password of the address lies: [start, end). Nothing (start == end) without one.
std::pair<qsizetype, qsizetype> PasswordSpan(const QString& address) {
  const qsizetype scheme = address.indexOf(QLatin1String("://"));
  const qsizetype start = scheme < 0 ? 0 : scheme + 3;
  const qsizetype slash = address.indexOf(QLatin1Char('/'), start);
  const QStringView authority = QStringView(address).sliced(start, (slash < 0 ? address.size() : slash) - start);
  const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
  const qsizetype colon = authority.indexOf(QLatin1Char(':'));
  if (at < 0 || colon < 0 || colon > at)
    return {0, 0};
  return {start + colon + 1, start + at};
}

} // namespace

QString Shown(const QString& address) {
  const auto [start, end] = PasswordSpan(address);
  if (start == end || QStringView(address).sliced(start, end - start) == Hidden)
    return address;
  QString shown = address;
  shown.replace(start, end - start, Hidden);
  return shown;
}

bool HasPassword(const QString& address) {
  return Shown(address) != address;
}

} // namespace AddressText
