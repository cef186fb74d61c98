#pragma once

#include <QString>

// Modal message boxes. The program shows them through this interface so that tests can script the
// answers and record what was shown; the windowed program installs a QMessageBox implementation.
class MessageBoxes {
public:
  // A YesNo box has no escape answer: Escape and the window's close control do nothing, so it is
  // always answered Yes or No. A YesNoCancel box takes them as Cancel, an OkOnly box as Ok.
  enum Buttons { OkOnly, YesNo, YesNoCancel };
  enum Icon { NoIcon, Information, Question };
  enum Answer { Ok, Yes, No, Cancel };

  virtual ~MessageBoxes() = default;
  virtual Answer Show(const QString& text, Buttons buttons, Icon icon, const QString& title) = 0;

  // The installed implementation; without one, every box answers Ok (or No where Ok is not offered)
  // and shows nothing.
  static MessageBoxes& Instance();
  static void SetInstance(MessageBoxes* boxes);

  // Shows a box titled with the application's name (QCoreApplication::applicationName()) unless
  // another title is given.
  static Answer MsgBox(const QString& text, Buttons buttons = OkOnly, Icon icon = NoIcon,
                       const QString& title = QString());
};
