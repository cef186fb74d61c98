#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <functional>

class HttpClient;
struct CompletedReference;
struct Module1;

// The reference pings: the two reference addresses of the service's answer timed, one after the
// other, into the reference boxes "Ref 1" and "Ref 2". The test cycle makes a pass at the first
// pass of a run, on the sixth red warning within one clock hour (WarnHourGate) and on the first tick
// after the clock passed midnight since an afternoon pass (DueAfterMidnight).
//
// A pass waits for each answer in the reference client's local event loop: other handlers run
// meanwhile, and switching testing off cancels the client's request.
class ReferencePings : public QObject {
  Q_OBJECT
public:
  // setStatusLight(true) before each fetch and (false) after it.
  ReferencePings(const Module1& state, HttpClient& inet2, std::function<void(bool on)> setStatusLight,
                 QObject* parent = nullptr);

  // One pass: the first address, then the second. It ends early at an empty address or a failed
  // fetch (the light does not stay on, the boxes keep their times); only a complete pass records its
  // time of day in LastRefTime.
  void RefPing();
  // False on the sixth red warning within one clock hour: a pass is due.
  bool WarnHourGate();
  // True when the last pass's time of day lies more than 600 minutes after the present one: the
  // clock has passed midnight since an afternoon pass.
  bool DueAfterMidnight() const;

  // The time of reference i (0 or 1) in the "0.000" form; empty until a fetch of it succeeds.
  QString RefTime(int i) const { return refTime.at(size_t(i)); }

  // hh:mm:ss at the end of the last complete pass; empty until the first.
  QString LastRefTime;
  // The clock hour ("HH") of the red warnings counted in WarnCount.
  QString WarnHour;
  qint16 WarnCount = 0;

signals:
  void RefTimeChanged(int i, const QString& text);
  // A reference fetch has ended, ok or not.
  void ReferenceCompleted(const CompletedReference& reference);

private:
  const Module1& state;
  HttpClient& inet2;
  std::function<void(bool on)> setStatusLight;
  std::array<QString, 2> refTime;
};
