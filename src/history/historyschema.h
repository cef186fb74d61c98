#pragma once

#include <QSqlError>
#include <QString>
#include <QStringList>

class QSqlDatabase;

// The layout of the history file, kept in PRAGMA user_version and brought forward one step at a
// time. Step n takes a file from version n - 1 to version n; a new file (version 0) goes through
// every step. Only ever add steps: a released step never changes.
//
//   1  the tables `samples` and `runs`, and the index on samples (url, at_utc)
//   2  a partial index on samples (at_utc) of the reference pings, which the summaries and charts
//      read for every span
//   3  every fetch attempt is a sample: the columns attempt and final on samples (1 and 1 for the
//      rows of older files, which kept only the fetch a row showed), cert_not_after_utc; the table
//      `incidents` with its index on (url, started_utc)
//   4  sealed hours beside the samples (HistoryBlocks): the tables `blocks`, `blocks_stale`,
//      `blocks_state` and the triggers on `samples` that keep them true; the writer builds the
//      blocks of an older file in the background
namespace HistorySchema {

// The version this program writes.
constexpr int Version = 4;

// The statements of step n (1-based), in order.
QStringList Step(int n);

// The columns of `samples`, in table order (the export's columns).
QStringList SampleColumns();
// The columns of `incidents`, in table order (the export's columns with --incidents).
QStringList IncidentColumns();

// What Migrate() found.
enum class Outcome {
  Current, // the file is at Version now (it may have been brought forward)
  Newer,   // the file was written by a newer program (user_version above Version); left untouched
  Failed,  // a statement failed; nothing was changed (see the error)
};

// Brings an open read-write database to Version in one transaction. `found` receives the version
// the file had.
Outcome Migrate(QSqlDatabase& db, QSqlError* error, int* found = nullptr);

// The file's user_version; -1 with `error` set when it cannot be read.
int FileVersion(QSqlDatabase& db, QSqlError* error);

} // namespace HistorySchema
