#include "ui/viewsettings.h"

#include "settings/settingsstore.h"

#include <QStringList>

namespace ViewSettings {

namespace {

QString Read(const QString& group, const char* name) {
  return SettingsStore::GetRegString(group + QLatin1Char('/') + QLatin1String(name)).trimmed();
}

void Write(const QString& group, const char* name, const QString& value) {
  SettingsStore::SaveRegString(group + QLatin1Char('/') + QLatin1String(name), value);
}

bool Flag(const QString& group, const char* name) {
  return Read(group, name).compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
}

const char* const SpanNames[] = {"ThisRun", "LastHour", "Last24Hours", "Last7Days", "Last30Days", "All"};

} // namespace

std::optional<QRect> Geometry(const QString& window) {
  const QStringList parts = Read(window, "Geometry").split(QLatin1Char(','));
  if (parts.size() != 4)
    return std::nullopt;
  int numbers[4] = {};
  for (int i = 0; i < 4; ++i) {
    bool isNumber = false;
    numbers[i] = parts.at(i).trimmed().toInt(&isNumber);
    if (!isNumber)
      return std::nullopt;
  }
  const QRect geometry(numbers[0], numbers[1], numbers[2], numbers[3]);
  if (geometry.width() <= 0 || geometry.height() <= 0)
    return std::nullopt;
  return geometry;
}

void SetGeometry(const QString& window, const QRect& geometry) {
  Write(window, "Geometry",
        QStringLiteral("%1,%2,%3,%4").arg(geometry.x()).arg(geometry.y()).arg(geometry.width()).arg(geometry.height()));
}

std::optional<HistorySpan::Preset> SitesSpan() {
  const QString text = Read(Sites, "Span");
  for (int i = 0; i < int(std::size(SpanNames)); ++i)
    if (text.compare(QLatin1String(SpanNames[i]), Qt::CaseInsensitive) == 0)
      return HistorySpan::Preset(i);
  return std::nullopt;
}

void SetSitesSpan(HistorySpan::Preset preset) {
  Write(Sites, "Span", QLatin1String(SpanNames[int(preset)]));
}

QString SitesSortColumn() {
  return Read(Sites, "SortColumn");
}

bool SitesSortDescending() {
  return Read(Sites, "SortOrder").compare(QStringLiteral("descending"), Qt::CaseInsensitive) == 0;
}

void SetSitesSort(const QString& column, bool descending) {
  Write(Sites, "SortColumn", column);
  Write(Sites, "SortOrder", descending ? QStringLiteral("descending") : QStringLiteral("ascending"));
}

bool ChartPhases() {
  return Read(Chart, "View").compare(QStringLiteral("phases"), Qt::CaseInsensitive) == 0;
}

void SetChartPhases(bool phases) {
  Write(Chart, "View", phases ? QStringLiteral("phases") : QStringLiteral("latency"));
}

bool ChartLogScale() {
  return Flag(Chart, "LogScale");
}

void SetChartLogScale(bool on) {
  Write(Chart, "LogScale", on ? QStringLiteral("true") : QStringLiteral("false"));
}

} // namespace ViewSettings
