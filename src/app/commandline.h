#pragma once

#include <QString>
#include <QStringList>

// The program's command line. Reading it needs no application object and no display, so that
// --help, --version and a bad option answer on a machine without one.
struct CommandLine {
  enum class Mode {
    Window,  // no option: the desktop program
    Help,    // --help: print HelpText() and exit 0
    Version, // --version: print VersionText() and exit 0
    Error,   // a bad command line: print `error` as one line on standard error and exit 2
  };
  static constexpr int BadUsageExitCode = 2;

  Mode mode = Mode::Window;
  QString error;

  // Reads the arguments (the program name first, as in argv).
  static CommandLine Parse(const QStringList& arguments);
  // The option list; needs an application object (it names the program from its arguments).
  static QString HelpText();
  static QString VersionText();
};
