#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace vesmer {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

struct Line {
  std::string_view text;  // without its line end
  std::size_t begin = 0;  // offset of the line in the file
  std::size_t end = 0;    // offset after its line end
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    const std::size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
    if (nl == std::string_view::npos) nl = text.size();
    std::size_t stop = nl;
    if (stop > pos && text[stop - 1] == '\r') --stop;
    lines.push_back({text.substr(pos, stop - pos), pos, next});
    pos = next;
  }
  return lines;
}

// The name of a "[name]" line, or nothing when the line is not a section header.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

struct Location {
  bool section_found = false;
  std::size_t insert_at = 0;            // where a new key of the section goes
  std::optional<std::size_t> key_line;  // index into lines
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  Location loc;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (const auto name = SectionName(lines[i].text)) {
      if (inside) break;  // the end of the (first) matching section
      if (SameName(*name, section)) {
        inside = true;
        loc.section_found = true;
        loc.insert_at = lines[i].end;
      }
      continue;
    }
    if (!inside) continue;
    std::string_view k, v;
    if (KeyValue(lines[i].text, k, v)) {
      if (SameName(k, key)) {
        loc.key_line = i;
        return loc;
      }
    }
    if (!Trim(lines[i].text).empty()) loc.insert_at = lines[i].end;
  }
  return loc;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(fd);
      if (got < 0) return std::nullopt;
      return content;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace

std::string FindProfileValue(std::string_view text, std::string_view section,
                             std::string_view key) {
  const std::vector<Line> lines = SplitLines(text);
  const Location loc = Find(lines, section, key);
  if (!loc.key_line) return {};
  std::string_view k, v;
  (void)KeyValue(lines[*loc.key_line].text, k, v);
  return std::string(v);
}

std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
  std::string clean(value);
  for (char& c : clean) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const std::string entry = std::string(key) + "=" + clean;
  const std::vector<Line> lines = SplitLines(text);
  const Location loc = Find(lines, section, key);
  std::string out;
  if (loc.key_line) {
    const Line& line = lines[*loc.key_line];
    out.append(text.substr(0, line.begin));
    out.append(entry);
    out.append(text.substr(line.begin + line.text.size()));  // keeps the line end as it was
    return out;
  }
  // Lines end at LF (a CR before it is dropped); a lone CR is part of its line.
  const auto ends_line = [](std::string_view t) { return t.empty() || t.back() == '\n'; };
  if (loc.section_found) {
    out.append(text.substr(0, loc.insert_at));
    if (!ends_line(out)) out.append("\r\n");
    out.append(entry).append("\r\n");
    out.append(text.substr(loc.insert_at));
    return out;
  }
  out.append(text);
  if (!ends_line(out)) out.append("\r\n");
  out.append("[").append(section).append("]\r\n").append(entry).append("\r\n");
  return out;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::size_t max_bytes) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return {};
  std::string value = FindProfileValue(*text, section, key);
  if (value.size() > max_bytes) value.resize(max_bytes);
  return value;
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) {
    if (errno != ENOENT) return false;  // exists but unreadable: do not replace it blindly
    text.emplace();
  }
  const std::string updated = SetProfileValue(*text, section, key, value);
  if (updated == *text) return true;

  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat st;
  ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  bool ok = WriteAll(fd, updated) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace vesmer
