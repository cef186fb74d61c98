#pragma once

#include <QDateTime>
#include <QString>

// A change in a site's state that the program tells the user about: an incident that begins or
// ends. The incident tracker makes them from the test cycle's samples; the desktop notifications,
// the tray icon, the webhook and the headless mode's standard error pass them on.
struct AlertEvent {
  // What happened. The webhook's "event" field is EventName(kind).
  enum class Kind {
    Down,        // the site went down
    Up,          // the site is back after being down (`ended` is set)
    Slow,        // the site turned slow
    SlowEnd,     // the site is no longer slow (`ended` is set)
    Certificate, // the certificate expires soon; with `ended` set, that incident is over
  };

  Kind kind = Kind::Down;
  QString url;             // the site's address as shown to the user (a password in it masked)
  QString cause;           // why: "Connection refused", "HTTP 404", "Code", "expires in 5 days", ...
  QDateTime started;       // when the incident began, UTC
  QDateTime ended;         // when it ended, UTC; invalid while it goes on
  double pingSeconds = -1; // the ping of the sample that caused the event; -1 when it had none

  static QString EventName(Kind kind) {
    switch (kind) {
    case Kind::Down: return QStringLiteral("down");
    case Kind::Up: return QStringLiteral("up");
    case Kind::Slow: return QStringLiteral("slow");
    case Kind::SlowEnd: return QStringLiteral("slow-end");
    case Kind::Certificate: return QStringLiteral("certificate");
    }
    return {};
  }
};
