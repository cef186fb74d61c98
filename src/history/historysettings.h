#pragma once

#include <QString>

// The history's settings, in the program's settings store under a group of their own
// ("History/Enabled", "History/RetentionDays"), beside (never in) the values "100" to "106".
// A missing or unreadable value reads as its default.
namespace HistorySettings {

// The history file: history.sqlite in the program folder.
QString File();

// "History/Enabled": whether samples are kept in the history file: "true" or "false" ("0" counts as
// false); default true.
bool Enabled();
void SetEnabled(bool enabled);

// "History/RetentionDays": samples older than this many days are deleted; 0 keeps every sample.
// A whole number from 0 to MaxRetentionDays; default 90 (HistoryStore::DefaultRetentionDays).
constexpr int MaxRetentionDays = 36500;
int RetentionDays();
void SetRetentionDays(int days);

} // namespace HistorySettings
