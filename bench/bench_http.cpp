// Times fetches through HttpClient against curl on the same loopback servers, with and without a
// busy window, over http and https, and checks that a very large body is read with bounded memory.
//
// A server thread serves a small file at once ("/fast") and after an added 50 ms ("/slow"), over
// http and over https (a certificate of the local test authority, tests/support/tls). The client
// trusts a store made of the system's CA bundle plus that authority, so an https fetch pays what a
// real one pays for its trust store.
//
// 1. http, three settings of the window's thread, each with N fetches through HttpClient and N runs
//    of `curl -s -o /dev/null -w '%{time_total}' URL` interleaved:
//      no window      the client alone, as before
//      idle window    the real main window (offscreen) with 100k rows in its results table
//      loaded window  the same, sorted by a column every 100 ms and repainted in between
//    Each prints the median and 95th percentile of both and their difference; the loaded window is
//    also compared with the idle one.
// 2. https: HttpClient interleaved with a warm full handshake (a libcurl handle of this process,
//    its CA store cached, no connection or TLS session reused), then curl alone (at most 50 runs).
// 3. A raw server streams a 1 GiB body: how long HttpClient takes to read it and how much the
//    process's peak memory grows.
//
// Usage: bench_http [fetches per case, default 200]   (QT_QPA_PLATFORM defaults to offscreen)

#include "core/module1.h"
#include "platform/httpclient.h"
#include "results/resultsmodel.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <curl/curl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr qint64 HugeBodyBytes = qint64(1) << 30;
constexpr int TableRows = 100000;

QString Fixture(const char* name) {
  return QStringLiteral(TARVIK_TLS_FIXTURES "/") + QLatin1String(name);
}

// Streams a body of the given size on every connection, chunk by chunk as the socket drains.
void StreamHugeBody(QTcpSocket* socket) {
  auto sent = std::make_shared<qint64>(0);
  auto started = std::make_shared<bool>(false);
  const QByteArray chunk(256 * 1024, 'a');
  auto pump = [socket, sent, chunk] {
    while (*sent < HugeBodyBytes && socket->bytesToWrite() < 4 * chunk.size()) {
      const qint64 n = std::min<qint64>(chunk.size(), HugeBodyBytes - *sent);
      socket->write(chunk.constData(), n);
      *sent += n;
    }
    if (*sent >= HugeBodyBytes)
      socket->disconnectFromHost();
  };
  QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, started, pump] {
    socket->readAll();
    if (*started)
      return;
    *started = true;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                  QByteArray::number(HugeBodyBytes) + "\r\nConnection: close\r\n\r\n");
    pump();
  });
  QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [started, pump] {
    if (*started)
      pump();
  });
  QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void AddRoutes(QHttpServer& server) {
  server.route("/fast", [] { return QHttpServerResponse("text/plain", "vok\r\n"); });
  server.route("/slow", [] {
    // Requests come one at a time: holding this thread is the added delay.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return QHttpServerResponse("text/plain", "vok\r\n");
  });
}

struct Ports {
  quint16 web = 0;
  quint16 tls = 0;
  quint16 huge = 0;
};

// Runs the servers in a thread of their own, so that they answer while the main thread waits for
// curl or for a fetch.
class ServerThread {
public:
  ServerThread() {
    std::promise<Ports> ready;
    auto portsFuture = ready.get_future();
    thread.reset(QThread::create([&ready] {
      QHttpServer web;
      AddRoutes(web);
      QHttpServer secure;
      AddRoutes(secure);
      QFile key(Fixture("server.key"));
      key.open(QIODevice::ReadOnly);
      QSslConfiguration config = QSslConfiguration::defaultConfiguration();
      config.setLocalCertificate(QSslCertificate::fromPath(Fixture("server.pem")).value(0));
      config.setPrivateKey(QSslKey(&key, QSsl::Ec));
      auto* tls = new QSslServer;
      tls->setSslConfiguration(config);
      QTcpServer huge;
      huge.listen(QHostAddress::LocalHost, 0);
      QObject::connect(&huge, &QTcpServer::newConnection, &huge, [&huge] {
        while (QTcpSocket* socket = huge.nextPendingConnection())
          StreamHugeBody(socket);
      });
      Ports ports;
      ports.web = web.listen(QHostAddress::LocalHost, 0);
      if (tls->listen(QHostAddress::LocalHost, 0)) {
        secure.bind(tls); // takes it over
        ports.tls = tls->serverPort();
      } else {
        delete tls;
      }
      ports.huge = huge.serverPort();
      ready.set_value(ports);
      QEventLoop loop;
      loop.exec(); // until the thread is told to quit
    }));
    thread->start();
    listening = portsFuture.get();
  }

  ~ServerThread() {
    thread->quit();
    thread->wait();
  }

  Ports Listening() const { return listening; }

private:
  std::unique_ptr<QThread> thread;
  Ports listening;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  // Nearest rank.
  size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  rank = std::clamp<size_t>(rank, 1, values.size());
  return values[rank - 1];
}

double CurlSeconds(const QString& curl, const QString& url, const QStringList& extra = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
  process.setProcessEnvironment(env);
  process.start(curl, extra + QStringList{QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                          QStringLiteral("-w"), QStringLiteral("%{time_total}"), url});
  if (!process.waitForFinished(30000) || process.exitCode() != 0)
    return -1;
  bool ok = false;
  const double seconds = QString::fromLatin1(process.readAllStandardOutput()).trimmed().toDouble(&ok);
  return ok ? seconds : -1;
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void PrintRow(const char* what, const std::vector<double>& values) {
  std::printf("  %-14s median %8.3f ms   p95 %8.3f ms   (n=%zu)\n", what, Percentile(values, 0.5) * 1000,
              Percentile(values, 0.95) * 1000, values.size());
}

void PrintDifference(const char* what, const std::vector<double>& ours, const std::vector<double>& theirs) {
  std::printf("  %-14s median %+8.3f ms   p95 %+8.3f ms\n", what,
              (Percentile(ours, 0.5) - Percentile(theirs, 0.5)) * 1000,
              (Percentile(ours, 0.95) - Percentile(theirs, 0.95)) * 1000);
}

struct Samples {
  std::vector<double> ours;
  std::vector<double> theirs;
  std::vector<FetchResult> results; // ours, whole
};

// N fetches through the client interleaved with N runs of curl, after a few of each to warm up.
Samples Compare(HttpClient& client, const QString& curl, const QString& url, int fetches,
                const QStringList& curlArgs = {}) {
  for (int i = 0; i < 5; ++i) {
    client.OpenUrl(url);
    if (!curl.isEmpty())
      CurlSeconds(curl, url, curlArgs);
  }
  Samples samples;
  int failures = 0;
  for (int i = 0; i < fetches; ++i) {
    const FetchResult result = client.OpenUrl(url);
    if (result.ok) {
      samples.ours.push_back(result.seconds);
      samples.results.push_back(result);
    } else {
      ++failures;
      if (failures == 1)
        std::printf("  HttpClient failed: %s\n", qPrintable(result.error));
    }
    if (!curl.isEmpty()) {
      const double seconds = CurlSeconds(curl, url, curlArgs);
      if (seconds >= 0)
        samples.theirs.push_back(seconds);
      else
        ++failures;
    }
  }
  if (failures > 0)
    std::printf("  failed fetches: %d\n", failures);
  return samples;
}

void PrintComparison(const Samples& samples, bool withCurl) {
  PrintRow("HttpClient", samples.ours);
  if (!withCurl)
    return;
  PrintRow("curl", samples.theirs);
  PrintDifference("difference", samples.ours, samples.theirs);
}

// Fills the window's results table the way sampling does: ten sites, one row per sample.
void FillTable(ResultsModel& model, int rows) {
  quint32 seed = 42;
  for (int i = 0; i < rows; ++i) {
    const int second = i / 10;
    const ResultsModel::RowId row = model.AddRow(QStringLiteral("%1:%2:%3")
                                                     .arg(second / 3600 % 24, 2, 10, QLatin1Char('0'))
                                                     .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                                                     .arg(second % 60, 2, 10, QLatin1Char('0')));
    seed = seed * 1664525u + 1013904223u;
    const int millis = 40 + int(seed >> 8) % 400;
    model.SetText(row, ResultsModel::Ping, QString::number(millis / 1000.0, 'f', 3));
    model.SetText(row, ResultsModel::Average, QStringLiteral("0.250"));
    model.SetText(row, ResultsModel::SiteId, QString::number(i % 10 + 1));
    model.SetText(row, ResultsModel::Packet, QString::number(i / 10 + 1));
    model.SetText(row, ResultsModel::Result, QString());
  }
}

// The load on the window's thread: a click on the Ping column's header every 100 ms (each sorts
// the whole table, toggling the direction) and a full repaint of the window 50 ms after each.
class WindowLoad {
public:
  explicit WindowLoad(Form1& window) : form(window) {
    sort.setInterval(100);
    sort.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sort, &QTimer::timeout, [this] {
      ++sorts;
      Busy([this] { form.ListView1_ColumnClick(ResultsModel::Ping); });
      QTimer::singleShot(50, Qt::PreciseTimer, &form, [this] { Busy([this] { form.repaint(); }); });
    });
  }
  void Start() {
    wall.start();
    busyNs = 0;
    sorts = 0;
    sort.start();
  }
  void Stop() {
    sort.stop();
    wallNs = wall.nsecsElapsed();
  }
  double BusyShare() const { return wallNs > 0 ? double(busyNs) / double(wallNs) : 0; }
  int Sorts() const { return sorts; }

private:
  void Busy(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    busyNs += timer.nsecsElapsed();
  }

  Form1& form;
  QTimer sort;
  QElapsedTimer wall;
  qint64 busyNs = 0;
  qint64 wallNs = 0;
  int sorts = 0;
};

// A warm full handshake: one libcurl handle of this process, its CA store loaded once and cached,
// a new connection and a new TLS session for every request.
class WarmHandshake {
public:
  WarmHandshake(const QString& url, const QString& trust)
      : easy(curl_easy_init()), address(url.toUtf8()), caFile(trust.toLocal8Bit()) {
    if (!easy)
      return;
    curl_easy_setopt(easy, CURLOPT_URL, address.constData());
    curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr); // a CA file alone is what libcurl caches
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
  }
  ~WarmHandshake() { curl_easy_cleanup(easy); }
  WarmHandshake(const WarmHandshake&) = delete;
  WarmHandshake& operator=(const WarmHandshake&) = delete;

  // The request's total time in seconds, -1 when it failed.
  double Fetch() {
    curl_off_t total = 0;
    if (!easy || curl_easy_perform(easy) != CURLE_OK ||
        curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &total) != CURLE_OK)
      return -1;
    return double(total) / 1e6;
  }

private:
  CURL* easy;
  QByteArray address;
  QByteArray caFile;
};

// The system's CA bundle with the local authority appended: the trust store of the https case.
QString MakeTrustFile(const QTemporaryDir& dir) {
  const QString path = dir.filePath(QStringLiteral("trust.pem"));
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly))
    return QString();
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  for (const QString& name : {QString::fromLocal8Bit(info->cainfo ? info->cainfo : ""), Fixture("ca.pem")}) {
    QFile in(name);
    if (in.open(QIODevice::ReadOnly))
      out.write(in.readAll() + '\n');
  }
  return path;
}

int CountCertificates(const QString& path) {
  return int(QSslCertificate::fromPath(path).size());
}

} // namespace

int main(int argc, char** argv) {
  // The window lives on the offscreen platform; its files and settings in a folder of its own.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  qputenv("TARVIK_HOME", home.filePath(QStringLiteral("program")).toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
  QDir().mkpath(home.filePath(QStringLiteral("program")));
  QApplication app(argc, argv);
  const int fetches = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 200;

  ServerThread servers;
  const Ports ports = servers.Listening();
  if (ports.web == 0 || ports.tls == 0 || ports.huge == 0) {
    std::fprintf(stderr, "bench_http: cannot listen on 127.0.0.1\n");
    return 1;
  }
  const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
  const QString trust = MakeTrustFile(home);
  HttpClient::SetTrustStoreFile(trust);

  std::printf("bench_http: HttpClient against curl, %d fetches per case, loopback servers\n", fetches);
  if (curl.isEmpty())
    std::printf("  curl not found: only HttpClient is timed\n");

  HttpClient client;
  const QString paths[] = {QStringLiteral("/fast"), QStringLiteral("/slow")};
  const auto httpUrl = [&ports](const QString& path) {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(ports.web).arg(path);
  };
  const auto label = [](const QString& path) { return path == QLatin1String("/fast") ? "0 ms" : "50 ms"; };

  std::printf("\n1. http\n");
  std::map<QString, Samples> idle;
  for (const QString& path : paths) {
    std::printf("no window, %s (%s added delay)\n", qPrintable(path), label(path));
    PrintComparison(Compare(client, curl, httpUrl(path), fetches), !curl.isEmpty());
  }

  Module1 state;
  Form1 form(state);
  QElapsedTimer fill;
  fill.start();
  FillTable(form.Results(), TableRows);
  form.show();
  QCoreApplication::processEvents();
  std::printf("(main window on the offscreen platform, %d rows in its table, filled in %.1f s)\n",
              form.Results().Count(), double(fill.elapsed()) / 1000);
  for (const QString& path : paths) {
    std::printf("idle window, %s (%s added delay)\n", qPrintable(path), label(path));
    idle[path] = Compare(client, curl, httpUrl(path), fetches);
    PrintComparison(idle[path], !curl.isEmpty());
  }
  WindowLoad load(form);
  for (const QString& path : paths) {
    std::printf("loaded window, %s (%s added delay)\n", qPrintable(path), label(path));
    load.Start();
    const Samples loaded = Compare(client, curl, httpUrl(path), fetches);
    load.Stop();
    PrintComparison(loaded, !curl.isEmpty());
    PrintDifference("vs idle window", loaded.ours, idle[path].ours);
    std::printf("  (window thread busy %.0f %% of the time: %d sorts, each followed by a repaint)\n",
                load.BusyShare() * 100, load.Sorts());
  }

  std::printf("\n2. https (trust store: %d certificates, the system's and the local authority)\n",
              CountCertificates(trust));
  const QString httpsUrl = QStringLiteral("https://127.0.0.1:%1/fast").arg(ports.tls);
  // The client and the warm handshake interleaved, after a few of each to warm up; then curl,
  // which loads the whole trust store in every run.
  WarmHandshake reference(httpsUrl, trust);
  Samples secure;
  std::vector<double> warm;
  int failures = 0;
  for (int i = -5; i < fetches; ++i) {
    const FetchResult result = client.OpenUrl(httpsUrl);
    const double seconds = reference.Fetch();
    if (i < 0)
      continue;
    if (result.ok) {
      secure.ours.push_back(result.seconds);
      secure.results.push_back(result);
    } else if (++failures == 1) {
      std::printf("  HttpClient failed: %s\n", qPrintable(result.error));
    }
    if (seconds >= 0)
      warm.push_back(seconds);
    else
      ++failures;
  }
  if (failures > 0)
    std::printf("  failed fetches: %d\n", failures);
  PrintRow("HttpClient", secure.ours);
  PrintRow("warm handshake", warm);
  PrintDifference("difference", secure.ours, warm);
  if (!curl.isEmpty()) {
    std::vector<double> theirs;
    for (int i = 0; i < std::min(fetches, 50); ++i) {
      const double seconds = CurlSeconds(curl, httpsUrl, {QStringLiteral("--cacert"), trust});
      if (seconds >= 0)
        theirs.push_back(seconds);
    }
    PrintRow("curl", theirs);
  }
  std::vector<double> connect;
  std::vector<double> handshake;
  std::vector<double> firstByte;
  for (const FetchResult& r : secure.results) {
    connect.push_back(double(r.connectUs) / 1e6);
    handshake.push_back(double(r.tlsUs - r.connectUs) / 1e6);
    firstByte.push_back(double(r.ttfbUs - r.tlsUs) / 1e6);
  }
  std::printf(
      "  HttpClient's phases (medians): connect %.3f ms, TLS handshake %.3f ms, request to first byte %.3f ms\n",
      Percentile(connect, 0.5) * 1000, Percentile(handshake, 0.5) * 1000, Percentile(firstByte, 0.5) * 1000);

  std::printf("\n3. large body\n");
  const long rssBefore = PeakRssKiB();
  const FetchResult huge = client.OpenUrl(QStringLiteral("http://127.0.0.1:%1/huge").arg(ports.huge));
  const long rssAfter = PeakRssKiB();
  std::printf(
      "1 GiB body: %s in %.3f s (%.0f MiB/s), %lld bytes read, %lld characters kept, peak memory "
      "%ld KiB -> %ld KiB (+%ld KiB)\n",
      huge.ok ? "read" : qPrintable(huge.error), huge.seconds, huge.seconds > 0 ? 1024.0 / huge.seconds : 0.0,
      static_cast<long long>(huge.bytes), static_cast<long long>(huge.body.size()), rssBefore, rssAfter,
      rssAfter - rssBefore);
  return 0;
}
