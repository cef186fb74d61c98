#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>

#include <functional>
#include <memory>

class QThreadPool;

// The names and passwords a server accepts (HTTP basic auth), each password kept as a bcrypt hash as
// in the Prometheus exporters' web configuration. A bcrypt check takes tens of milliseconds by
// design, so checks run on a thread of their own, one at a time, and never on the caller's thread; a
// name and password that passed are remembered (as a digest), so that a scraper asking every few
// seconds costs one check.
class BasicAuth {
public:
  // Name and bcrypt hash of each user.
  explicit BasicAuth(const QList<QPair<QByteArray, QByteArray>>& users);
  ~BasicAuth();
  BasicAuth(const BasicAuth&) = delete;
  BasicAuth& operator=(const BasicAuth&) = delete;

  // Checks the value of a request's Authorization header and calls `done` with the verdict on
  // `context`'s thread, at once when it needs no bcrypt check, else later (never once `context` is
  // gone).
  void Check(const QByteArray& authorization, QObject* context, std::function<void(bool)> done);

  // True when `hash` is a bcrypt hash that crypt(3) can check ($2a$, $2b$ or $2y$).
  static bool IsBcryptHash(const QByteArray& hash);
  // True when `password` matches the bcrypt `hash`.
  static bool Matches(const QByteArray& password, const QByteArray& hash);

private:
  struct Shared;
  std::shared_ptr<Shared> shared;
  // Receives the verdicts on the caller's thread; destroyed after the checker has ended.
  std::unique_ptr<QObject> receiver;
  std::unique_ptr<QThreadPool> checker;
};
