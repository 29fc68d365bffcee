#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vesmer {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kWriteBuffer = 1 << 20;

#ifndef RENAME_NOREPLACE
constexpr unsigned kRenameNoReplace = 1;
#else
constexpr unsigned kRenameNoReplace = RENAME_NOREPLACE;
#endif

}  // namespace

FileId IdOfPath(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, true};
}

LineReader::LineReader() = default;
LineReader::~LineReader() { Close(); }

Status LineReader::Open(const std::string& path) {
  Close();
  status_ = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return status_ = Status::Error(errno, "open " + path);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return status_ = Status::Error(err, "open " + path);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fd_ = fd;
  id_ = {st.st_dev, st.st_ino, true};
  size_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  consumed_ = 0;
  if (!buffer_) {
    capacity_ = kReadChunk;
    buffer_ = std::make_unique<char[]>(capacity_);
  }
  begin_ = end_ = 0;
  eof_ = false;
  skip_lf_ = false;
  return status_;
}

void LineReader::Close() {
  if (fd_ >= 0) ::close(fd_);  // read-only: nothing to lose on close
  fd_ = -1;
}

// Moves the unread bytes to the front, grows the buffer when a line fills it, and reads more.
// Returns false at end of file or on error.
bool LineReader::Fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == capacity_) {
    auto bigger = std::make_unique<char[]>(capacity_ * 2);
    std::memcpy(bigger.get(), buffer_.get(), end_);
    buffer_ = std::move(bigger);
    capacity_ *= 2;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get() + end_, capacity_ - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    if (errno != EINTR) {
      status_ = Status::Error(errno, "read");
      eof_ = true;
      return false;
    }
  }
}

bool LineReader::Next(std::string_view& line) {
  if (fd_ < 0 || !status_.ok()) return false;
  if (skip_lf_) {
    if (begin_ == end_) Fill();
    if (begin_ < end_ && buffer_[begin_] == '\n') {
      ++begin_;
      ++consumed_;
    }
    skip_lf_ = false;
  }
  std::size_t scanned = begin_;
  for (;;) {
    const char* data = buffer_.get();
    const void* cr = scanned < end_ ? std::memchr(data + scanned, '\r', end_ - scanned) : nullptr;
    if (cr != nullptr) {
      const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(cr) - data);
      line = std::string_view(data + begin_, at - begin_);
      std::size_t next = at + 1;
      if (next < end_) {
        if (data[next] == '\n') ++next;
      } else {
        skip_lf_ = true;  // the LF, if any, is in the next read
      }
      consumed_ += next - begin_;
      begin_ = next;
      return true;
    }
    const std::size_t pending = end_ - begin_;
    if (!Fill()) {
      if (!status_.ok() || begin_ == end_) return false;
      line = std::string_view(buffer_.get() + begin_, end_ - begin_);  // last line, no end
      consumed_ += end_ - begin_;
      begin_ = end_;
      return true;
    }
    scanned = begin_ + pending;
  }
}

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
  if (fd_ >= 0) (void)Close();
}

Status OutputFile::Create(const std::string& path) {
  status_ = {};
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return status_ = Status::Error(errno, "create " + path);
  fd_ = fd;
  if (!buffer_) buffer_ = std::make_unique<char[]>(kWriteBuffer);
  used_ = 0;
  return status_;
}

void OutputFile::WriteOut(const char* data, std::size_t n) {
  while (n > 0 && status_.ok()) {
    const ssize_t put = ::write(fd_, data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      status_ = Status::Error(errno, "write");
      return;
    }
    data += put;
    n -= static_cast<std::size_t>(put);
  }
}

void OutputFile::Append(std::string_view bytes) {
  if (fd_ < 0 || !status_.ok()) return;
  if (bytes.size() > kWriteBuffer - used_) {
    WriteOut(buffer_.get(), used_);
    used_ = 0;
    if (bytes.size() >= kWriteBuffer) {
      WriteOut(bytes.data(), bytes.size());
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

Status OutputFile::Flush() {
  if (fd_ >= 0 && used_ > 0) {
    WriteOut(buffer_.get(), used_);
    used_ = 0;
  }
  return status_;
}

Status OutputFile::Close() {
  if (fd_ < 0) return status_;
  (void)Flush();
  if (::close(fd_) != 0 && status_.ok()) status_ = Status::Error(errno, "close");
  fd_ = -1;
  return status_;
}

bool FileExists(std::string path) {
  if (path.empty()) return false;
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  ::close(fd);
  return ok;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CutNull(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string RemoveExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < name) return std::string(path);
  return std::string(path.substr(0, dot));
}

Status RenameNoReplace(const std::string& from, const std::string& to) {
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kRenameNoReplace) ==
      0) {
    return {};
  }
  if (errno != EINVAL && errno != ENOSYS) return Status::Error(errno, "rename " + from);
  // File systems without RENAME_NOREPLACE: link refuses an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0) return Status::Error(errno, "link " + from);
  if (::unlink(from.c_str()) != 0) {
    const int err = errno;
    ::unlink(to.c_str());
    return Status::Error(err, "unlink " + from);
  }
  return {};
}

}  // namespace vesmer
