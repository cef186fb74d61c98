#pragma once

#include <QtGlobal>

class ResultsModel;

// A results table that holds at most a number of rows (the headless mode's --max-rows): before a
// pass adds its rows, the oldest whole passes are dropped from the front until the table has room
// for them. A pass is never split, so a pass of more rows than the limit stands alone in the table.
//
// The passes are told apart by the rows' texts: a row begins a new pass when its Packet differs from
// the row before it, or its Site ID is not above that row's (the samplers of a pass fill their rows
// in Site ID order). That holds after a restart (Packet 1 again), with a run length of 1 (every Packet
// is 1) and for the rows a "Keep last" brought back (a part of a pass).
namespace RowLimit {

// The number of rows at the front of the table that make up its oldest pass (0 for an empty table).
int FirstPassRows(const ResultsModel& model);

// Drops the oldest passes until `coming` more rows fit within `maxRows` (0: no limit); returns the
// number of rows dropped. A sorted table drops nothing.
int MakeRoom(ResultsModel& model, qint64 maxRows, int coming);

} // namespace RowLimit
