// Runs part of a test in a forked child, for conditions that must not reach the test process:
// an address space limit, the ids of an unprivileged user so that
// permissions apply to root too, a second process holding a lock, one operation's peak memory.
#pragma once

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

namespace vesmer::testing {

// A failed check in the child: prints where and returns the line number as the exit code (or 1
// should it not fit), so the parent's EXPECT_EQ(..., 0) names it.
#define CHILD_CHECK(condition)                                                                 \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "%s:%d: child check failed: %s\n", __FILE__, __LINE__, #condition); \
      return __LINE__ % 256 != 0 ? __LINE__ % 256 : 1;                                         \
    }                                                                                          \
  } while (false)

// Exit code a child returns when the check cannot run here (the parent then skips the test),
// or when it could not become the unprivileged user.
inline constexpr int kChildSkipped = 77;
inline constexpr int kCannotDropPrivileges = kChildSkipped;

// Runs `body` (returning an int) in a forked child and returns its exit code (128 + the signal
// when it died of one; 3 when it threw). The child leaves with _exit, so nothing of the parent
// runs twice. The test process must have no other threads running: only the forking thread
// goes on in the child.
template <typename Body>
int RunInChild(Body body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = 2;
    try {
      code = body();
    } catch (...) {
      std::fprintf(stderr, "child: exception\n");
      code = 3;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `body` in a child as user and group 65534 ("nobody") when the tests run as root, so file
// permissions apply; as the current user otherwise. Exits with kCannotDropPrivileges when the
// ids cannot be changed.
template <typename Body>
int RunUnprivileged(Body body) {
  return RunInChild([&] {
    if (::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
        return kCannotDropPrivileges;
      }
    }
    return body();
  });
}

// A field of /proc/self/status in KiB (VmRSS, VmHWM, VmSize, ...); -1 when not found.
inline long ProcStatusKib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = field + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

// Limits this process's address space to what it maps now plus `extra` bytes, so that larger
// allocations fail. For a child only.
inline bool LimitAddressSpace(long extra) {
  const long size_kib = ProcStatusKib("VmSize");
  if (size_kib < 0) return false;
  const rlim_t limit = static_cast<rlim_t>(size_kib) * 1024 + static_cast<rlim_t>(extra);
  const rlimit r{limit, limit};
  return ::setrlimit(RLIMIT_AS, &r) == 0;
}

// Starts a new peak for VmHWM (Linux 4.0 and later); false when the kernel refuses.
inline bool ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

}  // namespace vesmer::testing
