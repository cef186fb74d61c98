#include "results/resultsmodel.h"

#include "platform/numbers.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Texts of a row that do not fit into its own buffer move to the heap, all six together.
struct Spill {
  std::array<QByteArray, ResultsModel::ColumnCount> texts;
};

enum RowFlag : quint8 {
  Spilled = 1,    // the texts live in a Spill whose address is kept in the row's buffer
  PingNumber = 2, // the Ping reads strictly as a number; `ping` holds its leading-number value
  PingMillis = 4, // the Ping is a plain "d.ddd" text
  SiteInt = 8,    // the Site ID is a plain decimal integer held in `site`
  SiteEmpty = 16, // the Site ID is empty
};

constexpr int InlineBytes = 44;

// One row: 64 bytes. The six texts are UTF-8, packed one after the other into `bytes` with their
// lengths in `len`; the figures the statistics read are kept beside them.
struct Row {
  double ping;
  qint32 site;
  quint8 len[ResultsModel::ColumnCount];
  quint8 mark; // bit 7 bold, bits 0-6 index into the colour palette
  quint8 flags;
  char bytes[InlineBytes];
};
static_assert(sizeof(Row) == 64, "a row is meant to fill one cache line");

constexpr quint8 BoldBit = 0x80;
constexpr quint8 OddColour = 0x7F; // palette full: the colour is kept in a side table

Spill* SpillOf(const Row& row) {
  Spill* spill = nullptr;
  std::memcpy(&spill, row.bytes, sizeof spill); // NOLINT(bugprone-sizeof-expression): the pointer itself is stored
  return spill;
}

void SetSpill(Row& row, Spill* spill) {
  std::memcpy(row.bytes, &spill, sizeof spill); // NOLINT(bugprone-sizeof-expression): the pointer itself is stored
}

QByteArrayView Bytes(const Row& row, int column) {
  if (row.flags & Spilled)
    return SpillOf(row)->texts[column];
  int offset = 0;
  for (int c = 0; c < column; ++c)
    offset += row.len[c];
  return QByteArrayView(row.bytes + offset, row.len[column]);
}

// Replaces one column's text, keeping the texts packed; moves them to the heap when they no
// longer fit and back when they fit again.
void Store(Row& row, int column, QByteArrayView text) {
  if (row.flags & Spilled) {
    Spill* spill = SpillOf(row);
    spill->texts[column] = text.toByteArray();
    qsizetype total = 0;
    for (const QByteArray& t : spill->texts)
      total += t.size();
    if (total > InlineBytes)
      return;
    int offset = 0;
    for (int c = 0; c < ResultsModel::ColumnCount; ++c) {
      const QByteArray& t = spill->texts[c];
      row.len[c] = quint8(t.size());
      std::memcpy(row.bytes + offset, t.constData(), size_t(t.size()));
      offset += int(t.size());
    }
    delete spill;
    row.flags &= quint8(~Spilled);
    return;
  }

  int before = 0;
  for (int c = 0; c < column; ++c)
    before += row.len[c];
  int after = 0;
  for (int c = column + 1; c < ResultsModel::ColumnCount; ++c)
    after += row.len[c];
  const int old = row.len[column];
  if (before + text.size() + after <= InlineBytes) {
    const int n = int(text.size());
    std::memmove(row.bytes + before + n, row.bytes + before + old, size_t(after));
    if (n > 0)
      std::memcpy(row.bytes + before, text.data(), size_t(n));
    row.len[column] = quint8(n);
    return;
  }

  auto* spill = new Spill;
  for (int c = 0; c < ResultsModel::ColumnCount; ++c)
    spill->texts[c] = c == column ? text.toByteArray() : Bytes(row, c).toByteArray();
  SetSpill(row, spill);
  row.flags |= Spilled;
}

void FreeSpills(std::vector<Row>& rows) {
  for (Row& row : rows)
    if (row.flags & Spilled)
      delete SpillOf(row);
}

// Texts are stored as UTF-8 but compared as UTF-16 code units, the way QString compares them. The
// two orders differ only between characters U+E000..U+FFFF (lead bytes EE, EF) and characters
// beyond U+FFFF (lead bytes F0..F4, surrogate pairs in UTF-16); this mapping of bytes puts the
// latter first, so that comparing mapped bytes gives the UTF-16 order.
constexpr std::array<quint8, 256> MakeOrderMap() {
  std::array<quint8, 256> map{};
  for (int i = 0; i < 256; ++i)
    map[size_t(i)] = quint8(i);
  map[0xF0] = 0xEE;
  map[0xF1] = 0xEF;
  map[0xF2] = 0xF0;
  map[0xF3] = 0xF1;
  map[0xF4] = 0xF2;
  map[0xEE] = 0xF3;
  map[0xEF] = 0xF4;
  return map;
}
constexpr std::array<quint8, 256> OrderMap = MakeOrderMap();

int CompareTexts(QByteArrayView a, QByteArrayView b) {
  const qsizetype n = std::min(a.size(), b.size());
  for (qsizetype i = 0; i < n; ++i) {
    const quint8 x = OrderMap[quint8(a[i])];
    const quint8 y = OrderMap[quint8(b[i])];
    if (x != y)
      return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// The first eight mapped bytes of a text as one number, for sorting many rows quickly.
quint64 SortPrefix(QByteArrayView text) {
  quint64 key = 0;
  for (qsizetype i = 0; i < 8; ++i)
    key = (key << 8) | (i < text.size() ? OrderMap[quint8(text[i])] : 0u);
  return key;
}

// "d.ddd" with one to nine digits before the point: a Ping the way the cycle writes it.
bool IsMillisText(const QString& text) {
  const qsizetype point = text.size() - 4;
  if (point < 1 || point > 9 || text.at(point) != QLatin1Char('.'))
    return false;
  for (qsizetype i = 0; i < text.size(); ++i)
    if (i != point && !Numbers::IsDigit(text.at(i)))
      return false;
  return true;
}

void ReadPing(Row& row, const QString& text) {
  row.flags &= quint8(~(PingNumber | PingMillis));
  row.ping = 0;
  if (!Numbers::Strict(text))
    return;
  row.flags |= PingNumber;
  row.ping = Numbers::Value(text);
  if (IsMillisText(text))
    row.flags |= PingMillis;
}

void ReadSite(Row& row, const QString& text) {
  row.flags &= quint8(~(SiteInt | SiteEmpty));
  row.site = 0;
  if (text.isEmpty()) {
    row.flags |= SiteEmpty;
    return;
  }
  if (text.size() > 9 || !Numbers::IsDigits(text))
    return;
  row.site = text.toInt();
  row.flags |= SiteInt;
}

// Hands freed memory back to the system. The C library keeps freed heap blocks for reuse, so the
// scratch space of a sort of a million rows (tens of MB) or a cleared table would otherwise stay
// in the program's resident size.
void ReleaseFreeMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

// What the statistics read of a row.
ResultsModel::Figures FiguresOfRow(const Row& row) {
  ResultsModel::Figures figures;
  figures.pingIsNumber = row.flags & PingNumber;
  figures.ping = row.ping;
  figures.pingMillis = row.flags & PingMillis;
  if (figures.pingMillis)
    figures.millis = std::llround(row.ping * 1000.0);
  if (row.flags & SiteInt) {
    figures.siteStrict = row.site;
    figures.siteValue = row.site;
  } else if (!(row.flags & SiteEmpty)) {
    const QByteArrayView bytes = Bytes(row, ResultsModel::SiteId);
    const QString text = QString::fromUtf8(bytes.data(), bytes.size());
    figures.siteStrict = Numbers::Strict(text);
    figures.siteValue = Numbers::Value(text);
  }
  return figures;
}

// The first index in [0, n) for which `before` is false; `before` holds for a leading part only.
template <typename Predicate>
int PartitionPoint(int n, Predicate before) {
  int lo = 0;
  int hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (before(mid))
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Room for one more item in a chunk, grown by an eighth at a time so that chunks filled by
// inserts in the middle waste little memory.
void MakeRoom(std::vector<quint32>& items, size_t most) {
  if (items.size() == items.capacity())
    items.reserve(std::min(most, items.size() + items.size() / 8 + 4));
}

// The display order: the rows' storage indexes in chunks of at most ChunkSize. Inserting a row
// anywhere (its sorted place) moves the entries of one chunk and shifts the chunks' start
// positions, never a whole table's worth; a row's position is its chunk's start plus its place in
// the chunk. Chunks keep a stable id; `ranked` orders them.
class Sequence {
public:
  static constexpr int ChunkSize = 512;

  int Count() const { return count; }

  quint32 At(int position) const {
    const size_t r = RankAt(position);
    return chunks[ranked[r]][size_t(position - starts[r])];
  }

  int PositionOf(quint32 index) const {
    const quint32 id = chunkOf[index];
    return starts[rankOf[id]] + Find(chunks[id], index);
  }

  // Whether one stored row stands before another; only rows of one chunk need to be looked for.
  bool Precedes(quint32 a, quint32 b) const {
    const quint32 ca = chunkOf[a];
    const quint32 cb = chunkOf[b];
    if (ca != cb)
      return rankOf[ca] < rankOf[cb];
    return Find(chunks[ca], a) < Find(chunks[ca], b);
  }

  // Puts a row at a position: a new row (the next storage index) or one taken out by Erase.
  void Insert(int position, quint32 index) {
    if (index >= chunkOf.size())
      chunkOf.resize(size_t(index) + 1);
    if (ranked.empty())
      AddChunk(0);
    size_t r = position == count ? ranked.size() - 1 : RankAt(position);
    if (chunks[ranked[r]].size() == size_t(ChunkSize)) {
      if (position == count) {
        AddChunk(ranked.size()); // appending: start a new chunk, leave the full one full
        r = ranked.size() - 1;
      } else {
        Split(r);
        if (position - starts[r] > int(chunks[ranked[r]].size()))
          ++r;
      }
    }
    const quint32 id = ranked[r];
    std::vector<quint32>& items = chunks[id];
    if (position == count)
      items.reserve(ChunkSize); // the rows that follow will fill it
    else
      MakeRoom(items, ChunkSize);
    items.insert(items.begin() + (position - starts[r]), index);
    chunkOf[index] = id;
    for (size_t k = r + 1; k < starts.size(); ++k)
      ++starts[k];
    ++count;
  }

  void Erase(int position) {
    const size_t r = RankAt(position);
    const quint32 id = ranked[r];
    std::vector<quint32>& items = chunks[id];
    items.erase(items.begin() + (position - starts[r]));
    for (size_t k = r + 1; k < starts.size(); ++k)
      --starts[k];
    --count;
    if (items.empty())
      RemoveChunk(r);
  }

  // A whole new order of every row (a sort): the storage index at each position. The chunks are
  // left with some room, so that the rows that come next into the sorted order seldom split one.
  template <typename IndexAt>
  void Assign(int rows, IndexAt indexAt) {
    constexpr int Fill = ChunkSize * 7 / 8;
    Clear();
    chunkOf.resize(size_t(rows));
    for (int i = 0; i < rows; ++i) {
      if (i % Fill == 0) {
        AddChunk(ranked.size());
        chunks[ranked.back()].reserve(size_t(std::min(Fill, rows - i)));
      }
      const quint32 id = ranked.back();
      const quint32 index = indexAt(i);
      chunks[id].push_back(index);
      chunkOf[index] = id;
    }
    count = rows;
    for (size_t r = 0; r < ranked.size(); ++r)
      starts[r] = int(r) * Fill;
  }

  // Takes out the rows at the first n positions (n <= Count()).
  void EraseFront(int n) {
    while (n > 0) {
      std::vector<quint32>& items = chunks[ranked[0]];
      const int take = std::min(n, int(items.size()));
      items.erase(items.begin(), items.begin() + take);
      for (size_t k = 1; k < starts.size(); ++k)
        starts[k] -= take;
      count -= take;
      n -= take;
      if (items.empty())
        RemoveChunk(0);
    }
    hint = 0;
  }

  void Clear() {
    std::vector<std::vector<quint32>>().swap(chunks);
    std::vector<quint32>().swap(ranked);
    std::vector<int>().swap(starts);
    std::vector<quint32>().swap(rankOf);
    std::vector<quint32>().swap(chunkOf);
    std::vector<quint32>().swap(unused);
    count = 0;
    hint = 0;
  }

  // Calls function(items) with each chunk's storage indexes, in display order.
  template <typename Function>
  void ForEachChunk(Function function) const {
    for (const quint32 id : ranked)
      function(chunks[id]);
  }

private:
  // Where a chunk holds a storage index (it must hold it), looked for in blocks of 16 compared
  // without branches.
  static int Find(const std::vector<quint32>& items, quint32 index) {
    const quint32* item = items.data();
    size_t i = 0;
    for (; i + 16 <= items.size(); i += 16) {
      unsigned hit = 0;
#pragma GCC unroll 1 // kept as a loop, the compiler makes it vector compares
      for (size_t k = 0; k < 16; ++k)
        hit |= unsigned(item[i + k] == index);
      if (hit != 0)
        break;
    }
    while (item[i] != index)
      ++i;
    return int(i);
  }

  // The rank of the chunk holding a position (0 <= position < count). Scans that walk the table
  // in order find it at the hint or the chunk after it.
  size_t RankAt(int position) const {
    const auto holds = [&](size_t r) {
      return r < ranked.size() && position >= starts[r] && position - starts[r] < int(chunks[ranked[r]].size());
    };
    if (!holds(hint)) {
      if (holds(hint + 1))
        ++hint;
      else
        hint = size_t(std::upper_bound(starts.begin(), starts.end(), position) - starts.begin()) - 1;
    }
    return hint;
  }

  // A new empty chunk at a rank.
  void AddChunk(size_t r) {
    quint32 id = 0;
    if (unused.empty()) {
      id = quint32(chunks.size());
      chunks.emplace_back();
      rankOf.push_back(0);
    } else {
      id = unused.back();
      unused.pop_back();
    }
    const int start = r < starts.size() ? starts[r] : count;
    ranked.insert(ranked.begin() + qsizetype(r), id);
    starts.insert(starts.begin() + qsizetype(r), start);
    for (size_t k = r; k < ranked.size(); ++k)
      rankOf[ranked[k]] = quint32(k);
  }

  void RemoveChunk(size_t r) {
    const quint32 id = ranked[r];
    std::vector<quint32>().swap(chunks[id]);
    unused.push_back(id);
    ranked.erase(ranked.begin() + qsizetype(r));
    starts.erase(starts.begin() + qsizetype(r));
    for (size_t k = r; k < ranked.size(); ++k)
      rankOf[ranked[k]] = quint32(k);
  }

  // Moves the second half of a full chunk into a new chunk right after it.
  void Split(size_t r) {
    AddChunk(r + 1);
    std::vector<quint32>& from = chunks[ranked[r]];
    std::vector<quint32>& to = chunks[ranked[r + 1]];
    const auto half = from.begin() + ChunkSize / 2;
    to.assign(half, from.end());
    from.erase(half, from.end());
    from.shrink_to_fit();
    for (const quint32 index : to)
      chunkOf[index] = ranked[r + 1];
    starts[r + 1] = starts[r] + int(from.size());
  }

  std::vector<std::vector<quint32>> chunks; // by id: storage indexes in display order
  std::vector<quint32> ranked;              // rank -> chunk id
  std::vector<int> starts;                  // rank -> display position of the chunk's first row
  std::vector<quint32> rankOf;              // chunk id -> rank
  std::vector<quint32> chunkOf;             // storage index -> chunk id
  std::vector<quint32> unused;              // ids of emptied chunks
  int count = 0;
  mutable size_t hint = 0;
};

} // namespace

struct ResultsModel::Impl {
  std::vector<Row> rows; // by storage index; RowId = base + storage index
  Sequence order;        // display order
  quint32 base = 0;
  quint32 dead = 0;   // rows at the front of `rows` taken out by DropFirstRows, not yet compacted away
  qint64 dropped = 0; // rows taken out by DropFirstRows since the last Clear
  QString firstDroppedTime;
  std::vector<int> palette{Black, Red, Blue};
  QHash<quint32, int> oddColours; // storage index -> colour, once the palette is full

  bool sorted = false;
  int sortColumn = 0;
  bool descending = false;

  mutable std::unique_ptr<Attachment> statistics;

  ~Impl() { FreeSpills(rows); }

  int Index(RowId id) const {
    const quint32 i = id - base;
    return i < rows.size() && i >= dead ? int(i) : -1;
  }

  // Whether row a belongs strictly before row b in the sort order.
  bool Before(const Row& a, const Row& b) const {
    const int c = CompareTexts(Bytes(a, sortColumn), Bytes(b, sortColumn));
    return descending ? c > 0 : c < 0;
  }

  quint8 PaletteIndex(int colour) {
    const auto it = std::find(palette.begin(), palette.end(), colour);
    if (it != palette.end())
      return quint8(it - palette.begin());
    if (palette.size() < OddColour) {
      palette.push_back(colour);
      return quint8(palette.size() - 1);
    }
    return OddColour;
  }

  void SortAll() {
    struct Key {
      quint64 prefix;
      quint32 index;
      quint32 length;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(order.Count()));
    order.ForEachChunk([&](const std::vector<quint32>& items) {
      for (const quint32 index : items) {
        const QByteArrayView text = Bytes(rows[index], sortColumn);
        keys.push_back({SortPrefix(text), index, quint32(std::min<qsizetype>(text.size(), 0xFFFFFFFF))});
      }
    });
    const auto less = [this](const Key& a, const Key& b) {
      if (a.prefix != b.prefix)
        return a.prefix < b.prefix;
      if (a.length <= 8 && b.length <= 8)
        return a.length < b.length;
      return CompareTexts(Bytes(rows[a.index], sortColumn), Bytes(rows[b.index], sortColumn)) < 0;
    };
    if (descending)
      std::stable_sort(keys.begin(), keys.end(), [&less](const Key& a, const Key& b) { return less(b, a); });
    else
      std::stable_sort(keys.begin(), keys.end(), less);
    order.Assign(int(keys.size()), [&keys](int i) { return keys[size_t(i)].index; });
  }

  const Row& RowAtPosition(int position) const { return rows[order.At(position)]; }

  // Whether a row at a position is in sort order with its neighbours.
  bool InPlace(int position) const {
    const Row& row = RowAtPosition(position);
    return (position == 0 || !Before(row, RowAtPosition(position - 1))) &&
           (position + 1 == order.Count() || !Before(RowAtPosition(position + 1), row));
  }
};

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent), d(std::make_unique<Impl>()) {}

ResultsModel::~ResultsModel() = default;

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count() || index.column() >= ColumnCount)
    return {};
  const RowId id = RowAt(index.row());
  switch (role) {
  case Qt::DisplayRole: return Text(id, index.column());
  case ColourRole: return Colour(id);
  case BoldRole: return Bold(id);
  default: return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
    return ColumnCaptions().at(section);
  return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QStringList ResultsModel::ColumnCaptions() {
  return {QStringLiteral("Event Time"), QStringLiteral("Ping"),   QStringLiteral("Average"),
          QStringLiteral("Site ID"),    QStringLiteral("Packet"), QStringLiteral("Result")};
}

int ResultsModel::Count() const {
  return d->order.Count();
}

ResultsModel::RowId ResultsModel::AddRow(const QString& eventTime) {
  Row row{};
  row.flags = SiteEmpty;
  Store(row, EventTime, eventTime.toUtf8());

  const int count = Count();
  // A new row counts as the last of the present order: among equal texts it goes last.
  const int p = d->sorted ? PartitionPoint(count, [&](int m) { return !d->Before(row, d->RowAtPosition(m)); }) : count;

  beginInsertRows(QModelIndex(), p, p);
  d->rows.push_back(row);
  const auto index = quint32(d->rows.size() - 1);
  d->order.Insert(p, index);
  endInsertRows();
  return d->base + index;
}

void ResultsModel::SetText(RowId id, int column, const QString& text) {
  const int index = d->Index(id);
  if (index < 0 || column < 0 || column >= ColumnCount)
    return;
  Row& row = d->rows[size_t(index)];
  const QByteArray bytes = text.toUtf8();
  if (Bytes(row, column) == QByteArrayView(bytes))
    return;

  int p = d->order.PositionOf(quint32(index));
  Attachment* statistics = d->statistics.get();
  const bool figuresChange = column == Ping || column == SiteId;
  const bool mayMove = d->sorted && column == d->sortColumn;
  Figures before;
  if (statistics && (figuresChange || mayMove))
    before = FiguresOf(id);
  Store(row, column, bytes);
  if (column == Ping)
    ReadPing(row, text);
  else if (column == SiteId)
    ReadSite(row, text);

  // A row whose sort text changed goes to its sorted place among the others; among equal texts it
  // keeps its present order.
  const bool move = mayMove && !d->InPlace(p);
  if (statistics && (figuresChange || move))
    statistics->RowLeaving(id, before);
  if (move) {
    const auto other = [&](int m) -> const Row& { return d->RowAtPosition(m < p ? m : m + 1); };
    const int others = Count() - 1;
    const int lo = PartitionPoint(others, [&](int m) { return d->Before(other(m), row); });
    const int hi = PartitionPoint(others, [&](int m) { return !d->Before(row, other(m)); });
    const int q = std::clamp(p, lo, hi);
    beginMoveRows(QModelIndex(), p, p, QModelIndex(), q > p ? q + 1 : q);
    d->order.Erase(p);
    d->order.Insert(q, quint32(index));
    endMoveRows();
    p = q;
  }
  if (statistics && (figuresChange || move))
    statistics->RowEntering(id, FiguresOf(id));
  const QModelIndex cell = this->index(p, column);
  emit dataChanged(cell, cell, {Qt::DisplayRole});
}

QString ResultsModel::Text(RowId id, int column) const {
  const int index = d->Index(id);
  if (index < 0 || column < 0 || column >= ColumnCount)
    return {};
  const QByteArrayView bytes = Bytes(d->rows[size_t(index)], column);
  return QString::fromUtf8(bytes.data(), bytes.size());
}

void ResultsModel::SetMark(RowId id, int colour, bool bold) {
  const int index = d->Index(id);
  if (index < 0)
    return;
  const quint8 entry = d->PaletteIndex(colour);
  if (entry == OddColour)
    d->oddColours.insert(quint32(index), colour);
  else
    d->oddColours.remove(quint32(index));
  const quint8 mark = quint8(entry | (bold ? BoldBit : 0));
  Row& row = d->rows[size_t(index)];
  if (row.mark == mark && entry != OddColour)
    return;
  row.mark = mark;
  const int p = d->order.PositionOf(quint32(index));
  emit dataChanged(this->index(p, 0), this->index(p, ColumnCount - 1), {ColourRole, BoldRole});
}

int ResultsModel::Colour(RowId id) const {
  const int index = d->Index(id);
  if (index < 0)
    return Black;
  const quint8 entry = d->rows[size_t(index)].mark & quint8(~BoldBit);
  if (entry == OddColour)
    return d->oddColours.value(quint32(index), Black);
  return d->palette[entry];
}

bool ResultsModel::Bold(RowId id) const {
  const int index = d->Index(id);
  return index >= 0 && (d->rows[size_t(index)].mark & BoldBit);
}

void ResultsModel::Clear() {
  beginResetModel();
  FreeSpills(d->rows);
  d->base += quint32(d->rows.size());
  // Give the memory back: a cleared table of a million rows should not keep its 70 MB.
  std::vector<Row>().swap(d->rows);
  d->dead = 0;
  d->dropped = 0;
  d->firstDroppedTime.clear();
  d->order.Clear();
  d->oddColours.clear();
  if (d->statistics)
    d->statistics->Cleared();
  ReleaseFreeMemory();
  endResetModel();
}

int ResultsModel::DropFirstRows(int n) {
  n = std::min(n, Count());
  if (d->sorted || n <= 0)
    return 0;
  beginRemoveRows(QModelIndex(), 0, n - 1);
  if (d->dropped == 0)
    d->firstDroppedTime = TextAt(0, EventTime);
  // In an unsorted table display order is storage order: the first rows are the oldest stored.
  if (Attachment* statistics = d->statistics.get())
    for (quint32 i = 0; i < quint32(n); ++i)
      statistics->RowDropping(d->base + d->dead + i, FiguresOfRow(d->rows[d->dead + i]));
  for (quint32 i = d->dead; i < d->dead + quint32(n); ++i) {
    Row& row = d->rows[i];
    if (row.flags & Spilled)
      delete SpillOf(row);
    row.flags = 0;
    d->oddColours.remove(i);
  }
  d->order.EraseFront(n);
  d->dead += quint32(n);
  d->dropped += n;
  // Once the dropped rows outnumber the kept ones, the kept rows move to the front of the storage
  // (handles stay as they were), so that a table that keeps dropping its oldest rows stays within
  // about twice its rows' memory.
  constexpr quint32 CompactFrom = 4096;
  if (d->dead >= CompactFrom && d->dead >= quint32(Count())) {
    const quint32 dead = d->dead;
    d->rows.erase(d->rows.begin(), d->rows.begin() + dead);
    d->base += dead;
    d->dead = 0;
    QHash<quint32, int> colours;
    for (auto it = d->oddColours.cbegin(); it != d->oddColours.cend(); ++it)
      colours.insert(it.key() - dead, it.value());
    d->oddColours.swap(colours);
    d->order.Assign(int(d->rows.size()), [](int i) { return quint32(i); });
  }
  endRemoveRows();
  return n;
}

qint64 ResultsModel::Dropped() const {
  return d->dropped;
}

QString ResultsModel::FirstDroppedTime() const {
  return d->firstDroppedTime;
}

ResultsModel::RowId ResultsModel::RowAt(int position) const {
  if (position < 0 || position >= Count())
    return NoRow;
  return d->base + d->order.At(position);
}

int ResultsModel::PositionOf(RowId id) const {
  const int index = d->Index(id);
  return index < 0 ? -1 : d->order.PositionOf(quint32(index));
}

bool ResultsModel::StandsBefore(RowId a, RowId b) const {
  const int first = d->Index(a);
  const int second = d->Index(b);
  if (first < 0 || second < 0)
    return second >= 0;
  return d->order.Precedes(quint32(first), quint32(second));
}

QString ResultsModel::TextAt(int position, int column) const {
  return Text(RowAt(position), column);
}

void ResultsModel::ColumnClick(int column) {
  if (column < 0 || column >= ColumnCount)
    return;
  d->sortColumn = column;
  d->descending = !d->descending;
  d->sorted = true;

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<quint32> indexes;
  indexes.reserve(size_t(before.size()));
  for (const QModelIndex& index : before)
    indexes.push_back(d->order.At(index.row()));
  d->SortAll();
  ReleaseFreeMemory();
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i)
    after.append(index(d->order.PositionOf(indexes[size_t(i)]), before.at(i).column()));
  changePersistentIndexList(before, after);
  if (d->statistics)
    d->statistics->Reordered();
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool ResultsModel::Sorted() const {
  return d->sorted;
}

int ResultsModel::SortColumn() const {
  return d->sortColumn;
}

bool ResultsModel::Descending() const {
  return d->descending;
}

ResultsModel::Figures ResultsModel::FiguresAt(int position) const {
  return FiguresOf(RowAt(position));
}

ResultsModel::Figures ResultsModel::FiguresOf(RowId id) const {
  const int index = d->Index(id);
  return index < 0 ? Figures() : FiguresOfRow(d->rows[size_t(index)]);
}

void ResultsModel::ForEachInOrder(const std::function<void(RowId, const Figures&)>& function) const {
  // Rows in display order lie scattered in storage once the table has been sorted: fetch a few
  // rows ahead so that their reads overlap.
  constexpr size_t Ahead = 16;
  d->order.ForEachChunk([&](const std::vector<quint32>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
#if defined(__GNUC__)
      if (i + Ahead < items.size())
        __builtin_prefetch(&d->rows[items[i + Ahead]]);
#endif
      function(d->base + items[i], FiguresOfRow(d->rows[items[i]]));
    }
  });
}

ResultsModel::Attachment* ResultsModel::StatisticsState() const {
  return d->statistics.get();
}

void ResultsModel::SetStatisticsState(std::unique_ptr<Attachment> state) const {
  d->statistics = std::move(state);
}
