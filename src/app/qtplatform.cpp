#include "app/qtplatform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QUrl>

namespace {

// A message box that can be left without an answer only when it has one to give for that: a box
// with Yes and No only ignores Escape and its close control, so the user answers Yes or No (the
// Y and N keys work). QMessageBox alone would take No for Escape.
class AnswerBox : public QMessageBox {
public:
  using QMessageBox::QMessageBox;
  bool escapable = true;

protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (!escapable && event->matches(QKeySequence::Cancel)) {
      event->accept();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (!escapable) {
      event->ignore();
      return;
    }
    QMessageBox::closeEvent(event);
  }
};

} // namespace

MessageBoxes::Answer QtMessageBoxes::Show(const QString& text, Buttons buttons, Icon icon, const QString& title) {
  AnswerBox box(icon == Information ? QMessageBox::Information
                : icon == Question  ? QMessageBox::Question
                                    : QMessageBox::NoIcon,
                title, text, QMessageBox::NoButton, QApplication::activeWindow());
  box.escapable = buttons != YesNo;
  box.setTextFormat(Qt::PlainText);
  switch (buttons) {
  case OkOnly: box.setStandardButtons(QMessageBox::Ok); break;
  case YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  case YesNoCancel: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
  }
  // A modal box runs its own event loop: timers and network answers go on while the user reads it.
  switch (box.exec()) {
  case QMessageBox::Yes: return Yes;
  case QMessageBox::No: return No;
  case QMessageBox::Cancel: return Cancel;
  default: return buttons == OkOnly ? Ok : (buttons == YesNoCancel ? Cancel : No);
  }
}

void QtShell::Open(const QString& fileOrUrl) {
  const QUrl url = QFileInfo(fileOrUrl).isAbsolute() ? QUrl::fromLocalFile(fileOrUrl) : QUrl(fileOrUrl);
  QDesktopServices::openUrl(url);
}
