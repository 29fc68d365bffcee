#include "platform/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/nameless_file.h"
#include "platform/sys.h"

namespace vesmer {
namespace {

// Operations of the failures IsTemporaryFolderFailure recognises.
constexpr const char* kCreate = "create temporary file";
constexpr const char* kWrite = "write temporary file";

}  // namespace

bool IsTemporaryFolderFailure(const Status& status) {
  return !status.ok() && (status.operation() == kCreate || status.operation() == kWrite);
}

void ForceNamedTempFilesForTesting(bool on) { ForceNamedFilesForTesting(on); }

Status TempFile::Create(const std::string& dir) {
  Close();
  dir_ = dir;
  // O_EXCL: this file is never to get a name.
  if (const int fd = OpenNamelessFile(dir, O_RDWR | O_EXCL, 0600); fd >= 0) {
    fd_ = fd;
    return {};
  }
  if (!NamelessFileUnsupported(errno)) return Status::Error(errno, kCreate, dir);
  std::string name = dir;
  if (name.empty() || name.back() != '/') name += '/';
  name += ".vesmer-sort-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Status::Error(errno, kCreate, dir);
  // The name lives only between these two calls.
  if (sys::Calls().unlink(name.c_str()) != 0) {
    const int error = errno;
    sys::Calls().close(fd);
    return Status::Error(error, "remove temporary file", name);
  }
  fd_ = fd;
  return {};
}

Status TempFile::WriteAt(std::uint64_t offset, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t put = sys::Calls().pwrite(fd_, data, n, static_cast<off_t>(offset));
    if (put < 0) {
      if (errno == EINTR) continue;
      return Status::Error(errno, kWrite, dir_);
    }
    // A write cut short by a full disk or a size limit reports why on the next call.
    data += put;
    n -= static_cast<std::size_t>(put);
    offset += static_cast<std::uint64_t>(put);
  }
  return {};
}

Status TempFile::ReadAt(std::uint64_t offset, char* data, std::size_t n) const {
  while (n > 0) {
    const ssize_t got = sys::Calls().pread(fd_, data, n, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return Status::Error(errno, "read temporary file", dir_);
    }
    if (got == 0) return Status::Error(EIO, "read temporary file", dir_);
    data += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return {};
}

void TempFile::Discard(std::uint64_t offset, std::uint64_t n) {
  if (fd_ < 0 || n == 0) return;
  // Best effort: where holes cannot be punched the space comes back when the file is closed.
  (void)::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(n));
}

void TempFile::Close() {
  // Nothing in the file outlives it, so a failing close loses nothing.
  if (fd_ >= 0) sys::Calls().close(fd_);
  fd_ = -1;
}

}  // namespace vesmer
