#include "alerts/alerttext.h"

namespace AlertText {

QString Summary(const AlertEvent& event) {
  using Kind = AlertEvent::Kind;
  switch (event.kind) {
  case Kind::Down: return QStringLiteral("Site down: ") + event.url;
  case Kind::Up: return QStringLiteral("Site back up: ") + event.url;
  case Kind::Slow: return QStringLiteral("Site slow: ") + event.url;
  case Kind::SlowEnd: return QStringLiteral("Site no longer slow: ") + event.url;
  case Kind::Certificate:
    return (event.ended.isValid() ? QStringLiteral("Certificate renewed: ")
                                  : QStringLiteral("Certificate expires soon: ")) +
           event.url;
  }
  return event.url;
}

QString Duration(qint64 seconds) {
  seconds = qMax<qint64>(0, seconds);
  const auto two = [](qint64 big, const char* bigUnit, qint64 small, const char* smallUnit) {
    QString text = QString::number(big) + QLatin1Char(' ') + QLatin1String(bigUnit);
    if (small > 0)
      text += QLatin1Char(' ') + QString::number(small) + QLatin1Char(' ') + QLatin1String(smallUnit);
    return text;
  };
  if (seconds < 60)
    return QString::number(seconds) + QStringLiteral(" s");
  if (seconds < 3600)
    return two(seconds / 60, "min", seconds % 60, "s");
  if (seconds < 86400)
    return two(seconds / 3600, "h", seconds % 3600 / 60, "min");
  return two(seconds / 86400, "d", seconds % 86400 / 3600, "h");
}

qint64 LengthSeconds(const AlertEvent& event) {
  if (!event.started.isValid() || !event.ended.isValid())
    return -1;
  return qMax<qint64>(0, event.started.msecsTo(event.ended) / 1000);
}

QString Line(const AlertEvent& event) {
  using Kind = AlertEvent::Kind;
  const qint64 length = LengthSeconds(event);
  QString line = Summary(event);
  switch (event.kind) {
  case Kind::Up:
    if (length >= 0)
      line += QStringLiteral(" after ") + Duration(length) + QStringLiteral(" down");
    break;
  case Kind::SlowEnd:
    if (length >= 0)
      line += QStringLiteral(" after ") + Duration(length) + QStringLiteral(" slow");
    break;
  case Kind::Down:
  case Kind::Slow:
  case Kind::Certificate:
    if (!event.cause.isEmpty() && !(event.kind == Kind::Certificate && event.ended.isValid()))
      line += QStringLiteral(" (") + event.cause + QLatin1Char(')');
    break;
  }
  return line;
}

} // namespace AlertText
