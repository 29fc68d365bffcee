#include "cli/batch.h"

#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/comparison_run.h"
#include "engine/result_names.h"
#include "engine/start_checks.h"
#include "platform/unicode.h"
#include "platform/version.h"
#include "settings/settings_store.h"


namespace vesmer {
namespace {

constexpr const char* kUsage = "使い方: vesmer-batch [オプション] 比較元 比較先\n";

constexpr const char* kHelp =
    "使い方: vesmer-batch [オプション] 比較元 比較先\n"
    "\n"
    "Shift-JIS（コードページ 932）のレコードファイル二つを、行ごとに、またはキーで比較し、\n"
    "差異を比較元ファイルと同じフォルダの結果ファイル（比較元名_0.TXT ～ _5.TXT）に書き出します。\n"
    "\n"
    "オプション:\n"
    "  -k, --key 領域           キーで比較する。領域は 開始桁-終了桁 をカンマで区切って 20 個まで\n"
    "                           （例: 1-5,12-20）。両ファイルはキーの昇順に整列されていること\n"
    "  -x, --omit 領域          比較から除外する桁の領域\n"
    "  -o, --outputs 種類       出力する結果ファイルを 2～5 の数字で指定（既定: 2345）\n"
    "                           2 比較元：キー一致・内容不一致   3 比較先：キー一致・内容不一致\n"
    "                           4 キー・内容とも一致             5 比較結果リスト\n"
    "                           0 と 1（キー不一致）は --key を指定したときに必ず出力されます\n"
    "      --utf8-source        比較元は UTF-8。比較の前に Shift-JIS に変換し、元のファイルは\n"
    "                           比較元名_UTF8.TXT として残します\n"
    "      --utf8-destination   比較先は UTF-8（同上）\n"
    "  -s, --space-compare      全角スペース１個と半角スペース２個は一致と見なす\n"
    "  -a, --arrange-length     レコード長が異なるとき、短い方にあわせる\n"
    "      --scale 文字列       比較結果リストのスケール（既定: ....+....*....+ ...）\n"
    "      --settings ファイル  ウィンドウが保存した設定ファイル（.ini）から、比較の設定と、\n"
    "                           指定がなければ比較元・比較先を読む。コマンドラインの指定が優先\n"
    "      --json               結果の要約を JSON で標準出力に書く\n"
    "  -q, --quiet              進行状況を表示しない\n"
    "  -h, --help               この説明を表示する\n"
    "      --version            バージョンを表示する\n"
    "\n"
    "終了コード: 0 差異なし, 1 差異あり, 2 開始できない・失敗・キーの順序誤り・使い方の誤り\n";

constexpr const char* kKindNames[kOutputKinds] = {
    "比較元ファイル：キー不一致",
    "比較先ファイル：キー不一致",
    "比較元ファイル：キー一致・内容不一致",
    "比較先ファイル：キー一致・内容不一致",
    "キー・内容とも一致",
    "比較結果リスト",
};

struct Options {
  std::vector<std::string> paths;
  std::optional<std::string> key, omit, outputs, scale, settings;
  bool utf8[2] = {false, false};
  bool space_compare = false, arrange_length = false, json = false, quiet = false;
  bool help = false, version = false;
};

// Returns an error text, or "" when the arguments parse.
std::string ParseArguments(int argc, const char* const* argv, Options& o) {
  bool only_paths = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::optional<std::string>& slot) -> bool {
      if (i + 1 >= argc) return false;
      slot = argv[++i];
      return true;
    };
    if (only_paths || arg.empty() || arg == "-" || arg[0] != '-') {
      o.paths.push_back(arg);
    } else if (arg == "--") {
      only_paths = true;
    } else if (arg == "-k" || arg == "--key") {
      if (!value(o.key)) return arg + " には領域を指定してください";
    } else if (arg == "-x" || arg == "--omit") {
      if (!value(o.omit)) return arg + " には領域を指定してください";
    } else if (arg == "-o" || arg == "--outputs") {
      if (!value(o.outputs)) return arg + " には種類を指定してください";
    } else if (arg == "--scale") {
      if (!value(o.scale)) return arg + " には文字列を指定してください";
    } else if (arg == "--settings") {
      if (!value(o.settings)) return arg + " にはファイルを指定してください";
    } else if (arg == "--utf8-source") {
      o.utf8[0] = true;
    } else if (arg == "--utf8-destination") {
      o.utf8[1] = true;
    } else if (arg == "-s" || arg == "--space-compare") {
      o.space_compare = true;
    } else if (arg == "-a" || arg == "--arrange-length") {
      o.arrange_length = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else {
      return "不明なオプションです: " + arg;
    }
  }
  if (o.help || o.version) return {};
  if (o.outputs) {
    for (const char c : *o.outputs) {
      if (c < '2' || c > '5') return "--outputs には 2～5 の数字を指定してください: " + *o.outputs;
    }
  }
  if (o.paths.size() != 2 && !(o.settings && o.paths.empty())) {
    return "比較元と比較先を指定してください";
  }
  return {};
}

std::string JsonString(std::string_view text) {
  // Paths need not be valid UTF-8; JSON must be.
  const std::string utf8 = Utf16ToUtf8(Utf8ToUtf16(text));
  std::string out = "\"";
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

class BatchHost : public RunHost {
 public:
  BatchHost(ComparisonJob job, std::ostream& err, bool progress)
      : job_(std::move(job)), err_(err), progress_(progress) {}
  ComparisonJob TakeJob() override { return job_; }
  void SetStatus(std::string_view) override {}
  void SetInputCount(int, std::string_view) override {}
  void SetOutputCount(int, std::string_view) override {}
  void SetRecordLine(int, std::string_view) override {}
  void ApplyControlStates(bool enable) override {
    if (enable && shown_) err_ << "\r\033[K" << std::flush;
  }
  bool KeepAlive(std::uint64_t done, std::uint64_t total) override {
    if (!progress_ || total == 0) return true;
    const int width = 40;
    const auto filled = static_cast<int>(done * width / total);
    err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << done * 100 / total
         << "%" << std::flush;
    shown_ = true;
    return true;
  }

 private:
  ComparisonJob job_;
  std::ostream& err_;
  bool progress_;
  bool shown_ = false;
};

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kNoDifferences:
      return "no-differences";
    case RunOutcome::kDifferences:
      return "differences";
    case RunOutcome::kOutOfOrder:
      return "out-of-order";
    default:
      return "failed";
  }
}

void PrintJson(std::ostream& out, const char* outcome, const std::string& status,
               std::string_view focus, const ComparisonJob& job,
               const std::array<std::int64_t, 2>& lines,
               const std::array<std::int64_t, kOutputKinds>& counts) {
  out << "{\"outcome\": \"" << outcome << "\", \"status\": " << JsonString(status);
  if (!focus.empty()) out << ", \"focus\": " << JsonString(focus);
  out << ", \"inputs\": [";
  for (int side = 0; side < 2; ++side) {
    out << (side ? ", " : "") << "{\"path\": " << JsonString(job.InputData[side])
        << ", \"lines\": " << lines[side] << "}";
  }
  out << "], \"outputs\": [";
  for (int kind = 0; kind < kOutputKinds; ++kind) {
    out << (kind ? ", " : "") << "{\"kind\": " << kind
        << ", \"path\": " << JsonString(job.ResultPath[kind])
        << ", \"selected\": " << (job.OutputSelected[kind] ? "true" : "false")
        << ", \"count\": " << counts[kind] << "}";
  }
  out << "]}\n";
}

}  // namespace

int RunBatch(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             bool progress_allowed) {
  Options o;
  if (const std::string problem = ParseArguments(argc, argv, o); !problem.empty()) {
    err << "vesmer-batch: " << problem << '\n' << kUsage;
    return 2;
  }
  if (o.help) {
    out << kHelp;
    return 0;
  }
  if (o.version) {
    out << "vesmer-batch " << version::kText << '\n';
    return 0;
  }

  // Settings first, then the command line over them.
  StartRequest request;
  ComparisonJob job;
  std::string outputs = "2345";
  job.Scale = kDefaultScale;
  if (o.settings) {
    SettingsStore store;
    LoadSettings(store, SettingsLocationOfFile(*o.settings));
    request.source = store.InputData[0];
    request.destination = store.InputData[1];
    job.Utf8 = {IsOn(store.Utf8[0]), IsOn(store.Utf8[1])};
    request.use_key = IsOn(store.Key);
    request.key_text = store.KeyRange;
    request.use_omit = IsOn(store.Omit);
    request.omit_text = store.OmitRange;
    outputs.clear();
    for (std::size_t k = 2; k < store.OutputData.size() && k < kOutputKinds; ++k) {
      if (store.OutputData[k] == '1') outputs += static_cast<char>('0' + k);
    }
    job.SpaceCompare = IsOn(store.SpaceCompare);
    job.ArrangeLength = IsOn(store.ArrangeLength);
    job.Scale = store.Scale;
  }
  if (o.paths.size() == 2) {
    request.source = o.paths[0];
    request.destination = o.paths[1];
  }
  if (o.key) {
    request.use_key = true;
    request.key_text = *o.key;
  }
  if (o.omit) {
    request.use_omit = true;
    request.omit_text = *o.omit;
  }
  if (o.outputs) outputs = *o.outputs;
  if (o.utf8[0]) job.Utf8[0] = true;
  if (o.utf8[1]) job.Utf8[1] = true;
  if (o.space_compare) job.SpaceCompare = true;
  if (o.arrange_length) job.ArrangeLength = true;
  if (o.scale) job.Scale = *o.scale;

  job.InputData = {request.source, request.destination};
  job.ResultPath = MakeResultPaths(request.source);
  job.OutputSelected[kSourceUnmatched] = job.OutputSelected[kDestinationUnmatched] =
      request.use_key;
  for (const char c : outputs) job.OutputSelected[c - '0'] = true;

  const StartCheckResult check = RunStartChecks(request, job.KeyColumns, job.OmitColumns, nullptr);
  if (!check.passed) {
    if (o.json) {
      PrintJson(out, "refused", check.message, FocusName(check.focus), job, {}, {});
    }
    err << check.message << " (" << FocusName(check.focus) << ")\n";
    return 2;
  }
  job.UseKey = request.use_key;
  job.UseOmit = request.use_omit;

  BatchHost host(job, err, progress_allowed && !o.quiet && !o.json);
  const RunSummary summary = RunComparison(host);
  const bool completed =
      summary.outcome == RunOutcome::kNoDifferences || summary.outcome == RunOutcome::kDifferences;
  if (o.json) {
    PrintJson(out, OutcomeName(summary.outcome), summary.status, "", summary.job,
              summary.lines_read, summary.counts);
  } else {
    (completed ? out : err) << summary.status << '\n';
    out << "比較元 " << summary.lines_read[0] << " 行  " << job.InputData[0] << '\n';
    out << "比較先 " << summary.lines_read[1] << " 行  " << job.InputData[1] << '\n';
    for (int kind = 0; kind < kOutputKinds; ++kind) {
      if (!job.OutputSelected[kind]) continue;
      out << kind << ' ' << kKindNames[kind] << "  " << summary.counts[kind] << "  "
          << job.ResultPath[kind] << '\n';
    }
  }
  if (summary.outcome == RunOutcome::kNoDifferences) return 0;
  if (summary.outcome == RunOutcome::kDifferences) return 1;
  return 2;
}

}  // namespace vesmer
