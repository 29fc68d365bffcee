#include "sort/sorted_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/record_key.h"
#include "platform/sys.h"
#include "platform/temp_file.h"
#include "record_block.h"

namespace vesmer {
namespace {

// What the memory cap is shared out between (see SortOptions::memory_bytes).
constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kSlackBytes = kMiB;  // keys, scratch, the merge tree, thread stacks
constexpr std::size_t kMinBlockBytes = 1024;
// Larger blocks sort slower (their index and records no longer stay in cache) and leave more
// sorting undone when the input ends. (Keeping more sorted blocks in memory instead of writing
// them was measured too: merging from blocks, which are read at random, lost more than the
// writes saved.)
constexpr std::size_t kMaxBlockBytes = 32 * kMiB;
constexpr std::size_t kMaxReadBuffer = 128 * 1024;  // more leaves the bytes read out of cache
constexpr std::size_t kMaxWriteBuffer = kMiB;

constexpr std::uint32_t kRecordsPerCheck = 1024;
constexpr std::size_t kPrefetchDistance = 8;  // records ahead while a block is written out
constexpr auto kReportInterval = std::chrono::milliseconds(100);
constexpr std::uint64_t kMaxField = std::numeric_limits<std::uint32_t>::max();

using Stamp = FileStamp;

Status StampOf(const std::string& path, Stamp& stamp) {
  struct stat st;
  if (sys::Calls().stat(path.c_str(), &st) != 0) return Status::Error(errno, "stat", path);
  stamp = vesmer::StampOf(st);
  return {};
}

Status Changed(const std::string& path) { return Status::Error(ESTALE, "changed", path); }
Status OutOfMemory() { return Status::Error(ENOMEM, "allocate"); }

// A stretch of the temporary file holding records in key order.
struct Run {
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;
  std::size_t common = 0;  // bytes all its keys start with
};

// Appends packed records to the temporary file through a buffer.
class Appender {
 public:
  Appender(TempFile& file, PageMemory& buffer, std::uint64_t offset)
      : file_(file), buffer_(buffer), offset_(offset) {}

  [[nodiscard]] Status Append(std::string_view bytes) {
    if (bytes.size() > buffer_.size() - used_) {
      if (Status s = Flush(); !s.ok()) return s;
      if (bytes.size() > buffer_.size()) {
        if (Status s = file_.WriteAt(offset_, bytes.data(), bytes.size()); !s.ok()) return s;
        offset_ += bytes.size();
        return {};
      }
    }
    std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return {};
  }

  [[nodiscard]] Status Flush() {
    if (used_ == 0) return {};
    Status s = file_.WriteAt(offset_, buffer_.data(), used_);
    offset_ += used_;
    used_ = 0;
    return s;
  }

  // The end of what was appended, flushed or not.
  [[nodiscard]] std::uint64_t end() const { return offset_ + used_; }

 private:
  TempFile& file_;
  PageMemory& buffer_;
  std::uint64_t offset_;
  std::size_t used_ = 0;
};

// Where a merge takes sorted records from.
class Source {
 public:
  virtual ~Source() = default;
  // Moves on to the next record; false at the end or on a failure (then status() is not ok).
  virtual bool Advance() = 0;
  [[nodiscard]] const RecordView& record() const { return record_; }
  [[nodiscard]] const Status& status() const { return status_; }
  // Bytes all keys of the source start with (those of its first key).
  [[nodiscard]] std::size_t common_prefix() const { return common_; }

 protected:
  explicit Source(std::size_t common) : common_(common) {}

  RecordView record_;
  Status status_;
  const std::size_t common_;
};

// The sorted block kept in memory.
class BlockSource final : public Source {
 public:
  explicit BlockSource(const RecordBlock& block) : Source(block.common_prefix()), block_(block) {}
  bool Advance() override {
    if (next_ == block_.count()) return false;
    block_.Prefetch(next_ + kPrefetchDistance);
    record_ = block_.At(next_++);
    return true;
  }

 private:
  const RecordBlock& block_;
  std::size_t next_ = 0;
};

// A run in the temporary file, read through a buffer that grows only for a record longer
// than it.
class RunSource final : public Source {
 public:
  RunSource(const TempFile& file, const Run& run)
      : Source(run.common), file_(file), next_(run.offset), left_(run.bytes) {}

  [[nodiscard]] bool Allocate(std::size_t buffer_bytes) {
    return buffer_.Allocate(std::max(buffer_bytes, sizeof(RecordHeader)));
  }

  bool Advance() override {
    begin_ += current_;
    current_ = 0;
    if (begin_ == end_ && left_ == 0) return false;
    if (!Ensure(sizeof(RecordHeader))) return false;
    RecordHeader h;
    std::memcpy(&h, buffer_.data() + begin_, sizeof h);
    const std::size_t total = sizeof h + std::size_t{h.key_size} + h.line_size;
    if (!Ensure(total)) return false;
    record_ = UnpackRecord(buffer_.data() + begin_);
    current_ = total;
    // With many runs merged, a run's bytes leave the cache before its turn comes again: fetch
    // the record after this one now.
    if (begin_ + total < end_) {
      __builtin_prefetch(buffer_.data() + begin_ + total);
      __builtin_prefetch(buffer_.data() + begin_ + total + 64);
    }
    return true;
  }

 private:
  // Makes the next `n` bytes of the run lie in the buffer from begin_ on.
  bool Ensure(std::size_t n) {
    const std::size_t held = end_ - begin_;
    if (held >= n) return true;
    if (n - held > left_) {
      // A record cut short: cannot happen.
      status_ = Status::Error(EIO, "read temporary file", file_.dir());
      return false;
    }
    if (n > buffer_.size()) {
      PageMemory larger;
      if (!larger.Allocate(n)) {
        status_ = OutOfMemory();
        return false;
      }
      std::memcpy(larger.data(), buffer_.data() + begin_, held);
      buffer_ = std::move(larger);
    } else if (held > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, held);
    }
    begin_ = 0;
    end_ = held;
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - held, left_));
    status_ = file_.ReadAt(next_, buffer_.data() + held, want);
    if (!status_.ok()) return false;
    next_ += want;
    left_ -= want;
    end_ += want;
    return true;
  }

  const TempFile& file_;
  PageMemory buffer_;
  std::size_t begin_ = 0;    // the current record's start in buffer_
  std::size_t end_ = 0;      // end of the bytes held
  std::size_t current_ = 0;  // size of the current record
  std::uint64_t next_;       // file offset of the bytes after those held
  std::uint64_t left_;       // run bytes not yet read
};

// An input's records as the run reads them: lines, or records in a framing of their own.
class InputRecords {
 public:
  explicit InputRecords(const RecordFraming* framing) : framing_(framing) {}

  [[nodiscard]] Status Open(const std::string& path, ChunkObserver* observer,
                            const std::atomic<bool>* stop) {
    if (framing_ == nullptr) {
      reader_.SetInterrupt(stop);  // a slow pipe must not keep a stop waiting
      return reader_.Open(path, observer);
    }
    return framing_->Open(path, observer, stop, framed_);
  }
  // The next record and its number as the run numbers it: a line's, or the framing's (a CSV
  // record's is the line it starts on).
  [[gnu::always_inline]] bool Next(std::string_view& raw, std::int64_t& number) {
    if (framed_ == nullptr) {
      number = ++lines_;
      return reader_.Next(raw);
    }
    return framed_->Next(raw, number);
  }
  void Close() {
    reader_.Close();
    if (framed_ != nullptr) framed_->Close();
    framed_.reset();
  }
  [[nodiscard]] bool is_open() const { return framed_ != nullptr || reader_.is_open(); }
  [[nodiscard]] bool ok() const {
    return framed_ != nullptr ? framed_->status().ok() : reader_.status().ok();
  }
  // A failed read, naming `path`: a record the framing could not make out keeps its reason.
  [[nodiscard]] Status Failure(const std::string& path) const {
    if (framed_ != nullptr) return WithPath(framed_->status(), path);
    return Status::Error(reader_.status().error_number(), "read", path);
  }
  [[nodiscard]] std::uint64_t consumed() const {
    return framed_ != nullptr ? framed_->consumed() : reader_.consumed();
  }
  [[nodiscard]] std::uint64_t size() const {
    return framed_ != nullptr ? framed_->size() : reader_.size();
  }
  [[nodiscard]] FileId id() const { return framed_ != nullptr ? framed_->id() : reader_.id(); }

 private:
  const RecordFraming* framing_;
  LineReader reader_;
  std::unique_ptr<FramedSource> framed_;
  std::int64_t lines_ = 0;
};

// The first `limit` lines of the input, which were in key order when the sort read them, read
// again; the input's stamp must not have changed since. The keys are built only for a merge,
// and no prefix they share is known.
class InputSource final : public Source {
 public:
  // `leading`: the bytes before the first record that the sort counted as no record's.
  InputSource(std::string path, const Stamp& stamp, std::int64_t limit, bool whole,
              const RangeList& ranges, bool keys, const SortOptions& options, std::uint64_t leading)
      : Source(0),
        path_(std::move(path)),
        stamp_(stamp),
        limit_(limit),
        whole_(whole),
        leading_(leading),
        ranges_(ranges),
        builder_(ranges_, options.trim_padding),
        keys_(keys),
        reader_(options.framing) {
    if (options.coding != nullptr) {
      decoder_ = options.coding->NewDecoder();
      builder_.SetDecoder(decoder_.get());
    }
  }

  bool Advance() override {
    if (finished_) return false;
    if (!reader_.is_open() && !Open()) return false;
    if (number_ == limit_) return Finish();
    std::string_view raw;
    std::int64_t line_number = 0;
    if (!reader_.Next(raw, line_number)) {
      status_ = reader_.ok() ? Changed(path_) : reader_.Failure(path_);
      return false;
    }
    ++number_;
    const std::uint64_t after = reader_.consumed();
    record_.extra =
        static_cast<std::uint32_t>(after - before_ - raw.size() - (number_ == 1 ? leading_ : 0));
    before_ = after;
    record_.line = raw;
    record_.number = line_number;
    if (keys_) {
      builder_.Build(raw, key_, scratch_, line_number == 1);
      record_.key = key_.view();
    }
    return true;
  }

 private:
  bool Open() {
    Stamp now;
    status_ = reader_.Open(path_, nullptr, nullptr);
    if (status_.ok()) status_ = StampOf(path_, now);
    if (status_.ok() && !(now == stamp_ && reader_.id() == stamp_.id)) status_ = Changed(path_);
    return status_.ok();
  }

  // Past the last line wanted: the input must still be what was sorted.
  bool Finish() {
    finished_ = true;
    std::string_view raw;
    std::int64_t line_number = 0;
    Stamp now;
    status_ = StampOf(path_, now);
    if (status_.ok() && (!(now == stamp_) || (whole_ && reader_.Next(raw, line_number)))) {
      status_ = Changed(path_);
    }
    reader_.Close();
    return false;
  }

  const std::string path_;
  const Stamp stamp_;
  const std::int64_t limit_;
  const bool whole_;  // the whole input: no line may follow the last one
  const std::uint64_t leading_;
  const RangeList ranges_;
  std::unique_ptr<RecordDecoder> decoder_;
  KeyBuilder builder_;
  const bool keys_;
  InputRecords reader_;
  std::int64_t number_ = 0;
  std::uint64_t before_ = 0;
  bool finished_ = false;
  KeyText key_;
  std::string scratch_;
};

// A tree of losers over the sources: the winner at tree_[0], the loser of each match at the
// inner nodes, so moving on costs one comparison per level. Each source's current key is
// probed past the prefix all keys share, so most comparisons compare integers.
class MergeTree {
 public:
  explicit MergeTree(std::vector<Source*> sources)
      : sources_(std::move(sources)),
        done_(sources_.size()),
        probes_(sources_.size()),
        tree_(sources_.size()) {}

  // Moves every source to its first record and plays the tournament.
  [[nodiscard]] Status Start() {
    const std::size_t k = sources_.size();
    std::string_view first;
    bool any = false;
    for (std::size_t i = 0; i < k; ++i) {
      if (!sources_[i]->Advance()) {
        if (!sources_[i]->status().ok()) return sources_[i]->status();
        done_[i] = 1;
        continue;
      }
      // Every key of source i starts as its first key does, for common_prefix() bytes.
      const std::string_view key = sources_[i]->record().key;
      const std::size_t common = std::min(sources_[i]->common_prefix(), key.size());
      if (!any) {
        any = true;
        first = key;
        common_ = common;
      }
      std::size_t same = 0;
      while (same < common && same < first.size() && first[same] == key[same]) ++same;
      common_ = std::min(common_, same);
    }
    for (std::size_t i = 0; i < k; ++i) {
      if (done_[i] == 0) probes_[i] = ProbeKey(sources_[i]->record().key, common_);
    }
    std::vector<std::size_t> winners(2 * k);
    for (std::size_t i = 0; i < k; ++i) winners[k + i] = i;
    for (std::size_t node = k - 1; node > 0; --node) {
      const std::size_t a = winners[2 * node], b = winners[2 * node + 1];
      const bool b_wins = Before(b, a);
      winners[node] = b_wins ? b : a;
      tree_[node] = b_wins ? a : b;
    }
    tree_[0] = k == 1 ? 0 : winners[1];
    return {};
  }

  [[nodiscard]] bool empty() const { return done_[tree_[0]] != 0; }
  [[nodiscard]] const RecordView& top() const { return sources_[tree_[0]]->record(); }
  // Bytes all keys of all sources start with.
  [[nodiscard]] std::size_t common_prefix() const { return common_; }

  // Moves past the top record.
  [[nodiscard]] Status Pop() {
    std::size_t winner = tree_[0];
    Source& source = *sources_[winner];
    if (source.Advance()) {
      probes_[winner] = ProbeKey(source.record().key, common_);
    } else {
      if (!source.status().ok()) return source.status();
      done_[winner] = 1;
    }
    const std::size_t k = sources_.size();
    for (std::size_t node = (winner + k) / 2; node > 0; node /= 2) {
      if (Before(tree_[node], winner)) std::swap(tree_[node], winner);
    }
    tree_[0] = winner;
    return {};
  }

 private:
  bool Before(std::size_t a, std::size_t b) const {
    if (done_[a] != 0) return false;
    if (done_[b] != 0) return true;
    const RecordView& ra = sources_[a]->record();
    const RecordView& rb = sources_[b]->record();
    const int c = CompareProbedKeys(probes_[a], ra.key, probes_[b], rb.key, common_);
    return c != 0 ? c < 0 : ra.number < rb.number;
  }

  std::vector<Source*> sources_;
  std::vector<char> done_;
  std::vector<KeyProbe> probes_;
  std::vector<std::size_t> tree_;
  std::size_t common_ = 0;
};

}  // namespace

class SortedInput::Impl {
 public:
  Status Sort(const std::string& path, const RangeList& ranges, const SortOptions& options);
  bool Next(std::string_view& line, std::int64_t& line_number);

  Status status_;
  std::int64_t lines_ = 0;
  bool presorted_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t consumed_ = 0;
  FileId id_;

 private:
  class RunWriter;

  void Release();
  Status Fail(Status status);
  [[nodiscard]] bool Stopped() const {
    return options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed);
  }
  [[nodiscard]] Status StopStatus() const { return Status::Error(EINTR, "stop", path_); }
  void Report(std::uint64_t done, std::uint64_t total, bool force);
  void ShareMemory();
  Status ReadInput();
  Status MergeInPasses();
  Status MergeRuns(const std::vector<Run>& inputs, std::size_t buffer_bytes, Run& output,
                   std::uint64_t& written, std::uint64_t total);
  Status PrepareFinalMerge();

  std::string path_;
  RangeList ranges_;
  SortOptions options_;
  std::string temp_dir_;
  Stamp stamp_;
  std::chrono::steady_clock::time_point last_report_;

  std::size_t block_bytes_ = 0;  // each of the two sort buffers
  std::size_t merge_bytes_ = 0;  // the kept block and the read buffers of a merge
  std::size_t min_read_bytes_ = 0;
  std::size_t write_bytes_ = 0;

  RecordBlock blocks_[2];
  RecordBlock* kept_ = nullptr;    // the last block, kept in memory for the final merge
  std::int64_t prefix_lines_ = 0;  // leading lines in key order, read again from the input
  // Input bytes after the last line handed out: the LF of a CR LF whose CR ended the last chunk
  // but one. No record counts it; consumed_ takes it at the end.
  std::uint64_t trailing_ = 0;
  // Input bytes before the first record that belong to no record (a CSV header): consumed_
  // starts with them.
  std::uint64_t leading_ = 0;
  TempFile temp_;
  std::uint64_t temp_end_ = 0;  // where the next run goes in the temporary file
  std::vector<Run> runs_;
  std::size_t read_buffer_bytes_ = 0;

  std::vector<std::unique_ptr<Source>> sources_;
  std::optional<MergeTree> tree_;
  bool started_ = false;
  bool finished_ = false;
};

// Sorts full blocks and writes each as a run on a thread of its own, so that reading and key
// building go on into the other block meanwhile. One block at a time.
class SortedInput::Impl::RunWriter {
 public:
  RunWriter(TempFile& file, std::uint64_t offset, const std::atomic<bool>* stop)
      : file_(file), end_(offset), stop_(stop) {}

  ~RunWriter() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  [[nodiscard]] Status Start(std::size_t write_bytes) {
    if (!buffer_.Allocate(write_bytes)) return OutOfMemory();
    try {
      thread_ = std::thread([this] { Main(); });
    } catch (const std::system_error& e) {
      return Status::Error(e.code().value(), "start thread");
    }
    return {};
  }

  // Waits until the block handed over last is written; returns the first failure met.
  [[nodiscard]] Status Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return block_ == nullptr; });
    return status_;
  }

  // Hands a block over to be sorted (unless its records are `in_order` already) and written as
  // one run. Wait() must have returned first.
  void Submit(RecordBlock& block, bool in_order) {
    {
      std::lock_guard lock(mutex_);
      block_ = &block;
      in_order_ = in_order;
    }
    changed_.notify_all();
  }

  // After Wait(): the runs written and the end of the last.
  [[nodiscard]] const std::vector<Run>& runs() const { return runs_; }
  [[nodiscard]] std::uint64_t end() const { return end_; }

 private:
  void Main() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return quit_ || block_ != nullptr; });
      if (quit_) return;
      RecordBlock& block = *block_;
      const bool in_order = in_order_;
      lock.unlock();
      Status s = status_.ok() ? Write(block, in_order) : Status{};
      lock.lock();
      if (status_.ok()) status_ = std::move(s);
      block_ = nullptr;
      changed_.notify_all();
    }
  }

  bool Cancelled() {
    if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) return true;
    std::lock_guard lock(mutex_);
    return quit_;
  }

  Status Write(RecordBlock& block, bool in_order) {
    const Status stopped = Status::Error(EINTR, "stop");
    if (!block.Sort(stop_, in_order)) return stopped;
    Appender out(file_, buffer_, end_);
    for (std::size_t i = 0; i < block.count(); ++i) {
      if ((i + 1) % kRecordsPerCheck == 0 && Cancelled()) return stopped;
      block.Prefetch(i + kPrefetchDistance);
      if (Status s = out.Append(block.At(i).bytes); !s.ok()) return s;
    }
    if (Status s = out.Flush(); !s.ok()) return s;
    runs_.push_back({end_, out.end() - end_, block.common_prefix()});
    end_ = out.end();
    return {};
  }

  TempFile& file_;
  PageMemory buffer_;
  std::vector<Run> runs_;
  std::uint64_t end_;
  const std::atomic<bool>* const stop_;

  std::mutex mutex_;
  std::condition_variable changed_;
  RecordBlock* block_ = nullptr;  // the block being sorted and written
  bool in_order_ = false;
  bool quit_ = false;
  Status status_;
  std::thread thread_;
};

void SortedInput::Impl::Release() {
  tree_.reset();
  sources_.clear();
  kept_ = nullptr;
  blocks_[0].Release();
  blocks_[1].Release();
  temp_.Close();
  runs_.clear();
}

Status SortedInput::Impl::Fail(Status status) {
  Release();
  status_ = std::move(status);
  return status_;
}

void SortedInput::Impl::Report(std::uint64_t done, std::uint64_t total, bool force) {
  if (!options_.progress) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - last_report_ < kReportInterval) return;
  last_report_ = now;
  options_.progress(done, total);
}

// Below about four times the fixed buffers the cap is too small to count them (tests use such
// caps to force many runs and merge passes); half of it then goes to the records.
void SortedInput::Impl::ShareMemory() {
  const std::size_t memory = options_.memory_bytes;
  write_bytes_ = std::clamp<std::size_t>(memory / 64, 4096, kMaxWriteBuffer);
  // The reader's read-ahead chunks: more of them when an observer looks at every byte.
  const std::size_t reader_bytes =
      LineReader::kDefaultChunkSize * (options_.observer != nullptr
                                           ? LineReader::kObservedReadAheadChunks
                                           : LineReader::kReadAheadChunks);
  const std::size_t fixed = reader_bytes + kSlackBytes + write_bytes_;
  const std::size_t shared = memory >= 4 * fixed ? memory - fixed : memory / 2;
  block_bytes_ = std::clamp(shared / 2, kMinBlockBytes, kMaxBlockBytes) & ~std::size_t{15};
  merge_bytes_ = shared;
  min_read_bytes_ = std::clamp<std::size_t>(memory / 64, 256, 64 * 1024);
}

Status SortedInput::Impl::Sort(const std::string& path, const RangeList& ranges,
                               const SortOptions& options) {
  Release();
  path_ = path;
  ranges_ = ranges;
  options_ = options;
  status_ = {};
  lines_ = 0;
  presorted_ = false;
  size_ = consumed_ = 0;
  id_ = {};
  prefix_lines_ = 0;
  trailing_ = 0;
  leading_ = 0;
  temp_end_ = 0;
  started_ = finished_ = false;
  temp_dir_ = options.temp_dir;
  if (temp_dir_.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    temp_dir_ = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  ShareMemory();
  if (Stopped()) return Fail(StopStatus());
  if (Status s = ReadInput(); !s.ok()) return Fail(Stopped() ? StopStatus() : std::move(s));
  if (Status s = MergeInPasses(); !s.ok()) return Fail(Stopped() ? StopStatus() : std::move(s));
  if (Status s = PrepareFinalMerge(); !s.ok()) return Fail(std::move(s));
  consumed_ = leading_;
  Report(size_, size_, true);
  return {};
}

Status SortedInput::Impl::ReadInput() {
  InputRecords reader(options_.framing);
  if (Status s = reader.Open(path_, options_.observer, options_.stop); !s.ok()) return s;
  id_ = reader.id();
  size_ = reader.size();
  if (Status s = StampOf(path_, stamp_); !s.ok()) return s;
  if (!(stamp_.id == id_)) return Changed(path_);
  Report(0, size_, true);
  if (!blocks_[0].Reserve(block_bytes_)) return OutOfMemory();

  std::optional<RunWriter> writer;
  RecordBlock* block = &blocks_[0];
  // The key of each line, and of the last line in order so far: keys[latest].
  KeyBuilder builder(ranges_, options_.trim_padding);
  const std::unique_ptr<RecordDecoder> decoder =
      options_.coding != nullptr ? options_.coding->NewDecoder() : nullptr;
  builder.SetDecoder(decoder.get());
  KeyText keys[2];
  int latest = 0;
  std::string scratch;
  std::int64_t in_order_through = 0;  // the leading lines whose keys never decrease
  // The lines in order so far are more than a block: they are read again from the input, so
  // the lines in order after them need not be held either.
  bool skipping = false;
  std::uint64_t before = 0;
  std::uint32_t countdown = kRecordsPerCheck;
  std::string_view raw;
  std::int64_t line_number = 0;
  while (reader.Next(raw, line_number)) {
    if (Stopped()) return StopStatus();
    const std::int64_t number = ++lines_;
    const std::uint64_t after = reader.consumed();
    std::uint64_t extra = after - before - raw.size();
    before = after;
    if (number == 1 && extra > RecordBlock::kMaxExtra) {
      // A framing's header before the first record (CSV): the bytes of no record.
      leading_ = extra;
      extra = 0;
    }
    KeyText& key_text = keys[1 - latest];
    builder.Build(raw, key_text, scratch, line_number == 1);
    const std::string_view key = key_text.view();
    // (More bytes besides a later record than its end holds cannot be: refused rather than
    // miscounted.)
    if (raw.size() > kMaxField || key.size() > kMaxField || extra > RecordBlock::kMaxExtra)
      return Status::Error(EFBIG, "read", path_);
    const bool in_order =
        in_order_through == number - 1 && (number == 1 || Compare(keys[latest], key_text) <= 0);
    if (skipping && !in_order) {
      // The first decrease: the lines before it are the part read again, this one and all
      // after it are sorted.
      skipping = false;
      prefix_lines_ = number - 1;
    }

    if (!skipping && !block->Fits(key.size(), raw.size())) {
      if (block->empty()) {
        // Only a line longer than a block's share gets here; it is held whole.
      } else if (stamp_.regular && in_order_through == number - 1) {
        // Everything so far is in key order: the input itself holds these lines sorted, to be
        // read again, and so do the lines after them as long as the keys do not decrease.
        prefix_lines_ = number - 1;
        skipping = in_order;
      } else {
        if (!writer) {
          if (Status s = temp_.Create(temp_dir_); !s.ok()) return s;
          writer.emplace(temp_, temp_end_, options_.stop);
          if (Status s = writer->Start(write_bytes_); !s.ok()) return s;
        }
        if (Status s = writer->Wait(); !s.ok()) return s;
        writer->Submit(*block, in_order_through == number - 1);
        block = block == &blocks_[0] ? &blocks_[1] : &blocks_[0];
      }
      // An empty block at its share, or larger for a long line (and back to its share after).
      const std::size_t share =
          skipping ? block_bytes_
                   : std::max(block_bytes_, RecordBlock::Footprint(key.size(), raw.size()));
      if (!block->Reserve(share)) return OutOfMemory();
      if (!skipping && !block->Fits(key.size(), raw.size())) {
        return Status::Error(EFBIG, "read", path_);
      }
    }
    if (!skipping) block->Append(key, raw, line_number, static_cast<std::uint32_t>(extra));
    if (in_order) {
      in_order_through = number;
      latest = 1 - latest;
    }
    if (--countdown == 0) {
      countdown = kRecordsPerCheck;
      Report(after, size_, false);
    }
  }
  if (!reader.ok()) return reader.Failure(path_);
  if (Stopped()) return StopStatus();
  Stamp now;
  if (Status s = StampOf(path_, now); !s.ok()) return s;
  // (A pipe changes its times as it is written to: only a file is checked.)
  if (stamp_.regular && (!(now == stamp_) || reader.consumed() != stamp_.size)) {
    return Changed(path_);
  }
  trailing_ = reader.consumed() - before;
  reader.Close();

  presorted_ = in_order_through == lines_;
  if (presorted_ && prefix_lines_ > 0) {
    // All in key order, and more than a block: hand the input out as it is.
    prefix_lines_ = lines_;
    block->Release();
  } else if (!block->empty()) {
    // The last block is sorted here while the writer finishes the run before it.
    if (!block->Sort(options_.stop, in_order_through == lines_)) return StopStatus();
    kept_ = block;
  }
  if (writer) {
    if (Status s = writer->Wait(); !s.ok()) return s;
    runs_ = writer->runs();
    temp_end_ = writer->end();
    writer.reset();
  }
  // Only the kept block stays.
  for (RecordBlock& b : blocks_) {
    if (&b != kept_) b.Release();
  }
  return {};
}

Status SortedInput::Impl::MergeInPasses() {
  const std::size_t kept = kept_ != nullptr ? kept_->footprint() : 0;
  const std::size_t available = merge_bytes_ > kept ? merge_bytes_ - kept : 0;
  const std::size_t runs = std::max<std::size_t>(runs_.size(), 1);
  read_buffer_bytes_ = std::clamp(available / runs, min_read_bytes_, kMaxReadBuffer);
  const std::size_t fan_in = std::max<std::size_t>(2, available / min_read_bytes_);
  if (runs_.size() <= fan_in) return {};

  // Merge the smallest runs first, and first just enough of them that every later merge takes
  // a full fan-in: the fewest bytes written. Records carry their line numbers, so the order of
  // equal keys does not depend on which runs meet in a merge.
  const auto larger = [](const Run& a, const Run& b) { return a.bytes > b.bytes; };
  const auto plan = [&](std::vector<Run>& runs, auto&& merge) -> Status {
    std::make_heap(runs.begin(), runs.end(), larger);
    while (runs.size() > fan_in) {
      const std::size_t take = std::min(fan_in, runs.size() - fan_in + 1);
      std::vector<Run> inputs;
      for (std::size_t i = 0; i < take; ++i) {
        std::pop_heap(runs.begin(), runs.end(), larger);
        inputs.push_back(runs.back());
        runs.pop_back();
      }
      Run output;
      if (Status s = merge(inputs, output); !s.ok()) return s;
      runs.push_back(output);
      std::push_heap(runs.begin(), runs.end(), larger);
    }
    return {};
  };

  // The plan played through first, for the progress total.
  std::uint64_t total = size_;
  std::vector<Run> sizes = runs_;
  (void)plan(sizes, [&](const std::vector<Run>& inputs, Run& output) {
    for (const Run& r : inputs) output.bytes += r.bytes;
    total += output.bytes;
    return Status{};
  });
  Report(size_, total, true);
  std::uint64_t written = 0;
  if (Status s = plan(runs_,
                      [&](const std::vector<Run>& inputs, Run& output) {
                        const std::size_t buffer =
                            std::clamp(available / inputs.size(), min_read_bytes_, kMaxReadBuffer);
                        return MergeRuns(inputs, buffer, output, written, total);
                      });
      !s.ok()) {
    return s;
  }
  read_buffer_bytes_ = std::clamp(available / runs_.size(), min_read_bytes_, kMaxReadBuffer);
  return {};
}

Status SortedInput::Impl::MergeRuns(const std::vector<Run>& inputs, std::size_t buffer_bytes,
                                    Run& output, std::uint64_t& written, std::uint64_t total) {
  if (Stopped()) return StopStatus();
  std::vector<std::unique_ptr<RunSource>> sources;
  std::vector<Source*> pointers;
  for (const Run& run : inputs) {
    sources.push_back(std::make_unique<RunSource>(temp_, run));
    if (!sources.back()->Allocate(buffer_bytes)) return OutOfMemory();
    pointers.push_back(sources.back().get());
  }
  PageMemory buffer;
  if (!buffer.Allocate(write_bytes_)) return OutOfMemory();
  MergeTree tree(std::move(pointers));
  if (Status s = tree.Start(); !s.ok()) return s;
  Appender out(temp_, buffer, temp_end_);
  std::uint32_t countdown = kRecordsPerCheck;
  while (!tree.empty()) {
    if (Status s = out.Append(tree.top().bytes); !s.ok()) return s;
    if (Status s = tree.Pop(); !s.ok()) return s;
    if (--countdown == 0) {
      countdown = kRecordsPerCheck;
      if (Stopped()) return StopStatus();
      Report(size_ + written + (out.end() - temp_end_), total, false);
    }
  }
  if (Status s = out.Flush(); !s.ok()) return s;
  output = {temp_end_, out.end() - temp_end_, tree.common_prefix()};
  temp_end_ = out.end();
  written += output.bytes;
  for (const Run& run : inputs) temp_.Discard(run.offset, run.bytes);
  return {};
}

Status SortedInput::Impl::PrepareFinalMerge() {
  const std::size_t count = (prefix_lines_ > 0) + runs_.size() + (kept_ != nullptr);
  if (prefix_lines_ > 0) {
    sources_.push_back(std::make_unique<InputSource>(path_, stamp_, prefix_lines_,
                                                     prefix_lines_ == lines_, ranges_, count > 1,
                                                     options_, leading_));
  }
  for (const Run& run : runs_) {
    auto source = std::make_unique<RunSource>(temp_, run);
    if (!source->Allocate(read_buffer_bytes_)) return OutOfMemory();
    sources_.push_back(std::move(source));
  }
  if (kept_ != nullptr) sources_.push_back(std::make_unique<BlockSource>(*kept_));
  return {};
}

bool SortedInput::Impl::Next(std::string_view& line, std::int64_t& line_number) {
  if (!status_.ok() || finished_) return false;
  if (Stopped()) {
    (void)Fail(StopStatus());
    return false;
  }
  const RecordView* top = nullptr;
  if (sources_.size() == 1) {
    // One source (an input in key order, read again, or a single run): nothing to merge.
    Source& only = *sources_.front();
    if (only.Advance()) {
      top = &only.record();
    } else if (!only.status().ok()) {
      (void)Fail(only.status());
      return false;
    }
  } else if (!sources_.empty()) {
    Status s;
    if (!started_) {
      started_ = true;
      std::vector<Source*> pointers;
      for (const auto& source : sources_) pointers.push_back(source.get());
      tree_.emplace(std::move(pointers));
      s = tree_->Start();
    } else {
      s = tree_->Pop();
    }
    if (!s.ok()) {
      (void)Fail(std::move(s));
      return false;
    }
    if (!tree_->empty()) top = &tree_->top();
  }
  if (top == nullptr) {
    finished_ = true;
    consumed_ += trailing_;
    Release();
    return false;
  }
  line = top->line;
  line_number = top->number;
  consumed_ += top->line.size() + top->extra;
  return true;
}

SortedInput::SortedInput() : impl_(std::make_unique<Impl>()) {}
SortedInput::~SortedInput() = default;

Status SortedInput::Sort(const std::string& path, const RangeList& key_ranges,
                         const SortOptions& options) {
  return impl_->Sort(path, key_ranges, options);
}

bool SortedInput::Next(std::string_view& line, std::int64_t& line_number) {
  return impl_->Next(line, line_number);
}

const Status& SortedInput::status() const { return impl_->status_; }
std::int64_t SortedInput::lines() const { return impl_->lines_; }
bool SortedInput::presorted() const { return impl_->presorted_; }
std::uint64_t SortedInput::size() const { return impl_->size_; }
std::uint64_t SortedInput::consumed() const { return impl_->consumed_; }
FileId SortedInput::id() const { return impl_->id_; }

}  // namespace vesmer
