#include "core/comparison_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "core/messages.h"
#include "core/result_list.h"
#include "core/utf8_input.h"
#include "output_set.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/sys.h"
#include "platform/temp_file.h"
#include "platform/unique_fd.h"
#include "run.h"

namespace vesmer::detail {
namespace {

constexpr std::size_t kLineEndCheckBytes = 1 << 20;

// Whether the first MiB of the file at `path` holds an LF but no CR (a file with LF line ends).
bool StartsWithLfLineEnds(const std::string& path) {
  UniqueFd fd(sys::Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (!fd.valid()) return false;
  struct stat st;
  if (sys::Calls().fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string head(kLineEndCheckBytes, '\0');
  const ssize_t got = sys::Calls().pread(fd.get(), head.data(), head.size(), 0);
  if (got <= 0) return false;
  head.resize(static_cast<std::size_t>(got));
  return head.find('\n') != std::string::npos && head.find('\r') == std::string::npos;
}

}  // namespace

Status Run::CheckOwnFiles() {
  // An output that is a file the run reads would be destroyed by creating it, and two outputs
  // that are one file would each end up with what the other wrote: refuse before any file is
  // touched. The conversion of a UTF-8 input writes its converted text and keeps the original.
  std::vector<NamedFile> reads;
  for (const Side s : kSides) {
    const std::string side = s == Side::kSource ? "比較元" : "比較先";
    reads.push_back({job_.Input(s), side});
    if (job_.Utf8[Index(s)]) {
      const Utf8InputNames names = MakeUtf8InputNames(job_.Input(s));
      reads.push_back({names.backup, side + "の UTF-8 の元ファイル"});
      reads.push_back({names.converted, side + "の変換中のファイル"});
    }
  }
  for (const NamedFile& read : extensions_.reads) reads.push_back(read);
  return output_set_.CheckAgainst(reads, extensions_.later_outputs);
}

Status Run::OpenInput(Side s) {
  InputSide& input = side(s);
  input.lines_read = 0;
  input.file().SetInterrupt(extensions_.interrupt);
  if (extensions_.sort != nullptr) {
    // A pipe or a FIFO gives its bytes once: only the sort may open it. A reader opened here
    // would take bytes from it that the sort never sees, and its writer could find no reader
    // between the two opens. (A file is opened here as any input is, to refuse the run early.)
    const std::string& path = job_.Input(s);
    struct stat st;
    if (sys::Calls().stat(path.c_str(), &st) != 0) return Status::Error(errno, "open", path);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      input_ids_[Index(s)] = {st.st_dev, st.st_ino, true};
      return {};
    }
  }
  // A sorted input is read (and its bytes seen) by its sort.
  ChunkObserver* observer =
      extensions_.sort != nullptr ? nullptr : extensions_.input_observers[Index(s)];
  Status status;
  if (const RecordFraming* framing = extensions_.framings[Index(s)]) {
    std::unique_ptr<FramedSource>& source = framed_[Index(s)];
    status = WithPath(framing->Open(job_.Input(s), observer, extensions_.interrupt, source),
                      job_.Input(s));
    if (!status.ok()) return status;
    input_ids_[Index(s)] = source->id();
    input.ReadFrom(*source);
  } else {
    // The source's lines are looked at ahead for the same-bytes path (which takes the
    // destination's from the source's).
    ChunkInspector* inspector = nullptr;
    if (kFastPaths && s == Side::kSource && !text_mode_ && extensions_.sort == nullptr) {
      if (!line_marks_) line_marks_.emplace(job_);
      inspector = &*line_marks_;
    }
    status = WithPath(input.file().Open(job_.Input(s), observer, inspector), job_.Input(s));
    input_ids_[Index(s)] = input.file().id();
  }
  if (status.ok()) status = LockInput(s);
  return status;
}

void Run::CloseInputs() {
  for (InputSide& input : sides_) input.file().Close();
  for (std::unique_ptr<FramedSource>& source : framed_) {
    if (source != nullptr) source->Close();
  }
}

Status Run::LockInput(Side s) {
  // A shared lock on the input while the run reads it: another run cannot take it as a result
  // file (it needs the lock alone) and truncate it under this one; and an input that another
  // run is writing as its result is refused. Taken on a descriptor of its own, checked to be
  // the file the reader opened.
  const std::string& path = job_.Input(s);
  UniqueFd fd(sys::Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  struct stat st;
  if (!fd.valid() || sys::Calls().fstat(fd.get(), &st) != 0)
    return Status::Error(errno, "open", path);
  if (!S_ISREG(st.st_mode)) return {};  // a pipe is nobody's result file
  if (!(FileId{st.st_dev, st.st_ino, true} == input_ids_[Index(s)])) {
    return Status::Error(ESTALE, "open", path);  // replaced between the two opens
  }
  if (sys::Calls().flock(fd.get(), LOCK_SH | LOCK_NB) != 0)
    return Status::Error(errno, "lock", path);
  input_locks_[Index(s)] = std::move(fd);
  input_stamps_[Index(s)] = StampOf(st);
  return {};
}

Status Run::SortInputs() {
  CloseInputs();
  std::array<LineSource*, 2> sources{};
  const Status sorted = extensions_.sort->Arrange(
      job_, extensions_.interrupt, extensions_.input_observers, extensions_.framings,
      extensions_.codings, observer_, sources, input_ids_);
  if (sorted.error_number() == EINTR) {
    stop_ = true;  // a stop request: not a failure
    return {};
  }
  if (!sorted.ok()) return sorted;
  for (const Side s : kSides) side(s).ReadFrom(*sources[Index(s)]);
  return {};
}

Status Run::SetUp() {
  if (Status s = CheckOwnFiles(); !s.ok()) return s;
  std::vector<FileId> protect;
  for (const Side s : kSides) {
    protect.push_back(IdOfPath(job_.Input(s)));
    if (job_.Utf8[Index(s)]) {
      const Utf8InputNames names = MakeUtf8InputNames(job_.Input(s));
      protect.push_back(IdOfPath(names.backup));
      protect.push_back(IdOfPath(names.converted));
    }
  }
  // Inputs that need no conversion open first: a missing one refuses the run untouched.
  for (const Side s : kSides) {
    if (!job_.Utf8[Index(s)]) {
      if (Status st = OpenInput(s); !st.ok()) return st;
    }
  }
  // Locked without being emptied, so that a run refused now (a file in use by another run, a
  // conversion that fails) leaves every file as it was.
  if (Status s = output_set_.Lock(); !s.ok()) {
    output_set_.Abandon();
    return s;
  }
  // The conversion must not write through a result file either.
  for (const FileId& id : output_set_.ids()) protect.push_back(id);
  for (const Side s : kSides) {
    if (!job_.Utf8[Index(s)]) continue;
    Status st = ConvertUtf8Input(job_.Input(s), protect, extensions_.original_observers[Index(s)]);
    if (st.ok()) st = OpenInput(s);
    if (!st.ok()) {
      output_set_.Abandon();
      return st;
    }
  }
  if (extensions_.sort != nullptr) {
    if (Status s = SortInputs(); !s.ok()) {
      output_set_.Abandon();
      return s;
    }
    if (stop_) {
      output_set_.Abandon();
      return {};
    }
  }
  // Records in a framing of their own are read through once first (a sort did so already): a
  // malformed one refuses the run before any result file is emptied. A pipe gives its bytes
  // once and is only read by the run.
  for (const Side s : kSides) {
    const RecordFraming* framing = extensions_.framings[Index(s)];
    if (framing == nullptr || extensions_.sort != nullptr || !input_stamps_[Index(s)]) continue;
    Status checked = WithPath(framing->Check(job_.Input(s), extensions_.interrupt), job_.Input(s));
    if (checked.error_number() == EINTR) stop_ = true;  // a stop request: not a failure
    if (!checked.ok()) {
      output_set_.Abandon();
      return stop_ ? Status() : checked;
    }
  }
  if (Status s = output_set_.Empty({input_ids_[0], input_ids_[1]}); !s.ok()) {
    output_set_.Abandon();
    return s;
  }
  if (job_.OutputSelected[OutputKind::kResultList]) {
    list_.emplace(job_, outputs_[OutputKind::kResultList], observer_);
    sinks_.push_back(&*list_);
  }
  for (RecordSink* sink : extensions_.sinks) sinks_.push_back(sink);
  for (RecordSink* sink : sinks_) {
    if (sink->WantsEqualPairs()) equal_sinks_.push_back(sink);
    if (sink->WantsExpectedPairs()) expected_sinks_.push_back(sink);
  }
  if (text_mode_) {
    for (const Side s : kSides) side(s).DecodeWith(extensions_.codings[Index(s)]->NewDecoder());
    // Of one code page, the same bytes are the same text: a destination record that is its
    // source's is not worked out again.
    if (same_coding_) side(Side::kDestination).TwinOf(&side(Side::kSource));
    for (const Side s : kSides) side(s).DecodeLazily(same_coding_);
    const std::size_t length = framed_[0] != nullptr ? framed_[0]->fixed_length() : 0;
    if (same_coding_ && extensions_.sort == nullptr && length != 0 && framed_[1] != nullptr &&
        framed_[1]->fixed_length() == length) {
      same_records_ = length;
      const bool whole = extensions_.codings[0]->CleanAsWholeRecord();
      // The same-records path looks at each record it takes for bytes that are no character:
      // the read-ahead threads do so instead, off this thread, each for every other chunk (the
      // two sides' chunks hold the same records where the files are alike, and a destination
      // record known clean tells of the same bytes on the source's side).
      if (whole) framed_[0]->MarkCleanRecords(2, 0);
      if (whole) framed_[1]->MarkCleanRecords(2, 1);
    }
  }
  for (InputSide& input : sides_) {
    input.ClearKeys();
    Advance(input);
    if (Interrupted(input)) break;
    if (input.read_failed) return WithPath(input.status(), job_.Input(input.side()));
    NoteLineEnds(input);
  }
  set_up_ = true;
  return {};
}

void Run::NoteLineEnds(InputSide& input) {
  // Records of another framing: their line ends are theirs to judge.
  if (extensions_.framings[Index(input.side())] != nullptr) return;
  if (!input.reads_file()) {
    // Sorted: the first record is not the first line; look at the start of the file itself.
    inputs_[Index(input.side())].lf_line_ends = StartsWithLfLineEnds(job_.Input(input.side()));
    return;
  }
  if (!input.has_record) return;
  // A file with LF line ends reads as one long line: its first line holds an LF, and no CR
  // ends it within the first MiB.
  const std::string_view head = input.record().raw().substr(0, kLineEndCheckBytes);
  const bool ended = input.consumed() > input.record().raw().size();
  inputs_[Index(input.side())].lf_line_ends =
      head.find('\n') != std::string_view::npos &&
      (input.record().raw().size() >= kLineEndCheckBytes || !ended);
}

// Both sides' next records after a pair. False when Check() ends the run.
[[gnu::always_inline]] inline bool Run::AdvanceBoth(PairVerdict verdict) {
  if (kFastPaths && !text_mode_) {
    if (verdict == PairVerdict::kEqual) return AdvanceOverSameBytes(false);
    if (skip_same_bytes_ == 0) return AdvanceOverSameBytes(true);
    --skip_same_bytes_;
  }
  if (kFastPaths && verdict == PairVerdict::kEqual && same_records_ != 0) {
    return AdvanceOverSameRecords();
  }
  Advance(side(Side::kSource));
  Advance(side(Side::kDestination));
  return true;
}

PairVerdict Run::Pair() {
  Record& src = side(Side::kSource).record();
  Record& dst = side(Side::kDestination).record();
  if (text_mode_) return PairTexts();
  const TextMatch match = MatchComparisonTexts(src, dst);
  if (match == TextMatch::kSameLines) {
    PairEqual(PairVerdict::kEqual);
    return PairVerdict::kEqual;
  }
  // Lines that are not the same bytes: their comparison bytes are looked at when their texts are
  // equal (such pairs are counted), or when bytes decide.
  const bool texts_equal = match == TextMatch::kEqual;
  if (texts_equal || job_.CompareBytes) {
    const bool bytes_equal = RawComparisonBytesEqual(src, dst);
    if (texts_equal && !bytes_equal) ++same_text_other_bytes_;
    if (job_.CompareBytes ? bytes_equal : texts_equal) {
      PairEqual(PairVerdict::kEqual);
      return PairVerdict::kEqual;
    }
  }
  diff_.Reset(&src, &dst, src.line_number());
  // The rules accept differences of text; equal texts leave them nothing to accept.
  if (!texts_equal && extensions_.judge != nullptr && extensions_.judge->Accepts(diff_)) {
    PairEqual(PairVerdict::kExpected);
    return PairVerdict::kExpected;
  }
  files_.OnPair(src, dst, PairVerdict::kDiffers);
  ++found_[OutputKind::kSourceDiffers];
  ++found_[OutputKind::kDestinationDiffers];
  ++found_[OutputKind::kResultList];
  for (RecordSink* sink : sinks_) sink->OnPair(src, dst, PairVerdict::kDiffers, &diff_);
  return PairVerdict::kDiffers;
}

PairVerdict Run::PairTexts() {
  Record& src = side(Side::kSource).record();
  Record& dst = side(Side::kDestination).record();
  // Equal bytes of one code page are one text; of two, only their texts can say.
  const bool same_bytes = same_coding_ && src.raw() == dst.raw();
  if (same_bytes || MatchComparisonTexts(src, dst) == TextMatch::kEqual) {
    // Of one code page, other bytes of the same text (shifts with nothing between them, bytes
    // that are no character escaped alike) are counted, as for code page 932 lines; a pair that
    // differs in what is left out of the comparison alone is no such pair.
    if (same_coding_ && !same_bytes &&
        (!job_.UseOmit || (src.Text().text == dst.Text().text &&
                           std::ranges::equal(src.Text().offsets, dst.Text().offsets)))) {
      ++same_text_other_bytes_;
    }
    PairEqual(PairVerdict::kEqual);
    return PairVerdict::kEqual;
  }
  diff_.Reset(&src, &dst, src.line_number());
  if (extensions_.judge != nullptr && extensions_.judge->Accepts(diff_)) {
    PairEqual(PairVerdict::kExpected);
    return PairVerdict::kExpected;
  }
  files_.OnPair(src, dst, PairVerdict::kDiffers);
  ++found_[OutputKind::kSourceDiffers];
  ++found_[OutputKind::kDestinationDiffers];
  ++found_[OutputKind::kResultList];
  for (RecordSink* sink : sinks_) sink->OnPair(src, dst, PairVerdict::kDiffers, &diff_);
  return PairVerdict::kDiffers;
}

void Run::Unmatched(InputSide& input) {
  ++found_[UnmatchedKind(input.side())];
  files_.OnUnmatched(input.record());
  for (RecordSink* sink : sinks_) sink->OnUnmatched(input.record());
}

void Run::Lone(InputSide& input) {
  ++found_[DiffersKind(input.side())];
  ++found_[OutputKind::kResultList];
  const Record& record = input.record();
  files_.OnLoneLine(record);
  const bool source = input.side() == Side::kSource;
  diff_.Reset(source ? &record : nullptr, source ? nullptr : &record, record.line_number());
  for (RecordSink* sink : sinks_) sink->OnLoneLine(record, diff_);
}

void Run::ReportProgress() {
  RunProgress progress;
  for (const InputSide& input : sides_) {
    const std::size_t i = Index(input.side());
    progress.bytes_read[i] = input.consumed();
    progress.bytes_total[i] = input.size();
    progress.records_read[i] = input.lines_read;
  }
  observer_.OnProgress(progress);
}

// Every few thousand records: a failed write ends the run now rather than after the whole
// input has been read; a stop request ends it; progress is reported now and then.
bool Run::Check() {
  until_check_ = kRecordsPerCheck;
  if (Status s = output_set_.FirstFailure(); !s.ok()) {
    error_ = s;
    return false;
  }
  if (observer_.StopRequested() ||
      (extensions_.interrupt != nullptr && extensions_.interrupt->load())) {
    stop_ = true;
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now >= next_progress_) {
    next_progress_ = now + kProgressInterval;
    ReportProgress();
  }
  return true;
}

Status Run::MatchAll() {
  InputSide& src = side(Side::kSource);
  InputSide& dst = side(Side::kDestination);
  while (src.has_record || dst.has_record) {
    if (out_of_order_ || stop_) return {};
    if (--until_check_ == 0 && !Check()) return error_;
    if (job_.UseKey && src.has_record && dst.has_record) {
      const int order = Compare(src.record().key_text(), dst.record().key_text());
      if (order > 0) {
        Unmatched(dst);
        Advance(dst);
      } else if (order < 0) {
        Unmatched(src);
        Advance(src);
      } else if (!AdvanceBoth(Pair())) {
        return error_;
      }
    } else if (job_.UseKey) {
      InputSide& input = src.has_record ? src : dst;
      Unmatched(input);
      Advance(input);
    } else if (src.has_record && dst.has_record) {
      if (!AdvanceBoth(Pair())) return error_;
    } else {
      // Line mode past the end of one file: the other's lines have no partner.
      InputSide& input = src.has_record ? src : dst;
      Lone(input);
      Advance(input);
    }
    if (list_ && list_->stop_requested()) stop_ = true;
    for (InputSide* input : {&src, &dst}) {
      if (Interrupted(*input)) return {};
      if (input->read_failed) return WithPath(input->status(), job_.Input(input->side()));
    }
  }
  return {};
}

Status Run::CloseAll() {
  CloseInputs();
  Status first;
  for (RecordSink* sink : sinks_) {
    if (Status s = sink->Finish(); !s.ok() && first.ok()) first = s;
  }
  if (Status s = output_set_.Close(); !s.ok() && first.ok()) first = s;
  return first;
}

Status Run::CheckInputsUnchanged() {
  for (const Side s : kSides) {
    const std::size_t i = Index(s);
    if (!input_stamps_[i]) continue;
    // The descriptor read from must still be the file at the path (not renamed over), and
    // neither of them written, truncated or stamped since the run opened it.
    struct stat held, named;
    const bool same = sys::Calls().fstat(input_locks_[i].get(), &held) == 0 &&
                      sys::Calls().stat(job_.Input(s).c_str(), &named) == 0 &&
                      StampOf(held) == *input_stamps_[i] && StampOf(named) == *input_stamps_[i];
    if (!same) {
      changed_[i] = true;
      return Status::Error(ESTALE, "changed", job_.Input(s));
    }
  }
  return {};
}

RunSummary Run::Execute() {
  RunSummary summary;
  next_progress_ = std::chrono::steady_clock::now() + kProgressInterval;
  try {
    if (Status s = SetUp(); !s.ok()) {
      summary.outcome = RunOutcome::kSetupFailed;
      summary.error = s;
    } else if (stop_) {
      summary.outcome = RunOutcome::kStopped;
    } else if (Status m = MatchAll(); !m.ok()) {
      summary.outcome = RunOutcome::kIoFailed;
      summary.error = m;
    } else if (Status c = stop_ ? Status() : CheckInputsUnchanged(); !c.ok()) {
      // Whatever the comparison found, it was of bytes that are neither file.
      summary.outcome = RunOutcome::kIoFailed;
      summary.error = c;
    } else if (out_of_order_) {
      summary.outcome = RunOutcome::kOutOfOrder;
    } else if (stop_) {
      summary.outcome = RunOutcome::kStopped;
    } else {
      summary.outcome = RunOutcome::kNoDifferences;  // settled below, from what was found
    }
  } catch (const std::bad_alloc&) {
    summary.outcome = set_up_ ? RunOutcome::kIoFailed : RunOutcome::kSetupFailed;
    summary.error = Status::Error(ENOMEM, "allocate memory");
  }
  // Flushed and closed before the run claims anything: a full disk must not end as completed.
  if (Status closed = CloseAll(); !closed.ok()) {
    if (summary.error.ok()) summary.error = closed;
    if (summary.outcome == RunOutcome::kNoDifferences) summary.outcome = RunOutcome::kIoFailed;
  }

  for (const Side s : kSides) {
    const InputSide& input = side(s);
    InputSummary& in = summary.inputs[Index(s)];
    in = inputs_[Index(s)];
    in.path = job_.Input(s);
    in.lines = input.lines_read;
    in.bytes = input.consumed();
    if (const RecordFraming* framing = extensions_.framings[Index(s)]) in.format = framing->Text();
    in.undecodable_records = input.undecodable_records;
    in.short_records = input.short_records;
    // A sorted input finds out for itself, and fails its run so.
    in.changed = changed_[Index(s)] ||
                 (summary.error.error_number() == ESTALE &&
                  summary.error.operation() == "changed" && summary.error.path() == in.path);
  }
  for (const OutputKind kind : kAllOutputKinds) {
    OutputSummary& out = summary.outputs[kind];
    out.path = job_.Result(kind);
    out.selected = job_.OutputSelected[kind];
    out.created = output_set_.created(kind);
    out.complete = out.selected && outputs_[kind].status().ok();
    out.found = found_[kind];
    // Only what reached the file counts: after a failed write, the records still buffered or
    // written in part are lost.
    out.written = kind == OutputKind::kResultList ? (list_ ? list_->entries_reached() : 0)
                                                  : files_.reached(kind);
  }
  for (std::size_t i = 0; i < extensions_.outputs.size(); ++i) {
    OutputSummary out;
    out.path = extensions_.outputs[i].path;
    out.selected = true;
    out.created = output_set_.extra_created(i);
    out.complete = out.created && extensions_.outputs[i].file->status().ok();
    summary.extra_outputs.push_back(out);
  }
  summary.expected_pairs = expected_;
  summary.same_text_other_bytes = same_text_other_bytes_;
  if (summary.outcome == RunOutcome::kNoDifferences && summary.DifferencesFound()) {
    summary.outcome = RunOutcome::kDifferences;
  }
  return summary;
}

}  // namespace vesmer::detail

namespace vesmer {

bool RunSummary::DifferencesFound() const {
  for (const OutputKind kind : kAllOutputKinds) {
    if (IsDifference(kind) && outputs[kind].found != 0) return true;
  }
  return false;
}

bool RunSummary::DifferencesWritten() const {
  for (const OutputKind kind : kAllOutputKinds) {
    if (IsDifference(kind) && outputs[kind].written != 0) return true;
  }
  return false;
}

std::string_view StatusText(const RunSummary& summary) {
  switch (summary.outcome) {
    case RunOutcome::kNoDifferences:
    case RunOutcome::kDifferences:
      return summary.DifferencesWritten() ? messages::kCompleted
                                          : messages::kCompletedNoDifferences;
    case RunOutcome::kOutOfOrder:
      return messages::kOutOfOrder;
    case RunOutcome::kSetupFailed:
    case RunOutcome::kIoFailed:
      if (summary.error.error_number() == ENOMEM) return messages::kOutOfMemory;
      if (summary.error.error_number() == ESTALE && summary.error.operation() == "changed") {
        return messages::kInputChanged;
      }
      // The sort's own files: the user's files are fine, the temporary folder is not.
      if (IsTemporaryFolderFailure(summary.error)) return messages::kTempFolderFailed;
      return summary.outcome == RunOutcome::kSetupFailed ? messages::kCannotOpen
                                                         : messages::kReadWriteFailed;
    case RunOutcome::kStopped:
      break;
  }
  return "";
}

RunSummary RunComparison(const ComparisonJob& job, RunObserver& observer,
                         const RunExtensions& extensions) {
  try {
    return detail::Run(job, observer, extensions).Execute();
  } catch (const std::bad_alloc&) {
    RunSummary summary;
    summary.outcome = RunOutcome::kSetupFailed;
    summary.error = Status::Error(ENOMEM, "allocate memory");
    return summary;
  }
}

}  // namespace vesmer
