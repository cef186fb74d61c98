#pragma once

#include <QString>
#include <QStringList>
#include <array>

// The configuration as the engine reads it: the live texts of the configuration controls and the URL
// list. The window keeps it up to date as the user edits; nothing here is cached between ticks.
struct RunSettings {
  QString delay = QStringLiteral("60");                                         // seconds between passes
  std::array<QString, 2> warning = {QStringLiteral("1"), QStringLiteral("20")}; // blue, red marks
  QString runLength;                                                            // passes per URL in one run ("At")
  QString keepCount;                                                            // rows "Keep last" keeps
  // "Restart", "Save", "Keep last", "Stop".
  std::array<bool, 4> option = {false, false, false, false};
  QStringList urls;
  // The most rows the results table holds: older whole passes are dropped to make room for a new
  // one (RowLimit). 0 keeps every row, as the window does; the headless mode sets it (--max-rows).
  qint64 maxRows = 0;

  enum Option { Restart = 0, Save = 1, KeepLast = 2, Stop = 3 };
};
