// The command line: what each form of it asks for, and what the real program answers without a
// display (exit codes, standard output and standard error).
#include "app/commandline.h"

#include <QProcess>
#include <QTest>

class CommandLineTest : public QObject {
  Q_OBJECT

private slots:
  void readsTheMode_data();
  void readsTheMode();
  void programAnswersWithoutDisplay_data();
  void programAnswersWithoutDisplay();
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
}

void CommandLineTest::readsTheMode() {
  QFETCH(QStringList, arguments);
  QFETCH(int, mode);
  const CommandLine line = CommandLine::Parse(QStringList{QStringLiteral("tarvik")} + arguments);
  QCOMPARE(int(line.mode), mode);
  QCOMPARE(line.error.isEmpty(), line.mode != CommandLine::Mode::Error);
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
}

void CommandLineTest::programAnswersWithoutDisplay() {
  QFETCH(QStringList, arguments);
  QFETCH(int, exitCode);
  QFETCH(QString, out);
  QFETCH(QString, err);

  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    environment.remove(QString::fromLatin1(name));
  program.setProcessEnvironment(environment);
  program.start(QStringLiteral(TARVIK_PROGRAM), arguments);
  QVERIFY(program.waitForFinished(30000));
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), exitCode);

  const QString stdOut = QString::fromLocal8Bit(program.readAllStandardOutput());
  const QString stdErr = QString::fromLocal8Bit(program.readAllStandardError());
  if (out.isEmpty())
    QVERIFY2(stdOut.isEmpty(), qPrintable(stdOut));
  else
    QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
  if (err.isEmpty()) {
    QVERIFY2(stdErr.isEmpty(), qPrintable(stdErr));
  } else {
    QVERIFY2(stdErr.startsWith(err), qPrintable(stdErr));
    QCOMPARE(stdErr.count(QLatin1Char('\n')), 1);
  }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
