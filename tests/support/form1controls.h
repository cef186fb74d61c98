#pragma once

#include "platform/httpclientarray.h"
#include "ui/clicklabel.h"
#include "ui/form1.h"
#include "ui/statusbar.h"

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <array>

// The main window's controls as a test reaches them: by their object names, the names of the
// control table (elements of a control array as Name_Index), and the timers and clients by theirs.
//
//   Form1 form(state);
//   const Form1Controls ui(form);
//   ui.Text1->setText("http://a.test");
struct Form1Controls {
  explicit Form1Controls(const Form1& form) : form(form) {}

  template <typename T>
  T* Find(const QString& name) const {
    T* found = form.findChild<T*>(name);
    if (!found)
      qFatal("Form1 has no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
  }
  template <typename T, size_t N>
  std::array<T*, N> FindArray(const QString& name) const {
    std::array<T*, N> elements{};
    for (size_t i = 0; i < N; ++i)
      elements[i] = Find<T>(QStringLiteral("%1_%2").arg(name).arg(i));
    return elements;
  }

  const Form1& form;
  std::array<ClickLabel*, 9> Label2 = FindArray<ClickLabel, 9>(QStringLiteral("Label2"));
  QFrame* Frame1 = Find<QFrame>(QStringLiteral("Frame1"));
  QFrame* Frame2 = Find<QFrame>(QStringLiteral("Frame2"));
  QFrame* Frame5 = Find<QFrame>(QStringLiteral("Frame5"));
  ClickLabel* Image1 = Find<ClickLabel>(QStringLiteral("Image1"));
  QPushButton* Check1 = Find<QPushButton>(QStringLiteral("Check1"));
  std::array<QLineEdit*, 2> Text6 = FindArray<QLineEdit, 2>(QStringLiteral("Text6"));
  QTableView* ListView1 = Find<QTableView>(QStringLiteral("ListView1"));
  QLineEdit* Text1 = Find<QLineEdit>(QStringLiteral("Text1"));
  QListWidget* List1 = Find<QListWidget>(QStringLiteral("List1"));
  std::array<QPushButton*, 2> Command1 = FindArray<QPushButton, 2>(QStringLiteral("Command1"));
  QLineEdit* Text7 = Find<QLineEdit>(QStringLiteral("Text7"));
  QLineEdit* Text3 = Find<QLineEdit>(QStringLiteral("Text3"));
  QLineEdit* Text2 = Find<QLineEdit>(QStringLiteral("Text2"));
  std::array<QLineEdit*, 2> Text5 = FindArray<QLineEdit, 2>(QStringLiteral("Text5"));
  std::array<QLineEdit*, 2> Text4 = FindArray<QLineEdit, 2>(QStringLiteral("Text4"));
  std::array<QCheckBox*, 4> Check3 = FindArray<QCheckBox, 4>(QStringLiteral("Check3"));
  QMenu* Tmenu = Find<QMenu>(QStringLiteral("Tmenu"));
  // The texts of the two status bars' panels.
  StatusPanels* StatusBar1 = Find<StatusBar>(QStringLiteral("StatusBar1"))->Panels();
  StatusPanels* StatusBar2 = Find<StatusBar>(QStringLiteral("StatusBar2"))->Panels();
  HttpClientArray* Inet1 = Find<HttpClientArray>(QStringLiteral("Inet1"));
  QTimer* Timer1 = Find<QTimer>(QStringLiteral("Timer1"));
  QTimer* Timer2 = Find<QTimer>(QStringLiteral("Timer2"));
  QTimer* Timer3 = Find<QTimer>(QStringLiteral("Timer3"));
  QTimer* Timer4 = Find<QTimer>(QStringLiteral("Timer4"));
};
