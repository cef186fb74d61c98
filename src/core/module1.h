#pragma once

#include <QString>
#include <array>

// Program-wide state shared by the windows and the engine. Everything starts zeroed when the
// program starts (ResetState puts it back, for tests).
namespace Module1 {

// The application title: the key of the settings encoding, the default title of message boxes,
// the start of the main window's caption and, in lower case, the path of the product page.
inline const QString AppTitle = QStringLiteral("Tarvik");
// The program's own version, major.minor.revision.
inline const QString Version = QStringLiteral(TARVIK_VERSION_TEXT);
// The settings key path, as the Windows registry names it.
inline const QString DefaultRegKeyPath = QStringLiteral("Software\\Velmora\\vmTARVIK");

extern QString RegKeyPath;
// The vendor's base URL and the WHOIS web service's base address: "http://" addresses ending in "/".
extern QString VendorURL;
extern QString WhoisURL;
// Fields of the last answer of the service query; element 3 is preset to the current date.
extern std::array<QString, 6> ServiceField;
extern bool ServiceOk;
extern bool ReportSubmitted;
// 0 no fc test, 2 an fc test run is under way, 1 the last run was a finished fc test.
extern qint16 FcTestState;

// The vendor and WHOIS addresses: TARVIK_VENDOR_URL / TARVIK_WHOIS_URL when set, else the built-in
// defaults (reserved names that never reach a real third party).
QString VendorUrlSetting();
QString WhoisUrlSetting();

void ResetState();

} // namespace Module1
