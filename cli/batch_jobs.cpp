// vesmer-batch's jobs: many pairs from a list or two folders, run a few at once, each as a
// single invocation runs it, and the dashboard, CSV and workbook made of their JSON summaries;
// and the same pages made later of summaries run elsewhere (--rollup).
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include "batch_run.h"
#include "cli/batch_options.h"
#include "cli/progress_line.h"
#include "cli/stop_signals.h"
#include "jobs/job_runner.h"
#include "jobs/job_summary.h"
#include "jobs/output_check.h"
#include "jobs/pair_source.h"
#include "jobs/profiles.h"
#include "jobs/workbook.h"
#include "platform/files.h"
#include "platform/status.h"
#include "platform/unicode.h"
#include "platform/version.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr std::size_t kMaxSummaryBytes = std::size_t{256} << 20;

void PrintJsonLine(std::ostream& out, const Json& j) {
  out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

int Refuse(const BatchOptions& o, std::ostream& out, std::ostream& err, std::string message) {
  if (message.rfind("★", 0) != 0) message = "★" + message;
  if (o.json) PrintJsonLine(out, Json{{"outcome", "refused"}, {"status", message}});
  err << message << '\n';
  return 2;
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The options a profile may not hold: those of the job itself, and of what is printed.
std::string ProfileOptionProblem(const std::vector<std::string>& args) {
  BatchOptions alone;
  alone.paths = {"-", "-"};  // the profile's own paths would be a third and a fourth
  if (std::string problem = ParseBatchOptionsOver(args, alone); !problem.empty()) return problem;
  if (alone.paths.size() != 2) return "プロファイルには比較元と比較先を書けません";
  if (alone.pairs || !alone.folders.empty() || !alone.rollup.empty() || alone.output_dir ||
      alone.summary_xlsx || alone.profiles || alone.jobs != 0 || !alone.include.empty() ||
      !alone.exclude.empty() || alone.json || alone.quiet || alone.help || alone.version ||
      alone.print_layout) {
    return "プロファイルにはジョブのオプション（--pairs、--folders、--output-dir、--jobs、"
           "--profiles、--include、--exclude、--summary-xlsx、--rollup）と --json、--quiet、"
           "--help、--version、--print-layout を書けません";
  }
  return {};
}

// The pages of a job or a rollup, written in `folder` from `rows` (sorted here). False, with
// the message on `err`, when one cannot be written.
bool WritePages(const BatchOptions& o, const std::string& folder, std::vector<PairRow>& rows,
                const std::string& command, std::ostream& err) {
  SortRows(rows);
  DashboardInfo info;
  info.generated_at = Now();
  info.version = std::string("vesmer-batch ") + version::kText;
  info.command_line = command;
  if (const Status s = MakeFolders(folder, 0777); !s.ok()) {
    err << "★出力フォルダを作れませんでした: " << folder << ": " << s.reason() << '\n';
    return false;
  }
  const struct {
    std::string path;
    std::string content;
    const char* failure;
  } pages[] = {
      {JoinPath(folder, "index.html"), RenderDashboardHtml(rows, info),
       "★ジョブの一覧（index.html）を書けませんでした"},
      {JoinPath(folder, "summary.csv"), RenderJobCsv(rows),
       "★ジョブの一覧の CSV（summary.csv）を書けませんでした"},
  };
  for (const auto& page : pages) {
    if (const Status s = ReplaceWholeFile(page.path, page.content, Durability::kWriteBack);
        !s.ok()) {
      err << page.failure << '\n' << page.path << ": " << s.reason() << '\n';
      return false;
    }
  }
  if (o.summary_xlsx) {
    const auto summary = [](const PairRow& row) {
      std::string text;
      if (row.summary_path.empty() ||
          !ReadWholeFile(row.summary_path, kMaxSummaryBytes, text).ok()) {
        return std::string();
      }
      return text;
    };
    if (const Status s = WriteSummaryWorkbook(*o.summary_xlsx, rows, summary); !s.ok()) {
      err << "★一覧のブックを書けませんでした\n" << *o.summary_xlsx << ": " << s.reason() << '\n';
      return false;
    }
  }
  return true;
}

// The job's object: its outcome and totals, then every pair's JSON summary in the dashboard's
// order, read back from its file one at a time.
void PrintJobJson(std::ostream& out, const std::vector<PairRow>& rows, const std::string& folder,
                  bool pages_written) {
  const JobTotals t = Totals(rows);
  Json head{{"outcome", pages_written ? JobOutcome(t) : "failed"},
            {"status", JobVerdictText(t)},
            {"totals",
             {{"pairs", t.pairs},
              {"no_differences", t.matching},
              {"expected_differences", t.expected},
              {"differences", t.differing},
              {"one_side", t.one_side},
              {"failed", t.failed},
              {"stopped", t.stopped},
              {"not_run", t.not_run}}},
            {"dashboard", JoinPath(folder, "index.html")},
            {"summary_csv", JoinPath(folder, "summary.csv")}};
  std::string text = head.dump(-1, ' ', false, Json::error_handler_t::replace);
  text.pop_back();  // the closing brace: the pairs follow
  out << text << ",\"pairs\":[";
  bool first = true;
  for (const PairRow& row : rows) {
    std::string entry;
    if (row.summary_path.empty() ||
        !ReadWholeFile(row.summary_path, kMaxSummaryBytes, entry).ok()) {
      Json pair{
          {"source", row.source}, {"destination", row.destination}, {"relative", row.relative}};
      if (!row.profile.empty()) pair["profile"] = row.profile;
      entry = Json{{"outcome", row.outcome}, {"status", row.status}, {"pair", pair}}.dump(
          -1, ' ', false, Json::error_handler_t::replace);
    }
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
    out << (first ? "" : ",") << entry;
    first = false;
  }
  out << "]}\n";
}

int JobExit(const std::vector<PairRow>& rows, bool pages_written) {
  const JobTotals t = Totals(rows);
  if (t.stopped != 0 || t.not_run != 0 || StopSignal() != 0) {
    return 128 + (StopSignal() != 0 ? StopSignal() : SIGINT);
  }
  if (!pages_written || t.failed != 0) return 2;
  return t.differing != 0 || t.one_side != 0 ? 1 : 0;
}

void PrintPlainJob(std::ostream& out, const std::vector<PairRow>& rows, const std::string& folder) {
  const JobTotals t = Totals(rows);
  out << JobVerdictText(t) << '\n';
  out << "一致 " << t.matching << "  許容された差異のみ " << t.expected << "  差異あり "
      << t.differing << "  片方のみ " << t.one_side << "  失敗 " << t.failed << "  中止 "
      << t.stopped << "  未実行 " << t.not_run << '\n';
  out << "一覧  " << JoinPath(folder, "index.html") << '\n';
  out << "CSV   " << JoinPath(folder, "summary.csv") << '\n';
}

// The progress of a job on a terminal: redrawn every 200 ms by a thread of its own.
class JobProgress {
 public:
  JobProgress(std::ostream& err, bool shown, std::size_t total)
      : err_(err), shown_(shown), total_(total) {
    if (shown_) drawer_ = std::thread([this] { Loop(); });
  }
  ~JobProgress() {
    if (!shown_) return;
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    drawer_.join();
    err_ << "\r\033[K" << std::flush;
  }
  void Started(const std::string& relative) {
    std::lock_guard lock(mutex_);
    running_.push_back(relative);
  }
  void Done(const std::string& relative, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    ++done_;
    bytes_ += bytes;
    std::erase(running_, relative);
  }
  void Skipped() {
    std::lock_guard lock(mutex_);
    ++done_;
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
      err_ << "\r" << JobProgressLine(done_, total_, bytes_, running_) << "\033[K" << std::flush;
      wake_.wait_for(lock, std::chrono::milliseconds(200));
    }
  }

  std::ostream& err_;
  bool shown_;
  std::size_t total_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::size_t done_ = 0;
  std::uint64_t bytes_ = 0;
  std::vector<std::string> running_;
  std::thread drawer_;
};

std::uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

}  // namespace

int RunJob(const BatchOptions& o, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err, bool progress_allowed) {
  // Pair after pair needs the same large buffers (read chunks, result files' buffers): kept in
  // the heap between pairs rather than given back and faulted in, zeroed, again for each.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  std::vector<JobPair> pairs;
  std::string problem;
  std::vector<std::string> input_folders;
  if (o.pairs) {
    if (!ReadPairList(*o.pairs, pairs, problem)) return Refuse(o, out, err, problem);
  } else {
    input_folders = o.folders;
    if (!ListFolderPairs(o.folders[0], o.folders[1], o.include, o.exclude, pairs, problem)) {
      return Refuse(o, out, err, problem);
    }
  }
  // Files the job reads besides the inputs, which none of its outputs may be.
  std::vector<std::pair<std::string, std::string>> files_read;
  if (o.pairs) files_read.emplace_back(*o.pairs, "組の一覧");
  if (o.profiles) files_read.emplace_back(*o.profiles, "プロファイル");
  const auto read_by = [&](const BatchOptions& b) {
    for (const auto& [path, what] : {std::pair{&b.settings, "設定"},
                                     {&b.layout, "レイアウト"},
                                     {&b.csv_layout, "CSV のレイアウト"},
                                     {&b.source_layout, "比較元のレイアウト"},
                                     {&b.destination_layout, "比較先のレイアウト"},
                                     {&b.field_map, "項目の対応"},
                                     {&b.rules, "規則"}}) {
      if (*path) files_read.emplace_back(**path, what);
    }
  };
  read_by(o);
  ProfileSet profiles;
  if (o.profiles) {
    if (!LoadProfiles(*o.profiles, profiles, problem)) return Refuse(o, out, err, problem);
    for (const Profile& p : profiles.profiles) {
      BatchOptions over = o;
      std::string message = ProfileOptionProblem(p.args);
      if (message.empty()) message = ParseBatchOptionsOver(p.args, over);
      if (message.empty()) read_by(over);
      if (!message.empty()) {
        // A usage error, named by the profile, before any pair runs.
        const std::string text = "プロファイル [" + ShownText(p.name) + "]（" +
                                 ShownText(*o.profiles) + " の " + std::to_string(p.line) +
                                 " 行目）: " + message;
        if (o.json) PrintJsonLine(out, Json{{"outcome", "usage-error"}, {"status", text}});
        err << "vesmer-batch: " << text << '\n';
        return 2;
      }
    }
  }
  std::vector<const Profile*> chosen(pairs.size(), nullptr);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    JobPair& pair = pairs[i];
    if (!pair.profile.empty()) {
      chosen[i] = profiles.Named(pair.profile);
      if (chosen[i] == nullptr) {
        return Refuse(
            o, out, err,
            "★プロファイル " + ShownText(pair.profile) + " がありません（" + pair.origin + "）" +
                (o.profiles ? "" : "。--profiles でプロファイルのファイルを指定してください"));
      }
    } else if ((chosen[i] = profiles.ForPath(pair.relative)) != nullptr) {
      pair.profile = chosen[i]->name;
    }
  }
  // A profile no pair takes is most likely named where a pattern was meant.
  for (const Profile& p : profiles.profiles) {
    if (std::find(chosen.begin(), chosen.end(), &p) != chosen.end()) continue;
    err << "vesmer-batch: 警告: プロファイル [" << ShownText(p.name)
        << "] はどの組にも使われていません"
        << (p.glob ? ""
                   : "（組の一覧で名前を書いた組か、[*.DAT] のように * ? [ "
                     "を含む名前のパターンに合う組が使います）")
        << '\n';
  }
  const std::string& folder = *o.output_dir;
  std::vector<std::string> job_files = {JoinPath(folder, "index.html"),
                                        JoinPath(folder, "summary.csv")};
  if (o.summary_xlsx) job_files.push_back(*o.summary_xlsx);
  if (!CheckJobOutputs(folder, pairs, job_files, input_folders, files_read, problem)) {
    return Refuse(o, out, err, problem);
  }
  if (const Status s = MakeFolders(folder, 0777); !s.ok()) {
    return Refuse(o, out, err,
                  "★出力フォルダを作れませんでした: " + ShownText(folder) + ": " + s.reason());
  }

  // What every pair starts from: the command line without the job's own options.
  BatchOptions base = o;
  base.pairs.reset();
  base.folders.clear();
  base.profiles.reset();
  base.include.clear();
  base.exclude.clear();
  base.jobs = 0;
  base.summary_xlsx.reset();
  base.json = true;
  base.quiet = true;
  base.job_pair = true;
  const std::string job_command = CommandLine(args);

  const std::size_t workers = o.jobs > 0
                                  ? static_cast<std::size_t>(o.jobs)
                                  : std::max<std::size_t>(1, std::thread::hardware_concurrency());
  // A job of several pairs runs each pair on its worker's thread alone: side by side the pairs
  // keep the processors busy, and threads reading ahead would only take turns with the other
  // pairs; --jobs N then takes N processors, as a user who leaves the others free expects.
  const bool side_by_side = pairs.size() > 1;
  std::vector<PairRow> rows(pairs.size());
  std::mutex err_mutex;
  JobProgress progress(err, progress_allowed && !o.quiet && !o.json, pairs.size());
  const auto run = [&](std::size_t i) {
    const JobPair& pair = pairs[i];
    const std::string pair_folder = PairFolder(folder, pair.relative);
    const PairFiles files = PairFilesIn(pair_folder, pair.source);
    PairRow& row = rows[i];
    if (pair.presence != Presence::kBoth) {
      const bool source_only = pair.presence == Presence::kSourceOnly;
      Json j{{"outcome", source_only ? kOnlyInSource : kOnlyInDestination},
             {"status", source_only ? "☆比較元にだけあります" : "☆比較先にだけあります"},
             {"pair",
              {{"source", pair.source},
               {"destination", pair.destination},
               {"relative", pair.relative}}}};
      if (!pair.profile.empty()) j["pair"]["profile"] = pair.profile;
      const std::string text = j.dump(-1, ' ', false, Json::error_handler_t::replace);
      Status s = MakeFolders(pair_folder, 0777);
      if (s.ok()) s = ReplaceWholeFile(files.summary, text + "\n", Durability::kWriteBack);
      std::string row_problem;
      if (!PairRowFromJson(text, s.ok() ? files.summary : "", folder, folder, row, row_problem)) {
        row.outcome = "failed";
      }
      if (!s.ok()) {
        row.outcome = "failed";
        row.verdict = Verdict::kFailed;
        row.status = "★要約の JSON を書けませんでした: " + files.summary + ": " + s.reason();
        std::lock_guard lock(err_mutex);
        err << row.status << '\n';
      }
      progress.Skipped();
      return;
    }
    progress.Started(pair.relative);
    std::optional<WorkInCaller> in_caller;
    if (side_by_side) in_caller.emplace();
    BatchOptions one = base;
    one.paths = {pair.source, pair.destination};
    one.output_dir = pair_folder;
    one.report = files.report;
    one.relative = pair.relative;
    one.profile_name = pair.profile;
    std::string command = job_command + " # " + CommandLine({pair.source, pair.destination});
    std::ostringstream pair_out, pair_err;
    int status = 2;
    std::string message;
    if (chosen[i] != nullptr) {
      command += " [" + pair.profile + "] " + CommandLine(chosen[i]->args);
      message = ParseBatchOptionsOver(chosen[i]->args, one);
    }
    if (message.empty()) {
      try {
        status = RunSingle(one, command, pair_out, pair_err, false);
      } catch (const std::exception& e) {
        message = std::string("★") + e.what();
      }
    }
    std::string row_problem;
    if (!message.empty() ||
        !PairRowFromJson(pair_out.str(), files.summary, folder, folder, row, row_problem)) {
      row = {};
      row.relative = pair.relative;
      row.source = pair.source;
      row.destination = pair.destination;
      row.profile = pair.profile;
      row.outcome = "failed";
      row.status = message.empty() ? row_problem : message;
      row.verdict = Verdict::kFailed;
    }
    row.relative = pair.relative;
    (void)status;
    const std::string messages = pair_err.str();
    if (!messages.empty() || !message.empty()) {
      std::lock_guard lock(err_mutex);
      std::istringstream lines(messages.empty() ? message : messages);
      for (std::string line; std::getline(lines, line);) {
        err << "vesmer-batch: " << pair.relative << ": " << line << '\n';
      }
    }
    progress.Done(pair.relative, FileSize(pair.source) + FileSize(pair.destination));
  };
  const std::vector<bool> started = RunPairs(pairs.size(), workers, run, StopFlag());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (started[i]) continue;
    PairRow& row = rows[i];
    row.relative = pairs[i].relative;
    row.source = pairs[i].source;
    row.destination = pairs[i].destination;
    row.profile = pairs[i].profile;
    row.outcome = std::string(kNotRun);
    row.status = "未実行";
    row.verdict = Verdict::kNotRun;
  }
  const bool pages = WritePages(o, folder, rows, job_command, err);
  if (o.json) {
    PrintJobJson(out, rows, folder, pages);
  } else {
    PrintPlainJob(out, rows, folder);
  }
  return JobExit(rows, pages);
}

int RunRollup(const BatchOptions& o, const std::vector<std::string>& args, std::ostream& out,
              std::ostream& err) {
  const std::string folder = o.output_dir.value_or(o.rollup.front());
  std::vector<PairRow> rows;
  std::string problem;
  if (!ReadRollup(o.rollup, folder, rows, problem)) return Refuse(o, out, err, problem);
  // The pages never replace a summary they are made of.
  std::vector<std::string> outputs = {JoinPath(folder, "index.html"),
                                      JoinPath(folder, "summary.csv")};
  if (o.summary_xlsx) outputs.push_back(*o.summary_xlsx);
  for (const std::string& output : outputs) {
    for (const PairRow& row : rows) {
      std::error_code error;
      if (!row.summary_path.empty() &&
          std::filesystem::equivalent(output, row.summary_path, error)) {
        return Refuse(o, out, err,
                      "★出力がまとめる要約の JSON と同じファイルになります: " + ShownText(output));
      }
    }
  }
  const bool pages = WritePages(o, folder, rows, CommandLine(args), err);
  if (o.json) {
    PrintJobJson(out, rows, folder, pages);
  } else {
    PrintPlainJob(out, rows, folder);
  }
  return JobExit(rows, pages);
}

}  // namespace vesmer
