// The batch tool's command line: its options, parsed with CLI11, help in Japanese.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "formats/record_format.h"

namespace vesmer {

struct BatchOptions {
  std::vector<std::string> paths;  // source and destination, or none with --settings
  std::optional<std::string> key, omit, outputs, scale, settings;
  bool utf8_source = false;
  bool utf8_destination = false;
  bool space_compare = false;
  bool arrange_length = false;
  bool compare_bytes = false;  // pairs compare on their bytes, not their texts
  bool json = false;
  bool quiet = false;
  bool help = false;
  bool version = false;

  // Fields by name, statistics and the evidence report.
  std::optional<std::string> layout, csv_layout, key_fields, omit_fields, report, summary_csv;
  std::optional<std::string> source_layout, destination_layout, field_map;
  long long report_pairs = 1000;
  // Sorting by key, and repeated keys.
  bool sort = false;
  long long sort_memory_mib = 256;
  std::optional<std::string> temp_dir, duplicates;
  // Expected differences.
  std::optional<std::string> rules, expected;
  // Each input's format (--format, --source-format, --destination-format), and whether padding
  // is compared across formats.
  std::optional<std::string> format, source_format, destination_format;
  std::array<RecordFormat, 2> formats;
  bool keep_padding = false;
  // --list fields: the result list names each differing field instead of marking columns.
  std::optional<std::string> list;

  // Where the result files go instead of beside the source; with --pairs or --folders, the
  // folder under which each pair's results, report and JSON go.
  std::optional<std::string> output_dir;
  // A workbook of the run or of the job (一覧 and a sheet per differing pair).
  std::optional<std::string> summary_xlsx;
  // Many pairs in one job: from a list (--pairs) or two folders (--folders OLD NEW), chosen with
  // --include / --exclude globs, each with the options of its profile (--profiles), --jobs at
  // once (0: as many as there are processors); or --rollup: the pages of pairs already run.
  std::optional<std::string> pairs, profiles;
  std::vector<std::string> folders, rollup, include, exclude;
  long long jobs = 0;

  // Set by a job for each of its pairs, never by an option: the run writes its JSON summary
  // beside its results, also when it is refused, naming the pair's profile.
  bool job_pair = false;
  std::string profile_name, relative;

  [[nodiscard]] bool IsJob() const { return pairs.has_value() || !folders.empty(); }

  // --print-layout: print the layout --layout names, in the layout-file form, and compare nothing.
  bool print_layout = false;
};

// Parses the arguments. Returns "" when they parse, otherwise a Japanese message for the user.
[[nodiscard]] std::string ParseBatchOptions(int argc, const char* const* argv,
                                            BatchOptions& options);

// Parses `args` (without the program's name) over `options` as they are: an option given here
// replaces its value there, every other keeps its value. A job lays a profile's options and a
// pair's paths over the command line's this way. The checks of ParseBatchOptions apply to the
// options as they end up; an option given twice within `args` is an error, as on the command
// line.
[[nodiscard]] std::string ParseBatchOptionsOver(const std::vector<std::string>& args,
                                                BatchOptions& options);

// The help text.
[[nodiscard]] std::string BatchHelp();

}  // namespace vesmer
