// Resident memory of a long headless run: the headless mode's cycle (results table within
// --max-rows, history, metrics, incidents, output queues) runs in this process against a loopback
// site with many addresses, one pass right after the other (no delay), and prints the resident
// memory every 100,000 samples. With the table bounded the figure should stay flat once the table
// and the history's caches are full.
//
// Run a Release build: bench_headless [SAMPLES [ADDRESSES [MAX-ROWS]]]
//   SAMPLES 2000000, ADDRESSES 200 and MAX-ROWS 100000 (the default of --max-rows; 0: no limit)
//   unless given.

#include "app/commandline.h"
#include "app/consoleplatform.h"
#include "app/headless.h"
#include "app/outputqueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A field of /proc/self/status in MB ("VmRSS:", "VmHWM:").
double StatusMb(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field))
      return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
  return -1;
}

// A site on 127.0.0.1 that answers every GET with the marker file and closes the connection, on a
// thread of its own; it keeps nothing of what it served.
class MarkerSite {
public:
  MarkerSite() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 512) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      return;
    port = ntohs(address.sin_port);
    server = std::thread([this] { Serve(); });
  }
  ~MarkerSite() {
    stopping = true;
    ::shutdown(listener, SHUT_RDWR); // wakes the accept
    if (server.joinable())
      server.join();
    ::close(listener);
  }
  MarkerSite(const MarkerSite&) = delete;
  MarkerSite& operator=(const MarkerSite&) = delete;

  quint16 Port() const { return port; }

private:
  void Serve() const {
    static const char answer[] =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n"
        "Connection: close\r\n\r\nvok";
    while (!stopping) {
      const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0)
        continue;
      QByteArray request;
      char buffer[4096];
      while (!request.contains("\r\n\r\n")) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
          break;
        request.append(buffer, n);
      }
      ::send(client, answer, sizeof answer - 1, MSG_NOSIGNAL);
      ::close(client);
    }
  }

  int listener = -1;
  quint16 port = 0;
  std::atomic<bool> stopping{false};
  std::thread server;
};

} // namespace

int main(int argc, char** argv) {
  const qint64 samples = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2000000;
  const int addresses = argc > 2 ? QByteArray(argv[2]).toInt() : 200;
  const QByteArray maxRows = argc > 3 ? QByteArray(argv[3]) : QByteArray::number(CommandLine::DefaultMaxRows);

  // A program folder and settings of its own; the vendor's service is a closed port.
  QTemporaryDir home;
  qputenv("TARVIK_HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
  QCoreApplication app(argc, argv);
  MarkerSite site;
  {
    const int closed = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &size);
    qputenv("TARVIK_VENDOR_URL", QStringLiteral("http://127.0.0.1:%1/").arg(ntohs(address.sin_port)).toUtf8());
    ::close(closed);
  }

  const QString urls = home.filePath(QStringLiteral("sites.txt"));
  {
    QFile file(urls);
    if (!file.open(QIODevice::WriteOnly))
      return 1;
    for (int i = 1; i <= addresses; ++i)
      file.write(QStringLiteral("http://127.0.0.1:%1/site%2\n").arg(site.Port()).arg(i).toUtf8());
  }

  // Both streams through the headless mode's queues, into /dev/null.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  OutputQueue errors(null, QStringLiteral("standard error"));
  OutputQueue output(null, QStringLiteral("standard output"), OutputQueue::DefaultCapacity, &errors);
  ConsoleMessageBoxes boxes([&errors](const QString& line) { errors.Post(line); });
  ConsoleShell shell([&errors](const QString& line) { errors.Post(line); });
  MessageBoxes::SetInstance(&boxes);
  Shell::SetInstance(&shell);

  const CommandLine line = CommandLine::Parse(
      {QStringLiteral("tarvik"), QStringLiteral("--headless"), QStringLiteral("--urls"), urls,
       QStringLiteral("--delay"), QStringLiteral("1"), QStringLiteral("--max-rows"), QString::fromUtf8(maxRows)});
  if (line.mode != CommandLine::Mode::Headless) {
    std::fprintf(stderr, "%s\n", qPrintable(line.error));
    return 2;
  }
  qint64 done = 0;
  Headless headless(
      line,
      [&](const QString& sample) {
        ++done;
        output.Post(sample);
      },
      [&errors](const QString& said) { errors.Post(said); });
  QString error;
  if (!headless.Start(&error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }

  std::printf("%d addresses on 127.0.0.1:%u, --max-rows %s, %lld samples, no delay between passes\n", addresses,
              site.Port(), maxRows.constData(), samples);
  std::printf("%10s %10s %10s %12s %14s\n", "samples", "RSS MB", "seconds", "samples/s", "history MB");
  std::fflush(stdout);
  QElapsedTimer clock;
  clock.start();
  qint64 next = 100000;
  qint64 lastDone = 0;
  qint64 lastMs = 0;
  const QString history = home.filePath(QStringLiteral("history.sqlite"));
  while (done < samples) {
    headless.SampleNow();
    QCoreApplication::processEvents();
    if (done >= next) {
      const qint64 ms = clock.elapsed();
      const double wal = double(QFileInfo(history + QStringLiteral("-wal")).size());
      std::printf("%10lld %10.1f %10.1f %12.0f %14.1f\n", done, StatusMb("VmRSS:"), double(ms) / 1000.0,
                  double(done - lastDone) * 1000.0 / double(std::max<qint64>(1, ms - lastMs)),
                  (double(QFileInfo(history).size()) + wal) / 1048576.0);
      std::fflush(stdout);
      lastDone = done;
      lastMs = ms;
      next += 100000;
    }
  }
  headless.Stop();
  std::printf("peak RSS %.1f MB\n", StatusMb("VmHWM:"));
  output.Finish(800);
  errors.Finish(300);
  ::close(null);
  return 0;
}
