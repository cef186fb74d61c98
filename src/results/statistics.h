#pragma once

#include <QString>

#include <optional>

class ResultsModel;

// One site's figures for a submitted report.
struct SiteFigures {
  // The best ping: in plain form ("0.25") while it is the site's first counted ping, in the "0.000"
  // form once a later row was lower; "0" when no row counts.
  QString best;
  // The worst ping in the "0.000" form; "0" when no row has a ping above 0.
  QString worst;
  // The average ping, "0.000" form; "0.000" when no row counts.
  QString average;
  // Event Times of the best and worst rows; empty when there is none.
  QString bestTime;
  QString worstTime;
  // How many rows counted.
  qint64 count = 0;
};

// A site's best and worst ping (plain numbers) and the Event Times of their rows.
struct BestWorst {
  double best = 0;
  QString bestTime;
  double worst = 0;
  QString worstTime;

  bool operator==(const BestWorst&) const = default;
};

// Best, worst and average ping of one site, computed from the results table's texts in display
// order. A site is the set of rows that share a Site ID; every function takes the Site ID (1-based,
// as the table shows it). The functions compute and return figures; they write no panel (see
// SitePanels for how the status bars show them).
//
// Rows whose Ping is not a number pass over: a failed sample ("Failed"), a cancelled one, and a
// row whose fetch is still outstanding ("Sent"; such a row has no Site ID yet anyway).
//
// Each call answers exactly as a scan of every row would. The figures are kept per site with the
// model, which reports every change of a row's Ping or Site ID and every move, so that in a sorted
// table as in an unsorted one BestWorstOf and SiteAverage cost the same at a million rows as at
// ten, while every ping is a "d.ddd" text as the cycle writes them. A site with a ping in another
// form, and SiteStatistics once the table has been sorted or an old row changed, are worked out
// again from the rows, in one scan, when next asked for.
namespace Statistics {

// Best and worst ping of the rows whose Site ID reads strictly as siteId, and the times of their
// rows. A Ping of 0 makes the next row start best and worst afresh; ties keep the earlier row.
// Nothing when no row counts.
std::optional<BestWorst> BestWorstOf(const ResultsModel& model, int siteId);

// The average ping ("0.000") of the rows whose Site ID reads as siteId (its leading number). The
// running sum goes through its plain-form text (15 significant digits) at every row. "0.000" when
// no row counts. Rows taken out by ResultsModel::DropFirstRows still count (until the table is
// cleared): a table that keeps only its newest rows shows the same averages as one that keeps all.
QString SiteAverage(const ResultsModel& model, int siteId);

// Best, worst, average and their times for the rows whose Site ID reads as siteId (its leading
// number).
SiteFigures SiteStatistics(const ResultsModel& model, int siteId);

} // namespace Statistics
