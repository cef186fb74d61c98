// The main window's own handlers through real widgets: the results table's events and popup menu,
// the configuration panel's rules, the menu panel and the status light.
#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/testcycle.h"
#include "form1controls.h"
#include "history/historystore.h"
#include "history/historysummarymodel.h"
#include "historyfile.h"
#include "loopbackserver.h"
#include "platform/curlcommand.h"
#include "platform/httpclientarray.h"
#include "platform/numbers.h"
#include "platform/programfolder.h"
#include "recordingshell.h"
#include "resultrows.h"
#include "results/resultsmodel.h"
#include "scriptedboxes.h"
#include "testenvironment.h"
#include "ui/clicklabel.h"
#include "ui/form1.h"
#include "ui/siteswindow.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {

// A completed sample of the first pass whose average is its own ping.
void AddRow(ResultsModel& model, const QString& time, const QString& ping, const QString& site) {
  Fill(model, {{time, ping, ping, site, QStringLiteral("1")}}, AllColumns);
}

void AddUrls(Form1& form, const QStringList& urls) {
  const Form1Controls ui(form);
  for (const QString& url : urls) {
    ui.Text1->setText(url);
    form.Command1_Click(0);
  }
}

// A fresh program-wide state whose vendor address is one of the tests' own.
Module1 StateWithVendor() {
  Module1 state;
  state.VendorURL = QStringLiteral("http://vendor.test/");
  return state;
}

QPoint CellCentre(QTableView* view, int row, int column) {
  return view->visualRect(view->model()->index(row, column)).center();
}

// What the window did: the boxes shown, the files and pages opened, the panels, the caption.
QString Trace(Form1& form, const ScriptedBoxes& boxes, const RecordingShell& shell) {
  const Form1Controls ui(form);
  return QStringList{boxes.Texts().join(QLatin1Char(';')),
                     shell.opened.join(QLatin1Char(';')),
                     QStringLiteral("menu panel %1").arg(ui.Frame5->isVisible()),
                     QStringLiteral("configuration %1").arg(ui.Frame2->isVisible()),
                     QStringLiteral("Configure framed %1").arg(ui.Label2[4]->frameShape() != QFrame::NoFrame),
                     form.windowTitle(),
                     QStringLiteral("shown %1").arg(form.isVisible())}
      .join(QStringLiteral(" | "));
}

} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

private slots:
  void init() { TestEnvironment::Current()->Clear(); }

  void headerClickSortsByText() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    AddRow(form.Results(), "10:00:00", "9.000", "1");
    AddRow(form.Results(), "10:00:01", "10.000", "1");
    AddRow(form.Results(), "10:00:02", "0.500", "1");
    QHeaderView* header = ui.ListView1->horizontalHeader();
    const QPoint ping(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, ping);
    QCOMPARE(form.Results().TextAt(0, ResultsModel::Ping), QStringLiteral("9.000"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, ping);
    QCOMPARE(form.Results().TextAt(0, ResultsModel::Ping), QStringLiteral("0.500"));
    QCOMPARE(form.Results().TextAt(1, ResultsModel::Ping), QStringLiteral("10.000"));
    // A new row takes its sorted place.
    AddRow(form.Results(), "10:00:03", "1.000", "1");
    QCOMPARE(form.Results().TextAt(2, ResultsModel::Ping), QStringLiteral("10.000"));
    // The view shows the model's order and cannot edit it.
    QCOMPARE(ui.ListView1->model()->index(1, 1).data().toString(), QStringLiteral("1.000"));
    QVERIFY(!(ui.ListView1->model()->flags(ui.ListView1->model()->index(0, 0)) & Qt::ItemIsEditable));
  }

  void selectingARowReportsItsSite() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    AddUrls(form, {"http://one.test", "http://two.test"});
    AddRow(form.Results(), "10:00:00", "0.300", "1");
    AddRow(form.Results(), "10:00:01", "0.400", "2");
    AddRow(form.Results(), "10:00:02", "0.200", "2");
    const auto pending = form.Results().AddRow(QStringLiteral("10:00:03"));
    form.Results().SetText(pending, ResultsModel::Ping, QStringLiteral("Sent"));

    QTest::mouseClick(ui.ListView1->viewport(), Qt::LeftButton, {}, CellCentre(ui.ListView1, 1, 0));
    QCOMPARE(ui.StatusBar2->Text(1), QStringLiteral("Selected: http://two.test"));
    QCOMPARE(ui.StatusBar1->Text(1), QStringLiteral("BT: 10:00:02   PING: 0.2"));
    QCOMPARE(ui.StatusBar1->Text(2), QStringLiteral("WT: 10:00:01   PING: 0.4"));
    QCOMPARE(ui.StatusBar1->Text(3), QStringLiteral("Avg: 0.300"));

    // A row whose fetch is outstanding has no site: nothing changes, nothing fails.
    QTest::mouseClick(ui.ListView1->viewport(), Qt::LeftButton, {}, CellCentre(ui.ListView1, 3, 0));
    QCOMPARE(ui.StatusBar2->Text(1), QStringLiteral("Selected: http://two.test"));
  }

  void resetAsksAboutTheLog_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("logWritten");
    QTest::newRow("no") << int(MessageBoxes::No) << QStringList{"Do you want to save log before?"} << false;
    QTest::newRow("yes") << int(MessageBoxes::Yes) << QStringList{"Do you want to save log before?", "Log Saved"}
                         << true;
  }
  void resetAsksAboutTheLog() {
    QFETCH(int, answer);
    QFETCH(QStringList, boxes);
    QFETCH(bool, logWritten);
    Module1 state;
    ScriptedBoxes scripted;
    scripted.answers << MessageBoxes::Answer(answer);
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    AddUrls(form, {"http://one.test"});
    AddRow(form.Results(), "10:00:00", "0.300", "1");
    ui.StatusBar1->SetText(3, QStringLiteral("Avg: 0.300"));

    // The right button opens the "Edit" menu with "Reset" and "Save".
    QTest::mouseClick(ui.ListView1->viewport(), Qt::RightButton, {}, CellCentre(ui.ListView1, 0, 0));
    QTRY_VERIFY(ui.Tmenu->isVisible());
    QCOMPARE(ui.Tmenu->title(), QStringLiteral("Edit"));
    QCOMPARE(ui.Tmenu->actions().at(0)->text(), QStringLiteral("Reset"));
    QCOMPARE(ui.Tmenu->actions().at(1)->text(), QStringLiteral("Save"));
    ui.Tmenu->actions().at(0)->trigger();
    ui.Tmenu->hide();

    QCOMPARE(scripted.Texts(), boxes);
    QCOMPARE(scripted.shown.at(0).buttons, MessageBoxes::YesNo);
    QCOMPARE(scripted.shown.at(0).title, QStringLiteral("Tarvik"));
    QCOMPARE(form.Results().Count(), 0);
    QCOMPARE(QFile::exists(ProgramFolder::File(QStringLiteral("tarvik.log"))), logWritten);
    QCOMPARE(ui.StatusBar1->Text(3), QStringLiteral("Avg: 0.300"));
  }

  // Shift+F10 and the Menu key open the table's menu at the current row, as the right button does
  // there ("Copy as curl" for that row's request).
  void popupMenuFromTheKeyboard_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
  }
  void popupMenuFromTheKeyboard() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    AddUrls(form, {"http://one.test", "http://two.test"});
    AddRow(form.Results(), "10:00:00", "0.300", "1");
    AddRow(form.Results(), "10:00:01", "0.200", "2");
    ui.ListView1->setFocus();
    ui.ListView1->selectRow(1);
    QTest::keyClick(ui.ListView1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(ui.Tmenu->isVisible());
    const QRect row = ui.ListView1->visualRect(ui.ListView1->model()->index(1, 0));
    QCOMPARE(ui.Tmenu->pos(), ui.ListView1->viewport()->mapToGlobal(row.bottomLeft()));
    QVERIFY(ui.Tmenu->actions().last()->isEnabled()); // "Copy as curl" of the row
    ui.Tmenu->hide();
    // The key opens nothing more than the one menu.
    QCOMPARE(form.findChildren<QMenu*>().size(), 1);
  }

  void optionBoxesFollowTheRunLength() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    QTest::keyClick(ui.Text4[0], Qt::Key_5);
    for (QCheckBox* box : ui.Check3)
      QVERIFY(box->isEnabled());
    QVERIFY(!ui.Text4[1]->isEnabled());
    // "Restart" governs "Keep last" and its count.
    QTest::mouseClick(ui.Check3[0], Qt::LeftButton);
    QVERIFY(ui.Check3[0]->isChecked());
    QVERIFY(ui.Check3[2]->isEnabled() && ui.Text4[1]->isEnabled());
    QTest::mouseClick(ui.Check3[0], Qt::LeftButton);
    QVERIFY(!ui.Check3[2]->isEnabled() && !ui.Text4[1]->isEnabled());
    // A change of the run length enables every box again; a checked box stays checked while disabled.
    QTest::mouseClick(ui.Check3[1], Qt::LeftButton);
    QTest::keyClick(ui.Text4[0], Qt::Key_0);
    QVERIFY(ui.Check3[2]->isEnabled());
    ui.Text4[0]->clear();
    for (QCheckBox* box : ui.Check3)
      QVERIFY(!box->isEnabled());
    QVERIFY(ui.Check3[1]->isChecked());
    QVERIFY(form.Settings().option[RunSettings::Save]);
    QCOMPARE(form.Settings().runLength, QString());
  }

  void uncheckingStopDropsTheFcMarker() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    ui.Text4[0]->setText(QStringLiteral("60"));
    ui.Check3[3]->setChecked(true);
    state.FcTestState = Module1::FcTest::Running;
    ui.Check1->setToolTip(QStringLiteral("tip"));
    QTest::mouseClick(ui.Check3[3], Qt::LeftButton);
    QCOMPARE(state.FcTestState, Module1::FcTest::None);
    QCOMPARE(ui.Check1->toolTip(), QString());
    state.FcTestState = Module1::FcTest::Running;
    QTest::mouseClick(ui.Check3[3], Qt::LeftButton); // checked again: both values are still 60
    QCOMPARE(state.FcTestState, Module1::FcTest::Running);
    ui.Text2->setText(QStringLiteral("30"));
    QCOMPARE(state.FcTestState, Module1::FcTest::Running);
    ui.Text4[0]->setText(QStringLiteral("50"));
    QCOMPARE(state.FcTestState, Module1::FcTest::None);
  }

  void samplersTextResizesTheClientArray() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    ui.Text3->setText(QStringLiteral("3"));
    QCOMPARE(ui.Inet1->Count(), 3);
    ui.Text3->setText(QStringLiteral("0"));
    QCOMPARE(ui.Inet1->Count(), 1);
  }

  void menuPanelOpensAndCloses() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!ui.Frame5->isVisible());
    QTest::mouseClick(ui.Label2[0], Qt::LeftButton);
    QVERIFY(ui.Frame5->isVisible());
    // Moving over the panel's items highlights them one at a time and keeps the panel open.
    QTest::mouseMove(ui.Label2[3]);
    QTRY_COMPARE(ui.Label2[3]->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(ui.Label2[3]->font().underline());
    QTest::mouseMove(ui.Label2[7]);
    QTRY_VERIFY(ui.Label2[7]->font().underline());
    QVERIFY(!ui.Label2[3]->font().underline());
    QCOMPARE(ui.Label2[3]->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    QVERIFY(ui.Frame5->isVisible());
    // A move over the bare window closes it.
    QTest::mouseMove(&form, QPoint(form.width() - 3, 620 / 15));
    QTRY_VERIFY(!ui.Frame5->isVisible());
  }

  void configureSwitchesPanels() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    form.Label2_Click(MenuItem::Configure);
    QVERIFY(!ui.Frame1->isVisible() && ui.Frame2->isVisible());
    QCOMPARE(ui.Label2[4]->frameShape(), QFrame::Box);
    form.Label2_Click(MenuItem::Configure);
    QVERIFY(ui.Frame1->isVisible() && !ui.Frame2->isVisible());
    QCOMPARE(ui.Label2[4]->frameShape(), QFrame::NoFrame);
  }

  void itemsThatOpenFilesAndShowNotices() {
    Module1 state;
    ScriptedBoxes boxes;
    RecordingShell shell;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    form.Label2_Click(MenuItem::Menu);
    form.Label2_Click(MenuItem::ShowLog);
    QVERIFY(!ui.Frame5->isVisible());
    form.Label2_Click(MenuItem::Menu);
    form.Label2_Click(MenuItem::Help);
    QVERIFY(ui.Frame5->isVisible());
    form.Label2_Click(MenuItem::SubmitLog);
    form.Label2_Click(MenuItem::Hatching);
    QCOMPARE(shell.opened, (QStringList{ProgramFolder::File("tarvik.log"), ProgramFolder::File("tarvik-help.html")}));
    QCOMPARE(boxes.Texts(),
             (QStringList{"This function is not operational in this version. Coming soon", "Vok Hatched"}));
    QFile marker(ProgramFolder::File(QStringLiteral("vok.txt")));
    QVERIFY(marker.open(QIODevice::ReadOnly));
    QCOMPARE(marker.readAll(), QByteArray("vok\r\n"));
  }

  void submitResultsGuards() {
    Module1 state;
    ScriptedBoxes boxes;
    Form1 form(state);
    const Form1Controls ui(form);
    // No URL: never enough results.
    form.Label2_Click(MenuItem::SubmitResults);
    AddUrls(form, {"http://one.test", "http://two.test"});
    for (int i = 0; i < 4; ++i)
      AddRow(form.Results(), "10:00:00", "0.100", "1");
    form.Label2_Click(MenuItem::SubmitResults);
    ui.Check1->setChecked(true);
    form.Cycle().Check1_MouseUp(true, TestCycle::SwitchedBy::Program);
    form.Label2_Click(MenuItem::SubmitResults); // testing on wins over the count
    form.Cycle().Check1_MouseUp(false, TestCycle::SwitchedBy::Program);
    AddRow(form.Results(), "10:00:00", "0.100", "2");
    state.ReportSubmitted = true;
    form.Label2_Click(MenuItem::Menu);
    form.Label2_Click(MenuItem::SubmitResults);
    QCOMPARE(boxes.Texts(),
             (QStringList{"Not enough results to submit", "Not enough results to submit",
                          "You cannot submit while tests are in progress", "This report was already submited"}));
    QCOMPARE(boxes.shown.last().icon, MessageBoxes::Information);
    QVERIFY(ui.Frame5->isVisibleTo(&form));
  }

  void fcTestStartsAPresetRunAndAClickCancelsIt() {
    Module1 state;
    ScriptedBoxes boxes;
    LoopbackServer site;
    site.Serve(QStringLiteral("/vok.txt"), "vok\r\n");
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    AddUrls(form, {site.BaseUrl()});
    AddRow(form.Results(), "10:00:00", "0.100", "1");
    form.Label2_Click(MenuItem::Configure);
    form.Label2_Click(MenuItem::FcTest);
    QCOMPARE(form.Results().Count(), 0);
    QVERIFY(ui.Frame1->isVisible() && !ui.Frame2->isVisible());
    QCOMPARE(ui.Text4[0]->text(), QStringLiteral("60"));
    QCOMPARE(ui.Text2->text(), QStringLiteral("60"));
    QVERIFY(ui.Check3[3]->isChecked());
    QVERIFY(form.Cycle().Testing());
    QCOMPARE(ui.Check1->text(), QStringLiteral("ON"));
    QCOMPARE(state.FcTestState, Module1::FcTest::Running);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarvik - fc test in progress"));
    form.Label2_Click(MenuItem::Menu);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarvik - Warning!, fc test in progress"));
    QTRY_COMPARE_WITH_TIMEOUT(form.Results().Count(), 1, 5000);

    // A real click on the switch cancels the fc test before it stops testing.
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QCOMPARE(boxes.Texts(), QStringList{"fc test canceled"});
    QCOMPARE(state.FcTestState, Module1::FcTest::None);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarvik vok"));
    QVERIFY(!form.Cycle().Testing());
    QCOMPARE(ui.Check1->text(), QStringLiteral("OFF"));
    QVERIFY(!ui.Check1->isChecked());
  }

  void statusLightLinksToTheProductPage() {
    ScriptedBoxes boxes;
    RecordingShell shell;
    Module1 state = StateWithVendor();
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    form.Image1_MouseMove();
    QCOMPARE(ui.Image1->toolTip(), QStringLiteral("Click to navigate to Tarvik Website"));
    QTest::mouseClick(ui.Image1, Qt::LeftButton);
    QCOMPARE(shell.opened, QStringList{"http://vendor.test/tarvik"});
    form.Cycle().SetStatusLight(true);
    form.Image1_MouseMove();
    form.Image1_Click();
    QCOMPARE(ui.Image1->toolTip(), QStringLiteral("Click to navigate to Tarvik Website"));
    form.Cycle().ShowPicture(TestCycle::LightSubmitted);
    form.Image1_MouseMove();
    QCOMPARE(ui.Image1->toolTip(), QStringLiteral("All Done"));
    form.Image1_Click();
    QCOMPARE(boxes.Texts(), QStringList{"All Done"});
    QCOMPARE(shell.opened.size(), 1);
  }

  // The menu panel and the status light without a mouse. Each item, and the light's link, is a
  // button (a link) with a press action for assistive technology and is reached with Tab from the
  // " Menu " item, where the window starts, in reading order; Return, Space and the press action
  // each do exactly what a click does.
  void menuWithoutAMouse_data() {
    QTest::addColumn<int>("item"); // index of Label2; -1 the status light
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("panelOpen");
    QTest::addColumn<int>("tabs"); // from " Menu "; -1: not reached (disabled)
    QTest::newRow("Menu") << 0 << "Menu" << false << 0;
    QTest::newRow("Show log") << 1 << "Show log" << true << 1;
    QTest::newRow("Submit Results") << 3 << "Submit Results" << true << 2;
    QTest::newRow("Configure") << 4 << "Configure" << true << 3;
    QTest::newRow("Help") << 7 << "Help" << true << 4;
    QTest::newRow("fc Test") << 8 << "fc Test" << true << 5;
    QTest::newRow("Hatching") << 6 << "Hatching" << true << 6;
    QTest::newRow("Quit") << 5 << "Quit" << true << 7;
    QTest::newRow("Submit log (disabled)") << 2 << "Submit log" << true << -1;
    QTest::newRow("status light") << -1 << "Status light" << false << 1;
  }
  void menuWithoutAMouse() {
    QFETCH(int, item);
    QFETCH(QString, name);
    QFETCH(bool, panelOpen);
    QFETCH(int, tabs);

    QStringList traces;
    QString untouched;
    for (const QString way : {"click", "Return", "Space", "press action"}) {
      Module1 state = StateWithVendor();
      ScriptedBoxes boxes;
      RecordingShell shell;
      Form1 form(state);
      const Form1Controls ui(form);
      form.show();
      QVERIFY(QTest::qWaitForWindowActive(&form));
      QCOMPARE(QApplication::focusWidget(), ui.Label2[0]);
      if (panelOpen)
        QTest::mouseClick(ui.Label2[0], Qt::LeftButton);
      QWidget* widget = item < 0 ? static_cast<QWidget*>(ui.Image1) : ui.Label2[item];

      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
      QVERIFY(accessible);
      QCOMPARE(accessible->role(), item < 0 ? QAccessible::Link : QAccessible::Button);
      QCOMPARE(accessible->text(QAccessible::Name), name);
      QVERIFY(accessible->actionInterface());
      // A disabled item, like a disabled button, offers no press action.
      QCOMPARE(accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
               tabs >= 0);
      QCOMPARE(accessible->state().disabled, tabs < 0);

      if (way == QLatin1String("click")) {
        untouched = Trace(form, boxes, shell);
        QTest::mouseClick(widget, Qt::LeftButton);
      } else if (way == QLatin1String("press action")) {
        // The action returns at once, before any box of the item is shown (and answered); the
        // item acts from the event loop.
        const QString before = Trace(form, boxes, shell);
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(Trace(form, boxes, shell), before);
        QCoreApplication::processEvents();
      } else {
        if (tabs < 0)
          continue;
        for (int i = 0; i < tabs; ++i)
          QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), widget);
        QTest::keyClick(form.windowHandle(), way == QLatin1String("Return") ? Qt::Key_Return : Qt::Key_Space);
      }
      traces << way + QStringLiteral(": ") + Trace(form, boxes, shell);
    }
    for (const QString& trace : traces.mid(1))
      QCOMPARE(trace.section(QStringLiteral(": "), 1), traces.at(0).section(QStringLiteral(": "), 1));
    // A click on an enabled item does something.
    QVERIFY2(tabs < 0 || traces.at(0) != QStringLiteral("click: ") + untouched, qPrintable(traces.at(0)));
  }

  // Alt+M opens the menu panel with the focus on its first item; Escape closes it and puts the
  // focus back on " Menu ". Only the focused item shows a mark.
  void menuPanelShortcuts() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const QImage unfocused = ui.Label2[1]->grab().toImage();
    QTest::keyClick(form.windowHandle(), Qt::Key_M, Qt::AltModifier);
    QVERIFY(ui.Frame5->isVisible());
    QCOMPARE(QApplication::focusWidget(), ui.Label2[1]);
    QVERIFY(ui.Label2[1]->grab().toImage() != unfocused);
    QTest::keyClick(form.windowHandle(), Qt::Key_Escape);
    QVERIFY(!ui.Frame5->isVisible());
    QCOMPARE(QApplication::focusWidget(), ui.Label2[0]);
  }

  // The window's runs go into the history: Ctrl+I shows them in the Sites window, one sample per
  // row of the table; "Copy as curl" repeats the selected row's request.
  void historyOfTheWindowsRuns() {
    Module1 state;
    LoopbackServer site;
    site.Serve(QStringLiteral("/vok.txt"), "vok\r\n");
    const QString path = ProgramFolder::File(QStringLiteral("history.sqlite"));
    HistoryStore store;
    QVERIFY(store.Open(path));
    Form1 form(state);
    const Form1Controls ui(form);
    form.UseHistory(store, path);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    AddUrls(form, {site.BaseUrl()});
    ui.Text2->setText(QStringLiteral("1"));
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QVERIFY(form.Cycle().Testing());
    QTRY_VERIFY_WITH_TIMEOUT(form.Results().Count() >= 2, 10000);
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QVERIFY(!form.Cycle().Testing());

    QTest::keyClick(&form, Qt::Key_I, Qt::ControlModifier);
    auto* sites = form.findChild<SitesWindow*>(QStringLiteral("Sites"));
    QVERIFY(sites && sites->isVisible() && sites->isWindow());
    sites->SetSpan(HistorySpan::Preset::ThisRun);
    QTRY_VERIFY_WITH_TIMEOUT(!sites->Loading(), 20000);
    const auto* model =
        qobject_cast<const HistorySummaryModel*>(sites->findChild<QTableView*>(QStringLiteral("Table"))->model());
    QCOMPARE(model->index(0, HistorySummaryModel::Address).data().toString(), site.BaseUrl());
    QCOMPARE(model->index(0, HistorySummaryModel::Samples).data().toInt(), form.Results().Count());
    sites->hide();

    // The table's menu: "Sites..." brings the same window back; below the rows there is no request
    // to copy.
    const QPoint belowTheRows(10, ui.ListView1->viewport()->height() - 5);
    QTest::mouseClick(ui.ListView1->viewport(), Qt::RightButton, {}, belowTheRows);
    QTRY_VERIFY(ui.Tmenu->isVisible());
    QStringList items;
    for (const QAction* action : ui.Tmenu->actions())
      items << action->text();
    QCOMPARE(items, (QStringList{"Reset", "Save", "", "Sites...", "Copy as curl"}));
    QAction* copy = ui.Tmenu->actions().last();
    QVERIFY(!copy->isEnabled());
    ui.Tmenu->actions().at(3)->trigger();
    ui.Tmenu->hide();
    QCOMPARE(form.findChildren<SitesWindow*>().size(), 1);
    QVERIFY(sites->isVisible());

    // On a row, the menu copies that row's request.
    QTest::mouseClick(ui.ListView1->viewport(), Qt::RightButton, {}, CellCentre(ui.ListView1, 0, 0));
    QTRY_VERIFY(ui.Tmenu->isVisible());
    QVERIFY(copy->isEnabled());
    copy->trigger();
    ui.Tmenu->hide();
    QCOMPARE(QGuiApplication::clipboard()->text(), CurlCommand::For(site.BaseUrl() + QStringLiteral("/vok.txt")));
  }

  // A history that cannot be kept says so in StatusBar2 panel 1, with no box, and testing goes on.
  // A damaged file stays off; once a lock is let go one more line says so and the samples taken
  // meanwhile are in the file.
  void aHistoryThatCannotBeKeptSaysSoInTheStatusBar_data() {
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("line");
    QTest::newRow("damaged") << false << "History is off: history.sqlite is damaged";
    QTest::newRow("locked, then let go") << true
                                         << "History is off: history.sqlite is locked by another program; trying "
                                            "again every 1 s";
  }

  void aHistoryThatCannotBeKeptSaysSoInTheStatusBar() {
    QFETCH(bool, locked);
    QFETCH(QString, line);
    Module1 state;
    ScriptedBoxes boxes;
    LoopbackServer site;
    site.Serve(QStringLiteral("/vok.txt"), "vok\r\n");
    const QString path = ProgramFolder::File(QStringLiteral("history.sqlite"));
    QFile::remove(path);
    std::unique_ptr<HistoryFile> holder;
    if (locked) {
      {
        HistoryStore made;
        QVERIFY(made.Open(path));
      }
      holder = std::make_unique<HistoryFile>(path);
      for (const char* statement :
           {"PRAGMA journal_mode = DELETE", "PRAGMA locking_mode = EXCLUSIVE", "BEGIN EXCLUSIVE", "COMMIT"})
        QVERIFY(holder->Exec(QString::fromLatin1(statement)));
    } else {
      QFile damaged(path);
      QVERIFY(damaged.open(QIODevice::WriteOnly));
      damaged.write(QByteArray(8192, 'x'));
    }
    HistoryStore store;
    store.SetRetryIntervalMs(1000);
    QVERIFY(!store.Open(path));
    Form1 form(state);
    const Form1Controls ui(form);
    form.UseHistory(store, path);
    QCOMPARE(ui.StatusBar2->Text(1), line);
    // What panel 1 shows when history is back (later samples write over it).
    QSignalSpy restored(&store, &HistoryStore::Restored);
    QString shownWhenBack;
    connect(&store, &HistoryStore::Restored, &form, [&] { shownWhenBack = ui.StatusBar2->Text(1); });

    form.show();
    AddUrls(form, {site.BaseUrl()});
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.Results().Count() >= 1 && !form.Results().TextAt(0, ResultsModel::Average).isEmpty(),
                             10000);
    QVERIFY(Numbers::Strict(form.Results().TextAt(0, ResultsModel::Ping)));
    if (locked) {
      holder.reset();
      QTRY_COMPARE_WITH_TIMEOUT(restored.count(), 1, 20000);
      QVERIFY2(shownWhenBack.startsWith(QStringLiteral("History is on again: ")), qPrintable(shownWhenBack));
    }
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QVERIFY(boxes.Texts().isEmpty());
    if (locked) {
      QVERIFY(store.Flush());
      HistoryFile file(path);
      QCOMPARE(file.Value(QStringLiteral("SELECT count(*) FROM samples WHERE kind = 'site'")).toInt(),
               form.Results().Count());
    } else {
      QTest::qWait(1500);
      QCOMPARE(restored.count(), 0);
    }
  }

  void switchWithAnEmptyListSpringsBack() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QVERIFY(!ui.Check1->isChecked());
    QCOMPARE(ui.Check1->text(), QStringLiteral("OFF"));
    QVERIFY(!form.Cycle().Testing());
  }
};

TARVIK_TEST_MAIN(QApplication, MainWindowTest)
#include "tst_mainwindow.moc"
