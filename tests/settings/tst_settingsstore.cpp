#include "settings/accountid.h"
#include "settings/settingsstore.h"
#include "settings/valuecodec.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace SettingsStore;

namespace {
QString Encoded(const QString& plain) {
  return ValueCodec::EncodeValue(plain, QStringLiteral("Tarvik"));
}
} // namespace

class SettingsStoreTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void init();

  void firstRunSetupWritesDefaults();
  void valuesRoundTrip_data();
  void valuesRoundTrip();
  void nonStringValues();
  void unreadableStore_data();
  void unreadableStore();

  void readWithFallback_data();
  void readWithFallback();

  void damagedAccountId_data();
  void damagedAccountId();
  void missingAccountIdIsNotDamaged();
  void otherStoresAreNotRead();

private:
  QString StoreFile() const { return QDir(config.path()).filePath(QStringLiteral("Velmora/vmTARVIK.conf")); }
  void WriteStoreFile(const QByteArray& content);

  QTemporaryDir config;
};

void SettingsStoreTest::initTestCase() {
  QVERIFY(config.isValid());
  QStandardPaths::setTestModeEnabled(false);
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(config.filePath(QStringLiteral("system"))));
}

void SettingsStoreTest::init() {
  QFile::setPermissions(StoreFile(), QFile::ReadOwner | QFile::WriteOwner);
  QDir(QFileInfo(StoreFile()).path()).removeRecursively();
}

// Replaces the store file behind the program's back, as another program or an editor would.
void SettingsStoreTest::WriteStoreFile(const QByteArray& content) {
  QDir().mkpath(QFileInfo(StoreFile()).path());
  QFile file(StoreFile());
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(content);
  // A time stamp of its own, so the change is seen even when size and time would match the last read.
  static int writes = 0;
  QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(++writes), QFileDevice::FileModificationTime));
  file.close();
}

void SettingsStoreTest::firstRunSetupWritesDefaults() {
  FirstRunSetup();

  QVERIFY2(QFile::exists(StoreFile()), qPrintable(StoreFile()));
  const QString id = ValueCodec::DecodeValue(GetRegString(QStringLiteral("101")), QStringLiteral("Tarvik"));
  QVERIFY2(AccountId::IsValid(id), qPrintable(id));
  QCOMPARE(GetRegString(QStringLiteral("101")).size(), 32);
  QCOMPARE(GetAccountId(), id);
  QVERIFY(!AccountIdDamaged());
  QCOMPARE(GetRegString(QStringLiteral("102")), Encoded(QStringLiteral("016001020")));
  QCOMPARE(GetRegString(QStringLiteral("102")).size(), 18);
  QCOMPARE(GetRegString(QStringLiteral("103")), QString());
  QCOMPARE(GetRegString(QStringLiteral("104")), QString());
  QCOMPARE(GetRegString(QStringLiteral("105")), QStringLiteral("0000"));
  QCOMPARE(GetRegString(QStringLiteral("106")), QStringLiteral("11000110100100110101"));

  const StoredOptions options = LoadSettings();
  QCOMPARE(options.samplers, QStringLiteral("1"));
  QCOMPARE(options.delay, QStringLiteral("60"));
  QCOMPARE(options.warning1, QStringLiteral("1"));
  QCOMPARE(options.warning2, QStringLiteral("20"));
  QCOMPARE(options.runLength, QString());
  QCOMPARE(options.keepCount, QString());
  QCOMPARE(options.options, QStringLiteral("0000"));

  // The file itself holds the seven names as written, readable by any INI reader.
  QFile file(StoreFile());
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  QVERIFY2(content.contains("\n105=0000"), content.constData());
  QVERIFY2(content.contains("\n106=11000110100100110101"), content.constData());
}

void SettingsStoreTest::valuesRoundTrip_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("value");

  QTest::newRow("program folder") << "100"
                                  << "/home/user/My Programs/tarvik";
  QTest::newRow("windows path") << "100"
                                << "C:\\Program Files\\Tarvik";
  QTest::newRow("comma") << "103"
                         << "1, 2";
  QTest::newRow("quotes and semicolon") << "104"
                                        << "\"x\"; y=z # w";
  QTest::newRow("leading at sign") << "104"
                                   << "@Variant(x)";
  QTest::newRow("blanks around") << "103"
                                 << "  12  ";
  QTest::newRow("non-ASCII") << "100" << QString::fromUtf8("/home/jürgen/сайт");
  QTest::newRow("line break") << "103"
                              << "a\r\nb";
  QTest::newRow("empty") << "105"
                         << "";
}

void SettingsStoreTest::valuesRoundTrip() {
  QFETCH(QString, name);
  QFETCH(QString, value);
  SaveRegString(name, value);
  QCOMPARE(GetRegString(name), value);

  // Read back from the file alone: what another start of the program would see.
  QFile file(StoreFile());
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  file.close();
  QFile::remove(StoreFile());
  QCOMPARE(GetRegString(name), QString());
  WriteStoreFile(content);
  QCOMPARE(GetRegString(name), value);
}

void SettingsStoreTest::nonStringValues() {
  {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmora"),
                       QStringLiteral("vmTARVIK"));
    settings.setValue(QStringLiteral("103"), 42);
    settings.setValue(QStringLiteral("104"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
    settings.setValue(QStringLiteral("105"), QVariantMap{{QStringLiteral("k"), 1}});
    settings.setValue(QStringLiteral("106"), QByteArray("raw"));
  }
  QCOMPARE(GetRegString(QStringLiteral("103")), QStringLiteral("42")); // a number reads as its text
  QCOMPARE(GetRegString(QStringLiteral("104")), QString());
  QCOMPARE(GetRegString(QStringLiteral("105")), QString());
  QCOMPARE(GetRegString(QStringLiteral("106")), QString());
  QCOMPARE(GetRegString(QStringLiteral("107")), QString()); // missing

  // The same from a file written by hand: an unquoted comma makes a list, not a text.
  WriteStoreFile("[General]\n102=6450, 4446\n103=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x7)\n105=\n");
  QCOMPARE(GetRegString(QStringLiteral("102")), QString());
  QCOMPARE(GetRegString(QStringLiteral("103")), QStringLiteral("7"));
  QCOMPARE(GetRegString(QStringLiteral("105")), QString());
  QCOMPARE(LoadSettings().delay, QStringLiteral("60"));
}

void SettingsStoreTest::unreadableStore_data() {
  QTest::addColumn<bool>("directory");
  QTest::newRow("directory in place of the file") << true;
  QTest::newRow("file without read permission") << false;
}

void SettingsStoreTest::unreadableStore() {
  QFETCH(bool, directory);
  if (!directory && geteuid() == 0)
    QSKIP("Running as root, which reads files regardless of their permissions");

  SaveRegString(QStringLiteral("105"), QStringLiteral("1001"));
  SaveRegString(QStringLiteral("101"), Encoded(QStringLiteral("A1B.C2D.E3F.G4H.")));
  QCOMPARE(GetRegString(QStringLiteral("105")), QStringLiteral("1001"));

  if (directory) {
    QVERIFY(QFile::remove(StoreFile()));
    QVERIFY(QDir().mkdir(StoreFile()));
  } else {
    QVERIFY(QFile::setPermissions(StoreFile(), QFileDevice::Permissions()));
  }

  QCOMPARE(GetRegString(QStringLiteral("105")), QString());
  QCOMPARE(GetAccountId(), QString());
  QVERIFY(!AccountIdDamaged()); // an unreadable "101" is no value at all
  const StoredOptions options = LoadSettings();
  QCOMPARE(options.samplers, QStringLiteral("1"));
  QCOMPARE(options.warning2, QStringLiteral("20"));
  QCOMPARE(options.options, QString());
  SaveRegString(QStringLiteral("103"), QStringLiteral("5")); // a failed write does not crash
  QCOMPARE(GetRegString(QStringLiteral("103")), QString());

  if (directory)
    QVERIFY(QDir().rmdir(StoreFile()));
}

// What the program takes from each stored value, through the one read with its fallback: the
// identifier of "101", the four options of "102", "103" to "105" as the configuration controls get
// them. A damaged "101" gives no identifier, a damaged "102" the options of the default, a damaged
// "105" "0000"; "103" and "104" are taken as stored (the controls' own handlers judge them).
void SettingsStoreTest::readWithFallback_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("stored"); // null: no value stored
  QTest::addColumn<QString>("taken");

  QTest::newRow("101 identifier") << "101" << Encoded("A1B.C2D.E3F.G4H.") << "A1B.C2D.E3F.G4H.";
  QTest::newRow("101 missing") << "101" << QString() << "";
  QTest::newRow("101 stored unencoded") << "101"
                                        << "A1B.C2D.E3F.G4H."
                                        << "";

  const QString defaults = "1,60,1,20";
  QTest::newRow("102 default") << "102" << Encoded("016001020") << defaults;
  QTest::newRow("102 eleven characters: fourth field ignored") << "102" << Encoded("02300405991") << "2,30,4,991";
  QTest::newRow("102 eight characters: two-character rest") << "102" << Encoded("10450230") << "10,45,2,30";
  QTest::newRow("102 zero fields") << "102" << Encoded("000000000") << "0,0,0,0";
  QTest::newRow("102 leading zeros dropped") << "102" << Encoded("099909005") << "9,99,9,5";
  QTest::newRow("102 eleven fields") << "102" << Encoded(QStringLiteral("0102030405060708091011") + "123")
                                     << "1,2,3,123";
  QTest::newRow("102 twelve fields") << "102" << Encoded(QStringLiteral("010203040506070809101112") + "123")
                                     << defaults;
  QTest::newRow("102 two fields only") << "102" << Encoded("1234567") << defaults;
  QTest::newRow("102 missing") << "102" << QString() << defaults;
  QTest::newRow("102 not hexadecimal") << "102"
                                       << "016001020" + QString("x") << defaults;
  QTest::newRow("102 odd length") << "102" << Encoded("016001020").left(17) << defaults;
  QTest::newRow("102 decoded text not digits") << "102" << Encoded("01600102x") << defaults;
  QTest::newRow("102 decoded text signed") << "102" << Encoded("-16001020") << defaults;
  QTest::newRow("102 decoded text with blank") << "102" << Encoded(" 16001020") << defaults;
  QTest::newRow("102 short text padded by the encoding") << "102" << Encoded("01") << defaults;

  QTest::newRow("103 as stored") << "103"
                                 << "30"
                                 << "30";
  QTest::newRow("104 as stored, not a number") << "104"
                                               << " 7x"
                                               << " 7x";

  QTest::newRow("105 restart and stop") << "105"
                                        << "1001"
                                        << "1001";
  QTest::newRow("105 all set") << "105"
                               << "1111"
                               << "1111";
  QTest::newRow("105 shorter: only those boxes") << "105"
                                                 << "10"
                                                 << "10";
  QTest::newRow("105 empty: boxes left as they are") << "105"
                                                     << ""
                                                     << "";
  QTest::newRow("105 missing") << "105" << QString() << "";
  QTest::newRow("105 too long") << "105"
                                << "10010"
                                << "0000";
  QTest::newRow("105 other digit") << "105"
                                   << "1201"
                                   << "0000";
  QTest::newRow("105 letter") << "105"
                              << "1a"
                              << "0000";
  QTest::newRow("105 blank") << "105"
                             << "1 01"
                             << "0000";
}

void SettingsStoreTest::readWithFallback() {
  QFETCH(QString, name);
  QFETCH(QString, stored);
  if (!stored.isNull())
    SaveRegString(name, stored);
  const StoredOptions options = LoadSettings();
  const QHash<QString, QString> taken = {
      {"101", GetAccountId()},
      {"102", QStringList{options.samplers, options.delay, options.warning1, options.warning2}.join(',')},
      {"103", options.runLength},
      {"104", options.keepCount},
      {"105", options.options},
  };
  QTEST(taken.value(name), "taken");
}

void SettingsStoreTest::damagedAccountId_data() {
  QTest::addColumn<QString>("stored");

  QTest::newRow("not hexadecimal") << "not an identifier";
  QTest::newRow("odd length") << Encoded("A1B.C2D.E3F.G4H.").left(31);
  QTest::newRow("without last dot") << Encoded("A1B.C2D.E3F.G4H");
  QTest::newRow("lower case") << Encoded("a1b.c2d.e3f.g4h.");
  QTest::newRow("stored unencoded") << "A1B.C2D.E3F.G4H.";
}

void SettingsStoreTest::damagedAccountId() {
  QFETCH(QString, stored);
  SaveRegString(QStringLiteral("101"), stored);
  QCOMPARE(GetAccountId(), QString());
  QVERIFY(AccountIdDamaged());

  RepairAccountId();
  const QString id = GetAccountId();
  QVERIFY2(AccountId::IsValid(id), qPrintable(id));
  QVERIFY(!AccountIdDamaged());
  QCOMPARE(GetRegString(QStringLiteral("101")), Encoded(id));
}

void SettingsStoreTest::missingAccountIdIsNotDamaged() {
  QCOMPARE(GetAccountId(), QString());
  QVERIFY(!AccountIdDamaged());
  SaveRegString(QStringLiteral("101"), QString());
  QVERIFY(!AccountIdDamaged());
}

void SettingsStoreTest::otherStoresAreNotRead() {
  // An organisation-wide or system-wide file must not stand in for the user's own values: a "101"
  // found there would make a first start look like a later one.
  const QByteArray content =
      "[General]\n101=" + Encoded(QStringLiteral("A1B.C2D.E3F.G4H.")).toLatin1() + "\n105=1111\n";
  for (const QString& path : {config.filePath(QStringLiteral("Velmora.conf")),
                              config.filePath(QStringLiteral("system/Velmora/vmTARVIK.conf"))}) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  QCOMPARE(GetRegString(QStringLiteral("101")), QString());
  QCOMPARE(GetAccountId(), QString());
  QCOMPARE(LoadSettings().options, QString());
}

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "tst_settingsstore.moc"
