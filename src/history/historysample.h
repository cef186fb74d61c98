#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// One sample as the history keeps it: a timed fetch of a listed site, or a reference ping. It maps
// one to one onto a row of the `samples` table (the README's "History" section is the contract).
// Integer fields use -1 for "none", which is stored as NULL.
struct HistorySample {
  enum class Kind { Site, Ref };

  QDateTime at; // when the sample was taken; stored in UTC with milliseconds. An invalid
                // time is stored as the time HistoryStore::Append() was called.
  Kind kind = Kind::Site;
  QString url;        // the address as listed, without "/vok.txt"
  qint64 runId = -1;  // the id HistoryStore::BeginRun() gave; -1: none
  int siteId = -1;    // the row's Site ID; -1: none
  int packet = -1;    // the row's Packet; -1: none
  qint64 pingUs = -1; // the whole fetch (libcurl's TOTAL) in microseconds; -1: the sample failed
  // The phases as libcurl reports them (FetchResult), cumulative from the start of the request, in
  // microseconds: name lookup done (NAMELOOKUP), connected (CONNECT), TLS handshake done
  // (APPCONNECT; -1 for plain http, and 0 is taken the same way), first byte (STARTTRANSFER).
  // -1: unknown.
  qint64 dnsUs = -1;
  qint64 connectUs = -1;
  qint64 tlsUs = -1;
  qint64 ttfbUs = -1;
  int status = 0;      // HTTP status; 0 or less: none arrived (stored as NULL)
  QString result;      // the row's Result text, or the failure text (stored as given, '' when empty)
  QString remoteIp;    // empty: unknown (NULL)
  QString httpVersion; // "1.0", "1.1", "2", "3"; empty: unknown (NULL)
  qint64 bytes = -1;   // body bytes received; -1: unknown
  // Which fetch of its row a site sample is: 1 for the row's first, 2, 3, ... for its repeats (a
  // failed fetch is made again, and so is a slow one in the first pass of a run). Always 1 for a
  // reference ping.
  int attempt = 1;
  bool finalAttempt = true;   // the fetch whose figures the row shows (stored as 1, else 0)
  qint64 certNotAfterMs = -1; // the earliest notAfter of the server's certificates; -1: none (NULL)

  // The failure text of a request that the program itself ended (testing switched off). A failed
  // sample with this result counts as cancelled: neither a failure nor part of the loss.
  static QString CancelledResult() { return QStringLiteral("Cancelled"); }
};
