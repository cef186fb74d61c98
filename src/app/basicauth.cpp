#include "app/basicauth.h"

#include <QCryptographicHash>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QThreadPool>

#include <openssl/crypto.h>

#include <crypt.h>

#include <mutex>

namespace {

// How many passed name and password pairs are remembered; beyond that the memory starts afresh.
constexpr qsizetype MaxRemembered = 100;

} // namespace

struct BasicAuth::Shared {
  QHash<QByteArray, QByteArray> hashes; // by name
  QByteArray anyHash;                   // checked for an unknown name, so that it takes as long
  std::mutex mutex;
  QSet<QByteArray> passed; // digests of name, password and hash that passed; under the mutex

  static QByteArray Digest(const QByteArray& name, const QByteArray& password, const QByteArray& hash) {
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(name);
    digest.addData(QByteArrayView("\0", 1));
    digest.addData(password);
    digest.addData(QByteArrayView("\0", 1));
    digest.addData(hash);
    return digest.result();
  }
};

BasicAuth::BasicAuth(const QList<QPair<QByteArray, QByteArray>>& users)
    : shared(std::make_shared<Shared>()), receiver(std::make_unique<QObject>()),
      checker(std::make_unique<QThreadPool>()) {
  for (const auto& [name, hash] : users) {
    shared->hashes.insert(name, hash);
    if (shared->anyHash.isEmpty())
      shared->anyHash = hash;
  }
  checker->setMaxThreadCount(1);
}

// The pool's destructor waits for a check under way; its answer goes nowhere.
BasicAuth::~BasicAuth() = default;

bool BasicAuth::IsBcryptHash(const QByteArray& hash) {
  if (!hash.startsWith("$2a$") && !hash.startsWith("$2b$") && !hash.startsWith("$2y$"))
    return false;
  crypt_data data{};
  const char* said = crypt_r("", hash.constData(), &data);
  return said && said[0] != '*';
}

bool BasicAuth::Matches(const QByteArray& password, const QByteArray& hash) {
  if (!IsBcryptHash(hash))
    return false;
  // crypt_data is about 32 KB: on the heap rather than on a pool thread's stack.
  const auto data = std::make_unique<crypt_data>();
  const char* said = crypt_r(password.constData(), hash.constData(), data.get());
  return said && qstrlen(said) == std::size_t(hash.size()) && CRYPTO_memcmp(said, hash.constData(), hash.size()) == 0;
}

void BasicAuth::Check(const QByteArray& authorization, QObject* context, std::function<void(bool)> done) {
  // "Basic " (the scheme in any case) and base64 of NAME:PASSWORD.
  const qsizetype blank = authorization.indexOf(' ');
  if (blank < 0 || authorization.left(blank).toLower() != "basic") {
    done(false);
    return;
  }
  const QByteArray::FromBase64Result decoded =
      QByteArray::fromBase64Encoding(authorization.mid(blank + 1).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
  const QByteArray& pair = decoded.decoded;
  const qsizetype colon = decoded ? pair.indexOf(':') : -1;
  if (colon < 0 || pair.contains('\0')) {
    done(false);
    return;
  }
  const QByteArray name = pair.left(colon);
  const QByteArray password = pair.mid(colon + 1);
  const auto found = shared->hashes.constFind(name);
  const bool known = found != shared->hashes.cend();
  const QByteArray hash = known ? *found : shared->anyHash;
  const QByteArray digest = Shared::Digest(name, password, hash);
  if (known) {
    const std::lock_guard lock(shared->mutex);
    if (shared->passed.contains(digest)) {
      done(true);
      return;
    }
  }
  QObject* back = receiver.get();
  checker->start([shared = shared, known, password, hash, digest, back, context = QPointer<QObject>(context),
                  done = std::move(done)] {
    const bool ok = Matches(password, hash) && known;
    if (ok) {
      const std::lock_guard lock(shared->mutex);
      if (shared->passed.size() >= MaxRemembered)
        shared->passed.clear();
      shared->passed.insert(digest);
    }
    // `context` is only looked at on its own thread, where it may have gone meanwhile.
    QMetaObject::invokeMethod(
        back,
        [context, done, ok] {
          if (context)
            done(ok);
        },
        Qt::QueuedConnection);
  });
}
