// The window with the vendor's service and the WHOIS service played by loopback servers: the
// service query at switch-on with its version notice, and a whole "Submit Results".
#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/testcycle.h"
#include "fakevendor.h"
#include "form1controls.h"
#include "loopbackserver.h"
#include "recordingshell.h"
#include "results/resultsmodel.h"
#include "scriptedboxes.h"
#include "settings/settingsstore.h"
#include "testenvironment.h"
#include "ui/form1.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class ServicesTest : public QObject {
  Q_OBJECT

  LoopbackServer site;

  void AddSite(Form1& form, const QString& url) {
    Form1Controls(form).Text1->setText(url);
    form.Command1_Click(0);
  }

private slots:
  void initTestCase() { site.Serve(QStringLiteral("/vok.txt"), "vok\r\n"); }

  void init() {
    TestEnvironment::Current()->Clear();
    SettingsStore::FirstRunSetup();
  }

  void switchOnAsksTheServiceOnce() {
    Module1 state;
    ScriptedBoxes boxes;
    boxes.answers << MessageBoxes::Yes;
    RecordingShell shell;
    FakeVendor vendor;
    state.VendorURL = vendor.BaseUrl();
    vendor.QueueQuery(site.Url("/ref1").toUtf8() + "|" + site.Url("/ref2").toUtf8() + "|1.2.0|12-01-2026");
    Form1 form(state);
    const Form1Controls ui(form);
    AddSite(form, site.BaseUrl());

    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QVERIFY(form.Cycle().Testing());
    QCOMPARE(vendor.queries, QStringList{SettingsStore::GetAccountId()});
    QCOMPARE(boxes.Texts(), QStringList{"Curr version is: 1.1.0 Newest ver: 1.2.0"});
    QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Visit Velmora website?"));
    QCOMPARE(boxes.shown.at(0).buttons, MessageBoxes::YesNo);
    QCOMPARE(shell.opened, QStringList{vendor.BaseUrl() + "tarvik"});
    QVERIFY(state.ServiceOk);
    QCOMPARE(ui.StatusBar2->Text(3).startsWith(QLatin1String("! ")), false);

    // The reference pings of the first pass fill the two boxes.
    QTRY_VERIFY_WITH_TIMEOUT(!ui.Text6[1]->text().isEmpty(), 5000);
    QVERIFY(!ui.Text6[0]->text().isEmpty());

    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QCOMPARE(vendor.queries.size(), 1);
    QCOMPARE(boxes.shown.size(), 1);
    form.Cycle().Check1_MouseUp(false, TestCycle::SwitchedBy::Program);
  }

  void failedQueryIsAskedAgain() {
    Module1 state;
    ScriptedBoxes boxes;
    state.VendorURL = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::UnusedPort());
    Form1 form(state);
    const Form1Controls ui(form);
    AddSite(form, site.BaseUrl());
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QVERIFY(form.Cycle().Testing());
    QCOMPARE(form.PictureShown(), int(TestCycle::LightIdle));
    QTest::mouseClick(ui.Check1, Qt::LeftButton);

    FakeVendor vendor;
    state.VendorURL = vendor.BaseUrl();
    vendor.QueueQuery("http://r1.test/|http://r2.test/|1.1.0||x");
    QTest::mouseClick(ui.Check1, Qt::LeftButton);
    QCOMPARE(vendor.queries.size(), 1);
    // A record without a date: the service is not located and testing stays off.
    QCOMPARE(boxes.Texts(), QStringList{"Failed to locate server"});
    QVERIFY(!form.Cycle().Testing());
    QVERIFY(!ui.Check1->isChecked());
    QCOMPARE(ui.Check1->text(), QStringLiteral("OFF"));
  }

  void submitResultsThroughTheMenu() {
    Module1 state;
    ScriptedBoxes boxes;
    boxes.answers << MessageBoxes::Yes;
    FakeVendor vendor;
    FakeWhois whois;
    state.VendorURL = vendor.BaseUrl();
    state.WhoisURL = whois.BaseUrl();
    whois.SetRecord(QStringLiteral("example.test"), FakeWhois::Record({"ns1.hoster.test", "ns2.hoster.test"}));
    Form1 form(state);
    const Form1Controls ui(form);
    AddSite(form, QStringLiteral("http://www.example.test"));
    for (int i = 0; i < 10; ++i) {
      const auto row = form.Results().AddRow(QStringLiteral("10:%1:00").arg(i, 2, 10, QLatin1Char('0')));
      form.Results().SetText(row, ResultsModel::Ping, QStringLiteral("0.250"));
      form.Results().SetText(row, ResultsModel::Average, QStringLiteral("0.250"));
      form.Results().SetText(row, ResultsModel::SiteId, QStringLiteral("1"));
    }
    ui.Text6[0]->setText(QStringLiteral("0.120"));

    form.Label2_Click(MenuItem::Menu);
    form.Label2_Click(MenuItem::SubmitResults);
    QCOMPARE(boxes.Texts(), QStringList{"http://www.example.test report is for hoster.test Is this correct?"});
    QCOMPARE(whois.lookups, QStringList{"example.test"});
    QCOMPARE(vendor.reports.size(), 1);
    const QStringList fields = vendor.reports.at(0).split(QLatin1Char('|'));
    QCOMPARE(fields.size(), 22);
    QCOMPARE(fields.at(0), SettingsStore::GetAccountId());
    QCOMPARE(fields.at(1), QStringLiteral("hoster.test"));
    QCOMPARE(fields.at(4), QStringLiteral("http://www.example.test"));
    QCOMPARE(fields.at(15), QStringLiteral("0.120"));
    QCOMPARE(fields.at(21), QStringLiteral("0?0"));
    QCOMPARE(ui.StatusBar2->Text(1), QStringLiteral("All Done"));
    QCOMPARE(form.PictureShown(), int(TestCycle::LightSubmitted));
    QVERIFY(ui.Timer2->isActive());
    QVERIFY(state.ReportSubmitted);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!ui.Frame5->isVisible());

    // The same results are not sent twice.
    form.Label2_Click(MenuItem::SubmitResults);
    QCOMPARE(boxes.Texts().last(), QStringLiteral("This report was already submited"));
    QCOMPARE(vendor.reports.size(), 1);
  }
};

TARVIK_TEST_MAIN(QApplication, ServicesTest)
#include "tst_services.moc"
