// Expected differences: the rules file that says which differences in which fields are accepted
// (a migration changes widths, kana, padding or rounding on purpose), and the evaluation of those
// rules on the bytes of one field of a record pair.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layout/layout.h"
#include "platform/status.h"

namespace vesmer {

struct Rule {
  enum class Kind {
    kIgnore,  // 無視: any difference is accepted
    kWidth,   // 全半角: full-width and half-width forms of ASCII and katakana alike
    kKana,    // かなカナ: hiragana and katakana alike
    kTrim,    // 前後空白: leading and trailing blanks dropped
    kNumber,  // 数値[,許容差]: equal as numbers within the tolerance
  };
  Kind kind = Kind::kIgnore;
  // kNumber: the tolerance as a plain non-negative decimal without needless zeros ("0", "0.5",
  // "12"); "" for the other kinds.
  std::string tolerance;
};

// One line of the rules file, for reporting how often each line accepted a difference.
struct RuleLine {
  int line = 0;       // physical line number in the file, 1-based
  std::string field;  // the field as written: a layout name or "開始-終了"
  std::string rule;   // the rule's name, e.g. "数値"
  std::string value;  // the value as written, "" when none
};

// The rules of one set of columns, in the order they were written.
struct FieldRules {
  std::string field;        // as first written
  std::int32_t start = 0;   // 1-based byte column
  std::int32_t length = 0;  // bytes
  std::vector<Rule> rules;
  std::vector<int> rule_lines;  // parallel to `rules`: its index into RuleSet::lines
};

struct RuleSet {
  std::string path;
  // One entry per distinct (start, length), in the order of first mention. A field named by
  // its layout name and by its range is one entry; different columns stay apart even when they
  // overlap, and the caller decides how overlapping entries combine.
  std::vector<FieldRules> fields;
  std::vector<RuleLine> lines;  // every rule line in file order
};

// Parses the text of a rules file: one rule a line, "項目名,規則[,値]".
//
// Encodings, line ends, comments, blanks and the absence of quoting are as for layout files
// (ParseLayoutText); there is no header line. The field is a name of `layout` or a column range
// "開始-終了" as the range boxes take it (full-width digits allowed); a name of the layout wins
// over the same text read as a range. Without a layout (`layout` null) only ranges work. The
// rules are 無視, 全半角, かなカナ, 前後空白 and 数値; only 数値 takes a value, its tolerance: a
// non-negative decimal (digits, optionally a point and more digits; full-width digits allowed),
// 0 when missing or empty.
//
// On success fills `rules` (path = `path_for_messages`) and returns true. On the first bad line
// returns false with `message` naming the file and the line, e.g.
// "★規則ファイル /x/r.csv の 4 行目: 規則「無視」に値は書けません"; a file without a rule is
// refused as well. `rules` is then left empty.
[[nodiscard]] bool ParseRulesText(std::string_view bytes, const std::string& path_for_messages,
                                  const Layout* layout, RuleSet& rules, std::string& message);

// Reads and parses the rules file at `path`. Fails with the read error (`message` then holds
// the system's reason) or, when the text is bad, with EINVAL ("parse") and ParseRulesText's
// message.
[[nodiscard]] Status LoadRules(const std::string& path, const Layout* layout, RuleSet& rules,
                               std::string& message);

// AcceptingRule's answers besides an index into RuleSet::lines.
inline constexpr int kStillDifferent = -1;  // no rule accepted the difference
inline constexpr int kNoDifference = -2;    // the bytes are equal: nothing to accept

// Buffers AcceptingRule reuses, so that once they have grown to the longest field evaluating a
// pair allocates nothing. One per thread.
struct RuleScratch {
  std::u16string source;
  std::u16string destination;
  std::string digits_a;
  std::string digits_b;
  std::string difference;
};

// Decides whether the rules of `field` accept the difference between the field's bytes in the
// source record and in the destination record (code page 932, already cut to the field's
// columns; a record shorter than the field gives fewer bytes, or none).
//
// Both sides are decoded with cp932::Decode (a cut inside a double-byte character decodes to
// U+30FB on both sides alike), then the rules run in the order written: 全半角, かなカナ and
// 前後空白 transform both texts, 数値 compares the texts as transformed so far as numbers, 無視
// accepts. Texts are compared code unit by code unit.
//
// Returns the index into RuleSet::lines of the rule line that accepted the pair: the first rule,
// in the order written, after which the pair counts as equal, that is 無視; 数値 when both texts
// are numbers no further apart than its tolerance; a transforming rule when it turned unequal
// texts into equal ones. Rules that only transformed on the way get no credit, and rules after
// the accepting one are not run, so counting the answers gives, per rule line, the number of
// differing pairs that line accepted. Returns kStillDifferent when no rule accepted; this
// includes differing bytes that decode to equal texts which no rule but 無視 or 数値 accepts,
// as no transformation made them equal. Returns kNoDifference for equal bytes.
[[nodiscard]] int AcceptingRule(const FieldRules& field, std::string_view source_bytes,
                                std::string_view destination_bytes, RuleScratch& scratch);
// The same for a field of records compared as texts: `source` and `destination` are the field's
// texts as decoded (never converted to code page 932, so a character it lacks equals nothing
// but itself). `absent`: one record lacks the field that the other has (records of fields),
// which differs even from an empty text; only 無視 accepts that, as no transformation makes
// equal texts more equal. kNoDifference for equal texts of a field both records have.
[[nodiscard]] int AcceptingRule(const FieldRules& field, std::u16string_view source,
                                std::u16string_view destination, bool absent, RuleScratch& scratch);
// As above with a scratch of the calling thread's own.
[[nodiscard]] int AcceptingRule(const FieldRules& field, std::string_view source_bytes,
                                std::string_view destination_bytes);

// The transformations of 全半角, かなカナ and 前後空白 on UTF-16 text, in place.
//
// FoldWidth: full-width ASCII U+FF01-U+FF5E becomes ASCII, the full-width space a space and the
// full-width yen sign U+FFE5 the backslash (the yen sign of code page 932's byte 0x5C);
// half-width katakana and punctuation become full-width (ｱ -> ア, ｰ -> ー, ｡｢｣､･ -> 。「」、・),
// a half-width voiced or semi-voiced sound mark joining the kana before it where a joined form
// exists (ｶﾞ -> ガ, ｳﾞ -> ヴ, ﾊﾟ -> パ) and standing alone as ゛ or ゜ elsewhere.
void FoldWidth(std::u16string& text);
// FoldKana: hiragana U+3041-U+3096 and ゝゞ become the katakana 0x60 above them (ぁ -> ァ,
// ゔ -> ヴ, ゖ -> ヶ, ゝ -> ヽ).
void FoldKana(std::u16string& text);
// TrimFieldBlanks: drops half-width spaces and full-width spaces U+3000 at both ends.
void TrimFieldBlanks(std::u16string& text);

enum class NumberComparison { kWithin, kBeyond, kNotNumbers };

// Compares two texts as 数値 does, with exact decimal arithmetic. A number is: blanks (space,
// U+3000) around, an optional sign '+' or '-' either before or after the digits (mainframe
// style "123-"), ASCII digits with at most one decimal point and at least one digit ("5.",
// ".5"). Full-width digits and signs count only after 全半角 has made them ASCII; no grouping
// commas. `tolerance` is a Rule::tolerance text. kNotNumbers when either text is no number.
[[nodiscard]] NumberComparison CompareNumbers(std::u16string_view a, std::u16string_view b,
                                              std::string_view tolerance, RuleScratch& scratch);

}  // namespace vesmer
