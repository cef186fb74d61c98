#include "ui/popupmenukeys.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QKeyEvent>

PopupMenuKeys::PopupMenuKeys(QAbstractItemView* view, std::function<void(const QPoint&)> open,
                             std::function<bool()> isOpen)
    : QObject(view), view(view), open(std::move(open)), isOpen(std::move(isOpen)) {
  view->installEventFilter(this);
}

QPoint PopupMenuKeys::AtCurrentRow(const QAbstractItemView* view) {
  const QModelIndex current = view->currentIndex();
  const QRect viewport = view->viewport()->rect();
  if (!current.isValid())
    return viewport.topLeft();
  const QRect cell = view->visualRect(current.siblingAtColumn(0)).intersected(viewport);
  if (cell.isEmpty())
    return viewport.topLeft(); // scrolled out of sight
  return cell.bottomLeft();
}

bool PopupMenuKeys::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view)
    return QObject::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool menuKey = key->key() == Qt::Key_Menu && key->modifiers() == Qt::NoModifier;
    const bool shiftF10 = key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
      open(AtCurrentRow(view));
      return true;
    }
  } else if (event->type() == QEvent::ContextMenu &&
             static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
    if (!isOpen())
      open(AtCurrentRow(view));
    return true;
  }
  return QObject::eventFilter(watched, event);
}
