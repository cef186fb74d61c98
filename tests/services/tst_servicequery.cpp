// The service query against a fake vendor service on 127.0.0.1: the request, the answer forms and
// how they are stored, failed requests, and the waiting signal around every request.
#include "core/module1.h"
#include "fakevendor.h"
#include "platform/httpclient.h"
#include "services/servicequery.h"
#include "settings/settingsstore.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

const QStringList Preset = {QStringLiteral("old0"),       QStringLiteral("old1"), QStringLiteral("old2"),
                            QStringLiteral("03-05-2024"), QStringLiteral("old4"), QStringLiteral("old5")};

QStringList Fields(ServiceAnswer answer) {
  QStringList fields;
  for (int i = 0; i < ServiceAnswer::FieldCount; ++i)
    fields << answer.Field(i);
  return fields;
}

} // namespace

class ServiceQueryTest : public QObject {
  Q_OBJECT

  FakeVendor vendor;
  HttpClient client;
  Module1 state;
  QList<bool> waits;
  QString accountId;

  bool Query() {
    return ServiceQuery::QueryService(state, client, [this](bool waiting) { waits << waiting; });
  }

private slots:
  void init() {
    TestEnvironment::Current()->Clear();
    state = Module1();
    state.VendorURL = vendor.BaseUrl();
    for (int i = 0; i < ServiceAnswer::FieldCount; ++i)
      state.ServiceField.Field(i) = Preset.at(i);
    HttpClient::SetTimeLimitMs(60000);
    SettingsStore::FirstRunSetup();
    accountId = SettingsStore::GetAccountId();
    QCOMPARE(accountId.size(), 16);
    vendor.Clear();
    waits.clear();
  }

  void answers_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("serviceOk");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("empty") << QByteArray() << false << false << Preset;
    QTest::newRow("voknog") << QByteArray("voknog") << false << false << Preset;
    QTest::newRow("four fields")
        << QByteArray("http://ref1.test/|http://ref2.test/|1.1.0|04-01-2024") << true << true
        << QStringList{"http://ref1.test/", "http://ref2.test/", "1.1.0", "04-01-2024", "old4", "old5"};
    QTest::newRow("six fields") << QByteArray("a|b|c|d|e|f") << true << true
                                << QStringList{"a", "b", "c", "d", "e", "f"};
    QTest::newRow("seven fields: six stored, result false")
        << QByteArray("a|b|c|d|e|f|g") << false << true << QStringList{"a", "b", "c", "d", "e", "f"};
    QTest::newRow("six fields and a trailing separator")
        << QByteArray("a|b|c|d|e|f|") << true << true << QStringList{"a", "b", "c", "d", "e", "f"};
    QTest::newRow("empty field 3") << QByteArray("a|b|1.1.0||e") << true << true
                                   << QStringList{"a", "b", "1.1.0", "", "e", "old5"};
    QTest::newRow("trailing separator stores no empty field")
        << QByteArray("a|b|") << true << true << QStringList{"a", "b", "old2", "03-05-2024", "old4", "old5"};
    QTest::newRow("no separator: field 0 whole")
        << QByteArray("just text") << true << true
        << QStringList{"just text", "old1", "old2", "03-05-2024", "old4", "old5"};
    QTest::newRow("a separator alone") << QByteArray("|") << true << true
                                       << QStringList{"", "old1", "old2", "03-05-2024", "old4", "old5"};
    QTest::newRow("taken as received: no trimming")
        << QByteArray(" a |b\r\n") << true << true << QStringList{" a ", "b\r\n", "old2", "03-05-2024", "old4", "old5"};
    QTest::newRow("voknog with a line end is a record")
        << QByteArray("voknog\n") << true << true
        << QStringList{"voknog\n", "old1", "old2", "03-05-2024", "old4", "old5"};
    // Bytes as they came, one byte one character: a byte-order mark makes "voknog" a record.
    QTest::newRow("voknog after a byte-order mark is a record")
        << QByteArray("\xEF\xBB\xBFvoknog") << true << true
        << QStringList{"\u00EF\u00BB\u00BFvoknog", "old1", "old2", "03-05-2024", "old4", "old5"};
    QTest::newRow("a two-byte character is two")
        << QByteArray("caf\xC3\xA9|b") << true << true
        << QStringList{"caf\u00C3\u00A9", "b", "old2", "03-05-2024", "old4", "old5"};
  }

  void answers() {
    QFETCH(QByteArray, answer);
    QFETCH(bool, result);
    QFETCH(bool, serviceOk);
    QFETCH(QStringList, fields);

    vendor.QueueQuery(answer);
    QCOMPARE(Query(), result);
    QCOMPARE(state.ServiceOk, serviceOk);
    QCOMPARE(Fields(state.ServiceField), fields);
    QCOMPARE(waits, (QList<bool>{true, false}));
    QCOMPARE(vendor.queries, QStringList{accountId});
  }

  // The address ends with the identifier and its trailing dot, unescaped.
  void requestAddress() {
    QVERIFY(ServiceQuery::QueryUrl(state.VendorURL, accountId)
                .endsWith(QStringLiteral("/cgi-bin/tarvik/ref.cgi?k=") + accountId));
    QVERIFY(accountId.endsWith(QLatin1Char('.')));
    vendor.QueueQuery("a|b|1.1.0|d");
    QVERIFY(Query());
    QCOMPARE(vendor.rawQueries, QStringList{QStringLiteral("k=") + accountId});
    QCOMPARE(vendor.Server().LastRequest().method, QByteArray("GET"));
    QCOMPARE(vendor.Server().LastRequest().path, QStringLiteral("/cgi-bin/tarvik/ref.cgi"));
  }

  // A failed request stores nothing, and the waiting signal still ends.
  void failedRequests_data() {
    QTest::addColumn<QString>("vendorUrl");
    QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::UnusedPort());
    QTest::newRow("bad address") << QString();
    QTest::newRow("not http") << QStringLiteral("file:///etc/");
    QTest::newRow("timed out") << QStringLiteral("stall");
  }

  void failedRequests() {
    QFETCH(QString, vendorUrl);
    StallServer stall(StallServer::Mode::Silent);
    if (vendorUrl == QLatin1String("stall")) {
      HttpClient::SetTimeLimitMs(300);
      vendorUrl = stall.Url();
    }
    state.VendorURL = vendorUrl;
    QVERIFY(!Query());
    QCOMPARE(waits, (QList<bool>{true, false}));
    QVERIFY(!state.ServiceOk);
    QCOMPARE(Fields(state.ServiceField), Preset);
  }

  // An error page of the server is not an answer of the service.
  void errorStatus_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
    QTest::newRow("503") << 503;
  }

  void errorStatus() {
    QFETCH(int, status);
    vendor.QueueQuery("http://a/|http://b/|1.1.0|04-01-2024", status);
    QVERIFY(!Query());
    QCOMPARE(vendor.queries.size(), 1);
    QCOMPARE(waits, (QList<bool>{true, false}));
    QVERIFY(!state.ServiceOk);
    QCOMPARE(Fields(state.ServiceField), Preset);
  }

  // An answer longer than the client keeps is cut: its start is not taken for a record.
  void oversizedAnswer() {
    vendor.QueueQuery("http://a/|http://b/|1.1.0|04-01-2024|" + QByteArray(100 * 1024, 'x'));
    QVERIFY(!Query());
    QVERIFY(!state.ServiceOk);
    QCOMPARE(Fields(state.ServiceField), Preset);
  }

  // The waiting signal covers the whole wait: it is on while the service takes its time.
  void waitingDuringTheRequest() {
    vendor.queryAnswers.enqueue(LoopbackResponse("a|b|1.1.0|d", 200, 300));
    bool sawWaiting = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] { sawWaiting = sawWaiting || (!waits.isEmpty() && waits.last()); });
    probe.start(50);
    QVERIFY(Query());
    QVERIFY(sawWaiting);
    QCOMPARE(waits, (QList<bool>{true, false}));
  }

  // Any character of a value reaches the service as the same text.
  void valuesArriveUnchanged_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("separators and blanks") << QStringLiteral("a|b c|d");
    QTest::newRow("query delimiters") << QStringLiteral("x#y&z=w?v");
    QTest::newRow("percent and plus") << QStringLiteral("100%41+1%");
    QTest::newRow("line ends") << QStringLiteral("one\r\ntwo\n");
    QTest::newRow("non-ASCII") << QStringLiteral("caf\u00e9-\u65e5\u672c-\U0001F600");
    QTest::newRow("slashes and colons") << QStringLiteral("http://www.example.com/a/b:c");
    QTest::newRow("empty") << QString();
  }

  void valuesArriveUnchanged() {
    QFETCH(QString, value);
    const QString address = ServiceQuery::QueryAddress(vendor.BaseUrl(), QStringLiteral("cgi-bin/tarvik/ref.cgi"),
                                                       {{QStringLiteral("k"), value}});
    QVERIFY(client.OpenUrl(address).ok);
    QCOMPARE(vendor.queries, QStringList{value});
    static const QRegularExpression wireForm(QStringLiteral("^k=[A-Za-z0-9._~%-]*$"));
    QVERIFY2(wireForm.match(vendor.rawQueries.value(0)).hasMatch(), qPrintable(vendor.rawQueries.value(0)));
  }
};

TARVIK_TEST_MAIN(QCoreApplication, ServiceQueryTest)
#include "tst_servicequery.moc"
