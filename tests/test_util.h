// Helpers for tests: a temporary folder per test, whole-file reads and writes, running the
// batch executable.
#pragma once

#include <string>
#include <vector>

namespace vesmer::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
[[nodiscard]] std::string ReadFile(const std::string& path);
[[nodiscard]] bool Exists(const std::string& path);

// Lines joined with CR LF, each followed by CR LF: what a result file holds.
[[nodiscard]] std::string CrLf(const std::vector<std::string>& lines);

struct ProcessResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs vesmer-batch with `args` and collects its exit status and output.
[[nodiscard]] ProcessResult RunBatchExe(const std::vector<std::string>& args);

}  // namespace vesmer::testing
