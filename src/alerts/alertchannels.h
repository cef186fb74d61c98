#pragma once

#include <QString>

// Where alerts go besides the window, in the program's settings store under the group "Alerts"
// (beside, never in, the values "100" to "106"). Read once at start; a missing or unreadable value
// reads as its default.
namespace AlertChannels {

// "Alerts/Notify": whether incidents are shown as desktop notifications: "true" or "false" ("0"
// counts as false); default true.
bool Notify();
void SetNotify(bool on);

// "Alerts/WebhookUrl": the address every incident's start and end is posted to; empty (the default)
// posts nothing.
QString WebhookUrl();
void SetWebhookUrl(const QString& url);

} // namespace AlertChannels
