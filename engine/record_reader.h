// The record reader: turns the next line of one input into the images the run compares and
// writes (line bytes, key, comparison bytes), and aligns two records' comparison lengths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/job.h"
#include "platform/files.h"

namespace vesmer {

// A key as bytes of the line plus, when any byte is not ASCII, its decoded text. Keys order by
// UTF-16 code unit; ASCII bytes order the same way, so they are compared as bytes.
struct RecordKey {
  std::string bytes;
  bool ascii = true;
  std::u16string text;  // filled only when !ascii

  [[nodiscard]] bool empty() const { return bytes.empty(); }
  void Clear() {
    bytes.clear();
    text.clear();
    ascii = true;
  }
};

// <0, 0, >0 as `a` orders before, with or after `b` by UTF-16 code unit.
[[nodiscard]] int CompareKeys(const RecordKey& a, const RecordKey& b);

// The run's state for one input: 0 the source, 1 the destination.
struct InputSide {
  LineReader reader;
  std::int64_t lines_read = 0;
  bool has_record = false;
  bool read_failed = false;

  // Images of the current record, valid until the next read of this side.
  std::string_view raw;         // the line as read, without its end; result files get these
  std::string_view line_bytes;  // the raw line as Windows holds the text (see cp932::Canonical)
  RecordKey key;
  RecordKey previous_key;
  std::string comparison;       // full comparison bytes of the current record
  std::size_t aligned_length = 0;  // how much of `comparison` the current pair compares

  [[nodiscard]] std::string_view ComparisonBytes() const {
    return std::string_view(comparison).substr(0, aligned_length);
  }

  std::string canonical_scratch;
};

// Reads and prepares the next record of `side`, or marks the side exhausted (has_record false;
// read_failed too when the read failed). Sets `out_of_order` when a key decreases.
void ReadRecord(InputSide& side, const ComparisonJob& job, bool& out_of_order);

// With ArrangeLength on, both current records compare at the shorter comparison length. Each
// pair starts from the records' own full comparison bytes, so a cut never outlives its pair.
void AlignRecordLengths(InputSide& source, InputSide& destination, const ComparisonJob& job);

// True when the two current comparison texts are identical code unit for code unit.
[[nodiscard]] bool ComparisonTextsEqual(const InputSide& source, const InputSide& destination);

}  // namespace vesmer
