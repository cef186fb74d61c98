#pragma once

#include <QString>

#include <memory>
#include <thread>

struct OutputQueueShared;

// Lines for standard output or standard error, written by a thread of their own, so that a reader
// that stops reading (a pipe into a program that sleeps, a terminal on hold) never holds up the
// thread that posts them: the sampling, the metrics and the stop signals go on.
//
// The queue holds at most `capacity` lines besides the ones being written. When it is full a new
// line is dropped and counted; once the reader reads again (or at Finish) one line told to
// `told` says how many were dropped. When the reader is gone for good (a closed pipe: SIGPIPE must
// be ignored, see main.cpp) the queue says so once and drops every later line without counting.
class OutputQueue {
public:
  static constexpr int DefaultCapacity = 10000;

  // `fd`: the descriptor the lines go to (it stays open). `name`: how its lines are called in
  // what the queue tells ("standard output"). `told`: where that goes; none: nowhere.
  OutputQueue(int fd, const QString& name, int capacity = DefaultCapacity, OutputQueue* told = nullptr);
  ~OutputQueue(); // Finish(0)
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Queues one line; the line end is added. Never waits for the reader. Any thread.
  void Post(const QString& line);
  // Writes what is queued for at most `ms` milliseconds, then ends the writing thread: what is
  // still queued by then is dropped and counted. Later lines are dropped without counting.
  void Finish(int ms);

  // Lines dropped so far because the reader was too slow.
  quint64 Dropped() const;
  // The reader is gone: nothing more is written.
  bool Closed() const;

private:
  std::shared_ptr<OutputQueueShared> shared; // with the writing thread, which may outlive the queue
  std::thread writer;
};
