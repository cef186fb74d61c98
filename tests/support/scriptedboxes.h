#pragma once

#include "platform/messageboxes.h"

#include <QList>
#include <QQueue>
#include <QString>

// Message boxes for tests. While an object lives it is the installed implementation (the one
// installed before comes back when it is destroyed). It shows nothing: it records every box in
// `shown` and answers with the next queued answer, or, when none is queued, Ok for an OkOnly box
// and No for any other.
//
//   ScriptedBoxes boxes;
//   boxes.answers << MessageBoxes::Yes;
//   ... code that asks ...
//   QCOMPARE(boxes.Texts(), QStringList{"Do you want to save log before?", "Log Saved"});
class ScriptedBoxes : public MessageBoxes {
public:
  struct Box {
    QString text;
    Buttons buttons;
    Icon icon;
    QString title;
  };

  ScriptedBoxes();
  ~ScriptedBoxes() override;
  ScriptedBoxes(const ScriptedBoxes&) = delete;
  ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

  Answer Show(const QString& text, Buttons buttons, Icon icon, const QString& title) override;

  // The texts of the boxes shown, in order.
  QStringList Texts() const;

  QList<Box> shown;
  QQueue<Answer> answers;

private:
  MessageBoxes* previous;
};
