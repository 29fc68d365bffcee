#include "tests/support/test_util.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vesmer::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesmer-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (!f) throw std::runtime_error("write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

std::string Ebcdic(std::string_view ascii) {
  std::string out;
  for (const char c : ascii) {
    if (c >= '0' && c <= '9') out += static_cast<char>(0xF0 + (c - '0'));
    if (c >= 'A' && c <= 'I') out += static_cast<char>(0xC1 + (c - 'A'));
    if (c >= 'J' && c <= 'R') out += static_cast<char>(0xD1 + (c - 'J'));
    if (c >= 'S' && c <= 'Z') out += static_cast<char>(0xE2 + (c - 'S'));
    if (c == ' ') out += '\x40';
    if (c == '-') out += '\x60';
  }
  return out;
}

namespace {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const ProcessLimits& limits, const std::string& out_path,
                   const std::string& err_path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (limits.file_size != 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit r{limits.file_size, limits.file_size};
      ::setrlimit(RLIMIT_FSIZE, &r);
    }
    if (limits.address_space != 0) {
      const rlimit r{limits.address_space, limits.address_space};
      ::setrlimit(RLIMIT_AS, &r);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

ProcessResult Collect(pid_t pid, const std::string& out_path, const std::string& err_path) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ProcessResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // A program that died before it opened its output printed nothing.
  result.out = Exists(out_path) ? ReadFile(out_path) : "";
  result.err = Exists(err_path) ? ReadFile(err_path) : "";
  return result;
}

}  // namespace

ProcessResult RunBatchExe(const std::vector<std::string>& args, const ProcessLimits& limits) {
  TempDir capture;
  const std::string out_path = capture / "out", err_path = capture / "err";
  return Collect(StartProgram(VESMER_BATCH_EXE, args, limits, out_path, err_path), out_path,
                 err_path);
}

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  TempDir capture;
  const std::string out_path = capture / "out", err_path = capture / "err";
  return Collect(StartProgram(program, args, {}, out_path, err_path), out_path, err_path);
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    if (::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

BatchProcess::BatchProcess(const std::vector<std::string>& args, const ProcessLimits& limits)
    : pid_(StartProgram(VESMER_BATCH_EXE, args, limits, capture_ / "out", capture_ / "err")) {}

BatchProcess::~BatchProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    (void)Collect(pid_, capture_ / "out", capture_ / "err");
  }
}

void BatchProcess::Signal(int signal_number) const { ::kill(pid_, signal_number); }

bool BatchProcess::WaitUntilCatching(int signal_number) const {
  const std::string status_path = "/proc/" + std::to_string(pid_) + "/status";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::ifstream status(status_path);
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigCgt:", 0) != 0) continue;
      const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
      if ((caught >> (signal_number - 1)) & 1) return true;
    }
    ::usleep(5000);
  }
  return false;
}

ProcessResult BatchProcess::Wait() {
  const ProcessResult result = Collect(pid_, capture_ / "out", capture_ / "err");
  pid_ = -1;
  return result;
}

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

}  // namespace vesmer::testing
