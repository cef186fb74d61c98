#include "engine/testcycle.h"

#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/completedsample.h"
#include "engine/keeplast.h"
#include "platform/addresstext.h"
#include "platform/clock.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"
#include "platform/shell.h"
#include "results/reportlog.h"
#include "results/sitepanels.h"
#include "results/statistics.h"
#include "services/servicequery.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QScopedValueRollback>
#include <QTimer>

#include <utility>

namespace {

QTimer* MakeTimer(QObject* parent, const char* name, int interval) {
  auto* timer = new QTimer(parent);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(interval);
  return timer;
}

// The Result of a sample whose fetch was abandoned by switching off, and panel 3 after its pass.
const QString Cancelled = QStringLiteral("Cancelled");

// Rounds halves to even; a value outside the 32-bit range gives `fallback`.
qint32 Whole(double value, qint32 fallback = 0) {
  return Numbers::ToInt32(value).value_or(fallback);
}

// A sampler beyond the URL list, or an entry of blanks only, fetches no site: its rows stay in the
// table and go no further (no history, no metrics, no alerts).
bool NoSite(const QString& url) {
  return url.trimmed().isEmpty();
}

} // namespace

TestCycle::TestCycle(Module1& state, RunSettings& settings, ResultsModel& results, StatusPanels& statusBar1,
                     StatusPanels& statusBar2, HttpClientArray& inet1, HttpClient& inet2, QObject* parent)
    : QObject(parent), state(state), settings(settings), results(results), bar1(statusBar1), bar2(statusBar2),
      inet1(inet1), inet2(inet2), refPings(state, inet2, [this](bool on) { SetStatusLight(on); }) {
  connect(&refPings, &ReferencePings::RefTimeChanged, this, &TestCycle::RefTimeChanged);
  connect(&refPings, &ReferencePings::ReferenceCompleted, this, &TestCycle::ReferenceCompleted);
  Timer1 = MakeTimer(this, "Timer1", 1000);
  Timer2 = MakeTimer(this, "Timer2", 10000);
  Timer3 = MakeTimer(this, "Timer3", 50);
  Timer4 = MakeTimer(this, "Timer4", 1000);
  connect(Timer1, &QTimer::timeout, this, &TestCycle::Timer1_Timer);
  connect(Timer2, &QTimer::timeout, this, &TestCycle::Timer2_Timer);
  connect(Timer3, &QTimer::timeout, this, &TestCycle::Timer3_Timer);
  connect(Timer4, &QTimer::timeout, this, &TestCycle::Timer4_Timer);
  connect(&inet1, &HttpClientArray::StateChanged, this, &TestCycle::Inet1_StateChanged);

  // The vendor's service is asked through the first sampler client while the light and the
  // waiting counter show the wait.
  QueryService = [this] {
    return ServiceQuery::QueryService(this->state, *this->inet1.At(0), [this](bool waiting) {
      if (waiting) {
        SetStatusLight(true);
        Timer4->start();
      } else {
        Timer4->stop();
        bar2.SetText(3, QString());
        SetStatusLight(false);
      }
    });
  };
}

TestCycle::~TestCycle() = default;

bool TestCycle::Testing() const {
  return Timer1->isActive();
}

// ---- The switch ----------------------------------------------------------------------------

void TestCycle::SetSwitch(bool pressed, const QString& caption) {
  switchPressed = pressed;
  switchCaption = caption;
  emit SwitchChanged(pressed, caption);
}

void TestCycle::Check1_MouseUp(bool pressed, SwitchedBy by) {
  switchPressed = pressed;
  if (by == SwitchedBy::Click && state.FcTestState != Module1::FcTest::None) {
    MessageBoxes::MsgBox(QStringLiteral("fc test canceled"));
    state.FcTestState = Module1::FcTest::None;
    emit CaptionChanged(Module1::AppTitle + QStringLiteral(" vok"));
  }
  if (switchPressed)
    SwitchOn();
  else
    SwitchOff();
}

void TestCycle::SwitchOn() {
  if (settings.urls.isEmpty()) {
    SetSwitch(false, switchCaption);
    return;
  }
  if (results.Count() == 0) {
    state.ReportSubmitted = false;
    RoundCount = 0;
  }
  if (!ServiceQueried && QueryService && !AskServiceOnce())
    return;
  if (settings.urls.isEmpty()) {
    // The list was emptied while the query waited: show the configuration and the help instead.
    if (MenuAction) {
      MenuAction(MenuItem::Configure);
      MenuAction(MenuItem::Help);
    }
    return;
  }
  for (int i = 1; i < settings.urls.size(); ++i)
    inet1.Load(i);
  SetSwitch(true, QStringLiteral("ON"));
  Timer1->start();
  // The last run ends before this one begins, even when its tick has not ended yet.
  if (std::exchange(offUntold, false))
    emit TestingChanged(false);
  emit TestingChanged(true);
  TickCount = Whole(Numbers::Value(settings.delay) - 1);
  Timer3->start();
  bar2.SetText(4, settings.delay);
}

bool TestCycle::AskServiceOnce() {
  const bool answered = QueryService();
  // The user may have switched off again while the query waited.
  if (!switchPressed)
    return false;
  if (!answered)
    return true; // asked again at the next switch-on
  if (state.ServiceField.date.isEmpty()) {
    MessageBoxes::MsgBox(QStringLiteral("Failed to locate server"));
    SetSwitch(false, switchCaption);
    return false;
  }
  ServiceQueried = true;
  if (Module1::Version != state.ServiceField.newestVersion) {
    const auto answer =
        MessageBoxes::MsgBox(QStringLiteral("Curr version is: ") + Module1::Version + QStringLiteral(" Newest ver: ") +
                                 state.ServiceField.newestVersion,
                             MessageBoxes::YesNo, MessageBoxes::NoIcon, QStringLiteral("Visit Velmora website?"));
    if (answer == MessageBoxes::Yes)
      Shell::Instance().Open(state.VendorURL + Module1::AppTitle.toLower());
  }
  return true;
}

void TestCycle::SwitchOff() {
  const bool wasTesting = Testing();
  Timer1->stop();
  Timer4->stop();
  SetSwitch(switchPressed, QStringLiteral("OFF"));
  // An outstanding fetch ends at once and ends its pass.
  if (tick) {
    tick->aborted = true;
    for (int i = 0; i < inet1.Count(); ++i)
      if (HttpClient* client = inet1.At(i))
        client->Cancel();
    inet2.Cancel();
  }
  for (int i = 1; i < settings.urls.size(); ++i)
    inet1.Unload(i);
  Timer3->stop();
  SetSwitch(false, QStringLiteral("OFF"));
  if (StopRequested)
    bar2.SetText(1, QStringLiteral("Stop requested by configuration"));
  StopRequested = false;
  // The end of testing is told once the running tick has ended: after the row whose fetch was
  // abandoned has been completed, so that everything the run sampled comes before its end.
  if (wasTesting && tick)
    offUntold = true;
  else if (wasTesting)
    emit TestingChanged(false);
}

void TestCycle::Shutdown() {
  shutDown = true;
  StopRequested = false;
  SwitchOff();
  inet2.Cancel();
  Timer2->stop();
}

// ---- The tick --------------------------------------------------------------------------------

void TestCycle::Timer1_Timer() {
  // A tick that arrives while a pass waits for a fetch is skipped.
  if (tick)
    return;
  extraTickAllowed = true;
  SampleTick();
  if (state.ServiceOk && refPings.DueAfterMidnight())
    refPings.RefPing();
}

void TestCycle::SampleTick() {
  if (tick)
    return;
  Tick current;
  {
    const QScopedValueRollback running(tick, &current);
    ++TickCount;
    // Lets the clicks and timer events that queued up since the last tick run first: a switch-off
    // among them ends this tick's pass before it begins.
    QCoreApplication::processEvents();
    // A delay below one second (zero, negative, or no number at all) never samples. Switching off
    // (while events ran here, or during the pass) ends the pass but not the tick: the end-of-run
    // check and the countdown still run. Only a program that is ending skips them.
    const double delay = Numbers::Value(settings.delay);
    if (!current.aborted && delay >= 1 && delay == double(TickCount))
      SamplingPass(current);
    if (!shutDown) {
      EndOfRunCheck(current);
      Countdown();
    }
  }
  if (std::exchange(offUntold, false))
    emit TestingChanged(false);
  emit TickEnded();
  if (current.restart)
    QueueExtraTick();
}

// The extra tick of a restart runs as an ordinary tick of its own, queued at once; at most one runs
// per tick of Timer1, so a restart within the extra tick waits for the next timer tick.
void TestCycle::QueueExtraTick() {
  if (!extraTickAllowed)
    return;
  extraTickAllowed = false;
  QTimer::singleShot(0, this, [this] {
    if (Testing())
      SampleTick();
  });
}

FetchResult TestCycle::Fetch(int sampler, const QString& url) {
  bar2.SetText(3, QString());
  Timer4->start();
  SetStatusLight(true);
  FetchResult result;
  if (HttpClient* client = inet1.At(sampler)) {
    client->Cancel();
    // Events run while the fetch waits: a switch-off cancels it, and a change of the sampler count
    // waits for its end (Text3_Change).
    const QScopedValueRollback waiting(fetching, true);
    result = client->OpenUrl(url + QStringLiteral("/vok.txt"));
  } else {
    result.error = QStringLiteral("Bad address");
  }
  Timer4->stop();
  SetStatusLight(false);
  if (pendingSamplers) {
    const QString samplers = *pendingSamplers;
    pendingSamplers.reset();
    ResizeSamplers(samplers);
  }
  return result;
}

void TestCycle::SamplingPass(Tick& tick) {
  ++RoundCount;
  if (state.ServiceOk && RoundCount == 1 && !state.ServiceField.refAddress1.isEmpty())
    refPings.RefPing();
  if (tick.aborted)
    return;

  // The sampler count is read again after every fetch: a change made while a fetch waited takes
  // effect when that fetch has ended.
  for (int i = 0; i < inet1.Count() && !tick.aborted; ++i) {
    const QString url = i < settings.urls.size() ? settings.urls.at(i) : QString();
    const ResultsModel::RowId row = results.AddRow(Clock::TimeText());
    results.SetText(row, ResultsModel::Ping, QStringLiteral("Sent"));
    results.SetText(row, ResultsModel::Result, QStringLiteral("Waiting"));
    int attempts = 0;
    const FetchResult fetched = FetchWithRetry(tick, i, url, row, &attempts);
    // A fetch abandoned by switching off completes its row as a cancelled sample and ends the pass.
    CompleteSample(row, i, url, fetched, tick.aborted, attempts);
  }

  for (int siteId = 1; siteId <= settings.urls.size(); ++siteId)
    SitePanels::ShowBestWorst(bar1, Statistics::BestWorstOf(results, siteId));
  if (tick.aborted) {
    // Whichever sampler was waiting, the pass ends on the state of its transfer.
    bar2.SetText(3, Cancelled);
    return;
  }
  const QString waited = bar2.Text(3);
  if (!waited.isEmpty() && results.Count() > 0)
    results.SetText(results.RowAt(results.Count() - 1), ResultsModel::Result, waited);
}

FetchResult TestCycle::FetchWithRetry(const Tick& tick, int sampler, const QString& url, ResultsModel::RowId row,
                                      int* attempts) {
  bool retried = false;
  int repeats = 0;
  for (*attempts = 1;; ++*attempts) {
    FetchResult fetched = Fetch(sampler, url);
    if (tick.aborted)
      return fetched;
    if (!fetched.ok) {
      // A failed fetch is made once more from the start; when that fails too, the failure is
      // recorded. Each failure has its retry, a failed first-pass repeat too.
      if (retried)
        return fetched;
      retried = true;
      TellAttempt(sampler, url, fetched, *attempts);
      continue;
    }
    retried = false;
    // In the first pass of a run a slow sample is measured again, at most a few times.
    const double p = Numbers::Value(Numbers::Fixed3(fetched.seconds));
    const bool slow = p >= Numbers::Value(settings.warning[0]) || p >= Numbers::Value(settings.warning[1]);
    if (RoundCount != 1 || !slow || repeats >= MaxFirstPassRepeats)
      return fetched;
    results.SetText(row, ResultsModel::Result, QStringLiteral("*"));
    ++repeats;
    TellAttempt(sampler, url, fetched, *attempts);
  }
}

void TestCycle::TellAttempt(int sampler, const QString& url, const FetchResult& fetched, int attempt) {
  if (NoSite(url))
    return;
  // The Ping and Result the row would have shown: the failure, or what the body is, or else the
  // warning note.
  QString result;
  if (!fetched.ok) {
    result = fetched.error;
  } else {
    result = BodyClass(fetched);
    const double p = Numbers::Value(Numbers::Fixed3(fetched.seconds));
    if (result.isEmpty() && p >= Numbers::Value(settings.warning[1]))
      result = QStringLiteral(" => ") + settings.warning[1];
    else if (result.isEmpty() && p >= Numbers::Value(settings.warning[0]))
      result = QStringLiteral(" => ") + settings.warning[0];
  }
  CompletedSample told{.at = QDateTime::currentDateTimeUtc(),
                       .url = AddressText::Shown(url),
                       .siteId = sampler + 1,
                       .packet = RoundCount,
                       .accepted = fetched.ok,
                       .cancelled = false,
                       .ping = fetched.ok ? Numbers::Fixed3(fetched.seconds) : QStringLiteral("Failed"),
                       .result = result,
                       .fetched = fetched,
                       .attempt = attempt,
                       .finalAttempt = false};
  told.fetched.body.clear();
  emit AttemptCompleted(told);
}

void TestCycle::CompleteSample(ResultsModel::RowId row, int sampler, const QString& url, const FetchResult& fetched,
                               bool cancelled, int attempt) {
  TickCount = 0;
  results.SetText(row, ResultsModel::Result, QString());
  const bool ok = fetched.ok && !cancelled;
  const QString pingText = ok ? Numbers::Fixed3(fetched.seconds) : QStringLiteral("Failed");
  if (ok)
    MarkWarning(row, Numbers::Value(pingText));
  else if (!cancelled)
    results.SetMark(row, ResultsModel::Red, true);
  results.SetText(row, ResultsModel::Packet, QString::number(RoundCount));
  const QString firstSite = results.Count() > 0 ? results.TextAt(0, ResultsModel::SiteId) : QString();
  bar2.SetText(1, QStringLiteral("Site: ") + firstSite + QStringLiteral(" =  ") + AddressText::Shown(url).mid(7));
  bar2.SetText(2, settings.delay + QStringLiteral(" sec"));
  WriteResult(row, fetched, cancelled);
  results.SetText(row, ResultsModel::Ping, pingText);
  // Sampler i tests the URL list's entry i: the site whose Site ID is i + 1.
  const int siteId = sampler + 1;
  results.SetText(row, ResultsModel::SiteId, QString::number(siteId));
  const QString average = Statistics::SiteAverage(results, siteId);
  SitePanels::ShowAverage(bar1, average);
  results.SetText(row, ResultsModel::Average, average);

  if (NoSite(url))
    return; // the row is the sample's only trace
  CompletedSample completed{.at = QDateTime::currentDateTimeUtc(),
                            .url = AddressText::Shown(url),
                            .siteId = siteId,
                            .packet = RoundCount,
                            .accepted = ok,
                            .cancelled = cancelled,
                            .ping = pingText,
                            .result = results.Text(row, ResultsModel::Result),
                            .fetched = fetched,
                            .attempt = attempt};
  completed.fetched.body.clear();
  emit SampleCompleted(completed);
}

void TestCycle::MarkWarning(ResultsModel::RowId row, double ping) {
  const auto mark = [&](int colour, const QString& warning) {
    results.SetMark(row, colour, true);
    results.SetText(row, ResultsModel::Result,
                    results.Text(row, ResultsModel::Result) + QStringLiteral(" => ") + warning);
  };
  if (ping >= Numbers::Value(settings.warning[1])) {
    mark(ResultsModel::Red, settings.warning[1]);
    if (!refPings.WarnHourGate())
      refPings.RefPing();
  } else if (ping >= Numbers::Value(settings.warning[0])) {
    mark(ResultsModel::Blue, settings.warning[0]);
  }
}

void TestCycle::WriteResult(ResultsModel::RowId row, const FetchResult& fetched, bool cancelled) {
  if (cancelled) {
    results.SetText(row, ResultsModel::Result, Cancelled);
  } else if (!fetched.ok) {
    results.SetText(row, ResultsModel::Result, fetched.error);
  } else if (const QString bodyClass = BodyClass(fetched); !bodyClass.isEmpty()) {
    results.SetText(row, ResultsModel::Result, bodyClass);
  } else {
    // A good answer: lets what queued up during the fetch (repaints, clicks) run before the row is
    // completed. The switch may go off here; the row is completed all the same.
    QCoreApplication::processEvents();
  }
}

QString TestCycle::BodyClass(const FetchResult& fetched) {
  const QString& body = fetched.body;
  // The marker, perhaps followed by a line end.
  if (body.startsWith(QLatin1String("vok")) && body.size() <= 6)
    return QString();
  if (body.isEmpty())
    return QStringLiteral("Empty");
  if (fetched.markup || body.contains(QLatin1Char('<')))
    return QStringLiteral("Code");
  return QStringLiteral("TXT");
}

void TestCycle::EndOfRunCheck(Tick& tick) {
  const double runLength = Numbers::Value(settings.runLength);
  if (RoundCount < 1 || settings.urls.size() * runLength > results.Count())
    return;
  if (settings.option[RunSettings::Save])
    WriteReportLog(results, settings.urls);
  if (settings.option[RunSettings::KeepLast] && Numbers::Value(settings.keepCount) > 0) {
    if (KeepLastRows(results, Numbers::Value(settings.keepCount), KeepCycles, bar2))
      RoundCount = 0;
  }
  if (settings.option[RunSettings::Restart] && results.Count() > 0 &&
      runLength == Numbers::Value(results.TextAt(results.Count() - 1, ResultsModel::Packet))) {
    RoundCount = 0;
    bar2.SetText(1, QStringLiteral("Restarting at: ") + settings.runLength);
    tick.restart = true;
  }
  // Nothing to stop when testing was switched off during the tick.
  if (settings.option[RunSettings::Stop] && Testing()) {
    StopRequested = true;
    Check1_MouseUp(false, SwitchedBy::Program);
  }
  if (state.FcTestState == Module1::FcTest::Running) {
    state.FcTestState = Module1::FcTest::Finished;
    emit CaptionChanged(Module1::AppTitle);
  }
}

void TestCycle::Countdown() {
  const double runLength = Numbers::Value(settings.runLength);
  if (settings.option[RunSettings::Restart] || runLength <= 0 || settings.urls.isEmpty())
    return;
  const double left = runLength - double(results.Count()) / settings.urls.size();
  bar2.SetText(3, Numbers::Plain(left) + QStringLiteral(" to go"));
}

// ---- Timers and the status light -----------------------------------------------------------------

void TestCycle::Timer2_Timer() {
  ShowPicture(LightRest);
}

void TestCycle::Timer3_Timer() {
  bar2.SetText(4, QString::number(Whole(Numbers::Value(settings.delay) - TickCount)));
}

void TestCycle::Timer4_Timer() {
  const double waited = Numbers::Value(QStringView(bar2.Text(3)).mid(2));
  bar2.SetText(3, QStringLiteral("! ") + Numbers::Plain(waited + 1));
}

void TestCycle::Inet1_StateChanged(int index, int) {
  HttpClient* client = inet1.At(index);
  if (!client)
    return;
  if (client->ResponseCode() == HttpClient::CancelCode)
    client->Cancel();
  bar2.SetText(3, client->ResponseInfo());
  // Lets the panel show the failure at once, before the caller goes on with a retry.
  QCoreApplication::processEvents();
}

void TestCycle::ShowSubmitted() {
  ShowPicture(LightSubmitted);
  Timer2->start();
}

void TestCycle::SetStatusLight(bool on) {
  ShowPicture(on ? LightWaiting : LightIdle);
}

void TestCycle::ShowPicture(int shown) {
  picture = shown;
  emit PictureChanged(shown);
}

// ---- The configuration panel's rules ---------------------------------------------------------------

void TestCycle::FcMarkerRule() {
  if (Numbers::Value(settings.delay) != 60 && Numbers::Value(settings.runLength) != 60)
    state.FcTestState = Module1::FcTest::None;
}

void TestCycle::Text3_Change(const QString& samplers) {
  if (fetching)
    pendingSamplers = samplers;
  else
    ResizeSamplers(samplers);
}

void TestCycle::ResizeSamplers(const QString& samplers) {
  for (int i = 1; i <= HttpClientArray::MaxIndex && inet1.Count() > 1; ++i)
    inet1.Unload(i);
  // A value too large for the sampler index leaves element 0 alone.
  const std::optional<qint16> last = Numbers::ToInt16(Numbers::Value(samplers) - 1);
  if (!last)
    return;
  for (int i = 1; i <= *last; ++i)
    inet1.Load(i);
}
