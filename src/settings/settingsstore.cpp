#include "settings/settingsstore.h"

#include "app/module1.h"
#include "platform/numbers.h"
#include "settings/accountid.h"
#include "settings/valuecodec.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <memory>

namespace SettingsStore {

namespace {

// The packed options of "102" before encoding, and the same values as the controls show them.
const QString DefaultPackedOptions = QStringLiteral("016001020");
const QString DefaultOptionBoxes = QStringLiteral("0000");

// Opens the per-user store. Fallbacks (the organisation-wide and system-wide files) are off: the
// program's values live in exactly one place, and a stray system file must not make a first start
// look like a later one.
std::unique_ptr<QSettings> OpenStore() {
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                              QStringLiteral("Velmora"), QStringLiteral("vmTARVIK"));
  settings->setFallbacksEnabled(false);
  return settings;
}

bool IsDigits(const QString& text) {
  for (QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return false;
  return true;
}

bool IsOptionBoxes(const QString& text) {
  if (text.size() > 4)
    return false;
  for (QChar c : text)
    if (c != QLatin1Char('0') && c != QLatin1Char('1'))
      return false;
  return true;
}

} // namespace

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
  case QMetaType::ULongLong:
    return value.toString();
  default:
    return QString(); // missing, or a list, map, byte array or other type
  }
}

void FirstRunSetup() {
  SaveRegString(QStringLiteral("101"), ValueCodec::EncodeValue(AccountId::MakeAccountId(), Module1::AppTitle));
  SaveRegString(QStringLiteral("102"), ValueCodec::EncodeValue(DefaultPackedOptions, Module1::AppTitle));
  SaveRegString(QStringLiteral("103"), QString());
  SaveRegString(QStringLiteral("104"), QString());
  SaveRegString(QStringLiteral("105"), DefaultOptionBoxes);
  SaveRegString(QStringLiteral("106"), QStringLiteral("11000110100100110101"));
}

StoredOptions CutOptions(const QString& decoded) {
  StoredOptions options;
  options.samplers = QStringLiteral("1");
  options.delay = QStringLiteral("60");
  options.warning1 = QStringLiteral("1");
  options.warning2 = QStringLiteral("20");

  if (!decoded.isEmpty() && IsDigits(decoded)) {
    // The cut walks an index rather than removing from the front, and stops at a twelfth field
    // (already too many), so that a damaged value of any length takes linear time.
    QList<int> fields;
    qsizetype at = 0;
    do {
      fields.append(decoded.mid(at, 2).toInt());
      at += 2;
    } while (decoded.size() - at > 3 && fields.size() <= 11);
    if (fields.size() >= 3 && fields.size() <= 11) {
      options.samplers = QString::number(fields[0]);
      options.delay = QString::number(fields[1]);
      options.warning1 = QString::number(fields[2]);
      options.warning2 = Numbers::Plain(Numbers::Value(decoded.mid(at)));
    }
  }
  return options;
}

StoredOptions LoadSettings() {
  StoredOptions options =
      CutOptions(ValueCodec::DecodeValue(GetRegString(QStringLiteral("102")), Module1::AppTitle));

  options.runLength = GetRegString(QStringLiteral("103"));
  options.keepCount = GetRegString(QStringLiteral("104"));

  const QString boxes = GetRegString(QStringLiteral("105"));
  options.options = IsOptionBoxes(boxes) ? boxes : DefaultOptionBoxes;
  return options;
}

QString GetAccountId() {
  const QString id = ValueCodec::DecodeValue(GetRegString(QStringLiteral("101")), Module1::AppTitle);
  return AccountId::IsValid(id) ? id : QString();
}

bool AccountIdDamaged() {
  return !GetRegString(QStringLiteral("101")).isEmpty() && GetAccountId().isEmpty();
}

void RepairAccountId() {
  SaveRegString(QStringLiteral("101"), ValueCodec::EncodeValue(AccountId::MakeAccountId(), Module1::AppTitle));
}

} // namespace SettingsStore
