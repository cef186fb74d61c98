#include "ui/statusbar.h"

#include "core/statuspanels.h"

#include <QHBoxLayout>
#include <QLabel>

StatusBar::StatusBar(StatusPanels* panels, const QList<int>& stretches, QWidget* parent)
    : QFrame(parent), panels(panels) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->setSpacing(2);
  for (int n = 1; n <= panels->Count(); ++n) {
    auto* label = new QLabel(panels->Text(n), this);
    label->setObjectName(QStringLiteral("Panel%1").arg(n));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(1);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(label, n - 1 < stretches.size() ? stretches.at(n - 1) : 1);
    labels.append(label);
  }
  connect(panels, &StatusPanels::Changed, this, [this](int n, const QString& text) {
    if (QLabel* label = PanelLabel(n)) {
      label->setText(text);
      label->setToolTip(text);
    }
  });
}

QLabel* StatusBar::PanelLabel(int n) const {
  return n >= 1 && n <= labels.size() ? labels.at(n - 1) : nullptr;
}
