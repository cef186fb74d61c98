#include "ui/windowhabits.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

namespace WindowHabits {

QRect Fit(const QRect& wanted, const QRect& available) {
  const QSize most(int(available.width() * MaxShare), int(available.height() * MaxShare));
  QRect fitted(wanted.topLeft(), wanted.size().boundedTo(most).expandedTo(QSize(1, 1)));
  if (fitted.right() > available.right())
    fitted.moveRight(available.right());
  if (fitted.bottom() > available.bottom())
    fitted.moveBottom(available.bottom());
  if (fitted.left() < available.left())
    fitted.moveLeft(available.left());
  if (fitted.top() < available.top())
    fitted.moveTop(available.top());
  return fitted;
}

void Place(QWidget* window, const std::optional<QRect>& stored, const QSize& size) {
  if (stored) {
    if (QScreen* screen = QGuiApplication::screenAt(stored->center())) {
      window->setGeometry(Fit(*stored, screen->availableGeometry()));
      return;
    }
  }
  const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
  QScreen* screen = parent && parent->isVisible() ? parent->screen() : QGuiApplication::primaryScreen();
  if (!screen) {
    window->resize(size);
    return;
  }
  const QRect available = screen->availableGeometry();
  QRect wanted(QPoint(), Fit(QRect(QPoint(), size), available).size());
  wanted.moveCenter(parent && parent->isVisible() ? parent->geometry().center() : available.center());
  window->setGeometry(Fit(wanted, available));
}

void AddCloseKeys(QWidget* window) {
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
    auto* shortcut = new QShortcut(keys, window);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
  }
}

} // namespace WindowHabits
