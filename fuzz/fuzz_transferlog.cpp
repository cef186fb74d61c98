// Reading the transfer sub-log: the file's bytes decoded, cut into lines and read for the two
// totals.
//
// Properties: nothing crashes; both totals are finite and not negative whatever the file holds;
// and any two finite totals written as the file's lines read back within 15 significant digits
// (the bytes of the input, taken as two doubles, give the totals).
#include "fuzzsupport.h"
#include "platform/numbers.h"
#include "platform/textfile.h"
#include "results/transferlog.h"

#include <cmath>
#include <cstring>

namespace {

void CheckRead(const QStringList& lines) {
  const TransferTotals totals = ReadTotals(lines);
  const QString shown = lines.join(QLatin1Char('\n'));
  FUZZ_CHECK(std::isfinite(totals.bytes) && totals.bytes >= 0, shown);
  FUZZ_CHECK(std::isfinite(totals.minutes) && totals.minutes >= 0, shown);
}

bool Close(double read, double value) {
  return read == value || std::fabs(read - value) <= 1e-14 * std::fabs(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = Fuzz::Bytes(data, size);
  CheckRead(TextFile::SplitLines(TextFile::Decode(bytes)));
  for (const QString& text : Fuzz::Texts(bytes))
    CheckRead(text.split(QLatin1Char('\n')));

  if (size >= 2 * sizeof(double)) {
    TransferTotals totals;
    std::memcpy(&totals.bytes, data, sizeof(double));
    std::memcpy(&totals.minutes, data + sizeof(double), sizeof(double));
    totals.bytes = std::fabs(totals.bytes);
    totals.minutes = std::fabs(totals.minutes);
    if (std::isfinite(totals.bytes) && std::isfinite(totals.minutes)) {
      const QStringList lines = TotalsLines(totals);
      const TransferTotals read = ReadTotals(TextFile::SplitLines(
          TextFile::Decode((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8())));
      FUZZ_CHECK(Close(read.bytes, totals.bytes) && Close(read.minutes, totals.minutes),
                 lines.join(QLatin1Char('\n')) + QStringLiteral(" read as ") + Numbers::Plain(read.bytes) +
                     QLatin1Char(',') + Numbers::Plain(read.minutes));
    }
  }
  return 0;
}
