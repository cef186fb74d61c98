#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's system tray while the window runs: its colour tells the
// worst state of the sites (green all up, amber one slow, red one down, grey before any is known),
// its tooltip the counts ("3 up, 1 slow, 1 down"). Its menu: "Show Tarvik", "Sites...",
// "Testing on" (checked while testing), "Quit"; a click on the icon shows the window. The icon
// only asks; the window's own handlers act (see TrayHost).
class TrayIcon : public QObject {
  Q_OBJECT
public:
  enum class State { Unknown, Up, Slow, Down };

  explicit TrayIcon(QObject* parent = nullptr);
  ~TrayIcon() override;

  // Puts the icon into the tray (when the desktop has one).
  void Show();

  // The picture of a state: the program's ring on the state's colour.
  static QIcon Picture(State state);
  // The worst state of the counts; Unknown when all are 0.
  static State WorstOf(int up, int slow, int down);

  State Shown() const { return state; }
  QString ToolTip() const;
  QMenu* Menu() const { return menu; }
  QSystemTrayIcon* Icon() const { return icon; }

public slots:
  void StatesChanged(int up, int slow, int down);
  void SetTesting(bool on);

signals:
  void ShowWindowRequested();
  void SitesRequested();
  // The user picked "Testing on": the switch is to be pressed as by a click.
  void SwitchRequested();
  void QuitRequested();

private:
  QSystemTrayIcon* icon = nullptr;
  QMenu* menu = nullptr;
  QAction* testing = nullptr;
  State state = State::Unknown;
};
