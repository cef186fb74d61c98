#pragma once

#include <QLabel>

// A label that reports clicks and pointer moves (the menu items and the status light).
class ClickLabel : public QLabel {
  Q_OBJECT
public:
  using QLabel::QLabel;

signals:
  void Clicked();
  void MouseMoved();

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
};
