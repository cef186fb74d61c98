#include "ui/form2.h"

#include "core/module1.h"
#include "ui/controlmap.h"

#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

Form2::Form2(const QString& vendorAddress, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  Q_INIT_RESOURCE(resources);
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(Module1::AppTitle);
  setFixedSize(4680 / ControlMap::TwipsPerPixel, 3090 / ControlMap::TwipsPerPixel);

  auto* background = new QLabel(this);
  background->setPixmap(QPixmap(QStringLiteral(":/pictures/splash.png")));
  background->setGeometry(rect());

  auto* layout = new QVBoxLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(QPixmap(QStringLiteral(":/pictures/icon.png")));
  icon->setAlignment(Qt::AlignCenter);
  auto* title = new QLabel(Module1::AppTitle, this);
  title->setAlignment(Qt::AlignCenter);
  title->setStyleSheet(QStringLiteral("color: white; font-size: 28pt; font-weight: bold;"));
  auto* version = new QLabel(QStringLiteral("VER 1.1"), this);
  version->setObjectName(QStringLiteral("Version"));
  version->setAlignment(Qt::AlignCenter);
  version->setStyleSheet(QStringLiteral("color: white;"));
  auto* address = new QLabel(vendorAddress, this);
  address->setObjectName(QStringLiteral("VendorAddress"));
  address->setAlignment(Qt::AlignCenter);
  address->setStyleSheet(QStringLiteral("color: white;"));
  layout->addWidget(icon);
  layout->addWidget(title);
  layout->addWidget(version);
  layout->addWidget(address);

  if (QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(3500);
  Timer1->setSingleShot(true);
  Timer1->setTimerType(Qt::PreciseTimer); // never before the splash time is over
  connect(Timer1, &QTimer::timeout, this, &Form2::Timer1_Timer);
  Timer1->start();
}
