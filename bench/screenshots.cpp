// Makes the README's pictures of the Sites window and the latency chart: writes a history of a
// day of four sites (one with a slow hour and slow again now, one with an outage and down again
// now, one that answered 404 for a while and whose certificate ends soon, a slow spell of the local
// network that the reference pings see too) with its incidents to a temporary file, opens the
// windows on it and takes a picture of each from the screen (with the chart's tooltip).
//
// Run under an X server, for example Xvfb:
//   Xvfb :99 -screen 0 1400x900x24 &  DISPLAY=:99 tarvikscreenshots docs/screenshots

#include "history/historystore.h"
#include "ui/latencychart.h"
#include "ui/siteswindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineSeries>
#include <QRandomGenerator>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <cstdio>

namespace {

constexpr qint64 Minute = 60;

struct Site {
  QString url;
  double baseMs;   // the server's usual time
  double jitterMs; // spread around it
};

// Waits for `done`, keeping the windows painted.
template <typename Done>
void Wait(Done done, int atLeastMs = 0) {
  QElapsedTimer timer;
  timer.start();
  while (!done() || timer.elapsed() < atLeastMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A fetch of `serverMs` on a network of round trip `rttMs`, with its phases, as libcurl gives
// them (cumulative, microseconds).
HistorySample Fetch(const QString& url, const QDateTime& at, double rttMs, double serverMs, QRandomGenerator& random) {
  HistorySample sample;
  sample.url = url;
  sample.at = at;
  const bool https = url.startsWith(QLatin1String("https"));
  const double dns = 2 + random.bounded(12.0);
  const double connect = dns + rttMs;
  const double tls = https ? connect + 2 * rttMs + random.bounded(4.0) : -1;
  const double ttfb = std::max(connect, tls) + rttMs + serverMs;
  const double total = ttfb + 1 + random.bounded(3.0);
  sample.dnsUs = qint64(dns * 1000);
  sample.connectUs = qint64(connect * 1000);
  sample.tlsUs = https ? qint64(tls * 1000) : -1;
  sample.ttfbUs = qint64(ttfb * 1000);
  sample.pingUs = qint64(total * 1000);
  sample.status = 200;
  sample.remoteIp = QStringLiteral("192.0.2.10");
  sample.httpVersion = https ? QStringLiteral("2") : QStringLiteral("1.1");
  sample.bytes = 5;
  return sample;
}

bool WriteHistory(const QString& path, const QDateTime& now) {
  HistoryStore store;
  if (!store.Open(path))
    return false;
  const qint64 run = store.BeginRun(4, 60, 1, 20);
  const QList<Site> sites{
      {QStringLiteral("http://intranet.example.org"), 15, 6},
      {QStringLiteral("https://api.example.io"), 120, 30},
      {QStringLiteral("https://shop.example.net"), 260, 90},
      {QStringLiteral("https://www.example.com"), 60, 20},
  };
  const QStringList references{QStringLiteral("http://ref1.example"), QStringLiteral("http://ref2.example")};
  QRandomGenerator random(20240501);
  const QDateTime start = now.addSecs(-24 * 3600);
  for (qint64 minute = 0; minute < 24 * 60; ++minute) {
    const QDateTime at = start.addSecs(minute * Minute);
    const qint64 ago = 24 * 60 - minute;               // minutes before now
    const bool congested = ago <= 180 && ago > 120;                 // the local network, for an hour
    const bool shopSlow = (ago <= 600 && ago > 540) || ago <= 25;   // the shop's slow hour, and now
    const bool intranetDown = (ago <= 380 && ago > 350) || ago <= 12; // the intranet's outage, and now
    const bool apiMissing = ago <= 800 && ago > 785;                // the API's marker file was gone
    const double rtt = 8 + random.bounded(4.0) + (congested ? 60 + random.bounded(100.0) : 0);
    for (int i = 0; i < sites.size(); ++i) {
      const Site& site = sites[i];
      const QDateTime when = at.addMSecs(300 * i + random.bounded(200));
      double server = site.baseMs + random.bounded(site.jitterMs);
      if (random.bounded(100) == 0)
        server += random.bounded(4 * site.baseMs); // now and then a slow one
      if (site.url.contains(QLatin1String("shop")) && shopSlow)
        server += 900 + random.bounded(2200.0);
      HistorySample sample = Fetch(site.url, when, rtt, server, random);
      const bool intranet = site.url.contains(QLatin1String("intranet"));
      if ((intranet && intranetDown) || random.bounded(700) == 0 ||
          (site.url.contains(QLatin1String("shop")) && shopSlow && random.bounded(12) == 0)) {
        HistorySample failed;
        failed.url = site.url;
        failed.at = when;
        failed.result = intranet && intranetDown ? QStringLiteral("Connection refused") : QStringLiteral("Timed out");
        sample = failed;
      }
      if (site.url.contains(QLatin1String("api")) && apiMissing && sample.pingUs >= 0)
        sample.status = 404;
      if (sample.pingUs >= 1000000)
        sample.result = QStringLiteral(" => 1");
      // The certificates: the API's ends in nine days.
      if (site.url.startsWith(QLatin1String("https")) && sample.pingUs >= 0)
        sample.certNotAfterMs =
            now.addDays(site.url.contains(QLatin1String("api")) ? 9 : site.url.contains(QLatin1String("www")) ? 23 : 200)
                .toMSecsSinceEpoch();
      sample.runId = run;
      sample.siteId = i + 1;
      sample.packet = int(minute + 1);
      store.Append(sample);
    }
    for (const QString& reference : references) {
      HistorySample ping = Fetch(reference, at.addSecs(5), rtt, 4 + random.bounded(3.0), random);
      ping.kind = HistorySample::Kind::Ref;
      store.Append(ping);
    }
  }
  // The incidents those samples made (two down or three slow samples in a row).
  const auto incident = [&](const QString& url, HistoryIncident::Kind kind, qint64 startedAgo, qint64 endedAgo,
                            const QString& cause) {
    HistoryIncident made;
    made.url = url;
    made.kind = kind;
    made.started = now.addSecs(-startedAgo * Minute + 40);
    made.cause = cause;
    store.BeginIncident(made);
    if (endedAgo >= 0)
      store.EndIncident(url, kind, now.addSecs(-endedAgo * Minute + 40));
  };
  incident(sites[1].url, HistoryIncident::Kind::Certificate, 24 * 60, -1, QStringLiteral("expires in 9 days"));
  incident(sites[1].url, HistoryIncident::Kind::Down, 800, 785, QStringLiteral("HTTP 404"));
  incident(sites[2].url, HistoryIncident::Kind::Slow, 600, 540, QStringLiteral("Ping 1.412 s"));
  incident(sites[0].url, HistoryIncident::Kind::Down, 380, 350, QStringLiteral("Connection refused"));
  incident(sites[2].url, HistoryIncident::Kind::Slow, 25, -1, QStringLiteral("Ping 2.037 s"));
  incident(sites[0].url, HistoryIncident::Kind::Down, 12, -1, QStringLiteral("Connection refused"));
  return store.Flush();
}

// The window as it is on the screen, with whatever lies over it (a tooltip).
bool Picture(QWidget* window, const QString& file) {
  const QRect frame = window->frameGeometry();
  const QPixmap picture = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  return picture.save(file, "PNG");
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarvikscreenshots FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir temporary;
  const QString path = temporary.filePath(QStringLiteral("history.sqlite"));
  const QDateTime now = QDateTime::currentDateTimeUtc();
  if (!WriteHistory(path, now)) {
    std::fprintf(stderr, "could not write the history\n");
    return 1;
  }

  HistoryAccess access;
  access.path = path;
  access.currentRunId = [] { return qint64(1); };
  access.warnings = [] { return std::pair<double, double>(1, 20); };

  SitesWindow sites(access);
  sites.SetSpan(HistorySpan::Preset::Last24Hours);
  sites.move(0, 0);
  sites.resize(1380, 470);
  sites.show();
  Wait([&] { return !sites.Loading(); }, 500);
  auto* table = sites.findChild<QTableView*>(QStringLiteral("Table"));
  const auto select = [&](const QStringList& parts) {
    table->clearSelection();
    for (int row = 0; row < table->model()->rowCount(); ++row) {
      const QString url = table->model()->index(row, 0).data().toString();
      for (const QString& part : parts)
        if (url.contains(part))
          table->selectionModel()->select(table->model()->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  };
  // The incidents of three sites below the table.
  select({QStringLiteral("shop"), QStringLiteral("api"), QStringLiteral("intranet")});
  Wait([] { return true; }, 300);
  if (!Picture(&sites, out + QStringLiteral("/sites.png")))
    return 1;
  select({QStringLiteral("shop"), QStringLiteral("api")});
  sites.hide();

  LatencyChart chart(access, sites.SelectedAddresses(true), HistorySpan::Preset::Last24Hours);
  chart.move(0, 0);
  chart.resize(1100, 620);
  chart.show();
  Wait([&] { return !chart.Loading(); }, 800);
  // The tooltip of a sample in the shop's slow hour.
  for (QAbstractSeries* series : chart.Chart()->series()) {
    if (series->objectName() != QLatin1String("median") ||
        !series->property("url").toString().contains(QLatin1String("shop")))
      continue;
    auto* line = static_cast<QLineSeries*>(series);
    const qint64 target = now.addSecs(-590 * Minute).toMSecsSinceEpoch();
    QPointF nearest = line->at(0);
    for (const QPointF& point : line->points())
      if (std::abs(point.x() - double(target)) < std::abs(nearest.x() - double(target)))
        nearest = point;
    const QPointF inChart = chart.Chart()->mapToPosition(nearest, line);
    chart.HoverAt(chart.View()->mapFromScene(chart.Chart()->mapToScene(inChart)));
    break;
  }
  Wait([&] { return !chart.HoverText().isEmpty(); }, 800);
  if (!Picture(&chart, out + QStringLiteral("/chart.png")))
    return 1;
  std::printf("%s/sites.png and %s/chart.png written\n", qPrintable(out), qPrintable(out));
  return 0;
}
