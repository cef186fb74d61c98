#include "app/commandline.h"
#include "app/consoleplatform.h"
#include "app/headless.h"
#include "app/outputqueue.h"
#include "app/qtplatform.h"
#include "app/startup.h"
#include "app/stopsignals.h"
#include "core/module1.h"
#include "history/historyexport.h"
#include "history/historysettings.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

#include <unistd.h>

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
  // A reader that closed its end of standard output stops the printing (the write fails), never
  // the program.
  std::signal(SIGPIPE, SIG_IGN);
  // Neither stream is written on the event loop's thread: a reader that stops reading never holds
  // up the sampling, the metrics or the stop signals.
  OutputQueue errors(STDERR_FILENO, QStringLiteral("standard error"));
  OutputQueue output(STDOUT_FILENO, QStringLiteral("standard output"), OutputQueue::DefaultCapacity, &errors);
  const auto tell = [&errors](const QString& said) { errors.Post(said); };
  // On the way out what is queued gets a moment to be written, so that the program ends within
  // about a second whatever its readers do.
  const auto finish = [&] {
    output.Finish(800);
    errors.Finish(300);
  };

  QCoreApplication app(argc, argv);
  ConsoleMessageBoxes boxes(tell);
  ConsoleShell shell(tell);
  MessageBoxes::SetInstance(&boxes);
  Shell::SetInstance(&shell);

  // A web configuration that cannot be used is a bad argument, like a bad value on the command line.
  WebConfig access;
  QString error;
  if (!line.webConfigFile.isEmpty() && !WebConfig::Load(line.webConfigFile, &access, &error)) {
    tell(QStringLiteral("tarvik: ") + error);
    finish();
    return CommandLine::BadUsageExitCode;
  }

  Headless headless(
      line, [&output](const QString& sample) { output.Post(sample); }, tell);
  StopSignals stop;
  // SIGHUP rereads the site list and the configuration, as service managers expect of a daemon.
  QObject::connect(&stop, &StopSignals::Received, &headless, [&headless](int signal) {
    if (signal == SIGHUP)
      headless.Reload();
    else
      headless.Stop();
  });
  QObject::connect(
      &headless, &Headless::Ended, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

  headless.UseWebConfig(access);
  if (!headless.Start(&error)) {
    tell(QStringLiteral("tarvik: ") + error +
         (headless.BadArgument() ? QStringLiteral(" (see tarvik --help)") : QString()));
    finish();
    return headless.BadArgument() ? CommandLine::BadUsageExitCode : 1;
  }
  if (headless.MetricsPort() != 0) {
    const QString host = line.metricsHost.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + line.metricsHost + QLatin1Char(']')
                             : line.metricsHost;
    tell(QStringLiteral("tarvik: metrics on %1://%2:%3/metrics")
             .arg(headless.MetricsScheme(), host)
             .arg(headless.MetricsPort()));
    if (headless.MetricsExposed())
      tell(QStringLiteral("tarvik: warning: %1 is not a loopback address: other machines can reach the "
                          "metrics%2")
               .arg(line.metricsHost,
                    access.users.isEmpty() ? QStringLiteral(" without a password (see --web-config)") : QString()));
  }
  const int code = QCoreApplication::exec();
  headless.Stop();
  finish();
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
