#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// When a window that shows the history reads it again by itself: every PeriodMs while it is live
// (its span reaches the present), and soon after news (a sample it shows was recorded), but
// never sooner than MinGapMs after its last read began and never while a read is still under way:
// what comes meanwhile waits for that read's end. News of many samples in a row makes one read.
//
// The window tells it when a read begins (Started, whatever began it) and ends (Finished); it
// calls `read` to begin one, and asks `reading` whether one is under way.
class LiveRefresh : public QObject {
  Q_OBJECT
public:
  static constexpr int PeriodMs = 5000;
  static constexpr int MinGapMs = 1000;

  LiveRefresh(std::function<void()> read, std::function<bool()> reading, QObject* parent = nullptr,
              int periodMs = PeriodMs, int minGapMs = MinGapMs);

  // Live: reads every period. Off: only news makes it read.
  void SetLive(bool on);
  bool Live() const { return live; }

  void News();
  void Started();
  void Finished();

  // Reads begun by this object.
  int Reads() const { return reads; }

private:
  void Due();

  std::function<void()> read;
  std::function<bool()> reading;
  QTimer period;
  QTimer gap;
  QElapsedTimer sinceStart;
  int minGapMs;
  bool live = false;
  bool waiting = false; // a read is due once the one under way has ended
  int reads = 0;
};
