// Layout and rules files on arbitrary bytes, and the rules on arbitrary field bytes: no crash,
// every parsed entry well formed, and the answer of AcceptingRule consistent: equal bytes are
// no difference, an accepting rule belongs to the field, 無視 accepts everything, and the
// answer does not depend on which side is the source.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/ranges.h"
#include "layout/layout.h"
#include "platform/cp932.h"
#include "rules/rules.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The input is cut at 0xFF 0xFF (no byte of either encoding's text) into the layout file, the
// rules file, the source field and the destination field.
std::vector<std::string_view> Parts(std::string_view all) {
  std::vector<std::string_view> parts;
  while (parts.size() < 3) {
    const std::size_t cut = all.find("\xFF\xFF");
    if (cut == std::string_view::npos) break;
    parts.push_back(all.substr(0, cut));
    all.remove_prefix(cut + 2);
  }
  parts.push_back(all);
  while (parts.size() < 4) parts.emplace_back();
  return parts;
}

void CheckLayout(const vesmer::Layout& layout) {
  std::string names;
  std::size_t named = 0;
  for (const vesmer::Field& field : layout.fields) {
    Check(!field.name.empty());
    Check(field.start >= 1 && field.length >= 1);
    Check(std::int64_t{field.start} + field.length - 1 <= std::numeric_limits<std::int32_t>::max());
    Check(field.attribute == 'X' || field.attribute == '9' || field.attribute == 'N');
    Check(layout.Find(field.name) == &field);
    // Names that a list can carry: no separator inside, no blanks to be trimmed off.
    if (field.name.find(',') == std::string::npos &&
        field.name.find("\xEF\xBC\x8C") == std::string::npos) {
      if (!names.empty()) names += ',';
      names += field.name;
      ++named;
    }
  }
  std::string range_text, message;
  if (!vesmer::FieldNamesToRangeText(layout, names, range_text, message)) return;
  vesmer::RangeList list;
  const vesmer::ParseOutcome outcome = vesmer::ParseRangeText(range_text, list);
  if (named > vesmer::kMaxRanges) {
    Check(outcome == vesmer::ParseOutcome::kOverLimit);
    return;
  }
  Check(outcome == vesmer::ParseOutcome::kValid);
  Check(list.UsedPrefix() == named);
}

void CheckRules(const vesmer::RuleSet& rules) {
  std::size_t count = 0;
  for (const vesmer::FieldRules& field : rules.fields) {
    Check(field.start >= 1 && field.length >= 1);
    Check(field.rules.size() == field.rule_lines.size() && !field.rules.empty());
    for (std::size_t i = 0; i < field.rules.size(); ++i) {
      Check(field.rule_lines[i] >= 0 &&
            static_cast<std::size_t>(field.rule_lines[i]) < rules.lines.size());
      if (i > 0) Check(field.rule_lines[i] > field.rule_lines[i - 1]);
      const std::string& tolerance = field.rules[i].tolerance;
      if (field.rules[i].kind == vesmer::Rule::Kind::kNumber) {
        Check(!tolerance.empty() &&
              tolerance.find_first_not_of("0123456789.") == std::string::npos);
      } else {
        Check(tolerance.empty());
      }
    }
    count += field.rules.size();
  }
  Check(count == rules.lines.size());
}

void CheckAnswers(const vesmer::FieldRules& field, std::string_view source,
                  std::string_view destination, vesmer::RuleScratch& scratch) {
  const int answer = vesmer::AcceptingRule(field, source, destination, scratch);
  Check((answer == vesmer::kNoDifference) == (source == destination));
  Check(vesmer::AcceptingRule(field, destination, source, scratch) == answer);
  Check(vesmer::AcceptingRule(field, source, destination) == answer);
  if (answer >= 0) {
    Check(std::find(field.rule_lines.begin(), field.rule_lines.end(), answer) !=
          field.rule_lines.end());
  }
  const bool ignores = std::any_of(field.rules.begin(), field.rules.end(), [](const auto& r) {
    return r.kind == vesmer::Rule::Kind::kIgnore;
  });
  if (ignores) Check(answer != vesmer::kStillDifferent);
  // A number always lies within any tolerance of itself.
  if (!field.rules.empty() && field.rules[0].kind == vesmer::Rule::Kind::kNumber) {
    const std::u16string text = vesmer::cp932::Decode(source);
    Check(vesmer::CompareNumbers(text, text, field.rules[0].tolerance, scratch) !=
          vesmer::NumberComparison::kBeyond);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts =
      Parts(std::string_view(reinterpret_cast<const char*>(data), size));

  vesmer::Layout layout;
  std::string message;
  const bool have_layout = vesmer::ParseLayoutText(parts[0], "/fuzz/layout.csv", layout, message);
  if (have_layout) {
    Check(!layout.fields.empty());
    CheckLayout(layout);
  } else {
    Check(layout.fields.empty() && message.starts_with("★"));
  }

  vesmer::RuleSet rules;
  if (!vesmer::ParseRulesText(parts[1], "/fuzz/rules.csv", have_layout ? &layout : nullptr, rules,
                              message)) {
    Check(rules.fields.empty() && rules.lines.empty() && message.starts_with("★"));
    // Arbitrary rules on arbitrary bytes: the evaluation does not need a parsed file.
    vesmer::FieldRules field;
    field.start = 1;
    field.length = 1;
    for (std::size_t i = 0; i < parts[1].size() && i < 8; ++i) {
      const auto kind = static_cast<vesmer::Rule::Kind>(static_cast<std::uint8_t>(parts[1][i]) % 5);
      field.rules.push_back({kind, kind == vesmer::Rule::Kind::kNumber ? "0.5" : ""});
      field.rule_lines.push_back(static_cast<int>(i));
    }
    vesmer::RuleScratch scratch;
    CheckAnswers(field, parts[2], parts[3], scratch);
    return 0;
  }
  CheckRules(rules);
  vesmer::RuleScratch scratch;
  for (const vesmer::FieldRules& field : rules.fields) {
    CheckAnswers(field, parts[2], parts[3], scratch);
  }
  return 0;
}
