#include "alerts/incidenttracker.h"

#include "core/health.h"
#include "engine/completedsample.h"
#include "engine/runsettings.h"
#include "engine/testcycle.h"
#include "history/historystore.h"
#include "platform/numbers.h"

#include <algorithm>

namespace {

using Kind = HistoryIncident::Kind;

constexpr qint64 DayMs = 86400 * 1000;

int Index(Kind kind) {
  return static_cast<int>(kind);
}

AlertEvent::Kind EventKind(Kind kind, bool ended) {
  switch (kind) {
  case Kind::Down: return ended ? AlertEvent::Kind::Up : AlertEvent::Kind::Down;
  case Kind::Slow: return ended ? AlertEvent::Kind::SlowEnd : AlertEvent::Kind::Slow;
  case Kind::Certificate: return AlertEvent::Kind::Certificate;
  }
  return AlertEvent::Kind::Down;
}

} // namespace

IncidentTracker::IncidentTracker(TestCycle& cycle, const RunSettings& settings, HistoryStore& store,
                                 const IncidentRules& rules, QObject* parent)
    : QObject(parent), settings(settings), store(store), rules(rules) {
  connect(&cycle, &TestCycle::SampleCompleted, this, &IncidentTracker::RecordSample);
  connect(&cycle, &TestCycle::TestingChanged, this, &IncidentTracker::TestingChanged);
}

IncidentTracker::~IncidentTracker() = default;

QList<HistoryIncident> IncidentTracker::Ongoing() const {
  QList<HistoryIncident> ongoing;
  for (const Site& site : sites)
    for (const auto& incident : site.incident)
      if (incident)
        ongoing << *incident;
  std::sort(ongoing.begin(), ongoing.end(), [](const HistoryIncident& a, const HistoryIncident& b) {
    return a.url != b.url ? a.url < b.url : a.kind < b.kind;
  });
  return ongoing;
}

void IncidentTracker::TestingChanged(bool on) {
  if (!on)
    return;
  if (!resumed) {
    // The history file is open by now: what went on when the program last ended goes on.
    resumed = true;
    for (const HistoryIncident& incident : store.OngoingIncidents()) {
      auto& slot = sites[incident.url].incident[Index(incident.kind)];
      if (!slot)
        slot = incident;
    }
  }
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (auto site = sites.begin(); site != sites.end();) {
    if (!settings.urls.contains(site.key())) {
      for (const Kind kind : {Kind::Down, Kind::Slow, Kind::Certificate})
        if (site->incident[Index(kind)])
          store.EndIncident(site.key(), kind, now);
      site = sites.erase(site);
      continue;
    }
    // Each run counts its own streaks and its own sites.
    site->seen = false;
    site->down.Reset();
    site->up.Reset();
    site->slow.Reset();
    site->fast.Reset();
    ++site;
  }
}

void IncidentTracker::RecordSample(const CompletedSample& sample) {
  if (sample.cancelled || !sample.finalAttempt)
    return;
  const Health::Facts facts = sample.HealthFacts();
  const Health::Verdict verdict = Health::Judge(facts, Numbers::Value(settings.warning[0]));
  const double ping = sample.accepted ? sample.fetched.seconds : -1;
  const QString& url = sample.url;
  Site& site = sites[url];
  site.seen = true;
  auto& down = site.incident[Index(Kind::Down)];
  auto& slow = site.incident[Index(Kind::Slow)];

  if (verdict.Down()) {
    site.up.Reset();
    site.slow.Reset();
    site.fast.Reset();
    site.down.Add(sample.at, Health::CauseText(verdict, facts));
    if (!down && site.down.count >= rules.downAfter) {
      // A down site is neither slow nor fast.
      if (slow)
        End(site, Kind::Slow, site.down.since, ping);
      Begin(site, url, Kind::Down, site.down.since, site.down.cause, ping);
    }
  } else {
    site.down.Reset();
    if (verdict.state == Health::State::Slow) {
      site.fast.Reset();
      site.slow.Add(sample.at, QStringLiteral("Ping %1 s").arg(Numbers::Fixed3(sample.fetched.seconds)));
    } else {
      site.slow.Reset();
      site.fast.Add(sample.at);
    }
    if (down) {
      site.up.Add(sample.at);
      if (site.up.count >= rules.upAfter) {
        End(site, Kind::Down, site.up.since, ping);
        site.up.Reset();
      }
    }
    if (!down) {
      if (!slow && site.slow.count >= rules.slowAfter)
        Begin(site, url, Kind::Slow, site.slow.since, site.slow.cause, ping);
      else if (slow && site.fast.count >= rules.upAfter)
        End(site, Kind::Slow, site.fast.since, ping);
    }
  }

  // The certificates of an https answer, whatever the sample's health.
  auto& certificate = site.incident[Index(Kind::Certificate)];
  if (sample.fetched.certNotAfterMs >= 0) {
    const qint64 left = sample.fetched.certNotAfterMs - sample.at.toMSecsSinceEpoch();
    if (left < qint64(rules.certDays) * DayMs) {
      if (!certificate)
        Begin(site, url, Kind::Certificate, sample.at, Health::ExpiryText(left), ping);
    } else if (certificate) {
      End(site, Kind::Certificate, sample.at, ping);
    }
  }
  TellStates();
}

void IncidentTracker::Begin(Site& site, const QString& url, Kind kind, const QDateTime& started, const QString& cause,
                            double pingSeconds) {
  HistoryIncident incident;
  incident.url = url;
  incident.kind = kind;
  incident.started = started;
  incident.cause = cause;
  site.incident[Index(kind)] = incident;
  store.BeginIncident(incident);
  emit Event(AlertEvent{.kind = EventKind(kind, false),
                        .url = url,
                        .cause = cause,
                        .started = started,
                        .ended = QDateTime(),
                        .pingSeconds = pingSeconds});
}

void IncidentTracker::End(Site& site, Kind kind, const QDateTime& ended, double pingSeconds) {
  const HistoryIncident incident = *site.incident[Index(kind)];
  site.incident[Index(kind)].reset();
  store.EndIncident(incident.url, kind, ended);
  emit Event(AlertEvent{.kind = EventKind(kind, true),
                        .url = incident.url,
                        .cause = incident.cause,
                        .started = incident.started,
                        .ended = ended,
                        .pingSeconds = pingSeconds});
}

void IncidentTracker::TellStates() {
  std::array<int, 3> counts{}; // up, slow, down
  for (const Site& site : sites) {
    if (!site.seen)
      continue;
    if (site.incident[Index(Kind::Down)])
      ++counts[2];
    else if (site.incident[Index(Kind::Slow)])
      ++counts[1];
    else
      ++counts[0];
  }
  if (told && *told == counts)
    return;
  told = counts;
  emit StatesChanged(counts[0], counts[1], counts[2]);
}
