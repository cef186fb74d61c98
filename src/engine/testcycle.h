#pragma once

#include "core/menuitem.h"
#include "engine/referencepings.h"
#include "engine/runsettings.h"
#include "results/resultsmodel.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class HttpClient;
class HttpClientArray;
class QTimer;
class StatusPanels;
struct CompletedReference;
struct CompletedSample;
struct FetchResult;
struct Module1;

// The test engine: the ON/OFF switch, the one-second tick that samples every site when the delay
// has elapsed, the end-of-run options, the countdown and waiting counter, the status light and the
// reference pings.
//
// Every fetch waits in a local event loop, so timer ticks, clicks and other handlers run while it
// waits: ticks that arrive during a pass are skipped, and switching off (or quitting) ends the
// outstanding fetch at once, its row completed as a cancelled sample.
class TestCycle : public QObject {
  Q_OBJECT
public:
  // Pictures of the status light: idle, waiting for a remote answer, report submitted, at rest.
  enum Picture { LightIdle = 1, LightWaiting = 2, LightSubmitted = 3, LightRest = 4 };
  // Who turned the switch: a plain click (no Shift, Ctrl or Alt held), or the program itself (a
  // click with one of those keys held counts as the program's). Only a plain click cancels an fc
  // test.
  enum class SwitchedBy { Click, Program };

  TestCycle(Module1& state, RunSettings& settings, ResultsModel& results, StatusPanels& statusBar1,
            StatusPanels& statusBar2, HttpClientArray& inet1, HttpClient& inet2, QObject* parent = nullptr);
  ~TestCycle() override;

  // The switch's mouse-up. `pressed` is the switch's state after the click toggled it (or after the
  // caller set it).
  void Check1_MouseUp(bool pressed, SwitchedBy by);
  bool SwitchPressed() const { return switchPressed; }
  QString SwitchCaption() const { return switchCaption; }
  bool Testing() const;

  // One tick of the test cycle.
  void SampleTick();
  void Timer1_Timer();
  void Timer2_Timer();
  void Timer3_Timer();
  void Timer4_Timer();
  void Inet1_StateChanged(int index, int state);
  void SetStatusLight(bool on);
  void ShowPicture(int picture);
  int PictureShown() const { return picture; }
  // A report was submitted: the light shows it, and Timer2 puts the resting picture back.
  void ShowSubmitted();

  // The reference pings and their rules.
  ReferencePings& RefPings() { return refPings; }

  // The configuration panel's rules. The fc test marker drops when neither the delay nor the run
  // length is 60.
  void FcMarkerRule();
  // The Samplers text changed: the sampler array gets max(1, round(value - 1) + 1) elements. While a
  // fetch waits the change is held back and made when that fetch has ended.
  void Text3_Change(const QString& samplers);

  // Ends any outstanding fetch and switches testing off without a message (closing the program). A
  // tick that is still running does nothing more: no end-of-run options, no countdown. When a tick
  // was running, TestingChanged(false) comes when it has ended (TickRunning() is false then).
  void Shutdown();
  // A tick is under way (possibly waiting for a fetch, with events running meanwhile).
  bool TickRunning() const { return tick != nullptr; }

  qint32 TickCount = 0;
  qint32 RoundCount = 0;
  bool ServiceQueried = false;
  bool StopRequested = false;
  qint16 KeepCycles = 0;

  // The first switch-on's service query: true when a record was received whole.
  std::function<bool()> QueryService;
  // Runs an item of the menu panel (Configure, Help) when testing cannot start after all.
  std::function<void(MenuItem item)> MenuAction;
  // How many repeats of a slow first-pass sample are made before its measurement is kept.
  static constexpr int MaxFirstPassRepeats = 5;

signals:
  void SwitchChanged(bool pressed, const QString& caption);
  void PictureChanged(int picture);
  void RefTimeChanged(int i, const QString& text);
  void CaptionChanged(const QString& caption);
  // A sample's row has been completed (accepted, failed or cancelled). Neither this nor
  // AttemptCompleted is told for a sampler without an address (more samplers than addresses, or a
  // blank entry): such a row stays in the results table and goes no further.
  void SampleCompleted(const CompletedSample& sample);
  // A fetch of a row that is made again: a failed one before its retry, a slow one of the first
  // pass before it is measured again (finalAttempt false). Its row is not completed yet.
  void AttemptCompleted(const CompletedSample& attempt);
  // A reference ping has ended, ok or not.
  void ReferenceCompleted(const CompletedReference& reference);
  // A tick has ended (after its pass, the end-of-run check and the countdown).
  void TickEnded();
  // Testing was switched on (a run begins) or off. Switched off during a tick, the end is told when
  // that tick has ended: after the SampleCompleted of the row whose fetch was abandoned.
  void TestingChanged(bool on);

private:
  // The tick that is running, on SampleTick's stack: while there is one, a further tick is skipped,
  // and switching off marks it so that its pass ends.
  struct Tick {
    bool aborted = false; // testing was switched off during the tick: its pass ends
    bool restart = false; // the end-of-run check restarted the run: an extra tick is due
  };

  void SamplingPass(Tick& tick);
  void EndOfRunCheck(Tick& tick);
  void QueueExtraTick();
  void Countdown();
  void SwitchOn();
  // The first switch-on's service query with its version notice; false when the switch-on ends
  // here (switched off while the query waited, or the answer has no date).
  bool AskServiceOnce();
  void SwitchOff();
  void SetSwitch(bool pressed, const QString& caption);
  FetchResult Fetch(int sampler, const QString& url);
  // Fetches until the sample is kept: a failed fetch is made once more, and in the first pass of a
  // run a slow sample is measured again, at most MaxFirstPassRepeats times ("*" in its Result
  // meanwhile). Every fetch that is not kept is told (AttemptCompleted). Returns at once when the
  // tick is aborted; `attempts` receives the number of fetches made.
  FetchResult FetchWithRetry(const Tick& tick, int sampler, const QString& url, ResultsModel::RowId row, int* attempts);
  void ResizeSamplers(const QString& samplers);
  void CompleteSample(ResultsModel::RowId row, int sampler, const QString& url, const FetchResult& result,
                      bool cancelled, int attempt);
  // Tells a fetch of sampler's row that is made again.
  void TellAttempt(int sampler, const QString& url, const FetchResult& fetched, int attempt);
  // A ping at a warning value: the row's mark and " => <warning>"; the sixth red warning of a clock
  // hour starts a reference pass.
  void MarkWarning(ResultsModel::RowId row, double ping);
  // The Result of a completed sample: "Cancelled", the failure, or what the answer's body is.
  void WriteResult(ResultsModel::RowId row, const FetchResult& fetched, bool cancelled);
  // What a body is when it is not the marker file: "Empty", "Code" or "TXT"; empty for the marker.
  // The body is judged as the bytes that came (one byte one character); "Code" is a "<" anywhere
  // in the whole body, also past the part that is kept.
  static QString BodyClass(const FetchResult& fetched);

  Module1& state;
  // The timers, children of the cycle by these names: the tick (1 s), the light's rest after a
  // submission (10 s), the countdown (50 ms) and the waiting counter (1 s).
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QTimer* Timer3 = nullptr;
  QTimer* Timer4 = nullptr;

  RunSettings& settings;
  ResultsModel& results;
  StatusPanels& bar1;
  StatusPanels& bar2;
  HttpClientArray& inet1;
  HttpClient& inet2;

  ReferencePings refPings;

  bool switchPressed = false;
  QString switchCaption = QStringLiteral("OFF");
  int picture = LightRest;
  Tick* tick = nullptr;                   // the running tick, or none
  bool fetching = false;                  // a sampler's fetch waits (the sampler count may not change)
  std::optional<QString> pendingSamplers; // a sampler count that waits for the fetch to end
  bool extraTickAllowed = false;          // the last Timer1 tick may still be followed by one extra tick
  bool shutDown = false;                  // the program is ending: a running tick does nothing more
  bool offUntold = false;                 // switched off during the running tick: told when it ends
};
