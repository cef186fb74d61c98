#include "app/outputqueue.h"

#include <QByteArray>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// What the queue shares with its writing thread; every member but the descriptors is guarded by
// `mutex`.
struct OutputQueueShared {
  using Clock = std::chrono::steady_clock;

  int fd = -1;
  int wake[2] = {-1, -1}; // a byte in it wakes the writer from waiting for the reader
  QString name;
  size_t capacity = 0;

  std::mutex mutex;
  std::condition_variable changed; // lines queued, finishing, or the writer ended
  std::deque<QByteArray> lines;
  OutputQueue* told = nullptr;
  quint64 dropped = 0;
  quint64 untold = 0;  // dropped and not yet told
  bool closed = false; // the reader is gone
  std::optional<Clock::time_point> finishBy;
  bool ended = false; // the writer has returned

  ~OutputQueueShared() {
    for (const int end : wake)
      if (end >= 0)
        ::close(end);
  }

  // One line to `told` (the caller holds the mutex; `told` never calls back into this queue).
  void Tell(const QString& line) const {
    if (told)
      told->Post(QStringLiteral("tarvik: ") + line);
  }

  void TellDropped() {
    if (untold == 0)
      return;
    Tell(QStringLiteral("%1 lines of %2 were dropped: it was not read fast enough").arg(untold).arg(name));
    untold = 0;
  }

  // Milliseconds until the finishing time; -1 (wait for ever) while not finishing.
  int WaitMs() const {
    if (!finishBy)
      return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*finishBy - Clock::now()).count();
    return left > 0 ? int(std::min<long long>(left, INT_MAX)) : 0;
  }

  enum class Written { All, Closed, OutOfTime };

  // Writes one batch: in pieces of at most PIPE_BUF bytes, each after the reader has room for it,
  // so that a write never blocks and a finish is seen while waiting. `at`: the bytes written.
  Written Write(const QByteArray& bytes, qsizetype& at) {
    while (at < bytes.size()) {
      int waitMs = -1;
      {
        const std::lock_guard lock(mutex);
        waitMs = WaitMs();
      }
      if (waitMs == 0)
        return Written::OutOfTime;
      pollfd polled[2] = {{fd, POLLOUT, 0}, {wake[0], POLLIN, 0}};
      const int ready = ::poll(polled, 2, waitMs);
      if (ready < 0 && errno != EINTR)
        return Written::Closed;
      if (polled[1].revents & POLLIN) {
        char sink[64];
        while (::read(wake[0], sink, sizeof sink) > 0) {
        }
      }
      if (ready <= 0 || polled[0].revents == 0)
        continue;
      const ssize_t n = ::write(fd, bytes.constData() + at, size_t(std::min<qsizetype>(bytes.size() - at, PIPE_BUF)));
      if (n > 0)
        at += n;
      else if (n < 0 && errno != EAGAIN && errno != EINTR)
        return Written::Closed; // EPIPE: the reader closed its end; or the descriptor is gone
    }
    return Written::All;
  }

  void Run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return !lines.empty() || finishBy; });
      if (lines.empty())
        break; // finishing, and everything is written
      QByteArray batch;
      for (const QByteArray& line : lines)
        batch += line;
      const auto count = lines.size();
      lines.clear();
      lock.unlock();
      qsizetype at = 0;
      const Written written = Write(batch, at);
      lock.lock();
      if (written == Written::Closed) {
        closed = true;
        lines.clear();
        Tell(QStringLiteral("%1 was closed: its lines are no longer written").arg(name));
        break;
      }
      if (written == Written::OutOfTime) {
        // The lines not written whole count as dropped (the last one written may be cut).
        const auto lost = count - size_t(batch.left(at).count('\n'));
        dropped += lost;
        untold += lost;
        break;
      }
      TellDropped();
    }
    ended = true;
    changed.notify_all();
  }
};

OutputQueue::OutputQueue(int fd, const QString& name, int capacity, OutputQueue* told)
    : shared(std::make_shared<OutputQueueShared>()) {
  shared->fd = fd;
  shared->name = name;
  shared->capacity = size_t(std::max(1, capacity));
  shared->told = told;
  if (::pipe2(shared->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    shared->closed = true; // cannot wait safely: nothing is written
    shared->ended = true;
    return;
  }
  writer = std::thread([s = shared] { s->Run(); });
}

OutputQueue::~OutputQueue() {
  Finish(0);
}

void OutputQueue::Post(const QString& line) {
  QByteArray bytes = line.toLocal8Bit();
  bytes += '\n';
  const std::lock_guard lock(shared->mutex);
  if (shared->closed || shared->finishBy)
    return;
  if (shared->lines.size() >= shared->capacity) {
    ++shared->dropped;
    ++shared->untold;
    return;
  }
  shared->lines.push_back(std::move(bytes));
  shared->changed.notify_all();
}

void OutputQueue::Finish(int ms) {
  if (!writer.joinable())
    return;
  std::unique_lock lock(shared->mutex);
  const auto by = OutputQueueShared::Clock::now() + std::chrono::milliseconds(std::max(0, ms));
  shared->finishBy = by;
  shared->changed.notify_all();
  [[maybe_unused]] const ssize_t woken = ::write(shared->wake[1], "", 1);
  // The writer waits for the reader no longer than `by`; a little more for it to see that.
  const bool ended =
      shared->changed.wait_until(lock, by + std::chrono::milliseconds(200), [this] { return shared->ended; });
  shared->dropped += shared->lines.size();
  shared->untold += shared->lines.size();
  shared->lines.clear();
  if (!shared->closed)
    shared->TellDropped();
  shared->told = nullptr;
  lock.unlock();
  // A writer stuck in a write that polling did not foresee (a terminal on hold) is left behind:
  // it owns what it uses, and the program may end meanwhile.
  if (ended)
    writer.join();
  else
    writer.detach();
}

quint64 OutputQueue::Dropped() const {
  const std::lock_guard lock(shared->mutex);
  return shared->dropped;
}

bool OutputQueue::Closed() const {
  const std::lock_guard lock(shared->mutex);
  return shared->closed;
}
