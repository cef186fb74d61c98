#pragma once

#include "history/historyincident.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QStringList>

// The Sites window's list of incidents: of the selected sites (of all when none is selected) over
// the span, the latest first, with their start, their end or "ongoing", how long they lasted (an
// ongoing one: until now) and their cause.
class IncidentsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { Address, Kind, Started, Ended, Duration, Cause, ColumnCount };

  explicit IncidentsModel(QObject* parent = nullptr);

  // The incidents of the span, of every site.
  void SetIncidents(const QList<HistoryIncident>& incidents);
  // Shows only the incidents of these addresses; empty: of all.
  void SetAddresses(const QStringList& urls);
  // The moment an ongoing incident's length is told against; invalid (the default): each call's.
  void SetNow(const QDateTime& now);
  const HistoryIncident& Incident(int row) const { return shown.at(row); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
  void Select();

  QList<HistoryIncident> all;
  QList<HistoryIncident> shown;
  QStringList addresses;
  QDateTime now;
};
