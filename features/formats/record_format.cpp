#include "formats/record_format.h"

#include <array>
#include <cstdint>

namespace vesmer {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// `word` is "key=value" with the key in either case: the value, else false.
bool ValueOf(std::string_view word, std::string_view key, std::string_view& value) {
  if (word.size() <= key.size() || word[key.size()] != '=') return false;
  if (!SameWord(word.substr(0, key.size()), key)) return false;
  value = word.substr(key.size() + 1);
  return true;
}

// A positive decimal of digits alone, at most `limit`.
bool ParseLength(std::string_view digits, std::size_t limit, std::size_t& length) {
  if (digits.empty()) return false;
  std::uint64_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
    if (n > limit) return false;  // also stops an overflow long before it could happen
  }
  if (n == 0) return false;
  length = static_cast<std::size_t>(n);
  return true;
}

// One ASCII character that can separate fields: printable or a tab, written as itself or, for
// the tab, as backslash-t. Not the quote and not a line end, which CSV gives meanings of their
// own.
bool ParseDelimiter(std::string_view text, char& delimiter) {
  if (text == "\\t") {
    delimiter = '\t';
    return true;
  }
  if (text.size() != 1) return false;
  const char c = text[0];
  if (c != '\t' && (c < ' ' || c > '~')) return false;
  if (c == '"') return false;
  delimiter = c;
  return true;
}

std::string Quoted(std::string_view word) { return "「" + std::string(word) + "」"; }

// What a word sets; each kind may be given once.
enum Kind { kFramingWord, kDelimiterWord, kHeaderWord, kCodePageWord, kKinds };

}  // namespace

std::string RecordFormat::Text() const {
  std::string text;
  switch (framing) {
    case Framing::kLines:
      text = "lines";
      break;
    case Framing::kLf:
      text = "lf";
      break;
    case Framing::kFixed:
      text = "fixed=" + std::to_string(record_length);
      break;
    case Framing::kRdw:
      text = "rdw";
      break;
    case Framing::kCsv:
      text = "csv";
      if (delimiter == '\t') {
        text += ",delimiter=\\t";
      } else if (delimiter != ',') {
        text += ",delimiter=";
        text += delimiter;
      }
      if (header) text += ",header";
      break;
  }
  text += ',';
  text += code_page;
  return text;
}

bool RecordFormat::ShiftJisBytes() const {
  // Converter names compare without case, '-' and '_' (as ICU compares them).
  std::string name;
  for (const char c : code_page) {
    if (c != '-' && c != '_') name += Lower(c);
  }
  static constexpr std::array<std::string_view, 14> kShiftJis = {
      "cp932",  "windows31j", "ms932",   "windows932",    "shiftjis",
      "sjis",   "xsjis",      "mskanji", "csshiftjis",    "cswindows31j",
      "ibm943", "ibm943c",    "ibm932",  "ibm943p15a2003"};
  for (const std::string_view known : kShiftJis) {
    if (name == known) return true;
  }
  return false;
}

bool ParseRecordFormat(std::string_view text, RecordFormat& format, std::string& message) {
  RecordFormat parsed;
  std::array<std::string_view, kKinds> given{};
  std::array<bool, kKinds> seen{};
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view word = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (word.empty()) {
      message = "形式の指定" + Quoted(text) + "に空の項目があります";
      return false;
    }
    Kind kind;
    std::string_view value;
    if (SameWord(word, "lines")) {
      kind = kFramingWord;
      parsed.framing = Framing::kLines;
    } else if (SameWord(word, "lf")) {
      kind = kFramingWord;
      parsed.framing = Framing::kLf;
    } else if (SameWord(word, "rdw")) {
      kind = kFramingWord;
      parsed.framing = Framing::kRdw;
    } else if (SameWord(word, "csv")) {
      kind = kFramingWord;
      parsed.framing = Framing::kCsv;
    } else if (ValueOf(word, "fixed", value)) {
      kind = kFramingWord;
      parsed.framing = Framing::kFixed;
      if (!ParseLength(value, RecordFormat::kMaxRecordLength, parsed.record_length)) {
        message = "形式の指定" + Quoted(word) + "が正しくありません";
        return false;
      }
    } else if (ValueOf(word, "delimiter", value)) {
      kind = kDelimiterWord;
      if (!ParseDelimiter(value, parsed.delimiter)) {
        message = "形式の指定" + Quoted(word) + "が正しくありません";
        return false;
      }
    } else if (SameWord(word, "header")) {
      kind = kHeaderWord;
      parsed.header = true;
    } else if (word.find('=') != std::string_view::npos || SameWord(word, "fixed") ||
               SameWord(word, "delimiter")) {
      // A keyword without its value, or with one it takes none, or a key we do not know:
      // never a code page name.
      message = "形式の指定" + Quoted(word) + "が正しくありません";
      return false;
    } else {
      kind = kCodePageWord;
      parsed.code_page.clear();
      for (const char c : word) parsed.code_page += Lower(c);
    }
    if (seen[kind]) {
      message = SameWord(given[kind], word) ? "形式の指定" + Quoted(word) + "が重複しています"
                                            : "形式の指定" + Quoted(given[kind]) + "と" +
                                                  Quoted(word) + "は一緒に使えません";
      return false;
    }
    seen[kind] = true;
    given[kind] = word;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (parsed.framing != Framing::kCsv) {
    for (const Kind kind : {kDelimiterWord, kHeaderWord}) {
      if (seen[kind]) {
        message = "形式の指定" + Quoted(given[kind]) + "は csv と一緒にしか使えません";
        return false;
      }
    }
  }
  format = std::move(parsed);
  return true;
}

}  // namespace vesmer
