#pragma once

#include "results/resultsmodel.h"

#include <QList>
#include <QStringList>

// Rows for a results table, each as its texts for the columns a test names (by default Event Time,
// Ping, Average and Site ID).
using Rows = QList<QStringList>;

inline const QList<int> AllColumns = {ResultsModel::EventTime, ResultsModel::Ping,   ResultsModel::Average,
                                      ResultsModel::SiteId,    ResultsModel::Packet, ResultsModel::Result};

// Appends the rows to the table in order: each row's texts go to `columns` in turn, the Event Time
// first; a row may give fewer texts, and the columns not given stay empty. Returns the new rows.
inline QList<ResultsModel::RowId> Fill(ResultsModel& model, const Rows& rows,
                                       const QList<int>& columns = {ResultsModel::EventTime, ResultsModel::Ping,
                                                                    ResultsModel::Average, ResultsModel::SiteId}) {
  QList<ResultsModel::RowId> added;
  for (const QStringList& texts : rows) {
    const ResultsModel::RowId row = model.AddRow(texts.value(0));
    for (int i = 1; i < texts.size() && i < columns.size(); ++i)
      model.SetText(row, columns.at(i), texts.at(i));
    added << row;
  }
  return added;
}
