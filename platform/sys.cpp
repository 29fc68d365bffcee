#include "platform/sys.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cassert>
#include <cstdlib>

namespace vesmer::sys {
namespace {

// Lambdas rather than the functions' addresses: the C library may declare a call as an inline
// wrapper (fortified builds) or under another name, and `open` takes its mode as a variadic
// argument.
constexpr SysCalls kRealCalls = {
    .open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    .close = [](int fd) { return ::close(fd); },
    .read = [](int fd, void* buffer, std::size_t count) { return ::read(fd, buffer, count); },
    .write = [](int fd, const void* buffer,
                std::size_t count) { return ::write(fd, buffer, count); },
    .pread = [](int fd, void* buffer, std::size_t count,
                off_t offset) { return ::pread(fd, buffer, count, offset); },
    .pwrite = [](int fd, const void* buffer, std::size_t count,
                 off_t offset) { return ::pwrite(fd, buffer, count, offset); },
    .fstat = [](int fd, struct stat* st) { return ::fstat(fd, st); },
    .fstatvfs = [](int fd, struct statvfs* st) { return ::fstatvfs(fd, st); },
    .stat = [](const char* path, struct stat* st) { return ::stat(path, st); },
    .lstat = [](const char* path, struct stat* st) { return ::lstat(path, st); },
    .lseek = [](int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); },
    .ftruncate = [](int fd, off_t length) { return ::ftruncate(fd, length); },
    .fallocate = [](int fd, int mode, off_t offset,
                    off_t length) { return ::fallocate(fd, mode, offset, length); },
    .fsync = [](int fd) { return ::fsync(fd); },
    .sync_file_range = [](int fd, off_t offset, off_t count,
                          unsigned flags) { return ::sync_file_range(fd, offset, count, flags); },
    .posix_fadvise = [](int fd, off_t offset, off_t length,
                        int advice) { return ::posix_fadvise(fd, offset, length, advice); },
    .flock = [](int fd, int operation) { return ::flock(fd, operation); },
    .fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); },
    .fchown = [](int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); },
    .rename = [](const char* from, const char* to) { return ::rename(from, to); },
    .renameat2 =
        [](int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
          return static_cast<int>(::syscall(SYS_renameat2, from_dir, from, to_dir, to, flags));
        },
    .link = [](const char* from, const char* to) { return ::link(from, to); },
    .linkat = [](int from_dir, const char* from, int to_dir, const char* to,
                 int flags) { return ::linkat(from_dir, from, to_dir, to, flags); },
    .unlink = [](const char* path) { return ::unlink(path); },
    .mkdir = [](const char* path, mode_t mode) { return ::mkdir(path, mode); },
    .mkostemp = [](char* pattern, int flags) { return ::mkostemp(pattern, flags); },
    .readlink = [](const char* path, char* buffer,
                   std::size_t size) { return ::readlink(path, buffer, size); },
    .access = [](const char* path, int mode) { return ::access(path, mode); },
    .faccessat = [](int dir, const char* path, int mode,
                    int flags) { return ::faccessat(dir, path, mode, flags); },
    .eventfd = [](unsigned initial, int flags) { return ::eventfd(initial, flags); },
    .poll = [](pollfd* fds, nfds_t count, int timeout) { return ::poll(fds, count, timeout); },
    .mmap = [](void* address, std::size_t length, int protection, int flags, int fd,
               off_t offset) { return ::mmap(address, length, protection, flags, fd, offset); },
    .mremap = [](void* address, std::size_t old_length, std::size_t new_length,
                 int flags) { return ::mremap(address, old_length, new_length, flags); },
    .munmap = [](void* address, std::size_t length) { return ::munmap(address, length); },
    .pipe2 = [](int fds[2], int flags) { return ::pipe2(fds, flags); },
    .fork = [] { return ::fork(); },
    .waitpid = [](pid_t pid, int* status, int options) { return ::waitpid(pid, status, options); },
    .execvp = [](const char* file, char* const argv[]) { return ::execvp(file, argv); },
};

}  // namespace

namespace internal {
// Constant-initialised, so a call made while other static objects are still being built finds
// the real table already.
constinit std::atomic<const SysCalls*> active_calls{&kRealCalls};
}  // namespace internal

const SysCalls& RealCalls() noexcept { return kRealCalls; }

ScopedSysCalls::ScopedSysCalls(const SysCalls& calls) noexcept
    : calls_(calls), previous_(internal::active_calls.load(std::memory_order_acquire)) {
  internal::active_calls.store(&calls_, std::memory_order_release);
}

ScopedSysCalls::~ScopedSysCalls() {
  [[maybe_unused]] const SysCalls* const replaced =
      internal::active_calls.exchange(previous_, std::memory_order_acq_rel);
  assert(replaced == &calls_ && "ScopedSysCalls destroyed out of order");
}

}  // namespace vesmer::sys
