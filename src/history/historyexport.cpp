#include "history/historyexport.h"

#include "history/historyquery.h"
#include "history/historyschema.h"
#include "history/sqlitestatement.h"
#include "platform/addresstext.h"
#include "platform/textfile.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <cmath>

namespace HistoryExport {

namespace {

// The file is written in blocks of about this size.
constexpr qsizetype BlockBytes = 1 << 20;

void AppendNumber(QByteArray& out, const SqliteStatement& row, int column, bool json) {
  if (row.TypeOf(column) == SqliteStatement::Type::Integer) {
    out += QByteArray::number(row.Int(column));
    return;
  }
  const double value = row.Real(column);
  if (std::isfinite(value))
    out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
  else if (json)
    out += "null";
}

// The text of a column as the export writes it: an address in its shown form (a file written by an
// earlier version may hold a password).
QByteArrayView ColumnText(const SqliteStatement& row, int column, int urlColumn, QByteArray& storage) {
  const QByteArrayView text = row.Text(column);
  if (column != urlColumn || !text.contains('@'))
    return text;
  storage = AddressText::Shown(QString::fromUtf8(text)).toUtf8();
  return storage;
}

// A spreadsheet takes a cell that begins with one of these for a formula (CSV injection): such a
// text is written with a leading "'", which makes it plain text there. Numbers are never touched.
bool StartsLikeAFormula(QByteArrayView text) {
  if (text.isEmpty())
    return false;
  switch (text.front()) {
  case '=':
  case '+':
  case '-':
  case '@':
  case '\t':
  case '\r': return true;
  default: return false;
  }
}

void AppendCsvField(QByteArray& out, const SqliteStatement& row, int column, int urlColumn) {
  switch (row.TypeOf(column)) {
  case SqliteStatement::Type::Null: return;
  case SqliteStatement::Type::Integer:
  case SqliteStatement::Type::Real: AppendNumber(out, row, column, false); return;
  case SqliteStatement::Type::Text: break;
  }
  QByteArray storage;
  const QByteArrayView text = ColumnText(row, column, urlColumn, storage);
  const bool formula = StartsLikeAFormula(text);
  bool quote = text.isEmpty();
  for (const char c : text)
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      quote = true;
      break;
    }
  if (!quote) {
    if (formula)
      out += '\'';
    out += text;
    return;
  }
  out += '"';
  if (formula)
    out += '\'';
  for (const char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  out += '"';
}

void AppendJsonString(QByteArray& out, QByteArrayView text) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        out += "\\u00";
        out += hex[(c >> 4) & 0xf];
        out += hex[c & 0xf];
      } else {
        out += c;
      }
    }
  }
  out += '"';
}

void AppendJsonValue(QByteArray& out, const SqliteStatement& row, int column, int urlColumn) {
  switch (row.TypeOf(column)) {
  case SqliteStatement::Type::Null: out += "null"; return;
  case SqliteStatement::Type::Integer:
  case SqliteStatement::Type::Real: AppendNumber(out, row, column, true); return;
  case SqliteStatement::Type::Text: {
    QByteArray storage;
    AppendJsonString(out, ColumnText(row, column, urlColumn, storage));
    return;
  }
  }
}

} // namespace

std::optional<Format> FormatOf(const QString& file) {
  if (file.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
    return Format::Csv;
  if (file.endsWith(QStringLiteral(".jsonl"), Qt::CaseInsensitive))
    return Format::JsonLines;
  return std::nullopt;
}

int Write(const QString& databasePath, const QString& file, const HistorySpan& span, const QStringList& urls,
          QString* line, Table table) {
  const std::optional<Format> format = FormatOf(file);
  if (!format) {
    *line = QStringLiteral("Cannot export to %1: the file name must end in .csv or .jsonl").arg(file);
    return BadArgument;
  }
  HistoryQuery query(databasePath);
  if (!query.IsOpen()) {
    *line = query.ErrorText();
    return DatabaseUnreadable;
  }
  QSaveFile out(file);
  // Unbuffered: the blocks are large, and a short write (a full disk) then keeps its cause.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    *line = QStringLiteral("Cannot write %1: %2").arg(file, out.errorString());
    return FileUnwritable;
  }

  const bool incidents = table == Table::Incidents;
  const QStringList columns = incidents ? HistorySchema::IncidentColumns() : HistorySchema::SampleColumns();
  const int urlColumn = int(columns.indexOf(QStringLiteral("url")));
  // An address asked for by its password finds its samples, which the history keeps in the shown
  // form (and those an earlier version kept with the password).
  QStringList addresses = urls;
  for (const QString& url : urls)
    if (AddressText::HasPassword(url))
      addresses << AddressText::Shown(url);
  QByteArray block;
  block.reserve(BlockBytes + 4096);
  if (*format == Format::Csv)
    block += columns.join(QLatin1Char(',')).toUtf8() + "\r\n";
  QList<QByteArray> jsonNames;
  for (const QString& column : columns)
    jsonNames << '"' + column.toUtf8() + "\":";

  bool written = true;
  qint64 count = 0;
  const auto writeRow = [&](const SqliteStatement& row) {
    for (int column = 0; column < columns.size(); ++column) {
      if (*format == Format::Csv) {
        if (column > 0)
          block += ',';
        AppendCsvField(block, row, column, urlColumn);
      } else {
        block += column == 0 ? '{' : ',';
        block += jsonNames.at(column);
        AppendJsonValue(block, row, column, urlColumn);
      }
    }
    block += *format == Format::Csv ? "\r\n" : "}\n";
    ++count;
    if (block.size() >= BlockBytes) {
      written = TextFile::WriteAll(out, block);
      block.clear();
    }
    return written;
  };
  const bool read =
      incidents ? query.IncidentRows(span, addresses, writeRow) : query.Samples(span, addresses, writeRow);
  if (read && written && !block.isEmpty())
    written = TextFile::WriteAll(out, block);
  if (!read) {
    out.cancelWriting();
    *line = query.ErrorText();
    return DatabaseUnreadable;
  }
  if (!written || !out.commit()) {
    *line = QStringLiteral("Cannot write %1: %2").arg(file, out.errorString());
    return FileUnwritable;
  }
  *line = QStringLiteral("%1 %2 written to %3").arg(count).arg(incidents ? "incidents" : "samples", file);
  return Written;
}

int Run(const QString& databasePath, const QString& file, const QString& since, const QString& last,
        const QStringList& urls, QString* line, const QDateTime& now, Table table) {
  HistorySpan span;
  if (!since.isEmpty() && !last.isEmpty()) {
    *line = QStringLiteral("--since and --last cannot be used together");
    return BadArgument;
  }
  if (!since.isEmpty()) {
    span.from = QDateTime::fromString(since, Qt::ISODateWithMs);
    if (!span.from.isValid()) {
      *line = QStringLiteral("--since: '%1' is not an ISO 8601 date or date and time").arg(since);
      return BadArgument;
    }
  }
  if (!last.isEmpty()) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})([smhdw])$"));
    const QRegularExpressionMatch match = form.match(last);
    const qint64 count = match.hasMatch() ? match.captured(1).toLongLong() : 0;
    if (count <= 0) {
      *line = QStringLiteral("--last: '%1' is not a span such as 30m, 24h or 7d").arg(last);
      return BadArgument;
    }
    static const QString units = QStringLiteral("smhdw");
    static const qint64 seconds[] = {1, 60, 3600, 86400, 7 * 86400};
    span = HistorySpan::Last(count * seconds[units.indexOf(match.captured(2))], now);
  }
  for (const QString& url : urls)
    if (url.isEmpty()) {
      *line = QStringLiteral("--url needs an address");
      return BadArgument;
    }
  return Write(databasePath, file, span, urls, line, table);
}

} // namespace HistoryExport
