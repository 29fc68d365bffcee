#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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

// The read-ahead thread of a LineReader: it fills free chunks in file order and hands them
// over; the reader gives each chunk back when it moves on to the next.
struct LineReader::Prefetch {
  static constexpr int kChunks = 4;

  explicit Prefetch(int file) : fd(file) {
    for (int i = 0; i < kChunks; ++i) {
      storage[i] = std::make_unique<char[]>(kReadChunk);
      free.push_back(storage[i].get());
    }
    thread = std::thread([this] { Run(); });
  }

  ~Prefetch() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    thread.join();
    ::close(fd);  // read-only: nothing to lose on close
  }

  void Run() {
    for (;;) {
      char* buffer;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stop || !free.empty(); });
        if (stop) return;
        buffer = free.back();
        free.pop_back();
      }
      std::size_t n = 0;
      int error = 0;
      while (n < kReadChunk) {
        const ssize_t got = ::read(fd, buffer + n, kReadChunk - n);
        if (got > 0) {
          n += static_cast<std::size_t>(got);
        } else if (got == 0) {
          break;
        } else if (errno != EINTR) {
          error = errno;
          break;
        }
      }
      {
        std::lock_guard lock(mutex);
        if (n > 0) {
          filled.emplace_back(buffer, n);
        } else {
          free.push_back(buffer);
        }
        read_error = error;
        done = n < kReadChunk;  // the end of the file, or an error
      }
      changed.notify_all();
      if (n < kReadChunk) return;
    }
  }

  // Gives back the chunk held so far and waits for the next one.
  bool Take(std::string_view& chunk) {
    std::unique_lock lock(mutex);
    if (held != nullptr) {
      free.push_back(held);
      held = nullptr;
      changed.notify_all();
    }
    changed.wait(lock, [this] { return !filled.empty() || done; });
    if (filled.empty()) return false;
    held = filled.front().first;
    chunk = std::string_view(held, filled.front().second);
    filled.pop_front();
    return true;
  }

  const int fd;
  std::unique_ptr<char[]> storage[kChunks];
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char*> free;
  std::deque<std::pair<char*, std::size_t>> filled;
  char* held = nullptr;
  bool done = false;
  bool stop = false;
  int read_error = 0;
  std::thread thread;
};

LineReader::LineReader() = default;
LineReader::~LineReader() { Close(); }

Status LineReader::Open(const std::string& path) {
  Close();
  status_ = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return status_ = Status::Error(errno, "open", path);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return status_ = Status::Error(err, "open", path);
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  id_ = {st.st_dev, st.st_ino, true};
  size_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  consumed_ = 0;
  chunk_ = {};
  carry_.clear();
  skip_lf_ = false;
  prefetch_ = std::make_unique<Prefetch>(fd);
  return status_;
}

void LineReader::Close() {
  prefetch_.reset();
  chunk_ = {};
}

bool LineReader::Refill() {
  if (prefetch_->Take(chunk_)) return true;
  chunk_ = {};
  if (prefetch_->read_error != 0) status_ = Status::Error(prefetch_->read_error, "read");
  return false;
}

void LineReader::EndLine(std::size_t cr) {
  std::size_t next = cr + 1;
  if (next < chunk_.size()) {
    if (chunk_[next] == '\n') ++next;
  } else {
    skip_lf_ = true;  // the LF, if any, starts the next chunk
  }
  consumed_ += next;
  chunk_.remove_prefix(next);
}

bool LineReader::Next(std::string_view& line) {
  if (prefetch_ == nullptr || !status_.ok()) return false;
  if (skip_lf_) {
    skip_lf_ = false;
    if (chunk_.empty() && !Refill()) return false;
    if (chunk_.front() == '\n') {
      chunk_.remove_prefix(1);
      ++consumed_;
    }
  }
  // Most lines lie within the chunk at hand and are handed out where they are. (No memchr on
  // an empty view: its data may be null.)
  const void* cr = chunk_.empty() ? nullptr : std::memchr(chunk_.data(), '\r', chunk_.size());
  if (cr != nullptr) {
    const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - chunk_.data());
    line = chunk_.substr(0, at);
    EndLine(at);
    return true;
  }
  carry_.assign(chunk_);
  consumed_ += chunk_.size();
  chunk_ = {};
  for (;;) {
    if (!Refill()) {
      if (!status_.ok() || carry_.empty()) return false;
      line = carry_;  // the last line, without a line end
      return true;
    }
    if (const void* cr = std::memchr(chunk_.data(), '\r', chunk_.size())) {
      const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - chunk_.data());
      carry_.append(chunk_.substr(0, at));
      line = carry_;
      EndLine(at);
      return true;
    }
    carry_.append(chunk_);
    consumed_ += chunk_.size();
    chunk_ = {};
  }
}

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
  if (fd_ >= 0) (void)Close();
}

Status OutputFile::Create(const std::string& path) {
  status_ = {};
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return status_ = Status::Error(errno, "create", path);
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
  if (errno != EINVAL && errno != ENOSYS) return Status::Error(errno, "rename", from);
  // File systems without RENAME_NOREPLACE: link refuses an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0) return Status::Error(errno, "link", from);
  if (::unlink(from.c_str()) != 0) {
    const int err = errno;
    ::unlink(to.c_str());
    return Status::Error(err, "unlink", from);
  }
  return {};
}

}  // namespace vesmer
