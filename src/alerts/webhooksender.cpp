#include "alerts/webhooksender.h"

#include "alerts/alerttext.h"
#include "history/historytime.h"
#include "platform/httpclient.h"
#include "platform/httppost.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

WebhookSender::WebhookSender(const QString& url, QObject* parent)
    : QObject(parent), url(url), post(new HttpPost(this)), retry(new QTimer(this)) {
  retry->setSingleShot(true);
  connect(retry, &QTimer::timeout, this, &WebhookSender::PostFirst);
  connect(post, &HttpPost::Finished, this, &WebhookSender::Posted);
}

WebhookSender::~WebhookSender() = default;

void WebhookSender::SetRetryDelaysMs(const QList<int>& delays) {
  if (!delays.isEmpty())
    retryDelaysMs = delays;
}

void WebhookSender::SetTimeLimitMs(int ms) {
  timeLimitMs = qMax(1, ms);
}

QByteArray WebhookSender::Body(const AlertEvent& event) {
  const auto time = [](const QDateTime& at) {
    return at.isValid() ? QJsonValue(HistoryTime::Text(at)) : QJsonValue(QJsonValue::Null);
  };
  QJsonObject body;
  body.insert(QStringLiteral("text"), AlertText::Line(event));
  body.insert(QStringLiteral("event"), AlertEvent::EventName(event.kind));
  body.insert(QStringLiteral("url"), event.url);
  body.insert(QStringLiteral("cause"), event.cause);
  body.insert(QStringLiteral("started"), time(event.started));
  body.insert(QStringLiteral("ended"), time(event.ended));
  body.insert(QStringLiteral("ping_seconds"),
              event.pingSeconds >= 0 ? QJsonValue(event.pingSeconds) : QJsonValue(QJsonValue::Null));
  return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

void WebhookSender::Send(const AlertEvent& event) {
  if (queue.size() >= MaxWaiting) {
    emit Failed(
        QStringLiteral("Webhook: not sent, %1 alerts wait already: %2").arg(MaxWaiting).arg(AlertText::Line(event)));
    return;
  }
  queue.enqueue(event);
  if (queue.size() == 1)
    PostFirst();
}

void WebhookSender::PostFirst() {
  if (queue.isEmpty())
    return;
  ++attempt;
  post->Send(url, Body(queue.head()), "application/json", timeLimitMs);
}

void WebhookSender::Posted(const FetchResult& result) {
  if (queue.isEmpty())
    return;
  const bool delivered = result.ok && result.status >= 200 && result.status < 300;
  if (!delivered && attempt < Attempts) {
    retry->start(retryDelaysMs.value(attempt - 1, retryDelaysMs.last()));
    return;
  }
  const AlertEvent event = queue.dequeue();
  const int made = attempt;
  attempt = 0;
  if (!delivered) {
    const QString why = result.ok ? QStringLiteral("HTTP %1").arg(result.status) : result.error;
    emit Failed(
        QStringLiteral("Webhook: not delivered after %1 attempts (%2): %3").arg(made).arg(why, AlertText::Line(event)));
  }
  PostFirst();
}
