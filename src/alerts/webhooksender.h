#pragma once

#include "alerts/alertevent.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>

class HttpPost;
class QTimer;
struct FetchResult;

// Posts every alert to a web address as JSON, the form chat services' incoming webhooks take:
//
//   {"text": "Site down: https://shop.example.net (Connection refused)", "event": "down",
//    "url": "https://shop.example.net", "cause": "Connection refused",
//    "started": "2026-12-10T14:02:05.120Z", "ended": null, "ping_seconds": null}
//
// Sending never waits: Send() queues the alert and returns; the posts run on the network thread
// one after the other, in the order the alerts came, so a chat shows "down" before "up". A post is
// delivered when a 2xx status answers it. Any other answer, or none, is retried three times after
// growing pauses; an alert that still did not get through is given up and told once through
// Failed(). The webhook's address is never part of a message: it holds the service's secret.
class WebhookSender : public QObject {
  Q_OBJECT
public:
  static constexpr int Attempts = 4; // the first post and three retries
  // Alerts that wait while earlier ones are retried; one more is given up at once.
  static constexpr int MaxWaiting = 100;

  explicit WebhookSender(const QString& url, QObject* parent = nullptr);
  ~WebhookSender() override;

  // The pauses before the three retries; 5 s, 30 s and 120 s unless changed (tests shorten them).
  // Missing entries repeat the last one.
  void SetRetryDelaysMs(const QList<int>& delays);
  // The time a post may take before it counts as failed; 15 s unless changed.
  void SetTimeLimitMs(int ms);

  // The JSON body posted for an alert.
  static QByteArray Body(const AlertEvent& event);

  // Alerts not yet delivered nor given up, the one being posted included.
  int Waiting() const { return int(queue.size()); }

public slots:
  void Send(const AlertEvent& event);

signals:
  // An alert was given up: its retries failed, or too many alerts were waiting. One line that
  // says which alert and why ("Webhook: not delivered after 4 attempts (HTTP 500): Site down: ...").
  void Failed(const QString& line);

private:
  void PostFirst();
  void Posted(const FetchResult& result);

  QString url;
  QList<int> retryDelaysMs{5000, 30000, 120000};
  int timeLimitMs = 15000;
  QQueue<AlertEvent> queue;
  int attempt = 0; // posts made of the first alert in the queue
  HttpPost* post = nullptr;
  QTimer* retry = nullptr;
};
