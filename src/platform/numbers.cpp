#include "platform/numbers.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace Numbers {

bool IsDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool IsDigits(QStringView text) {
  return !text.isEmpty() && std::all_of(text.begin(), text.end(), IsDigit);
}

namespace {

bool IsSign(QChar c) {
  return c == QLatin1Char('+') || c == QLatin1Char('-');
}

// Converts a text whose syntax has already been checked (optional sign, digits with an optional
// point, optional exponent) with the C rules, whatever the user's locale. A magnitude too large
// for a double sets *overflow and gives an infinity of the text's sign; one too small gives 0.
double Convert(QStringView number, bool* overflow) {
  *overflow = false;
  QByteArray text = number.toLatin1();
  if (text.startsWith('+'))
    text.remove(0, 1);
  double value = 0.0;
  const auto result = std::from_chars(text.constData(), text.constData() + text.size(), value);
  if (result.ec != std::errc::result_out_of_range)
    return value;

  // Out of range: the decimal order of the first significant digit tells overflow from underflow.
  const bool negative = text.startsWith('-');
  qsizetype exponentPos = text.indexOf('e');
  if (exponentPos < 0)
    exponentPos = text.indexOf('E');
  const QByteArray mantissa = exponentPos < 0 ? text : text.left(exponentPos);
  long long exponent = 0;
  if (exponentPos >= 0) {
    const QByteArray digits = text.mid(exponentPos + 1);
    const bool exponentNegative = digits.startsWith('-');
    for (char c : digits)
      if (c >= '0' && c <= '9')
        exponent = std::min(exponent * 10 + (c - '0'), 1000000000LL);
    if (exponentNegative)
      exponent = -exponent;
  }
  qsizetype pointPos = mantissa.indexOf('.');
  if (pointPos < 0)
    pointPos = mantissa.size();
  qsizetype first = -1;
  for (qsizetype i = 0; i < mantissa.size(); ++i)
    if (mantissa[i] >= '1' && mantissa[i] <= '9') {
      first = i;
      break;
    }
  if (first < 0)
    return 0.0;
  const long long order = (first < pointPos ? pointPos - first - 1 : pointPos - first) + exponent;
  if (order <= 0)
    return 0.0;
  *overflow = true;
  return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
}

// Rounds to an integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
std::optional<double> RoundHalfEven(double value) {
  if (!std::isfinite(value))
    return std::nullopt;
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction < 0.5)
    return below;
  if (fraction > 0.5)
    return below + 1.0;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

template <typename Int>
std::optional<Int> ToInteger(double value) {
  const std::optional<double> rounded = RoundHalfEven(value);
  if (!rounded || *rounded < double(std::numeric_limits<Int>::min()) ||
      *rounded > double(std::numeric_limits<Int>::max()))
    return std::nullopt;
  return Int(*rounded);
}

QString NotFinite(double value) {
  if (std::isnan(value))
    return QStringLiteral("nan");
  return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
}

// Lays out a value rounded to `digits` significant digits: without an exponent when the
// decimal exponent lies in [-5, 14] (so from 1e-5 up to below 1e15), otherwise as
// mantissa "E" signed two-digit-or-more exponent ("1.5E+15", "2E-06"). No trailing zeros,
// no trailing point, a 0 before the point below 1, and never "-0".
template <typename Float>
QString Shortest(Float value, int digits) {
  if (!std::isfinite(value))
    return NotFinite(double(value));
  if (value == Float(0))
    return QStringLiteral("0");

  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, digits - 1);
  const std::string text(buffer, result.ptr);

  // text is [-]d[.ddd]e(+|-)xx
  const bool negative = text.front() == '-';
  const std::size_t ePos = text.find('e');
  std::string mantissa;
  for (std::size_t i = negative ? 1 : 0; i < ePos; ++i)
    if (text[i] != '.')
      mantissa += text[i];
  const int exponent = std::stoi(text.substr(ePos + 1));
  while (mantissa.size() > 1 && mantissa.back() == '0')
    mantissa.pop_back();
  if (mantissa == "0")
    return QStringLiteral("0");

  std::string out;
  if (negative)
    out += '-';
  if (exponent >= -5 && exponent <= 14) {
    if (exponent < 0) {
      out += "0.";
      out.append(std::size_t(-exponent - 1), '0');
      out += mantissa;
    } else {
      const std::size_t whole = std::size_t(exponent) + 1;
      if (mantissa.size() <= whole) {
        out += mantissa;
        out.append(whole - mantissa.size(), '0');
      } else {
        out += mantissa.substr(0, whole);
        out += '.';
        out += mantissa.substr(whole);
      }
    }
  } else {
    out += mantissa.front();
    if (mantissa.size() > 1) {
      out += '.';
      out += mantissa.substr(1);
    }
    const int magnitude = std::abs(exponent);
    out += exponent < 0 ? "E-" : "E+";
    if (magnitude < 10)
      out += '0';
    out += std::to_string(magnitude);
  }
  return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

} // namespace

double Value(QStringView text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
    ++i;
  const qsizetype start = i;
  if (i < n && IsSign(text[i]))
    ++i;
  bool digits = false;
  bool point = false;
  for (; i < n; ++i) {
    if (IsDigit(text[i])) {
      digits = true;
    } else if (text[i] == QLatin1Char('.') && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits)
    return 0.0;
  bool overflow = false;
  return Convert(text.mid(start, i - start), &overflow);
}

std::optional<double> Strict(QStringView text) {
  const QStringView number = text.trimmed();
  const qsizetype n = number.size();
  qsizetype i = 0;
  if (i < n && IsSign(number[i]))
    ++i;
  bool digits = false;
  while (i < n && IsDigit(number[i])) {
    ++i;
    digits = true;
  }
  if (i < n && number[i] == QLatin1Char('.')) {
    ++i;
    while (i < n && IsDigit(number[i])) {
      ++i;
      digits = true;
    }
  }
  if (!digits)
    return std::nullopt;
  if (i < n && (number[i] == QLatin1Char('e') || number[i] == QLatin1Char('E'))) {
    ++i;
    if (i < n && IsSign(number[i]))
      ++i;
    bool exponentDigits = false;
    while (i < n && IsDigit(number[i])) {
      ++i;
      exponentDigits = true;
    }
    if (!exponentDigits)
      return std::nullopt;
  }
  if (i != n)
    return std::nullopt;
  bool overflow = false;
  const double value = Convert(number, &overflow);
  if (overflow)
    return std::nullopt;
  return value;
}

std::optional<qint16> ToInt16(double value) {
  return ToInteger<qint16>(value);
}

std::optional<qint32> ToInt32(double value) {
  return ToInteger<qint32>(value);
}

// Rounds half away from zero on the shortest decimal text of the value (the digits a user sees),
// so 2.0005 gives 2.001 and -2.0005 gives -2.001 even though neither is exact in binary.
// A result that rounds to zero is shown without a sign.
QString Fixed3(double value) {
  if (!std::isfinite(value))
    return NotFinite(value);

  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  const std::string text(buffer, result.ptr);

  const std::size_t pointPos = text.find('.');
  std::string whole = pointPos == std::string::npos ? text : text.substr(0, pointPos);
  std::string fraction = pointPos == std::string::npos ? std::string() : text.substr(pointPos + 1);
  fraction.append(4, '0'); // at least four decimals to look at
  const bool roundUp = fraction[3] >= '5';
  fraction.resize(3);

  // digits holds whole + three decimals; add one unit in the last place when rounding up.
  std::string digits = whole + fraction;
  if (roundUp) {
    std::size_t k = digits.size();
    while (k > 0) {
      --k;
      if (digits[k] == '9') {
        digits[k] = '0';
      } else {
        ++digits[k];
        break;
      }
      if (k == 0)
        digits.insert(digits.begin(), '1');
    }
  }
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (value < 0 && !zero)
    out += '-';
  out += digits.substr(0, digits.size() - 3);
  out += '.';
  out += digits.substr(digits.size() - 3);
  return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

QString Plain(double value) {
  // Rounded to 15 digits, the very largest doubles (from 1.797693134862315E+308 up) would be written
  // above the largest double and could not be read back; they are written as the largest 15-digit
  // number that can.
  constexpr double Top = 1.79769313486231e308;
  if (std::isfinite(value) && std::fabs(value) > Top)
    value = std::copysign(Top, value);
  return Shortest(value, 15);
}

QString PlainSingle(float value) {
  return Shortest(value, 7);
}

} // namespace Numbers
