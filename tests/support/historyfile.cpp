#include "historyfile.h"

#include <QAtomicInteger>
#include <QSqlQuery>
#include <QSqlRecord>

HistoryFile::HistoryFile(const QString& path) {
  static QAtomicInteger<int> counter;
  name = QStringLiteral("test-history-%1").arg(counter.fetchAndAddRelaxed(1));
  db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
  db.setDatabaseName(path);
  db.open();
}

HistoryFile::~HistoryFile() {
  Close();
}

void HistoryFile::Close() {
  if (!db.isValid())
    return;
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(name);
}

bool HistoryFile::Exec(const QString& sql, const QVariantList& values) {
  QSqlQuery query(db);
  if (!query.prepare(sql)) {
    error = query.lastError();
    return false;
  }
  for (const QVariant& value : values)
    query.addBindValue(value);
  if (!query.exec()) {
    error = query.lastError();
    return false;
  }
  return true;
}

QList<QVariantList> HistoryFile::Rows(const QString& sql, const QVariantList& values) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  QList<QVariantList> rows;
  if (!query.prepare(sql)) {
    error = query.lastError();
    return rows;
  }
  for (const QVariant& value : values)
    query.addBindValue(value);
  if (!query.exec()) {
    error = query.lastError();
    return rows;
  }
  while (query.next()) {
    QVariantList row;
    for (int i = 0; i < query.record().count(); ++i)
      row << query.value(i);
    rows << row;
  }
  return rows;
}

QVariant HistoryFile::Value(const QString& sql, const QVariantList& values) {
  const QList<QVariantList> rows = Rows(sql, values);
  return rows.isEmpty() || rows.first().isEmpty() ? QVariant() : rows.first().first();
}
