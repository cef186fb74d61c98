#include "engine/keeplast.h"

#include "core/statuspanels.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

QString FilePath() {
  return ProgramFolder::File(QStringLiteral("tmp.tmp"));
}

// A row as it was before the table was emptied, to put back if the reload fails.
struct KeptRow {
  QStringList texts;
  int colour;
  bool bold;
};

} // namespace

int KeepLast::FirstKeptRow(int total, double keep) {
  // Clamped before rounding, so that no keep count can overflow the row number.
  const double first = std::clamp(double(total) - keep + 1.0, 1.0, double(total) + 1.0);
  return Numbers::ToInt32(first).value_or(1);
}

QStringList KeepLast::KeptLines(const ResultsModel& model, double keep) {
  QStringList lines;
  const int total = model.Count();
  for (int position = FirstKeptRow(total, keep) - 1; position < total; ++position) {
    QString line = model.TextAt(position, 0);
    for (int column = 1; column < ResultsModel::ColumnCount; ++column)
      line += QLatin1Char('|') + model.TextAt(position, column);
    lines << line;
  }
  return lines;
}

bool KeepLast::WriteFile(const QStringList& lines) {
  return TextFile::WriteLines(FilePath(), lines);
}

std::optional<QStringList> KeepLast::SplitLine(const QString& line) {
  QStringList fields = line.split(QLatin1Char('|'));
  if (line.endsWith(QLatin1Char('|')))
    fields.removeLast();
  // More fields than columns: some text held a "|" of its own and the columns cannot be told apart.
  if (fields.size() > ResultsModel::ColumnCount)
    return std::nullopt;
  return fields;
}

bool KeepLast::ReloadFile(ResultsModel& model) {
  QStringList lines;
  if (!TextFile::ReadLines(FilePath(), &lines))
    return false;
  for (const QString& line : lines) {
    const std::optional<QStringList> fields = SplitLine(line);
    if (!fields)
      return false;
    const ResultsModel::RowId row = model.AddRow(fields->at(0));
    for (int column = 1; column < fields->size(); ++column)
      model.SetText(row, column, fields->at(column));
  }
  QFile::remove(FilePath());
  return true;
}

bool KeepLastRows(ResultsModel& model, double keep) {
  const QStringList lines = KeepLast::KeptLines(model, keep);
  if (!KeepLast::WriteFile(lines))
    return false;

  std::vector<KeptRow> kept;
  kept.reserve(size_t(lines.size()));
  for (int position = model.Count() - int(lines.size()); position < model.Count(); ++position) {
    const ResultsModel::RowId row = model.RowAt(position);
    KeptRow copy{{}, model.Colour(row), model.Bold(row)};
    for (int column = 0; column < ResultsModel::ColumnCount; ++column)
      copy.texts << model.Text(row, column);
    kept.push_back(std::move(copy));
  }

  model.Clear();
  if (!KeepLast::ReloadFile(model)) {
    model.Clear();
    for (const KeptRow& copy : kept) {
      const ResultsModel::RowId row = model.AddRow(copy.texts.at(0));
      for (int column = 1; column < ResultsModel::ColumnCount; ++column)
        model.SetText(row, column, copy.texts.at(column));
      model.SetMark(row, copy.colour, copy.bold);
    }
    return false;
  }
  return true;
}

bool KeepLastRows(ResultsModel& model, double keep, qint16& keepCycles, StatusPanels& bar2) {
  if (!KeepLastRows(model, keep))
    return false;
  if (keepCycles < std::numeric_limits<qint16>::max())
    ++keepCycles;
  bar2.SetText(4, QString::number(keepCycles) + QStringLiteral(" cycles"));
  return true;
}
