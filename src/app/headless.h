#pragma once

#include "app/commandline.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// The test cycle without a window (tarvik --headless): the same engine, configuration and files as
// the window, driven by the one-second tick. Each completed sample is written as one line to the
// output, kept in the history as configured, and counted in the Prometheus figures served on
// --metrics. It needs no display.
//
// An output line holds, separated by tabs: the time the sample ended (UTC, ISO 8601 with
// milliseconds), the Site ID, the Packet, the Ping ("0.000" form, or "Failed"), the Result text
// and the site's address.
class Headless : public QObject {
  Q_OBJECT
public:
  using Printer = std::function<void(const QString& line)>;

  // `out` receives each output line, `err` each message line ("tarvik: ..."), both without their
  // line end. Neither may wait for its reader (see OutputQueue).
  Headless(const CommandLine& line, Printer out, Printer err, QObject* parent = nullptr);
  ~Headless() override;

  // Reads the configuration and the site list, opens the history, starts serving metrics and switches
  // testing on. False with `error` (one line) when it cannot: no site to test, an unreadable site
  // list, a metrics address it cannot listen on.
  bool Start(QString* error);
  // The port metrics are served on; 0 when they are not.
  quint16 MetricsPort() const;

  // Ends the run: the outstanding fetch is cancelled, testing switched off, the history written and
  // closed, the transfer sub-log updated as closing the window does. Called once; Ended() follows.
  void Stop();

signals:
  // Testing has ended: stopped, or switched off by the run's own Stop option.
  void Ended();

private:
  // One message line on standard error.
  void Tell(const QString& what) const;

  struct Parts;
  std::unique_ptr<Parts> parts;
  CommandLine line;
  Printer out;
  Printer err;
  bool stopped = false;
};
