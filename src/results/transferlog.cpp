#include "results/transferlog.h"

#include "platform/clock.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"

#include <QFileInfo>

#include <cmath>
#include <optional>

namespace {

constexpr int BytesPerRow = 3;

bool BeginsWithDigit(QStringView text) {
  return !text.isEmpty() && Numbers::IsDigit(text.front());
}

// The leading number of a field that begins with a digit, an exponent included when one follows.
double FieldValue(QStringView field) {
  double value = Numbers::Value(field);
  // Where the leading number ends: digits, then an optional point and digits.
  qsizetype end = 0;
  while (end < field.size() && Numbers::IsDigit(field[end]))
    ++end;
  if (end < field.size() && field[end] == QLatin1Char('.')) {
    ++end;
    while (end < field.size() && Numbers::IsDigit(field[end]))
      ++end;
  }
  if (end < field.size() && (field[end] == QLatin1Char('e') || field[end] == QLatin1Char('E'))) {
    qsizetype exponentEnd = end + 1;
    if (exponentEnd < field.size() &&
        (field[exponentEnd] == QLatin1Char('+') || field[exponentEnd] == QLatin1Char('-')))
      ++exponentEnd;
    const qsizetype digitsStart = exponentEnd;
    while (exponentEnd < field.size() && Numbers::IsDigit(field[exponentEnd]))
      ++exponentEnd;
    if (exponentEnd > digitsStart)
      value = Numbers::Strict(field.left(exponentEnd)).value_or(0.0); // nothing: beyond a double
  }
  return std::isfinite(value) ? value : 0.0;
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

QString UpdateTransferLog(const ResultsModel& model) {
  const QString name = QStringLiteral("sublog.log");
  const QString path = ProgramFolder::File(name);
  const int rows = model.Count();
  if (rows == 0)
    return QString();
  QStringList lines;
  QString error;
  if (QFileInfo::exists(path) && !TextFile::ReadLines(path, &lines, &error))
    return QStringLiteral("%1 not updated: it cannot be read (%2)").arg(name, error);

  TransferTotals totals = ReadTotals(lines);
  totals.bytes += double(BytesPerRow) * rows;
  if (const std::optional<int> from = Clock::MinuteOfDay(model.TextAt(0, ResultsModel::EventTime)))
    totals.minutes += Clock::MinuteSpan(*from, Clock::MinuteOfDay(Clock::TimeOfDay()));
  if (!TextFile::WriteLines(path, TotalsLines(totals), &error))
    return QStringLiteral("%1 not updated: %2").arg(name, error);
  return QString();
}
