#include "ui/windowalerts.h"

#include "alerts/alertchannels.h"
#include "alerts/desktopnotifier.h"
#include "alerts/webhooksender.h"
#include "core/menuitem.h"
#include "core/statuspanels.h"
#include "engine/testcycle.h"
#include "settings/settingsstore.h"
#include "ui/form1.h"
#include "ui/statusbar.h"
#include "ui/trayicon.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QSystemTrayIcon>

namespace {

const QString CloseToTrayKey = QStringLiteral("Window/CloseToTray");

} // namespace

WindowAlerts::Options WindowAlerts::StoredOptions() {
  Options stored;
  stored.notify = AlertChannels::Notify();
  stored.webhookUrl = AlertChannels::WebhookUrl();
  stored.closeToTray = CloseToTray();
  stored.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  return stored;
}

bool WindowAlerts::CloseToTray() {
  const QString text = SettingsStore::GetRegString(CloseToTrayKey).trimmed();
  return text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 || text == QStringLiteral("1");
}

void WindowAlerts::SetCloseToTray(bool on) {
  SettingsStore::SaveRegString(CloseToTrayKey, on ? QStringLiteral("true") : QStringLiteral("false"));
}

WindowAlerts::WindowAlerts(Form1& form, const Options& options, QObject* parent)
    : QObject(parent), form(form), options(options) {
  if (options.notify)
    notifier = new DesktopNotifier(this);
  if (!options.webhookUrl.isEmpty()) {
    webhook = new WebhookSender(options.webhookUrl, this);
    // A post given up says so where the window's messages go.
    connect(webhook, &WebhookSender::Failed, this, [this](const QString& line) {
      if (auto* bar = qobject_cast<StatusBar*>(this->form.Control(QStringLiteral("StatusBar2"))))
        bar->Panels()->SetText(1, line);
    });
  }
  if (options.trayAvailable) {
    tray = new TrayIcon(this);
    connect(tray, &TrayIcon::ShowWindowRequested, this, &WindowAlerts::ShowWindow);
    connect(tray, &TrayIcon::SitesRequested, &form, &Form1::OpenSites);
    // As a click on the switch: it starts or stops testing, and cancels an fc test as a click does.
    connect(tray, &TrayIcon::SwitchRequested, this, [this] {
      if (auto* button = qobject_cast<QAbstractButton*>(this->form.Control(QStringLiteral("Check1"))))
        button->click();
    });
    connect(tray, &TrayIcon::QuitRequested, this, [this] { this->form.Label2_Click(MenuItem::Quit); });
    connect(&form.Cycle(), &TestCycle::TestingChanged, tray, &TrayIcon::SetTesting);
    tray->SetTesting(form.Cycle().Testing());
    tray->Show();
  }
  form.installEventFilter(this);
}

WindowAlerts::~WindowAlerts() = default;

void WindowAlerts::UseNotifier(DesktopNotifier* replacement) {
  if (notifier != replacement)
    delete notifier;
  notifier = replacement;
  if (notifier)
    notifier->setParent(this);
}

void WindowAlerts::Event(const AlertEvent& event) {
  if (notifier)
    notifier->Notify(event);
  if (webhook)
    webhook->Send(event);
}

void WindowAlerts::StatesChanged(int up, int slow, int down) {
  if (tray)
    tray->StatesChanged(up, slow, down);
}

void WindowAlerts::ShowWindow() {
  form.showNormal();
  form.raise();
  form.activateWindow();
}

bool WindowAlerts::eventFilter(QObject* watched, QEvent* event) {
  // Closing the window while testing hides it into the tray; when the program ends (Quit, or a close
  // while not testing) testing is off and the window closes as ever.
  if (watched == &form && event->type() == QEvent::Close && tray && options.closeToTray &&
      form.Cycle().SwitchPressed()) {
    event->ignore();
    // With the window hidden, closing another window (a message box, the Sites window) must not
    // end the program as closing its last window would: it ends through Quit, which says so.
    QApplication::setQuitOnLastWindowClosed(false);
    form.hide();
    if (!toldAboutTheTray) {
      toldAboutTheTray = true;
      tray->Icon()->showMessage(QStringLiteral("Tarvik"),
                                QStringLiteral("Testing goes on. The icon's menu shows the window or quits."));
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}
