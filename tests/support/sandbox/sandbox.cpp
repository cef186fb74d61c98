// Runs a program inside the system call sandbox that the service unit (packaging/tarvik.service)
// asks of systemd, built the way systemd 252 builds it with libseccomp:
//
//   NoNewPrivileges=yes
//   SystemCallFilter=@system-service           every other system call kills the process (SIGSYS)
//   SystemCallArchitectures=native
//   MemoryDenyWriteExecute=yes                  no memory both writable and executable, none made
//                                               executable later (EPERM)
//   RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX   sockets of other families: EAFNOSUPPORT
//
// The list of @system-service is the one the installed systemd-analyze prints, groups expanded.
//
//   tarviksandbox PROGRAM [ARGUMENT]...       exit code 125 when the sandbox cannot be built
#include <seccomp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int CannotSandbox = 125;

// Every group `systemd-analyze syscall-filter` prints, with its entries (names and @groups).
std::map<std::string, std::vector<std::string>> SyscallGroups() {
  std::map<std::string, std::vector<std::string>> groups;
  FILE* listing = popen("systemd-analyze syscall-filter 2>/dev/null", "r");
  if (!listing)
    return groups;
  std::string group;
  char line[512];
  while (std::fgets(line, sizeof line, listing)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
      text.pop_back();
    if (text.empty())
      continue;
    if (text.front() == '@') {
      group = text;
      continue;
    }
    const std::size_t start = text.find_first_not_of(' ');
    if (group.empty() || start == std::string::npos || text[start] == '#')
      continue;
    groups[group].push_back(text.substr(start));
  }
  pclose(listing);
  return groups;
}

void Expand(const std::map<std::string, std::vector<std::string>>& groups, const std::string& name,
            std::set<std::string>* calls, std::set<std::string>* seen) {
  if (name.front() != '@') {
    calls->insert(name);
    return;
  }
  if (!seen->insert(name).second)
    return;
  const auto found = groups.find(name);
  if (found != groups.end())
    for (const std::string& entry : found->second)
      Expand(groups, entry, calls, seen);
}

bool Load(scmp_filter_ctx filter) {
  const bool loaded = filter && seccomp_load(filter) == 0;
  seccomp_release(filter);
  return loaded;
}

bool DenyWriteExecute() {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (!filter)
    return false;
  const scmp_datum_t writeExecute = PROT_WRITE | PROT_EXEC;
  bool ok = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(mmap), 1,
                             SCMP_A2(SCMP_CMP_MASKED_EQ, writeExecute, writeExecute)) == 0;
  for (const int call : {SCMP_SYS(mprotect), SCMP_SYS(pkey_mprotect)})
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1,
                                SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, PROT_EXEC)) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(shmat), 1,
                              SCMP_A2(SCMP_CMP_MASKED_EQ, SHM_EXEC, SHM_EXEC)) == 0;
  return ok ? Load(filter) : (seccomp_release(filter), false);
}

bool RestrictAddressFamilies() {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (!filter)
    return false;
  bool ok = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), SCMP_SYS(socket), 1,
                             SCMP_A0(SCMP_CMP_GE, scmp_datum_t(AF_MAX))) == 0;
  for (int family = 0; family < AF_MAX; ++family)
    if (family != AF_UNIX && family != AF_INET && family != AF_INET6)
      ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EAFNOSUPPORT), SCMP_SYS(socket), 1,
                                  SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(family))) == 0;
  return ok ? Load(filter) : (seccomp_release(filter), false);
}

// Last: once loaded, only the service's system calls are left (seccomp() itself is not one).
bool AllowSystemService() {
  std::set<std::string> calls;
  std::set<std::string> seen;
  Expand(SyscallGroups(), "@system-service", &calls, &seen);
  if (calls.size() < 100)
    return false; // systemd-analyze is missing or printed something else
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (!filter)
    return false;
  for (const std::string& name : calls) {
    const int call = seccomp_syscall_resolve_name(name.c_str());
    if (call != __NR_SCMP_ERROR && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) != 0) {
      seccomp_release(filter);
      return false;
    }
  }
  return Load(filter);
}

} // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tarviksandbox PROGRAM [ARGUMENT]...\n");
    return CannotSandbox;
  }
  if (!DenyWriteExecute() || !RestrictAddressFamilies() || !AllowSystemService()) {
    std::fprintf(stderr, "tarviksandbox: cannot build the sandbox (%s)\n", std::strerror(errno));
    return CannotSandbox;
  }
  execvp(argv[1], argv + 1);
  std::fprintf(stderr, "tarviksandbox: cannot run %s (%s)\n", argv[1], std::strerror(errno));
  return CannotSandbox;
}
