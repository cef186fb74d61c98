#pragma once

#include <QString>
#include <QTemporaryDir>

// Points the settings store (XDG_CONFIG_HOME) and the program folder (TARVIK_HOME) at fresh
// temporary folders. Create it before anything reads the settings: TARVIK_TEST_MAIN does so before
// the application object exists.
class TestEnvironment {
public:
  TestEnvironment();

  QString ConfigHome() const;
  QString ProgramFolder() const;
  // The settings file that the store writes.
  QString SettingsFile() const;
  // Removes every file of the program folder and the settings file.
  void Clear() const;

  static TestEnvironment* Current();

private:
  QTemporaryDir dir;
};

// A test main that sets up the temporary environment first and names the application as the
// program does (message boxes take the name as their title). App is QApplication or QCoreApplication.
#define TARVIK_TEST_MAIN(App, TestObject)                           \
  int main(int argc, char** argv) {                                 \
    TestEnvironment environment;                                    \
    QCoreApplication::setApplicationName(QStringLiteral("Tarvik")); \
    App app(argc, argv);                                            \
    TestObject test;                                                \
    return QTest::qExec(&test, argc, argv);                         \
  }
