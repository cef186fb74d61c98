#include "ui/qtplatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

MessageBoxes::Answer QtMessageBoxes::Show(const QString& text, Buttons buttons, Icon icon, const QString& title) {
  QMessageBox box(icon == Information ? QMessageBox::Information
                  : icon == Question  ? QMessageBox::Question
                                      : QMessageBox::NoIcon,
                  title, text, QMessageBox::NoButton, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  switch (buttons) {
  case OkOnly:
    box.setStandardButtons(QMessageBox::Ok);
    break;
  case YesNo:
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    break;
  case YesNoCancel:
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    break;
  }
  switch (box.exec()) {
  case QMessageBox::Yes:
    return Yes;
  case QMessageBox::No:
    return No;
  case QMessageBox::Cancel:
    return Cancel;
  default:
    return buttons == OkOnly ? Ok : (buttons == YesNoCancel ? Cancel : No);
  }
}

void QtShell::Open(const QString& fileOrUrl) {
  const QUrl url = QFileInfo(fileOrUrl).isAbsolute() ? QUrl::fromLocalFile(fileOrUrl) : QUrl(fileOrUrl);
  QDesktopServices::openUrl(url);
}
