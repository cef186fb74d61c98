#include "core/durationtext.h"

#include <QChar>

#include <cmath>

namespace DurationText {

namespace {

// `value` units of 10^-decimals ms as text, the whole part grouped by thousands.
QString Digits(long long value, int decimals) {
  QString digits = QString::number(value);
  if (digits.size() <= decimals)
    digits.prepend(QString(decimals + 1 - digits.size(), QLatin1Char('0')));
  QString whole = digits.left(digits.size() - decimals);
  for (qsizetype at = whole.size() - 3; at > 0; at -= 3)
    whole.insert(at, QChar(0x00A0));
  return decimals == 0 ? whole : whole + QLatin1Char('.') + digits.right(decimals);
}

} // namespace

QString Ms(double us) {
  if (!(us >= 0) || !std::isfinite(us))
    return QString();
  // The decimals that give three significant digits, at most three (the microsecond): below 1 ms
  // three, below 10 ms two, below 100 ms one, from there on none.
  int decimals = us < 1000 ? 3 : us < 10000 ? 2 : us < 100000 ? 1 : 0;
  for (;;) {
    const double unitUs = std::pow(10.0, 3 - decimals);
    const long long value = std::llround(us / unitUs);
    // Rounded up into the next decade: one decimal fewer keeps three significant digits.
    const double decadeUs = std::pow(10.0, 6 - decimals);
    if (decimals > 0 && double(value) * unitUs >= decadeUs) {
      --decimals;
      continue;
    }
    return Digits(value, decimals);
  }
}

QString WithUnit(double us) {
  const QString figure = Ms(us);
  return figure.isEmpty() ? figure : figure + QStringLiteral(" ms");
}

QString Header(const QString& name) {
  return name + QStringLiteral(" (ms)");
}

} // namespace DurationText
