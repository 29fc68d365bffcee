// Times a comparison run in the real main window, shown on the offscreen platform with the
// progress display on, against vesmer-batch on the same two files: what the window's display
// costs a user who leaves 処理状況を表示する on (the default).
//
//   window_bench RECORDS [--work DIR] [--gen PATH] [--batch PATH] [--repeat N] [--no-display]
//
// The inputs are made by gen_records (RECORDS records of about 120 bytes each side, every
// pair differing: two result-list segments a pair) unless DIR already holds them from an
// earlier call with the same RECORDS. Each run starts from a fresh settings file, so the
// window runs with its defaults: outputs 2 to 5, display on. Wall and CPU time are the best of
// N runs, since other work on a shared machine only ever adds time. gen_records and
// vesmer-batch are looked for beside this program and in ../cli unless given.
//
// The batch tool alone, on the same files (what this program runs for its comparison):
//   /usr/bin/time -v build/release/cli/vesmer-batch -q DIR/a.prn DIR/b.prn
//
// It uses only the window's constructor, its two selection buttons, the start button, the
// display check box and the status text, so it also builds against an older vesmer_ui: in a
// separate CMake project that add_subdirectory()s that tree and links this file with
// vesmer::ui (its headers then live beside its sources: add the tree to the include path).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/settings_store.h"
#include "ui/desktop.h"
#include "ui/main_window.h"

namespace {

// Answers the window's file chooser from a queue; everything else does nothing.
class BenchDesktop : public vesmer::Desktop {
 public:
  std::deque<QString> answers;
  QString ChooseExistingFile(QWidget*, const QList<vesmer::FileFilter>&, const QString&) override {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
  QString DocumentsFolder() override { return {}; }
  QString ProgramFilesFolder() override { return {}; }
  void OpenDocument(const QString&) override {}
  bool StartProgram(const QStringList&) override { return true; }
  void ShowInFileManager(const QString&) override {}
  void ShowMessage(QWidget*, const QString&, const QString&) override {}
};

struct Times {
  double wall = 1e30;
  double cpu = 1e30;
};

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs a program to its end; its exit status, or -1 when it could not run.
int RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // The batch tool's summary would only clutter the timings.
    if (const int null = open("/dev/null", O_WRONLY); null >= 0) dup2(null, STDOUT_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Beside(const char* self, const std::string& relative) {
  std::string dir = self;
  const std::size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
  return dir + "/" + relative;
}

// One run in a fresh window: the two inputs chosen through their buttons, then the start
// button, which returns when the run has ended.
bool TimeWindowRun(const std::string& work, const std::string& a, const std::string& b,
                   bool display, Times& best) {
  const std::string ini = work + "/vesmer.ini";
  std::remove(ini.c_str());
  vesmer::SettingsStore store;
  BenchDesktop desktop;
  vesmer::MemoryRegistry registry;
  vesmer::frmVESMER window(store, vesmer::SettingsLocationFor(work + "/vesmer"), desktop, registry);
  window.show();
  QCoreApplication::processEvents();
  if (display != window.chkDisplay->isChecked()) window.chkDisplay->click();
  desktop.answers = {QString::fromStdString(a), QString::fromStdString(b)};
  window.cmdSelInput[0]->click();
  window.cmdSelInput[1]->click();
  QCoreApplication::processEvents();

  const double cpu0 = CpuSeconds(RUSAGE_SELF);
  const double wall0 = Now();
  window.cmdStart->click();
  const double wall = Now() - wall0;
  const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  const QString status = window.StatusText();
  std::printf("  window: %8.3f s wall, %8.3f s CPU  (%s)\n", wall, cpu,
              status.toStdString().c_str());
  best.wall = std::min(best.wall, wall);
  best.cpu = std::min(best.cpu, cpu);
  window.close();
  return status == QStringLiteral("☆処理が終了しました");
}

bool TimeBatchRun(const std::string& batch, const std::string& a, const std::string& b,
                  Times& best) {
  const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
  const double wall0 = Now();
  const int code = RunProgram({batch, "-q", a, b});
  const double wall = Now() - wall0;
  const double cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu0;
  std::printf("  batch:  %8.3f s wall, %8.3f s CPU  (exit %d)\n", wall, cpu, code);
  best.wall = std::min(best.wall, wall);
  best.cpu = std::min(best.cpu, cpu);
  return code == 1;  // differences found
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: window_bench RECORDS [--work DIR] [--gen PATH] [--batch PATH] "
                 "[--repeat N] [--no-display]\n");
    return 2;
  }
  const std::string records = argv[1];
  std::string work = "/tmp/vesmer-window-bench";
  std::string gen = Beside(argv[0], "gen_records");
  std::string batch = Beside(argv[0], "../cli/vesmer-batch");
  int repeat = 3;
  bool display = true;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--work" && has_value) {
      work = argv[++i];
    } else if (arg == "--gen" && has_value) {
      gen = argv[++i];
    } else if (arg == "--batch" && has_value) {
      batch = argv[++i];
    } else if (arg == "--repeat" && has_value) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--no-display") {
      display = false;
    } else {
      std::fprintf(stderr, "window_bench: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  mkdir(work.c_str(), 0700);
  const std::string a = work + "/a.prn", b = work + "/b.prn";
  const std::string stamp = work + "/records-" + records;
  if (!IsFile(stamp) || !IsFile(a) || !IsFile(b)) {
    if (RunProgram({gen, a, b, records, "all"}) != 0) {
      std::fprintf(stderr, "window_bench: %s failed\n", gen.c_str());
      return 2;
    }
    if (std::FILE* f = std::fopen(stamp.c_str(), "w")) std::fclose(f);
  }

  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);

  std::printf("%s records a side, every pair differing, display %s\n", records.c_str(),
              display ? "on" : "off");
  Times window, batch_times;
  bool ok = true;
  for (int r = 0; r < repeat; ++r) {
    ok = TimeWindowRun(work, a, b, display, window) && ok;
    ok = TimeBatchRun(batch, a, b, batch_times) && ok;
  }
  std::printf(
      "best of %d: window %.3f s (CPU %.3f s), batch %.3f s (CPU %.3f s), "
      "window/batch %.2f wall, %.2f CPU\n",
      repeat, window.wall, window.cpu, batch_times.wall, batch_times.cpu,
      window.wall / batch_times.wall, window.cpu / batch_times.cpu);
  if (!ok) std::fprintf(stderr, "window_bench: a run did not end as expected\n");
  return ok ? 0 : 1;
}
