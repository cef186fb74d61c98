#pragma once

#include "core/module1.h"
#include "history/historystore.h"

#include <QPointer>

class Form1;
class Form2;
class IncidentTracker;
class WindowAlerts;

// Start-up of the windowed program. It holds the program-wide state and the two windows for the
// whole run: Main records the program folder, shows the splash window, writes the first-start
// defaults or loads the stored settings into the main window, and shows the main window when the
// splash time is over. It keeps the history file open for the main window's runs when history is
// on. Destroying it destroys both windows, then closes the history.
class Startup {
public:
  Startup();
  ~Startup();
  Startup(const Startup&) = delete;
  Startup& operator=(const Startup&) = delete;

  // Runs the start-up; the windows live until the Startup object goes.
  void Main();

  // The steps of every start, with a window or without: the program-wide state's settings, the
  // removal of what a killed run left half-written, the program folder recorded in the settings.
  static void Prepare(Module1& state);
  // Opens the history file into `store` when history is on. A file that cannot be kept is told
  // through HistoryStore::Failed(); the program goes on without it.
  static void OpenHistory(HistoryStore& store);

  Form1* MainWindow();                // created on first use
  Form2* SplashWindow() const;        // null before Main
  WindowAlerts* Alerts() const;       // the tray, notifications and webhook of the main window
  IncidentTracker* Incidents() const; // the incidents of the main window's runs
  Module1& State() { return state; }

private:
  Module1 state;
  HistoryStore history;
  QPointer<Form1> form1;
  QPointer<Form2> form2;
  QPointer<WindowAlerts> alerts;
  QPointer<IncidentTracker> incidents;
};
