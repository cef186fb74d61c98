#include "ui/form1.h"

#include "core/module1.h"
#include "core/statuspanels.h"
#include "core/urlfile.h"
#include "engine/historyrecorder.h"
#include "engine/testcycle.h"
#include "history/historystore.h"
#include "platform/addresstext.h"
#include "platform/curlcommand.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "platform/shell.h"
#include "results/fcsummary.h"
#include "results/reportlog.h"
#include "results/resultsmodel.h"
#include "results/sitepanels.h"
#include "results/statistics.h"
#include "results/transferlog.h"
#include "services/ownershipfile.h"
#include "services/reportsubmission.h"
#include "ui/clicklabel.h"
#include "ui/controlmap.h"
#include "ui/popupmenukeys.h"
#include "ui/resultsview.h"
#include "ui/siteswindow.h"
#include "ui/statusbar.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>

namespace {

template <typename T>
T* Find(const QHash<QString, QWidget*>& controls, const QString& name) {
  auto* widget = qobject_cast<T*>(controls.value(name));
  Q_ASSERT_X(widget, "Form1", qPrintable(name));
  return widget;
}

// Whether Shift, Ctrl or Alt is held.
bool ModifierHeld() {
  return QApplication::keyboardModifiers().testAnyFlags(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

// The client area: the status bars end at 6375 twips and are 8685 twips wide.
constexpr QSize ClientSize(8685 / ControlMap::TwipsPerPixel, 6390 / ControlMap::TwipsPerPixel);

} // namespace

Form1::Form1(Module1& state, QWidget* parent) : QWidget(parent), state(state) {
  Q_INIT_RESOURCE(resources);
  setObjectName(QStringLiteral("Form1"));
  // The controls' places are fixed in twips: a small font keeps every caption inside its control.
  QFont small = font();
  small.setPointSize(8);
  setFont(small);
  setWindowTitle(Module1::AppTitle + QStringLiteral(" vok"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.png")));
  setFixedSize(ClientSize);

  StatusBar1 =
      new StatusPanels(3, {QStringLiteral("Best Time"), QStringLiteral("Worst Time"), QStringLiteral("Average")}, this);
  StatusBar2 = new StatusPanels(5, {}, this);
  results = new ResultsModel(this);
  Inet1 = new HttpClientArray(this);
  Inet1->setObjectName(QStringLiteral("Inet1"));
  Inet2 = new HttpClient(0, this);
  Inet2->setObjectName(QStringLiteral("Inet2"));

  controls = ControlMap::Build(this, [this](const QString& name, QWidget* parent) -> QWidget* {
    if (name == QLatin1String("StatusBar1"))
      return new StatusBar(StatusBar1, {3, 3, 2}, parent);
    return new StatusBar(StatusBar2, {6, 2, 3, 2, 1}, parent);
  });

  FindControls();

  // The menu panel opens from the " Menu " label; the configuration panel shares the results
  // panel's place and is hidden until "Configure" shows it.
  Frame5->hide();
  Frame2->hide();

  SetUpResultsTable();

  for (int n = 1; n <= 5; ++n)
    ImageList1.append(QPixmap(QStringLiteral(":/pictures/light%1.png").arg(n)));
  Image1->setToolTip(QStringLiteral("If ON waiting for remote response"));

  ConnectEngine();
  ConnectControls();
  Form_Load();
}

void Form1::FindControls() {
  for (int i = 0; i < int(Label2.size()); ++i)
    Label2[i] = Find<ClickLabel>(controls, QStringLiteral("Label2_%1").arg(i));
  Frame1 = Find<QFrame>(controls, QStringLiteral("Frame1"));
  Frame2 = Find<QFrame>(controls, QStringLiteral("Frame2"));
  Frame5 = Find<QFrame>(controls, QStringLiteral("Frame5"));
  Image1 = Find<ClickLabel>(controls, QStringLiteral("Image1"));
  Check1 = Find<QPushButton>(controls, QStringLiteral("Check1"));
  for (int i = 0; i < 2; ++i) {
    Text6[i] = Find<QLineEdit>(controls, QStringLiteral("Text6_%1").arg(i));
    Command1[i] = Find<QPushButton>(controls, QStringLiteral("Command1_%1").arg(i));
    Text5[i] = Find<QLineEdit>(controls, QStringLiteral("Text5_%1").arg(i));
    Text4[i] = Find<QLineEdit>(controls, QStringLiteral("Text4_%1").arg(i));
  }
  for (int i = 0; i < 4; ++i)
    Check3[i] = Find<QCheckBox>(controls, QStringLiteral("Check3_%1").arg(i));
  ListView1 = Find<QTableView>(controls, QStringLiteral("ListView1"));
  Text1 = Find<QLineEdit>(controls, QStringLiteral("Text1"));
  List1 = Find<QListWidget>(controls, QStringLiteral("List1"));
  Text7 = Find<QLineEdit>(controls, QStringLiteral("Text7"));
  Text3 = Find<QLineEdit>(controls, QStringLiteral("Text3"));
  Text2 = Find<QLineEdit>(controls, QStringLiteral("Text2"));
}

// The results table shows the model through a view that maps its marks; the header sorts and
// the right button opens the "Edit" menu.
void Form1::SetUpResultsTable() {
  auto* view = new ResultsView(this);
  view->setSourceModel(results);
  ListView1->setModel(view);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->verticalHeader()->hide();
  ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
  ListView1->horizontalHeader()->setStretchLastSection(true);
  const int widths[] = {80, 70, 70, 60, 60};
  for (int column = 0; column < int(std::size(widths)); ++column)
    ListView1->setColumnWidth(column, widths[column]);
  ListView1->setWordWrap(false);

  ListView1->horizontalHeader()->setSectionsClickable(true);
  ListView1->horizontalHeader()->setSortIndicatorShown(false);
  connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this, &Form1::ListView1_ColumnClick);
  ListView1->viewport()->installEventFilter(this);
  new PopupMenuKeys(
      ListView1, [this](const QPoint& at) { ListView1_MouseUp(Qt::RightButton, at); },
      [this] { return Tmenu->isVisible(); });

  Tmenu = new QMenu(QStringLiteral("Edit"), this);
  Tmenu->setObjectName(QStringLiteral("Tmenu"));
  QAction* reset = Tmenu->addAction(QStringLiteral("Reset"));
  reset->setObjectName(QStringLiteral("Lmenu"));
  QAction* save = Tmenu->addAction(QStringLiteral("Save"));
  save->setObjectName(QStringLiteral("mnuSave"));
  connect(reset, &QAction::triggered, this, &Form1::Lmenu_Click);
  connect(save, &QAction::triggered, this, &Form1::mnuSave_Click);

  // Beyond the two items of the table's menu: the history of the sites, and a request to repeat.
  Tmenu->addSeparator();
  QAction* openSites = Tmenu->addAction(QStringLiteral("Sites..."));
  openSites->setObjectName(QStringLiteral("mnuSites"));
  openSites->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
  addAction(openSites); // Ctrl+I works while the menu is closed
  connect(openSites, &QAction::triggered, this, &Form1::OpenSites);
  copyAsCurl = Tmenu->addAction(QStringLiteral("Copy as curl"));
  copyAsCurl->setObjectName(QStringLiteral("mnuCopyAsCurl"));
  connect(copyAsCurl, &QAction::triggered, this, &Form1::CopyAsCurl);
}

// The engine owns the timers and the switch's state; the window shows what it reports.
void Form1::ConnectEngine() {
  cycle = new TestCycle(state, settings, *results, *StatusBar1, *StatusBar2, *Inet1, *Inet2, this);
  connect(cycle, &TestCycle::SwitchChanged, this, [this](bool pressed, const QString& caption) {
    const QSignalBlocker blocker(Check1);
    Check1->setChecked(pressed);
    Check1->setText(caption);
  });
  connect(cycle, &TestCycle::PictureChanged, this, &Form1::ShowPicture);
  connect(cycle, &TestCycle::RefTimeChanged, this, [this](int i, const QString& text) { Text6[i]->setText(text); });
  connect(cycle, &TestCycle::CaptionChanged, this, &QWidget::setWindowTitle);
  connect(Check1, &QPushButton::clicked, this,
          [this] { Check1_MouseUp(ModifierHeld() ? TestCycle::SwitchedBy::Program : TestCycle::SwitchedBy::Click); });
  cycle->MenuAction = [this](MenuItem item) { Label2_Click(item); };
}

void Form1::ConnectControls() {
  for (int i = 0; i < int(Label2.size()); ++i) {
    connect(Label2[i], &ClickLabel::Clicked, this, [this, i] { Label2_Click(MenuItem(i)); });
    connect(Label2[i], &ClickLabel::MouseMoved, this, [this, i] { Label2_MouseMove(i); });
  }
  connect(Image1, &ClickLabel::Clicked, this, &Form1::Image1_Click);
  connect(Image1, &ClickLabel::MouseMoved, this, &Form1::Image1_MouseMove);
  Label2[int(MenuItem::Configure)]->setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);
  SetUpMenuKeys();

  connect(Command1[0], &QPushButton::clicked, this, [this] { Command1_Click(0); });
  connect(Command1[1], &QPushButton::clicked, this, [this] { Command1_Click(1); });
  // An entry is picked by a click, and by any change of the selection (the arrow keys among them).
  connect(List1, &QListWidget::itemClicked, this, [this] { List1_Click(); });
  connect(List1, &QListWidget::itemSelectionChanged, this, [this] { List1_Click(); });
  Text1->installEventFilter(this);
  BindSettings();
}

// The configuration lives in the controls; the engine reads it through settings, kept up to date
// here as texts and states change (typed or set by the program).
void Form1::BindSettings() {
  connect(Text2, &QLineEdit::textChanged, this, [this](const QString& text) {
    settings.delay = text;
    Text2_Change();
  });
  connect(Text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
  for (int i = 0; i < 2; ++i) {
    connect(Text5[i], &QLineEdit::textChanged, this, [this, i](const QString& text) { settings.warning[i] = text; });
    connect(Text4[i], &QLineEdit::textChanged, this, [this, i](const QString& text) {
      (i == 0 ? settings.runLength : settings.keepCount) = text;
      Text4_Change();
    });
  }
  for (int i = 0; i < 4; ++i) {
    connect(Check3[i], &QCheckBox::toggled, this, [this, i](bool checked) { settings.option[i] = checked; });
    connect(Check3[i], &QCheckBox::clicked, this, [this, i] { Check3_MouseUp(i); });
  }
  settings.delay = Text2->text();
  settings.warning = {Text5[0]->text(), Text5[1]->text()};
  settings.runLength = Text4[0]->text();
  settings.keepCount = Text4[1]->text();
}

void Form1::UrlsChanged() {
  settings.urls = Urls();
}

Form1::~Form1() = default;

void Form1::Form_Load() {
  List1->addItems(UrlFile::Load());
  UrlsChanged();
  cycle->ShowPicture(TestCycle::LightRest);
  state.FcTestState = Module1::FcTest::None;
  QString id = SettingsStore::GetAccountId();
  id.chop(1);
  Text7->setText(id);
}

void Form1::LoadSettings(const SettingsStore::StoredOptions& options) {
  Text3->setText(options.samplers);
  Text2->setText(options.delay);
  Text5[0]->setText(options.warning1);
  Text5[1]->setText(options.warning2);
  Text4[0]->setText(options.runLength);
  Text4[1]->setText(options.keepCount);
  for (int i = 0; i < options.options.size() && i < int(Check3.size()); ++i)
    Check3[i]->setChecked(options.options.at(i) == QLatin1Char('1'));
}

QStringList Form1::Urls() const {
  QStringList urls;
  for (int i = 0; i < List1->count(); ++i)
    urls.append(List1->item(i)->text());
  return urls;
}

void Form1::Command1_Click(int index) {
  if (index == 0) {
    List1->addItem(Text1->text());
    UrlsChanged();
    UrlFile::Append(Text1->text());
    Text1->setText(QStringLiteral("http://"));
    Text1->setCursorPosition(Text1->text().size());
    Text1->setFocus();
  } else if (index == 1) {
    const int selected = List1->currentRow();
    if (selected < 0 || selected >= List1->count() || !List1->currentItem()->isSelected())
      return;
    {
      // The selection moves while the entry goes: that is no pick of another entry.
      const QSignalBlocker quiet(List1);
      delete List1->takeItem(selected);
      List1->setCurrentRow(-1);
      List1->clearSelection();
    }
    UrlsChanged();
    UrlFile::Rewrite(Urls());
  }
}

void Form1::Text1_LostFocus() {
  QString text = Text1->text();
  if (text.endsWith(QLatin1Char('/'))) {
    text.chop(1);
    Text1->setText(text);
  }
}

void Form1::List1_Click() {
  // The selection changes before the current entry follows it: the selected entry is the one picked.
  const QList<QListWidgetItem*> selected = List1->selectedItems();
  if (!selected.isEmpty())
    Text1->setText(selected.first()->text());
}

void Form1::ShowPicture(int n) {
  if (n >= 1 && n <= ImageList1.size())
    Image1->setPixmap(ImageList1.at(n - 1));
}

int Form1::PictureShown() const {
  return cycle->PictureShown();
}

void Form1::Check1_MouseUp(TestCycle::SwitchedBy by) {
  cycle->Check1_MouseUp(Check1->isChecked(), by);
}

void Form1::Check3_MouseUp(int index) {
  if (index == 0) {
    const bool on = Check3[0]->isChecked();
    Check3[2]->setEnabled(on);
    Text4[1]->setEnabled(on);
  } else if (index == 3) {
    Check1->setToolTip(QString());
    if (!Check3[3]->isChecked())
      state.FcTestState = Module1::FcTest::None;
    cycle->FcMarkerRule();
  }
}

void Form1::Text2_Change() {
  cycle->FcMarkerRule();
}

void Form1::Text3_Change() {
  cycle->Text3_Change(Text3->text());
}

void Form1::Text4_Change() {
  const bool on = !Text4[0]->text().isEmpty();
  for (QCheckBox* box : Check3)
    box->setEnabled(on);
  cycle->FcMarkerRule();
}

void Form1::ListView1_ColumnClick(int column) {
  results->ColumnClick(column);
}

void Form1::ListView1_MouseUp(Qt::MouseButton button, const QPoint& position) {
  if (button == Qt::RightButton) {
    copyAsCurl->setEnabled(!SelectedSiteUrl().isEmpty());
    Tmenu->popup(ListView1->viewport()->mapToGlobal(position));
    return;
  }
  if (button != Qt::LeftButton)
    return;
  const std::optional<qint16> siteId = SelectedSiteId();
  if (!siteId)
    return;
  StatusBar2->SetText(1, QStringLiteral("Selected: ") + AddressText::Shown(UrlOfSite(*siteId)));
  ShowFcSummary(*siteId);
  SitePanels::ShowBestWorst(*StatusBar1, Statistics::BestWorstOf(*results, *siteId));
  SitePanels::ShowAverage(*StatusBar1, Statistics::SiteAverage(*results, *siteId));
}

void Form1::Lmenu_Click() {
  if (MessageBoxes::MsgBox(QStringLiteral("Do you want to save log before?"), MessageBoxes::YesNo) == MessageBoxes::Yes)
    mnuSave_Click();
  results->Clear();
}

void Form1::mnuSave_Click() {
  WriteReportLog(*results, Urls());
}

void Form1::UseHistory(HistoryStore& store, const QString& path) {
  history = &store;
  historyPath = path;
  delete recorder;
  recorder = new HistoryRecorder(*cycle, settings, store, this);
  connect(&store, &HistoryStore::Failed, this, [this](const QString& line) { StatusBar2->SetText(1, line); });
  if (!store.FailureText().isEmpty())
    StatusBar2->SetText(1, store.FailureText());
}

void Form1::OpenSites() {
  if (!sites) {
    // A window of its own (not a child drawn inside this one) that closes with the program.
    sites = new SitesWindow(HistoryAccess::Of(historyPath, history, recorder, settings), this);
    sites->setWindowFlag(Qt::Window);
    sites->setFont(QApplication::font()); // not the main window's small one
    sites->setObjectName(QStringLiteral("Sites"));
    if (recorder)
      connect(recorder, &HistoryRecorder::Recorded, sites, &SitesWindow::SampleRecorded);
  }
  sites->show();
  sites->raise();
  sites->activateWindow();
}

void Form1::CopyAsCurl() {
  const QString url = SelectedSiteUrl();
  if (!url.isEmpty())
    QGuiApplication::clipboard()->setText(CurlCommand::For(url + QStringLiteral("/vok.txt")));
}

std::optional<qint16> Form1::SelectedSiteId() const {
  const QModelIndex current = ListView1->selectionModel()->currentIndex();
  if (!current.isValid() || !ListView1->selectionModel()->isRowSelected(current.row(), {}))
    return std::nullopt;
  // A row whose fetch is still outstanding has no site yet.
  const std::optional<double> site = Numbers::Strict(results->TextAt(current.row(), ResultsModel::SiteId));
  return site ? Numbers::ToInt16(*site) : std::nullopt;
}

QString Form1::UrlOfSite(int siteId) const {
  const QStringList urls = Urls();
  return siteId >= 1 && siteId <= urls.size() ? urls.at(siteId - 1) : QString();
}

QString Form1::SelectedSiteUrl() const {
  const std::optional<qint16> siteId = SelectedSiteId();
  return siteId ? UrlOfSite(*siteId) : QString();
}

// ---- The menu panel ------------------------------------------------------------------------------

void Form1::Label2_Click(MenuItem item) {
  switch (item) {
  case MenuItem::Menu: return OpenMenu();
  case MenuItem::ShowLog: return ShowLog();
  case MenuItem::SubmitLog: return SubmitLog();
  case MenuItem::SubmitResults: return SubmitResults();
  case MenuItem::Configure: return Configure();
  case MenuItem::Quit: return Quit();
  case MenuItem::Hatching: return Hatching();
  case MenuItem::Help: return Help();
  case MenuItem::FcTest: return StartFcTest();
  }
}

void Form1::OpenMenu() {
  Frame5->show();
  Frame5->raise();
  if (state.FcTestState == Module1::FcTest::Running)
    setWindowTitle(Module1::AppTitle + QStringLiteral(" - Warning!, fc test in progress"));
}

void Form1::ShowLog() {
  Shell::Instance().Open(ProgramFolder::File(QStringLiteral("tarvik.log")));
  Frame5->hide();
}

void Form1::SubmitLog() {
  MessageBoxes::MsgBox(QStringLiteral("This function is not operational in this version. Coming soon"));
  Frame5->hide();
}

void Form1::SubmitResults() {
  if (cycle->SwitchPressed()) {
    MessageBoxes::MsgBox(QStringLiteral("You cannot submit while tests are in progress"));
    return;
  }
  if (qint64(List1->count()) * results->Count() < 10) {
    MessageBoxes::MsgBox(QStringLiteral("Not enough results to submit"));
    return;
  }
  if (state.ReportSubmitted) {
    MessageBoxes::MsgBox(QStringLiteral("This report was already submited"), MessageBoxes::OkOnly,
                         MessageBoxes::Information);
    return;
  }
  Frame5->hide();
  SubmitReport();
  // The panel may have been opened again while the submission waited.
  Frame5->hide();
}

void Form1::Configure() {
  Frame1->setVisible(!Frame1->isVisible());
  Frame2->setVisible(!Frame1->isVisible());
  ClickLabel* item = Label2[int(MenuItem::Configure)];
  item->setFrameShape(item->frameShape() == QFrame::NoFrame ? QFrame::Box : QFrame::NoFrame);
}

void Form1::Quit() {
  // A run that counts down its passes ("<n> to go") is only ended when the user confirms it.
  const QString progress = StatusBar2->Text(3);
  if (!progress.isEmpty() && Numbers::IsDigit(progress.at(0)) && progress.at(0) != QLatin1Char('0') &&
      MessageBoxes::MsgBox(QStringLiteral("Are you sure you want to quit?"), MessageBoxes::YesNo,
                           MessageBoxes::Question, QStringLiteral("Test in progress")) == MessageBoxes::No)
    return;
  ShowSubLogFailure(UpdateTransferLog(*results));
  results->Clear();
  UnloadAll();
}

void Form1::ShowSubLogFailure(const QString& failure) {
  if (!failure.isEmpty())
    StatusBar2->SetText(1, failure);
}

void Form1::Hatching() {
  WriteOwnershipFile();
  MessageBoxes::MsgBox(QStringLiteral("Vok Hatched"));
}

void Form1::Help() {
  Shell::Instance().Open(ProgramFolder::File(QStringLiteral("tarvik-help.html")));
}

// A preset run: 60 passes at 60-second intervals, then stop.
void Form1::StartFcTest() {
  Frame2->hide();
  Frame1->show();
  results->Clear();
  cycle->RoundCount = 0;
  Text4[0]->setText(QStringLiteral("60"));
  Text2->setText(QStringLiteral("60"));
  Check3[3]->setChecked(true);
  Check1->setChecked(true);
  Check1_MouseUp(TestCycle::SwitchedBy::Program);
  Frame5->hide();
  state.FcTestState = Module1::FcTest::Running;
  setWindowTitle(Module1::AppTitle + QStringLiteral(" - fc test in progress"));
}

QString Form1::ShowFcSummary(int siteId) {
  const FcFigures fc = FcSummary(*results, siteId, state.FcTestState == Module1::FcTest::Finished);
  SitePanels::ShowFcSummary(*StatusBar2, fc);
  return fc.code;
}

void Form1::SubmitReport() {
  const ReportSubmission::Context context{
      state,
      *results,
      Urls(),
      Text6[0]->text(),
      Text6[1]->text(),
      *StatusBar2,
      *Inet2,
      [this](bool on) { cycle->SetStatusLight(on); },
      [](bool on) {
        if (on && !QApplication::overrideCursor())
          QApplication::setOverrideCursor(Qt::WaitCursor);
        else if (!on)
          while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
      },
      [this] { cycle->ShowSubmitted(); },
      [this](int siteId) { return ShowFcSummary(siteId); },
  };
  ReportSubmission::SubmitReport(context);
}

// The menu panel from the keyboard. Tab goes from " Menu " through the panel's items in reading
// order, row by row, and on to the status light; Alt+M opens the panel on its first item; Escape
// closes it. When the panel closes with the focus inside, the focus goes back to " Menu ".
void Form1::SetUpMenuKeys() {
  using enum MenuItem;
  const MenuItem order[] = {Menu, ShowLog, SubmitResults, Configure, Help, FcTest, SubmitLog, Hatching, Quit};
  for (size_t i = 1; i < std::size(order); ++i)
    setTabOrder(Label2[int(order[i - 1])], Label2[int(order[i])]);
  setTabOrder(Label2[int(order[std::size(order) - 1])], Image1);

  auto* openMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_M), this);
  connect(openMenuKey, &QShortcut::activated, this, [this] {
    Label2_Click(MenuItem::Menu);
    Label2[int(MenuItem::ShowLog)]->setFocus(Qt::ShortcutFocusReason);
  });
  closeMenuKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  closeMenuKey->setEnabled(false);
  connect(closeMenuKey, &QShortcut::activated, Frame5, &QWidget::hide);
  Frame5->installEventFilter(this);
}

void Form1::SetMenuItemLook(int index, bool highlighted) {
  ClickLabel* item = Label2[index];
  QPalette palette = item->palette();
  palette.setColor(QPalette::WindowText, highlighted ? QColor(0, 0, 255) : QColor(0, 0, 0));
  item->setPalette(palette);
  QFont font = item->font();
  font.setUnderline(highlighted);
  item->setFont(font);
}

void Form1::Label2_MouseMove(int index) {
  if (index == LastMenuItem)
    return;
  SetMenuItemLook(index, true);
  SetMenuItemLook(LastMenuItem, false);
  LastMenuItem = index;
}

void Form1::Form_MouseMove() {
  Frame5->hide();
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
  // Only a move over the bare window closes the menu panel; moves over a control that the control
  // passes on do not.
  if (!childAt(event->position().toPoint()))
    Form_MouseMove();
  QWidget::mouseMoveEvent(event);
}

void Form1::UnloadAll() {
  if (closing)
    return;
  closing = true;
  cycle->Shutdown();
  results->Clear();
  QApplication::closeAllWindows();
  QApplication::quit();
}

// ---- The status light -------------------------------------------------------------------------------

void Form1::Image1_MouseMove() {
  if (PictureShown() == TestCycle::LightSubmitted)
    Image1->setToolTip(QStringLiteral("All Done"));
  else if (PictureShown() == TestCycle::LightRest)
    Image1->setToolTip(QStringLiteral("Click to navigate to Tarvik Website"));
}

void Form1::Image1_Click() {
  if (PictureShown() == ImageList1.size())
    return;
  if (PictureShown() == TestCycle::LightSubmitted)
    MessageBoxes::MsgBox(QStringLiteral("All Done"));
  else if (PictureShown() == TestCycle::LightRest)
    Shell::Instance().Open(state.VendorURL + Module1::AppTitle.toLower());
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Frame5 && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
    closeMenuKey->setEnabled(event->type() == QEvent::Show);
    if (event->type() == QEvent::Hide && Frame5->isAncestorOf(QApplication::focusWidget()))
      Label2[int(MenuItem::Menu)]->setFocus(Qt::OtherFocusReason);
  }
  // The field loses the focus only when it moves on to another control of this window: not when its
  // own context menu opens, nor when another window becomes active.
  if (watched == Text1 && event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    const bool movedOn = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                         reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason ||
                         reason == Qt::OtherFocusReason;
    const QWidget* next = QApplication::focusWidget();
    if (movedOn && next && next != Text1 && next->window() == this)
      Text1_LostFocus();
  }
  if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    ListView1_MouseUp(mouse->button(), mouse->position().toPoint());
  }
  return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the program as "Quit" does, without its question: the session goes
  // into the sub-log, an outstanding fetch is ended, the hidden splash window closes with it.
  event->accept();
  if (closing)
    return; // already ending (Quit closes every window)
  ShowSubLogFailure(UpdateTransferLog(*results));
  UnloadAll();
}
