// What the window tells beyond itself: the tray icon's colour, tooltip and menu (acting through
// the window's own Quit, switch and Sites window), closing into the tray, and alerts reaching the
// notification service and the webhook, whose failure shows in the status bar.
#include "alerts/alertchannels.h"
#include "alerts/desktopnotifier.h"
#include "alerts/webhooksender.h"
#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/testcycle.h"
#include "form1controls.h"
#include "loopbackserver.h"
#include "notificationbus.h"
#include "platform/programfolder.h"
#include "results/resultsmodel.h"
#include "scriptedboxes.h"
#include "testenvironment.h"
#include "ui/form1.h"
#include "ui/trayicon.h"
#include "ui/windowalerts.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

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

QAction* MenuAction(const WindowAlerts& alerts, const QString& name) {
  auto* action = alerts.Tray()->Menu()->findChild<QAction*>(name);
  if (!action)
    qFatal("the tray menu has no %s", qPrintable(name));
  return action;
}

WindowAlerts::Options WithTray(bool closeToTray = false) {
  WindowAlerts::Options options;
  options.notify = false;
  options.trayAvailable = true;
  options.closeToTray = closeToTray;
  return options;
}

// A window whose URL list holds one site that answers at once, sampling every second.
void AddSite(Form1& form, const LoopbackServer& site) {
  const Form1Controls ui(form);
  ui.Text1->setText(site.BaseUrl());
  form.Command1_Click(0);
  ui.Text2->setText(QStringLiteral("1"));
}

// A row in the results table: ending the program then writes the transfer sub-log.
void AddRow(Form1& form) {
  const auto row = form.Results().AddRow(QStringLiteral("10:00:00"));
  form.Results().SetText(row, ResultsModel::Ping, QStringLiteral("0.100"));
}

bool SubLogWritten() {
  return QFile::exists(ProgramFolder::File(QStringLiteral("sublog.log")));
}

} // namespace

class WindowAlertsTest : public QObject {
  Q_OBJECT

private slots:
  void init() { TestEnvironment::Current()->Clear(); }
  void cleanup() { QApplication::setQuitOnLastWindowClosed(true); }

  void storedOptionsAndTheirDefaults();
  void trayShowsTheWorstState_data();
  void trayShowsTheWorstState();
  void trayMenuActsThroughTheWindow();
  void trayQuitIsTheMenuPanelsQuit();
  void closingHidesIntoTheTrayOnlyWhileTesting_data();
  void closingHidesIntoTheTrayOnlyWhileTesting();
  void alertsReachTheServiceAndTheWebhook();
};

void WindowAlertsTest::storedOptionsAndTheirDefaults() {
  WindowAlerts::Options options = WindowAlerts::StoredOptions();
  QVERIFY(options.notify);
  QVERIFY(options.webhookUrl.isEmpty());
  QVERIFY(!options.closeToTray);
  // The offscreen platform has no system tray.
  QVERIFY(!options.trayAvailable);

  AlertChannels::SetNotify(false);
  AlertChannels::SetWebhookUrl(QStringLiteral("https://chat.example/hooks/T1/B2"));
  WindowAlerts::SetCloseToTray(true);
  options = WindowAlerts::StoredOptions();
  QVERIFY(!options.notify);
  QCOMPARE(options.webhookUrl, QStringLiteral("https://chat.example/hooks/T1/B2"));
  QVERIFY(options.closeToTray);
}

void WindowAlertsTest::trayShowsTheWorstState_data() {
  QTest::addColumn<int>("up");
  QTest::addColumn<int>("slow");
  QTest::addColumn<int>("down");
  QTest::addColumn<int>("state");
  QTest::addColumn<QString>("toolTip");
  QTest::addColumn<QColor>("colour");
  QTest::newRow("nothing known") << 0 << 0 << 0 << int(TrayIcon::State::Unknown) << "Tarvik"
                                 << QColor(0x80, 0x80, 0x80);
  QTest::newRow("all up") << 3 << 0 << 0 << int(TrayIcon::State::Up) << "3 up, 0 slow, 0 down"
                          << QColor(0x2e, 0x9e, 0x44);
  QTest::newRow("one slow") << 3 << 1 << 0 << int(TrayIcon::State::Slow) << "3 up, 1 slow, 0 down"
                            << QColor(0xe8, 0xa0, 0x10);
  QTest::newRow("one down") << 3 << 1 << 1 << int(TrayIcon::State::Down) << "3 up, 1 slow, 1 down"
                            << QColor(0xd7, 0x26, 0x2b);
  QTest::newRow("all down") << 0 << 0 << 2 << int(TrayIcon::State::Down) << "0 up, 0 slow, 2 down"
                            << QColor(0xd7, 0x26, 0x2b);
}

void WindowAlertsTest::trayShowsTheWorstState() {
  QFETCH(int, up);
  QFETCH(int, slow);
  QFETCH(int, down);
  QFETCH(QColor, colour);
  TrayIcon tray;
  tray.StatesChanged(5, 5, 5); // from another state
  tray.StatesChanged(up, slow, down);
  QTEST(int(tray.Shown()), "state");
  QTEST(tray.ToolTip(), "toolTip");
  QCOMPARE(tray.Icon()->toolTip(), tray.ToolTip());
  // The picture's face (beside its ring) has the state's colour.
  const QImage face = tray.Icon()->icon().pixmap(32, 32).toImage();
  QCOMPARE(face.pixelColor(16, 4).rgb(), colour.rgb());
}

void WindowAlertsTest::trayMenuActsThroughTheWindow() {
  Module1 state;
  ScriptedBoxes boxes;
  LoopbackServer site;
  site.Serve(QStringLiteral("/vok.txt"), "vok\r\n");
  Form1 form(state);
  WindowAlerts alerts(form, WithTray());
  QStringList items;
  for (const QAction* action : alerts.Tray()->Menu()->actions())
    if (!action->isSeparator())
      items << action->text();
  QCOMPARE(items, QStringList({"Show Tarvik", "Sites...", "Testing on", "Quit"}));
  QAction* testing = MenuAction(alerts, QStringLiteral("trayTesting"));

  // With no site the switch springs back, as it does for a click.
  testing->trigger();
  QVERIFY(!form.Cycle().Testing());
  QVERIFY(!testing->isChecked());

  AddSite(form, site);
  testing->trigger();
  QVERIFY(form.Cycle().Testing());
  QVERIFY(testing->isChecked());
  QCOMPARE(Form1Controls(form).Check1->text(), QStringLiteral("ON"));
  testing->trigger();
  QVERIFY(!form.Cycle().Testing());
  QVERIFY(!testing->isChecked());
  // The switch of the window itself moves the check mark too.
  Form1Controls(form).Check1->click();
  QVERIFY(testing->isChecked());
  Form1Controls(form).Check1->click();

  MenuAction(alerts, QStringLiteral("traySites"))->trigger();
  auto* sites = form.findChild<QWidget*>(QStringLiteral("Sites"));
  QVERIFY(sites && sites->isVisible());
  sites->close();

  QVERIFY(!form.isVisible());
  MenuAction(alerts, QStringLiteral("trayShow"))->trigger();
  QVERIFY(form.isVisible());
  emit alerts.Tray()->Icon()->activated(QSystemTrayIcon::Trigger);
  QVERIFY(form.isVisible());
  QVERIFY(boxes.shown.isEmpty());
}

void WindowAlertsTest::trayQuitIsTheMenuPanelsQuit() {
  Module1 state;
  ScriptedBoxes boxes;
  boxes.answers << MessageBoxes::No << MessageBoxes::Yes;
  auto* form = new Form1(state);
  WindowAlerts alerts(*form, WithTray());
  AddRow(*form);
  Form1Controls(*form).StatusBar2->SetText(3, QStringLiteral("5 to go"));
  QAction* quit = MenuAction(alerts, QStringLiteral("trayQuit"));
  quit->trigger();
  QCOMPARE(boxes.Texts(), QStringList{"Are you sure you want to quit?"});
  QVERIFY(!SubLogWritten());

  QTimer::singleShot(0, quit, &QAction::trigger);
  QVERIFY(RunsToTheEnd(5000));
  QCOMPARE(boxes.shown.size(), 2);
  QVERIFY(SubLogWritten());
  delete form;
}

void WindowAlertsTest::closingHidesIntoTheTrayOnlyWhileTesting_data() {
  QTest::addColumn<bool>("closeToTray");
  QTest::addColumn<bool>("trayAvailable");
  QTest::addColumn<bool>("testing");
  QTest::addColumn<bool>("hides");
  QTest::newRow("to the tray while testing") << true << true << true << true;
  QTest::newRow("not testing: the program ends") << true << true << false << false;
  QTest::newRow("setting off: the program ends") << false << true << true << false;
  QTest::newRow("no tray: the program ends") << true << false << true << false;
}

void WindowAlertsTest::closingHidesIntoTheTrayOnlyWhileTesting() {
  QFETCH(bool, closeToTray);
  QFETCH(bool, trayAvailable);
  QFETCH(bool, testing);
  QFETCH(bool, hides);
  Module1 state;
  ScriptedBoxes boxes;
  LoopbackServer site;
  site.Serve(QStringLiteral("/vok.txt"), "vok\r\n");
  auto* form = new Form1(state);
  WindowAlerts::Options options = WithTray(closeToTray);
  options.trayAvailable = trayAvailable;
  auto* alerts = new WindowAlerts(*form, options, form);
  AddSite(*form, site);
  form->show();
  QVERIFY(QTest::qWaitForWindowExposed(form));
  AddRow(*form);
  if (testing)
    Form1Controls(*form).Check1->click();

  if (!hides) {
    QTimer::singleShot(0, form, [form] { form->windowHandle()->close(); });
    QVERIFY(RunsToTheEnd(5000));
    QVERIFY(!form->Cycle().Testing());
    QVERIFY(SubLogWritten());
    delete form;
    return;
  }
  form->windowHandle()->close();
  QVERIFY(!form->isVisible());
  QVERIFY(form->Cycle().Testing());
  QVERIFY(!SubLogWritten());
  // Sampling goes on behind the tray.
  QTRY_VERIFY(form->Results().Count() >= 3);
  // A box closed meanwhile (the last window shown) does not end the program.
  QVERIFY(!QApplication::quitOnLastWindowClosed());
  // The tray's Quit ends it as the menu panel's does.
  QTimer::singleShot(0, alerts, [alerts] { alerts->Tray()->QuitRequested(); });
  QVERIFY(RunsToTheEnd(5000));
  QVERIFY(SubLogWritten());
  delete form;
}

void WindowAlertsTest::alertsReachTheServiceAndTheWebhook() {
  PrivateBus bus;
  QVERIFY(bus.Started());
  NotificationServer server(bus.Address());
  LoopbackServer receiver;
  receiver.Serve(QStringLiteral("/hook"), LoopbackResponse("no", 500));
  Module1 state;
  Form1 form(state);
  WindowAlerts::Options options;
  options.webhookUrl = receiver.Url(QStringLiteral("/hook"));
  WindowAlerts alerts(form, options);
  QVERIFY(!alerts.Tray());
  alerts.UseNotifier(new DesktopNotifier(bus.Connect(QStringLiteral("window"))));
  alerts.Webhook()->SetRetryDelaysMs({20});

  AlertEvent event;
  event.kind = AlertEvent::Kind::Down;
  event.url = QStringLiteral("http://shop.example.net");
  event.cause = QStringLiteral("HTTP 404");
  event.started = QDateTime::currentDateTimeUtc();
  alerts.Event(event);
  alerts.StatesChanged(0, 0, 1); // without a tray: nothing to show, nothing fails
  QTRY_COMPARE(server.Received().size(), 1);
  QCOMPARE(server.Received().first().summary, QStringLiteral("Site down: http://shop.example.net"));
  // The webhook's failure is told once, in the window's status bar.
  QTRY_COMPARE(receiver.RequestCount(), WebhookSender::Attempts);
  QTRY_COMPARE(Form1Controls(form).StatusBar2->Text(1),
               QStringLiteral("Webhook: not delivered after 4 attempts (HTTP 500): Site down: "
                              "http://shop.example.net (HTTP 404)"));
}

TARVIK_TEST_MAIN(QApplication, WindowAlertsTest)
#include "tst_windowalerts.moc"
