#include "ui/resultsview.h"

#include "results/resultsmodel.h"

#include <QColor>
#include <QFont>

QVariant ResultsView::data(const QModelIndex& index, int role) const {
  if (role == Qt::ForegroundRole) {
    const int bgr = QIdentityProxyModel::data(index, ResultsModel::ColourRole).toInt();
    if (bgr == ResultsModel::Black)
      return {};
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
  }
  if (role == Qt::FontRole) {
    if (!QIdentityProxyModel::data(index, ResultsModel::BoldRole).toBool())
      return {};
    QFont font;
    font.setBold(true);
    return font;
  }
  return QIdentityProxyModel::data(index, role);
}
