// The main window built from the control table, and the URL list through the real widgets.
#include "core/module1.h"
#include "core/statuspanels.h"
#include "form1controls.h"
#include "platform/programfolder.h"
#include "testenvironment.h"
#include "ui/clicklabel.h"
#include "ui/controlmap.h"
#include "ui/form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace {

QString UrlsPath() {
  return ProgramFolder::File(QStringLiteral("urls.dat"));
}

QByteArray UrlsFile() {
  QFile file(UrlsPath());
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteUrlsFile(const QByteArray& bytes) {
  QFile file(UrlsPath());
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QStringList Entries(const Form1Controls& ui) {
  QStringList entries;
  for (int i = 0; i < ui.List1->count(); ++i)
    entries.append(ui.List1->item(i)->text());
  return entries;
}

// Shows the window with the configuration panel, where the URL list is, and gives the URL field
// the focus; false when the window or the field does not get it.
bool FocusUrlField(Form1& form, const Form1Controls& ui) {
  ui.Frame1->hide();
  ui.Frame2->show();
  form.show();
  if (!QTest::qWaitForWindowActive(&form))
    return false;
  ui.Text1->setFocus();
  return QTest::qWaitFor([&] { return ui.Text1->hasFocus(); });
}

QString Caption(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget))
    return label->text();
  if (auto* box = qobject_cast<QLineEdit*>(widget))
    return box->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget))
    return button->text();
  return QString();
}

} // namespace

class Form1Test : public QObject {
  Q_OBJECT

private slots:
  void init() { TestEnvironment::Current()->Clear(); }

  void everyControlOfTheTableIsInPlace() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    int count = 0;
    const ControlMap::Control* table = ControlMap::Table(&count);
    QVERIFY(count > 40);
    for (int i = 0; i < count; ++i) {
      const ControlMap::Control& c = table[i];
      const QString name = QString::fromUtf8(c.name);
      QWidget* widget = form.findChild<QWidget*>(name);
      QVERIFY2(widget, qPrintable(name));
      QCOMPARE(widget->parentWidget()->objectName(),
               *c.container ? QString::fromUtf8(c.container) : QStringLiteral("Form1"));
      QCOMPARE(widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
      QCOMPARE(widget->isEnabled(), c.enabled);
      if (c.kind != ControlMap::Kind::StatusBar && c.kind != ControlMap::Kind::Frame)
        QCOMPARE(Caption(widget), QString::fromUtf8(c.caption));
      QVERIFY2(
          !widget->accessibleName().isEmpty() || c.kind == ControlMap::Kind::Shape || c.kind == ControlMap::Kind::Frame,
          qPrintable(name));
    }
  }

  void initialStateOfTheWindow() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tarvik vok"));
    QCOMPARE(ui.Check1->text(), QStringLiteral("OFF"));
    QVERIFY(ui.Check1->isCheckable() && !ui.Check1->isChecked());
    QCOMPARE(ui.Label2[0]->text(), QStringLiteral(" Menu "));
    QVERIFY(!ui.Label2[2]->isEnabled());
    QCOMPARE(ui.Label2[1]->font().family(), QStringLiteral("Arial"));
    QCOMPARE(form.PictureShown(), 4);
    QCOMPARE(ui.Image1->toolTip(), QStringLiteral("If ON waiting for remote response"));
    QVERIFY(ui.Text6[0]->isReadOnly() && ui.Text6[0]->text().isEmpty());
    QVERIFY(ui.Text7->isReadOnly());
    for (QCheckBox* box : ui.Check3)
      QVERIFY(!box->isEnabled() && !box->isChecked());
    QVERIFY(!ui.Text4[1]->isEnabled());
    QCOMPARE(ui.StatusBar1->Text(1), QStringLiteral("Best Time"));
    QCOMPARE(ui.StatusBar1->Text(2), QStringLiteral("Worst Time"));
    QCOMPARE(ui.StatusBar1->Text(3), QStringLiteral("Average"));
    QCOMPARE(ui.StatusBar2->Count(), 5);
    for (int n = 1; n <= 5; ++n)
      QCOMPARE(ui.StatusBar2->Text(n), QString());
    QStringList headers;
    for (int c = 0; c < ui.ListView1->model()->columnCount(); ++c)
      headers << ui.ListView1->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{"Event Time", "Ping", "Average", "Site ID", "Packet", "Result"}));
    QVERIFY(ui.Frame1->isVisibleTo(&form));
    QVERIFY(!ui.Frame2->isVisibleTo(&form));
    for (QTimer* timer : {ui.Timer1, ui.Timer2, ui.Timer3, ui.Timer4})
      QVERIFY(!timer->isActive());
    QCOMPARE(ui.Timer1->interval(), 1000);
    QCOMPARE(ui.Timer2->interval(), 10000);
    QCOMPARE(ui.Timer3->interval(), 50);
    QCOMPARE(ui.Timer4->interval(), 1000);
  }

  void windowKeepsItsSize() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    const QSize size = form.size();
    form.resize(size + QSize(200, 100));
    QCOMPARE(form.size(), size);
  }

  void missingOrUnreadableFileGivesAnEmptyList() {
    Module1 state;
    {
      Form1 form(state);
      const Form1Controls ui(form);
      QCOMPARE(ui.List1->count(), 0);
    }
    QVERIFY(QDir().mkpath(UrlsPath())); // a folder where the file should be
    Form1 form(state);
    const Form1Controls ui(form);
    QCOMPARE(ui.List1->count(), 0);
    QDir().rmdir(UrlsPath());
  }

  void listComesBackFromTheFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("CR LF lines") << QByteArray("http://a.test\r\nhttp://b.test\r\n")
                                 << QStringList{"http://a.test", "http://b.test"};
    QTest::newRow("LF lines, no last end")
        << QByteArray("http://a.test\nhttp://b.test") << QStringList{"http://a.test", "http://b.test"};
    QTest::newRow("empty line is an empty entry")
        << QByteArray("http://a.test\r\n\r\nhttp://c.test\r\n") << QStringList{"http://a.test", "", "http://c.test"};
    QTest::newRow("comma stays in its entry")
        << QByteArray("http://a.test/?x=1,2\r\n") << QStringList{"http://a.test/?x=1,2"};
    QTest::newRow("quotes are kept") << QByteArray("\"http://q.test\"\r\n") << QStringList{"\"http://q.test\""};
    QTest::newRow("UTF-8") << QByteArray("http://b\xc3\xbc.test\r\n")
                           << QStringList{QStringLiteral("http://b\u00fc.test")};
    QTest::newRow("Latin-1") << QByteArray("http://b\xfc.test\r\n")
                             << QStringList{QStringLiteral("http://b\u00fc.test")};
  }
  void listComesBackFromTheFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    Module1 state;
    WriteUrlsFile(bytes);
    Form1 form(state);
    const Form1Controls ui(form);
    QCOMPARE(Entries(ui), entries);
  }

  void addDelAndPickThroughTheWidgets() {
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ui.Frame2->show();
    ui.Frame1->hide();

    // Add with the initial text focused: losing the focus to the button strips one slash first.
    ui.Text1->setFocus();
    QTRY_VERIFY(ui.Text1->hasFocus());
    QTest::mouseClick(ui.Command1[0], Qt::LeftButton);
    QCOMPARE(Entries(ui), QStringList{"http:/"});
    QCOMPARE(UrlsFile(), QByteArray("http:/\r\n"));
    QCOMPARE(ui.Text1->text(), QStringLiteral("http://"));
    QCOMPARE(ui.Text1->cursorPosition(), 7);
    QTRY_VERIFY(ui.Text1->hasFocus());

    // Typed addresses: one trailing slash goes on losing the focus.
    ui.Text1->setText(QStringLiteral("http://a.test//"));
    QTest::mouseClick(ui.Command1[0], Qt::LeftButton);
    ui.Text1->setText(QStringLiteral("http://b.test"));
    QTest::mouseClick(ui.Command1[0], Qt::LeftButton);
    QCOMPARE(Entries(ui), (QStringList{"http:/", "http://a.test/", "http://b.test"}));
    QCOMPARE(UrlsFile(), QByteArray("http:/\r\nhttp://a.test/\r\nhttp://b.test\r\n"));

    // Del with nothing selected changes nothing.
    QTest::mouseClick(ui.Command1[1], Qt::LeftButton);
    QCOMPARE(ui.List1->count(), 3);
    QCOMPARE(UrlsFile(), QByteArray("http:/\r\nhttp://a.test/\r\nhttp://b.test\r\n"));

    // Pick copies the entry into the field; Del removes it and rewrites the file.
    const QRect first = ui.List1->visualItemRect(ui.List1->item(0));
    QTest::mouseClick(ui.List1->viewport(), Qt::LeftButton, {}, first.center());
    QCOMPARE(ui.Text1->text(), QStringLiteral("http:/"));
    QTest::mouseClick(ui.Command1[1], Qt::LeftButton);
    QCOMPARE(Entries(ui), (QStringList{"http://a.test/", "http://b.test"}));
    QCOMPARE(UrlsFile(), QByteArray("http://a.test/\r\nhttp://b.test\r\n"));
    QCOMPARE(ui.Text1->text(), QStringLiteral("http:/"));

    // After a Del nothing is selected: a second Del does nothing.
    QTest::mouseClick(ui.Command1[1], Qt::LeftButton);
    QCOMPARE(ui.List1->count(), 2);

    // The same address can be added twice when the field does not have the focus.
    const QRect second = ui.List1->visualItemRect(ui.List1->item(1));
    QTest::mouseClick(ui.List1->viewport(), Qt::LeftButton, {}, second.center());
    form.Command1_Click(0);
    QCOMPARE(Entries(ui), (QStringList{"http://a.test/", "http://b.test", "http://b.test"}));

    // Removing every entry leaves an empty file.
    for (int i = 0; i < 3; ++i) {
      ui.List1->setCurrentRow(0);
      form.Command1_Click(1);
    }
    QCOMPARE(ui.List1->count(), 0);
    QCOMPARE(UrlsFile(), QByteArray());

    // An empty field adds an empty entry, which comes back at the next start.
    ui.Text1->setText(QString());
    form.Command1_Click(0);
    QCOMPARE(UrlsFile(), QByteArray("\r\n"));
    Form1 again(state);
    const Form1Controls uiAgain(again);
    QCOMPARE(Entries(uiAgain), QStringList{""});
  }

  // The URL field's trailing-slash rule runs when the focus moves to another control of the window:
  // Tab strips one slash; opening the field's own context menu or switching to another window, twice
  // each, strips none.
  void trailingSlashOnlyWhenTheFocusMovesOn_data() {
    QTest::addColumn<QString>("away");
    QTest::addColumn<QString>("text");
    QTest::newRow("Tab to the next control") << "tab"
                                             << "http:/";
    QTest::newRow("the field's context menu") << "menu"
                                              << "http://";
    QTest::newRow("another window") << "window"
                                    << "http://";
  }
  void trailingSlashOnlyWhenTheFocusMovesOn() {
    QFETCH(QString, away);
    QFETCH(QString, text);
    Module1 state;
    Form1 form(state);
    const Form1Controls ui(form);
    QVERIFY(FocusUrlField(form, ui));

    if (away == QLatin1String("tab")) {
      QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
      QTRY_VERIFY(!ui.Text1->hasFocus());
      QVERIFY(form.isAncestorOf(QApplication::focusWidget()));
    }
    for (int i = 0; away == QLatin1String("menu") && i < 2; ++i) {
      const QPoint inField = ui.Text1->mapTo(&form, ui.Text1->rect().center());
      QTest::mouseClick(form.windowHandle(), Qt::RightButton, {}, inField);
      QTRY_VERIFY(QApplication::activePopupWidget());
      QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
      QTRY_VERIFY(!QApplication::activePopupWidget());
      QTRY_VERIFY(ui.Text1->hasFocus());
    }
    for (int i = 0; away == QLatin1String("window") && i < 2; ++i) {
      QWidget other;
      other.show();
      other.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&other));
      form.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&form));
      QTRY_VERIFY(ui.Text1->hasFocus());
    }
    QCOMPARE(ui.Text1->text(), text);
  }

  // Choosing an entry with the arrow keys copies it into the URL field as a click does, so that
  // "Del" removes the entry the field shows.
  void arrowKeysPickAnEntry() {
    Module1 state;
    WriteUrlsFile("http://a.test\r\nhttp://b.test\r\nhttp://c.test\r\n");
    Form1 form(state);
    const Form1Controls ui(form);
    QVERIFY(FocusUrlField(form, ui));
    QTest::keyClick(form.windowHandle(), Qt::Key_Tab);
    QTRY_VERIFY(ui.List1->hasFocus());

    QStringList shown;
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) {
      QTest::keyClick(form.windowHandle(), key);
      QVERIFY(ui.List1->currentItem() && ui.List1->currentItem()->isSelected());
      QCOMPARE(ui.Text1->text(), ui.List1->currentItem()->text());
      shown << ui.Text1->text();
    }
    QCOMPARE(shown.at(0), shown.at(2));
    QVERIFY(shown.at(0) != shown.at(1));

    const QString picked = ui.Text1->text();
    QTest::mouseClick(ui.Command1[1], Qt::LeftButton);
    QCOMPARE(ui.List1->count(), 2);
    QVERIFY(!Entries(ui).contains(picked));
    QCOMPARE(UrlsFile(), (Entries(ui).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
  }

  void unwritableFolderKeepsTheListWithoutMessage() {
    Module1 state;
    QVERIFY(QDir().mkpath(UrlsPath())); // the file cannot be created: a folder has its name
    Form1 form(state);
    const Form1Controls ui(form);
    ui.Text1->setText(QStringLiteral("http://a.test"));
    form.Command1_Click(0);
    QCOMPARE(Entries(ui), QStringList{"http://a.test"});
    QCOMPARE(ui.Text1->text(), QStringLiteral("http://"));
    ui.List1->setCurrentRow(0);
    form.Command1_Click(1);
    QCOMPARE(ui.List1->count(), 0);
    QVERIFY(QFileInfo(UrlsPath()).isDir());
    QDir().rmdir(UrlsPath());
  }
};

TARVIK_TEST_MAIN(QApplication, Form1Test)
#include "tst_form1.moc"
