// UniqueFd: the one owner of a file descriptor. It closes the descriptor exactly once, when it is
// reset, closed or destroyed, so no path through the code can leak or close it twice.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/sys.h"

namespace vesmer {

class UniqueFd {
 public:
  UniqueFd() = default;
  // Takes ownership of `fd`; a negative value means "no descriptor".
  explicit UniqueFd(int fd) noexcept : fd_(fd < 0 ? -1 : fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  // Closing here cannot report a failure: whoever wrote through the descriptor calls Close().
  ~UniqueFd() { Reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }

  // Gives up ownership without closing; returns the descriptor (-1 when there was none).
  [[nodiscard]] int Release() noexcept { return std::exchange(fd_, -1); }

  // Closes the descriptor held, if any, ignoring the result, and takes `fd` instead.
  void Reset(int fd = -1) noexcept {
    const int old = std::exchange(fd_, fd < 0 ? -1 : fd);
    if (old >= 0) (void)sys::Calls().close(old);
  }

  // Closes the descriptor held and returns 0, or the errno of a failed close (for a file that
  // was written, a delayed write error may only show here). The descriptor is gone either way:
  // on Linux close() releases it even when it fails (EINTR included), so it is never retried,
  // and an EINTR is reported like any other failure since the data may not have reached disk.
  [[nodiscard]] int Close() noexcept {
    const int old = std::exchange(fd_, -1);
    if (old < 0 || sys::Calls().close(old) == 0) return 0;
    return errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace vesmer
