// Figures of the results table at 10k, 100k and 1M rows of ten sites: resident memory per row, the
// statistics work of one sampling pass (SiteAverage for ten new rows, BestWorstOf for every
// site) and the append of one row, first in the order the rows came, then after a sort by Ping
// (the sort itself, the first pass after it, passes and appends into the sorted order, memory),
// and last the passes once one site holds a ping that is not a "d.ddd" text, which the statistics
// work out by a scan.
//
// Run a Release build: bench_results [rows ...]

#include "core/statuspanels.h"
#include "platform/numbers.h"
#include "results/resultsmodel.h"
#include "results/sitepanels.h"
#include "results/statistics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Sites = 10;

// Resident memory of this process in bytes, from /proc/self/status.
qint64 ResidentBytes() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
    return -1;
  const QList<QByteArray> lines = status.readAll().split('\n');
  for (const QByteArray& line : lines)
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
  return -1;
}

class Sampler {
public:
  explicit Sampler(ResultsModel& model) : model(model), random(42), bar1(3) {}

  QString TimeText() {
    ++second;
    return QStringLiteral("%1:%2:%3")
        .arg(second / 3600 % 24, 2, 10, QLatin1Char('0'))
        .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(second % 60, 2, 10, QLatin1Char('0'));
  }

  // Adds and fills one row the way the test cycle does; `withAverage` computes its Average.
  ResultsModel::RowId Sample(int site, int packet, bool withAverage) {
    const ResultsModel::RowId row = model.AddRow(TimeText());
    model.SetText(row, ResultsModel::Ping, QStringLiteral("Sent"));
    model.SetText(row, ResultsModel::Result, QStringLiteral("Waiting"));
    const int millis = 40 + int(random.bounded(400)) + (random.bounded(50) == 0 ? 1500 : 0);
    model.SetText(row, ResultsModel::Result, QString());
    if (millis >= 1000) {
      model.SetMark(row, ResultsModel::Blue, true);
      model.SetText(row, ResultsModel::Result, QStringLiteral(" => 1"));
    }
    model.SetText(row, ResultsModel::Packet, QString::number(packet));
    model.SetText(row, ResultsModel::Ping, Numbers::Fixed3(millis / 1000.0));
    model.SetText(row, ResultsModel::SiteId, QString::number(site + 1));
    model.SetText(row, ResultsModel::Average,
                  withAverage ? Statistics::SiteAverage(model, site + 1) : QStringLiteral("0.250"));
    return row;
  }

  // One pass: ten new rows (not timed) with their averages, then best and worst of every site.
  // Returns the nanoseconds spent in the statistics.
  qint64 Pass(int packet) {
    qint64 spent = 0;
    QElapsedTimer timer;
    for (int site = 0; site < Sites; ++site) {
      const ResultsModel::RowId row = Sample(site, packet, false);
      timer.start();
      const QString average = Statistics::SiteAverage(model, site + 1);
      SitePanels::ShowAverage(bar1, average);
      spent += timer.nsecsElapsed();
      model.SetText(row, ResultsModel::Average, average);
    }
    timer.start();
    for (int site = 1; site <= Sites; ++site)
      SitePanels::ShowBestWorst(bar1, Statistics::BestWorstOf(model, site));
    spent += timer.nsecsElapsed();
    return spent;
  }

  ResultsModel& model;
  QRandomGenerator random;
  StatusPanels bar1;
  int second = 36000;
};

double Median(std::vector<qint64> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : double(values[values.size() / 2]);
}

double Max(const std::vector<qint64>& values) {
  return values.empty() ? 0 : double(*std::max_element(values.begin(), values.end()));
}

// Median and maximum in microseconds.
void PrintTimes(const char* what, const std::vector<qint64>& nanoseconds) {
  std::printf("           %-40s median %9.1f us, max %9.1f us (%zu)\n", what, Median(nanoseconds) / 1000.0,
              Max(nanoseconds) / 1000.0, nanoseconds.size());
}

void Run(int rows) {
  const qint64 before = ResidentBytes();
  auto model = std::make_unique<ResultsModel>();
  Sampler sampler(*model);

  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < rows; ++i)
    sampler.Sample(i % Sites, i / Sites + 1, true);
  const qint64 fillMs = timer.elapsed();
  const qint64 after = ResidentBytes();
  std::printf("%9d rows  fill %6lld ms  memory %6.1f bytes/row (RSS +%.1f MB)\n", rows, static_cast<long long>(fillMs),
              double(after - before) / rows, double(after - before) / 1048576.0);

  std::vector<qint64> passes;
  for (int pass = 0; pass < 50; ++pass)
    passes.push_back(sampler.Pass(rows / Sites + pass + 1));
  PrintTimes("pass statistics:", passes);

  // The append of one row on its own (AddRow and the cycle's writes, no statistics).
  std::vector<qint64> appends;
  for (int i = 0; i < 200; ++i) {
    timer.start();
    sampler.Sample(i % Sites, 1, false);
    appends.push_back(timer.nsecsElapsed());
  }
  PrintTimes("append one row:", appends);

  timer.start();
  model->ColumnClick(ResultsModel::Ping);
  const qint64 sortNs = timer.nsecsElapsed();

  // Sorted: a new row goes to its place; the statistics follow the new order.
  const qint64 firstPass = sampler.Pass(1);
  std::printf("           sort by Ping %.1f ms, first pass statistics after it %.1f ms\n", double(sortNs) / 1e6,
              double(firstPass) / 1e6);
  std::vector<qint64> sortedPasses;
  for (int pass = 0; pass < 50; ++pass)
    sortedPasses.push_back(sampler.Pass(pass + 2));
  PrintTimes("sorted: pass statistics:", sortedPasses);
  std::vector<qint64> sortedAppends;
  for (int i = 0; i < 200; ++i) {
    timer.start();
    sampler.Sample(i % Sites, 1, false);
    sortedAppends.push_back(timer.nsecsElapsed());
  }
  PrintTimes("sorted: append one row:", sortedAppends);
  const qint64 sortedResident = ResidentBytes();
  std::printf("           sorted: memory %6.1f bytes/row (RSS +%.1f MB)\n",
              double(sortedResident - before) / model->Count(), double(sortedResident - before) / 1048576.0);

  // A tenth more rows into the sorted order, as a long run adds them: the chunks they go into fill
  // up and split, and the figures settle where a long run keeps them.
  std::vector<qint64> growth;
  for (int i = 0; i < rows / 10; ++i) {
    timer.start();
    sampler.Sample(i % Sites, 2, false);
    growth.push_back(timer.nsecsElapsed());
  }
  PrintTimes("sorted: a tenth more rows, each:", growth);
  std::vector<qint64> grownPasses;
  for (int pass = 0; pass < 50; ++pass)
    grownPasses.push_back(sampler.Pass(pass + 3));
  PrintTimes("sorted: then pass statistics:", grownPasses);
  const qint64 grownResident = ResidentBytes();
  std::printf("           sorted: then memory %6.1f bytes/row (RSS +%.1f MB)\n",
              double(grownResident - before) / model->Count(), double(grownResident - before) / 1048576.0);

  // One row of site 1 gets a Ping in another form: that site is worked out by a scan.
  model->SetText(model->RowAt(model->Count() / 2), ResultsModel::SiteId, QStringLiteral("1"));
  model->SetText(model->RowAt(model->Count() / 2), ResultsModel::Ping, QStringLiteral("0.25"));
  std::vector<qint64> oddPasses;
  for (int pass = 0; pass < 10; ++pass)
    oddPasses.push_back(sampler.Pass(pass + 60));
  PrintTimes("sorted, a ping \"0.25\": pass statistics:", oddPasses);

  const int count = model->Count();
  timer.start();
  model->Clear();
  const qint64 clearMs = timer.elapsed();
  const qint64 cleared = ResidentBytes();
  model.reset();
  std::printf("           Clear of %d rows %lld ms, RSS afterwards +%.1f MB\n", count, static_cast<long long>(clearMs),
              double(cleared - before) / 1048576.0);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QList<int> sizes = {10000, 100000, 1000000};
  if (argc > 1) {
    sizes.clear();
    for (int i = 1; i < argc; ++i)
      sizes << QByteArray(argv[i]).toInt();
  }
  for (int rows : sizes)
    Run(rows);
  return 0;
}
