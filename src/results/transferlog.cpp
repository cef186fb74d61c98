#include "results/transferlog.h"

#include "platform/clock.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"

#include <QFileInfo>
#include <QTime>

#include <cmath>
#include <optional>

namespace {

constexpr int MinutesPerDay = 24 * 60;
constexpr int BytesPerRow = 3;

bool BeginsWithDigit(QStringView text) {
  return !text.isEmpty() && text.front() >= QLatin1Char('0') && text.front() <= QLatin1Char('9');
}

bool IsDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The leading number of a field that begins with a digit, an exponent included when one follows.
double FieldValue(QStringView field) {
  double value = Numbers::Value(field);
  // Where the leading number ends: digits, then an optional point and digits.
  qsizetype end = 0;
  while (end < field.size() && IsDigit(field[end]))
    ++end;
  if (end < field.size() && field[end] == QLatin1Char('.')) {
    ++end;
    while (end < field.size() && IsDigit(field[end]))
      ++end;
  }
  if (end < field.size() && (field[end] == QLatin1Char('e') || field[end] == QLatin1Char('E'))) {
    qsizetype exponentEnd = end + 1;
    if (exponentEnd < field.size() &&
        (field[exponentEnd] == QLatin1Char('+') || field[exponentEnd] == QLatin1Char('-')))
      ++exponentEnd;
    const qsizetype digitsStart = exponentEnd;
    while (exponentEnd < field.size() && IsDigit(field[exponentEnd]))
      ++exponentEnd;
    if (exponentEnd > digitsStart)
      value = Numbers::Strict(field.left(exponentEnd)).value_or(0.0); // nothing: beyond a double
  }
  return std::isfinite(value) ? value : 0.0;
}

// The minute of the day of an Event Time ("hh:mm:ss"); nothing for a text that is not a time.
std::optional<int> MinuteOfDay(const QString& eventTime) {
  const QTime time = QTime::fromString(eventTime.trimmed(), QStringLiteral("H:m:s"));
  if (!time.isValid())
    return std::nullopt;
  return time.hour() * 60 + time.minute();
}

} // namespace

TransferTotals ReadTotals(const QStringList& lines) {
  TransferTotals totals;
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (!BeginsWithDigit(line))
      continue;
    const QStringList fields = line.split(QLatin1Char(','));
    TransferTotals read;
    read.bytes = FieldValue(fields.at(0));
    if (fields.size() > 1) {
      const QStringView second = QStringView(fields.at(1)).trimmed();
      if (BeginsWithDigit(second))
        read.minutes = FieldValue(second);
    }
    totals = read;
  }
  return totals;
}

QStringList TotalsLines(const TransferTotals& totals) {
  return {QStringLiteral("Transfer bytes, Use time(min)"),
          Numbers::Plain(totals.bytes) + QLatin1Char(',') + Numbers::Plain(totals.minutes)};
}

void UpdateTransferLog(const ResultsModel& model) {
  const QString path = ProgramFolder::File(QStringLiteral("sublog.log"));
  QStringList lines;
  if (QFileInfo::exists(path) && !TextFile::ReadLines(path, &lines))
    return;
  const int rows = model.Count();
  if (rows == 0)
    return;

  TransferTotals totals = ReadTotals(lines);
  totals.bytes += double(BytesPerRow) * rows;
  const std::optional<int> from = MinuteOfDay(model.TextAt(0, ResultsModel::EventTime));
  if (from) {
    const QTime now = Clock::TimeOfDay();
    int minutes = now.hour() * 60 + now.minute() - *from;
    if (minutes < 0)
      minutes += MinutesPerDay; // begun before midnight, ended after it
    totals.minutes += minutes;
  }
  TextFile::WriteLines(path, TotalsLines(totals));
}
