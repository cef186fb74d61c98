#pragma once

#include <QStringList>

class ResultsModel;

// The transfer sub-log "sublog.log" in the program folder: two running totals kept from one start
// of the program to the next, the bytes the tests transferred (3 per result row) and the minutes
// spent testing. The file holds two CR LF lines:
//
//   Transfer bytes, Use time(min)
//   <bytes>,<minutes>
//
// both numbers in plain form ("1386,754").
struct TransferTotals {
  double bytes = 0;
  double minutes = 0;
};

// Reads the stored totals from the file's lines. Each line is trimmed; a line that does not begin
// with a digit (the header among them) is passed over; a numeric line is split at its commas, its
// first field is the byte total and its second, trimmed, the minute total. The reading of a line
// stops at a field that is empty or does not begin with a digit, so "30," and "30,abc" give 30
// bytes and 0 minutes. Fields beyond the second are ignored. When several lines are numeric the
// last one counts, both totals from that line.
//
// A field's value is its leading number ("42 min" reads 42); an exponent right after it is part of
// the number, so a total so large that the plain form writes it as "1.5E+16" reads back the same.
// A field too large to be a finite number reads as 0. Never fails.
TransferTotals ReadTotals(const QStringList& lines);

// The file's two lines for the totals.
QStringList TotalsLines(const TransferTotals& totals);

// Adds the current results table to the stored totals and rewrites the file: bytes + 3 x rows;
// minutes + the minute boundaries from the Event Time of the table's first row (display order) to
// the current time of day (a span that comes out negative crossed midnight: 1440 minutes more; a
// first row whose Event Time is not a time adds no minutes).
//
// An empty table leaves the file alone. A failure leaves the old file as it was: a file that exists
// but cannot be read is not rewritten (its totals would be lost), and the rewrite goes through a
// temporary file that replaces the old one only once it is complete. Returns "" when the file was
// updated (or had nothing to add), else one line saying that it was not, and why.
QString UpdateTransferLog(const ResultsModel& model);
