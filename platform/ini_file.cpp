#include "platform/ini_file.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/cp932.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
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

// Ends the last line of `out`, so that what is appended starts a line of its own. Lines end at
// LF; a CR before the LF, or at the very end of the text, is not part of the line's content. A
// CR at the end therefore only needs its LF: a CR LF after it would make it part of the line,
// and change that line's value.
void EndLastLine(std::string& out) {
  if (out.empty() || out.back() == '\n') return;
  out.append(out.back() == '\r' ? "\n" : "\r\n");
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
      if (SameProfileName(*name, section)) {
        inside = true;
        loc.section_found = true;
        loc.insert_at = lines[i].end;
      }
      continue;
    }
    if (!inside) continue;
    std::string_view k, v;
    if (KeyValue(lines[i].text, k, v)) {
      if (SameProfileName(k, key)) {
        loc.key_line = i;
        return loc;
      }
    }
    if (!Trim(lines[i].text).empty()) loc.insert_at = lines[i].end;
  }
  return loc;
}

}  // namespace

bool SameProfileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    // The second byte of a double-byte character may look like an ASCII letter ("\x83\x61" is
    // one katakana, "\x83\x41" another): the pair is compared as it stands.
    if (cp932::CharLength(a.data() + i, a.size() - i) == 2) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> ProfileSectionNames(std::string_view text) {
  std::vector<std::string> names;
  for (const Line& line : SplitLines(text)) {
    const auto name = SectionName(line.text);
    if (!name) continue;
    bool known = false;
    for (const std::string& seen : names) known = known || SameProfileName(seen, *name);
    if (!known) names.emplace_back(*name);
  }
  return names;
}

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
  if (loc.section_found) {
    out.append(text.substr(0, loc.insert_at));
    EndLastLine(out);
    out.append(entry).append("\r\n");
    out.append(text.substr(loc.insert_at));
    return out;
  }
  out.append(text);
  EndLastLine(out);
  out.append("[").append(section).append("]\r\n").append(entry).append("\r\n");
  return out;
}

std::string SetProfileValues(std::string_view text, std::string_view section,
                             std::span<const ProfileEntry> entries) {
  std::string out(text);
  for (const ProfileEntry& entry : entries) {
    out = SetProfileValue(out, section, entry.key, entry.value);
  }
  return out;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::size_t max_bytes) {
  std::string text;
  if (!ReadWholeFile(path, kProfileFileLimit, text).ok()) return {};
  std::string value = FindProfileValue(text, section, key);
  if (value.size() > max_bytes) value.resize(max_bytes);
  return value;
}

Status WriteProfileStrings(const std::string& path, std::string_view section,
                           std::span<const ProfileEntry> entries) {
  std::string text;
  if (Status read = ReadWholeFile(path, kProfileFileLimit, text); !read.ok()) {
    // A missing file (or the missing target of a link) is made; any other failure means a file
    // we cannot see, which must not be replaced blindly.
    if (read.error_number() != ENOENT) return read;
  }
  const std::string updated = SetProfileValues(text, section, entries);
  if (updated == text) return {};
  return ReplaceWholeFile(path, updated);
}

Status WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view value) {
  const ProfileEntry entry{key, value};
  return WriteProfileStrings(path, section, {&entry, 1});
}

}  // namespace vesmer
