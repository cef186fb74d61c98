#include "app/commandline.h"

#include "platform/httpclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

QString Text(const char* text) {
  return QString::fromLatin1(text);
}

struct Options {
  QCommandLineParser parser;
  QCommandLineOption help = parser.addHelpOption();
  QCommandLineOption version = parser.addVersionOption();
  QCommandLineOption exportTo{Text("export"),
                              Text("Write the stored samples to FILE (CSV when it ends in .csv, JSON Lines when it "
                                   "ends in .jsonl) and exit."),
                              Text("FILE")};
  QCommandLineOption since{Text("since"), Text("With --export: only samples taken at or after TIME (ISO 8601)."),
                           Text("TIME")};
  QCommandLineOption last{Text("last"), Text("With --export: only samples of the last SPAN (30m, 24h, 7d, ...)."),
                          Text("SPAN")};
  QCommandLineOption url{Text("url"), Text("With --export: only samples of this address; may be repeated."),
                         Text("ADDRESS")};
  QCommandLineOption incidents{Text("incidents"),
                               Text("With --export: write the incidents (a site down, slow, or its certificate "
                                    "ending soon) instead of the samples; --since, --last and --url choose those "
                                    "that overlap.")};
  QCommandLineOption headless{Text("headless"),
                              Text("Run the test cycle without a window, with the stored configuration; one line "
                                   "per sample on standard output. SIGTERM or SIGINT ends it; SIGHUP rereads the "
                                   "site list and the configuration.")};
  QCommandLineOption urlsFile{Text("urls"),
                              Text("With --headless: the site list (one address a line) instead "
                                   "of urls.dat."),
                              Text("FILE")};
  QCommandLineOption delay{Text("delay"),
                           Text("With --headless: seconds between passes instead of the stored "
                                "delay."),
                           Text("S")};
  QCommandLineOption samplers{
      Text("samplers"),
      Text("With --headless: the number of sampler clients, as the window's Samplers box; at most one per address."),
      Text("N")};
  QCommandLineOption metrics{Text("metrics"),
                             Text("With --headless: serve Prometheus metrics on http://ADDRESS:PORT/metrics "
                                  "(127.0.0.1:9464 when no value follows)."),
                             Text("ADDRESS:PORT")};
  QCommandLineOption webConfig{Text("web-config"),
                               Text("With --metrics: serve them over TLS and/or ask for a name and password, as "
                                    "FILE says (the Prometheus exporters' web configuration: tls_server_config "
                                    "with cert_file and key_file, basic_auth_users with bcrypt hashes)."),
                               Text("FILE")};
  QCommandLineOption webhook{Text("webhook"),
                             Text("With --headless: post every incident's start and end as JSON to URL (instead of "
                                  "the stored Alerts/WebhookUrl)."),
                             Text("URL")};

  Options() {
    parser.setApplicationDescription(
        Text("Watches how quickly a list of web sites answer. Without options it opens its window."));
    parser.addOptions(
        {exportTo, incidents, since, last, url, headless, urlsFile, delay, samplers, metrics, webConfig, webhook});
    // The window toolkit's own options ("-platform offscreen", "-style Fusion", ...) pass through
    // to it untouched.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "style", "stylesheet", "display", "geometry",
          "qwindowgeometry", "title", "qwindowtitle", "name", "session", "qwindowicon", "icon", "fontengine"}) {
      QCommandLineOption option(Text(name), QString(), Text("value"));
      option.setFlags(QCommandLineOption::HiddenFromHelp);
      parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
      QCommandLineOption option(Text(name));
      option.setFlags(QCommandLineOption::HiddenFromHelp);
      parser.addOption(option);
    }
  }
};

// "--metrics" alone (at the end, or before another option) means the default address: the parser
// itself has no options with an optional value.
QStringList WithMetricsDefault(QStringList arguments) {
  for (int i = 1; i < arguments.size(); ++i) {
    if (arguments.at(i) != QLatin1String("--metrics") && arguments.at(i) != QLatin1String("-metrics"))
      continue;
    if (i + 1 == arguments.size() || arguments.at(i + 1).startsWith(QLatin1Char('-')))
      arguments[i] = QStringLiteral("--metrics=") + QLatin1String(CommandLine::DefaultMetricsAddress);
  }
  return arguments;
}

std::optional<int> WholeNumber(const QString& text, int lowest, int highest) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < lowest || value > highest)
    return std::nullopt;
  return value;
}

// ADDRESS:PORT, with an IPv6 address in brackets ("[::1]:9464"). False when it is not of that form.
bool SplitAddress(const QString& text, QString* host, quint16* port) {
  const int colon = text.lastIndexOf(QLatin1Char(':'));
  if (colon <= 0)
    return false;
  QString name = text.left(colon);
  if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
    name = name.mid(1, name.size() - 2);
  if (name.isEmpty() || name.contains(QLatin1Char('[')) || name.contains(QLatin1Char(']')))
    return false;
  // Port 0 asks for any free port (the program says which one it got).
  const std::optional<int> number = WholeNumber(text.mid(colon + 1), 0, 65535);
  if (!number)
    return false;
  *host = name;
  *port = quint16(*number);
  return true;
}

CommandLine Failed(const QString& error) {
  CommandLine line;
  line.mode = CommandLine::Mode::Error;
  line.error = error;
  return line;
}

} // namespace

CommandLine CommandLine::Parse(const QStringList& arguments) {
  Options options;
  QCommandLineParser& parser = options.parser;
  if (!parser.parse(WithMetricsDefault(arguments)))
    return Failed(parser.errorText());
  if (!parser.positionalArguments().isEmpty())
    return Failed(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));

  CommandLine line;
  if (parser.isSet(options.help) || parser.isSet(Text("help-all"))) {
    line.mode = Mode::Help;
    return line;
  }
  if (parser.isSet(options.version)) {
    line.mode = Mode::Version;
    return line;
  }

  const bool exporting = parser.isSet(options.exportTo);
  const bool headless = parser.isSet(options.headless);
  if (exporting && headless)
    return Failed(QStringLiteral("--export and --headless cannot be used together."));
  for (const QCommandLineOption* option : {&options.incidents, &options.since, &options.last, &options.url})
    if (parser.isSet(*option) && !exporting)
      return Failed(QStringLiteral("--%1 needs --export.").arg(option->names().constFirst()));
  for (const QCommandLineOption* option :
       {&options.urlsFile, &options.delay, &options.samplers, &options.metrics, &options.webConfig, &options.webhook})
    if (parser.isSet(*option) && !headless)
      return Failed(QStringLiteral("--%1 needs --headless.").arg(option->names().constFirst()));
  for (const QCommandLineOption* option :
       {&options.exportTo, &options.since, &options.last, &options.urlsFile, &options.delay, &options.samplers,
        &options.metrics, &options.webConfig, &options.webhook})
    if (parser.values(*option).size() > 1)
      return Failed(QStringLiteral("--%1 was given more than once.").arg(option->names().constFirst()));

  if (exporting) {
    line.mode = Mode::Export;
    line.exportFile = parser.value(options.exportTo);
    line.since = parser.value(options.since);
    line.last = parser.value(options.last);
    line.urls = parser.values(options.url);
    line.incidents = parser.isSet(options.incidents);
    if (line.exportFile.isEmpty())
      return Failed(QStringLiteral("--export needs a file name."));
    if (parser.isSet(options.since) && parser.isSet(options.last))
      return Failed(QStringLiteral("--since and --last cannot be used together."));
    // An empty time or span would silently mean "everything".
    if (parser.isSet(options.since) && line.since.trimmed().isEmpty())
      return Failed(QStringLiteral("--since needs a date or a date and time (ISO 8601)."));
    if (parser.isSet(options.last) && line.last.trimmed().isEmpty())
      return Failed(QStringLiteral("--last needs a span such as 30m, 24h or 7d."));
  } else if (headless) {
    line.mode = Mode::Headless;
    line.urlsFile = parser.value(options.urlsFile);
    if (parser.isSet(options.urlsFile) && line.urlsFile.isEmpty())
      return Failed(QStringLiteral("--urls needs a file name."));
    if (parser.isSet(options.delay)) {
      line.delaySeconds = WholeNumber(parser.value(options.delay), 1, 86400);
      if (!line.delaySeconds)
        return Failed(QStringLiteral("--delay needs a whole number of seconds from 1 to 86400."));
    }
    if (parser.isSet(options.samplers)) {
      line.samplers = WholeNumber(parser.value(options.samplers), 1, 32768);
      if (!line.samplers)
        return Failed(QStringLiteral("--samplers needs a whole number from 1 to 32768."));
    }
    if (parser.isSet(options.metrics) &&
        !SplitAddress(parser.value(options.metrics), &line.metricsHost, &line.metricsPort))
      return Failed(QStringLiteral("--metrics needs ADDRESS:PORT, such as 127.0.0.1:9464 or [::1]:9464."));
    line.webConfigFile = parser.value(options.webConfig);
    if (parser.isSet(options.webConfig) && !parser.isSet(options.metrics))
      return Failed(QStringLiteral("--web-config needs --metrics."));
    if (parser.isSet(options.webConfig) && line.webConfigFile.isEmpty())
      return Failed(QStringLiteral("--web-config needs a file name."));
    line.webhookUrl = parser.value(options.webhook);
    if (parser.isSet(options.webhook) && !HttpClient::IsFetchable(line.webhookUrl))
      return Failed(QStringLiteral("--webhook needs an http or https address."));
  }
  return line;
}

QString CommandLine::HelpText() {
  return Options().parser.helpText();
}

QString CommandLine::VersionText() {
  return QStringLiteral("Tarvik ") + QStringLiteral(TARVIK_VERSION_TEXT);
}
