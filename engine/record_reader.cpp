#include "engine/record_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/cp932.h"

namespace vesmer {
namespace {

// U+3000 is 0x81 0x40; on canonical bytes a character walk finds each one.
void ReplaceFullWidthSpaces(std::string& bytes) {
  if (bytes.find('\x81') == std::string::npos) return;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    if (n == 2 && bytes[i] == '\x81' && bytes[i + 1] == '\x40') {
      bytes[i] = ' ';
      bytes[i + 1] = ' ';
    }
    i += n;
  }
}

void MaskOmitted(std::string& bytes, const RangeList& ranges) {
  const std::size_t used = ranges.UsedPrefix();
  for (std::size_t i = 0; i < used; ++i) {
    const ColumnRange& r = ranges[i];
    // A range reaching past the end of this record is skipped whole.
    if (static_cast<std::uint64_t>(r.End) > bytes.size()) continue;
    std::memset(bytes.data() + r.Start - 1, ' ', static_cast<std::size_t>(r.End - r.Start + 1));
  }
}

}  // namespace

void ReadRecord(InputSide& side, const ComparisonJob& job, bool& out_of_order) {
  if (!side.reader.is_open() || !side.reader.Next(side.raw)) {
    side.has_record = false;
    side.read_failed = !side.reader.status().ok();
    return;
  }
  side.has_record = true;
  side.prepared_ = false;
  ++side.lines_read;

  if (job.UseKey) {
    std::string& key = side.keys_[1 - side.current_key_];
    BuildKey(KeyLineBytes(side.raw, job.KeyColumns, side.canonical_scratch_), job.KeyColumns, key);
    const std::string& previous = side.keys_[side.current_key_];
    if (!previous.empty() && CompareKeys(previous, key) > 0) out_of_order = true;
    side.current_key_ = 1 - side.current_key_;
  }
}

void InputSide::Prepare(const ComparisonJob& job) {
  if (prepared_) return;
  prepared_ = true;
  comparison_.assign(cp932::Canonical(raw, canonical_scratch_));
  if (job.SpaceCompare) ReplaceFullWidthSpaces(comparison_);
  if (job.UseOmit) MaskOmitted(comparison_, job.OmitColumns);
  aligned_length_ = comparison_.size();
}

std::string_view InputSide::ComparisonBytes(const ComparisonJob& job) {
  Prepare(job);
  return std::string_view(comparison_).substr(0, aligned_length_);
}

void AlignRecordLengths(InputSide& source, InputSide& destination, const ComparisonJob& job) {
  const std::size_t a = source.FullComparisonLength(job);
  const std::size_t b = destination.FullComparisonLength(job);
  const std::size_t n = job.ArrangeLength ? std::min(a, b) : SIZE_MAX;
  source.SetAlignedLength(std::min(a, n));
  destination.SetAlignedLength(std::min(b, n));
}

bool ComparisonTextsEqual(InputSide& source, InputSide& destination, const ComparisonJob& job) {
  // Identical lines give identical comparison texts whatever the options.
  if (source.raw == destination.raw) return true;
  AlignRecordLengths(source, destination, job);
  const std::string_view a = source.ComparisonBytes(job);
  const std::string_view b = destination.ComparisonBytes(job);
  if (a == b) return true;
  // Different bytes can still decode alike (a character cut by alignment or by an omitted
  // column decodes to the default character), so only the texts decide.
  thread_local std::u16string text_a, text_b;
  text_a.clear();
  text_b.clear();
  cp932::DecodeAppend(a, text_a);
  cp932::DecodeAppend(b, text_b);
  return text_a == text_b;
}

}  // namespace vesmer
