#pragma once

#include "history/historyquery.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>

#include <vector>

// The Sites window's table: one line per address over a span (HistoryQuery::Summary()), the sites
// first, then the reference addresses. Times are shown in milliseconds (DurationText), the unit in
// the header ("p95 (ms)"); a figure that does not exist (no successful sample, a phase never
// measured) is an empty cell. A site's Status comes from its incidents that go on (SetIncidents()).
//
// Sorting (sort(), which a view calls when a header is clicked) orders the sites and, after them,
// the references, each by the column; empty cells come last in either order, and lines that tie
// keep the order they had. The order stays when new lines are set; new figures of the same
// addresses move the lines (a layout change that carries persistent indexes), other addresses
// reset the model.
class HistorySummaryModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column {
    Address,
    Status, // "up", "slow", "down since 14:02 (Connection refused)": the site's incidents that go on
    Up,     // Up %
    Samples,
    Failures,
    Errors,
    Loss,
    Certificate, // "expires in 23 days": the end of the certificates the latest https sample told
    Min,
    P50,
    P95,
    P99,
    Max,
    Mean,
    StdDev,
    Last,
    NameLookup,
    Connect,
    Tls,
    FirstByte,
    Transfer,
    Note, // "local network?" on a site's line, "reference" on a reference's
    ColumnCount
  };
  // The value a column sorts by: a number (an empty cell: an invalid QVariant) or, for Address and
  // Note, the text.
  static constexpr int SortRole = Qt::UserRole;

  explicit HistorySummaryModel(QObject* parent = nullptr);

  void SetLines(const QList<SiteSummary>& lines);
  // The incidents the Status column reads: those that go on count (of every kind but certificate).
  void SetIncidents(const QList<HistoryIncident>& incidents);
  // The moment the Status and Certificate columns are told against; invalid (the default): the
  // time of each call.
  void SetNow(const QDateTime& now);
  // A column's name without its unit ("p95"), and the column of a name; -1 for none. What the
  // window remembers of its sort order.
  static QString ColumnName(int column);
  static int ColumnNamed(const QString& name);
  int SortColumn() const { return sortColumn; }
  Qt::SortOrder SortOrder() const { return sortOrder; }
  const QList<SiteSummary>& Lines() const { return lines; }
  const SiteSummary& Line(int row) const { return lines.at(row); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // The texts of the "local network?" mark and of a reference's line.
  static QString LocalNetworkText() { return QStringLiteral("local network?"); }
  static QString ReferenceText() { return QStringLiteral("reference"); }

private:
  QVariant Display(const SiteSummary& line, int column) const;
  QVariant SortValue(const SiteSummary& line, int column) const;
  QVariant ToolTip(const SiteSummary& line, int column) const;
  std::vector<qsizetype> Order();

  QString StatusOf(const SiteSummary& line) const;
  qint64 CertificateMsLeft(const SiteSummary& line) const;
  QDateTime Now() const;

  QList<SiteSummary> lines;
  QHash<QString, HistoryIncident> down; // the incidents that go on, by address
  QHash<QString, HistoryIncident> slow;
  QDateTime now;
  int sortColumn = -1; // -1: as Summary() gave them
  Qt::SortOrder sortOrder = Qt::AscendingOrder;
};
