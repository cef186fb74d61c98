#include "ui/incidentsmodel.h"

#include "alerts/alerttext.h"
#include "platform/addresstext.h"

#include <algorithm>

namespace {

QString LocalTime(const QDateTime& at) {
  return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

IncidentsModel::IncidentsModel(QObject* parent) : QAbstractTableModel(parent) {}

void IncidentsModel::SetIncidents(const QList<HistoryIncident>& incidents) {
  all = incidents;
  // The latest first; of one start, the one written last.
  std::stable_sort(all.begin(), all.end(), [](const HistoryIncident& a, const HistoryIncident& b) {
    return a.started != b.started ? a.started > b.started : a.id > b.id;
  });
  Select();
}

void IncidentsModel::SetAddresses(const QStringList& urls) {
  addresses = urls;
  Select();
}

void IncidentsModel::SetNow(const QDateTime& at) {
  now = at;
}

void IncidentsModel::Select() {
  QList<HistoryIncident> chosen;
  for (const HistoryIncident& incident : std::as_const(all))
    if (addresses.isEmpty() || addresses.contains(incident.url))
      chosen << incident;
  // The same incidents read again (the window refreshes every few seconds): the view keeps its
  // selection and scroll position; only an end that came and the running lengths change.
  const auto same = [](const HistoryIncident& a, const HistoryIncident& b) {
    return a.id == b.id && a.url == b.url && a.kind == b.kind && a.started == b.started;
  };
  if (!shown.isEmpty() && std::equal(shown.cbegin(), shown.cend(), chosen.cbegin(), chosen.cend(), same)) {
    shown = chosen;
    emit dataChanged(index(0, 0), index(int(shown.size()) - 1, ColumnCount - 1));
    return;
  }
  beginResetModel();
  shown = chosen;
  endResetModel();
}

int IncidentsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(shown.size());
}

int IncidentsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant IncidentsModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const HistoryIncident& incident = shown.at(index.row());
  if (role == Qt::TextAlignmentRole && index.column() == Duration)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
    return {};
  switch (index.column()) {
  case Address: return AddressText::Shown(incident.url); // an earlier version kept passwords
  case Kind: return HistoryIncident::KindName(incident.kind);
  case Started: return LocalTime(incident.started);
  case Ended: return incident.Ongoing() ? QStringLiteral("ongoing") : LocalTime(incident.ended);
  case Duration: {
    const QDateTime end = incident.Ongoing() ? (now.isValid() ? now : QDateTime::currentDateTimeUtc()) : incident.ended;
    return AlertText::Duration(incident.started.secsTo(end));
  }
  case Cause: return incident.cause;
  default: return {};
  }
}

QVariant IncidentsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const headers[ColumnCount] = {"Address", "Kind", "Started", "Ended", "Duration", "Cause"};
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
    return QString::fromLatin1(headers[section]);
  return QAbstractTableModel::headerData(section, orientation, role);
}
