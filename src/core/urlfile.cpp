#include "core/urlfile.h"

#include "platform/programfolder.h"
#include "platform/textfile.h"

namespace {
QString Path() {
  return ProgramFolder::File(QStringLiteral("urls.dat"));
}
} // namespace

QStringList UrlFile::Load() {
  QStringList entries;
  if (!TextFile::ReadLines(Path(), &entries))
    return {};
  return entries;
}

bool UrlFile::Append(const QString& entry) {
  return TextFile::AppendLines(Path(), {entry});
}

bool UrlFile::Rewrite(const QStringList& entries) {
  return TextFile::WriteLines(Path(), entries);
}
