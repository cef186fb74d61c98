#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class HttpClient;
class ResultsModel;
class StatusPanels;
struct Module1;

// Sends one report per tested URL to the vendor's report service. Before each upload the site's
// domain is looked up in the WHOIS web service; the first name server gives the hosting provider,
// which the user confirms ("Found Host": Yes sends, No looks up the provider's own domain, Cancel
// ends). The report is one line of 22 "|"-separated fields sent as the query value "p" of a GET.
//
// Everything runs in the caller's handler: the two requests wait for their answers while the event
// loop goes on (see HttpClient).
namespace ReportSubmission {

// What a submission works on and reports to. The window wires it; tests drive it without widgets.
struct Context {
  Module1& state; // the addresses of both services; ReportSubmitted, FcTestState
  const ResultsModel& results;
  QStringList urls; // the URL list, in order: entry i is site ID i + 1
  QString ref1;     // the reference value boxes Text6(0) and Text6(1)
  QString ref2;
  StatusPanels& bar2;                          // panel 1: progress
  HttpClient& client;                          // Inet2
  std::function<void(bool on)> setStatusLight; // on before each request, off after it
  // The hourglass pointer. A state, not a nesting count: it is set on again after each "Found Host"
  // answer, so true may come several times in a row; every way out ends with one false.
  std::function<void(bool on)> setBusy;
  std::function<void()> finished;               // all reports sent (or the daily limit reached)
  std::function<QString(int siteId)> fcSummary; // the site's fc summary (it also fills panel 3)
};

// How a submission ended.
enum class Outcome {
  AllDone,    // every URL reported; ReportSubmitted set
  DailyLimit, // the service answered "max": finished as if all were done; ReportSubmitted set
  NoAccount,  // no account identifier: nothing sent
  NotFound,   // no domain to look up, or the WHOIS answer holds fewer than two name servers
  Cancelled,  // the user cancelled the "Found Host" question
  Refused,    // the report service answered something other than "ok" or "max"
  Failed,     // a request failed, or the WHOIS answer could not be read: ended without a message
};

// The messages and panel texts of a submission.
inline const QString NotFoundText = QStringLiteral("Whois information not found. This report cannot be submited");
inline const QString DailyLimitText = QStringLiteral("Reached daily submissions level");
inline const QString SubmitErrorText = QStringLiteral("Submit error. Try again later");
inline const QString FoundHostTitle = QStringLiteral("Found Host");

// The fields of one report, in the order of the record.
struct ReportFields {
  QString accountId;
  QString host;        // the hosting provider's domain
  QString nameServer1; // as found in the WHOIS answer, not trimmed
  QString nameServer2;
  QString url;       // the URL list entry, lower case
  QString firstTime; // Event Time and Ping of the site's first row
  QString firstPing;
  QString lastTime; // Event Time and Ping of the site's last row
  QString lastPing;
  QString best; // the site's figures
  QString worst;
  QString average;
  qint32 blue = 0; // rows at the first and at the second warning level
  qint32 red = 0;
  qint32 rowsPerUrl = 0;
  QString ref1; // the reference value boxes
  QString ref2;
  QString bestTime; // Event Times of the best and the worst row
  QString worstTime;
  QString date; // mm-dd-yyyy
  QString time; // hh:mm:ss
  QString fc;   // the fc summary, or "0?0"
};

// The report record: the 22 fields joined by "|", each as it stands (the counts in decimal).
QString ReportRecord(const ReportFields& fields);

// The WHOIS lookup address of a name: whoisUrl + "cgi/whois?whois_nic=" + name + "&type=domain".
QString WhoisUrl(const QString& whoisUrl, const QString& lookupName);
// The upload address of a report record: vendorUrl + "cgi-bin/tarvik/ref.cgi?p=" + record.
QString UploadUrl(const QString& vendorUrl, const QString& record);

// Runs the whole submission. Module1::ReportSubmitted becomes true only when every URL was sent
// or the service answered "max".
Outcome SubmitReport(const Context& context);

} // namespace ReportSubmission
