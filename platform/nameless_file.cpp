#include "platform/nameless_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/sys.h"

namespace vesmer {
namespace {

std::atomic<bool> force_named{false};

}  // namespace

void ForceNamedFilesForTesting(bool on) { force_named.store(on); }

int OpenNamelessFile(const std::string& folder, int flags, mode_t mode) {
  if (force_named.load()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return sys::Calls().open(folder.c_str(), O_TMPFILE | O_CLOEXEC | flags, mode);
}

bool NamelessFileUnsupported(int error) {
  // Kernels before 3.11 ignore the unknown flag bit and see a folder opened for writing (EISDIR);
  // file systems without the operation say EOPNOTSUPP, some EINVAL.
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

int LinkNamelessFile(int fd, const std::string& path) {
  // Through /proc any process may do it; AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH on kernels
  // before 6.10, but works where /proc is not mounted.
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (sys::Calls().linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return 0;
  }
  const int error = errno;
  if (error != ENOENT) return error;
  if (sys::Calls().linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return errno == ENOENT ? error : errno;
}

}  // namespace vesmer
