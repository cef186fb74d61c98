#include "results/reportlog.h"

#include "platform/clock.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"

#include <optional>

namespace {

// The URL of the row's site, or nothing when its Site ID is not a number.
std::optional<QString> UrlOf(const ResultsModel& model, int position, const QStringList& urls) {
  const std::optional<double> site = Numbers::Strict(model.TextAt(position, ResultsModel::SiteId));
  if (!site)
    return std::nullopt;
  const std::optional<qint32> index = Numbers::ToInt32(*site - 1);
  if (!index || *index < 0 || *index >= urls.size())
    return QString();
  return urls.at(*index);
}

} // namespace

bool WriteReportLog(const ResultsModel& model, const QStringList& urls) {
  using Col = ResultsModel::Column;
  const int count = model.Count();
  const bool singleSite = urls.size() == 1;

  QStringList lines;
  lines << QStringLiteral("-------------------- ") + Clock::DateText() + QStringLiteral("-------------------------");
  bool complete = true;
  for (int i = 0; i < count; ++i) {
    const QString time = model.TextAt(i, Col::EventTime);
    if (i == 0) {
      lines << QStringLiteral(" [ Begin: ") + time + QStringLiteral("  End:") +
                   model.TextAt(count - 1, Col::EventTime) + QStringLiteral(" ]")
            << QString();
    }
    if (singleSite) {
      if (i == 0) {
        const std::optional<QString> url = UrlOf(model, i, urls);
        if (!url) {
          complete = false;
          break;
        }
        lines << QStringLiteral("[URL: ") + *url + QStringLiteral("]") << QString();
      }
      QString line = QStringLiteral(" [Time: ") + time + QStringLiteral("] [PING:") +
                     model.TextAt(i, Col::Ping) + QStringLiteral("]");
      if (i == count - 1)
        line += QStringLiteral("\r\n") + QString(17, QLatin1Char(' ')) + QStringLiteral("[Avg:") +
                model.TextAt(i, Col::Average) + QStringLiteral("]");
      lines << line;
    } else {
      const std::optional<QString> url = UrlOf(model, i, urls);
      if (!url) {
        complete = false;
        break;
      }
      lines << QStringLiteral("[URL: ") + *url + QStringLiteral("] [Time: ") + time +
                   QStringLiteral("] [PING:") + model.TextAt(i, Col::Ping) + QStringLiteral("][Avg:") +
                   model.TextAt(i, Col::Average) + QStringLiteral("]");
    }
  }
  if (complete)
    lines << QStringLiteral("-------------------- End Report ---------------------") << QString();

  // What was built before a row that stopped the report is still written: the block then ends
  // without its trailer, and the next report follows it.
  if (!TextFile::AppendLines(ProgramFolder::File(QStringLiteral("tarvik.log")), lines) || !complete)
    return false;
  MessageBoxes::MsgBox(QStringLiteral("Log Saved"), MessageBoxes::OkOnly, MessageBoxes::Information);
  return true;
}
