#pragma once

#include <QString>

// The per-user settings store: seven string values "100" to "106" under one key
// (QSettings, native format, user scope, organisation "Velmora", application "vmTARVIK").
// A value that is missing, cannot be read or is not a string reads as "".
namespace SettingsStore {

// The file that holds the store.
QString FileName();

void SaveRegString(const QString& name, const QString& value);
QString GetRegString(const QString& name);

// The stored configuration put into the configuration controls at a later start. Every value has
// been checked: a damaged "102" gives the default "1", "60", "1", "20"; a damaged "105" gives
// "0000"; an empty "105" stays empty (the option boxes are left as they are).
struct StoredOptions {
  QString samplers;   // Text3
  QString delay;      // Text2
  QString warning1;   // Text5(0)
  QString warning2;   // Text5(1)
  QString runLength;  // Text4(0), "103" as stored
  QString keepCount;  // Text4(1), "104" as stored
  QString options;    // "105": one "0"/"1" per option box Check3(0..), or empty
};

// Cuts the decoded text of "102" into the four numeric options: two-digit fields are cut from the
// front while more than three characters remain (at least one cut); the first three give samplers,
// delay and the first warning value, further fields are ignored, and the rest is the second warning
// value. Anything that does not give three to eleven fields of digits keeps all four defaults
// ("1", "60", "1", "20"). Only those four members are set; the others stay empty.
StoredOptions CutOptions(const QString& packed);

// Writes the first-start defaults ("101" a new encoded identifier, "102" the encoded "016001020",
// "103" "", "104" "", "105" "0000", "106" "11000110100100110101").
void FirstRunSetup();

// Reads "102" to "105" and decodes them.
StoredOptions LoadSettings();

// The account identifier decoded from "101": 16 characters ending with a dot, or "" when the value
// is missing or damaged.
QString GetAccountId();

// True when "101" holds something that does not decode to an identifier; the start-up then writes a
// fresh identifier in its place.
bool AccountIdDamaged();
void RepairAccountId();

} // namespace SettingsStore
