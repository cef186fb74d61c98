#include "ui/liverefresh.h"

LiveRefresh::LiveRefresh(std::function<void()> read, std::function<bool()> reading, QObject* parent, int periodMs,
                         int minGapMs)
    : QObject(parent), read(std::move(read)), reading(std::move(reading)), minGapMs(minGapMs) {
  period.setInterval(periodMs);
  connect(&period, &QTimer::timeout, this, &LiveRefresh::Due);
  gap.setSingleShot(true);
  connect(&gap, &QTimer::timeout, this, &LiveRefresh::Due);
}

void LiveRefresh::SetLive(bool on) {
  live = on;
  if (!on)
    period.stop();
  else if (!period.isActive())
    period.start();
}

void LiveRefresh::News() {
  Due();
}

void LiveRefresh::Started() {
  sinceStart.start();
  gap.stop();
  if (live)
    period.start(); // the next one a whole period after this one
}

void LiveRefresh::Finished() {
  if (waiting) {
    waiting = false;
    Due();
  }
}

void LiveRefresh::Due() {
  if (reading()) {
    waiting = true;
    return;
  }
  const qint64 since = sinceStart.isValid() ? sinceStart.elapsed() : qint64(minGapMs);
  if (since < minGapMs) {
    if (!gap.isActive())
      gap.start(int(minGapMs - since));
    return;
  }
  ++reads;
  read(); // calls Started()
}
