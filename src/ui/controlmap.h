#pragma once

#include <QHash>
#include <QString>

#include <functional>

class QWidget;

// The main window's controls as one table: name, kind, container, place in twips, caption.
// The window is built from this table rather than control by control.
namespace ControlMap {

enum class Kind {
  Label,       // a text label
  MenuItem,    // a clickable label of the menu panel (Arial)
  TextBox,     // an editable one-line text box
  ReadOnlyBox, // a read-only one-line text box
  ListBox,
  Button,
  CheckBox,
  Switch,    // a check box drawn as a push button
  Frame,     // a container panel
  Shape,     // a rectangle outline
  Image,     // a picture that reports clicks and pointer moves
  Table,     // the results table
  StatusBar, // a status bar with numbered panels (made by the window, which owns the panel texts)
};

struct Control {
  const char* name; // objectName: control name, or Name_Index for an element of a control array
  Kind kind;
  const char* container;        // objectName of the container, or "" for the window itself
  int left, top, width, height; // twips
  const char* caption;          // initial caption or text
  const char* accessible;       // accessible name when the caption does not name the control, else nullptr
  bool enabled;
};

// 15 twips make one logical pixel.
constexpr int TwipsPerPixel = 15;

const Control* Table(int* count);

// Creates every control of the table under `form`, placed and captioned, and returns them by name.
// `makeStatusBar` makes the status bars, whose panel texts the window owns.
QHash<QString, QWidget*> Build(QWidget* form,
                               const std::function<QWidget*(const QString& name, QWidget* parent)>& makeStatusBar);

} // namespace ControlMap
