// The child program of the crash-safety test: in the program folder and settings store that its
// environment names (TARVIK_HOME, XDG_CONFIG_HOME), it rewrites the URL list, updates the transfer
// sub-log, saves two long settings values and appends a report-log block, over and over, through
// the program's own writers, until it is killed. Its first argument is the round number that names
// its report-log blocks; with a second argument "log" it only appends to the report log.
#include "core/urlfile.h"
#include "crashwriter/crashcontent.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"
#include "results/transferlog.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>

#include <unistd.h>

namespace {

// Unbuffered, so that the mark is out before the operation starts.
void Mark(char mark) {
  (void)!::write(STDOUT_FILENO, &mark, 1);
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2)
    return 2;
  const int round = QByteArray(argv[1]).toInt();
  const bool logOnly = argc > 2 && QByteArray(argv[2]) == "log";

  const QStringList lists[2] = {CrashContent::UrlsA(), CrashContent::UrlsB()};
  ResultsModel rows;
  for (int i = 0; i < CrashContent::SubLogRows; ++i)
    rows.AddRow(Clock::TimeText());
  const QString log = ProgramFolder::File(QStringLiteral("tarvik.log"));

  Mark(CrashContent::StartedMark);
  for (int iteration = 0; logOnly; ++iteration) {
    Mark(CrashContent::LogMark);
    TextFile::AppendLines(log, CrashContent::LogBlock(round, iteration));
    Mark(CrashContent::IdleMark);
  }
  for (int iteration = 0;; ++iteration) {
    Mark(CrashContent::UrlsMark);
    UrlFile::Rewrite(lists[iteration % 2]);
    Mark(CrashContent::SubLogMark);
    UpdateTransferLog(rows);
    Mark(CrashContent::SettingsMark);
    SettingsStore::SaveRegString(QStringLiteral("103"), CrashContent::Value103(iteration));
    SettingsStore::SaveRegString(QStringLiteral("104"), CrashContent::Value104(iteration));
    Mark(CrashContent::LogMark);
    TextFile::AppendLines(log, CrashContent::LogBlock(round, iteration));
    Mark(CrashContent::IdleMark);
  }
}
