#pragma once

#include <QWidget>

class QTimer;

// The splash window: shown at start, it shows the main window after 3500 ms and hides itself. It
// names the vendor's web address.
class Form2 : public QWidget {
  Q_OBJECT
public:
  explicit Form2(const QString& vendorAddress, QWidget* parent = nullptr);

signals:
  // The splash time is over: the main window is to be shown.
  void Timer1_Timer();

private:
  QTimer* Timer1 = nullptr; // once, 3500 ms after the window was made
};
