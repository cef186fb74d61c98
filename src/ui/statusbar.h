#pragma once

#include <QFrame>
#include <QList>

class QLabel;
class StatusPanels;

// A status bar of numbered, sunken panels showing the texts of a StatusPanels object.
class StatusBar : public QFrame {
  Q_OBJECT
public:
  // stretches: the relative width of each panel.
  StatusBar(StatusPanels* panels, const QList<int>& stretches, QWidget* parent = nullptr);

  StatusPanels* Panels() const { return panels; }
  QLabel* PanelLabel(int n) const;

private:
  StatusPanels* panels;
  QList<QLabel*> labels;
};
