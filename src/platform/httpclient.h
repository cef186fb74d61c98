#pragma once

#include <QObject>
#include <QString>

// The outcome of one fetch.
//
// The times are libcurl's own, taken on the network thread that runs every transfer (see
// HttpClient): whatever the caller's thread does while it waits cannot lengthen them. The phase
// times (…Us) are in microseconds and, as libcurl gives them, cumulative: each counts from the
// start of the request, not from the end of the phase before it. So on an https fetch
// 0 < dnsUs <= connectUs <= tlsUs <= ttfbUs <= totalUs, and the TLS handshake alone took
// tlsUs - connectUs. When redirects were followed, totalUs covers every hop; libcurl adds up the
// hops' phase times too (each hop's figure counted from that hop's start). A phase time is -1 when
// it is unknown: the phase did not happen (tlsUs of an http fetch) or the request failed or was
// cancelled before it.
struct FetchResult {
  bool ok = false;        // the whole body arrived (any HTTP status, 404 and 500 included)
  QString body;           // the body's bytes, one byte one character (Latin-1): nothing decoded,
                          // no byte-order mark removed. At most the first MaxBodyBytes bytes are
                          // kept. Empty on failure.
  bool markup = false;    // a "<" came anywhere in the body, also past the part that is kept
  double seconds = 0;     // the Ping: totalUs in seconds (0 when unknown), from the start of the
                          // request to the arrival of its last byte
  int status = 0;         // HTTP status code of the last response, 0 when none arrived
  bool truncated = false; // the body was longer than MaxBodyBytes: only its start is in `body`
  QString error;          // short text on failure: "Bad address", "Connection refused",
                          // "Host not found", "Timed out", "Cancelled", "Busy", ...

  qint64 dnsUs = -1;     // name lookup done (CURLINFO_NAMELOOKUP_TIME_T)
  qint64 connectUs = -1; // TCP connection made (CURLINFO_CONNECT_TIME_T)
  qint64 tlsUs = -1;     // TLS handshake done (CURLINFO_APPCONNECT_TIME_T); -1 without TLS
  qint64 ttfbUs = -1;    // first byte of the answer received (CURLINFO_STARTTRANSFER_TIME_T)
  qint64 totalUs = -1;   // last byte received, or the request ended (CURLINFO_TOTAL_TIME_T)
  QString remoteIp;      // the address of the server that answered last ("127.0.0.1", "::1");
                         // empty when no connection was made
  QString httpVersion;   // of the last response: "1.0", "1.1", "2" or "3"; empty when none
  qint64 bytes = 0;      // body bytes received, the whole body (also when only its start is kept)
  // Of an https answer: the earliest end of validity (notAfter) among the certificates the server
  // sent (its own and the intermediates it sent with it), of the last hop; -1 when there was none
  // (http, or no answer). In milliseconds since the epoch.
  qint64 certNotAfterMs = -1;
};

// One HTTP client: fetches an address as text, synchronously for its caller.
//
// OpenUrl() does not return before the request has ended, but the thread's event loop keeps running
// while it waits (a local QEventLoop): timers fire, clicks and other handlers run, and any of them
// may change state under the caller, cancel the request or unload the client. Failures come back in
// the result; nothing is thrown.
//
// The transfer itself runs on the client layer's network thread (libcurl), never on the caller's
// thread; the caller's wait ends when that thread hands the finished result over. Every request is
// a plain GET of an "http" or "https" address on a connection of its own: no connection reuse, no
// TLS session resumed (every https request is a full handshake), no name lookup cached, no proxy,
// no cache, no cookies and no headers beyond Host and Accept. Certificates are verified against
// the system's trust store (see SetTrustStoreFile()). Redirects are followed, at most 20, only to
// http or https and never from https to http. An HTTP error status is not a failure: its body is
// returned. A request that has not ended after TimeLimitMs() fails with "Timed out".
//
// Lifetime: do not delete a client while its OpenUrl() waits; call Release(), which cancels the
// request and deletes the client only once OpenUrl() has returned. (Deleting it directly while it
// waits is survived too: the waiting OpenUrl() then returns "Cancelled" without touching the dead
// object; but its caller must not touch it either.)
class HttpClient : public QObject {
  Q_OBJECT
public:
  // The failure code: ResponseCode() after a failed request. The state-change handler cancels the
  // client's request on this code.
  static constexpr qint32 CancelCode = 35768;
  // At most this many bytes of a body are kept; the rest is read and discarded.
  static constexpr qint64 MaxBodyBytes = 64 * 1024;

  explicit HttpClient(int index = 0, QObject* parent = nullptr);
  ~HttpClient() override;

  // Fetches url and returns when the whole body has arrived or the request has failed. Only
  // "http" and "https" addresses with a host are fetched; anything else fails at once with
  // "Bad address" without touching the network or the filesystem.
  // Reentrancy: a call made while this client is Busy() (from a handler running during the wait)
  // fails at once with "Busy" and leaves the outstanding request, ResponseCode() and
  // ResponseInfo() untouched; it emits no StateChanged.
  FetchResult OpenUrl(const QString& url);

  // Ends the outstanding request at once: the waiting OpenUrl() returns a failure "Cancelled" and
  // the network thread closes the request's connection. A request whose result has already been
  // handed over is not cancelled any more. Does nothing when the client is idle.
  void Cancel();

  // Cancels any outstanding request and deletes the client once no OpenUrl() of it is waiting
  // (at once, through deleteLater(), when idle).
  void Release();

  bool Busy() const;
  // Of the last request: the HTTP status when it completed, CancelCode when it failed, 0 before
  // the first request ends.
  qint32 ResponseCode() const;
  // Of the last request: "Response received" when it completed, the failure text otherwise;
  // empty before the first request ends.
  QString ResponseInfo() const;
  int Index() const;

  // The time limit of every request, 60000 ms unless changed (tests shorten it). Values below 1
  // are taken as 1.
  static void SetTimeLimitMs(int ms);
  static int TimeLimitMs();

  // The certificates every https request trusts: the PEM file at path, or the system's trust store
  // (libcurl's default CA bundle) when path is empty, which is the default. A new path is loaded
  // once, before the next request starts, and shared by every connection after it; the same path
  // again changes nothing. Tests and benchmarks use it to trust a local authority.
  static void SetTrustStoreFile(const QString& path);

  // Whether a text is an address OpenUrl() fetches.
  static bool IsFetchable(const QString& url);

signals:
  // Emitted when a request fails, after ResponseCode() and ResponseInfo() describe the failure and
  // Busy() is false again, just before OpenUrl() returns. state is the failure code.
  void StateChanged(int index, int state);

private:
  struct Request;

  int index;
  Request* request = nullptr; // the outstanding request; it lives on OpenUrl()'s stack
  qint32 responseCode = 0;
  QString responseInfo;
  bool releaseWhenIdle = false;
};
