#pragma once

#include <QStringList>

class ResultsModel;

// The report log "tarvik.log" in the program folder: each report appends one block for the
// current results table, in display order (CR LF line ends, UTF-8):
//
//   -------------------- mm-dd-yyyy-------------------------
//    [ Begin: <first row's time>  End:<last row's time> ]        (only with rows)
//    [ Dropped: <n> earlier rows ]                                (only when the table dropped rows)
//   <empty line>                                                  (only with rows)
//   then, with exactly one URL in the list:
//     [URL: <url>]  <empty line>  " [Time: t] [PING:p]" per row, the last one followed by
//     17 blanks + "[Avg:a]" on a line of its own;
//   otherwise one "[URL: u] [Time: t] [PING:p][Avg:a]" line per row;
//   -------------------- End Report ---------------------
//   <empty line>
//
// A row's URL is the entry of `urls` at its Site ID (read strictly, 1-based, rounded half to even);
// a Site ID beyond the list gives an empty URL. A row whose Site ID is needed but is not a number
// (the newest row while its fetch is outstanding) stops the report there: the lines before it stay
// in the file and the function returns false. So does a file that cannot be opened or written.
// After a complete block it shows "Log Saved" and returns true.
bool WriteReportLog(const ResultsModel& model, const QStringList& urls);
