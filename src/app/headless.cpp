#include "app/headless.h"

#include "alerts/alertchannels.h"
#include "alerts/alerttext.h"
#include "alerts/incidentrules.h"
#include "alerts/incidenttracker.h"
#include "alerts/webhooksender.h"
#include "app/metricsserver.h"
#include "app/startup.h"
#include "core/module1.h"
#include "core/statuspanels.h"
#include "core/urlfile.h"
#include "engine/completedsample.h"
#include "engine/historyrecorder.h"
#include "engine/runsettings.h"
#include "engine/testcycle.h"
#include "history/historystore.h"
#include "history/historytime.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "platform/numbers.h"
#include "platform/textfile.h"
#include "results/metricsregistry.h"
#include "results/resultsmodel.h"
#include "results/transferlog.h"
#include "settings/settingsstore.h"

#include <QSet>

// Everything a run needs, built in Start() in the order the engine wants it.
struct Headless::Parts {
  Module1 state;
  RunSettings settings;
  ResultsModel results;
  StatusPanels bar1{3};
  StatusPanels bar2{5};
  HttpClientArray inet1;
  HttpClient inet2{0};
  TestCycle cycle{state, settings, results, bar1, bar2, inet1, inet2};
  HistoryStore history;
  HistoryRecorder recorder{cycle, settings, history};
  MetricsRegistry metrics;
  std::unique_ptr<MetricsServer> server;
  std::unique_ptr<WebhookSender> webhook;
  std::unique_ptr<IncidentTracker> incidents;
};

namespace {

// The stored configuration, as the window's start-up loads it into its controls.
void ReadConfiguration(RunSettings& settings, QString* samplers) {
  const SettingsStore::StoredOptions stored = SettingsStore::LoadSettings();
  *samplers = stored.samplers;
  settings.delay = stored.delay;
  settings.warning = {stored.warning1, stored.warning2};
  settings.runLength = stored.runLength;
  settings.keepCount = stored.keepCount;
  settings.option = {};
  for (int i = 0; i < stored.options.size() && i < int(settings.option.size()); ++i)
    settings.option[std::size_t(i)] = stored.options.at(i) == QLatin1Char('1');
}

// The program-wide state and the stored configuration, as the window's start-up reads them.
void LoadConfiguration(Module1& state, RunSettings& settings, QString* samplers) {
  Startup::Prepare(state);
  if (SettingsStore::GetRegString(SettingsStore::Name::AccountId).isEmpty())
    SettingsStore::FirstRunSetup();
  else if (SettingsStore::AccountIdDamaged())
    SettingsStore::RepairAccountId();
  ReadConfiguration(settings, samplers);
}

// A site list of the user's own: one address a line; blank lines and surrounding blanks are dropped.
bool ReadSiteList(const QString& path, QStringList* urls) {
  QStringList lines;
  if (!TextFile::ReadLines(path, &lines))
    return false;
  for (const QString& line : lines)
    if (!line.trimmed().isEmpty())
      urls->append(line.trimmed());
  return true;
}

QString Quoted(const QString& text) {
  return QLatin1Char('"') + text + QLatin1Char('"');
}

// What a reload changed, as "name: old -> new" pieces; empty when nothing did.
QStringList Changes(const RunSettings& before, const QString& samplersBefore, const RunSettings& after,
                    const QString& samplersAfter) {
  QStringList said;
  const QSet<QString> was(before.urls.begin(), before.urls.end());
  const QSet<QString> is(after.urls.begin(), after.urls.end());
  const qsizetype added = (is - was).size();
  const qsizetype removed = (was - is).size();
  if (added > 0 || removed > 0)
    said << QStringLiteral("sites: %1 added, %2 removed, %3 in all").arg(added).arg(removed).arg(after.urls.size());
  else if (before.urls != after.urls)
    said << QStringLiteral("sites: a new order, %1 in all").arg(after.urls.size());
  const auto compare = [&](const QString& name, const QString& old, const QString& now) {
    if (old != now)
      said << name + QStringLiteral(": ") + Quoted(old) + QStringLiteral(" -> ") + Quoted(now);
  };
  compare(QStringLiteral("samplers"), samplersBefore, samplersAfter);
  compare(QStringLiteral("delay"), before.delay, after.delay);
  compare(QStringLiteral("first warning"), before.warning[0], after.warning[0]);
  compare(QStringLiteral("second warning"), before.warning[1], after.warning[1]);
  compare(QStringLiteral("run length"), before.runLength, after.runLength);
  compare(QStringLiteral("keep last"), before.keepCount, after.keepCount);
  static const std::array<QString, 4> options = {QStringLiteral("Restart"), QStringLiteral("Save"),
                                                 QStringLiteral("Keep last"), QStringLiteral("Stop")};
  for (std::size_t i = 0; i < options.size(); ++i)
    if (before.option[i] != after.option[i])
      said << options[i] + QStringLiteral(": ") + (after.option[i] ? QStringLiteral("on") : QStringLiteral("off"));
  return said;
}

} // namespace

Headless::Headless(const CommandLine& line, Printer out, Printer err, QObject* parent)
    : QObject(parent), line(line), out(std::move(out)), err(std::move(err)) {}

Headless::~Headless() = default;

bool Headless::Start(QString* error) {
  parts = std::make_unique<Parts>();
  Parts& p = *parts;

  LoadConfiguration(p.state, p.settings, &samplers);
  ApplyCommandLine(p.settings, &samplers);
  if (!ReadSites(&p.settings.urls, error))
    return false;
  if (!SamplersFit(p.settings.urls, error)) {
    badArgument = true;
    return false;
  }

  if (!line.metricsHost.isEmpty()) {
    p.server = std::make_unique<MetricsServer>(p.metrics);
    p.server->Use(webConfig);
    if (!p.server->Listen(line.metricsHost, line.metricsPort, error))
      return false;
  }

  // Incidents go to the webhook of the command line, or else to the stored one. A post given up
  // says so on standard error.
  const QString webhookUrl = line.webhookUrl.isEmpty() ? AlertChannels::WebhookUrl() : line.webhookUrl;
  if (!webhookUrl.isEmpty()) {
    p.webhook = std::make_unique<WebhookSender>(webhookUrl);
    connect(p.webhook.get(), &WebhookSender::Failed, this, &Headless::Tell);
  }

  // A history that cannot be kept says so once; the samples go on.
  connect(&p.history, &HistoryStore::Failed, this, &Headless::Tell);
  Startup::OpenHistory(p.history);

  // Incidents: one line each on standard error, counted in the metrics, posted to the webhook.
  p.incidents = std::make_unique<IncidentTracker>(p.cycle, p.settings, p.history, IncidentRules::Stored());
  connect(p.incidents.get(), &IncidentTracker::Event, this, [this](const AlertEvent& event) {
    const bool ended = event.ended.isValid();
    if (!ended) // an incident begins: its kind is the event's name
      parts->metrics.RecordIncident(event.url, AlertEvent::EventName(event.kind));
    const QString line =
        HistoryTime::Text(ended ? event.ended : event.started) + QLatin1Char(' ') + AlertText::Line(event);
    Tell(line);
    if (parts->webhook)
      parts->webhook->Send(event);
  });

  connect(&p.cycle, &TestCycle::SampleCompleted, this, [this](const CompletedSample& sample) {
    parts->metrics.RecordSample(sample.url, sample.fetched, sample.result, sample.at.toMSecsSinceEpoch());
    parts->metrics.RecordHealth(sample.url, sample.HealthFacts(), sample.fetched.certNotAfterMs);
    this->out(HistoryTime::Text(sample.at) + QLatin1Char('\t') + QString::number(sample.siteId) + QLatin1Char('\t') +
              QString::number(sample.packet) + QLatin1Char('\t') + sample.ping + QLatin1Char('\t') + sample.result +
              QLatin1Char('\t') + sample.url);
  });
  connect(&p.cycle, &TestCycle::ReferenceCompleted, this, [this](const CompletedReference& reference) {
    if (reference.fetched.ok)
      parts->metrics.RecordReference(reference.reference, reference.fetched.seconds);
  });
  // Testing that ends by itself (the run's Stop option) ends the program; so does the end of the
  // tick that a stop found under way.
  connect(&p.cycle, &TestCycle::TestingChanged, this, [this](bool on) {
    if (on)
      return;
    if (stopping)
      Finish();
    else
      Stop();
  });

  // A reload asked for during a tick waits for its end: the next pass has the new sites.
  connect(&p.cycle, &TestCycle::TickEnded, this, [this] {
    if (reloadAsked)
      ApplyReload();
  });

  p.cycle.Text3_Change(samplers);
  p.cycle.Check1_MouseUp(true, TestCycle::SwitchedBy::Program);
  if (!p.cycle.Testing() && !stopping) {
    *error = QStringLiteral("testing could not start (see the lines above)");
    return false;
  }
  return true;
}

void Headless::ApplyCommandLine(RunSettings& settings, QString* samplerCount) const {
  if (line.delaySeconds)
    settings.delay = QString::number(*line.delaySeconds);
  if (line.samplers)
    *samplerCount = QString::number(*line.samplers);
}

bool Headless::ReadSites(QStringList* urls, QString* error) const {
  urls->clear();
  if (line.urlsFile.isEmpty()) {
    *urls = UrlFile::Load();
  } else if (!ReadSiteList(line.urlsFile, urls)) {
    *error = QStringLiteral("cannot read the site list %1").arg(line.urlsFile);
    return false;
  }
  if (urls->isEmpty()) {
    *error = line.urlsFile.isEmpty()
                 ? QStringLiteral("no site to test: add addresses in the window, or give --urls FILE")
                 : QStringLiteral("no site to test in %1").arg(line.urlsFile);
    return false;
  }
  return true;
}

bool Headless::SamplersFit(const QStringList& urls, QString* error) const {
  if (!line.samplers || *line.samplers <= urls.size())
    return true;
  *error = QStringLiteral("--samplers %1 is above the number of addresses to test (%2)")
               .arg(*line.samplers)
               .arg(urls.size());
  return false;
}

void Headless::Reload() {
  if (!parts || stopping)
    return;
  reloadAsked = true;
  if (!parts->cycle.TickRunning())
    ApplyReload();
}

void Headless::ApplyReload() {
  reloadAsked = false;
  Parts& p = *parts;
  RunSettings fresh;
  QString freshSamplers;
  ReadConfiguration(fresh, &freshSamplers);
  ApplyCommandLine(fresh, &freshSamplers);
  QString error;
  if (!ReadSites(&fresh.urls, &error) || !SamplersFit(fresh.urls, &error)) {
    Tell(QStringLiteral("reload: %1; nothing changed").arg(error));
    return;
  }
  const QStringList changes = Changes(p.settings, samplers, fresh, freshSamplers);
  if (changes.isEmpty()) {
    Tell(QStringLiteral("reload: nothing changed"));
    return;
  }
  const bool newRun = fresh.urls.size() != p.settings.urls.size() || fresh.delay != p.settings.delay ||
                      fresh.warning != p.settings.warning;
  p.settings = fresh;
  samplers = freshSamplers;
  // The sampler array as switching on makes it: the Samplers count, and one sampler per site at least.
  p.cycle.Text3_Change(samplers);
  for (int i = 1; i < p.settings.urls.size(); ++i)
    p.inet1.Load(i);
  // A shorter delay than the seconds already counted takes effect at the next tick.
  const double delay = Numbers::Value(p.settings.delay);
  if (delay >= 1 && p.cycle.TickCount >= delay)
    p.cycle.TickCount = qint32(delay) - 1;
  // Sites no longer listed leave the metrics.
  p.metrics.KeepOnly(p.settings.urls);
  // The history's run records the sites, the delay and the warning values it was sampled with.
  if (newRun)
    p.recorder.NewRun();
  Tell(QStringLiteral("reload: ") + changes.join(QStringLiteral("; ")));
}

quint16 Headless::MetricsPort() const {
  return parts && parts->server ? parts->server->Port() : 0;
}

QString Headless::MetricsScheme() const {
  return parts && parts->server ? parts->server->Scheme() : QString();
}

bool Headless::MetricsExposed() const {
  return parts && parts->server && parts->server->Exposed();
}

void Headless::Tell(const QString& what) const {
  err(QStringLiteral("tarvik: ") + what);
}

void Headless::Stop() {
  if (stopping || !parts)
    return;
  stopping = true;
  parts->cycle.Shutdown();
  // A tick under way ends first: the row of the abandoned fetch is completed ("Cancelled") and
  // stored, then TestingChanged(false) comes and the run's end is stamped after it.
  if (!parts->cycle.TickRunning())
    Finish();
}

void Headless::Finish() {
  if (finished)
    return;
  finished = true;
  parts->history.Close();
  if (const QString failed = UpdateTransferLog(parts->results); !failed.isEmpty())
    Tell(failed);
  emit Ended();
}
