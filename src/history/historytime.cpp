#include "history/historytime.h"

namespace HistoryTime {

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar; H. Hinnant's
// algorithms).
qint64 DaysFromCivil(qint64 y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const qint64 era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + qint64(doe) - 719468;
}

void CivilFromDays(qint64 z, qint64* y, unsigned* m, unsigned* d) {
  z += 719468;
  const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = qint64(yoe) + era * 400 + (*m <= 2 ? 1 : 0);
}

qint64 FloorDiv(qint64 a, qint64 b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Reads `count` digits at `at`; -1 when one is not a digit.
int Digits(QByteArrayView text, qsizetype at, int count) {
  int value = 0;
  for (int i = 0; i < count; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9')
      return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

} // namespace

QString Text(qint64 msSinceEpoch) {
  const qint64 days = FloorDiv(msSinceEpoch, 86400000);
  const qint64 msOfDay = msSinceEpoch - days * 86400000;
  qint64 year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  char text[32];
  const int n =
      std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(year),
                    month, day, static_cast<long long>(msOfDay / 3600000), static_cast<long long>(msOfDay / 60000 % 60),
                    static_cast<long long>(msOfDay / 1000 % 60), static_cast<long long>(msOfDay % 1000));
  return QString::fromLatin1(text, n);
}

QString Text(const QDateTime& at) {
  return Text(at.toMSecsSinceEpoch());
}

bool Parse(QByteArrayView text, qint64* msSinceEpoch) {
  // "YYYY-MM-DDTHH:MM:SS.mmmZ"
  if (text.size() == 24 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' && text[16] == ':' &&
      text[19] == '.' && text[23] == 'Z') {
    const int year = Digits(text, 0, 4);
    const int month = Digits(text, 5, 2);
    const int day = Digits(text, 8, 2);
    const int hour = Digits(text, 11, 2);
    const int minute = Digits(text, 14, 2);
    const int second = Digits(text, 17, 2);
    const int ms = Digits(text, 20, 3);
    if (year >= 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour < 24 && minute >= 0 &&
        minute < 60 && second >= 0 && second < 60 && ms >= 0) {
      *msSinceEpoch = DaysFromCivil(year, unsigned(month), unsigned(day)) * 86400000 +
                      ((qint64(hour) * 60 + minute) * 60 + second) * 1000 + ms;
      return true;
    }
  }
  const QDateTime at = QDateTime::fromString(QString::fromUtf8(text), Qt::ISODateWithMs);
  if (!at.isValid())
    return false;
  *msSinceEpoch = at.toMSecsSinceEpoch();
  return true;
}

} // namespace HistoryTime
