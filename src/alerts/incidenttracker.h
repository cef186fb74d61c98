#pragma once

#include "alerts/alertevent.h"
#include "alerts/incidentrules.h"
#include "history/historyincident.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

class HistoryStore;
class TestCycle;
struct CompletedSample;
struct RunSettings;

// The incidents of the sites, made from the test cycle's rows: each completed sample (the fetch its
// row shows; the attempts made before it do not count) is judged by Health::Judge against the first
// warning value, and
//
//   down         begins after DownAfter consecutive down samples, at the first of them, with its
//                cause; ends after UpAfter consecutive up (or slow) samples, at the first of them
//   slow         begins after SlowAfter consecutive slow samples, at the first of them, while the
//                site is not down; ends after UpAfter consecutive samples that are up and not slow,
//                or when the site goes down (at the start of that incident)
//   certificate  begins with a sample whose server certificates end in fewer than CertDays days;
//                ends with a sample whose certificates end later (renewed)
//
// A cancelled sample changes nothing. Every start and end is told (Event) and kept in the history
// (HistoryStore::BeginIncident, EndIncident), so that it survives a restart: when testing starts, the
// incidents the history file holds as going on are taken up where they stood, without being told
// again (an outage across a restart is one incident; its length counts the time nothing was
// sampled), and those of sites no longer in the list are ended then, without an event, since
// nothing is known of such a site any more.
//
// The counts of the sites in each state (StatesChanged) take the sites that have had a sample since
// testing started: a site is down while it has a down incident, slow while it has a slow one, up
// otherwise.
class IncidentTracker : public QObject {
  Q_OBJECT
public:
  IncidentTracker(TestCycle& cycle, const RunSettings& settings, HistoryStore& store,
                  const IncidentRules& rules = IncidentRules(), QObject* parent = nullptr);
  ~IncidentTracker() override;

  const IncidentRules& Rules() const { return rules; }

  // The incidents that go on, by site address then kind.
  QList<HistoryIncident> Ongoing() const;

  void RecordSample(const CompletedSample& sample);
  void TestingChanged(bool on);

signals:
  // An incident began or ended.
  void Event(const AlertEvent& event);
  // The number of sites up, slow and down changed.
  void StatesChanged(int up, int slow, int down);

private:
  // A run of consecutive samples of one kind: how many, and the first one's time and facts.
  struct Streak {
    int count = 0;
    QDateTime since;
    QString cause;
    void Add(const QDateTime& at, const QString& why = QString()) {
      if (count++ == 0) {
        since = at;
        cause = why;
      }
    }
    void Reset() { count = 0; }
  };
  struct Site {
    bool seen = false; // a sample since testing started
    Streak down, up, slow, fast;
    std::optional<HistoryIncident> incident[3]; // by HistoryIncident::Kind, while it goes on
  };

  void Begin(Site& site, const QString& url, HistoryIncident::Kind kind, const QDateTime& started, const QString& cause,
             double pingSeconds);
  void End(Site& site, HistoryIncident::Kind kind, const QDateTime& ended, double pingSeconds);
  void TellStates();

  const RunSettings& settings;
  HistoryStore& store;
  IncidentRules rules;
  QHash<QString, Site> sites;
  bool resumed = false;                   // the history's ongoing incidents were taken up
  std::optional<std::array<int, 3>> told; // the counts last told
};
