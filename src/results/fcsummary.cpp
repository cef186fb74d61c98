#include "results/fcsummary.h"

#include "platform/numbers.h"
#include "results/resultsmodel.h"

#include <QTime>

#include <cmath>
#include <optional>

namespace {

constexpr int MinutesPerDay = 24 * 60;

// The minute of the day of an Event Time ("hh:mm:ss"); nothing for a text that is not a time.
std::optional<int> MinuteOfDay(const QString& eventTime) {
  const QTime time = QTime::fromString(eventTime.trimmed(), QStringLiteral("H:m:s"));
  if (!time.isValid())
    return std::nullopt;
  return time.hour() * 60 + time.minute();
}

} // namespace

FcFigures FcSummary(const ResultsModel& model, int siteId, bool fcTestFinished) {
  using Col = ResultsModel::Column;
  const int count = model.Count();

  QString startTime;
  float lastSlow = 0;
  int slowCount = 0;
  int over20Count = 0;
  float over20Figure = 0;
  int lastRow = -1;

  for (int i = 0; i < count; ++i) {
    const ResultsModel::Figures figures = model.FiguresAt(i);
    if (!figures.pingIsNumber || !figures.siteStrict || *figures.siteStrict != double(siteId))
      continue;
    // figures.ping is the leading-number reading; the strict one differs only for texts with an
    // exponent, which the cycle never writes.
    const double leading = figures.ping;
    const double strict =
        figures.pingMillis ? leading : Numbers::Strict(model.TextAt(i, Col::Ping)).value_or(leading);

    if (startTime.isEmpty())
      startTime = model.TextAt(i, Col::EventTime);
    if (strict > 1.45)
      lastSlow = float(strict);
    if (strict > 2.0) {
      lastSlow = 0;
      ++slowCount;
    }
    if (leading > 20.0) {
      ++over20Count;
      over20Figure += float(leading);
    }
    lastRow = i;
  }

  if (over20Figure > 0)
    over20Figure = std::nearbyint(over20Figure / float(over20Count)); // halves to even

  QString code;
  int minutes = 0;
  if (slowCount > 0) {
    code = QLatin1Char('\\') + model.TextAt(lastRow, Col::Average);
    const std::optional<int> from = MinuteOfDay(startTime);
    const std::optional<int> to = MinuteOfDay(model.TextAt(count - 1, Col::EventTime));
    if (from && to) {
      minutes = *to - *from;
      if (minutes < 0)
        minutes += MinutesPerDay; // begun before midnight, ended after it
    }
  } else {
    code = QLatin1Char('\\') + Numbers::PlainSingle(lastSlow);
  }

  if (minutes != 60 && !fcTestFinished) {
    slowCount = 0;
    code = QStringLiteral("?0");
  }
  code = QString::number(slowCount) + code;
  if (over20Count == 1)
    code += QLatin1Char('-') + Numbers::PlainSingle(over20Figure);
  else if (over20Count >= 2)
    code += QLatin1Char('+') + Numbers::PlainSingle(over20Figure);

  return {code, slowCount};
}
