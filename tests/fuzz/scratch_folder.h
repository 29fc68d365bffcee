// A temporary folder for one fuzz target's files: made on first use under $TMPDIR (or /tmp),
// removed as the process exits once the target has emptied it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace vesmer::fuzzing
