#include "engine/historyrecorder.h"

#include "engine/completedsample.h"
#include "engine/runsettings.h"
#include "engine/testcycle.h"
#include "history/historysample.h"
#include "history/historystore.h"
#include "platform/numbers.h"

namespace {

// The parts of a fetch the history keeps, the same for a site and a reference.
void FillFetch(HistorySample& sample, const FetchResult& fetched, bool accepted) {
  sample.pingUs = accepted ? fetched.totalUs : -1;
  sample.dnsUs = fetched.dnsUs;
  sample.connectUs = fetched.connectUs;
  sample.tlsUs = fetched.tlsUs;
  sample.ttfbUs = fetched.ttfbUs;
  sample.status = fetched.status;
  sample.remoteIp = fetched.remoteIp;
  sample.httpVersion = fetched.httpVersion;
  // A failed request may have received part of a body; the count is only told for a whole one.
  sample.bytes = fetched.ok ? fetched.bytes : -1;
  sample.certNotAfterMs = fetched.certNotAfterMs;
}

} // namespace

HistoryRecorder::HistoryRecorder(TestCycle& cycle, const RunSettings& settings, HistoryStore& store, QObject* parent)
    : QObject(parent), settings(settings), store(store) {
  connect(&cycle, &TestCycle::SampleCompleted, this, &HistoryRecorder::RecordSample);
  connect(&cycle, &TestCycle::AttemptCompleted, this, &HistoryRecorder::RecordSample);
  connect(&cycle, &TestCycle::ReferenceCompleted, this, &HistoryRecorder::RecordReference);
  connect(&cycle, &TestCycle::TestingChanged, this, &HistoryRecorder::TestingChanged);
}

void HistoryRecorder::TestingChanged(bool on) {
  if (on && runId < 0) {
    runId = store.BeginRun(int(settings.urls.size()), Numbers::Value(settings.delay),
                           Numbers::Value(settings.warning[0]), Numbers::Value(settings.warning[1]));
    if (runId >= 0)
      latestRunId = runId;
  } else if (!on && runId >= 0) {
    store.EndRun(runId);
    runId = -1;
  }
}

void HistoryRecorder::NewRun() {
  if (runId < 0)
    return;
  TestingChanged(false);
  TestingChanged(true);
}

void HistoryRecorder::RecordSample(const CompletedSample& completed) {
  HistorySample sample;
  sample.at = completed.at;
  sample.kind = HistorySample::Kind::Site;
  sample.url = completed.url;
  sample.runId = runId;
  sample.siteId = completed.siteId;
  sample.packet = completed.packet;
  FillFetch(sample, completed.fetched, completed.accepted);
  sample.result = completed.result;
  sample.attempt = completed.attempt;
  sample.finalAttempt = completed.finalAttempt;
  store.Append(sample);
  if (store.IsOn())
    emit Recorded(sample.url);
}

void HistoryRecorder::RecordReference(const CompletedReference& reference) {
  HistorySample sample;
  sample.at = reference.at;
  sample.kind = HistorySample::Kind::Ref;
  sample.url = reference.url;
  sample.runId = runId;
  FillFetch(sample, reference.fetched, reference.fetched.ok);
  sample.result = reference.fetched.ok ? QString() : reference.fetched.error;
  store.Append(sample);
  if (store.IsOn())
    emit Recorded(sample.url);
}
