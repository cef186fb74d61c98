#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;

// Text files of the program folder: UTF-8 without a byte-order mark, CR LF line ends. A file that is
// not valid UTF-8 is read as Latin-1.
namespace TextFile {

QString Decode(const QByteArray& bytes);

// The lines of a decoded text: LF or CR LF ends; a last line without an end counts; an empty line
// is an empty entry; an empty text has no lines. A lone CR stays in its line.
QStringList SplitLines(QString text);

// The file's lines (LF or CR LF ends; a last line without an end counts; an empty line is an empty
// entry). Nothing when the file cannot be read; then `error` (when given) receives the reason.
bool ReadLines(const QString& path, QStringList* lines, QString* error = nullptr);

// Replaces the whole file, each line followed by CR LF. Written to a temporary file first and then
// renamed over the old one, so a crash or a full disk leaves the previous content intact. False
// when it could not, with the reason in `error` when given ("No space left on device").
bool WriteLines(const QString& path, const QStringList& lines, QString* error = nullptr);

// Writes every byte to `device`, going on after a short write. A full disk or a file-size limit
// first cuts a write short without an error; the write of the rest then fails with the reason, so
// the device's errorString() names the cause rather than "Unknown error". Open the device
// unbuffered, or a short write in its buffer's flush loses the cause again.
bool WriteAll(QIODevice& device, QByteArrayView bytes);

// Appends the lines, each followed by CR LF, creating the file when missing.
bool AppendLines(const QString& path, const QStringList& lines);

} // namespace TextFile
