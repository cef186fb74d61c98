#pragma once

#include "platform/messageboxes.h"
#include "platform/shell.h"

#include <QString>

#include <functional>

// Message boxes and the shell of the program without a window: a box's text goes to standard error
// as one line and takes the answer that changes nothing (No of Yes/No, Cancel of Yes/No/Cancel, OK);
// nothing is opened.
//
// `tell` receives each line ("tarvik: ..." without a line end); by default it is written to
// standard error at once.
using ConsoleTell = std::function<void(const QString& line)>;

class ConsoleMessageBoxes : public MessageBoxes {
public:
  explicit ConsoleMessageBoxes(ConsoleTell tell = {}) : tell(std::move(tell)) {}
  Answer Show(const QString& text, Buttons buttons, Icon icon, const QString& title) override;

private:
  ConsoleTell tell;
};

class ConsoleShell : public Shell {
public:
  explicit ConsoleShell(ConsoleTell tell = {}) : tell(std::move(tell)) {}
  void Open(const QString& fileOrUrl) override;

private:
  ConsoleTell tell;
};
