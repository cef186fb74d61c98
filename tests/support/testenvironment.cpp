#include "testenvironment.h"

#include <QDir>
#include <QFile>

namespace {
TestEnvironment* current = nullptr;
}

TestEnvironment::TestEnvironment() {
  QDir(dir.path()).mkpath(QStringLiteral("config"));
  QDir(dir.path()).mkpath(QStringLiteral("home"));
  qputenv("XDG_CONFIG_HOME", ConfigHome().toUtf8());
  qputenv("TARVIK_HOME", ProgramFolder().toUtf8());
  current = this;
}

QString TestEnvironment::ConfigHome() const {
  return dir.path() + QStringLiteral("/config");
}

QString TestEnvironment::ProgramFolder() const {
  return dir.path() + QStringLiteral("/home");
}

QString TestEnvironment::SettingsFile() const {
  return ConfigHome() + QStringLiteral("/Velmora/vmTARVIK.conf");
}

void TestEnvironment::Clear() const {
  QDir home(ProgramFolder());
  for (const QString& name : home.entryList(QDir::Files | QDir::Hidden))
    home.remove(name);
  QFile::remove(SettingsFile());
}

TestEnvironment* TestEnvironment::Current() {
  return current;
}
