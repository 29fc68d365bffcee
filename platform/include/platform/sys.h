// The system calls of the platform code, made through one table of function pointers, so that a
// test can put a disk that fails (EIO, ENOSPC), an interrupted call (EINTR) or a short read or
// write in place of the real call, in its own process.
#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>

namespace vesmer::sys {

// One entry per call, each with the meaning, arguments and errno of the call it is named after.
// `open` always takes a mode (it is ignored without O_CREAT or O_TMPFILE); `renameat2` is the
// raw system call, which older C libraries do not wrap.
struct SysCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, std::size_t count);
  ssize_t (*write)(int fd, const void* buffer, std::size_t count);
  ssize_t (*pread)(int fd, void* buffer, std::size_t count, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buffer, std::size_t count, off_t offset);
  int (*fstat)(int fd, struct stat* st);
  int (*fstatvfs)(int fd, struct statvfs* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*ftruncate)(int fd, off_t length);
  int (*fallocate)(int fd, int mode, off_t offset, off_t length);
  int (*fsync)(int fd);
  int (*sync_file_range)(int fd, off_t offset, off_t count, unsigned flags);
  int (*posix_fadvise)(int fd, off_t offset, off_t length, int advice);
  int (*flock)(int fd, int operation);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*rename)(const char* from, const char* to);
  int (*renameat2)(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
  int (*link)(const char* from, const char* to);
  int (*linkat)(int from_dir, const char* from, int to_dir, const char* to, int flags);
  int (*unlink)(const char* path);
  int (*mkdir)(const char* path, mode_t mode);
  int (*mkostemp)(char* pattern, int flags);
  ssize_t (*readlink)(const char* path, char* buffer, std::size_t size);
  int (*access)(const char* path, int mode);
  int (*faccessat)(int dir, const char* path, int mode, int flags);
  int (*eventfd)(unsigned initial, int flags);
  int (*poll)(pollfd* fds, nfds_t count, int timeout);
  void* (*mmap)(void* address, std::size_t length, int protection, int flags, int fd, off_t offset);
  void* (*mremap)(void* address, std::size_t old_length, std::size_t new_length, int flags);
  int (*munmap)(void* address, std::size_t length);
  int (*pipe2)(int fds[2], int flags);
  pid_t (*fork)();
  pid_t (*waitpid)(pid_t pid, int* status, int options);
  int (*execvp)(const char* file, char* const argv[]);
};

// The table of the real calls.
[[nodiscard]] const SysCalls& RealCalls() noexcept;

namespace internal {
extern std::atomic<const SysCalls*> active_calls;
}  // namespace internal

// The table the platform code calls through: the real calls, unless a test has put a
// ScopedSysCalls in place. Safe to use from any thread; costs one load and, per call, one
// indirect call.
[[nodiscard]] inline const SysCalls& Calls() noexcept {
  return *internal::active_calls.load(std::memory_order_acquire);
}

// For tests: makes `calls` the table of the whole process for the lifetime of the object, then
// puts back the table that was active before. Objects are destroyed in the reverse order of
// their making. The table is read without a lock, so a test makes and destroys one only while
// no platform call is under way on any thread: before it opens the files of the code it tests,
// and after it has closed them (a LineReader or OutputFile runs calls on threads of its own
// until it is closed). Never used by the program itself.
class ScopedSysCalls {
 public:
  explicit ScopedSysCalls(const SysCalls& calls) noexcept;
  ~ScopedSysCalls();
  ScopedSysCalls(const ScopedSysCalls&) = delete;
  ScopedSysCalls& operator=(const ScopedSysCalls&) = delete;

 private:
  const SysCalls calls_;
  const SysCalls* const previous_;
};

}  // namespace vesmer::sys
