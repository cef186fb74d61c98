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

// Fixes the clock at the given moment (it does not advance); an invalid moment restores the real clock.
void SetFixed(const QDateTime& moment);

} // namespace Clock
