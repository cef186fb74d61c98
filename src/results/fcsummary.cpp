#include "results/fcsummary.h"

#include "platform/clock.h"
#include "platform/numbers.h"
#include "results/resultsmodel.h"

#include <cmath>
#include <optional>

namespace {

using Col = ResultsModel::Column;

// What the code is made of: one walk over the site's rows in display order.
struct SiteScan {
  QString startTime; // the Event Time of the site's first row
  int lastRow = -1;  // the display position of its last row
  float lastSlow = 0;
  int slowCount = 0;
  int over20Count = 0;
  float over20Figure = 0; // the sum of the pings above 20 s, then their mean
};

SiteScan Scan(const ResultsModel& model, int siteId) {
  SiteScan scan;
  for (int i = 0; i < model.Count(); ++i) {
    const ResultsModel::Figures figures = model.FiguresAt(i);
    if (!figures.pingIsNumber || !figures.siteStrict || *figures.siteStrict != double(siteId))
      continue;
    // figures.ping is the leading-number reading; the strict one differs only for texts with an
    // exponent, which the cycle never writes.
    const double leading = figures.ping;
    const double strict = figures.pingMillis ? leading : Numbers::Strict(model.TextAt(i, Col::Ping)).value_or(leading);

    if (scan.startTime.isEmpty())
      scan.startTime = model.TextAt(i, Col::EventTime);
    if (strict > 1.45)
      scan.lastSlow = float(strict);
    if (strict > 2.0) {
      scan.lastSlow = 0;
      ++scan.slowCount;
    }
    if (leading > 20.0) {
      ++scan.over20Count;
      scan.over20Figure += float(leading);
    }
    scan.lastRow = i;
  }
  if (scan.over20Figure > 0)
    scan.over20Figure = std::nearbyint(scan.over20Figure / float(scan.over20Count)); // halves to even
  return scan;
}

// The minutes from the site's first row to the table's last row; 0 when either is not a time.
int Span(const ResultsModel& model, const SiteScan& scan) {
  const std::optional<int> from = Clock::MinuteOfDay(scan.startTime);
  const std::optional<int> to = Clock::MinuteOfDay(model.TextAt(model.Count() - 1, Col::EventTime));
  return from && to ? Clock::MinuteSpan(*from, *to) : 0;
}

} // namespace

FcFigures FcSummary(const ResultsModel& model, int siteId, bool fcTestFinished) {
  const SiteScan scan = Scan(model, siteId);
  int slowCount = scan.slowCount;
  QString code;
  int minutes = 0;
  if (slowCount > 0) {
    code = QLatin1Char('\\') + model.TextAt(scan.lastRow, Col::Average);
    minutes = Span(model, scan);
  } else {
    code = QLatin1Char('\\') + Numbers::PlainSingle(scan.lastSlow);
  }

  if (minutes != 60 && !fcTestFinished) {
    slowCount = 0;
    code = QStringLiteral("?0");
  }
  code = QString::number(slowCount) + code;
  if (scan.over20Count == 1)
    code += QLatin1Char('-') + Numbers::PlainSingle(scan.over20Figure);
  else if (scan.over20Count >= 2)
    code += QLatin1Char('+') + Numbers::PlainSingle(scan.over20Figure);
  return {code, slowCount};
}
