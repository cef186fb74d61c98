#pragma once

// When a site's samples make an incident, in the program's settings store under the group "Alerts"
// (beside, never in, the values "100" to "106"). Read once at start; a missing, unreadable
// or out-of-range value reads as its default.
//
//   Alerts/DownAfter   consecutive down samples before a site is down         default 2   1..1000
//   Alerts/UpAfter     consecutive up samples before it is up again (and a
//                      slow site is fast again)                               default 1   1..1000
//   Alerts/SlowAfter   consecutive slow samples before a site is slow         default 3   1..1000
//   Alerts/CertDays    a certificate that ends in fewer days is an incident;
//                      0 turns that off                                       default 14  0..3650
struct IncidentRules {
  static constexpr int MaxSamples = 1000;
  static constexpr int MaxCertDays = 3650;

  int downAfter = 2;
  int upAfter = 1;
  int slowAfter = 3;
  int certDays = 14;

  // The rules as stored.
  static IncidentRules Stored();
  // Stores every value (each brought into its range).
  static void Store(const IncidentRules& rules);
};
