#include "history/historysettings.h"

#include "history/historystore.h"
#include "platform/programfolder.h"
#include "settings/settingsstore.h"

#include <QString>

namespace HistorySettings {

namespace {

const QString EnabledKey = QStringLiteral("History/Enabled");
const QString RetentionKey = QStringLiteral("History/RetentionDays");

} // namespace

QString File() {
  return ProgramFolder::File(QStringLiteral("history.sqlite"));
}

bool Enabled() {
  const QString text = SettingsStore::GetRegString(EnabledKey).trimmed();
  return text.compare(QStringLiteral("false"), Qt::CaseInsensitive) != 0 && text != QStringLiteral("0");
}

void SetEnabled(bool enabled) {
  SettingsStore::SaveRegString(EnabledKey, enabled ? QStringLiteral("true") : QStringLiteral("false"));
}

int RetentionDays() {
  bool isNumber = false;
  const int days = SettingsStore::GetRegString(RetentionKey).trimmed().toInt(&isNumber);
  return isNumber && days >= 0 && days <= MaxRetentionDays ? days : HistoryStore::DefaultRetentionDays;
}

void SetRetentionDays(int days) {
  SettingsStore::SaveRegString(RetentionKey, QString::number(qBound(0, days, MaxRetentionDays)));
}

} // namespace HistorySettings
