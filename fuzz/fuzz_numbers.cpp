// The number forms: leading-number and strict reading of any text, rounding to 16- and 32-bit
// integers, and the "0.000" and plain forms of any double and float.
//
// Properties: nothing crashes; leading-number reading never gives NaN; a text that reads strictly
// (no exponent, blanks and tabs only before it) gives the same number both ways; the integer forms
// are within half a unit of the value and in range; the plain form of every finite double reads back
// strictly within 15 significant digits (a float's within 7), and the "0.000" form has three
// decimals and is within half a thousandth of the value.
#include "fuzzsupport.h"
#include "platform/numbers.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

bool Close(double read, double value, double relative) {
  if (read == value)
    return true;
  return std::fabs(read - value) <= relative * std::fabs(value);
}

void CheckIntegers(double value) {
  if (const auto i16 = Numbers::ToInt16(value)) {
    FUZZ_CHECK(std::fabs(double(*i16) - value) <= 0.5, Numbers::Plain(value));
  } else {
    FUZZ_CHECK(!std::isfinite(value) || value <= -32768.5 || value >= 32767.5, Numbers::Plain(value));
  }
  if (const auto i32 = Numbers::ToInt32(value)) {
    FUZZ_CHECK(std::fabs(double(*i32) - value) <= 0.5, Numbers::Plain(value));
  } else {
    FUZZ_CHECK(!std::isfinite(value) || value <= -2147483648.5 || value >= 2147483647.5, Numbers::Plain(value));
  }
}

void CheckForms(double value) {
  static const QRegularExpression fixed3(QStringLiteral("^-?[0-9]+\\.[0-9]{3}$"));
  CheckIntegers(value);
  const QString plain = Numbers::Plain(value);
  const QString fixed = Numbers::Fixed3(value);
  if (!std::isfinite(value)) {
    FUZZ_CHECK(!Numbers::Strict(plain), plain);
    return;
  }
  const std::optional<double> read = Numbers::Strict(plain);
  FUZZ_CHECK(read.has_value(), plain);
  FUZZ_CHECK(Close(*read, value, 1e-14), plain + QStringLiteral(" read as ") + Numbers::Plain(*read));
  FUZZ_CHECK(!plain.startsWith(QLatin1String("-0")) || plain.startsWith(QLatin1String("-0.")), plain);

  FUZZ_CHECK(fixed3.match(fixed).hasMatch(), fixed);
  const std::optional<double> fixedRead = Numbers::Strict(fixed);
  FUZZ_CHECK(fixedRead.has_value(), fixed);
  FUZZ_CHECK(std::fabs(*fixedRead - value) <= 0.0005 + 1e-15 * std::fabs(value), fixed);
}

void CheckSingle(float value) {
  const QString plain = Numbers::PlainSingle(value);
  if (!std::isfinite(value))
    return;
  const std::optional<double> read = Numbers::Strict(plain);
  FUZZ_CHECK(read.has_value(), plain);
  FUZZ_CHECK(Close(*read, double(value), 1e-6), plain);
}

// Leading blanks that both readings pass over.
bool OnlyBlanksBefore(const QString& text) {
  for (QChar c : text) {
    if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
      continue;
    return !c.isSpace();
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = Fuzz::Bytes(data, size);
  for (const QString& text : Fuzz::Texts(bytes)) {
    const double value = Numbers::Value(text);
    FUZZ_CHECK(!std::isnan(value), text);
    CheckForms(value);

    const std::optional<double> strict = Numbers::Strict(text);
    if (strict) {
      FUZZ_CHECK(std::isfinite(*strict), text);
      CheckForms(*strict);
      if (!text.contains(QLatin1Char('e'), Qt::CaseInsensitive) && OnlyBlanksBefore(text))
        FUZZ_CHECK(value == *strict, text);
    }
  }

  // The bytes as the binary form of a double and a float: every value, subnormals included.
  if (size >= sizeof(double)) {
    double value;
    std::memcpy(&value, data, sizeof value);
    CheckForms(value);
  }
  if (size >= sizeof(float)) {
    float value;
    std::memcpy(&value, data + size - sizeof(float), sizeof value);
    CheckSingle(value);
  }
  return 0;
}
