#include "results/reportlog.h"

#include "platform/addresstext.h"
#include "platform/clock.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"

#include <optional>

namespace {

// The URL of the row's site as shown (its password hidden), or nothing when its Site ID is not a
// number.
std::optional<QString> UrlOf(const ResultsModel& model, int position, const QStringList& urls) {
  const std::optional<double> site = Numbers::Strict(model.TextAt(position, ResultsModel::SiteId));
  if (!site)
    return std::nullopt;
  const std::optional<qint32> index = Numbers::ToInt32(*site - 1);
  if (!index || *index < 0 || *index >= urls.size())
    return QString();
  return AddressText::Shown(urls.at(*index));
}

// The lines of the row at position i: in the form for a single URL (the URL before the first row,
// the average after the last) or in the form for several. Nothing when the row's Site ID is needed
// but is not a number.
std::optional<QStringList> RowLines(const ResultsModel& model, int i, const QStringList& urls) {
  using Col = ResultsModel::Column;
  const QString time = model.TextAt(i, Col::EventTime);
  const QString ping = model.TextAt(i, Col::Ping);
  const QString average = model.TextAt(i, Col::Average);
  if (urls.size() != 1) {
    const std::optional<QString> url = UrlOf(model, i, urls);
    if (!url)
      return std::nullopt;
    return QStringList{QStringLiteral("[URL: ") + *url + QStringLiteral("] [Time: ") + time +
                       QStringLiteral("] [PING:") + ping + QStringLiteral("][Avg:") + average + QStringLiteral("]")};
  }
  QStringList lines;
  if (i == 0) {
    const std::optional<QString> url = UrlOf(model, i, urls);
    if (!url)
      return std::nullopt;
    lines << QStringLiteral("[URL: ") + *url + QStringLiteral("]") << QString();
  }
  QString line = QStringLiteral(" [Time: ") + time + QStringLiteral("] [PING:") + ping + QStringLiteral("]");
  if (i == model.Count() - 1)
    line += QStringLiteral("\r\n") + QString(17, QLatin1Char(' ')) + QStringLiteral("[Avg:") + average +
            QStringLiteral("]");
  lines << line;
  return lines;
}

} // namespace

bool WriteReportLog(const ResultsModel& model, const QStringList& urls) {
  using Col = ResultsModel::Column;
  const int count = model.Count();

  QStringList lines;
  lines << QStringLiteral("-------------------- ") + Clock::DateText() + QStringLiteral("-------------------------");
  if (count > 0) {
    lines << QStringLiteral(" [ Begin: ") + model.TextAt(0, Col::EventTime) + QStringLiteral("  End:") +
                 model.TextAt(count - 1, Col::EventTime) + QStringLiteral(" ]")
          << QString();
  }
  bool complete = true;
  for (int i = 0; i < count && complete; ++i) {
    const std::optional<QStringList> row = RowLines(model, i, urls);
    if (row)
      lines << *row;
    complete = row.has_value();
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
