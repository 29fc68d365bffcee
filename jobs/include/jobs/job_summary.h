// The rows of a job's dashboard, CSV and workbook: one per pair, made from the pair's JSON
// summary (the object a single run prints), so that a job and a rollup of pairs run elsewhere
// make the same pages; and where each pair's files go under the output folder.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/job.h"

namespace vesmer {

// The verdict of a pair, in the order the dashboard lists them.
enum class Verdict { kFailed, kStopped, kNotRun, kDifferences, kOneSide, kExpected, kMatch };

// One pair, small: what the dashboard shows of it.
struct PairRow {
  std::string relative;  // the source's relative path under the job's root
  std::string source, destination, profile;
  std::string outcome;  // the single run's ("differences", ...), or "only-in-source",
                        // "only-in-destination", "not-run"
  std::string status;
  Verdict verdict = Verdict::kFailed;
  std::array<std::int64_t, 2> lines{};
  std::int64_t unmatched = 0, differing = 0, expected = 0, duplicates = 0;
  std::array<std::string, 2> sha256;
  double seconds = 0;
  std::string report_link;   // the pair's report from the dashboard's folder, "" when none
  std::string summary_path;  // the JSON file it was made from, "" when none
};

// The outcomes of pairs that are no single run's.
inline constexpr std::string_view kOnlyInSource = "only-in-source";
inline constexpr std::string_view kOnlyInDestination = "only-in-destination";
inline constexpr std::string_view kNotRun = "not-run";

[[nodiscard]] Verdict VerdictOf(std::string_view outcome);
// The verdict in Japanese with its symbol, readable without colour ("○ 一致", "× 差異あり",
// "× 比較元のみ", "！ 失敗", "― 未実行", ...).
[[nodiscard]] std::string VerdictText(std::string_view outcome);

// The row of the JSON summary `json` (UTF-8 text). `summary_folder` is the folder of the file it
// was read from, `dashboard_folder` the folder the dashboard goes to (for the report's link);
// `relative` the pair's relative path, "" to take it from the JSON ("pair"."relative", else the
// summary's folder under `root` and the source's file name). False with a Japanese message
// naming `summary_path` when the text is no summary.
[[nodiscard]] bool PairRowFromJson(std::string_view json, const std::string& summary_path,
                                   const std::string& root, const std::string& dashboard_folder,
                                   PairRow& row, std::string& problem);

// Orders rows as the dashboard lists them: by verdict (failed first, matching last), then by
// relative path (bytes), then by source.
void SortRows(std::vector<PairRow>& rows);

struct JobTotals {
  std::int64_t pairs = 0, matching = 0, expected = 0, differing = 0, one_side = 0, failed = 0,
               stopped = 0, not_run = 0;
};
[[nodiscard]] JobTotals Totals(const std::vector<PairRow>& rows);

// The job's outcome ("no-differences", "differences", "failed", "stopped") and its verdict in
// words ("○ 12 組すべて一致しました", "× 12 組中 3 組に差異があります", ...).
[[nodiscard]] std::string JobOutcome(const JobTotals& totals);
[[nodiscard]] std::string JobVerdictText(const JobTotals& totals);

// What the dashboard says of the job besides its rows.
struct DashboardInfo {
  std::string title = "Vesmer 比較ジョブの一覧";
  std::string generated_at;
  std::string version;
  std::string command_line;
};

// The dashboard: one self-contained HTML page (UTF-8), the job's verdict on top, a table of
// `rows` in their order.
[[nodiscard]] std::string RenderDashboardHtml(const std::vector<PairRow>& rows,
                                              const DashboardInfo& info);

// The same rows as CSV: UTF-8 with a byte order mark, CR LF, a header row; a text a spreadsheet
// would take for a formula gets an apostrophe in front.
[[nodiscard]] std::string RenderJobCsv(const std::vector<PairRow>& rows);

// Where a pair's own files go: its results under the names a single run gives them, its report
// and its JSON summary, in `folder`, named after `source` (its file name without extension:
// NAME_report.html, NAME_summary.json).
struct PairFiles {
  std::string folder;
  ResultPaths results;
  std::string report, summary;
};
[[nodiscard]] PairFiles PairFilesIn(std::string_view folder, std::string_view source);

// The folder of a pair's files: `output_dir` and the folders of `relative`.
[[nodiscard]] std::string PairFolder(std::string_view output_dir, std::string_view relative);

// The end of every JSON summary's name; a rollup reads the files that end so.
inline constexpr std::string_view kSummarySuffix = "_summary.json";

// Reads every JSON summary (*_summary.json) under each folder of `roots` into rows for a
// dashboard in `dashboard_folder`. False with a Japanese message naming the file or folder that
// could not be read or is no summary.
[[nodiscard]] bool ReadRollup(const std::vector<std::string>& roots,
                              const std::string& dashboard_folder, std::vector<PairRow>& rows,
                              std::string& problem);

}  // namespace vesmer
