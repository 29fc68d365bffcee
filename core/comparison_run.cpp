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
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/temp_file.h"
#include "platform/unique_fd.h"

namespace vesmer {
namespace {

constexpr std::uint32_t kRecordsPerCheck = 4096;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr std::size_t kLineEndCheckBytes = 1 << 20;

// Result files of kinds 0 to 4: each record's line as read, ended by CR LF.
class ResultFileSink final : public RecordSink {
 public:
  ResultFileSink(const ComparisonJob& job, PerKind<OutputFile>& files) : job_(job), files_(files) {}

  void OnUnmatched(const Record& record) override { Put(UnmatchedKind(record.side()), record); }
  void OnPair(const Record& source, const Record& destination, PairVerdict verdict) override {
    if (verdict == PairVerdict::kDiffers) {
      Put(OutputKind::kSourceDiffers, source);
      Put(OutputKind::kDestinationDiffers, destination);
    } else {
      Put(OutputKind::kMatching, source);
    }
  }
  void OnLoneLine(const Record& record) override { Put(DiffersKind(record.side()), record); }
  [[nodiscard]] bool WantsEqualPairs() const override { return true; }
  // The lines of `count` equal pairs, each ended with CR LF as the file writes them.
  void PutMatching(std::string_view lines, std::int64_t count) {
    if (!job_.OutputSelected[OutputKind::kMatching]) return;
    files_[OutputKind::kMatching].Append(lines);
    written_[OutputKind::kMatching] += count;
  }

  [[nodiscard]] std::int64_t written(OutputKind kind) const { return written_[kind]; }

 private:
  void Put(OutputKind kind, const Record& record) {
    if (!job_.OutputSelected[kind]) return;
    files_[kind].AppendLine(record.raw());
    ++written_[kind];
  }

  const ComparisonJob& job_;
  PerKind<OutputFile>& files_;
  PerKind<std::int64_t> written_;
};

// Whether the first MiB of the file at `path` holds an LF but no CR (a file with LF line ends).
bool StartsWithLfLineEnds(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return false;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string head(kLineEndCheckBytes, '\0');
  const ssize_t got = ::pread(fd.get(), head.data(), head.size(), 0);
  if (got <= 0) return false;
  head.resize(static_cast<std::size_t>(got));
  return head.find('\n') != std::string::npos && head.find('\r') == std::string::npos;
}

// How much of the first `same` bytes of `bytes` is whole lines whose line ends are known from
// those bytes alone: up to the line end of the last CR that is followed by one of them (that
// byte decides whether an LF belongs to the line end).
std::size_t WholeLinesIn(std::string_view bytes, std::size_t same) {
  if (same < 2) return 0;
  const void* cr = ::memrchr(bytes.data(), '\r', same - 1);
  if (cr == nullptr) return 0;
  const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - bytes.data());
  return at + (bytes[at + 1] == '\n' ? 2 : 1);
}

// The CRs of some bytes in order, found 64 bytes at a time: lines one after another without
// a chain of loads from one line end to the next.
class CrFinder {
 public:
  explicit CrFinder(std::string_view bytes) : bytes_(bytes) {}
  // The position of the next CR; the size of the bytes when there is none.
  [[gnu::always_inline]] std::size_t Next() {
    while (mask_ == 0) {
      if (block_ >= bytes_.size()) return bytes_.size();
      mask_ = Mask(block_);
      block_ += 64;
    }
    const auto at = block_ - 64 + static_cast<std::size_t>(__builtin_ctzll(mask_));
    mask_ &= mask_ - 1;
    return at;
  }

 private:
  // Bit i: a CR at `from` + i.
  [[nodiscard]] std::uint64_t Mask(std::size_t from) const {
    const char* p = bytes_.data() + from;
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    if (bytes_.size() - from >= 64) {
      const __m128i cr = _mm_set1_epi8('\r');
      for (int i = 0; i < 4; ++i) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        mask |=
            std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)))}
            << (16 * i);
      }
      return mask;
    }
#endif
    const std::size_t n = std::min<std::size_t>(64, bytes_.size() - from);
    for (std::size_t i = 0; i < n; ++i) mask |= std::uint64_t{p[i] == '\r'} << i;
    return mask;
  }

  std::string_view bytes_;
  std::size_t block_ = 0;  // where the next 64 bytes to look at begin
  std::uint64_t mask_ = 0;
};

// A failure keeps the file it concerned.
Status WithPath(Status status, const std::string& path) {
  if (status.ok() || !status.path().empty()) return status;
  return Status::Error(status.error_number(), status.operation(), path);
}

class Run {
 public:
  Run(const ComparisonJob& job, RunObserver& observer, const RunExtensions& extensions)
      : job_(job),
        observer_(observer),
        extensions_(extensions),
        sides_{InputSide(Side::kSource, job), InputSide(Side::kDestination, job)},
        files_(job, outputs_) {}

  RunSummary Execute();

 private:
  Status SetUp();
  Status CheckOwnFiles();
  Status OpenInput(Side side);
  Status LockInput(Side side);
  Status SortInputs();
  struct Output {
    const std::string& path;
    OutputFile* file;
  };
  std::vector<Output> AllOutputs();
  Status LockOutputs();
  void AbandonOutputs();
  Status TruncateOutputs(const std::vector<FileId>& inputs);
  Status MatchAll();
  [[gnu::always_inline]] void Advance(InputSide& side);
  [[gnu::always_inline]] void NoteRepeatedKey(InputSide& side);
  [[gnu::always_inline]] [[nodiscard]] bool AdvanceBoth(PairVerdict verdict);
  [[nodiscard]] bool AdvanceOverSameBytes();
  PairVerdict Pair();
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
  std::array<InputSide, 2> sides_;
  PerKind<OutputFile> outputs_;
  ResultFileSink files_;
  std::optional<ResultListSink> list_;
  std::vector<RecordSink*> sinks_;           // after the result files, in order
  std::vector<RecordSink*> equal_sinks_;     // those of them that want equal pairs
  std::vector<RecordSink*> expected_sinks_;  // and those that want expected pairs
  PerKind<std::int64_t> found_;
  std::array<InputSummary, 2> inputs_;
  std::array<bool, 2> previous_repeated_{};
  PerKind<bool> created_;
  std::array<FileId, 2> input_ids_;
  std::array<UniqueFd, 2> input_locks_;
  std::array<std::optional<FileStamp>, 2> input_stamps_;  // regular files read as they are
  std::array<bool, 2> changed_{};
  std::vector<bool> extras_created_;
  bool set_up_ = false;
  std::int64_t expected_ = 0;
  std::int64_t same_text_other_bytes_ = 0;
  bool out_of_order_ = false;
  bool stop_ = false;
  Status error_;
  std::uint32_t until_check_ = kRecordsPerCheck;
  std::chrono::steady_clock::time_point next_progress_;
};

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
  std::vector<NamedFile> writes;
  for (const OutputKind kind : kAllOutputKinds) {
    if (job_.OutputSelected[kind]) {
      writes.push_back({job_.Result(kind), "結果ファイル " + std::to_string(Index(kind))});
    }
  }
  for (const ExtraOutput& extra : extensions_.outputs) writes.push_back({extra.path, extra.role});
  for (const NamedFile& later : extensions_.later_outputs) writes.push_back(later);
  return vesmer::CheckOwnFiles(reads, writes);
}

Status Run::OpenInput(Side s) {
  InputSide& input = side(s);
  input.lines_read = 0;
  input.reader.SetInterrupt(extensions_.interrupt);
  if (extensions_.sort != nullptr) {
    // A pipe or a FIFO gives its bytes once: only the sort may open it. A reader opened here
    // would take bytes from it that the sort never sees, and its writer could find no reader
    // between the two opens. (A file is opened here as any input is, to refuse the run early.)
    const std::string& path = job_.Input(s);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Status::Error(errno, "open", path);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      input_ids_[Index(s)] = {st.st_dev, st.st_ino, true};
      return {};
    }
  }
  // A sorted input is read (and its bytes seen) by its sort.
  ChunkObserver* observer =
      extensions_.sort != nullptr ? nullptr : extensions_.input_observers[Index(s)];
  Status status = WithPath(input.reader.Open(job_.Input(s), observer), job_.Input(s));
  input_ids_[Index(s)] = input.reader.id();
  if (status.ok()) status = LockInput(s);
  return status;
}

Status Run::LockInput(Side s) {
  // A shared lock on the input while the run reads it: another run cannot take it as a result
  // file (it needs the lock alone) and truncate it under this one; and an input that another
  // run is writing as its result is refused. Taken on a descriptor of its own, checked to be
  // the file the reader opened.
  const std::string& path = job_.Input(s);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Status::Error(errno, "open", path);
  if (!S_ISREG(st.st_mode)) return {};  // a pipe is nobody's result file
  if (!(FileId{st.st_dev, st.st_ino, true} == input_ids_[Index(s)])) {
    return Status::Error(ESTALE, "open", path);  // replaced between the two opens
  }
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return Status::Error(errno, "lock", path);
  input_locks_[Index(s)] = std::move(fd);
  input_stamps_[Index(s)] = StampOf(st);
  return {};
}

Status Run::SortInputs() {
  for (InputSide& input : sides_) input.reader.Close();
  std::array<LineSource*, 2> sources{};
  const Status sorted = extensions_.sort->Arrange(
      job_, extensions_.interrupt, extensions_.input_observers, observer_, sources, input_ids_);
  if (sorted.error_number() == EINTR) {
    stop_ = true;  // a stop request: not a failure
    return {};
  }
  if (!sorted.ok()) return sorted;
  for (const Side s : kSides) side(s).source = sources[Index(s)];
  return {};
}

std::vector<Run::Output> Run::AllOutputs() {
  std::vector<Output> all;
  for (const OutputKind kind : kAllOutputKinds) {
    if (job_.OutputSelected[kind]) all.push_back({job_.Result(kind), &outputs_[kind]});
  }
  for (const ExtraOutput& extra : extensions_.outputs) all.push_back({extra.path, extra.file});
  return all;
}

Status Run::LockOutputs() {
  // Locked without truncating, so that a run refused now (a file in use by another run, a
  // conversion that fails) leaves every file as it was; files this run created go again.
  for (const Output& out : AllOutputs()) {
    if (Status s = out.file->OpenLocked(out.path); !s.ok()) return WithPath(s, out.path);
  }
  return {};
}

void Run::AbandonOutputs() {
  for (const Output& out : AllOutputs()) {
    if (out.file->is_open()) out.file->Abandon();
  }
}

Status Run::TruncateOutputs(const std::vector<FileId>& inputs) {
  for (const Output& out : AllOutputs()) {
    // A converted input is a new file; make sure no result file became one.
    for (const FileId& id : inputs) {
      if (out.file->id() == id) return Status::Error(EEXIST, "result file is an input", out.path);
    }
  }
  for (const OutputKind kind : kAllOutputKinds) {
    if (!job_.OutputSelected[kind]) continue;
    if (Status s = outputs_[kind].Truncate(); !s.ok()) return WithPath(s, job_.Result(kind));
    created_[kind] = true;
  }
  for (std::size_t i = 0; i < extensions_.outputs.size(); ++i) {
    const ExtraOutput& extra = extensions_.outputs[i];
    if (Status s = extra.file->Truncate(); !s.ok()) return WithPath(s, extra.path);
    extras_created_[i] = true;
  }
  return {};
}

Status Run::SetUp() {
  extras_created_.assign(extensions_.outputs.size(), false);
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
  if (Status s = LockOutputs(); !s.ok()) {
    AbandonOutputs();
    return s;
  }
  // The conversion must not write through a result file either.
  for (const Output& out : AllOutputs()) protect.push_back(out.file->id());
  for (const Side s : kSides) {
    if (!job_.Utf8[Index(s)]) continue;
    Status st = ConvertUtf8Input(job_.Input(s), protect, extensions_.original_observers[Index(s)]);
    if (st.ok()) st = OpenInput(s);
    if (!st.ok()) {
      AbandonOutputs();
      return st;
    }
  }
  if (extensions_.sort != nullptr) {
    if (Status s = SortInputs(); !s.ok()) {
      AbandonOutputs();
      return s;
    }
    if (stop_) {
      AbandonOutputs();
      return {};
    }
  }
  if (Status s = TruncateOutputs({input_ids_[0], input_ids_[1]}); !s.ok()) {
    AbandonOutputs();
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
  if (input.source != nullptr) {
    // Sorted: the first record is not the first line; look at the start of the file itself.
    inputs_[Index(input.side())].lf_line_ends = StartsWithLfLineEnds(job_.Input(input.side()));
    return;
  }
  if (!input.has_record) return;
  // A file with LF line ends reads as one long line: its first line holds an LF, and no CR
  // ends it within the first MiB.
  const std::string_view head = input.raw().substr(0, kLineEndCheckBytes);
  const bool ended = input.consumed() > input.raw().size();
  inputs_[Index(input.side())].lf_line_ends = head.find('\n') != std::string_view::npos &&
                                              (input.raw().size() >= kLineEndCheckBytes || !ended);
}

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
  for (RecordSink* sink : sinks_) sink->OnRepeatedKey(input);
}

// Both sides' next records after a pair. False when Check() ends the run.
[[gnu::always_inline]] inline bool Run::AdvanceBoth(PairVerdict verdict) {
  if (kFastPaths && verdict == PairVerdict::kEqual) return AdvanceOverSameBytes();
  Advance(side(Side::kSource));
  Advance(side(Side::kDestination));
  return true;
}

// After an equal pair. While both files go on with the same bytes, as most of a migration check
// does, the destination's records are taken from the source's: lines, keys and their order are
// worked out on one side only, the pairs need no comparing, and the matching lines go to their
// result file as one block. Only whole lines within the same bytes of both chunks at hand are
// taken so, so the destination's reader is moved past exactly the lines it would have handed
// out.
bool Run::AdvanceOverSameBytes() {
  InputSide& src = side(Side::kSource);
  InputSide& dst = side(Side::kDestination);
  const bool from_files = src.source == nullptr && dst.source == nullptr;
  const std::string_view a = from_files ? src.reader.Ahead() : std::string_view();
  const std::string_view b = from_files ? dst.reader.Ahead() : std::string_view();
  std::size_t end = 0;
  if (!a.empty() && !b.empty() && src.raw() == dst.raw()) {
    end = WholeLinesIn(a, CommonPrefixLength(a, b));
  }
  std::size_t done = 0;     // bytes of `a` whose lines are read or looked at
  std::size_t paired = 0;   // bytes of `a` whose pairs are made
  std::size_t written = 0;  // bytes of `a` whose matching lines are in their file
  std::int64_t unwritten = 0;
  // Before the source's reader moves on from `a`, or the run stops.
  const auto write_matching = [&] {
    if (unwritten != 0) files_.PutMatching(a.substr(written, paired - written), unwritten);
    written = paired;
    unwritten = 0;
  };
  // The destination reads its records only when something looks at them: sinks where a key
  // repeats or that want every pair, progress, and the end.
  std::size_t taken = 0;  // bytes of `b` the destination has read
  std::int64_t behind = 0;
  const auto catch_up = [&] {
    if (behind == 0) return;
    const auto at = static_cast<std::size_t>(src.raw().data() - a.data());
    ReadSameRecord(dst, src, b.substr(at, src.raw().size()), done - taken, behind);
    // The records passed over repeat no key: a repeat is caught up with at once.
    if (behind > 1) previous_repeated_[Index(Side::kDestination)] = false;
    NoteRepeatedKey(dst);
    taken = done;
    behind = 0;
  };
  // Nor does the source, for lines that end with CR LF and whose short keys (or none, in line
  // mode) go up: those are looked at here, from their bytes alone. Its record is made when a
  // line needs more.
  const bool each_pair = !equal_sinks_.empty();
  const KeyBuilder& keys = src.key_builder();
  const std::size_t key_size = keys.short_key_size();
  std::uint64_t high = 0, low = 0;  // the source's last key
  bool short_key = !job_.UseKey || src.key_text().WordsOfSize(key_size, high, low);
  std::size_t read = 0;  // bytes of `a` the source's reader has been moved past
  std::int64_t looked_at = 0;
  std::string_view last;  // the last of them
  const auto make_source = [&] {
    if (looked_at == 0) return;
    ReadRecordsAhead(src, last, done - read, looked_at);
    NoteRepeatedKey(src);
    read = done;
    looked_at = 0;
  };
  CrFinder crs(a.substr(0, end));
  while (done < end) {
    const std::size_t cr = crs.Next();
    if (cr >= end) break;  // (never: `end` is a line end)
    const std::size_t used = cr + (a[cr + 1] == '\n' ? 2 : 1);
    const std::string_view line = a.substr(done, cr - done);
    const bool crlf = used - cr == 2;
    if (crlf && short_key && !each_pair && until_check_ > 1 &&
        !(list_ && list_->stop_requested())) {
      std::uint64_t h = 0, l = 0;
      if (!job_.UseKey ||
          (keys.ShortKeyWords(line, h, l) && (h > high || (h == high && l > low)))) {
        // An equal pair, in order, with no repeated key: counted, and written with the others.
        high = h;
        low = l;
        last = line;
        ++looked_at;
        ++behind;
        done = used;
        --until_check_;
        ++found_[OutputKind::kMatching];
        paired = used;
        ++unwritten;
        continue;
      }
    }
    make_source();
    ReadRecordAhead(src, line, used - done, out_of_order_);
    NoteRepeatedKey(src);
    done = used;
    read = used;
    ++behind;
    short_key = !job_.UseKey || src.key_text().WordsOfSize(key_size, high, low);
    if (each_pair || src.repeated_key) catch_up();
    // What MatchAll does between two pairs; the keys are equal, the lines the same.
    if (list_ && list_->stop_requested()) stop_ = true;
    if (out_of_order_ || stop_) {
      catch_up();
      write_matching();
      return true;
    }
    if (--until_check_ == 0) {
      catch_up();
      if (!Check()) {
        write_matching();
        return false;
      }
    }
    // A line ended otherwise than with CR LF is written as result files write lines.
    if (!crlf) write_matching();
    PairEqual(PairVerdict::kEqual, !crlf);
    paired = used;
    if (crlf) {
      ++unwritten;
    } else {
      written = paired;
    }
  }
  make_source();
  catch_up();
  write_matching();
  Advance(src);
  Advance(dst);
  return true;
}

PairVerdict Run::Pair() {
  InputSide& src = side(Side::kSource);
  InputSide& dst = side(Side::kDestination);
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
  // The rules accept differences of text; equal texts leave them nothing to accept.
  if (!texts_equal && extensions_.judge != nullptr && extensions_.judge->Accepts(src, dst)) {
    PairEqual(PairVerdict::kExpected);
    return PairVerdict::kExpected;
  }
  files_.OnPair(src, dst, PairVerdict::kDiffers);
  ++found_[OutputKind::kSourceDiffers];
  ++found_[OutputKind::kDestinationDiffers];
  ++found_[OutputKind::kResultList];
  for (RecordSink* sink : sinks_) sink->OnPair(src, dst, PairVerdict::kDiffers);
  return PairVerdict::kDiffers;
}

void Run::PairEqual(PairVerdict verdict, bool write_line) {
  InputSide& src = side(Side::kSource);
  InputSide& dst = side(Side::kDestination);
  if (write_line) files_.OnPair(src, dst, verdict);
  ++found_[OutputKind::kMatching];
  if (verdict == PairVerdict::kExpected) ++expected_;
  const auto& sinks = verdict == PairVerdict::kExpected ? expected_sinks_ : equal_sinks_;
  for (RecordSink* sink : sinks) sink->OnPair(src, dst, verdict);
}

void Run::Unmatched(InputSide& input) {
  ++found_[UnmatchedKind(input.side())];
  files_.OnUnmatched(input);
  for (RecordSink* sink : sinks_) sink->OnUnmatched(input);
}

void Run::Lone(InputSide& input) {
  ++found_[DiffersKind(input.side())];
  ++found_[OutputKind::kResultList];
  files_.OnLoneLine(input);
  for (RecordSink* sink : sinks_) sink->OnLoneLine(input);
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
  for (const OutputKind kind : kAllOutputKinds) {
    if (!outputs_[kind].status().ok()) {
      error_ = WithPath(outputs_[kind].status(), job_.Result(kind));
      return false;
    }
  }
  for (const ExtraOutput& extra : extensions_.outputs) {
    if (!extra.file->status().ok()) {
      error_ = WithPath(extra.file->status(), extra.path);
      return false;
    }
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
      const int order = Compare(src.key_text(), dst.key_text());
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
  for (InputSide& input : sides_) input.reader.Close();
  Status first;
  for (RecordSink* sink : sinks_) {
    if (Status s = sink->Finish(); !s.ok() && first.ok()) first = s;
  }
  for (const OutputKind kind : kAllOutputKinds) {
    if (!outputs_[kind].is_open()) continue;
    if (Status s = outputs_[kind].Close(); !s.ok() && first.ok()) {
      first = WithPath(s, job_.Result(kind));
    }
  }
  for (const ExtraOutput& extra : extensions_.outputs) {
    if (!extra.file->is_open()) continue;
    if (Status s = extra.file->Close(); !s.ok() && first.ok()) first = WithPath(s, extra.path);
  }
  return first;
}

Status Run::CheckInputsUnchanged() {
  for (const Side s : kSides) {
    const std::size_t i = Index(s);
    if (!input_stamps_[i]) continue;
    // The descriptor read from must still be the file at the path (not renamed over), and
    // neither of them written, truncated or stamped since the run opened it.
    struct stat held, named;
    const bool same = ::fstat(input_locks_[i].get(), &held) == 0 &&
                      ::stat(job_.Input(s).c_str(), &named) == 0 &&
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
    // A sorted input finds out for itself, and fails its run so.
    in.changed = changed_[Index(s)] ||
                 (summary.error.error_number() == ESTALE &&
                  summary.error.operation() == "changed" && summary.error.path() == in.path);
  }
  for (const OutputKind kind : kAllOutputKinds) {
    OutputSummary& out = summary.outputs[kind];
    out.path = job_.Result(kind);
    out.selected = job_.OutputSelected[kind];
    out.created = created_[kind];
    out.complete = out.selected && outputs_[kind].status().ok();
    out.found = found_[kind];
    // Only what reached the file counts: after a failed write, the records still buffered or
    // written in part are lost.
    out.written =
        kind == OutputKind::kResultList
            ? (list_ ? list_->entries_reached() : 0)
            : files_.written(kind) - static_cast<std::int64_t>(outputs_[kind].lines_lost());
  }
  for (std::size_t i = 0; i < extensions_.outputs.size(); ++i) {
    OutputSummary out;
    out.path = extensions_.outputs[i].path;
    out.selected = true;
    out.created = extras_created_[i];
    out.complete = extras_created_[i] && extensions_.outputs[i].file->status().ok();
    summary.extra_outputs.push_back(out);
  }
  summary.expected_pairs = expected_;
  summary.same_text_other_bytes = same_text_other_bytes_;
  if (summary.outcome == RunOutcome::kNoDifferences && summary.DifferencesFound()) {
    summary.outcome = RunOutcome::kDifferences;
  }
  return summary;
}

}  // namespace

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
    return Run(job, observer, extensions).Execute();
  } catch (const std::bad_alloc&) {
    RunSummary summary;
    summary.outcome = RunOutcome::kSetupFailed;
    summary.error = Status::Error(ENOMEM, "allocate memory");
    return summary;
  }
}

}  // namespace vesmer
