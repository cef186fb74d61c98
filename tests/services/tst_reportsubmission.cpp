// Report submission against a fake vendor service and a fake WHOIS web service on 127.0.0.1: the
// record field by field, the dialogue with the user, the service's answers, WHOIS answers of every
// shape, and the way every ending leaves the pointer and the status light.
#include "core/module1.h"
#include "core/statuspanels.h"
#include "fakevendor.h"
#include "platform/clock.h"
#include "platform/httpclient.h"
#include "results/resultsmodel.h"
#include "scriptedboxes.h"
#include "services/reportsubmission.h"
#include "settings/settingsstore.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using Outcome = ReportSubmission::Outcome;
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Module1::FcTest)

namespace {

const QByteArray HostcoRecord = FakeWhois::Record({QStringLiteral("ns1.hostco.net"), QStringLiteral("ns2.hostco.net")});

// One row of the results table.
struct Row {
  QString eventTime;
  QString ping;
  QString siteId;
  int colour = ResultsModel::Black;
};

} // namespace

class ReportSubmissionTest : public QObject {
  Q_OBJECT

  FakeVendor vendor;
  FakeWhois whois;
  Module1 state;
  HttpClient client;
  ResultsModel results;
  StatusPanels bar2{5};
  std::unique_ptr<ScriptedBoxes> boxes;
  QString accountId;

  // What the submission reported to the window.
  QList<bool> busy;
  QList<bool> light;
  int finishedCount = 0;
  QList<int> fcCalls;
  QStringList panel1;

  QStringList urls;
  QString ref1 = QStringLiteral("0.123");
  QString ref2 = QStringLiteral("0.456");

  Outcome Submit() {
    ReportSubmission::Context context{
        state,
        results,
        urls,
        ref1,
        ref2,
        bar2,
        client,
        [this](bool on) { light << on; },
        [this](bool on) { busy << on; },
        [this] { ++finishedCount; },
        [this](int siteId) {
          fcCalls << siteId;
          return QStringLiteral("3\\0.812-%1").arg(siteId);
        },
    };
    return ReportSubmission::SubmitReport(context);
  }

  void AddRows(const QList<Row>& rows) {
    for (const Row& row : rows) {
      const ResultsModel::RowId id = results.AddRow(row.eventTime);
      results.SetText(id, ResultsModel::Ping, row.ping);
      results.SetText(id, ResultsModel::Average, QStringLiteral("0.500"));
      results.SetText(id, ResultsModel::SiteId, row.siteId);
      results.SetText(id, ResultsModel::Packet, QStringLiteral("1"));
      results.SetText(id, ResultsModel::Result, QStringLiteral("OK"));
      results.SetMark(id, row.colour, row.colour != ResultsModel::Black);
    }
  }

  // Every way out leaves the pointer at its default and the light off, each request inside one
  // on/off pair of the light.
  void CheckEnding() const {
    QVERIFY(!busy.isEmpty());
    QCOMPARE(busy.first(), true);
    QCOMPARE(busy.last(), false);
    QCOMPARE(light.size() % 2, 0);
    for (int i = 0; i < light.size(); ++i)
      QCOMPARE(light.at(i), i % 2 == 0);
    QCOMPARE(light.size() / 2, vendor.Server().RequestCount() + whois.Server().RequestCount());
  }

  QStringList FoundHostTexts() const {
    QStringList texts;
    for (const auto& box : boxes->shown)
      if (box.title == ReportSubmission::FoundHostTitle)
        texts << box.text;
    return texts;
  }

  QStringList OtherBoxTexts() const {
    QStringList texts;
    for (const auto& box : boxes->shown)
      if (box.title != ReportSubmission::FoundHostTitle)
        texts << box.text;
    return texts;
  }

private slots:
  void initTestCase() {
    QVERIFY(vendor.Server().IsListening());
    QVERIFY(whois.Server().IsListening());
  }

  void init() {
    TestEnvironment::Current()->Clear();
    state = Module1();
    state.VendorURL = vendor.BaseUrl();
    state.WhoisURL = whois.BaseUrl();
    HttpClient::SetTimeLimitMs(60000);
    SettingsStore::FirstRunSetup();
    accountId = SettingsStore::GetAccountId();
    QCOMPARE(accountId.size(), 16);
    Clock::SetFixed(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));

    vendor.Clear();
    whois.Clear();
    whois.SetRecord(QStringLiteral("example.com"), HostcoRecord);
    whois.SetRecord(QStringLiteral("example.org"), HostcoRecord);
    results.Clear();
    bar2.SetText(1, QString());
    bar2.SetText(3, QString());
    boxes = std::make_unique<ScriptedBoxes>();
    busy.clear();
    light.clear();
    finishedCount = 0;
    fcCalls.clear();
    panel1.clear();
    urls.clear();
    ref1 = QStringLiteral("0.123");
    ref2 = QStringLiteral("0.456");
    disconnect(&bar2, nullptr, this, nullptr);
    connect(&bar2, &StatusPanels::Changed, this, [this](int n, const QString& text) {
      if (n == 1)
        panel1 << text;
    });
  }

  void cleanup() {
    boxes.reset();
    Clock::SetFixed({});
  }

  // Two sites, both confirmed and accepted: every field of both records.
  void recordFieldByField() {
    urls = QStringList{QStringLiteral("http://WWW.Example.com"), QStringLiteral("http://example.org")};
    AddRows({
        {QStringLiteral("10:00:01"), QStringLiteral("0.200"), QStringLiteral("1")},
        {QStringLiteral("10:00:02"), QStringLiteral("1.500"), QStringLiteral("1"), ResultsModel::Blue},
        {QStringLiteral("10:00:03"), QStringLiteral("0.100"), QStringLiteral("1")},
        {QStringLiteral("10:00:04"), QStringLiteral("3.000"), QStringLiteral("1"), ResultsModel::Red},
        {QStringLiteral("10:00:05"), QStringLiteral("0.300"), QStringLiteral("2"), ResultsModel::Blue},
    });
    state.FcTestState = Module1::FcTest::None;
    boxes->answers << MessageBoxes::Yes << MessageBoxes::Yes;

    QCOMPARE(Submit(), Outcome::AllDone);
    CheckEnding();
    QCOMPARE(whois.lookups, (QStringList{QStringLiteral("example.com"), QStringLiteral("example.org")}));
    QCOMPARE(whois.types, (QStringList{QStringLiteral("domain"), QStringLiteral("domain")}));
    QCOMPARE(vendor.reports.size(), 2);

    const QStringList first = vendor.reports.at(0).split(QLatin1Char('|'));
    const QStringList firstExpected = {
        accountId,                                // 1 account identifier
        QStringLiteral("hostco.net"),             // 2 host
        QStringLiteral("ns1.hostco.net"),         // 3 first name server
        QStringLiteral("ns2.hostco.net"),         // 4 second name server
        QStringLiteral("http://www.example.com"), // 5 the URL in lower case
        QStringLiteral("10:00:01"),               // 6 first row: Event Time
        QStringLiteral("0.200"),                  // 7 first row: Ping
        QStringLiteral("10:00:04"),               // 8 last row: Event Time
        QStringLiteral("3.000"),                  // 9 last row: Ping
        QStringLiteral("0.100"),                  // 10 best
        QStringLiteral("3.000"),                  // 11 worst
        QStringLiteral("1.200"),                  // 12 average
        QStringLiteral("1"),                      // 13 blue rows
        QStringLiteral("1"),                      // 14 red rows
        QStringLiteral("2"),                      // 15 rows per URL: 5 / 2 = 2.5, halves to even
        QStringLiteral("0.123"),                  // 16 Ref 1
        QStringLiteral("0.456"),                  // 17 Ref 2
        QStringLiteral("10:00:03"),               // 18 time of the best row
        QStringLiteral("10:00:04"),               // 19 time of the worst row
        QStringLiteral("03-05-2024"),             // 20 date
        QStringLiteral("14:07:09"),               // 21 time
        QStringLiteral("0?0"),                    // 22 fc summary: no finished fc test
    };
    QCOMPARE(first.size(), 22);
    for (int i = 0; i < 22; ++i)
      QVERIFY2(
          first.at(i) == firstExpected.at(i),
          qPrintable(QStringLiteral("field %1: %2, expected %3").arg(i + 1).arg(first.at(i), firstExpected.at(i))));

    const QStringList second = vendor.reports.at(1).split(QLatin1Char('|'));
    QCOMPARE(second.size(), 22);
    QCOMPARE(second.mid(4, 5),
             (QStringList{QStringLiteral("http://example.org"), QStringLiteral("10:00:05"), QStringLiteral("0.300"),
                          QStringLiteral("10:00:05"), QStringLiteral("0.300")}));
    QCOMPARE(second.mid(12, 3), (QStringList{QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("2")}));

    // The fc summary is asked for each site (it fills panel 3) even when it is not sent.
    QCOMPARE(fcCalls, (QList<int>{1, 2}));

    QCOMPARE(FoundHostTexts(),
             (QStringList{QStringLiteral("http://www.example.com report is for hostco.net Is this correct?"),
                          QStringLiteral("http://example.org report is for hostco.net Is this correct?")}));
    for (const auto& box : boxes->shown) {
      QCOMPARE(box.buttons, MessageBoxes::YesNoCancel);
      QCOMPARE(box.icon, MessageBoxes::Question);
    }
    const QStringList perSite = {QStringLiteral("Retrieving Whois. Please wait"), QStringLiteral("Host: hostco.net"),
                                 QStringLiteral("Uploading Report"), QStringLiteral("hostco.net Report Submited")};
    QCOMPARE(panel1, QStringList{QStringLiteral("Building Report")} + perSite + perSite +
                         QStringList{QStringLiteral("All Done")});
    QCOMPARE(finishedCount, 1);
    QVERIFY(state.ReportSubmitted);
  }

  // Only a finished fc test sends the site's fc summary; one still running sends "0?0".
  void fcSummaryOfAFinishedFcTest_data() {
    QTest::addColumn<Module1::FcTest>("fcTest");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("finished") << Module1::FcTest::Finished << QStringList{"3\\0.812-1", "3\\0.812-2"};
    QTest::newRow("running") << Module1::FcTest::Running << QStringList{"0?0", "0?0"};
  }
  void fcSummaryOfAFinishedFcTest() {
    QFETCH(Module1::FcTest, fcTest);
    QFETCH(QStringList, sent);
    urls = QStringList{QStringLiteral("http://example.com"), QStringLiteral("http://example.org")};
    AddRows({{QStringLiteral("10:00:01"), QStringLiteral("0.200"), QStringLiteral("2")}});
    state.FcTestState = fcTest;
    boxes->answers << MessageBoxes::Yes << MessageBoxes::Yes;
    QCOMPARE(Submit(), Outcome::AllDone);
    QCOMPARE(vendor.reports.size(), 2);
    QCOMPARE(vendor.reports.at(0).split(QLatin1Char('|')).value(21), sent.at(0));
    QCOMPARE(vendor.reports.at(1).split(QLatin1Char('|')).value(21), sent.at(1));
  }

  // Whatever the texts hold, the service decodes the same record and the WHOIS service the same name.
  void awkwardTextsArriveUnchanged() {
    const QString url = QStringLiteral("http://www.ex|am ple.com/a#b&c%d+\u00e9");
    const QString lookup = QStringLiteral("ex|am ple.com/a#b&c%d+\u00e9");
    urls = QStringList{url};
    ref1 = QStringLiteral("50%");
    ref2 = QStringLiteral("a&b=c");
    // CR LF lines: the name servers, and so the host, keep their carriage return.
    whois.SetRecord(
        lookup, FakeWhois::Record({QStringLiteral("ns1.h\u00f6st.net"), QStringLiteral("ns2.h\u00f6st.net")}, "\r\n"));
    boxes->answers << MessageBoxes::Yes;

    QCOMPARE(Submit(), Outcome::AllDone);
    CheckEnding();
    QCOMPARE(whois.lookups, QStringList{lookup});
    const QString host = QStringLiteral("h\u00f6st.net\r");
    QCOMPARE(FoundHostTexts(),
             QStringList{url + QStringLiteral(" report is for ") + host + QStringLiteral(" Is this correct?")});
    const QStringList fields = {accountId,
                                host,
                                QStringLiteral("ns1.h\u00f6st.net\r"),
                                QStringLiteral("ns2.h\u00f6st.net\r"),
                                url,
                                QString(),
                                QString(),
                                QString(),
                                QString(),
                                QStringLiteral("0"),
                                QStringLiteral("0"),
                                QStringLiteral("0.000"),
                                QStringLiteral("0"),
                                QStringLiteral("0"),
                                QStringLiteral("0"),
                                ref1,
                                ref2,
                                QString(),
                                QString(),
                                QStringLiteral("03-05-2024"),
                                QStringLiteral("14:07:09"),
                                QStringLiteral("0?0")};
    QCOMPARE(vendor.reports, QStringList{fields.join(QLatin1Char('|'))});

    // On the wire both queries hold nothing but unreserved characters and escapes.
    static const QRegularExpression upload(QStringLiteral("^p=[A-Za-z0-9._~%-]*$"));
    static const QRegularExpression lookupQuery(QStringLiteral("^whois_nic=[A-Za-z0-9._~%-]*&type=domain$"));
    QVERIFY2(upload.match(vendor.rawQueries.value(0)).hasMatch(), qPrintable(vendor.rawQueries.value(0)));
    QVERIFY2(lookupQuery.match(whois.rawQueries.value(0)).hasMatch(), qPrintable(whois.rawQueries.value(0)));
  }

  // No, then Yes: the provider's own domain is looked up and its name servers are sent.
  void noThenYes() {
    urls = QStringList{QStringLiteral("http://www.example.com")};
    whois.SetRecord(QStringLiteral("example.com"),
                    FakeWhois::Record({QStringLiteral("ns1.resell.net"), QStringLiteral("ns2.resell.net")}));
    whois.SetRecord(QStringLiteral("resell.net"),
                    FakeWhois::Record({QStringLiteral("dns1.bigdc.com"), QStringLiteral("dns2.bigdc.com")}));
    boxes->answers << MessageBoxes::No << MessageBoxes::Yes;

    QCOMPARE(Submit(), Outcome::AllDone);
    CheckEnding();
    QCOMPARE(whois.lookups, (QStringList{QStringLiteral("example.com"), QStringLiteral("resell.net")}));
    QCOMPARE(FoundHostTexts(),
             (QStringList{QStringLiteral("http://www.example.com report is for resell.net Is this correct?"),
                          QStringLiteral("http://www.example.com report is for bigdc.com Is this correct?")}));
    QCOMPARE(vendor.reports.size(), 1);
    QCOMPARE(vendor.reports.at(0).split(QLatin1Char('|')).mid(1, 4),
             (QStringList{QStringLiteral("bigdc.com"), QStringLiteral("dns1.bigdc.com"),
                          QStringLiteral("dns2.bigdc.com"), QStringLiteral("http://www.example.com")}));
    // The pointer goes busy again after each answer.
    QCOMPARE(busy, (QList<bool>{true, true, true, false}));
  }

  void cancel() {
    urls = QStringList{QStringLiteral("http://www.example.com"), QStringLiteral("http://example.org")};
    boxes->answers << MessageBoxes::Cancel;
    QCOMPARE(Submit(), Outcome::Cancelled);
    CheckEnding();
    QVERIFY(vendor.reports.isEmpty());
    QCOMPARE(whois.lookups.size(), 1);
    QCOMPARE(boxes->shown.size(), 1);
    QCOMPARE(bar2.Text(1), QStringLiteral("Host: hostco.net"));
    QCOMPARE(finishedCount, 0);
    QVERIFY(!state.ReportSubmitted);
  }

  // The report service's answers for two sites.
  void serviceAnswers_data() {
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<bool>("submitted");

    const QString allDone = QStringLiteral("All Done");
    QTest::newRow("ok, ok") << QByteArrayList{"ok", "ok"} << Outcome::AllDone << 2 << QStringList() << allDone << true;
    QTest::newRow("ok, max") << QByteArrayList{"ok", "max"} << Outcome::DailyLimit << 2
                             << QStringList{ReportSubmission::DailyLimitText} << allDone << true;
    QTest::newRow("max at once: the rest is not sent")
        << QByteArrayList{"max"} << Outcome::DailyLimit << 1 << QStringList{ReportSubmission::DailyLimitText} << allDone
        << true;
    const QStringList error{ReportSubmission::SubmitErrorText};
    const QString uploading = QStringLiteral("Uploading Report");
    QTest::newRow("ok, garbage") << QByteArrayList{"ok", "<html>oops</html>"} << Outcome::Refused << 2 << error
                                 << uploading << false;
    QTest::newRow("empty") << QByteArrayList{""} << Outcome::Refused << 1 << error << uploading << false;
    QTest::newRow("upper case") << QByteArrayList{"OK"} << Outcome::Refused << 1 << error << uploading << false;
    QTest::newRow("line end") << QByteArrayList{"ok\n"} << Outcome::Refused << 1 << error << uploading << false;
  }

  void serviceAnswers() {
    QFETCH(QByteArrayList, answers);
    QFETCH(Outcome, outcome);
    QFETCH(int, reports);
    QFETCH(QStringList, messages);
    QFETCH(QString, panel);
    QFETCH(bool, submitted);

    urls = QStringList{QStringLiteral("http://www.example.com"), QStringLiteral("http://example.org")};
    for (const QByteArray& answer : answers)
      vendor.QueueReport(answer);
    boxes->answers << MessageBoxes::Yes << MessageBoxes::Yes;

    QCOMPARE(Submit(), outcome);
    CheckEnding();
    QCOMPARE(vendor.reports.size(), reports);
    QCOMPARE(OtherBoxTexts(), messages);
    for (const auto& box : boxes->shown) {
      if (box.text == ReportSubmission::DailyLimitText)
        QCOMPARE(box.icon, MessageBoxes::Information);
      if (box.text == ReportSubmission::SubmitErrorText)
        QCOMPARE(box.icon, MessageBoxes::NoIcon);
      if (box.title != ReportSubmission::FoundHostTitle) {
        QCOMPARE(box.buttons, MessageBoxes::OkOnly);
        QCOMPARE(box.title, Module1::AppTitle);
      }
    }
    QCOMPARE(bar2.Text(1), panel);
    QCOMPARE(state.ReportSubmitted, submitted);
    QCOMPARE(finishedCount, submitted ? 1 : 0);
  }

  // WHOIS answers of every shape for one site.
  void whoisAnswers_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("sent"); // fields 2 to 4 when a report is sent

    const QStringList notFound{ReportSubmission::NotFoundText};
    QTest::newRow("LF") << FakeWhois::Record({"ns1.hostco.net", "ns2.hostco.net"}) << 200 << Outcome::AllDone
                        << QStringList() << QStringList{"hostco.net", "ns1.hostco.net", "ns2.hostco.net"};
    QTest::newRow("CR LF") << FakeWhois::Record({"ns1.hostco.net", "ns2.hostco.net"}, "\r\n") << 200 << Outcome::AllDone
                           << QStringList() << QStringList{"hostco.net\r", "ns1.hostco.net\r", "ns2.hostco.net\r"};
    QTest::newRow("indented") << FakeWhois::Record({"NS1.HOSTCO.NET", "NS2.HOSTCO.NET"}, "\r\n", "   ") << 200
                              << Outcome::AllDone << QStringList()
                              << QStringList{"HOSTCO.NET\r", "NS1.HOSTCO.NET\r", "NS2.HOSTCO.NET\r"};
    QTest::newRow("one name server") << FakeWhois::Record({"ns1.hostco.net"}) << 200 << Outcome::NotFound << notFound
                                     << QStringList();
    QTest::newRow("none") << FakeWhois::Record({}) << 200 << Outcome::NotFound << notFound << QStringList();
    QTest::newRow("empty") << QByteArray() << 200 << Outcome::NotFound << notFound << QStringList();
    QTest::newRow("error page") << QByteArray("Not found") << 404 << Outcome::NotFound << notFound << QStringList();
    QTest::newRow("short Name Server: line ends silently") << QByteArray("Name Server:\nName Server: ns2.hostco.net\n")
                                                           << 200 << Outcome::Failed << QStringList() << QStringList();
    // No dot in the first name server: nothing to confirm, and no host.
    QTest::newRow("name server without a dot") << FakeWhois::Record({"localhost", "other"}) << 200 << Outcome::AllDone
                                               << QStringList() << QStringList{"", "localhost", "other"};
  }

  void whoisAnswers() {
    QFETCH(QByteArray, text);
    QFETCH(int, status);
    QFETCH(Outcome, outcome);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, sent);

    urls = QStringList{QStringLiteral("http://www.example.com")};
    whois.SetRecord(QStringLiteral("example.com"), text, status);
    boxes->answers << MessageBoxes::Yes;

    QCOMPARE(Submit(), outcome);
    CheckEnding();
    QCOMPARE(whois.lookups, QStringList{QStringLiteral("example.com")});
    QCOMPARE(OtherBoxTexts(), messages);
    QCOMPARE(vendor.reports.size(), sent.isEmpty() ? 0 : 1);
    if (!sent.isEmpty())
      QCOMPARE(vendor.reports.at(0).split(QLatin1Char('|')).mid(1, 3), sent);
    if (outcome != Outcome::AllDone) {
      QCOMPARE(bar2.Text(1), QStringLiteral("Retrieving Whois. Please wait"));
      QVERIFY(!state.ReportSubmitted);
      QCOMPARE(finishedCount, 0);
    }
  }

  // Each site is looked up afresh: an "https://" address loses its scheme like an "http://" one, and
  // a second site whose first name server has no dot sends no host rather than the first site's.
  void eachSiteIsLookedUpAfresh() {
    urls = QStringList{QStringLiteral("https://www.example.com"), QStringLiteral("https://other.com")};
    whois.SetRecord(QStringLiteral("other.com"), FakeWhois::Record({"localhost", "other"}));
    boxes->answers << MessageBoxes::Yes;
    QCOMPARE(Submit(), Outcome::AllDone);
    CheckEnding();
    QCOMPARE(whois.lookups, (QStringList{QStringLiteral("example.com"), QStringLiteral("other.com")}));
    QCOMPARE(FoundHostTexts(),
             QStringList{QStringLiteral("https://www.example.com report is for hostco.net Is this correct?")});
    QCOMPARE(vendor.reports.size(), 2);
    QCOMPARE(vendor.reports.at(0).split(QLatin1Char('|')).mid(1, 4),
             (QStringList{"hostco.net", "ns1.hostco.net", "ns2.hostco.net", "https://www.example.com"}));
    QCOMPARE(vendor.reports.at(1).split(QLatin1Char('|')).mid(1, 4),
             (QStringList{"", "localhost", "other", "https://other.com"}));
  }

  // An address of dotted numbers has no domain: no lookup is made.
  void ipv4Address() {
    urls = QStringList{QStringLiteral("http://192.168.1.20")};
    QCOMPARE(Submit(), Outcome::NotFound);
    CheckEnding();
    QCOMPARE(OtherBoxTexts(), QStringList{ReportSubmission::NotFoundText});
    QCOMPARE(boxes->shown.at(0).icon, MessageBoxes::NoIcon);
    QCOMPARE(whois.Server().RequestCount(), 0);
    QCOMPARE(vendor.Server().RequestCount(), 0);
  }

  // A site without rows repeats the previous site's first and last rows; the first site has none
  // to repeat and sends four empty fields, keeping the record at 22 fields.
  void siteWithoutRows() {
    urls = QStringList{QStringLiteral("http://a.example.com"), QStringLiteral("http://b.example.com"),
                       QStringLiteral("http://c.example.com")};
    AddRows({
        {QStringLiteral("09:00:01"), QStringLiteral("0.400"), QStringLiteral("2"), ResultsModel::Blue},
        {QStringLiteral("09:00:02"), QStringLiteral("0.500"), QStringLiteral("2")},
    });
    boxes->answers << MessageBoxes::Yes << MessageBoxes::Yes << MessageBoxes::Yes;
    QCOMPARE(Submit(), Outcome::AllDone);
    CheckEnding();
    QCOMPARE(vendor.reports.size(), 3);
    QList<QStringList> records;
    for (const QString& report : vendor.reports) {
      records << report.split(QLatin1Char('|'));
      QCOMPARE(records.last().size(), 22);
    }
    QCOMPARE(records.at(0).mid(5, 4), (QStringList{"", "", "", ""}));
    QCOMPARE(records.at(1).mid(5, 4), (QStringList{"09:00:01", "0.400", "09:00:02", "0.500"}));
    QCOMPARE(records.at(2).mid(5, 4), records.at(1).mid(5, 4));
    // Counts and figures are the site's own.
    QCOMPARE(records.at(1).mid(12, 3), (QStringList{"1", "0", "1"}));
    QCOMPARE(records.at(2).mid(9, 6), (QStringList{"0", "0", "0.000", "0", "0", "1"}));
  }

  // Counts beyond the range of a 16-bit number are sent in full.
  void largeCounts() {
    urls = QStringList{QStringLiteral("http://www.example.com")};
    for (int i = 0; i < 40000; ++i) {
      const ResultsModel::RowId id = results.AddRow(QStringLiteral("10:00:00"));
      results.SetText(id, ResultsModel::Ping, QStringLiteral("1.500"));
      results.SetText(id, ResultsModel::SiteId, QStringLiteral("1"));
      results.SetMark(id, i < 35000 ? ResultsModel::Blue : ResultsModel::Red, true);
    }
    boxes->answers << MessageBoxes::Yes;
    QCOMPARE(Submit(), Outcome::AllDone);
    QCOMPARE(vendor.reports.size(), 1);
    QCOMPARE(vendor.reports.at(0).split(QLatin1Char('|')).mid(12, 3), (QStringList{"35000", "5000", "40000"}));
  }

  void emptyAccountIdentifier() {
    TestEnvironment::Current()->Clear();
    QVERIFY(SettingsStore::GetAccountId().isEmpty());
    urls = QStringList{QStringLiteral("http://www.example.com")};
    QCOMPARE(Submit(), Outcome::NoAccount);
    QCOMPARE(busy, (QList<bool>{true, false}));
    QVERIFY(light.isEmpty());
    QCOMPARE(panel1, QStringList{QStringLiteral("Building Report")});
    QCOMPARE(whois.Server().RequestCount() + vendor.Server().RequestCount(), 0);
    QVERIFY(boxes->shown.isEmpty());
    QVERIFY(!state.ReportSubmitted);
  }

  // A request that fails ends the submission without a message.
  void failedRequests_data() {
    QTest::addColumn<bool>("whoisFails");
    QTest::addColumn<QString>("panel");
    QTest::newRow("WHOIS refused") << true << QStringLiteral("Retrieving Whois. Please wait");
    QTest::newRow("upload refused") << false << QStringLiteral("Uploading Report");
  }

  void failedRequests() {
    QFETCH(bool, whoisFails);
    QFETCH(QString, panel);
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::UnusedPort());
    (whoisFails ? state.WhoisURL : state.VendorURL) = refused;
    urls = QStringList{QStringLiteral("http://www.example.com")};
    boxes->answers << MessageBoxes::Yes;
    state.ReportSubmitted = false;

    QCOMPARE(Submit(), Outcome::Failed);
    QCOMPARE(busy.last(), false);
    QCOMPARE(light.last(), false);
    QCOMPARE(OtherBoxTexts(), QStringList());
    QCOMPARE(bar2.Text(1), panel);
    QVERIFY(!state.ReportSubmitted);
    QCOMPARE(finishedCount, 0);
  }

  // A service that takes its time: the light stays on during the wait and the upload still counts.
  void slowService() {
    urls = QStringList{QStringLiteral("http://www.example.com")};
    vendor.reportAnswers.enqueue(LoopbackResponse("ok", 200, 300));
    boxes->answers << MessageBoxes::Yes;
    QList<bool> seenDuringWait;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
      if (!light.isEmpty())
        seenDuringWait << light.last();
    });
    probe.start(50);
    QCOMPARE(Submit(), Outcome::AllDone);
    QVERIFY(seenDuringWait.contains(true));
    CheckEnding();
  }
};

TARVIK_TEST_MAIN(QCoreApplication, ReportSubmissionTest)
#include "tst_reportsubmission.moc"
