#include "results/sitepanels.h"

#include "core/statuspanels.h"
#include "platform/numbers.h"

namespace SitePanels {

void ShowBestWorst(StatusPanels& bar1, const std::optional<BestWorst>& figures) {
  if (!figures)
    return;
  bar1.SetText(
      1, QStringLiteral("BT: ") + figures->bestTime + QStringLiteral("   PING: ") + Numbers::Plain(figures->best));
  const QString worst = Numbers::Plain(figures->worst);
  if (Numbers::Value(worst) > 0)
    bar1.SetText(2, QStringLiteral("WT: ") + figures->worstTime + QStringLiteral("   PING: ") + worst);
}

void ShowAverage(StatusPanels& bar1, const QString& average) {
  bar1.SetText(3, QStringLiteral("Avg: ") + average);
}

void ShowFcSummary(StatusPanels& bar2, const FcFigures& fc) {
  bar2.SetText(3, QStringLiteral("fc: ") + (fc.slowCount == 0 ? QStringLiteral("0?0") : fc.code));
}

} // namespace SitePanels
