#include "stats/difference_stats.h"

#include <algorithm>
#include <cstring>

#include "core/pair_diff.h"
#include "core/record_text.h"
#include "platform/display_text.h"

namespace vesmer {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The first `units` units of `text`, a character of two units never cut in half.
std::u16string_view Cut(std::u16string_view text, std::size_t units) {
  if (text.size() <= units) return text;
  if (units > 0 && IsHighSurrogate(text[units - 1])) --units;
  return text.substr(0, units);
}

}  // namespace

KeptField MakeKeptField(std::string name, std::u16string_view source,
                        std::u16string_view destination) {
  // The longest common beginning and end, in whole characters: neither ends inside a surrogate
  // pair (a lone low surrogate, a byte that was no character, is a character of its own).
  const std::size_t shorter = std::min(source.size(), destination.size());
  std::size_t prefix = 0;
  while (prefix < shorter && source[prefix] == destination[prefix]) ++prefix;
  if (prefix > 0 && prefix < std::max(source.size(), destination.size()) &&
      IsHighSurrogate(source[prefix - 1])) {
    --prefix;
  }
  std::size_t suffix = 0;
  while (suffix < shorter - prefix &&
         source[source.size() - 1 - suffix] == destination[destination.size() - 1 - suffix]) {
    ++suffix;
  }
  const auto pair_ends_at = [&](std::u16string_view text) {
    const std::size_t at = text.size() - suffix;
    return at > 0 && IsHighSurrogate(text[at - 1]);
  };
  if (suffix > 0 && IsLowSurrogate(source[source.size() - suffix]) &&
      (pair_ends_at(source) || pair_ends_at(destination))) {
    --suffix;
  }
  KeptField field;
  field.name = std::move(name);
  const auto show = [&](std::u16string_view text, std::string& out, std::size_t& begin,
                        std::size_t& end) {
    AppendUtf8Display(text.substr(0, prefix), out);
    begin = out.size();
    AppendUtf8Display(text.substr(prefix, text.size() - prefix - suffix), out);
    end = out.size();
    AppendUtf8Display(text.substr(text.size() - suffix), out);
  };
  show(source, field.source, field.source_begin, field.source_end);
  show(destination, field.destination, field.destination_begin, field.destination_end);
  return field;
}

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
  KeptRecord& added = kept.emplace_back(
      KeptRecord{std::string(record.raw().substr(0, kept_columns_)), record.line_number()});
  if (record.decoded()) {
    added.texts = true;
    AppendUtf8Display(Cut(record.Text().text, kept_columns_), added.text);
  }
}

void DifferenceStats::Mark(const PairDiff& diff) {
  // A field with a "?" anywhere in its columns differs; of texts, a field whose texts differ.
  differing_.clear();
  const bool texts = diff.decoded();
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    if (texts ? diff.ComparedTexts(fields_[f].start, fields_[f].length).differ()
              : diff.Differs(static_cast<std::size_t>(fields_[f].start) - 1,
                             static_cast<std::size_t>(fields_[f].length))) {
      differing_.push_back(static_cast<int>(f));
    }
  }
}

void DifferenceStats::Count(const PairDiff& diff) {
  ++pairs_;
  Mark(diff);
  for (const int f : differing_) ++field_counts_[static_cast<std::size_t>(f)];
  if (diff.decoded()) {
    // Texts have no columns of bytes to count.
    if (kept_.size() < keep_pairs_) Keep(diff, false, kept_);
    return;
  }
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
  if (diff.decoded()) {
    KeepTexts(diff, expected, into);
    return;
  }
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

void DifferenceStats::KeepTexts(const PairDiff& diff, bool expected, std::vector<KeptPair>& into) {
  const Record* src = diff.source();
  const Record* dst = diff.destination();
  const ComparisonJob& job = (src != nullptr ? src : dst)->job();
  KeptPair kept;
  kept.texts = true;
  kept.number = diff.number();
  kept.expected = expected;
  kept.differing_fields = differing_;
  kept.source_number = src != nullptr ? src->line_number() : 0;
  kept.destination_number = dst != nullptr ? dst->line_number() : 0;
  if (job.UseKey) {
    std::u16string key;
    AppendRangeText((src != nullptr ? src : dst)->Text(), job.KeyColumns, key);
    AppendUtf8Display(key, kept.key);
  }
  ForEachListedField(
      job, diff, [&](std::string_view name, std::u16string_view a, std::u16string_view b) {
        kept.fields.push_back(
            MakeKeptField(std::string(name), Cut(a, kept_columns_), Cut(b, kept_columns_)));
      });
  into.push_back(std::move(kept));
}

}  // namespace vesmer
