// The program folder of the README's pictures of the Sites window and the latency chart: writes a
// history of the last day of four sites (one with a slow hour and slow again now, one with an
// outage and down again now, one that answered 404 for a while and whose certificate ends soon, a
// slow spell of the local network that the reference pings see too) with the incidents they made,
// and their list, urls.dat, into a folder.
// scripts/screenshots.sh runs the program on it under Xvfb and takes the pictures.
//
//   tarvikscreenshots FOLDER

#include "history/historystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>

namespace {

constexpr qint64 Minute = 60;

struct Site {
  QString url;
  double baseMs;   // the server's usual time
  double jitterMs; // spread around it
};

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

QList<Site> Sites() {
  return {
      {QStringLiteral("http://intranet.example.org"), 15, 6},
      {QStringLiteral("https://api.example.io"), 120, 30},
      {QStringLiteral("https://shop.example.net"), 260, 90},
      {QStringLiteral("https://www.example.com"), 60, 20},
  };
}

bool WriteHistory(const QString& path, const QDateTime& now) {
  HistoryStore store;
  if (!store.Open(path))
    return false;
  const qint64 run = store.BeginRun(4, 60, 1, 20);
  const QList<Site> sites = Sites();
  const QStringList references{QStringLiteral("http://ref1.example"), QStringLiteral("http://ref2.example")};
  QRandomGenerator random(20240501);
  const QDateTime start = now.addSecs(-24 * 3600);
  for (qint64 minute = 0; minute < 24 * 60; ++minute) {
    const QDateTime at = start.addSecs(minute * Minute);
    const qint64 ago = 24 * 60 - minute;                              // minutes before now
    const bool congested = ago <= 180 && ago > 120;                   // the local network, for an hour
    const bool shopSlow = (ago <= 600 && ago > 540) || ago <= 25;     // the shop's slow hour, and now
    const bool intranetDown = (ago <= 380 && ago > 350) || ago <= 12; // the intranet's outage, and now
    const bool apiMissing = ago <= 800 && ago > 785;                  // the API's marker file was gone
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
        sample.result = QStringLiteral(" => 1"); // the warning mark of a slow one
      // The certificates: the API's ends in nine days.
      if (site.url.startsWith(QLatin1String("https")) && sample.pingUs >= 0) {
        const int days = site.url.contains(QLatin1String("api"))   ? 9
                         : site.url.contains(QLatin1String("www")) ? 23
                                                                   : 200;
        sample.certNotAfterMs = now.addDays(days).addSecs(3600).toMSecsSinceEpoch();
      }
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

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarvikscreenshots FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  const QString path = out + QStringLiteral("/history.sqlite");
  QFile::remove(path);
  if (!WriteHistory(path, QDateTime::currentDateTimeUtc())) {
    std::fprintf(stderr, "could not write the history\n");
    return 1;
  }
  QFile urls(out + QStringLiteral("/urls.dat"));
  if (!urls.open(QIODevice::WriteOnly))
    return 1;
  for (const Site& site : Sites())
    urls.write(site.url.toUtf8() + "\r\n");
  std::printf("%s/history.sqlite and %s/urls.dat written\n", qPrintable(out), qPrintable(out));
  return 0;
}
