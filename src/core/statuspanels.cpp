#include "core/statuspanels.h"

StatusPanels::StatusPanels(int count, const QStringList& initial, QObject* parent) : QObject(parent) {
  for (int i = 0; i < count; ++i)
    texts.append(i < initial.size() ? initial.at(i) : QString());
}

QString StatusPanels::Text(int n) const {
  return n >= 1 && n <= texts.size() ? texts.at(n - 1) : QString();
}

void StatusPanels::SetText(int n, const QString& text) {
  if (n < 1 || n > texts.size() || texts.at(n - 1) == text)
    return;
  texts[n - 1] = text;
  emit Changed(n, text);
}
