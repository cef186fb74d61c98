// The program without a window, run as a user or a service manager runs it: `tarvik --headless`
// against loopback sites, its output lines, its metrics (checked by promtool and scraped by a real
// Prometheus server), its history, and its end on SIGTERM or SIGINT.
#include "history/historyquery.h"
#include "loopbackserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// A port nobody listens on (just now).
quint16 FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// The body of a GET, or a null array when it failed.
QByteArray Get(const QString& url) {
  QNetworkAccessManager manager;
  QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(url)));
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  loop.exec();
  const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
  reply->deleteLater();
  return body;
}

bool WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// `tarvik --headless` in a program folder and settings folder of its own.
class HeadlessProgram {
public:
  explicit HeadlessProgram(const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("TARVIK_HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    // The vendor's service is a closed port: the service query fails at once and testing goes on.
    environment.insert(QStringLiteral("TARVIK_VENDOR_URL"), QStringLiteral("http://127.0.0.1:%1/").arg(FreePort()));
    process.setProcessEnvironment(environment);
  }
  ~HeadlessProgram() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished();
    }
  }

  void Start(const QStringList& arguments) { process.start(QStringLiteral(TARVIK_PROGRAM), arguments); }

  // Waits until standard output holds `count` lines; false after `ms`.
  bool WaitForLines(int count, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (Lines().size() < count) {
      if (clock.elapsed() > ms || process.state() == QProcess::NotRunning)
        return false;
      QTest::qWait(50); // the loopback site answers meanwhile
    }
    return true;
  }
  // The port of the "metrics on http://...:PORT/metrics" line of standard error; 0 when none came.
  quint16 MetricsPort(int ms) {
    static const QRegularExpression said(QStringLiteral("metrics on http://[^ ]+:(\\d+)/metrics"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms && process.state() != QProcess::NotRunning) {
      err += process.readAllStandardError();
      const QRegularExpressionMatch match = said.match(QString::fromLocal8Bit(err));
      if (match.hasMatch())
        return quint16(match.captured(1).toUInt());
      QTest::qWait(50);
    }
    return 0;
  }
  QStringList Lines() {
    out += process.readAllStandardOutput();
    QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    lines.removeLast(); // what follows the last line end
    return lines;
  }
  // Sends `signal` and waits for the end; the exit code, or -1 when it did not end normally.
  int Stop(int signal) {
    ::kill(pid_t(process.processId()), signal);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
      return -1;
    Lines();
    err += process.readAllStandardError();
    return process.exitCode();
  }
  QString Errors() { return QString::fromLocal8Bit(err += process.readAllStandardError()); }

  QProcess process;

private:
  QByteArray out;
  QByteArray err;
};

} // namespace

class HeadlessTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void samplesServesMetricsAndEndsOnSignal_data();
  void samplesServesMetricsAndEndsOnSignal();
  void refusesToStartWithoutSites_data();
  void refusesToStartWithoutSites();
  void prometheusScrapesIt();

private:
  LoopbackServer site;
};

void HeadlessTest::initTestCase() {
  site.Serve(QStringLiteral("/vok.txt"), QByteArrayLiteral("vok"));
}

void HeadlessTest::samplesServesMetricsAndEndsOnSignal_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << int(SIGTERM);
  QTest::newRow("SIGINT") << int(SIGINT);
}

void HeadlessTest::samplesServesMetricsAndEndsOnSignal() {
  QFETCH(int, signal);
  QTemporaryDir home;
  const QString good = site.BaseUrl(); // "http://127.0.0.1:<port>"
  const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(FreePort());
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, (good + QStringLiteral("\n\n") + refused + QStringLiteral("\n")).toUtf8()));

  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0"});
  const quint16 port = program.MetricsPort(20000);
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  QVERIFY2(program.WaitForLines(4, 30000), qPrintable(program.Lines().join('\n') + program.Errors()));

  // Each line: time, Site ID, Packet, Ping, Result, address; one per site and pass.
  const QStringList lines = program.Lines();
  static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
  for (int i = 0; i < 4; ++i) {
    const QStringList fields = lines.at(i).split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 6);
    QVERIFY2(time.match(fields.at(0)).hasMatch(), qPrintable(fields.at(0)));
    QCOMPARE(fields.at(1), QString::number(i % 2 + 1));
    QCOMPARE(fields.at(2), QString::number(i / 2 + 1));
    if (i % 2 == 0) {
      QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3}$")).match(fields.at(3)).hasMatch(),
               qPrintable(lines.at(i)));
      QCOMPARE(fields.at(5), good);
    } else {
      QCOMPARE(fields.at(3), QStringLiteral("Failed"));
      QCOMPARE(fields.at(4), QStringLiteral("Connection refused"));
      QCOMPARE(fields.at(5), refused);
    }
  }

  const QByteArray metrics = Get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
  QVERIFY(metrics.contains(QStringLiteral("tarvik_ping_seconds_count{url=\"%1\"} ").arg(good).toUtf8()));
  QVERIFY(metrics.contains(
      QStringLiteral("tarvik_sample_failures_total{url=\"%1\",reason=\"Connection refused\"} ").arg(refused).toUtf8()));
  QVERIFY(metrics.contains("tarvik_build_info{version=\"" TARVIK_VERSION_TEXT "\"} 1"));
  // The refused site's two rows made a down incident: one line on standard error, and the metrics.
  QVERIFY(metrics.contains(QStringLiteral("tarvik_site_up{url=\"%1\"} 1").arg(good).toUtf8()));
  QVERIFY(metrics.contains(QStringLiteral("tarvik_site_up{url=\"%1\"} 0").arg(refused).toUtf8()));
  QVERIFY(metrics.contains(QStringLiteral("tarvik_http_status_code{url=\"%1\"} 200").arg(good).toUtf8()));
  QVERIFY(metrics.contains(QStringLiteral("tarvik_incidents_total{url=\"%1\",kind=\"down\"} 1").arg(refused).toUtf8()));
  QVERIFY(metrics.contains(QStringLiteral("tarvik_incidents_total{url=\"%1\",kind=\"down\"} 0").arg(good).toUtf8()));
  static const QRegularExpression downLine(
      QStringLiteral("^tarvik: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z Site down: (.+) \\(Connection "
                     "refused\\)$"),
      QRegularExpression::MultilineOption);
  const QString errors = program.Errors();
  const QRegularExpressionMatch down = downLine.match(errors);
  QVERIFY2(down.hasMatch() && down.captured(1) == refused, qPrintable(errors));
  QCOMPARE(errors.count(QStringLiteral("Site down:")), 1);
  const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
  if (!promtool.isEmpty()) {
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(metrics);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput() + check.readAllStandardError());
  }

  QCOMPARE(program.Stop(signal), 0);
  // What was sampled is in the history, in one run that has ended.
  HistoryQuery history(home.filePath(QStringLiteral("history.sqlite")));
  const QList<SiteSummary> summary = history.Summary(HistorySpan{});
  QVERIFY2(summary.size() == 2, qPrintable(history.ErrorText()));
  for (const SiteSummary& line : summary) {
    QVERIFY(line.samples >= 2);
    if (line.url == good) {
      QCOMPARE(line.failures, 0);
    } else {
      QCOMPARE(line.url, refused);
      QCOMPARE(line.failures + line.cancelled, line.samples);
    }
  }
  const std::optional<HistoryRun> run = history.Run(1);
  QVERIFY(run && run->ended.isValid());
  // The incident goes on past the end: the next start takes it up.
  const QList<HistoryIncident> incidents = history.Incidents(HistorySpan{});
  QCOMPARE(incidents.size(), 1);
  QCOMPARE(incidents.at(0).url, refused);
  QVERIFY(incidents.at(0).Ongoing());
  // Ending updated the transfer sub-log as closing the window does.
  QVERIFY(QFile::exists(home.filePath(QStringLiteral("sublog.log"))));
}

void HeadlessTest::refusesToStartWithoutSites_data() {
  QTest::addColumn<QString>("urlsContent"); // null: no file at all
  QTest::addColumn<QString>("said");
  QTest::newRow("missing list") << QString() << QStringLiteral("tarvik: cannot read the site list");
  QTest::newRow("empty list") << QStringLiteral("\n  \n") << QStringLiteral("tarvik: no site to test in");
}

void HeadlessTest::refusesToStartWithoutSites() {
  QFETCH(QString, urlsContent);
  QFETCH(QString, said);
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  if (!urlsContent.isNull())
    QVERIFY(WriteFile(urls, urlsContent.toUtf8()));
  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls});
  QVERIFY(program.process.waitForFinished(20000));
  QCOMPARE(program.process.exitCode(), 1);
  const QString errors = program.Errors();
  QVERIFY2(errors.startsWith(said) && errors.count(QLatin1Char('\n')) == 1, qPrintable(errors));
}

void HeadlessTest::prometheusScrapesIt() {
  const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
  if (prometheus.isEmpty())
    QSKIP("prometheus is not installed (Debian package prometheus)");
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  const QString good = site.BaseUrl();
  QVERIFY(WriteFile(urls, good.toUtf8()));

  HeadlessProgram program(home.path());
  const quint16 metricsPort = FreePort();
  program.Start(
      {"--headless", "--urls", urls, "--delay", "1", "--metrics", QStringLiteral("127.0.0.1:%1").arg(metricsPort)});
  QCOMPARE(program.MetricsPort(20000), metricsPort);

  const QString config = home.filePath(QStringLiteral("prometheus.yml"));
  QVERIFY(WriteFile(config, QStringLiteral("global:\n  scrape_interval: 1s\n"
                                           "scrape_configs:\n  - job_name: tarvik\n    static_configs:\n"
                                           "      - targets: ['127.0.0.1:%1']\n")
                                .arg(metricsPort)
                                .toUtf8()));
  const quint16 webPort = FreePort();
  QProcess server;
  server.setProcessChannelMode(QProcess::MergedChannels);
  server.start(prometheus, {QStringLiteral("--config.file=") + config,
                            QStringLiteral("--storage.tsdb.path=") + home.filePath(QStringLiteral("tsdb")),
                            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(webPort)});
  QVERIFY(server.waitForStarted());

  // Asks the server until the scraped samples can be queried.
  const QString query = QStringLiteral("http://127.0.0.1:%1/api/v1/query?query=tarvik_ping_seconds_count").arg(webPort);
  QJsonArray result;
  QElapsedTimer clock;
  clock.start();
  while (result.isEmpty() && clock.elapsed() < 60000) {
    QTest::qWait(500);
    result = QJsonDocument::fromJson(Get(query))
                 .object()
                 .value(QStringLiteral("data"))
                 .toObject()
                 .value(QStringLiteral("result"))
                 .toArray();
  }
  server.terminate();
  server.waitForFinished(20000);
  QVERIFY2(!result.isEmpty(), server.readAll().right(2000).constData());
  const QJsonObject series = result.at(0).toObject();
  QCOMPARE(series.value(QStringLiteral("metric")).toObject().value(QStringLiteral("url")).toString(), good);
  QVERIFY(series.value(QStringLiteral("value")).toArray().at(1).toString().toInt() >= 1);
  QCOMPARE(program.Stop(SIGTERM), 0);
}

QTEST_GUILESS_MAIN(HeadlessTest)
#include "tst_headless.moc"
