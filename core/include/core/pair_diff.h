// The difference of one pair, worked out once for everyone that looks at it (the result list,
// the statistics, the rules, the report): the pair as the result list shows it, and its marker
// line with "?" under every differing column; for records compared as texts, the texts of its
// fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/ranges.h"
#include "core/record_reader.h"
#include "core/result_list.h"

namespace vesmer {

// A field's texts in the two records of a pair compared as texts (UTF-16, as decoded).
struct FieldTexts {
  std::u16string_view source;
  std::u16string_view destination;
  // The records have fields, and one of them lacks this one while the other has it: the field
  // differs even where both texts are empty.
  bool absent = false;
  [[nodiscard]] bool differ() const { return absent || source != destination; }
};

class PairDiff {
 public:
  PairDiff() = default;
  // The pair of `source` and `destination`, numbered `number`; either may be null (a line
  // without a partner is listed against an empty one). Nothing is worked out until asked for;
  // the records must stay as they are while the diff is looked at.
  PairDiff(const Record* source, const Record* destination, std::int64_t number) {
    Reset(source, destination, number);
  }
  // The same for a pair made elsewhere (its records, if any, unknown).
  explicit PairDiff(const ListedPair& pair) : number_(pair.number), pair_(pair), listed_(true) {}

  void Reset(const Record* source, const Record* destination, std::int64_t number) {
    source_ = source;
    destination_ = destination;
    number_ = number;
    listed_ = false;
    marked_ = false;
  }

  [[nodiscard]] const Record* source() const { return source_; }
  [[nodiscard]] const Record* destination() const { return destination_; }
  // The number the result list gives the pair.
  [[nodiscard]] std::int64_t number() const { return number_; }
  // The records are compared as texts (decoded; see Record::decoded): their fields are told
  // apart by the functions below, not by a marker of bytes.
  [[nodiscard]] bool decoded() const {
    const Record* any = source_ != nullptr ? source_ : destination_;
    return any != nullptr && any->decoded();
  }
  [[nodiscard]] const ListedPair& pair() const {
    if (!listed_) {
      pair_ = ListedPair::Of(source_, destination_, number_);
      listed_ = true;
    }
    return pair_;
  }
  // One byte per column of the longer line (pair().max()): "?" where the comparison bytes
  // differ and past the shorter line, " " elsewhere. Made when first asked for.
  [[nodiscard]] std::string_view marker() const {
    if (!marked_) {
      marker_.clear();
      pair().AppendMarker(0, pair().max(), marker_);
      marked_ = true;
    }
    return marker_;
  }
  // Decoded pairs: the texts of 1-based columns [start, start + length) (of field numbers, for
  // records of fields) as the records hold them, without padding when the job leaves it out:
  // what a field list shows. A missing record has empty texts.
  [[nodiscard]] FieldTexts ShownTexts(std::int32_t start, std::int32_t length) const;
  // The same cut from the records' comparison texts, which the pair was found to differ on:
  // omitted columns left out, full-width spaces as two blanks when they compare so, cut to the
  // shorter record when lengths are arranged. A field differs when these differ.
  [[nodiscard]] FieldTexts ComparedTexts(std::int32_t start, std::int32_t length) const;
  // Whether the comparison texts of the two decoded records are equal once the units of the
  // columns in `left_out` (1-based, inclusive; field numbers for records of fields) are left
  // out of both; records of fields must also have the same fields outside them.
  [[nodiscard]] bool ComparedTextsEqualWithout(std::span<const ColumnRange> left_out) const;

  // Whether any of the `length` columns from 0-based `first` on differs.
  [[nodiscard]] bool Differs(std::size_t first, std::size_t length) const {
    const std::string_view m = marker();
    if (first >= m.size()) return false;
    return m.substr(first, length).find('?') != std::string_view::npos;
  }

 private:
  const Record* source_ = nullptr;
  const Record* destination_ = nullptr;
  std::int64_t number_ = 0;
  mutable ListedPair pair_;
  mutable bool listed_ = false;
  mutable std::string marker_;  // kept from pair to pair: no allocation once it is long enough
  mutable bool marked_ = false;
};

}  // namespace vesmer
