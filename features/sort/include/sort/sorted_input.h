// An input file read in key order: an external merge sort by the run's key order, with
// bounded memory, anonymous temporary files and the original line numbers kept.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/ranges.h"
#include "core/record_framing.h"
#include "core/record_text.h"
#include "platform/files.h"
#include "platform/status.h"

namespace vesmer {

struct SortOptions {
  // What the sort may hold at once: records, keys, indexes, read and write buffers and the
  // input's read-ahead. A cap below about 22 MiB (38 MiB with an observer) is too small to count
  // the fixed buffers (the read-ahead alone takes 4 MiB, 8 MiB with an observer): half of it goes
  // to the records then, and the fixed buffers come on top. A line longer than a sort buffer is
  // still held whole: memory grows with the longest line.
  std::size_t memory_bytes = std::size_t{256} << 20;
  // Folder for the temporary files; "" takes $TMPDIR, else /tmp.
  std::string temp_dir;
  // Set (from a signal handler too) to make Sort() and Next() return soon with EINTR.
  const std::atomic<bool>* stop = nullptr;
  // Called on the thread of Sort() when reading starts, when merging in passes starts, at the
  // end, and in between at most about ten times a second. `bytes_total` is the input's size
  // while reading and grows by the bytes the merge passes write once they are planned.
  std::function<void(std::uint64_t bytes_done, std::uint64_t bytes_total)> progress;
  // Passed every byte of the input once, as Sort() reads it (see LineReader::Open).
  ChunkObserver* observer = nullptr;
  // Records in a framing of their own; none: lines, as LineReader reads them.
  const RecordFraming* framing = nullptr;
  // Records of another code page: keys are cut from their decoded text.
  const RecordCoding* coding = nullptr;
  // Blanks at the end of a key are not part of it (see KeyBuilder).
  bool trim_padding = false;
};

// Sorts an input by key once, then hands out its records in key order.
//
// The order is the run's: keys (BuildKey on KeyLineBytes) by CompareKeys, records with equal
// keys in file order. Lines are read as LineReader reads them. The input is never written to.
// Temporary files exist only while the object holds them and have no name (see TempFile).
// Memory: options.memory_bytes, and more only for a line longer than a sort buffer.
//
// Not thread-safe by itself; separate objects may sort on separate threads at once.
class SortedInput {
 public:
  SortedInput();
  ~SortedInput();
  SortedInput(const SortedInput&) = delete;
  SortedInput& operator=(const SortedInput&) = delete;

  // Reads the whole input at `path` once and sorts it by the key `key_ranges` give, writing
  // sorted runs into temporary files in options.temp_dir when it does not fit in memory. Fails
  // with the input's path when it cannot be opened or read or changed while it was read
  // (ESTALE); with the temporary folder's path when a temporary file cannot be created, written
  // (ENOSPC, EFBIG, ...) or read; with EINTR when options.stop was set. A failed Sort holds no
  // temporary file and no buffers. `options` is kept (with its stop flag) for Next().
  [[nodiscard]] Status Sort(const std::string& path, const RangeList& key_ranges,
                            const SortOptions& options);

  // After a successful Sort(): stores the next record in key order and its 1-based line number
  // in the input and returns true. The view stays valid until the next call. Returns false at
  // the end and on a failure (then status() says which: a temporary file read, an input that
  // changed since Sort() when the input is read again, EINTR on a stop). At the end and on a
  // failure every temporary file and buffer is let go.
  [[nodiscard]] bool Next(std::string_view& line, std::int64_t& line_number);

  [[nodiscard]] const Status& status() const;
  // Lines of the input (those read so far while Sort() runs or after it failed).
  [[nodiscard]] std::int64_t lines() const;
  // True when the keys never decrease in the input. No temporary file is made then (for an
  // input that is a file): Next() hands the records out from memory when they all fit in a
  // sort buffer, else reads the input again (and fails with ESTALE if its identity, size,
  // modification time or change time changed).
  [[nodiscard]] bool presorted() const;
  // For progress while handing out: the input's size and the input bytes (lines and their
  // ends) of the records handed out so far; equal at the end.
  [[nodiscard]] std::uint64_t size() const;
  [[nodiscard]] std::uint64_t consumed() const;
  // Identity of the input file.
  [[nodiscard]] FileId id() const;

 private:
  // The sort's state; a type of its own keeps the machinery out of this header.
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vesmer
