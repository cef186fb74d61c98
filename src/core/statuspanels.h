#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The texts of a status bar's panels, numbered from 1. The engine writes and reads them here; the
// status bar widget shows them.
class StatusPanels : public QObject {
  Q_OBJECT
public:
  explicit StatusPanels(int count, const QStringList& initial = {}, QObject* parent = nullptr);

  int Count() const { return int(texts.size()); }
  // Panel n (1-based); "" for a number outside the bar.
  QString Text(int n) const;
  void SetText(int n, const QString& text);

signals:
  void Changed(int n, const QString& text);

private:
  QStringList texts;
};
