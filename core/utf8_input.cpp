#include "core/utf8_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/cp932.h"
#include "platform/sys.h"

namespace vesmer {
namespace {

// A UTF-8 sequence is at most four bytes, so at most three wait for the next read.
constexpr std::size_t kMaxCarried = 3;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::atomic<void (*)(int)> step_hook{nullptr};

void Step(int step) {
  if (void (*hook)(int) = step_hook.load(std::memory_order_relaxed)) hook(step);
}

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) sys::Calls().close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  // Closes now and reports the failure a close can bring (a delayed write error).
  // Hands the descriptor over to the caller.
  int Release() { return std::exchange(fd_, -1); }
  [[nodiscard]] Status Close(const std::string& path) {
    const int fd = fd_;
    fd_ = -1;
    if (sys::Calls().close(fd) != 0) return Status::Error(errno, "close", path);
    return {};
  }

 private:
  int fd_;
};

FileId IdOfStat(const struct stat& st) { return {st.st_dev, st.st_ino, true}; }

Status WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t put = sys::Calls().write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return Status::Error(errno, "write", path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return {};
}

// Opens P_SJIS.TXT for writing without following a link, creating it when missing, and checks
// the file the descriptor really names before anything is truncated: a check on the path
// followed by an open would leave a gap in which the name could be pointed elsewhere.
Status OpenConverted(const std::string& path, const FileId& input, std::span<const FileId> protect,
                     int& fd_out, FileId& id_out) {
  // O_NONBLOCK keeps a FIFO of that name from stalling the open; it is refused below.
  const int fd = sys::Calls().open(
      path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return Status::Error(errno, "create", path);  // ELOOP: a symbolic link
  FdCloser closer(fd);
  struct stat st;
  if (sys::Calls().fstat(fd, &st) != 0) return Status::Error(errno, "create", path);
  const FileId id = IdOfStat(st);
  bool taken = !S_ISREG(st.st_mode) || st.st_nlink > 1 || id == input;
  for (const FileId& other : protect) taken = taken || id == other;
  if (taken) return Status::Error(EEXIST, "create", path);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return Status::Error(errno, "create", path);
  }
  if (sys::Calls().ftruncate(fd, 0) != 0) return Status::Error(errno, "truncate", path);
  fd_out = closer.Release();
  id_out = id;
  return {};
}

}  // namespace

namespace detail {

void SetUtf8ConversionStepHook(void (*hook)(int step)) {
  step_hook.store(hook, std::memory_order_relaxed);
}

Status TranscodeUtf8(const ReadFunction& read, const WriteFunction& write, std::size_t chunk) {
  auto in = std::make_unique_for_overwrite<char[]>(kMaxCarried + chunk);
  auto out =
      std::make_unique_for_overwrite<char[]>(cp932::Utf8ToCp932MaxBytes(kMaxCarried + chunk));
  std::size_t carried = 0;  // bytes at the front of `in` still to be encoded
  bool at_start = true;     // the byte order mark is not decided yet
  for (;;) {
    // Never more than a chunk per read, so the carried bytes and the read fit in `in`.
    const ssize_t got = read(in.get() + carried, chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Status::Error(errno, "read");
    }
    const bool at_end = got == 0;
    const std::size_t n = carried + static_cast<std::size_t>(got);
    std::size_t from = 0;
    if (at_start) {
      if (n < 3 && !at_end) {  // a mark could still be forming: wait for more bytes
        carried = n;
        continue;
      }
      at_start = false;
      if (n >= 3 && std::string_view(in.get(), 3) == kByteOrderMark) from = 3;
    }
    std::size_t written = 0;
    const std::size_t consumed =
        cp932::Utf8ToCp932(std::string_view(in.get() + from, n - from), out.get(), written, at_end);
    if (written > 0) {
      if (Status s = write(std::string_view(out.get(), written)); !s.ok()) return s;
    }
    if (at_end) return {};
    carried = n - from - consumed;
    std::memmove(in.get(), in.get() + from + consumed, carried);
  }
}

}  // namespace detail

Utf8InputNames MakeUtf8InputNames(const std::string& input_path) {
  const std::string stem = CutNull(RemoveExtension(input_path));
  return {stem + "_SJIS.TXT", stem + "_UTF8.TXT"};
}

Status ConvertUtf8Input(const std::string& input_path, std::span<const FileId> protect,
                        ChunkObserver* original) {
  const Utf8InputNames names = MakeUtf8InputNames(input_path);
  // O_NONBLOCK keeps a FIFO from stalling the open; anything but a regular file is refused.
  const int in_fd =
      sys::Calls().open(input_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
  if (in_fd < 0) return Status::Error(errno, "open", input_path);
  FdCloser in_closer(in_fd);
  struct stat in_st;
  if (sys::Calls().fstat(in_fd, &in_st) != 0) return Status::Error(errno, "open", input_path);
  if (S_ISDIR(in_st.st_mode)) return Status::Error(EISDIR, "open", input_path);
  if (!S_ISREG(in_st.st_mode)) return Status::Error(EINVAL, "open", input_path);

  int out_fd = -1;
  FileId out_id;
  if (Status s = OpenConverted(names.converted, IdOfStat(in_st), protect, out_fd, out_id);
      !s.ok()) {
    return s;
  }
  FdCloser out_closer(out_fd);
  Status s = detail::TranscodeUtf8(
      [in_fd, original](char* buffer, std::size_t capacity) {
        const ssize_t got = sys::Calls().read(in_fd, buffer, capacity);
        if (got > 0 && original != nullptr) {
          original->OnChunk(std::string_view(buffer, static_cast<std::size_t>(got)));
        }
        return got;
      },
      [out_fd, &names](std::string_view bytes) {
        Status written = WriteAll(out_fd, bytes, names.converted);
        if (written.ok()) Step(detail::kStepChunkWritten);
        return written;
      });
  if (s.ok()) s = out_closer.Close(names.converted);
  if (!s.ok()) {
    s = WithPath(std::move(s), input_path);
    // A half-written conversion is of no use to anyone; the input is untouched. Remove the
    // name only while it still is the file written here.
    struct stat now;
    if (sys::Calls().lstat(names.converted.c_str(), &now) == 0 && IdOfStat(now) == out_id) {
      sys::Calls().unlink(names.converted.c_str());
    }
    return s;
  }
  Step(detail::kStepConvertedClosed);

  if (Status r = RenameNoReplace(input_path, names.backup); !r.ok()) return r;
  Step(detail::kStepInputRenamed);
  if (Status r = RenameNoReplace(names.converted, input_path); !r.ok()) {
    // Put the user's file back under its own name rather than leave the path empty.
    (void)RenameNoReplace(names.backup, input_path);
    return r;
  }
  Step(detail::kStepConvertedRenamed);
  return {};
}

}  // namespace vesmer
