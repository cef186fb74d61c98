#include "history/historyproblem.h"

#include <QFileInfo>

#include <sqlite3.h>

namespace HistoryProblem {

Kind Of(int sqliteCode) {
  switch (sqliteCode & 0xff) {
  case SQLITE_BUSY:
  case SQLITE_LOCKED: return Kind::Locked;
  case SQLITE_READONLY:
  case SQLITE_CANTOPEN:
  case SQLITE_FULL:
  case SQLITE_IOERR:
  case SQLITE_PERM:
  case SQLITE_AUTH: return Kind::Unwritable;
  default: // SQLITE_CORRUPT, SQLITE_NOTADB, SQLITE_ERROR (a missing table or column), ...
    return Kind::Damaged;
  }
}

Kind Of(const QSqlError& error) {
  bool isNumber = false;
  const int code = error.nativeErrorCode().toInt(&isNumber);
  return isNumber ? Of(code) : Kind::Damaged;
}

QString OffLine(Kind kind, const QString& path) {
  const QString name = QFileInfo(path).fileName();
  switch (kind) {
  case Kind::Locked: return QStringLiteral("History is off: %1 is locked by another program").arg(name);
  case Kind::Unwritable:
  case Kind::Missing: return QStringLiteral("History is off: %1 cannot be written").arg(name);
  case Kind::Newer: return QStringLiteral("History is off: %1 was written by a newer version of Tarvik").arg(name);
  case Kind::Damaged: break;
  }
  return QStringLiteral("History is off: %1 is damaged").arg(name);
}

QString RetryLine(Kind kind, const QString& path, int retryMs) {
  const int seconds = qMax(1, (retryMs + 500) / 1000);
  return OffLine(kind, path) + QStringLiteral("; trying again every %1 s").arg(seconds);
}

QString BackLine(const QString& path, quint64 written, quint64 dropped) {
  QString line = QStringLiteral("History is on again: %1 queued samples written to %2")
                     .arg(written)
                     .arg(QFileInfo(path).fileName());
  if (dropped > 0)
    line += QStringLiteral("; %1 older ones were dropped").arg(dropped);
  return line;
}

QString NotWrittenLine(Kind kind, const QString& path, quint64 samples) {
  return OffLine(kind, path) + QStringLiteral("; %1 waiting samples were not written").arg(samples);
}

QString ReadLine(Kind kind, const QString& path) {
  const QString start = QStringLiteral("Cannot read the history %1: ").arg(path);
  switch (kind) {
  case Kind::Missing: return start + QStringLiteral("no such file");
  case Kind::Locked: return start + QStringLiteral("it is locked by another program");
  case Kind::Unwritable: return start + QStringLiteral("it cannot be opened");
  case Kind::Newer:
  case Kind::Damaged: break;
  }
  return start + QStringLiteral("it is damaged");
}

} // namespace HistoryProblem
