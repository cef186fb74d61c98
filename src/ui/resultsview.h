#pragma once

#include <QIdentityProxyModel>

// Shows the results model's row colour and bold flag as the view's foreground and font.
class ResultsView : public QIdentityProxyModel {
  Q_OBJECT
public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};
