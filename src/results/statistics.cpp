#include "results/statistics.h"

#include "platform/numbers.h"
#include "results/resultsmodel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace {

using RowId = ResultsModel::RowId;
using Figures = ResultsModel::Figures;

// The running sum of SiteAverage is exact in thousandths below this: 15 significant digits.
constexpr qint64 ExactLimit = 1'000'000'000'000'000;

// A number's own text read back: strictly, so that "1E-06" stays 0.000001.
double ReadBack(const QString& text) {
  return Numbers::Strict(text).value_or(Numbers::Value(text));
}

// BestWorstOf's running figures for one site (rows matched by their Site ID read strictly).
struct BestWorstTally {
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
  static int Slot(double key) { return key >= 0 && key < 1024 && key == std::floor(key) ? int(key) : -1; }
  std::vector<Entry> small;
  std::unordered_map<double, T> other;
};

// Which site a row counts for, if any: best and worst read the Site ID strictly, the averages read
// its leading number; rows whose Ping is not a number count for none.
std::optional<double> BestWorstSite(const Figures& row) {
  return row.pingIsNumber ? row.siteStrict : std::nullopt;
}

std::optional<double> TallySite(const Figures& row) {
  return row.pingIsNumber ? std::optional<double>(row.siteValue) : std::nullopt;
}

// Whether a counted row's ping is a "d.ddd" text of fewer than 2^32 thousandths, as the cycle
// writes them. The figures below that need no scan hold only such rows.
bool Regular(const Figures& row) {
  return row.pingMillis && row.millis <= 0xFFFFFFFF;
}

// SiteAverage's figures that need no order. While every ping of a site is regular and their sum
// stays within 15 digits, the running sum carried through its plain-form text is exactly the sum
// of the thousandths, in whatever order the rows stand.
struct Totals {
  qint64 count = 0;
  qint64 irregular = 0;
  quint64 millis = 0; // of the regular rows: below 2^64 for any number of rows a table can hold
  double sum = 0;     // of every row's ping

  void Add(const Figures& figures, int sign) {
    count += sign;
    sum += sign * figures.ping;
    if (!Regular(figures))
      irregular += sign;
    else if (sign > 0)
      millis += quint64(figures.millis);
    else
      millis -= quint64(figures.millis);
  }
  bool Exact() const { return irregular == 0 && millis < quint64(ExactLimit); }
};

// ---- Best and worst without a scan ----
//
// Over a site's rows in display order, with every ping at least 0, BestWorstOf's running figures
// come to this: after the last ping of 0 (or from the first row when there is none) best is the
// lowest and worst the highest ping, the earlier row winning ties. When the last row is a 0, best is
// that row and worst the highest ping between the last two 0 rows (or before the only one); with no
// such row worst is 0 and panel 2 keeps its text. A Summary holds exactly what is needed to tell
// this for a stretch of rows, and two stretches' summaries combine into that of both.

// A site's row with its ping in thousandths.
struct ListEntry {
  RowId row;
  quint32 millis;
};

// The highest (or lowest) ping of a stretch and its earliest row.
struct Peak {
  bool any = false;
  quint32 millis = 0;
  RowId row = ResultsModel::NoRow;
};

// Of two stretches' peaks, a before b: the earlier stretch keeps a tie.
Peak Higher(const Peak& a, const Peak& b) {
  return !a.any || (b.any && b.millis > a.millis) ? b : a;
}

Peak Lower(const Peak& a, const Peak& b) {
  return !a.any || (b.any && b.millis < a.millis) ? b : a;
}

struct Summary {
  qint64 zeros = 0;                     // rows with a ping of 0
  RowId lastZero = ResultsModel::NoRow; // the last of them
  Peak low;                             // lowest after the last 0 (of all, with no 0)
  Peak high;                            // highest after the last 0 (of all, with no 0)
  Peak head;                            // highest before the first 0
  Peak gap;                             // highest between the last two 0s

  static Summary Of(const ListEntry& entry) {
    Summary summary;
    if (entry.millis == 0) {
      summary.zeros = 1;
      summary.lastZero = entry.row;
    } else {
      summary.low = summary.high = {true, entry.millis, entry.row};
    }
    return summary;
  }

  // This stretch followed by the next one.
  Summary Then(const Summary& next) const {
    Summary both = *this;
    if (next.zeros == 0) {
      both.low = Lower(low, next.low);
      both.high = Higher(high, next.high);
      return both;
    }
    both.zeros = zeros + next.zeros;
    both.lastZero = next.lastZero;
    both.low = next.low;
    both.high = next.high;
    both.head = zeros == 0 ? Higher(high, next.head) : head;
    both.gap = next.zeros >= 2 ? next.gap : (zeros > 0 ? Higher(high, next.head) : Peak());
    return both;
  }

  // BestWorstOf's figures for a site whose rows this summarises (at least one row).
  BestWorstTally Figures() const {
    BestWorstTally figures;
    figures.any = true;
    Peak best = low;
    Peak worst = high;
    if (zeros > 0 && !low.any) { // the last row is a 0
      best = {true, 0, lastZero};
      worst = zeros >= 2 ? gap : head;
      if (!worst.any)
        worst = {true, 0, lastZero};
    }
    figures.best = double(best.millis) / 1000.0;
    figures.bestRow = best.row;
    figures.worst = double(worst.millis) / 1000.0;
    figures.worstRow = worst.row;
    return figures;
  }
};

// The regular rows of one site that best and worst count, in display order, in chunks with a
// summary each. A row, or its place, is found by comparing rows' places in the display order.
class SiteList {
public:
  static constexpr int ChunkSize = 256;

  // Rows that count but whose ping is not regular: while there are any, the site is worked out by
  // a scan instead.
  qint64 irregular = 0;

  bool Empty() const { return chunks.empty(); }

  // Adds a row after all others, starting a new chunk after `fill` rows.
  void Append(const ListEntry& entry, size_t fill = ChunkSize) {
    if (chunks.empty() || chunks.back().entries.size() >= fill)
      chunks.emplace_back();
    Chunk& chunk = chunks.back();
    chunk.entries.reserve(fill); // the rows that follow will fill it
    chunk.entries.push_back(entry);
    chunk.summary = chunk.summary.Then(Summary::Of(entry));
    Changed(chunks.size() - 1);
  }

  void Insert(const ResultsModel& model, const ListEntry& entry) {
    if (chunks.empty() || model.StandsBefore(chunks.back().entries.back().row, entry.row)) {
      Append(entry);
      return;
    }
    // The last chunk that starts before the row (or the first), and the place in it.
    size_t c = size_t(std::max(0, ChunksUpTo(model, entry.row) - 1));
    size_t at = Before(model, chunks[c], entry.row);
    if (chunks[c].entries.size() == size_t(ChunkSize)) {
      Chunk next;
      next.entries.assign(chunks[c].entries.begin() + ChunkSize / 2, chunks[c].entries.end());
      chunks[c].entries.resize(ChunkSize / 2);
      chunks[c].entries.shrink_to_fit();
      Summarise(next);
      chunks.insert(chunks.begin() + qsizetype(c) + 1, std::move(next));
      tree.clear();
      if (at > size_t(ChunkSize / 2)) {
        Summarise(chunks[c]);
        ++c;
        at -= ChunkSize / 2;
      }
    }
    MakeRoom(chunks[c].entries);
    chunks[c].entries.insert(chunks[c].entries.begin() + qsizetype(at), entry);
    Summarise(chunks[c]);
    Changed(c);
  }

  // Takes a row out; the rows must still stand in the order the list has them.
  void Erase(const ResultsModel& model, RowId row) {
    const int c = ChunksUpTo(model, row) - 1;
    if (c < 0)
      return;
    std::vector<ListEntry>& entries = chunks[size_t(c)].entries;
    const size_t at = Before(model, chunks[size_t(c)], row);
    Q_ASSERT(at < entries.size() && entries[at].row == row);
    if (at >= entries.size() || entries[at].row != row)
      return;
    entries.erase(entries.begin() + qsizetype(at));
    if (entries.empty()) {
      chunks.erase(chunks.begin() + c);
      tree.clear();
    } else {
      Summarise(chunks[size_t(c)]);
      Changed(size_t(c));
    }
  }

  void ClearEntries() {
    std::vector<Chunk>().swap(chunks);
    tree.clear();
  }

  // The summary of all the site's rows (at least one chunk).
  const Summary& Total() const {
    if (tree.empty()) {
      leaves = std::bit_ceil(chunks.size());
      tree.assign(2 * leaves, Summary());
      for (size_t c = 0; c < chunks.size(); ++c)
        tree[leaves + c] = chunks[c].summary;
      for (size_t i = leaves - 1; i >= 1; --i)
        tree[i] = tree[2 * i].Then(tree[2 * i + 1]);
    }
    return tree[1];
  }

private:
  struct Chunk {
    std::vector<ListEntry> entries;
    Summary summary;
  };

  // Room for one more entry in a chunk, grown by an eighth at a time so that chunks filled by
  // inserts in the middle waste little memory.
  static void MakeRoom(std::vector<ListEntry>& entries) {
    if (entries.size() == entries.capacity())
      entries.reserve(std::min(size_t(ChunkSize), entries.size() + entries.size() / 8 + 4));
  }

  // The summary of a chunk's rows, in one pass.
  static void Summarise(Chunk& chunk) {
    Summary summary;
    Peak low;  // since the last 0
    Peak high; // since the last 0
    for (const ListEntry& entry : chunk.entries) {
      if (entry.millis == 0) {
        (summary.zeros == 0 ? summary.head : summary.gap) = high;
        ++summary.zeros;
        summary.lastZero = entry.row;
        low = high = Peak();
        continue;
      }
      if (!low.any || entry.millis < low.millis)
        low = {true, entry.millis, entry.row};
      if (!high.any || entry.millis > high.millis)
        high = {true, entry.millis, entry.row};
    }
    summary.low = low;
    summary.high = high;
    chunk.summary = summary;
  }

  // How many chunks start with a row or before it.
  int ChunksUpTo(const ResultsModel& model, RowId row) const {
    const auto after = std::ranges::partition_point(
        chunks, [&](const Chunk& chunk) { return !model.StandsBefore(row, chunk.entries.front().row); });
    return int(after - chunks.begin());
  }

  // How many of a chunk's rows stand before a row.
  static size_t Before(const ResultsModel& model, const Chunk& chunk, RowId row) {
    const auto after = std::ranges::partition_point(
        chunk.entries, [&](const ListEntry& entry) { return model.StandsBefore(entry.row, row); });
    return size_t(after - chunk.entries.begin());
  }

  // A chunk's summary changed: so do those above it in the tree (a tree that is to be built anew
  // waits; so does one that has no place for the chunk yet).
  void Changed(size_t c) {
    if (tree.empty() || c >= leaves) {
      tree.clear();
      return;
    }
    size_t i = leaves + c;
    tree[i] = chunks[c].summary;
    for (i /= 2; i >= 1; i /= 2)
      tree[i] = tree[2 * i].Then(tree[2 * i + 1]);
  }

  std::vector<Chunk> chunks;
  // The chunks' summaries combined pairwise up to the whole list, so that the whole list's summary
  // follows a change of one chunk in O(log n): leaves from `leaves` on (the empty summary beyond
  // the last chunk), node i combines nodes 2i and 2i + 1; built again when chunks come or go.
  mutable std::vector<Summary> tree;
  mutable size_t leaves = 0;
};

// The figures of one site over its rows in display order, worked out row by row.
template <typename Figures>
struct SiteState {
  Figures figures;
  RowId lastRow = ResultsModel::NoRow; // the site's last row taken in
  bool stale = false;                  // to be worked out again from the rows before use
};

// Every site's figures, kept with the model and brought up to date by its changes.
//
// SiteAverage and BestWorstOf answer from figures that do not depend on the order of the rows
// (the sum of a site's pings in thousandths) or that follow every change of it (the site lists,
// which take a row in at its place in O(log n) comparisons of places plus one chunk's work), so a
// sorted table costs them no more than an unsorted one. After a sort the lists are built again
// once, when next needed.
//
// The rest goes row by row in display order, as the definitions do: SiteStatistics always, and the
// other two for a site with an irregular ping. A row that starts to count for a site
// after all of that site's rows (the usual case in an unsorted table: the newest row gets its Ping
// and Site ID) is simply taken in. Any other change marks the sites concerned stale; they are worked
// out again, all together in one scan, when one of them is asked for. A sort makes every site stale.
class Cache : public ResultsModel::Attachment {
public:
  explicit Cache(const ResultsModel& model) : model(model) {
    model.ForEachInOrder([this](RowId, const Figures& figures) { Count(figures, 1); });
    RebuildLists();
  }

  void RowLeaving(RowId row, const Figures& figures) override {
    Count(figures, -1);
    const std::optional<double> site = BestWorstSite(figures);
    if (site && listsValid && Regular(figures))
      lists.At(*site).Erase(model, row);
    if (allStale)
      return;
    if (site)
      bestWorst.At(*site).stale = true;
    if (const std::optional<double> tallySite = TallySite(figures))
      tallies.At(*tallySite).stale = true;
  }

  void RowEntering(RowId row, const Figures& figures) override {
    Count(figures, 1);
    const std::optional<double> site = BestWorstSite(figures);
    if (site && listsValid && Regular(figures))
      lists.At(*site).Insert(model, {row, quint32(figures.millis)});
    if (allStale)
      return;
    Follow(bestWorst, site, row, [&](BestWorstTally& state) { state.Add(figures.ping, row); });
    Follow(tallies, TallySite(figures), row, [&](SiteTally& state) { state.Add(figures, row); });
  }

  // A row dropped from the front of the table leaves best and worst, but its ping stays in the
  // site's average: the average of a table that holds only its newest rows is still that of every
  // row the run has had since the table was last emptied.
  void RowDropping(RowId row, const Figures& figures) override {
    if (const std::optional<double> site = TallySite(figures))
      carried.At(*site).Add(figures, 1);
    RowLeaving(row, figures);
  }

  void Reordered() override {
    allStale = true;
    listsValid = false;
  }

  void Cleared() override {
    bestWorst.Clear();
    tallies.Clear();
    totals.Clear();
    carried.Clear();
    lists.Clear();
    allStale = false;
    listsValid = true;
  }

  BestWorstTally BestWorstOf(double site) {
    if (!listsValid)
      RebuildLists();
    const SiteList* list = lists.Find(site);
    if (list && list->irregular > 0)
      return Lookup(bestWorst, site);
    return !list || list->Empty() ? BestWorstTally() : list->Total().Figures();
  }

  // The running sum of SiteAverage and the count of rows.
  std::pair<double, qint64> SumOf(double site) {
    Totals all;
    if (const Totals* kept = totals.Find(site))
      all = *kept;
    const Totals* dropped = carried.Find(site);
    if (dropped) {
      all.count += dropped->count;
      all.irregular += dropped->irregular;
      all.millis += dropped->millis;
    }
    if (all.count == 0)
      return {0, 0};
    if (all.Exact())
      return {double(all.millis) / 1000.0, all.count};
    // Pings in other forms: the kept rows' running sum, and the dropped rows' pings added after it.
    const SiteTally tally = TallyOf(site);
    if (!dropped || dropped->count == 0)
      return {tally.sum, tally.count};
    return {tally.sum + dropped->sum, tally.count + dropped->count};
  }

  SiteTally TallyOf(double site) { return Lookup(tallies, site); }

private:
  // The figures that do not depend on the order: the sums and the rows left out of the lists.
  void Count(const Figures& figures, int sign) {
    if (const std::optional<double> site = TallySite(figures))
      totals.At(*site).Add(figures, sign);
    if (const std::optional<double> site = BestWorstSite(figures); site && !Regular(figures))
      lists.At(*site).irregular += sign;
  }

  // The site lists in the present display order. Their chunks are left with some room, so that
  // the rows that come next into the sorted order seldom split one.
  void RebuildLists() {
    lists.ForEach([](SiteList& list) { list.ClearEntries(); });
    model.ForEachInOrder([this](RowId row, const Figures& figures) {
      const std::optional<double> site = BestWorstSite(figures);
      if (site && Regular(figures))
        lists.At(*site).Append({row, quint32(figures.millis)}, SiteList::ChunkSize * 7 / 8);
    });
    listsValid = true;
  }

  template <typename Figures, typename AddRow>
  void Follow(SiteMap<SiteState<Figures>>& sites, std::optional<double> site, RowId row, AddRow add) {
    if (!site)
      return;
    SiteState<Figures>& state = sites.At(*site);
    if (state.stale)
      return;
    if (!model.StandsBefore(state.lastRow, row)) {
      state.stale = true;
      return;
    }
    add(state.figures);
    state.lastRow = row;
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
    if constexpr (std::is_same_v<Figures, BestWorstTally>)
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
    model.ForEachInOrder([this](RowId row, const Figures& figures) { Take<false>(row, figures); });
    allStale = false;
  }

  // Works out every stale site again, in one scan.
  void RebuildStale() {
    const auto reset = [](auto& state) {
      if (state.stale) {
        state.figures = {};
        state.lastRow = ResultsModel::NoRow;
      }
    };
    bestWorst.ForEach(reset);
    tallies.ForEach(reset);

    model.ForEachInOrder([this](RowId row, const Figures& figures) { Take<true>(row, figures); });

    const auto fresh = [](auto& state) { state.stale = false; };
    bestWorst.ForEach(fresh);
    tallies.ForEach(fresh);
  }

  const ResultsModel& model;
  SiteMap<Totals> totals;  // by the leading-number Site ID
  SiteMap<Totals> carried; // of the rows dropped from the front, by the leading-number Site ID
  SiteMap<SiteList> lists; // by the strict Site ID
  bool listsValid = false;
  bool allStale = true;
  SiteMap<SiteState<BestWorstTally>> bestWorst;
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

std::optional<BestWorst> Statistics::BestWorstOf(const ResultsModel& model, int siteId) {
  const BestWorstTally tally = CacheOf(model).BestWorstOf(siteId);
  if (!tally.any)
    return std::nullopt;
  return BestWorst{tally.best, model.Text(tally.bestRow, ResultsModel::EventTime), tally.worst,
                   model.Text(tally.worstRow, ResultsModel::EventTime)};
}

QString Statistics::SiteAverage(const ResultsModel& model, int siteId) {
  const auto [sum, count] = CacheOf(model).SumOf(siteId);
  return count > 0 ? Numbers::Fixed3(sum / double(count)) : QStringLiteral("0.000");
}

SiteFigures Statistics::SiteStatistics(const ResultsModel& model, int siteId) {
  const SiteTally tally = CacheOf(model).TallyOf(siteId);
  SiteFigures figures;
  figures.count = tally.count;
  figures.best = tally.bestIsText ? Numbers::Fixed3(tally.best) : Numbers::Plain(tally.best);
  figures.worst = tally.worstIsText ? Numbers::Fixed3(tally.worst) : Numbers::Plain(0);
  figures.average = tally.count > 0 ? Numbers::Fixed3(tally.total / double(tally.count)) : QStringLiteral("0.000");
  figures.bestTime = model.Text(tally.bestRow, ResultsModel::EventTime);
  figures.worstTime = model.Text(tally.worstRow, ResultsModel::EventTime);
  return figures;
}
