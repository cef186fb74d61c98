#include "app/stopsignals.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace {

int pair[2] = {-1, -1};

void OnSignal(int number) {
  const unsigned char byte = static_cast<unsigned char>(number);
  // Nothing but async-signal-safe calls here.
  [[maybe_unused]] const ssize_t written = ::write(pair[1], &byte, 1);
}

void Handle(int number, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(number, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return;
  notifier = new QSocketNotifier(pair[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    if (::read(pair[0], &byte, 1) == 1)
      emit Received(byte);
  });
  Handle(SIGTERM, OnSignal);
  Handle(SIGINT, OnSignal);
  Handle(SIGHUP, OnSignal);
}

StopSignals::~StopSignals() {
  Handle(SIGTERM, SIG_DFL);
  Handle(SIGINT, SIG_DFL);
  Handle(SIGHUP, SIG_DFL);
  delete notifier;
  ::close(pair[0]);
  ::close(pair[1]);
  pair[0] = pair[1] = -1;
}
