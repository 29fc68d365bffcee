// The line vesmer-batch draws on a terminal while a run works: the step, a bar, the pace and
// the time left.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesmer {

// The steps of a run that show progress. Sorting comes first, and only with --sort.
enum class RunStep { kSort, kCompare };

// What a step had done when its timing began.
struct ProgressStart {
  std::uint64_t done = 0;
  std::int64_t lines = 0;
};

// The progress line of `step`, UTF-8, at most 79 columns wide (the last column of a terminal is
// left free, where some terminals would wrap), without a line end.
//
// `sorting` says whether the run sorts first: the steps are then numbered (「整列 1/2」,
// 「比較 2/2」); a run without a sort just compares (「比較」). `done` and `total` are the bytes of
// the step (done beyond total counts as total), `lines` the lines read in it; a negative count
// means the step does not count lines (the sort), and bytes per second are shown instead of
// lines. `elapsed_seconds` is the time since the step's timing began, with `since` done by
// then. The time left assumes the rest goes at that pace, by bytes, and is rounded up to whole
// seconds; 「--:--」 until there is a pace.
//
// `formats`, when not empty, names the inputs' formats ("fixed=200,ibm-930 → csv,utf-8"): shown
// after the step, the pace then counts records (件) rather than lines. The bar gives up its
// columns first, down to its narrowest; then the formats are cut short with "…".
[[nodiscard]] std::string ProgressLine(RunStep step, bool sorting, std::uint64_t done,
                                       std::uint64_t total, std::int64_t lines,
                                       double elapsed_seconds, ProgressStart since = {},
                                       std::string_view formats = {});

// The progress line of a job, UTF-8, at most 79 columns wide: the pairs done of all, the bytes
// of the inputs compared so far (MB), and the relative paths of the pairs now running, as many as
// fit, the last one cut with "…" ("ジョブ 12/200 組  35.2 MB  実行中: a.txt, sub/b.txt").
[[nodiscard]] std::string JobProgressLine(std::size_t done, std::size_t total, std::uint64_t bytes,
                                          const std::vector<std::string>& running);

}  // namespace vesmer
