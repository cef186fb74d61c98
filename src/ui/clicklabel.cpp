#include "ui/clicklabel.h"

#include <QMouseEvent>

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (isEnabled() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit Clicked();
}

void ClickLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  emit MouseMoved();
}
