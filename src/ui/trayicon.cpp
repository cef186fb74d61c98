#include "ui/trayicon.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

QColor ColourOf(TrayIcon::State state) {
  switch (state) {
  case TrayIcon::State::Up: return {0x2e, 0x9e, 0x44};
  case TrayIcon::State::Slow: return {0xe8, 0xa0, 0x10};
  case TrayIcon::State::Down: return {0xd7, 0x26, 0x2b};
  case TrayIcon::State::Unknown: break;
  }
  return {0x80, 0x80, 0x80};
}

QPixmap Draw(TrayIcon::State state, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QPainterPath square;
  square.addRoundedRect(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94), s * 0.18, s * 0.18);
  painter.fillPath(square, ColourOf(state));
  painter.setPen(QPen(ColourOf(state).darker(140), s * 0.04));
  painter.drawPath(square);
  // The program's ring, as in its icon.
  painter.setPen(QPen(QColor(0xf5, 0xc5, 0x18), s * 0.14));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QPointF(s / 2, s / 2), s * 0.24, s * 0.24);
  return pixmap;
}

} // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), icon(new QSystemTrayIcon(this)), menu(new QMenu) {
  menu->setObjectName(QStringLiteral("trayMenu"));
  QAction* show = menu->addAction(QStringLiteral("Show Tarvik"));
  show->setObjectName(QStringLiteral("trayShow"));
  QAction* sites = menu->addAction(QStringLiteral("Sites..."));
  sites->setObjectName(QStringLiteral("traySites"));
  testing = menu->addAction(QStringLiteral("Testing on"));
  testing->setObjectName(QStringLiteral("trayTesting"));
  testing->setCheckable(true);
  menu->addSeparator();
  QAction* quit = menu->addAction(QStringLiteral("Quit"));
  quit->setObjectName(QStringLiteral("trayQuit"));

  connect(show, &QAction::triggered, this, &TrayIcon::ShowWindowRequested);
  connect(sites, &QAction::triggered, this, &TrayIcon::SitesRequested);
  // The check mark follows the switch (SetTesting), not the click.
  connect(testing, &QAction::triggered, this, [this] {
    testing->setChecked(!testing->isChecked());
    emit SwitchRequested();
  });
  connect(quit, &QAction::triggered, this, &TrayIcon::QuitRequested);
  connect(icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
      emit ShowWindowRequested();
  });

  icon->setContextMenu(menu);
  icon->setIcon(Picture(state));
  icon->setToolTip(QStringLiteral("Tarvik"));
}

TrayIcon::~TrayIcon() {
  delete menu; // a menu without a parent widget
}

void TrayIcon::Show() {
  icon->show();
}

QIcon TrayIcon::Picture(State state) {
  QIcon picture;
  for (int size : {16, 22, 24, 32, 48, 64})
    picture.addPixmap(Draw(state, size));
  return picture;
}

TrayIcon::State TrayIcon::WorstOf(int up, int slow, int down) {
  if (down > 0)
    return State::Down;
  if (slow > 0)
    return State::Slow;
  return up > 0 ? State::Up : State::Unknown;
}

QString TrayIcon::ToolTip() const {
  return icon->toolTip();
}

void TrayIcon::StatesChanged(int up, int slow, int down) {
  const State worst = WorstOf(up, slow, down);
  if (worst != state) {
    state = worst;
    icon->setIcon(Picture(state));
  }
  icon->setToolTip(worst == State::Unknown ? QStringLiteral("Tarvik")
                                           : QStringLiteral("%1 up, %2 slow, %3 down").arg(up).arg(slow).arg(down));
}

void TrayIcon::SetTesting(bool on) {
  testing->setChecked(on);
}
