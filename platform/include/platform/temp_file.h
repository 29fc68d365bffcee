// Temporary files for sorting: anonymous where the file system allows, so nothing is ever left
// behind, whatever way the process ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace vesmer {

// A read-write temporary file. It is created with O_TMPFILE and never has a name; where the
// file system cannot do that it is created exclusively under a fresh name that is removed at
// once. Either way the file and its disk space go when it is closed or the process ends
// (SIGKILL included). Failures carry the folder as their path.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Close(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file in folder `dir` (closing any file held before).
  [[nodiscard]] Status Create(const std::string& dir);
  // Writes all `n` bytes at `offset`: a full disk is ENOSPC, a file size limit EFBIG.
  [[nodiscard]] Status WriteAt(std::uint64_t offset, const char* data, std::size_t n);
  // Reads exactly `n` bytes at `offset`; fewer bytes there is EIO.
  [[nodiscard]] Status ReadAt(std::uint64_t offset, char* data, std::size_t n) const;
  // Hands the disk space of a range no longer needed back to the file system where it can
  // (punching a hole); nothing changes where it cannot.
  void Discard(std::uint64_t offset, std::uint64_t n);
  void Close();

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }
  [[nodiscard]] const std::string& dir() const { return dir_; }

 private:
  int fd_ = -1;
  std::string dir_;
};

// True when `status` says a temporary file could not be created or written: its folder is
// missing, full or closed to us. The status's path is then the folder.
[[nodiscard]] bool IsTemporaryFolderFailure(const Status& status);

// Seam for tests: while on, Create() takes the named way even where O_TMPFILE works (so does
// every nameless file of the process: see ForceNamedFilesForTesting).
void ForceNamedTempFilesForTesting(bool on);

}  // namespace vesmer
