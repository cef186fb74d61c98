#include "history/historysummarymodel.h"

#include "core/durationtext.h"
#include "core/health.h"
#include "platform/addresstext.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <numeric>

namespace {

bool IsReference(const SiteSummary& line) {
  return line.kind == HistorySample::Kind::Ref;
}

// A time in microseconds as milliseconds (DurationText); none below 0.
QVariant Milliseconds(double us) {
  return us < 0 ? QVariant() : QVariant(DurationText::Ms(us));
}

// What identifies a line from one set of figures to the next: its kind and its address.
QString Key(const SiteSummary& line) {
  return (line.kind == HistorySample::Kind::Ref ? QStringLiteral("r ") : QStringLiteral("s ")) + line.url;
}

QVariant Number(double value) {
  return value < 0 ? QVariant() : QVariant(value);
}

double Phase(const HistoryPhases& phases, int column) {
  switch (column) {
  case HistorySummaryModel::NameLookup: return phases.nameLookupUs;
  case HistorySummaryModel::Connect: return phases.connectUs;
  case HistorySummaryModel::Tls: return phases.tlsUs;
  case HistorySummaryModel::FirstByte: return phases.firstByteUs;
  default: return phases.transferUs;
  }
}

// The figure behind a time column, in microseconds; -1 when there is none.
double TimeUs(const SiteSummary& line, int column) {
  switch (column) {
  case HistorySummaryModel::Min: return double(line.minUs);
  case HistorySummaryModel::P50: return double(line.p50Us);
  case HistorySummaryModel::P95: return double(line.p95Us);
  case HistorySummaryModel::P99: return double(line.p99Us);
  case HistorySummaryModel::Max: return double(line.maxUs);
  case HistorySummaryModel::Mean: return line.meanUs;
  case HistorySummaryModel::StdDev: return line.stddevUs;
  case HistorySummaryModel::Last: return double(line.lastUs);
  default: return Phase(line.phases, column);
  }
}

QString NoteOf(const SiteSummary& line) {
  if (IsReference(line))
    return HistorySummaryModel::ReferenceText();
  return line.localNetwork ? HistorySummaryModel::LocalNetworkText() : QString();
}

// The columns' names; the header of a time column adds the unit.
const char* const Names[HistorySummaryModel::ColumnCount] = {
    "Address",     "Status",  "Up %", "Samples",    "Failures", "Errors", "Loss %",  "Certificate",
    "Min",         "p50",     "p95",  "p99",        "Max",      "Mean",   "Std dev", "Last",
    "Name lookup", "Connect", "TLS",  "First byte", "Transfer", "Note",
};

bool IsTime(int column) {
  return column >= HistorySummaryModel::Min && column <= HistorySummaryModel::Transfer;
}

QString HeaderToolTip(int column) {
  switch (column) {
  case HistorySummaryModel::Address: return QStringLiteral("The address as listed; reference addresses come last");
  case HistorySummaryModel::Status:
    return QStringLiteral("Now: down or slow while the site has such an incident, up otherwise");
  case HistorySummaryModel::Up:
    return QStringLiteral(
        "Samples that were up (a 2xx answer with the marker file, slow or not) / (samples - cancelled) × 100");
  case HistorySummaryModel::Samples:
    return QStringLiteral("Every sample in the span: every fetch, a retry and a repeat of a slow first pass too");
  case HistorySummaryModel::Failures:
    return QStringLiteral("Samples that got no answer (those cancelled by switching testing off are not counted)");
  case HistorySummaryModel::Errors:
    return QStringLiteral("Samples that got an answer, but a wrong one: a status outside 2xx, or not the marker file");
  case HistorySummaryModel::Loss:
    return QStringLiteral("Failures / (samples - cancelled) × 100: the share of requests that got no answer");
  case HistorySummaryModel::Certificate:
    return QStringLiteral("https: when the certificates the server sent last end (the earliest of them)");
  case HistorySummaryModel::P50:
  case HistorySummaryModel::P95:
  case HistorySummaryModel::P99:
    return QStringLiteral("Milliseconds: the smallest ping with at least this percentage of the pings at or below it");
  case HistorySummaryModel::StdDev: return QStringLiteral("Milliseconds: the standard deviation of the pings");
  case HistorySummaryModel::Last: return QStringLiteral("Milliseconds: the ping of the latest sample");
  case HistorySummaryModel::NameLookup:
  case HistorySummaryModel::Connect:
  case HistorySummaryModel::Tls:
  case HistorySummaryModel::FirstByte:
  case HistorySummaryModel::Transfer:
    return QStringLiteral("Milliseconds: the mean time of this phase of the successful fetches");
  case HistorySummaryModel::Note:
    return QStringLiteral(
        "\"local network?\": the site's slow samples fell mostly in minutes where the reference "
        "pings were slow too");
  default: return QStringLiteral("Milliseconds, of the successful samples");
  }
}

} // namespace

HistorySummaryModel::HistorySummaryModel(QObject* parent) : QAbstractTableModel(parent) {}

void HistorySummaryModel::SetIncidents(const QList<HistoryIncident>& incidents) {
  down.clear();
  slow.clear();
  for (const HistoryIncident& incident : incidents) {
    if (!incident.Ongoing())
      continue;
    if (incident.kind == HistoryIncident::Kind::Down)
      down.insert(incident.url, incident);
    else if (incident.kind == HistoryIncident::Kind::Slow)
      slow.insert(incident.url, incident);
  }
  if (!lines.isEmpty())
    emit dataChanged(index(0, Status), index(rowCount() - 1, Status));
}

void HistorySummaryModel::SetNow(const QDateTime& at) {
  now = at;
}

QDateTime HistorySummaryModel::Now() const {
  return now.isValid() ? now : QDateTime::currentDateTimeUtc();
}

QString HistorySummaryModel::StatusOf(const SiteSummary& line) const {
  if (IsReference(line))
    return {};
  const auto found = down.constFind(line.url);
  if (found != down.constEnd()) {
    const QDateTime started = found->started.toLocalTime();
    const bool today = started.date() == Now().toLocalTime().date();
    const QString since = started.toString(today ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
    return found->cause.isEmpty() ? QStringLiteral("down since %1").arg(since)
                                  : QStringLiteral("down since %1 (%2)").arg(since, found->cause);
  }
  return slow.contains(line.url) ? QStringLiteral("slow") : QStringLiteral("up");
}

qint64 HistorySummaryModel::CertificateMsLeft(const SiteSummary& line) const {
  return Now().msecsTo(line.certNotAfter);
}

void HistorySummaryModel::SetLines(const QList<SiteSummary>& newLines) {
  QSet<QString> before;
  for (const SiteSummary& line : lines)
    before.insert(Key(line));
  QSet<QString> after;
  for (const SiteSummary& line : newLines)
    after.insert(Key(line));
  if (lines.isEmpty() || before != after || newLines.size() != lines.size()) {
    beginResetModel();
    lines = newLines;
    Order();
    endResetModel();
    return;
  }
  // The same addresses with new figures: every line keeps its persistent indexes (a view's
  // selection, current cell and scroll position stay), and moves where the order puts it now.
  emit layoutAboutToBeChanged();
  const QModelIndexList from = persistentIndexList();
  QStringList keys;
  for (const QModelIndex& index : from)
    keys << Key(lines.at(index.row()));
  lines = newLines;
  Order();
  QHash<QString, int> rowOf;
  for (int row = 0; row < int(lines.size()); ++row)
    rowOf.insert(Key(lines.at(row)), row);
  QModelIndexList to;
  for (qsizetype i = 0; i < from.size(); ++i)
    to << index(rowOf.value(keys.at(i)), from.at(i).column());
  changePersistentIndexList(from, to);
  emit layoutChanged();
  emit dataChanged(index(0, 0), index(int(lines.size()) - 1, ColumnCount - 1));
}

QString HistorySummaryModel::ColumnName(int column) {
  return column >= 0 && column < ColumnCount ? QString::fromLatin1(Names[column]) : QString();
}

int HistorySummaryModel::ColumnNamed(const QString& name) {
  for (int column = 0; column < ColumnCount; ++column)
    if (name == QLatin1String(Names[column]))
      return column;
  return -1;
}

int HistorySummaryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(lines.size());
}

int HistorySummaryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistorySummaryModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const SiteSummary& line = lines.at(index.row());
  switch (role) {
  case Qt::DisplayRole: return Display(line, index.column());
  case SortRole: return SortValue(line, index.column());
  case Qt::ToolTipRole: return ToolTip(line, index.column());
  case Qt::TextAlignmentRole:
    return index.column() == Address || index.column() == Status || index.column() == Certificate ||
                   index.column() == Note
               ? QVariant()
               : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  default: return {};
  }
}

QVariant HistorySummaryModel::Display(const SiteSummary& line, int column) const {
  switch (column) {
  case Address: return AddressText::Shown(line.url); // an earlier version kept passwords
  case Status: return StatusOf(line);
  case Up: return line.upPercent < 0 ? QVariant() : QVariant(QString::number(line.upPercent, 'f', 2));
  case Samples: return line.samples;
  case Failures: return line.failures;
  case Errors: return line.errors;
  case Loss: return QString::number(line.lossPercent, 'f', 2);
  case Certificate:
    return line.certNotAfter.isValid() ? QVariant(Health::ExpiryText(CertificateMsLeft(line))) : QVariant();
  case Last:
    if (line.samples == 0)
      return {};
    return line.lastUs < 0 ? QStringLiteral("Failed") : DurationText::Ms(double(line.lastUs));
  case Note: return NoteOf(line);
  default: return Milliseconds(TimeUs(line, column));
  }
}

QVariant HistorySummaryModel::SortValue(const SiteSummary& line, int column) const {
  switch (column) {
  case Address: return line.url;
  case Status: return IsReference(line) ? QVariant() : QVariant(StatusOf(line)); // down, slow, up
  case Up: return Number(line.upPercent);
  case Samples: return line.samples;
  case Failures: return line.failures;
  case Errors: return line.errors;
  case Loss: return line.lossPercent;
  case Certificate: return line.certNotAfter.isValid() ? QVariant(double(CertificateMsLeft(line))) : QVariant();
  case Note: return NoteOf(line);
  default: return Number(TimeUs(line, column));
  }
}

QVariant HistorySummaryModel::ToolTip(const SiteSummary& line, int column) const {
  if (column == Note && line.localNetwork)
    return QStringLiteral(
               "Most of this site's slow samples (%1 of %2 above its own p95) fell in minutes where the "
               "reference pings were slow too: the delay was more likely near this computer than at the "
               "site.")
        .arg(line.slowMatched)
        .arg(line.slowSamples);
  if (column == Note && IsReference(line))
    return QStringLiteral("A reference address: timed when the sites are slow, for comparison");
  if (column == Last && line.lastAt.isValid())
    return QStringLiteral("Latest sample: %1")
        .arg(line.lastAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
  if (column == Address)
    return AddressText::Shown(line.url);
  if (column == Certificate && line.certNotAfter.isValid())
    return QStringLiteral("Ends %1").arg(
        line.certNotAfter.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
  if (column == Status && down.contains(line.url))
    return QStringLiteral("Down since %1")
        .arg(down.value(line.url).started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
  return {};
}

QVariant HistorySummaryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
    return QAbstractTableModel::headerData(section, orientation, role);
  if (role == Qt::DisplayRole)
    return IsTime(section) ? DurationText::Header(ColumnName(section)) : ColumnName(section);
  if (role == Qt::ToolTipRole)
    return HeaderToolTip(section);
  if (role == Qt::InitialSortOrderRole)
    return Qt::AscendingOrder;
  return {};
}

void HistorySummaryModel::sort(int column, Qt::SortOrder order) {
  if (column >= ColumnCount)
    return;
  sortColumn = column;
  sortOrder = order;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<qsizetype> oldRows = Order();
  std::vector<int> newRow(oldRows.size());
  for (size_t row = 0; row < oldRows.size(); ++row)
    newRow[size_t(oldRows[row])] = int(row);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  for (const QModelIndex& index : from)
    to << this->index(newRow[size_t(index.row())], index.column());
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// Sites before references; within each, by the sort column (empty cells last), ties in the order
// they had. Returns the old row of every new row.
std::vector<qsizetype> HistorySummaryModel::Order() {
  std::vector<qsizetype> order(size_t(lines.size()));
  std::iota(order.begin(), order.end(), 0);
  const auto before = [&](qsizetype a, qsizetype b) {
    const SiteSummary& x = lines[a];
    const SiteSummary& y = lines[b];
    if (IsReference(x) != IsReference(y))
      return !IsReference(x);
    if (sortColumn < 0)
      return false;
    const QVariant u = SortValue(x, sortColumn);
    const QVariant v = SortValue(y, sortColumn);
    if (!u.isValid() || !v.isValid())
      return u.isValid() && !v.isValid();
    int comparison = 0;
    if (u.typeId() == QMetaType::QString) {
      comparison = u.toString().compare(v.toString(), Qt::CaseInsensitive);
    } else {
      const double p = u.toDouble();
      const double q = v.toDouble();
      comparison = p < q ? -1 : (p > q ? 1 : 0);
    }
    return sortOrder == Qt::AscendingOrder ? comparison < 0 : comparison > 0;
  };
  std::stable_sort(order.begin(), order.end(), before);
  QList<SiteSummary> sorted;
  sorted.reserve(lines.size());
  for (const qsizetype row : order)
    sorted.push_back(lines[row]);
  lines = std::move(sorted);
  return order;
}
