#include "platform/curltransfers.h"

#include <QEventLoop>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/asn1.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A response whose header section grows beyond this is given up as a bad response: a server that
// sends header lines without end must not keep a transfer (and its memory) busy until the limit.
constexpr qint64 MaxHeaderBytes = 256 * 1024;

} // namespace

namespace CurlTransfers {

// What the network thread learns of a transfer. Written by the network thread while the transfer
// runs; read by the waiting thread once the transfer has ended.
struct Outcome {
  CURLcode code = CURLE_OK;
  long status = 0;
  long httpVersion = 0;
  long verifyResult = 0; // OpenSSL's certificate verification result
  long osErrno = 0;      // the system's error of a failed connect
  int socketErrno = 0;   // the system's error when no socket could be made for the connection
  int resourceErrno = 0; // EMFILE, ENFILE, ENOMEM or ENOBUFS when the process had none left as it failed
  long redirects = 0;
  QByteArray lastUrl; // the address of the last hop tried
  QString remoteIp;
  curl_off_t dnsUs = 0, connectUs = 0, tlsUs = 0, ttfbUs = 0, totalUs = 0;
  QByteArray body;     // the first MaxBodyBytes bytes of the body
  qint64 bytes = 0;    // every body byte received
  bool markup = false; // a "<" among them
  bool truncated = false;
  qint64 headerBytes = 0; // of the current response's header section
  bool headerOverflow = false;
  int hopStatus = 0;             // of the current response, from its status line
  bool insecureRedirect = false; // an https hop redirected to plain http: not followed
  qint64 certNotAfterMs = -1;    // of the current response's TLS connection (FetchResult)
};

struct Transfer {
  Transfer(QByteArray url, bool httpsOnly, long timeLimitMs, QEventLoop* waiter)
      : url(std::move(url)), httpsOnly(httpsOnly), timeLimitMs(timeLimitMs), waiter(waiter) {}

  // Fixed at the start.
  const QByteArray url;
  const bool httpsOnly; // started on https: redirects to https only (later hops: see OnHeader)
  const long timeLimitMs;

  // Shared by both threads, under the mutex.
  enum class State { Running, Ended, GivenUp };
  std::mutex mutex;
  State state = State::Running;
  QEventLoop* waiter;

  // The network thread's while the transfer runs.
  CURL* easy = nullptr;
  X509_STORE* store = nullptr; // the trust store its connections use (one reference)
  Outcome outcome;

  // A POST that nobody waits for (StartPost): its body, and whom to tell when it has ended.
  bool post = false;
  QByteArray postBody;
  QByteArray postContentType;
  curl_slist* postHeaders = nullptr; // the network thread's while the transfer runs
  QObject* context = nullptr;        // under the mutex, like waiter
  std::function<void()> ended;
};

namespace {

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Outcome& o = static_cast<Transfer*>(user)->outcome;
  const size_t bytes = size * count;
  const auto n = static_cast<qint64>(bytes);
  o.bytes += n;
  // Whether the body holds markup is noted over the whole body, not only the part that is kept.
  if (!o.markup && std::memchr(data, '<', bytes) != nullptr)
    o.markup = true;
  const qint64 room = HttpClient::MaxBodyBytes - o.body.size();
  if (room > 0)
    o.body.append(data, static_cast<qsizetype>(qMin(room, n)));
  if (n > room)
    o.truncated = true;
  return bytes;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1..12).
qint64 DaysFromCivil(qint64 year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const qint64 era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<qint64>(dayOfEra) - 719468;
}

// The earliest notAfter of the certificates the server sent on the transfer's TLS connection, in
// ms since the epoch; -1 without TLS. Read while the connection is up (it is closed, and its
// certificates freed, before the transfer's end is reported).
qint64 EarliestNotAfterMs(CURL* easy) {
  const curl_tlssessioninfo* session = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK || !session ||
      session->backend != CURLSSLBACKEND_OPENSSL || !session->internals)
    return -1;
  const STACK_OF(X509)* chain = SSL_get_peer_cert_chain(static_cast<SSL*>(session->internals));
  qint64 earliest = -1;
  for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
    std::tm end{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(sk_X509_value(chain, i)), &end) != 1)
      continue;
    const qint64 days =
        DaysFromCivil(end.tm_year + 1900, static_cast<unsigned>(end.tm_mon + 1), static_cast<unsigned>(end.tm_mday));
    const qint64 ms = ((days * 24 + end.tm_hour) * 3600 + end.tm_min * 60 + end.tm_sec) * 1000;
    if (earliest < 0 || ms < earliest)
      earliest = ms;
  }
  return earliest;
}

// Whether `location`, resolved against `from` as a redirect is, leads to plain http.
bool LeadsToHttp(const char* from, const QByteArray& location) {
  CURLU* url = curl_url();
  bool http = false;
  if (url && curl_url_set(url, CURLUPART_URL, from, 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, location.constData(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char* scheme = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK)
      http = qstricmp(scheme, "http") == 0;
    curl_free(scheme);
  }
  curl_url_cleanup(url);
  return http;
}

// Once a hop of a redirect chain is https, every later hop must be https too, wherever the chain
// began (http -> https -> http is refused). libcurl's list of redirect schemes is fixed for the
// whole transfer, so the Location of each redirect that comes over https is checked here, before
// libcurl follows it. True when the transfer must end.
bool RedirectLeavesHttps(const Transfer& t, const char* data, size_t n) {
  static constexpr char Name[] = "location:";
  const Outcome& o = t.outcome;
  if (t.post || o.hopStatus < 300 || o.hopStatus > 399 || n < sizeof Name - 1 ||
      qstrnicmp(data, Name, sizeof Name - 1) != 0)
    return false;
  const char* hop = nullptr;
  if (curl_easy_getinfo(t.easy, CURLINFO_EFFECTIVE_URL, &hop) != CURLE_OK || !hop || qstrnicmp(hop, "https:", 6) != 0)
    return false;
  const QByteArray location =
      QByteArray(data + sizeof Name - 1, static_cast<qsizetype>(n - (sizeof Name - 1))).trimmed();
  return !location.isEmpty() && LeadsToHttp(hop, location);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  Outcome& o = transfer->outcome;
  const size_t n = size * count;
  if (n >= 5 && qstrncmp(data, "HTTP/", 5) == 0) {
    o.headerBytes = 0; // the status line of a new response (after a redirect or a 1xx answer)
    // "HTTP/1.1 302 Found": the status follows the first blank.
    const QByteArray line(data, static_cast<qsizetype>(n));
    const qsizetype blank = line.indexOf(' ');
    o.hopStatus = blank > 0 ? line.mid(blank + 1, 3).toInt() : 0;
    // The certificates of the connection this response came on: the last hop's count.
    o.certNotAfterMs = EarliestNotAfterMs(transfer->easy);
  }
  o.headerBytes += static_cast<qint64>(n);
  if (o.headerBytes > MaxHeaderBytes) {
    o.headerOverflow = true;
    return 0; // ends the transfer with CURLE_WRITE_ERROR
  }
  if (RedirectLeavesHttps(*transfer, data, n)) {
    o.insecureRedirect = true;
    return 0;
  }
  return n;
}

// The connection's socket, made as libcurl would make it, so that a socket the system refuses
// (out of descriptors or memory) is known as such rather than taken for a refused connection.
curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  const curl_socket_t socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (socket == CURL_SOCKET_BAD)
    static_cast<Transfer*>(user)->outcome.socketErrno = errno;
  return socket;
}

// Whether the process has run out of descriptors or memory just now: libcurl's name lookup and
// connect fail without saying so when it has. Zero when it has not, else the system's error.
int ResourcesExhausted() {
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    ::close(probe);
    return 0;
  }
  const int error = errno;
  return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS ? error : 0;
}

// Every connection verifies against the store loaded once per process, instead of loading the CA
// bundle again for every connection.
CURLcode UseTrustStore(CURL*, void* sslContext, void* store) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<X509_STORE*>(store));
  return CURLE_OK;
}

// The single network thread: the multi handle, the transfers it runs, the trust store.
class NetworkThread {
public:
  static NetworkThread& Instance() {
    static NetworkThread thread;
    return thread;
  }

  void Add(std::shared_ptr<Transfer> transfer) {
    {
      const std::lock_guard lock(mutex);
      starting.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi);
  }

  void Drop(std::shared_ptr<Transfer> transfer) {
    {
      const std::lock_guard lock(mutex);
      ending.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi);
  }

  void SetTrustStoreFile(const QString& path) {
    const std::lock_guard lock(mutex);
    if (path == storeFile)
      return; // the store loaded (or to be loaded) is that one
    storeFile = path;
    storeStale = true;
  }

  NetworkThread(const NetworkThread&) = delete;
  NetworkThread& operator=(const NetworkThread&) = delete;

private:
  NetworkThread() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi = curl_multi_init();
    thread = std::thread([this] { Run(); });
  }

  // At the end of the process: transfers still running are dropped.
  ~NetworkThread() {
    {
      const std::lock_guard lock(mutex);
      stopping = true;
    }
    curl_multi_wakeup(multi);
    thread.join();
    curl_multi_cleanup(multi);
    X509_STORE_free(trustStore);
    curl_global_cleanup();
  }

  void Run() {
    std::vector<std::shared_ptr<Transfer>> added;
    std::vector<std::shared_ptr<Transfer>> dropped;
    for (;;) {
      bool stop = false;
      {
        const std::lock_guard lock(mutex);
        added.swap(starting);
        dropped.swap(ending);
        stop = stopping;
      }
      for (const auto& transfer : dropped)
        Close(*transfer);
      dropped.clear();
      if (stop) {
        for (auto& [easy, transfer] : transfers)
          Close(*transfer, false);
        transfers.clear();
        return;
      }
      if (!added.empty())
        RefreshTrustStore();
      for (auto& transfer : added)
        Begin(std::move(transfer));
      added.clear();

      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
          End(message->easy_handle, message->data.result);
      }
      // Sleeps until a socket is ready, a timeout of libcurl's is due or Add() or Drop() wakes it.
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
  }

  // Loads the trust store when none is loaded yet or another was asked for. It happens here,
  // before the transfers waiting to start are handed to libcurl, so that its cost falls into no
  // transfer's times.
  void RefreshTrustStore() {
    QString file;
    {
      const std::lock_guard lock(mutex);
      if (!storeStale)
        return;
      storeStale = false;
      file = storeFile;
    }
    X509_STORE* store = X509_STORE_new();
    if (!store)
      return;
    bool loaded = false;
    if (!file.isEmpty()) {
      loaded = X509_STORE_load_file(store, file.toLocal8Bit().constData()) == 1;
    } else {
      // libcurl's default CA bundle (Debian: /etc/ssl/certs/ca-certificates.crt).
      const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
      if (info->cainfo)
        loaded = X509_STORE_load_file(store, info->cainfo) == 1;
      else if (info->capath)
        loaded = X509_STORE_load_path(store, info->capath) == 1;
      else
        loaded = X509_STORE_set_default_paths(store) == 1;
    }
    if (!loaded)
      qWarning("HttpClient: the trust store could not be loaded; https certificates will fail");
    // As libcurl sets its own stores: a trusted certificate ends the chain, wherever it stands.
    X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    X509_STORE_free(trustStore);
    trustStore = store;
  }

  void Begin(std::shared_ptr<Transfer> transfer) {
    {
      const std::lock_guard lock(transfer->mutex);
      if (transfer->state != Transfer::State::Running)
        return; // given up before it started
    }
    Transfer& t = *transfer;
    t.easy = curl_easy_init();
    if (!t.easy) {
      t.outcome.code = CURLE_OUT_OF_MEMORY;
      Complete(t);
      return;
    }
    if (trustStore && X509_STORE_up_ref(trustStore) == 1)
      t.store = trustStore;
    CURL* easy = t.easy;
    curl_easy_setopt(easy, CURLOPT_URL, t.url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, t.httpsOnly ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
    // Every request is a first visit: its own connection, its own name lookup, a full handshake.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    // Straight to the site, whatever proxy the environment names.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, t.timeLimitMs);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &t);
    // libcurl loads no CA bundle of its own and keeps no store of its own between connections
    // (its cache would hold on to the first store it saw); the shared store is set on every TLS
    // context.
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, UseTrustStore);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, t.store);
    if (t.post)
      SetUpPost(t);
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
      t.outcome.code = CURLE_FAILED_INIT;
      Close(t, false);
      Complete(t);
      return;
    }
    transfers.emplace(easy, std::move(transfer));
  }

  void End(CURL* easy, CURLcode code) {
    const auto found = transfers.find(easy);
    if (found == transfers.end())
      return;
    const std::shared_ptr<Transfer> transfer = found->second;
    transfers.erase(found);
    Outcome& o = transfer->outcome;
    o.code = code;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &o.status);
    curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &o.httpVersion);
    curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &o.verifyResult);
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &o.osErrno);
    if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_CONNECT)
      o.resourceErrno = ResourcesExhausted();
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &o.redirects);
    curl_easy_getinfo(easy, CURLINFO_NAMELOOKUP_TIME_T, &o.dnsUs);
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &o.connectUs);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &o.tlsUs);
    curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &o.ttfbUs);
    curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &o.totalUs);
    const char* text = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &text) == CURLE_OK && text)
      o.lastUrl = text;
    text = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_PRIMARY_IP, &text) == CURLE_OK && text)
      o.remoteIp = QString::fromLatin1(text);
    Close(*transfer, false);
    Complete(*transfer);
  }

  // A POST sends its body with its content type, and takes the first answer as it is: a redirect is
  // not followed (libcurl would turn the POST into a GET).
  static void SetUpPost(Transfer& t) {
    curl_easy_setopt(t.easy, CURLOPT_POST, 1L);
    curl_easy_setopt(t.easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.postBody.size()));
    curl_easy_setopt(t.easy, CURLOPT_POSTFIELDS, t.postBody.constData());
    curl_easy_setopt(t.easy, CURLOPT_FOLLOWLOCATION, 0L);
    t.postHeaders = curl_slist_append(nullptr, ("Content-Type: " + t.postContentType).constData());
    // No "Expect: 100-continue" wait before the body.
    t.postHeaders = curl_slist_append(t.postHeaders, "Expect:");
    curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, t.postHeaders);
  }

  // Ends a transfer's work on this thread: its connection is closed, its handle freed.
  void Close(Transfer& t, bool running = true) {
    if (!t.easy)
      return;
    if (running)
      transfers.erase(t.easy);
    curl_multi_remove_handle(multi, t.easy);
    curl_easy_cleanup(t.easy);
    t.easy = nullptr;
    X509_STORE_free(t.store);
    t.store = nullptr;
    curl_slist_free_all(t.postHeaders);
    t.postHeaders = nullptr;
  }

  // Hands the outcome over: the waiting thread is told, unless it has given the transfer up.
  static void Complete(Transfer& t) {
    const std::lock_guard lock(t.mutex);
    if (t.state != Transfer::State::Running)
      return;
    t.state = Transfer::State::Ended;
    if (t.waiter)
      QMetaObject::invokeMethod(t.waiter, &QEventLoop::quit, Qt::QueuedConnection);
    else if (t.context)
      QMetaObject::invokeMethod(t.context, t.ended, Qt::QueuedConnection);
  }

  std::mutex mutex;
  std::vector<std::shared_ptr<Transfer>> starting;
  std::vector<std::shared_ptr<Transfer>> ending;
  bool stopping = false;
  QString storeFile;
  bool storeStale = true;

  // The network thread's own.
  CURLM* multi = nullptr;
  std::unordered_map<CURL*, std::shared_ptr<Transfer>> transfers;
  X509_STORE* trustStore = nullptr;
  std::thread thread;
};

qint64 Phase(curl_off_t us) {
  return us > 0 ? static_cast<qint64>(us) : -1;
}

QString HttpVersionText(long version) {
  switch (version) {
  case CURL_HTTP_VERSION_1_0: return QStringLiteral("1.0");
  case CURL_HTTP_VERSION_1_1: return QStringLiteral("1.1");
  case CURL_HTTP_VERSION_2_0: return QStringLiteral("2");
  case CURL_HTTP_VERSION_3: return QStringLiteral("3");
  default: return QString();
  }
}

QString CertificateText(long verifyResult) {
  switch (verifyResult) {
  case X509_V_ERR_CERT_HAS_EXPIRED: return QStringLiteral("Certificate expired");
  case X509_V_ERR_CERT_NOT_YET_VALID: return QStringLiteral("Certificate not yet valid");
  case X509_V_ERR_CERT_REVOKED: return QStringLiteral("Certificate revoked");
  case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
  case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return QStringLiteral("Certificate self-signed");
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
  case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
  case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return QStringLiteral("Certificate not trusted");
  case X509_V_OK: // the chain is good: libcurl found the name does not match the address
  case X509_V_ERR_HOSTNAME_MISMATCH:
  case X509_V_ERR_IP_ADDRESS_MISMATCH: return QStringLiteral("Certificate name mismatch");
  default: return QStringLiteral("Certificate not valid");
  }
}

// The text of a failure for want of descriptors or memory; empty for any other error.
QString ResourceText(long error) {
  switch (error) {
  case EMFILE:
  case ENFILE: return QStringLiteral("Too many open files");
  case ENOMEM:
  case ENOBUFS: return QStringLiteral("Out of memory");
  default: return QString();
  }
}

QString FailureText(const Transfer& t) {
  const Outcome& o = t.outcome;
  for (const long error : {long(o.socketErrno), o.osErrno, long(o.resourceErrno)})
    if (QString text = ResourceText(error); !text.isEmpty())
      return text;
  switch (o.code) {
  case CURLE_URL_MALFORMAT: return o.redirects > 0 ? QStringLiteral("Bad redirect") : QStringLiteral("Bad address");
  case CURLE_UNSUPPORTED_PROTOCOL:
    if (o.redirects > 0) {
      return t.httpsOnly && o.lastUrl.startsWith("http:") ? QStringLiteral("Insecure redirect")
                                                          : QStringLiteral("Bad redirect");
    }
    // The address was checked before: what libcurl refused is the answer, which was not HTTP.
    return QStringLiteral("Bad response");
  case CURLE_COULDNT_RESOLVE_HOST: return QStringLiteral("Host not found");
  case CURLE_COULDNT_CONNECT:
    if (o.osErrno == ENETUNREACH || o.osErrno == EHOSTUNREACH)
      return QStringLiteral("Network unavailable");
    return QStringLiteral("Connection refused");
  case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("Timed out");
  case CURLE_SSL_CONNECT_ERROR: return QStringLiteral("TLS handshake failed");
  case CURLE_PEER_FAILED_VERIFICATION: return CertificateText(o.verifyResult);
  case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("Too many redirects");
  case CURLE_GOT_NOTHING:
  case CURLE_RECV_ERROR:
  case CURLE_SEND_ERROR:
  case CURLE_PARTIAL_FILE: return QStringLiteral("Connection closed");
  case CURLE_WEIRD_SERVER_REPLY:
  case CURLE_HTTP2:
  case CURLE_HTTP2_STREAM:
  case CURLE_BAD_CONTENT_ENCODING: return QStringLiteral("Bad response");
  case CURLE_WRITE_ERROR:
    if (o.insecureRedirect)
      return QStringLiteral("Insecure redirect");
    if (o.headerOverflow)
      return QStringLiteral("Bad response");
    break;
  case CURLE_OUT_OF_MEMORY:
    // What libcurl reports, once connected, for a header line longer than it accepts (100 KB).
    return o.connectUs > 0 ? QStringLiteral("Bad response") : QStringLiteral("Out of memory");
  default: break;
  }
  return QString::fromUtf8(curl_easy_strerror(o.code));
}

} // namespace

std::shared_ptr<Transfer> Start(const QString& url, int timeLimitMs, QEventLoop* waiter) {
  const QUrl parsed(url, QUrl::TolerantMode);
  auto transfer = std::make_shared<Transfer>(parsed.toEncoded(), parsed.scheme() == QLatin1String("https"),
                                             static_cast<long>(timeLimitMs), waiter);
  NetworkThread::Instance().Add(transfer);
  return transfer;
}

std::shared_ptr<Transfer> StartPost(const QString& url, const QByteArray& body, const QByteArray& contentType,
                                    int timeLimitMs, QObject* context, std::function<void()> ended) {
  const QUrl parsed(url, QUrl::TolerantMode);
  auto transfer = std::make_shared<Transfer>(parsed.toEncoded(), parsed.scheme() == QLatin1String("https"),
                                             static_cast<long>(timeLimitMs), nullptr);
  transfer->post = true;
  transfer->postBody = body;
  transfer->postContentType = contentType;
  transfer->context = context;
  transfer->ended = std::move(ended);
  NetworkThread::Instance().Add(transfer);
  return transfer;
}

bool GiveUp(const std::shared_ptr<Transfer>& transfer) {
  {
    const std::lock_guard lock(transfer->mutex);
    transfer->waiter = nullptr;
    transfer->context = nullptr;
    if (transfer->state == Transfer::State::Ended)
      return false;
    if (transfer->state == Transfer::State::GivenUp)
      return true;
    transfer->state = Transfer::State::GivenUp;
  }
  NetworkThread::Instance().Drop(transfer);
  return true;
}

FetchResult Result(const Transfer& transfer) {
  const Outcome& o = transfer.outcome;
  FetchResult result;
  result.status = static_cast<int>(o.status);
  result.dnsUs = Phase(o.dnsUs);
  result.connectUs = Phase(o.connectUs);
  result.tlsUs = Phase(o.tlsUs);
  result.ttfbUs = Phase(o.ttfbUs);
  result.totalUs = Phase(o.totalUs);
  result.seconds = result.totalUs > 0 ? static_cast<double>(result.totalUs) / 1e6 : 0;
  result.remoteIp = o.remoteIp;
  result.httpVersion = HttpVersionText(o.httpVersion);
  result.bytes = o.bytes;
  result.certNotAfterMs = o.certNotAfterMs;
  if (o.code == CURLE_OK) {
    result.ok = true;
    // One byte, one character: a caller judges the bytes as they came (a byte-order mark counts).
    result.body = QString::fromLatin1(o.body);
    result.truncated = o.truncated;
    result.markup = o.markup;
  } else {
    result.error = FailureText(transfer);
  }
  return result;
}

void SetTrustStoreFile(const QString& path) {
  NetworkThread::Instance().SetTrustStoreFile(path);
}

} // namespace CurlTransfers
