#pragma once

#include "engine/runsettings.h"
#include "settings/settingsstore.h"

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QWidget>
#include <array>

class ClickLabel;
class HttpClient;
class HttpClientArray;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QShortcut;
class QTableView;
class QTimer;
class ResultsModel;
class StatusBar;
class StatusPanels;
class TestCycle;

// The main window. Its controls are built from the control table; its handlers are short and hand
// the work to the core classes.
class Form1 : public QWidget {
  Q_OBJECT
public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // Puts the stored configuration into the configuration controls; the change handlers of the
  // text boxes run as their texts are set.
  void LoadSettings(const SettingsStore::StoredOptions& options);

  // Handlers of the URL list.
  void Command1_Click(int index);
  void Text1_LostFocus();
  void List1_Click();

  // The configuration panel's handlers.
  void Check3_MouseUp(int index);
  void Text2_Change();
  void Text3_Change();
  void Text4_Change();

  // The switch: a click (or a call with the switch already set) starts or stops testing.
  void Check1_MouseUp(int button, int shift);

  // The results table's handlers and its popup menu.
  void ListView1_ColumnClick(int column);
  void ListView1_MouseUp(Qt::MouseButton button, const QPoint& position);
  void Lmenu_Click();
  void mnuSave_Click();

  // The menu panel: the dispatcher on the item's index, the hover highlight.
  void Label2_Click(int index);
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

  StatusPanels* StatusBar1 = nullptr;
  StatusPanels* StatusBar2 = nullptr;
  ResultsModel* Results = nullptr;
  RunSettings Settings;
  TestCycle* Cycle = nullptr;
  QMenu* Tmenu = nullptr;
  HttpClientArray* Inet1 = nullptr;
  HttpClient* Inet2 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QTimer* Timer3 = nullptr;
  QTimer* Timer4 = nullptr;

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

  void SetUpMenuKeys();
  void SetMenuItemLook(int index, bool highlighted);
  void SubmitReport();

  QHash<QString, QWidget*> controls;
  QList<QPixmap> ImageList1;
  QShortcut* closeMenuKey = nullptr;  // Escape, while the menu panel is open
  int LastMenuItem = 0;
  bool closing = false;
};
