#include "ui/historyaccess.h"

#include "engine/historyrecorder.h"
#include "engine/runsettings.h"
#include "history/historystore.h"
#include "platform/numbers.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QRegularExpression>

HistoryAccess HistoryAccess::Of(const QString& path, HistoryStore* store, HistoryRecorder* recorder,
                                const RunSettings& settings) {
  HistoryAccess access;
  access.path = path;
  const QPointer<HistoryRecorder> runs(recorder);
  const QPointer<HistoryStore> file(store);
  access.currentRunId = [runs] { return runs ? runs->LatestRunId() : qint64(-1); };
  access.testing = [runs] { return runs && runs->RunId() > 0; };
  access.beforeQuery = [file] {
    if (file)
      file->Flush();
  };
  access.offLine = [file] { return file ? file->FailureText() : QString(); };
  access.warnings = [&settings] {
    return std::pair(Numbers::Value(settings.warning[0]), Numbers::Value(settings.warning[1]));
  };
  return access;
}

QString HistoryAccess::AskSaveFileName(QWidget* parent, const QString& caption, const QString& name,
                                       const QString& filters) {
  QFileDialog dialog(parent, caption, QDir::home().filePath(name), filters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // "CSV (*.csv)" -> "csv"
  const auto suffixOf = [](const QString& filter) {
    return QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter).captured(1);
  };
  dialog.setDefaultSuffix(suffixOf(dialog.selectedNameFilter()));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
    return QString();
  return dialog.selectedFiles().first();
}

namespace HistorySpanChoice {

void Fill(QComboBox* combo, HistorySpan::Preset selected) {
  using Preset = HistorySpan::Preset;
  const std::pair<const char*, Preset> choices[] = {
      {"This run", Preset::ThisRun}, {"Last hour", Preset::LastHour}, {"24 hours", Preset::Last24Hours},
      {"7 days", Preset::Last7Days}, {"30 days", Preset::Last30Days}, {"All", Preset::All},
  };
  combo->clear();
  for (const auto& [text, preset] : choices)
    combo->addItem(QString::fromLatin1(text), int(preset));
  Select(combo, selected);
}

HistorySpan::Preset Of(const QComboBox* combo) {
  return HistorySpan::Preset(combo->currentData().toInt());
}

void Select(QComboBox* combo, HistorySpan::Preset preset) {
  combo->setCurrentIndex(qMax(0, combo->findData(int(preset))));
}

} // namespace HistorySpanChoice
