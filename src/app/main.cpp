#include "app/commandline.h"
#include "app/qtplatform.h"
#include "app/startup.h"
#include "core/module1.h"

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
  case CommandLine::Mode::Window: break;
  }
  return RunWindow(argc, argv);
}
