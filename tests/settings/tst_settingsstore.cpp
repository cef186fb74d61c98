#include "settings/accountid.h"
#include "settings/settingsstore.h"
#include "settings/valuecodec.h"

#include <QDir>
#include <QFile>
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

class tst_SettingsStore : public QObject {
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

  void loadPackedOptions_data();
  void loadPackedOptions();
  void loadPlainValues();
  void loadOptionBoxes_data();
  void loadOptionBoxes();

  void damagedAccountId_data();
  void damagedAccountId();
  void missingAccountIdIsNotDamaged();
  void otherStoresAreNotRead();

private:
  QString StoreFile() const { return QDir(m_config.path()).filePath(QStringLiteral("Velmora/vmTARVIK.conf")); }
  void WriteStoreFile(const QByteArray& content);

  QTemporaryDir m_config;
};

void tst_SettingsStore::initTestCase() {
  QVERIFY(m_config.isValid());
  QStandardPaths::setTestModeEnabled(false);
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_config.filePath(QStringLiteral("system"))));
}

void tst_SettingsStore::init() {
  QFile::setPermissions(StoreFile(), QFile::ReadOwner | QFile::WriteOwner);
  QDir(QFileInfo(StoreFile()).path()).removeRecursively();
}

// Replaces the store file behind the program's back, as another program or an editor would.
void tst_SettingsStore::WriteStoreFile(const QByteArray& content) {
  QDir().mkpath(QFileInfo(StoreFile()).path());
  QFile file(StoreFile());
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(content);
  // A time stamp of its own, so the change is seen even when size and time would match the last read.
  static int writes = 0;
  QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(++writes), QFileDevice::FileModificationTime));
  file.close();
}

void tst_SettingsStore::firstRunSetupWritesDefaults() {
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

void tst_SettingsStore::valuesRoundTrip_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("value");

  QTest::newRow("program folder") << "100" << "/home/user/My Programs/tarvik";
  QTest::newRow("windows path") << "100" << "C:\\Program Files\\Tarvik";
  QTest::newRow("comma") << "103" << "1, 2";
  QTest::newRow("quotes and semicolon") << "104" << "\"x\"; y=z # w";
  QTest::newRow("leading at sign") << "104" << "@Variant(x)";
  QTest::newRow("blanks around") << "103" << "  12  ";
  QTest::newRow("non-ASCII") << "100" << QString::fromUtf8("/home/jürgen/сайт");
  QTest::newRow("line break") << "103" << "a\r\nb";
  QTest::newRow("empty") << "105" << "";
}

void tst_SettingsStore::valuesRoundTrip() {
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

void tst_SettingsStore::nonStringValues() {
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

void tst_SettingsStore::unreadableStore_data() {
  QTest::addColumn<bool>("directory");
  QTest::newRow("directory in place of the file") << true;
  QTest::newRow("file without read permission") << false;
}

void tst_SettingsStore::unreadableStore() {
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

void tst_SettingsStore::loadPackedOptions_data() {
  QTest::addColumn<QString>("stored");
  QTest::addColumn<QStringList>("expected"); // samplers, delay, warning1, warning2

  const QStringList defaults{"1", "60", "1", "20"};
  QTest::newRow("default") << Encoded("016001020") << defaults;
  QTest::newRow("eleven characters: fourth field ignored") << Encoded("02300405991") << QStringList{"2", "30", "4", "991"};
  QTest::newRow("eight characters: two-character rest") << Encoded("10450230") << QStringList{"10", "45", "2", "30"};
  QTest::newRow("zero fields") << Encoded("000000000") << QStringList{"0", "0", "0", "0"};
  QTest::newRow("leading zeros dropped") << Encoded("099909005") << QStringList{"9", "99", "9", "5"};
  QTest::newRow("eleven fields") << Encoded(QStringLiteral("0102030405060708091011") + "123")
                                 << QStringList{"1", "2", "3", "123"};
  QTest::newRow("twelve fields") << Encoded(QStringLiteral("010203040506070809101112") + "123") << defaults;
  QTest::newRow("two fields only") << Encoded("1234567") << defaults;
  QTest::newRow("missing") << QString() << defaults;
  QTest::newRow("not hexadecimal") << "016001020" + QString("x") << defaults;
  QTest::newRow("odd length") << Encoded("016001020").left(17) << defaults;
  QTest::newRow("decoded text not digits") << Encoded("01600102x") << defaults;
  QTest::newRow("decoded text signed") << Encoded("-16001020") << defaults;
  QTest::newRow("decoded text with blank") << Encoded(" 16001020") << defaults;
  QTest::newRow("short text padded by the encoding") << Encoded("01") << defaults;
}

void tst_SettingsStore::loadPackedOptions() {
  QFETCH(QString, stored);
  QFETCH(QStringList, expected);
  if (!stored.isNull())
    SaveRegString(QStringLiteral("102"), stored);
  const StoredOptions options = LoadSettings();
  QCOMPARE((QStringList{options.samplers, options.delay, options.warning1, options.warning2}), expected);
}

void tst_SettingsStore::loadPlainValues() {
  SaveRegString(QStringLiteral("103"), QStringLiteral("30"));
  SaveRegString(QStringLiteral("104"), QStringLiteral(" 7x"));
  const StoredOptions options = LoadSettings();
  QCOMPARE(options.runLength, QStringLiteral("30"));
  QCOMPARE(options.keepCount, QStringLiteral(" 7x")); // as stored: the controls' own handlers judge it
}

void tst_SettingsStore::loadOptionBoxes_data() {
  QTest::addColumn<QString>("stored");
  QTest::addColumn<QString>("expected");

  QTest::newRow("restart and stop") << "1001" << "1001";
  QTest::newRow("all set") << "1111" << "1111";
  QTest::newRow("shorter: only those boxes") << "10" << "10";
  QTest::newRow("empty: boxes left as they are") << "" << "";
  QTest::newRow("missing") << QString() << "";
  QTest::newRow("too long") << "10010" << "0000";
  QTest::newRow("other digit") << "1201" << "0000";
  QTest::newRow("letter") << "1a" << "0000";
  QTest::newRow("blank") << "1 01" << "0000";
}

void tst_SettingsStore::loadOptionBoxes() {
  QFETCH(QString, stored);
  QFETCH(QString, expected);
  if (!stored.isNull())
    SaveRegString(QStringLiteral("105"), stored);
  QCOMPARE(LoadSettings().options, expected);
}

void tst_SettingsStore::damagedAccountId_data() {
  QTest::addColumn<QString>("stored");

  QTest::newRow("not hexadecimal") << "not an identifier";
  QTest::newRow("odd length") << Encoded("A1B.C2D.E3F.G4H.").left(31);
  QTest::newRow("without last dot") << Encoded("A1B.C2D.E3F.G4H");
  QTest::newRow("lower case") << Encoded("a1b.c2d.e3f.g4h.");
  QTest::newRow("stored unencoded") << "A1B.C2D.E3F.G4H.";
}

void tst_SettingsStore::damagedAccountId() {
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

void tst_SettingsStore::missingAccountIdIsNotDamaged() {
  QCOMPARE(GetAccountId(), QString());
  QVERIFY(!AccountIdDamaged());
  SaveRegString(QStringLiteral("101"), QString());
  QVERIFY(!AccountIdDamaged());
}

void tst_SettingsStore::otherStoresAreNotRead() {
  // An organisation-wide or system-wide file must not stand in for the user's own values: a "101"
  // found there would make a first start look like a later one.
  const QByteArray content = "[General]\n101=" + Encoded(QStringLiteral("A1B.C2D.E3F.G4H.")).toLatin1() + "\n105=1111\n";
  for (const QString& path : {m_config.filePath(QStringLiteral("Velmora.conf")),
                              m_config.filePath(QStringLiteral("system/Velmora/vmTARVIK.conf"))}) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  QCOMPARE(GetRegString(QStringLiteral("101")), QString());
  QCOMPARE(GetAccountId(), QString());
  QCOMPARE(LoadSettings().options, QString());
}

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_settingsstore.moc"
