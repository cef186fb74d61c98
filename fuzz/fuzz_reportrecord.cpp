// The report record: 22 fields joined by "|" and sent as the query value "p" of the upload
// address. Input: the 19 text fields (URL entry, WHOIS values, row texts, reference boxes, ...) and
// the three counts, cut at unit separators (0x1F), each as hostile as the fuzzer makes it.
//
// Properties: building never crashes; the record is the fields in order, joined by "|": it splits
// back into the 22 fields whenever no field holds a "|" (a "|" inside a field is not protected: the
// record then has one more field per "|"); and the upload address, parsed as the HTTP client parses
// it, sent in its encoded form and decoded (Fuzz::ReceivedQuery), gives the record back exactly.
#include "fuzzsupport.h"
#include "services/reportsubmission.h"

namespace {
const QString VendorUrl = QStringLiteral("http://velmora.example/");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QStringList in = Fuzz::Fields(Fuzz::Bytes(data, size), 22);
  ReportSubmission::ReportFields f;
  f.accountId = in.at(0);
  f.host = in.at(1);
  f.nameServer1 = in.at(2);
  f.nameServer2 = in.at(3);
  f.url = in.at(4);
  f.firstTime = in.at(5);
  f.firstPing = in.at(6);
  f.lastTime = in.at(7);
  f.lastPing = in.at(8);
  f.best = in.at(9);
  f.worst = in.at(10);
  f.average = in.at(11);
  f.blue = in.at(12).toInt();
  f.red = in.at(13).toInt();
  f.rowsPerUrl = in.at(14).toInt();
  f.ref1 = in.at(15);
  f.ref2 = in.at(16);
  f.bestTime = in.at(17);
  f.worstTime = in.at(18);
  f.date = in.at(19);
  f.time = in.at(20);
  f.fc = in.at(21);

  QStringList expected = in;
  expected[12] = QString::number(f.blue);
  expected[13] = QString::number(f.red);
  expected[14] = QString::number(f.rowsPerUrl);

  const QString record = ReportSubmission::ReportRecord(f);
  FUZZ_CHECK(record == expected.join(QLatin1Char('|')), record);
  const qsizetype bars = expected.join(QString()).count(QLatin1Char('|'));
  const QStringList split = record.split(QLatin1Char('|'));
  FUZZ_CHECK(split.size() == 22 + bars, record);
  if (bars == 0)
    FUZZ_CHECK(split == expected, record);

  const QString address = ReportSubmission::UploadUrl(VendorUrl, record);
  const QString prefix = VendorUrl + QStringLiteral("cgi-bin/tarvik/ref.cgi?p=");
  FUZZ_CHECK(address.startsWith(prefix), address);
  FUZZ_CHECK(QUrl(address, QUrl::TolerantMode).isValid(), address);
  const QList<std::pair<QString, QString>> items = Fuzz::ReceivedQuery(address);
  FUZZ_CHECK(items.size() == 1 && items.first().first == QLatin1String("p"), address);
  FUZZ_CHECK(items.first().second == record, record + QStringLiteral(" read as ") + items.first().second);
  return 0;
}
