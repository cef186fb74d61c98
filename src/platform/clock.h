#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

// The local time of day and date as the program reads them. Tests may fix the clock so that the
// rules that depend on the hour or on midnight can be checked at any hour.
namespace Clock {

QDateTime Now();
QTime TimeOfDay();
QDate Today();

// hh:mm:ss (24-hour) and mm-dd-yyyy.
QString TimeText();
QString DateText();

// The minute of the day of a time, 0 to 1439.
int MinuteOfDay(const QTime& time);
// The minute of the day of a time-of-day text such as an Event Time ("hh:mm:ss"; one-digit fields
// and blanks around it read too); nothing for a text that is not a time.
std::optional<int> MinuteOfDay(const QString& timeText);
// The minutes from one minute of the day to another, counting minute boundaries. A span that comes
// out negative crossed midnight (begun before it, ended after it): it counts 1440 minutes more.
int MinuteSpan(int from, int to);

// Fixes the clock at the given moment (it does not advance); an invalid moment restores the real clock.
void SetFixed(const QDateTime& moment);

} // namespace Clock
