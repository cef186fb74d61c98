#include "platform/numbers.h"

#include <QLocale>
#include <QTest>

#include <cmath>
#include <limits>

class NumbersTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();

  void value_data();
  void value();

  void strict_data();
  void strict();

  void toInt16_data();
  void toInt16();
  void toInt32_data();
  void toInt32();

  void fixed3_data();
  void fixed3();

  void plain_data();
  void plain();

  void plainSingle_data();
  void plainSingle();

  void plainReadsBack();
};

void NumbersTest::initTestCase() {
  // A locale with a decimal comma must not change any reading or writing.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void NumbersTest::value_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<double>("expected");

  QTest::newRow("integer") << "42" << 42.0;
  QTest::newRow("decimal") << "12.031" << 12.031;
  QTest::newRow("leading blanks and tabs") << " \t 0.250" << 0.25;
  QTest::newRow("trailing text ignored") << "1.5 s" << 1.5;
  QTest::newRow("second point ends the number") << "1.2.3" << 1.2;
  QTest::newRow("negative") << "-3.5x" << -3.5;
  QTest::newRow("plus sign") << "+7" << 7.0;
  QTest::newRow("no digit before point") << ".5" << 0.5;
  QTest::newRow("point alone") << "." << 0.0;
  QTest::newRow("minus alone") << "-" << 0.0;
  QTest::newRow("sign then text") << "-abc" << 0.0;
  QTest::newRow("no exponent") << "1e3" << 1.0;
  QTest::newRow("comma is not a point") << "1,5" << 1.0;
  QTest::newRow("empty") << "" << 0.0;
  QTest::newRow("Sent") << "Sent" << 0.0;
  QTest::newRow("Failed") << "Failed" << 0.0;
  QTest::newRow("blank inside sign") << "- 3" << 0.0;
  QTest::newRow("newline is not a blank") << "\n5" << 0.0;
  QTest::newRow("leading zeros") << "020" << 20.0;
  QTest::newRow("tiny digits underflow to 0") << "0." + QString(400, '0') + "1" << 0.0;
  QTest::newRow("too many digits overflow") << "-" + QString(400, '9') << -std::numeric_limits<double>::infinity();
}

void NumbersTest::value() {
  QFETCH(QString, text);
  QFETCH(double, expected);
  QCOMPARE(Numbers::Value(text), expected);
}

void NumbersTest::strict_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("isNumber");
  QTest::addColumn<double>("expected");

  QTest::newRow("integer") << "3" << true << 3.0;
  QTest::newRow("decimal with blanks") << "  0.450 " << true << 0.45;
  QTest::newRow("negative") << "-1.5" << true << -1.5;
  QTest::newRow("plus") << "+2" << true << 2.0;
  QTest::newRow("exponent") << "1.5e2" << true << 150.0;
  QTest::newRow("exponent upper case signed") << "25E-1" << true << 2.5;
  QTest::newRow("point first") << ".5" << true << 0.5;
  QTest::newRow("point last") << "5." << true << 5.0;
  QTest::newRow("underflow is zero") << "1e-400" << true << 0.0;
  QTest::newRow("empty") << "" << false << 0.0;
  QTest::newRow("blank") << "   " << false << 0.0;
  QTest::newRow("Sent") << "Sent" << false << 0.0;
  QTest::newRow("trailing text") << "1.5 s" << false << 0.0;
  QTest::newRow("point alone") << "." << false << 0.0;
  QTest::newRow("sign alone") << "-" << false << 0.0;
  QTest::newRow("exponent without digits") << "1e" << false << 0.0;
  QTest::newRow("exponent alone") << "e5" << false << 0.0;
  QTest::newRow("comma") << "1,5" << false << 0.0;
  QTest::newRow("two points") << "1.2.3" << false << 0.0;
  QTest::newRow("inf word") << "inf" << false << 0.0;
  QTest::newRow("nan word") << "nan" << false << 0.0;
  QTest::newRow("hex") << "0x10" << false << 0.0;
  QTest::newRow("overflow") << "1e400" << false << 0.0;
  QTest::newRow("negative overflow") << "-0.01e312" << false << 0.0;
  QTest::newRow("huge exponent underflow") << "1e-99999999999999999999" << true << 0.0;
  QTest::newRow("largest double") << "1.7976931348623157e308" << true << std::numeric_limits<double>::max();
  QTest::newRow("plain form of the largest double") << "-1.79769313486231E+308" << true << -1.79769313486231e308;
}

void NumbersTest::strict() {
  QFETCH(QString, text);
  QFETCH(bool, isNumber);
  QFETCH(double, expected);
  const std::optional<double> result = Numbers::Strict(text);
  QCOMPARE(result.has_value(), isNumber);
  if (isNumber)
    QCOMPARE(*result, expected);
}

namespace {
void addRoundingRows() {
  QTest::addColumn<double>("value");
  QTest::addColumn<bool>("fits");
  QTest::addColumn<qint64>("expected");

  const double inf = std::numeric_limits<double>::infinity();
  QTest::newRow("2.5 to even") << 2.5 << true << qint64(2);
  QTest::newRow("3.5 to even") << 3.5 << true << qint64(4);
  QTest::newRow("-2.5 to even") << -2.5 << true << qint64(-2);
  QTest::newRow("-3.5 to even") << -3.5 << true << qint64(-4);
  QTest::newRow("0.5 to even") << 0.5 << true << qint64(0);
  QTest::newRow("below half") << 2.4999 << true << qint64(2);
  QTest::newRow("above half") << 2.5001 << true << qint64(3);
  QTest::newRow("22.5 to even") << 22.5 << true << qint64(22);
  QTest::newRow("nan") << std::nan("") << false << qint64(0);
  QTest::newRow("inf") << inf << false << qint64(0);
  QTest::newRow("-inf") << -inf << false << qint64(0);
}
} // namespace

void NumbersTest::toInt16_data() {
  addRoundingRows();
  QTest::newRow("max") << 32767.0 << true << qint64(32767);
  QTest::newRow("min") << -32768.0 << true << qint64(-32768);
  QTest::newRow("32767.4") << 32767.4 << true << qint64(32767);
  QTest::newRow("32767.5 rounds to 32768") << 32767.5 << false << qint64(0);
  QTest::newRow("32768.5") << 32768.5 << false << qint64(0);
  QTest::newRow("-32768.5 rounds to even -32768") << -32768.5 << true << qint64(-32768);
  QTest::newRow("-32769") << -32769.0 << false << qint64(0);
}

void NumbersTest::toInt16() {
  QFETCH(double, value);
  QFETCH(bool, fits);
  QFETCH(qint64, expected);
  const std::optional<qint16> result = Numbers::ToInt16(value);
  QCOMPARE(result.has_value(), fits);
  if (fits)
    QCOMPARE(qint64(*result), expected);
}

void NumbersTest::toInt32_data() {
  addRoundingRows();
  QTest::newRow("max") << 2147483647.0 << true << qint64(2147483647);
  QTest::newRow("min") << -2147483648.0 << true << qint64(-2147483648LL);
  QTest::newRow("max + 0.5 rounds up") << 2147483647.5 << false << qint64(0);
  QTest::newRow("min - 0.5 to even") << -2147483648.5 << true << qint64(-2147483648LL);
  QTest::newRow("min - 1") << -2147483649.0 << false << qint64(0);
  QTest::newRow("beyond 16 bits") << 40000.5 << true << qint64(40000);
  QTest::newRow("huge") << 1e300 << false << qint64(0);
}

void NumbersTest::toInt32() {
  QFETCH(double, value);
  QFETCH(bool, fits);
  QFETCH(qint64, expected);
  const std::optional<qint32> result = Numbers::ToInt32(value);
  QCOMPARE(result.has_value(), fits);
  if (fits)
    QCOMPARE(qint64(*result), expected);
}

void NumbersTest::fixed3_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("expected");

  QTest::newRow("0.25") << 0.25 << "0.250";
  QTest::newRow("1") << 1.0 << "1.000";
  QTest::newRow("0") << 0.0 << "0.000";
  QTest::newRow("12.031") << 12.031 << "12.031";
  QTest::newRow("average of three") << (0.3 + 0.12 + 0.45) / 3 << "0.290";
  QTest::newRow("round down") << 0.1234 << "0.123";
  QTest::newRow("half away from zero") << 0.0005 << "0.001";
  QTest::newRow("half not exact in binary") << 2.0005 << "2.001";
  QTest::newRow("1.0005 as written") << 1.0005 << "1.001";
  QTest::newRow("carry into whole part") << 9.9996 << "10.000";
  QTest::newRow("carry adds a digit") << 999.9995 << "1000.000";
  QTest::newRow("negative") << -1.5 << "-1.500";
  QTest::newRow("negative half away") << -2.0005 << "-2.001";
  QTest::newRow("negative rounding to zero has no sign") << -0.0004 << "0.000";
  QTest::newRow("negative zero") << -0.0 << "0.000";
  QTest::newRow("tiny") << 1e-300 << "0.000";
  QTest::newRow("large") << 123456789.0 << "123456789.000";
  QTest::newRow("1e20") << 1e20 << "100000000000000000000.000";
  QTest::newRow("nan") << std::nan("") << "nan";
}

void NumbersTest::fixed3() {
  QFETCH(double, value);
  QFETCH(QString, expected);
  QCOMPARE(Numbers::Fixed3(value), expected);
}

void NumbersTest::plain_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<QString>("expected");

  QTest::newRow("0.25") << 0.25 << "0.25";
  QTest::newRow("1") << 1.0 << "1";
  QTest::newRow("12.031") << 12.031 << "12.031";
  QTest::newRow("0") << 0.0 << "0";
  QTest::newRow("-0") << -0.0 << "0";
  QTest::newRow("negative") << -0.45 << "-0.45";
  QTest::newRow("trailing zeros of integers stay") << 1500.0 << "1500";
  QTest::newRow("binary noise cut at 15 digits") << 0.1 + 0.2 << "0.3";
  QTest::newRow("sum carried through text") << 0.3 + 0.12 + 0.45 << "0.87";
  QTest::newRow("15 significant digits") << 1.0 / 3 << "0.333333333333333";
  QTest::newRow("rounded at the 15th digit") << 2.0 / 3 << "0.666666666666667";
  QTest::newRow("1e-5 without exponent") << 1e-5 << "0.00001";
  QTest::newRow("below 1e-5 with exponent") << 1.5e-6 << "1.5E-06";
  QTest::newRow("just below 1e15") << 999999999999999.0 << "999999999999999";
  QTest::newRow("1e15 with exponent") << 1e15 << "1E+15";
  QTest::newRow("rounds up to 1e15") << 999999999999999.9 << "1E+15";
  QTest::newRow("large with exponent") << -2.5e100 << "-2.5E+100";
  QTest::newRow("tiny negative") << -1e-300 << "-1E-300";
  QTest::newRow("largest double: not rounded beyond it")
      << std::numeric_limits<double>::max() << "1.79769313486231E+308";
  QTest::newRow("inf") << std::numeric_limits<double>::infinity() << "inf";
}

void NumbersTest::plain() {
  QFETCH(double, value);
  QFETCH(QString, expected);
  QCOMPARE(Numbers::Plain(value), expected);
}

void NumbersTest::plainSingle_data() {
  QTest::addColumn<float>("value");
  QTest::addColumn<QString>("expected");

  QTest::newRow("1.523") << 1.523f << "1.523";
  QTest::newRow("22") << 22.0f << "22";
  QTest::newRow("0") << 0.0f << "0";
  QTest::newRow("-0") << -0.0f << "0";
  QTest::newRow("below 1") << 0.25f << "0.25";
  QTest::newRow("7 significant digits") << 1.0f / 3 << "0.3333333";
  QTest::newRow("rounded at the 7th digit") << 12345678.0f << "12345680";
  QTest::newRow("sum of singles") << 21.0f + 24.0f << "45";
}

void NumbersTest::plainSingle() {
  QFETCH(float, value);
  QFETCH(QString, expected);
  QCOMPARE(Numbers::PlainSingle(value), expected);
}

void NumbersTest::plainReadsBack() {
  // A running sum is carried from row to row through its plain text; that text must read back as
  // the same value to 15 digits, whatever the magnitude.
  const double values[] = {0.001, 0.123456789012345, 3.25, 1234.5678, 98765432109.875, 1e-5, 7e14};
  for (double v : values) {
    const QString text = Numbers::Plain(v);
    const std::optional<double> back = Numbers::Strict(text);
    QVERIFY2(back.has_value(), qPrintable(text));
    QVERIFY2(std::fabs(*back - v) <= std::fabs(v) * 1e-14, qPrintable(text));
    QCOMPARE(Numbers::Value(text), *back);
  }
}

QTEST_GUILESS_MAIN(NumbersTest)
#include "tst_numbers.moc"
