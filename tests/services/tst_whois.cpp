// The WHOIS readers: the name looked up for a site's address, the first two name servers of a
// WHOIS answer, and the hosting provider's domain of a name server.
#include "services/whois.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTest>

using Status = Whois::NameServerList::Status;
Q_DECLARE_METATYPE(Status)

class WhoisTest : public QObject {
  Q_OBJECT

private slots:
  void lookupName_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("name");

    QTest::newRow("three labels") << "http://www.example.com" << true << "example.com";
    QTest::newRow("two labels: whole, then scheme removed") << "http://example.com" << true << "example.com";
    QTest::newRow("no scheme") << "www.example.com" << true << "example.com";
    QTest::newRow("four labels") << "http://shop.example.co.uk" << true << "co.uk";
    QTest::newRow("path with a dot counts") << "http://www.example.com/page.html" << true << "com/page.html";
    QTest::newRow("port stays") << "http://www.example.com:8080" << true << "example.com:8080";
    QTest::newRow("numeric name, word label") << "http://www.123.com" << true << "123.com";
    QTest::newRow("word name, numeric label") << "http://www.example.12" << true << "example.12";
    QTest::newRow("IPv4") << "http://192.168.1.20" << false << "";
    QTest::newRow("last two labels numeric") << "http://host.10.20" << false << "";
    QTest::newRow("IPv4 without scheme") << "10.0.0.1" << false << "";
    QTest::newRow("two dots, nothing between") << "a.." << false << "";
    QTest::newRow("two labels over https") << "https://example.com" << true << "example.com";
    QTest::newRow("https reduced by its labels") << "https://www.example.com" << true << "example.com";
    QTest::newRow("only the first http:// goes") << "http://http://example.com" << true << "http://example.com";
    QTest::newRow("only the first scheme goes") << "https://http://example.com" << true << "http://example.com";
    QTest::newRow("upper-case scheme stays") << "HTTP://example.com" << true << "HTTP://example.com";
    QTest::newRow("trailing dot") << "http://www.example.com." << true << "com.";
    QTest::newRow("no dot") << "http://localhost" << true << "localhost";
    QTest::newRow("empty") << "" << true << "";
    QTest::newRow("single dot") << "." << true << ".";
    QTest::newRow("other digits are not decimal digits")
        << QStringLiteral("http://www.\u0661\u0662.\u0663") << true << QStringLiteral("\u0661\u0662.\u0663");
    QTest::newRow("carriage return kept") << "hostco.net\r" << true << "hostco.net\r";
  }

  void lookupName() {
    QFETCH(QString, url);
    QFETCH(bool, found);
    QFETCH(QString, name);
    const std::optional<QString> result = Whois::LookupName(url);
    QCOMPARE(result.has_value(), found);
    if (found)
      QCOMPARE(*result, name);
  }

  void nameServers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    QTest::newRow("adjacent lines, LF")
        << "Domain Name: EXAMPLE.COM\nName Server: ns1.hostco.net\nName Server: ns2.hostco.net\nDNSSEC: no\n"
        << Status::Found << "ns1.hostco.net"
        << "ns2.hostco.net";
    QTest::newRow("indented lines") << "   Name Server: NS1.HOSTCO.NET\n   Name Server: NS2.HOSTCO.NET\n"
                                    << Status::Found << "NS1.HOSTCO.NET"
                                    << "NS2.HOSTCO.NET";
    QTest::newRow("CR LF: values keep the CR") << "Name Server: ns1.hostco.net\r\nName Server: ns2.hostco.net\r\n"
                                               << Status::Found << "ns1.hostco.net\r"
                                               << "ns2.hostco.net\r";
    QTest::newRow("three: the first two") << "Name Server: a.x\nName Server: b.x\nName Server: c.x\n"
                                          << Status::Found << "a.x"
                                          << "b.x";
    QTest::newRow("lines apart") << "Name Server: a.x\nRegistrar: R\nUpdated: 2024\nName Server: b.x\n"
                                 << Status::Found << "a.x"
                                 << "b.x";
    QTest::newRow("not trimmed") << "Name Server:   a.x  \nName Server: b.x\n"
                                 << Status::Found << "  a.x  "
                                 << "b.x";
    QTest::newRow("no blank after the colon: one character lost") << "Name Server:ns1.x\nName Server:ns2.x\n"
                                                                  << Status::Found << "s1.x"
                                                                  << "s2.x";
    QTest::newRow("one character after the colon: empty value") << "Name Server: \nName Server: b.x\n"
                                                                << Status::Found << ""
                                                                << "b.x";
    QTest::newRow("one name server") << "Name Server: ns1.hostco.net\n"
                                     << Status::NotFound << ""
                                     << "";
    QTest::newRow("none") << "No match for domain.\n"
                          << Status::NotFound << ""
                          << "";
    QTest::newRow("empty") << "" << Status::NotFound << ""
                           << "";
    QTest::newRow("second not ended by LF") << "Name Server: a.x\nName Server: b.x" << Status::NotFound << ""
                                            << "";
    QTest::newRow("first not ended by LF") << "Name Server: a.x" << Status::NotFound << ""
                                           << "";
    QTest::newRow("case-sensitive") << "name server: a.x\nNAME SERVER: b.x\n"
                                    << Status::NotFound << ""
                                    << "";
    QTest::newRow("short first line") << "Name Server:\nName Server: b.x\n"
                                      << Status::ShortLine << ""
                                      << "";
    QTest::newRow("short second line") << "Name Server: a.x\nName Server:\n"
                                       << Status::ShortLine << ""
                                       << "";
    QTest::newRow("CR right after the colon: empty value") << "Name Server: a.x\nName Server:\r\n"
                                                           << Status::Found << "a.x"
                                                           << "";
  }

  void nameServers() {
    QFETCH(QString, text);
    QFETCH(Status, status);
    QFETCH(QString, first);
    QFETCH(QString, second);
    const Whois::NameServerList list = Whois::NameServers(text);
    QCOMPARE(list.status, status);
    QCOMPARE(list.first, first);
    QCOMPARE(list.second, second);
  }

  void hostOf_data() {
    QTest::addColumn<QString>("nameServer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("host");

    QTest::newRow("name server") << "ns1.hostco.net" << true << "hostco.net";
    QTest::newRow("CR kept") << "ns1.hostco.net\r" << true << "hostco.net\r";
    QTest::newRow("first dot only") << "a.b.c.d" << true << "b.c.d";
    QTest::newRow("trailing dot") << "ns1." << true << "";
    QTest::newRow("no dot") << "localhost" << false << "";
    QTest::newRow("empty") << "" << false << "";
  }

  void hostOf() {
    QFETCH(QString, nameServer);
    QFETCH(bool, found);
    QFETCH(QString, host);
    const std::optional<QString> result = Whois::HostOf(nameServer);
    QCOMPARE(result.has_value(), found);
    if (found)
      QCOMPARE(*result, host);
  }

  // Texts put together from the pieces the readers look for: every answer is one of the defined
  // outcomes, and what is found comes out of the input.
  void anyInputHasAnAnswer() {
    const QStringList pieces = {QStringLiteral("Name Server:"),
                                QStringLiteral("Name Server: "),
                                QStringLiteral("\n"),
                                QStringLiteral("\r"),
                                QStringLiteral("."),
                                QStringLiteral("7"),
                                QStringLiteral("ns"),
                                QStringLiteral("http://"),
                                QStringLiteral("\u00e9"),
                                QStringLiteral(" ")};
    QRandomGenerator random(20240305);
    for (int round = 0; round < 20000; ++round) {
      QString text;
      const int count = random.bounded(12);
      for (int i = 0; i < count; ++i)
        text += pieces.at(random.bounded(int(pieces.size())));

      if (const auto name = Whois::LookupName(text))
        QVERIFY2(text.contains(*name), qPrintable(text));
      const Whois::NameServerList list = Whois::NameServers(text);
      if (list.status == Status::Found) {
        QVERIFY2(text.contains(list.first + QLatin1Char('\n')), qPrintable(text));
        QVERIFY2(text.contains(list.second + QLatin1Char('\n')), qPrintable(text));
      } else {
        QVERIFY(list.first.isEmpty() && list.second.isEmpty());
      }
      if (const auto host = Whois::HostOf(text))
        QVERIFY(text.endsWith(*host));
    }
  }
};

TARVIK_TEST_MAIN(QCoreApplication, WhoisTest)
#include "tst_whois.moc"
