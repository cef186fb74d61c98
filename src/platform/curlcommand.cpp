#include "platform/curlcommand.h"

#include "platform/addresstext.h"
#include "platform/httpclient.h"
#include "platform/numbers.h"

#include <QStringList>
#include <QUrl>

namespace CurlCommand {

QString ShellQuoted(const QString& text) {
  QString quoted = text;
  quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString For(const QString& url) {
  // The bytes libcurl receives from the client (CurlTransfers::Start), without a password: the user
  // name goes to --user, and curl asks for the password.
  QUrl parsed(url, QUrl::TolerantMode);
  const bool withUser = !parsed.password().isEmpty();
  const QString user = parsed.userName(QUrl::FullyDecoded);
  if (withUser)
    parsed.setUserInfo(QString());
  // Whatever else the text holds in a password's place stays hidden as well.
  const QString wire = AddressText::Shown(QString::fromLatin1(parsed.toEncoded()));
  const bool https = parsed.scheme() == QLatin1String("https");
  // curl's -w turns \n into a line end; every time is in seconds, counted from the start.
  const QString report = QStringLiteral(
      "name lookup  %{time_namelookup}\\n"
      "connect      %{time_connect}\\n"
      "TLS          %{time_appconnect}\\n"
      "first byte   %{time_starttransfer}\\n"
      "total (Ping) %{time_total}\\n"
      "status       %{http_code}\\n"
      "remote IP    %{remote_ip}\\n"
      "HTTP version %{http_version}\\n");
  QStringList words{
      QStringLiteral("curl"),
      // No [] or {} ranges in the address: it is one address, as given.
      QStringLiteral("--globoff"),
      // The address as an option's value, so that no address is ever read as an option.
      QStringLiteral("--url"),
      ShellQuoted(wire),
  };
  if (withUser)
    words << QStringLiteral("--user") << ShellQuoted(user);
  words << QStringList{
      QStringLiteral("-L"),
      QStringLiteral("--max-redirs"),
      QStringLiteral("20"),
      QStringLiteral("--proto"),
      QStringLiteral("=http,https"),
      QStringLiteral("--proto-redir"),
      https ? QStringLiteral("=https") : QStringLiteral("=http,https"),
      QStringLiteral("--max-time"),
      Numbers::Plain(HttpClient::TimeLimitMs() / 1000.0),
      QStringLiteral("--noproxy"),
      ShellQuoted(QStringLiteral("*")),
      QStringLiteral("-H"),
      ShellQuoted(QStringLiteral("User-Agent:")),
      QStringLiteral("-o"),
      QStringLiteral("/dev/null"),
      QStringLiteral("-s"),
      QStringLiteral("-S"), // but errors
      QStringLiteral("-w"),
      ShellQuoted(report),
  };
  return words.join(QLatin1Char(' '));
}

} // namespace CurlCommand
