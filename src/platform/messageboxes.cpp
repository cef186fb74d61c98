#include "platform/messageboxes.h"

#include <QCoreApplication>

namespace {

class SilentBoxes : public MessageBoxes {
public:
  Answer Show(const QString&, Buttons buttons, Icon, const QString&) override { return buttons == OkOnly ? Ok : No; }
};

SilentBoxes silentBoxes;
MessageBoxes* installed = nullptr;

} // namespace

MessageBoxes& MessageBoxes::Instance() {
  return installed ? *installed : silentBoxes;
}

void MessageBoxes::SetInstance(MessageBoxes* boxes) {
  installed = boxes;
}

MessageBoxes::Answer MessageBoxes::MsgBox(const QString& text, Buttons buttons, Icon icon, const QString& title) {
  return Instance().Show(text, buttons, icon, title.isEmpty() ? QCoreApplication::applicationName() : title);
}
