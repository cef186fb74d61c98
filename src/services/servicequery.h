#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <utility>

class HttpClient;
struct Module1;

// The one-time query of the vendor's service at the first switch-on of a run: sends the account
// identifier and stores the answer's fields in the program-wide state (Module1::ServiceField).
namespace ServiceQuery {

// An address with a query: base + path + "?" + name=value pairs joined by "&". Names and values are
// percent-encoded (UTF-8; everything but letters, digits and "-._~"), so whatever a value holds
// (blanks, "|", "#", "&", "%", "+", line ends, non-ASCII) reaches the service as the same text once
// it decodes the query.
QString QueryAddress(const QString& base, const QString& path, const QList<std::pair<QString, QString>>& items);

// The service query's address for an account identifier:
// vendorUrl + "cgi-bin/tarvik/ref.cgi?k=" + the identifier.
QString QueryUrl(const QString& vendorUrl, const QString& accountId);

// Stores an answer of the service: "" and "voknog" store nothing and give false. Anything else is a
// record: ServiceOk becomes true and its "|"-separated fields go to the fields of ServiceField in
// order. A record ending in "|" stores no empty last field; two adjacent separators store an empty
// field; fields beyond the record's last field keep their values. A record of more than six fields
// stores the first six and gives false.
bool TakeAnswer(Module1& state, const QString& answer);

// Asks the vendor's service at state.VendorURL about the account (SettingsStore::GetAccountId())
// with client and stores the answer (TakeAnswer). waiting(true) runs before the request and waiting(false) after it,
// on every path, a failed request included. True when a record was received and stored whole.
// A request that fails, or that the service answers with an HTTP error status, gives false and
// stores nothing.
bool QueryService(Module1& state, HttpClient& client, const std::function<void(bool waiting)>& waiting);

} // namespace ServiceQuery
