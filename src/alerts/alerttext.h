#pragma once

#include "alerts/alertevent.h"

#include <QString>

// The texts that tell an alert to a person: the desktop notification and the webhook's "text"
// line share them.
namespace AlertText {

// "Site down: <address>", "Site back up: <address>", "Site slow: <address>",
// "Site no longer slow: <address>", "Certificate expires soon: <address>",
// "Certificate renewed: <address>".
QString Summary(const AlertEvent& event);

// A length of time as a person reads it: "45 s", "3 min 12 s", "2 h 5 min", "3 d 4 h". Below one
// second: "0 s"; negative counts as 0.
QString Duration(qint64 seconds);

// How long the incident lasted, from `started` to `ended`, in whole seconds; -1 when either is
// not set.
qint64 LengthSeconds(const AlertEvent& event);

// The line a chat reads: the summary, then what is known beyond it ("Site down: <address>
// (Connection refused)", "Site back up: <address> after 3 min 12 s down").
QString Line(const AlertEvent& event);

} // namespace AlertText
