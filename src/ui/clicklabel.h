#pragma once

#include <QAccessible>
#include <QLabel>

// A label that acts on a click (the menu items and the status light). It is also reached with Tab,
// acts on Return, Enter and Space, shows a focus mark while it has the focus, and presents itself to
// assistive technology as a button or a link whose press action acts as the click does, from the
// event loop (the action itself returns at once).
class ClickLabel : public QLabel {
  Q_OBJECT
public:
  ClickLabel(const QString& text, QAccessible::Role role, QWidget* parent = nullptr);

  QAccessible::Role AccessibleRole() const { return role; }
  // What a click does: Clicked, unless the label is disabled.
  void Activate();

signals:
  void Clicked();
  void MouseMoved();

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  QAccessible::Role role;
};
