// What the history keeps of a run on real loopback sites: every fetch a row made, the repeats as
// attempts that are not final, and the end of the certificates an https site sent.
#include "engine/historyrecorder.h"
#include "enginerig.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "historyfile.h"
#include "loopbackserver.h"
#include "testenvironment.h"

#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

class HistoryRecorderTest : public QObject {
  Q_OBJECT

private slots:
  void init() { TestEnvironment::Current()->Clear(); }
  void cleanup() { HttpClient::SetTrustStoreFile(QString()); }

  // A refused site: its failed fetch and the retry that failed too; a slow https site in the first
  // pass: its measurement, the repeat, and the repeat's certificate; a fast one: one fetch.
  void everyFetchIsAnAttemptInTheHistory() {
    QTemporaryDir dir;
    HttpClient::SetTrustStoreFile(LoopbackServer::TlsFixture(QStringLiteral("ca.pem")));
    LoopbackServer secure(LoopbackTls::TestAuthority);
    int fetches = 0;
    secure.Handle(QStringLiteral("/vok.txt"), [&](const LoopbackRequest&) {
      return LoopbackResponse("vok\r\n", 200, ++fetches == 1 ? 400 : 0); // slow, then fast
    });
    LoopbackServer plain;
    plain.Serve(QStringLiteral("/vok.txt"), "vok");
    const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::UnusedPort());

    HistoryStore store;
    QVERIFY(store.Open(dir.filePath(QStringLiteral("history.sqlite"))));
    EngineRig rig;
    HistoryRecorder recorder(rig.cycle, rig.settings, store);
    rig.settings.delay = QStringLiteral("60");
    rig.settings.warning = {QStringLiteral("0.3"), QStringLiteral("20")};
    rig.settings.urls = {refused, secure.BaseUrl(), plain.BaseUrl()};
    rig.cycle.Text3_Change(QStringLiteral("3"));
    rig.SwitchOn();
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text(2, ResultsModel::SiteId), QStringLiteral("3"), 10000);
    rig.SwitchOff();
    QVERIFY(store.Flush());

    const QString notAfter = HistoryTime::Text(
        QSslCertificate::fromPath(LoopbackServer::TlsFixture(QStringLiteral("server.pem"))).value(0).expiryDate());
    HistoryFile file(dir.filePath(QStringLiteral("history.sqlite")));
    QList<QStringList> rows;
    for (const QVariantList& row :
         file.Rows(QStringLiteral("SELECT site_id, packet, attempt, final, ping_us IS NOT NULL, result, "
                                  "ifnull(cert_not_after_utc, '-') FROM samples WHERE kind = 'site' ORDER BY id"))) {
      QStringList texts;
      for (const QVariant& value : row)
        texts << value.toString();
      rows << texts;
    }
    QCOMPARE(rows, (QList<QStringList>{{"1", "1", "1", "0", "0", "Connection refused", "-"},
                                       {"1", "1", "2", "1", "0", "Connection refused", "-"},
                                       {"2", "1", "1", "0", "1", " => 0.3", notAfter},
                                       {"2", "1", "2", "1", "1", "", notAfter},
                                       {"3", "1", "1", "1", "1", "", "-"}}));
  }
};

TARVIK_TEST_MAIN(QCoreApplication, HistoryRecorderTest)
#include "tst_historyrecorder.moc"
