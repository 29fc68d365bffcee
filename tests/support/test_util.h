// Helpers for tests: a temporary folder per test, whole-file reads and writes, running the
// batch executable.
#pragma once

#include <string>
#include <string_view>
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
// The names in a folder, sorted; a temporary file left behind shows up here.
[[nodiscard]] std::vector<std::string> FolderEntries(const std::string& folder);

// Lines joined with CR LF, each followed by CR LF: what a result file holds.
[[nodiscard]] std::string CrLf(const std::vector<std::string>& lines);

// Capital letters, digits, blanks and hyphens of `ascii` in the single-byte EBCDIC of the IBM
// host code pages (ibm-930, ibm-037); other characters are left out.
[[nodiscard]] std::string Ebcdic(std::string_view ascii);

struct ProcessResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Limits for a run of vesmer-batch; 0 leaves a limit as it is.
struct ProcessLimits {
  unsigned long long file_size = 0;      // RLIMIT_FSIZE; SIGXFSZ is ignored (writes fail)
  unsigned long long address_space = 0;  // RLIMIT_AS
};

// Runs vesmer-batch with `args` and collects its exit status and output.
[[nodiscard]] ProcessResult RunBatchExe(const std::vector<std::string>& args,
                                        const ProcessLimits& limits = {});

// Runs `program` (looked up on PATH) with `args` and collects its exit status and output.
[[nodiscard]] ProcessResult RunProgram(const std::string& program,
                                       const std::vector<std::string>& args);
// Whether `program` is an executable file in a folder on PATH.
[[nodiscard]] bool OnPath(const std::string& program);

// vesmer-batch started in the background, for tests that signal it or run two at once.
class BatchProcess {
 public:
  explicit BatchProcess(const std::vector<std::string>& args, const ProcessLimits& limits = {});
  ~BatchProcess();
  BatchProcess(const BatchProcess&) = delete;
  BatchProcess& operator=(const BatchProcess&) = delete;
  void Signal(int signal_number) const;
  // Waits (up to a few seconds) until the program has installed its handler for the signal, so
  // that a signal sent next reaches the handler and not the default action.
  [[nodiscard]] bool WaitUntilCatching(int signal_number) const;
  // Waits for it to end and collects what it printed.
  [[nodiscard]] ProcessResult Wait();

 private:
  TempDir capture_;
  int pid_ = -1;
};

// Whether the tests run under a sanitizer, whose allocator ignores address space limits.
[[nodiscard]] bool UnderSanitizer();

}  // namespace vesmer::testing
