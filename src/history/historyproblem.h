#pragma once

#include <QSqlError>
#include <QString>

// Why the history file cannot be used, and the one line that says so.
namespace HistoryProblem {

enum class Kind {
  Damaged,    // not a database, truncated, or its tables are not the history's
  Locked,     // another program holds a lock longer than HistoryConnection::LockWaitMs
  Unwritable, // cannot be created or written (permissions, a read-only or full disk, ...)
  Newer,      // written by a newer version of the program (a higher user_version)
  Missing,    // does not exist (only for reading)
};

// From an SQLite result code (primary or extended).
Kind Of(int sqliteCode);
// From an error of Qt SQL's SQLite driver, whose native code is the SQLite result code.
Kind Of(const QSqlError& error);

// For the status panel when history turns itself off: "History is off: history.sqlite is damaged".
// Names the file only.
QString OffLine(Kind kind, const QString& path);

// While the writing waits for a fault to pass: the OffLine() and "; trying again every 30 s".
QString RetryLine(Kind kind, const QString& path, int retryMs);

// When the writing resumed: "History is on again: 312 queued samples written to history.sqlite",
// and "; 5000 older ones were dropped" when the queue was full.
QString BackLine(const QString& path, quint64 written, quint64 dropped);

// When the program closes the history while a fault still stops the writing: the OffLine() and
// "; 12 waiting samples were not written".
QString NotWrittenLine(Kind kind, const QString& path, quint64 samples);

// For a reader (the export): "Cannot read the history /path/history.sqlite: it is damaged". Names
// the whole path.
QString ReadLine(Kind kind, const QString& path);

} // namespace HistoryProblem
