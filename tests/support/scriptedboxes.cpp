#include "scriptedboxes.h"

#include <QStringList>

ScriptedBoxes::ScriptedBoxes() : previous(&MessageBoxes::Instance()) {
  MessageBoxes::SetInstance(this);
}

ScriptedBoxes::~ScriptedBoxes() {
  MessageBoxes::SetInstance(previous);
}

MessageBoxes::Answer ScriptedBoxes::Show(const QString& text, Buttons buttons, Icon icon, const QString& title) {
  shown.append({text, buttons, icon, title});
  if (!answers.isEmpty())
    return answers.dequeue();
  return buttons == OkOnly ? Ok : No;
}

QStringList ScriptedBoxes::Texts() const {
  QStringList texts;
  for (const Box& box : shown)
    texts << box.text;
  return texts;
}
