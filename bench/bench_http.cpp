// Times fetches through HttpClient against curl on the same loopback server, and checks that a very
// large body is read with bounded memory.
//
// A QHttpServer in its own thread serves a small file at once ("/fast") and after an added 50 ms
// ("/slow"). For each, the program makes N fetches through HttpClient and N runs of
//   curl -s -o /dev/null -w '%{time_total}' URL
// interleaved, and prints the median and 95th percentile of both and their difference. Then a raw
// server streams a 1 GiB body and the program prints how long HttpClient took to read it and how
// much the process's peak memory grew.
//
// Usage: bench_http [fetches per case, default 200]

#include "platform/httpclient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr qint64 HugeBodyBytes = qint64(1) << 30;

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

struct Ports {
  quint16 web = 0;
  quint16 huge = 0;
};

// Runs both servers in a thread of their own, so that they answer while the main thread waits for
// curl or for a fetch.
class ServerThread {
public:
  ServerThread() {
    std::promise<Ports> ready;
    auto portsFuture = ready.get_future();
    m_thread.reset(QThread::create([this, &ready] {
      QHttpServer web;
      web.route("/fast", [] { return QHttpServerResponse("text/plain", "vok\r\n"); });
      web.route("/slow", [] {
        // Requests come one at a time: holding this thread is the added delay.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return QHttpServerResponse("text/plain", "vok\r\n");
      });
      QTcpServer huge;
      huge.listen(QHostAddress::LocalHost, 0);
      QObject::connect(&huge, &QTcpServer::newConnection, &huge, [&huge] {
        while (QTcpSocket* socket = huge.nextPendingConnection())
          StreamHugeBody(socket);
      });
      Ports ports;
      ports.web = web.listen(QHostAddress::LocalHost, 0);
      ports.huge = huge.serverPort();
      ready.set_value(ports);
      QEventLoop loop;
      loop.exec();  // until the thread is told to quit
    }));
    m_thread->start();
    m_ports = portsFuture.get();
  }

  ~ServerThread() {
    m_thread->quit();
    m_thread->wait();
  }

  Ports ports() const { return m_ports; }

private:
  std::unique_ptr<QThread> m_thread;
  Ports m_ports;
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

double CurlSeconds(const QString& curl, const QString& url) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
  process.setProcessEnvironment(env);
  process.start(curl, {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
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
  std::printf("  %-12s median %8.3f ms   p95 %8.3f ms   (n=%zu)\n", what,
              Percentile(values, 0.5) * 1000, Percentile(values, 0.95) * 1000, values.size());
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int fetches = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 200;

  ServerThread servers;
  const Ports ports = servers.ports();
  if (ports.web == 0 || ports.huge == 0) {
    std::fprintf(stderr, "bench_http: cannot listen on 127.0.0.1\n");
    return 1;
  }
  const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));

  std::printf("bench_http: HttpClient against curl, %d fetches per case, loopback server\n",
              fetches);
  if (curl.isEmpty())
    std::printf("  curl not found: only HttpClient is timed\n");

  HttpClient client;
  for (const char* path : {"/fast", "/slow"}) {
    const QString url = QStringLiteral("http://127.0.0.1:%1%2").arg(ports.web).arg(path);
    // Warm up both (first thread start, page cache of the curl binary).
    for (int i = 0; i < 5; ++i) {
      client.OpenUrl(url);
      if (!curl.isEmpty())
        CurlSeconds(curl, url);
    }
    std::vector<double> ours;
    std::vector<double> theirs;
    int failures = 0;
    for (int i = 0; i < fetches; ++i) {
      const FetchResult result = client.OpenUrl(url);
      if (result.ok)
        ours.push_back(result.seconds);
      else
        ++failures;
      if (!curl.isEmpty()) {
        const double seconds = CurlSeconds(curl, url);
        if (seconds >= 0)
          theirs.push_back(seconds);
        else
          ++failures;
      }
    }
    std::printf("%s (%s added delay)\n", path, path == QLatin1String("/fast") ? "0 ms" : "50 ms");
    PrintRow("HttpClient", ours);
    if (!curl.isEmpty()) {
      PrintRow("curl", theirs);
      std::printf("  difference   median %+8.3f ms   p95 %+8.3f ms\n",
                  (Percentile(ours, 0.5) - Percentile(theirs, 0.5)) * 1000,
                  (Percentile(ours, 0.95) - Percentile(theirs, 0.95)) * 1000);
    }
    if (failures > 0)
      std::printf("  failed fetches: %d\n", failures);
  }

  const long rssBefore = PeakRssKiB();
  const FetchResult huge =
      client.OpenUrl(QStringLiteral("http://127.0.0.1:%1/huge").arg(ports.huge));
  const long rssAfter = PeakRssKiB();
  std::printf("1 GiB body: %s in %.3f s (%.0f MiB/s), %lld characters kept, peak memory %ld KiB "
              "-> %ld KiB (+%ld KiB)\n",
              huge.ok ? "read" : qPrintable(huge.error), huge.seconds,
              huge.seconds > 0 ? 1024.0 / huge.seconds : 0.0,
              static_cast<long long>(huge.body.size()), rssBefore, rssAfter,
              rssAfter - rssBefore);
  return 0;
}
