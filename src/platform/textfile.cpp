#include "platform/textfile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

QByteArray Encode(const QStringList& lines) {
  QByteArray bytes;
  for (const QString& line : lines) {
    bytes += line.toUtf8();
    bytes += "\r\n";
  }
  return bytes;
}

} // namespace

QString TextFile::Decode(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (utf8.hasError())
    return QString::fromLatin1(bytes);
  return text;
}

bool TextFile::ReadLines(const QString& path, QStringList* lines) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    return false;
  *lines = SplitLines(Decode(bytes));
  return true;
}

QStringList TextFile::SplitLines(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  if (text.isEmpty())
    return {};
  if (text.endsWith(QLatin1Char('\n')))
    text.chop(1);
  return text.split(QLatin1Char('\n'));
}

bool TextFile::WriteLines(const QString& path, const QStringList& lines) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  const QByteArray bytes = Encode(lines);
  // A write error may only show when the buffer is flushed: check it before the rename, so that a
  // failed rewrite never replaces the old file with a cut-off one.
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

bool TextFile::AppendLines(const QString& path, const QStringList& lines) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
    return false;
  const QByteArray bytes = Encode(lines);
  const bool written = file.write(bytes) == bytes.size();
  return file.flush() && written;
}
