// The record reader: turns the next line of one input into the images the run compares and
// writes (line bytes, key, comparison bytes), and aligns two records' comparison lengths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/job.h"
#include "engine/record_key.h"
#include "platform/files.h"

namespace vesmer {

// The run's state for one input: 0 the source, 1 the destination.
class InputSide {
 public:
  LineReader reader;
  std::int64_t lines_read = 0;
  bool has_record = false;
  bool read_failed = false;
  std::string_view raw;  // the current line as read, without its end; result files get these

  // The key of the current record, and of the record before it (for the order check).
  // The key of the current record, and of the record before it (for the order check), as
  // BuildKey makes them.
  [[nodiscard]] const std::string& key() const { return keys_[current_key_]; }
  [[nodiscard]] const std::string& previous_key() const { return keys_[1 - current_key_]; }
  void ClearKeys() {
    keys_[0].clear();
    keys_[1].clear();
  }

  // The comparison bytes of the current record as far as the current pair compares them.
  // Prepared on first use: most pairs are decided by their raw bytes alone.
  [[nodiscard]] std::string_view ComparisonBytes(const ComparisonJob& job);
  [[nodiscard]] std::size_t FullComparisonLength(const ComparisonJob& job) {
    Prepare(job);
    return comparison_.size();
  }
  void SetAlignedLength(std::size_t n) { aligned_length_ = n; }

 private:
  friend void ReadRecord(InputSide&, const ComparisonJob&, bool&);
  void Prepare(const ComparisonJob& job);

  std::string keys_[2];
  int current_key_ = 0;
  bool prepared_ = false;
  std::string comparison_;  // full comparison bytes of the current record
  std::size_t aligned_length_ = 0;
  std::string canonical_scratch_;
};

// Reads the next record of `side` and builds its key, or marks the side exhausted
// (has_record false; read_failed too when the read failed). Sets `out_of_order` when a key
// decreases.
void ReadRecord(InputSide& side, const ComparisonJob& job, bool& out_of_order);

// With ArrangeLength on, both current records compare at the shorter comparison length. Each
// pair starts from the records' own full comparison bytes, so a cut never outlives its pair.
void AlignRecordLengths(InputSide& source, InputSide& destination, const ComparisonJob& job);

// True when the two current comparison texts are identical code unit for code unit. Aligns
// the pair first.
[[nodiscard]] bool ComparisonTextsEqual(InputSide& source, InputSide& destination,
                                        const ComparisonJob& job);

}  // namespace vesmer
