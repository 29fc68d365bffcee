#include "cli/batch.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_plan.h"
#include "batch_run.h"
#include "cli/batch_options.h"
#include "cli/progress_line.h"
#include "cli/stop_signals.h"
#include "core/comparison_run.h"
#include "core/messages.h"
#include "core/result_names.h"
#include "core/start_checks.h"
#include "core/utf8_input.h"
#include "jobs/job_summary.h"
#include "jobs/workbook.h"
#include "layout/layout.h"
#include "platform/cp932.h"
#include "platform/sha256.h"
#include "platform/temp_file.h"
#include "platform/unicode.h"
#include "platform/version.h"
#include "platform/whole_file.h"
#include "report/report.h"
#include "rules/rules.h"
#include "rules/rules_judge.h"
#include "settings/settings_store.h"
#include "stats/difference_stats.h"

namespace vesmer {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUsage = "使い方: vesmer-batch [オプション] 比較元 比較先\n";
constexpr const char* kHelpHint = "詳しくは vesmer-batch --help を見てください\n";
constexpr const char* kStoppedText = "☆中止しました";

using messages::kOutputNames;
using messages::kSideNames;

// Columns whose differences are counted one by one for a report's heat-map; beyond them a
// column is only known to differ or not.
constexpr std::size_t kReportColumns = std::size_t{1} << 20;

// What a refused start asks to correct, as the command line names it.
std::string_view ItemArgument(StartItem item) {
  switch (item) {
    case StartItem::kSource:
      return "比較元";
    case StartItem::kDestination:
      return "比較先";
    case StartItem::kKeyRange:
      return "--key";
    case StartItem::kOmitRange:
      return "--omit";
    case StartItem::kNone:
      break;
  }
  return "";
}

// The control a refused start names, by the window's object name (the JSON's `focus`).
std::string_view FocusName(StartItem item) {
  switch (item) {
    case StartItem::kSource:
      return "cmdSelInput(0)";
    case StartItem::kDestination:
      return "cmdSelInput(1)";
    case StartItem::kKeyRange:
      return "txtKeyRange";
    case StartItem::kOmitRange:
      return "txtOmitRange";
    case StartItem::kNone:
      break;
  }
  return "";
}

// Every differing pair was accepted by the rules: the files differ, as expected.
bool OnlyExpectedDifferences(const RunSummary& summary) {
  return summary.outcome == RunOutcome::kNoDifferences && summary.expected_pairs != 0;
}

const char* OutcomeName(const RunSummary& summary) {
  if (OnlyExpectedDifferences(summary)) return "expected-differences";
  switch (summary.outcome) {
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

bool Failed(const RunSummary& summary) {
  return summary.outcome == RunOutcome::kSetupFailed || summary.outcome == RunOutcome::kIoFailed;
}

// The status line the batch tool ends with: the window's, but for differences the rules
// accepted, which are no "no differences", and for a stopped run, which the window does not
// report.
std::string BatchStatus(const RunSummary& summary) {
  if (OnlyExpectedDifferences(summary)) {
    return "☆差異は " + std::to_string(summary.expected_pairs) +
           " 組ありましたが、すべて規則で許容されました";
  }
  if (summary.outcome == RunOutcome::kStopped) return kStoppedText;
  return std::string(StatusText(summary));
}

// Differences found and not written (-o 4): the window's status says there were none, which
// this line puts right. "" when there is nothing to say.
std::string UnwrittenNote(const RunSummary& summary) {
  const bool completed =
      summary.outcome == RunOutcome::kNoDifferences || summary.outcome == RunOutcome::kDifferences;
  if (!completed || !summary.DifferencesFound() || summary.DifferencesWritten()) return {};
  const std::int64_t pairs = summary.outputs[OutputKind::kResultList].found;
  const std::int64_t unmatched = summary.outputs[OutputKind::kSourceUnmatched].found +
                                 summary.outputs[OutputKind::kDestinationUnmatched].found;
  std::string note;
  if (pairs != 0) note = "差異のある組が " + std::to_string(pairs) + " 組";
  if (unmatched != 0) {
    note += (note.empty() ? "" : "、") + std::string("キーの一致しないレコードが ") +
            std::to_string(unmatched) + " 件";
  }
  return note + "ありましたが、その結果ファイルは出力しない設定です";
}

// Whether this run ended before it replaced any of its result files: they hold what an
// earlier run left.
bool NothingWritten(const RunSummary& summary) {
  for (const OutputKind kind : kAllOutputKinds) {
    if (summary.outputs[kind].created) return false;
  }
  return true;
}

// Draws a progress line on a terminal (sorting, then comparing) and turns SIGINT / SIGTERM into
// a stop request.
class BatchObserver : public RunObserver {
 public:
  // `formats`: the inputs' formats, when either is not CR lines of code page 932.
  BatchObserver(std::ostream& err, bool progress, bool sorting, std::string formats)
      : err_(err), progress_(progress), sorting_(sorting), formats_(std::move(formats)) {}
  ~BatchObserver() override { Clear(); }

  void OnSortProgress(std::uint64_t done, std::uint64_t total) override {
    Draw(RunStep::kSort, done, total, -1);  // the sort counts bytes only
  }
  void OnProgress(const RunProgress& p) override {
    Draw(RunStep::kCompare, p.bytes_read[0] + p.bytes_read[1], p.bytes_total[0] + p.bytes_total[1],
         p.records_read[0] + p.records_read[1]);
  }
  bool StopRequested() override { return StopSignal() != 0; }

  void Clear() {
    if (shown_) err_ << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  void Draw(RunStep step, std::uint64_t done, std::uint64_t total, std::int64_t lines) {
    if (!progress_ || total == 0) return;
    // A step is timed from its first report on, with what it had done by then: the setup
    // before a step (opening, converting UTF-8) and the first report's late coming are no part
    // of its pace.
    const auto now = std::chrono::steady_clock::now();
    if (step != step_ || !shown_) {
      step_ = step;
      step_start_ = now;
      since_ = {done, lines};
    }
    const std::chrono::duration<double> elapsed = now - step_start_;
    err_ << "\r"
         << ProgressLine(step, sorting_, done, total, lines, elapsed.count(), since_, formats_)
         << "\033[K" << std::flush;
    shown_ = true;
  }

  std::ostream& err_;
  bool progress_;
  bool sorting_;
  std::string formats_;
  bool shown_ = false;
  RunStep step_ = RunStep::kSort;
  std::chrono::steady_clock::time_point step_start_;
  ProgressStart since_;
};

// Whether the run keeps its first differing pairs field by field in its JSON: for a workbook,
// and in the JSON summary beside results kept apart, which a rollup makes a workbook of.
bool WantsDetails(const BatchOptions& o) { return o.summary_xlsx || o.output_dir; }

double Since(std::chrono::steady_clock::time_point start) {
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return std::round(elapsed.count() * 1000) / 1000;
}

// What a JSON summary beside the results says of its pair: the inputs as given, the relative
// path and the profile in a job, the time the run took, and the report from the summary's
// folder.
Json PairJson(const BatchOptions& o, const std::array<std::string, 2>& inputs, double seconds) {
  Json pair{{"source", inputs[0]}, {"destination", inputs[1]}};
  if (o.job_pair) pair["relative"] = o.relative;
  if (!o.profile_name.empty()) pair["profile"] = o.profile_name;
  pair["seconds"] = seconds;
  if (o.report && o.output_dir) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path report = fs::absolute(*o.report, error).lexically_normal();
    const fs::path folder = fs::absolute(*o.output_dir, error).lexically_normal();
    pair["report"] = report.lexically_relative(folder).generic_string();
  }
  return pair;
}
Json PairJson(const BatchOptions& o, const std::vector<std::string>& paths, double seconds) {
  return PairJson(o, std::array<std::string, 2>{paths[0], paths[1]}, seconds);
}

// Writes `summary` as the JSON summary beside the results (NAME_summary.json in --output-dir).
Status WriteSummaryFile(const BatchOptions& o, const std::string& source, const Json& summary) {
  if (Status s = MakeFolders(*o.output_dir, 0777); !s.ok()) return WithPath(s, *o.output_dir);
  const std::string path = PairFilesIn(*o.output_dir, source).summary;
  return WithPath(
      ReplaceWholeFile(path, summary.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n",
                       Durability::kWriteBack),
      path);
}

// Differing pairs a JSON summary lists field by field at most.
constexpr std::size_t kDetailPairs = 100;

// The request the options make: the values of the settings file (or of an empty one) with the
// options laid over them. False, with a message, when the settings file cannot be read.
bool RequestFromOptions(const BatchOptions& o, RunRequest& request, std::string& problem) {
  SettingsStore v;
  if (o.settings) {
    if (Status s = LoadSettingsFile(*o.settings, v, problem); !s.ok()) return false;
  } else {
    // The defaults of an empty settings file.
    LoadSettings(v, SettingsLocation{});
    v.OutputData = "001111";
  }
  RunRequest& r = request = RunRequestFromSettings(v);
  if (o.paths.size() == 2) r.inputs = {o.paths[0], o.paths[1]};
  if (o.key) {
    r.use_key = true;
    r.key_text = *o.key;
    r.key_given = true;
  }
  if (o.omit) {
    r.use_omit = true;
    r.omit_text = *o.omit;
    r.omit_given = true;
  }
  if (o.outputs) {
    r.outputs = {};
    for (const char c : *o.outputs) r.outputs.values[static_cast<std::size_t>(c - '0')] = true;
  }
  if (o.utf8_source) r.utf8[0] = true;
  if (o.utf8_destination) r.utf8[1] = true;
  if (o.space_compare) r.space_compare = true;
  if (o.arrange_length) r.arrange_length = true;
  if (o.scale) r.scale = *o.scale;
  r.compare_bytes = o.compare_bytes;
  r.formats = o.formats;
  r.keep_padding = o.keep_padding;
  r.field_list = o.list == "fields";

  r.layout = o.layout;
  r.csv_layout = o.csv_layout;
  r.source_layout = o.source_layout;
  r.destination_layout = o.destination_layout;
  r.field_map = o.field_map;
  r.key_fields = o.key_fields;
  r.omit_fields = o.omit_fields;
  r.rules = o.rules;
  r.expected = o.expected;
  r.duplicates = o.duplicates;
  if (o.sort) {
    // Both inputs are sorted at once: each gets half of what the sort may hold.
    SortOptions sort;
    sort.memory_bytes = static_cast<std::size_t>(o.sort_memory_mib) << 19;
    sort.temp_dir = o.temp_dir.value_or("");
    r.sort = std::move(sort);
  }
  // Statistics when a summary, a layout or a report asks for them.
  const bool reporting = o.report || o.summary_csv;
  const bool details = WantsDetails(o);
  r.statistics =
      o.json || o.layout || o.source_layout || o.destination_layout || reporting || details;
  r.counted_columns = reporting ? kReportColumns : 0;
  r.kept_pairs = o.report || details ? static_cast<std::size_t>(o.report_pairs) : 0;
  r.hashes = reporting || details;
  r.settings_file = o.settings;
  r.result_folder = o.output_dir;
  if (o.report) r.later_outputs.push_back({*o.report, "報告書"});
  if (o.summary_csv) r.later_outputs.push_back({*o.summary_csv, "集計の CSV"});
  if (o.summary_xlsx) r.later_outputs.push_back({*o.summary_xlsx, "一覧のブック"});
  if (o.output_dir && o.paths.size() == 2) {
    r.later_outputs.push_back({PairFilesIn(*o.output_dir, o.paths[0]).summary, "要約の JSON"});
  }
  return true;
}

// `texts`: the records were compared as texts (a code page, CSV, a list of fields), where bytes
// cannot be compared instead;
// `values`: as fields whose numbers are compared by value.
std::vector<std::string> Warnings(const RunSummary& summary, const ComparisonJob& job, bool texts,
                                  bool values) {
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
  // Comparing bytes, such pairs are differences already.
  if (summary.same_text_other_bytes > 0 && !job.CompareBytes) {
    // Texts of another code page are compared as texts only.
    warnings.push_back(std::string(values ? "値" : "文字") +
                       "としては一致するがバイトが異なる組が " +
                       std::to_string(summary.same_text_other_bytes) + " 組あります" +
                       (texts ? "" : "（--compare-bytes でバイトを比較できます）"));
  }
  return warnings;
}

void PrintJson(std::ostream& out, const Json& j) {
  // Paths need not be valid UTF-8; JSON must be.
  out << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

// Everything a run gathered for the summary and the report.
struct Gathered {
  const RunPlan* plan = nullptr;  // the job and the features that ran
  RunSummary summary;
  std::vector<std::string> warnings;
  // The files written besides the result files, by the run and after it, in the JSON's words.
  struct Extra {
    const char* name;
    OutputSummary summary;
  };
  std::vector<Extra> extras;
  bool details = false;  // the first differing pairs field by field (WantsDetails)
};

// Code page 932 bytes as UTF-8 for a cell: control characters as \xNN.
std::string CellText(std::string_view bytes) {
  std::string text;
  for (const char c : cp932::ToUtf8(bytes)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      text += "\\x";
      text += kHex[static_cast<unsigned char>(c) >> 4];
      text += kHex[c & 15];
    } else {
      text += c;
    }
  }
  return text;
}

// The first differing pairs field by field: the record numbers, the key, and each field's
// values. Texts list the fields that differ; Shift-JIS lines every field of the layout, marked
// where a "?" falls in it, or without a layout the whole record.
Json DifferingPairs(const Gathered& g) {
  Json list = Json::array();
  const DifferenceStats* stats = g.plan->stats();
  if (stats == nullptr) return list;
  const ComparisonJob& job = g.plan->job();
  const std::vector<Field>& fields = g.plan->fields();
  const auto columns = [](const std::string& line, std::int32_t start, std::int32_t length) {
    const auto from = static_cast<std::size_t>(std::max(start, 1) - 1);
    if (from >= line.size()) return std::string_view();
    return std::string_view(line).substr(from, static_cast<std::size_t>(std::max(length, 0)));
  };
  for (const KeptPair& kept : stats->kept()) {
    if (list.size() == kDetailPairs) break;
    Json pair;
    Json values = Json::array();
    if (kept.texts) {
      pair["source_number"] = kept.source_number;
      pair["destination_number"] = kept.destination_number;
      pair["key"] = kept.key;
      for (const KeptField& f : kept.fields) {
        values.push_back(Json{{"name", f.name},
                              {"source", f.source},
                              {"destination", f.destination},
                              {"differs", true}});
      }
    } else {
      pair["source_number"] = kept.number;
      pair["destination_number"] = kept.number;
      std::string key;
      for (std::size_t k = 0; job.UseKey && k < job.KeyColumns.UsedPrefix(); ++k) {
        const ColumnRange& range = job.KeyColumns[k];
        key += columns(kept.source_line, range.Start, range.End - range.Start + 1);
      }
      pair["key"] = CellText(key);
      if (fields.empty()) {
        values.push_back(Json{{"name", "レコード"},
                              {"source", CellText(kept.source_line)},
                              {"destination", CellText(kept.destination_line)},
                              {"differs", true}});
      }
      for (std::size_t f = 0; f < fields.size(); ++f) {
        const bool differs = std::find(kept.differing_fields.begin(), kept.differing_fields.end(),
                                       static_cast<int>(f)) != kept.differing_fields.end();
        values.push_back(
            Json{{"name", fields[f].name},
                 {"source", CellText(columns(kept.source_line, fields[f].start, fields[f].length))},
                 {"destination",
                  CellText(columns(kept.destination_line, fields[f].start, fields[f].length))},
                 {"differs", differs}});
      }
    }
    pair["fields"] = std::move(values);
    list.push_back(std::move(pair));
  }
  return list;
}

// The hash of input `i` when it saw exactly the bytes the run counts for that input. A run that
// ends early (out of key order, stopped, failed) had its reader hash what it read ahead, as
// much as happened to be read: neither the file's hash nor the same from one run to the next.
const Sha256* WholeHash(const Gathered& g, std::size_t i) {
  const Sha256* hash = g.plan->hash(i);
  if (g.summary.inputs[i].changed) return nullptr;  // a hash of neither the old nor the new file
  return hash != nullptr && hash->bytes() == g.summary.inputs[i].bytes ? hash : nullptr;
}

// Whether an output holds all this run meant to write there: it was written, no write to it
// failed, and the run was not stopped before its end.
bool Complete(const RunSummary& summary, const OutputSummary& o) {
  return o.created && o.complete && summary.outcome != RunOutcome::kStopped;
}

// A typed field as one side holds it, for the report: "KYUYO 17-21 P 小数 2", "金額 CSV 3 列目 X".
std::string FieldOnSideText(const FieldOnSide& f) {
  std::string text = f.name + " ";
  if (f.csv) {
    text += "CSV " + std::to_string(f.start) + " 列目";
  } else if (f.length == 0) {
    text += std::to_string(f.start) + "-";  // up to the record's end
  } else {
    text += std::to_string(f.start) + "-" + std::to_string(std::int64_t{f.start} + f.length - 1);
  }
  text += " " + std::string(FieldTypeName(f.type));
  if (f.places != 0) text += " 小数 " + std::to_string(f.places);
  return text;
}

// A typed field as one side holds it: its name, its columns or CSV column, its type.
Json FieldOnSideJson(const FieldOnSide& f) {
  Json j{{"name", f.name}};
  if (f.csv) {
    j["column"] = f.start;
  } else {
    j["start"] = f.start;
    j["length"] = f.length;
  }
  j["type"] = std::string(FieldTypeName(f.type));
  if (f.places != 0) j["places"] = f.places;
  return j;
}

Json SummaryJson(const Gathered& g) {
  const RunSummary& summary = g.summary;
  Json j;
  j["outcome"] = OutcomeName(summary);
  // The window shows nothing new when it closes during a run; the batch tool says it stopped.
  j["status"] = BatchStatus(summary);
  if (const std::string note = UnwrittenNote(summary); !note.empty()) j["note"] = note;
  j["inputs"] = Json::array();
  for (const Side s : kSides) {
    const InputSummary& in = summary.inputs[Index(s)];
    Json input{{"path", in.path},
               {"lines", in.lines},
               {"format", g.plan->request().formats[Index(s)].Text()}};
    if (g.plan->request().formats[0].code_page != RecordFormat::kDefaultCodePage ||
        g.plan->request().formats[1].code_page != RecordFormat::kDefaultCodePage ||
        g.plan->request().formats[0].framing == Framing::kCsv) {
      input["undecodable_records"] = in.undecodable_records;  // the records were decoded
    }
    if (g.plan->request().formats[Index(s)].framing == Framing::kCsv) {
      input["short_records"] = in.short_records;
    }
    const Sha256* hash = WholeHash(g, Index(s));
    if (hash != nullptr && summary.outcome != RunOutcome::kSetupFailed) {
      input["sha256"] = hash->Hex();
    }
    j["inputs"].push_back(input);
  }
  j["outputs"] = Json::array();
  for (const OutputKind kind : kAllOutputKinds) {
    const OutputSummary& o = summary.outputs[kind];
    // A failed run names only the files it created.
    if (Failed(summary) && !o.created) continue;
    Json entry{{"kind", Index(kind)},
               {"path", o.path},
               {"selected", o.selected},
               {"count", o.written},
               {"found", o.found}};
    if (o.selected) {
      entry["written"] = o.created;
      entry["complete"] = Complete(summary, o);
    }
    j["outputs"].push_back(entry);
  }
  if (!g.extras.empty()) {
    j["extra_outputs"] = Json::array();  // in the order they are written
    for (const Gathered::Extra& extra : g.extras) {
      // A run that could not set itself up lists only what it wrote, as for result files.
      if (summary.outcome == RunOutcome::kSetupFailed && !extra.summary.created) continue;
      j["extra_outputs"].push_back(Json{{"name", extra.name},
                                        {"path", extra.summary.path},
                                        {"written", extra.summary.created},
                                        {"complete", Complete(summary, extra.summary)}});
    }
  }
  if (summary.outcome != RunOutcome::kSetupFailed) {
    j["same_text_other_bytes"] = summary.same_text_other_bytes;
  }
  if (g.plan->stats() != nullptr) {
    // A layout's fields, or a CSV header's (start: the field's number).
    const std::vector<Field>& fields = g.plan->fields();
    if (!fields.empty()) {
      j["fields"] = Json::array();
      const std::vector<ComparedField>& compared = g.plan->compared_fields();
      for (std::size_t f = 0; f < fields.size(); ++f) {
        Json field{{"name", fields[f].name},
                   {"start", fields[f].start},
                   {"length", fields[f].length},
                   {"differing", g.plan->stats()->field_counts()[f]}};
        if (g.plan->compares_values()) field["number"] = fields[f].IsNumber();
        if (f < compared.size()) {
          // Typed fields: where each side holds the field, and how.
          field["source"] = FieldOnSideJson(compared[f].sides[0]);
          field["destination"] = FieldOnSideJson(compared[f].sides[1]);
        }
        if (const auto invalid = g.plan->InvalidNumbers(f)) {
          field["invalid_numbers"] = Json::array({(*invalid)[0], (*invalid)[1]});
        }
        j["fields"].push_back(std::move(field));
      }
    }
    if (!g.plan->compared_fields().empty()) {
      Json unmatched = Json::object();
      for (const Side s : kSides) {
        Json side = Json::array();
        for (const FieldOnSide& f : g.plan->unmatched_fields()[Index(s)]) {
          side.push_back(FieldOnSideJson(f));
        }
        unmatched[s == Side::kSource ? "source" : "destination"] = std::move(side);
      }
      j["unmatched_fields"] = std::move(unmatched);
    }
    // Texts have no columns of bytes.
    if (!g.plan->compares_texts()) {
      j["differing_columns"] = g.plan->stats()->differing_columns();
    }
  }
  if (g.plan->job().UseKey) {
    j["duplicates"] = Json::array();
    for (const InputSummary& in : summary.inputs) {
      j["duplicates"].push_back(Json{{"records", in.repeated_records}, {"keys", in.repeated_keys}});
    }
  }
  if (g.plan->rules() != nullptr) {
    Json rules = Json::array();
    for (std::size_t i = 0; i < g.plan->rules()->lines.size(); ++i) {
      rules.push_back(Json{{"field", g.plan->rules()->lines[i].field},
                           {"rule", g.plan->rules()->lines[i].rule},
                           {"pairs", g.plan->judge()->rule_pairs()[i]}});
    }
    j["expected"] = Json{{"pairs", summary.expected_pairs}, {"rules", rules}};
  }
  if (!summary.error.ok()) {
    j["error"] = Json{{"path", summary.error.path()}, {"reason", summary.error.reason()}};
  }
  if (!g.warnings.empty()) j["warnings"] = g.warnings;
  if (g.details && summary.outcome != RunOutcome::kSetupFailed) {
    j["differing_pairs"] = DifferingPairs(g);
  }
  return j;
}

// What failed, on standard error: the file and the system's reason.
void PrintError(std::ostream& err, const RunSummary& summary) {
  if (summary.outcome == RunOutcome::kStopped) err << kStoppedText << '\n';
  if (!summary.error.ok()) {
    if (IsTemporaryFolderFailure(summary.error)) err << "一時フォルダ ";
    err << summary.error.path() << (summary.error.path().empty() ? "" : ": ")
        << summary.error.reason() << '\n';
  }
}

void PrintPlain(std::ostream& out, const Gathered& g) {
  const RunSummary& summary = g.summary;
  // A run that could not set itself up read nothing and wrote nothing: no counts to show.
  if (summary.outcome == RunOutcome::kSetupFailed) return;
  if (summary.outcome == RunOutcome::kStopped && NothingWritten(summary)) {
    out << "中止したため、結果ファイルには書き込んでいません（前のままです）\n";
  }
  for (const Side s : kSides) {
    const InputSummary& in = summary.inputs[Index(s)];
    out << kSideNames[Index(s)] << ' ' << in.lines << " 行  " << in.path;
    if (!in.format.empty()) out << "  （" << in.format << "）";
    out << '\n';
  }
  for (const OutputKind kind : kAllOutputKinds) {
    const OutputSummary& o = summary.outputs[kind];
    const std::size_t k = Index(kind);
    if (o.selected && o.created) {
      out << k << ' ' << kOutputNames[k] << "  " << o.written << "  " << o.path
          << (Complete(summary, o) ? "" : "  （書き込みは途中まで）") << '\n';
    } else if (o.selected && !Failed(summary)) {
      out << k << ' ' << kOutputNames[k] << "  " << o.path << "  （書き込んでいません）\n";
    } else if (!o.selected && o.found != 0) {
      out << k << ' ' << kOutputNames[k] << "  " << o.found << "  （出力しない設定）\n";
    }
  }
  for (const Side s : kSides) {
    const InputSummary& in = summary.inputs[Index(s)];
    if (in.repeated_records != 0) {
      out << kSideNames[Index(s)] << "：キー重複 " << in.repeated_records << " 件（"
          << in.repeated_keys << " キー）\n";
    }
  }
  if (g.plan->rules() != nullptr) {
    out << "規則で許容された差異  " << summary.expected_pairs << " 件\n";
  }
  if (g.plan->stats() != nullptr && g.plan->stats()->pairs() != 0) {
    const std::vector<Field>& fields = g.plan->fields();
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (g.plan->stats()->field_counts()[f] == 0) continue;
      out << "  項目 " << fields[f].name << "  " << g.plan->stats()->field_counts()[f] << " 件\n";
    }
  }
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

std::string OnOff(bool on) { return on ? "する" : "しない"; }

// Where the run was made, for evidence that stands alone: each is "" when the system cannot
// tell.
std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string text = resolved;
  std::free(resolved);
  return text;
}

std::string WorkingFolder() {
  char* folder = ::getcwd(nullptr, 0);
  if (folder == nullptr) return {};
  std::string text = folder;
  std::free(folder);
  return text;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string UserName() {
  const uid_t uid = ::geteuid();
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "uid " + std::to_string(uid);
}

ReportData MakeReport(const Gathered& g, const BatchOptions& o, const std::string& command) {
  const ComparisonJob& job = g.plan->job();
  const RunSummary& summary = g.summary;
  ReportData r;
  r.title = "Vesmer 比較結果報告書";
  r.generated_at = Now();
  r.version = std::string("vesmer-batch ") + version::kText;
  r.build = version::kBuild;
  r.command_line = command;
  r.working_folder = WorkingFolder();
  r.host = HostName();
  r.user = UserName();
  auto ranges = [](const RangeList& list) {
    std::string text;
    for (std::size_t i = 0; i < list.UsedPrefix(); ++i) {
      if (!text.empty()) text += ',';
      text += std::to_string(list[i].Start) + "-" + std::to_string(list[i].End);
    }
    return text;
  };
  r.options = {
      {"比較の方法", job.UseKey ? "キーで比較" : "行ごとに比較"},
      {"キーの領域", job.UseKey ? ranges(job.KeyColumns) : ""},
      {"キーの項目", o.key_fields.value_or("")},
      {"除外する領域", job.UseOmit ? ranges(job.OmitColumns) : ""},
      {"除外する項目", o.omit_fields.value_or("")},
      {"全角スペース１個と半角スペース２個は一致と見なす", OnOff(job.SpaceCompare)},
      {"レコード長が異なるとき、短い方にあわせる", OnOff(job.ArrangeLength)},
      {"文字ではなくバイトで比較", OnOff(job.CompareBytes)},
      {"比較元は UTF-8", OnOff(job.Utf8[0])},
      {"比較先は UTF-8", OnOff(job.Utf8[1])},
      {"比較元の形式", g.plan->request().formats[0].Text()},
      {"比較先の形式", g.plan->request().formats[1].Text()},
      {"形式が異なるとき末尾の空白も比較", OnOff(o.keep_padding)},
      {"キーの順に整列してから比較", OnOff(o.sort)},
      {"設定ファイル", o.settings.value_or("")},
      {"レイアウト", o.layout.value_or("")},
      {"規則", o.rules.value_or("")},
      {"スケール", job.Scale},
  };
  // An old and a new layout: each side's own, named only when given.
  for (const auto& [label, value] : {std::pair{"比較元のレイアウト", &o.source_layout},
                                     {"比較先のレイアウト", &o.destination_layout},
                                     {"項目の対応", &o.field_map}}) {
    if (*value) r.options.emplace_back(label, **value);
  }
  r.outcome = OutcomeName(summary);
  r.status = BatchStatus(summary);
  if (!summary.error.ok()) r.error = summary.error.path() + ": " + summary.error.reason();
  r.run = summary;
  for (const Side s : kSides) {
    const std::size_t i = Index(s);
    InputEvidence& input = r.inputs[i];
    input.absolute_path = RealPath(summary.inputs[i].path);
    if (const Sha256* hash = WholeHash(g, i)) input.sha256 = hash->Hex();
    if (job.Utf8[i] && g.plan->original_hash(i) && g.plan->original_hash(i)->bytes() != 0) {
      input.utf8_original_path = MakeUtf8InputNames(job.Input(s)).backup;
      input.utf8_original_sha256 = g.plan->original_hash(i)->Hex();
    }
  }
  const DifferenceStats& stats = *g.plan->stats();
  if (g.plan->layout() != nullptr) r.layout_path = g.plan->layout()->path;
  r.texts = g.plan->compares_texts();
  r.fields = g.plan->fields();
  for (std::size_t f = 0; f < g.plan->compared_fields().size(); ++f) {
    const ComparedField& field = g.plan->compared_fields()[f];
    r.field_sides.push_back({FieldOnSideText(field.sides[0]), FieldOnSideText(field.sides[1])});
    std::array<std::string, 2> counts;
    if (const auto invalid = g.plan->InvalidNumbers(f)) {
      counts = {std::to_string((*invalid)[0]), std::to_string((*invalid)[1])};
    }
    r.invalid_numbers.push_back(counts);
  }
  for (std::size_t i = 0; i < 2; ++i) {
    for (const FieldOnSide& f : g.plan->unmatched_fields()[i]) {
      r.unmatched_fields[i].push_back(FieldOnSideText(f));
    }
  }
  r.field_counts = stats.field_counts();
  r.differing_pairs = stats.pairs();
  r.column_counts = stats.column_counts();
  r.scale = cp932::FromUtf8(job.Scale);
  r.pairs = stats.kept();
  r.unmatched = stats.kept_unmatched();
  r.pairs_limit = o.report_pairs;
  if (g.plan->rules() != nullptr) {
    r.rules_path = g.plan->rules()->path;
    r.rules = g.plan->rules()->lines;
    r.rule_pairs = g.plan->judge()->rule_pairs();
    r.expected = stats.kept_expected();
  }
  return r;
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

// Whether --json is among the arguments, read without the parser (which may have failed).
bool JsonAsked(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (arg == "--json" || arg.starts_with("--json=")) return true;
  }
  return false;
}

// Writes the report and the summary CSV. A file that cannot be written fails the run, as a
// result file would. A stop request that comes while they are made stops the run as anywhere
// else: what is not yet written is left as it was. (A run stopped before still gets its
// evidence, which says it was stopped.)
void WriteEvidence(Gathered& g, const BatchOptions& o, const std::string& command,
                   std::ostream& err) {
  RunSummary& summary = g.summary;
  const bool stopped_before = summary.outcome == RunOutcome::kStopped;
  const ReportData report = MakeReport(g, o, command);
  const struct {
    const std::optional<std::string>& path;
    const char* name;
    const char* failure;
    std::string (*render)(const ReportData&);
  } evidence[] = {
      {o.report, "report", "★報告書を書けませんでした", RenderReportHtml},
      {o.summary_csv, "summary-csv", "★集計の CSV を書けませんでした", RenderSummaryCsv},
  };
  // Stopped while the evidence is made, not before.
  const auto stop_came = [&] { return !stopped_before && StopFlag().load(); };
  bool failed = false;
  for (const auto& e : evidence) {
    if (!e.path) continue;
    OutputSummary written;
    written.path = *e.path;
    written.selected = true;
    if (!failed && !stop_came()) {
      const std::string content = e.render(report);
      const Status s = stop_came() ? Status::Error(EINTR, "write", *e.path)
                                   : ReplaceWholeFile(*e.path, content, Durability::kWriteBack,
                                                      stopped_before ? nullptr : &StopFlag());
      if (s.ok()) {
        written.created = true;
      } else if (!stop_came()) {
        err << e.failure << '\n';
        // The first failure is the one that ended the run.
        if (summary.error.ok()) summary.error = s;
        summary.outcome = RunOutcome::kIoFailed;
        failed = true;
      }
    }
    g.extras.push_back({e.name, written});
  }
  if (stop_came()) summary.outcome = RunOutcome::kStopped;
}

}  // namespace

std::string CommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    const bool plain = !arg.empty() && arg.find_first_of(" \t'\"\\$`") == std::string::npos;
    line += plain ? arg : "'" + arg + "'";
  }
  return line;
}

int RunBatch(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             bool progress_allowed) {
  BatchOptions o;
  if (const std::string problem = ParseBatchOptions(argc, argv, o); !problem.empty()) {
    // A script that asked for JSON gets it even when the arguments did not parse.
    if (JsonAsked(argc, argv))
      PrintJson(out, Json{{"outcome", "usage-error"}, {"status", problem}});
    err << "vesmer-batch: " << problem << '\n' << kUsage << kHelpHint;
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
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!o.rollup.empty()) return RunRollup(o, args, out, err);
  if (o.IsJob()) return RunJob(o, args, out, err, progress_allowed);
  std::vector<std::string> command(argv, argv + argc);
  return RunSingle(o, CommandLine(command), out, err, progress_allowed);
}

int RunSingle(const BatchOptions& o, const std::string& command, std::ostream& out,
              std::ostream& err, bool progress_allowed) {
  const auto started = std::chrono::steady_clock::now();
  auto refuse = [&](std::string message, StartItem focus = StartItem::kNone) {
    // Every refusal is an error, marked as the window marks errors (the window shows its
    // over-the-limit messages without the mark).
    if (message.rfind("★", 0) != 0) message = "★" + message;
    if (o.json) {
      Json j{{"outcome", "refused"}, {"status", message}};
      if (focus != StartItem::kNone) j["focus"] = FocusName(focus);
      j["inputs"] = Json::array();
      j["outputs"] = Json::array();
      PrintJson(out, j);
    }
    err << message;
    if (focus != StartItem::kNone) err << " (" << ItemArgument(focus) << ")";
    err << '\n';
    // A pair of a job that was refused is listed all the same, from its summary.
    if (o.job_pair && o.output_dir && o.paths.size() == 2) {
      Json j{{"outcome", "refused"}, {"status", message}};
      j["inputs"] = Json::array();
      j["outputs"] = Json::array();
      j["pair"] = PairJson(o, o.paths, Since(started));
      if (const Status s = WriteSummaryFile(o, o.paths[0], j); !s.ok()) {
        err << "★要約の JSON を書けませんでした: " << s.path() << ": " << s.reason() << '\n';
      }
    }
    return 2;
  };
  if (o.print_layout) {
    Layout layout;
    std::string message;
    if (!LoadLayout(*o.layout, layout, message).ok()) return refuse(message);
    out << LayoutText(layout);
    return 0;
  }
  RunRequest request;
  if (std::string problem; !RequestFromOptions(o, request, problem)) return refuse(problem);
  RunPlan plan;
  if (const auto refusal = plan.Prepare(std::move(request))) {
    return refuse(refusal->message, refusal->item);
  }
  const ComparisonJob& job = plan.job();
  const bool reporting = o.report || o.summary_csv;
  if (o.output_dir) {
    if (const Status s = MakeFolders(*o.output_dir, 0777); !s.ok()) {
      return refuse("★出力フォルダを作れませんでした: " + ShownText(*o.output_dir) + ": " +
                    s.reason());
    }
  }

  Gathered g;
  g.plan = &plan;
  g.details = WantsDetails(o);
  const std::array<RecordFormat, 2>& formats = plan.request().formats;
  BatchObserver observer(err, progress_allowed && !o.quiet && !o.json, o.sort,
                         formats[0].IsDefault() && formats[1].IsDefault()
                             ? std::string()
                             : formats[0].Text() + " → " + formats[1].Text());
  g.summary = plan.Run(observer, &StopFlag());
  observer.Clear();
  RunSummary& summary = g.summary;
  // A signal after the run last looked is a stop all the same: the run says so.
  const auto stop_after_run = [&] {
    if (StopFlag().load() && !Failed(summary)) summary.outcome = RunOutcome::kStopped;
  };
  stop_after_run();
  for (std::size_t i = 0; i < summary.extra_outputs.size(); ++i) {
    const bool is_duplicates = o.duplicates && i == 0;
    g.extras.push_back({is_duplicates ? "duplicates" : "expected", summary.extra_outputs[i]});
  }
  // The evidence, for every run that ran: a failed or stopped one says so itself.
  if (reporting && summary.outcome != RunOutcome::kSetupFailed) {
    WriteEvidence(g, o, command, err);
    stop_after_run();
  }

  g.warnings = Warnings(summary, job, plan.compares_texts(), plan.compares_values());
  g.warnings.insert(g.warnings.begin(), plan.warnings().begin(), plan.warnings().end());
  for (const std::string& w : g.warnings) err << "vesmer-batch: 警告: " << w << '\n';
  const std::string status = BatchStatus(summary);
  const bool completed =
      summary.outcome == RunOutcome::kNoDifferences || summary.outcome == RunOutcome::kDifferences;
  if (!completed && summary.outcome != RunOutcome::kStopped) err << status << '\n';
  PrintError(err, summary);
  if (summary.outcome == RunOutcome::kOutOfOrder && !o.sort) {
    err << "ヒント: --sort を付けると、両ファイルをキーの順に整列してから比較します（元の"
           "ファイルは変更しません）\n";
  }
  // The workbook and the JSON summary beside the results, made of the run's JSON: they fail
  // the run as any output does.
  const auto failed_output = [&](Status s, const char* failure) {
    err << failure << '\n' << s.path() << ": " << s.reason() << '\n';
    if (summary.error.ok()) summary.error = s;
    summary.outcome = RunOutcome::kIoFailed;
  };
  if (o.summary_xlsx && summary.outcome != RunOutcome::kSetupFailed) {
    const std::string text = SummaryJson(g).dump(-1, ' ', false, Json::error_handler_t::replace);
    PairRow row;
    std::string problem;
    const std::string folder = std::filesystem::path(*o.summary_xlsx).parent_path().string();
    OutputSummary written;
    written.path = *o.summary_xlsx;
    written.selected = true;
    if (PairRowFromJson(text, "", ".", folder.empty() ? "." : folder, row, problem)) {
      row.relative = std::string(PathFileName(job.Input(Side::kSource)));
      const Status s =
          WriteSummaryWorkbook(*o.summary_xlsx, {row}, [&](const PairRow&) { return text; });
      if (s.ok()) {
        written.created = true;
      } else {
        failed_output(s, "★一覧のブックを書けませんでした");
      }
    }
    g.extras.push_back({"summary-xlsx", written});
  }
  Json j = SummaryJson(g);
  if (o.output_dir) {
    j["pair"] = PairJson(o, job.InputData, Since(started));
    if (const Status s = WriteSummaryFile(o, job.Input(Side::kSource), j); !s.ok()) {
      failed_output(s, "★要約の JSON を書けませんでした");
      // The file could not say so; the JSON printed does.
      Json pair = j["pair"];
      j = SummaryJson(g);
      j["pair"] = pair;
    }
  }
  const std::string note = UnwrittenNote(summary);
  if (o.json) {
    PrintJson(out, j);
  } else {
    if (completed) out << status << '\n';
    if (!note.empty()) out << note << '\n';
    PrintPlain(out, g);
  }
  return ExitStatus(summary);
}

}  // namespace vesmer
