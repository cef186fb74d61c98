#include "settings/settingsstore.h"

#include "core/module1.h"
#include "platform/numbers.h"
#include "settings/accountid.h"
#include "settings/valuecodec.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <memory>
#include <optional>

namespace SettingsStore {

namespace {

// The packed options of "102" before encoding.
const QString DefaultPackedOptions = QStringLiteral("016001020");

QString Encode(const QString& plain) {
  return ValueCodec::EncodeValue(plain, Module1::AppTitle);
}

QString Decode(const QString& stored) {
  return ValueCodec::DecodeValue(stored, Module1::AppTitle);
}

// Opens the per-user store. Fallbacks (the organisation-wide and system-wide files) are off: the
// program's values live in exactly one place, and a stray system file must not make a first start
// look like a later one.
std::unique_ptr<QSettings> OpenStore() {
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmora"),
                                              QStringLiteral("vmTARVIK"));
  settings->setFallbacksEnabled(false);
  return settings;
}

bool IsOptionBoxes(const QString& text) {
  if (text.size() > 4)
    return false;
  for (QChar c : text)
    if (c != QLatin1Char('0') && c != QLatin1Char('1'))
      return false;
  return true;
}

// The four numeric options of a decoded "102"; nothing when it does not give three to eleven fields
// of digits. The cut walks an index rather than removing from the front, and stops at a twelfth
// field (already too many), so that a damaged value of any length takes linear time.
std::optional<StoredOptions> Cut(const QString& decoded) {
  if (!Numbers::IsDigits(decoded))
    return std::nullopt;
  QList<int> fields;
  qsizetype at = 0;
  do {
    fields.append(decoded.mid(at, 2).toInt());
    at += 2;
  } while (decoded.size() - at > 3 && fields.size() <= 11);
  if (fields.size() < 3 || fields.size() > 11)
    return std::nullopt;
  StoredOptions options;
  options.samplers = QString::number(fields[0]);
  options.delay = QString::number(fields[1]);
  options.warning1 = QString::number(fields[2]);
  options.warning2 = Numbers::Plain(Numbers::Value(decoded.mid(at)));
  return options;
}

const Setting* Find(const QString& name) {
  for (const Setting& setting : Table())
    if (setting.name == name)
      return &setting;
  return nullptr;
}

} // namespace

const QList<Setting>& Table() {
  static const QList<Setting> table = {
      {Name::ProgramFolder, {}, QString(), {}},
      {Name::AccountId, [] { return Encode(AccountId::MakeAccountId()); }, QString(),
       [](const QString& stored) { return AccountId::IsValid(Decode(stored)); }},
      {Name::PackedOptions, [] { return Encode(DefaultPackedOptions); }, Encode(DefaultPackedOptions),
       [](const QString& stored) { return Cut(Decode(stored)).has_value(); }},
      {Name::RunLength, [] { return QString(); }, QString(), {}},
      {Name::KeepCount, [] { return QString(); }, QString(), {}},
      {Name::OptionBoxes, [] { return QStringLiteral("0000"); }, QStringLiteral("0000"), IsOptionBoxes},
      {Name::Flags, [] { return QStringLiteral("11000110100100110101"); }, QStringLiteral("11000110100100110101"), {}},
  };
  return table;
}

QString FileName() {
  return OpenStore()->fileName();
}

void SaveRegString(const QString& name, const QString& value) {
  auto settings = OpenStore();
  // A program killed just after it created the store's lock file leaves it empty; the lock would
  // be taken for a live one until it is 30 s old and the save would wait that long.
  const QFileInfo lock(settings->fileName() + QStringLiteral(".lock"));
  if (lock.exists() && lock.size() == 0 && lock.lastModified().msecsTo(QDateTime::currentDateTime()) > 1000)
    QFile::remove(lock.filePath());
  settings->setValue(name, value);
  settings->sync();
}

QString GetRegString(const QString& name) {
  auto settings = OpenStore();
  // A store file that exists but cannot be read is a failed read, even when this process still
  // holds an earlier copy of its contents.
  const QFileInfo file(settings->fileName());
  if (file.exists() && (!file.isFile() || !file.isReadable()))
    return QString();
  const QVariant value = settings->value(name);
  if (settings->status() != QSettings::NoError)
    return QString();
  switch (value.typeId()) {
  case QMetaType::QString:
  case QMetaType::Int: // a number reads as its decimal text
  case QMetaType::UInt:
  case QMetaType::LongLong:
  case QMetaType::ULongLong: return value.toString();
  default: return QString(); // missing, or a list, map, byte array or other type
  }
}

QString Read(const QString& name) {
  const Setting* setting = Find(name);
  const QString stored = GetRegString(name);
  return !setting || !setting->sound || setting->sound(stored) ? stored : setting->fallback;
}

void FirstRunSetup() {
  for (const Setting& setting : Table())
    if (setting.firstStart)
      SaveRegString(setting.name, setting.firstStart());
}

StoredOptions CutOptions(const QString& decoded) {
  if (std::optional<StoredOptions> options = Cut(decoded))
    return *options;
  return *Cut(DefaultPackedOptions);
}

StoredOptions LoadSettings() {
  StoredOptions options = CutOptions(Decode(Read(Name::PackedOptions)));
  options.runLength = Read(Name::RunLength);
  options.keepCount = Read(Name::KeepCount);
  options.options = Read(Name::OptionBoxes);
  return options;
}

QString GetAccountId() {
  return Decode(Read(Name::AccountId));
}

bool AccountIdDamaged() {
  return !GetRegString(Name::AccountId).isEmpty() && GetAccountId().isEmpty();
}

void RepairAccountId() {
  SaveRegString(Name::AccountId, Find(Name::AccountId)->firstStart());
}

} // namespace SettingsStore
