// Where pairs differ: for every differing pair (and line-mode line without a partner), the
// columns its result-list marker line marks with "?" counted per column and per field, and the
// first pairs kept whole for a report. Pairs compared as texts count per field only (a field
// differs when its texts do) and are kept field by field. A record sink: a run without it pays
// nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/job.h"
#include "core/record_sink.h"
#include "core/result_list.h"

namespace vesmer {

// A field's columns: 1-based start, length in bytes.
struct FieldSpan {
  std::int32_t start = 0;
  std::int32_t length = 0;
};

// A differing field of a pair compared as texts, as the field list shows it. Texts are UTF-8,
// control characters and bytes that were no character as `\xNN`, a lone surrogate as `U+XXXX`
// (AppendUtf8Display).
struct KeptField {
  std::string name;
  std::string source;
  std::string destination;
  // What differs: the part of each value between the longest beginning and the longest end
  // (whole characters) that both have, as [begin, end) bytes of `source` and `destination`.
  std::size_t source_begin = 0, source_end = 0;
  std::size_t destination_begin = 0, destination_end = 0;
};

// The field of `name` with the texts `source` and `destination` (UTF-16, as decoded), the part
// that differs worked out.
[[nodiscard]] KeptField MakeKeptField(std::string name, std::u16string_view source,
                                      std::u16string_view destination);

// A pair as the result list shows it, kept with its marker; or, compared as texts, as the
// field list shows it.
struct KeptPair {
  std::string source_line;  // the bytes shown (as read); empty for texts
  std::string destination_line;
  std::string marker;  // '?' or ' ' for each column of the longer line; empty for texts
  std::int64_t number = 0;
  bool expected = false;
  std::vector<int> differing_fields;  // indexes of the fields with a "?" (whose texts differ)
  // Compared as texts: the records' numbers (0 for a missing record), the key (UTF-8, shown as
  // the fields are; key mode only) and the differing fields.
  bool texts = false;
  std::int64_t source_number = 0;
  std::int64_t destination_number = 0;
  std::string key;
  std::vector<KeptField> fields;
};

// A record whose key found no partner, kept for a report as its result file holds it.
struct KeptRecord {
  std::string line;  // the bytes as read, cut to the kept columns
  std::int64_t number = 0;
  // Decoded: the record's text (UTF-8, shown as KeptField's values are), cut to the kept
  // columns as units; `line` then holds the bytes as read all the same.
  bool texts = false;
  std::string text{};
};

class DifferenceStats : public RecordSink {
 public:
  // Per-column counts are kept for the first `max_counted_columns` columns (a report's
  // heat-map); beyond them a column is only known to differ or not. Pairs compared as texts
  // have no columns: they leave the counts of columns as they are. Up to `keep_pairs`
  // differing and as many expected pairs are kept whole, and as many records without a partner
  // on each side, their lines cut to `kept_columns`.
  DifferenceStats(std::vector<FieldSpan> fields, std::size_t max_counted_columns,
                  std::size_t keep_pairs, std::size_t kept_columns = 16384);

  void OnPair(const Record& source, const Record& destination, PairVerdict verdict,
              const PairDiff* diff) override;
  void OnLoneLine(const Record& record, const PairDiff& diff) override;
  void OnUnmatched(const Record& record) override;
  // Equal pairs tell nothing; expected ones are kept.
  [[nodiscard]] bool WantsExpectedPairs() const override { return keep_pairs_ > 0; }

  // Differing pairs (and lone lines) counted.
  [[nodiscard]] std::int64_t pairs() const { return pairs_; }
  // For each field, the differing pairs with a "?" in its columns.
  [[nodiscard]] const std::vector<std::int64_t>& field_counts() const { return field_counts_; }
  // For each counted column (1-based column c at index c - 1), the pairs with a "?" there; empty
  // in a run that compares texts.
  [[nodiscard]] const std::vector<std::int64_t>& column_counts() const { return column_counts_; }
  // Columns with at least one "?".
  [[nodiscard]] std::int64_t differing_columns() const { return differing_columns_; }
  [[nodiscard]] const std::vector<KeptPair>& kept() const { return kept_; }
  [[nodiscard]] const std::vector<KeptPair>& kept_expected() const { return kept_expected_; }
  // The first records without a partner of the source ([0]) and of the destination ([1]).
  [[nodiscard]] const std::array<std::vector<KeptRecord>, 2>& kept_unmatched() const {
    return kept_unmatched_;
  }

 private:
  // The differing fields of the pair in differing_.
  void Mark(const PairDiff& diff);
  void Count(const PairDiff& diff);
  void Keep(const PairDiff& diff, bool expected, std::vector<KeptPair>& into);
  void KeepTexts(const PairDiff& diff, bool expected, std::vector<KeptPair>& into);

  std::vector<FieldSpan> fields_;
  std::size_t max_counted_columns_;
  std::size_t keep_pairs_;
  std::size_t kept_columns_;
  std::int64_t pairs_ = 0;
  std::vector<std::int64_t> field_counts_;
  std::vector<std::int64_t> column_counts_;
  std::vector<std::uint64_t> seen_;  // one bit per column: differs in some pair
  std::int64_t differing_columns_ = 0;
  std::vector<KeptPair> kept_, kept_expected_;
  std::array<std::vector<KeptRecord>, 2> kept_unmatched_;
  std::vector<int> differing_;  // fields of the pair at hand
};

}  // namespace vesmer
