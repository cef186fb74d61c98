#pragma once

#include <QString>

// The fields of the vendor service's last answer, in the order of the record ("|"-separated).
struct ServiceAnswer {
  QString refAddress1;   // the first reference target, timed into "Ref 1"
  QString refAddress2;   // the second reference target, timed into "Ref 2"
  QString newestVersion; // the newest program version, major.minor.revision
  QString date;          // the account's date; testing starts only when it is not empty
  QString spare1;        // stored, not read
  QString spare2;

  static constexpr int FieldCount = 6;
  // Field i of the record (0-based), for reading the record field by field.
  QString& Field(int i);

  bool operator==(const ServiceAnswer&) const = default;
};

// The program-wide state that the windows, the engine and the services share. The program holds
// one (see Startup) and hands it to each of them by reference; a test builds a fresh one. It starts
// with every text empty, every flag false and no fc test.
struct Module1 {
  // The fc test: none, a run under way (started from the menu), or the last run was one, finished.
  enum class FcTest { None, Running, Finished };

  // The application title: the key of the settings encoding, the application's name (the default
  // title of message boxes), the start of the main window's caption and, in lower case, the path of
  // the product page.
  static inline const QString AppTitle = QStringLiteral("Tarvik");
  // The program's own version, major.minor.revision.
  static inline const QString Version = QStringLiteral(TARVIK_VERSION_TEXT);
  // The settings key path, as the Windows registry names it.
  static inline const QString DefaultRegKeyPath = QStringLiteral("Software\\Velmora\\vmTARVIK");

  // The vendor and WHOIS addresses: TARVIK_VENDOR_URL / TARVIK_WHOIS_URL when set, else the
  // built-in defaults (reserved names that never reach a real third party).
  static QString VendorUrlSetting();
  static QString WhoisUrlSetting();

  QString RegKeyPath;
  // The vendor's base URL and the WHOIS web service's base address: "http://" addresses ending in "/".
  QString VendorURL;
  QString WhoisURL;
  // The last answer of the service query; its date is preset to the current date at start.
  ServiceAnswer ServiceField;
  // The service query has returned a record since the program started.
  bool ServiceOk = false;
  // The results now in the table have been submitted.
  bool ReportSubmitted = false;
  FcTest FcTestState = FcTest::None;
};
