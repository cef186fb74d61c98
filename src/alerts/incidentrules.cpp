#include "alerts/incidentrules.h"

#include "settings/settingsstore.h"

#include <QString>

namespace {

const QString DownAfterKey = QStringLiteral("Alerts/DownAfter");
const QString UpAfterKey = QStringLiteral("Alerts/UpAfter");
const QString SlowAfterKey = QStringLiteral("Alerts/SlowAfter");
const QString CertDaysKey = QStringLiteral("Alerts/CertDays");

int Read(const QString& key, int least, int most, int fallback) {
  bool isNumber = false;
  const int value = SettingsStore::GetRegString(key).trimmed().toInt(&isNumber);
  return isNumber && value >= least && value <= most ? value : fallback;
}

} // namespace

IncidentRules IncidentRules::Stored() {
  const IncidentRules defaults;
  IncidentRules rules;
  rules.downAfter = Read(DownAfterKey, 1, MaxSamples, defaults.downAfter);
  rules.upAfter = Read(UpAfterKey, 1, MaxSamples, defaults.upAfter);
  rules.slowAfter = Read(SlowAfterKey, 1, MaxSamples, defaults.slowAfter);
  rules.certDays = Read(CertDaysKey, 0, MaxCertDays, defaults.certDays);
  return rules;
}

void IncidentRules::Store(const IncidentRules& rules) {
  SettingsStore::SaveRegString(DownAfterKey, QString::number(qBound(1, rules.downAfter, MaxSamples)));
  SettingsStore::SaveRegString(UpAfterKey, QString::number(qBound(1, rules.upAfter, MaxSamples)));
  SettingsStore::SaveRegString(SlowAfterKey, QString::number(qBound(1, rules.slowAfter, MaxSamples)));
  SettingsStore::SaveRegString(CertDaysKey, QString::number(qBound(0, rules.certDays, MaxCertDays)));
}
