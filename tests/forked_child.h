// Runs part of a test in a forked child, for conditions that must not reach the test process:
// a file size limit, or the ids of an unprivileged user so that permissions apply to root too.
#pragma once

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace vesmer::testing {

// The child's exit code when it could not become the unprivileged user.
inline constexpr int kCannotDropPrivileges = 77;

// Runs `body` (returning an int) in a child process; returns the child's exit code, or -1 when
// it did not exit normally. The child leaves with _exit, so nothing of the parent runs twice.
template <typename Body>
int RunInChild(Body body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) ::_exit(body());
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `body` in a child whose files may not grow past `limit` bytes; SIGXFSZ is ignored, so a
// write past the limit fails with EFBIG as it would on a full disk.
template <typename Body>
int RunWithFileSizeLimit(rlim_t limit, Body body) {
  return RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit r;
    if (::getrlimit(RLIMIT_FSIZE, &r) != 0) return 100;
    r.rlim_cur = limit;
    if (::setrlimit(RLIMIT_FSIZE, &r) != 0) return 101;
    return body();
  });
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

}  // namespace vesmer::testing
