#include "jobs/profiles.h"

#include "jobs/pair_source.h"
#include "platform/status.h"
#include "platform/unicode.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

constexpr std::size_t kMaxProfileBytes = std::size_t{16} << 20;

}  // namespace

const Profile* ProfileSet::Named(std::string_view name) const {
  for (const Profile& p : profiles) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

const Profile* ProfileSet::ForPath(std::string_view relative) const {
  for (const Profile& p : profiles) {
    if (p.glob && GlobMatches(p.name, relative)) return &p;
  }
  return nullptr;
}

bool SplitArguments(std::string_view line, std::vector<std::string>& args, std::string& problem) {
  std::string arg;
  bool in_arg = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        arg += c;
      }
    } else if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
        arg += line[++i];
      } else {
        arg += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (in_arg) args.push_back(std::move(arg));
      arg.clear();
      in_arg = false;
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_arg = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      arg += line[++i];
      in_arg = true;
    } else {
      arg += c;
      in_arg = true;
    }
  }
  if (quote != 0) {
    problem = std::string("引用符 ") + quote + " が閉じていません";
    return false;
  }
  if (in_arg) args.push_back(std::move(arg));
  return true;
}

bool LoadProfiles(const std::string& path, ProfileSet& set, std::string& problem) {
  std::string bytes;
  if (const Status s = ReadWholeFile(path, kMaxProfileBytes, bytes); !s.ok()) {
    problem = "★プロファイルのファイルを読めませんでした: " + ShownText(path) + ": " + s.reason();
    return false;
  }
  set.path = path;
  set.profiles.clear();
  const std::string text = ListFileText(bytes);
  return ForEachListLine(text, "#;", [&](std::string_view line, std::size_t line_number) {
    line.remove_prefix(line.find_first_not_of(" \t"));
    const std::string where = "★プロファイルのファイル " + ShownText(path) + " の " +
                              std::to_string(line_number) + " 行目";
    if (line[0] == '[') {
      const std::size_t close = line.rfind(']');
      const std::string_view name =
          close == std::string_view::npos ? std::string_view() : line.substr(1, close - 1);
      if (name.empty() || line.find_first_not_of(" \t", close + 1) != std::string_view::npos) {
        problem = where + ": 節の見出しは [名前] と書いてください: " + ShownText(line);
        return false;
      }
      if (set.Named(name) != nullptr) {
        problem = where + ": プロファイル " + ShownText(name) + " が二度あります";
        return false;
      }
      Profile profile;
      profile.name = std::string(name);
      profile.glob = name.find_first_of("*?[") != std::string_view::npos;
      profile.line = static_cast<int>(line_number);
      set.profiles.push_back(std::move(profile));
      return true;
    }
    if (set.profiles.empty()) {
      problem = where + ": オプションの前に [名前] の節の見出しが必要です";
      return false;
    }
    std::string split_problem;
    if (!SplitArguments(line, set.profiles.back().args, split_problem)) {
      problem = where + ": " + split_problem;
      return false;
    }
    return true;
  });
}

}  // namespace vesmer
