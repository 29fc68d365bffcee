#include "jobs/output_check.h"

#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "jobs/job_summary.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

namespace fs = std::filesystem;

// The path as the file system resolves it, as far as it exists; lexically normal beyond.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  fs::path resolved = fs::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal() : resolved;
}

bool Inside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

std::string Who(const JobPair& pair) {
  return pair.origin.empty() ? pair.relative : pair.relative + "（" + pair.origin + "）";
}

}  // namespace

bool CheckJobOutputs(const std::string& output_dir, const std::vector<JobPair>& pairs,
                     const std::vector<std::string>& job_files,
                     const std::vector<std::string>& input_folders,
                     const std::vector<std::pair<std::string, std::string>>& files_read,
                     std::string& problem) {
  std::map<fs::path, std::string> read;  // resolved path, what it is
  for (const auto& [path, what] : files_read) read.emplace(Resolved(path), what);
  std::vector<fs::path> folders_read;
  for (const std::string& folder : input_folders) folders_read.push_back(Resolved(folder));
  std::set<fs::path> inputs, input_parents;
  for (const JobPair& pair : pairs) {
    for (const std::string* path : {&pair.source, &pair.destination}) {
      const fs::path input = Resolved(*path);
      inputs.insert(input);
      input_parents.insert(input.parent_path());
    }
  }
  // Each file by its resolved path, with who writes it: a pair's index, or -1 for the job.
  std::map<fs::path, long> written;
  std::set<fs::path> needed_folders;
  const auto claim = [&](const fs::path& file, long who, const std::string& shown) {
    const auto describe = [&](long w) {
      return w < 0 ? std::string("ジョブの一覧") : "組 " + Who(pairs[static_cast<std::size_t>(w)]);
    };
    for (const fs::path& folder : folders_read) {
      if (Inside(file, folder)) {
        problem = "★出力が比較するフォルダ " + ShownText(folder.string()) +
                  " の中に書かれます（次の比較で入力になります）: " + ShownText(shown) +
                  "。--output-dir には別のフォルダを指定してください";
        return false;
      }
    }
    if (const auto at = read.find(file); at != read.end()) {
      problem = "★出力がこのジョブの読むファイル（" + at->second +
                "）と同じになります: " + ShownText(shown) + "（" + describe(who) + "）";
      return false;
    }
    if (inputs.count(file) != 0 || input_parents.count(file.parent_path()) != 0) {
      problem = "★出力が入力ファイルと同じフォルダに書かれます: " + ShownText(shown) + "（" +
                describe(who) + "）。--output-dir には別のフォルダを指定してください";
      return false;
    }
    const auto [at, added] = written.emplace(file, who);
    if (!added) {
      problem = "★二つの出力が同じファイルになります: " + ShownText(shown) + "（" +
                describe(at->second) + " と " + describe(who) + "）";
      return false;
    }
    for (fs::path up = file.parent_path(); !up.empty() && up != up.root_path();
         up = up.parent_path()) {
      if (!needed_folders.insert(up).second) break;
    }
    return true;
  };
  for (std::size_t j = 0; j < job_files.size(); ++j) {
    if (!claim(Resolved(job_files[j]), -1, job_files[j])) return false;
  }
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const JobPair& pair = pairs[i];
    const std::string folder = PairFolder(output_dir, pair.relative);
    const fs::path resolved_folder = Resolved(folder);
    const PairFiles files = PairFilesIn(folder, pair.source);
    std::vector<std::string> names = {files.summary};
    if (pair.presence == Presence::kBoth) {
      names.insert(names.end(), files.results.begin(), files.results.end());
      names.push_back(files.report);
    }
    for (const std::string& name : names) {
      const fs::path file = resolved_folder / fs::path(name).filename();
      if (!claim(file, static_cast<long>(i), name)) return false;
    }
  }
  for (const auto& [file, who] : written) {
    if (needed_folders.count(file) != 0) {
      problem =
          "★出力のファイルが別の出力のフォルダと同じ名前になります: " + ShownText(file.string()) +
          "（" +
          (who < 0 ? std::string("ジョブの一覧")
                   : "組 " + Who(pairs[static_cast<std::size_t>(who)])) +
          "）";
      return false;
    }
  }
  return true;
}

}  // namespace vesmer
