#include "platform/httppost.h"

#include "platform/curltransfers.h"

#include <QTimer>

HttpPost::HttpPost(QObject* parent) : QObject(parent) {}

HttpPost::~HttpPost() {
  if (transfer)
    CurlTransfers::GiveUp(transfer);
}

void HttpPost::Send(const QString& url, const QByteArray& body, const QByteArray& contentType, int timeLimitMs) {
  if (transfer) {
    CurlTransfers::GiveUp(transfer);
    transfer.reset();
  }
  const quint64 number = ++sent;
  if (!HttpClient::IsFetchable(url)) {
    QTimer::singleShot(0, this, [this, number] {
      if (number != sent)
        return; // a later Send() replaced it
      FetchResult result;
      result.error = QStringLiteral("Bad address");
      emit Finished(result);
    });
    return;
  }
  // The network thread tells this object through a queued call; a transfer given up meanwhile (a
  // later Send, or this object deleted) tells nobody.
  transfer =
      CurlTransfers::StartPost(url, body, contentType, qMax(1, timeLimitMs), this, [this, number] { Ended(number); });
}

bool HttpPost::Busy() const {
  return transfer != nullptr;
}

void HttpPost::Ended(quint64 number) {
  // The call of a request that a later Send() gave up may already have been on its way.
  if (number != sent || !transfer)
    return;
  const std::shared_ptr<CurlTransfers::Transfer> ended = std::move(transfer);
  transfer.reset();
  CurlTransfers::GiveUp(ended); // it has ended: this only stops any further call
  emit Finished(CurlTransfers::Result(*ended));
}
