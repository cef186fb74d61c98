// Ending the program: the menu's Quit with its question and the sub-log, and closing the window
// while a fetch waits. Each case runs inside the application's own event loop, which it ends.
#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/testcycle.h"
#include "form1controls.h"
#include "loopbackserver.h"
#include "platform/programfolder.h"
#include "results/resultsmodel.h"
#include "scriptedboxes.h"
#include "testenvironment.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

QByteArray SubLog() {
  QFile file(ProgramFolder::File(QStringLiteral("sublog.log")));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Runs the application's event loop until the program ends it, or fails after a while.
bool RunsToTheEnd(int limitMs) {
  bool timedOut = false;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&] {
    timedOut = true;
    QCoreApplication::exit(1);
  });
  limit.start(limitMs);
  return QCoreApplication::exec() == 0 && !timedOut;
}

} // namespace

class QuitTest : public QObject {
  Q_OBJECT

private slots:
  void init() { TestEnvironment::Current()->Clear(); }

  void quitAsksWhileARunCountsDown() {
    Module1 state;
    ScriptedBoxes boxes;
    boxes.answers << MessageBoxes::No << MessageBoxes::Yes;
    auto* form = new Form1(state);
    const Form1Controls ui(*form);
    form->show();
    const auto row = form->Results().AddRow(QStringLiteral("10:00:00"));
    form->Results().SetText(row, ResultsModel::Ping, QStringLiteral("0.100"));
    ui.StatusBar2->SetText(3, QStringLiteral("5 to go"));

    form->Label2_Click(MenuItem::Quit);
    QCOMPARE(boxes.Texts(), QStringList{"Are you sure you want to quit?"});
    QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Test in progress"));
    QCOMPARE(boxes.shown.at(0).icon, MessageBoxes::Question);
    QCOMPARE(SubLog(), QByteArray("<missing>"));
    QCOMPARE(form->Results().Count(), 1);

    QTimer::singleShot(0, form, [form] { form->Label2_Click(MenuItem::Quit); });
    QVERIFY(RunsToTheEnd(5000));
    QCOMPARE(boxes.shown.size(), 2);
    QVERIFY(SubLog().startsWith("Transfer bytes, Use time(min)\r\n3,"));
    QVERIFY(!form->isVisible());
    delete form;
  }

  // Closing the window with its close control adds the session to the sub-log as Quit does, once.
  void closeControlUpdatesTheSubLog() {
    Module1 state;
    auto* form = new Form1(state);
    const Form1Controls ui(*form);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    for (int i = 0; i < 2; ++i) {
      const auto row = form->Results().AddRow(QStringLiteral("10:00:00"));
      form->Results().SetText(row, ResultsModel::Ping, QStringLiteral("0.100"));
    }
    QTimer::singleShot(0, form, [form] { form->windowHandle()->close(); });
    QVERIFY(RunsToTheEnd(5000));
    QVERIFY2(SubLog().startsWith("Transfer bytes, Use time(min)\r\n6,"), SubLog().constData());
    QVERIFY(!form->isVisible());
    delete form;
  }

  // A sub-log that cannot be updated on the way out says so in panel 1.
  void failedSubLogIsTold() {
    QVERIFY(QDir().mkpath(ProgramFolder::File(QStringLiteral("sublog.log"))));
    Module1 state;
    auto* form = new Form1(state);
    const Form1Controls ui(*form);
    form->show();
    const auto row = form->Results().AddRow(QStringLiteral("10:00:00"));
    form->Results().SetText(row, ResultsModel::Ping, QStringLiteral("0.100"));
    QTimer::singleShot(0, form, [form] { form->Label2_Click(MenuItem::Quit); });
    QVERIFY(RunsToTheEnd(5000));
    const QString said = ui.StatusBar2->Text(1);
    QVERIFY2(said.startsWith(QStringLiteral("sublog.log not updated: it cannot be read (")), qPrintable(said));
    delete form;
  }

  void closingTheWindowDuringAFetchEndsCleanly() {
    Module1 state;
    LoopbackServer site;
    site.Serve(QStringLiteral("/vok.txt"), "vok\r\n", 5000);
    auto* form = new Form1(state);
    const Form1Controls ui(*form);
    form->show();
    ui.Text1->setText(site.BaseUrl());
    form->Command1_Click(0);
    ui.Text2->setText(QStringLiteral("1"));
    bool waiting = false;
    connect(&form->Results(), &QAbstractItemModel::rowsInserted, form, [&] {
      waiting = true;
      QTimer::singleShot(300, form, [form] { form->close(); });
    });
    QTimer::singleShot(0, form, [check = ui.Check1] { QTest::mouseClick(check, Qt::LeftButton); });
    QVERIFY(RunsToTheEnd(4000));
    QVERIFY(waiting);
    QVERIFY(!form->Cycle().Testing());
    QCOMPARE(form->Results().Count(), 0);
    delete form;
  }
};

TARVIK_TEST_MAIN(QApplication, QuitTest)
#include "tst_quit.moc"
