// A temporary folder for one fuzz target's files: made on first use under $TMPDIR (or /tmp),
// removed as the process exits once the target has emptied it; and reading a file back whole.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace vesmer::fuzzing {

namespace detail {
inline std::string& ScratchPath() {
  static std::string path;
  return path;
}
}  // namespace detail

// The folder, named after `target` the first time. Aborts when it cannot be made.
inline const std::string& ScratchFolder(std::string_view target) {
  std::string& path = detail::ScratchPath();
  if (path.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vesmer_" +
                          std::string(target) + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path = pattern;
    std::atexit([] { ::rmdir(detail::ScratchPath().c_str()); });
  }
  return path;
}

// The file's bytes; nothing when it does not exist. Aborts on any other failure.
inline std::optional<std::string> ReadWhole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    std::perror(("open for reading " + path).c_str());
    std::abort();
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::perror(("read " + path).c_str());
      std::abort();
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return bytes;
}

}  // namespace vesmer::fuzzing
