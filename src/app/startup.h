#pragma once

class Form1;
class Form2;

// Start-up of the windowed program: records the program folder, shows the splash window, writes the
// first-start defaults or loads the stored settings into the main window, and shows the main window
// when the splash time is over.
class Startup {
public:
  // Runs the start-up; the windows live until the program ends.
  static void Main();

  static Form1* MainWindow();   // created on first use
  static Form2* SplashWindow(); // null before Main
  static void Shutdown();       // destroys both windows (tests)
};
