#include "ui/clicklabel.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace {

// A button or a link with a press action, as assistive technology reads it.
class ClickLabelAccessible : public QAccessibleWidget {
public:
  explicit ClickLabelAccessible(ClickLabel* label) : QAccessibleWidget(label, label->AccessibleRole()) {}

  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled())
      names.prepend(pressAction());
    return names;
  }

  // The press action returns at once and the click runs from the event loop, as a button's does: a
  // handler that shows a box would otherwise hold the assistive technology's call until the box is
  // answered.
  void doAction(const QString& name) override {
    if (name == pressAction()) {
      auto* label = static_cast<ClickLabel*>(widget());
      QMetaObject::invokeMethod(label, &ClickLabel::Activate, Qt::QueuedConnection);
    } else {
      QAccessibleWidget::doAction(name);
    }
  }
};

QAccessibleInterface* AccessibleClickLabel(const QString& className, QObject* object) {
  if (className == QLatin1String("ClickLabel") && object && object->isWidgetType())
    return new ClickLabelAccessible(static_cast<ClickLabel*>(object));
  return nullptr;
}

} // namespace

ClickLabel::ClickLabel(const QString& text, QAccessible::Role role, QWidget* parent)
    : QLabel(text, parent), role(role) {
  static const bool accessible = [] {
    QAccessible::installFactory(AccessibleClickLabel);
    return true;
  }();
  Q_UNUSED(accessible);
  // Tab reaches it; a click does not take the focus from where it is.
  setFocusPolicy(Qt::TabFocus);
}

void ClickLabel::Activate() {
  if (isEnabled())
    emit Clicked();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    Activate();
}

void ClickLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  emit MouseMoved();
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_Space:
    if (!event->isAutoRepeat())
      Activate();
    event->accept();
    return;
  default: QLabel::keyPressEvent(event);
  }
}

void ClickLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus())
    return;
  QStylePainter painter(this);
  QStyleOptionFocusRect focus;
  focus.initFrom(this);
  focus.backgroundColor = palette().color(backgroundRole());
  painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}
