#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Text files of the program folder: UTF-8 without a byte-order mark, CR LF line ends. A file that is
// not valid UTF-8 is read as Latin-1.
namespace TextFile {

QString Decode(const QByteArray& bytes);

// The lines of a decoded text: LF or CR LF ends; a last line without an end counts; an empty line
// is an empty entry; an empty text has no lines. A lone CR stays in its line.
QStringList SplitLines(QString text);

// The file's lines (LF or CR LF ends; a last line without an end counts; an empty line is an empty
// entry). Nothing when the file cannot be read.
bool ReadLines(const QString& path, QStringList* lines);

// Replaces the whole file, each line followed by CR LF. Written to a temporary file first and then
// renamed over the old one, so a crash or a full disk leaves the previous content intact.
bool WriteLines(const QString& path, const QStringList& lines);

// Appends the lines, each followed by CR LF, creating the file when missing.
bool AppendLines(const QString& path, const QStringList& lines);

} // namespace TextFile
