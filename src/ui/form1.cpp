#include "ui/form1.h"

#include "app/module1.h"
#include "app/statuspanels.h"
#include "app/urlfile.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "results/resultsmodel.h"
#include "ui/clicklabel.h"
#include "ui/controlmap.h"
#include "ui/resultsview.h"
#include "ui/statusbar.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace {

template <typename T>
T* Find(const QHash<QString, QWidget*>& controls, const QString& name) {
  auto* widget = qobject_cast<T*>(controls.value(name));
  Q_ASSERT_X(widget, "Form1", qPrintable(name));
  return widget;
}

QTimer* MakeTimer(QObject* parent, const char* name, int interval) {
  auto* timer = new QTimer(parent);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(interval);
  return timer;
}

// The client area: the status bars end at 6375 twips and are 8685 twips wide.
constexpr QSize ClientSize(8685 / ControlMap::TwipsPerPixel, 6390 / ControlMap::TwipsPerPixel);

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(Module1::AppTitle + QStringLiteral(" vok"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.png")));
  setFixedSize(ClientSize);

  StatusBar1 = new StatusPanels(3, {QStringLiteral("Best Time"), QStringLiteral("Worst Time"), QStringLiteral("Average")}, this);
  StatusBar2 = new StatusPanels(5, {}, this);
  Results = new ResultsModel(this);
  Inet1 = new HttpClientArray(this);
  Inet2 = new HttpClient(0, this);

  controls = ControlMap::Build(this, [this](const QString& name, QWidget* parent) -> QWidget* {
    if (name == QLatin1String("StatusBar1"))
      return new StatusBar(StatusBar1, {3, 3, 2}, parent);
    return new StatusBar(StatusBar2, {6, 2, 3, 2, 1}, parent);
  });

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

  // The menu panel opens from the " Menu " label; the configuration panel shares the results
  // panel's place and is hidden until "Configure" shows it.
  Frame5->hide();
  Frame2->hide();

  auto* view = new ResultsView(this);
  view->setSourceModel(Results);
  ListView1->setModel(view);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->verticalHeader()->hide();
  ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
  ListView1->horizontalHeader()->setStretchLastSection(true);
  ListView1->setWordWrap(false);

  for (int n = 1; n <= 5; ++n)
    ImageList1.append(QPixmap(QStringLiteral(":/pictures/light%1.png").arg(n)));
  Image1->setToolTip(QStringLiteral("If ON waiting for remote response"));

  Timer1 = MakeTimer(this, "Timer1", 1000);
  Timer2 = MakeTimer(this, "Timer2", 10000);
  Timer3 = MakeTimer(this, "Timer3", 50);
  Timer4 = MakeTimer(this, "Timer4", 1000);

  connect(Command1[0], &QPushButton::clicked, this, [this] { Command1_Click(0); });
  connect(Command1[1], &QPushButton::clicked, this, [this] { Command1_Click(1); });
  connect(List1, &QListWidget::itemClicked, this, [this] { List1_Click(); });
  Text1->installEventFilter(this);

  Form_Load();
}

Form1::~Form1() = default;

void Form1::Form_Load() {
  List1->addItems(UrlFile::Load());
  ShowPicture(4);
  Module1::FcTestState = 0;
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
    UrlFile::Append(Text1->text());
    Text1->setText(QStringLiteral("http://"));
    Text1->setCursorPosition(Text1->text().size());
    Text1->setFocus();
  } else if (index == 1) {
    const int selected = List1->currentRow();
    if (selected < 0 || selected >= List1->count() || !List1->currentItem()->isSelected())
      return;
    delete List1->takeItem(selected);
    List1->setCurrentRow(-1);
    List1->clearSelection();
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
  if (QListWidgetItem* item = List1->currentItem())
    Text1->setText(item->text());
}

void Form1::ShowPicture(int n) {
  if (n < 1 || n > ImageList1.size())
    return;
  pictureShown = n;
  Image1->setPixmap(ImageList1.at(n - 1));
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Text1 && event->type() == QEvent::FocusOut)
    Text1_LostFocus();
  return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the program, the hidden splash window with it.
  event->accept();
  QApplication::closeAllWindows();
  QApplication::quit();
}
