// Files: line-by-line reading, buffered writing with CR LF line ends, and the small path and
// text helpers (FileExists, CutNull, extension removal, renaming without replacing).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/fast_paths.h"
#include "platform/mapped_buffer.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesmer {

// Identity of a file on disk, to tell whether two paths name the same file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool valid = false;
  friend bool operator==(const FileId& a, const FileId& b) {
    return a.valid && b.valid && a.device == b.device && a.inode == b.inode;
  }
};

// Identity of the file at `path`; `valid` is false when it does not exist.
[[nodiscard]] FileId IdOfPath(const std::string& path);

// What tells a file's content was not changed in between, well enough for a run: its identity,
// size and times. The modification time can be set back (touch -r); the change time cannot,
// and moves with it.
struct FileStamp {
  FileId id;
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool regular = false;
  friend bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.id == b.id && a.size == b.size && a.mtime_ns == b.mtime_ns && a.ctime_ns == b.ctime_ns;
  }
};

// The stamp of what stat() or fstat() told.
[[nodiscard]] FileStamp StampOf(const struct stat& st);

// Sees every chunk a LineReader reads, in file order, on the reader's read-ahead thread: to
// hash the input while it is read, without a second pass and without slowing the caller.
class ChunkObserver {
 public:
  virtual ~ChunkObserver() = default;
  // `bytes` is the next part of the file, never empty, valid only during the call. Runs on the
  // read-ahead thread, never at the same time as another OnChunk of the same reader. An
  // exception ends the reading with an error (std::bad_alloc: ENOMEM, anything else: EIO).
  virtual void OnChunk(std::string_view bytes) = 0;
};

// Looks at every chunk a LineReader reads, in file order, on the reader's read-ahead thread and
// before the chunk is handed out: work the caller would otherwise do on the chunk itself, done
// ahead of it. What it finds travels with the chunk as a number (LineReader::chunk_note()).
class ChunkInspector {
 public:
  virtual ~ChunkInspector() = default;
  // `bytes` is the next part of the file, never empty, valid only during the call; the result
  // is the chunk's note. Runs on the read-ahead thread, never at the same time as another
  // Inspect of the same reader.
  virtual std::uint64_t Inspect(std::string_view bytes) noexcept = 0;
};

// While one lives, files opened on its thread are read and written on that thread alone: a
// LineReader reads a regular file into one chunk with no thread reading ahead, and an
// OutputFile emptied there writes every buffer itself. For threads that each run work of their
// own on every processor there is (several pairs at once), where a thread more per file only
// adds switching and memory. Pipes, FIFOs and terminals are read ahead as ever.
class WorkInCaller {
 public:
  WorkInCaller();
  ~WorkInCaller();
  WorkInCaller(const WorkInCaller&) = delete;
  WorkInCaller& operator=(const WorkInCaller&) = delete;

 private:
  bool was_;
};

// Reads a file line by line with large reads. A line ends at CR or at CR LF; a lone LF belongs
// to the line; the last line need not have an end; an empty file has no lines. The view that
// Next() hands out stays valid until the next call. A thread of the reader's own reads ahead,
// kReadAheadChunks chunks at most (kObservedReadAheadChunks with an observer), so reading
// overlaps the caller's work. Memory: the chunks, plus about
// the length of the longest line that runs over a chunk's end; that extra memory is given back
// once lines are short again.
//
// On a pipe, a FIFO or a terminal every read is handed over as it arrives, so a line is handed
// out as soon as its line end has been read, and Close() does not wait for the writer.
class LineReader {
 public:
  static constexpr std::size_t kDefaultChunkSize = std::size_t{1} << 20;
  static constexpr std::size_t kMaxChunkSize = std::size_t{1} << 30;
  static constexpr int kReadAheadChunks = 4;
  static constexpr int kObservedReadAheadChunks = 8;
  // Starts a thread running `body` and returns it; may throw what std::thread's constructor
  // throws. Tests pass their own to see a failed start handled.
  using ThreadStarter = std::thread (*)(std::function<void()> body);

  LineReader();
  // Reads `chunk_size` bytes at a time (taken into 1..kMaxChunkSize); starts the read-ahead
  // thread with `start_thread`, or with std::thread when it is null.
  explicit LineReader(std::size_t chunk_size, ThreadStarter start_thread = nullptr);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Opens `path` (closing what was open) and starts reading ahead. Fails, with the file
  // closed, for a missing or unreadable file, a folder (EISDIR), no memory for the chunks
  // (ENOMEM) or a thread that cannot be started (its errno, EAGAIN mostly); never throws.
  // `observer`, when given, is passed every byte read (see ChunkObserver) until the end of the
  // file, a read error or Close(). Once Next() has returned false at the end of the file, or
  // Close() has returned, it has been passed every byte read exactly once, in order, and is
  // not touched again: the caller may then read what it gathered, or destroy it. Of a regular
  // file it may have been passed bytes after those read, too: while the reader waits, it goes
  // on ahead (a hash is not held up by a busy caller); a caller that stops early must not take
  // its bytes for those read.
  // `inspector`, when given, sees every chunk before it is handed out (see ChunkInspector), and
  // is not touched again once Close() has returned.
  [[nodiscard]] Status Open(const std::string& path, ChunkObserver* observer = nullptr,
                            ChunkInspector* inspector = nullptr);
  // Stores the next line in `line` and returns true; returns false at the end of the file or
  // on a failure (then status() is not ok): a read error, or no memory to assemble a long line
  // (ENOMEM). Never throws.
  [[gnu::always_inline]] [[nodiscard]] bool Next(std::string_view& line) {
#if defined(__SSE2__)
    // Short records, in place: a line that ends within the first 16 bytes of the chunk at hand.
    if (kFastPaths && !skip_lf_ && !carry_big_ && chunk_.size() > 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk_.data()));
      const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\r')));
      if (mask != 0) {
        const auto at = static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        line = std::string_view(chunk_.data(), at);
        const std::size_t next = at + (chunk_[at + 1] == '\n' ? 2 : 1);
        consumed_ += next;
        chunk_.remove_prefix(next);
        return true;
      }
      return NextOf(line, 16);
    }
#endif
    return NextOf(line, 0);
  }
  // The unread rest of the chunk at hand, where the next line starts; empty when a line end is
  // still to be finished first. Lets a caller look at the lines ahead without reading them.
  [[nodiscard]] std::string_view Ahead() const { return skip_lf_ ? std::string_view() : chunk_; }
  // Moves past the first `bytes` bytes of Ahead(), as reading lines would have. They must be
  // whole lines as Next() hands them out, each with its line end: a CR, and the LF after it
  // when there is one, so the byte after every CR must be in Ahead() too.
  void Skip(std::size_t bytes) {
    consumed_ += bytes;
    chunk_.remove_prefix(bytes);
  }
  // Raw reading, for readers of other record framings that share this read-ahead: hands out
  // the unread rest of the chunk at hand, or else the next chunk, whole, and counts it as
  // consumed. False at the end of the file or on a failure (then status()). The view stays
  // valid until the next call of NextChunk() or Next(). Not to be mixed with Next() or Skip()
  // on one opening of a file: a CR that ended a chunk would leave its LF to be skipped.
  [[nodiscard]] bool NextChunk(std::string_view& bytes);
  // What the inspector said of the chunk NextChunk() handed out last, or of the chunk Ahead()
  // is the rest of; 0 without an inspector.
  [[nodiscard]] std::uint64_t chunk_note() const { return chunk_note_; }
  // Where Ahead() starts in its chunk, counted as the inspector counted the chunk's bytes.
  [[nodiscard]] std::size_t ahead_offset() const {
    return chunk_.data() == nullptr ? 0 : static_cast<std::size_t>(chunk_.data() - chunk_start_);
  }
  // Stops the read-ahead thread and closes the file; what was read ahead is dropped.
  void Close();
  // While Next() waits for data (a slow pipe), it gives up with EINTR soon after `*flag`
  // becomes true; null: it waits as long as it takes.
  void SetInterrupt(const std::atomic<bool>* flag) { interrupt_ = flag; }

  [[nodiscard]] const Status& status() const { return status_; }
  [[nodiscard]] bool is_open() const { return prefetch_ != nullptr; }
  [[nodiscard]] FileId id() const { return id_; }
  // The size of a regular file when it was opened; 0 for a pipe, a FIFO or a device.
  [[nodiscard]] std::uint64_t size() const { return size_; }
  // Bytes of the file consumed by the lines handed out so far, line ends included; only the LF
  // of a CR LF split across chunks is counted with the next line (the line is handed out
  // without waiting for the next chunk). At the end of the file, the size of the file.
  [[nodiscard]] std::uint64_t consumed() const { return consumed_; }
  [[nodiscard]] std::size_t chunk_size() const { return chunk_size_; }
  // Memory held for assembling lines that run over a chunk's end.
  [[nodiscard]] std::size_t line_buffer_capacity() const { return carry_.capacity(); }

 private:
  struct Prefetch;
  // Next() for every line; `clear` bytes at the start of the chunk at hand are known to hold no
  // CR (and no LF is to be skipped first).
  [[nodiscard]] bool NextAnyLine(std::string_view& line, std::size_t clear);
  // NextAnyLine() through a view of its own: the caller's stays out of memory, so the short
  // records' path above hands its line over in registers (a line stored as two words and loaded
  // back as one waits on the store).
  [[gnu::always_inline]] bool NextOf(std::string_view& line, std::size_t clear) {
    std::string_view any;
    const bool got = NextAnyLine(any, clear);
    line = any;
    return got;
  }
  // Moves on to the next chunk; false at the end of the file or on an error.
  bool Refill();
  // Hands out `line`, which ended with the CR at `chunk_[cr]`, and moves past its line end.
  void EndLine(std::size_t cr);
  // Adds `bytes` to the line being assembled; false (with status_ set) when memory runs out.
  bool Carry(std::string_view bytes);
  // Records a failed read; keeps the path unless memory is too short even for that.
  void Fail(int error_number) noexcept;

  std::size_t chunk_size_ = kDefaultChunkSize;
  ThreadStarter start_thread_ = nullptr;
  std::unique_ptr<Prefetch> prefetch_;
  std::string path_;
  FileId id_;
  std::uint64_t size_ = 0;
  std::uint64_t consumed_ = 0;
  std::string_view chunk_;             // the unread part of the chunk at hand
  std::uint64_t chunk_note_ = 0;       // the inspector's note of the chunk at hand
  const char* chunk_start_ = nullptr;  // where the chunk at hand starts
  MappedBuffer carry_;                 // a line that runs on into the next chunk
  bool skip_lf_ = false;               // the last line ended with a CR at the end of a chunk
  bool carry_big_ = false;             // carry_ holds more memory than it keeps for short lines
  const std::atomic<bool>* interrupt_ = nullptr;
  Status status_;
};

// Writes a result file through a large buffer. Every failure is kept: once a write fails,
// status() reports it (at the latest when the next buffer is handed over) and Close() returns
// it. Once a regular file holds 8 MiB, a thread of the object writes the full buffers while the
// caller fills the next (a few buffers of kWriteBufferSize); once a file that had to be
// truncated holds 16 MiB, another asks the system to start writing it to the disk a step behind
// its end, so that close() does not have to. The threads are gone before the file is let go of.
//
// Two runs must not write the same result files at once, and a run that is refused must leave
// them as they were. So a run opens its set of files in two phases: OpenLocked() on each (that
// takes an exclusive lock and changes nothing), and only when all are had, Truncate() on each.
// When one cannot be had, Abandon() on the others leaves every file as it was. Create() does
// both phases for a single file.
class OutputFile {
 public:
  OutputFile();
  // Abandons a file that was only locked; closes a file being written (see Close()).
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // OpenLocked() and Truncate(); on a failure the file is left as it was (a file this call
  // created is removed again).
  [[nodiscard]] Status Create(const std::string& path);

  // Opens `path` for writing without truncating it, creating it when it does not exist, and
  // locks it (flock, exclusive). Fails with EWOULDBLOCK when another open of the file (another
  // run, in this process or another) holds the lock; the Status keeps the path. Only regular
  // files are locked: a FIFO or a device such as /dev/null is shared as it always was. First
  // lets go of what this object had open, as the destructor does.
  [[nodiscard]] Status OpenLocked(const std::string& path);
  // Empties the file locked by OpenLocked() (a regular file only: a FIFO or /dev/null is left
  // as it is) and starts writing at its beginning. Until then Append() writes nothing. Where
  // the file system can, and has as much free space again, the old contents are turned into
  // zeros in place rather than truncated: until Close() or Abandon() cuts them off past the new
  // contents, the file keeps its old size, and a process killed before then leaves zeros (never
  // old bytes) after what it wrote.
  [[nodiscard]] Status Truncate();
  // Closes without writing anything more. A file that OpenLocked() created is removed, if the
  // path still names that file, so a refused run leaves no new empty files behind.
  void Abandon();

  void Append(std::string_view bytes);
  // Appends the bytes and CR LF.
  [[gnu::always_inline]] void AppendLine(std::string_view bytes) {
    // Most records fit in the buffer as they are: one copy, no calls.
    if (kFastPaths && writing_ && status_.ok() && bytes.size() + 2 <= kWriteBufferSize - used_) {
      char* at = fill_ + used_;
      // (An empty line may be a view without data: no null pointer reaches memcpy.)
      if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
      at[bytes.size()] = '\r';
      at[bytes.size() + 1] = '\n';
      used_ += bytes.size() + 2;
      bytes_appended_ += bytes.size() + 2;
      return;
    }
    Append(bytes);
    Append("\r\n");
  }
  // Writing in place, for callers that format many small pieces: room for `n` bytes (at most
  // kWriteBufferSize) in the write buffer, then Commit(n) appends what was put there, as
  // Append() would. Null before Truncate() or when `n` is too large.
  [[nodiscard]] char* Reserve(std::size_t n);
  void Commit(std::size_t n);
  static constexpr std::size_t kWriteBufferSize = std::size_t{1} << 20;
  [[nodiscard]] Status Flush();
  // Flushes, releases the lock and closes; returns the first failure met since the file was
  // opened. A file that was only locked is closed as it is.
  [[nodiscard]] Status Close();
  [[nodiscard]] bool is_open() const { return fd_.valid(); }
  [[nodiscard]] const Status& status() const { return status_; }
  // The file opened by the last OpenLocked() or Create(); not valid when that failed.
  [[nodiscard]] FileId id() const { return id_; }

  // What became of the bytes appended since Truncate(): how many reached the file, and how
  // many line ends (CR) were among the bytes that did not, because a write failed. A record
  // line holds one CR, so records lost is lines_lost().
  [[nodiscard]] std::uint64_t bytes_appended() const { return bytes_appended_; }
  [[nodiscard]] std::uint64_t bytes_reached() const { return bytes_reached_; }
  [[nodiscard]] std::uint64_t lines_lost() const { return lines_lost_; }

 private:
  class WriteBehind;
  class Writer;
  void WriteOut(const char* data, std::size_t n);
  // Writes the buffer being filled, or hands it to the writer; starts the writer once the file
  // is large.
  void WriteBuffer();
  // Ends the writer, if one runs, having it write what it holds (or drop it, its line ends
  // counted as lost), and takes over what it did; the next buffer may start another.
  void StopWriter(bool discard);
  // Takes in what the writer did since the last look: the bytes that reached the file, the
  // lines lost, and its first failure as the file's.
  void CollectFromWriter();
  // Has the `reached` bytes written to the file so far written back to the disk, on the
  // write-behind thread.
  void StartWriteBehind(std::uint64_t reached);
  // Ends the write-behind thread, if one runs, and starts none until the next Truncate(); the
  // file descriptor may then be closed.
  void StopWriteBehind();
  // Cuts off the zeros left of the old contents past the bytes that reached the file, once
  // nothing more is written; the errno of a failure, or 0.
  int CutZeroedTail();
  // Counts the line ends of bytes that will never reach the file.
  void Lose(std::string_view bytes);
  // Abandons a file that was only locked, closes a file being written.
  void Release();

  UniqueFd fd_;
  std::string path_;
  FileId id_;
  bool created_ = false;  // OpenLocked() created the file
  bool writing_ = false;  // Truncate() has been done
  std::unique_ptr<char[]> buffer_;
  char* fill_ = nullptr;  // the buffer being filled: buffer_, or one of the writer's
  std::unique_ptr<Writer> writer_;
  bool regular_ = false;           // a regular file, emptied by Truncate()
  bool may_start_writer_ = false;  // and none has been tried since
  // The size of the old contents Truncate() turned into zeros in place, to be cut off past the
  // new ones; 0 when they were truncated, or there were none.
  std::uint64_t zeroed_ = 0;
  std::unique_ptr<WriteBehind> write_behind_;
  // bytes_reached_ at which to ask the write-behind for more; the largest value when a file is
  // not written behind: not a regular file, not truncated yet, closing, or no thread to be had.
  std::uint64_t next_write_behind_ = std::numeric_limits<std::uint64_t>::max();
  std::size_t used_ = 0;
  std::uint64_t bytes_appended_ = 0;
  std::uint64_t bytes_reached_ = 0;
  std::uint64_t lines_lost_ = 0;
  Status status_;
};

// True when `path` names a file that can be opened for reading: false for an empty path, a
// folder, a missing or unreadable file. One trailing "/" is dropped before the test.
[[nodiscard]] bool FileExists(std::string path);

[[nodiscard]] bool IsDirectory(const std::string& path);

// The text up to, not including, its first NUL; the whole text when it holds none.
[[nodiscard]] std::string CutNull(std::string_view text);

// The path without the extension of its final component: the last dot of the part after the
// last "/" and everything after it. A dot in a folder name is no extension.
[[nodiscard]] std::string RemoveExtension(std::string_view path);

// Renames `from` to `to`, refusing (EEXIST) when `to` exists, even on file systems where a
// plain rename would replace it.
[[nodiscard]] Status RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace vesmer
