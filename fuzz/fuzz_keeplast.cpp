// The keep-last file: one row per line, the six column texts joined by "|". Input: a line of the
// file, or (cut at unit separators, 0x1F) the six texts of a row.
//
// Properties: splitting any line never crashes; a line that fits gives one to six texts, none with
// a "|", which joined again give the line (without a last "|"); and a row whose texts hold no "|"
// and no line end comes back whole after it is written as a line, through the file's encoding and
// line reading, and split (a missing last text is an empty Result).
#include "engine/keeplast.h"
#include "fuzzsupport.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"

namespace {

void CheckLine(const QString& line) {
  const std::optional<QStringList> fields = KeepLast::SplitLine(line);
  if (!fields) {
    FUZZ_CHECK(line.count(QLatin1Char('|')) - (line.endsWith(QLatin1Char('|')) ? 1 : 0) >= ResultsModel::ColumnCount,
               line);
    return;
  }
  FUZZ_CHECK(!fields->isEmpty() && fields->size() <= ResultsModel::ColumnCount, line);
  for (const QString& field : *fields)
    FUZZ_CHECK(!field.contains(QLatin1Char('|')), line);
  const QString whole = line.endsWith(QLatin1Char('|')) ? line.chopped(1) : line;
  FUZZ_CHECK(fields->join(QLatin1Char('|')) == whole, line);
}

void CheckRow(QStringList texts) {
  for (QString& text : texts) {
    text.remove(QLatin1Char('|'));
    text.remove(QLatin1Char('\n'));
    text.remove(QLatin1Char('\r'));
  }
  if (!texts.isEmpty() && texts.first().startsWith(QChar(0xFEFF)))
    texts.first().remove(0, 1); // the first line of a file: a leading U+FEFF is a byte-order mark
  const QString line = texts.join(QLatin1Char('|'));
  const QStringList lines = TextFile::SplitLines(TextFile::Decode(line.toUtf8() + "\r\n"));
  FUZZ_CHECK(lines.size() == 1, line);
  std::optional<QStringList> fields = KeepLast::SplitLine(lines.first());
  FUZZ_CHECK(fields.has_value(), line);
  while (fields->size() < ResultsModel::ColumnCount)
    fields->append(QString());
  FUZZ_CHECK(*fields == texts, line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = Fuzz::Bytes(data, size);
  for (const QString& text : Fuzz::Texts(bytes))
    CheckLine(text);
  const QStringList texts = Fuzz::Fields(bytes, ResultsModel::ColumnCount);
  CheckRow(texts);
  return 0;
}
