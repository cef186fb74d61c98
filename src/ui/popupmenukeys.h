#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class QAbstractItemView;

// Opens a view's popup menu from the keyboard as the right button does: Shift+F10 and the Menu key
// call `open` with a point of the view's viewport at the current row (its cell's lower left
// corner, within the visible part), or at the viewport's top left when there is no current row.
// A keyboard context-menu event that the platform makes of the Menu key does the same, unless the
// menu is already open (`isOpen`).
class PopupMenuKeys : public QObject {
  Q_OBJECT
public:
  PopupMenuKeys(QAbstractItemView* view, std::function<void(const QPoint&)> open, std::function<bool()> isOpen);

  // Where the menu opens: at the current row, in viewport coordinates.
  static QPoint AtCurrentRow(const QAbstractItemView* view);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QAbstractItemView* view;
  std::function<void(const QPoint&)> open;
  std::function<bool()> isOpen;
};
