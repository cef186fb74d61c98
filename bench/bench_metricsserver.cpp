// What hostile clients of the metrics server cost the program: `tarvik --headless` samples a local
// site and serves /metrics while this program sends it a POST with a body of 300 MB, a request line
// of 1 MB, 64 connections holding 8 KiB heads that never end and 1,000 idle connections. After each,
// it prints the program's resident memory (now and at its peak), its open descriptors, how much of
// the request the server took before it closed, and whether /metrics still answers.
//
// Run a Release build: bench_metricsserver (it runs the tarvik built beside it).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

int Connect(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0)
      ::close(fd);
    return -1;
  }
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return fd;
}

// Sends as much of `bytes` (repeated `times` times) as the server takes; the bytes it took.
qint64 Pour(int fd, const QByteArray& bytes, qint64 times) {
  qint64 sent = 0;
  for (qint64 i = 0; i < times; ++i) {
    qsizetype at = 0;
    while (at < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.constData() + at, std::size_t(bytes.size() - at), MSG_NOSIGNAL);
      if (n <= 0)
        return sent;
      at += n;
      sent += n;
    }
  }
  return sent;
}

// The status line of the answer to GET /metrics on a fresh connection.
QByteArray Scrape(quint16 port) {
  const int fd = Connect(port);
  if (fd < 0)
    return "not connected";
  Pour(fd, "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n", 1);
  char buffer[64] = {};
  const ssize_t n = ::recv(fd, buffer, sizeof buffer - 1, 0);
  ::close(fd);
  return n > 0 ? QByteArray(buffer, qsizetype(n)).split('\r').value(0) : QByteArray("no answer");
}

QByteArray Status(qint64 pid, const char* field) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly))
    return "?";
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field))
      return line.mid(qsizetype(std::strlen(field))).simplified();
  return "?";
}

void Report(const char* what, qint64 pid, quint16 port, const QString& extra = {}) {
  const qsizetype descriptors =
      QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
  std::printf("%-44s RSS %-10s peak %-10s descriptors %-4lld /metrics: %s%s\n", what, Status(pid, "VmRSS:").constData(),
              Status(pid, "VmHWM:").constData(), static_cast<long long>(descriptors), Scrape(port).constData(),
              qPrintable(extra));
  std::fflush(stdout);
}

// A site that answers every request with "vok", on a thread of its own.
class Site {
public:
  Site() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 64);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    thread = std::thread([this] {
      for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0 || stopping)
          break;
        char buffer[4096];
        ::recv(fd, buffer, sizeof buffer, 0);
        Pour(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nvok", 1);
        ::close(fd);
      }
    });
  }
  ~Site() {
    stopping = true;
    ::close(Connect(port));
    thread.join();
    ::close(listener);
  }
  quint16 port = 0;

private:
  int listener = -1;
  std::atomic<bool> stopping{false};
  std::thread thread;
};

} // namespace

int main(int argc, char* argv[]) {
  const QCoreApplication app(argc, argv);
  const Site site;
  QTemporaryDir home;
  QFile urls(home.filePath(QStringLiteral("sites.txt")));
  if (!urls.open(QIODevice::WriteOnly) ||
      urls.write(QByteArray("http://127.0.0.1:") + QByteArray::number(site.port)) < 0)
    return 1;
  urls.close();

  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("TARVIK_HOME"), home.path());
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
  environment.insert(QStringLiteral("TARVIK_VENDOR_URL"), QStringLiteral("http://127.0.0.1:1/"));
  program.setProcessEnvironment(environment);
  program.setStandardOutputFile(QProcess::nullDevice());
  program.start(QStringLiteral(TARVIK_PROGRAM),
                {"--headless", "--urls", urls.fileName(), "--delay", "1", "--metrics", "127.0.0.1:0"});
  quint16 port = 0;
  QByteArray said;
  QElapsedTimer clock;
  clock.start();
  static const QRegularExpression line(QStringLiteral("metrics on http://[^ ]+:(\\d+)/metrics"));
  while (port == 0 && clock.elapsed() < 20000 && program.state() != QProcess::NotRunning) {
    program.waitForReadyRead(200);
    said += program.readAllStandardError();
    const QRegularExpressionMatch match = line.match(QString::fromLocal8Bit(said));
    if (match.hasMatch())
      port = quint16(match.captured(1).toUInt());
  }
  if (port == 0) {
    std::fprintf(stderr, "tarvik did not start: %s\n", said.constData());
    return 1;
  }
  const qint64 pid = program.processId();
  QThread::sleep(3);
  Report("after 3 s of sampling", pid, port);

  int fd = Connect(port);
  const qint64 body = qint64(300) << 20;
  qint64 taken = Pour(fd, "POST /metrics HTTP/1.1\r\nContent-Length: " + QByteArray::number(body) + "\r\n\r\n", 1);
  taken += Pour(fd, QByteArray(1 << 16, 'x'), body >> 16);
  ::close(fd);
  Report("a POST of 300 MB", pid, port, QStringLiteral(" (%1 KB taken before the close)").arg(taken / 1024));

  fd = Connect(port);
  taken = Pour(fd, "GET /" + QByteArray(1 << 20, 'a') + " HTTP/1.1\r\n\r\n", 1);
  ::close(fd);
  Report("a request line of 1 MB", pid, port, QStringLiteral(" (%1 KB taken before the close)").arg(taken / 1024));

  std::vector<int> held;
  for (int i = 0; i < 64; ++i) {
    held.push_back(Connect(port));
    Pour(held.back(), "GET /metrics HTTP/1.1\r\nX-Fill: " + QByteArray(8150, 'a'), 1);
  }
  Report("64 connections holding 8 KiB heads", pid, port, QStringLiteral(" (the 65th is closed)"));
  for (const int open : held)
    ::close(open);
  held.clear();
  QThread::msleep(500);

  for (int i = 0; i < 1000; ++i)
    if (const int open = Connect(port); open >= 0)
      held.push_back(open);
  Report("1,000 idle connections", pid, port);
  QThread::sleep(12);
  Report("12 s later", pid, port);
  for (const int open : held)
    ::close(open);

  program.terminate();
  program.waitForFinished(20000);
  return program.exitCode();
}
