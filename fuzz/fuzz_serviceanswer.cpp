// The answer of the vendor's service, split into the fields of ServiceField.
//
// Properties: nothing crashes; "" and "voknog" change nothing; any other answer sets ServiceOk and
// stores its "|"-separated fields (no empty last field after a final "|") in order, leaving the
// elements after the last field as they were; more than six fields store the first six and give
// false.
#include "core/module1.h"
#include "fuzzsupport.h"
#include "services/servicequery.h"

namespace {

QString Sentinel(int i) {
  return QStringLiteral("\x01kept %1").arg(i);
}

void Check(const QString& answer) {
  const int places = ServiceAnswer::FieldCount;
  Module1 state;
  for (int i = 0; i < places; ++i)
    state.ServiceField.Field(i) = Sentinel(i);

  const bool taken = ServiceQuery::TakeAnswer(state, answer);

  if (answer.isEmpty() || answer == QLatin1String("voknog")) {
    FUZZ_CHECK(!taken && !state.ServiceOk, answer);
    for (int i = 0; i < places; ++i)
      FUZZ_CHECK(state.ServiceField.Field(i) == Sentinel(i), answer);
    return;
  }
  FUZZ_CHECK(state.ServiceOk, answer);
  QStringList fields = answer.split(QLatin1Char('|'));
  if (answer.endsWith(QLatin1Char('|')))
    fields.removeLast();
  FUZZ_CHECK(taken == (fields.size() <= places), answer);
  for (int i = 0; i < places; ++i) {
    const QString expected = i < fields.size() ? fields.at(i) : Sentinel(i);
    FUZZ_CHECK(state.ServiceField.Field(i) == expected, answer);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const QString& text : Fuzz::Texts(Fuzz::Bytes(data, size)))
    Check(text);
  return 0;
}
