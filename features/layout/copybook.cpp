#include "layout/copybook.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "numbers/decimal.h"
#include "platform/cp932.h"
#include "platform/table_file.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

constexpr std::int64_t kRecordLimit = std::numeric_limits<std::int32_t>::max();

// A problem with a line of the copybook, thrown inside this file only and turned into the
// message at its edge.
struct Refusal {
  int line;
  std::string text;
};

[[noreturn]] void Refuse(int line, std::string text) { throw Refusal{line, std::move(text)}; }

// ---- Text and lines ----

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(bytes.data() + i, bytes.size() - i, taken);
    if (c == kReplacementChar && bytes.substr(i, 3) != "\xEF\xBF\xBD") return false;
    i += taken;
  }
  return true;
}

// The text as UTF-8 lines, their line numbers counted from 1. A text that starts with a byte
// order mark is UTF-8: the first of its lines that is not sets `malformed_line`, when given.
std::vector<std::string> Lines(std::string_view bytes, int* malformed_line = nullptr) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  bool utf8 = true;
  if (bytes.starts_with(kByteOrderMark)) {
    bytes.remove_prefix(kByteOrderMark.size());
  } else {
    utf8 = IsValidUtf8(bytes);
  }
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find_first_of("\r\n");
    const std::string_view line = bytes.substr(0, end);
    if (utf8) {
      lines.emplace_back(line);
      if (malformed_line != nullptr && *malformed_line == 0 && !IsValidUtf8(line)) {
        *malformed_line = static_cast<int>(lines.size());
      }
    } else {
      cp932::DecodeAppendUtf8(line, lines.emplace_back());
    }
    if (end == std::string_view::npos) break;
    const bool crlf = bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
    bytes.remove_prefix(end + (crlf ? 2 : 1));
  }
  return lines;
}

// A character with the columns it takes in a fixed-format line: one for ASCII and half-width
// katakana, two for the rest, as their code page 932 bytes would.
struct Char {
  std::size_t offset, size;
  int width;
};

std::vector<Char> Chars(std::string_view line) {
  std::vector<Char> chars;
  for (std::size_t i = 0; i < line.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(line.data() + i, line.size() - i, taken);
    chars.push_back({i, taken, c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F) ? 1 : 2});
    i += taken;
  }
  return chars;
}

bool IsBlankLine(std::string_view line) { return table_file::TrimBlanks(line).empty(); }

// `text` without the blanks in front (half-width, tab, full-width).
std::string_view LeftTrimmed(std::string_view text) {
  const std::string_view trimmed = table_file::TrimBlanks(text);
  return trimmed.empty() ? trimmed
                         : text.substr(static_cast<std::size_t>(trimmed.data() - text.data()));
}

std::string Upper(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// The indicator area of a fixed-format line (column 7), '\0' for a line shorter than that, and
// the text area (columns 8-72).
struct FixedLine {
  char indicator = '\0';
  std::string_view text;
};

FixedLine SplitFixed(std::string_view line) {
  FixedLine fixed;
  int column = 0;
  std::size_t text_begin = line.size(), text_end = line.size();
  for (const Char& c : Chars(line)) {
    column += c.width;  // the last column the character takes
    const int first = column - c.width + 1;
    if (first == 7) fixed.indicator = c.width == 1 ? line[c.offset] : '?';
    if (first >= 8 && text_begin == line.size()) text_begin = c.offset;
    if (first > 72) {
      text_end = c.offset;
      break;
    }
  }
  if (text_begin < text_end) fixed.text = line.substr(text_begin, text_end - text_begin);
  return fixed;
}

bool CanBeFixed(std::string_view line) {
  const FixedLine fixed = SplitFixed(line);
  return std::string_view(" *-/dD$\0", 8).find(fixed.indicator) != std::string_view::npos;
}

// The position of a "*>" comment outside a literal, or npos; `quote` is the open literal's quote
// at the start of `text` ('\0' for none) and is left as it is at the end of `text`.
std::size_t InlineComment(std::string_view text, char& quote) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '*' && i + 1 < text.size() && text[i + 1] == '>') {
      return i;
    }
  }
  return std::string_view::npos;
}

// The copybook's entries as one text, continuation lines joined, comments left out, with the
// line each piece came from.
class SourceText {
 public:
  explicit SourceText(const std::vector<std::string>& lines) {
    bool free = false;
    for (const std::string& line : lines) {
      if (!IsBlankLine(line) && !CanBeFixed(line)) free = true;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const int number = static_cast<int>(i) + 1;
      std::string_view area;
      char indicator = ' ';
      if (free) {
        area = lines[i];
      } else {
        const FixedLine fixed = SplitFixed(lines[i]);
        indicator = fixed.indicator == '\0' ? ' ' : fixed.indicator;
        area = fixed.text;
      }
      if (indicator == '*' || indicator == '/' || indicator == 'D' || indicator == 'd' ||
          indicator == '$') {
        continue;
      }
      const std::string_view trimmed = table_file::TrimBlanks(area);
      if (trimmed.starts_with("*>")) continue;
      if (trimmed.starts_with(">>") || trimmed.starts_with("$")) {
        // A directive: only the source format matters to a layout.
        const std::string upper = Upper(trimmed);
        if (upper.starts_with(">>SOURCE") || upper.find("SOURCEFORMAT") != std::string::npos) {
          if (upper.find("FREE") != std::string::npos) free = true;
          if (upper.find("FIXED") != std::string::npos) free = false;
        } else if (!upper.starts_with("$SET")) {
          Refuse(number, "コンパイラ指示「" + ShownText(trimmed) + "」は扱えません");
        }
        continue;
      }
      // What the line adds: a continuation goes on with the word or the literal the line before
      // left open; a literal from just after the quote that starts its text.
      std::string_view body = area;
      const bool join = indicator == '-';
      if (join) {
        if (last_line_ == 0) Refuse(number, "継続行の前に続ける行がありません");
        body = LeftTrimmed(area);
        if (quote_ != '\0') {
          if (body.empty() || body.front() != quote_) {
            Refuse(number, "継続行は定数を続ける引用符で始めてください");
          }
          body.remove_prefix(1);
        } else {
          while (!text_.empty() && text_.back() == ' ') text_.pop_back();
        }
      } else if (quote_ != '\0') {
        Refuse(last_line_, "引用符で始まる定数が閉じていません");
      }
      body = body.substr(0, InlineComment(body, quote_));
      if (!join) text_ += ' ';
      Mark(number);
      text_ += body;
      last_line_ = number;
      // A literal open at the end of a fixed-format line runs on to column 72.
      if (quote_ != '\0' && !free) {
        int width = 0;
        for (const Char& c : Chars(area)) width += c.width;
        text_.append(static_cast<std::size_t>(std::max(0, 65 - width)), ' ');
      }
    }
    if (quote_ != '\0') Refuse(last_line_, "引用符で始まる定数が閉じていません");
    text_ += ' ';
  }

  [[nodiscard]] const std::string& text() const { return text_; }
  // The line the character at `offset` came from.
  [[nodiscard]] int LineAt(std::size_t offset) const {
    const auto after = std::upper_bound(
        marks_.begin(), marks_.end(), offset,
        [](std::size_t o, const std::pair<std::size_t, int>& mark) { return o < mark.first; });
    return after == marks_.begin() ? 1 : std::prev(after)->second;
  }

 private:
  void Mark(int line) { marks_.emplace_back(text_.size(), line); }

  std::string text_;
  std::vector<std::pair<std::size_t, int>> marks_;  // (offset in text_, line)
  char quote_ = '\0';
  int last_line_ = 0;
};

// ---- Words ----

struct Token {
  std::string_view text;
  int line = 0;
  bool period = false;  // the separator period that ends an entry
};

std::vector<Token> Tokens(const SourceText& source) {
  const std::string& text = source.text();
  std::vector<Token> tokens;
  auto separator_at = [&](std::size_t i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') return true;
    // ',' ';' and '.' separate only when a blank follows them.
    return (c == ',' || c == ';' || c == '.') && (i + 1 >= text.size() || text[i + 1] == ' ');
  };
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '.' && separator_at(i)) {
      tokens.push_back({std::string_view(text).substr(i, 1), source.LineAt(i), true});
      ++i;
      continue;
    }
    if (separator_at(i)) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && !separator_at(i)) {
      if (text[i] == '\'' || text[i] == '"') {
        const char quote = text[i++];
        while (i < text.size() && text[i] != quote) ++i;
        if (i >= text.size()) Refuse(source.LineAt(start), "引用符で始まる定数が閉じていません");
      }
      ++i;
    }
    tokens.push_back({std::string_view(text).substr(start, i - start), source.LineAt(start)});
  }
  return tokens;
}

// ---- Entries ----

enum class Usage : std::uint8_t {
  kNone,
  kDisplay,
  kDisplay1,
  kNational,
  kBinary,
  kBinary5,
  kPacked
};

enum class PicClass : std::uint8_t { kNone, kAlphanumeric, kEdited, kNumeric, kNational };

enum class SignClause : std::uint8_t {
  kNone,
  kLeading,
  kTrailing,
  kLeadingSeparate,
  kTrailingSeparate
};

struct Item {
  int level = 0;
  std::string name;  // "" for FILLER and unnamed items
  int line = 0;
  PicClass pic = PicClass::kNone;
  std::int64_t symbols = 0;  // characters of an alphanumeric, edited or national picture
  int digits = 0, places = 0;
  bool is_signed = false;
  int pic_line = 0;
  Usage usage = Usage::kNone;
  int usage_line = 0;
  SignClause sign = SignClause::kNone;
  int sign_line = 0;
  std::int64_t occurs = 0;  // 0: no OCCURS clause
  std::string redefines;
  int redefines_line = 0;
  std::vector<std::size_t> children;
  std::optional<std::size_t> parent;
  std::size_t redefined = 0;  // of a REDEFINES: the index of the item it redefines
  bool alternative = false;   // a later 01 or 77: another view of the record
  // Laid out:
  std::int64_t size = 0;  // bytes of one occurrence
  FieldType type = FieldType::kText;
  NumberSign number_sign = NumberSign::kAny;
  bool blank_when_zero = false;
  std::string shown_name;  // the name, qualified when other items share it
};

bool Is(std::string_view token, std::string_view word) { return Upper(token) == word; }

// Usages of items a layout cannot hold: floating point, indexes, pointers.
bool IsUnsupportedUsage(std::string_view token) {
  static constexpr std::string_view kWords[] = {
      "COMP-1",  "COMPUTATIONAL-1",   "COMP-2",           "COMPUTATIONAL-2", "INDEX",
      "POINTER", "PROCEDURE-POINTER", "FUNCTION-POINTER", "OBJECT"};
  return std::find(std::begin(kWords), std::end(kWords), Upper(token)) != std::end(kWords);
}

std::optional<Usage> UsageWord(std::string_view token, int line) {
  if (IsUnsupportedUsage(token)) Refuse(line, "USAGE " + ShownText(token) + " は扱えません");
  const std::string w = Upper(token);
  if (w == "DISPLAY") return Usage::kDisplay;
  if (w == "DISPLAY-1") return Usage::kDisplay1;
  if (w == "NATIONAL") return Usage::kNational;
  if (w == "COMP" || w == "COMPUTATIONAL" || w == "COMP-4" || w == "COMPUTATIONAL-4" ||
      w == "BINARY") {
    return Usage::kBinary;
  }
  if (w == "COMP-5" || w == "COMPUTATIONAL-5") return Usage::kBinary5;
  if (w == "COMP-3" || w == "COMPUTATIONAL-3" || w == "PACKED-DECIMAL") return Usage::kPacked;
  return std::nullopt;
}

// A word that starts a clause: it ends a list of names (KEY IS, INDEXED BY).
bool StartsClause(std::string_view token) {
  static constexpr std::string_view kWords[] = {
      "PIC",          "PICTURE", "USAGE",    "SIGN",      "LEADING",   "TRAILING",  "OCCURS",
      "REDEFINES",    "VALUE",   "VALUES",   "JUSTIFIED", "JUST",      "BLANK",     "SYNC",
      "SYNCHRONIZED", "GLOBAL",  "EXTERNAL", "INDEXED",   "ASCENDING", "DESCENDING"};
  const std::string w = Upper(token);
  if (std::find(std::begin(kWords), std::end(kWords), w) != std::end(kWords)) return true;
  return IsUnsupportedUsage(token) || UsageWord(token, 0).has_value();
}

bool IsWholeNumber(std::string_view token) {
  return !token.empty() && token.size() <= 10 &&
         std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t Number(std::string_view token) {
  std::int64_t n = 0;
  for (const char c : token) n = n * 10 + (c - '0');
  return n;
}

// Parses a PICTURE character-string into `item`.
void ParsePicture(std::string_view pic, int line, Item& item) {
  const std::string text = Upper(pic);
  bool national = false, alnum = false, edited = false, numeric = false, point = false;
  std::int64_t symbols = 0;
  int digits = 0, places = 0;
  auto bad = [&] { Refuse(line, "PIC「" + ShownText(pic) + "」が正しくありません"); };
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    std::size_t length = 1;
    if ((c == 'C' && text.compare(i, 2, "CR") == 0) ||
        (c == 'D' && text.compare(i, 2, "DB") == 0)) {
      length = 2;
    }
    i += length;
    std::int64_t count = 1;
    if (i < text.size() && text[i] == '(') {
      const std::size_t close = text.find(')', i);
      if (close == std::string::npos) bad();
      const std::string_view n = std::string_view(text).substr(i + 1, close - i - 1);
      if (!IsWholeNumber(n) || Number(n) < 1) bad();
      count = Number(n);
      i = close + 1;
    }
    switch (c) {
      case 'S':
        if (symbols != 0 || digits != 0 || item.is_signed || count != 1) bad();
        item.is_signed = true;
        numeric = true;
        continue;
      case 'V':
        if (point || count != 1) bad();
        point = true;
        numeric = true;
        continue;
      case '9':
        if (count > Decimal::kMaxDigits) {
          Refuse(line, "PIC「" + ShownText(pic) + "」の桁数は 38 までです");
        }
        digits += static_cast<int>(count);
        if (point) places += static_cast<int>(count);
        if (digits > Decimal::kMaxDigits) {
          Refuse(line, "PIC「" + ShownText(pic) + "」の桁数は 38 までです");
        }
        numeric = true;
        break;
      case 'X':
      case 'A':
        alnum = true;
        break;
      case 'N':
      case 'G':
        national = true;
        break;
      case 'P':
        Refuse(line, "PIC の P（桁の位置合わせ）は扱えません");
      case 'E':
        Refuse(line, "PIC の E（浮動小数点の編集）は扱えません");
      case 'Z':
      case '*':
      case '+':
      case '-':
      case ',':
      case '.':
      case 'B':
      case '0':
      case '/':
      case '$':
        edited = true;
        break;
      case 'C':
      case 'D':
        if (length != 2) bad();  // CR and DB only
        edited = true;
        break;
      default:
        bad();
    }
    symbols += count * static_cast<std::int64_t>(length);
    if (symbols > kRecordLimit) Refuse(line, "項目が 2147483647 バイトを超えています");
  }
  if (national && (alnum || edited || numeric)) bad();
  if (edited || alnum) {
    // Editing symbols and X go with 9 but never with S or V, which hold no byte.
    if (item.is_signed || (point && !edited)) bad();
    item.pic = edited ? PicClass::kEdited : PicClass::kAlphanumeric;
  } else if (national) {
    item.pic = PicClass::kNational;
  } else {
    if (digits == 0) bad();
    item.pic = PicClass::kNumeric;
  }
  item.symbols = symbols;
  item.digits = digits;
  // An edited picture is kept as its text: a V in it places no point in a value.
  item.places = item.pic == PicClass::kNumeric ? places : 0;
}

// Reads the clauses of one entry, from `i` to its period.
class EntryReader {
 public:
  EntryReader(const std::vector<Token>& tokens, std::size_t& i) : tokens_(tokens), i_(i) {}

  [[nodiscard]] bool AtEnd() const { return i_ >= tokens_.size() || tokens_[i_].period; }
  [[nodiscard]] const Token& Peek() const { return tokens_[i_]; }
  const Token& Take(std::string_view what) {
    if (AtEnd()) {
      Refuse(tokens_[std::min(i_, tokens_.size() - 1)].line, std::string(what) + "がありません");
    }
    return tokens_[i_++];
  }
  bool TakeIf(std::string_view word) {
    if (AtEnd() || !Is(Peek().text, word)) return false;
    ++i_;
    return true;
  }
  // Names up to the next clause or the period (the keys and indexes of an OCCURS).
  void SkipNames() {
    while (!AtEnd() && !StartsClause(Peek().text)) ++i_;
  }
  void SkipEntry() {
    while (!AtEnd()) ++i_;
  }

 private:
  const std::vector<Token>& tokens_;
  std::size_t& i_;
};

void ReadClauses(EntryReader& entry, Item& item) {
  while (!entry.AtEnd()) {
    const Token& clause = entry.Take("句");
    const std::string word = Upper(clause.text);
    const int line = clause.line;
    auto once = [&](bool given) {
      if (given) Refuse(line, word + " 句が二度あります");
    };
    if (word == "PIC" || word == "PICTURE") {
      once(item.pic != PicClass::kNone);
      entry.TakeIf("IS");
      ParsePicture(entry.Take("PIC の文字列").text, line, item);
      item.pic_line = line;
    } else if (word == "USAGE") {
      once(item.usage != Usage::kNone);
      entry.TakeIf("IS");
      const Token& u = entry.Take("USAGE の種類");
      const std::optional<Usage> usage = UsageWord(u.text, u.line);
      if (!usage) Refuse(u.line, "USAGE「" + ShownText(u.text) + "」が分かりません");
      item.usage = *usage;
      item.usage_line = line;
    } else if (const std::optional<Usage> usage = UsageWord(clause.text, line)) {
      once(item.usage != Usage::kNone);
      item.usage = *usage;
      item.usage_line = line;
    } else if (word == "SIGN" || word == "LEADING" || word == "TRAILING") {
      once(item.sign != SignClause::kNone);
      std::string where = word;
      if (word == "SIGN") {
        entry.TakeIf("IS");
        where = Upper(entry.Take("LEADING か TRAILING").text);
        if (where != "LEADING" && where != "TRAILING") {
          Refuse(line, "SIGN の後には LEADING か TRAILING を書いてください");
        }
      }
      const bool separate = entry.TakeIf("SEPARATE");
      if (separate) entry.TakeIf("CHARACTER");
      item.sign = where == "LEADING"
                      ? (separate ? SignClause::kLeadingSeparate : SignClause::kLeading)
                      : (separate ? SignClause::kTrailingSeparate : SignClause::kTrailing);
      item.sign_line = line;
    } else if (word == "OCCURS") {
      once(item.occurs != 0);
      const Token& n = entry.Take("OCCURS の回数");
      if (!IsWholeNumber(n.text) || Number(n.text) < 1) {
        Refuse(n.line, "OCCURS の回数「" + ShownText(n.text) + "」が正しくありません");
      }
      item.occurs = Number(n.text);
      if (!entry.AtEnd() && (Is(entry.Peek().text, "TO") || Is(entry.Peek().text, "DEPENDING"))) {
        Refuse(line, "OCCURS DEPENDING ON はまだ扱えません");
      }
      entry.TakeIf("TIMES");
      if (!entry.AtEnd() && Is(entry.Peek().text, "DEPENDING")) {
        Refuse(line, "OCCURS DEPENDING ON はまだ扱えません");
      }
      for (;;) {
        if (entry.TakeIf("ASCENDING") || entry.TakeIf("DESCENDING")) {
          entry.TakeIf("KEY");
          entry.TakeIf("IS");
          entry.SkipNames();
        } else if (entry.TakeIf("INDEXED")) {
          entry.TakeIf("BY");
          entry.SkipNames();
        } else {
          break;
        }
      }
    } else if (word == "REDEFINES") {
      once(!item.redefines.empty());
      item.redefines = std::string(entry.Take("REDEFINES の対象").text);
      item.redefines_line = line;
    } else if (word == "VALUE" || word == "VALUES") {
      if (!entry.TakeIf("IS")) entry.TakeIf("ARE");
      entry.TakeIf("ALL");
      entry.Take("VALUE の値");
    } else if (word == "JUSTIFIED" || word == "JUST") {
      entry.TakeIf("RIGHT");
    } else if (word == "BLANK") {
      entry.TakeIf("WHEN");
      if (!entry.TakeIf("ZERO") && !entry.TakeIf("ZEROS") && !entry.TakeIf("ZEROES")) {
        Refuse(line, "BLANK の後には WHEN ZERO を書いてください");
      }
      item.blank_when_zero = true;
    } else if (word == "GLOBAL" || word == "EXTERNAL") {
      // No effect on the record's bytes.
    } else if (word == "SYNC" || word == "SYNCHRONIZED") {
      Refuse(line, "SYNCHRONIZED は扱えません（境界合わせのすき間の大きさが決まりません）");
    } else {
      Refuse(line, "句「" + ShownText(clause.text) + "」が分かりません");
    }
  }
}

// ---- The record ----

class Copybook {
 public:
  void Read(const std::vector<Token>& tokens) {
    std::size_t i = 0;
    while (i < tokens.size()) {
      const Token& first = tokens[i];
      if (first.period) {
        ++i;
        continue;
      }
      const std::string word = Upper(first.text);
      if (word == "EJECT" || word == "SKIP1" || word == "SKIP2" || word == "SKIP3") {
        ++i;
        continue;
      }
      if (word == "COPY" || word == "REPLACE") {
        Refuse(first.line, word + " 文は扱えません（取り込む写しを直接指定してください）");
      }
      if (!IsWholeNumber(first.text) || first.text.size() > 2) {
        Refuse(first.line, "レベル番号がありません（「" + ShownText(first.text) + "」）");
      }
      const auto level = static_cast<int>(Number(first.text));
      ++i;
      EntryReader entry(tokens, i);
      if (level == 66 || level == 88) {
        entry.SkipEntry();
        continue;
      }
      if (level < 1 || (level > 49 && level != 77)) {
        Refuse(first.line, "レベル番号 " + std::string(first.text) + " は使えません");
      }
      Item item;
      item.level = level == 77 ? 1 : level;
      item.line = first.line;
      if (!entry.AtEnd() && !StartsClause(entry.Peek().text)) {
        const Token& name = entry.Take("項目名");
        if (!Is(name.text, "FILLER")) item.name = CheckedName(name);
      }
      ReadClauses(entry, item);
      if (i >= tokens.size()) Refuse(tokens.back().line, "記述の終わりの終止符（.）がありません");
      Place(std::move(item));
    }
    if (items_.empty()) Refuse(1, "レベル番号で始まる記述がありません");
  }

  // The layout's fields and groups.
  void LayOut(Layout& layout) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].children.empty() && items_[i].pic == PicClass::kNone) {
        Refuse(items_[i].line, "PIC がありません（下位の項目もありません）");
      }
    }
    for (const std::size_t top : tops_) Measure(top);
    Qualify();
    std::int64_t offset = 0;
    for (const std::size_t top : tops_) {
      const Item& item = items_[top];
      if (!item.redefines.empty()) {
        Emit(top, object_start_[item.redefined], {}, true, layout);
        continue;
      }
      const std::int64_t start = item.level == 1 ? 0 : offset;
      object_start_[top] = start;
      Emit(top, start, {}, item.alternative, layout);
      offset = start + item.size * std::max<std::int64_t>(item.occurs, 1);
      if (offset > kRecordLimit) Refuse(item.line, "レコードが 2147483647 バイトを超えています");
    }
  }

 private:
  static std::string CheckedName(const Token& name) {
    const std::string_view t = name.text;
    const bool digits_only =
        std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    // Nor may it hold what a layout file's line would read otherwise: a control character or
    // a full-width blank, which that line would trim.
    const bool control = std::any_of(t.begin(), t.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (digits_only || control || t.find("\xE3\x80\x80") != std::string_view::npos ||
        t.find_first_of("'\"(),.;:=#") != std::string_view::npos) {
      Refuse(name.line, "項目名「" + ShownText(t) + "」が正しくありません");
    }
    return std::string(t);
  }

  // Puts the item under the right parent, by its level.
  void Place(Item item) {
    const auto nesting = [&] {
      Refuse(item.line, "レベル番号 " + std::to_string(item.level) +
                            " が上の項目のレベル番号と合いません（入れ子になっていません）");
    };
    bool popped = false;
    while (!open_.empty() && items_[open_.back()].level > item.level) {
      open_.pop_back();
      popped = true;
    }
    if (!open_.empty() && items_[open_.back()].level == item.level) {
      open_.pop_back();  // the next item of the same group
    } else if (popped && !open_.empty()) {
      nesting();  // a level between those of a group and of its items: 05, 10, then 07
    } else if (open_.empty() && item.level != 1 && !tops_.empty() &&
               item.level != items_[tops_.front()].level) {
      nesting();  // a copybook of 05 items going on with 03
    }
    const std::size_t index = items_.size();
    if (!open_.empty()) {
      const std::size_t parent = open_.back();
      if (items_[parent].pic != PicClass::kNone) {
        Refuse(item.line, "PIC のある項目「" + Shown(items_[parent]) + "」（" +
                              std::to_string(items_[parent].line) + " 行目）の下に項目があります");
      }
      item.parent = parent;
    }
    if (item.occurs != 0 && item.level == 1) {
      Refuse(item.line, "レベル 01 と 77 の項目には OCCURS を指定できません");
    }
    if (!item.redefines.empty()) Redefine(item);
    if (item.parent) {
      items_[*item.parent].children.push_back(index);
    } else {
      // A record described again from its first byte on is another view of it.
      item.alternative = item.level == 1 && !tops_.empty();
      tops_.push_back(index);
    }
    items_.push_back(std::move(item));
    open_.push_back(index);
  }

  // Checks a REDEFINES: its object is the item just before at the same level.
  void Redefine(Item& item) {
    const std::vector<std::size_t>& siblings = item.parent ? items_[*item.parent].children : tops_;
    // The object may itself be redefined already: the redefinitions follow it one by one.
    std::optional<std::size_t> object;
    for (auto it = siblings.rbegin(); it != siblings.rend(); ++it) {
      const Item& before = items_[*it];
      if (before.redefines.empty()) {
        object = *it;
        break;
      }
    }
    if (!object || Upper(items_[*object].name) != Upper(item.redefines) ||
        items_[*object].level != item.level) {
      Refuse(item.redefines_line, "REDEFINES の対象「" + ShownText(item.redefines) +
                                      "」が、直前の同じレベルの項目ではありません");
    }
    if (items_[*object].occurs != 0) {
      Refuse(item.redefines_line,
             "OCCURS のある項目「" + ShownText(item.redefines) + "」は REDEFINES できません");
    }
    item.redefined = *object;
  }

  static std::string Shown(const Item& item) {
    return item.name.empty() ? std::string("FILLER") : ShownText(item.name);
  }

  // Sizes, types and the USAGE and SIGN a group passes down; below `top`.
  void Measure(std::size_t index, Usage usage = Usage::kNone, SignClause sign = SignClause::kNone,
               int usage_line = 0, int sign_line = 0) {
    Item& item = items_[index];
    if (item.usage == Usage::kNone) {
      item.usage = usage;
      item.usage_line = usage_line;
    } else if (usage != Usage::kNone && item.usage != usage) {
      Refuse(item.usage_line,
             "USAGE が、集団項目の USAGE（" + std::to_string(usage_line) + " 行目）と異なります");
    }
    if (item.sign == SignClause::kNone) {
      item.sign = sign;
      item.sign_line = sign_line;
    }
    if (!item.children.empty()) {
      std::int64_t size = 0;
      for (const std::size_t child : item.children) {
        Measure(child, item.usage, item.sign, item.usage_line, item.sign_line);
        const Item& c = items_[child];
        const std::int64_t whole = c.size * std::max<std::int64_t>(c.occurs, 1);
        if (!c.redefines.empty()) {
          const Item& object = items_[c.redefined];
          if (whole > object.size) {
            Refuse(c.line, "REDEFINES する「" + Shown(c) + "」（" + std::to_string(whole) +
                               " バイト）が、対象の「" + Shown(object) + "」（" +
                               std::to_string(object.size) + " バイト）より長くなっています");
          }
          continue;
        }
        size += whole;
        if (size > kRecordLimit) Refuse(c.line, "レコードが 2147483647 バイトを超えています");
      }
      item.size = size;
      return;
    }
    Elementary(item);
    if (item.size * std::max<std::int64_t>(item.occurs, 1) > kRecordLimit) {
      Refuse(item.line, "レコードが 2147483647 バイトを超えています");
    }
  }

  // The bytes and type of an elementary item, from its PIC, USAGE and SIGN.
  static void Elementary(Item& item) {
    const int line = item.pic_line != 0 ? item.pic_line : item.line;
    const std::string usage_name = [&] {
      switch (item.usage) {
        case Usage::kDisplay1:
          return "DISPLAY-1";
        case Usage::kNational:
          return "NATIONAL";
        case Usage::kBinary:
          return "BINARY";
        case Usage::kBinary5:
          return "COMP-5";
        case Usage::kPacked:
          return "COMP-3";
        case Usage::kNone:
        case Usage::kDisplay:
          break;
      }
      return "DISPLAY";
    }();
    auto misfit = [&] { Refuse(line, "この PIC は USAGE " + usage_name + " に使えません"); };
    const bool display = item.usage == Usage::kNone || item.usage == Usage::kDisplay;
    if (item.sign != SignClause::kNone &&
        !(item.pic == PicClass::kNumeric && item.is_signed && display)) {
      if (item.sign_line != 0) {
        Refuse(item.sign_line, "SIGN 句は S のある PIC の USAGE DISPLAY の項目にだけ使えます");
      }
    }
    switch (item.pic) {
      case PicClass::kAlphanumeric:
      case PicClass::kEdited:
        if (!display) misfit();
        item.size = item.symbols;
        item.type = FieldType::kText;
        return;
      case PicClass::kNational:
        if (item.usage != Usage::kNone && item.usage != Usage::kDisplay1 &&
            item.usage != Usage::kNational) {
          misfit();
        }
        item.size = item.symbols * 2;
        item.type = FieldType::kDoubleByte;
        return;
      case PicClass::kNumeric:
      case PicClass::kNone:
        break;
    }
    switch (item.usage) {
      case Usage::kNone:
      case Usage::kDisplay: {
        const bool separate =
            item.sign == SignClause::kLeadingSeparate || item.sign == SignClause::kTrailingSeparate;
        item.size = item.digits + (separate && item.is_signed ? 1 : 0);
        item.type = FieldType::kZoned;
        if (!item.is_signed) {
          item.number_sign = NumberSign::kUnsigned;
        } else {
          switch (item.sign) {
            case SignClause::kLeading:
              item.number_sign = NumberSign::kLeading;
              break;
            case SignClause::kLeadingSeparate:
              item.number_sign = NumberSign::kLeadingSeparate;
              break;
            case SignClause::kTrailingSeparate:
              item.number_sign = NumberSign::kTrailingSeparate;
              break;
            case SignClause::kNone:
            case SignClause::kTrailing:
              item.number_sign = NumberSign::kTrailing;
              break;
          }
        }
        return;
      }
      case Usage::kBinary:
      case Usage::kBinary5:
        if (item.digits > 18) Refuse(line, "BINARY の項目の桁数は 18 までです");
        item.size = item.digits <= 4 ? 2 : item.digits <= 9 ? 4 : 8;
        item.type = item.is_signed ? FieldType::kBinary : FieldType::kUnsignedBinary;
        return;
      case Usage::kPacked:
        if (item.digits > 31) Refuse(line, "COMP-3 の項目の桁数は 31 までです");
        item.size = item.digits / 2 + 1;
        item.type = FieldType::kPacked;
        item.number_sign = item.is_signed ? NumberSign::kAny : NumberSign::kUnsigned;
        return;
      case Usage::kDisplay1:
      case Usage::kNational:
        misfit();
    }
  }

  // The nearest group above item `i` that has a name (a FILLER group qualifies nothing).
  [[nodiscard]] std::optional<std::size_t> NamedParent(std::size_t i) const {
    std::optional<std::size_t> up = items_[i].parent;
    while (up && items_[*up].name.empty()) up = items_[*up].parent;
    return up;
  }

  // Qualifies the names that more than one item has, by the named groups above them, as far up
  // as tells them apart.
  void Qualify() {
    std::vector<std::size_t> depth(items_.size(), 0);
    for (;;) {
      std::map<std::string, std::vector<std::size_t>> by_name;
      for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].name.empty()) continue;
        std::string name = items_[i].name;
        std::optional<std::size_t> up = NamedParent(i);
        for (std::size_t d = 0; d < depth[i] && up; ++d, up = NamedParent(*up)) {
          name += " OF " + items_[*up].name;
        }
        items_[i].shown_name = name;
        by_name[Upper(name)].push_back(i);
      }
      bool changed = false;
      for (const auto& [name, same] : by_name) {
        if (same.size() < 2) continue;
        bool deeper = false;
        for (const std::size_t i : same) {
          std::size_t levels = 0;
          for (auto up = NamedParent(i); up; up = NamedParent(*up)) ++levels;
          if (depth[i] < levels) {
            ++depth[i];
            deeper = true;
          }
        }
        changed = changed || deeper;
        if (!deeper) {
          Refuse(items_[same[1]].line, "項目名「" + ShownText(items_[same[1]].shown_name) +
                                           "」は " + std::to_string(items_[same[0]].line) +
                                           " 行目にもあり、上位の集団項目でも区別できません");
        }
      }
      if (!changed) return;
    }
  }

  void Emit(std::size_t index, std::int64_t offset, std::vector<std::int64_t> subscripts,
            bool redefining, Layout& layout) {
    const Item& item = items_[index];
    redefining = redefining || !item.redefines.empty();
    const std::int64_t occurrences = std::max<std::int64_t>(item.occurs, 1);
    for (std::int64_t k = 1; k <= occurrences; ++k) {
      std::vector<std::int64_t> subs = subscripts;
      if (item.occurs != 0) subs.push_back(k);
      const std::int64_t start = offset + (k - 1) * item.size;
      std::string name;
      if (item.name.empty()) {
        name = "FILLER#" + std::to_string(++fillers_);
      } else {
        name = item.shown_name;
        if (!subs.empty()) {
          name += '(';
          // Subscripts apart by a blank, as COBOL allows: a comma would end the name in a
          // layout file and in a list of field names.
          for (std::size_t s = 0; s < subs.size(); ++s) {
            if (s > 0) name += ' ';
            name += std::to_string(subs[s]);
          }
          name += ')';
        }
      }
      if (item.children.empty()) {
        Field field;
        field.name = std::move(name);
        field.start = static_cast<std::int32_t>(start + 1);
        field.length = static_cast<std::int32_t>(item.size);
        field.type = item.type;
        field.attribute = item.type == FieldType::kText         ? 'X'
                          : item.type == FieldType::kDoubleByte ? 'N'
                                                                : '9';
        field.places = static_cast<std::uint8_t>(item.places);
        field.sign = item.number_sign;
        field.blank_when_zero = item.blank_when_zero;
        field.line = item.line;
        field.role = item.name.empty() ? FieldRole::kFiller
                     : redefining      ? FieldRole::kRedefining
                                       : FieldRole::kCompared;
        layout.fields.push_back(std::move(field));
        continue;
      }
      if (!item.name.empty()) {
        layout.groups.push_back({std::move(name), static_cast<std::int32_t>(start + 1),
                                 static_cast<std::int32_t>(item.size), item.line,
                                 layout.fields.size()});
      }
      std::int64_t at = start;
      for (const std::size_t child : item.children) {
        const Item& c = items_[child];
        if (!c.redefines.empty()) {
          Emit(child, object_start_[c.redefined], subs, redefining, layout);
          continue;
        }
        object_start_[child] = at;
        Emit(child, at, subs, redefining, layout);
        at += c.size * std::max<std::int64_t>(c.occurs, 1);
      }
    }
  }

  std::vector<Item> items_;
  std::vector<std::size_t> tops_;  // items of no parent, in order
  std::vector<std::size_t> open_;  // the items a new entry may go under, outermost first
  std::size_t fillers_ = 0;
  std::map<std::size_t, std::int64_t> object_start_;  // where each item last started
};

bool FirstEntryHasLevel(const std::vector<std::string>& lines) {
  try {
    const SourceText source(lines);
    const std::vector<Token> tokens = Tokens(source);
    for (const Token& t : tokens) {
      const std::string w = Upper(t.text);
      if (w == "EJECT" || w == "SKIP1" || w == "SKIP2" || w == "SKIP3") continue;
      return IsWholeNumber(t.text) && t.text.size() <= 2;
    }
  } catch (const Refusal&) {
    return true;  // something is wrong with it: the copybook reader names what
  }
  return false;
}

bool HasPictureWord(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string upper = Upper(line);
    for (const std::string_view word : {"PIC", "PICTURE"}) {
      for (std::size_t at = upper.find(word); at != std::string::npos;
           at = upper.find(word, at + 1)) {
        const bool starts = at == 0 || upper[at - 1] == ' ' || upper[at - 1] == '\t';
        const std::size_t after = at + word.size();
        const bool ends = after == upper.size() || upper[after] == ' ' || upper[after] == '\t';
        if (starts && ends) return true;
      }
    }
  }
  return false;
}

}  // namespace

bool LooksLikeCopybook(std::string_view bytes) {
  const std::vector<std::string> lines = Lines(bytes);
  return HasPictureWord(lines) && FirstEntryHasLevel(lines);
}

bool ParseCopybookText(std::string_view bytes, const std::string& path_for_messages, Layout& layout,
                       std::string& message) {
  layout.path = path_for_messages;
  layout.form = LayoutForm::kBytes;
  layout.form_line = 0;
  layout.fields.clear();
  layout.groups.clear();
  layout.copybook = true;
  try {
    Copybook copybook;
    int malformed = 0;
    std::vector<std::string> lines = Lines(bytes, &malformed);
    // As a layout file says it: names are kept as UTF-8, and bytes that are none would not read
    // back as themselves.
    if (malformed != 0) Refuse(malformed, "UTF-8 として正しくないバイトがあります");
    const SourceText source(std::move(lines));
    copybook.Read(Tokens(source));
    copybook.LayOut(layout);
  } catch (const Refusal& refusal) {
    message = table_file::LineMessage("レイアウトファイル", path_for_messages, refusal.line,
                                      refusal.text);
    layout.fields.clear();
    layout.groups.clear();
    return false;
  }
  return true;
}

}  // namespace vesmer
