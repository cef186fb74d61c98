#pragma once

#include <QString>

// A `curl` command line that repeats one request the way HttpClient makes it, so that a user can
// check a measured time in a terminal:
//
//   curl --globoff --url 'https://example.com/vok.txt' -L --max-redirs 20 --proto =http,https
//     --proto-redir =https --max-time 60 --noproxy '*' -H 'User-Agent:' -o /dev/null -s -S -w '...'
//
// One curl run is one fresh connection, with its own name lookup and a full TLS handshake, as every
// request of the client. curl is told to add no header of its own beyond Host and Accept, to follow
// redirects as the client does (at most 20, only to http or https, never from https to http), to
// ignore any proxy the environment names, to give up at the client's time limit and to discard the
// body; it prints the times libcurl measured (cumulative from the start of the request, in seconds:
// name lookup, connect, TLS, first byte and total, the Ping), the HTTP status, the server's address
// and the HTTP version.
namespace CurlCommand {

// The command for `url`, the whole address fetched (the caller appends "/vok.txt" to a site's
// address). The address is sent as the client sends it: read tolerantly and percent-encoded where
// it must be (QUrl::TolerantMode, toEncoded()). A password in it never reaches the command: the
// address goes without its user part and the user name with --user, so that curl asks for the
// password.
QString For(const QString& url);

// `text` as one word for a POSIX shell: in single quotes, each ' inside written as '\''.
QString ShellQuoted(const QString& text);

} // namespace CurlCommand
