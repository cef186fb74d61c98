#include "app/consoleplatform.h"

#include <cstdio>

MessageBoxes::Answer ConsoleMessageBoxes::Show(const QString& text, Buttons buttons, Icon, const QString&) {
  QString line = text;
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  std::fprintf(stderr, "tarvik: %s\n", line.toLocal8Bit().constData());
  switch (buttons) {
  case YesNo: return No;
  case YesNoCancel: return Cancel;
  case OkOnly: break;
  }
  return Ok;
}

void ConsoleShell::Open(const QString& fileOrUrl) {
  std::fprintf(stderr, "tarvik: not opened without a window: %s\n", fileOrUrl.toLocal8Bit().constData());
}
