// Reading urls.dat: the file's bytes decoded (UTF-8, or Latin-1 when not valid UTF-8) and cut into
// lines, one entry per line.
//
// Properties: nothing crashes; no entry holds a line feed; and what is read, written back the way
// the program rewrites the file (each entry, UTF-8, then CR LF) and read again, gives the same
// entries: deleting an entry never changes the others. (The one exception is a first entry that
// itself begins with U+FEFF, which the reader takes for a byte-order mark; it can only come from a
// file that begins with two of them.)
#include "fuzzsupport.h"
#include "platform/textfile.h"

namespace {

QByteArray Written(const QStringList& lines) {
  QByteArray bytes;
  for (const QString& line : lines)
    bytes += line.toUtf8() + "\r\n";
  return bytes;
}

QString Joined(const QStringList& lines) {
  return lines.join(QStringLiteral("\xB6"));
}

void CheckEntries(const QStringList& entries, const QString& shown) {
  for (const QString& entry : entries)
    FUZZ_CHECK(!entry.contains(QLatin1Char('\n')), shown);

  QStringList expected = entries;
  if (!expected.isEmpty() && expected.first().startsWith(QChar(0xFEFF)))
    expected.first().remove(0, 1);
  const QStringList again = TextFile::SplitLines(TextFile::Decode(Written(entries)));
  FUZZ_CHECK(again == expected,
             shown + QStringLiteral(" -> ") + Joined(entries) + QStringLiteral(" -> ") + Joined(again));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = Fuzz::Bytes(data, size);
  const QString text = TextFile::Decode(bytes);
  FUZZ_CHECK(!bytes.isEmpty() || text.isEmpty(), text);
  CheckEntries(TextFile::SplitLines(text), text);

  // Entries typed into the URL field: any well-formed text without a line feed.
  for (const QString& typed : Fuzz::Texts(bytes)) {
    if (!Fuzz::WellFormed(typed))
      continue;
    QStringList entries = typed.split(QLatin1Char('\n'));
    CheckEntries(entries, typed);
  }
  return 0;
}
