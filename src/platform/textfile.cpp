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

bool TextFile::ReadLines(const QString& path, QStringList* lines, QString* error) {
  QFile file(path);
  const auto failed = [&] {
    if (error)
      *error = file.errorString();
    return false;
  };
  if (!file.open(QIODevice::ReadOnly))
    return failed();
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    return failed();
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

bool TextFile::WriteLines(const QString& path, const QStringList& lines, QString* error) {
  QSaveFile file(path);
  const auto failed = [&] {
    if (error)
      *error = file.errorString();
    return false;
  };
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    return failed();
  // A failed write is found before the rename, so that a failed rewrite never replaces the old file
  // with a cut-off one.
  if (!WriteAll(file, Encode(lines))) {
    const bool told = failed();
    file.cancelWriting();
    return told;
  }
  return file.commit() || failed();
}

bool TextFile::WriteAll(QIODevice& device, QByteArrayView bytes) {
  while (!bytes.isEmpty()) {
    const qint64 written = device.write(bytes.data(), bytes.size());
    if (written <= 0)
      return false;
    bytes = bytes.sliced(written);
  }
  return true;
}

bool TextFile::AppendLines(const QString& path, const QStringList& lines) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
    return false;
  const QByteArray bytes = Encode(lines);
  const bool written = file.write(bytes) == bytes.size();
  return file.flush() && written;
}
