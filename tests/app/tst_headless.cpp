// The program without a window, run as a user or a service manager runs it: `tarvik --headless`
// against loopback sites, its output lines, its metrics (checked by promtool and scraped by a real
// Prometheus server), its history, and its end on SIGTERM or SIGINT.
#include "history/historyconnection.h"
#include "history/historyquery.h"
#include "loopbackserver.h"
#include "settings/valuecodec.h"

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
#include <QSettings>
#include <QSqlQuery>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

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

// The count of accepted samples of `url` in the metrics on `port`; -1 when there is none.
qint64 AcceptedSamples(quint16 port, const QString& url) {
  const QByteArray metrics = Get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
  const QRegularExpression count(
      QStringLiteral("^tarvik_ping_seconds_count\\{url=\"%1\"\\} (\\d+)$").arg(QRegularExpression::escape(url)),
      QRegularExpression::MultilineOption);
  const QRegularExpressionMatch match = count.match(QString::fromUtf8(metrics));
  return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

// A pipe between the program and a reader of the test's choosing. A small one holds one page.
class Pipe {
public:
  explicit Pipe(bool small = false) {
    if (::pipe2(ends, O_CLOEXEC) == 0 && small)
      ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
  }
  ~Pipe() {
    Close(0);
    Close(1);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int End(int which) const { return ends[which]; }
  void Close(int which) {
    if (ends[which] >= 0)
      ::close(ends[which]);
    ends[which] = -1;
  }
  // Everything in the pipe once its writers are gone.
  QByteArray ReadToEnd() {
    Close(1);
    QByteArray all;
    char buffer[4096];
    for (ssize_t n = 0; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
      all.append(buffer, n);
    return all;
  }

private:
  int ends[2] = {-1, -1};
};

// A child process modifier that makes `fd` the child's descriptor `target`.
std::function<void()> Redirect(int fd, int target) {
  return [fd, target] { ::dup2(fd, target); };
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
  // Starts it through `wrapper`, which runs the program with the arguments that follow.
  void StartThrough(const QString& wrapper, const QStringList& arguments) {
    process.start(wrapper, QStringList{QStringLiteral(TARVIK_PROGRAM)} + arguments);
  }
  // Standard output goes to `fd` (a pipe's end) instead of the test.
  void SendOutputTo(int fd) {
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setChildProcessModifier(Redirect(fd, STDOUT_FILENO));
  }
  // Waits until the metrics on `port` count at least `count` accepted samples of `url`.
  bool WaitForAccepted(quint16 port, const QString& url, qint64 count, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (AcceptedSamples(port, url) < count) {
      if (clock.elapsed() > ms || process.state() == QProcess::NotRunning)
        return false;
      QTest::qWait(200);
    }
    return true;
  }

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
    static const QRegularExpression said(QStringLiteral("metrics on https?://[^ ]+:(\\d+)/metrics"));
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
  void refusesToStart_data();
  void refusesToStart();
  void storedSamplersBeyondTheSitesTestNothing();
  void prometheusScrapesIt_data();
  void prometheusScrapesIt();
  void idleAndSlowClientsStarveNothing();
  void keepsWorkingInTheServiceSandbox();
  void warnsWhenOtherMachinesCanReachTheMetrics_data();
  void warnsWhenOtherMachinesCanReachTheMetrics();
  void stalledReaderHoldsUpNothing();
  void closedReaderStopsOnlyThePrinting();
  void stopDuringAFetchStoresItsSample_data();
  void stopDuringAFetchStoresItsSample();
  void hangUpRereadsTheSiteList();
  void failedSubLogIsTold();

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

void HeadlessTest::refusesToStart_data() {
  QTest::addColumn<QString>("urlsContent"); // null: no file at all
  QTest::addColumn<QStringList>("more");    // further arguments
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("said");
  QTest::newRow("missing list") << QString() << QStringList() << 1
                                << QStringLiteral("tarvik: cannot read the site list");
  QTest::newRow("empty list") << QStringLiteral("\n  \n") << QStringList() << 1
                              << QStringLiteral("tarvik: no site to test in");
  // A sampler beyond the list would test no site.
  QTest::newRow("more samplers than sites")
      << QStringLiteral("http://127.0.0.1:1\n\nhttp://127.0.0.1:2\n") << QStringList{"--samplers", "3"} << 2
      << QStringLiteral("tarvik: --samplers 3 is above the number of addresses to test (2)");
}

void HeadlessTest::refusesToStart() {
  QFETCH(QString, urlsContent);
  QFETCH(QStringList, more);
  QFETCH(int, exitCode);
  QFETCH(QString, said);
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  if (!urlsContent.isNull())
    QVERIFY(WriteFile(urls, urlsContent.toUtf8()));
  HeadlessProgram program(home.path());
  program.Start(QStringList{"--headless", "--urls", urls} + more);
  QVERIFY(program.process.waitForFinished(20000));
  QCOMPARE(program.process.exitCode(), exitCode);
  const QString errors = program.Errors();
  QVERIFY2(errors.startsWith(said) && errors.count(QLatin1Char('\n')) == 1, qPrintable(errors));
  QVERIFY(!QFile::exists(home.filePath(QStringLiteral("history.sqlite"))));
}

// The Samplers count stored by the window may be above the number of listed addresses: the extra
// sampler's rows reach neither the output, the metrics nor the history.
void HeadlessTest::storedSamplersBeyondTheSitesTestNothing() {
  QTemporaryDir home;
  {
    QSettings stored(home.filePath(QStringLiteral("config/Velmora/vmTARVIK.conf")), QSettings::IniFormat);
    stored.setValue(QStringLiteral("101"), QStringLiteral("damaged")); // repaired at the start
    stored.setValue(QStringLiteral("102"),
                    ValueCodec::EncodeValue(QStringLiteral("026001020"), QStringLiteral("Tarvik")));
  }
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, site.BaseUrl().toUtf8()));
  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0"});
  const quint16 port = program.MetricsPort(20000);
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  QVERIFY2(program.WaitForAccepted(port, site.BaseUrl(), 2, 30000), qPrintable(program.Errors()));
  const QByteArray metrics = Get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
  QVERIFY(!metrics.contains("url=\"\""));
  QCOMPARE(program.Stop(SIGTERM), 0);

  for (const QString& line : program.Lines())
    QVERIFY2(line.endsWith(QLatin1Char('\t') + site.BaseUrl()), qPrintable(line));
  HistoryQuery history(home.filePath(QStringLiteral("history.sqlite")));
  const QList<SiteSummary> summary = history.Summary(HistorySpan{});
  QCOMPARE(summary.size(), 1);
  QCOMPARE(summary.at(0).url, site.BaseUrl());
  QCOMPARE(summary.at(0).failures, 0);
}

void HeadlessTest::prometheusScrapesIt_data() {
  QTest::addColumn<bool>("secure"); // served over TLS with basic auth from a --web-config
  QTest::newRow("plain") << false;
  QTest::newRow("TLS with basic auth") << true;
}

void HeadlessTest::prometheusScrapesIt() {
  QFETCH(bool, secure);
  const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
  if (prometheus.isEmpty())
    QSKIP("prometheus is not installed (Debian package prometheus)");
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  const QString good = site.BaseUrl();
  QVERIFY(WriteFile(urls, good.toUtf8()));

  HeadlessProgram program(home.path());
  const quint16 metricsPort = FreePort();
  QStringList arguments{
      "--headless", "--urls", urls, "--delay", "1", "--metrics", QStringLiteral("127.0.0.1:%1").arg(metricsPort)};
  QString scrape;
  if (secure) {
    // The password is "s3cret"; its bcrypt hash (cost 5) goes in the web configuration.
    const QString web = home.filePath(QStringLiteral("web.yml"));
    QVERIFY(WriteFile(web, QStringLiteral("tls_server_config:\n  cert_file: %1\n  key_file: %2\n"
                                          "basic_auth_users:\n  prometheus: "
                                          "$2b$05$OgyYHrHjnZsTcwn6HZkBAeEphD6eC45qWM9gC5kq9pKwPUUWvp51i\n")
                               .arg(LoopbackServer::TlsFixture(QStringLiteral("server.pem")),
                                    LoopbackServer::TlsFixture(QStringLiteral("server.key")))
                               .toUtf8()));
    arguments << QStringLiteral("--web-config") << web;
    scrape = QStringLiteral(
                 "    scheme: https\n    tls_config:\n      ca_file: %1\n"
                 "    basic_auth:\n      username: prometheus\n      password: s3cret\n")
                 .arg(LoopbackServer::TlsFixture(QStringLiteral("ca.pem")));
  }
  program.Start(arguments);
  QCOMPARE(program.MetricsPort(20000), metricsPort);
  QCOMPARE(program.Errors().contains(QStringLiteral("metrics on https://")), secure);

  const QString config = home.filePath(QStringLiteral("prometheus.yml"));
  QVERIFY(WriteFile(config, QStringLiteral("global:\n  scrape_interval: 1s\n"
                                           "scrape_configs:\n  - job_name: tarvik\n%1    static_configs:\n"
                                           "      - targets: ['127.0.0.1:%2']\n")
                                .arg(scrape)
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

void HeadlessTest::idleAndSlowClientsStarveNothing() {
  // With 100 descriptors (the program uses about 16 of its own), 200 idle clients and 20 that send
  // their request a byte a second hold the metrics server while a site is sampled: the server keeps
  // at most 64 of them, so every sample is still accepted, and it closes them all within its
  // deadline of 10 s, after which it answers again.
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, site.BaseUrl().toUtf8()));
  HeadlessProgram program(home.path());
  program.process.start(
      QStringLiteral("/bin/sh"),
      {QStringLiteral("-c"), QStringLiteral("ulimit -n 100 && exec \"$0\" \"$@\""), QStringLiteral(TARVIK_PROGRAM),
       "--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0"});
  const quint16 port = program.MetricsPort(20000);
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  QVERIFY2(program.WaitForLines(1, 30000), qPrintable(program.Errors()));

  std::vector<std::unique_ptr<QTcpSocket>> clients;
  for (int i = 0; i < 220; ++i) {
    clients.push_back(std::make_unique<QTcpSocket>());
    clients.back()->connectToHost(QHostAddress::LocalHost, port);
    if (i % 20 == 0)
      QTest::qWait(10);
  }
  const int before = int(program.Lines().size());
  const QByteArray request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  QElapsedTimer clock;
  clock.start();
  int open = 0;
  for (int second = 0; clock.elapsed() < 30000; ++second) {
    open = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (clients[i]->state() == QAbstractSocket::UnconnectedState)
        continue;
      ++open;
      if (i < 20 && second < request.size())
        clients[i]->write(request.mid(second, 1));
    }
    if (open == 0)
      break;
    QTest::qWait(1000);
  }
  QCOMPARE(open, 0);
  QVERIFY2(clock.elapsed() >= 5000, "the server closed clients it kept before their deadline");

  // Sampling went on meanwhile, every sample accepted.
  const QStringList lines = program.Lines();
  QVERIFY2(lines.size() >= before + 5, qPrintable(lines.join('\n')));
  for (const QString& line : lines)
    QVERIFY2(QRegularExpression(QStringLiteral("\t\\d+\\.\\d{3}\t\t")).match(line).hasMatch(), qPrintable(line));
  QVERIFY(Get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)).contains("tarvik_last_sample_success"));

  // A few idle clients alone, with nothing else going on, are closed as well.
  clients.clear();
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<QTcpSocket>());
    clients.back()->connectToHost(QHostAddress::LocalHost, port);
  }
  QTRY_VERIFY_WITH_TIMEOUT(
      std::all_of(clients.cbegin(), clients.cend(),
                  [](const auto& client) { return client->state() == QAbstractSocket::UnconnectedState; }),
      30000);
  QCOMPARE(program.Stop(SIGTERM), 0);
}

void HeadlessTest::keepsWorkingInTheServiceSandbox() {
  // The service unit's system call filter, write-execute ban and address families: the program
  // looks names up, samples, and serves its metrics over TLS with basic auth all the same.
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  const QString byName = QStringLiteral("http://localhost:%1").arg(site.Port());
  QVERIFY(WriteFile(urls, (site.BaseUrl() + QLatin1Char('\n') + byName + QLatin1Char('\n')).toUtf8()));
  const QString web = home.filePath(QStringLiteral("web.yml"));
  QVERIFY(WriteFile(web, QStringLiteral("tls_server_config:\n  cert_file: %1\n  key_file: %2\n"
                                        "basic_auth_users:\n  prometheus: "
                                        "$2b$05$OgyYHrHjnZsTcwn6HZkBAeEphD6eC45qWM9gC5kq9pKwPUUWvp51i\n")
                             .arg(LoopbackServer::TlsFixture(QStringLiteral("server.pem")),
                                  LoopbackServer::TlsFixture(QStringLiteral("server.key")))
                             .toUtf8()));

  HeadlessProgram program(home.path());
  // LeakSanitizer's end-of-run check traces the process (ptrace), which the filter forbids: in a
  // sanitizer build the program would hang at its end. Leaks are checked by every other test.
  QProcessEnvironment environment = program.process.processEnvironment();
  const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
  environment.insert(QStringLiteral("ASAN_OPTIONS"), sanitizer.isEmpty()
                                                         ? QStringLiteral("detect_leaks=0")
                                                         : sanitizer + QStringLiteral(":detect_leaks=0"));
  program.process.setProcessEnvironment(environment);
  program.StartThrough(QStringLiteral(TARVIK_SANDBOX),
                       {"--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0", "--web-config", web});
  const quint16 port = program.MetricsPort(20000);
  if (port == 0 && program.process.exitCode() == 125)
    QSKIP(qPrintable(QStringLiteral("no sandbox here: ") + program.Errors()));
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  QVERIFY2(program.WaitForLines(4, 30000), qPrintable(program.Lines().join('\n') + program.Errors()));
  for (const QString& line : program.Lines().mid(0, 4))
    QVERIFY2(QRegularExpression(QStringLiteral("\t\\d+\\.\\d{3}\t\t")).match(line).hasMatch(), qPrintable(line));

  QNetworkAccessManager manager;
  QNetworkRequest request(QUrl(QStringLiteral("https://127.0.0.1:%1/metrics").arg(port)));
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setCaCertificates(QSslCertificate::fromPath(LoopbackServer::TlsFixture(QStringLiteral("ca.pem"))));
  request.setSslConfiguration(tls);
  request.setRawHeader("Authorization", "Basic " + QByteArray("prometheus:s3cret").toBase64());
  QNetworkReply* reply = manager.get(request);
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  loop.exec();
  QCOMPARE(reply->error(), QNetworkReply::NoError);
  QVERIFY(reply->readAll().contains(QStringLiteral("tarvik_ping_seconds_count{url=\"%1\"} ").arg(byName).toUtf8()));
  reply->deleteLater();
  QCOMPARE(program.Stop(SIGTERM), 0);
}

void HeadlessTest::warnsWhenOtherMachinesCanReachTheMetrics_data() {
  QTest::addColumn<QString>("address");
  QTest::addColumn<bool>("warned");
  QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1:0") << false;
  QTest::newRow("localhost") << QStringLiteral("localhost:0") << false;
  QTest::newRow("::1") << QStringLiteral("[::1]:0") << false;
  QTest::newRow("0.0.0.0") << QStringLiteral("0.0.0.0:0") << true;
}

void HeadlessTest::warnsWhenOtherMachinesCanReachTheMetrics() {
  QFETCH(QString, address);
  QFETCH(bool, warned);
  QTemporaryDir home;
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, site.BaseUrl().toUtf8()));
  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls, "--delay", "1", "--metrics", address});
  const quint16 port = program.MetricsPort(20000);
  if (port == 0 && address.startsWith(QLatin1Char('[')) && program.Errors().contains(QStringLiteral("cannot serve")))
    QSKIP("no IPv6 loopback here");
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  QTest::qWait(200); // the warning follows the address line
  QCOMPARE(program.Stop(SIGTERM), 0);
  const QString errors = program.Errors();
  QCOMPARE(errors.contains(QStringLiteral("tarvik: warning: ")), warned);
  if (warned)
    QVERIFY2(errors.contains(QStringLiteral("0.0.0.0 is not a loopback address: other machines can reach the metrics "
                                            "without a password (see --web-config)\n")),
             qPrintable(errors));
}

namespace {

// The sum of the "tarvik: N lines of standard output were dropped" lines; 0 when there is none.
qint64 DroppedLines(const QString& errors) {
  static const QRegularExpression told(
      QStringLiteral("^tarvik: (\\d+) lines of standard output were dropped: it was not read fast enough$"),
      QRegularExpression::MultilineOption);
  qint64 dropped = 0;
  for (QRegularExpressionMatchIterator it = told.globalMatch(errors); it.hasNext();)
    dropped += it.next().captured(1).toLongLong();
  return dropped;
}

QStringList LinesOf(const QByteArray& bytes) {
  QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
  lines.removeLast(); // what follows the last line end
  return lines;
}

// The site samples of `url` in the history of the program folder `home`; -1 when there are none.
qint64 StoredSamples(const QString& home, const QString& url) {
  HistoryQuery history(home + QStringLiteral("/history.sqlite"));
  for (const SiteSummary& line : history.Summary(HistorySpan{}))
    if (line.url == url && line.kind == HistorySample::Kind::Site)
      return line.samples;
  return -1;
}

} // namespace

// Standard output into a pipe that nobody reads: the sampling, the metrics and the stop go on, and
// every sample is either printed or counted in the line that says how many were dropped.
void HeadlessTest::stalledReaderHoldsUpNothing() {
  QTemporaryDir home;
  const QString good = site.BaseUrl();
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, QString(good + QLatin1Char('\n')).repeated(20).toUtf8()));
  Pipe pipe(true);
  HeadlessProgram program(home.path());
  program.SendOutputTo(pipe.End(1));
  program.Start({"--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0"});
  const quint16 port = program.MetricsPort(20000);
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  pipe.Close(1); // the program has its own
  // Many times what the pipe holds.
  QVERIFY2(program.WaitForAccepted(port, good, 300, 120000), qPrintable(program.Errors()));

  QElapsedTimer clock;
  clock.start();
  QCOMPARE(program.Stop(SIGTERM), 0);
  qInfo("ended %lld ms after SIGTERM, its standard output stalled", clock.elapsed());
  const QStringList printed = LinesOf(pipe.ReadToEnd());
  const qint64 stored = StoredSamples(home.path(), good);
  QVERIFY(stored >= 300);
  QVERIFY2(printed.size() < stored, qPrintable(program.Errors()));
  QCOMPARE(printed.size() + DroppedLines(program.Errors()), stored);
  for (const QString& line : printed)
    QCOMPARE(line.split(QLatin1Char('\t')).size(), 6);
  const std::optional<HistoryRun> run = HistoryQuery(home.filePath(QStringLiteral("history.sqlite"))).Run(1);
  QVERIFY(run && run->ended.isValid());
}

// Standard output into `head -n 3`, which ends after three lines: the program goes on sampling
// and says once that its output is gone.
void HeadlessTest::closedReaderStopsOnlyThePrinting() {
  QTemporaryDir home;
  const QString good = site.BaseUrl();
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, QString(good + QLatin1Char('\n')).repeated(5).toUtf8()));
  Pipe pipe;
  QProcess head;
  head.setChildProcessModifier(Redirect(pipe.End(0), STDIN_FILENO));
  head.start(QStringLiteral("head"), {QStringLiteral("-n"), QStringLiteral("3")});
  QVERIFY(head.waitForStarted());
  HeadlessProgram program(home.path());
  program.SendOutputTo(pipe.End(1));
  program.Start({"--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0"});
  const quint16 port = program.MetricsPort(20000);
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  pipe.Close(0);
  pipe.Close(1);
  QTRY_VERIFY_WITH_TIMEOUT(head.state() == QProcess::NotRunning, 60000);
  const QStringList headLines = LinesOf(head.readAllStandardOutput());
  QCOMPARE(headLines.size(), 3);
  QCOMPARE(headLines.at(0).split(QLatin1Char('\t')).size(), 6);

  const qint64 then = AcceptedSamples(port, good);
  QVERIFY2(program.WaitForAccepted(port, good, then + 10, 60000), qPrintable(program.Errors()));
  QCOMPARE(program.Stop(SIGTERM), 0);
  QVERIFY(StoredSamples(home.path(), good) >= then + 10);
  QCOMPARE(
      program.Errors().count(QStringLiteral("tarvik: standard output was closed: its lines are no longer written\n")),
      1);
  const std::optional<HistoryRun> run = HistoryQuery(home.filePath(QStringLiteral("history.sqlite"))).Run(1);
  QVERIFY(run && run->ended.isValid());
}

void HeadlessTest::stopDuringAFetchStoresItsSample_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << int(SIGTERM);
  QTest::newRow("SIGINT") << int(SIGINT);
}

// A stop while a slow site's fetch waits: the abandoned sample is printed and stored as
// "Cancelled", and the run's end is stamped after it.
void HeadlessTest::stopDuringAFetchStoresItsSample() {
  QFETCH(int, signal);
  QTemporaryDir home;
  site.Serve(QStringLiteral("/slow/vok.txt"), QByteArrayLiteral("vok"), 60000);
  const QString good = site.BaseUrl();
  const QString slow = site.Url(QStringLiteral("/slow"));
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, (good + QLatin1Char('\n') + slow + QLatin1Char('\n')).toUtf8()));

  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls, "--delay", "1"});
  QVERIFY2(program.WaitForLines(1, 30000), qPrintable(program.Errors()));
  QTRY_VERIFY_WITH_TIMEOUT(site.RequestCount(QStringLiteral("/slow/vok.txt")) >= 1, 30000);
  QTest::qWait(200);
  QCOMPARE(program.Stop(signal), 0);

  const QStringList lines = program.Lines();
  QCOMPARE(lines.size(), 2);
  QCOMPARE(lines.last().split(QLatin1Char('\t')).mid(1), (QStringList{"2", "1", "Failed", "Cancelled", slow}));

  HistoryConnection history(home.filePath(QStringLiteral("history.sqlite")), HistoryConnection::Mode::ReadOnly);
  QVERIFY(history.Open());
  QSqlQuery query(history.Database());
  QVERIFY(query.exec(QStringLiteral("SELECT s.result, s.at_utc <= r.ended_utc FROM samples s JOIN runs r ON "
                                    "r.id = s.run_id WHERE s.url = '%1' ORDER BY s.id DESC LIMIT 1")
                         .arg(slow)));
  QVERIFY2(query.next(), "the cancelled sample is not in the history");
  QCOMPARE(query.value(0).toString(), QStringLiteral("Cancelled"));
  QCOMPARE(query.value(1).toInt(), 1); // the run ended after it
  site.Remove(QStringLiteral("/slow/vok.txt"));
}

// SIGHUP: the next pass samples the new list, the metrics drop the site taken off it, the history
// begins a run with the new number of sites, and one line says what changed. A list that cannot
// be used changes nothing.
void HeadlessTest::hangUpRereadsTheSiteList() {
  QTemporaryDir home;
  for (const char* path : {"/b/vok.txt", "/c/vok.txt", "/d/vok.txt"})
    site.Serve(QString::fromLatin1(path), QByteArrayLiteral("vok"));
  const QString a = site.BaseUrl();
  const QString b = site.Url(QStringLiteral("/b"));
  const QString c = site.Url(QStringLiteral("/c"));
  const QString d = site.Url(QStringLiteral("/d"));
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, QStringList{a, b}.join(QLatin1Char('\n')).toUtf8()));

  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls, "--delay", "1", "--metrics", "127.0.0.1:0"});
  const quint16 port = program.MetricsPort(20000);
  QVERIFY2(port != 0, qPrintable(program.Errors()));
  QVERIFY2(program.WaitForLines(2, 30000), qPrintable(program.Errors()));
  QVERIFY(AcceptedSamples(port, b) >= 1);

  QVERIFY(WriteFile(urls, QStringList{a, c, d}.join(QLatin1Char('\n')).toUtf8()));
  ::kill(pid_t(program.process.processId()), SIGHUP);
  QTRY_VERIFY_WITH_TIMEOUT(program.Errors().contains(QStringLiteral("\n")), 20000);
  QTRY_VERIFY_WITH_TIMEOUT(program.Lines().join(QLatin1Char('\n')).contains(d), 30000);
  const int before = int(program.Lines().size());
  QVERIFY(program.WaitForLines(before + 3, 30000));
  // From the first line of a new site on, only the new list is sampled.
  const QStringList lines = program.Lines();
  const qsizetype firstNew = lines.indexOf(QRegularExpression(QStringLiteral(".*\t") + QRegularExpression::escape(c)));
  QVERIFY(firstNew > 0);
  for (qsizetype i = firstNew; i < lines.size(); ++i)
    QVERIFY2(!lines.at(i).endsWith(QLatin1Char('\t') + b), qPrintable(lines.at(i)));
  QCOMPARE(AcceptedSamples(port, b), -1);
  QVERIFY(AcceptedSamples(port, c) >= 1);

  // Nothing changed; then a list with no address in it.
  ::kill(pid_t(program.process.processId()), SIGHUP);
  QTRY_VERIFY_WITH_TIMEOUT(program.Errors().count(QLatin1Char('\n')) >= 3, 20000);
  QVERIFY(WriteFile(urls, "\n"));
  ::kill(pid_t(program.process.processId()), SIGHUP);
  QTRY_VERIFY_WITH_TIMEOUT(program.Errors().count(QLatin1Char('\n')) >= 4, 20000);
  const int now = int(program.Lines().size());
  QVERIFY(program.WaitForLines(now + 3, 30000));
  QCOMPARE(program.Stop(SIGTERM), 0);

  const QStringList said = program.Errors().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QCOMPARE(said.mid(1),
           (QStringList{QStringLiteral("tarvik: reload: sites: 2 added, 1 removed, 3 in all"),
                        QStringLiteral("tarvik: reload: nothing changed"),
                        QStringLiteral("tarvik: reload: no site to test in %1; nothing changed").arg(urls)}));
  HistoryQuery history(home.filePath(QStringLiteral("history.sqlite")));
  const std::optional<HistoryRun> first = history.Run(1);
  const std::optional<HistoryRun> second = history.Run(2);
  QVERIFY(first && first->ended.isValid() && first->samplers == 2);
  QVERIFY(second && second->ended.isValid() && second->samplers == 3);
  QVERIFY(first->ended <= second->started);
}

// A sub-log that cannot be updated at the end says so on standard error.
void HeadlessTest::failedSubLogIsTold() {
  QTemporaryDir home;
  QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("sublog.log"))));
  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  QVERIFY(WriteFile(urls, site.BaseUrl().toUtf8()));
  HeadlessProgram program(home.path());
  program.Start({"--headless", "--urls", urls, "--delay", "1"});
  QVERIFY2(program.WaitForLines(1, 30000), qPrintable(program.Errors()));
  QCOMPARE(program.Stop(SIGTERM), 0);
  const QString errors = program.Errors();
  static const QRegularExpression told(QStringLiteral("^tarvik: sublog\\.log not updated: it cannot be read \\("),
                                       QRegularExpression::MultilineOption);
  QVERIFY2(told.match(errors).hasMatch(), qPrintable(errors));
}

QTEST_GUILESS_MAIN(HeadlessTest)
#include "tst_headless.moc"
