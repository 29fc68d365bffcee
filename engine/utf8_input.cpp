#include "engine/utf8_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

constexpr std::size_t kChunk = 1 << 20;

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;

 private:
  int fd_;
};

// Streams UTF-8 from `in_fd` to `out` as code page 932.
Status Transcode(int in_fd, OutputFile& out) {
  auto buffer = std::make_unique<char[]>(kChunk + 4);
  std::string encoded;
  std::u16string units;
  std::size_t carried = 0;  // bytes of an incomplete sequence kept from the last read
  bool first = true;
  for (;;) {
    const ssize_t got = ::read(in_fd, buffer.get() + carried, kChunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Status::Error(errno, "read");
    }
    const bool at_end = got == 0;
    const std::size_t n = carried + static_cast<std::size_t>(got);
    std::size_t i = 0;
    if (first && n >= 3 && buffer[0] == '\xEF' && buffer[1] == '\xBB' && buffer[2] == '\xBF') {
      i = 3;
    }
    if (first && (n >= 3 || at_end)) first = false;
    if (first) {  // fewer than three bytes so far: wait for more before judging the mark
      carried = n;
      continue;
    }
    encoded.clear();
    while (i < n) {
      std::size_t taken = 0;
      const char32_t cp = DecodeUtf8(buffer.get() + i, n - i, taken, at_end);
      if (taken == 0) break;  // an incomplete sequence: finish it after the next read
      units.clear();
      AppendUtf16(cp, units);
      cp932::EncodeAppend(units, encoded);
      i += taken;
    }
    out.Append(encoded);
    if (!out.status().ok()) return out.status();
    carried = n - i;
    for (std::size_t k = 0; k < carried; ++k) buffer[k] = buffer[i + k];
    if (at_end) return {};
  }
}

}  // namespace

Utf8InputNames MakeUtf8InputNames(const std::string& input_path) {
  const std::string stem = CutNull(RemoveExtension(input_path));
  return {stem + "_SJIS.TXT", stem + "_UTF8.TXT"};
}

Status ConvertUtf8Input(const std::string& input_path) {
  const Utf8InputNames names = MakeUtf8InputNames(input_path);
  const int in_fd = ::open(input_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (in_fd < 0) return Status::Error(errno, "open", input_path);
  {
    FdCloser closer(in_fd);
    OutputFile out;
    if (Status s = out.Create(names.converted); !s.ok()) return s;
    Status s = Transcode(in_fd, out);
    Status closed = out.Close();
    if (s.ok()) s = closed;
    if (!s.ok()) {
      // A half-written conversion is of no use to anyone; the input is untouched.
      ::unlink(names.converted.c_str());
      return s;
    }
  }
  if (Status s = RenameNoReplace(input_path, names.backup); !s.ok()) return s;
  if (Status s = RenameNoReplace(names.converted, input_path); !s.ok()) {
    // Put the user's file back under its own name rather than leave the path empty.
    (void)RenameNoReplace(names.backup, input_path);
    return s;
  }
  return {};
}

}  // namespace vesmer
