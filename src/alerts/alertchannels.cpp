#include "alerts/alertchannels.h"

#include "settings/settingsstore.h"

namespace AlertChannels {

namespace {

const QString NotifyKey = QStringLiteral("Alerts/Notify");
const QString WebhookKey = QStringLiteral("Alerts/WebhookUrl");

} // namespace

bool Notify() {
  const QString text = SettingsStore::GetRegString(NotifyKey).trimmed();
  return text.compare(QStringLiteral("false"), Qt::CaseInsensitive) != 0 && text != QStringLiteral("0");
}

void SetNotify(bool on) {
  SettingsStore::SaveRegString(NotifyKey, on ? QStringLiteral("true") : QStringLiteral("false"));
}

QString WebhookUrl() {
  return SettingsStore::GetRegString(WebhookKey).trimmed();
}

void SetWebhookUrl(const QString& url) {
  SettingsStore::SaveRegString(WebhookKey, url);
}

} // namespace AlertChannels
