#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <memory>

// The results table: one row per sample, six text columns, a fore colour and a bold flag per row.
// Rows are addressed two ways: by a stable RowId (the handle the test cycle keeps while it fills
// a row) and by display position (0-based; the order every report and statistic walks).
// Once sorting has been switched on the table keeps every row, old and new, in sort order.
class ResultsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { EventTime = 0, Ping, Average, SiteId, Packet, Result, ColumnCount };
  // Row colours in blue-green-red order, as the rows' marks and the submitted counts use them.
  static constexpr int Black = 0;
  static constexpr int Red = 255;
  static constexpr int Blue = 16711680;

  using RowId = quint32;

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
  RowId AddRow(const QString& eventTime);
  void SetText(RowId row, int column, const QString& text);
  QString Text(RowId row, int column) const;
  void SetMark(RowId row, int colour, bool bold);
  int Colour(RowId row) const;
  bool Bold(RowId row) const;
  void Clear();

  // Display order.
  RowId RowAt(int position) const;
  int PositionOf(RowId row) const;
  QString TextAt(int position, int column) const;

  // A header click: sort by that column's text, toggling one direction flag for the whole table
  // (it starts ascending, so the first click sorts descending). Sorting stays on afterwards.
  void ColumnClick(int column);
  bool Sorted() const;
  int SortColumn() const;
  bool Descending() const;

private:
  struct Impl;
  std::unique_ptr<Impl> d;
};
