#include "platform/clock.h"

namespace {
QDateTime fixedMoment;
}

QDateTime Clock::Now() {
  return fixedMoment.isValid() ? fixedMoment : QDateTime::currentDateTime();
}

QTime Clock::TimeOfDay() {
  return Now().time();
}

QDate Clock::Today() {
  return Now().date();
}

QString Clock::TimeText() {
  return TimeOfDay().toString(QStringLiteral("HH:mm:ss"));
}

QString Clock::DateText() {
  return Today().toString(QStringLiteral("MM-dd-yyyy"));
}

int Clock::MinuteOfDay(const QTime& time) {
  return time.hour() * 60 + time.minute();
}

std::optional<int> Clock::MinuteOfDay(const QString& timeText) {
  const QTime time = QTime::fromString(timeText.trimmed(), QStringLiteral("H:m:s"));
  if (!time.isValid())
    return std::nullopt;
  return MinuteOfDay(time);
}

int Clock::MinuteSpan(int from, int to) {
  constexpr int MinutesPerDay = 24 * 60;
  const int minutes = to - from;
  return minutes < 0 ? minutes + MinutesPerDay : minutes;
}

void Clock::SetFixed(const QDateTime& moment) {
  fixedMoment = moment;
}
