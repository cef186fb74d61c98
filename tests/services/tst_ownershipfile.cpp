#include "filesizelimit.h"
#include "platform/programfolder.h"
#include "services/ownershipfile.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray ReadVok() {
  QFile file(ProgramFolder::File("vok.txt"));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class OwnershipFileTest : public QObject {
  Q_OBJECT

private slots:
  void init();

  void writesMarker();
  void replacesEarlierFile();
  void failureIsSilent();
  void failedWriteKeepsEarlierFile();
  void readOnlyFolder();
};

void OwnershipFileTest::init() {
  TestEnvironment::Current()->Clear();
}

void OwnershipFileTest::writesMarker() {
  WriteOwnershipFile();
  QCOMPARE(ReadVok(), QByteArray("vok\r\n"));
  // The test fetch accepts a body that starts with "vok" and is at most 6 characters long.
  QVERIFY(ReadVok().size() <= 6);
  WriteOwnershipFile();
  QCOMPARE(ReadVok(), QByteArray("vok\r\n"));
  QCOMPARE(QDir(ProgramFolder::Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"vok.txt"});
}

void OwnershipFileTest::replacesEarlierFile() {
  {
    QFile file(ProgramFolder::File("vok.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("something much longer than the marker\r\nand a second line\r\n");
  }
  WriteOwnershipFile();
  QCOMPARE(ReadVok(), QByteArray("vok\r\n"));
}

void OwnershipFileTest::failureIsSilent() {
  // A folder in the file's place: the write fails and leaves the folder as it was.
  QVERIFY(QDir().mkpath(ProgramFolder::File("vok.txt")));
  WriteOwnershipFile();
  QVERIFY(QFileInfo(ProgramFolder::File("vok.txt")).isDir());
  QCOMPARE(QDir(ProgramFolder::Path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
  QVERIFY(QDir(ProgramFolder::File("vok.txt")).removeRecursively());

  // A program folder that does not exist.
  const QByteArray home = qgetenv("TARVIK_HOME");
  qputenv("TARVIK_HOME", home + "/missing/folder");
  WriteOwnershipFile();
  qputenv("TARVIK_HOME", home);
  QVERIFY(!QFileInfo::exists(home + "/missing"));
}

void OwnershipFileTest::failedWriteKeepsEarlierFile() {
  // A file-size limit binds root as well: the 5 bytes cannot be written, the earlier file stays and
  // no temporary file is left behind.
  {
    QFile file(ProgramFolder::File("vok.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("old");
  }
  {
    const FileSizeLimit limit(2);
    QVERIFY(limit.Active());
    WriteOwnershipFile();
  }

  QCOMPARE(ReadVok(), QByteArray("old"));
  QCOMPARE(QDir(ProgramFolder::Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"vok.txt"});
}

void OwnershipFileTest::readOnlyFolder() {
  if (geteuid() == 0)
    QSKIP("root writes into a read-only folder; failureIsSilent covers a failed write");
  const QString folder = ProgramFolder::Path();
  const QFile::Permissions permissions = QFileInfo(folder).permissions();
  QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
  WriteOwnershipFile();
  QFile::setPermissions(folder, permissions);
  QVERIFY(!QFileInfo::exists(ProgramFolder::File("vok.txt")));
}

TARVIK_TEST_MAIN(QCoreApplication, OwnershipFileTest)
#include "tst_ownershipfile.moc"
