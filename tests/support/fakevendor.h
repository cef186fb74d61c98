#pragma once

// Fake vendor service and fake WHOIS web service on 127.0.0.1, on top of LoopbackServer.
//
// FakeVendor serves "/cgi-bin/tarvik/ref.cgi": a request with "k=" is a service query, one with
// "p=" a report upload. Each is recorded with its decoded value and answered from a queue, or by a
// handler, or with a default ("voknog" for queries, "ok" for reports).
//
//   FakeVendor vendor;
//   Module1::VendorURL = vendor.BaseUrl();
//   vendor.QueueQuery("http://r1/|http://r2/|1.1.0|01-02-2024");
//   ServiceQuery::QueryService(client, {});
//   QCOMPARE(vendor.queries, QStringList{accountId});
//
// FakeWhois serves "/cgi/whois": each request is recorded with its decoded "whois_nic" value and
// answered with the text set for that name (SetRecord), or by a handler, or with a default answer
// that holds no "Name Server:" line.
//
// Both answer from the thread that creates them: the test's event loop must run (a synchronous
// fetch's own wait does that).

#include "loopbackserver.h"

#include <QMap>
#include <QQueue>
#include <QStringList>

#include <functional>

class FakeVendor : public QObject {
  Q_OBJECT
public:
  using ValueHandler = std::function<LoopbackResponse(const QString& value)>;

  explicit FakeVendor(QObject* parent = nullptr);

  // "http://127.0.0.1:<port>/": the value for Module1::VendorURL.
  QString BaseUrl() const;
  LoopbackServer& Server() { return server; }
  const LoopbackServer& Server() const { return server; }

  void QueueQuery(const QByteArray& body, int status = 200) { queryAnswers.enqueue({body, status}); }
  void QueueReport(const QByteArray& body, int status = 200) { reportAnswers.enqueue({body, status}); }

  // Answers, in order of precedence: the queue, the handler, the default.
  QQueue<LoopbackResponse> queryAnswers;
  ValueHandler queryHandler;
  LoopbackResponse queryDefault{"voknog"};
  QQueue<LoopbackResponse> reportAnswers;
  ValueHandler reportHandler;
  LoopbackResponse reportDefault{"ok"};

  // What arrived: the decoded "k" and "p" values, and every query as it came over the wire.
  QStringList queries;
  QStringList reports;
  QStringList rawQueries;

  void Clear();

private:
  LoopbackServer server;
};

class FakeWhois : public QObject {
  Q_OBJECT
public:
  using NameHandler = std::function<LoopbackResponse(const QString& name)>;

  explicit FakeWhois(QObject* parent = nullptr);

  // "http://127.0.0.1:<port>/": the value for Module1::WhoisURL.
  QString BaseUrl() const;
  LoopbackServer& Server() { return server; }
  const LoopbackServer& Server() const { return server; }

  // The answer for a looked-up name (exact match of the decoded "whois_nic" value).
  void SetRecord(const QString& name, const QByteArray& text, int status = 200) {
    records.insert(name, {text, status});
  }
  // A WHOIS text with a "Name Server: " line for each name server, lines ended by lineEnd and
  // indented by indent.
  static QByteArray Record(const QStringList& nameServers, const QByteArray& lineEnd = "\n",
                           const QByteArray& indent = "");

  QMap<QString, LoopbackResponse> records;
  NameHandler handler;
  LoopbackResponse defaultAnswer{"No match for domain.\n"};

  // What arrived: the decoded "whois_nic" and "type" values, and every query as it came over the wire.
  QStringList lookups;
  QStringList types;
  QStringList rawQueries;

  void Clear();

private:
  LoopbackServer server;
};
