#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// The results table: one row per sample, six text columns, a fore colour and a bold flag per row.
// Rows are addressed two ways: by a stable RowId (the handle the test cycle keeps while it fills
// a row) and by display position (0-based; the order every report and statistic walks).
// Once sorting has been switched on the table keeps every row, old and new, in sort order.
//
// Rows are stored compactly (the six texts packed as UTF-8 into one small buffer per row), so that
// a table of a million rows stays well under 100 bytes a row. The display order is kept in chunks,
// so that putting a row at its sorted place, or finding a row's position, touches one chunk and the
// chunks' start positions rather than every row after it.
class ResultsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { EventTime = 0, Ping, Average, SiteId, Packet, Result, ColumnCount };
  // Row colours in blue-green-red order, as the rows' marks and the submitted counts use them.
  static constexpr int Black = 0;
  static constexpr int Red = 255;
  static constexpr int Blue = 16711680;

  // The core has no QtGui: the row's colour (an int in blue-green-red order) and bold flag (a bool)
  // are offered through these roles, and the view maps them to a foreground and a font.
  enum Role { ColourRole = Qt::UserRole + 1, BoldRole = Qt::UserRole + 2 };

  using RowId = quint32;
  // What RowAt answers for a position outside the table. Handles are never reused: after Clear the
  // old handles address no row, and writing through them does nothing.
  static constexpr RowId NoRow = ~RowId(0);

  explicit ResultsModel(QObject* parent = nullptr);
  ~ResultsModel() override;

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  static QStringList ColumnCaptions();

  int Count() const;
  // Appends a row whose Event Time is the given text and whose other columns are empty (at its
  // sorted place once sorting is on).
  RowId AddRow(const QString& eventTime);
  // Writes one column of a row; an unknown row or column is ignored.
  void SetText(RowId row, int column, const QString& text);
  // A column's text; "" for an unknown row or column.
  QString Text(RowId row, int column) const;
  void SetMark(RowId row, int colour, bool bold);
  int Colour(RowId row) const;
  bool Bold(RowId row) const;
  void Clear();

  // Takes the first `n` rows (display order) out of an unsorted table, for a table that is to hold
  // only its newest rows; their handles address no row afterwards. A sorted table keeps every row
  // (returns 0). Returns the number of rows taken out.
  int DropFirstRows(int n);
  // The rows taken out by DropFirstRows since the table was created or last cleared.
  qint64 Dropped() const;
  // The Event Time of the first of those rows; empty when none was taken out.
  QString FirstDroppedTime() const;

  // Display order.
  RowId RowAt(int position) const;
  // -1 for an unknown row.
  int PositionOf(RowId row) const;
  // Whether row a stands before row b in display order (an unknown row stands before all others);
  // quicker than comparing their positions.
  bool StandsBefore(RowId a, RowId b) const;
  QString TextAt(int position, int column) const;

  // A header click: sort by that column's text, toggling one direction flag for the whole table
  // (it starts ascending, so the first click sorts descending). Sorting stays on afterwards.
  // Texts compare as plain ordinal strings (UTF-16 code units); the sort is stable.
  void ColumnClick(int column);
  bool Sorted() const;
  int SortColumn() const;
  bool Descending() const;

  // ---- For the statistics (results/statistics.cpp) ----

  // What the statistics read of a row, worked out once whenever the row's Ping or Site ID is
  // written, so that a scan needs no text conversion.
  struct Figures {
    bool pingIsNumber = false; // the Ping reads strictly as a number
    double ping = 0;           // its leading-number value
    bool pingMillis = false;   // the Ping is a plain "d.ddd" text: ping == millis / 1000
    qint64 millis = 0;
    std::optional<double> siteStrict; // the Site ID read strictly
    double siteValue = 0;             // the Site ID read as a leading number
  };
  Figures FiguresAt(int position) const;
  Figures FiguresOf(RowId row) const;
  // Every row in display order with its figures; quicker than asking position by position.
  void ForEachInOrder(const std::function<void(RowId, const Figures&)>& function) const;

  // The statistics keep running figures per site with the model and follow its changes here.
  class Attachment {
  public:
    virtual ~Attachment() = default;
    // A row's Ping or Site ID is changing, or the row is moving to another place of a sorted
    // table: RowLeaving comes first, with the row's figures before the change and while the rows
    // still stand in their old order; RowEntering follows with the figures afterwards, the row in
    // its new place. (A new row has no Ping yet and needs no notice.)
    virtual void RowLeaving(RowId row, const Figures& figures) = 0;
    virtual void RowEntering(RowId row, const Figures& figures) = 0;
    // A row is about to be taken out by DropFirstRows (it still stands first in the table).
    virtual void RowDropping(RowId row, const Figures& figures) = 0;
    // A sort: any row may have moved.
    virtual void Reordered() = 0;
    // Clear: every row is gone.
    virtual void Cleared() = 0;
  };
  Attachment* StatisticsState() const;
  void SetStatisticsState(std::unique_ptr<Attachment> state) const;

private:
  struct Impl;
  std::unique_ptr<Impl> d;
};
