#include "alerts/desktopnotifier.h"

#include "alerts/alerttext.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
// The installed desktop entry and icon: the service shows the program's name and picture.
const QString DesktopEntry = QStringLiteral("example.velmora.Tarvik");
// Alerts kept while the session bus is being connected; more are dropped.
constexpr int MaxBeforeBus = 100;

// The urgency levels of the notification service.
constexpr uchar Normal = 1;
constexpr uchar Critical = 2;

QString LocalTime(const QDateTime& at) {
  return at.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

// Whether a session bus is announced. Without one, libdbus would try to start a bus of its own
// ("autolaunch"), which may start programs and take its time: that is not for a notification.
bool SessionBusAnnounced() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent), due(new QTimer(this)) {
  due->setSingleShot(true);
  connect(due, &QTimer::timeout, this, &DesktopNotifier::ShowDue);
  clock.start();
  if (!SessionBusAnnounced())
    return;
  busState = BusState::Connecting;
  // Qt connects to the bus (and greets it) while the calling thread waits: that wait happens on a
  // thread of its own. Its result comes back through this object's event loop.
  auto connected = std::make_shared<std::optional<QDBusConnection>>();
  QThread* connecting = QThread::create([connected] { *connected = QDBusConnection::sessionBus(); });
  connect(connecting, &QThread::finished, this,
          [this, connected] { UseBus(connected->value_or(QDBusConnection(QString()))); });
  connect(connecting, &QThread::finished, connecting, &QObject::deleteLater);
  connecting->start();
}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), due(new QTimer(this)) {
  due->setSingleShot(true);
  connect(due, &QTimer::timeout, this, &DesktopNotifier::ShowDue);
  clock.start();
  UseBus(bus);
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::SetMinimumGapMs(int ms) {
  gapMs = qMax(0, ms);
}

int DesktopNotifier::Waiting() const {
  int count = 0;
  for (const Site& site : sites)
    for (const std::optional<AlertEvent>& event : site.waiting)
      count += event ? 1 : 0;
  return count;
}

DesktopNotifier::Track DesktopNotifier::TrackOf(AlertEvent::Kind kind) {
  switch (kind) {
  case AlertEvent::Kind::Down:
  case AlertEvent::Kind::Up: return Availability;
  case AlertEvent::Kind::Certificate: return Certificate;
  case AlertEvent::Kind::Slow:
  case AlertEvent::Kind::SlowEnd: return Speed;
  }
  return Availability;
}

QString DesktopNotifier::Body(const AlertEvent& event) {
  using Kind = AlertEvent::Kind;
  const qint64 length = AlertText::LengthSeconds(event);
  QString body;
  switch (event.kind) {
  case Kind::Down:
  case Kind::Slow:
    body = event.cause;
    if (body.isEmpty() && event.pingSeconds >= 0)
      body = QStringLiteral("Ping %1 s").arg(event.pingSeconds, 0, 'f', 3);
    if (event.started.isValid())
      body += (body.isEmpty() ? QStringLiteral("Since ") : QStringLiteral(" at ")) + LocalTime(event.started);
    break;
  case Kind::Up:
  case Kind::SlowEnd:
    if (event.ended.isValid())
      body = (event.kind == Kind::Up ? QStringLiteral("Back at ") : QStringLiteral("Normal again at ")) +
             LocalTime(event.ended);
    if (length >= 0)
      body += QStringLiteral(" after ") + AlertText::Duration(length) +
              (event.kind == Kind::Up ? QStringLiteral(" down") : QStringLiteral(" slow"));
    if (event.kind == Kind::Up && !event.cause.isEmpty())
      body += QStringLiteral(" (") + event.cause + QLatin1Char(')');
    break;
  case Kind::Certificate: body = event.cause; break;
  }
  return body.trimmed().toHtmlEscaped();
}

void DesktopNotifier::Notify(const AlertEvent& event) {
  Site& site = sites[event.url];
  // A later alert of the same kind of news replaces one that waits: the latest state wins.
  site.waiting[TrackOf(event.kind)] = event;
  ShowDue();
}

// Shows the first waiting alert of every site whose minute is over, and sets the timer for the
// next site whose minute ends with alerts waiting.
void DesktopNotifier::ShowDue() {
  const qint64 now = clock.elapsed();
  qint64 next = std::numeric_limits<qint64>::max();
  for (Site& site : sites) {
    const auto anyWaiting = [&site] {
      return std::any_of(site.waiting.begin(), site.waiting.end(), [](const auto& e) { return e.has_value(); });
    };
    if (!anyWaiting())
      continue;
    if (site.lastShownMs < 0 || now - site.lastShownMs >= gapMs)
      ShowFirstWaiting(site, now);
    if (anyWaiting())
      next = qMin(next, site.lastShownMs + gapMs);
  }
  if (next == std::numeric_limits<qint64>::max())
    due->stop();
  else
    due->start(int(qBound(qint64(0), next - now, qint64(std::numeric_limits<int>::max()))));
}

void DesktopNotifier::ShowFirstWaiting(Site& site, qint64 now) {
  for (std::optional<AlertEvent>& waiting : site.waiting) {
    if (!waiting)
      continue;
    const AlertEvent event = *waiting;
    waiting.reset();
    // A site that is down is neither slow nor fast: slow news of before is out of date.
    if (event.kind == AlertEvent::Kind::Down)
      site.waiting[Speed].reset();
    site.lastShownMs = now;
    Show(event);
    return;
  }
}

void DesktopNotifier::Show(const AlertEvent& event) {
  switch (busState) {
  case BusState::Ready: Call(event); break;
  case BusState::Connecting:
    if (beforeBus.size() < MaxBeforeBus)
      beforeBus.append(event);
    break;
  case BusState::None: break;
  }
}

void DesktopNotifier::UseBus(const QDBusConnection& connection) {
  busState = connection.isConnected() ? BusState::Ready : BusState::None;
  if (busState == BusState::Ready)
    bus = connection;
  const QList<AlertEvent> waiting = std::exchange(beforeBus, {});
  if (busState == BusState::Ready)
    for (const AlertEvent& event : waiting)
      Call(event);
}

void DesktopNotifier::Call(const AlertEvent& event) {
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"),
               QVariant::fromValue(event.kind == AlertEvent::Kind::Down ? Critical : Normal));
  hints.insert(QStringLiteral("desktop-entry"), DesktopEntry);
  hints.insert(QStringLiteral("category"), QStringLiteral("network"));
  QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
  call << QStringLiteral("Tarvik") << uint(0) << DesktopEntry << AlertText::Summary(event) << Body(event)
       << QStringList() << hints << int(-1);
  // The answer (the notification's number, or an error when no service is there) is not needed:
  // nothing waits for it.
  bus->asyncCall(call);
  ++shown;
}
