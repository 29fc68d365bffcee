// Inputs whose records are not lines ended by CR: how their records are found in the file, and
// how a result file writes one back so that it holds each record exactly as it was read.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "core/record_reader.h"
#include "platform/files.h"
#include "platform/status.h"

namespace vesmer {

// The records of one file, read in a framing of its own.
class FramedSource : public LineSource {
 public:
  [[nodiscard]] virtual FileId id() const = 0;
  // Stops reading and closes the file; what was read ahead is dropped.
  virtual void Close() = 0;

  // Records of one length and no more (fixed-length records, nothing added or cut when they are
  // handed out): that length, else 0. Such a source lets its reader look at the records ahead
  // and move past them without having them handed out (the same-records path).
  [[nodiscard]] virtual std::size_t fixed_length() const { return 0; }
  // The bytes after the record handed out last that are read already: the next records one
  // after another, the last of them maybe cut. Valid until the next call of Next().
  [[nodiscard]] virtual std::string_view Ahead() const { return {}; }
  // Moves past the first `records` whole records of Ahead() as that many Next() calls would.
  virtual void Skip(std::int64_t /*records*/) {}
  // Asks the source to find out, ahead of the reader and off its thread where it can, which of
  // the records ahead are characters only (RecordDecoder::KnownClean of the input's own code
  // page, not the first record of the file); AheadKnownClean() then tells. Only the records of
  // every `every`-th read chunk from the `first`-th (from 0) are looked at: two inputs of the same
  // records can share the work.
  virtual void MarkCleanRecords(unsigned /*every*/ = 1, unsigned /*first*/ = 0) {}
  // Of Ahead(), the bytes from its start whose whole records are known to be characters only;
  // 0 says nothing of them.
  [[nodiscard]] virtual std::size_t AheadKnownClean() const { return 0; }
};

class RecordFraming {
 public:
  virtual ~RecordFraming() = default;
  // Opens `path` and starts reading its records. `observer`, when given, is passed every byte
  // of the file as LineReader::Open passes them; `interrupt` gives up a wait for slow input
  // (EINTR). A failure names the file.
  [[nodiscard]] virtual Status Open(const std::string& path, ChunkObserver* observer,
                                    const std::atomic<bool>* interrupt,
                                    std::unique_ptr<FramedSource>& source) const = 0;
  // Reads the regular file `path` through once, before any result file is emptied, and says
  // whether every record in it fits the framing: a run that would fail half way on a malformed
  // record fails before it writes anything. Fails as a source's read fails; EINTR once
  // `interrupt` is set.
  [[nodiscard]] virtual Status Check(const std::string& path,
                                     const std::atomic<bool>* interrupt) const = 0;
  // Appends `record`, as its source handed it out, the way a result file of kinds 0 to 4 holds
  // it: a line with CR LF after it, a fixed-length record as it is, a variable-length one
  // behind its descriptor word.
  virtual void Write(std::string_view record, OutputFile& file) const = 0;
  // The format as the user wrote it, canonical ("fixed=200,cp932"): for progress and summaries.
  [[nodiscard]] virtual std::string Text() const = 0;
};

}  // namespace vesmer
