#include "settings/accountid.h"
#include "settings/valuecodec.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

using ValueCodec::DecodeValue;
using ValueCodec::EncodeValue;

class ValueCodecTest : public QObject {
  Q_OBJECT

private slots:
  void knownVector();
  void roundTrip_data();
  void roundTrip();
  void shortPlainIsExtended();
  void charactersOutsideLatin1();
  void emptyKey();
  void malformed_data();
  void malformed();

  void accountIdForm();
  void accountIdDraws();
  void accountIdValidity_data();
  void accountIdValidity();
};

void ValueCodecTest::knownVector() {
  // "0" ^ "T" = 0x30 ^ 0x54 = 0x64, "1" ^ "a" = 0x31 ^ 0x61 = 0x50, "6" ^ "r" = 0x36 ^ 0x72 = 0x44,
  // ... and the key starts again at the seventh character: "0" ^ "T" = 0x64.
  const QString encoded = EncodeValue(QStringLiteral("016001020"), QStringLiteral("Tarvik"));
  QCOMPARE(encoded, QStringLiteral("64504446595A645342"));
  QCOMPARE(DecodeValue(encoded, QStringLiteral("Tarvik")), QStringLiteral("016001020"));
}

void ValueCodecTest::roundTrip_data() {
  QTest::addColumn<QString>("plain");
  QTest::addColumn<QString>("key");

  QTest::newRow("identifier") << "A1B.C2D.E3F.G4H."
                              << "Tarvik";
  QTest::newRow("as long as the key") << "abcdef"
                                      << "Tarvik";
  QTest::newRow("key equal to the plain characters") << "Tarvik"
                                                     << "Tarvik";
  QTest::newRow("control and high Latin-1") << QString::fromUtf8("\x01\t\r\nÿé~ \x7f") << "Tarvik";
  QTest::newRow("one-character key") << "hello world"
                                     << "k";
  QTest::newRow("long text") << QString(1000, 'x') << "Tarvik";
}

void ValueCodecTest::roundTrip() {
  QFETCH(QString, plain);
  QFETCH(QString, key);
  const QString encoded = EncodeValue(plain, key);
  QCOMPARE(encoded.size(), plain.size() * 2);
  QVERIFY2(QRegularExpression(QStringLiteral("\\A[0-9A-F]*\\z")).match(encoded).hasMatch(), qPrintable(encoded));
  QCOMPARE(DecodeValue(encoded, key), plain);
  // Lower-case hexadecimal digits read the same.
  QCOMPARE(DecodeValue(encoded.toLower(), key), plain);
}

void ValueCodecTest::shortPlainIsExtended() {
  // A plain text shorter than the key is padded with "." and the start of the application title
  // up to the key's length, and decoding keeps the padding.
  const QString key = QStringLiteral("Tarvik-key");
  QCOMPARE(DecodeValue(EncodeValue(QStringLiteral("ab"), key), key), QStringLiteral("ab.Tarvik"));
  QCOMPARE(DecodeValue(EncodeValue(QStringLiteral(""), QStringLiteral("Tarvik")), QStringLiteral("Tarvik")),
           QStringLiteral(".Tarvi"));
  QCOMPARE(DecodeValue(EncodeValue(QStringLiteral("abcde"), QStringLiteral("Tarvik")), QStringLiteral("Tarvik")),
           QStringLiteral("abcde."));
}

void ValueCodecTest::charactersOutsideLatin1() {
  // Only single-byte codes can be stored; anything above 255 becomes "?".
  const QString key = QStringLiteral("Tarvik");
  QCOMPARE(DecodeValue(EncodeValue(QStringLiteral("a\u20ACbcdef"), key), key), QStringLiteral("a?bcdef"));
  QCOMPARE(EncodeValue(QStringLiteral("abcdef"), QStringLiteral("\u20AC")),
           EncodeValue(QStringLiteral("abcdef"), QStringLiteral("?")));
}

void ValueCodecTest::emptyKey() {
  QCOMPARE(EncodeValue(QStringLiteral("AZ"), QString()), QStringLiteral("415A"));
  QCOMPARE(DecodeValue(QStringLiteral("415A"), QString()), QStringLiteral("AZ"));
}

void ValueCodecTest::malformed_data() {
  QTest::addColumn<QString>("encoded");

  QTest::newRow("odd length") << "64504";
  QTest::newRow("single character") << "6";
  QTest::newRow("not hex") << "64G0";
  QTest::newRow("bad pair at the end") << "64504446595A6453 2";
  QTest::newRow("sign in a pair") << "-1";
  QTest::newRow("blank pair") << "  ";
  QTest::newRow("non-ASCII digit") << QString::fromUtf8("6\u0663");
  QTest::newRow("plain text") << "016001020x";
}

void ValueCodecTest::malformed() {
  QFETCH(QString, encoded);
  QCOMPARE(DecodeValue(encoded, QStringLiteral("Tarvik")), QString());
}

void ValueCodecTest::accountIdForm() {
  const QRegularExpression form(QStringLiteral("\\A([0-9A-Z]{3}\\.){4}\\z"));
  QSet<QChar> seen;
  for (int i = 0; i < 2000; ++i) {
    const QString id = AccountId::MakeAccountId();
    QVERIFY2(form.match(id).hasMatch(), qPrintable(id));
    QVERIFY(AccountId::IsValid(id));
    QCOMPARE(EncodeValue(id, QStringLiteral("Tarvik")).size(), 32);
    for (QChar c : id)
      seen.insert(c);
  }
  // Every digit and letter turns up (37 with the dot); a generator stuck on a subset would not.
  QCOMPARE(seen.size(), 37);
}

void ValueCodecTest::accountIdDraws() {
  QSet<QString> ids;
  for (int i = 0; i < 100; ++i)
    ids.insert(AccountId::MakeAccountId());
  QCOMPARE(ids.size(), 100);
}

void ValueCodecTest::accountIdValidity_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("valid");

  QTest::newRow("valid") << "A1B.C2D.E3F.G4H." << true;
  QTest::newRow("all digits") << "000.999.123.456." << true;
  QTest::newRow("without last dot") << "A1B.C2D.E3F.G4H" << false;
  QTest::newRow("lower case") << "a1b.C2D.E3F.G4H." << false;
  QTest::newRow("five groups") << "A1B.C2D.E3F.G4H.IJK." << false;
  QTest::newRow("group of four") << "A1BC.2D.E3F.G4H." << false;
  QTest::newRow("trailing newline") << "A1B.C2D.E3F.G4H.\n" << false;
  QTest::newRow("padding of a short decode") << ".Tarv" << false;
  QTest::newRow("empty") << "" << false;
}

void ValueCodecTest::accountIdValidity() {
  QFETCH(QString, text);
  QFETCH(bool, valid);
  QCOMPARE(AccountId::IsValid(text), valid);
}

QTEST_GUILESS_MAIN(ValueCodecTest)
#include "tst_valuecodec.moc"
