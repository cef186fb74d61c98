#pragma once

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
class QPushButton;
class QTableView;
class QTimer;
class ResultsModel;
class StatusBar;
class StatusPanels;

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

  // Shows picture n (1-based) of the status light's picture list.
  void ShowPicture(int n);
  int PictureShown() const { return pictureShown; }

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
  HttpClientArray* Inet1 = nullptr;
  HttpClient* Inet2 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QTimer* Timer3 = nullptr;
  QTimer* Timer4 = nullptr;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void Form_Load();
  QStringList Urls() const;

  QHash<QString, QWidget*> controls;
  QList<QPixmap> ImageList1;
  int pictureShown = 0;
};
