#pragma once

#include "history/historyspan.h"

#include <QRect>
#include <QString>

#include <optional>

// What the Sites window and the chart remember from one start to the next, in the settings store
// under groups of their own, beside (never in) the values "100" to "106":
//
//   SitesWindow/Geometry    "x,y,width,height" of the window's inside, on the desktop
//   SitesWindow/Span        ThisRun, LastHour, Last24Hours, Last7Days, Last30Days or All
//   SitesWindow/SortColumn  a column's name as its header shows it without the unit ("p95"); empty:
//                           the order the figures come in
//   SitesWindow/SortOrder   ascending or descending
//   Chart/Geometry          as SitesWindow/Geometry
//   Chart/View              latency or phases
//   Chart/LogScale          true or false
//
// A missing or unreadable value reads as none (std::nullopt, an empty text, false).
namespace ViewSettings {

std::optional<QRect> Geometry(const QString& window);
void SetGeometry(const QString& window, const QRect& geometry);

std::optional<HistorySpan::Preset> SitesSpan();
void SetSitesSpan(HistorySpan::Preset preset);

// The sort column's name and whether the order is descending.
QString SitesSortColumn();
bool SitesSortDescending();
void SetSitesSort(const QString& column, bool descending);

bool ChartPhases();
void SetChartPhases(bool phases);
bool ChartLogScale();
void SetChartLogScale(bool on);

// The groups of the two windows.
inline const QString Sites = QStringLiteral("SitesWindow");
inline const QString Chart = QStringLiteral("Chart");

} // namespace ViewSettings
