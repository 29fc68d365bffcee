// One way from what a user asks for to a run, for the window and the batch tool alike: a typed
// request (the window's controls or a settings file, with the batch tool's options laid over
// it) becomes a checked job with its features plugged in (layout, rules, statistics, hashes,
// sort, extra lists), and runs.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/comparison_run.h"
#include "core/job.h"
#include "core/own_files.h"
#include "core/start_checks.h"
#include "formats/code_page_coding.h"
#include "formats/csv_coding.h"
#include "formats/format_framing.h"
#include "formats/record_format.h"
#include "layout/layout.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "rules/rules.h"
#include "rules/rules_judge.h"
#include "settings/settings_store.h"
#include "sort/key_order.h"
#include "stats/difference_stats.h"

namespace vesmer {

class DuplicatesSink;
class ExpectedListSink;
class InvalidNumbersSink;

// What a run is asked to do. Texts are UTF-8; paths are as given.
struct RunRequest {
  std::array<std::string, 2> inputs;  // by Side
  std::array<bool, 2> utf8{};         // the input is UTF-8, converted before reading
  bool use_key = false;
  std::string key_text;  // as typed; the plan holds it normalised once checked
  bool use_omit = false;
  std::string omit_text;
  // The result kinds chosen; kinds 0 and 1 go with the key whatever is chosen for them.
  PerKind<bool> outputs;
  bool space_compare = false;
  bool arrange_length = false;
  bool compare_bytes = false;  // pairs compare on their bytes, not their texts
  std::string scale;           // the ruler of the result list

  // Fields by name: a layout, and key or omitted columns by field names instead of ranges.
  // Names replace ranges that came with the settings, not ranges the user gave for this run.
  // The layout is of byte columns, or of CSV columns when both inputs are CSV; `csv_layout` names
  // the CSV columns when one input only is CSV (the layout is then the other's).
  std::optional<std::string> layout, csv_layout, key_fields, omit_fields;
  // An old and a new layout, one a side (`layout` is then the other side's, if given), and the
  // fields they name differently ("旧名,新名" a line): fields are matched by name and compared
  // value against value.
  std::optional<std::string> source_layout, destination_layout, field_map;
  bool key_given = false;
  bool omit_given = false;
  // Expected differences: rules, and the list of the pairs they accepted.
  std::optional<std::string> rules, expected;
  // Sorting by key first (key mode only), and the list of records whose key repeats.
  std::optional<SortOptions> sort;
  std::optional<std::string> duplicates;
  // Figures of the differences: per field (with a layout) and per column, the first pairs kept.
  bool statistics = false;
  std::size_t counted_columns = 0;  // columns counted one by one (a heat-map)
  std::size_t kept_pairs = 0;
  // SHA-256 of each input as compared, and of the UTF-8 original of one that is converted.
  bool hashes = false;
  // By side: how the input's records are framed and coded (lines of code page 932 unless said),
  // and whether blanks at the end of records and keys are compared when the two differ.
  std::array<RecordFormat, 2> formats;
  bool keep_padding = false;
  // The result list names differing fields (decoded records always do).
  bool field_list = false;
  // The folder the result files go to, with the names they would have beside the source; none:
  // beside the source.
  std::optional<std::string> result_folder;
  // A settings file the request came from: a file the run reads.
  std::optional<std::string> settings_file;
  // Files the front end writes once the run has ended (a report): checked with the run's own.
  std::vector<NamedFile> later_outputs;
};

// The request that the values of a settings store make (the window's controls copied into them,
// or a settings file).
[[nodiscard]] RunRequest RunRequestFromSettings(const SettingsStore& values);

// Why a request cannot run: the message as the window shows it, and what it is about.
struct PlanRefusal {
  std::string message;
  StartItem item = StartItem::kNone;
};

// A field of a run of typed fields as one side holds it.
struct FieldOnSide {
  std::string name;         // UTF-8, as its layout or header names it
  std::int32_t start = 0;   // 1-based byte column, or of CSV the 1-based column
  std::int32_t length = 0;  // bytes; 1 for a CSV column
  bool csv = false;         // `start` is a CSV column
  FieldType type = FieldType::kText;
  int places = 0;
  [[nodiscard]] bool IsNumber() const {
    return type != FieldType::kText && type != FieldType::kDoubleByte;
  }
};

// A field both sides have, compared value against value: a number when either side holds it as
// one. Its number in the records of fields is its index + 1.
struct ComparedField {
  std::string name;  // the source's
  std::array<FieldOnSide, 2> sides;
  bool number = false;
};

class RunPlan {
 public:
  RunPlan();
  ~RunPlan();
  RunPlan(const RunPlan&) = delete;
  RunPlan& operator=(const RunPlan&) = delete;

  // Reads the layout and the rules, turns field names into ranges, runs the start checks (in
  // their order, telling `listener` of each range text rewritten) and makes the job. Touches no
  // file but those it reads. Refused: why, and the plan must not run.
  [[nodiscard]] std::optional<PlanRefusal> Prepare(RunRequest request,
                                                   RangeTextListener* listener = nullptr);

  // Runs the job with every feature asked for. `interrupt`, when given, stops the run as the
  // observer can (a signal).
  [[nodiscard]] RunSummary Run(RunObserver& observer, const std::atomic<bool>* interrupt = nullptr);

  // The request with its range texts normalised, and the job made of it.
  [[nodiscard]] const RunRequest& request() const { return request_; }
  [[nodiscard]] const ComparisonJob& job() const { return job_; }
  // The features, null when not asked for. The layout is one of byte columns; a layout of CSV
  // columns is csv_layout().
  [[nodiscard]] const Layout* layout() const { return layout_ ? &*layout_ : nullptr; }
  [[nodiscard]] const Layout* csv_layout() const { return csv_layout_ ? &*csv_layout_ : nullptr; }
  // The fields that statistics count and rules name: the layout's, or of records of fields
  // (CSV) their numbers (start: the field's number, length 1); none otherwise.
  [[nodiscard]] const std::vector<Field>& fields() const { return fields_; }
  // A run of typed fields (numbers compared by value, or an old and a new layout): the fields
  // compared, in the order of fields(), and by side the fields the other side lacks, which are
  // not compared. Empty otherwise.
  [[nodiscard]] const std::vector<ComparedField>& compared_fields() const {
    return compared_fields_;
  }
  [[nodiscard]] const std::array<std::vector<FieldOnSide>, 2>& unmatched_fields() const {
    return unmatched_fields_;
  }
  // A run that compared numbers by value and has run: of field `f` of fields(), by side, how many
  // held no number of their type among the records compared by value; nothing for a field of
  // text, or another run.
  [[nodiscard]] std::optional<std::array<std::uint64_t, 2>> InvalidNumbers(std::size_t f) const;
  // Numbers are compared by their values: a run of typed fields, or of CSV columns of
  // attribute 9.
  [[nodiscard]] bool compares_values() const { return typed_ || csv_values_; }
  // What the user should know before trusting the run, in the user's words.
  [[nodiscard]] const std::vector<std::string>& warnings() const { return warnings_; }
  // The records are decoded and compared as texts (another code page, CSV, --list fields).
  [[nodiscard]] bool compares_texts() const { return codings_[0] != nullptr; }
  [[nodiscard]] const RuleSet* rules() const { return rules_ ? &*rules_ : nullptr; }
  [[nodiscard]] const RulesJudge* judge() const { return judge_ ? &*judge_ : nullptr; }
  [[nodiscard]] const DifferenceStats* stats() const { return stats_ ? &*stats_ : nullptr; }
  // Input i's hash as compared, and of its UTF-8 original; null without hashes.
  [[nodiscard]] const Sha256* hash(std::size_t i) const { return hashes_[i].get(); }
  [[nodiscard]] const Sha256* original_hash(std::size_t i) const {
    return original_hashes_[i].get();
  }

 private:
  bool PrepareLayouts(RunRequest& r, std::string& problem);
  bool PrepareCodings(RunRequest& r, std::string& problem);
  bool PrepareCsv(RunRequest& r, std::string& problem);
  bool PrepareCsvAgainstBytes(RunRequest& r, std::string& problem);
  bool PrepareSideLayouts(RunRequest& r, std::string& problem);
  bool PrepareTypedFields(RunRequest& r, std::string& problem);
  bool MapRuleRanges(RuleSet& rules, std::string& problem) const;

  RunRequest request_;
  ComparisonJob job_;
  std::optional<Layout> layout_;      // of byte columns
  std::optional<Layout> csv_layout_;  // of CSV columns
  std::optional<RuleSet> rules_;
  std::optional<RulesJudge> judge_;
  std::optional<DifferenceStats> stats_;
  std::array<std::unique_ptr<Sha256>, 2> hashes_, original_hashes_;
  OutputFile duplicates_file_, expected_file_;
  std::unique_ptr<DuplicatesSink> duplicates_;
  std::unique_ptr<ExpectedListSink> expected_;
  std::unique_ptr<InvalidNumbersSink> invalid_numbers_;
  std::optional<KeyOrderSort> sort_;
  std::array<std::optional<FormatFraming>, 2> framings_;
  std::array<std::unique_ptr<RecordCoding>, 2> codings_;
  // Records of fields: the names of their fields, `start` the field's 1-based number.
  std::vector<ListedField> field_names_;
  std::vector<Field> fields_;  // see fields()
  // A run of typed fields: the layout of each side (of both, with one layout), and what the
  // run compares.
  bool typed_ = false;
  bool csv_values_ = false;  // two CSV inputs whose layout has columns of attribute 9
  std::array<std::optional<Layout>, 2> side_layouts_;
  std::vector<ComparedField> compared_fields_;
  std::array<std::vector<FieldOnSide>, 2> unmatched_fields_;
  std::vector<std::string> warnings_;
};

}  // namespace vesmer
