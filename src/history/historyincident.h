#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <optional>

// An incident of a site as the history keeps it: a row of the `incidents` table (the README's
// "History" section is the contract). A site is down, slow, or its certificate ends soon, from
// `started` until `ended` (invalid while it goes on).
struct HistoryIncident {
  enum class Kind { Down, Slow, Certificate };

  qint64 id = -1; // the row's id; -1 before it is written
  QString url;    // the address as listed
  Kind kind = Kind::Down;
  QDateTime started; // UTC
  QDateTime ended;   // UTC; invalid while the incident goes on
  QString cause;     // "Connection refused", "HTTP 404", "Code", "Ping 1.250 s", "expires in 5 days", ...

  bool Ongoing() const { return !ended.isValid(); }

  // The stored names: "down", "slow", "certificate".
  static QString KindName(Kind kind) {
    switch (kind) {
    case Kind::Down: return QStringLiteral("down");
    case Kind::Slow: return QStringLiteral("slow");
    case Kind::Certificate: return QStringLiteral("certificate");
    }
    return {};
  }
  static std::optional<Kind> KindOf(QStringView name) {
    for (const Kind kind : {Kind::Down, Kind::Slow, Kind::Certificate})
      if (name == KindName(kind))
        return kind;
    return std::nullopt;
  }
};
