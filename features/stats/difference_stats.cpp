#include "stats/difference_stats.h"

#include <algorithm>
#include <cstring>

#include "core/pair_diff.h"

namespace vesmer {

DifferenceStats::DifferenceStats(std::vector<FieldSpan> fields, std::size_t max_counted_columns,
                                 std::size_t keep_pairs, std::size_t kept_columns)
    : fields_(std::move(fields)),
      max_counted_columns_(max_counted_columns),
      keep_pairs_(keep_pairs),
      kept_columns_(kept_columns),
      field_counts_(fields_.size(), 0) {}

void DifferenceStats::OnPair(const Record& /*source*/, const Record& /*destination*/,
                             PairVerdict verdict, const PairDiff* diff) {
  if (verdict == PairVerdict::kEqual) return;
  if (verdict == PairVerdict::kExpected) {
    // Accepted differences are kept for the report; they are no differences to count.
    if (kept_expected_.size() < keep_pairs_) {
      Mark(*diff);
      Keep(*diff, true, kept_expected_);
    }
    return;
  }
  Count(*diff);
}

void DifferenceStats::OnLoneLine(const Record& /*record*/, const PairDiff& diff) { Count(diff); }

void DifferenceStats::OnUnmatched(const Record& record) {
  std::vector<KeptRecord>& kept = kept_unmatched_[Index(record.side())];
  if (kept.size() >= keep_pairs_) return;
  kept.push_back(
      KeptRecord{std::string(record.raw().substr(0, kept_columns_)), record.line_number()});
}

void DifferenceStats::Mark(const PairDiff& diff) {
  // A field with a "?" anywhere in its columns differs.
  differing_.clear();
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    if (diff.Differs(static_cast<std::size_t>(fields_[f].start) - 1,
                     static_cast<std::size_t>(fields_[f].length))) {
      differing_.push_back(static_cast<int>(f));
    }
  }
}

void DifferenceStats::Count(const PairDiff& diff) {
  ++pairs_;
  Mark(diff);
  for (const int f : differing_) ++field_counts_[static_cast<std::size_t>(f)];
  // Columns: counted at their place (the first max_counted_columns_), and known to differ.
  const std::string_view marker = diff.marker();
  const std::size_t max = marker.size();
  if (seen_.size() * 64 < max) seen_.resize((max + 63) / 64, 0);
  const std::size_t counted = std::min(max, max_counted_columns_);
  if (column_counts_.size() < counted) column_counts_.resize(counted, 0);
  const char* const begin = marker.data();
  for (const char* p = begin; (p = static_cast<const char*>(std::memchr(
                                   p, '?', max - static_cast<std::size_t>(p - begin)))) != nullptr;
       ++p) {
    const auto c = static_cast<std::size_t>(p - begin);
    if (c < counted) ++column_counts_[c];
    std::uint64_t& word = seen_[c / 64];
    const std::uint64_t bit = std::uint64_t{1} << (c % 64);
    if ((word & bit) == 0) {
      word |= bit;
      ++differing_columns_;
    }
    if (c + 1 == max) break;
  }
  if (kept_.size() < keep_pairs_) Keep(diff, false, kept_);
}

void DifferenceStats::Keep(const PairDiff& diff, bool expected, std::vector<KeptPair>& into) {
  const ListedPair& pair = diff.pair();
  KeptPair kept;
  kept.source_line.assign(pair.source_line.substr(0, kept_columns_));
  kept.destination_line.assign(pair.destination_line.substr(0, kept_columns_));
  kept.marker = diff.marker().substr(0, kept_columns_);
  kept.number = pair.number;
  kept.expected = expected;
  kept.differing_fields = differing_;
  into.push_back(std::move(kept));
}

}  // namespace vesmer
