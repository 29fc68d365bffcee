#include "cli/batch.h"

#include <csignal>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/batch_options.h"
#include "cli/stop_signals.h"
#include "engine/comparison_run.h"
#include "engine/messages.h"
#include "engine/start_checks.h"
#include "platform/version.h"
#include "settings/job_from_settings.h"
#include "settings/settings_store.h"

namespace vesmer {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUsage = "使い方: vesmer-batch [オプション] 比較元 比較先\n";

constexpr const char* kKindNames[kOutputKinds] = {
    "比較元ファイル：キー不一致",
    "比較先ファイル：キー不一致",
    "比較元ファイル：キー一致・内容不一致",
    "比較先ファイル：キー一致・内容不一致",
    "キー・内容とも一致",
    "比較結果リスト",
};

constexpr const char* kSideNames[2] = {"比較元", "比較先"};

// The control a refused start names, by the window's object name.
std::string_view FocusName(Focus focus) {
  switch (focus) {
    case Focus::kSelectSource:
      return "cmdSelInput(0)";
    case Focus::kSelectDestination:
      return "cmdSelInput(1)";
    case Focus::kKeyRange:
      return "txtKeyRange";
    case Focus::kOmitRange:
      return "txtOmitRange";
    case Focus::kNone:
      break;
  }
  return "";
}

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kNoDifferences:
      return "no-differences";
    case RunOutcome::kDifferences:
      return "differences";
    case RunOutcome::kOutOfOrder:
      return "out-of-order";
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kSetupFailed:
    case RunOutcome::kIoFailed:
      break;
  }
  return "failed";
}

// Draws a progress bar on a terminal and turns SIGINT / SIGTERM into a stop request.
class BatchObserver : public RunObserver {
 public:
  BatchObserver(std::ostream& err, bool progress) : err_(err), progress_(progress) {}
  ~BatchObserver() override { Clear(); }

  void OnProgress(const RunProgress& p) override {
    const std::uint64_t total = p.bytes_total[0] + p.bytes_total[1];
    if (!progress_ || total == 0) return;
    const std::uint64_t done = std::min(p.bytes_read[0] + p.bytes_read[1], total);
    constexpr int kWidth = 40;
    const auto filled = static_cast<std::size_t>(done * kWidth / total);
    err_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] "
         << done * 100 / total << "%" << std::flush;
    shown_ = true;
  }
  bool StopRequested() override { return StopSignal() != 0; }

  void Clear() {
    if (shown_) err_ << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  std::ostream& err_;
  bool progress_;
  bool shown_ = false;
};

// The settings the run takes: from a settings file when asked, the command line over them.
struct Prepared {
  SettingsStore values;
  std::string problem;  // a Japanese message when the settings cannot be used
};

Prepared PrepareValues(const BatchOptions& o) {
  Prepared p;
  SettingsStore& v = p.values;
  if (o.settings) {
    if (Status s = LoadSettingsFile(*o.settings, v, p.problem); !s.ok()) return p;
  } else {
    // The defaults of an empty settings file; the batch tool never opens an editor.
    LoadSettings(v, SettingsLocation{});
    v.OutputData = "001111";
  }
  v.Display = "0";
  v.OpenResult = "0";
  if (o.paths.size() == 2) {
    v.InputData = {o.paths[0], o.paths[1]};
  }
  if (o.key) {
    v.Key = "1";
    v.KeyRange = *o.key;
  }
  if (o.omit) {
    v.Omit = "1";
    v.OmitRange = *o.omit;
  }
  if (o.outputs) {
    v.OutputData = "000000";
    for (const char c : *o.outputs) v.OutputData[static_cast<std::size_t>(c - '0')] = '1';
  }
  if (o.utf8_source) v.Utf8[0] = "1";
  if (o.utf8_destination) v.Utf8[1] = "1";
  if (o.space_compare) v.SpaceCompare = "1";
  if (o.arrange_length) v.ArrangeLength = "1";
  if (o.scale) v.Scale = *o.scale;
  return p;
}

std::vector<std::string> Warnings(const RunSummary& summary) {
  std::vector<std::string> warnings;
  for (const Side s : kSides) {
    const InputSummary& in = summary.inputs[Index(s)];
    if (in.lf_line_ends) {
      warnings.push_back(std::string(kSideNames[Index(s)]) +
                         "ファイルは改行に LF だけを使っているようです。CR で区切られていないため、"
                         "1 行として読みました: " +
                         in.path);
    }
  }
  return warnings;
}

Json ErrorJson(const Status& error) {
  return Json{{"path", error.path()}, {"reason", error.reason()}};
}

void PrintJson(std::ostream& out, const Json& j) {
  // Paths need not be valid UTF-8; JSON must be.
  out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

Json SummaryJson(const RunSummary& summary, const std::vector<std::string>& warnings) {
  Json j;
  j["outcome"] = OutcomeName(summary.outcome);
  j["status"] = std::string(StatusText(summary));
  j["inputs"] = Json::array();
  for (const InputSummary& in : summary.inputs) {
    j["inputs"].push_back(Json{{"path", in.path}, {"lines", in.lines}});
  }
  const bool failed =
      summary.outcome == RunOutcome::kSetupFailed || summary.outcome == RunOutcome::kIoFailed;
  j["outputs"] = Json::array();
  for (const OutputKind kind : kAllOutputKinds) {
    const OutputSummary& o = summary.outputs[kind];
    // A failed run names only the files it created.
    if (failed && !o.created) continue;
    Json entry{{"kind", Index(kind)},
               {"path", o.path},
               {"selected", o.selected},
               {"count", o.written},
               {"found", o.found}};
    if (o.created) entry["complete"] = o.complete;
    j["outputs"].push_back(entry);
  }
  if (!summary.error.ok()) j["error"] = ErrorJson(summary.error);
  if (!warnings.empty()) j["warnings"] = warnings;
  return j;
}

// What failed, on standard error: the file and the system's reason.
void PrintError(std::ostream& err, const RunSummary& summary) {
  if (summary.outcome == RunOutcome::kStopped) err << "☆中止しました\n";
  if (!summary.error.ok()) {
    err << summary.error.path() << (summary.error.path().empty() ? "" : ": ")
        << summary.error.reason() << '\n';
  }
}

void PrintPlain(std::ostream& out, std::ostream& err, const RunSummary& summary) {
  const std::string status(StatusText(summary));
  const bool completed =
      summary.outcome == RunOutcome::kNoDifferences || summary.outcome == RunOutcome::kDifferences;
  if (!status.empty()) (completed ? out : err) << status << '\n';
  PrintError(err, summary);
  const bool failed =
      summary.outcome == RunOutcome::kSetupFailed || summary.outcome == RunOutcome::kIoFailed;
  for (const Side s : kSides) {
    const InputSummary& in = summary.inputs[Index(s)];
    out << kSideNames[Index(s)] << ' ' << in.lines << " 行  " << in.path << '\n';
  }
  for (const OutputKind kind : kAllOutputKinds) {
    const OutputSummary& o = summary.outputs[kind];
    const std::size_t k = Index(kind);
    if (o.selected && (!failed || o.created)) {
      out << k << ' ' << kKindNames[k] << "  " << o.written << "  " << o.path
          << (o.complete ? "" : "  （書き込みは途中まで）") << '\n';
    } else if (!o.selected && o.found != 0) {
      out << k << ' ' << kKindNames[k] << "  " << o.found << "  （出力しない設定）\n";
    }
  }
}

int ExitStatus(const RunSummary& summary) {
  switch (summary.outcome) {
    case RunOutcome::kNoDifferences:
      return 0;
    case RunOutcome::kDifferences:
      return 1;
    case RunOutcome::kStopped:
      return 128 + (StopSignal() != 0 ? StopSignal() : SIGINT);
    default:
      return 2;
  }
}

}  // namespace

int RunBatch(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             bool progress_allowed) {
  BatchOptions o;
  if (const std::string problem = ParseBatchOptions(argc, argv, o); !problem.empty()) {
    err << "vesmer-batch: " << problem << '\n' << kUsage;
    return 2;
  }
  if (o.help) {
    out << BatchHelp();
    return 0;
  }
  if (o.version) {
    out << "vesmer-batch " << version::kText << '\n';
    return 0;
  }

  Prepared prepared = PrepareValues(o);
  if (!prepared.problem.empty()) {
    err << prepared.problem << '\n';
    if (o.json) PrintJson(out, Json{{"outcome", "refused"}, {"status", prepared.problem}});
    return 2;
  }
  SettingsStore& values = prepared.values;
  StartRequest request = StartRequestFromSettings(values);
  RangeList key, omit;
  const StartCheckResult check = RunStartChecks(request, key, omit, nullptr);
  if (!check.passed) {
    const std::string_view focus = FocusName(check.focus);
    if (o.json) {
      PrintJson(out, Json{{"outcome", "refused"},
                          {"status", check.message},
                          {"focus", focus},
                          {"inputs", Json::array()},
                          {"outputs", Json::array()}});
    }
    err << check.message << " (" << focus << ")\n";
    return 2;
  }
  values.KeyRange = request.key_text;
  values.OmitRange = request.omit_text;
  const ComparisonJob job = JobFromSettings(values, key, omit);

  BatchObserver observer(err, progress_allowed && !o.quiet && !o.json);
  RunExtensions extensions;
  extensions.interrupt = &StopFlag();
  const RunSummary summary = RunComparison(job, observer, extensions);
  observer.Clear();
  const std::vector<std::string> warnings = Warnings(summary);
  for (const std::string& w : warnings) err << "vesmer-batch: 警告: " << w << '\n';
  if (o.json) {
    const std::string status(StatusText(summary));
    if (summary.outcome != RunOutcome::kNoDifferences &&
        summary.outcome != RunOutcome::kDifferences && !status.empty()) {
      err << status << '\n';
    }
    PrintError(err, summary);
    PrintJson(out, SummaryJson(summary, warnings));
  } else {
    PrintPlain(out, err, summary);
  }
  return ExitStatus(summary);
}

}  // namespace vesmer
