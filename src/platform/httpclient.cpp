#include "platform/httpclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>

namespace {

std::atomic<int> timeLimitMs{60000};

// A response whose status line arrived and whose body was read to the end counts as complete,
// whatever its status. Qt reports 4xx and 5xx statuses as content, protocol or server errors.
bool CompletedWithStatus(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::NoError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
      return true;
    default:
      return false;
  }
}

QString FailureText(QNetworkReply::NetworkError error, const QString& detail) {
  switch (error) {
    case QNetworkReply::ConnectionRefusedError: return QStringLiteral("Connection refused");
    case QNetworkReply::RemoteHostClosedError: return QStringLiteral("Connection closed");
    case QNetworkReply::HostNotFoundError: return QStringLiteral("Host not found");
    case QNetworkReply::TimeoutError: return QStringLiteral("Timed out");
    case QNetworkReply::OperationCanceledError: return QStringLiteral("Cancelled");
    case QNetworkReply::SslHandshakeFailedError: return QStringLiteral("TLS handshake failed");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError: return QStringLiteral("Network unavailable");
    case QNetworkReply::TooManyRedirectsError: return QStringLiteral("Too many redirects");
    case QNetworkReply::InsecureRedirectError: return QStringLiteral("Insecure redirect");
    case QNetworkReply::ProtocolUnknownError: return QStringLiteral("Bad address");
    case QNetworkReply::ProtocolFailure: return QStringLiteral("Bad response");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError: return QStringLiteral("Proxy error");
    default:
      return detail.isEmpty() ? QStringLiteral("Request failed") : detail;
  }
}

// UTF-8 when the bytes are valid UTF-8, Latin-1 otherwise. A body cut at the size limit may end
// inside a character; that unfinished character is dropped rather than taken as invalid.
QString DecodeBody(const QByteArray& bytes, bool truncated) {
  QStringDecoder utf8(QStringDecoder::Utf8,
                      truncated ? QStringDecoder::Flag::Default : QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError())
    return text;
  return QString::fromLatin1(bytes);
}

// Finished managers are destroyed on a thread of their own. A manager's destructor waits for its
// network thread, and a server that never ends its headers keeps that thread busy for seconds:
// the window must not wait for it.
QThread* RetireThread() {
  static QThread* thread = [] {
    auto* retire = new QThread;
    retire->setObjectName(QStringLiteral("HttpClient retire"));
    retire->start();
    // Managers still waiting for deletion are deleted as the thread ends.
    qAddPostRoutine([] {
      RetireThread()->quit();
      RetireThread()->wait();
      delete RetireThread();
    });
    return retire;
  }();
  return thread;
}

void Retire(QNetworkAccessManager* manager) {
  manager->moveToThread(RetireThread());
  manager->deleteLater();
}

} // namespace

// The state of one outstanding request. It lives on the stack of the OpenUrl() call that made it,
// so that it outlives the client should the client be deleted while the call waits.
struct HttpClient::Request {
  QElapsedTimer clock;
  QEventLoop loop;
  QTimer limit;
  // One manager per request: a fresh connection, no cache, no cookie jar.
  QNetworkAccessManager* manager = new QNetworkAccessManager;
  QNetworkReply* reply = nullptr;
  QByteArray body;
  bool truncated = false;
  bool done = false;
  bool cancelled = false;
  bool timedOut = false;
  double seconds = 0;

  Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() {
    delete reply;
    Retire(manager);
  }

  void Drain() {
    if (!reply->isOpen())
      return;  // aborted: nothing more to read
    char chunk[16 * 1024];
    for (;;) {
      const qint64 n = reply->read(chunk, sizeof chunk);
      if (n <= 0)
        break;
      const qint64 room = MaxBodyBytes - body.size();
      if (room > 0)
        body.append(chunk, static_cast<qsizetype>(qMin(room, n)));
      if (n > room)
        truncated = true;
    }
  }

  void Finish() {
    if (done)
      return;
    // The end of the timed span: the last byte has arrived (or the request has ended).
    seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    Drain();
    done = true;
    limit.stop();
    loop.quit();
  }

  void Abort() {
    if (done || !reply)
      return;
    reply->abort();  // emits finished, which ends the request
    Finish();
  }

  // A request whose last byte has already arrived is not cancelled any more.
  void Cancel() {
    if (done)
      return;
    cancelled = true;
    Abort();
  }
};

HttpClient::HttpClient(int index, QObject* parent) : QObject(parent), m_index(index) {}

HttpClient::~HttpClient() {
  // The waiting OpenUrl() owns the request; it sees that this client is gone and returns
  // "Cancelled" without touching it.
  if (m_request) {
    m_request->Cancel();
    m_request = nullptr;
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
  if (m_request) {
    result.error = QStringLiteral("Busy");
    return result;
  }

  QPointer<HttpClient> self(this);
  if (!IsFetchable(url)) {
    result.error = QStringLiteral("Bad address");
  } else {
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    Request r;
    r.limit.setSingleShot(true);
    r.limit.setTimerType(Qt::PreciseTimer);  // never before the limit
    r.limit.setInterval(TimeLimitMs());
    QObject::connect(&r.limit, &QTimer::timeout, &r.loop, [&r] {
      r.timedOut = true;
      r.Abort();
    });

    m_request = &r;
    r.clock.start();
    r.reply = r.manager->get(request);
    // Keep memory bounded for any body size: the reply buffers at most this much before it is read.
    r.reply->setReadBufferSize(MaxBodyBytes);
    QObject::connect(r.reply, &QNetworkReply::readyRead, &r.loop, [&r] { r.Drain(); });
    QObject::connect(r.reply, &QNetworkReply::finished, &r.loop, [&r] { r.Finish(); });
    if (r.reply->isFinished())
      r.Finish();  // ended within get(), before the connection above
    else
      r.limit.start();

    if (!r.done)
      r.loop.exec();
    if (!r.done) {
      // The loop was ended from outside (the application is quitting): give the request up.
      r.Cancel();
    }

    const QNetworkReply::NetworkError error = r.reply->error();
    const QVariant status = r.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.seconds = r.seconds;
    result.status = status.isValid() ? status.toInt() : 0;
    if (r.timedOut) {
      result.error = QStringLiteral("Timed out");
    } else if (r.cancelled) {
      result.error = QStringLiteral("Cancelled");
    } else if (status.isValid() && CompletedWithStatus(error)) {
      result.ok = true;
      result.body = DecodeBody(r.body, r.truncated);
      result.truncated = r.truncated;
    } else {
      result.error = FailureText(error, r.reply->errorString());
    }
    QObject::disconnect(r.reply, nullptr, &r.loop, nullptr);
    delete r.reply;
    r.reply = nullptr;
    if (!self)
      return result;  // deleted while waiting: this object is gone
    m_request = nullptr;
  }

  m_responseCode = result.ok ? result.status : CancelCode;
  m_responseInfo = result.ok ? QStringLiteral("Response received") : result.error;
  if (!result.ok)
    emit StateChanged(m_index, CancelCode);
  if (self && m_releaseWhenIdle)
    deleteLater();
  return result;
}

void HttpClient::Cancel() {
  if (m_request)
    m_request->Cancel();
}

void HttpClient::Release() {
  if (m_request) {
    m_releaseWhenIdle = true;
    Cancel();
  } else {
    deleteLater();
  }
}

bool HttpClient::Busy() const { return m_request != nullptr; }

qint32 HttpClient::ResponseCode() const { return m_responseCode; }

QString HttpClient::ResponseInfo() const { return m_responseInfo; }

int HttpClient::Index() const { return m_index; }

void HttpClient::SetTimeLimitMs(int ms) { timeLimitMs = qMax(1, ms); }

int HttpClient::TimeLimitMs() { return timeLimitMs; }
