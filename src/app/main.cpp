#include "app/commandline.h"
#include "app/consoleplatform.h"
#include "app/headless.h"
#include "app/qtplatform.h"
#include "app/startup.h"
#include "app/stopsignals.h"
#include "core/module1.h"
#include "history/historyexport.h"
#include "history/historysettings.h"

#include <QApplication>

#include <cstdio>

namespace {

QStringList Arguments(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

void Print(FILE* stream, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stream);
  if (!text.endsWith(QLatin1Char('\n')))
    std::fputc('\n', stream);
}

int RunWindow(int argc, char* argv[]) {
  // Names the desktop entry, so that a Wayland desktop matches the window to its menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("example.velmora.Tarvik"));
  QApplication app(argc, argv);
  QtMessageBoxes boxes;
  QtShell shell;
  MessageBoxes::SetInstance(&boxes);
  Shell::SetInstance(&shell);

  Startup startup;
  startup.Main();
  return QApplication::exec();
}

int RunExport(int argc, char* argv[], const CommandLine& line) {
  const QCoreApplication app(argc, argv);
  QString said;
  const int code = HistoryExport::Run(HistorySettings::File(), line.exportFile, line.since, line.last, line.urls, &said,
                                      QDateTime::currentDateTimeUtc(),
                                      line.incidents ? HistoryExport::Table::Incidents : HistoryExport::Table::Samples);
  Print(code == HistoryExport::Written ? stdout : stderr, said);
  return code;
}

// The test cycle without a window until SIGTERM or SIGINT (or the run's own Stop option).
int RunHeadless(int argc, char* argv[], const CommandLine& line) {
  QCoreApplication app(argc, argv);
  ConsoleMessageBoxes boxes;
  ConsoleShell shell;
  MessageBoxes::SetInstance(&boxes);
  Shell::SetInstance(&shell);

  Headless headless(line, [](const QString& sample) {
    Print(stdout, sample);
    std::fflush(stdout);
  });
  StopSignals stop;
  QObject::connect(&stop, &StopSignals::Received, &headless, &Headless::Stop);
  QObject::connect(
      &headless, &Headless::Ended, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

  QString error;
  if (!headless.Start(&error)) {
    Print(stderr, QStringLiteral("tarvik: ") + error);
    return 1;
  }
  if (headless.MetricsPort() != 0)
    Print(stderr,
          QStringLiteral("tarvik: metrics on http://%1:%2/metrics")
              .arg(line.metricsHost.contains(QLatin1Char(':')) ? QLatin1Char('[') + line.metricsHost + QLatin1Char(']')
                                                               : line.metricsHost)
              .arg(headless.MetricsPort()));
  const int code = QCoreApplication::exec();
  headless.Stop();
  return code;
}

} // namespace

int main(int argc, char* argv[]) {
  // The application title: message boxes take it as their default title.
  QCoreApplication::setApplicationName(Module1::AppTitle);
  QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION_TEXT));

  const CommandLine line = CommandLine::Parse(Arguments(argc, argv));
  switch (line.mode) {
  case CommandLine::Mode::Error:
    Print(stderr, QStringLiteral("tarvik: ") + line.error + QStringLiteral(" (see tarvik --help)"));
    return CommandLine::BadUsageExitCode;
  case CommandLine::Mode::Help: {
    const QCoreApplication app(argc, argv);
    Print(stdout, CommandLine::HelpText());
    return 0;
  }
  case CommandLine::Mode::Version: Print(stdout, CommandLine::VersionText()); return 0;
  case CommandLine::Mode::Export: return RunExport(argc, argv, line);
  case CommandLine::Mode::Headless: return RunHeadless(argc, argv, line);
  case CommandLine::Mode::Window: break;
  }
  return RunWindow(argc, argv);
}
