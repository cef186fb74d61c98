#include "history/historyconnection.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

namespace {

QString NewConnectionName() {
  static QAtomicInteger<quint64> counter;
  return QStringLiteral("tarvik-history-%1").arg(counter.fetchAndAddRelaxed(1));
}

// The history tells which sites the user watches and how they answer: only its owner may read it. A
// new file is made readable and writable by its owner alone before SQLite opens it (SQLite gives its
// -wal and -shm files the same permissions); a file an earlier version made for everyone to read is
// narrowed.
void KeepPrivate(const QString& path) {
  constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  QFile created(path);
  if (created.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
    return;
  constexpr QFileDevice::Permissions Others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                              QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
  for (const QLatin1String suffix : {QLatin1String(""), QLatin1String("-wal"), QLatin1String("-shm")}) {
    const QString file = path + suffix;
    const QFileDevice::Permissions permissions = QFile::permissions(file);
    if (permissions & Others)
      QFile::setPermissions(file, permissions & ~Others);
  }
}

} // namespace

HistoryConnection::HistoryConnection(const QString& path, Mode mode)
    : path(path), mode(mode), name(NewConnectionName()) {}

HistoryConnection::~HistoryConnection() {
  if (db.isValid()) {
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
  }
}

bool HistoryConnection::Open() {
  if (mode == Mode::ReadOnly && !QFileInfo::exists(path)) {
    missing = true;
    error = QSqlError(QStringLiteral("no such file"), QString(), QSqlError::ConnectionError);
    return false;
  }
  if (mode == Mode::ReadWrite)
    KeepPrivate(path);
  if (!db.isValid())
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
  db.setDatabaseName(path);
  db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(LockWaitMs));
  if (!db.open()) {
    error = db.lastError();
    return false;
  }
  if (mode == Mode::ReadOnly)
    QSqlQuery(db).exec(QStringLiteral("PRAGMA query_only = 1"));
  return true;
}

sqlite3* HistoryConnection::Handle() const {
  if (!db.isOpen())
    return nullptr;
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
    return nullptr;
  return *static_cast<sqlite3* const*>(handle.constData());
}

QStringList HistoryConnection::Addresses(QSqlError* error) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  QStringList urls;
  if (!query.exec(QStringLiteral(
          "WITH RECURSIVE addresses(url) AS (SELECT min(url) FROM samples UNION ALL "
          "SELECT (SELECT min(url) FROM samples WHERE url > addresses.url) FROM addresses WHERE url IS NOT NULL) "
          "SELECT url FROM addresses WHERE url IS NOT NULL"))) {
    *error = query.lastError();
    return urls;
  }
  while (query.next())
    urls << query.value(0).toString();
  return urls;
}
