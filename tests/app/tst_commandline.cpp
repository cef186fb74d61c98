// The command line: what each form of it asks for, and what the real program answers without a
// display (exit codes, standard output and standard error).
#include "app/commandline.h"
#include "history/historystore.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs the real program with `arguments`, without a display, in the program folder `home`.
struct Run {
  int exitCode = -1;
  QString out;
  QString err;
};

Run RunProgram(const QStringList& arguments, const QString& home = QString()) {
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    environment.remove(QString::fromLatin1(name));
  if (!home.isEmpty()) {
    environment.insert(QStringLiteral("TARVIK_HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
  }
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(TARVIK_PROGRAM), arguments);
  Run run;
  if (!program.waitForFinished(30000) || program.exitStatus() != QProcess::NormalExit)
    return run;
  run.exitCode = program.exitCode();
  run.out = QString::fromLocal8Bit(program.readAllStandardOutput());
  run.err = QString::fromLocal8Bit(program.readAllStandardError());
  return run;
}

} // namespace

class CommandLineTest : public QObject {
  Q_OBJECT

private slots:
  void readsTheMode_data();
  void readsTheMode();
  void programAnswersWithoutDisplay_data();
  void programAnswersWithoutDisplay();
  void readsExportAndHeadlessOptions();
  void exportsWithoutDisplay();
};

void CommandLineTest::readsTheMode_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<int>("mode");

  using Mode = CommandLine::Mode;
  QTest::newRow("nothing") << QStringList{} << int(Mode::Window);
  QTest::newRow("help") << QStringList{"--help"} << int(Mode::Help);
  QTest::newRow("-h") << QStringList{"-h"} << int(Mode::Help);
  QTest::newRow("help-all") << QStringList{"--help-all"} << int(Mode::Help);
  QTest::newRow("version") << QStringList{"--version"} << int(Mode::Version);
  QTest::newRow("-v") << QStringList{"-v"} << int(Mode::Version);
  QTest::newRow("toolkit options pass") << QStringList{"-platform", "offscreen", "-reverse"} << int(Mode::Window);
  QTest::newRow("unknown long") << QStringList{"--frobnicate"} << int(Mode::Error);
  QTest::newRow("unknown short") << QStringList{"-x"} << int(Mode::Error);
  QTest::newRow("stray argument") << QStringList{"sites.txt"} << int(Mode::Error);
  QTest::newRow("toolkit option without value") << QStringList{"-platform"} << int(Mode::Error);

  QTest::newRow("export") << QStringList{"--export", "a.csv", "--last", "24h", "--url", "http://a"}
                          << int(Mode::Export);
  QTest::newRow("export without file") << QStringList{"--export"} << int(Mode::Error);
  QTest::newRow("export twice") << QStringList{"--export", "a.csv", "--export", "b.csv"} << int(Mode::Error);
  QTest::newRow("since and last") << QStringList{"--export", "a.csv", "--since", "2026-01-01", "--last", "1h"}
                                  << int(Mode::Error);
  // An empty time or span is no choice at all (it would export everything).
  QTest::newRow("since empty") << QStringList{"--export", "a.csv", "--since", ""} << int(Mode::Error);
  QTest::newRow("since blank") << QStringList{"--export", "a.csv", "--since", " "} << int(Mode::Error);
  QTest::newRow("last empty") << QStringList{"--export", "a.csv", "--last="} << int(Mode::Error);
  QTest::newRow("last without export") << QStringList{"--last", "24h"} << int(Mode::Error);
  QTest::newRow("incidents") << QStringList{"--export", "i.jsonl", "--incidents", "--last", "7d"} << int(Mode::Export);
  QTest::newRow("incidents without export") << QStringList{"--incidents"} << int(Mode::Error);
  QTest::newRow("incidents with headless") << QStringList{"--headless", "--incidents"} << int(Mode::Error);
  QTest::newRow("headless") << QStringList{"--headless"} << int(Mode::Headless);
  QTest::newRow("headless and export") << QStringList{"--headless", "--export", "a.csv"} << int(Mode::Error);
  QTest::newRow("delay without headless") << QStringList{"--delay", "5"} << int(Mode::Error);
  QTest::newRow("delay 0") << QStringList{"--headless", "--delay", "0"} << int(Mode::Error);
  QTest::newRow("delay not a number") << QStringList{"--headless", "--delay", "5s"} << int(Mode::Error);
  QTest::newRow("samplers too many") << QStringList{"--headless", "--samplers", "32769"} << int(Mode::Error);
  QTest::newRow("metrics without port") << QStringList{"--headless", "--metrics", "127.0.0.1"} << int(Mode::Error);
  QTest::newRow("metrics port too high") << QStringList{"--headless", "--metrics", "127.0.0.1:65536"}
                                         << int(Mode::Error);
  QTest::newRow("web-config") << QStringList{"--headless", "--metrics", "--web-config", "web.yml"}
                              << int(Mode::Headless);
  QTest::newRow("web-config without metrics")
      << QStringList{"--headless", "--web-config", "web.yml"} << int(Mode::Error);
  QTest::newRow("webhook without headless") << QStringList{"--webhook", "http://a/hook"} << int(Mode::Error);
  QTest::newRow("webhook not http") << QStringList{"--headless", "--webhook", "ftp://a/hook"} << int(Mode::Error);
  QTest::newRow("webhook without value") << QStringList{"--headless", "--webhook"} << int(Mode::Error);
}

void CommandLineTest::readsTheMode() {
  QFETCH(QStringList, arguments);
  QFETCH(int, mode);
  const CommandLine line = CommandLine::Parse(QStringList{QStringLiteral("tarvik")} + arguments);
  QCOMPARE(int(line.mode), mode);
  QCOMPARE(line.error.isEmpty(), line.mode != CommandLine::Mode::Error);
}

void CommandLineTest::readsExportAndHeadlessOptions() {
  const QString program = QStringLiteral("tarvik");
  CommandLine line = CommandLine::Parse(
      {program, "--export", "out.jsonl", "--since", "2026-12-01T08:00Z", "--url", "http://a", "--url", "http://b"});
  QCOMPARE(line.exportFile, QStringLiteral("out.jsonl"));
  QCOMPARE(line.since, QStringLiteral("2026-12-01T08:00Z"));
  QCOMPARE(line.urls, (QStringList{"http://a", "http://b"}));
  QVERIFY(!line.incidents);
  QVERIFY(CommandLine::Parse({program, "--export", "out.csv", "--incidents"}).incidents);

  line = CommandLine::Parse({program, "--headless", "--urls", "sites.txt", "--delay", "5", "--samplers", "3",
                             "--metrics", "[::1]:9100", "--webhook", "https://chat.example/hooks/T1"});
  QCOMPARE(int(line.mode), int(CommandLine::Mode::Headless));
  QCOMPARE(line.urlsFile, QStringLiteral("sites.txt"));
  QCOMPARE(line.delaySeconds, std::optional<int>(5));
  QCOMPARE(line.samplers, std::optional<int>(3));
  QCOMPARE(line.metricsHost, QStringLiteral("::1"));
  QCOMPARE(line.metricsPort, quint16(9100));
  QCOMPARE(line.webhookUrl, QStringLiteral("https://chat.example/hooks/T1"));

  // Without a value, and also followed by another option, --metrics means the default address.
  for (const QStringList& arguments :
       {QStringList{program, "--headless", "--metrics"}, QStringList{program, "--metrics", "--headless"}}) {
    line = CommandLine::Parse(arguments);
    QCOMPARE(int(line.mode), int(CommandLine::Mode::Headless));
    QCOMPARE(line.metricsHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(line.metricsPort, quint16(9464));
  }
  line = CommandLine::Parse({program, "--headless"});
  QVERIFY(line.metricsHost.isEmpty());
  QVERIFY(!line.delaySeconds && !line.samplers);
}

void CommandLineTest::exportsWithoutDisplay() {
  QTemporaryDir home;
  QVERIFY(home.isValid());
  const QString out = home.filePath(QStringLiteral("out.csv"));

  // No history yet: the history cannot be read.
  Run run = RunProgram({"--export", out}, home.path());
  QCOMPARE(run.exitCode, 3);
  QVERIFY2(run.err.count(QLatin1Char('\n')) == 1 && run.out.isEmpty(), qPrintable(run.err));
  QVERIFY(!QFile::exists(out));

  {
    HistoryStore store;
    QVERIFY(store.Open(home.filePath(QStringLiteral("history.sqlite"))));
    const qint64 runId = store.BeginRun(1, 60, 1, 20);
    HistoryIncident incident;
    incident.url = QStringLiteral("http://b.example");
    incident.started = QDateTime::currentDateTimeUtc();
    incident.cause = QStringLiteral("HTTP 404");
    store.BeginIncident(incident);
    for (int i = 0; i < 3; ++i) {
      HistorySample sample;
      sample.url = i == 1 ? QStringLiteral("http://b.example") : QStringLiteral("http://a.example");
      sample.runId = runId;
      sample.pingUs = 1000 * (i + 1);
      sample.result = QStringLiteral("ok, \"quoted\"");
      store.Append(sample);
    }
    store.Close();
  }

  run = RunProgram({"--export", out, "--url", "http://a.example"}, home.path());
  QCOMPARE(run.exitCode, 0);
  QVERIFY2(run.err.isEmpty() && run.out.count(QLatin1Char('\n')) == 1, qPrintable(run.out + run.err));
  QFile csv(out);
  QVERIFY(csv.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = csv.readAll().split('\n');
  csv.close();
  QCOMPARE(lines.size(), 4); // header, two samples, the empty rest after the last line end
  QVERIFY(lines.at(0).startsWith("id,at_utc,kind,url"));
  QVERIFY(lines.at(1).contains(",http://a.example,") && lines.at(1).contains("\"ok, \"\"quoted\"\"\""));

  // The incidents instead of the samples.
  run = RunProgram({"--export", out, "--incidents"}, home.path());
  QCOMPARE(run.exitCode, 0);
  QVERIFY2(run.out.startsWith(QStringLiteral("1 incidents written to")), qPrintable(run.out + run.err));
  QVERIFY(csv.open(QIODevice::ReadOnly));
  const QList<QByteArray> incidentLines = csv.readAll().split('\n');
  csv.close();
  QCOMPARE(incidentLines.size(), 3);
  QCOMPARE(incidentLines.at(0), QByteArray("id,url,kind,started_utc,ended_utc,cause\r"));
  QVERIFY(incidentLines.at(1).startsWith("1,http://b.example,down,") && incidentLines.at(1).endsWith(",,HTTP 404\r"));

  // A bad span and an unwritable file are told apart by their codes.
  QCOMPARE(RunProgram({"--export", out, "--last", "yesterday"}, home.path()).exitCode, 2);
  QCOMPARE(RunProgram({"--export", home.filePath(QStringLiteral("no/such/folder/out.csv"))}, home.path()).exitCode, 4);
  QCOMPARE(RunProgram({"--export", home.filePath(QStringLiteral("out.txt"))}, home.path()).exitCode, 2);
}

void CommandLineTest::programAnswersWithoutDisplay_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("out"); // a text standard output must hold ("" for none)
  QTest::addColumn<QString>("err"); // the one line standard error must start with ("" for none)

  QTest::newRow("version") << QStringList{"--version"} << 0 << QStringLiteral("Tarvik " TARVIK_VERSION_TEXT "\n")
                           << QString();
  QTest::newRow("help") << QStringList{"--help"} << 0 << QStringLiteral("--version") << QString();
  QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << QString()
                           << QStringLiteral("tarvik: Unknown option 'frobnicate'.");
  QTest::newRow("export since nothing") << QStringList{"--export", "out.csv", "--since", ""} << 2 << QString()
                                        << QStringLiteral("tarvik: --since needs a date or a date and time");
  // A web configuration that cannot be used is a bad argument too, told before anything starts.
  QTest::newRow("unreadable web configuration")
      << QStringList{"--headless", "--metrics", "127.0.0.1:0", "--web-config", "/nonexistent/web.yml"} << 2 << QString()
      << QStringLiteral("tarvik: --web-config /nonexistent/web.yml: cannot read it");
}

void CommandLineTest::programAnswersWithoutDisplay() {
  QFETCH(QStringList, arguments);
  QFETCH(int, exitCode);
  QFETCH(QString, out);
  QFETCH(QString, err);

  const Run run = RunProgram(arguments);
  QCOMPARE(run.exitCode, exitCode);
  if (out.isEmpty())
    QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
  else
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
  if (err.isEmpty()) {
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
  } else {
    QVERIFY2(run.err.startsWith(err), qPrintable(run.err));
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
  }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
