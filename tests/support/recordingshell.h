#pragma once

#include "platform/shell.h"

#include <QStringList>

// A shell for tests: while it lives it is the installed one, records every file or address the
// program asks to open, and opens nothing.
class RecordingShell : public Shell {
public:
  RecordingShell();
  ~RecordingShell() override;
  RecordingShell(const RecordingShell&) = delete;
  RecordingShell& operator=(const RecordingShell&) = delete;

  void Open(const QString& fileOrUrl) override;

  QStringList opened;

private:
  Shell* previous;
};
