#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The program's command line. Reading it needs no application object and no display, so that
// --help, --version, a bad option, an export and the headless mode work on a machine without one.
struct CommandLine {
  enum class Mode {
    Window,   // no option: the desktop program
    Help,     // --help: print HelpText() and exit 0
    Version,  // --version: print VersionText() and exit 0
    Export,   // --export FILE: write the history's samples to FILE and exit
    Headless, // --headless: the test cycle without a window
    Error,    // a bad command line: print `error` as one line on standard error and exit 2
  };
  static constexpr int BadUsageExitCode = 2;
  // What --metrics serves on when it is given without a value.
  static constexpr const char* DefaultMetricsAddress = "127.0.0.1:9464";

  Mode mode = Mode::Window;
  QString error;

  // --export FILE [--incidents] [--since TIME | --last SPAN] [--url ADDRESS]...
  QString exportFile;
  bool incidents = false; // the incidents instead of the samples
  QString since;
  QString last;
  QStringList urls;

  // --headless [--urls FILE] [--delay S] [--samplers N] [--metrics [ADDRESS:PORT] [--web-config FILE]]
  // [--webhook URL]
  QString urlsFile;                // empty: the program folder's urls.dat
  std::optional<int> delaySeconds; // 1 or more
  std::optional<int> samplers;     // 1 to 32768
  QString metricsHost;             // empty: no metrics
  quint16 metricsPort = 0;
  QString webConfigFile; // --web-config FILE: TLS and users of the metrics server; empty: none
  QString webhookUrl;    // --webhook URL: incidents posted there; empty: the stored Alerts/WebhookUrl

  // Reads the arguments (the program name first, as in argv).
  static CommandLine Parse(const QStringList& arguments);
  // The option list; needs an application object (it names the program from its arguments).
  static QString HelpText();
  static QString VersionText();
};
