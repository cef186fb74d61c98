#pragma once

#include <sys/resource.h>
#include <csignal>

// While it lives, no file of this process can grow beyond `bytes`: writes past the limit fail
// (the signal the kernel would send is ignored). It applies to root as well, so a failed write can
// be tested on any machine. The previous limit comes back when it goes.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    active = getrlimit(RLIMIT_FSIZE, &saved) == 0;
    rlimit tight = saved;
    tight.rlim_cur = bytes;
    active = active && setrlimit(RLIMIT_FSIZE, &tight) == 0;
  }
  ~FileSizeLimit() {
    if (active)
      setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // Whether the limit is in force.
  bool Active() const { return active; }

private:
  rlimit saved{};
  void (*previousHandler)(int) = nullptr;
  bool active = false;
};
