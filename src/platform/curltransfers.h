#pragma once

// The network thread under HttpClient: every transfer of the process runs on one thread of its own
// through libcurl's multi interface. The thread that starts a transfer only hands it over; it is
// told by a queued call when the transfer has ended, and then reads the outcome. The times in the
// outcome are libcurl's, taken on the network thread, so nothing the starting thread does in the
// meantime can lengthen them.
//
// libcurl is initialised once, when the first transfer starts, and cleaned up once as the process
// ends (the network thread is stopped first; transfers still running are dropped).

#include "platform/httpclient.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QEventLoop;
class QObject;

namespace CurlTransfers {

struct Transfer;

// Starts a GET of url (an address HttpClient::IsFetchable() accepts) with the given time limit.
// When the transfer ends, waiter->quit() runs through a queued call on the waiter's thread, unless
// the transfer was given up first.
std::shared_ptr<Transfer> Start(const QString& url, int timeLimitMs, QEventLoop* waiter);

// Starts a POST of body to url (an address HttpClient::IsFetchable() accepts) for a caller that
// does not wait: when the transfer ends, `ended` runs through a queued call on the thread of
// `context`, unless the transfer was given up first (or `context` is gone). The connection, the
// trust store and the limits are those of the GET; a redirect is not followed.
std::shared_ptr<Transfer> StartPost(const QString& url, const QByteArray& body, const QByteArray& contentType,
                                    int timeLimitMs, QObject* context, std::function<void()> ended);

// Stops telling the waiter (or the context), and gives the transfer up unless it has ended already: the network
// thread then drops it and closes its connection. True when the transfer was given up (now or
// before), false when it had ended: its Result() holds. Call it before the waiter is destroyed.
bool GiveUp(const std::shared_ptr<Transfer>& transfer);

// The outcome of a transfer that has ended (GiveUp() returned false).
FetchResult Result(const Transfer& transfer);

// See HttpClient::SetTrustStoreFile().
void SetTrustStoreFile(const QString& path);

} // namespace CurlTransfers
