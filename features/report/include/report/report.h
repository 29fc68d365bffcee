// The evidence of a comparison: what was compared (inputs by path, size, lines and SHA-256), how
// (every option), what was found, per field and per column, and the first differing pairs as
// the result list shows them; as one self-contained HTML page, and the figures as CSV.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vesmer {

struct ReportInput {
  std::string label;       // "比較元" or "比較先"
  std::string path;        // as given
  std::uint64_t size = 0;  // bytes of the file as compared
  std::int64_t lines = 0;
  std::string sha256;  // hex, of the file as compared
  // When the input was converted from UTF-8: the kept original (P_UTF8.TXT) and its hash.
  std::string utf8_original_path;
  std::string utf8_original_sha256;
  // Key mode: records whose key repeats the key before them, and how many keys repeat.
  std::int64_t repeated_records = 0;
  std::int64_t repeated_keys = 0;
  // The same file by an absolute path with every link followed: the evidence names the file
  // wherever it is read; "" when it could not be worked out.
  std::string absolute_path;
};

struct ReportOutput {
  int kind = 0;      // 0..5
  std::string name;  // "比較元ファイル：キー不一致", ...
  std::string path;
  bool selected = false;
  std::int64_t found = 0;
  std::int64_t written = 0;
  bool complete = true;
};

struct ReportField {
  std::string name;
  std::int32_t start = 0;      // 1-based byte column
  std::int32_t length = 0;     // bytes
  char attribute = 'X';        // 'X' text, '9' number, 'N' double-byte
  std::int64_t differing = 0;  // differing pairs with a "?" in the field's columns
};

// A listed pair as the result list shows it, the bytes in code page 932.
struct ReportPair {
  std::string source_line;  // shown bytes, as read
  std::string destination_line;
  std::string marker;       // one byte per column of the longer line: '?' or ' '
  std::int64_t number = 0;  // the number the result list prints
  bool expected = false;    // an expected difference (accepted by the rules)
  // Indexes into ReportData::fields of the fields that differ in this pair.
  std::vector<int> differing_fields;
};

struct ReportRule {
  int line = 0;            // line of the rules file
  std::string field;       // as written
  std::string rule;        // the rule's name without its value
  std::string value;       // its value as written, "" when none
  std::int64_t pairs = 0;  // expected pairs in which this rule accepted a difference
};

// A record without a partner, as its result file holds it.
struct ReportRecord {
  std::int64_t number = 0;  // its line in the input
  std::string line;         // code page 932 bytes
};

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
  std::array<ReportInput, 2> inputs;
  std::vector<ReportOutput> outputs;  // the six kinds
  std::string layout_path;            // "" without a layout
  std::vector<ReportField> fields;
  std::int64_t differing_pairs = 0;  // pairs (and lone lines) counted in the statistics
  // Pairs whose texts are equal and whose comparison bytes are not.
  std::int64_t same_text_other_bytes = 0;
  // The number of differing pairs with a "?" in each column, 1-based column c at index c - 1;
  // as long as the longest differing line.
  std::vector<std::int64_t> column_counts;
  std::string scale;              // the ruler, code page 932 bytes
  std::vector<ReportPair> pairs;  // the first differing pairs, in order
  // Key mode: the first records without a partner of the source ([0]) and the destination ([1]).
  std::array<std::vector<ReportRecord>, 2> unmatched;
  std::int64_t pairs_limit = 0;  // how many were asked for (--report-pairs)
  std::string rules_path;        // "" without rules
  std::int64_t expected_pairs = 0;
  std::vector<ReportRule> rules;
  std::vector<ReportPair> expected;  // the first expected pairs, in order
};

// The report as one HTML document (UTF-8): no external fonts, scripts, style sheets or images;
// opens offline and prints on A4.
[[nodiscard]] std::string RenderReportHtml(const ReportData& data);

// The same figures as CSV, UTF-8 with a byte order mark, CR LF line ends.
[[nodiscard]] std::string RenderSummaryCsv(const ReportData& data);

}  // namespace vesmer
