#pragma once

#include "platform/messageboxes.h"
#include "platform/shell.h"

// The windowed program's message boxes (QMessageBox) and default-handler opening (QDesktopServices).
class QtMessageBoxes : public MessageBoxes {
public:
  Answer Show(const QString& text, Buttons buttons, Icon icon, const QString& title) override;
};

class QtShell : public Shell {
public:
  void Open(const QString& fileOrUrl) override;
};
