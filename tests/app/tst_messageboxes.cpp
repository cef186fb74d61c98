// The program's message boxes (QMessageBox) answered with real keys and the window's close control.
#include "app/qtplatform.h"
#include "testenvironment.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

Q_DECLARE_METATYPE(MessageBoxes::Buttons)
Q_DECLARE_METATYPE(MessageBoxes::Answer)

class MessageBoxesTest : public QObject {
  Q_OBJECT

private slots:
  // A Yes/No box has no escape answer: Escape and the close control leave it open until Y or N
  // answers. A Yes/No/Cancel box takes Escape and the close control as Cancel, an OK box as OK.
  void escapeAndTheCloseControl_data() {
    QTest::addColumn<MessageBoxes::Buttons>("buttons");
    QTest::addColumn<QString>("steps"); // E Escape, C the close control, Y and N the keys
    QTest::addColumn<MessageBoxes::Answer>("answer");
    QTest::newRow("Yes/No: Escape, close, Y") << MessageBoxes::YesNo << "ECY" << MessageBoxes::Yes;
    QTest::newRow("Yes/No: close, Escape, N") << MessageBoxes::YesNo << "CEN" << MessageBoxes::No;
    QTest::newRow("Yes/No/Cancel: Escape") << MessageBoxes::YesNoCancel << "E" << MessageBoxes::Cancel;
    QTest::newRow("Yes/No/Cancel: close") << MessageBoxes::YesNoCancel << "C" << MessageBoxes::Cancel;
    QTest::newRow("Yes/No/Cancel: Y") << MessageBoxes::YesNoCancel << "Y" << MessageBoxes::Yes;
    QTest::newRow("OK: Escape") << MessageBoxes::OkOnly << "E" << MessageBoxes::Ok;
  }
  void escapeAndTheCloseControl() {
    QFETCH(MessageBoxes::Buttons, buttons);
    QFETCH(QString, steps);
    QFETCH(MessageBoxes::Answer, answer);

    QtMessageBoxes boxes;
    QString done; // the steps made, up to the one that closed the box
    bool closedEarly = false;
    QTimer::singleShot(0, this, [&] {
      QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
      QPointer<QMessageBox> box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(QTest::qWaitForWindowActive(box));
      QWindow* window = box->windowHandle();
      for (const QChar step : steps) {
        if (!box || !box->isVisible()) {
          closedEarly = true;
          return;
        }
        done += step;
        if (step == QLatin1Char('E'))
          QTest::keyClick(window, Qt::Key_Escape);
        else if (step == QLatin1Char('C'))
          window->close();
        else
          QTest::keyClick(window, step == QLatin1Char('Y') ? Qt::Key_Y : Qt::Key_N);
        // A key's button is pressed for a moment before it answers.
        QTest::qWait(300);
      }
    });
    const MessageBoxes::Answer given = boxes.Show(QStringLiteral("Do you want to save log before?"), buttons,
                                                  MessageBoxes::NoIcon, QStringLiteral("Tarvik"));
    QVERIFY2(!closedEarly, qPrintable(QStringLiteral("the box closed after %1").arg(done)));
    QCOMPARE(done, steps);
    QCOMPARE(given, answer);
  }
};

TARVIK_TEST_MAIN(QApplication, MessageBoxesTest)
#include "tst_messageboxes.moc"
