// What a history that cannot be written costs while it waits: another connection holds the file in
// SQLite's exclusive locking mode while samples of 20 sites are appended, up to the queue's bound and
// beyond. Prints the resident memory the waiting samples take, the cost of Append() meanwhile, how
// many were dropped, and how long writing them takes once the file is let go.
//
// Run a Release build: bench_historyqueue

#include "history/historystore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The resident memory of this process, in kB (VmRSS).
long ResidentKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

// A sample as the engine makes it, every text a string of its own (the worst case for memory).
HistorySample Sample(int i) {
  HistorySample sample;
  sample.at = QDateTime::currentDateTimeUtc();
  sample.url = QStringLiteral("https://site%1.example").arg(i % 20 + 1, 2, 10, QLatin1Char('0'));
  sample.runId = -2;
  sample.siteId = i % 20 + 1;
  sample.packet = i / 20;
  sample.pingUs = 100000 + i % 1000;
  sample.dnsUs = 1000;
  sample.connectUs = 5000;
  sample.tlsUs = 15000;
  sample.ttfbUs = 90000;
  sample.status = 200;
  sample.result = QStringLiteral(" => 0.2");
  sample.remoteIp = QStringLiteral("192.0.2.1");
  sample.httpVersion = QStringLiteral("2");
  sample.bytes = 4;
  return sample;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("history.sqlite"));
  {
    HistoryStore made;
    if (!made.Open(path))
      return 1;
  }
  QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
  holder.setDatabaseName(path);
  holder.open();
  for (const char* statement :
       {"PRAGMA journal_mode = DELETE", "PRAGMA locking_mode = EXCLUSIVE", "BEGIN EXCLUSIVE", "COMMIT"})
    QSqlQuery(holder).exec(QString::fromLatin1(statement));

  HistoryStore store;
  store.SetRetryIntervalMs(1000);
  QString back;
  QObject::connect(&store, &HistoryStore::Restored, &store, [&back](const QString& line) { back = line; });
  QElapsedTimer timer;
  timer.start();
  store.Open(path);
  std::printf("history locked by another connection (exclusive locking mode):\n");
  std::printf("  %-52s %8.1f ms (%s)\n", "Open()", double(timer.nsecsElapsed()) / 1e6, qPrintable(store.FailureText()));

  const long before = ResidentKb();
  const int total = int(HistoryStore::MaxQueuedSamples) + 20000;
  std::vector<qint64> ns;
  ns.reserve(size_t(total));
  for (int i = 0; i < total; ++i) {
    const HistorySample sample = Sample(i);
    timer.start();
    store.Append(sample);
    ns.push_back(timer.nsecsElapsed());
    if (i + 1 == int(HistoryStore::MaxQueuedSamples))
      std::printf("  %-52s %8.1f MB (%.0f bytes a sample)\n", "resident memory of 100,000 waiting samples",
                  double(ResidentKb() - before) / 1024, double(ResidentKb() - before) * 1024 / (i + 1));
  }
  std::sort(ns.begin(), ns.end());
  const auto at = [&ns](double q) { return double(ns[size_t(q * double(ns.size() - 1))]) / 1000; };
  std::printf("  %-52s median %.2f us, p99 %.2f us, max %.1f us (%d calls)\n", "Append() while waiting", at(0.5),
              at(0.99), at(1.0), total);
  std::printf("  %-52s %8.1f MB\n", "resident memory after 20,000 more", double(ResidentKb() - before) / 1024);
  std::printf("  %-52s %8llu\n", "samples dropped (the oldest)",
              static_cast<unsigned long long>(store.DroppedSamples()));

  holder.close();
  holder = QSqlDatabase();
  QSqlDatabase::removeDatabase(QStringLiteral("holder"));
  timer.start();
  while (back.isEmpty() && timer.elapsed() < 120000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  std::printf("  %-52s %8.1f ms (retry within 1 s; \"%s\")\n", "lock let go -> every waiting sample written",
              double(timer.nsecsElapsed()) / 1e6, qPrintable(back));
  return 0;
}
