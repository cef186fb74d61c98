#pragma once

#include "results/resultsmodel.h"

#include <QList>
#include <QStringList>

// Rows for a results table, each as its Event Time, Ping, Average and Site ID texts.
using Rows = QList<QStringList>;

// Appends the rows to the table in order (Packet and Result stay empty).
inline void Fill(ResultsModel& model, const Rows& rows) {
  for (const QStringList& row : rows) {
    const ResultsModel::RowId id = model.AddRow(row.at(0));
    model.SetText(id, ResultsModel::Ping, row.at(1));
    model.SetText(id, ResultsModel::Average, row.at(2));
    model.SetText(id, ResultsModel::SiteId, row.at(3));
  }
}
