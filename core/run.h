// The run's own parts, shared by the files that make it up (the match loop and its setup, the
// same-bytes path): the run's state, and the steps every record takes, inline.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/comparison_run.h"
#include "core/pair_diff.h"
#include "core/result_list.h"
#include "output_set.h"
#include "platform/unique_fd.h"

namespace vesmer::detail {

constexpr std::uint32_t kRecordsPerCheck = 4096;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// Result files of kinds 0 to 4: each record's line as read, ended by CR LF, or a record of
// another framing as its framing writes it.
class ResultFileSink {
 public:
  ResultFileSink(const ComparisonJob& job, PerKind<OutputFile>& files,
                 const std::array<const RecordFraming*, 2>& framings)
      : job_(job), files_(files), framings_(framings) {}

  void OnUnmatched(const Record& record) { Put(UnmatchedKind(record.side()), record); }
  void OnPair(const Record& source, const Record& destination, PairVerdict verdict) {
    if (verdict == PairVerdict::kDiffers) {
      Put(OutputKind::kSourceDiffers, source);
      Put(OutputKind::kDestinationDiffers, destination);
    } else {
      Put(OutputKind::kMatching, source);
    }
  }
  void OnLoneLine(const Record& record) { Put(DiffersKind(record.side()), record); }
  // The lines of `count` equal pairs, each ended with CR LF as the file writes them.
  void PutMatching(std::string_view lines, std::int64_t count) {
    if (!job_.OutputSelected[OutputKind::kMatching]) return;
    files_[OutputKind::kMatching].Append(lines);
    written_[OutputKind::kMatching] += count;
  }
  // The source records of `count` equal pairs of fixed-length records, `length` bytes each, one
  // after another as their framing writes them.
  void PutMatchingRecords(std::string_view records, std::int64_t count, std::size_t length) {
    constexpr OutputKind kind = OutputKind::kMatching;
    if (!job_.OutputSelected[kind]) return;
    OutputFile& file = files_[kind];
    const std::uint64_t start = file.bytes_appended();
    file.Append(records);
    std::deque<std::uint64_t>& ends = pending_ends_[kind];
    while (!ends.empty() && ends.front() <= file.bytes_reached()) ends.pop_front();
    for (std::int64_t i = 1; i <= count; ++i) {
      const std::uint64_t end = start + static_cast<std::uint64_t>(i) * length;
      if (end > file.bytes_reached()) ends.push_back(end);
    }
    framed_[kind] = true;
    written_[kind] += count;
  }

  [[nodiscard]] std::int64_t written(OutputKind kind) const { return written_[kind]; }
  // Of those, the records that reached the file: all but the ones a failed write lost.
  [[nodiscard]] std::int64_t reached(OutputKind kind) const {
    const OutputFile& file = files_[kind];
    if (!framed_[kind]) return written_[kind] - static_cast<std::int64_t>(file.lines_lost());
    std::int64_t lost = 0;
    for (const std::uint64_t end : pending_ends_[kind]) {
      if (end > file.bytes_reached()) ++lost;
    }
    return written_[kind] - lost;
  }

 private:
  void Put(OutputKind kind, const Record& record) {
    if (!job_.OutputSelected[kind]) return;
    if (const RecordFraming* framing = framings_[Index(record.side())]) {
      // A record of another framing may hold CRs of its own, or none: where each one ends tells
      // what reached the file (at most the file's few write buffers' worth is pending).
      OutputFile& file = files_[kind];
      framing->Write(record.raw(), file);
      std::deque<std::uint64_t>& ends = pending_ends_[kind];
      while (!ends.empty() && ends.front() <= file.bytes_reached()) ends.pop_front();
      ends.push_back(file.bytes_appended());
      framed_[kind] = true;
    } else {
      files_[kind].AppendLine(record.raw());
    }
    ++written_[kind];
  }

  const ComparisonJob& job_;
  PerKind<OutputFile>& files_;
  const std::array<const RecordFraming*, 2>& framings_;
  PerKind<std::int64_t> written_;
  PerKind<bool> framed_;  // the kind's file holds records of another framing
  PerKind<std::deque<std::uint64_t>> pending_ends_;
};

// The source's read-ahead looks at its lines for the same-bytes path, off the run's thread:
// each chunk's note is a stretch of the chunk, [from, to) counted from its start, of whole
// lines that each end with CR LF and, in key mode, have short keys (KeyBuilder::ShortKeyWordsOf)
// that go up from one line to the next. The stretch begins with the first line that starts in
// the chunk (one that began in the chunk before is not looked at) and ends before the first
// line that is not such a line, or that ends past the chunk. Where every line of the stretch
// has one length (CR LF included), as fixed-layout records have, the note says which, so that
// the run counts them without looking for their CRs. A chunk of 128 MiB or more gets none.
class OrderedLineMarks final : public ChunkInspector {
 public:
  explicit OrderedLineMarks(const ComparisonJob& job)
      : keyed_(job.UseKey),
        short_keys_(KeyBuilder(job.KeyColumns, job.TrimPadding).ShortKeys(shape_)) {}

  std::uint64_t Inspect(std::string_view bytes) noexcept override;
  static std::size_t From(std::uint64_t note) { return note & kPositionMask; }
  static std::size_t To(std::uint64_t note) { return (note >> kPositionBits) & kPositionMask; }
  // The length of each line of the stretch; 0 where they differ.
  static std::size_t Length(std::uint64_t note) { return note >> (2 * kPositionBits); }
  static constexpr unsigned kPositionBits = 27;
  static constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << kPositionBits) - 1;
  static constexpr std::size_t kLongestLength = (std::size_t{1} << (64 - 2 * kPositionBits)) - 1;
  // The run asks for notes while it has use for them: once it has not asked for as many chunks
  // as may be read ahead and a few more, the chunks get none (where no pair is equal, the lines
  // are not looked at twice) until it asks again.
  void Want() {
    if (!wanted_.load(std::memory_order_relaxed)) wanted_.store(true, std::memory_order_relaxed);
  }

 private:
  std::atomic<bool> wanted_{false};
  unsigned unasked_ = 0;  // chunks read since the run last asked; of the read-ahead thread
  const bool keyed_;
  KeyBuilder::ShortKeyShape shape_;
  const bool short_keys_;  // shape_ holds where they are
};

class Run {
 public:
  Run(const ComparisonJob& job, RunObserver& observer, const RunExtensions& extensions)
      : job_(job),
        observer_(observer),
        extensions_(extensions),
        sides_{InputSide(Side::kSource, job), InputSide(Side::kDestination, job)},
        files_(job, outputs_, extensions.framings),
        output_set_(job, outputs_, extensions.outputs),
        text_mode_(extensions.codings[0] != nullptr && extensions.codings[1] != nullptr),
        same_coding_(text_mode_ && extensions.codings[0]->Name() == extensions.codings[1]->Name()) {
  }

  RunSummary Execute();

 private:
  Status SetUp();
  Status CheckOwnFiles();
  Status OpenInput(Side side);
  void CloseInputs();
  Status LockInput(Side side);
  Status SortInputs();
  Status MatchAll();
  [[gnu::always_inline]] void Advance(InputSide& side);
  [[gnu::always_inline]] void NoteRepeatedKey(InputSide& side);
  [[gnu::always_inline]] [[nodiscard]] bool AdvanceBoth(PairVerdict verdict);
  // `after_unequal`: after a pair that is not equal.
  [[nodiscard]] bool AdvanceOverSameBytes(bool after_unequal);
  [[nodiscard]] bool AdvanceOverSameRecords();
  PairVerdict Pair();
  // Pair() for decoded records.
  PairVerdict PairTexts();
  // An equal pair; `write_line` false: its line goes to the result files later
  // (AdvanceOverSameBytes).
  void PairEqual(PairVerdict verdict, bool write_line = true);
  void Unmatched(InputSide& side);
  void Lone(InputSide& side);
  bool Check();
  // A read given up because the run was interrupted: the run stops.
  bool Interrupted(const InputSide& input) {
    if (!input.read_failed || input.status().error_number() != EINTR) return false;
    stop_ = true;
    return true;
  }
  void ReportProgress();
  void NoteLineEnds(InputSide& side);
  Status CloseAll();
  // Fails naming the first input that is not the file it was when it was opened.
  Status CheckInputsUnchanged();

  InputSide& side(Side s) { return sides_[Index(s)]; }

  const ComparisonJob& job_;
  RunObserver& observer_;
  const RunExtensions& extensions_;
  // Before the sides: their readers stop before it goes.
  std::optional<OrderedLineMarks> line_marks_;
  std::array<InputSide, 2> sides_;
  // The readers of inputs in a framing of their own, while they are read.
  std::array<std::unique_ptr<FramedSource>, 2> framed_;
  PerKind<OutputFile> outputs_;
  PairDiff diff_;  // of the pair at hand, when it is not equal
  ResultFileSink files_;
  OutputSet output_set_;
  std::optional<ResultListSink> list_;
  std::vector<RecordSink*> sinks_;           // after the result files, in order
  std::vector<RecordSink*> equal_sinks_;     // those of them that want equal pairs
  std::vector<RecordSink*> expected_sinks_;  // and those that want expected pairs
  PerKind<std::int64_t> found_;
  std::array<InputSummary, 2> inputs_;
  std::array<bool, 2> previous_repeated_{};
  std::array<FileId, 2> input_ids_;
  std::array<UniqueFd, 2> input_locks_;
  std::array<std::optional<FileStamp>, 2> input_stamps_;  // regular files read as they are
  std::array<bool, 2> changed_{};
  const bool text_mode_;    // records are decoded: keys and comparisons are of texts
  const bool same_coding_;  // both of one code page: equal bytes are equal texts
  // Both fixed-length records of this length, of one code page, read from their files: the
  // same-records path. 0: none.
  std::size_t same_records_ = 0;
  bool set_up_ = false;
  std::int64_t expected_ = 0;
  std::int64_t same_text_other_bytes_ = 0;
  bool out_of_order_ = false;
  bool stop_ = false;
  Status error_;
  std::uint32_t until_check_ = kRecordsPerCheck;
  // After a pair that is not equal, the same bytes are looked for while they are found there:
  // where they are not, the next this many such pairs go on without looking (where every pair
  // differs, looking costs as much as comparing them).
  static constexpr std::uint32_t kUnequalPairsNotLookedAfter = 15;
  std::uint32_t skip_same_bytes_ = 0;
  std::chrono::steady_clock::time_point next_progress_;
};

[[gnu::always_inline]] inline void Run::Advance(InputSide& input) {
  ReadRecord(input, out_of_order_);
  NoteRepeatedKey(input);
}

[[gnu::always_inline]] inline void Run::NoteRepeatedKey(InputSide& input) {
  if (!input.has_record || !input.repeated_key) {
    previous_repeated_[Index(input.side())] = false;
    return;
  }
  InputSummary& summary = inputs_[Index(input.side())];
  ++summary.repeated_records;
  if (!previous_repeated_[Index(input.side())]) ++summary.repeated_keys;
  previous_repeated_[Index(input.side())] = true;
  for (RecordSink* sink : sinks_) sink->OnRepeatedKey(input.record());
}

inline void Run::PairEqual(PairVerdict verdict, bool write_line) {
  const Record& src = side(Side::kSource).record();
  const Record& dst = side(Side::kDestination).record();
  if (write_line) files_.OnPair(src, dst, verdict);
  ++found_[OutputKind::kMatching];
  if (verdict == PairVerdict::kExpected) {
    ++expected_;
    for (RecordSink* sink : expected_sinks_) sink->OnPair(src, dst, verdict, &diff_);
  } else {
    for (RecordSink* sink : equal_sinks_) sink->OnPair(src, dst, verdict, nullptr);
  }
}

}  // namespace vesmer::detail
