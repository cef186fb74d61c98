// What telling costs the thread that tells (the window's thread): a desktop notification handed to
// the session bus, one that waits for its site's minute, and a webhook post handed to the network
// thread. Each figure is the time of the call itself, median and 95th percentile over many calls;
// the bus and the receiver answer in the background meanwhile.
//
// It starts a private bus of its own (dbus-daemon, with a notification service that only counts)
// and a receiver on the loopback address. Run a Release build: bench_alerts [calls]

#include "alerts/alertevent.h"
#include "alerts/desktopnotifier.h"
#include "alerts/webhooksender.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A notification service that answers every call with a number and counts them.
class CountingService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
  int calls = 0;
public slots:
  uint Notify(const QString&, uint, const QString&, const QString&, const QString&, const QStringList&,
              const QVariantMap&, int) {
    return uint(++calls);
  }
};

// Starts dbus-daemon on a socket in `dir`; returns its address, empty when it did not start.
QString StartBus(QProcess& daemon, const QTemporaryDir& dir) {
  const QString config = dir.filePath(QStringLiteral("bus.conf"));
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly))
    return {};
  file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                            "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
                            "eavesdrop=\"true\"/><allow own=\"*\"/>"
                            "</policy><limit name=\"max_replies_per_connection\">50000</limit></busconfig>\n")
                 .arg(dir.path())
                 .toUtf8());
  file.close();
  daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address=1")});
  QByteArray line;
  while (daemon.waitForStarted(5000) && !line.contains('\n') && daemon.waitForReadyRead(5000))
    line += daemon.readAllStandardOutput();
  return QString::fromUtf8(line).trimmed();
}

// A receiver that answers every request with 200 and closes.
class Receiver : public QTcpServer {
public:
  int posts = 0;
  Receiver() {
    listen(QHostAddress::LocalHost, 0);
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          const QByteArray seen = socket->readAll();
          if (!seen.contains("\r\n\r\n"))
            return;
          ++posts;
          socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
          socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
};

struct Figures {
  double medianUs = 0;
  double p95Us = 0;
};

Figures Of(std::vector<qint64> ns) {
  std::sort(ns.begin(), ns.end());
  return {double(ns[ns.size() / 2]) / 1000, double(ns[ns.size() * 95 / 100]) / 1000};
}

AlertEvent Down(int site) {
  AlertEvent event;
  event.kind = AlertEvent::Kind::Down;
  event.url = QStringLiteral("https://site%1.example.net").arg(site);
  event.cause = QStringLiteral("Connection refused");
  event.started = QDateTime::currentDateTimeUtc();
  return event;
}

template <typename Done>
void Wait(Done done) {
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int calls = argc > 1 ? qMax(100, atoi(argv[1])) : 2000;

  QTemporaryDir dir;
  QProcess daemon;
  const QString address = StartBus(daemon, dir);
  if (address.isEmpty()) {
    std::fprintf(stderr, "bench_alerts: dbus-daemon did not start\n");
    return 1;
  }
  CountingService service;
  QDBusConnection serviceBus = QDBusConnection::connectToBus(address, QStringLiteral("service"));
  serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                            QDBusConnection::ExportAllSlots);
  serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications"));

  {
    DesktopNotifier notifier(QDBusConnection::connectToBus(address, QStringLiteral("client")));
    std::vector<qint64> shown;
    std::vector<qint64> waiting;
    QElapsedTimer clock;
    for (int i = 0; i < calls; ++i) {
      // A site of its own: shown at once.
      const AlertEvent first = Down(i);
      clock.start();
      notifier.Notify(first);
      shown.push_back(clock.nsecsElapsed());
      // The same site again within its minute: it waits.
      AlertEvent again = first;
      again.kind = AlertEvent::Kind::Up;
      clock.start();
      notifier.Notify(again);
      waiting.push_back(clock.nsecsElapsed());
      if (i % 100 == 99)
        QCoreApplication::processEvents();
    }
    Wait([&] { return service.calls >= calls; });
    const Figures a = Of(shown);
    const Figures b = Of(waiting);
    std::printf("notification shown      %7.1f us median  %7.1f us p95  (%d calls; the service got %d)\n", a.medianUs,
                a.p95Us, calls, service.calls);
    std::fflush(stdout);
    std::printf("notification that waits %7.1f us median  %7.1f us p95  (%d sites waiting)\n", b.medianUs, b.p95Us,
                notifier.Waiting());
  }

  {
    Receiver receiver;
    WebhookSender sender(QStringLiteral("http://127.0.0.1:%1/hook").arg(receiver.serverPort()));
    std::vector<qint64> sent;
    QElapsedTimer clock;
    const int posts = qMin(calls, WebhookSender::MaxWaiting);
    for (int i = 0; i < posts; ++i) {
      clock.start();
      sender.Send(Down(i));
      sent.push_back(clock.nsecsElapsed());
    }
    QElapsedTimer all;
    all.start();
    Wait([&] { return sender.Waiting() == 0; });
    const Figures c = Of(sent);
    std::printf(
        "webhook post queued     %7.1f us median  %7.1f us p95  (%d posts delivered in %lld ms, one at a "
        "time)\n",
        c.medianUs, c.p95Us, receiver.posts, all.elapsed());
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("client"));
  QDBusConnection::disconnectFromBus(QStringLiteral("service"));
  daemon.terminate();
  daemon.waitForFinished(5000);
  return 0;
}

#include "bench_alerts.moc"
