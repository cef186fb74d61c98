// The Prometheus figures: histogram buckets and counters follow the samples, label values are
// escaped, and the exposition passes Prometheus' own checker (promtool).
#include "platform/httpclient.h"
#include "results/metricsregistry.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

FetchResult Accepted(double seconds, bool tls = false) {
  FetchResult f;
  f.ok = true;
  f.seconds = seconds;
  f.totalUs = qint64(seconds * 1e6);
  f.dnsUs = 100;
  f.connectUs = 300;
  f.tlsUs = tls ? 2300 : -1;
  f.ttfbUs = f.totalUs - 50;
  return f;
}

FetchResult Failed(const QString& error) {
  FetchResult f;
  f.error = error;
  return f;
}

// The value of the one line of `text` that starts with `series` followed by a blank.
QString Value(const QByteArray& text, const QString& series) {
  for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n')))
    if (line.startsWith(series + QLatin1Char(' ')))
      return line.mid(series.size() + 1);
  return QStringLiteral("<none>");
}

} // namespace

class MetricsRegistryTest : public QObject {
  Q_OBJECT

private slots:
  void histogramCountsAcceptedSamples();
  void failuresAndLastSample();
  void phasesAreDurations();
  void labelValuesAreEscaped();
  void healthStatusCertificateAndIncidents();
  void promtoolAcceptsTheExposition();
};

void MetricsRegistryTest::histogramCountsAcceptedSamples() {
  MetricsRegistry metrics;
  const QString site = QStringLiteral("http://a.example");
  for (const double s : {0.004, 0.005, 0.02, 0.3, 75.0}) // 0.005 falls in its own bucket; 75 only in +Inf
    metrics.RecordSample(site, Accepted(s), QString(), 1000);
  metrics.RecordSample(site, Failed(QStringLiteral("Timed out")), QStringLiteral("Timed out"), 2000);
  const QByteArray text = metrics.Exposition();

  const QString prefix = QStringLiteral("tarvik_ping_seconds_bucket{url=\"http://a.example\",le=\"%1\"}");
  QCOMPARE(Value(text, prefix.arg(QStringLiteral("0.005"))), QStringLiteral("2"));
  QCOMPARE(Value(text, prefix.arg(QStringLiteral("0.01"))), QStringLiteral("2"));
  QCOMPARE(Value(text, prefix.arg(QStringLiteral("0.025"))), QStringLiteral("3"));
  QCOMPARE(Value(text, prefix.arg(QStringLiteral("0.5"))), QStringLiteral("4"));
  QCOMPARE(Value(text, prefix.arg(QStringLiteral("60"))), QStringLiteral("4"));
  QCOMPARE(Value(text, prefix.arg(QStringLiteral("+Inf"))), QStringLiteral("5"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_ping_seconds_count{url=\"http://a.example\"}")), QStringLiteral("5"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_ping_seconds_sum{url=\"http://a.example\"}")).toDouble(), 75.329);
}

void MetricsRegistryTest::failuresAndLastSample() {
  MetricsRegistry metrics;
  const QString site = QStringLiteral("http://b.example");
  metrics.RecordSample(site, Failed(QStringLiteral("Timed out")), QStringLiteral("Timed out"), 1000);
  metrics.RecordSample(site, Failed(QStringLiteral("Timed out")), QStringLiteral("Timed out"), 2000);
  metrics.RecordSample(site, Failed(QStringLiteral("Host not found")), QStringLiteral("Host not found"), 3500);
  metrics.RecordReference(2, 0.125);
  QByteArray text = metrics.Exposition();
  QCOMPARE(Value(text, QStringLiteral("tarvik_sample_failures_total{url=\"http://b.example\",reason=\"Timed out\"}")),
           QStringLiteral("2"));
  QCOMPARE(
      Value(text, QStringLiteral("tarvik_sample_failures_total{url=\"http://b.example\",reason=\"Host not found\"}")),
      QStringLiteral("1"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_last_sample_success{url=\"http://b.example\"}")), QStringLiteral("0"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_last_sample_timestamp_seconds{url=\"http://b.example\"}")),
           QStringLiteral("3.5"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_ping_seconds_count{url=\"http://b.example\"}")), QStringLiteral("0"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_reference_ping_seconds{ref=\"2\"}")), QStringLiteral("0.125"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_reference_ping_seconds{ref=\"1\"}")), QStringLiteral("<none>"));

  metrics.RecordSample(site, Accepted(0.2), QString(), 4000);
  text = metrics.Exposition();
  QCOMPARE(Value(text, QStringLiteral("tarvik_last_sample_success{url=\"http://b.example\"}")), QStringLiteral("1"));
}

void MetricsRegistryTest::phasesAreDurations() {
  MetricsRegistry metrics;
  metrics.RecordSample(QStringLiteral("https://c.example"), Accepted(0.01, true), QString(), 1);
  metrics.RecordSample(QStringLiteral("http://d.example"), Accepted(0.01, false), QString(), 1);
  const QByteArray text = metrics.Exposition();
  const QString c = QStringLiteral("tarvik_phase_seconds{url=\"https://c.example\",phase=\"%1\"}");
  QCOMPARE(Value(text, c.arg(QStringLiteral("resolve"))).toDouble(), 0.0001);
  QCOMPARE(Value(text, c.arg(QStringLiteral("connect"))).toDouble(), 0.0002);
  QCOMPARE(Value(text, c.arg(QStringLiteral("tls"))).toDouble(), 0.002);
  QCOMPARE(Value(text, c.arg(QStringLiteral("processing"))).toDouble(), 0.00765); // 9950 - 2300 µs
  QCOMPARE(Value(text, c.arg(QStringLiteral("transfer"))).toDouble(), 0.00005);
  const QString d = QStringLiteral("tarvik_phase_seconds{url=\"http://d.example\",phase=\"%1\"}");
  QCOMPARE(Value(text, d.arg(QStringLiteral("tls"))), QStringLiteral("<none>"));
  QCOMPARE(Value(text, d.arg(QStringLiteral("processing"))).toDouble(), 0.00965); // 9950 - 300 µs
}

void MetricsRegistryTest::labelValuesAreEscaped() {
  MetricsRegistry metrics;
  metrics.RecordSample(QStringLiteral("http://e.example/a\"b\\c\nd"), Failed(QStringLiteral("x")),
                       QStringLiteral("two\nlines \"quoted\""), 1);
  const QByteArray text = metrics.Exposition();
  QVERIFY2(text.contains("url=\"http://e.example/a\\\"b\\\\c\\nd\",reason=\"two\\nlines \\\"quoted\\\"\"} 1\n"),
           text.constData());
}

// The site's health follows its last sample that was not cancelled: up (slow too) or down, with its
// status; the certificate's end stays the last one told; incidents count per kind from 0.
void MetricsRegistryTest::healthStatusCertificateAndIncidents() {
  MetricsRegistry metrics;
  const QString site = QStringLiteral("https://f.example");
  const auto series = [&](const char* name) { return QStringLiteral("%1{url=\"%2\"}").arg(QLatin1String(name), site); };
  const auto record = [&](qint64 pingUs, int status, const QString& result, bool cancelled, qint64 notAfterMs) {
    metrics.RecordHealth(
        site, Health::Facts{.pingUs = pingUs, .cancelled = cancelled, .status = status, .result = result}, notAfterMs);
    return metrics.Exposition();
  };

  QByteArray text = metrics.Exposition();
  QCOMPARE(Value(text, series("tarvik_site_up")), QStringLiteral("<none>"));
  text = record(30000, 200, QStringLiteral(" => 0.01"), false, 1790000000000);
  QCOMPARE(Value(text, series("tarvik_site_up")), QStringLiteral("1"));
  QCOMPARE(Value(text, series("tarvik_http_status_code")), QStringLiteral("200"));
  QCOMPARE(Value(text, series("tarvik_tls_cert_not_after_seconds")).toDouble(), 1790000000.0);
  for (const char* kind : {"down", "slow", "certificate"})
    QCOMPARE(Value(text, QStringLiteral("tarvik_incidents_total{url=\"%1\",kind=\"%2\"}").arg(site, kind)),
             QStringLiteral("0"));

  text = record(30000, 404, QString(), false, -1);
  QCOMPARE(Value(text, series("tarvik_site_up")), QStringLiteral("0"));
  QCOMPARE(Value(text, series("tarvik_http_status_code")), QStringLiteral("404"));
  QCOMPARE(Value(text, series("tarvik_tls_cert_not_after_seconds")).toDouble(), 1790000000.0);
  text = record(30000, 200, QStringLiteral("Code"), false, -1);
  QCOMPARE(Value(text, series("tarvik_site_up")), QStringLiteral("0"));
  text = record(-1, 0, QStringLiteral("Connection refused"), false, -1);
  QCOMPARE(Value(text, series("tarvik_http_status_code")), QStringLiteral("0"));
  text = record(-1, 0, QStringLiteral("Cancelled"), true, -1);
  QCOMPARE(Value(text, series("tarvik_site_up")), QStringLiteral("0"));

  metrics.RecordIncident(site, QStringLiteral("down"));
  metrics.RecordIncident(site, QStringLiteral("down"));
  metrics.RecordIncident(site, QStringLiteral("certificate"));
  text = metrics.Exposition();
  QCOMPARE(Value(text, QStringLiteral("tarvik_incidents_total{url=\"%1\",kind=\"down\"}").arg(site)),
           QStringLiteral("2"));
  QCOMPARE(Value(text, QStringLiteral("tarvik_incidents_total{url=\"%1\",kind=\"certificate\"}").arg(site)),
           QStringLiteral("1"));
  // An http site has no certificate series.
  metrics.RecordHealth(QStringLiteral("http://g.example"),
                       Health::Facts{.pingUs = 1, .cancelled = false, .status = 200, .result = {}}, -1);
  QCOMPARE(Value(metrics.Exposition(), QStringLiteral("tarvik_tls_cert_not_after_seconds{url=\"http://g.example\"}")),
           QStringLiteral("<none>"));
}

void MetricsRegistryTest::promtoolAcceptsTheExposition() {
  const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
  if (promtool.isEmpty())
    QSKIP("promtool is not installed (Debian package prometheus)");
  MetricsRegistry metrics;
  metrics.RecordSample(QStringLiteral("https://c.example"), Accepted(0.01, true), QString(), 1);
  metrics.RecordSample(QStringLiteral("http://e.example/\"odd\"\\"), Failed(QStringLiteral("x")),
                       QStringLiteral("Connection refused"), 2);
  metrics.RecordReference(1, 0.05);
  metrics.RecordHealth(QStringLiteral("https://c.example"),
                       Health::Facts{.pingUs = 10000, .cancelled = false, .status = 200, .result = {}}, 1790000000000);
  metrics.RecordIncident(QStringLiteral("https://c.example"), QStringLiteral("slow"));

  QProcess check;
  check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
  QVERIFY(check.waitForStarted());
  check.write(metrics.Exposition());
  check.closeWriteChannel();
  QVERIFY(check.waitForFinished(30000));
  const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
  QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
}

QTEST_GUILESS_MAIN(MetricsRegistryTest)
#include "tst_metricsregistry.moc"
