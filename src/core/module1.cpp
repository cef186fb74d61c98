#include "core/module1.h"

#include <QtGlobal>

namespace Module1 {

QString RegKeyPath;
QString VendorURL;
QString WhoisURL;
std::array<QString, 6> ServiceField;
bool ServiceOk = false;
bool ReportSubmitted = false;
qint16 FcTestState = 0;

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

QString VendorUrlSetting() {
  return BaseAddress("TARVIK_VENDOR_URL", QStringLiteral("http://velmora.example/"));
}

QString WhoisUrlSetting() {
  return BaseAddress("TARVIK_WHOIS_URL", QStringLiteral("http://whois.example/"));
}

void ResetState() {
  RegKeyPath.clear();
  VendorURL.clear();
  WhoisURL.clear();
  ServiceField = {};
  ServiceOk = false;
  ReportSubmitted = false;
  FcTestState = 0;
}

} // namespace Module1
