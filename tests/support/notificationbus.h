#pragma once

// A D-Bus session of the test's own, and a notification service on it.
//
// PrivateBus starts a dbus-daemon (Debian's "dbus-daemon" package) on a socket in a temporary
// folder, with a configuration that activates no service: a name nobody owns stays unowned. It
// ends the daemon when it goes.
//
// NotificationServer owns org.freedesktop.Notifications on a connection of its own to such a bus
// and records every Notify call. With answer set to false it never answers (the caller's call
// stays pending until its own time-out).
//
//   PrivateBus bus;
//   NotificationServer server(bus.Address());
//   DesktopNotifier notifier(bus.Connect("client"));
//   notifier.Notify(event);
//   QTRY_COMPARE(server.Received().size(), 1);

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

class PrivateBus {
public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool Started() const { return !address.isEmpty(); }
  QString Address() const { return address; }
  // A new connection to the bus under the given connection name (unique within the process).
  QDBusConnection Connect(const QString& name) const;

private:
  QTemporaryDir dir;
  QProcess daemon;
  QString address;
};

// One Notify call as the service received it.
struct ReceivedNotification {
  QString appName;
  uint replacesId = 0;
  QString appIcon;
  QString summary;
  QString body;
  QStringList actions;
  QVariantMap hints;
  int expireTimeout = 0;

  // The "urgency" hint: 0 low, 1 normal, 2 critical; -1 when it is missing or not a byte.
  int Urgency() const;
};

class NotificationServer : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
  explicit NotificationServer(const QString& busAddress, QObject* parent = nullptr);
  ~NotificationServer() override;

  // Whether it owns the service name.
  bool Registered() const { return registered; }
  QList<ReceivedNotification> Received() const { return received; }
  void SetAnswer(bool on) { answer = on; }

public slots:
  uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);
  QStringList GetCapabilities();
  void CloseNotification(uint id);
  QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);

private:
  QString connectionName;
  bool registered = false;
  bool answer = true;
  uint lastId = 0;
  QList<ReceivedNotification> received;
};
