#pragma once

#include <QAnyStringView>
#include <QString>
#include <QtGlobal>

// The health of a sample, judged on the whole answer: the one rule that the history's figures, the
// incidents, the notifications, the tray icon and the metrics all follow.
//
//   up         the fetch completed with a 2xx status and the marker check passed: the Result is
//              empty or only a warning mark (" => 1")
//   slow       up, and the Ping is at or above the first warning value
//   down       anything else, with a cause: the failure ("Connection refused", "Timed out", ...)
//              when no answer came; "HTTP 404" when the status is not 2xx; otherwise the Result of a
//              wrong marker file ("Code", "TXT", "Empty")
//   cancelled  testing was switched off while the fetch waited: neither up nor down
//
// The results table keeps its own texts and colours; health is what the program tells beyond it.
namespace Health {

enum class State : quint8 { Up, Slow, Down, Cancelled };

// Why a sample is down.
enum class Cause : quint8 {
  None,     // not down
  Transfer, // no answer: the fetch failed (the Result is the failure text)
  Status,   // an answer with a status outside 200..299
  Marker,   // a 2xx answer whose body is not the marker file (the Result names what it was)
};

// What a sample is judged on.
struct Facts {
  qint64 pingUs = -1;     // the fetch's whole time in microseconds; -1 when it did not complete
  bool cancelled = false; // testing was switched off while it waited
  int status = 0;         // the answer's HTTP status; 0 when none arrived
  QAnyStringView result;  // the row's Result text: the failure text of a failed fetch
};

struct Verdict {
  State state = State::Cancelled;
  Cause cause = Cause::None;

  bool Up() const { return state == State::Up || state == State::Slow; }
  bool Down() const { return state == State::Down; }
  // A down sample that got an answer (an error of the site, not of the transport).
  bool Answered() const { return cause == Cause::Status || cause == Cause::Marker; }
};

// The verdict on a sample. `warning1Seconds` is the first warning value of the sample's run; slow is
// judged on the Ping as the table shows it (rounded to the millisecond), so a sample the table
// marks blue or red is slow. A NaN warning value makes nothing slow.
Verdict Judge(const Facts& facts, double warning1Seconds);

// The cause as the user reads it: the failure text, "HTTP 404", or the Result text. Empty when the
// sample is not down.
QString CauseText(const Verdict& verdict, const Facts& facts);

// The state's name in texts and metrics: "up", "slow", "down", "cancelled".
QString StateName(State state);

// How soon a certificate ends, `msLeft` from now, in whole days: "expires in 5 days", "expires in 1
// day", "expires in less than a day"; "expired" when it has ended.
QString ExpiryText(qint64 msLeft);

} // namespace Health
