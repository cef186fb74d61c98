#pragma once

// Shared by the fuzz targets: how the fuzzer's bytes become texts, and how a property that does not
// hold is reported (a message on stderr, then abort(), so that libFuzzer keeps the input as a crash).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

inline QByteArray Bytes(const uint8_t* data, size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A text shown with its control characters and non-ASCII characters escaped.
inline QByteArray Shown(const QString& text) {
  QByteArray out;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u >= 0x20 && u < 0x7F && u != u'\\') {
      out += char(u);
    } else {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, u < 0x100 ? "\\x%02X" : "\\u%04X", unsigned(u));
      out += buffer;
    }
  }
  return out;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* condition, const QString& detail) {
  std::fprintf(stderr, "\n%s:%d: property failed: %s\n  %s\n", file, line, condition, Shown(detail).constData());
  std::abort();
}

// The three ways the targets take bytes as text: UTF-8 (invalid sequences become U+FFFD), Latin-1
// (one character per byte) and UTF-16 code units (lone surrogates included; an odd last byte is
// dropped). Files and answers reach the program in the first two forms; the third is for crashes only.
inline QList<QString> Texts(const QByteArray& bytes) {
  return {QString::fromUtf8(bytes), QString::fromLatin1(bytes),
          QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2)};
}

// True when the text survives UTF-8 (no lone surrogates): only such texts can come from a file, an
// answer or the URL field, and only they can be compared after an encoding round trip.
inline bool WellFormed(const QString& text) {
  return QString::fromUtf8(text.toUtf8()) == text;
}

// The bytes cut at each unit separator (0x1F) into exactly `count` UTF-8 texts: missing ones are
// empty, the last one takes the rest, separators included.
inline QStringList Fields(const QByteArray& bytes, int count) {
  QStringList fields;
  qsizetype from = 0;
  for (int i = 0; i < count; ++i) {
    const qsizetype at = i + 1 < count ? bytes.indexOf('\x1f', from) : -1;
    if (from > bytes.size()) {
      fields << QString();
    } else if (at < 0) {
      fields << QString::fromUtf8(bytes.mid(from));
      from = bytes.size() + 1;
    } else {
      fields << QString::fromUtf8(bytes.mid(from, at - from));
      from = at + 1;
    }
  }
  return fields;
}

// The name and value pairs that a server reads from an address's query: the address parsed as the
// HTTP client parses it, sent in its encoded form, read back from the request line, split into
// pairs by QUrlQuery and each name and value percent-decoded as UTF-8. (QUrlQuery's own full
// decoding is not used: it turns noncharacters such as U+FFFE, sent correctly as "%EF%BF%BE", into
// U+FFFD.)
inline QList<std::pair<QString, QString>> ReceivedQuery(const QString& address) {
  const QUrl sent(address, QUrl::TolerantMode);
  const QUrl received = QUrl::fromEncoded(sent.toEncoded());
  QList<std::pair<QString, QString>> items;
  for (const auto& [name, value] : QUrlQuery(received).queryItems(QUrl::FullyEncoded))
    items.append({QUrl::fromPercentEncoding(name.toLatin1()), QUrl::fromPercentEncoding(value.toLatin1())});
  return items;
}

} // namespace Fuzz

// Checks a property of the code under test; `detail` (a QString) names the input.
#define FUZZ_CHECK(condition, detail)                         \
  do {                                                        \
    if (!(condition))                                         \
      ::Fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (false)
