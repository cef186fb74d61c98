#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a Qt signal: the handler only writes a byte to a socket pair, and
// the event loop turns it into Received() on the thread that made the object. One object at a time.
class StopSignals : public QObject {
  Q_OBJECT
public:
  explicit StopSignals(QObject* parent = nullptr);
  ~StopSignals() override;

signals:
  void Received(int signal);

private:
  QSocketNotifier* notifier = nullptr;
};
