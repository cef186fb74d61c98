// Figures of the Sites window and the latency chart on the history file of one million samples over
// 30 days (benchhistoryfile.h): the window's figures for 30 days and for 24 hours, from Refresh()
// to the table filled, with the time the window's thread spent in Refresh() and its longest stall
// meanwhile; one site's chart of 100k samples against one of 1k, from Refresh() to drawn, with the
// drawing alone (Draw(), on the window's thread) and the first paint. Then both windows live: news
// of a sample every 50 ms (twenty sites sampled every second) for 20 s, with the reads the live
// refresh made, the window's thread's busy share and its longest stall.
//
// Run a Release build on the offscreen platform: bench_sitesui [folder]

#include "benchhistoryfile.h"
#include "history/historyblocks.h"
#include "history/historyconnection.h"
#include "history/historyquery.h"
#include "ui/latencychart.h"
#include "ui/liverefresh.h"
#include "ui/siteswindow.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Repeats = 5;

double Ms(qint64 ns) {
  return double(ns) / 1e6;
}

struct Figures {
  std::vector<qint64> total;
  std::vector<qint64> call;  // in the call that starts the work
  std::vector<qint64> stall; // the longest the event loop did not run meanwhile
};

double Median(std::vector<qint64> ns) {
  std::sort(ns.begin() + 1, ns.end()); // the first run apart
  return Ms(ns[1 + (ns.size() - 1) / 2]);
}

void Print(const char* what, const Figures& f) {
  std::printf("  %-40s first %7.1f ms, median of %d %7.1f ms; in the call %5.2f ms, longest stall %5.1f ms\n", what,
              Ms(f.total.front()), Repeats, Median(f.total), Median(f.call), Median(f.stall));
}

// Starts the work, then runs the event loop until `done`, timing the loop's turns with a timer of
// 1 ms: a turn much longer than that is the window's thread busy with something.
void Measure(Figures* f, const std::function<void()>& start, const std::function<bool()>& done) {
  qint64 last = 0;
  qint64 stall = 0;
  QElapsedTimer timer;
  QTimer ticks;
  ticks.setInterval(1);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    stall = std::max(stall, timer.nsecsElapsed() - last);
    last = timer.nsecsElapsed();
  });
  ticks.start();
  timer.start();
  start();
  const qint64 call = timer.nsecsElapsed();
  stall = std::max(stall, call);
  last = call;
  while (!done())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
  f->total.push_back(timer.nsecsElapsed());
  f->call.push_back(call);
  f->stall.push_back(std::max(stall, timer.nsecsElapsed() - last));
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir temporary;
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
  const QString path = folder + QStringLiteral("/history.sqlite");
  QFile::remove(path);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  QElapsedTimer timer;
  timer.start();
  if (!BenchHistoryFile::Make(path, now.toMSecsSinceEpoch())) {
    std::fprintf(stderr, "could not make the file\n");
    return 1;
  }
  {
    // The sealed hours, as the program's writer builds them after opening the file.
    HistoryConnection connection(path, HistoryConnection::Mode::ReadWrite);
    int code = 0;
    if (!connection.Open())
      return 1;
    while (HistoryBlocks::Seal(connection.Handle(), now.toMSecsSinceEpoch(), &code) == HistoryBlocks::Step::More) {
    }
  }
  std::printf("history file: 1,009,640 samples over 30 days, its hours sealed, %.0f MB, made in %.1f s\n",
              double(QFileInfo(path).size()) / 1e6, double(timer.elapsed()) / 1000);

  HistoryAccess access;
  access.path = path;
  access.currentRunId = [] { return qint64(1); };
  access.warnings = [] { return std::pair<double, double>(1, 20); };

  std::printf("Sites window (Refresh() to the table filled):\n");
  SitesWindow window(access);
  window.show();
  QCoreApplication::processEvents();
  for (const auto& [what, preset] : {std::pair{"30 days (22 sites, 2 references)", HistorySpan::Preset::Last30Days},
                                     std::pair{"24 hours", HistorySpan::Preset::Last24Hours}}) {
    window.SetSpan(preset);
    while (window.Loading())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Figures figures;
    for (int i = 0; i <= Repeats; ++i)
      Measure(
          &figures, [&] { window.Refresh(); }, [&] { return !window.Loading(); });
    Print(what, figures);
  }

  std::printf("chart of one site over 30 days (Refresh() to drawn; then Draw() alone and the first paint):\n");
  for (const auto& [what, url] : {std::pair{"site01, 100k samples", "https://site01.example"},
                                  std::pair{"site21, 1k samples", "https://site21.example"}}) {
    LatencyChart chart(access, {QString::fromLatin1(url)}, HistorySpan::Preset::Last30Days);
    chart.resize(1000, 560);
    chart.show();
    while (chart.Loading())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Figures figures;
    for (int i = 0; i <= Repeats; ++i)
      Measure(
          &figures, [&] { chart.Refresh(); }, [&] { return !chart.Loading(); });
    Print(what, figures);

    const HistoryChart data =
        HistoryQuery(path).Chart(access.SpanOf(HistorySpan::Preset::Last30Days), {QString::fromLatin1(url)});
    std::vector<qint64> draw;
    std::vector<qint64> paint;
    for (int i = 0; i <= Repeats; ++i) {
      timer.start();
      chart.Draw(data);
      draw.push_back(timer.nsecsElapsed());
      timer.start();
      const QPixmap picture = chart.View()->grab();
      paint.push_back(timer.nsecsElapsed());
    }
    std::printf("  %-40s Draw() %5.1f ms, paint %5.1f ms (%lld buckets)\n", "", Median(draw), Median(paint),
                static_cast<long long>(data.sites.first().buckets.size()));
  }

  std::printf("live refresh (news of a sample every 50 ms for 20 s; reads at most one a second):\n");
  const auto liveFor = [&](const char* what, QWidget& window, const std::function<void(const QString&)>& news,
                           const std::function<int()> reads) {
    QElapsedTimer clock;
    QTimer newsTimer;
    newsTimer.setInterval(50);
    int n = 0;
    QObject::connect(&newsTimer, &QTimer::timeout, [&] {
      news(QStringLiteral("https://site%1.example").arg(n++ % 22 + 1, 2, 10, QLatin1Char('0')));
    });
    qint64 stall = 0;
    qint64 late = 0; // the 1 ms ticks' delays beyond their interval, added up: time the thread was busy
    qint64 last = 0;
    QTimer ticks;
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      stall = std::max(stall, now - last);
      late += std::max<qint64>(0, now - last - 1000000);
      last = now;
    });
    const int before = reads();
    clock.start();
    newsTimer.start();
    ticks.start();
    while (clock.elapsed() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    newsTimer.stop();
    ticks.stop();
    std::printf("  %-40s %d reads in 20 s; window's thread busy %4.1f %%, longest stall %5.1f ms\n", what,
                reads() - before, 100.0 * double(late) / double(clock.nsecsElapsed()), Ms(stall));
    Q_UNUSED(window);
  };
  for (const auto& [what, preset] : {std::pair{"Sites window, 30 days", HistorySpan::Preset::Last30Days},
                                     std::pair{"Sites window, 24 hours", HistorySpan::Preset::Last24Hours}}) {
    window.SetSpan(preset);
    while (window.Loading())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    liveFor(
        what, window, [&](const QString& url) { window.SampleRecorded(url); }, [&] { return window.LiveReads(); });
  }
  window.hide();
  {
    LatencyChart chart(access, {QStringLiteral("https://site01.example")}, HistorySpan::Preset::Last24Hours);
    chart.resize(1000, 560);
    chart.show();
    while (chart.Loading())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    liveFor(
        "chart of site01, 24 hours", chart, [&](const QString& url) { chart.SampleRecorded(url); },
        [&] { return chart.LiveReads(); });
  }
  return 0;
}
