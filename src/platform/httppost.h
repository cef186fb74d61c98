#pragma once

#include "platform/httpclient.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace CurlTransfers {
struct Transfer;
}

// One HTTP POST that nobody waits for: Send() hands the request to the network thread that runs
// every transfer and returns at once; Finished() tells the outcome later, on the thread that sent
// it, through its event loop. No local event loop runs, so sending from inside a handler changes
// nothing for that handler.
//
// The request is made as HttpClient makes its GETs (a connection of its own, no proxy, the
// system's trust store, only "http" and "https"), with the body and its content type; a redirect
// is not followed but returned as it is. The result's `ok` says that an answer arrived whole, of
// any status; judging the status is the caller's. Deleting the object gives an outstanding request
// up: Finished() is then never emitted.
class HttpPost : public QObject {
  Q_OBJECT
public:
  explicit HttpPost(QObject* parent = nullptr);
  ~HttpPost() override;

  // Starts the request; one outstanding before is given up. An address that is not fetchable
  // fails at once with "Bad address" (Finished() follows through the event loop, as for any other
  // outcome). timeLimitMs below 1 counts as 1.
  void Send(const QString& url, const QByteArray& body, const QByteArray& contentType, int timeLimitMs);

  bool Busy() const;

signals:
  void Finished(const FetchResult& result);

private:
  void Ended(quint64 number);

  std::shared_ptr<CurlTransfers::Transfer> transfer;
  quint64 sent = 0; // the number of the latest request
};
