#pragma once

// What the crash writer (crashwriter.cpp) writes and what tst_crashsafe expects to find after the
// writer has been killed: both sides build the same contents from here.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace CrashContent {

// The two URL lists the writer alternates between, of very different lengths, and the list the
// test starts with.
inline QStringList UrlList(int entries, char tag) {
  QStringList list;
  for (int i = 0; i < entries; ++i)
    list << QStringLiteral("http://site-%1-%2.example/some/path/to/a/page")
                .arg(QLatin1Char(tag))
                .arg(i, 5, 10, QLatin1Char('0'));
  return list;
}
inline QStringList InitialUrls() {
  return UrlList(5, 'i');
}
inline QStringList UrlsA() {
  return UrlList(200, 'a');
}
inline QStringList UrlsB() {
  return UrlList(3000, 'b');
}

// The file's bytes for a list: each entry followed by CR LF.
inline QByteArray UrlBytes(const QStringList& list) {
  QByteArray bytes;
  for (const QString& entry : list)
    bytes += entry.toUtf8() + "\r\n";
  return bytes;
}

// Long settings values: "103" and "104" each alternate between two values of different lengths.
inline QString LongValue(char fill, int length) {
  return QString(length, QLatin1Char(fill)) + QStringLiteral("|end-") + QLatin1Char(fill);
}
inline QString Initial103() {
  return QStringLiteral("initial-103");
}
inline QString Initial104() {
  return QStringLiteral("initial-104");
}
inline QString Value103(int iteration) {
  return iteration % 2 ? LongValue('a', 30000) : LongValue('b', 70000);
}
inline QString Value104(int iteration) {
  return iteration % 2 ? LongValue('c', 50000) : LongValue('d', 20000);
}

// Rows of the results table whose transfer the sub-log adds up: each update adds 3 bytes a row.
constexpr int SubLogRows = 1000;
constexpr int SubLogStep = 3 * SubLogRows;

// The report-log block that the writer of a round appends in its iteration-th turn: a first and a
// last line naming it, and lines of different lengths between them.
inline QStringList LogBlock(int round, int iteration) {
  const QString name = QStringLiteral("%1.%2").arg(round).arg(iteration);
  QStringList lines{QStringLiteral("-------------------- block ") + name + QStringLiteral(" --------------------")};
  for (int k = 0; k < 2000; ++k)
    lines << QStringLiteral("[URL: http://site-%1.example] [Line: %2] ").arg(name).arg(k) +
                 QString(k % 17, QLatin1Char('*'));
  lines << QStringLiteral("-------------------- End ") + name + QStringLiteral(" ---------------------");
  return lines;
}
inline QByteArray LogBlockBytes(int round, int iteration) {
  return UrlBytes(LogBlock(round, iteration));
}

// What the writer prints on its standard output, one character each, just before it starts an
// operation: the test reads the last one to learn where the kill landed.
constexpr char StartedMark = 'g';
constexpr char UrlsMark = 'u';
constexpr char SubLogMark = 's';
constexpr char SettingsMark = 'r';
constexpr char LogMark = 'l';
constexpr char IdleMark = '-'; // between the operations

} // namespace CrashContent
