// The child program of the history's crash test: opens the history file named by its first
// argument and appends samples through the store, numbered from its second argument, printing
// each number on a line of its own once the sample is queued, until it is killed.
#include "history/historystore.h"

#include <QCoreApplication>
#include <QThread>

#include <unistd.h>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3)
    return 2;
  HistoryStore store;
  if (!store.Open(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "%s\n", qPrintable(store.FailureText()));
    return 1;
  }
  (void)!::write(STDOUT_FILENO, "S\n", 2);
  for (qint64 packet = QByteArray(argv[2]).toLongLong();; ++packet) {
    HistorySample sample;
    sample.at = QDateTime::currentDateTimeUtc();
    sample.url = QStringLiteral("http://crash.test");
    sample.packet = int(packet);
    sample.pingUs = packet;
    sample.result = QString(100, QLatin1Char('r'));
    store.Append(sample);
    const QByteArray line = QByteArray::number(packet) + '\n';
    (void)!::write(STDOUT_FILENO, line.constData(), size_t(line.size()));
    QThread::usleep(300);
  }
}
