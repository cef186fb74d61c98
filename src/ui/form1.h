#pragma once

#include "core/menuitem.h"
#include "engine/runsettings.h"
#include "engine/testcycle.h"
#include "settings/settingsstore.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <optional>

class ClickLabel;
class HistoryRecorder;
class HistoryStore;
class HttpClient;
class HttpClientArray;
class QAction;
class QCheckBox;
class QFrame;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QShortcut;
class QTableView;
class ResultsModel;
class SitesWindow;
class StatusPanels;
struct Module1;

// The main window. Its controls are built from the control table and reached by their names (the
// objectName of each); its handlers are short and hand the work to the core classes. It works on
// the program-wide state it is given, which outlives it.
class Form1 : public QWidget {
  Q_OBJECT
public:
  explicit Form1(Module1& state, QWidget* parent = nullptr);
  ~Form1() override;

  // Puts the stored configuration into the configuration controls; the change handlers of the
  // text boxes run as their texts are set.
  void LoadSettings(const SettingsStore::StoredOptions& options);

  // Handlers of the URL list: Command1(0) "Add", Command1(1) "Del".
  void Command1_Click(int index);
  void Text1_LostFocus();
  void List1_Click();

  // The configuration panel's handlers.
  void Check3_MouseUp(int index);
  void Text2_Change();
  void Text3_Change();
  void Text4_Change();

  // The switch: a click (or a call with the switch already set) starts or stops testing.
  void Check1_MouseUp(TestCycle::SwitchedBy by);

  // The results table's handlers and its popup menu.
  void ListView1_ColumnClick(int column);
  void ListView1_MouseUp(Qt::MouseButton button, const QPoint& position);
  void Lmenu_Click();
  void mnuSave_Click();
  // "Sites..." (also Ctrl+I): the Sites window over the history, one for the main window.
  void OpenSites();
  // "Copy as curl": a curl command for the selected row's marker file, to the clipboard.
  void CopyAsCurl();

  // Keeps the samples and reference pings of this window's runs in `store` (opened on `path`, or
  // off), and lets the Sites window read `path`. A store that turns itself off says so in
  // StatusBar2 panel 1. Without it, the Sites window reads `path` only if given.
  void UseHistory(HistoryStore& store, const QString& path);

  // The menu panel: a click on an item, the hover highlight.
  void Label2_Click(MenuItem item);
  void Label2_MouseMove(int index);
  void Form_MouseMove();

  // The status light's tooltip and click follow its picture.
  void Image1_MouseMove();
  void Image1_Click();

  // Ends the program: an outstanding fetch is ended, the rows removed, every window closed.
  void UnloadAll();

  int PictureShown() const;
  QStringList Urls() const;

  // Controls, by the names of the control table.
  QWidget* Control(const QString& name) const { return controls.value(name); }
  // The core objects the window binds: the results table, the test engine and the configuration
  // as the engine reads it.
  ResultsModel& Results() const { return *results; }
  TestCycle& Cycle() const { return *cycle; }
  const RunSettings& Settings() const { return settings; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void Form_Load();
  void FindControls();
  void SetUpResultsTable();
  void ConnectEngine();
  void ConnectControls();
  void BindSettings();
  void UrlsChanged();
  void ShowPicture(int n);
  // The site (1-based) of the selected row; none when no row is selected or its fetch is still out.
  std::optional<qint16> SelectedSiteId() const;
  // The address of the site in the URL list, empty when there is none of that number.
  QString UrlOfSite(int siteId) const;
  // The address of the selected row's site, empty when no row with a site is selected.
  QString SelectedSiteUrl() const;

  // One handler per item of the menu panel.
  void OpenMenu();
  void ShowLog();
  void SubmitLog();
  void SubmitResults();
  void Configure();
  void Quit();
  // A sub-log that could not be updated on the way out says so in StatusBar2 panel 1.
  void ShowSubLogFailure(const QString& failure);
  void Hatching();
  void Help();
  void StartFcTest();

  void SetUpMenuKeys();
  void SetMenuItemLook(int index, bool highlighted);
  void SubmitReport();
  // Shows the site's fc summary in StatusBar2 panel 3 and returns its code.
  QString ShowFcSummary(int siteId);

  Module1& state;
  QHash<QString, QWidget*> controls;

  // The controls, by the names of the control table.
  std::array<ClickLabel*, 9> Label2{};
  QFrame* Frame1 = nullptr;
  QFrame* Frame2 = nullptr;
  QFrame* Frame5 = nullptr;
  ClickLabel* Image1 = nullptr;
  QPushButton* Check1 = nullptr;
  std::array<QLineEdit*, 2> Text6{};
  QTableView* ListView1 = nullptr;
  QLineEdit* Text1 = nullptr;
  QListWidget* List1 = nullptr;
  std::array<QPushButton*, 2> Command1{};
  QLineEdit* Text7 = nullptr;
  QLineEdit* Text3 = nullptr;
  QLineEdit* Text2 = nullptr;
  std::array<QLineEdit*, 2> Text5{};
  std::array<QLineEdit*, 2> Text4{};
  std::array<QCheckBox*, 4> Check3{};
  QMenu* Tmenu = nullptr;
  QAction* copyAsCurl = nullptr;
  QList<QPixmap> ImageList1;

  // The texts of the two status bars' panels, the sampler clients and the reference client.
  StatusPanels* StatusBar1 = nullptr;
  StatusPanels* StatusBar2 = nullptr;
  HttpClientArray* Inet1 = nullptr;
  HttpClient* Inet2 = nullptr;

  ResultsModel* results = nullptr;
  RunSettings settings;
  TestCycle* cycle = nullptr;
  HistoryStore* history = nullptr;
  HistoryRecorder* recorder = nullptr;
  QString historyPath;
  SitesWindow* sites = nullptr;
  QShortcut* closeMenuKey = nullptr; // Escape, while the menu panel is open
  int LastMenuItem = 0;
  bool closing = false;
};
