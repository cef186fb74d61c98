#pragma once

#include <QString>

// How the windows beyond the results table show a duration: in milliseconds, with three significant
// digits but never finer than the microsecond, and in whole milliseconds from one second on, with
// the thousands set apart by a no-break space:
//
//   45 µs "0.045", 223 µs "0.223", 4 623 µs "4.62", 46.2 ms "46.2", 213.4 ms "213",
//   1 203 456 µs "1 203", 12.5 s "12 500"
//
// Figures are rounded half away from zero at the last digit shown; a rounding that carries into
// the next decade shows one digit fewer (9 996 µs "10.0", not "10.00"). The unit goes once into
// a column's header ("p95 (ms)"); a text that stands alone carries it ("4.62 ms"). The results
// table and the status panels keep their "0.000" seconds.
namespace DurationText {

// The figure in milliseconds, without the unit; empty for a negative or not-a-number duration
// (no figure).
QString Ms(double us);
// The same with its unit: "4.62 ms"; empty when there is no figure.
QString WithUnit(double us);
// A column header with the unit: "p95" -> "p95 (ms)".
QString Header(const QString& name);

} // namespace DurationText
