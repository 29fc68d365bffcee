#include "platform/table_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/cp932.h"
#include "platform/sys.h"
#include "platform/unicode.h"

namespace vesmer::table_file {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kFullWidthSpace = "\xE3\x80\x80";

// True when `bytes` is well-formed UTF-8. DecodeUtf8 reports a malformed sequence as U+FFFD,
// so a U+FFFD is told apart from a real one by its three bytes.
bool IsUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(bytes.data() + i, bytes.size() - i, taken);
    if (cp == kReplacementChar && bytes.substr(i, 3) != "\xEF\xBF\xBD") return false;
    i += taken;
  }
  return true;
}

Status CloseChecked(int fd, Status status, const std::string& path) {
  if (sys::Calls().close(fd) != 0 && status.ok()) return Status::Error(errno, "close", path);
  return status;
}

}  // namespace

Status Read(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = sys::Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return Status::Error(errno, "open", path);
  struct stat st;
  if (sys::Calls().fstat(fd, &st) != 0)
    return CloseChecked(fd, Status::Error(errno, "stat", path), path);
  if (S_ISDIR(st.st_mode)) return CloseChecked(fd, Status::Error(EISDIR, "open", path), path);
  // The size is a hint only: the file may grow while it is read, so the limit is applied to
  // what is actually read as well.
  if (S_ISREG(st.st_mode)) {
    if (static_cast<std::uint64_t>(st.st_size) > kMaxBytes) {
      return CloseChecked(fd, Status::Error(EFBIG, "read", path), path);
    }
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = sys::Calls().read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      bytes.clear();
      return CloseChecked(fd, Status::Error(err, "read", path), path);
    }
    if (got == 0) break;
    if (bytes.size() + static_cast<std::size_t>(got) > kMaxBytes) {
      bytes.clear();
      return CloseChecked(fd, Status::Error(EFBIG, "read", path), path);
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return CloseChecked(fd, Status(), path);
}

std::string_view TrimBlanks(std::string_view text) {
  for (;;) {
    if (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.remove_prefix(1);
    } else if (text.starts_with(kFullWidthSpace)) {
      text.remove_prefix(kFullWidthSpace.size());
    } else {
      break;
    }
  }
  for (;;) {
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    } else if (text.ends_with(kFullWidthSpace)) {
      text.remove_suffix(kFullWidthSpace.size());
    } else {
      break;
    }
  }
  return text;
}

std::size_t UsedColumns(const std::vector<std::string_view>& columns) {
  std::size_t n = columns.size();
  while (n > 0 && columns[n - 1].empty()) --n;
  return n;
}

Reader::Reader(std::string_view bytes) : rest_(bytes) {
  if (rest_.starts_with(kByteOrderMark)) {
    rest_.remove_prefix(kByteOrderMark.size());
  } else {
    utf8_ = IsUtf8(rest_);
  }
}

bool Reader::Next() {
  while (!rest_.empty()) {
    // CR and LF are single bytes in both encodings and never the second byte of a code page
    // 932 pair, so lines are cut before decoding: a stray lead byte before a line end cannot
    // swallow it and shift the line numbers.
    const std::size_t end = rest_.find_first_of("\r\n");
    std::string_view line = rest_.substr(0, end);
    if (end == std::string_view::npos) {
      rest_ = {};
    } else {
      const bool crlf = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n';
      rest_.remove_prefix(end + (crlf ? 2 : 1));
    }
    ++line_number_;
    malformed_ = false;
    if (utf8_) {
      malformed_ = !IsUtf8(line);
    } else {
      decoded_.clear();
      cp932::DecodeAppendUtf8(line, decoded_);
      line = decoded_;
    }
    const std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == '#') continue;
    columns_.clear();
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = line.find(',', start);
      columns_.push_back(TrimBlanks(line.substr(start, comma - start)));
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    return true;
  }
  return false;
}

std::string LineMessage(std::string_view what, const std::string& path, int line,
                        std::string_view text) {
  std::string message = "★";
  message += what;
  message += ' ';
  message += path;
  message += " の ";
  message += std::to_string(line);
  message += " 行目: ";
  message += text;
  return message;
}

}  // namespace vesmer::table_file
