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
  // --print-layout: print the layout --layout names, in the layout-file form, and compare nothing.
  bool print_layout = false;
};

// Parses the arguments. Returns "" when they parse, otherwise a Japanese message for the user.
[[nodiscard]] std::string ParseBatchOptions(int argc, const char* const* argv,
                                            BatchOptions& options);

// The help text.
[[nodiscard]] std::string BatchHelp();

}  // namespace vesmer
