#pragma once

#include <QString>
#include <QtGlobal>

// The benchmarks' history file: one million samples over the 30 days before `nowMs`, evenly
// spread: every tenth sample is https://site01.example's (100k), the others go round site02 to
// site20 (47k each); 1 % fail, half of those an attempt made again (final 0) and half its retry
// (attempt 2); 0.5 % answer 404 and 0.5 % a page instead of the marker; pings from 20 to 420 ms with
// a slow one (+1.5 s) now and then; phases that add up; every site sample tells a certificate. Besides: site21 with 1k samples, 8640 pings of two reference addresses, and
// run 1 from the first day on.
namespace BenchHistoryFile {

bool Make(const QString& path, qint64 nowMs);

// A week at one sample a second for each of 20 sites (12,096,000 samples, made the same way) and
// 20,160 reference pings, over the 7 days before `nowMs`.
bool MakeWeek(const QString& path, qint64 nowMs);

} // namespace BenchHistoryFile
