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
#include "platform/textfile.h"
#include "results/metricsregistry.h"
#include "results/resultsmodel.h"
#include "results/transferlog.h"
#include "settings/settingsstore.h"

#include <cstdio>

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

// The program-wide state and the stored configuration, as the window's start-up reads them.
void LoadConfiguration(Module1& state, RunSettings& settings, QString* samplers) {
  Startup::Prepare(state);
  if (SettingsStore::GetRegString(SettingsStore::Name::AccountId).isEmpty())
    SettingsStore::FirstRunSetup();
  else if (SettingsStore::AccountIdDamaged())
    SettingsStore::RepairAccountId();

  const SettingsStore::StoredOptions stored = SettingsStore::LoadSettings();
  *samplers = stored.samplers;
  settings.delay = stored.delay;
  settings.warning = {stored.warning1, stored.warning2};
  settings.runLength = stored.runLength;
  settings.keepCount = stored.keepCount;
  for (int i = 0; i < stored.options.size() && i < int(settings.option.size()); ++i)
    settings.option[std::size_t(i)] = stored.options.at(i) == QLatin1Char('1');
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

} // namespace

Headless::Headless(const CommandLine& line, std::function<void(const QString&)> out, QObject* parent)
    : QObject(parent), line(line), out(std::move(out)) {}

Headless::~Headless() = default;

bool Headless::Start(QString* error) {
  parts = std::make_unique<Parts>();
  Parts& p = *parts;

  QString samplers;
  LoadConfiguration(p.state, p.settings, &samplers);
  if (line.delaySeconds)
    p.settings.delay = QString::number(*line.delaySeconds);
  if (line.samplers)
    samplers = QString::number(*line.samplers);
  if (line.urlsFile.isEmpty()) {
    p.settings.urls = UrlFile::Load();
  } else if (!ReadSiteList(line.urlsFile, &p.settings.urls)) {
    *error = QStringLiteral("cannot read the site list %1").arg(line.urlsFile);
    return false;
  }
  if (p.settings.urls.isEmpty()) {
    *error = line.urlsFile.isEmpty()
                 ? QStringLiteral("no site to test: add addresses in the window, or give --urls FILE")
                 : QStringLiteral("no site to test in %1").arg(line.urlsFile);
    return false;
  }

  if (!line.metricsHost.isEmpty()) {
    p.server = std::make_unique<MetricsServer>(p.metrics);
    if (!p.server->Listen(line.metricsHost, line.metricsPort, error))
      return false;
  }

  // Incidents go to the webhook of the command line, or else to the stored one. A post given up
  // says so on standard error.
  const QString webhookUrl = line.webhookUrl.isEmpty() ? AlertChannels::WebhookUrl() : line.webhookUrl;
  if (!webhookUrl.isEmpty()) {
    p.webhook = std::make_unique<WebhookSender>(webhookUrl);
    connect(p.webhook.get(), &WebhookSender::Failed, this,
            [](const QString& said) { std::fprintf(stderr, "tarvik: %s\n", said.toLocal8Bit().constData()); });
  }

  // A history that cannot be kept says so once; the samples go on.
  connect(&p.history, &HistoryStore::Failed, this,
          [](const QString& said) { std::fprintf(stderr, "tarvik: %s\n", said.toLocal8Bit().constData()); });
  Startup::OpenHistory(p.history);

  // Incidents: one line each on standard error, counted in the metrics, posted to the webhook.
  p.incidents = std::make_unique<IncidentTracker>(p.cycle, p.settings, p.history, IncidentRules::Stored());
  connect(p.incidents.get(), &IncidentTracker::Event, this, [this](const AlertEvent& event) {
    const bool ended = event.ended.isValid();
    if (!ended) // an incident begins: its kind is the event's name
      parts->metrics.RecordIncident(event.url, AlertEvent::EventName(event.kind));
    const QString line =
        HistoryTime::Text(ended ? event.ended : event.started) + QLatin1Char(' ') + AlertText::Line(event);
    std::fprintf(stderr, "tarvik: %s\n", line.toLocal8Bit().constData());
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
  // Testing that ends by itself (the run's Stop option) ends the program.
  connect(&p.cycle, &TestCycle::TestingChanged, this, [this](bool on) {
    if (!on)
      Stop();
  });

  p.cycle.Text3_Change(samplers);
  p.cycle.Check1_MouseUp(true, TestCycle::SwitchedBy::Program);
  if (!p.cycle.Testing() && !stopped) {
    *error = QStringLiteral("testing could not start (see the lines above)");
    return false;
  }
  return true;
}

quint16 Headless::MetricsPort() const {
  return parts && parts->server ? parts->server->Port() : 0;
}

void Headless::Stop() {
  if (stopped || !parts)
    return;
  stopped = true;
  parts->cycle.Shutdown();
  parts->history.Close();
  UpdateTransferLog(parts->results);
  emit Ended();
}
