// What judging a sample and keeping its site's incidents costs the window's thread: the
// IncidentTracker's work for one completed sample (Health::Judge, the site's streaks, an incident
// begun or ended with its row queued for the history's writer thread and its Event told), timed
// call by call over 20 sites and many passes: fifteen steady sites, one slow, one that flaps, one
// that answers 404, one whose certificate ends in ten days, one refused half of the time. Also
// Health::Judge alone.
//
// Run a Release build: bench_incidents [passes]

#include "alerts/incidenttracker.h"
#include "core/health.h"
#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/completedsample.h"
#include "engine/runsettings.h"
#include "engine/testcycle.h"
#include "history/historystore.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "results/resultsmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void Print(const char* what, std::vector<qint64> ns) {
  if (ns.empty())
    return;
  std::sort(ns.begin(), ns.end());
  const auto at = [&](double q) { return double(ns[size_t(q * double(ns.size() - 1))]) / 1000.0; };
  std::printf("  %-46s median %6.2f us, p95 %6.2f us, p99 %6.2f us, max %8.1f us (%zu calls)\n", what, at(0.5),
              at(0.95), at(0.99), at(1.0), ns.size());
}

// The sample of site `site` (0..19) in pass `pass`, as the test cycle completes it.
CompletedSample Sample(int site, int pass, const QDateTime& at) {
  CompletedSample s;
  s.at = at;
  s.url = QStringLiteral("https://site%1.example").arg(site + 1, 2, 10, QLatin1Char('0'));
  s.siteId = site + 1;
  s.packet = pass + 1;
  double seconds = 0.05 + 0.001 * (pass % 37);
  int status = 200;
  QString result;
  bool answered = true;
  switch (site) {
  case 15: seconds += 1.5; break;                      // slow
  case 16: status = (pass / 3) % 2 ? 500 : 200; break; // flaps every three passes
  case 17: status = 404; break;                        // a missing marker file
  case 19: answered = (pass / 2) % 2 == 0; break;      // refused half of the time
  default: break;
  }
  s.accepted = answered;
  s.fetched.ok = answered;
  s.fetched.seconds = answered ? seconds : 0;
  s.fetched.totalUs = answered ? qint64(seconds * 1e6) : -1;
  s.fetched.status = answered ? status : 0;
  s.fetched.remoteIp = QStringLiteral("192.0.2.1");
  s.fetched.httpVersion = QStringLiteral("1.1");
  s.fetched.certNotAfterMs = at.toMSecsSinceEpoch() + (site == 18 ? 10LL : 200LL) * 86400 * 1000;
  if (!answered)
    result = QStringLiteral("Connection refused");
  else if (seconds >= 1)
    result = QStringLiteral(" => 1");
  s.ping = answered ? QString::number(seconds, 'f', 3) : QStringLiteral("Failed");
  s.result = result;
  return s;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int passes = argc > 1 ? std::max(10, atoi(argv[1])) : 5000;

  Module1 state;
  RunSettings settings;
  ResultsModel results;
  StatusPanels bar1{3};
  StatusPanels bar2{5};
  HttpClientArray inet1;
  HttpClient inet2;
  TestCycle cycle{state, settings, results, bar1, bar2, inet1, inet2};
  QTemporaryDir dir;
  HistoryStore store;
  if (!store.Open(dir.filePath(QStringLiteral("history.sqlite")))) {
    std::fprintf(stderr, "could not open the history\n");
    return 1;
  }
  for (int site = 0; site < 20; ++site)
    settings.urls << Sample(site, 0, QDateTime::currentDateTimeUtc()).url;
  IncidentTracker tracker(cycle, settings, store);
  int events = 0;
  int changes = 0;
  QObject::connect(&tracker, &IncidentTracker::Event, &tracker, [&](const AlertEvent&) { ++events; });
  QObject::connect(&tracker, &IncidentTracker::StatesChanged, &tracker, [&](int, int, int) { ++changes; });
  tracker.TestingChanged(true);

  // Built beforehand: only the tracker's call is timed.
  const QDateTime start = QDateTime::currentDateTimeUtc();
  std::vector<CompletedSample> samples;
  samples.reserve(size_t(passes) * 20);
  for (int pass = 0; pass < passes; ++pass)
    for (int site = 0; site < 20; ++site)
      samples.push_back(Sample(site, pass, start.addSecs(60LL * pass)));

  std::vector<qint64> all;
  std::vector<qint64> told; // the calls that told an event
  all.reserve(samples.size());
  QElapsedTimer timer;
  for (const CompletedSample& sample : samples) {
    const int before = events;
    timer.start();
    tracker.RecordSample(sample);
    const qint64 ns = timer.nsecsElapsed();
    all.push_back(ns);
    if (events != before)
      told.push_back(ns);
  }
  std::vector<qint64> judged;
  judged.reserve(samples.size());
  int up = 0;
  for (const CompletedSample& sample : samples) {
    timer.start();
    up += Health::Judge(sample.HealthFacts(), 1.0).Up() ? 1 : 0;
    judged.push_back(timer.nsecsElapsed());
  }
  store.Flush();

  std::printf("incidents of 20 sites over %d passes (%zu samples): %d events, %d changes of the counts, %d up\n",
              passes, samples.size(), events, changes, up);
  Print("IncidentTracker::RecordSample, every sample", all);
  Print("  of which the samples that told an event", told);
  Print("Health::Judge alone", judged);
  return 0;
}
