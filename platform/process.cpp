#include "platform/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/files.h"
#include "platform/sys.h"

namespace vesmer {

Status StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return Status::Error(ENOENT, "start: no program");
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // A pipe tells the parent whether exec succeeded: it closes on exec, or carries errno.
  int pipe_fds[2];
  if (sys::Calls().pipe2(pipe_fds, O_CLOEXEC) != 0) return Status::Error(errno, "pipe");
  const pid_t child = sys::Calls().fork();
  if (child < 0) {
    const int err = errno;
    sys::Calls().close(pipe_fds[0]);
    sys::Calls().close(pipe_fds[1]);
    return Status::Error(err, "fork");
  }
  if (child == 0) {
    // Fork twice so that init adopts the program and the caller never waits for it.
    ::setsid();
    if (sys::Calls().fork() == 0) {
      sys::Calls().execvp(args[0], args.data());
      const int err = errno;
      (void)!sys::Calls().write(pipe_fds[1], &err, sizeof err);
      ::_exit(127);
    }
    ::_exit(0);
  }
  sys::Calls().close(pipe_fds[1]);
  int status = 0;
  while (sys::Calls().waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int exec_error = 0;
  ssize_t got;
  while ((got = sys::Calls().read(pipe_fds[0], &exec_error, sizeof exec_error)) < 0 &&
         errno == EINTR) {
  }
  sys::Calls().close(pipe_fds[0]);
  if (got == static_cast<ssize_t>(sizeof exec_error)) {
    return Status::Error(exec_error, "exec", argv[0]);
  }
  return {};
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (name.empty() || path == nullptr) return {};
  std::string folders = path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    // An empty entry of PATH means the current folder.
    std::string dir = end > start ? folders.substr(start, end - start) : std::string(".");
    std::string candidate = std::move(dir);
    candidate.append("/").append(name);
    if (sys::Calls().access(candidate.c_str(), X_OK) == 0 && !IsDirectory(candidate))
      return candidate;
    start = end + 1;
  }
  return {};
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = sys::Calls().readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace vesmer
