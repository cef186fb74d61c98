#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

// A history file seen behind the store's back: a connection of its own (Qt SQL's SQLite driver)
// that prepares files (older layouts, old samples, locks) and reads back what the store wrote. Use
// it on the thread that made it.
class HistoryFile {
public:
  explicit HistoryFile(const QString& path);
  ~HistoryFile();
  HistoryFile(const HistoryFile&) = delete;
  HistoryFile& operator=(const HistoryFile&) = delete;

  bool IsOpen() const { return db.isOpen(); }
  // Runs one statement with its values bound in order; false when it fails (Error() says why).
  bool Exec(const QString& sql, const QVariantList& values = {});
  // Every row of a query, each as its list of values.
  QList<QVariantList> Rows(const QString& sql, const QVariantList& values = {});
  // The first value of the first row; invalid when there is none.
  QVariant Value(const QString& sql, const QVariantList& values = {});
  QSqlError Error() const { return error; }
  // Closes the connection (it cannot be used afterwards).
  void Close();

private:
  QString name;
  QSqlDatabase db;
  QSqlError error;
};
