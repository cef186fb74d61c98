#include "ui/controlmap.h"

#include "ui/clicklabel.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>

namespace ControlMap {

namespace {

using K = Kind;

// clang-format off
const Control controls[] = {
  // name            kind           container  left   top  width height caption                 accessible            enabled
  {"Label2_0",       K::MenuItem,   "",         150,   60,  615,  315, " Menu ",              "Menu",               true},
  {"Frame5",         K::Frame,      "",         705,  -15, 4665,  705, "",                    "Menu panel",         true},
  {"Shape2",         K::Shape,      "Frame5",    15,   45, 4605,  645, "",                    nullptr,              true},
  {"Label2_1",       K::MenuItem,   "Frame5",   135,  165,  735,  195, "Show log",            nullptr,              true},
  {"Label2_2",       K::MenuItem,   "Frame5",  1260,  420,  735,  195, "Submit log",          nullptr,              false},
  {"Label2_3",       K::MenuItem,   "Frame5",  1260,  150, 1155,  195, "Submit Results",      nullptr,              true},
  {"Label2_4",       K::MenuItem,   "Frame5",  2700,  150,  870,  255, "Configure",           nullptr,              true},
  {"Label2_5",       K::MenuItem,   "Frame5",  4050,  420,  345,  195, "Quit",                nullptr,              true},
  {"Label2_6",       K::MenuItem,   "Frame5",  2700,  420,  870,  195, "Hatching",            nullptr,              true},
  {"Label2_7",       K::MenuItem,   "Frame5",  4050,  150,  345,  195, "Help",                nullptr,              true},
  {"Label2_8",       K::MenuItem,   "Frame5",   135,  420,  735,  195, "fc Test",             nullptr,              true},
  {"Image1",         K::Image,      "",        5460,  180,  495,  435, "",                    "Status light",       true},
  {"Label3",         K::Label,      "",        6150,  165,  405,  165, "Ref 1",               nullptr,              true},
  {"Label4",         K::Label,      "",        6150,  435,  420,  165, "Ref 2",               nullptr,              true},
  {"Text6_0",        K::ReadOnlyBox,"",        6660,   90,  870,  285, "",                    "Ref 1",              true},
  {"Text6_1",        K::ReadOnlyBox,"",        6660,  375,  870,  285, "",                    "Ref 2",              true},
  {"Check1",         K::Switch,     "",        7875,  135,  705,  360, "OFF",                 nullptr,              true},

  {"Frame1",         K::Frame,      "",          45,  615, 8595, 5055, "",                    "Results",            true},
  {"ListView1",      K::Table,      "Frame1",    45,  225, 8505, 4740, "",                    "Results table",      true},

  {"Frame2",         K::Frame,      "",          60,  615, 8580, 4935, "",                    "Configuration",      true},
  {"Shape1_0",       K::Shape,      "Frame2",   150,  270, 6255, 2850, "",                    nullptr,              true},
  {"Text1",          K::TextBox,    "Frame2",   405,  645, 4215,  285, "http://",             "URL",                true},
  {"List1",          K::ListBox,    "Frame2",   405, 1020, 4215, 2010, "",                    "URL list",           true},
  {"Command1_0",     K::Button,     "Frame2",  4935, 1005,  900,  360, "Add",                 nullptr,              true},
  {"Command1_1",     K::Button,     "Frame2",  4935, 1440,  900,  360, "Del",                 nullptr,              true},
  {"Label5",         K::Label,      "Frame2",  6780,  315,  765,  255, "Tarvik ID:",          nullptr,              true},
  {"Text7",          K::ReadOnlyBox,"Frame2",  6765,  585, 1485,  285, "",                    "Tarvik ID:",         true},
  {"Shape1_1",       K::Shape,      "Frame2",   150, 3150, 6255,  690, "",                    nullptr,              true},
  {"Label1_1",       K::Label,      "Frame2",   465, 3435,  765,  210, "Samplers",            nullptr,              true},
  {"Text3",          K::TextBox,    "Frame2",  1380, 3375,  585,  285, "1",                   "Samplers",           true},
  {"Label1_0",       K::Label,      "Frame2",  2280, 3435,  480,  210, "Delay",               nullptr,              true},
  {"Text2",          K::TextBox,    "Frame2",  2790, 3375,  345,  300, "60",                  "Delay",              true},
  {"Label1_4",       K::Label,      "Frame2",  3210, 3435,  480,  210, "sec",                 nullptr,              true},
  {"Label1_3",       K::Label,      "Frame2",  4035, 3435,  750,  210, "Warnings",            nullptr,              true},
  {"Text5_0",        K::TextBox,    "Frame2",  5010, 3375,  345,  300, "1",                   "First warning",      true},
  {"Text5_1",        K::TextBox,    "Frame2",  5745, 3375,  345,  300, "20",                  "Second warning",     true},
  {"Shape1_2",       K::Shape,      "Frame2",   150, 3870, 6255,  810, "",                    nullptr,              true},
  {"Label1_2",       K::Label,      "Frame2",   405, 4020,  285,  210, "At",                  nullptr,              true},
  {"Text4_0",        K::TextBox,    "Frame2",   735, 3975,  645,  285, "",                    "At",                 true},
  {"Check3_0",       K::CheckBox,   "Frame2",   735, 4335, 1065,  210, "Restart",             nullptr,              false},
  {"Check3_1",       K::CheckBox,   "Frame2",  1920, 4335, 1065,  210, "Save",                nullptr,              false},
  {"Check3_2",       K::CheckBox,   "Frame2",  3195, 4335, 1065,  210, "Keep last",           nullptr,              false},
  {"Text4_1",        K::TextBox,    "Frame2",  4395, 4275,  495,  285, "",                    "Keep last count",    false},
  {"Check3_3",       K::CheckBox,   "Frame2",  5415, 4335,  750,  210, "Stop",                nullptr,              false},

  {"StatusBar2",     K::StatusBar,  "",           0, 5685, 8685,  345, "",                    "Progress",           true},
  {"StatusBar1",     K::StatusBar,  "",           0, 6030, 8685,  345, "",                    "Best, worst and average", true},
  {"Frame3",         K::Frame,      "",        8220, 5670,  510,  390, "",                    nullptr,              true},
  {"Frame4",         K::Frame,      "",        8295, 6030,  435,  345, "",                    nullptr,              true},
};
// clang-format on

QRect Pixels(const Control& c) {
  return {c.left / TwipsPerPixel, c.top / TwipsPerPixel, c.width / TwipsPerPixel, c.height / TwipsPerPixel};
}

QWidget* Create(const Control& c, QWidget* parent) {
  const QString caption = QString::fromUtf8(c.caption);
  switch (c.kind) {
  case K::Label: {
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
  }
  case K::MenuItem: {
    auto* label = new ClickLabel(caption, QAccessible::Button, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(QFont(QStringLiteral("Arial"), 7));
    label->setMouseTracking(true);
    return label;
  }
  case K::TextBox:
  case K::ReadOnlyBox: {
    auto* box = new QLineEdit(caption, parent);
    box->setReadOnly(c.kind == K::ReadOnlyBox);
    return box;
  }
  case K::ListBox: return new QListWidget(parent);
  case K::Button: return new QPushButton(caption, parent);
  case K::CheckBox: return new QCheckBox(caption, parent);
  case K::Switch: {
    auto* button = new QPushButton(caption, parent);
    button->setCheckable(true);
    return button;
  }
  case K::Frame: {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    return frame;
  }
  case K::Shape: {
    auto* shape = new QFrame(parent);
    shape->setFrameShape(QFrame::Box);
    shape->setAttribute(Qt::WA_TransparentForMouseEvents);
    return shape;
  }
  case K::Image: {
    auto* image = new ClickLabel(QString(), QAccessible::Link, parent);
    image->setAlignment(Qt::AlignCenter);
    image->setMouseTracking(true);
    return image;
  }
  case K::Table: return new QTableView(parent);
  case K::StatusBar: break;
  }
  return nullptr;
}

} // namespace

const Control* Table(int* count) {
  *count = int(std::size(controls));
  return controls;
}

QHash<QString, QWidget*> Build(QWidget* form,
                               const std::function<QWidget*(const QString& name, QWidget* parent)>& makeStatusBar) {
  QHash<QString, QWidget*> built;
  for (const Control& c : controls) {
    QWidget* parent = *c.container ? built.value(QString::fromUtf8(c.container)) : form;
    const QString name = QString::fromUtf8(c.name);
    QWidget* widget = c.kind == K::StatusBar ? makeStatusBar(name, parent) : Create(c, parent);
    widget->setObjectName(name);
    widget->setGeometry(Pixels(c));
    widget->setEnabled(c.enabled);
    widget->setAccessibleName(c.accessible ? QString::fromUtf8(c.accessible) : QString::fromUtf8(c.caption));
    built.insert(name, widget);
  }
  // Shapes are outlines drawn behind the controls they frame.
  for (const Control& c : controls)
    if (c.kind == K::Shape)
      built.value(QString::fromUtf8(c.name))->lower();
  return built;
}

} // namespace ControlMap
