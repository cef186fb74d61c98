#pragma once

#include "alerts/alertevent.h"

#include <QObject>
#include <QString>

class DesktopNotifier;
class Form1;
class TrayIcon;
class WebhookSender;

// What the window tells beyond itself, beside the main window and without a handler of its own
// there: the tray icon with its menu, the desktop notifications and the webhook. The incident
// tracker feeds it (Event, StatesChanged); it acts through the window's own handlers: the menu
// panel's Quit, the switch's click, "Sites...".
//
// With Window/CloseToTray on and a system tray present, closing the window while testing hides it
// into the tray; otherwise closing ends the program as before. Without a system tray nothing of the
// window changes.
class WindowAlerts : public QObject {
  Q_OBJECT
public:
  struct Options {
    bool notify = true; // desktop notifications (Alerts/Notify)
    QString webhookUrl; // empty: no webhook (Alerts/WebhookUrl)
    bool closeToTray = false;
    bool trayAvailable = false;
  };
  // The options as stored, and whether the desktop has a system tray.
  static Options StoredOptions();

  // "Window/CloseToTray": "true" or "false" ("0" counts as false); default false.
  static bool CloseToTray();
  static void SetCloseToTray(bool on);

  WindowAlerts(Form1& form, const Options& options, QObject* parent = nullptr);
  ~WindowAlerts() override;

  TrayIcon* Tray() const { return tray; }
  DesktopNotifier* Notifier() const { return notifier; }
  WebhookSender* Webhook() const { return webhook; }
  // Gives the notifications to `replacement` instead (tests hand one on a private bus); null: none.
  void UseNotifier(DesktopNotifier* replacement);

public slots:
  // An incident began or ended: a notification and a webhook post.
  void Event(const AlertEvent& event);
  // The sites' counts by state: the tray's colour and tooltip.
  void StatesChanged(int up, int slow, int down);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void ShowWindow();

  Form1& form;
  Options options;
  TrayIcon* tray = nullptr;
  DesktopNotifier* notifier = nullptr;
  WebhookSender* webhook = nullptr;
  bool toldAboutTheTray = false;
};
