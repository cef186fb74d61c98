#include "engine/referencepings.h"

#include "core/module1.h"
#include "engine/completedsample.h"
#include "platform/addresstext.h"
#include "platform/clock.h"
#include "platform/httpclient.h"
#include "platform/numbers.h"

#include <QDateTime>
#include <QTime>

ReferencePings::ReferencePings(const Module1& state, HttpClient& inet2, std::function<void(bool on)> setStatusLight,
                               QObject* parent)
    : QObject(parent), state(state), inet2(inet2), setStatusLight(std::move(setStatusLight)) {}

void ReferencePings::RefPing() {
  const std::array<QString, 2> addresses = {state.ServiceField.refAddress1, state.ServiceField.refAddress2};
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (addresses[i].isEmpty())
      return;
    setStatusLight(true);
    // Events run while the fetch waits; a switch-off cancels it.
    FetchResult fetched = inet2.OpenUrl(addresses[i]);
    // A failed reference fetch ends the pass; the light does not stay on.
    setStatusLight(false);
    fetched.body.clear();
    emit ReferenceCompleted({QDateTime::currentDateTimeUtc(), int(i) + 1, AddressText::Shown(addresses[i]), fetched});
    if (!fetched.ok)
      return;
    refTime[i] = Numbers::Fixed3(fetched.seconds);
    emit RefTimeChanged(int(i), refTime[i]);
  }
  LastRefTime = Clock::TimeText();
}

bool ReferencePings::WarnHourGate() {
  const QString hour = Clock::TimeOfDay().toString(QStringLiteral("HH"));
  if (WarnHour.isEmpty() || WarnHour != hour) {
    WarnHour = hour;
    WarnCount = 0;
  }
  ++WarnCount;
  return WarnCount != 6;
}

bool ReferencePings::DueAfterMidnight() const {
  if (LastRefTime.isEmpty())
    return false;
  const QTime last = QTime::fromString(LastRefTime, QStringLiteral("HH:mm:ss"));
  return last.isValid() && Clock::MinuteOfDay(last) - Clock::MinuteOfDay(Clock::TimeOfDay()) > 600;
}
