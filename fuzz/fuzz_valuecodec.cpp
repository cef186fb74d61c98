// The settings value codec. Input: the encoded text, a unit separator (0x1F), the key.
//
// Properties: decoding never crashes; it gives "" unless the text is an even number of hexadecimal
// digits; a decoded text holds one-byte codes only and encodes back to the same digits (upper case)
// when it is at least as long as the key; and any plain text at least as long as the key comes back
// from encoding and decoding (characters above 255 as "?"), a shorter one with its extension.
#include "core/module1.h"
#include "fuzzsupport.h"
#include "settings/valuecodec.h"

#include <algorithm>

namespace {

bool IsHexText(const QString& text) {
  if (text.size() % 2 != 0)
    return false;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (!((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f')))
      return false;
  }
  return true;
}

QString OneByte(const QString& text) {
  QString out = text;
  for (QChar& c : out)
    if (c.unicode() > 255)
      c = QLatin1Char('?');
  return out;
}

void Check(const QString& encoded, const QString& key) {
  const QString decoded = ValueCodec::DecodeValue(encoded, key);
  const QString shown = encoded + QStringLiteral(" / key ") + key;
  if (!IsHexText(encoded))
    FUZZ_CHECK(decoded.isEmpty(), shown);
  if (!encoded.isEmpty() && IsHexText(encoded)) {
    FUZZ_CHECK(decoded.size() * 2 == encoded.size(), shown);
    FUZZ_CHECK(OneByte(decoded) == decoded, shown);
    if (decoded.size() >= key.size())
      FUZZ_CHECK(ValueCodec::EncodeValue(decoded, key) == encoded.toUpper(), shown);
  }

  // The encoded text taken as a plain text.
  const QString plain = encoded;
  const QString again = ValueCodec::DecodeValue(ValueCodec::EncodeValue(plain, key), key);
  if (plain.size() >= key.size()) {
    FUZZ_CHECK(again == OneByte(plain), shown);
  } else {
    // The extension is "." and the start of the title (which is the only key the program uses).
    FUZZ_CHECK(again.size() == std::min(key.size(), plain.size() + 1 + Module1::AppTitle.size()), shown);
    FUZZ_CHECK(again.startsWith(OneByte(plain) + QLatin1Char('.')), shown);
    FUZZ_CHECK(Module1::AppTitle.startsWith(again.mid(plain.size() + 1)), shown);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = Fuzz::Bytes(data, size);
  const QStringList fields = Fuzz::Fields(bytes, 2);
  Check(fields.at(0), fields.at(1));
  Check(fields.at(0), Module1::AppTitle);
  for (const QString& text : Fuzz::Texts(bytes))
    Check(text, Module1::AppTitle);
  return 0;
}
