#pragma once

#include "platform/messageboxes.h"
#include "platform/shell.h"

// Message boxes and the shell of the program without a window: a box's text goes to standard error
// as one line and takes the answer that changes nothing (No of Yes/No, Cancel of Yes/No/Cancel, OK);
// nothing is opened.
class ConsoleMessageBoxes : public MessageBoxes {
public:
  Answer Show(const QString& text, Buttons buttons, Icon icon, const QString& title) override;
};

class ConsoleShell : public Shell {
public:
  void Open(const QString& fileOrUrl) override;
};
