// The WHOIS readers: the first two "Name Server:" values of an answer, the hosting provider's domain
// of a name server, and the name looked up for a URL entry (the input is taken as all three).
//
// Properties: nothing crashes and each reader stays inside its input. The name servers are found
// only as whole values ended by a line feed in the answer, the second after the first; otherwise
// both are empty. The host is the text after the first dot. The lookup name is an end of the entry,
// and there is none exactly when the entry's last two dot-separated labels are digits.
#include "fuzzsupport.h"
#include "services/whois.h"

namespace {

using Status = Whois::NameServerList::Status;

void CheckHost(const QString& nameServer) {
  const std::optional<QString> host = Whois::HostOf(nameServer);
  const qsizetype dot = nameServer.indexOf(QLatin1Char('.'));
  FUZZ_CHECK(host.has_value() == (dot >= 0), nameServer);
  if (host)
    FUZZ_CHECK(*host == nameServer.mid(dot + 1), nameServer);
}

void CheckNameServers(const QString& text) {
  const Whois::NameServerList list = Whois::NameServers(text);
  if (list.status != Status::Found) {
    FUZZ_CHECK(list.first.isEmpty() && list.second.isEmpty(), text);
    return;
  }
  const QString label = QStringLiteral("Name Server:");
  const qsizetype first = text.indexOf(label);
  FUZZ_CHECK(first >= 0, text);
  FUZZ_CHECK(!list.first.contains(QLatin1Char('\n')) && !list.second.contains(QLatin1Char('\n')), text);
  FUZZ_CHECK(text.mid(first + label.size() + 1).startsWith(list.first + QLatin1Char('\n')), text);
  const qsizetype second = text.indexOf(label, first + label.size() + 1 + list.first.size() + 1);
  FUZZ_CHECK(second >= 0, text);
  FUZZ_CHECK(text.mid(second + label.size() + 1).startsWith(list.second + QLatin1Char('\n')), text);
  CheckHost(list.first);
  CheckHost(list.second);
}

// Whether the text's last two dot-separated labels (after its second-last dot) are digits only.
bool EndsInNumericLabels(const QString& text) {
  const qsizetype last = text.lastIndexOf(QLatin1Char('.'));
  if (last <= 0)
    return false;
  const qsizetype secondLast = text.lastIndexOf(QLatin1Char('.'), last - 1);
  if (secondLast < 0)
    return false;
  for (qsizetype i = secondLast + 1; i < text.size(); ++i)
    if (i != last && !(text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')))
      return false;
  return true;
}

void CheckLookupName(const QString& url) {
  const std::optional<QString> name = Whois::LookupName(url);
  FUZZ_CHECK(name.has_value() == !EndsInNumericLabels(url), url);
  if (name)
    FUZZ_CHECK(url.endsWith(*name), url);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const QString& text : Fuzz::Texts(Fuzz::Bytes(data, size))) {
    CheckNameServers(text);
    CheckHost(text);
    CheckLookupName(text);
  }
  return 0;
}
