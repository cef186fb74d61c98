#include "resultrows.h"
#include "results/resultsmodel.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <array>

namespace {

using RowId = ResultsModel::RowId;

RowId AddFull(ResultsModel& model, const QStringList& texts) {
  return Fill(model, {texts}, AllColumns).constFirst();
}

// One column's texts in display order.
QStringList ColumnTexts(const ResultsModel& model, int column) {
  QStringList texts;
  for (int i = 0; i < model.Count(); ++i)
    texts << model.TextAt(i, column);
  return texts;
}

// The display order is sorted by the sort column's text (UTF-16 code units, as QString compares).
bool InSortOrder(const ResultsModel& model) {
  const QStringList texts = ColumnTexts(model, model.SortColumn());
  for (int i = 1; i < texts.size(); ++i) {
    const int c = texts.at(i - 1).compare(texts.at(i));
    if (model.Descending() ? c < 0 : c > 0)
      return false;
  }
  return true;
}

} // namespace

class ResultsModelTest : public QObject {
  Q_OBJECT

private slots:
  void captionsAndFlags();
  void textsSurviveEveryEdit();
  void marks();
  void handlesAfterClear();

  void columnClickTogglesAndSortsByText();
  void sortIsStableAndFollowsUtf16Order();
  void sortedTableKeepsNewAndChangedRowsInPlace();
  void persistentIndexesFollowTheirRows();
  void bigSortedTableAndItsSignals();

  void modelTester();
};

void ResultsModelTest::captionsAndFlags() {
  ResultsModel model;
  QCOMPARE(model.columnCount(), 6);
  QStringList captions;
  for (int c = 0; c < model.columnCount(); ++c)
    captions << model.headerData(c, Qt::Horizontal).toString();
  QCOMPARE(captions, QStringList({"Event Time", "Ping", "Average", "Site ID", "Packet", "Result"}));

  model.AddRow(QStringLiteral("10:15:02"));
  const Qt::ItemFlags flags = model.flags(model.index(0, 1));
  QVERIFY(!(flags & Qt::ItemIsEditable));
  QVERIFY(flags & Qt::ItemIsSelectable);
  QVERIFY(!model.setData(model.index(0, 1), QStringLiteral("x")));
  QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("10:15:02"));
  QCOMPARE(model.data(model.index(0, 1)).toString(), QString());
}

// Random edits of random columns against a plain list of texts: short, empty, long (beyond a
// row's own buffer and back) and non-ASCII texts, each column changed in any order.
void ResultsModelTest::textsSurviveEveryEdit() {
  const QStringList samples = {"",
                               "1",
                               "0.250",
                               "10:15:02",
                               "Waiting",
                               " => 20",
                               "Connection refused",
                               "Größe: ü€",
                               QString::fromUtf8("\xF0\x9F\x98\x80 \xEE\x80\x80"),
                               "Error transferring http://example.invalid/vok.txt - server replied: Not Found",
                               QString(300, QLatin1Char('x'))};
  QRandomGenerator random(7);
  ResultsModel model;
  QList<std::array<QString, 6>> expected;
  QList<RowId> ids;
  for (int step = 0; step < 4000; ++step) {
    if (ids.isEmpty() || random.bounded(8) == 0) {
      const QString time = samples.at(random.bounded(samples.size()));
      ids << model.AddRow(time);
      expected.append({time, {}, {}, {}, {}, {}});
      continue;
    }
    const int row = random.bounded(ids.size());
    const int column = random.bounded(6);
    const QString text = samples.at(random.bounded(samples.size()));
    model.SetText(ids.at(row), column, text);
    expected[row][size_t(column)] = text;
    for (int c = 0; c < 6; ++c)
      QCOMPARE(model.Text(ids.at(row), c), expected.at(row).at(size_t(c)));
  }
  for (int row = 0; row < ids.size(); ++row) {
    QCOMPARE(model.PositionOf(ids.at(row)), row);
    QCOMPARE(model.RowAt(row), ids.at(row));
    for (int c = 0; c < 6; ++c)
      QCOMPARE(model.TextAt(row, c), expected.at(row).at(size_t(c)));
  }
}

void ResultsModelTest::marks() {
  ResultsModel model;
  const RowId plain = model.AddRow(QStringLiteral("a"));
  const RowId red = model.AddRow(QStringLiteral("b"));
  const RowId blue = model.AddRow(QStringLiteral("c"));
  model.SetMark(red, ResultsModel::Red, true);
  model.SetMark(blue, ResultsModel::Blue, true);

  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.SetMark(blue, ResultsModel::Blue, false);
  QCOMPARE(changed.size(), 1);
  QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(2, 0));
  QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(2, 5));

  QCOMPARE(model.data(model.index(0, 3), ResultsModel::ColourRole).toInt(), ResultsModel::Black);
  QCOMPARE(model.data(model.index(0, 3), ResultsModel::BoldRole).toBool(), false);
  QCOMPARE(model.data(model.index(1, 5), ResultsModel::ColourRole).toInt(), ResultsModel::Red);
  QCOMPARE(model.data(model.index(1, 5), ResultsModel::BoldRole).toBool(), true);
  QCOMPARE(model.Colour(blue), ResultsModel::Blue);
  QVERIFY(!model.Bold(blue));
  QVERIFY(!model.data(model.index(1, 0), Qt::ForegroundRole).isValid());
  QCOMPARE(model.Colour(plain), ResultsModel::Black);

  // Far more distinct colours than the compact palette holds: none is lost.
  QList<RowId> rows;
  for (int i = 0; i < 300; ++i) {
    rows << model.AddRow(QString::number(i));
    model.SetMark(rows.last(), 0x010101 * i + 7, i % 2);
  }
  for (int i = 0; i < 300; ++i) {
    QCOMPARE(model.Colour(rows.at(i)), 0x010101 * i + 7);
    QCOMPARE(model.Bold(rows.at(i)), bool(i % 2));
  }
  model.SetMark(rows.last(), ResultsModel::Red, false);
  QCOMPARE(model.Colour(rows.last()), ResultsModel::Red);
}

void ResultsModelTest::handlesAfterClear() {
  ResultsModel model;
  const RowId old = model.AddRow(QStringLiteral("10:00:00"));
  model.Clear();
  QCOMPARE(model.Count(), 0);
  const RowId fresh = model.AddRow(QStringLiteral("11:00:00"));
  QVERIFY(fresh != old);

  // A handle kept across Clear (the cycle's row while the user resets the table) writes nothing.
  model.SetText(old, ResultsModel::Ping, QStringLiteral("0.250"));
  model.SetMark(old, ResultsModel::Red, true);
  QCOMPARE(model.Text(old, ResultsModel::EventTime), QString());
  QCOMPARE(model.PositionOf(old), -1);
  QCOMPARE(model.TextAt(0, ResultsModel::Ping), QString());
  QCOMPARE(model.Colour(fresh), ResultsModel::Black);
  QCOMPARE(model.RowAt(1), ResultsModel::NoRow);
  QCOMPARE(model.RowAt(-1), ResultsModel::NoRow);
  QCOMPARE(model.TextAt(5, 0), QString());
}

void ResultsModelTest::columnClickTogglesAndSortsByText() {
  ResultsModel model;
  for (const char* ping : {"9.000", "10.000", "0.250", "12.031"})
    AddFull(model, {"t", ping});
  QVERIFY(!model.Sorted());

  model.ColumnClick(ResultsModel::Ping);
  QVERIFY(model.Sorted());
  QVERIFY(model.Descending());
  QCOMPARE(ColumnTexts(model, 1), QStringList({"9.000", "12.031", "10.000", "0.250"}));

  model.ColumnClick(ResultsModel::Ping);
  QVERIFY(!model.Descending());
  QCOMPARE(ColumnTexts(model, 1), QStringList({"0.250", "10.000", "12.031", "9.000"}));

  // One direction flag for the whole table: a click on another column toggles it again.
  model.ColumnClick(ResultsModel::EventTime);
  QCOMPARE(model.SortColumn(), int(ResultsModel::EventTime));
  QVERIFY(model.Descending());
}

void ResultsModelTest::sortIsStableAndFollowsUtf16Order() {
  // Texts around the places where UTF-8 byte order and UTF-16 order part ways, plus long texts
  // that share their first bytes and texts that are prefixes of others.
  const QStringList texts = {QString::fromUtf8("\xEE\x80\x80"),     // U+E000
                             QString::fromUtf8("\xF0\x9F\x98\x80"), // U+1F600, a surrogate pair
                             QString::fromUtf8("\xED\x9F\xBF"),     // U+D7FF
                             QString::fromUtf8("\xEF\xBF\xBD"),     // U+FFFD
                             QStringLiteral("abcdefgh-2"),
                             QStringLiteral("abcdefgh-10"),
                             QStringLiteral("abcdefgh"),
                             QStringLiteral("abc"),
                             QStringLiteral(""),
                             QStringLiteral("Z"),
                             QStringLiteral("z"),
                             QStringLiteral("é")};
  QRandomGenerator random(11);
  ResultsModel model;
  QStringList textOf; // by row number, kept in column 0
  for (int i = 0; i < 300; ++i) {
    textOf << texts.at(random.bounded(texts.size()));
    AddFull(model, {QString::number(i), {}, {}, {}, {}, textOf.last()});
  }
  const auto displayed = [&model] {
    QList<int> rows;
    for (int i = 0; i < model.Count(); ++i)
      rows << model.TextAt(i, 0).toInt();
    return rows;
  };
  // Each click: the previous display order, stably sorted by QString's own comparison.
  for (int click = 0; click < 3; ++click) {
    QList<int> expected = displayed();
    const bool descending = !model.Descending();
    std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
      const int c = textOf.at(a).compare(textOf.at(b));
      return descending ? c > 0 : c < 0;
    });
    model.ColumnClick(ResultsModel::Result);
    QCOMPARE(model.Descending(), descending);
    QCOMPARE(displayed(), expected);
  }
}

void ResultsModelTest::sortedTableKeepsNewAndChangedRowsInPlace() {
  ResultsModel model;
  const RowId a = AddFull(model, {"a", "0.500"});
  const RowId b = AddFull(model, {"b", "0.300"});
  const RowId c = AddFull(model, {"c", "0.300"});
  model.ColumnClick(ResultsModel::Ping);
  model.ColumnClick(ResultsModel::Ping); // ascending by Ping: b, c, a
  QCOMPARE(ColumnTexts(model, 0), QStringList({"b", "c", "a"}));

  // A new row has an empty Ping and sorts first. A row whose text changes goes where a stable
  // re-sort of the present order would put it: among rows with its new text it keeps the order it
  // had (d was before b and c, a after them).
  const RowId d = model.AddRow(QStringLiteral("d"));
  QCOMPARE(model.PositionOf(d), 0);
  model.SetText(d, ResultsModel::Ping, QStringLiteral("0.300"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"d", "b", "c", "a"}));
  model.SetText(a, ResultsModel::Ping, QStringLiteral("0.300"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"d", "b", "c", "a"}));
  model.SetText(b, ResultsModel::Ping, QStringLiteral("9.000"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"d", "c", "a", "b"}));
  model.SetText(b, ResultsModel::Ping, QStringLiteral("0.300"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"d", "c", "a", "b"}));
  model.SetText(c, ResultsModel::Ping, QStringLiteral("0.100"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"c", "d", "a", "b"}));

  // A new row counts as the last of the present order: among rows that share its text it goes
  // last. The cycle's row starts with an empty Ping, so in a table sorted by Ping it starts at the
  // top and, once its Ping is written, stays before the rows with the same Ping.
  const RowId e = model.AddRow(QStringLiteral("e"));
  model.SetText(e, ResultsModel::Ping, QStringLiteral("0.100"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"e", "c", "d", "a", "b"}));
  model.ColumnClick(ResultsModel::EventTime); // descending: e d c b a
  const RowId f = model.AddRow(QStringLiteral("c"));
  QCOMPARE(ColumnTexts(model, 0), QStringList({"e", "d", "c", "c", "b", "a"}));
  QCOMPARE(model.PositionOf(f), 3);

  // Other columns do not move a row; handles and positions agree throughout.
  model.SetText(c, ResultsModel::Result, QStringLiteral("zzz"));
  for (const RowId row : {a, b, c, d, e, f})
    QCOMPARE(model.RowAt(model.PositionOf(row)), row);

  // Random appends and edits keep the whole table in order.
  model.ColumnClick(ResultsModel::Ping);
  QRandomGenerator random(3);
  QList<RowId> rows = {a, b, c, d, e, f};
  for (int i = 0; i < 300; ++i) {
    if (random.bounded(3) == 0)
      rows << model.AddRow(QString::number(i));
    else
      model.SetText(rows.at(random.bounded(rows.size())), ResultsModel::Ping,
                    QString::number(random.bounded(20) / 10.0, 'f', 3));
    QVERIFY(InSortOrder(model));
  }
  for (int i = 0; i < rows.size(); ++i)
    QCOMPARE(model.RowAt(model.PositionOf(rows.at(i))), rows.at(i));
}

void ResultsModelTest::persistentIndexesFollowTheirRows() {
  ResultsModel model;
  for (const QString ping : {"0.300", "0.100", "0.200"})
    AddFull(model, {"t" + ping, ping});
  const QPersistentModelIndex first(model.index(0, 1)); // the 0.300 row
  model.ColumnClick(ResultsModel::Ping);                // descending: 0.300 stays first
  model.ColumnClick(ResultsModel::Ping);                // ascending: it moves to the end
  QCOMPARE(first.row(), 2);
  QCOMPARE(first.data().toString(), QStringLiteral("0.300"));

  model.SetText(model.RowAt(2), ResultsModel::Ping, QStringLiteral("0.000"));
  QCOMPARE(first.row(), 0);
  QCOMPARE(first.data().toString(), QStringLiteral("0.000"));
}

// A table of several thousand rows, far beyond the chunks the display order is kept in, sorted by
// texts with many ties while rows are added, rewritten and moved: it stays in order, positions and
// handles agree, and a list that follows only the model's signals ends up in the same order.
void ResultsModelTest::bigSortedTableAndItsSignals() {
  ResultsModel model;
  QList<RowId> seen; // the display order as the signals tell it
  connect(&model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex&, int first, int last) {
    for (int i = first; i <= last; ++i)
      seen.insert(i, model.RowAt(i));
  });
  connect(&model, &QAbstractItemModel::rowsMoved, this,
          [&](const QModelIndex&, int start, int end, const QModelIndex&, int destination) {
            QVERIFY(start == end);
            seen.move(start, destination > start ? destination - 1 : destination);
          });
  connect(&model, &QAbstractItemModel::layoutChanged, this, [&] {
    seen.clear();
    for (int i = 0; i < model.Count(); ++i)
      seen << model.RowAt(i);
  });
  const auto checkAll = [&](const QList<RowId>& rows) {
    QVERIFY(InSortOrder(model));
    QCOMPARE(seen.size(), model.Count());
    for (int i = 0; i < model.Count(); ++i) {
      QCOMPARE(model.RowAt(i), seen.at(i));
      QCOMPARE(model.PositionOf(seen.at(i)), i);
    }
    QRandomGenerator pairs(1);
    for (int n = 0; n < 200; ++n) {
      const RowId a = rows.at(pairs.bounded(rows.size()));
      const RowId b = rows.at(pairs.bounded(rows.size()));
      QCOMPARE(model.StandsBefore(a, b), model.PositionOf(a) < model.PositionOf(b));
    }
  };

  QRandomGenerator random(17);
  const auto ping = [&] { return QString::number(random.bounded(12) / 4.0, 'f', 3); };
  QList<RowId> rows;
  for (int i = 0; i < 1500; ++i)
    rows << AddFull(model, {QString::number(i), ping()});
  model.ColumnClick(ResultsModel::Ping);
  checkAll(rows);
  for (int step = 0; step < 6000 && !QTest::currentTestFailed(); ++step) {
    const int what = random.bounded(10);
    if (what < 4) {
      rows << model.AddRow(QString::number(rows.size()));
      model.SetText(rows.last(), ResultsModel::Ping, random.bounded(2) ? ping() : QStringLiteral("Sent"));
    } else if (what < 9) {
      model.SetText(rows.at(random.bounded(rows.size())), random.bounded(3) ? ResultsModel::Ping : ResultsModel::Result,
                    ping());
    } else if (random.bounded(100) == 0) {
      model.ColumnClick(random.bounded(2) ? ResultsModel::Ping : ResultsModel::Result);
    }
    if (step % 1000 == 999)
      checkAll(rows);
  }
  checkAll(rows);
}

void ResultsModelTest::modelTester() {
  ResultsModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QRandomGenerator random(5);
  QList<RowId> rows;
  for (int step = 0; step < 600; ++step) {
    const int what = random.bounded(100);
    if (what < 30 || rows.isEmpty()) {
      rows << model.AddRow(QStringLiteral("10:%1:00").arg(random.bounded(60), 2, 10, QLatin1Char('0')));
    } else if (what < 85) {
      model.SetText(rows.at(random.bounded(rows.size())), random.bounded(6),
                    QString::number(random.bounded(30) / 10.0, 'f', 3));
    } else if (what < 92) {
      model.SetMark(rows.at(random.bounded(rows.size())), ResultsModel::Blue, true);
    } else if (what < 99) {
      model.ColumnClick(random.bounded(6));
    } else {
      model.Clear();
      rows.clear();
    }
    if (QTest::currentTestFailed())
      return;
  }
}

QTEST_GUILESS_MAIN(ResultsModelTest)
#include "tst_resultsmodel.moc"
