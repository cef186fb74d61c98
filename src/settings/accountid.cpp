#include "settings/accountid.h"

#include <QRandomGenerator>
#include <QRegularExpression>

namespace AccountId {

QString MakeAccountId() {
  static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  QString id;
  id.reserve(16);
  for (int group = 0; group < 4; ++group) {
    for (int i = 0; i < 3; ++i)
      id += QLatin1Char(alphabet[QRandomGenerator::system()->bounded(36)]);
    id += QLatin1Char('.');
  }
  return id;
}

bool IsValid(const QString& text) {
  static const QRegularExpression form(QStringLiteral("\\A(?:[0-9A-Z]{3}\\.){4}\\z"));
  return form.match(text).hasMatch();
}

} // namespace AccountId
