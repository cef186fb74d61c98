#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

// A prepared statement on SQLite's own interface, for the queries that read hundreds of thousands
// of rows: Qt SQL turns every value of every row into a QVariant, which makes such reads several
// times slower. The handle comes from HistoryConnection::Handle(); the statement must be destroyed
// before its connection closes.
class SqliteStatement {
public:
  SqliteStatement(sqlite3* db, const QString& sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // False when it could not be prepared (see ErrorCode()).
  bool Ok() const { return statement != nullptr; }

  // Parameters are 1-based, as in SQLite.
  void Bind(int index, const QString& text);
  void Bind(int index, qint64 value);
  void BindBlob(int index, QByteArrayView bytes);

  // The next row: true while there is one; false at the end or on an error (ErrorCode() then is
  // not 0).
  bool Step();
  // Back to before the first row, with the same parameters.
  void Reset();

  // Columns are 0-based. An integer column that is NULL reads as -1.
  enum class Type { Null, Integer, Real, Text }; // a blob counts as text
  Type TypeOf(int column) const;
  bool IsNull(int column) const;
  qint64 Int(int column) const;
  // The same without looking for NULL, which reads as 0: one call fewer for a column that cannot
  // be NULL (ifnull() in the query).
  qint64 RawInt(int column) const;
  double Real(int column) const;
  QByteArrayView Text(int column) const; // valid until the next Step()
  QString String(int column) const;
  QByteArrayView Blob(int column) const; // valid until the next Step()

  int ErrorCode() const { return errorCode; }
  QString ErrorText() const { return errorText; }

private:
  sqlite3* db;
  sqlite3_stmt* statement = nullptr;
  int errorCode = 0;
  QString errorText;
};
