#include "engine/record_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/cp932.h"

namespace vesmer {
namespace {

// The bytes of `line` from 1-based `start`, `end - start + 1` of them, fewer or none where the
// line is shorter.
std::string_view Slice(std::string_view line, std::int32_t start, std::int32_t end) {
  const auto first = static_cast<std::uint64_t>(start) - 1;
  if (first >= line.size()) return {};
  const auto length = static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start) + 1;
  return line.substr(first, static_cast<std::size_t>(std::min<std::uint64_t>(length, line.size())));
}

void BuildKey(std::string_view line, const RangeList& ranges, RecordKey& key) {
  key.Clear();
  const std::size_t used = ranges.UsedPrefix();
  for (std::size_t i = 0; i < used; ++i) {
    key.bytes.append(Slice(line, ranges[i].Start, ranges[i].End));
  }
  key.ascii = cp932::IsAscii(key.bytes);
  if (!key.ascii) {
    // Each range decodes by itself: a range cut inside a character decodes as Windows would.
    for (std::size_t i = 0; i < used; ++i) {
      cp932::DecodeAppend(Slice(line, ranges[i].Start, ranges[i].End), key.text);
    }
  }
}

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

int CompareKeys(const RecordKey& a, const RecordKey& b) {
  if (a.ascii && b.ascii) {
    const int c = a.bytes.compare(b.bytes);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  auto length = [](const RecordKey& k) { return k.ascii ? k.bytes.size() : k.text.size(); };
  auto unit = [](const RecordKey& k, std::size_t i) -> char16_t {
    return k.ascii ? static_cast<char16_t>(static_cast<unsigned char>(k.bytes[i])) : k.text[i];
  };
  const std::size_t na = length(a), nb = length(b);
  for (std::size_t i = 0; i < std::min(na, nb); ++i) {
    const char16_t ua = unit(a, i), ub = unit(b, i);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  return na < nb ? -1 : (na > nb ? 1 : 0);
}

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
    // Keys come from the line as Windows holds its text. Where the bytes up to the last key
    // column come back unchanged from a decode and encode, the raw bytes serve as they are.
    std::int32_t last = 0;
    for (std::size_t i = 0, n = job.KeyColumns.UsedPrefix(); i < n; ++i) {
      last = std::max(last, job.KeyColumns[i].End);
    }
    const std::string_view prefix =
        side.raw.substr(0, std::min<std::size_t>(side.raw.size(), static_cast<std::size_t>(last)));
    const std::string_view line =
        cp932::RoundTrips(prefix) ? side.raw : cp932::Canonical(side.raw, side.canonical_scratch_);
    RecordKey& key = side.keys_[1 - side.current_key_];
    BuildKey(line, job.KeyColumns, key);
    const RecordKey& previous = side.keys_[side.current_key_];
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
