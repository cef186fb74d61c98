#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

struct sqlite3;

// One connection of Qt SQL's SQLite driver to the history file. A connection belongs to the thread
// that opens it: create, use and destroy the object on one thread. Every object has a connection
// name of its own, so any number of them can live side by side (the store's writer, a reader on the
// window's thread, a reader on a pool thread).
class HistoryConnection {
public:
  enum class Mode {
    ReadWrite, // creates the file when missing, readable and writable by its owner alone
    ReadOnly,  // never creates or changes the file
  };
  // How long a statement waits for a lock that another connection holds before it fails.
  static constexpr int LockWaitMs = 2000;

  HistoryConnection(const QString& path, Mode mode);
  ~HistoryConnection();
  HistoryConnection(const HistoryConnection&) = delete;
  HistoryConnection& operator=(const HistoryConnection&) = delete;

  // Opens the file; false with Error() set when it cannot. A read-only connection to a missing
  // file fails without touching the folder (Error() then has no native code; see Missing()).
  bool Open();
  bool Missing() const { return missing; }
  QSqlDatabase& Database() { return db; }
  QSqlError Error() const { return error; }
  QString Path() const { return path; }

  // The connection's SQLite handle, for the statements that read many rows (SqliteStatement);
  // null when not open. It is the handle of the SQLite library that Qt's driver uses.
  sqlite3* Handle() const;

  // Every address in `samples`, in text order, found through the index on (url, at_utc) with one
  // seek per address rather than a pass over all rows. Empty with `error` set on a failure.
  QStringList Addresses(QSqlError* error);

private:
  QString path;
  Mode mode;
  QString name;
  QSqlDatabase db;
  QSqlError error;
  bool missing = false;
};
