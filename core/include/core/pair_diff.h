// The difference of one pair, worked out once for everyone that looks at it (the result list,
// the statistics, the rules, the report): the pair as the result list shows it, and its marker
// line with "?" under every differing column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/record_reader.h"
#include "core/result_list.h"

namespace vesmer {

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
  explicit PairDiff(const ListedPair& pair) : pair_(pair), listed_(true) {}

  void Reset(const Record* source, const Record* destination, std::int64_t number) {
    source_ = source;
    destination_ = destination;
    number_ = number;
    listed_ = false;
    marked_ = false;
  }

  [[nodiscard]] const Record* source() const { return source_; }
  [[nodiscard]] const Record* destination() const { return destination_; }
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
