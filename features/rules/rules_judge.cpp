#include "rules/rules_judge.h"

#include <algorithm>
#include <cstring>

#include "core/pair_diff.h"

namespace vesmer {
namespace {

// The bytes of `line` in 1-based columns [start, start + length), fewer or none where the line
// is shorter.
std::string_view Cut(std::string_view line, std::int32_t start, std::int32_t length) {
  const auto first = static_cast<std::size_t>(start) - 1;
  if (first >= line.size()) return {};
  return line.substr(first, static_cast<std::size_t>(length));
}

}  // namespace

RulesJudge::RulesJudge(const RuleSet& rules)
    : rules_(rules), rule_pairs_(rules.lines.size(), 0), accepting_(rules.fields.size(), 0) {}

bool RulesJudge::Accepts(const PairDiff& diff) {
  if (diff.decoded() ? !AcceptsTexts(diff) : !AcceptsBytes(diff)) return false;
  // Expected: each rule line that accepted a difference here counts the pair once.
  std::vector<bool> counted(rule_pairs_.size(), false);
  for (const int line : accepting_) {
    if (line >= 0 && !counted[static_cast<std::size_t>(line)]) {
      counted[static_cast<std::size_t>(line)] = true;
      ++rule_pairs_[static_cast<std::size_t>(line)];
    }
  }
  return true;
}

bool RulesJudge::AcceptsTexts(const PairDiff& diff) {
  // Each field whose texts differ is judged on them; the comparison texts outside the fields
  // whose rules accept must then be equal, as they would have to be for the pair to be equal.
  accepted_.clear();
  for (std::size_t f = 0; f < rules_.fields.size(); ++f) {
    const FieldRules& field = rules_.fields[f];
    const FieldTexts texts = diff.ComparedTexts(field.start, field.length);
    accepting_[f] = texts.differ() ? AcceptingRule(field, texts.source, texts.destination,
                                                   texts.absent, scratch_)
                                   : kNoDifference;
    if (accepting_[f] >= 0) {
      accepted_.push_back(ColumnRange{field.start, field.start + field.length - 1});
    }
  }
  return diff.ComparedTextsEqualWithout(accepted_);
}

bool RulesJudge::AcceptsBytes(const PairDiff& diff) {
  // A copy: the columns accepted are blanked out of it below.
  marker_.assign(diff.marker());
  const std::size_t max = marker_.size();
  const std::string_view a = diff.source()->LineBytes(), b = diff.destination()->LineBytes();
  // Each field with a difference in its columns is judged once; a "?" covered by no field
  // whose rules accept is a real difference.
  for (std::size_t f = 0; f < rules_.fields.size(); ++f) {
    const FieldRules& field = rules_.fields[f];
    const auto first = static_cast<std::size_t>(field.start) - 1;
    accepting_[f] = kStillDifferent;
    if (first >= max) continue;
    const std::size_t n = std::min(static_cast<std::size_t>(field.length), max - first);
    if (std::memchr(marker_.data() + first, '?', n) == nullptr) {
      accepting_[f] = kNoDifference;
      continue;
    }
    accepting_[f] = AcceptingRule(field, Cut(a, field.start, field.length),
                                  Cut(b, field.start, field.length), scratch_);
  }
  // Blank out of the marker the columns of the fields whose rules accept: any "?" left is a
  // difference no rule accepts.
  for (std::size_t f = 0; f < rules_.fields.size(); ++f) {
    if (accepting_[f] < 0) continue;
    const auto first = static_cast<std::size_t>(rules_.fields[f].start) - 1;
    const std::size_t n = std::min(static_cast<std::size_t>(rules_.fields[f].length), max - first);
    std::memset(marker_.data() + first, ' ', n);
  }
  return std::memchr(marker_.data(), '?', max) == nullptr;
}

}  // namespace vesmer
