#pragma once

#include <QList>
#include <QString>

#include <functional>

// The per-user settings store: seven string values "100" to "106" under one key
// (QSettings, native format, user scope, organisation "Velmora", application "vmTARVIK").
// A value that is missing, cannot be read or is not a string reads as "".
namespace SettingsStore {

// The names of the stored values.
namespace Name {
inline const QString ProgramFolder = QStringLiteral("100"); // written at every start
inline const QString AccountId = QStringLiteral("101");     // encoded
inline const QString PackedOptions = QStringLiteral("102"); // encoded: samplers, delay, two warnings
inline const QString RunLength = QStringLiteral("103");     // Text4(0) as stored
inline const QString KeepCount = QStringLiteral("104");     // Text4(1) as stored
inline const QString OptionBoxes = QStringLiteral("105");   // one "0"/"1" per option box Check3(0..3)
inline const QString Flags = QStringLiteral("106");         // twenty "0"/"1"; written once, never read
} // namespace Name

// One stored value: its name, what the first start writes, what a damaged value reads as, and the
// check that tells a sound value from a damaged one. Values are in their stored form (encoded
// where the value is).
struct Setting {
  QString name;
  // The first start's value; empty for "100", which every start writes (the program folder).
  std::function<QString()> firstStart;
  // What a value that fails the check reads as.
  QString fallback;
  // Whether a stored value is sound; empty when any text is.
  std::function<bool(const QString& stored)> sound;
};

// "100" to "106", in order:
//   "101" a fresh identifier, read as "" when it does not decode to one;
//   "102" the encoded "016001020", also when it does not decode to three to eleven two-digit fields;
//   "103", "104" ""; "105" "0000", also when it is not at most four "0"/"1"; "106" "11000110100100110101".
const QList<Setting>& Table();

// The file that holds the store.
QString FileName();

void SaveRegString(const QString& name, const QString& value);
QString GetRegString(const QString& name);

// The stored value of a setting of the table, or its fallback when the stored value fails the
// setting's check: the one way the program reads its settings. A name outside the table reads as
// stored.
QString Read(const QString& name);

// The stored configuration put into the configuration controls at a later start.
struct StoredOptions {
  QString samplers;  // Text3
  QString delay;     // Text2
  QString warning1;  // Text5(0)
  QString warning2;  // Text5(1)
  QString runLength; // Text4(0), "103" as stored
  QString keepCount; // Text4(1), "104" as stored
  QString options;   // "105": one "0"/"1" per option box Check3(0..), or empty
};

// Cuts the decoded text of "102" into the four numeric options: two-digit fields are cut from the
// front while more than three characters remain (at least one cut); the first three give samplers,
// delay and the first warning value, further fields are ignored, and the rest is the second warning
// value. Anything that does not give three to eleven fields of digits gives the options of the
// default "016001020" ("1", "60", "1", "20"). Only those four members are set; the others stay empty.
StoredOptions CutOptions(const QString& packed);

// Writes the first-start value of every setting of the table that has one, in order.
void FirstRunSetup();

// Reads "102" to "105" (through Read, so a damaged "102" gives "1", "60", "1", "20" and a damaged
// "105" gives "0000"; an empty "105" stays empty and leaves the option boxes as they are).
StoredOptions LoadSettings();

// The account identifier decoded from "101": 16 characters ending with a dot, or "" when the value
// is missing or damaged.
QString GetAccountId();

// True when "101" holds something that does not decode to an identifier; the start-up then writes a
// fresh identifier in its place.
bool AccountIdDamaged();
void RepairAccountId();

} // namespace SettingsStore
