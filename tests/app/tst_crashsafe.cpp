// Crash safety of the program's files: a child process rewrites the URL list, updates the transfer
// sub-log, saves long settings values and appends to the report log through the program's own
// writers, in a tight loop; it is killed with SIGKILL at random moments, and after every kill each
// file must hold a whole content, old or new, never a part of one or nothing. The report log, which
// is appended to, may lose only the block that was being written.
#include "core/urlfile.h"
#include "crashwriter/crashcontent.h"
#include "platform/programfolder.h"
#include "platform/textfile.h"
#include "results/transferlog.h"
#include "settings/settingsstore.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <cmath>
#include <map>
#include <set>

#include <signal.h>

namespace {

constexpr int Rounds = 40;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString Where(int round) {
  return QStringLiteral("after the kill of round %1").arg(round);
}

// The writer, started for one round.
class Writer {
public:
  explicit Writer(int round, bool logOnly = false) {
    process.setProgram(QStringLiteral(TARVIK_CRASHWRITER));
    process.setArguments(QStringList{QString::number(round)} +
                         (logOnly ? QStringList{QStringLiteral("log")} : QStringList{}));
    process.start();
  }
  ~Writer() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished();
    }
  }

  // Waits until the writer has printed `count` of `mark`; false when it did not within the time.
  bool WaitFor(char mark, int count, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (marks.count(mark) < count) {
      if (deadline.hasExpired() || !process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
        return false;
      marks += process.readAllStandardOutput();
    }
    return true;
  }

  // Kills the writer at once and waits for it to be gone (and reaped: no process of its number is
  // left to look alive to a lock file). The mark of the operation the kill landed in.
  char Kill() {
    ::kill(pid_t(process.processId()), SIGKILL);
    process.waitForFinished(30000);
    marks += process.readAllStandardOutput();
    return marks.isEmpty() ? '?' : marks.back();
  }

  int Iterations() const { return int(marks.count(CrashContent::IdleMark)); }
  bool Killed() const { return process.exitStatus() == QProcess::CrashExit; }
  QByteArray Errors() { return process.readAllStandardError(); }
  bool Started() { return process.waitForStarted(30000); }

private:
  QProcess process;
  QByteArray marks;
};

} // namespace

class CrashSafeTest : public QObject {
  Q_OBJECT

  // What the files held after the previous kill.
  QByteArray log;
  double subLogBytes = 0;
  std::map<char, int> landed;  // where the kills landed, by operation mark
  std::set<QString> leftovers; // files no writer should leave behind
  int emptyLocks = 0;
  int cutBlocks = 0; // report-log blocks that a kill cut short

  void CheckUrlList(int round) {
    const QByteArray bytes = ReadAll(ProgramFolder::File(QStringLiteral("urls.dat")));
    const std::pair<QStringList, QByteArray> known[] = {
        {CrashContent::InitialUrls(), CrashContent::UrlBytes(CrashContent::InitialUrls())},
        {CrashContent::UrlsA(), CrashContent::UrlBytes(CrashContent::UrlsA())},
        {CrashContent::UrlsB(), CrashContent::UrlBytes(CrashContent::UrlsB())},
    };
    for (const auto& [list, expected] : known) {
      if (bytes == expected) {
        QCOMPARE(UrlFile::Load(), list);
        return;
      }
    }
    QFAIL(qPrintable(
        QStringLiteral("urls.dat holds %1 bytes that are no whole list %2").arg(bytes.size()).arg(Where(round))));
  }

  void CheckSubLog(int round) {
    const QByteArray bytes = ReadAll(ProgramFolder::File(QStringLiteral("sublog.log")));
    static const QRegularExpression whole(QStringLiteral("^Transfer bytes, Use time\\(min\\)\r\n(\\d+),(\\d+)\r\n$"));
    const QRegularExpressionMatch match = whole.match(QString::fromLatin1(bytes));
    QVERIFY2(match.hasMatch(),
             qPrintable(QStringLiteral("sublog.log %1: %2").arg(Where(round), QString::fromLatin1(bytes))));
    const double total = match.captured(1).toDouble();
    QCOMPARE(std::fmod(total, double(CrashContent::SubLogStep)), 0.0); // whole updates only
    QVERIFY2(total >= subLogBytes, "the sub-log lost totals it had");
    subLogBytes = total;
  }

  void CheckSettings(int round) {
    const QString value103 = SettingsStore::GetRegString(QStringLiteral("103"));
    const QString value104 = SettingsStore::GetRegString(QStringLiteral("104"));
    const QStringList known103{CrashContent::Initial103(), CrashContent::Value103(0), CrashContent::Value103(1)};
    const QStringList known104{CrashContent::Initial104(), CrashContent::Value104(0), CrashContent::Value104(1)};
    QVERIFY2(known103.contains(value103),
             qPrintable(QStringLiteral("\"103\" holds %1 characters %2").arg(value103.size()).arg(Where(round))));
    QVERIFY2(known104.contains(value104),
             qPrintable(QStringLiteral("\"104\" holds %1 characters %2").arg(value104.size()).arg(Where(round))));
  }

  // The report log: what it held before the round, then the round's blocks in order, the last of
  // them possibly cut short.
  void CheckLog(int round) {
    // Missing only while no block has been appended yet.
    QFile file(ProgramFolder::File(QStringLiteral("tarvik.log")));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QVERIFY2(bytes.startsWith(log),
             qPrintable(QStringLiteral("the report log lost earlier blocks %1").arg(Where(round))));
    qsizetype at = log.size();
    for (int iteration = 0; at < bytes.size(); ++iteration) {
      const QByteArray block = CrashContent::LogBlockBytes(round, iteration);
      const QByteArray rest = bytes.mid(at, block.size());
      if (rest == block) {
        at += block.size();
        continue;
      }
      if (!(at + rest.size() == bytes.size() && block.startsWith(rest))) {
        qsizetype same = 0;
        while (same < rest.size() && rest[same] == block[same])
          ++same;
        QFAIL(
            qPrintable(QStringLiteral("report log block %1.%2 is damaged %3: it starts at byte %4, its first %5 bytes "
                                      "are right, then %6 (of %7 in the file)")
                           .arg(round)
                           .arg(iteration)
                           .arg(Where(round))
                           .arg(at)
                           .arg(same)
                           .arg(QString::fromLatin1(rest.mid(same, 40).toHex(' ')))
                           .arg(bytes.size())));
      }
      ++cutBlocks;
      break;
    }
    log = bytes;
  }

  void CheckFolders() {
    const QString lock = QStringLiteral("vmTARVIK.conf.lock");
    const QStringList expected{QStringLiteral("urls.dat"), QStringLiteral("sublog.log"), QStringLiteral("tarvik.log"),
                               QStringLiteral("vmTARVIK.conf"), lock};
    const QDir folders[] = {QDir(ProgramFolder::Path()), QFileInfo(TestEnvironment::Current()->SettingsFile()).dir()};
    for (const QDir& folder : folders)
      for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
        if (!expected.contains(name))
          leftovers.insert(name);
    // A lock file that the kill left before its owner was written into it holds up the next save
    // until it is 30 s old (emptyLockLeftByKill shows that on its own). It is cleared here, so that
    // the rounds keep exercising the writes rather than that wait.
    const QString lockPath = TestEnvironment::Current()->SettingsFile() + QStringLiteral(".lock");
    if (QFileInfo::exists(lockPath) && QFileInfo(lockPath).size() == 0) {
      ++emptyLocks;
      QFile::remove(lockPath);
    }
  }

  void CheckFiles(int round) {
    CheckUrlList(round);
    if (QTest::currentTestFailed())
      return;
    CheckSubLog(round);
    if (QTest::currentTestFailed())
      return;
    CheckSettings(round);
    if (QTest::currentTestFailed())
      return;
    CheckLog(round);
    CheckFolders();
  }

private slots:
  void init() {
    TestEnvironment::Current()->Clear();
    // Clear() leaves the settings store's lock and temporary files; a test may have left some.
    QDir store = QFileInfo(TestEnvironment::Current()->SettingsFile()).dir();
    for (const QString& name : store.entryList(QDir::Files | QDir::Hidden))
      store.remove(name);
    leftovers.clear();
    emptyLocks = 0;
    log.clear();
    subLogBytes = 0;
    landed.clear();
    cutBlocks = 0;
  }

  void killedAtRandomMoments() {
    QVERIFY(UrlFile::Rewrite(CrashContent::InitialUrls()));
    QVERIFY(TextFile::WriteLines(ProgramFolder::File(QStringLiteral("sublog.log")), TotalsLines({})));
    SettingsStore::SaveRegString(QStringLiteral("103"), CrashContent::Initial103());
    SettingsStore::SaveRegString(QStringLiteral("104"), CrashContent::Initial104());

    // The first round lets the writer run three whole turns to learn how long a turn takes here;
    // the kills of the later rounds land anywhere within the first three turns.
    QElapsedTimer clock;
    {
      Writer writer(0);
      QVERIFY(writer.Started());
      QVERIFY(writer.WaitFor(CrashContent::StartedMark, 1, 30000));
      clock.start();
      QVERIFY2(writer.WaitFor(CrashContent::IdleMark, 3, 60000), writer.Errors().constData());
      writer.Kill();
      QVERIFY(writer.Killed());
      CheckFiles(0);
      if (QTest::currentTestFailed())
        return;
    }
    const qint64 turnUs = qMax<qint64>(1000, clock.nsecsElapsed() / 3 / 1000);
    qInfo("one turn of the writer (urls.dat, sub-log, two settings, a log block) takes %lld us", turnUs);

    int inside = 0;
    for (int round = 1; round < Rounds; ++round) {
      Writer writer(round);
      QVERIFY(writer.Started());
      QVERIFY2(writer.WaitFor(CrashContent::StartedMark, 1, 30000), writer.Errors().constData());
      QThread::usleep(unsigned(QRandomGenerator::global()->bounded(3 * turnUs)));
      const char mark = writer.Kill();
      QVERIFY(writer.Killed());
      ++landed[mark];
      if (mark != CrashContent::StartedMark && mark != CrashContent::IdleMark)
        ++inside;
      CheckFiles(round);
      if (QTest::currentTestFailed())
        return;
    }

    // A writer after all those kills still gets its work done.
    {
      Writer writer(Rounds);
      QVERIFY(writer.Started());
      clock.restart();
      QVERIFY2(writer.WaitFor(CrashContent::IdleMark, 2, 60000), "no writer got through after the kills");
      qInfo("the writer after the last kill made two whole turns in %lld ms", clock.elapsed());
      writer.Kill();
      CheckFiles(Rounds);
      if (QTest::currentTestFailed())
        return;
    }

    qInfo(
        "kills landed: %d rewriting urls.dat, %d updating the sub-log, %d saving settings, %d appending to the "
        "report log, %d between operations, %d before the first",
        landed[CrashContent::UrlsMark], landed[CrashContent::SubLogMark], landed[CrashContent::SettingsMark],
        landed[CrashContent::LogMark], landed[CrashContent::IdleMark], landed[CrashContent::StartedMark]);
    QStringList names(leftovers.begin(), leftovers.end());
    qInfo("files left behind by killed writers: %s; empty settings lock files left: %d",
          names.isEmpty() ? "none" : qPrintable(names.join(QStringLiteral(", "))), emptyLocks);
    // The test only means something if the kills did land inside the writes.
    QVERIFY2(inside >= Rounds / 4, qPrintable(QStringLiteral("only %1 kills landed inside a write").arg(inside)));
  }

  // A writer killed after it created the settings store's lock file but before it wrote its own
  // process number into it leaves an empty lock file, which no live process holds. The next save
  // must not wait for it: the program saves a setting at every start.
  void emptyLockLeftByKill() {
    SettingsStore::SaveRegString(QStringLiteral("103"), CrashContent::Initial103());
    QFile lock(TestEnvironment::Current()->SettingsFile() + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    // Left behind a while ago: a lock file younger than a second may still be a live one's.
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
    lock.close();

    Writer writer(0);
    QVERIFY(writer.Started());
    QElapsedTimer clock;
    clock.start();
    // The log mark follows the turn's two settings saves, which take milliseconds when nothing
    // holds them up.
    const bool saved = writer.WaitFor(CrashContent::LogMark, 1, 5000);
    qInfo("with an empty lock file present the first saves %s after %lld ms",
          saved ? "were done" : "were still waiting", clock.elapsed());
    writer.Kill();
    QVERIFY(saved);
  }

  // A writer that does nothing but append blocks to the report log, so that the kills land inside
  // the appends: each round's blocks follow the earlier ones whole, but for the last, which may be
  // cut short; nothing written before is lost or altered.
  void reportLogKeepsEarlierBlocks() {
    for (int round = 0; round < Rounds / 2; ++round) {
      Writer writer(round, true);
      QVERIFY(writer.Started());
      QVERIFY2(writer.WaitFor(CrashContent::StartedMark, 1, 30000), writer.Errors().constData());
      // A few blocks' worth of appending (a block is about 100 KB).
      QThread::usleep(unsigned(QRandomGenerator::global()->bounded(5000)));
      ++landed[writer.Kill()];
      QVERIFY(writer.Killed());
      CheckLog(round);
      if (QTest::currentTestFailed())
        return;
    }
    qInfo("report log: %d of %d kills landed inside an append, %d cut a block short, %lld bytes in all",
          landed[CrashContent::LogMark], Rounds / 2, cutBlocks, qint64(log.size()));
  }
};

TARVIK_TEST_MAIN(QCoreApplication, CrashSafeTest)
#include "tst_crashsafe.moc"
