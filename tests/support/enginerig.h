#pragma once

#include "core/module1.h"
#include "core/statuspanels.h"
#include "engine/runsettings.h"
#include "engine/testcycle.h"
#include "platform/httpclient.h"
#include "platform/httpclientarray.h"
#include "results/resultsmodel.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

// The test engine with everything it works on, for tests that drive it without a window: a fresh
// program-wide state, an empty table. The delay starts at one second so that a switched-on engine
// samples at its first tick.
struct EngineRig {
  Module1 state;
  RunSettings settings;
  ResultsModel results;
  StatusPanels bar1{3, {QStringLiteral("Best Time"), QStringLiteral("Worst Time"), QStringLiteral("Average")}};
  StatusPanels bar2{5};
  HttpClientArray inet1;
  HttpClient inet2;
  TestCycle cycle{state, settings, results, bar1, bar2, inet1, inet2};

  EngineRig() { settings.delay = QStringLiteral("1"); }
  ~EngineRig() { cycle.Shutdown(); }
  EngineRig(const EngineRig&) = delete;
  EngineRig& operator=(const EngineRig&) = delete;

  // Switched as the program switches it (an fc test is not cancelled).
  void SwitchOn() { cycle.Check1_MouseUp(true, TestCycle::SwitchedBy::Program); }
  void SwitchOff() { cycle.Check1_MouseUp(false, TestCycle::SwitchedBy::Program); }
  // The cycle's timers, by their names ("Timer1" ... "Timer4").
  QTimer* Timer(const char* name) const { return cycle.findChild<QTimer*>(QString::fromLatin1(name)); }
  QString Text(int position, int column) const { return results.TextAt(position, column); }
  QStringList Column(int column) const {
    QStringList texts;
    for (int i = 0; i < results.Count(); ++i)
      texts << Text(i, column);
    return texts;
  }
  int Colour(int position) const { return results.Colour(results.RowAt(position)); }
  bool Bold(int position) const { return results.Bold(results.RowAt(position)); }
};

// A completed sample's Ping: seconds with exactly three decimals.
inline const QRegularExpression PingForm(QStringLiteral("^\\d+\\.\\d{3}$"));
