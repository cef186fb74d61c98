#include "core/health.h"

#include <QStringView>

namespace Health {

namespace {

// Whether a Result text is empty or only a warning mark (" => " and the warning value): what a
// good marker file leaves in the Result.
bool MarkerPassed(QAnyStringView result) {
  if (result.isEmpty())
    return true;
  return result.size() >= 4 &&
         result.visit([](auto text) { return QAnyStringView::equal(text.first(4), QLatin1StringView(" => ")); });
}

} // namespace

Verdict Judge(const Facts& facts, double warning1Seconds) {
  if (facts.cancelled)
    return {State::Cancelled, Cause::None};
  if (facts.pingUs < 0)
    return {State::Down, Cause::Transfer};
  if (facts.status < 200 || facts.status > 299)
    return {State::Down, Cause::Status};
  if (!MarkerPassed(facts.result))
    return {State::Down, Cause::Marker};
  // The Ping the table shows: whole milliseconds, a half rounded up (the "0.000" form of a time in
  // whole microseconds), compared as that number of seconds.
  const qint64 shownMs = (facts.pingUs + 500) / 1000;
  const double shownSeconds = double(shownMs) / 1000.0;
  return {shownSeconds >= warning1Seconds ? State::Slow : State::Up, Cause::None};
}

QString CauseText(const Verdict& verdict, const Facts& facts) {
  switch (verdict.cause) {
  case Cause::None: return {};
  case Cause::Status: return QStringLiteral("HTTP %1").arg(facts.status);
  case Cause::Transfer:
  case Cause::Marker: return facts.result.toString();
  }
  return {};
}

QString StateName(State state) {
  switch (state) {
  case State::Up: return QStringLiteral("up");
  case State::Slow: return QStringLiteral("slow");
  case State::Down: return QStringLiteral("down");
  case State::Cancelled: return QStringLiteral("cancelled");
  }
  return {};
}

QString ExpiryText(qint64 msLeft) {
  constexpr qint64 DayMs = 86400 * 1000;
  if (msLeft <= 0)
    return QStringLiteral("expired");
  const qint64 days = msLeft / DayMs;
  if (days >= 2)
    return QStringLiteral("expires in %1 days").arg(days);
  if (days == 1)
    return QStringLiteral("expires in 1 day");
  return QStringLiteral("expires in less than a day");
}

} // namespace Health
