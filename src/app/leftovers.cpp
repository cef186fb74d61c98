#include "app/leftovers.h"

#include "platform/programfolder.h"
#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Removes the temporary siblings of the named files of one folder.
void RemoveSiblings(const QString& folder, const QStringList& names, QStringList* removed) {
  QStringList escaped;
  for (const QString& name : names)
    escaped << QRegularExpression::escape(name);
  const QRegularExpression temporary(QStringLiteral("^(%1)\\.[A-Za-z]{6}$").arg(escaped.join(QLatin1Char('|'))));
  // Regular files only: no folders, no links.
  const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
  for (const QFileInfo& entry : entries) {
    if (temporary.match(entry.fileName()).hasMatch() && QFile::remove(entry.filePath()))
      removed->append(entry.filePath());
  }
}

} // namespace

QStringList Leftovers::Remove() {
  QStringList removed;
  RemoveSiblings(
      ProgramFolder::Path(),
      {QStringLiteral("urls.dat"), QStringLiteral("sublog.log"), QStringLiteral("tmp.tmp"), QStringLiteral("vok.txt")},
      &removed);
  const QFileInfo settings(SettingsStore::FileName());
  RemoveSiblings(settings.path(), {settings.fileName()}, &removed);
  return removed;
}
