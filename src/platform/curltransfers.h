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

#include <QString>

#include <memory>

class QEventLoop;

namespace CurlTransfers {

struct Transfer;

// Starts a GET of url (an address HttpClient::IsFetchable() accepts) with the given time limit.
// When the transfer ends, waiter->quit() runs through a queued call on the waiter's thread, unless
// the transfer was given up first.
std::shared_ptr<Transfer> Start(const QString& url, int timeLimitMs, QEventLoop* waiter);

// Stops telling the waiter, and gives the transfer up unless it has ended already: the network
// thread then drops it and closes its connection. True when the transfer was given up (now or
// before), false when it had ended: its Result() holds. Call it before the waiter is destroyed.
bool GiveUp(const std::shared_ptr<Transfer>& transfer);

// The outcome of a transfer that has ended (GiveUp() returned false).
FetchResult Result(const Transfer& transfer);

// See HttpClient::SetTrustStoreFile().
void SetTrustStoreFile(const QString& path);

} // namespace CurlTransfers
