// Start-up: first start, later start with stored values, damaged values, the splash window.
#include "alerts/incidenttracker.h"
#include "app/startup.h"
#include "engine/completedsample.h"
#include "form1controls.h"
#include "loopbackserver.h"
#include "platform/programfolder.h"
#include "scriptedboxes.h"
#include "settings/settingsstore.h"
#include "settings/valuecodec.h"
#include "testenvironment.h"
#include "ui/form1.h"
#include "ui/form2.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QSettings Store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmora"),
                   QStringLiteral("vmTARVIK"));
}

QString Encoded(const QString& plain) {
  return ValueCodec::EncodeValue(plain, QStringLiteral("Tarvik"));
}

QStringList ControlTexts(const Form1Controls& ui) {
  return {ui.Text3->text(),    ui.Text2->text(),    ui.Text5[0]->text(),
          ui.Text5[1]->text(), ui.Text4[0]->text(), ui.Text4[1]->text()};
}

QString CheckStates(const Form1Controls& ui) {
  QString states;
  for (QCheckBox* box : ui.Check3)
    states += box->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
  return states;
}

} // namespace

class StartupTest : public QObject {
  Q_OBJECT

  std::unique_ptr<Startup> startup;

private slots:
  void init() {
    TestEnvironment::Current()->Clear();
    startup = std::make_unique<Startup>();
  }
  void cleanup() { startup.reset(); }

  void firstStartWritesDefaultsAndShowsWindowAfterSplash() {
    QElapsedTimer clock;
    clock.start();
    startup->Main();

    QSettings store = Store();
    QCOMPARE(store.value(QStringLiteral("100")).toString(), ProgramFolder::Path());
    QCOMPARE(store.value(QStringLiteral("102")).toString(), Encoded(QStringLiteral("016001020")));
    QCOMPARE(store.value(QStringLiteral("102")).toString().size(), 18);
    QCOMPARE(store.value(QStringLiteral("103")).toString(), QString());
    QCOMPARE(store.value(QStringLiteral("104")).toString(), QString());
    QCOMPARE(store.value(QStringLiteral("105")).toString(), QStringLiteral("0000"));
    QCOMPARE(store.value(QStringLiteral("106")).toString(), QStringLiteral("11000110100100110101"));
    const QString id = SettingsStore::GetAccountId();
    QVERIFY(QRegularExpression(QStringLiteral("^([0-9A-Z]{3}\\.){4}$")).match(id).hasMatch());
    QCOMPARE(store.value(QStringLiteral("101")).toString().size(), 32);
    const Module1& state = startup->State();
    QCOMPARE(state.RegKeyPath, QStringLiteral("Software\\Velmora\\vmTARVIK"));
    QVERIFY(state.VendorURL.startsWith(QLatin1String("http://")));
    QVERIFY(state.VendorURL.endsWith(QLatin1Char('/')));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d{4}$")).match(state.ServiceField.date).hasMatch());

    Form2* splash = startup->SplashWindow();
    QVERIFY(splash->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(startup->MainWindow()->isVisible(), 6000);
    QVERIFY(clock.elapsed() >= 3400);
    QVERIFY(!splash->isVisible());
    QVERIFY(!splash->findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());

    Form1* form = startup->MainWindow();

    const Form1Controls ui(*form);
    QCOMPARE(ControlTexts(ui), (QStringList{"1", "60", "1", "20", "", ""}));
    QCOMPARE(CheckStates(ui), QStringLiteral("0000"));
    QCOMPARE(ui.Text7->text(), id.left(15));
    QCOMPARE(form->windowTitle(), QStringLiteral("Tarvik vok"));
  }

  void laterStartLoadsStoredValues_data() {
    QTest::addColumn<QString>("packed");
    QTest::addColumn<QString>("at");
    QTest::addColumn<QString>("keep");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("checks");

    QTest::newRow("defaults") << "016001020"
                              << ""
                              << ""
                              << "0000" << QStringList{"1", "60", "1", "20", "", ""} << "0000";
    QTest::newRow("stored values") << "030502015"
                                   << "10"
                                   << "4"
                                   << "1001" << QStringList{"3", "5", "2", "15", "10", "4"} << "1001";
    QTest::newRow("eleven characters: fourth field ignored")
        << "02300407123"
        << ""
        << ""
        << "0110" << QStringList{"2", "30", "4", "123", "", ""} << "0110";
    QTest::newRow("eight characters: short rest") << "01100205"
                                                  << ""
                                                  << ""
                                                  << "" << QStringList{"1", "10", "2", "5", "", ""} << "0000";
    QTest::newRow("not digits falls back") << "01x001020"
                                           << ""
                                           << ""
                                           << "0000" << QStringList{"1", "60", "1", "20", "", ""} << "0000";
    QTest::newRow("damaged options fall back") << "016001020"
                                               << ""
                                               << ""
                                               << "10a1" << QStringList{"1", "60", "1", "20", "", ""} << "0000";
    QTest::newRow("too many options fall back") << "016001020"
                                                << ""
                                                << ""
                                                << "11111" << QStringList{"1", "60", "1", "20", "", ""} << "0000";
  }
  void laterStartLoadsStoredValues() {
    QFETCH(QString, packed);
    QFETCH(QString, at);
    QFETCH(QString, keep);
    QFETCH(QString, options);
    QFETCH(QStringList, texts);
    QFETCH(QString, checks);

    SettingsStore::FirstRunSetup();
    const QString id = SettingsStore::GetAccountId();
    {
      QSettings store = Store();
      store.setValue(QStringLiteral("100"), QStringLiteral("/somewhere/else"));
      store.setValue(QStringLiteral("102"), Encoded(packed));
      store.setValue(QStringLiteral("103"), at);
      store.setValue(QStringLiteral("104"), keep);
      store.setValue(QStringLiteral("105"), options);
    }

    startup->Main();
    // On a later start the main window exists (hidden) before the splash time is over.
    Form1* form = startup->MainWindow();
    const Form1Controls ui(*form);
    QVERIFY(!form->isVisible());
    QCOMPARE(ControlTexts(ui), texts);
    QCOMPARE(CheckStates(ui), checks);
    QCOMPARE(ui.Text7->text(), id.left(15));
    QCOMPARE(Store().value(QStringLiteral("100")).toString(), ProgramFolder::Path());
    // Nothing the start-up loads is written back.
    QCOMPARE(Store().value(QStringLiteral("102")).toString(), Encoded(packed));
    QCOMPARE(SettingsStore::GetAccountId(), id);
  }

  void damagedIdentifierIsReplaced() {
    SettingsStore::FirstRunSetup();
    Store().setValue(QStringLiteral("101"), QStringLiteral("not hexadecimal"));
    startup->Main();
    const QString id = SettingsStore::GetAccountId();
    QVERIFY(QRegularExpression(QStringLiteral("^([0-9A-Z]{3}\\.){4}$")).match(id).hasMatch());
    QCOMPARE(Form1Controls(*startup->MainWindow()).Text7->text(), id.left(15));
    // The rest of the stored settings is still loaded, not replaced by a first start.
    QCOMPARE(Store().value(QStringLiteral("105")).toString(), QStringLiteral("0000"));
  }

  // A store that cannot be read makes every start a first start; nothing fails.
  void unreadableStoreStartsAsFirstStart() {
    const QString file = TestEnvironment::Current()->SettingsFile();
    QVERIFY(QDir().mkpath(file)); // a folder where the settings file should be
    startup->Main();
    QTRY_VERIFY_WITH_TIMEOUT(startup->MainWindow()->isVisible(), 6000);
    Form1* form = startup->MainWindow();
    const Form1Controls ui(*form);
    QCOMPARE(ControlTexts(ui), (QStringList{"1", "60", "1", "20", "", ""}));
    QCOMPARE(ui.Text7->text(), QString());
    QVERIFY(QDir().rmdir(file));
  }

  // A program folder that cannot be written: the program runs, and what it cannot write is
  // silently not written.
  void unwritableProgramFolder() {
    const QByteArray home = qgetenv("TARVIK_HOME");
    QTemporaryFile notAFolder;
    QVERIFY(notAFolder.open());
    qputenv("TARVIK_HOME", (notAFolder.fileName() + QStringLiteral("/home")).toUtf8());
    ScriptedBoxes boxes;
    startup->Main();
    Form1* form = startup->MainWindow();
    const Form1Controls ui(*form);
    form->show();
    ui.Text1->setText(QStringLiteral("http://a.test"));
    form->Command1_Click(0);
    QCOMPARE(ui.List1->count(), 1);
    form->Label2_Click(MenuItem::Hatching);
    form->Label2_Click(MenuItem::Menu);
    form->Label2_Click(MenuItem::SubmitLog);
    form->mnuSave_Click();
    QCOMPARE(boxes.Texts(),
             (QStringList{"Vok Hatched", "This function is not operational in this version. Coming soon"}));
    QCOMPARE(SettingsStore::GetRegString(QStringLiteral("100")), ProgramFolder::Path());
    qputenv("TARVIK_HOME", home);
  }

  // The temporary files that a killed program left beside the files it rewrites (urls.dat, the
  // sub-log, tmp.tmp, vok.txt) and beside its settings file are removed at the next start; nothing
  // else is, in those folders or elsewhere.
  void leftoversOfAKilledProgramAreRemoved_data() {
    QTest::addColumn<QString>("folder"); // "home" the program folder, "settings" the settings folder
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // "file", "folder", or "link" to a file elsewhere
    QTest::addColumn<bool>("removed");
    QTest::newRow("URL list") << "home"
                              << "urls.dat.hWxKqz"
                              << "file" << true;
    QTest::newRow("sub-log") << "home"
                             << "sublog.log.QwErTy"
                             << "file" << true;
    QTest::newRow("keep-last file") << "home"
                                    << "tmp.tmp.zzzzzz"
                                    << "file" << true;
    QTest::newRow("marker file") << "home"
                                 << "vok.txt.XXXXXX"
                                 << "file" << true;
    QTest::newRow("settings file") << "settings"
                                   << "vmTARVIK.conf.ABCdef"
                                   << "file" << true;
    QTest::newRow("report log: appended, never a temporary") << "home"
                                                             << "tarvik.log.hWxKqz"
                                                             << "file" << false;
    QTest::newRow("a digit") << "home"
                             << "urls.dat.hWx1qz"
                             << "file" << false;
    QTest::newRow("five letters") << "home"
                                  << "urls.dat.hWxKq"
                                  << "file" << false;
    QTest::newRow("seven letters") << "home"
                                   << "urls.dat.hWxKqzz"
                                   << "file" << false;
    QTest::newRow("no dot") << "home"
                            << "urls.dathWxKqz"
                            << "file" << false;
    QTest::newRow("another file's") << "home"
                                    << "notes.txt.hWxKqz"
                                    << "file" << false;
    QTest::newRow("settings name in the program folder") << "home"
                                                         << "vmTARVIK.conf.hWxKqz"
                                                         << "file" << false;
    QTest::newRow("program file name in the settings folder") << "settings"
                                                              << "urls.dat.hWxKqz"
                                                              << "file" << false;
    QTest::newRow("another program's settings") << "settings"
                                                << "other.conf.hWxKqz"
                                                << "file" << false;
    QTest::newRow("a folder") << "home"
                              << "urls.dat.hWxKqz"
                              << "folder" << false;
    QTest::newRow("a link") << "home"
                            << "urls.dat.hWxKqz"
                            << "link" << false;
    QTest::newRow("in a folder below") << "home/sub"
                                       << "urls.dat.hWxKqz"
                                       << "file" << false;
  }
  void leftoversOfAKilledProgramAreRemoved() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    TestEnvironment* environment = TestEnvironment::Current();
    const QString settingsFolder = QFileInfo(environment->SettingsFile()).path();
    QString where = folder == QLatin1String("settings") ? settingsFolder : environment->ProgramFolder();
    if (folder.endsWith(QLatin1String("/sub")))
      where += QStringLiteral("/sub");
    QVERIFY(QDir().mkpath(where));
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("precious.txt"));
    auto write = [](const QString& path, const QByteArray& bytes) {
      QFile file(path);
      return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write(ProgramFolder::File(QStringLiteral("urls.dat")), "http://a.test\r\n"));
    QVERIFY(write(target, "keep me"));
    const QString path = where + QLatin1Char('/') + name;
    if (kind == QLatin1String("file"))
      QVERIFY(write(path, "half a list"));
    else if (kind == QLatin1String("folder"))
      QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    else
      QVERIFY(QFile::link(target, path));

    startup->Main();
    const QFileInfo left(path);
    const bool gone = !left.exists() && !left.isSymLink();
    QDir(where + QStringLiteral("/sub")).removeRecursively();
    QDir(environment->ProgramFolder() + QLatin1Char('/') + name).removeRecursively();
    QFile::remove(path);
    for (const QString& other : QDir(settingsFolder).entryList(QDir::Files | QDir::Hidden))
      QFile::remove(settingsFolder + QLatin1Char('/') + other);
    QCOMPARE(gone, removed);
    QCOMPARE(Form1Controls(*startup->MainWindow()).List1->count(), 1);
    QFile kept(target);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep me"));
  }

  // The incidents of the window's runs reach what tells them beyond the window (here the webhook).
  void windowIncidentsAreTold() {
    LoopbackServer hook;
    hook.Serve(QStringLiteral("/hook"), "ok");
    SettingsStore::SaveRegString(QStringLiteral("Alerts/WebhookUrl"), hook.Url(QStringLiteral("/hook")));
    SettingsStore::SaveRegString(QStringLiteral("Alerts/Notify"), QStringLiteral("false"));
    startup->Main();
    startup->MainWindow();
    IncidentTracker* incidents = startup->Incidents();
    QVERIFY(incidents);
    incidents->TestingChanged(true);
    for (int i = 0; i < 2; ++i) {
      CompletedSample refused;
      refused.at = QDateTime::currentDateTimeUtc();
      refused.url = QStringLiteral("http://down.example");
      refused.ping = QStringLiteral("Failed");
      refused.result = QStringLiteral("Connection refused");
      incidents->RecordSample(refused);
    }
    QTRY_COMPARE_WITH_TIMEOUT(hook.RequestCount(QStringLiteral("/hook")), 1, 10000);
    const QByteArray body = hook.LastRequest().body;
    QVERIFY2(body.contains("\"event\":\"down\"") && body.contains("http://down.example"), body.constData());
  }

  void closingTheMainWindowEndsTheProgram() {
    startup->Main();
    Form1* form = startup->MainWindow();
    const Form1Controls ui(*form);
    form->show();
    bool ended = false;
    QTimer::singleShot(0, form, [&] { form->close(); });
    QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(1); });
    ended = QCoreApplication::exec() == 0;
    QVERIFY(ended);
    QVERIFY(!startup->SplashWindow()->isVisible());
  }
};

TARVIK_TEST_MAIN(QApplication, StartupTest)
#include "tst_startup.moc"
