#include "history/sqlitestatement.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3* db, const QString& sql) : db(db) {
  if (!db) {
    errorCode = SQLITE_MISUSE;
    errorText = QStringLiteral("not open");
    return;
  }
  const QByteArray utf8 = sql.toUtf8();
  errorCode = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr);
  if (errorCode != SQLITE_OK) {
    errorText = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    statement = nullptr;
  }
}

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(statement);
}

void SqliteStatement::Bind(int index, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::Bind(int index, qint64 value) {
  sqlite3_bind_int64(statement, index, value);
}

void SqliteStatement::BindBlob(int index, QByteArrayView bytes) {
  sqlite3_bind_blob64(statement, index, bytes.data(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
}

bool SqliteStatement::Step() {
  if (!statement)
    return false;
  const int code = sqlite3_step(statement);
  if (code == SQLITE_ROW)
    return true;
  if (code != SQLITE_DONE) {
    errorCode = code;
    errorText = QString::fromUtf8(sqlite3_errmsg(db));
  }
  return false;
}

void SqliteStatement::Reset() {
  sqlite3_reset(statement);
}

SqliteStatement::Type SqliteStatement::TypeOf(int column) const {
  switch (sqlite3_column_type(statement, column)) {
  case SQLITE_NULL: return Type::Null;
  case SQLITE_INTEGER: return Type::Integer;
  case SQLITE_FLOAT: return Type::Real;
  default: return Type::Text;
  }
}

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(statement, column) == SQLITE_NULL;
}

qint64 SqliteStatement::Int(int column) const {
  return IsNull(column) ? -1 : sqlite3_column_int64(statement, column);
}

qint64 SqliteStatement::RawInt(int column) const {
  return sqlite3_column_int64(statement, column);
}

double SqliteStatement::Real(int column) const {
  return sqlite3_column_double(statement, column);
}

QByteArrayView SqliteStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text ? QByteArrayView(text, sqlite3_column_bytes(statement, column)) : QByteArrayView();
}

QString SqliteStatement::String(int column) const {
  const QByteArrayView text = Text(column);
  return QString::fromUtf8(text.data(), text.size());
}

QByteArrayView SqliteStatement::Blob(int column) const {
  const void* bytes = sqlite3_column_blob(statement, column);
  return bytes ? QByteArrayView(static_cast<const char*>(bytes), sqlite3_column_bytes(statement, column))
               : QByteArrayView();
}
