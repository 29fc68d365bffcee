// Expected differences in a run: a pair whose every marked difference lies in fields whose
// rules accept it is expected, not differing, and each rule line counts the pairs it accepted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ranges.h"
#include "core/record_sink.h"
#include "rules/rules.h"

namespace vesmer {

class RulesJudge : public PairJudge {
 public:
  // `rules` must outlive the judge.
  explicit RulesJudge(const RuleSet& rules);

  // For a pair whose comparison texts differ: the columns its result-list marker marks with
  // "?" are each covered by a field of the rules whose bytes (of the line bytes, cut to the
  // field's columns) differ and whose rules accept that difference. Records compared as texts
  // (decoded) are judged on their texts instead: each field of the rules whose comparison texts
  // differ is judged on those texts (PairDiff::ComparedTexts), and the comparison texts must be
  // equal once the units of the accepted fields are left out. Keys are not touched: the pair
  // was matched before it is judged.
  [[nodiscard]] bool Accepts(const PairDiff& diff) override;

  // For each rule line of the RuleSet, the expected pairs in which it accepted a difference.
  [[nodiscard]] const std::vector<std::int64_t>& rule_pairs() const { return rule_pairs_; }

 private:
  // Whether every difference lies in fields whose rules accept it; fills accepting_.
  bool AcceptsBytes(const PairDiff& diff);
  bool AcceptsTexts(const PairDiff& diff);

  const RuleSet& rules_;
  std::vector<std::int64_t> rule_pairs_;
  std::string marker_;
  std::vector<int> accepting_;  // per field of the pair at hand: the rule line, or < 0
  RuleScratch scratch_;
  std::vector<ColumnRange> accepted_;  // decoded pairs: the columns of the accepted fields
};

}  // namespace vesmer
