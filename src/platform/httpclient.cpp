#include "platform/httpclient.h"

#include "platform/curltransfers.h"

#include <QEventLoop>
#include <QPointer>
#include <QUrl>

#include <atomic>
#include <memory>

namespace {

std::atomic<int> timeLimitMs{60000};

} // namespace

// The state of one outstanding request. It lives on the stack of the OpenUrl() call that made it,
// so that it outlives the client should the client be deleted while the call waits. The transfer
// itself is shared with the network thread, which keeps it as long as it works on it.
struct HttpClient::Request {
  QEventLoop loop;
  std::shared_ptr<CurlTransfers::Transfer> transfer;

  // A request whose result has already been handed over is not cancelled any more: the queued
  // call that ends the wait is on its way.
  void Cancel() {
    if (CurlTransfers::GiveUp(transfer))
      loop.quit();
  }
};

HttpClient::HttpClient(int index, QObject* parent) : QObject(parent), index(index) {}

HttpClient::~HttpClient() {
  // The waiting OpenUrl() owns the request; it sees that this client is gone and returns
  // "Cancelled" without touching it.
  if (request) {
    request->Cancel();
    request = nullptr;
  }
}

bool HttpClient::IsFetchable(const QString& url) {
  const QUrl parsed(url, QUrl::TolerantMode);
  if (!parsed.isValid() || parsed.isRelative() || parsed.host().isEmpty())
    return false;
  const QString scheme = parsed.scheme();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

FetchResult HttpClient::OpenUrl(const QString& url) {
  FetchResult result;
  if (request) {
    result.error = QStringLiteral("Busy");
    return result;
  }

  QPointer<HttpClient> self(this);
  if (!IsFetchable(url)) {
    result.error = QStringLiteral("Bad address");
  } else {
    Request r;
    r.transfer = CurlTransfers::Start(url, TimeLimitMs(), &r.loop);
    request = &r;
    // The wait looks synchronous to the caller while the window goes on: timers, clicks and
    // repaints run here, and any of them may change the caller's state or cancel this request. It
    // ends when the network thread hands the result over, when the request is cancelled, or at once
    // when the application is quitting.
    r.loop.exec();
    if (CurlTransfers::GiveUp(r.transfer))
      result.error = QStringLiteral("Cancelled");
    else
      result = CurlTransfers::Result(*r.transfer);
    if (!self)
      return result; // deleted while waiting: this object is gone
    request = nullptr;
  }

  responseCode = result.ok ? result.status : CancelCode;
  responseInfo = result.ok ? QStringLiteral("Response received") : result.error;
  if (!result.ok)
    emit StateChanged(index, CancelCode);
  if (self && releaseWhenIdle)
    deleteLater();
  return result;
}

void HttpClient::Cancel() {
  if (request)
    request->Cancel();
}

void HttpClient::Release() {
  if (request) {
    releaseWhenIdle = true;
    Cancel();
  } else {
    deleteLater();
  }
}

bool HttpClient::Busy() const {
  return request != nullptr;
}

qint32 HttpClient::ResponseCode() const {
  return responseCode;
}

QString HttpClient::ResponseInfo() const {
  return responseInfo;
}

int HttpClient::Index() const {
  return index;
}

void HttpClient::SetTimeLimitMs(int ms) {
  timeLimitMs = qMax(1, ms);
}

int HttpClient::TimeLimitMs() {
  return timeLimitMs;
}

void HttpClient::SetTrustStoreFile(const QString& path) {
  CurlTransfers::SetTrustStoreFile(path);
}
