#include "results/metricsregistry.h"

#include "platform/httpclient.h"

#include <QLocale>
#include <QTextStream>

#include <algorithm>

namespace {

// A label value as the exposition format wants it: backslash, double quote and line feed escaped.
QString LabelValue(const QString& value) {
  QString escaped;
  escaped.reserve(value.size());
  for (const QChar c : value) {
    if (c == QLatin1Char('\\'))
      escaped += QLatin1String("\\\\");
    else if (c == QLatin1Char('"'))
      escaped += QLatin1String("\\\"");
    else if (c == QLatin1Char('\n'))
      escaped += QLatin1String("\\n");
    else
      escaped += c;
  }
  return escaped;
}

// The label of a site: url="<address>".
QString UrlLabel(const QString& url) {
  return QStringLiteral("url=\"") + LabelValue(url) + QLatin1Char('"');
}

// A sample value in its shortest form that reads back exactly ("0.005", "1", "2.5e-05").
QString Number(double value) {
  return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// The phases of a fetch as durations in seconds, from libcurl's cumulative times.
std::map<QString, double> Phases(const FetchResult& f) {
  std::map<QString, double> phases;
  const auto span = [&phases](const char* name, qint64 from, qint64 to) {
    if (from >= 0 && to >= from)
      phases[QString::fromLatin1(name)] = double(to - from) / 1e6;
  };
  span("resolve", 0, f.dnsUs);
  span("connect", f.dnsUs, f.connectUs);
  span("tls", f.connectUs, f.tlsUs);
  span("processing", std::max(f.connectUs, f.tlsUs), f.ttfbUs);
  span("transfer", f.ttfbUs, f.totalUs);
  return phases;
}

} // namespace

void MetricsRegistry::RecordSample(const QString& url, const FetchResult& fetched, const QString& failure,
                                   qint64 atMs) {
  Site& site = sites[url];
  site.lastOk = fetched.ok;
  site.lastAtMs = atMs;
  if (!fetched.ok) {
    ++site.failures[failure];
    return;
  }
  const auto bucket = std::lower_bound(Buckets.begin(), Buckets.end(), fetched.seconds);
  if (bucket != Buckets.end())
    ++site.buckets[std::size_t(bucket - Buckets.begin())];
  ++site.count;
  site.sum += fetched.seconds;
  site.phases = Phases(fetched);
}

void MetricsRegistry::RecordHealth(const QString& url, const Health::Facts& facts, qint64 certNotAfterMs) {
  if (facts.cancelled)
    return;
  Site& site = sites[url];
  // Up and slow are both up: the warning value does not matter here.
  site.up = Health::Judge(facts, qQNaN()).Up() ? 1 : 0;
  site.status = facts.status;
  if (certNotAfterMs >= 0)
    site.certNotAfterMs = certNotAfterMs;
  for (const char* kind : {"down", "slow", "certificate"})
    site.incidents.try_emplace(QString::fromLatin1(kind), 0);
}

void MetricsRegistry::RecordIncident(const QString& url, const QString& kind) {
  ++sites[url].incidents[kind];
}

void MetricsRegistry::RecordReference(int reference, double seconds) {
  if (reference == 1 || reference == 2)
    references[std::size_t(reference - 1)] = seconds;
}

void MetricsRegistry::KeepOnly(const QStringList& urls) {
  std::erase_if(sites, [&urls](const auto& site) { return !urls.contains(site.first); });
}

QByteArray MetricsRegistry::Exposition() const {
  QString text;
  QTextStream out(&text);
  const auto header = [&out](const char* name, const char* type, const char* help) {
    out << "# HELP " << name << ' ' << help << '\n' << "# TYPE " << name << ' ' << type << '\n';
  };

  header("tarvik_ping_seconds", "histogram", "Time of a whole sample request, from its start to the last byte.");
  for (const auto& [url, site] : sites) {
    const QString label = UrlLabel(url);
    quint64 cumulative = 0;
    for (std::size_t i = 0; i < Buckets.size(); ++i) {
      cumulative += site.buckets[i];
      out << "tarvik_ping_seconds_bucket{" << label << ",le=\"" << Number(Buckets[i]) << "\"} " << cumulative << '\n';
    }
    out << "tarvik_ping_seconds_bucket{" << label << ",le=\"+Inf\"} " << site.count << '\n';
    out << "tarvik_ping_seconds_sum{" << label << "} " << Number(site.sum) << '\n';
    out << "tarvik_ping_seconds_count{" << label << "} " << site.count << '\n';
  }

  header("tarvik_sample_failures_total", "counter", "Samples that failed, by reason.");
  for (const auto& [url, site] : sites)
    for (const auto& [reason, count] : site.failures)
      out << "tarvik_sample_failures_total{" << UrlLabel(url) << ",reason=\"" << LabelValue(reason) << "\"} " << count
          << '\n';

  header("tarvik_phase_seconds", "gauge", "Duration of each phase of the last accepted sample.");
  for (const auto& [url, site] : sites)
    for (const auto& [phase, seconds] : site.phases)
      out << "tarvik_phase_seconds{" << UrlLabel(url) << ",phase=\"" << phase << "\"} " << Number(seconds) << '\n';

  header("tarvik_last_sample_success", "gauge", "1 when the last sample of the site was accepted, else 0.");
  for (const auto& [url, site] : sites)
    out << "tarvik_last_sample_success{" << UrlLabel(url) << "} " << (site.lastOk ? 1 : 0) << '\n';

  header("tarvik_last_sample_timestamp_seconds", "gauge", "When the last sample of the site ended.");
  for (const auto& [url, site] : sites)
    out << "tarvik_last_sample_timestamp_seconds{" << UrlLabel(url) << "} " << Number(double(site.lastAtMs) / 1000)
        << '\n';

  header("tarvik_site_up", "gauge", "1 when the last sample of the site was up (2xx and the marker file), else 0.");
  for (const auto& [url, site] : sites)
    if (site.up >= 0)
      out << "tarvik_site_up{" << UrlLabel(url) << "} " << site.up << '\n';

  header("tarvik_http_status_code", "gauge", "The HTTP status of the last sample of the site; 0 when none came.");
  for (const auto& [url, site] : sites)
    if (site.up >= 0)
      out << "tarvik_http_status_code{" << UrlLabel(url) << "} " << site.status << '\n';

  header("tarvik_tls_cert_not_after_seconds", "gauge",
         "When the earliest of the certificates the site's server sent ends (Unix time).");
  for (const auto& [url, site] : sites)
    if (site.certNotAfterMs >= 0)
      out << "tarvik_tls_cert_not_after_seconds{" << UrlLabel(url) << "} " << Number(double(site.certNotAfterMs) / 1000)
          << '\n';

  header("tarvik_incidents_total", "counter", "Incidents of the site begun, by kind.");
  for (const auto& [url, site] : sites)
    for (const auto& [kind, count] : site.incidents)
      out << "tarvik_incidents_total{" << UrlLabel(url) << ",kind=\"" << LabelValue(kind) << "\"} " << count << '\n';

  header("tarvik_reference_ping_seconds", "gauge", "The last time of each reference address.");
  for (std::size_t i = 0; i < references.size(); ++i)
    if (references[i] >= 0)
      out << "tarvik_reference_ping_seconds{ref=\"" << (i + 1) << "\"} " << Number(references[i]) << '\n';

  header("tarvik_build_info", "gauge", "The program's version.");
  out << "tarvik_build_info{version=\"" << TARVIK_VERSION_TEXT << "\"} 1\n";
  out.flush();
  return text.toUtf8();
}
