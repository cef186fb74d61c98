#pragma once

#include "alerts/alertevent.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

class QTimer;

// Shows alerts as desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus): "Site down: <address>" with the cause and the
// time, urgency critical; "Site back up: <address>" with the length of the outage; "Site slow:"
// and "Site no longer slow:"; "Certificate expires soon:" and "Certificate renewed:".
//
// At most one notification per site per minute. An alert that comes sooner waits for the end of
// the minute, and a later alert of the same kind of news replaces it: the user learns the site's
// latest state, never an outdated one, and never loses the news that a site went down or came back.
// Three kinds of news wait side by side: down or up, certificate, slow or not; when the minute
// ends the first of them in that order is shown, the others a minute later. A site that goes down
// drops its waiting slow news.
//
// Nothing here waits for the bus: every call is asynchronous and its answer ignored. Without a
// session bus, or without a notification service on it, nothing is shown and nothing fails.
class DesktopNotifier : public QObject {
  Q_OBJECT
public:
  static constexpr int DefaultGapMs = 60000;

  // Talks to the session bus. The connection is made on a thread of its own, so that a bus that is
  // slow to answer cannot stall the caller's thread; alerts that come meanwhile wait for it. When
  // no session bus is announced (DBUS_SESSION_BUS_ADDRESS, or the user's runtime folder's "bus"),
  // none is started: notifications are off.
  explicit DesktopNotifier(QObject* parent = nullptr);
  // Talks to the notification service on `bus` (tests use a private bus).
  explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
  ~DesktopNotifier() override;

  // The least time between two notifications of one site; DefaultGapMs unless changed.
  void SetMinimumGapMs(int ms);

  // The body of the notification of an alert (plain text with &, < and > escaped, as the
  // service may read markup).
  static QString Body(const AlertEvent& event);

  // Notifications handed to the bus so far.
  int Shown() const { return shown; }
  // Alerts that wait for the end of their site's minute.
  int Waiting() const;

public slots:
  void Notify(const AlertEvent& event);

private:
  // The kinds of news that wait side by side, in the order they are shown.
  enum Track { Availability, Certificate, Speed, TrackCount };
  struct Site {
    qint64 lastShownMs = -1; // on `clock`; -1 before the first
    std::array<std::optional<AlertEvent>, TrackCount> waiting;
  };

  static Track TrackOf(AlertEvent::Kind kind);
  void UseBus(const QDBusConnection& connection);
  void ShowDue();
  void ShowFirstWaiting(Site& site, qint64 now);
  void Show(const AlertEvent& event);
  void Call(const AlertEvent& event);

  enum class BusState { Connecting, Ready, None };
  BusState busState = BusState::None;
  std::optional<QDBusConnection> bus;
  QList<AlertEvent> beforeBus; // shown while the bus was still being connected

  QHash<QString, Site> sites;
  QElapsedTimer clock;
  QTimer* due = nullptr;
  int gapMs = DefaultGapMs;
  int shown = 0;
};
