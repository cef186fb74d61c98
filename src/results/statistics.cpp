#include "results/statistics.h"

#include "app/statuspanels.h"
#include "platform/numbers.h"
#include "results/resultsmodel.h"

#include <cmath>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

using RowId = ResultsModel::RowId;
using Figures = ResultsModel::Figures;

// A number's own text read back: strictly, so that "1E-06" stays 0.000001.
double ReadBack(const QString& text) {
  return Numbers::Strict(text).value_or(Numbers::Value(text));
}

// ShowBestWorst's figures for one site (rows matched by their Site ID read strictly).
struct BestWorst {
  bool any = false;
  double best = 0;
  double worst = 0;
  RowId bestRow = ResultsModel::NoRow;
  RowId worstRow = ResultsModel::NoRow;

  void Add(double p, RowId row) {
    any = true;
    if (best == 0) { // unset, or a ping of 0 taken earlier: start afresh from this row
      best = p;
      bestRow = row;
      worst = best;
      worstRow = row;
    }
    if (p < best) {
      best = p;
      bestRow = row;
    }
    if (p > worst) {
      worst = p;
      worstRow = row;
    }
  }
};

// SiteAverage's and SiteStatistics' figures for one site (rows matched by their Site ID read as a
// leading number). Both take the same rows.
struct SiteTally {
  qint64 count = 0;

  // SiteAverage: the running sum, carried through its plain-form text. While every ping is a
  // "d.ddd" text the sum is a whole number of thousandths, whose plain form reads back as exactly
  // millis / 1000; that spares two conversions per row and gives the same sum.
  double sum = 0;
  bool exact = true;
  qint64 millis = 0;

  // SiteStatistics: a plain sum, and best/worst that are numbers until a later row replaces them
  // with a "0.000" text (compared afterwards by that text's value).
  double total = 0;
  bool bestIsText = false;
  double best = 0;
  double bestCompare = 0;
  RowId bestRow = ResultsModel::NoRow;
  bool worstIsText = false;
  double worst = 0;
  double worstCompare = 0;
  RowId worstRow = ResultsModel::NoRow;

  void Add(const Figures& figures, RowId row) {
    static constexpr qint64 ExactLimit = 1'000'000'000'000'000; // 15 significant digits
    const double p = figures.ping;
    ++count;
    if (exact && figures.pingMillis && millis + figures.millis < ExactLimit) {
      millis += figures.millis;
      sum = double(millis) / 1000.0;
    } else {
      exact = false;
      sum = ReadBack(Numbers::Plain(sum + p));
    }

    total += p;
    if (bestCompare == 0) {
      bestIsText = false;
      best = p;
      bestCompare = p;
      bestRow = row;
    }
    if (p < bestCompare) {
      bestIsText = true;
      best = p;
      bestCompare = Numbers::Value(Numbers::Fixed3(p));
      bestRow = row;
    }
    if (p > worstCompare) {
      worstIsText = true;
      worst = p;
      worstCompare = Numbers::Value(Numbers::Fixed3(p));
      worstRow = row;
    }
  }
};

// Per-site figures by Site ID: whole numbers 0..1023 in a table, anything else in a hash.
template <typename T>
class SiteMap {
public:
  const T* Find(double key) const {
    const int slot = Slot(key);
    if (slot >= 0)
      return size_t(slot) < small.size() && small[size_t(slot)].used ? &small[size_t(slot)].value : nullptr;
    const auto it = other.find(key == 0 ? 0.0 : key);
    return it == other.end() ? nullptr : &it->second;
  }

  T& At(double key) {
    const int slot = Slot(key);
    if (slot >= 0) {
      if (size_t(slot) >= small.size())
        small.resize(size_t(slot) + 1);
      small[size_t(slot)].used = true;
      return small[size_t(slot)].value;
    }
    return other[key == 0 ? 0.0 : key];
  }

private:
  struct Entry {
    bool used = false;
    T value;
  };
  static int Slot(double key) {
    return key >= 0 && key < 1024 && key == std::floor(key) ? int(key) : -1;
  }
  std::vector<Entry> small;
  std::unordered_map<double, T> other;
};

// The figures of every site over the first `folded` rows of the display order, kept with the model.
struct Cache : ResultsModel::Attachment {
  quint64 epoch = 0;
  int folded = 0;
  SiteMap<BestWorst> bestWorst;
  SiteMap<SiteTally> tallies;

  void Add(const Figures& figures, RowId row) {
    if (!figures.pingIsNumber)
      return;
    if (figures.siteStrict)
      bestWorst.At(*figures.siteStrict).Add(figures.ping, row);
    tallies.At(figures.siteValue).Add(figures, row);
  }
};

// The model's cache, brought up to date. Complete rows (those with a Site ID) are taken in for
// good; the rows from the first incomplete one on are left for each call to look at, since their
// Ping and Site ID are still to be written.
Cache& Synced(const ResultsModel& model) {
  auto* cache = static_cast<Cache*>(model.StatisticsState());
  if (!cache || cache->epoch != model.FoldEpoch()) {
    auto fresh = std::make_unique<Cache>();
    fresh->epoch = model.FoldEpoch();
    cache = fresh.get();
    model.SetStatisticsState(std::move(fresh));
  }
  const int count = model.Count();
  while (cache->folded < count) {
    const Figures figures = model.FiguresAt(cache->folded);
    if (figures.siteEmpty)
      break;
    cache->Add(figures, model.RowAt(cache->folded));
    ++cache->folded;
  }
  model.SetFoldMark(cache->folded);
  return *cache;
}

BestWorst BestWorstOf(const ResultsModel& model, double siteId) {
  const Cache& cache = Synced(model);
  const BestWorst* kept = cache.bestWorst.Find(siteId);
  BestWorst figures = kept ? *kept : BestWorst();
  for (int i = cache.folded; i < model.Count(); ++i) {
    const Figures row = model.FiguresAt(i);
    if (row.pingIsNumber && row.siteStrict && *row.siteStrict == siteId)
      figures.Add(row.ping, model.RowAt(i));
  }
  return figures;
}

SiteTally TallyOf(const ResultsModel& model, double siteId) {
  const Cache& cache = Synced(model);
  const SiteTally* kept = cache.tallies.Find(siteId);
  SiteTally tally = kept ? *kept : SiteTally();
  for (int i = cache.folded; i < model.Count(); ++i) {
    const Figures row = model.FiguresAt(i);
    if (row.pingIsNumber && row.siteValue == siteId)
      tally.Add(row, model.RowAt(i));
  }
  return tally;
}

} // namespace

void Statistics::ShowBestWorst(const ResultsModel& model, StatusPanels& bar1, int siteId) {
  const BestWorst figures = BestWorstOf(model, siteId);
  if (!figures.any)
    return;
  bar1.SetText(1, QStringLiteral("BT: ") + model.Text(figures.bestRow, ResultsModel::EventTime) +
                      QStringLiteral("   PING: ") + Numbers::Plain(figures.best));
  const QString worst = Numbers::Plain(figures.worst);
  if (Numbers::Value(worst) > 0)
    bar1.SetText(2, QStringLiteral("WT: ") + model.Text(figures.worstRow, ResultsModel::EventTime) +
                        QStringLiteral("   PING: ") + worst);
}

QString Statistics::SiteAverage(const ResultsModel& model, StatusPanels& bar1, int siteIndex) {
  const SiteTally tally = TallyOf(model, double(siteIndex) + 1);
  const QString average = tally.count > 0 ? Numbers::Fixed3(tally.sum / double(tally.count))
                                          : QStringLiteral("0.000");
  bar1.SetText(3, QStringLiteral("Avg: ") + average);
  return average;
}

SiteFigures Statistics::SiteStatistics(const ResultsModel& model, int siteIndex) {
  const SiteTally tally = TallyOf(model, double(siteIndex) + 1);
  SiteFigures figures;
  figures.count = tally.count;
  figures.best = tally.bestIsText ? Numbers::Fixed3(tally.best) : Numbers::Plain(tally.best);
  figures.worst = tally.worstIsText ? Numbers::Fixed3(tally.worst) : Numbers::Plain(0);
  figures.average = tally.count > 0 ? Numbers::Fixed3(tally.total / double(tally.count)) : QStringLiteral("0.000");
  figures.bestTime = model.Text(tally.bestRow, ResultsModel::EventTime);
  figures.worstTime = model.Text(tally.worstRow, ResultsModel::EventTime);
  return figures;
}
