#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

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

// Fixes the clock at the given moment (it does not advance); an invalid moment restores the real clock.
void SetFixed(const QDateTime& moment);

} // namespace Clock
