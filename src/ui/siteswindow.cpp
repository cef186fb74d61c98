#include "ui/siteswindow.h"

#include "history/historyexport.h"
#include "history/historysummarymodel.h"
#include "platform/messageboxes.h"
#include "ui/incidentsmodel.h"
#include "ui/latencychart.h"
#include "ui/liverefresh.h"
#include "ui/viewsettings.h"
#include "ui/windowhabits.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// What identifies a line across two sets of figures.
QString KeyOf(const SiteSummary& line) {
  return (line.kind == HistorySample::Kind::Ref ? QStringLiteral("r ") : QStringLiteral("s ")) + line.url;
}

} // namespace

SitesWindow::SitesWindow(HistoryAccess access, QWidget* parent)
    : QWidget(parent, Qt::Window), access(std::move(access)), model(new HistorySummaryModel(this)),
      incidents(new IncidentsModel(this)), span(new QComboBox(this)), pages(new QStackedWidget(this)),
      table(new QTableView(this)), message(new QLabel(this)), status(new QLabel(this)),
      incidentsTable(new QTableView(this)), incidentsLabel(new QLabel(this)),
      chartButton(new QPushButton(QStringLiteral("&Chart"), this)),
      exportButton(new QPushButton(QStringLiteral("&Export..."), this)),
      refreshButton(new QPushButton(QStringLiteral("&Refresh"), this)), live(new LiveRefresh(
                                                                            [this] {
                                                                              if (isVisible())
                                                                                Refresh();
                                                                            },
                                                                            [this] { return loading; }, this)) {
  setObjectName(QStringLiteral("SitesWindow"));
  setWindowTitle(QStringLiteral("Sites"));
  WindowHabits::Place(this, ViewSettings::Geometry(ViewSettings::Sites), QSize(1180, 640));
  WindowHabits::AddCloseKeys(this);

  span->setObjectName(QStringLiteral("Span"));
  HistorySpanChoice::Fill(span, ViewSettings::SitesSpan().value_or(HistorySpan::Preset::Last24Hours));
  span->setAccessibleName(QStringLiteral("Span"));
  span->setAccessibleDescription(QStringLiteral("The time the figures cover"));
  auto* spanLabel = new QLabel(QStringLiteral("&Span:"), this);
  spanLabel->setBuddy(span);
  chartButton->setObjectName(QStringLiteral("Chart"));
  chartButton->setToolTip(QStringLiteral("A chart of the selected sites over the span (Enter)"));
  chartButton->setAccessibleName(QStringLiteral("Chart"));
  exportButton->setObjectName(QStringLiteral("Export"));
  exportButton->setToolTip(
      QStringLiteral("Writes the samples of the span to a CSV or JSON Lines file: of the selected addresses, or of "
                     "all when none is selected"));
  exportButton->setAccessibleName(QStringLiteral("Export"));
  refreshButton->setObjectName(QStringLiteral("Refresh"));
  refreshButton->setToolTip(
      QStringLiteral("Reads the figures again (F5); they also refresh by themselves while the "
                     "span reaches the present"));
  refreshButton->setAccessibleName(QStringLiteral("Refresh"));
  auto* refreshKey = new QShortcut(QKeySequence::Refresh, this);
  connect(refreshKey, &QShortcut::activated, refreshButton, &QPushButton::click);

  table->setObjectName(QStringLiteral("Table"));
  table->setAccessibleName(QStringLiteral("Sites"));
  table->setAccessibleDescription(QStringLiteral(
      "One line per address over the span: status, up share, samples, failures, errors, loss, the ping's "
      "figures in milliseconds and the certificate's end"));
  table->setModel(model);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setTabKeyNavigation(false); // Tab leaves the table: one stop, the arrow keys move within
  table->setAlternatingRowColors(true);
  table->setWordWrap(false);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  const int sortColumn = HistorySummaryModel::ColumnNamed(ViewSettings::SitesSortColumn());
  table->horizontalHeader()->setSortIndicator(
      sortColumn >= 0 ? sortColumn : int(HistorySummaryModel::Address),
      sortColumn >= 0 && ViewSettings::SitesSortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
  table->setSortingEnabled(true);
  table->installEventFilter(this);
  message->setObjectName(QStringLiteral("Message"));
  message->setAlignment(Qt::AlignCenter);
  message->setWordWrap(true);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  pages->addWidget(table);
  pages->addWidget(message);
  status->setObjectName(QStringLiteral("Status"));
  status->setAccessibleName(QStringLiteral("Status"));

  // Below the table: the incidents of the selected sites.
  incidentsTable->setObjectName(QStringLiteral("Incidents"));
  incidentsTable->setAccessibleName(QStringLiteral("Incidents"));
  incidentsTable->setAccessibleDescription(
      QStringLiteral("The incidents of the selected sites over the span, of every site when none is selected: "
                     "start, end or ongoing, duration, cause"));
  incidentsTable->setModel(incidents);
  incidentsTable->setTabKeyNavigation(false);
  incidentsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  incidentsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  incidentsTable->setWordWrap(false);
  incidentsTable->verticalHeader()->hide();
  incidentsTable->horizontalHeader()->setStretchLastSection(true);
  incidentsLabel->setObjectName(QStringLiteral("IncidentsLabel"));
  incidentsLabel->setBuddy(incidentsTable);
  auto* lower = new QWidget(this);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->addWidget(incidentsLabel);
  lowerLayout->addWidget(incidentsTable);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(pages);
  split->addWidget(lower);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 1);
  split->setChildrenCollapsible(false);

  auto* top = new QHBoxLayout;
  top->addWidget(spanLabel);
  top->addWidget(span);
  top->addStretch();
  top->addWidget(chartButton);
  top->addWidget(exportButton);
  top->addWidget(refreshButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  layout->addWidget(status);
  // The span, then the table, the incidents below it, then the buttons.
  setTabOrder(span, table);
  setTabOrder(table, incidentsTable);
  setTabOrder(incidentsTable, chartButton);
  setTabOrder(chartButton, exportButton);
  setTabOrder(exportButton, refreshButton);

  connect(model, &QAbstractItemModel::modelReset, this, [this] { wasReset = true; });
  connect(span, &QComboBox::currentIndexChanged, this, [this] {
    ViewSettings::SetSitesSpan(Span());
    model->SetLines({}); // the old span's figures would read as the new one's
    incidents->SetIncidents({});
    UpdateLive();
    if (isVisible())
      Refresh(); // else when shown
  });
  connect(table->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, [](int column, Qt::SortOrder order) {
    ViewSettings::SetSitesSort(HistorySummaryModel::ColumnName(column), order == Qt::DescendingOrder);
  });
  connect(refreshButton, &QPushButton::clicked, this, &SitesWindow::Refresh);
  connect(chartButton, &QPushButton::clicked, this, &SitesWindow::OpenChart);
  connect(exportButton, &QPushButton::clicked, this, &SitesWindow::Export);
  connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    UpdateButtons();
    ShowIncidents();
  });
  connect(table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (model->Line(index.row()).kind == HistorySample::Kind::Site)
      OpenChart();
  });
  UpdateButtons();
  ShowIncidents();
}

SitesWindow::~SitesWindow() = default;

int SitesWindow::LiveReads() const {
  return live->Reads();
}

bool SitesWindow::Live() const {
  return live->Live();
}

HistorySpan::Preset SitesWindow::Span() const {
  return HistorySpanChoice::Of(span);
}

void SitesWindow::SetSpan(HistorySpan::Preset preset) {
  HistorySpanChoice::Select(span, preset);
}

void SitesWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous())
    Refresh();
  UpdateLive();
}

void SitesWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  ViewSettings::SetGeometry(ViewSettings::Sites, isMaximized() || isMinimized() ? normalGeometry() : geometry());
  UpdateLive();
}

void SitesWindow::UpdateLive() {
  live->SetLive(isVisible() && access.ReachesPresent(Span()));
}

void SitesWindow::SampleRecorded(const QString& url) {
  if (isVisible())
    live->News();
  emit Recorded(url);
}

bool SitesWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      OpenChart();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void SitesWindow::Refresh() {
  const quint64 mine = ++generation;
  loading = false;
  const QString off = access.OffLine();
  if (!off.isEmpty()) {
    ShowLine(off);
    return;
  }
  if (!QFileInfo::exists(access.path)) {
    ShowLine(QStringLiteral("No history yet: %1 does not exist. It is made when testing runs with history on.")
                 .arg(QDir::toNativeSeparators(access.path)));
    return;
  }
  if (Span() == HistorySpan::Preset::ThisRun && access.RunId() <= 0) {
    model->SetLines({});
    pages->setCurrentWidget(table);
    status->setText(QStringLiteral("Testing has not run since the program started."));
    UpdateButtons();
    return;
  }
  access.BeforeQuery();
  const HistorySpan chosen = access.SpanOf(Span());
  loading = true;
  live->Started();
  if (model->rowCount() == 0)
    status->setText(QStringLiteral("Loading..."));
  InBackground<Loaded>(
      this,
      [path = access.path, chosen] {
        HistoryQuery query(path);
        Loaded loaded;
        loaded.lines = query.Summary(chosen);
        loaded.error = query.ErrorText();
        if (loaded.error.isEmpty()) {
          loaded.incidents = query.Incidents(chosen);
          loaded.error = query.ErrorText();
        }
        return loaded;
      },
      [this, mine](const Loaded& loaded) {
        if (mine == generation)
          Show(loaded);
      });
}

void SitesWindow::Show(const Loaded& loaded) {
  loading = false;
  if (!loaded.error.isEmpty()) {
    ShowLine(loaded.error);
    live->Finished();
    return;
  }
  // What the user was looking at outlives new figures: the selected addresses, the current line
  // and the scroll position. New figures of the same addresses keep them by themselves (the
  // model moves its lines); other addresses reset the model, and they are put back here.
  const QStringList selected = SelectedAddresses();
  const QModelIndex current = table->currentIndex();
  const QString currentKey = current.isValid() ? KeyOf(model->Line(current.row())) : QString();
  const int currentColumn = current.column();
  const int across = table->horizontalScrollBar()->value();
  const int down = table->verticalScrollBar()->value();
  const bool fresh = pages->currentWidget() != table || model->rowCount() == 0;
  wasReset = false;
  model->SetLines(loaded.lines);
  model->SetIncidents(loaded.incidents);
  incidents->SetIncidents(loaded.incidents);
  pages->setCurrentWidget(table);
  if (wasReset) {
    QItemSelection again;
    for (int row = 0; row < model->rowCount(); ++row) {
      if (selected.contains(model->Line(row).url))
        again.select(model->index(row, 0), model->index(row, HistorySummaryModel::ColumnCount - 1));
      if (!currentKey.isEmpty() && KeyOf(model->Line(row)) == currentKey)
        table->selectionModel()->setCurrentIndex(model->index(row, currentColumn), QItemSelectionModel::NoUpdate);
    }
    table->selectionModel()->select(again, QItemSelectionModel::ClearAndSelect);
  }
  FitColumns(fresh);
  if (wasReset && !fresh) {
    table->doItemsLayout(); // the scroll bars' ranges, before their values are put back
    table->horizontalScrollBar()->setValue(across);
    table->verticalScrollBar()->setValue(down);
  }

  qint64 sites = 0;
  qint64 samples = 0;
  for (const SiteSummary& line : loaded.lines) {
    sites += line.kind == HistorySample::Kind::Site ? 1 : 0;
    samples += line.samples;
  }
  const auto count = [](qint64 n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
  };
  status->setText(loaded.lines.isEmpty()
                      ? QStringLiteral("No samples in this span.")
                      : QStringLiteral("%1, %2, %3.")
                            .arg(count(sites, "site", "sites"),
                                 count(loaded.lines.size() - sites, "reference address", "reference addresses"),
                                 count(samples, "sample", "samples")));
  UpdateButtons();
  UpdateLive();
  live->Finished();
}

// Columns fit their contents when the table fills; later figures only widen a column that has
// grown too narrow, so that the columns do not jump at every refresh.
void SitesWindow::FitColumns(bool all) {
  if (all) {
    table->resizeColumnsToContents();
    return;
  }
  const QAbstractItemView* view = table;
  for (int column = 0; column < model->columnCount() - 1; ++column) {
    const int wanted = std::max(view->sizeHintForColumn(column), table->horizontalHeader()->sectionSizeHint(column));
    if (wanted > table->columnWidth(column))
      table->setColumnWidth(column, wanted);
  }
}

void SitesWindow::ShowLine(const QString& line) {
  model->SetLines({});
  incidents->SetIncidents({});
  message->setText(line);
  pages->setCurrentWidget(message);
  status->clear();
  UpdateButtons();
}

void SitesWindow::ShowIncidents() {
  const QStringList sites = SelectedAddresses(true);
  incidents->SetAddresses(sites);
  incidentsTable->resizeColumnsToContents();
  incidentsLabel->setText(sites.isEmpty() ? QStringLiteral("&Incidents of every site:")
                                          : QStringLiteral("&Incidents of the selected sites:"));
}

QStringList SitesWindow::SelectedAddresses(bool sitesOnly) const {
  QStringList urls;
  QModelIndexList rows = table->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& row : rows) {
    const SiteSummary& line = model->Line(row.row());
    if (!sitesOnly || line.kind == HistorySample::Kind::Site)
      urls << line.url;
  }
  return urls;
}

void SitesWindow::UpdateButtons() {
  const bool shown = pages->currentWidget() == table;
  chartButton->setEnabled(shown && !SelectedAddresses(true).isEmpty());
  exportButton->setEnabled(shown && !exporting);
}

void SitesWindow::OpenChart() {
  const QStringList urls = SelectedAddresses(true);
  if (urls.isEmpty())
    return;
  auto* chart = new LatencyChart(access, urls, Span(), this);
  chart->setAttribute(Qt::WA_DeleteOnClose);
  connect(this, &SitesWindow::Recorded, chart, &LatencyChart::SampleRecorded);
  chart->show();
}

void SitesWindow::Export() {
  if (exporting)
    return;
  const QString file = access.saveFileName(this, QStringLiteral("Export"), QStringLiteral("tarvik-history.csv"),
                                           QStringLiteral("CSV (*.csv);;JSON Lines (*.jsonl)"));
  if (file.isEmpty())
    return;
  access.BeforeQuery();
  const HistorySpan chosen = access.SpanOf(Span());
  const QStringList urls = SelectedAddresses();
  exporting = true;
  UpdateButtons();
  status->setText(QStringLiteral("Exporting..."));
  struct Outcome {
    int code = 0;
    QString line;
  };
  InBackground<Outcome>(
      this,
      [path = access.path, file, chosen, urls] {
        Outcome outcome;
        outcome.code = HistoryExport::Write(path, file, chosen, urls, &outcome.line);
        return outcome;
      },
      [this](const Outcome& outcome) {
        exporting = false;
        UpdateButtons();
        status->setText(outcome.code == HistoryExport::Written ? outcome.line + QLatin1Char('.') : QString());
        if (outcome.code != HistoryExport::Written)
          MessageBoxes::MsgBox(outcome.line, MessageBoxes::OkOnly, MessageBoxes::NoIcon, QStringLiteral("Export"));
      });
}
