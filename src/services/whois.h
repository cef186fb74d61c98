#pragma once

#include <QString>
#include <optional>

// Reading what the report submission needs from a WHOIS lookup: the name to look up for a site's
// address, the first two name servers of a WHOIS answer, and the hosting provider's domain.
// Every function is pure and total: any input gives an answer, nothing throws.
namespace Whois {

// The name to look up for an address: its last two dot-separated labels, taken over the whole text
// (a path with a dot counts too), then without anything up to and including the first "http://" or
// "https://". Nothing when the last two labels are numeric (an IPv4 address in dotted form): such
// an address has no domain to look up. A text with fewer than two dots is kept whole before the
// scheme is removed.
//
//   "http://www.example.com" -> "example.com"       "http://example.com" -> "example.com"
//   "https://example.com"    -> "example.com"       "http://192.168.1.20" -> nothing
std::optional<QString> LookupName(const QString& urlText);

// The first two "Name Server:" values of a WHOIS answer.
struct NameServerList {
  enum class Status {
    Found,     // both values read
    NotFound,  // fewer than two "Name Server:" entries ended by a line feed
    ShortLine, // a "Name Server:" followed at once by the line feed: the answer cannot be read
  };
  Status status = Status::NotFound;
  QString first;
  QString second;
};

// Each value is the text from the 14th character after the start of "Name Server:" (the label and
// the one separator after it are passed over) up to just before the next line feed; it is not
// trimmed, so a carriage return before the line feed stays in the value. The search for the next
// entry goes on right after that line feed. Case-sensitive.
NameServerList NameServers(const QString& text);

// The hosting provider's domain of a name server: the text after its first dot; nothing when the
// name server has no dot.
std::optional<QString> HostOf(const QString& nameServer);

} // namespace Whois
