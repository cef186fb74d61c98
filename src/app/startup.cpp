#include "app/startup.h"

#include "alerts/incidentrules.h"
#include "alerts/incidenttracker.h"
#include "app/leftovers.h"
#include "history/historysettings.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "settings/settingsstore.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/windowalerts.h"

#include <QCoreApplication>
#include <QFile>

namespace {

// The help page ships beside the executable in a build folder and in the shared data folder of an
// installed program; it is copied into the program folder when missing there.
void ProvideHelpPage() {
  const QString name = QStringLiteral("tarvik-help.html");
  const QString target = ProgramFolder::File(name);
  if (QFile::exists(target))
    return;
  const QString bin = QCoreApplication::applicationDirPath() + QLatin1Char('/');
  for (const QString& source : {bin + name, bin + QStringLiteral(TARVIK_DATA_FROM_BIN "/") + name}) {
    if (QFile::exists(source)) {
      QFile::copy(source, target);
      return;
    }
  }
}

} // namespace

Startup::Startup() = default;

Startup::~Startup() {
  delete form1;
  delete form2;
}

Form1* Startup::MainWindow() {
  if (!form1) {
    form1 = new Form1(state);
    form1->UseHistory(history, HistorySettings::File());
    alerts = new WindowAlerts(*form1, WindowAlerts::StoredOptions(), form1);
    // The incidents of the window's runs, kept in the history and told through the tray, the
    // desktop's notifications and the webhook.
    incidents = new IncidentTracker(form1->Cycle(), form1->Settings(), history, IncidentRules::Stored(), form1);
    QObject::connect(incidents, &IncidentTracker::Event, alerts, &WindowAlerts::Event);
    QObject::connect(incidents, &IncidentTracker::StatesChanged, alerts, &WindowAlerts::StatesChanged);
  }
  return form1;
}

WindowAlerts* Startup::Alerts() const {
  return alerts;
}

IncidentTracker* Startup::Incidents() const {
  return incidents;
}

Form2* Startup::SplashWindow() const {
  return form2;
}

void Startup::Prepare(Module1& state) {
  state.RegKeyPath = Module1::DefaultRegKeyPath;
  state.VendorURL = Module1::VendorUrlSetting();
  state.WhoisURL = Module1::WhoisUrlSetting();
  state.ServiceField.date = Clock::DateText();
  // Before anything is written: what a killed run left half-written goes.
  Leftovers::Remove();
  SettingsStore::SaveRegString(SettingsStore::Name::ProgramFolder, ProgramFolder::Path());
}

void Startup::OpenHistory(HistoryStore& store) {
  if (!HistorySettings::Enabled())
    return;
  store.SetRetentionDays(HistorySettings::RetentionDays());
  store.Open(HistorySettings::File());
}

void Startup::Main() {
  Prepare(state);
  ProvideHelpPage();
  // A history that cannot be opened says so in the window's status bar; testing goes on without it.
  OpenHistory(history);

  if (!form2) {
    form2 = new Form2(state.VendorURL);
    QObject::connect(form2, &Form2::Timer1_Timer, form2, [this] {
      MainWindow()->show();
      form2->hide();
    });
  }
  form2->show();

  if (SettingsStore::GetRegString(SettingsStore::Name::AccountId).isEmpty()) {
    SettingsStore::FirstRunSetup();
  } else {
    // A damaged identifier is replaced by a fresh one before the window reads it.
    if (SettingsStore::AccountIdDamaged())
      SettingsStore::RepairAccountId();
    MainWindow()->LoadSettings(SettingsStore::LoadSettings());
  }
}
