#include "core/pair_diff.h"

#include <algorithm>

namespace vesmer {
namespace {

// Whether a record of fields lacks a field of [first, end) (0-based numbers) that its partner
// has and that is compared. A missing record lacks nothing: its partner is listed alone.
bool Absent(const Record* source, const Record* destination, std::uint32_t first, std::uint64_t end,
            const ComparisonJob& job, bool omitted_count) {
  if (source == nullptr || destination == nullptr) return false;
  return LackDiffers(source->Text(), destination->Text(), first, end,
                     omitted_count || !job.UseOmit ? nullptr : &job.OmitColumns);
}

// Whether 0-based `offset` lies in one of the 1-based inclusive `ranges`.
bool InRanges(std::span<const ColumnRange> ranges, std::uint32_t offset) {
  const std::int64_t column = std::int64_t{offset} + 1;
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](const ColumnRange& r) { return r.Start <= column && column <= r.End; });
}

}  // namespace

FieldTexts PairDiff::ShownTexts(std::int32_t start, std::int32_t length) const {
  FieldTexts texts;
  const Record* any = source_ != nullptr ? source_ : destination_;
  if (any == nullptr) return texts;
  const bool trim = any->job().TrimPadding;
  if (source_ != nullptr) texts.source = Unpadded(FieldText(source_->Text(), start, length), trim);
  if (destination_ != nullptr) {
    texts.destination = Unpadded(FieldText(destination_->Text(), start, length), trim);
  }
  if (start >= 1 && length >= 1 && any->Text().fields != 0) {
    // As listed: a field one record lacks differs, omitted or not (the list leaves omitted
    // fields out by itself).
    texts.absent =
        Absent(source_, destination_, static_cast<std::uint32_t>(start - 1),
               std::uint64_t(start - 1) + static_cast<std::uint64_t>(length), any->job(), true);
  }
  return texts;
}

FieldTexts PairDiff::ComparedTexts(std::int32_t start, std::int32_t length) const {
  FieldTexts texts;
  const Record* any = source_ != nullptr ? source_ : destination_;
  if (any == nullptr) return texts;
  const bool trim = any->job().TrimPadding;
  const auto cut = [&](const Record& r) {
    const std::u16string_view text = r.ComparisonText();
    return Unpadded(FieldText(text, r.ComparisonOffsets().first(text.size()), start, length), trim);
  };
  if (source_ != nullptr) texts.source = cut(*source_);
  if (destination_ != nullptr) texts.destination = cut(*destination_);
  if (start >= 1 && length >= 1 && any->Text().fields != 0) {
    texts.absent =
        Absent(source_, destination_, static_cast<std::uint32_t>(start - 1),
               std::uint64_t(start - 1) + static_cast<std::uint64_t>(length), any->job(), false);
  }
  return texts;
}

bool PairDiff::ComparedTextsEqualWithout(std::span<const ColumnRange> left_out) const {
  struct Units {
    std::u16string_view text;
    std::span<const std::uint32_t> offsets;
    std::size_t at = 0;
    // Moves to the next unit that is not left out; false at the end.
    bool Next(std::span<const ColumnRange> ranges) {
      while (at < text.size() && InRanges(ranges, offsets[at])) ++at;
      return at < text.size();
    }
  };
  const auto units = [](const Record* r) {
    Units u;
    if (r == nullptr) return u;
    u.text = r->ComparisonText();
    u.offsets = r->ComparisonOffsets().first(u.text.size());
    return u;
  };
  Units a = units(source_), b = units(destination_);
  const Record* any = source_ != nullptr ? source_ : destination_;
  const bool fields = any != nullptr && any->Text().fields != 0;
  if (fields) {
    // The fields compared outside the ranges: as many on both sides.
    const ComparisonJob& job = any->job();
    const auto compared = [&](const Record* r) {
      std::size_t n = 0;
      const std::size_t count = r != nullptr ? r->Text().fields : 0;
      for (std::size_t f = 0; f < count; ++f) {
        const auto offset = static_cast<std::uint32_t>(f);
        if (job.UseOmit && InOmitRange(job.OmitColumns, offset)) continue;
        if (!InRanges(left_out, offset)) ++n;
      }
      return n;
    };
    if (compared(source_) != compared(destination_)) return false;
    // A field compared that one record lacks and the other has.
    if (source_ != nullptr && destination_ != nullptr) {
      const DecodedRecord& x = source_->Text();
      const DecodedRecord& y = destination_->Text();
      for (std::uint64_t f = 0, n = std::max(x.fields, y.fields); f < n; ++f) {
        const auto offset = static_cast<std::uint32_t>(f);
        if (Lacks(x, f) == Lacks(y, f) || InRanges(left_out, offset)) continue;
        if (!(job.UseOmit && InOmitRange(job.OmitColumns, offset))) return false;
      }
    }
  }
  for (;;) {
    const bool more_a = a.Next(left_out), more_b = b.Next(left_out);
    if (more_a != more_b) return false;
    if (!more_a) return true;
    if (a.text[a.at] != b.text[b.at]) return false;
    // A unit of one field never stands for a unit of another.
    if (fields && a.offsets[a.at] != b.offsets[b.at]) return false;
    ++a.at;
    ++b.at;
  }
}

}  // namespace vesmer
