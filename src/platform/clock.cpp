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

void Clock::SetFixed(const QDateTime& moment) {
  fixedMoment = moment;
}
