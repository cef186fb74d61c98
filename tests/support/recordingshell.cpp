#include "recordingshell.h"

RecordingShell::RecordingShell() : previous(&Shell::Instance()) {
  Shell::SetInstance(this);
}

RecordingShell::~RecordingShell() {
  Shell::SetInstance(previous);
}

void RecordingShell::Open(const QString& fileOrUrl) {
  opened.append(fileOrUrl);
}
