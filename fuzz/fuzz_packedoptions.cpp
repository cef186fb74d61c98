// The "102" value: the stored hexadecimal text is decoded with the title as key and cut into the
// four numeric options. The input is taken both as the stored value and as the decoded text itself.
//
// Properties: nothing crashes; the cut gives the same options as the plain front-removing cut it
// replaces (run here as a reference, on inputs short enough for it); samplers, delay and the first
// warning value are whole numbers from 0 to 99 and the second warning value reads strictly as a
// number from 0 to 999; anything but digits gives the defaults.
#include "core/module1.h"
#include "fuzzsupport.h"
#include "platform/numbers.h"
#include "settings/settingsstore.h"
#include "settings/valuecodec.h"

namespace {

// The cut as first written: two characters removed from the front at a time.
SettingsStore::StoredOptions Reference(QString packed) {
  SettingsStore::StoredOptions options;
  options.samplers = QStringLiteral("1");
  options.delay = QStringLiteral("60");
  options.warning1 = QStringLiteral("1");
  options.warning2 = QStringLiteral("20");
  bool digits = true;
  for (QChar c : packed)
    digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
  if (!packed.isEmpty() && digits) {
    QList<int> fields;
    do {
      fields.append(packed.left(2).toInt());
      packed.remove(0, 2);
    } while (packed.size() > 3);
    if (fields.size() >= 3 && fields.size() <= 11) {
      options.samplers = QString::number(fields[0]);
      options.delay = QString::number(fields[1]);
      options.warning1 = QString::number(fields[2]);
      options.warning2 = Numbers::Plain(Numbers::Value(packed));
    }
  }
  return options;
}

void CheckRange(const QString& text, double highest, const QString& input) {
  const std::optional<double> value = Numbers::Strict(text);
  FUZZ_CHECK(value.has_value(), input + QStringLiteral(" gave ") + text);
  FUZZ_CHECK(*value >= 0 && *value <= highest && *value == double(qint64(*value)),
             input + QStringLiteral(" gave ") + text);
}

void Check(const QString& decoded) {
  const SettingsStore::StoredOptions options = SettingsStore::CutOptions(decoded);
  CheckRange(options.samplers, 99, decoded);
  CheckRange(options.delay, 99, decoded);
  CheckRange(options.warning1, 99, decoded);
  CheckRange(options.warning2, 999, decoded);
  FUZZ_CHECK(options.runLength.isEmpty() && options.keepCount.isEmpty() && options.options.isEmpty(), decoded);

  const SettingsStore::StoredOptions reference = Reference(decoded);
  FUZZ_CHECK(options.samplers == reference.samplers && options.delay == reference.delay &&
                 options.warning1 == reference.warning1 && options.warning2 == reference.warning2,
             decoded + QStringLiteral(" gave ") + options.samplers + QLatin1Char(',') + options.delay +
                 QLatin1Char(',') + options.warning1 + QLatin1Char(',') + options.warning2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = Fuzz::Bytes(data, size);
  for (const QString& text : Fuzz::Texts(bytes)) {
    Check(ValueCodec::DecodeValue(text, Module1::AppTitle));
    Check(text);
  }
  return 0;
}
