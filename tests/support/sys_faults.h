// Faults put in place of the platform code's system calls (see platform/sys.h), in the test's
// own process: a failure with a chosen errno (EIO, ENOSPC, an EINTR once) or a short read or
// write, for the N-th call of a kind, for the calls on one descriptor, or on one path.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sys.h"

namespace vesmer::testing {

// The calls a fault can be put on.
enum class Call {
  kOpen,
  kClose,
  kRead,
  kWrite,
  kFtruncate,
  kFallocate,
  kFsync,
  kFlock,
  kRename,
  kRenameat2,
  kLink,
  kUnlink,
  kCount,  // not a call: the number of kinds
};

inline constexpr int kEveryCall = std::numeric_limits<int>::max();
inline constexpr std::size_t kWholeCount = std::numeric_limits<std::size_t>::max();

// What happens to the calls of one kind that match. The matching calls made after the fault was
// added are counted from 1; the fault acts on `times` of them, starting with the `nth`. With an
// `error` the call is not made (a close is: its descriptor is gone either way) and fails with that
// errno; without one, a read or write moves `at_most` bytes of those asked for, a short read or
// write.
struct Fault {
  Call call = Call::kCount;
  int error = 0;
  std::size_t at_most = kWholeCount;
  int nth = 1;
  int times = 1;
  // Only the calls on this descriptor; -1: any.
  int fd = -1;
  // Only the calls naming this path (either of a rename's or link's), or made on a descriptor
  // opened by this path while the faults were in place; "": any.
  std::string path = {};
};

// Puts the faults added in place of the real calls while it lives. One at a time; made and
// destroyed while no platform call is under way (see sys::ScopedSysCalls): declare it before
// the readers and writers of the test, so that they are closed first.
class SysFaults {
 public:
  SysFaults() : real_(sys::Calls()) {
    active_ = this;
    sys::SysCalls calls = real_;
    calls.open = Open;
    calls.close = Close;
    calls.read = Read;
    calls.write = Write;
    calls.ftruncate = Ftruncate;
    calls.fallocate = Fallocate;
    calls.fsync = Fsync;
    calls.flock = Flock;
    calls.rename = Rename;
    calls.renameat2 = Renameat2;
    calls.link = Link;
    calls.unlink = Unlink;
    scope_.emplace(calls);
  }
  ~SysFaults() {
    scope_.reset();
    active_ = nullptr;
  }
  SysFaults(const SysFaults&) = delete;
  SysFaults& operator=(const SysFaults&) = delete;

  void Add(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back({std::move(fault), 0});
  }

  // How many calls of that kind were made, faulted or not.
  [[nodiscard]] int Calls(Call call) const {
    std::lock_guard lock(mutex_);
    return calls_[static_cast<std::size_t>(call)];
  }
  // How many calls a fault acted on.
  [[nodiscard]] int Hits() const {
    std::lock_guard lock(mutex_);
    return hits_;
  }

 private:
  struct Active {
    Fault fault;
    int matched = 0;
  };
  struct Decision {
    int error = 0;
    std::size_t at_most = kWholeCount;
  };

  // What to do to a call of kind `call` on `fd` (or -1), naming `path` and `other` (or null).
  Decision Decide(Call call, int fd, const char* path, const char* other = nullptr) {
    std::lock_guard lock(mutex_);
    ++calls_[static_cast<std::size_t>(call)];
    std::string fd_path;
    if (const auto it = fd_paths_.find(fd); fd >= 0 && it != fd_paths_.end()) fd_path = it->second;
    Decision decision;
    for (Active& active : faults_) {
      const Fault& f = active.fault;
      if (f.call != call || (f.fd >= 0 && f.fd != fd)) continue;
      if (!f.path.empty() && f.path != fd_path && (path == nullptr || f.path != path) &&
          (other == nullptr || f.path != other)) {
        continue;
      }
      const int n = ++active.matched;
      if (n < f.nth || n - f.nth >= f.times) continue;
      ++hits_;
      if (f.error != 0) decision.error = f.error;
      decision.at_most = std::min(decision.at_most, f.at_most);
    }
    return decision;
  }

  // Remembers the descriptors opened by a path that a fault names.
  void Opened(int fd, const char* path) {
    std::lock_guard lock(mutex_);
    for (const Active& active : faults_) {
      if (!active.fault.path.empty() && active.fault.path == path) fd_paths_[fd] = path;
    }
  }
  void Closed(int fd) {
    std::lock_guard lock(mutex_);
    fd_paths_.erase(fd);
  }

  static int Failed(int error) {
    errno = error;
    return -1;
  }

  static int Open(const char* path, int flags, mode_t mode) {
    if (const Decision d = active_->Decide(Call::kOpen, -1, path); d.error != 0) {
      return Failed(d.error);
    }
    const int fd = active_->real_.open(path, flags, mode);
    if (fd >= 0) active_->Opened(fd, path);
    return fd;
  }
  static int Close(int fd) {
    const Decision d = active_->Decide(Call::kClose, fd, nullptr);
    active_->Closed(fd);
    const int result = active_->real_.close(fd);
    return d.error != 0 ? Failed(d.error) : result;
  }
  static ssize_t Read(int fd, void* buffer, std::size_t count) {
    const Decision d = active_->Decide(Call::kRead, fd, nullptr);
    if (d.error != 0) return Failed(d.error);
    return active_->real_.read(fd, buffer, std::min(count, d.at_most));
  }
  static ssize_t Write(int fd, const void* buffer, std::size_t count) {
    const Decision d = active_->Decide(Call::kWrite, fd, nullptr);
    if (d.error != 0) return Failed(d.error);
    return active_->real_.write(fd, buffer, std::min(count, d.at_most));
  }
  static int Ftruncate(int fd, off_t length) {
    const Decision d = active_->Decide(Call::kFtruncate, fd, nullptr);
    return d.error != 0 ? Failed(d.error) : active_->real_.ftruncate(fd, length);
  }
  static int Fallocate(int fd, int mode, off_t offset, off_t length) {
    const Decision d = active_->Decide(Call::kFallocate, fd, nullptr);
    return d.error != 0 ? Failed(d.error) : active_->real_.fallocate(fd, mode, offset, length);
  }
  static int Fsync(int fd) {
    const Decision d = active_->Decide(Call::kFsync, fd, nullptr);
    return d.error != 0 ? Failed(d.error) : active_->real_.fsync(fd);
  }
  static int Flock(int fd, int operation) {
    const Decision d = active_->Decide(Call::kFlock, fd, nullptr);
    return d.error != 0 ? Failed(d.error) : active_->real_.flock(fd, operation);
  }
  static int Rename(const char* from, const char* to) {
    const Decision d = active_->Decide(Call::kRename, -1, from, to);
    return d.error != 0 ? Failed(d.error) : active_->real_.rename(from, to);
  }
  static int Renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    const Decision d = active_->Decide(Call::kRenameat2, -1, from, to);
    return d.error != 0 ? Failed(d.error)
                        : active_->real_.renameat2(from_dir, from, to_dir, to, flags);
  }
  static int Link(const char* from, const char* to) {
    const Decision d = active_->Decide(Call::kLink, -1, from, to);
    return d.error != 0 ? Failed(d.error) : active_->real_.link(from, to);
  }
  static int Unlink(const char* path) {
    const Decision d = active_->Decide(Call::kUnlink, -1, path);
    return d.error != 0 ? Failed(d.error) : active_->real_.unlink(path);
  }

  static inline SysFaults* active_ = nullptr;

  const sys::SysCalls real_;
  mutable std::mutex mutex_;
  std::vector<Active> faults_;
  std::map<int, std::string> fd_paths_;
  int calls_[static_cast<std::size_t>(Call::kCount)] = {};
  int hits_ = 0;
  std::optional<sys::ScopedSysCalls> scope_;
};

}  // namespace vesmer::testing
