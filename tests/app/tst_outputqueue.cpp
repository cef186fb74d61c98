// The output queue of the program without a window, writing into real pipes: a reader that does
// not read, one that reads again, one that closed its end.
#include "app/outputqueue.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A pipe; a small one (one page) is full after a few dozen lines that nobody reads.
class Pipe {
public:
  enum Size { Small, Usual };
  explicit Pipe(Size size = Usual) {
    if (::pipe2(ends, O_CLOEXEC) == 0 && size == Small)
      ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
  }
  ~Pipe() {
    CloseReader();
    if (ends[1] >= 0)
      ::close(ends[1]);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  bool Ok() const { return ends[1] >= 0; }
  int Writer() const { return ends[1]; }
  void CloseReader() {
    if (ends[0] >= 0)
      ::close(ends[0]);
    ends[0] = -1;
  }
  // Reads until nothing more comes for `quietMs`.
  QByteArray ReadAll(int quietMs = 500) {
    QByteArray all;
    for (;;) {
      pollfd polled{ends[0], POLLIN, 0};
      if (::poll(&polled, 1, quietMs) <= 0)
        return all;
      char buffer[4096];
      const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
      if (n <= 0)
        return all;
      all.append(buffer, n);
    }
  }

private:
  int ends[2] = {-1, -1};
};

QStringList LinesOf(const QByteArray& bytes) {
  QStringList lines = QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'));
  lines.removeLast(); // what follows the last line end
  return lines;
}

// The count of a "tarvik: N lines of standard output were dropped" line; -1 when there is none.
qint64 DroppedTold(const QStringList& lines) {
  static const QRegularExpression told(
      QStringLiteral("^tarvik: (\\d+) lines of standard output were dropped: it was not read fast enough$"));
  qint64 count = -1;
  for (const QString& line : lines) {
    const QRegularExpressionMatch match = told.match(line);
    if (match.hasMatch())
      count = (count < 0 ? 0 : count) + match.captured(1).toLongLong();
  }
  return count;
}

QString Numbered(int i) {
  return QStringLiteral("line %1 ").arg(i, 5, 10, QLatin1Char('0')) + QString(60, QLatin1Char('x'));
}

} // namespace

class OutputQueueTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }
  void slowReaderLosesLinesAndIsTold_data();
  void slowReaderLosesLinesAndIsTold();
  void closedReaderStopsTheWriting();
};

void OutputQueueTest::slowReaderLosesLinesAndIsTold_data() {
  QTest::addColumn<bool>("readsAgain"); // false: the reader never reads until the queue has finished
  QTest::newRow("reader reads again") << true;
  QTest::newRow("reader stalled to the end") << false;
}

// Posting never waits for the reader; every line posted is either written whole and in order or
// counted in the one line told on the other stream.
void OutputQueueTest::slowReaderLosesLinesAndIsTold() {
  QFETCH(bool, readsAgain);
  Pipe out(Pipe::Small);
  Pipe err;
  QVERIFY(out.Ok() && err.Ok());
  constexpr int Posted = 500;
  QByteArray written;
  quint64 dropped = 0;
  {
    OutputQueue errors(err.Writer(), QStringLiteral("standard error"));
    OutputQueue output(out.Writer(), QStringLiteral("standard output"), 100, &errors);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Posted; ++i)
      output.Post(Numbered(i));
    qInfo("%d lines posted into a stalled pipe in %lld ms", Posted, clock.elapsed());
    QVERIFY(output.Dropped() > 0);
    if (readsAgain) {
      // Once the reader reads again the queue says how many lines it dropped.
      written = out.ReadAll();
      QByteArray said;
      QTRY_VERIFY((said += err.ReadAll(100), DroppedTold(LinesOf(said)) == qint64(output.Dropped())));
    }
    clock.restart();
    output.Finish(300);
    errors.Finish(300);
    qInfo("finished in %lld ms", clock.elapsed());
    QCOMPARE(errors.Dropped(), 0u);
    dropped = output.Dropped();
  }
  written += out.ReadAll();
  const QStringList lines = LinesOf(written);
  QCOMPARE(quint64(lines.size()) + dropped, quint64(Posted));
  // The lines that came out are the first ones, whole and in order, up to the drops; after them only
  // lines posted later, still in order.
  int previous = -1;
  for (const QString& line : lines) {
    const int n = line.mid(5, 5).toInt();
    QVERIFY2(line == Numbered(n) && n > previous, qPrintable(line));
    previous = n;
  }
  if (!readsAgain) {
    const QStringList said = LinesOf(err.ReadAll());
    QVERIFY2(DroppedTold(said) == qint64(dropped), qPrintable(said.join(QLatin1Char('\n'))));
  }
}

void OutputQueueTest::closedReaderStopsTheWriting() {
  Pipe out;
  Pipe err;
  QVERIFY(out.Ok() && err.Ok());
  OutputQueue errors(err.Writer(), QStringLiteral("standard error"));
  OutputQueue output(out.Writer(), QStringLiteral("standard output"), 20, &errors);
  output.Post(Numbered(1));
  QByteArray written;
  QTRY_VERIFY((written += out.ReadAll(100), !written.isEmpty()));
  QCOMPARE(LinesOf(written), QStringList{Numbered(1)});
  out.CloseReader();
  for (int i = 2; i < 100; ++i)
    output.Post(Numbered(i));
  QTRY_VERIFY(output.Closed());
  output.Post(Numbered(100));
  output.Finish(300);
  errors.Finish(300);
  QCOMPARE(LinesOf(err.ReadAll()),
           QStringList{QStringLiteral("tarvik: standard output was closed: its lines are no longer written")});
}

QTEST_GUILESS_MAIN(OutputQueueTest)
#include "tst_outputqueue.moc"
