#include "core/statuspanels.h"
#include "platform/numbers.h"
#include "results/resultsmodel.h"
#include "results/sitepanels.h"
#include "results/statistics.h"

#include "resultrows.h"

#include <QRandomGenerator>
#include <QTest>

#include <variant>

using RowId = ResultsModel::RowId;

namespace {

const QStringList StartTexts = {"Best Time", "Worst Time", "Average"};
// The rows of these tests give Event Time, Ping and Site ID.
const QList<int> Columns = {ResultsModel::EventTime, ResultsModel::Ping, ResultsModel::SiteId};

// The statistics as a plain scan of every row, straight from their definitions, to check the
// incremental figures against.
namespace Reference {

bool Counts(const ResultsModel& model, int i) {
  return Numbers::Strict(model.TextAt(i, ResultsModel::Ping)).has_value();
}

double PingAt(const ResultsModel& model, int i) {
  return Numbers::Value(model.TextAt(i, ResultsModel::Ping));
}

double ReadBack(const QString& text) {
  return Numbers::Strict(text).value_or(Numbers::Value(text));
}

std::optional<BestWorst> BestWorstOf(const ResultsModel& model, int siteId) {
  double best = 0;
  double worst = 0;
  int bestRow = -1;
  int worstRow = -1;
  for (int i = 0; i < model.Count(); ++i) {
    const std::optional<double> site = Numbers::Strict(model.TextAt(i, ResultsModel::SiteId));
    if (!site || *site != siteId || !Counts(model, i))
      continue;
    const double p = PingAt(model, i);
    if (best == 0) {
      best = p;
      bestRow = i;
      worst = best;
      worstRow = i;
    }
    if (p < best) {
      best = p;
      bestRow = i;
    }
    if (p > worst) {
      worst = p;
      worstRow = i;
    }
  }
  if (bestRow < 0)
    return std::nullopt;
  return BestWorst{best, model.TextAt(bestRow, 0), worst, model.TextAt(worstRow, 0)};
}

QString SiteAverage(const ResultsModel& model, int siteId) {
  int count = 0;
  QString sum = "0";
  for (int i = 0; i < model.Count(); ++i) {
    if (Numbers::Value(model.TextAt(i, ResultsModel::SiteId)) != siteId || !Counts(model, i))
      continue;
    ++count;
    sum = Numbers::Plain(ReadBack(sum) + PingAt(model, i));
  }
  return count ? Numbers::Fixed3(ReadBack(sum) / count) : "0.000";
}

SiteFigures SiteStatistics(const ResultsModel& model, int siteId) {
  // best and worst hold a number or a text, as the definition has it.
  std::variant<double, QString> best = 0.0;
  std::variant<double, QString> worst = 0.0;
  const auto number = [](const std::variant<double, QString>& v) {
    return v.index() == 0 ? std::get<double>(v) : Numbers::Value(std::get<QString>(v));
  };
  const auto text = [](const std::variant<double, QString>& v) {
    return v.index() == 0 ? Numbers::Plain(std::get<double>(v)) : std::get<QString>(v);
  };
  SiteFigures figures;
  double total = 0;
  for (int i = 0; i < model.Count(); ++i) {
    if (Numbers::Value(model.TextAt(i, ResultsModel::SiteId)) != siteId || !Counts(model, i))
      continue;
    const double p = PingAt(model, i);
    if (number(best) == 0) {
      best = p;
      figures.bestTime = model.TextAt(i, 0);
    }
    if (p < number(best)) {
      best = Numbers::Fixed3(p);
      figures.bestTime = model.TextAt(i, 0);
    }
    if (p > number(worst)) {
      worst = Numbers::Fixed3(p);
      figures.worstTime = model.TextAt(i, 0);
    }
    total += p;
    ++figures.count;
  }
  figures.best = text(best);
  figures.worst = text(worst);
  figures.average = figures.count ? Numbers::Fixed3(total / double(figures.count)) : "0.000";
  return figures;
}

} // namespace Reference

QString Describe(const SiteFigures& f) {
  return QStringList({f.best, f.worst, f.average, f.bestTime, f.worstTime, QString::number(f.count)}).join('/');
}

QString Describe(const std::optional<BestWorst>& f) {
  if (!f)
    return QStringLiteral("none");
  return QStringList({Numbers::Plain(f->best), f->bestTime, Numbers::Plain(f->worst), f->worstTime}).join('/');
}

} // namespace

class StatisticsTest : public QObject {
  Q_OBJECT

private slots:
  void panels_data();
  void panels();
  void siteStatistics_data();
  void siteStatistics();
  void followDisplayOrder();
  void incrementalEqualsFullScan_data();
  void incrementalEqualsFullScan();
  void droppedRowsKeepTheAverage();
};

void StatisticsTest::panels_data() {
  QTest::addColumn<Rows>("rows");
  QTest::addColumn<int>("site");
  QTest::addColumn<QStringList>("expected"); // StatusBar1 panels 1 to 3 afterwards

  QTest::newRow("best, worst, average")
      << Rows{{"10:00:01", "0.300", "1"}, {"10:00:02", "0.120", "1"}, {"10:00:03", "0.450", "1"}} << 1
      << QStringList{"BT: 10:00:02   PING: 0.12", "WT: 10:00:03   PING: 0.45", "Avg: 0.290"};
  QTest::newRow("ties keep the earlier row")
      << Rows{{"10:00:01", "0.200", "1"},
              {"10:00:02", "0.100", "1"},
              {"10:00:03", "0.100", "1"},
              {"10:00:04", "0.200", "1"}}
      << 1 << QStringList{"BT: 10:00:02   PING: 0.1", "WT: 10:00:01   PING: 0.2", "Avg: 0.150"};
  QTest::newRow("a ping of 0 restarts best and worst")
      << Rows{{"10:00:01", "0.500", "1"}, {"10:00:02", "0.000", "1"}, {"10:00:03", "0.300", "1"}} << 1
      << QStringList{"BT: 10:00:03   PING: 0.3", "WT: 10:00:03   PING: 0.3", "Avg: 0.267"};
  // The last row a 0: best is that row; worst stays the highest since the 0 before it.
  QTest::newRow("last row 0") << Rows{{"10:00:01", "0.300", "1"},
                                      {"10:00:02", "0.500", "1"},
                                      {"10:00:03", "0.000", "1"}}
                              << 1 << QStringList{"BT: 10:00:03   PING: 0", "WT: 10:00:02   PING: 0.5", "Avg: 0.267"};
  QTest::newRow("last row 0, another 0 before")
      << Rows{{"10:00:01", "0.900", "1"},
              {"10:00:02", "0.000", "1"},
              {"10:00:03", "0.200", "1"},
              {"10:00:04", "0.300", "1"},
              {"10:00:05", "0.000", "1"}}
      << 1 << QStringList{"BT: 10:00:05   PING: 0", "WT: 10:00:04   PING: 0.3", "Avg: 0.280"};
  QTest::newRow("two 0s last: panel 2 kept")
      << Rows{{"10:00:01", "0.400", "1"}, {"10:00:02", "0.000", "1"}, {"10:00:03", "0.000", "1"}} << 1
      << QStringList{"BT: 10:00:03   PING: 0", "Worst Time", "Avg: 0.133"};
  QTest::newRow("single row") << Rows{{"10:00:01", "1.000", "1"}} << 1
                              << QStringList{"BT: 10:00:01   PING: 1", "WT: 10:00:01   PING: 1", "Avg: 1.000"};
  QTest::newRow("only other sites' rows, panels kept") << Rows{{"10:00:01", "0.300", "2"}, {"10:00:02", "0.400", "3"}}
                                                       << 1 << QStringList{"Best Time", "Worst Time", "Avg: 0.000"};
  QTest::newRow("other sites between") << Rows{{"10:00:01", "0.300", "1"},
                                               {"10:00:02", "0.010", "2"},
                                               {"10:00:03", "0.500", "1"},
                                               {"10:00:04", "9.000", "2"}}
                                       << 1
                                       << QStringList{"BT: 10:00:01   PING: 0.3", "WT: 10:00:03   PING: 0.5",
                                                      "Avg: 0.400"};
  QTest::newRow("failed, cancelled and outstanding rows pass over")
      << Rows{{"10:00:01", "Failed", "1"},
              {"10:00:02", "0.300", "1"},
              {"10:00:03", "Cancelled", "1"},
              {"10:00:04", "Sent", ""}}
      << 1 << QStringList{"BT: 10:00:02   PING: 0.3", "WT: 10:00:02   PING: 0.3", "Avg: 0.300"};
  QTest::newRow("only failed rows") << Rows{{"10:00:01", "Failed", "1"}} << 1
                                    << QStringList{"Best Time", "Worst Time", "Avg: 0.000"};
  QTest::newRow("worst of 0 leaves panel 2")
      << Rows{{"10:00:01", "0.000", "1"}} << 1 << QStringList{"BT: 10:00:01   PING: 0", "Worst Time", "Avg: 0.000"};
  // The running sum goes through its 15-digit text: 0.1 + 0.2 is carried as 0.3 exactly, so the
  // average of 0.1, 0.2 and 0.0015 is 0.1005 less a hair and shows 0.100 (a plain sum gives 0.101).
  QTest::newRow("sum carried through its text")
      << Rows{{"10:00:01", "0.1", "1"}, {"10:00:02", "0.2", "1"}, {"10:00:03", "0.0015", "1"}} << 1
      << QStringList{"BT: 10:00:03   PING: 0.0015", "WT: 10:00:02   PING: 0.2", "Avg: 0.100"};
  // The same with pings as the cycle writes them: a plain sum of these six shows 0.809.
  QTest::newRow("sum of three-decimal pings carried through its text")
      << Rows{{"10:00:01", "0.037", "1"}, {"10:00:02", "0.321", "1"}, {"10:00:03", "0.411", "1"},
              {"10:00:04", "1.756", "1"}, {"10:00:05", "0.671", "1"}, {"10:00:06", "1.661", "1"}}
      << 1 << QStringList{"BT: 10:00:01   PING: 0.037", "WT: 10:00:04   PING: 1.756", "Avg: 0.810"};
  // Best and worst read the Site ID strictly; the average reads its leading number.
  QTest::newRow("Site ID readings")
      << Rows{{"10:00:01", "0.300", "1abc"}, {"10:00:02", "0.500", "1"}, {"10:00:03", "0.700", " 1.0 "}} << 1
      << QStringList{"BT: 10:00:02   PING: 0.5", "WT: 10:00:03   PING: 0.7", "Avg: 0.500"};
}

void StatisticsTest::panels() {
  QFETCH(Rows, rows);
  QFETCH(int, site);
  QFETCH(QStringList, expected);
  ResultsModel model;
  Fill(model, rows, Columns);
  StatusPanels bar1(3, StartTexts);
  SitePanels::ShowBestWorst(bar1, Statistics::BestWorstOf(model, site));
  const QString average = Statistics::SiteAverage(model, site);
  QCOMPARE(average, expected.at(2).mid(5));
  SitePanels::ShowAverage(bar1, average);
  QCOMPARE(QStringList({bar1.Text(1), bar1.Text(2), bar1.Text(3)}), expected);
}

void StatisticsTest::siteStatistics_data() {
  QTest::addColumn<Rows>("rows");
  QTest::addColumn<QString>("expected"); // best/worst/average/best time/worst time/count of site 1

  QTest::newRow("single row: best the number, worst the text")
      << Rows{{"10:00:01", "1.000", "1"}} << "1/1.000/1.000/10:00:01/10:00:01/1";
  QTest::newRow("a lower row makes best a text")
      << Rows{{"10:00:01", "0.300", "1"}, {"10:00:02", "0.120", "1"}, {"10:00:03", "0.450", "1"}}
      << "0.120/0.450/0.290/10:00:02/10:00:03/3";
  QTest::newRow("no lower row: best stays the first ping")
      << Rows{{"10:00:01", "0.250", "1"}, {"10:00:02", "0.300", "1"}} << "0.25/0.300/0.275/10:00:01/10:00:02/2";
  QTest::newRow("a 0 text restarts best as a number")
      << Rows{{"10:00:01", "0.500", "1"}, {"10:00:02", "0.000", "1"}, {"10:00:03", "0.300", "1"}}
      << "0.3/0.500/0.267/10:00:03/10:00:01/3";
  QTest::newRow("no rows") << Rows{{"10:00:01", "0.500", "2"}} << "0/0/0.000///0";
  QTest::newRow("only pings of 0") << Rows{{"10:00:01", "0.000", "1"}} << "0/0/0.000/10:00:01//1";
  QTest::newRow("failed rows pass over") << Rows{{"10:00:01", "Failed", "1"}, {"10:00:02", "0.200", "1"}}
                                         << "0.2/0.200/0.200/10:00:02/10:00:02/1";
}

void StatisticsTest::siteStatistics() {
  QFETCH(Rows, rows);
  QFETCH(QString, expected);
  ResultsModel model;
  Fill(model, rows, Columns);
  QCOMPARE(Describe(Statistics::SiteStatistics(model, 1)), expected);
}

// Statistics walk the display order: after a sort the earlier of two equal pings is another row.
void StatisticsTest::followDisplayOrder() {
  ResultsModel model;
  Fill(model, {{"10:00:01", "0.300", "1"}, {"10:00:02", "0.100", "1"}, {"10:00:03", "0.100", "1"}}, Columns);
  QCOMPARE(Statistics::BestWorstOf(model, 1)->bestTime, QStringLiteral("10:00:02"));
  model.ColumnClick(ResultsModel::EventTime); // descending: 10:00:03 first
  QCOMPARE(Statistics::BestWorstOf(model, 1)->bestTime, QStringLiteral("10:00:03"));
  QCOMPARE(Statistics::SiteStatistics(model, 1).bestTime, QStringLiteral("10:00:03"));

  // An old row's new Ping counts at once.
  model.SetText(model.RowAt(2), ResultsModel::Ping, QStringLiteral("0.050"));
  const std::optional<BestWorst> changed = Statistics::BestWorstOf(model, 1);
  QCOMPARE(changed->bestTime, QStringLiteral("10:00:01"));
  QCOMPARE(changed->best, 0.05);

  model.Clear();
  QCOMPARE(Statistics::SiteStatistics(model, 1).count, 0);
  QVERIFY(!Statistics::BestWorstOf(model, 1));
}

// How a random table is built: which texts its rows get, how many steps, and how often each kind
// of step comes (in steps per 10000; the rest are queries). Every answer a step gets is checked
// against the full scan; the Average of a completed row only in `checks` of 10000 (a full scan
// per row makes big tables slow).
struct Mix {
  QStringList pings;
  QStringList sites;
  int steps = 0;
  int adds = 0;
  int completions = 0;
  int rewrites = 0; // an old row's Ping or Site ID
  int sorts = 0;
  int clears = 0;
  int checks = 10000;
};
Q_DECLARE_METATYPE(Mix)

void StatisticsTest::incrementalEqualsFullScan_data() {
  QTest::addColumn<quint32>("seed");
  QTest::addColumn<Mix>("mix");
  // Odd texts: pings and Site IDs in other forms, which the statistics work out by a scan.
  const Mix odd{
      {"0.250",  "0.120", "0.000", "0.450",  "0.250",  "1.000", "12.031", "0.001",  "Failed", "Cancelled", "0.1",
       "0.0015", " 0.5",  "1e3",   "0.2504", "-0.100", "3",     "0.333",  "20.000", "0.000",  "2abc",      "01"},
      {"1", "2", "3", "1", "2", "1", "3", "1.0", "01", "0", "2abc", " 3", "1e0", "-1", "1024", "2.5", "0.250",
       "Failed"},
      1500,
      2500,
      2500,
      0,
      0,
      20,
      10000};
  // The cycle's texts, with many 0s and ties, in few sites, and tables big enough that a site's
  // rows fill many of the chunks they are kept in.
  const Mix cycle{{"0.000", "0.000", "0.120", "0.250", "0.250", "0.300", "1.000", "9.000", "10.000", "0.001", "2.000",
                   "Failed", "Cancelled"},
                  {"1", "2", "1", "2", "3"},
                  6000,
                  4600,
                  4600,
                  400,
                  40,
                  1,
                  500};
  for (quint32 seed = 1; seed <= 12; ++seed) {
    QTest::addRow("append only %u", seed) << seed << odd;
    Mix sorted = odd;
    sorted.rewrites = 200;
    sorted.sorts = 100;
    QTest::addRow("odd texts, sorts and edits %u", seed) << seed << sorted;
  }
  for (quint32 seed = 1; seed <= 4; ++seed)
    QTest::addRow("cycle texts, sorts and edits %u", seed) << seed << cycle;
}

// Random tables built the way the cycle builds them (a row is added, then completed and given its
// Average, with queries in between, as a click during a fetch makes them), with zeros, ties, failed
// rows and odd texts, plus sorts by every column in both directions, rows added into the sorted
// order, rewrites of old rows' Ping and Site ID, and resets; every answer must equal the full scan's.
void StatisticsTest::incrementalEqualsFullScan() {
  QFETCH(quint32, seed);
  QFETCH(Mix, mix);
  QRandomGenerator random(seed);
  ResultsModel model;
  QList<RowId> pending;
  QList<RowId> all;
  const auto randomTime = [&] {
    return QStringLiteral("%1:%2:%3")
        .arg(random.bounded(24), 2, 10, QLatin1Char('0'))
        .arg(random.bounded(60), 2, 10, QLatin1Char('0'))
        .arg(random.bounded(60), 2, 10, QLatin1Char('0'));
  };
  const auto randomPing = [&] { return mix.pings.at(random.bounded(mix.pings.size())); };
  const auto randomSite = [&] { return mix.sites.at(random.bounded(mix.sites.size())); };
  for (int step = 0; step < mix.steps && !QTest::currentTestFailed(); ++step) {
    int what = random.bounded(10000);
    if ((what -= mix.adds) < 0) {
      const RowId row = model.AddRow(randomTime());
      model.SetText(row, ResultsModel::Ping, QStringLiteral("Sent"));
      model.SetText(row, ResultsModel::Packet, QString::number(step));
      pending << row;
      all << row;
    } else if ((what -= mix.completions) < 0) {
      if (pending.isEmpty())
        continue;
      const RowId row = pending.takeAt(random.bounded(pending.size()) / 2); // mostly the oldest
      model.SetText(row, ResultsModel::Ping, randomPing());
      const QString site = randomSite();
      model.SetText(row, ResultsModel::SiteId, site);
      const int siteId = int(Numbers::Value(site));
      const QString average = Statistics::SiteAverage(model, siteId);
      if (random.bounded(10000) < mix.checks)
        QCOMPARE(average, Reference::SiteAverage(model, siteId));
      model.SetText(row, ResultsModel::Average, average);
    } else if ((what -= mix.rewrites) < 0) {
      if (all.isEmpty())
        continue;
      const RowId row = all.at(random.bounded(all.size()));
      if (random.bounded(2))
        model.SetText(row, ResultsModel::Ping, randomPing());
      else
        model.SetText(row, ResultsModel::SiteId, randomSite());
    } else if ((what -= mix.sorts) < 0) {
      model.ColumnClick(random.bounded(6));
    } else if ((what -= mix.clears) < 0) {
      model.Clear();
      pending.clear();
      all.clear();
    } else {
      const int site = random.bounded(-1, 6);
      switch (random.bounded(3)) {
      case 0:
        QCOMPARE(Describe(Statistics::BestWorstOf(model, site)), Describe(Reference::BestWorstOf(model, site)));
        break;
      case 1: QCOMPARE(Statistics::SiteAverage(model, site), Reference::SiteAverage(model, site)); break;
      default:
        QCOMPARE(Describe(Statistics::SiteStatistics(model, site)), Describe(Reference::SiteStatistics(model, site)));
      }
    }
  }
}

// A table that keeps dropping its oldest rows against one that keeps them all, through enough
// rows that the dropped ones are compacted away several times: the kept rows and their handles
// are those of the full table's end, best and worst are those of the kept rows, and the averages
// are those of every row.
void StatisticsTest::droppedRowsKeepTheAverage() {
  QRandomGenerator random(20);
  ResultsModel full;
  ResultsModel bounded;
  constexpr int Sites = 3;
  constexpr int Keep = 1000;
  QList<RowId> kept; // the bounded table's handles, oldest first
  qint64 dropped = 0;
  for (int row = 0; row < 15000; ++row) {
    const QString time = QStringLiteral("10:%1").arg(row % 60, 2, 10, QLatin1Char('0'));
    const QString ping =
        random.bounded(20) == 0 ? QStringLiteral("Failed") : Numbers::Fixed3(random.bounded(5000) / 1000.0);
    const int site = row % Sites + 1;
    for (ResultsModel* model : {&full, &bounded}) {
      const RowId id = model->AddRow(time);
      model->SetText(id, ResultsModel::Ping, ping);
      model->SetText(id, ResultsModel::SiteId, QString::number(site));
      model->SetText(id, ResultsModel::Average, Statistics::SiteAverage(*model, site));
      if (model == &bounded)
        kept << id;
    }
    if (bounded.Count() > Keep) {
      QCOMPARE(bounded.DropFirstRows(Sites), Sites);
      dropped += Sites;
      const QList<RowId> gone = kept.mid(0, Sites);
      kept.remove(0, Sites);
      QCOMPARE(bounded.Text(gone.first(), ResultsModel::Ping), QString());
      QCOMPARE(bounded.PositionOf(gone.last()), -1);
    }
    if (row % 997 != 0 && row != 14999)
      continue;
    QCOMPARE(bounded.Dropped(), dropped);
    QCOMPARE(bounded.Count(), int(kept.size()));
    for (int i = 0; i < bounded.Count(); i += 97) {
      const int inFull = full.Count() - bounded.Count() + i;
      QCOMPARE(bounded.RowAt(i), kept.at(i));
      QCOMPARE(bounded.PositionOf(kept.at(i)), i);
      for (const int column :
           {ResultsModel::EventTime, ResultsModel::Ping, ResultsModel::SiteId, ResultsModel::Average})
        QCOMPARE(bounded.TextAt(i, column), full.TextAt(inFull, column));
    }
    for (int s = 1; s <= Sites; ++s) {
      QCOMPARE(Statistics::SiteAverage(bounded, s), Statistics::SiteAverage(full, s));
      QCOMPARE(Describe(Statistics::BestWorstOf(bounded, s)), Describe(Reference::BestWorstOf(bounded, s)));
    }
  }
  // Emptied, the table starts afresh: no dropped rows, no averages carried.
  bounded.Clear();
  QCOMPARE(bounded.Dropped(), 0);
  Fill(bounded, Rows{{"11:00:00", "0.500", "", "1"}});
  QCOMPARE(Statistics::SiteAverage(bounded, 1), QStringLiteral("0.500"));
  // A sorted table keeps its rows.
  bounded.ColumnClick(ResultsModel::Ping);
  QCOMPARE(bounded.DropFirstRows(1), 0);
  QCOMPARE(bounded.Count(), 1);
}

QTEST_GUILESS_MAIN(StatisticsTest)
#include "tst_statistics.moc"
