#pragma once

#include <QStringList>

// Short names for a set of site addresses, for a chart's legend: for each address the shortest
// text that tells it apart from the others, from these in order:
//
//   the host                                   "shop.example.net"
//   the host and the port, when one is given   "127.0.0.1:8081"
//   and the path and query                     "example.com/api"
//   and the scheme                             "https://example.com"
//   the address as listed
//
// An address takes the first of them that no other address of the set shares at the same step, so
// "http://a.test" beside "http://a.test/x" reads "a.test" and "a.test/x". A user name or password
// in an address never goes into a short name. An address without a host keeps its text.
namespace SiteNames {

QStringList Shortest(const QStringList& urls);

} // namespace SiteNames
