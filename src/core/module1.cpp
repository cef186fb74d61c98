#include "core/module1.h"

#include <QtGlobal>

#include <array>

QString& ServiceAnswer::Field(int i) {
  const std::array<QString ServiceAnswer::*, FieldCount> fields = {
      &ServiceAnswer::refAddress1, &ServiceAnswer::refAddress2, &ServiceAnswer::newestVersion,
      &ServiceAnswer::date,        &ServiceAnswer::spare1,      &ServiceAnswer::spare2};
  return this->*fields.at(size_t(i));
}

namespace {
QString BaseAddress(const char* variable, const QString& fallback) {
  QString value = qEnvironmentVariable(variable);
  if (value.isEmpty())
    return fallback;
  if (!value.endsWith(QLatin1Char('/')))
    value += QLatin1Char('/');
  return value;
}
} // namespace

QString Module1::VendorUrlSetting() {
  return BaseAddress("TARVIK_VENDOR_URL", QStringLiteral("http://velmora.example/"));
}

QString Module1::WhoisUrlSetting() {
  return BaseAddress("TARVIK_WHOIS_URL", QStringLiteral("http://whois.example/"));
}
