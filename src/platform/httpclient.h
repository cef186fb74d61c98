#pragma once

#include <QObject>
#include <QString>

// The outcome of one fetch.
struct FetchResult {
  bool ok = false;      // the whole body arrived (any HTTP status, 404 and 500 included)
  QString body;         // the body as text (UTF-8, or Latin-1 when it is not valid UTF-8); at most
                        // the first MaxBodyBytes bytes are kept. Empty on failure.
  double seconds = 0;   // span of the request on a monotonic clock: from just before the request
                        // is issued to the arrival of its last byte
  int status = 0;       // HTTP status code, 0 when none arrived
  bool truncated = false; // the body was longer than MaxBodyBytes: only its start is in `body`
  QString error;        // short text on failure: "Bad address", "Connection refused",
                        // "Host not found", "Timed out", "Cancelled", "Busy", ...
};

// One HTTP client: fetches an address as text, synchronously for its caller.
//
// OpenUrl() does not return before the request has ended, but the thread's event loop keeps running
// while it waits (a local QEventLoop): timers fire, clicks and other handlers run, and any of them
// may change state under the caller, cancel the request or unload the client. Failures come back in
// the result; nothing is thrown.
//
// Every request is a plain GET of an "http" or "https" address on a connection of its own: no
// connection reuse, no cache, no cookies, no headers beyond those Qt sends itself. Redirects are
// followed as Qt does by default (never from https to http). An HTTP error status is not a
// failure: its body is returned. A request that has not ended after TimeLimitMs() fails with
// "Timed out".
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

  // Ends the outstanding request at once: the waiting OpenUrl() returns a failure "Cancelled".
  // Does nothing when the client is idle.
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

  // Whether a text is an address OpenUrl() fetches.
  static bool IsFetchable(const QString& url);

signals:
  // Emitted when a request fails, after ResponseCode() and ResponseInfo() describe the failure and
  // Busy() is false again, just before OpenUrl() returns. state is the failure code.
  void StateChanged(int index, int state);

private:
  struct Request;

  int m_index;
  Request* m_request = nullptr;  // the outstanding request; it lives on OpenUrl()'s stack
  qint32 m_responseCode = 0;
  QString m_responseInfo;
  bool m_releaseWhenIdle = false;
};
