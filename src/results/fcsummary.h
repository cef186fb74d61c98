#pragma once

#include <QString>

class ResultsModel;

// The fc summary of one site: a short code that counts the site's slow samples and carries its
// latest average, made for the fc test (60 passes at 60-second intervals).
//
// The site's rows are those whose Site ID reads strictly as siteId, in display order. Over them:
//   - slow count: rows with a Ping above 2.0 s;
//   - last slow: the Ping (single precision) of the latest row above 1.45 s, reset to 0 by any
//     row above 2.0 s;
//   - over-20 rows: Pings above 20.0 s, whose sum (single precision) becomes their mean, rounded
//     half to even.
// All comparisons are strict: 1.450, 2.000 and 20.000 do not count.
//
// The code is
//   "<slow count>\<Average of the site's last row>"  when slow rows exist and either the span from
//                                                    the site's first row to the table's last row
//                                                    is exactly 60 minutes or fcTestFinished;
//   "0\<last slow in plain form>"                    when no row is slow and fcTestFinished;
//   "0?0"                                            otherwise;
// followed by "-<figure>" when exactly one row lies above 20 s, "+<figure>" when several do.
// The minute span counts minute boundaries (both times cut to whole minutes); a span that comes
// out negative crossed midnight and counts 1440 minutes more.
//
// Rows whose Ping or Site ID is not a number pass over as if they were not there: the newest row
// while its fetch is outstanding ("Sent", no Site ID), failed and cancelled samples ("Failed").
// They start no span and are never the site's last row. The table's last row, which ends the
// span, is taken as it stands.
struct FcFigures {
  QString code;
  int slowCount = 0; // as the code counts them: 0 whenever the code is "0?0"
};

// The fc summary of the site siteId; fcTestFinished: the last run was a finished fc test. Writes
// no panel (SitePanels::ShowFcSummary shows it).
FcFigures FcSummary(const ResultsModel& model, int siteId, bool fcTestFinished);
