#include "ui/startup.h"

#include "app/leftovers.h"
#include "app/module1.h"
#include "platform/clock.h"
#include "platform/programfolder.h"
#include "settings/settingsstore.h"
#include "ui/form1.h"
#include "ui/form2.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>

namespace {

QPointer<Form1> form1;
QPointer<Form2> form2;

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

Form1* Startup::MainWindow() {
  if (!form1)
    form1 = new Form1;
  return form1;
}

Form2* Startup::SplashWindow() {
  return form2;
}

void Startup::Main() {
  Module1::RegKeyPath = Module1::DefaultRegKeyPath;
  Module1::VendorURL = Module1::VendorUrlSetting();
  Module1::WhoisURL = Module1::WhoisUrlSetting();
  Module1::ServiceField[3] = Clock::DateText();
  // Before anything is written: what a killed run left half-written goes.
  Leftovers::Remove();
  SettingsStore::SaveRegString(QStringLiteral("100"), ProgramFolder::Path());
  ProvideHelpPage();

  if (!form2) {
    form2 = new Form2;
    QObject::connect(form2, &Form2::Timer1_Timer, form2, [] {
      MainWindow()->show();
      form2->hide();
    });
  }
  form2->show();

  if (SettingsStore::GetRegString(QStringLiteral("101")).isEmpty()) {
    SettingsStore::FirstRunSetup();
  } else {
    // A damaged identifier is replaced by a fresh one before the window reads it.
    if (SettingsStore::AccountIdDamaged())
      SettingsStore::RepairAccountId();
    MainWindow()->LoadSettings(SettingsStore::LoadSettings());
  }
}

void Startup::Shutdown() {
  delete form1;
  delete form2;
}
