// The evidence of a comparison: what was compared (inputs by path, size, lines and SHA-256), how
// (every option), what was found, per field and per column, and the first differing pairs as
// the result list shows them; as one self-contained HTML page, and the figures as CSV.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/comparison_run.h"
#include "layout/layout.h"
#include "rules/rules.h"
#include "stats/difference_stats.h"

namespace vesmer {

// What the evidence says of an input beyond the run's own summary of it (InputSummary).
struct InputEvidence {
  std::string sha256;  // hex, of the file as compared
  // The same file by an absolute path with every link followed: the evidence names the file
  // wherever it is read; "" when it could not be worked out.
  std::string absolute_path;
  // When the input was converted from UTF-8: the kept original (P_UTF8.TXT) and its hash.
  std::string utf8_original_path;
  std::string utf8_original_sha256;
};

// The report's figures, in the run's, the layout's, the rules' and the statistics' own terms.
struct ReportData {
  std::string title;           // "Vesmer 比較結果報告書"
  std::string generated_at;    // local time, "2026-12-07 14:03:05 +0900"
  std::string version;         // "vesmer-batch 2.0.40"
  std::string command_line;    // the command as given, for the record
  std::string build;           // how the program was built ("Release, GCC 12.2.0")
  std::string working_folder;  // where relative paths count from
  std::string host;            // the machine's name
  std::string user;            // who ran it
  // Every option of the run, in order, as label and value ("キー", "1-12"; "比較モード", ...).
  std::vector<std::pair<std::string, std::string>> options;
  std::string outcome;  // "differences", "no-differences", ...
  std::string status;   // the status text the run ended with
  std::string error;    // "path: reason" of a failed run, "" otherwise
  // The run's summary: inputs read (path, bytes, lines, repeated keys), the six result files,
  // expected pairs and pairs equal as text only.
  RunSummary run;
  std::array<InputEvidence, 2> inputs;
  std::string layout_path;  // "" without a layout
  // The records were compared as texts (decoded): pairs are kept field by field, and there are
  // no columns of bytes to count.
  bool texts = false;
  // The fields counted: a layout's, or a CSV header's (start = the field's number, length 1).
  std::vector<Field> fields;
  std::vector<std::int64_t> field_counts;  // differing pairs with a "?" in each field's columns
  // A run of typed fields (an old and a new layout, numbers by value): by field, where and how
  // each side holds it ("17-21 P 小数 2", "CSV 3 列目 X"), and the fields that held no number
  // of their type by side (empty for a field of text); by side, the fields the other side
  // lacks, which were not compared. All empty otherwise.
  std::vector<std::array<std::string, 2>> field_sides;
  std::vector<std::array<std::string, 2>> invalid_numbers;
  std::array<std::vector<std::string>, 2> unmatched_fields;
  std::int64_t differing_pairs = 0;  // pairs (and lone lines) counted in the statistics
  // The number of differing pairs with a "?" in each column, 1-based column c at index c - 1;
  // as long as the longest differing line.
  std::vector<std::int64_t> column_counts;
  std::string scale;            // the ruler, code page 932 bytes
  std::vector<KeptPair> pairs;  // the first differing pairs, in order
  // Key mode: the first records without a partner of the source ([0]) and the destination ([1]).
  std::array<std::vector<KeptRecord>, 2> unmatched;
  std::int64_t pairs_limit = 0;  // how many were asked for (--report-pairs)
  std::string rules_path;        // "" without rules
  std::vector<RuleLine> rules;
  std::vector<std::int64_t> rule_pairs;  // expected pairs in which each rule accepted a difference
  std::vector<KeptPair> expected;        // the first expected pairs, in order
};

// The report as one HTML document (UTF-8): no external fonts, scripts, style sheets or images;
// opens offline and prints on A4.
[[nodiscard]] std::string RenderReportHtml(const ReportData& data);

// The same figures as CSV, UTF-8 with a byte order mark, CR LF line ends.
[[nodiscard]] std::string RenderSummaryCsv(const ReportData& data);

}  // namespace vesmer
