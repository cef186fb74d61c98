// Crash safety of the history file: a child process appends samples through the store and is
// killed with SIGKILL at random moments. After every kill the file opens, passes SQLite's
// integrity check and holds a prefix of what was appended (ids from 1 without a gap, each sample
// whole), missing none of the samples appended more than a second before the kill.
#include "historyfile.h"
#include "testenvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

class HistoryCrashTest : public QObject {
  Q_OBJECT

private slots:
  void killedWhileAppending() {
    constexpr int Rounds = 12;
    constexpr qint64 LossLimitMs = 1000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    qint64 kept = 0;        // samples in the file after the previous kill
    qint64 worstLossMs = 0; // the oldest sample a kill lost, before the kill
    qint64 lost = 0;
    for (int round = 0; round < Rounds; ++round) {
      QProcess child;
      child.start(QStringLiteral(TARVIK_HISTORYWRITER), {path, QString::number(kept + 1)});
      QVERIFY(child.waitForStarted(30000));
      QByteArray out;
      while (!out.contains("S\n")) {
        QVERIFY2(child.waitForReadyRead(30000), child.readAllStandardError().constData());
        out += child.readAllStandardOutput();
      }
      out = out.mid(out.indexOf("S\n") + 2);

      // The packets read back, with the time each was read (never before it was appended).
      QList<std::pair<qint64, qint64>> seen;
      QElapsedTimer clock;
      clock.start();
      const auto take = [&](qint64 at) {
        qsizetype end = 0;
        while ((end = out.indexOf('\n')) >= 0) {
          seen.append({at, out.left(end).toLongLong()});
          out.remove(0, end + 1);
        }
      };
      const qint64 killAt = 300 + QRandomGenerator::global()->bounded(1700);
      while (clock.elapsed() < killAt) {
        child.waitForReadyRead(5);
        out += child.readAllStandardOutput();
        take(clock.elapsed());
      }
      const qint64 killedAt = clock.elapsed();
      ::kill(pid_t(child.processId()), SIGKILL);
      QVERIFY(child.waitForFinished(30000));
      QCOMPARE(child.exitStatus(), QProcess::CrashExit);
      out += child.readAllStandardOutput();
      take(killedAt);
      QVERIFY2(!seen.isEmpty(), "the writer appended nothing");

      HistoryFile file(path);
      QVERIFY(file.IsOpen());
      QCOMPARE(file.Value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
      const QList<QVariantList> rows =
          file.Rows(QStringLiteral("SELECT id, packet, ping_us, length(result) FROM samples ORDER BY id"));
      for (qsizetype i = 0; i < rows.size(); ++i) {
        const QVariantList expected{i + 1, i + 1, i + 1, 100};
        if (rows[i] != expected)
          QFAIL(qPrintable(QStringLiteral("round %1: row %2 is not sample %2").arg(round).arg(i + 1)));
      }
      const qint64 count = rows.size();
      const qint64 appended = seen.last().second;
      QVERIFY2(count <= appended + 1,
               qPrintable(QStringLiteral("round %1: %2 rows of %3 samples").arg(round).arg(count).arg(appended)));
      for (const auto& [at, packet] : seen) {
        if (packet <= count)
          continue;
        worstLossMs = qMax(worstLossMs, killedAt - at);
        QVERIFY2(killedAt - at <= LossLimitMs,
                 qPrintable(QStringLiteral("round %1: sample %2, appended %3 ms before the kill, is lost")
                                .arg(round)
                                .arg(packet)
                                .arg(killedAt - at)));
        break;
      }
      lost += appended - qMin(appended, count);
      kept = count;
    }
    qInfo(
        "%lld samples kept after %d kills; %lld lost in all; the oldest lost sample was appended %lld ms before "
        "its kill",
        kept, Rounds, lost, worstLossMs);
  }
};

TARVIK_TEST_MAIN(QCoreApplication, HistoryCrashTest)
#include "tst_historycrash.moc"
