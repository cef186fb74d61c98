#pragma once

#include "core/health.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <map>

struct FetchResult;

// Figures of the samples for Prometheus, kept per site address and written in the text exposition
// format (version 0.0.4) on request:
//
//   tarvik_ping_seconds                     histogram of the Pings of accepted samples, per url
//   tarvik_sample_failures_total            counter of failed samples, per url and reason (the
//                                           failure's short text: "Timed out", "Cancelled", ...)
//   tarvik_phase_seconds                    gauge: how long each phase of the url's last accepted
//                                           sample took (resolve, connect, tls, processing, transfer)
//   tarvik_last_sample_success              gauge: 1 when the url's last sample was accepted, else 0
//   tarvik_last_sample_timestamp_seconds    gauge: when the url's last sample ended (Unix time)
//   tarvik_site_up                          gauge: 1 when the url's last sample was up (or slow),
//                                           0 when it was down (Health::Judge); as a probe's success
//   tarvik_http_status_code                 gauge: the HTTP status of the url's last sample, 0 when
//                                           none arrived
//   tarvik_tls_cert_not_after_seconds       gauge: the earliest end of the certificates the url's
//                                           server last sent (Unix time); https sites only
//   tarvik_incidents_total                  counter of the url's incidents begun, per kind (down,
//                                           slow, certificate), each 0 until the first
//   tarvik_reference_ping_seconds           gauge: the last time of reference address 1 and 2
//   tarvik_build_info                       gauge 1 with the program's version
//
// Phases are durations, not points in time: resolve = name lookup, connect = TCP connection,
// tls = TLS handshake (https only), processing = from the request sent to the first byte of the
// answer, transfer = from the first to the last byte. A phase that did not happen is left out.
class MetricsRegistry {
public:
  // Upper bounds of the histogram buckets, in seconds: from a fast local site to the 60 s limit.
  static constexpr std::array<double, 13> Buckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 20, 60};

  // One completed sample of the site `url` (the address as listed): accepted when fetched.ok,
  // failed otherwise, with `failure` as its reason. `atMs` is the time it ended (ms since the epoch).
  void RecordSample(const QString& url, const FetchResult& fetched, const QString& failure, qint64 atMs);
  // The health of the site's last sample; a cancelled sample changes nothing. `certNotAfterMs` is
  // FetchResult::certNotAfterMs (-1: none told, the last known stays).
  void RecordHealth(const QString& url, const Health::Facts& facts, qint64 certNotAfterMs);
  // An incident of the site began; `kind` is "down", "slow" or "certificate".
  void RecordIncident(const QString& url, const QString& kind);
  // The time of reference address 1 or 2, in seconds.
  void RecordReference(int reference, double seconds);

  // The figures of every site not in `urls` go (a site taken off the list).
  void KeepOnly(const QStringList& urls);

  QByteArray Exposition() const;

private:
  struct Site {
    std::array<quint64, Buckets.size()> buckets{}; // not cumulative; summed when written
    quint64 count = 0;
    double sum = 0;
    std::map<QString, quint64> failures;
    std::map<QString, double> phases; // of the last accepted sample, by phase name
    bool lastOk = false;
    qint64 lastAtMs = 0;
    int up = -1; // of the last sample that was not cancelled; -1 before it
    int status = 0;
    qint64 certNotAfterMs = -1;
    std::map<QString, quint64> incidents; // by kind
  };
  std::map<QString, Site> sites;
  std::array<double, 2> references{-1, -1};
};
