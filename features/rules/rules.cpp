#include "rules/rules.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <utility>

#include "core/ranges.h"
#include "platform/cp932.h"
#include "platform/table_file.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

// ---------------------------------------------------------------------------------------------
// Transformations

// Full-width forms of the half-width katakana block U+FF61-U+FF9F, in order.
constexpr std::array<char16_t, 0xFF9F - 0xFF61 + 1> kFullWidthKana = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ',
    u'ョ', u'ッ', u'ー', u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ',
    u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ', u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ',
    u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ', u'ム', u'メ', u'モ', u'ヤ',
    u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜'};

constexpr char16_t kHalfVoicedMark = 0xFF9E;
constexpr char16_t kHalfSemiVoicedMark = 0xFF9F;

// The voiced form of a full-width katakana that has one, else 0. Only forms code page 932 can
// hold are joined (no ヷ or ヺ).
char16_t Voiced(char16_t kana) {
  if (kana == u'ウ') return u'ヴ';
  if ((kana >= u'カ' && kana <= u'チ' && (kana - u'カ') % 2 == 0) || kana == u'ツ' ||
      kana == u'テ' || kana == u'ト') {
    return static_cast<char16_t>(kana + 1);
  }
  if (kana >= u'ハ' && kana <= u'ホ' && (kana - u'ハ') % 3 == 0) {
    return static_cast<char16_t>(kana + 1);
  }
  return 0;
}

char16_t SemiVoiced(char16_t kana) {
  if (kana >= u'ハ' && kana <= u'ホ' && (kana - u'ハ') % 3 == 0) {
    return static_cast<char16_t>(kana + 2);
  }
  return 0;
}

bool IsFieldBlank(char16_t c) { return c == u' ' || c == u'\u3000'; }

// ---------------------------------------------------------------------------------------------
// Exact decimal arithmetic on digit strings

// A decimal number as digit views: no leading zeros in `integer`, no trailing zeros in
// `fraction`, so zero has both empty.
struct Decimal {
  bool negative = false;
  std::string_view integer;
  std::string_view fraction;
};

Decimal MakeDecimal(bool negative, std::string_view integer, std::string_view fraction) {
  while (!integer.empty() && integer.front() == '0') integer.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  return {negative, integer, fraction};
}

// Reads a field's text as a number, its digits going to `digits`.
bool ParseFieldNumber(std::u16string_view text, std::string& digits, Decimal& number) {
  while (!text.empty() && IsFieldBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsFieldBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  } else if (!text.empty() && (text.back() == u'+' || text.back() == u'-')) {
    negative = text.back() == u'-';
    text.remove_suffix(1);
  }
  digits.clear();
  std::size_t point = std::string::npos;
  for (const char16_t c : text) {
    if (c >= u'0' && c <= u'9') {
      digits.push_back(static_cast<char>(c));
    } else if (c == u'.' && point == std::string::npos) {
      point = digits.size();
    } else {
      return false;
    }
  }
  if (digits.empty()) return false;
  if (point == std::string::npos) point = digits.size();
  const std::string_view all = digits;
  number = MakeDecimal(negative, all.substr(0, point), all.substr(point));
  return true;
}

// A tolerance text as Rule::tolerance holds it.
Decimal ToleranceDecimal(std::string_view text) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos) return MakeDecimal(false, text, {});
  return MakeDecimal(false, text.substr(0, point), text.substr(point + 1));
}

int CompareMagnitude(const Decimal& a, const Decimal& b) {
  if (a.integer.size() != b.integer.size()) return a.integer.size() < b.integer.size() ? -1 : 1;
  if (const int c = a.integer.compare(b.integer); c != 0) return c < 0 ? -1 : 1;
  // Without trailing zeros, a fraction that is a prefix of the other is the smaller one, so
  // plain string order is numeric order.
  const int c = a.fraction.compare(b.fraction);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// |a - b|, its digits going to `work`.
Decimal AbsoluteDifference(const Decimal& a, const Decimal& b, std::string& work) {
  const std::size_t whole = std::max(a.integer.size(), b.integer.size());
  const std::size_t places = std::max(a.fraction.size(), b.fraction.size());
  const auto digit = [whole](const Decimal& d, std::size_t p) -> int {
    if (p < whole) {
      const std::size_t lead = whole - d.integer.size();
      return p < lead ? 0 : d.integer[p - lead] - '0';
    }
    const std::size_t f = p - whole;
    return f < d.fraction.size() ? d.fraction[f] - '0' : 0;
  };
  // One more digit in front for the carry of an addition.
  work.assign(whole + places + 1, '0');
  if (a.negative == b.negative) {
    const bool a_larger = CompareMagnitude(a, b) >= 0;
    const Decimal& larger = a_larger ? a : b;
    const Decimal& smaller = a_larger ? b : a;
    int borrow = 0;
    for (std::size_t p = whole + places; p-- > 0;) {
      int v = digit(larger, p) - digit(smaller, p) - borrow;
      borrow = v < 0 ? 1 : 0;
      if (v < 0) v += 10;
      work[p + 1] = static_cast<char>('0' + v);
    }
  } else {
    int carry = 0;
    for (std::size_t p = whole + places; p-- > 0;) {
      const int v = digit(a, p) + digit(b, p) + carry;
      carry = v / 10;
      work[p + 1] = static_cast<char>('0' + v % 10);
    }
    work[0] = static_cast<char>('0' + carry);
  }
  const std::string_view all = work;
  return MakeDecimal(false, all.substr(0, whole + 1), all.substr(whole + 1));
}

// ---------------------------------------------------------------------------------------------
// The rules file

struct RuleName {
  std::string_view name;
  Rule::Kind kind;
};
constexpr std::array<RuleName, 5> kRuleNames = {{
    {"無視", Rule::Kind::kIgnore},
    {"全半角", Rule::Kind::kWidth},
    {"かなカナ", Rule::Kind::kKana},
    {"前後空白", Rule::Kind::kTrim},
    {"数値", Rule::Kind::kNumber},
}};

// A tolerance value: digits, optionally a point and digits, full-width allowed; no sign. On
// success `canonical` holds it without needless zeros.
bool ParseTolerance(std::string_view value, std::string& canonical) {
  const std::string text = NormaliseRangeText(value);
  const std::size_t point = text.find('.');
  const std::string_view all = text;
  const std::string_view integer = all.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : all.substr(point + 1);
  if (integer.empty() && fraction.empty()) return false;
  for (const std::string_view part : {integer, fraction}) {
    for (const char c : part) {
      if (c < '0' || c > '9') return false;
    }
  }
  const Decimal d = MakeDecimal(false, integer, fraction);
  canonical = d.integer.empty() ? "0" : std::string(d.integer);
  if (!d.fraction.empty()) {
    canonical += '.';
    canonical += d.fraction;
  }
  return true;
}

// True when the text is made of what a column range is written with, so it is meant as one.
bool LooksLikeRange(std::string_view normalised) {
  if (normalised.empty()) return false;
  return normalised.find_first_not_of("0123456789-. ") == std::string_view::npos;
}

std::string LineMessage(const std::string& path, int line, std::string_view text) {
  return table_file::LineMessage("規則ファイル", path, line, text);
}

// Finds the columns of the field column `text`; "" on success, else what is wrong.
std::string ResolveField(std::string_view text, const Layout* layout, std::int32_t& start,
                         std::int32_t& length) {
  if (layout != nullptr) {
    if (const Field* field = layout->Find(text)) {
      start = field->start;
      length = field->length;
      return {};
    }
  }
  const std::string normalised = NormaliseRangeText(text);
  if (LooksLikeRange(normalised)) {
    RangeList list;
    if (ParseRangeText(normalised, list) != ParseOutcome::kValid || list.UsedPrefix() != 1) {
      return "範囲「" + ShownText(text) + "」が正しくありません（開始-終了 と書きます）";
    }
    start = list[0].Start;
    length = list[0].End - list[0].Start + 1;
    return {};
  }
  if (layout == nullptr) {
    return "項目名「" + ShownText(text) + "」を使うにはレイアウトファイルが要ります";
  }
  return "項目「" + ShownText(text) + "」はレイアウトにありません";
}

// The checks of one data line; "" when it holds a rule, else what is wrong with it.
std::string ParseRuleLine(const std::vector<std::string_view>& columns, const Layout* layout,
                          Rule& rule, std::int32_t& start, std::int32_t& length) {
  if (table_file::UsedColumns(columns) > 3) {
    return "列が多すぎます（項目名,規則,値 の 3 列までです）";
  }
  if (columns[0].empty()) return "項目名がありません";
  // Column by column, left to right, as the user reads the line.
  if (std::string field = ResolveField(columns[0], layout, start, length); !field.empty()) {
    return field;
  }
  if (columns.size() < 2 || columns[1].empty()) return "規則がありません";
  const std::string_view name = columns[1];
  const std::string_view value = columns.size() > 2 ? columns[2] : std::string_view{};
  const auto known = std::find_if(kRuleNames.begin(), kRuleNames.end(),
                                  [name](const RuleName& r) { return r.name == name; });
  if (known == kRuleNames.end()) {
    return "規則「" + ShownText(name) +
           "」はありません（無視、全半角、かなカナ、前後空白、数値 のいずれかです）";
  }
  rule.kind = known->kind;
  rule.tolerance.clear();
  if (rule.kind == Rule::Kind::kNumber) {
    if (value.empty()) {
      rule.tolerance = "0";
    } else if (!ParseTolerance(value, rule.tolerance)) {
      return "許容差「" + ShownText(value) + "」が 0 以上の数値ではありません";
    }
  } else if (!value.empty()) {
    return "規則「" + ShownText(name) + "」に値は書けません";
  }
  return {};
}

}  // namespace

void FoldWidth(std::u16string& text) {
  std::size_t out = 0;
  // Writing never overtakes reading, and the look-ahead reads ahead of both.
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xFF01 && c <= 0xFF5E) {
      c = static_cast<char16_t>(c - 0xFF01 + 0x21);
    } else if (c == 0x3000) {
      c = u' ';
    } else if (c == 0xFFE5) {
      c = u'\\';
    } else if (c >= 0xFF61 && c <= 0xFF9F) {
      c = kFullWidthKana[c - 0xFF61];
      if (i + 1 < text.size()) {
        const char16_t mark = text[i + 1];
        const char16_t joined =
            mark == kHalfVoicedMark ? Voiced(c) : (mark == kHalfSemiVoicedMark ? SemiVoiced(c) : 0);
        if (joined != 0) {
          c = joined;
          ++i;
        }
      }
    }
    text[out++] = c;
  }
  text.resize(out);
}

void FoldKana(std::u16string& text) {
  for (char16_t& c : text) {
    if ((c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E) {
      c = static_cast<char16_t>(c + 0x60);
    }
  }
}

void TrimFieldBlanks(std::u16string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsFieldBlank(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsFieldBlank(text[begin])) ++begin;
  text.erase(end);
  text.erase(0, begin);
}

NumberComparison CompareNumbers(std::u16string_view a, std::u16string_view b,
                                std::string_view tolerance, RuleScratch& scratch) {
  Decimal x, y;
  if (!ParseFieldNumber(a, scratch.digits_a, x) || !ParseFieldNumber(b, scratch.digits_b, y)) {
    return NumberComparison::kNotNumbers;
  }
  const Decimal difference = AbsoluteDifference(x, y, scratch.difference);
  return CompareMagnitude(difference, ToleranceDecimal(tolerance)) <= 0 ? NumberComparison::kWithin
                                                                        : NumberComparison::kBeyond;
}

namespace {

// The rules of `field` run on the texts in `scratch.source` and `scratch.destination`; `equal`:
// the texts are equal while the field still differs (its bytes, or its presence), which no
// transformation can end.
int RunRules(const FieldRules& field, bool equal, RuleScratch& scratch) {
  for (std::size_t i = 0; i < field.rules.size(); ++i) {
    const Rule& rule = field.rules[i];
    switch (rule.kind) {
      case Rule::Kind::kIgnore:
        return field.rule_lines[i];
      case Rule::Kind::kNumber:
        if (CompareNumbers(scratch.source, scratch.destination, rule.tolerance, scratch) ==
            NumberComparison::kWithin) {
          return field.rule_lines[i];
        }
        continue;
      case Rule::Kind::kWidth:
        FoldWidth(scratch.source);
        FoldWidth(scratch.destination);
        break;
      case Rule::Kind::kKana:
        FoldKana(scratch.source);
        FoldKana(scratch.destination);
        break;
      case Rule::Kind::kTrim:
        TrimFieldBlanks(scratch.source);
        TrimFieldBlanks(scratch.destination);
        break;
    }
    // Equal texts stay equal under any transformation, so only the rule that ends an
    // inequality is credited.
    if (!equal && scratch.source == scratch.destination) return field.rule_lines[i];
  }
  return kStillDifferent;
}

}  // namespace

int AcceptingRule(const FieldRules& field, std::string_view source_bytes,
                  std::string_view destination_bytes, RuleScratch& scratch) {
  if (source_bytes == destination_bytes) return kNoDifference;
  // 無視 first needs no text.
  if (!field.rules.empty() && field.rules[0].kind == Rule::Kind::kIgnore) {
    return field.rule_lines[0];
  }
  scratch.source.clear();
  scratch.destination.clear();
  cp932::DecodeAppend(source_bytes, scratch.source);
  cp932::DecodeAppend(destination_bytes, scratch.destination);
  return RunRules(field, scratch.source == scratch.destination, scratch);
}

int AcceptingRule(const FieldRules& field, std::u16string_view source,
                  std::u16string_view destination, bool absent, RuleScratch& scratch) {
  const bool equal = source == destination;
  if (equal && !absent) return kNoDifference;
  scratch.source.assign(source);
  scratch.destination.assign(destination);
  // A missing field is no text a transformation could bring to the other's, and no number.
  return RunRules(field, equal || absent, scratch);
}

int AcceptingRule(const FieldRules& field, std::string_view source_bytes,
                  std::string_view destination_bytes) {
  thread_local RuleScratch scratch;
  return AcceptingRule(field, source_bytes, destination_bytes, scratch);
}

bool ParseRulesText(std::string_view bytes, const std::string& path_for_messages,
                    const Layout* layout, RuleSet& rules, std::string& message) {
  rules.path = path_for_messages;
  rules.fields.clear();
  rules.lines.clear();
  std::map<std::pair<std::int32_t, std::int32_t>, std::size_t> index_by_columns;
  table_file::Reader reader(bytes);
  while (reader.Next()) {
    const auto& columns = reader.columns();
    const int line = reader.line_number();
    Rule rule;
    std::int32_t start = 0, length = 0;
    std::string problem = reader.malformed() ? "UTF-8 として正しくないバイトがあります"
                                             : ParseRuleLine(columns, layout, rule, start, length);
    if (!problem.empty()) {
      message = LineMessage(path_for_messages, line, problem);
      rules.fields.clear();
      rules.lines.clear();
      return false;
    }
    const auto [it, inserted] = index_by_columns.emplace(std::pair{start, length}, 0);
    if (inserted) {
      it->second = rules.fields.size();
      FieldRules& added = rules.fields.emplace_back();
      added.field = std::string(columns[0]);
      added.start = start;
      added.length = length;
    }
    FieldRules& target = rules.fields[it->second];
    target.rules.push_back(rule);
    target.rule_lines.push_back(static_cast<int>(rules.lines.size()));
    rules.lines.push_back({line, std::string(columns[0]), std::string(columns[1]),
                           columns.size() > 2 ? std::string(columns[2]) : std::string()});
  }
  if (rules.lines.empty()) {
    message = "★規則ファイル " + path_for_messages + " に規則がありません";
    return false;
  }
  return true;
}

Status LoadRules(const std::string& path, const Layout* layout, RuleSet& rules,
                 std::string& message) {
  rules.path = path;
  rules.fields.clear();
  rules.lines.clear();
  std::string bytes;
  const Status read = table_file::Read(path, bytes);
  if (!read.ok()) {
    message = "★規則ファイル " + path + " を読み込めません: " + read.reason();
    return read;
  }
  if (!ParseRulesText(bytes, path, layout, rules, message)) {
    return Status::Error(EINVAL, "parse", path);
  }
  return Status();
}

}  // namespace vesmer
