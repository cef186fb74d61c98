#pragma once

#include "results/fcsummary.h"
#include "results/statistics.h"

#include <QString>

#include <optional>

class StatusPanels;

// How a site's figures read in the status bars: best, worst and average in StatusBar1's three
// panels, the fc summary in StatusBar2's panel 3.
namespace SitePanels {

// Panel 1 "BT: <time>   PING: <best>" and, when the worst ping is above 0, panel 2
// "WT: <time>   PING: <worst>", both pings in plain form. With no figures neither panel changes.
void ShowBestWorst(StatusPanels& bar1, const std::optional<BestWorst>& figures);

// Panel 3 "Avg: <average>".
void ShowAverage(StatusPanels& bar1, const QString& average);

// Panel 3 of StatusBar2: "fc: " + the code, or "fc: 0?0" when the slow count is 0.
void ShowFcSummary(StatusPanels& bar2, const FcFigures& fc);

} // namespace SitePanels
