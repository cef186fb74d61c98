// The health of a sample: up, slow, down with its cause, or cancelled, from what the row holds. The
// same verdict whether the Result comes as the table's text or as the history file's UTF-8 bytes.
#include "core/health.h"

#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(Health::State)

class HealthTest : public QObject {
  Q_OBJECT

private slots:
  void judge_data() {
    QTest::addColumn<qint64>("pingUs");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("result");
    QTest::addColumn<double>("warning1");
    QTest::addColumn<Health::State>("state");
    QTest::addColumn<QString>("cause");
    QTest::addColumn<bool>("answered");

    using S = Health::State;
    // clang-format off
    QTest::newRow("marker")                << qint64(12000)    << false << 200 << ""         << 1.0 << S::Up   << "" << false;
    QTest::newRow("204 with the marker")   << qint64(12000)    << false << 204 << ""         << 1.0 << S::Up   << "" << false;
    QTest::newRow("blue mark")             << qint64(1200000)  << false << 200 << " => 1"    << 1.0 << S::Slow << "" << false;
    QTest::newRow("red mark")              << qint64(25000000) << false << 200 << " => 20"   << 1.0 << S::Slow << "" << false;
    QTest::newRow("at the warning")        << qint64(1000000)  << false << 200 << " => 1"    << 1.0 << S::Slow << "" << false;
    // The table shows 0.9995 s as 1.000, which it marks; 0.999499 s as 0.999, which it does not.
    QTest::newRow("shown as 1.000")        << qint64(999500)   << false << 200 << " => 1"    << 1.0 << S::Slow << "" << false;
    QTest::newRow("shown as 0.999")        << qint64(999499)   << false << 200 << ""         << 1.0 << S::Up   << "" << false;
    QTest::newRow("fractional warning")    << qint64(1500000)  << false << 200 << " => 1.5"  << 1.5 << S::Slow << "" << false;
    QTest::newRow("no warning value")      << qint64(9000000)  << false << 200 << ""         << qQNaN() << S::Up << "" << false;
    QTest::newRow("404 with the marker")   << qint64(3000)     << false << 404 << ""         << 1.0 << S::Down << "HTTP 404" << true;
    QTest::newRow("404 page")              << qint64(3000)     << false << 404 << "Code"     << 1.0 << S::Down << "HTTP 404" << true;
    QTest::newRow("slow 500")              << qint64(3000000)  << false << 500 << "TXT"      << 1.0 << S::Down << "HTTP 500" << true;
    QTest::newRow("199")                   << qint64(3000)     << false << 199 << ""         << 1.0 << S::Down << "HTTP 199" << true;
    QTest::newRow("300")                   << qint64(3000)     << false << 300 << ""         << 1.0 << S::Down << "HTTP 300" << true;
    QTest::newRow("html page")             << qint64(3000)     << false << 200 << "Code"     << 1.0 << S::Down << "Code"  << true;
    QTest::newRow("other text")            << qint64(3000)     << false << 200 << "TXT"      << 1.0 << S::Down << "TXT"   << true;
    QTest::newRow("empty body")            << qint64(3000)     << false << 200 << "Empty"    << 1.0 << S::Down << "Empty" << true;
    QTest::newRow("something like a mark") << qint64(3000)     << false << 200 << " =>1"     << 1.0 << S::Down << " =>1"  << true;
    QTest::newRow("refused")               << qint64(-1)       << false << 0   << "Connection refused" << 1.0 << S::Down << "Connection refused" << false;
    QTest::newRow("timed out mid-answer")  << qint64(-1)       << false << 200 << "Timed out" << 1.0 << S::Down << "Timed out" << false;
    QTest::newRow("cancelled")             << qint64(-1)       << true  << 0   << "Cancelled" << 1.0 << S::Cancelled << "" << false;
    // clang-format on
  }

  void judge() {
    QFETCH(qint64, pingUs);
    QFETCH(bool, cancelled);
    QFETCH(int, status);
    QFETCH(QString, result);
    QFETCH(double, warning1);
    QFETCH(Health::State, state);
    QFETCH(QString, cause);
    QFETCH(bool, answered);

    const QByteArray bytes = result.toUtf8();
    // The window hands the Result as the table's text, the history as the file's UTF-8 bytes.
    for (const QAnyStringView view : {QAnyStringView(result), QAnyStringView(QUtf8StringView(bytes))}) {
      const Health::Facts facts{.pingUs = pingUs, .cancelled = cancelled, .status = status, .result = view};
      const Health::Verdict verdict = Health::Judge(facts, warning1);
      QCOMPARE(verdict.state, state);
      QCOMPARE(Health::CauseText(verdict, facts), cause);
      QCOMPARE(verdict.Answered(), answered);
      QCOMPARE(verdict.Up(), state == Health::State::Up || state == Health::State::Slow);
      QCOMPARE(verdict.Down(), state == Health::State::Down);
    }
  }

  void expiryText_data() {
    QTest::addColumn<qint64>("msLeft");
    QTest::addColumn<QString>("text");
    const qint64 day = 86400 * 1000;
    QTest::newRow("weeks") << 23 * day + 5 << "expires in 23 days";
    QTest::newRow("just under two days") << 2 * day - 1 << "expires in 1 day";
    QTest::newRow("a day") << day << "expires in 1 day";
    QTest::newRow("hours") << day - 1 << "expires in less than a day";
    QTest::newRow("now") << qint64(0) << "expired";
    QTest::newRow("past") << -day << "expired";
  }
  void expiryText() {
    QFETCH(qint64, msLeft);
    QFETCH(QString, text);
    QCOMPARE(Health::ExpiryText(msLeft), text);
  }
};

QTEST_GUILESS_MAIN(HealthTest)
#include "tst_health.moc"
