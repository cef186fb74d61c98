#pragma once

#include "core/health.h"
#include "platform/httpclient.h"

#include <QDateTime>
#include <QString>

// A sample the test cycle has just completed: its row is filled in (Ping, Result, Site ID, Packet,
// Average). Handed to whoever records samples beyond the results table (the history, the headless
// mode's output and metrics, the incidents). Also a fetch the row made before the one it keeps.
struct CompletedSample {
  QDateTime at;           // when the row was completed, UTC
  QString url;            // the site's address as shown (AddressText::Shown), without "/vok.txt"
  int siteId = 0;         // the row's Site ID
  int packet = 0;         // the row's Packet
  bool accepted = false;  // the fetch completed: the row's Ping is a time
  bool cancelled = false; // testing was switched off while the fetch waited
  QString ping;           // the row's Ping text: "0.000" form, or "Failed"
  QString result;         // the row's Result text
  FetchResult fetched;    // the fetch behind it (times, phases, status, address); body not kept
  // Which fetch of the row this is: 1 for its first, 2, 3, ... for the repeats after a failed fetch
  // or a slow one in the first pass of a run.
  int attempt = 1;
  // The fetch whose figures the row shows. An earlier attempt (TestCycle::AttemptCompleted) is not:
  // its `ping` and `result` are what its row would have shown had it been kept.
  bool finalAttempt = true;

  // What its health is judged on (Health::Judge). Refers to `result`: use it while the sample lives.
  Health::Facts HealthFacts() const {
    return {
        .pingUs = accepted ? fetched.totalUs : -1, .cancelled = cancelled, .status = fetched.status, .result = result};
  }
};

// A reference ping that has just ended (Ref 1 or Ref 2).
struct CompletedReference {
  QDateTime at;        // when it ended, UTC
  int reference = 0;   // 1 or 2
  QString url;         // the reference address as shown (AddressText::Shown)
  FetchResult fetched; // body not kept
};
