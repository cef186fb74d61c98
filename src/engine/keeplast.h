#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class ResultsModel;
class StatusPanels;

// "Keep last": at the end of a run the results table is cut down to its last rows. The rows are
// written to "tmp.tmp" in the program folder, one line per row, the six column texts joined by "|"
// (CR LF line ends, UTF-8), the table is emptied and the rows are read back from the file.
namespace KeepLast {

// The 1-based display position of the first row kept of `total` rows when `keep` rows are to
// stay: total - keep + 1 rounded half to even. A keep count larger than the table keeps every row
// (1); one below 0.5 keeps none (total + 1).
int FirstKeptRow(int total, double keep);

// The kept rows, in display order, as the file's lines.
QStringList KeptLines(const ResultsModel& model, double keep);

// Writes the lines to the file as a whole (a failed write leaves no partial file behind).
bool WriteFile(const QStringList& lines);

// Splits one line of the file into the texts of a row: at every "|", where a line ending in "|"
// has no empty last field. Nothing when the line does not fit the table's six columns.
std::optional<QStringList> SplitLine(const QString& line);

// Reads the file back, appending one row per line (texts only, no colour or bold), and deletes
// it. False when the file cannot be read or a line does not fit; the rows read before stay.
bool ReloadFile(ResultsModel& model);

} // namespace KeepLast

// The end-of-run step with the "Keep last" option: keeps the last `keep` rows of the table.
//
// Only when the file was written completely is the table emptied and reloaded from it; after a
// failed write the table and the file's earlier state are left as they were. Should the reload
// fail after the table was emptied, the kept rows are put back from memory (with their marks), so
// that no row is lost; the file then stays in place.
//
// Returns true when the cycle completed: the rows came back from the file and the file is deleted.
// The caller then sets RoundCount to 0 and counts the cycle.
bool KeepLastRows(ResultsModel& model, double keep);

// The same, counting the completed cycle: `keepCycles` goes up by one (it stops at 32767) and
// StatusBar2 panel 4 reads "<n> cycles". Nothing is counted when the cycle did not complete.
bool KeepLastRows(ResultsModel& model, double keep, qint16& keepCycles, StatusPanels& bar2);
