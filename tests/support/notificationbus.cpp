#include "notificationbus.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QUuid>

#include <utility>

PrivateBus::PrivateBus() {
  if (!dir.isValid())
    return;
  const QString config = dir.filePath(QStringLiteral("bus.conf"));
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly))
    return;
  // A session bus that listens in the temporary folder, lets everybody talk and own names, and
  // activates no service (no <servicedir>).
  file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                            "<busconfig>\n"
                            "  <type>session</type>\n"
                            "  <listen>unix:dir=%1</listen>\n"
                            "  <auth>EXTERNAL</auth>\n"
                            "  <policy context=\"default\">\n"
                            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                            "    <allow eavesdrop=\"true\"/>\n"
                            "    <allow own=\"*\"/>\n"
                            "  </policy>\n"
                            "</busconfig>\n")
                 .arg(dir.path())
                 .toUtf8());
  file.close();
  daemon.setProgram(QStringLiteral("dbus-daemon"));
  daemon.setArguments(
      {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
  daemon.setProcessChannelMode(QProcess::SeparateChannels);
  daemon.start();
  if (!daemon.waitForStarted(10000))
    return;
  QByteArray line;
  while (!line.contains('\n') && daemon.waitForReadyRead(10000))
    line += daemon.readAllStandardOutput();
  address = QString::fromUtf8(line).trimmed();
}

PrivateBus::~PrivateBus() {
  if (daemon.state() != QProcess::NotRunning) {
    daemon.terminate();
    if (!daemon.waitForFinished(5000)) {
      daemon.kill();
      daemon.waitForFinished(5000);
    }
  }
}

QDBusConnection PrivateBus::Connect(const QString& name) const {
  return QDBusConnection::connectToBus(address, name);
}

int ReceivedNotification::Urgency() const {
  const QVariant urgency = hints.value(QStringLiteral("urgency"));
  return urgency.metaType() == QMetaType::fromType<uchar>() ? int(urgency.value<uchar>()) : -1;
}

NotificationServer::NotificationServer(const QString& busAddress, QObject* parent)
    : QObject(parent), connectionName(QStringLiteral("notification-server-") + QUuid::createUuid().toString()) {
  QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName);
  registered =
      bus.isConnected() &&
      bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots) &&
      bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

NotificationServer::~NotificationServer() {
  QDBusConnection::disconnectFromBus(connectionName);
}

uint NotificationServer::Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                                const QString& body, const QStringList& actions, const QVariantMap& hints,
                                int expireTimeout) {
  received.append({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
  if (!answer)
    setDelayedReply(true); // and never send it
  return ++lastId;
}

QStringList NotificationServer::GetCapabilities() {
  return {QStringLiteral("body")};
}

void NotificationServer::CloseNotification(uint) {}

QString NotificationServer::GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
  vendor = QStringLiteral("tests");
  version = QStringLiteral("1");
  specVersion = QStringLiteral("1.2");
  return QStringLiteral("notification-server");
}
