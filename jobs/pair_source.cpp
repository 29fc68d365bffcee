#include "jobs/pair_source.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/cp932.h"
#include "platform/status.h"
#include "platform/unicode.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

namespace fs = std::filesystem;

// A list of pairs is a small text; a record file named by mistake is not read whole.
constexpr std::size_t kMaxListBytes = std::size_t{64} << 20;

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(text.data() + i, text.size() - i, taken);
    // U+FFFD is taken as written only when its own three bytes stand there.
    if (c == kReplacementChar && text.substr(i, 3) != "\xEF\xBF\xBD") return false;
    i += taken;
  }
  return true;
}

// The fields of one line; a quoted field may hold commas, "" is a quote. False when a quote
// does not close.
bool SplitFields(std::string_view line, std::vector<std::string>& fields) {
  fields.clear();
  std::string field;
  bool quoted = false, was_quoted = false;
  const auto trimmed = [](std::string text) {
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"' && trimmed(field).empty()) {
      field.clear();  // blanks before the quote are no part of the field
      quoted = was_quoted = true;
    } else if (c == ',') {
      fields.push_back(was_quoted ? field : trimmed(field));
      field.clear();
      was_quoted = false;
    } else if (!was_quoted || (c != ' ' && c != '\t')) {
      field += c;
    }
  }
  if (quoted) return false;
  fields.push_back(was_quoted ? field : trimmed(field));
  return true;
}

// `path` (absolute, lexically normal) under `root` (the same): its relative path, "" when it is
// not under it.
std::string Under(const fs::path& path, const fs::path& root) {
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p) {
    if (r->empty()) continue;  // the empty name after a trailing "/"
    if (p == path.end() || *p != *r) return {};
  }
  fs::path rest;
  for (; p != path.end(); ++p) rest /= *p;
  return rest.generic_string();
}

// The folder's regular files (links to regular files too), by relative path.
bool ListFiles(const std::string& root, std::vector<std::string>& files, std::string& problem) {
  std::error_code error;
  if (!fs::is_directory(root, error)) {
    problem = "★フォルダがありません: " + ShownText(root);
    return false;
  }
  fs::recursive_directory_iterator it(root, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    // A link to a folder is not followed: it could lead back up, or out of the folder.
    if (it->is_symlink(type_error) && it->is_directory(type_error)) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(type_error)) {
      files.push_back(fs::relative(it->path(), root, type_error).generic_string());
    }
  }
  if (error) {
    problem = "★フォルダを読めませんでした: " + ShownText(it == end ? root : it->path().string()) +
              ": " + ReasonText(error.value());
    return false;
  }
  std::sort(files.begin(), files.end());
  return true;
}

bool Chosen(const std::string& relative, const std::vector<std::string>& include,
            const std::vector<std::string>& exclude) {
  const auto matches = [&](const std::string& pattern) { return GlobMatches(pattern, relative); };
  if (!include.empty() && std::none_of(include.begin(), include.end(), matches)) return false;
  return std::none_of(exclude.begin(), exclude.end(), matches);
}

}  // namespace

std::string ListFileText(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return IsUtf8(bytes) ? std::string(bytes) : cp932::ToUtf8(bytes);
}

bool GlobMatches(std::string_view pattern, std::string_view relative) {
  const std::string pattern_text(pattern);
  if (pattern.find('/') != std::string_view::npos) {
    return ::fnmatch(pattern_text.c_str(), std::string(relative).c_str(), FNM_PATHNAME) == 0;
  }
  const std::size_t slash = relative.rfind('/');
  const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
  return ::fnmatch(pattern_text.c_str(), name.c_str(), 0) == 0;
}

bool ForEachListLine(std::string_view text, std::string_view comment_marks,
                     const std::function<bool(std::string_view, std::size_t)>& take) {
  std::size_t line_number = 0;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;
    ++line_number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos ||
        comment_marks.find(line[first]) != std::string_view::npos) {
      continue;
    }
    if (!take(line, line_number)) return false;
  }
  return true;
}

bool ReadPairList(const std::string& path, std::vector<JobPair>& pairs, std::string& problem) {
  std::string bytes;
  if (const Status s = ReadWholeFile(path, kMaxListBytes, bytes); !s.ok()) {
    problem = "★比較する組の一覧を読めませんでした: " + ShownText(path) + ": " + s.reason();
    return false;
  }
  const std::string text = ListFileText(bytes);
  std::error_code error;
  const fs::path list_folder = fs::path(path).parent_path();
  const fs::path root =
      fs::absolute(list_folder.empty() ? "." : list_folder, error).lexically_normal();
  std::vector<std::string> fields;
  return ForEachListLine(text, "#", [&](std::string_view line, std::size_t line_number) {
    const std::string where = ShownText(path) + " の " + std::to_string(line_number) + " 行目";
    if (!SplitFields(line, fields) || fields.size() < 2 || fields.size() > 3 || fields[0].empty() ||
        fields[1].empty()) {
      problem = "★比較する組の一覧の " + where +
                " は 比較元,比較先[,プロファイル名] の形ではありません: " + ShownText(line);
      return false;
    }
    JobPair pair;
    for (std::size_t side = 0; side < 2; ++side) {
      const fs::path given(fields[side]);
      fs::path resolved = given.is_absolute() ? given : list_folder / given;
      (side == 0 ? pair.source : pair.destination) = resolved.lexically_normal().string();
    }
    const fs::path absolute = fs::absolute(pair.source, error).lexically_normal();
    pair.relative = Under(absolute, root);
    if (pair.relative.empty() || pair.relative.starts_with("..")) {
      pair.relative = absolute.relative_path().generic_string();
    }
    if (fields.size() == 3) pair.profile = fields[2];
    pair.origin = where;
    pairs.push_back(std::move(pair));
    return true;
  });
}

bool ListFolderPairs(const std::string& old_root, const std::string& new_root,
                     const std::vector<std::string>& include,
                     const std::vector<std::string>& exclude, std::vector<JobPair>& pairs,
                     std::string& problem) {
  std::vector<std::string> old_files, new_files;
  if (!ListFiles(old_root, old_files, problem) || !ListFiles(new_root, new_files, problem)) {
    return false;
  }
  std::map<std::string, Presence> found;
  for (const std::string& f : old_files) found.emplace(f, Presence::kSourceOnly);
  for (const std::string& f : new_files) {
    auto [at, added] = found.emplace(f, Presence::kDestinationOnly);
    if (!added) at->second = Presence::kBoth;
  }
  const fs::path old_path(old_root), new_path(new_root);
  for (const auto& [relative, presence] : found) {
    if (!Chosen(relative, include, exclude)) continue;
    JobPair pair;
    pair.source = (old_path / relative).string();
    pair.destination = (new_path / relative).string();
    pair.relative = relative;
    pair.presence = presence;
    pairs.push_back(std::move(pair));
  }
  return true;
}

}  // namespace vesmer
