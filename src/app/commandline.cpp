#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

struct Options {
  QCommandLineParser parser;
  QCommandLineOption help = parser.addHelpOption();
  QCommandLineOption version = parser.addVersionOption();

  Options() {
    parser.setApplicationDescription(
        QStringLiteral("Watches how quickly a list of web sites answer. Without options it opens its window."));
    // The window toolkit's own options ("-platform offscreen", "-style Fusion", ...) pass through
    // to it untouched.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "style", "stylesheet", "display", "geometry",
          "qwindowgeometry", "title", "qwindowtitle", "name", "session", "qwindowicon", "icon", "fontengine"}) {
      QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
      option.setFlags(QCommandLineOption::HiddenFromHelp);
      parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
      QCommandLineOption option(QString::fromLatin1(name));
      option.setFlags(QCommandLineOption::HiddenFromHelp);
      parser.addOption(option);
    }
  }
};

} // namespace

CommandLine CommandLine::Parse(const QStringList& arguments) {
  Options options;
  CommandLine line;
  if (!options.parser.parse(arguments)) {
    line.mode = Mode::Error;
    line.error = options.parser.errorText();
  } else if (!options.parser.positionalArguments().isEmpty()) {
    line.mode = Mode::Error;
    line.error = QStringLiteral("Unexpected argument '%1'.").arg(options.parser.positionalArguments().constFirst());
  } else if (options.parser.isSet(options.help) || options.parser.isSet(QStringLiteral("help-all"))) {
    line.mode = Mode::Help;
  } else if (options.parser.isSet(options.version)) {
    line.mode = Mode::Version;
  }
  return line;
}

QString CommandLine::HelpText() {
  return Options().parser.helpText();
}

QString CommandLine::VersionText() {
  return QStringLiteral("Tarvik ") + QStringLiteral(TARVIK_VERSION_TEXT);
}
