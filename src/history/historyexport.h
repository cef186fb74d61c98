#pragma once

#include "history/historyspan.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// Export of samples (or incidents) from the history file to CSV or JSON Lines, for the Sites window
// and for the command line (`--export FILE [--incidents] [--since ISO-8601 | --last 24h]
// [--url ADDRESS]...`).
//
// Both formats have the columns of `samples` (HistorySchema::SampleColumns()), by those names and
// in that order, one sample a line in id order:
//  - CSV (RFC 4180): a header row, CR LF line ends; a field holding a comma, a quote, CR or LF is
//    quoted, with its quotes doubled; NULL is an empty field and an empty text is "" (so the two
//    stay apart);
//  - JSON Lines: one JSON object a line, LF line ends; NULL is null, integers are numbers.
// Text is UTF-8 without a byte-order mark. Addresses are written in their shown form
// (AddressText::Shown): a password, even one kept by an earlier version, is written as "***".
namespace HistoryExport {

enum class Format { Csv, JsonLines };

// What is written: the samples (the columns of `samples`), or the incidents (the columns of
// `incidents`, HistorySchema::IncidentColumns(), one incident a line in id order; the span and the
// addresses choose the incidents that overlap it, HistoryQuery::IncidentRows()).
enum class Table { Samples, Incidents };

// The exit codes of Write() and Run(), which the command line returns.
enum ExitCode {
  Written = 0,
  BadArgument = 2,        // the same code as any other bad command line
  DatabaseUnreadable = 3, // missing, damaged or locked history file
  FileUnwritable = 4,
};

// The format a file name asks for by its ending: ".csv" or ".jsonl", in any case; none otherwise.
std::optional<Format> FormatOf(const QString& file);

// Writes the samples of `span` (of the addresses `urls` only, when given) from the history file to
// `file`, in the format its name ends with. Through QSaveFile: a failed export leaves no file
// behind, and an earlier file of that name as it was. Returns an ExitCode; `line` receives one line
// saying what was written ("1234 samples written to FILE") or what went wrong.
int Write(const QString& databasePath, const QString& file, const HistorySpan& span, const QStringList& urls,
          QString* line, Table table = Table::Samples);

// The command line's export. `since`: an ISO 8601 date, or date and time ("2024-05-01",
// "2024-05-01T08:00", "2024-05-01T08:00:00.000Z", "...+02:00"; local time without "Z" or offset).
// `last`: a whole number and a unit, s, m, h, d or w ("30m", "24h", "7d"): the samples since that
// long before `now`. At most one of the two; neither exports every sample. An empty `urls` exports
// every address. Returns an ExitCode, with `line` as for Write().
int Run(const QString& databasePath, const QString& file, const QString& since, const QString& last,
        const QStringList& urls, QString* line, const QDateTime& now = QDateTime::currentDateTimeUtc(),
        Table table = Table::Samples);

} // namespace HistoryExport
