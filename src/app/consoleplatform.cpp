#include "app/consoleplatform.h"

#include <cstdio>

namespace {

void Tell(const ConsoleTell& tell, const QString& line) {
  if (tell)
    tell(line);
  else
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

} // namespace

MessageBoxes::Answer ConsoleMessageBoxes::Show(const QString& text, Buttons buttons, Icon, const QString&) {
  QString line = text;
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  Tell(tell, QStringLiteral("tarvik: ") + line);
  switch (buttons) {
  case YesNo: return No;
  case YesNoCancel: return Cancel;
  case OkOnly: break;
  }
  return Ok;
}

void ConsoleShell::Open(const QString& fileOrUrl) {
  Tell(tell, QStringLiteral("tarvik: not opened without a window: ") + fileOrUrl);
}
