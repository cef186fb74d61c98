#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString ProgramFolder::Path() {
  const QString home = qEnvironmentVariable("TARVIK_HOME");
  if (!home.isEmpty())
    return QDir::cleanPath(QDir(home).absolutePath());

  const QString exeFolder = QCoreApplication::applicationDirPath();
  if (!exeFolder.isEmpty() && QFileInfo(exeFolder).isWritable())
    return QDir::cleanPath(exeFolder);

  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir().mkpath(data);
  return QDir::cleanPath(data);
}

QString ProgramFolder::File(const QString& name) {
  return Path() + QLatin1Char('/') + name;
}
