#include "settings/valuecodec.h"

#include "core/module1.h"

namespace ValueCodec {

namespace {

int Code(QChar c) {
  return c.unicode() > 255 ? int('?') : int(c.unicode());
}

int KeyCode(const QString& key, qsizetype position) {
  return key.isEmpty() ? 0 : Code(key[position % key.size()]);
}

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9')
    return u - u'0';
  if (u >= u'A' && u <= u'F')
    return u - u'A' + 10;
  if (u >= u'a' && u <= u'f')
    return u - u'a' + 10;
  return -1;
}

} // namespace

QString EncodeValue(const QString& plain, const QString& key) {
  QString text = plain;
  if (key.size() > text.size()) {
    const qsizetype missing = key.size() - text.size();
    text += QLatin1Char('.') + Module1::AppTitle.left(missing - 1);
  }
  static const char hex[] = "0123456789ABCDEF";
  QString encoded;
  encoded.reserve(text.size() * 2);
  for (qsizetype i = 0; i < text.size(); ++i) {
    const int x = Code(text[i]) ^ KeyCode(key, i);
    encoded += QLatin1Char(hex[x >> 4]);
    encoded += QLatin1Char(hex[x & 0xF]);
  }
  return encoded;
}

QString DecodeValue(const QString& encoded, const QString& key) {
  if (encoded.size() % 2 != 0)
    return QString();
  QString plain;
  plain.reserve(encoded.size() / 2);
  for (qsizetype i = 0; i < encoded.size(); i += 2) {
    const int high = HexDigit(encoded[i]);
    const int low = HexDigit(encoded[i + 1]);
    if (high < 0 || low < 0)
      return QString();
    plain += QChar(char16_t((high * 16 + low) ^ KeyCode(key, i / 2)));
  }
  return plain;
}

} // namespace ValueCodec
