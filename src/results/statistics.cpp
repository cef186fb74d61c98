#include "results/statistics.h"

#include "app/statuspanels.h"
#include "platform/numbers.h"
#include "results/resultsmodel.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <type_traits>
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
  T* Find(double key) {
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

  template <typename Function>
  void ForEach(Function function) {
    for (Entry& entry : small)
      if (entry.used)
        function(entry.value);
    for (auto& [key, value] : other)
      function(value);
  }

  void Clear() {
    small.clear();
    other.clear();
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

// The figures of one site over its rows in display order.
template <typename Figures>
struct SiteState {
  Figures figures;
  RowId lastRow = ResultsModel::NoRow; // the site's last row taken in
  bool stale = false;                   // to be worked out again from the rows before use
};

// Which site a row counts for, if any: best and worst read the Site ID strictly, the averages read
// its leading number; rows whose Ping is not a number count for none.
std::optional<double> BestWorstSite(const Figures& row) {
  return row.pingIsNumber ? row.siteStrict : std::nullopt;
}

std::optional<double> TallySite(const Figures& row) {
  return row.pingIsNumber ? std::optional<double>(row.siteValue) : std::nullopt;
}

// Every site's figures, kept with the model and brought up to date by its changes.
//
// A row that starts to count for a site after all of that site's rows (the usual case: the newest
// row gets its Ping and Site ID) is simply taken in. Any other change (a counted row changes or
// moves, a row starts to count among earlier ones) marks the sites concerned stale; they are
// worked out again, all together in one scan, when one of them is asked for. A sort makes every
// site stale.
class Cache : public ResultsModel::Attachment {
public:
  explicit Cache(const ResultsModel& model) : model(model) {}

  void RowChanged(RowId row, int position, const Figures& before, const Figures& after) override {
    if (allStale)
      return;
    Follow(bestWorst, BestWorstSite(before), BestWorstSite(after), row, position,
           [&](BestWorst& figures) { figures.Add(after.ping, row); });
    Follow(tallies, TallySite(before), TallySite(after), row, position,
           [&](SiteTally& figures) { figures.Add(after, row); });
  }

  void Reordered() override { allStale = true; }

  void Cleared() override {
    bestWorst.Clear();
    tallies.Clear();
    allStale = false;
  }

  BestWorst BestWorstOf(double site) { return Lookup(bestWorst, site); }
  SiteTally TallyOf(double site) { return Lookup(tallies, site); }

private:
  template <typename Figures, typename AddRow>
  void Follow(SiteMap<SiteState<Figures>>& sites, std::optional<double> was, std::optional<double> is, RowId row,
              int position, AddRow add) {
    if (was)
      sites.At(*was).stale = true;
    if (!is)
      return;
    SiteState<Figures>& site = sites.At(*is);
    if (site.stale)
      return;
    if (model.PositionOf(site.lastRow) >= position) {
      site.stale = true;
      return;
    }
    add(site.figures);
    site.lastRow = row;
  }

  template <typename Figures>
  Figures Lookup(SiteMap<SiteState<Figures>>& sites, double site) {
    if (allStale)
      RebuildAll();
    SiteState<Figures>* state = sites.Find(site);
    if (!state)
      return Figures();
    if (state->stale)
      RebuildStale();
    return state->figures;
  }

  // Takes one row in for the sites it counts for: every site, or only the stale ones.
  template <bool StaleOnly, typename Figures>
  void TakeIn(SiteMap<SiteState<Figures>>& sites, std::optional<double> site, RowId row,
              const ResultsModel::Figures& figures) {
    if (!site)
      return;
    SiteState<Figures>* state = StaleOnly ? sites.Find(*site) : &sites.At(*site);
    if (!state || (StaleOnly && !state->stale))
      return;
    if constexpr (std::is_same_v<Figures, BestWorst>)
      state->figures.Add(figures.ping, row);
    else
      state->figures.Add(figures, row);
    state->lastRow = row;
  }

  template <bool StaleOnly>
  void Take(RowId row, const ResultsModel::Figures& figures) {
    TakeIn<StaleOnly>(bestWorst, BestWorstSite(figures), row, figures);
    TakeIn<StaleOnly>(tallies, TallySite(figures), row, figures);
  }

  void RebuildAll() {
    bestWorst.Clear();
    tallies.Clear();
    for (int position = 0; position < model.Count(); ++position)
      Take<false>(model.RowAt(position), model.FiguresAt(position));
    allStale = false;
  }

  // Works out every stale site again. The rows are scanned in the order they were added, which is
  // quick; those of stale sites are then put in display order and taken in.
  void RebuildStale() {
    const auto reset = [](auto& state) {
      if (state.stale) {
        state.figures = {};
        state.lastRow = ResultsModel::NoRow;
      }
    };
    bestWorst.ForEach(reset);
    tallies.ForEach(reset);

    const auto isStale = [this](const Figures& figures) {
      const std::optional<double> a = BestWorstSite(figures);
      const std::optional<double> b = TallySite(figures);
      const SiteState<BestWorst>* s = a ? bestWorst.Find(*a) : nullptr;
      const SiteState<SiteTally>* t = b ? tallies.Find(*b) : nullptr;
      return (s && s->stale) || (t && t->stale);
    };
    std::vector<std::pair<int, RowId>> rows;
    for (int index = 0; index < model.Count(); ++index) {
      const RowId row = model.StoredRow(index);
      if (isStale(model.FiguresOf(row)))
        rows.emplace_back(model.PositionOf(row), row);
    }
    if (model.Sorted())
      std::sort(rows.begin(), rows.end());
    for (const auto& [position, row] : rows)
      Take<true>(row, model.FiguresOf(row));

    const auto fresh = [](auto& state) { state.stale = false; };
    bestWorst.ForEach(fresh);
    tallies.ForEach(fresh);
  }

  const ResultsModel& model;
  bool allStale = true;
  SiteMap<SiteState<BestWorst>> bestWorst;
  SiteMap<SiteState<SiteTally>> tallies;
};

Cache& CacheOf(const ResultsModel& model) {
  auto* cache = static_cast<Cache*>(model.StatisticsState());
  if (!cache) {
    auto fresh = std::make_unique<Cache>(model);
    cache = fresh.get();
    model.SetStatisticsState(std::move(fresh));
  }
  return *cache;
}

} // namespace

void Statistics::ShowBestWorst(const ResultsModel& model, StatusPanels& bar1, int siteId) {
  const BestWorst figures = CacheOf(model).BestWorstOf(siteId);
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
  const SiteTally tally = CacheOf(model).TallyOf(double(siteIndex) + 1);
  QString average = tally.count > 0 ? Numbers::Fixed3(tally.sum / double(tally.count))
                                          : QStringLiteral("0.000");
  bar1.SetText(3, QStringLiteral("Avg: ") + average);
  return average;
}

SiteFigures Statistics::SiteStatistics(const ResultsModel& model, int siteIndex) {
  const SiteTally tally = CacheOf(model).TallyOf(double(siteIndex) + 1);
  SiteFigures figures;
  figures.count = tally.count;
  figures.best = tally.bestIsText ? Numbers::Fixed3(tally.best) : Numbers::Plain(tally.best);
  figures.worst = tally.worstIsText ? Numbers::Fixed3(tally.worst) : Numbers::Plain(0);
  figures.average = tally.count > 0 ? Numbers::Fixed3(tally.total / double(tally.count)) : QStringLiteral("0.000");
  figures.bestTime = model.Text(tally.bestRow, ResultsModel::EventTime);
  figures.worstTime = model.Text(tally.worstRow, ResultsModel::EventTime);
  return figures;
}
