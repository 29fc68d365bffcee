#include "platform/files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/fast_paths.h"
#include "platform/sys.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesmer {
namespace {

constexpr std::size_t kWriteBuffer = OutputFile::kWriteBufferSize;

// Memory for the buffers that files are read into and written from, taken from malloc.
struct FreeBuffer {
  void operator()(char* p) const noexcept { std::free(p); }
};
using BufferBlock = std::unique_ptr<char[], FreeBuffer>;

// `bytes` of memory; throws std::bad_alloc.
BufferBlock PlainBlock(std::size_t bytes) {
  BufferBlock block(static_cast<char*>(std::malloc(bytes)));
  if (!block) throw std::bad_alloc();
  return block;
}

// `bytes` of memory (and up to 2 MiB more) on 2 MiB boundaries, asked to be huge pages: the
// system copies gigabytes a second into and out of such buffers, and the run reads them once
// more, where 4 KiB pages cost a TLB miss each every few hundred bytes (under a virtual
// machine, a walk through two page tables). Throws std::bad_alloc.
BufferBlock HugePageBlock(std::size_t bytes) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  BufferBlock block(static_cast<char*>(std::aligned_alloc(kHugePage, size)));
  if (!block) throw std::bad_alloc();
  (void)::madvise(block.get(), size, MADV_HUGEPAGE);  // only advice
  return block;
}

#ifndef RENAME_NOREPLACE
constexpr unsigned kRenameNoReplace = 1;
#else
constexpr unsigned kRenameNoReplace = RENAME_NOREPLACE;
#endif

// The first CR of `bytes`, or null. Short records are common: the first 16 bytes are looked at
// in place before memchr is called. (No memchr on an empty view: its data may be null.)
inline const void* FindCr(std::string_view bytes) {
#if defined(__SSE2__)
  if (kFastPaths && bytes.size() >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data()));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\r')));
    if (mask != 0) return bytes.data() + __builtin_ctz(static_cast<unsigned>(mask));
    return std::memchr(bytes.data() + 16, '\r', bytes.size() - 16);
  }
#endif
  return bytes.empty() ? nullptr : std::memchr(bytes.data(), '\r', bytes.size());
}

}  // namespace

FileId IdOfPath(const std::string& path) {
  struct stat st;
  if (path.empty() || sys::Calls().stat(path.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, true};
}

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.id = {st.st_dev, st.st_ino, true};
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.mtime_ns =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  stamp.ctime_ns =
      static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  stamp.regular = S_ISREG(st.st_mode);
  return stamp;
}

namespace {

// A Status for `error_number` that keeps `path` when memory allows; never throws, so it can
// report that memory ran out. (The operation names fit the string's own small buffer.)
Status ErrorWithPath(int error_number, const char* operation, const std::string& path) noexcept {
  try {
    return Status::Error(error_number, operation, path);
  } catch (...) {
    return Status::Error(error_number, operation);
  }
}

std::thread StartStdThread(std::function<void()> body) { return std::thread(std::move(body)); }

thread_local bool in_caller_here = false;

// Writes the `n` bytes at `data` to `fd`, going on after a write that was interrupted or cut
// short. Returns how many were written; `error` is the errno of the write that failed, 0 when
// every byte was written.
std::size_t WriteFully(int fd, const char* data, std::size_t n, int& error) {
  std::size_t done = 0;
  error = 0;
  while (done < n) {
    const ssize_t put = sys::Calls().write(fd, data + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  return done;
}

}  // namespace

WorkInCaller::WorkInCaller() : was_(in_caller_here) { in_caller_here = true; }

WorkInCaller::~WorkInCaller() { in_caller_here = was_; }

// The read-ahead thread of a LineReader: it fills free chunks in file order and hands each read
// over as it arrives; the reader gives a chunk back when it moves on to the next. It allocates
// nothing once started, so it cannot fail for want of memory itself.
struct LineReader::Prefetch {
  static constexpr int kChunks = kReadAheadChunks;
  // An observer (a hash) takes about as long per chunk as the comparison: a deeper ring lets the
  // two threads drift apart without waiting for each other.
  static constexpr int kObservedChunks = kObservedReadAheadChunks;

  // Allocates the chunks (may throw std::bad_alloc). `wake` is an eventfd for a file whose
  // reads may wait for ever (a pipe, a terminal), invalid for a regular file. `in_caller`: no
  // thread reads ahead; Take() reads each chunk itself, into the one chunk there is.
  Prefetch(UniqueFd file, UniqueFd wake_fd, std::size_t size, ChunkObserver* chunk_observer,
           ChunkInspector* chunk_inspector, bool in_caller)
      : fd(std::move(file)),
        wake(std::move(wake_fd)),
        chunk_size(size),
        observer(chunk_observer),
        inspector(chunk_inspector),
        reads_in_caller(in_caller),
        chunk_count(in_caller             ? 1
                    : observer != nullptr ? kObservedChunks
                                          : kChunks) {
    // Not zeroed: every byte handed out was read first. One chunk, read in the caller, is
    // small memory of its own; a ring is one block in huge pages.
    chunks = in_caller ? PlainBlock(chunk_size) : HugePageBlock(chunk_size * chunk_count);
    for (int i = 0; i < chunk_count; ++i) free[free_count++] = chunks.get() + i * chunk_size;
  }

  ~Prefetch() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    if (wake.valid()) {
      // Wakes a thread waiting for a pipe's writer; an eventfd write of 1 cannot block here.
      const std::uint64_t one = 1;
      while (sys::Calls().write(wake.get(), &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
    if (thread.joinable()) thread.join();
    // The file is only read: closing it cannot lose anything, so UniqueFd closes it unchecked.
  }

  // May throw std::system_error or std::bad_alloc; then no thread runs.
  void Start(ThreadStarter start_thread) {
    if (reads_in_caller) return;
    thread = start_thread([this] { Run(); });
    if (!thread.joinable()) throw std::system_error(EAGAIN, std::generic_category());
  }

  // Waits until the file can be read without blocking for ever. False when the reader stops
  // first; `error` is set when the wait itself fails.
  bool WaitReadable(int& error) {
    pollfd fds[2] = {{fd.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
    for (;;) {
      if (sys::Calls().poll(fds, 2, -1) >= 0) return (fds[1].revents & POLLIN) == 0;
      if (errno != EINTR) {
        error = errno;
        return false;
      }
    }
  }

  // Passes the observer what of `bytes`, read at `offset`, it has not seen yet (it may have
  // looked ahead: ObserveAhead). An error number when it threw, else 0.
  int Observe(std::uint64_t offset, std::string_view bytes) noexcept {
    const std::uint64_t end = offset + bytes.size();
    if (observed >= end) return 0;
    if (observed > offset) bytes.remove_prefix(static_cast<std::size_t>(observed - offset));
    try {
      observer->OnChunk(bytes);
    } catch (const std::bad_alloc&) {
      return ENOMEM;
    } catch (...) {
      return EIO;
    }
    observed = end;
    return 0;
  }

  // While every chunk waits for the reader, the observer (a hash, as slow as the comparison)
  // goes on with the next bytes of a regular file, read again apart: so that it is not held up
  // by a reader that is busy, or not yet reading (the run emptying its result files), and does
  // not keep the reader waiting at the end. Reads one more chunk's worth and passes it on;
  // false when there is nothing more to look at this way (the end of the file, a read that
  // fails, or no memory for the bytes: the chunks are then observed as they come).
  bool ObserveAhead(int& error) noexcept {
    if (observer == nullptr || wake.valid() || !ahead_possible) return false;
    if (ahead == nullptr) {
      ahead.reset(new (std::nothrow) char[chunk_size]);
      if (ahead == nullptr) return ahead_possible = false;
    }
    ssize_t got;
    do {
      got = sys::Calls().pread(fd.get(), ahead.get(), chunk_size, static_cast<off_t>(observed));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return ahead_possible = false;
    error = Observe(observed, std::string_view(ahead.get(), static_cast<std::size_t>(got)));
    return error == 0;
  }

  void Run() noexcept {
    for (;;) {
      char* buffer;
      {
        std::unique_lock lock(mutex);
        while (!stop && free_count == 0) {
          lock.unlock();
          int error = 0;
          const bool looked = ObserveAhead(error);
          lock.lock();
          if (error != 0) {
            read_error = error;
            done = true;
            lock.unlock();
            changed.notify_all();
            return;
          }
          if (!looked) changed.wait(lock, [this] { return stop || free_count > 0; });
        }
        if (stop) return;
        buffer = free[--free_count];
      }
      if (!ReadInto(buffer)) return;
    }
  }

  // Reads the next chunk of the file into `buffer`, a chunk taken from the free ones, hands it
  // over and passes it to the observer. False once reading is over: at the end of the file,
  // after an error, or stopped while waiting for a pipe.
  bool ReadInto(char* buffer) noexcept {
    int error = 0;
    ssize_t got = -1;
    if (!wake.valid() || WaitReadable(error)) {
      do {
        got = sys::Calls().read(fd.get(), buffer, chunk_size);
      } while (got < 0 && errno == EINTR);
      if (got < 0) error = errno;
    } else if (error == 0) {
      return false;  // stopped while waiting
    }
    if (got <= 0 || error != 0) {
      {
        std::lock_guard lock(mutex);
        free[free_count++] = buffer;
        read_error = error;
        done = true;
      }
      changed.notify_all();
      return false;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(got));
    const std::uint64_t offset = read_bytes;
    read_bytes += bytes.size();
    const std::uint64_t note = inspector != nullptr ? inspector->Inspect(bytes) : 0;
    // The reader may work on the chunk while the observer looks at it: both only read it, and
    // this thread, the only one to fill chunks, reuses it at the earliest once the observer is
    // done.
    {
      std::lock_guard lock(mutex);
      filled[(filled_first + filled_count++) % chunk_count] = {buffer, bytes.size(), note};
    }
    changed.notify_all();
    if (observer == nullptr) return true;
    error = Observe(offset, bytes);
    if (error != 0) {
      {
        // The reader may hold the chunk already: it learns of the failure at its next Take.
        std::lock_guard lock(mutex);
        read_error = error;
        done = true;
      }
      changed.notify_all();
      return false;
    }
    return true;
  }

  // Gives back the chunk held so far and waits for the next one. False at the end of the file
  // or after an error (then read_error says which).
  bool Take(std::string_view& chunk, std::uint64_t& note, const std::atomic<bool>* interrupt,
            bool& interrupted) {
    std::unique_lock lock(mutex);
    if (held != nullptr) {
      free[free_count++] = held;
      held = nullptr;
      changed.notify_all();
    }
    if (reads_in_caller && filled_count == 0 && !done) {
      char* buffer = free[--free_count];
      lock.unlock();
      ReadInto(buffer);
      lock.lock();
    }
    const auto ready = [this] { return filled_count > 0 || done; };
    if (interrupt == nullptr) {
      changed.wait(lock, ready);
    } else {
      // A signal cannot wake a condition variable: look at the flag now and then while a slow
      // pipe keeps us waiting.
      while (!changed.wait_for(lock, std::chrono::milliseconds(50), ready)) {
        if (interrupt->load()) {
          interrupted = true;
          return false;
        }
      }
    }
    if (filled_count == 0) return false;
    const Piece& piece = filled[filled_first];
    filled_first = (filled_first + 1) % chunk_count;
    --filled_count;
    held = piece.data;
    chunk = std::string_view(piece.data, piece.size);
    note = piece.note;
    return true;
  }

  struct Piece {
    char* data = nullptr;
    std::size_t size = 0;
    std::uint64_t note = 0;  // the inspector's
  };

  const UniqueFd fd;
  const UniqueFd wake;
  const std::size_t chunk_size;
  ChunkObserver* const observer;
  ChunkInspector* const inspector;
  const bool reads_in_caller;
  const int chunk_count;
  BufferBlock chunks;
  std::mutex mutex;
  std::condition_variable changed;
  // Each chunk is in exactly one place: free, filled (read, waiting for the reader) or held.
  char* free[kObservedChunks] = {};
  int free_count = 0;
  Piece filled[kObservedChunks];
  int filled_first = 0;
  int filled_count = 0;
  char* held = nullptr;
  bool done = false;  // no more pieces will come: the end of the file or an error
  bool stop = false;
  int read_error = 0;
  // Of the read-ahead thread alone: the bytes of the file read into chunks, and passed to the
  // observer (ahead of them at times), and what it reads ahead for the observer into.
  std::uint64_t read_bytes = 0;
  std::uint64_t observed = 0;
  std::unique_ptr<char[]> ahead;
  bool ahead_possible = true;
  std::thread thread;
};

LineReader::LineReader() = default;

LineReader::LineReader(std::size_t chunk_size, ThreadStarter start_thread)
    : chunk_size_(std::clamp<std::size_t>(chunk_size, 1, kMaxChunkSize)),
      start_thread_(start_thread) {}

LineReader::~LineReader() { Close(); }

Status LineReader::Open(const std::string& path, ChunkObserver* observer,
                        ChunkInspector* inspector) {
  Close();
  status_ = {};
  id_ = {};
  size_ = 0;
  consumed_ = 0;
  chunk_ = {};
  chunk_note_ = 0;
  chunk_start_ = nullptr;
  carry_.Clear();
  carry_.ShrinkTo(0);
  carry_big_ = false;
  skip_lf_ = false;
  UniqueFd fd(sys::Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0));
  if (!fd.valid()) return status_ = ErrorWithPath(errno, "open", path);
  struct stat st;
  if (sys::Calls().fstat(fd.get(), &st) != 0) return status_ = ErrorWithPath(errno, "open", path);
  if (S_ISDIR(st.st_mode)) return status_ = ErrorWithPath(EISDIR, "open", path);
  UniqueFd wake;
  if (!S_ISREG(st.st_mode)) {
    wake.Reset(sys::Calls().eventfd(0, EFD_CLOEXEC));
    if (!wake.valid()) return status_ = ErrorWithPath(errno, "open", path);
  } else {
    sys::Calls().posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  try {
    path_ = path;
    // A pipe's reads may wait for ever: only a thread of its own can be given up on.
    const bool in_caller = !wake.valid() && in_caller_here;
    auto prefetch = std::make_unique<Prefetch>(std::move(fd), std::move(wake), chunk_size_,
                                               observer, inspector, in_caller);
    prefetch->Start(start_thread_ != nullptr ? start_thread_ : StartStdThread);
    prefetch_ = std::move(prefetch);
  } catch (const std::bad_alloc&) {
    return status_ = ErrorWithPath(ENOMEM, "open", path);
  } catch (const std::system_error& e) {
    const int error = e.code().category() == std::generic_category() ||
                              e.code().category() == std::system_category()
                          ? e.code().value()
                          : EAGAIN;
    return status_ = ErrorWithPath(error, "open", path);
  }
  id_ = {st.st_dev, st.st_ino, true};
  size_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
  return status_;
}

void LineReader::Close() {
  prefetch_.reset();
  chunk_ = {};
  chunk_start_ = nullptr;
  skip_lf_ = false;
  carry_.Clear();
  carry_.ShrinkTo(0);
  carry_big_ = false;
}

void LineReader::Fail(int error_number) noexcept {
  status_ = ErrorWithPath(error_number, "read", path_);
}

bool LineReader::Refill() {
  bool interrupted = false;
  if (prefetch_->Take(chunk_, chunk_note_, interrupt_, interrupted)) {
    chunk_start_ = chunk_.data();
    return true;
  }
  chunk_ = {};
  if (interrupted) {
    Fail(EINTR);
  } else if (prefetch_->read_error != 0) {
    Fail(prefetch_->read_error);
  }
  return false;
}

bool LineReader::NextChunk(std::string_view& bytes) {
  if (prefetch_ == nullptr || !status_.ok()) return false;
  if (chunk_.empty() && !Refill()) return false;
  bytes = chunk_;
  consumed_ += chunk_.size();
  chunk_ = {};
  return true;
}

bool LineReader::Carry(std::string_view bytes) {
  if (Status s = carry_.Append(bytes); !s.ok()) {
    Fail(s.error_number());
    return false;
  }
  if (carry_.capacity() > std::max<std::size_t>(2 * chunk_size_, std::size_t{1} << 20)) {
    carry_big_ = true;
  }
  return true;
}

void LineReader::EndLine(std::size_t cr) {
  std::size_t next = cr + 1;
  if (next < chunk_.size()) {
    if (chunk_[next] == '\n') ++next;
  } else {
    skip_lf_ = true;  // the LF, if any, starts the next chunk
  }
  consumed_ += next;
  chunk_.remove_prefix(next);
}

bool LineReader::NextAnyLine(std::string_view& line, std::size_t clear) {
  if (prefetch_ == nullptr || !status_.ok()) return false;
  // Lines that fit in a chunk or two keep the assembly buffer; after a longer one its memory
  // is given back as soon as lines are short again.
  const std::size_t keep = std::max<std::size_t>(2 * chunk_size_, std::size_t{1} << 20);
  if (skip_lf_) {
    skip_lf_ = false;
    if (chunk_.empty() && !Refill()) return false;
    if (chunk_.front() == '\n') {
      chunk_.remove_prefix(1);
      ++consumed_;
    }
  }
  // Most lines lie within the chunk at hand and are handed out where they are.
  const void* cr =
      clear != 0 ? std::memchr(chunk_.data() + clear, '\r', chunk_.size() - clear) : FindCr(chunk_);
  if (cr != nullptr) {
    if (carry_big_) {
      carry_.Clear();
      carry_.ShrinkTo(keep);
      carry_big_ = carry_.capacity() > keep;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - chunk_.data());
    line = chunk_.substr(0, at);
    EndLine(at);
    return true;
  }
  carry_.Clear();
  if (!Carry(chunk_)) return false;
  consumed_ += chunk_.size();
  chunk_ = {};
  for (;;) {
    if (!Refill()) {
      if (!status_.ok() || carry_.empty()) return false;
      carry_.ShrinkTo(keep);
      carry_big_ = carry_.capacity() > keep;
      line = carry_.view();  // the last line, without a line end
      return true;
    }
    if (const void* cr = std::memchr(chunk_.data(), '\r', chunk_.size())) {
      const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - chunk_.data());
      if (!Carry(chunk_.substr(0, at))) return false;
      carry_.ShrinkTo(keep);
      carry_big_ = carry_.capacity() > keep;
      line = carry_.view();
      EndLine(at);
      return true;
    }
    if (!Carry(chunk_)) return false;
    consumed_ += chunk_.size();
    chunk_ = {};
  }
}

namespace {

// How far the write-behind stays behind the end of a file, and how much it asks for at a time.
constexpr std::uint64_t kWriteBehindStep = std::uint64_t{8} << 20;
// The bytes a result file holds before a writer of its own writes the rest: below it, a thread
// costs more than it saves.
constexpr std::uint64_t kWriterAfter = std::uint64_t{8} << 20;
// OutputFile::next_write_behind_ for a file that is not to be written behind (any more).
constexpr std::uint64_t kNoWriteBehind = std::numeric_limits<std::uint64_t>::max();

}  // namespace

// Starts the disk writes of a large file while it is still being written, on a thread of its
// own, a few MiB behind the end. The system writes the file back in any case; ext4 does it for a
// file that was emptied and written again inside close(), on the thread that closes it, which
// made every run wait for its whole result at the end. Only advice: a request that fails
// changes nothing for the file, and close() still reports what a write did not manage.
class OutputFile::WriteBehind {
 public:
  // May throw what std::thread's constructor throws; then no thread runs.
  explicit WriteBehind(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~WriteBehind() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Asks for the bytes before `end` to be written back.
  void Upto(std::uint64_t end) {
    {
      std::lock_guard lock(mutex_);
      wanted_ = std::max(wanted_, end);
    }
    changed_.notify_one();
  }

 private:
  void Run() noexcept {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stop_ || wanted_ > started_; });
      if (stop_) return;
      // A step at a time: on a slow disk queuing a request's writes takes about as long as doing
      // them, and a stop waits for the request under way, never for all that piled up meanwhile.
      const std::uint64_t from = started_;
      started_ = std::min(wanted_, from + kWriteBehindStep);
      lock.unlock();
      // Starts the writes and does not wait for them; what is left at close is written then.
      (void)sys::Calls().sync_file_range(fd_, static_cast<off_t>(from),
                                         static_cast<off_t>(started_ - from),
                                         SYNC_FILE_RANGE_WRITE);
      lock.lock();
    }
  }

  const int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t wanted_ = 0;   // guarded by mutex_
  std::uint64_t started_ = 0;  // guarded by mutex_
  bool stop_ = false;          // guarded by mutex_
  std::thread thread_;         // last: it starts once the rest is ready
};

// Writes the full buffers of a large file on a thread of its own, in file order, while the run
// fills the next one: formatting and the system's copying into the file overlap. While it lives
// it alone writes to the file and asks for the write-behind; the file learns what became of
// the bytes (how many reached the file, the first failure, the line ends lost) when it hands
// the next buffer over and when the writer stops.
class OutputFile::Writer {
 public:
  static constexpr int kSpareBuffers = 3;

  // May throw std::bad_alloc or what std::thread's constructor throws; then no thread runs.
  Writer(OutputFile& file, std::uint64_t reached)
      : file_(file), base_(reached), spare_(HugePageBlock(kSpareBuffers * kWriteBuffer)) {
    for (int i = 0; i < kSpareBuffers; ++i) free_[free_count_++] = spare_.get() + i * kWriteBuffer;
    thread_ = std::thread([this] { Run(); });
  }
  ~Writer() { Stop(false); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Queues the `n` bytes at `data` (a buffer of kWriteBuffer bytes) to be written and returns
  // a free buffer to fill next, waiting while every buffer is queued. The buffer handed over
  // belongs to the writer until it comes back from a later call.
  char* HandOver(char* data, std::size_t n) {
    std::unique_lock lock(mutex_);
    queue_[(queue_first_ + queue_count_++) % kQueue] = {data, n};
    changed_.notify_all();
    changed_.wait(lock, [this] { return free_count_ > 0; });
    return free_[--free_count_];
  }
  // Adds to `reached` the bytes written to the file since the last call, and to `lost_lines`
  // the line ends of those that never will be; returns the first write that failed, as an
  // errno, 0 while every write has reached the file.
  int Collect(std::uint64_t& reached, std::uint64_t& lost_lines) {
    std::lock_guard lock(mutex_);
    reached += reached_;
    lost_lines += lost_lines_;
    reached_ = lost_lines_ = 0;
    return error_;
  }
  // Writes what is queued (or, with `discard`, drops it, its line ends counted as lost) and
  // ends the thread; Collect() then tells the rest.
  void Stop(bool discard) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
      discard_ = discard;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  static constexpr int kQueue = kSpareBuffers + 1;
  struct Piece {
    char* data = nullptr;
    std::size_t n = 0;
  };

  void Run() noexcept {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return queue_count_ > 0 || stopping_; });
      if (queue_count_ == 0) return;
      const Piece piece = queue_[queue_first_];
      const bool drop = discard_ || error_ != 0;
      lock.unlock();
      int error = 0;
      const std::size_t done = drop ? 0 : WriteFully(file_.fd_.get(), piece.data, piece.n, error);
      const auto lost =
          static_cast<std::uint64_t>(std::count(piece.data + done, piece.data + piece.n, '\r'));
      written_ += done;
      // Only this thread asks for the write-behind while the writer lives.
      if (!drop && error == 0 && base_ + written_ >= file_.next_write_behind_) {
        file_.StartWriteBehind(base_ + written_);
      }
      lock.lock();
      reached_ += done;
      lost_lines_ += lost;
      if (error != 0 && error_ == 0) error_ = error;
      queue_first_ = (queue_first_ + 1) % kQueue;
      --queue_count_;
      free_[free_count_++] = piece.data;
      changed_.notify_all();
    }
  }

  OutputFile& file_;
  const std::uint64_t base_;  // bytes of the file written before the writer started
  BufferBlock spare_;         // kSpareBuffers buffers of kWriteBuffer bytes, one after another
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: the buffers free to be filled, those queued in order, what went wrong.
  char* free_[kQueue] = {};
  int free_count_ = 0;
  Piece queue_[kQueue];
  int queue_first_ = 0;
  int queue_count_ = 0;
  int error_ = 0;
  bool stopping_ = false;
  bool discard_ = false;
  // Guarded by mutex_ too: what became of the bytes since the file last collected it.
  std::uint64_t reached_ = 0;
  std::uint64_t lost_lines_ = 0;
  // Of the thread alone: the bytes it wrote to the file.
  std::uint64_t written_ = 0;
  std::thread thread_;  // last: it starts once the rest is ready
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() { Release(); }

void OutputFile::StartWriteBehind(std::uint64_t reached) {
  next_write_behind_ = reached + kWriteBehindStep;
  if (!write_behind_) {
    try {
      write_behind_ = std::make_unique<WriteBehind>(fd_.get());
    } catch (...) {
      // No thread, no memory: the file is written back as it would have been without it.
      next_write_behind_ = kNoWriteBehind;
      return;
    }
  }
  write_behind_->Upto(reached - kWriteBehindStep);
}

void OutputFile::StopWriteBehind() {
  write_behind_.reset();
  next_write_behind_ = kNoWriteBehind;
}

void OutputFile::Release() {
  if (!fd_.valid()) return;
  if (writing_) {
    (void)Close();
  } else {
    Abandon();
  }
}

Status OutputFile::Create(const std::string& path) {
  if (Status s = OpenLocked(path); !s.ok()) return s;
  if (Status s = Truncate(); !s.ok()) {
    Abandon();
    return status_ = s;
  }
  return status_;
}

Status OutputFile::OpenLocked(const std::string& path) {
  Release();
  status_ = {};
  id_ = {};
  created_ = false;
  writing_ = false;
  zeroed_ = 0;
  used_ = 0;
  try {
    path_ = path;
  } catch (const std::bad_alloc&) {
    return status_ = Status::Error(ENOMEM, "open");
  }
  constexpr int kWrite = O_WRONLY | O_CLOEXEC | O_NOCTTY;
  UniqueFd fd;
  bool created = false;
  // Open an existing file, else create one that did not exist, so that Abandon() knows which
  // files it may remove. Another process may create or remove the file in between: try again.
  for (int attempt = 0; !fd.valid(); ++attempt) {
    fd.Reset(sys::Calls().open(path.c_str(), kWrite, 0));
    if (fd.valid()) break;
    if (errno != ENOENT) return status_ = ErrorWithPath(errno, "open", path);
    fd.Reset(sys::Calls().open(path.c_str(), kWrite | O_CREAT | O_EXCL, 0666));
    if (fd.valid()) {
      created = true;
      break;
    }
    if (errno != EEXIST) return status_ = ErrorWithPath(errno, "create", path);
    if (attempt == 2) {
      // Still neither there nor creatable alone: a symbolic link to a missing file. Create its
      // target as a plain open would; not knowing for sure that it is ours, never remove it.
      fd.Reset(sys::Calls().open(path.c_str(), kWrite | O_CREAT, 0666));
      if (!fd.valid()) return status_ = ErrorWithPath(errno, "create", path);
    }
  }
  struct stat st;
  if (sys::Calls().fstat(fd.get(), &st) != 0) return status_ = ErrorWithPath(errno, "open", path);
  id_ = {st.st_dev, st.st_ino, true};
  fd_ = std::move(fd);
  created_ = created;
  if (S_ISREG(st.st_mode)) {
    int locked;
    while ((locked = sys::Calls().flock(fd_.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
      const int error = errno;
      // A file we just created but that another run locked meanwhile is that run's now.
      created_ = false;
      Abandon();
      id_ = {};
      return status_ = ErrorWithPath(error, "lock", path);
    }
  }
  return status_;
}

Status OutputFile::Truncate() {
  if (!fd_.valid()) return status_ = Status::Error(EBADF, "truncate");
  // What the writer holds is dropped; a write of its that failed is a failure before this one.
  StopWriter(true);
  if (!status_.ok()) return status_;
  if (!buffer_) {
    // Had before the file changes, so that no memory leaves the file as it was.
    try {
      buffer_ = std::make_unique_for_overwrite<char[]>(kWriteBuffer);
    } catch (const std::bad_alloc&) {
      return status_ = ErrorWithPath(ENOMEM, "truncate", path_);
    }
  }
  fill_ = buffer_.get();
  regular_ = false;
  may_start_writer_ = false;
  StopWriteBehind();
  struct stat st;
  if (sys::Calls().fstat(fd_.get(), &st) != 0) {
    return status_ = ErrorWithPath(errno, "truncate", path_);
  }
  if (S_ISREG(st.st_mode)) {
    // Only a file that holds bytes is emptied (a new file is written as any other, and written
    // back by the system after the run). Where the file system can, its old contents are turned
    // into zeros in place: its blocks stay the file's, the new contents are written over them,
    // and Close() cuts off what is left past them. A truncate would free every block and
    // cached page of the old contents first, which on ext4 takes longer than writing as many
    // bytes anew, and would make close() write all the new contents back (see WriteBehind).
    zeroed_ = 0;
    bool truncated = false;
    if (st.st_size != 0) {
      const auto size = static_cast<std::uint64_t>(st.st_size);
      // Not a sparse file: zeroing would allocate its holes, up to the whole disk. And only
      // while the file system has as much free space again: the blocks kept are not free for
      // the run's other results, as a truncate would leave them.
      struct statvfs fs;
      const bool zero = static_cast<std::uint64_t>(st.st_blocks) * 512 >= size &&
                        sys::Calls().fstatvfs(fd_.get(), &fs) == 0 &&
                        std::uint64_t{fs.f_bavail} * fs.f_frsize >= size;
      int result = -1;
      while (zero &&
             (result = sys::Calls().fallocate(fd_.get(), FALLOC_FL_ZERO_RANGE, 0, st.st_size)) !=
                 0 &&
             errno == EINTR) {
      }
      if (result == 0) {
        zeroed_ = static_cast<std::uint64_t>(st.st_size);
      } else {
        // Sparse, a file system short of space or that cannot zero (tmpfs, ext4 without
        // extents), or a zeroing that failed half way: the truncate empties the file all the
        // same.
        while ((result = sys::Calls().ftruncate(fd_.get(), 0)) != 0 && errno == EINTR) {
        }
        if (result != 0) return status_ = ErrorWithPath(errno, "truncate", path_);
        truncated = true;
      }
    }
    if (sys::Calls().lseek(fd_.get(), 0, SEEK_SET) != 0) {
      return status_ = ErrorWithPath(errno, "truncate", path_);
    }
    // Only a regular file has a writer of its own once it is large, and only one that was
    // truncated is written behind, so that its close does not wait for all of it.
    next_write_behind_ = truncated ? 2 * kWriteBehindStep : kNoWriteBehind;
    regular_ = true;
    may_start_writer_ = !in_caller_here;
  }
  used_ = 0;
  bytes_appended_ = bytes_reached_ = lines_lost_ = 0;
  writing_ = true;
  return status_;
}

void OutputFile::Abandon() {
  if (!fd_.valid()) return;
  StopWriter(true);
  StopWriteBehind();
  // Removed while still locked, so no other run can have taken the file over in between.
  if (created_ && IdOfPath(path_) == id_) {
    sys::Calls().unlink(path_.c_str());
  } else {
    (void)CutZeroedTail();  // nothing better to do when it fails: the file is being let go of
  }
  (void)fd_.Close();  // nothing of ours is lost: whatever was written is being thrown away
  created_ = false;
  writing_ = false;
  used_ = 0;
}

void OutputFile::WriteOut(const char* data, std::size_t n) {
  if (status_.ok()) {
    int error = 0;
    const std::size_t done = WriteFully(fd_.get(), data, n, error);
    if (error != 0) status_ = ErrorWithPath(error, "write", path_);
    bytes_reached_ += done;
    data += done;
    n -= done;
  }
  Lose(std::string_view(data, n));
  if (status_.ok() && bytes_reached_ >= next_write_behind_) StartWriteBehind(bytes_reached_);
}

void OutputFile::Lose(std::string_view bytes) {
  lines_lost_ += static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\r'));
}

void OutputFile::Append(std::string_view bytes) {
  if (!fd_.valid()) return;
  bytes_appended_ += bytes.size();
  if (!status_.ok()) {
    Lose(bytes);
    return;
  }
  if (!writing_) {
    // Writing before Truncate() would overwrite the start of the old contents.
    status_ = ErrorWithPath(EBADF, "write", path_);
    return;
  }
  if (bytes.size() > kWriteBuffer - used_) {
    WriteBuffer();
    if (bytes.size() >= kWriteBuffer && !writer_) {
      // Straight to the file.
      WriteOut(bytes.data(), bytes.size());
      return;
    }
    // With a writer, a record larger than a buffer goes through it a buffer at a time, after
    // what it holds: stopping it for each such record would start a thread for the next.
    while (bytes.size() >= kWriteBuffer && status_.ok()) {
      std::memcpy(fill_, bytes.data(), kWriteBuffer);
      used_ = kWriteBuffer;
      bytes.remove_prefix(kWriteBuffer);
      WriteBuffer();
    }
    if (!status_.ok()) {
      // The write that made room failed: these bytes will not reach the file either.
      Lose(bytes);
      return;
    }
  }
  if (!bytes.empty()) std::memcpy(fill_ + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

char* OutputFile::Reserve(std::size_t n) {
  if (!writing_ || n > kWriteBuffer) return nullptr;
  if (status_.ok() && n > kWriteBuffer - used_) WriteBuffer();
  // After a failure nothing more reaches the file: the buffer's start serves as scratch.
  if (!status_.ok()) used_ = 0;
  return fill_ + used_;
}

void OutputFile::Commit(std::size_t n) {
  bytes_appended_ += n;
  if (!status_.ok()) {
    Lose(std::string_view(fill_ + used_, n));
    return;
  }
  used_ += n;
}

Status OutputFile::Flush() {
  if (fd_.valid()) {
    WriteBuffer();
    StopWriter(false);
  }
  return status_;
}

void OutputFile::WriteBuffer() {
  if (used_ == 0) return;
  if (writer_) {
    fill_ = writer_->HandOver(fill_, used_);
    used_ = 0;
    // What reached the file is known as it goes: the runs let go of what they keep for the
    // records pending.
    CollectFromWriter();
    return;
  }
  WriteOut(fill_, used_);
  used_ = 0;
  if (may_start_writer_ && status_.ok() && bytes_reached_ >= kWriterAfter) {
    may_start_writer_ = false;
    try {
      writer_ = std::make_unique<Writer>(*this, bytes_reached_);
    } catch (...) {
      // No thread, no memory: the file is written on this thread, as a small one is.
    }
  }
}

void OutputFile::StopWriter(bool discard) {
  if (!writer_) return;
  writer_->Stop(discard);
  CollectFromWriter();
  // The buffer being filled may be one of the writer's: what it holds moves to the file's own.
  if (fill_ != buffer_.get()) {
    if (used_ > 0) std::memcpy(buffer_.get(), fill_, used_);
    fill_ = buffer_.get();
  }
  writer_.reset();
  may_start_writer_ = regular_ && !in_caller_here;
}

void OutputFile::CollectFromWriter() {
  if (const int error = writer_->Collect(bytes_reached_, lines_lost_); error != 0 && status_.ok()) {
    status_ = ErrorWithPath(error, "write", path_);
  }
}

int OutputFile::CutZeroedTail() {
  if (!writing_ || zeroed_ <= bytes_reached_) return 0;
  int result;
  while ((result = sys::Calls().ftruncate(fd_.get(), static_cast<off_t>(bytes_reached_))) != 0 &&
         errno == EINTR) {
  }
  if (result != 0) return errno;
  zeroed_ = 0;
  return 0;
}

Status OutputFile::Close() {
  if (!fd_.valid()) return status_;
  if (writer_) (void)Flush();  // the writer writes the rest and ends
  // What the last flush writes is left to close(), with no thread started for it.
  may_start_writer_ = false;
  StopWriteBehind();
  (void)Flush();
  if (const int error = CutZeroedTail(); error != 0 && status_.ok()) {
    status_ = ErrorWithPath(error, "truncate", path_);
  }
  if (const int error = fd_.Close(); error != 0 && status_.ok()) {
    status_ = ErrorWithPath(error, "close", path_);
  }
  created_ = false;
  writing_ = false;
  return status_;
}

bool FileExists(std::string path) {
  if (path.empty()) return false;
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  // O_NONBLOCK: a FIFO without a writer must not hang the test.
  const UniqueFd fd(
      sys::Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (!fd.valid()) return false;
  struct stat st;
  return sys::Calls().fstat(fd.get(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && sys::Calls().stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CutNull(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string RemoveExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < name) return std::string(path);
  return std::string(path.substr(0, dot));
}

Status RenameNoReplace(const std::string& from, const std::string& to) {
  if (sys::Calls().renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kRenameNoReplace) == 0) {
    return {};
  }
  if (errno != EINVAL && errno != ENOSYS) return Status::Error(errno, "rename", from);
  // File systems without RENAME_NOREPLACE: link refuses an existing name too.
  if (sys::Calls().link(from.c_str(), to.c_str()) != 0) return Status::Error(errno, "link", from);
  if (sys::Calls().unlink(from.c_str()) != 0) {
    const int err = errno;
    sys::Calls().unlink(to.c_str());
    return Status::Error(err, "unlink", from);
  }
  return {};
}

}  // namespace vesmer
