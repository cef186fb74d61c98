#include "engine/rowlimit.h"

#include "results/resultsmodel.h"

namespace RowLimit {

int FirstPassRows(const ResultsModel& model) {
  const int count = model.Count();
  if (count == 0)
    return 0;
  QString packet = model.TextAt(0, ResultsModel::Packet);
  std::optional<double> site = model.FiguresAt(0).siteStrict;
  int rows = 1;
  for (; rows < count; ++rows) {
    const QString nextPacket = model.TextAt(rows, ResultsModel::Packet);
    const std::optional<double> nextSite = model.FiguresAt(rows).siteStrict;
    if (nextPacket != packet || !site || !nextSite || *nextSite <= *site)
      break;
    site = nextSite;
  }
  return rows;
}

int MakeRoom(ResultsModel& model, qint64 maxRows, int coming) {
  if (maxRows <= 0 || model.Sorted())
    return 0;
  int dropped = 0;
  while (model.Count() > 0 && model.Count() + qint64(coming) > maxRows)
    dropped += model.DropFirstRows(FirstPassRows(model));
  return dropped;
}

} // namespace RowLimit
