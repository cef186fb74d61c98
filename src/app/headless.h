#pragma once

#include "app/commandline.h"
#include "app/webconfig.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

struct RunSettings;

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
  // list, more --samplers than addresses, a metrics address it cannot listen on.
  bool Start(QString* error);
  // Start() failed for a bad command line argument (--samplers above the number of addresses).
  bool BadArgument() const { return badArgument; }
  // TLS and users of the metrics server (--web-config); call before Start().
  void UseWebConfig(const WebConfig& access) { webConfig = access; }
  // Rereads the site list and the stored configuration (SIGHUP); the command line's options still
  // win. Taken up at once, or at the end of the tick under way, so before the next pass. One line
  // on standard error says what changed. A site list that cannot be read or is empty changes
  // nothing.
  void Reload();
  // The port metrics are served on; 0 when they are not.
  quint16 MetricsPort() const;
  // "https" or "http"; whether other machines can reach the metrics.
  QString MetricsScheme() const;
  bool MetricsExposed() const;

  // Ends the run: the outstanding fetch is cancelled, testing switched off, the history written and
  // closed, the transfer sub-log updated as closing the window does. Ended() follows, at once or,
  // when a fetch was under way, once its row has been completed and stored. Later calls do nothing.
  void Stop();

signals:
  // Testing has ended: stopped, or switched off by the run's own Stop option.
  void Ended();

private:
  // One message line on standard error.
  void Tell(const QString& what) const;
  // The end of a stop, once no tick is under way: the history closed, the sub-log updated.
  void Finish();
  void ApplyReload();
  // --delay and --samplers over the stored configuration.
  void ApplyCommandLine(RunSettings& settings, QString* samplerCount) const;
  // The site list of --urls, or else the program folder's; false with `error` when it cannot be
  // read or is empty.
  bool ReadSites(QStringList* urls, QString* error) const;
  // False with `error` when --samplers asks for more samplers than `urls` has addresses: the extra
  // samplers would test no site.
  bool SamplersFit(const QStringList& urls, QString* error) const;

  struct Parts;
  std::unique_ptr<Parts> parts;
  CommandLine line;
  WebConfig webConfig;
  Printer out;
  Printer err;
  QString samplers; // the Samplers text in use
  bool stopping = false;
  bool finished = false;
  bool reloadAsked = false;
  bool badArgument = false;
};
