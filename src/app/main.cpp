#include "ui/qtplatform.h"
#include "ui/startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tarvik"));
  QApplication::setOrganizationName(QStringLiteral("Velmora"));
  QApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION_TEXT));

  QtMessageBoxes boxes;
  QtShell shell;
  MessageBoxes::SetInstance(&boxes);
  Shell::SetInstance(&shell);

  Startup::Main();
  const int code = QApplication::exec();
  Startup::Shutdown();
  return code;
}
