// One comparison run: opens the inputs and the selected result files, matches records line by
// line or by key, and hands every classified record to the record sinks (the result files, the
// result list, and whatever a front end adds). The summary says how it ended.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/job.h"
#include "core/own_files.h"
#include "core/record_framing.h"
#include "core/record_reader.h"
#include "core/record_sink.h"
#include "core/record_text.h"
#include "core/run_observer.h"
#include "platform/files.h"
#include "platform/status.h"

namespace vesmer {

enum class RunOutcome {
  kNoDifferences,
  kDifferences,
  kOutOfOrder,   // a key decreased; what was written so far stays
  kSetupFailed,  // an input could not be converted or opened, a result file not created
  kIoFailed,     // a read or write failed (or memory ran out) after matching began
  kStopped,      // the observer asked the run to stop (the window closes, a signal came)
};

struct InputSummary {
  std::string path;
  std::int64_t lines = 0;  // lines read
  std::uint64_t bytes = 0;
  // The first line holds a line feed and no carriage return ends it within the first MiB: the
  // file most likely uses LF line ends, and was read as one long line.
  bool lf_line_ends = false;
  // Key mode: records whose key equals the key of the record before them, and how many
  // distinct keys repeat so.
  std::int64_t repeated_records = 0;
  std::int64_t repeated_keys = 0;
  // Decoded records holding bytes that are no character of their code page: compared by those
  // bytes.
  std::int64_t undecodable_records = 0;
  // Records of fields (CSV) with fewer fields than the header, or the first record, has.
  std::int64_t short_records = 0;
  // The file was changed, truncated or replaced while the run read it: what was read is
  // neither the old file nor the new one.
  bool changed = false;
  // How its records are framed and coded, as the user wrote it ("fixed=200,cp932"); "" for
  // lines of code page 932.
  std::string format;
};

struct OutputSummary {
  std::string path;
  bool selected = false;
  bool created = false;      // this run created or replaced the file
  bool complete = true;      // false when a write to it failed
  std::int64_t found = 0;    // records (entries for the result list) classified for it
  std::int64_t written = 0;  // of those, the ones that reached the file
};

struct RunSummary {
  RunOutcome outcome = RunOutcome::kSetupFailed;
  Status error;  // what ended a failed run: the operation, the file and the system's reason
  std::array<InputSummary, 2> inputs;
  PerKind<OutputSummary> outputs;
  std::vector<OutputSummary> extra_outputs;  // those of RunExtensions::outputs, in order
  std::int64_t expected_pairs = 0;           // differing pairs the judge accepted
  // Pairs whose comparison texts are equal and whose raw comparison bytes are not (see
  // Record::RawComparisonBytes): the files differ there although the texts do not.
  std::int64_t same_text_other_bytes = 0;

  // Whether the files differ, from what was found, whatever was selected for writing.
  [[nodiscard]] bool DifferencesFound() const;
  // Whether a difference was written (kinds 0, 1, 2, 3 or 5): the window's completion message
  // and the opening of the result list go by this.
  [[nodiscard]] bool DifferencesWritten() const;
};

// The status text a run ends with (☆処理が終了しました, ★ファイルを開けませんでした, ...); "" for a
// stopped run, which leaves the last text standing.
[[nodiscard]] std::string_view StatusText(const RunSummary& summary);

// A file a sink writes besides the six result files: the run checks it is no input, locks it
// and replaces it as it does result files, and closes it at the end.
struct ExtraOutput {
  std::string path;
  OutputFile* file = nullptr;
  std::string role;  // what it is to the user, for a refusal ("キー重複の一覧")
};

// Puts both inputs of a key-mode run in key order before the match (a sort). The run hands
// them over once it has checked and locked its files, and reads the records it gets back.
class InputOrder {
 public:
  virtual ~InputOrder() = default;
  // Reads both inputs and makes of each a source that gives its records in key order, valid
  // while this object lives; `ids`: the files that were read. `observers` are passed every
  // byte of each input once; `framings`, by side, read records that are no lines (none: lines),
  // `codings` decode records of another code page (none: code page 932);
  // progress goes to `observer` on the calling thread. A failure
  // names its file; EINTR: `stop` was set, the run stops.
  [[nodiscard]] virtual Status Arrange(const ComparisonJob& job, const std::atomic<bool>* stop,
                                       const std::array<ChunkObserver*, 2>& observers,
                                       const std::array<const RecordFraming*, 2>& framings,
                                       const std::array<const RecordCoding*, 2>& codings,
                                       RunObserver& observer, std::array<LineSource*, 2>& sources,
                                       std::array<FileId, 2>& ids) = 0;
};

// What a front end adds to a run.
struct RunExtensions {
  std::vector<RecordSink*> sinks;  // more outputs: statistics, reports; after the result files
  std::vector<ExtraOutput> outputs;
  // Files the run reads besides its inputs (a layout, rules, a settings file), and files the
  // front end writes once the run has ended (a report): none of the run's outputs may be one of
  // the former, and none of the latter may be a file the run reads or writes. Checked with the
  // run's own files before any file is touched.
  std::vector<NamedFile> reads;
  std::vector<NamedFile> later_outputs;
  PairJudge* judge = nullptr;  // decides expected differences; none: every difference is real
  // Set from a signal handler: the run stops as when the observer asks it to, also while it
  // waits for input that is slow to come (a pipe).
  const std::atomic<bool>* interrupt = nullptr;
  // Key mode: both inputs are put in key order first and read so; the files are never changed.
  InputOrder* sort = nullptr;
  // Passed every byte of each input as it is read (the file as compared), and of the UTF-8
  // original of an input that is converted.
  std::array<ChunkObserver*, 2> input_observers{};
  std::array<ChunkObserver*, 2> original_observers{};
  // By side: records in a framing of their own (fixed length, variable length, LF, CSV); none:
  // lines ended by CR or CR LF.
  std::array<const RecordFraming*, 2> framings{};
  // Both or neither: the records' code pages, when either is not 932. Records are then
  // decoded, and keys and comparisons are of their texts.
  std::array<const RecordCoding*, 2> codings{};
};

// Runs `job` to its end on the calling thread. Never throws: an allocation failure ends the run
// as failed.
[[nodiscard]] RunSummary RunComparison(const ComparisonJob& job, RunObserver& observer,
                                       const RunExtensions& extensions = {});

}  // namespace vesmer
