#include "report/report.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mustache.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "core/messages.h"
#include "core/result_list.h"
#include "listing_html_mustache.h"
#include "pair_html_mustache.h"
#include "platform/cp932.h"
#include "platform/unicode.h"
#include "report_html_mustache.h"

namespace vesmer {
namespace {

using Data = kainjow::mustache::data;

constexpr std::size_t kSegment = 100;  // columns of a result list segment

// Fixed-pitch Japanese fonts first: a half-width character takes one cell and a full-width one
// two, as in the result list file.
constexpr const char* kMonoFonts =
    R"("BIZ UDGothic", "MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP", "Noto Sans CJK JP", )"
    R"(monospace)";

// ----------------------------------------------------------------------------------------------
// Numbers

void AppendHex(std::uint32_t value, int digits, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) out.push_back(kDigits[(value >> (4 * i)) & 0xF]);
}

std::string Decimal(std::int64_t value) { return std::to_string(value); }

// "1,234,567": figures of evidence are read by people, so thousands are grouped.
std::string Grouped(std::int64_t value) {
  const std::string digits = std::to_string(value);
  const std::size_t sign = value < 0 ? 1 : 0;
  std::string out = digits.substr(0, sign);
  const std::size_t n = digits.size() - sign;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[sign + i]);
  }
  return out;
}

// `part` of `whole` in percent with one decimal, halves rounded up ("12.5"); "" without a whole.
std::string Share(std::int64_t part, std::int64_t whole) {
  if (whole <= 0 || part < 0) return "";
  // Exact integer arithmetic, so the same figures always print the same text.
  __extension__ typedef unsigned __int128 Wide;
  const Wide tenths =
      (static_cast<Wide>(part) * 2000 + static_cast<Wide>(whole)) / (static_cast<Wide>(whole) * 2);
  const auto t = static_cast<std::uint64_t>(tenths);
  return std::to_string(t / 10) + "." + std::to_string(t % 10);
}

// The number as the result list prints it: at least `width` digits, zeros in front.
std::string Padded(std::uint64_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// ----------------------------------------------------------------------------------------------
// Text of the program (UTF-8) as HTML

// Characters that change how the text around them reads without showing themselves: C1
// controls, zero-width characters, direction marks, embeddings, overrides and isolates, the byte
// order mark. A path holding U+202E must not display reversed in the evidence.
bool IsHiddenFormat(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x00AD || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
         (c >= 0xFFF9 && c <= 0xFFFB);
}

bool IsControl(char32_t c) { return c < 0x20 || c == 0x7F; }

void AppendEscapedChar(char32_t c, std::string& out) {
  switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      AppendUtf8(c, out);
  }
}

// A character as HTML text: markup characters escaped, control and hidden format characters as
// "U+XXXX" framed in a box (fonts seldom have the control pictures).
void AppendShownChar(char32_t c, std::string& out) {
  if (IsControl(c) || IsHiddenFormat(c)) {
    out += "<span class=\"ctl\">U+";
    AppendHex(static_cast<std::uint32_t>(c), 4, out);
    out += "</span>";
  } else {
    AppendEscapedChar(c, out);
  }
}

// The escape of every {{ }} of the page: UTF-8 text (malformed bytes shown as U+FFFD) as
// AppendShownChar shows each character. The engine's own escape writes ' as &apos;, which older
// pages did not, and leaves control characters as they are.
void AppendEscaped(std::string_view utf8, std::string& out) {
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(utf8.data() + i, utf8.size() - i, taken);
    i += taken;
    AppendShownChar(c, out);
  }
}

std::string EscapeText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  AppendEscaped(utf8, out);
  return out;
}

// UTF-8 text for the value of an attribute, where no box can frame a character: control and
// hidden format characters as "[U+XXXX]", malformed bytes as U+FFFD. The escape does the rest.
std::string AttributeText(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(utf8.data() + i, utf8.size() - i, taken);
    i += taken;
    if (IsControl(c) || IsHiddenFormat(c)) {
      out += "[U+";
      AppendHex(static_cast<std::uint32_t>(c), 4, out);
      out += "]";
    } else {
      AppendUtf8(c, out);
    }
  }
  return out;
}

// A template of ours, parsed once a thread and kept: a job makes the pages of thousands of pairs
// from the same few. An engine's template may render again and again, but not on two threads
// at once.
kainjow::mustache::mustache& ParsedTemplate(std::string_view text) {
  struct Parsed {
    std::string_view text;
    kainjow::mustache::mustache engine;
  };
  thread_local std::vector<std::unique_ptr<Parsed>> parsed;
  for (const auto& p : parsed) {
    if (p->text.data() == text.data()) return p->engine;
  }
  parsed.push_back(
      std::make_unique<Parsed>(Parsed{text, kainjow::mustache::mustache{std::string(text)}}));
  parsed.back()->engine.set_custom_escape(EscapeText);
  return parsed.back()->engine;
}

// A list of the page data.
Data List() { return Data(Data::type::list); }

// kainjow's set() and push_back() copy what they are given, with all it holds, and its list
// grows by copying too (its move is not noexcept): the listing of a thousand pairs would be copied
// over and over. These move the data in instead. The list is ours to change; the engine only
// hands it out as const.
void Set(Data& object, const std::string& name, Data value) { object[name] = std::move(value); }
void Append(Data& list, Data item) {
  auto& items = const_cast<std::vector<Data>&>(list.list_value());
  if (items.size() == items.capacity()) {
    std::vector<Data> grown;
    grown.reserve(std::max<std::size_t>(4, items.size() * 2));
    for (Data& d : items) grown.emplace_back(std::move(d));
    items.swap(grown);
  }
  items.emplace_back(std::move(item));
}

// A section shown only for a text that is not empty. An empty string would be rendered as
// true, and a name left out would be looked up in the sections around it.
Data TextOrFalse(const std::string& text) { return text.empty() ? Data(false) : Data(text); }

// A command line whose lines break only at its spaces: each word is a box of its own, broken only
// when it is wider than the line itself (a browser would otherwise break after any hyphen, so
// "--report" could end a line with "--"). The pieces between single spaces: the word, "" where
// two spaces meet, and whether a space follows.
Data CommandWords(std::string_view utf8) {
  Data pieces = List();
  std::size_t start = 0;
  while (start <= utf8.size()) {
    std::size_t end = utf8.find(' ', start);
    if (end == std::string_view::npos) end = utf8.size();
    Data piece;
    Set(piece, "word", TextOrFalse(std::string(utf8.substr(start, end - start))));
    Set(piece, "space", end < utf8.size());
    Append(pieces, std::move(piece));
    start = end + 1;
  }
  return pieces;
}

// ----------------------------------------------------------------------------------------------
// Lines of code page 932 bytes, one cell per column

// How a character of a record line is shown: the character itself, or, when it has no glyph of
// its own or its decoded form would not fit its columns, a stand-in of the same width.
struct Shown {
  char32_t c = ' ';
  bool stand_in = false;
};

bool IsPrivateUse(char32_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// The character of `n` (1 or 2) bytes at `p`, decoded from code page 932.
Shown ShowCharacter(const char* p, std::size_t n) {
  const auto b0 = static_cast<std::uint8_t>(p[0]);
  // As the decoder decodes it: a lone lead byte and a pair not in the table give U+30FB.
  char32_t c;
  if (n == 1) {
    c = cp932::IsLeadByte(b0) ? cp932::kDefaultChar : cp932::SingleUnit(b0);
  } else {
    const char16_t unit = cp932::PairUnit(b0, static_cast<std::uint8_t>(p[1]));
    c = unit != 0 ? unit : cp932::kDefaultChar;
  }
  if (n == 1) {
    // A control byte, a lone lead byte (the cut of a segment parted it from its trail byte),
    // 0x80 and the bytes Windows maps to private use: of the single bytes from 0x80 on only
    // half-width katakana are text. In one column only a half-width dot fits in every font (few
    // have the control pictures); the cell's title names the byte.
    if (IsControl(c) || (b0 >= 0x80 && !(c >= 0xFF61 && c <= 0xFF9F))) return {U'\uFF65', true};
    return {c, false};
  }
  // User-defined characters (gaiji) have no glyph outside the system that defined them: the
  // geta mark stands in for them as it does on Japanese printouts.
  if (IsPrivateUse(c)) return {U'\u3013', true};
  const bool real_dot = b0 == 0x81 && static_cast<std::uint8_t>(p[1]) == 0x45;
  if (c == cp932::kDefaultChar && !real_dot) return {cp932::kDefaultChar, true};
  return {c, false};
}

// Gathers one line of a listing as cells of fixed width (a column is 1ch), so the columns line
// up under the ruler whatever font the reader has. Neighbouring characters of the same class and
// title share one cell. A shown character is never a control or hidden format character: those
// get a stand-in. The cells are written as markup at once, escaped as the page's {{ }} are: a
// listing has thousands of them, too many to hand to the template engine one by one.
class LineWriter {
 public:
  // Text that is all ASCII, one column a byte (the number in front of a line).
  void AddAscii(std::string_view text, std::string_view cls) {
    for (const char ch : text) Add(static_cast<unsigned char>(ch), 1, cls, {});
  }
  // One character of `columns` columns; `title` as AttributeText gives it. With `alone` the
  // character gets a cell of its own (a stand-in, or a cell shaded on one half only).
  void Add(char32_t c, int columns, std::string_view cls, std::string_view title,
           bool alone = false) {
    if (alone || cls != cls_ || title != title_) Close();
    if (columns_ == 0) {
      cls_.assign(cls);
      title_.assign(title);
    }
    AppendShownChar(c, text_);  // a character of the table or ASCII: never a surrogate
    columns_ += columns;
    if (alone) Close();
  }
  // Appends the line's cells to `html` (<span class title style>text</span> each) and starts
  // the next line.
  void End(std::string& html) {
    Close();
    html += cells_;
    cells_.clear();
  }

 private:
  void Close() {
    if (columns_ == 0) return;
    cells_ += "<span";
    if (!cls_.empty()) {
      cells_ += " class=\"";
      AppendEscaped(cls_, cells_);
      cells_ += '"';
    }
    if (!title_.empty()) {
      cells_ += " title=\"";
      AppendEscaped(title_, cells_);
      cells_ += '"';
    }
    cells_ += " style=\"width:";
    cells_ += std::to_string(columns_);
    cells_ += "ch\">";
    cells_ += text_;
    cells_ += "</span>";
    text_.clear();
    cls_.clear();
    title_.clear();
    columns_ = 0;
  }

  std::string cells_;
  std::string cls_;
  std::string title_;
  std::string text_;
  int columns_ = 0;
};

// Adds the characters of code page 932 `bytes` (the first at 0-based column `first_column` of
// the line) to `line`. `shade`, when not null, gives each column of the line its field: 0 none,
// else 1 + an index into `titles`, and `cls` is the class of a shaded column.
void AddCp932(std::string_view bytes, std::size_t first_column, const std::vector<int>* shade,
              const std::vector<std::string>* titles, char cls, LineWriter& line) {
  const auto shade_at = [&](std::size_t column) {
    return shade != nullptr && column < shade->size() ? (*shade)[column] : 0;
  };
  std::string klass, composed;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    const Shown shown = ShowCharacter(bytes.data() + i, n);
    const std::size_t column = first_column + i;
    const int left = shade_at(column);
    const int right = n == 2 ? shade_at(column + 1) : left;
    klass.clear();
    std::string_view title;
    if (left != 0 || right != 0) {
      klass.push_back(cls);
      // A double-byte character that a field boundary cuts: only its own half is shaded.
      if (right == 0) klass.push_back('l');
      if (left == 0) klass.push_back('r');
    }
    const bool half = klass.size() == 2;
    if (shown.stand_in) {
      if (!klass.empty()) klass.push_back(' ');
      klass.push_back('x');
      // The bytes it stands for.
      composed = "0x";
      for (std::size_t k = 0; k < n; ++k) {
        AppendHex(static_cast<std::uint8_t>(bytes[i + k]), 2, composed);
      }
      title = composed;
    }
    if (const int field = left != 0 ? left : right; field != 0) {
      const std::string& name = (*titles)[static_cast<std::size_t>(field - 1)];
      if (shown.stand_in) {
        composed.push_back(' ');
        composed += name;
        title = composed;
      } else {
        title = name;
      }
    }
    line.Add(shown.c, static_cast<int>(n), klass, title, half || shown.stand_in);
    i += n;
  }
}

// ----------------------------------------------------------------------------------------------
// The page data

// The differing pairs counted for field `i`, and the pairs rule `i` accepted (0 where a count is
// missing).
std::int64_t FieldCount(const ReportData& data, std::size_t i) {
  return i < data.field_counts.size() ? data.field_counts[i] : 0;
}
std::int64_t RuleCount(const ReportData& data, std::size_t i) {
  return i < data.rule_pairs.size() ? data.rule_pairs[i] : 0;
}

// "開始-終了" of a field, 1-based byte columns.
std::string FieldColumns(const Field& f) {
  const std::int64_t end = std::int64_t{f.start} + std::max<std::int64_t>(f.length, 1) - 1;
  return Decimal(f.start) + "-" + Decimal(end);
}

// The outcome as the evidence states it, in words.
std::string OutcomeText(const std::string& outcome) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"no-differences", "差異なし"},
      {"differences", "差異あり"},
      {"expected-differences", "規則で許容された差異のみ"},
      {"out-of-order", "キーの順序誤り"},
      {"stopped", "中止"},
      {"failed", "失敗"},
      {"refused", "開始できず"}};
  for (const auto& [code, name] : kNames) {
    if (outcome == code) return std::string(name);
  }
  return outcome;
}

// The heat-map colour of `count` (1..max): light to dark red, by the share of the maximum.
std::string HeatColour(std::int64_t count, std::int64_t max) {
  const std::int64_t t = max <= 1 ? 1000 : (count - 1) * 1000 / (max - 1);
  static constexpr int kLow[3] = {255, 214, 214}, kHigh[3] = {160, 16, 16};
  std::string out = "#";
  for (int i = 0; i < 3; ++i) {
    const std::int64_t v = kLow[i] + (kHigh[i] - kLow[i]) * t / 1000;
    AppendHex(static_cast<std::uint32_t>(v), 2, out);
  }
  return out;
}

// How many of how many are listed: {none, first, all, shown, total}, one of the first three true;
// "none" only when `none_found` may say so.
Data ListedNote(std::int64_t shown, std::int64_t total, bool none_found) {
  const bool none = none_found && total == 0;
  Data note;
  Set(note, "none", none);
  Set(note, "first", !none && shown < total);
  Set(note, "all", !none && shown >= total);
  Set(note, "shown", Grouped(shown));
  Set(note, "total", Grouped(total));
  return note;
}

// Everything the page template shows, in the words and figures the page shows.
class PageData {
 public:
  explicit PageData(const ReportData& data) : data_(data) {}
  Data Make();

 private:
  void Header(Data& page);
  void Inputs(Data& page);
  void Results(Data& page);
  void Fields(Data& page);
  void Columns(Data& page);
  void Unmatched(Data& page);
  void Rules(Data& page);
  Data Listing(const std::vector<KeptPair>& pairs, bool accepted);
  Data Pair(const KeptPair& pair, std::size_t index, bool accepted);
  // A pair compared as texts, as the field list lists it.
  Data TextPair(const KeptPair& pair, std::size_t index);
  // The ruler line of a listed segment, as markup; the same for every segment.
  const std::string& Ruler();
  // Records of kinds 0 and 1 found: records without a partner.
  [[nodiscard]] std::int64_t UnmatchedFound(int side = -1) const {
    std::int64_t n = 0;
    for (const Side s : kSides) {
      if (side < 0 || static_cast<int>(Index(s)) == side)
        n += data_.run.outputs[UnmatchedKind(s)].found;
    }
    return n;
  }

  const ReportData& data_;
  std::string segment_;
  std::string ruler_;
};

Data PageData::Make() {
  Data page;
  Set(page, "mono", kMonoFonts);
  Set(page, "title", data_.title);
  Set(page, "has_fields", !data_.fields.empty());
  Set(page, "texts", data_.texts);
  Set(page, "has_rules", !data_.rules_path.empty());
  Set(page, "lists_unmatched", !data_.unmatched[0].empty() || !data_.unmatched[1].empty());
  Set(page, "has_unmatched",
      !data_.unmatched[0].empty() || !data_.unmatched[1].empty() || UnmatchedFound() != 0);
  Header(page);
  Data options = List();
  for (const auto& [label, value] : data_.options) {
    Data option;
    Set(option, "label", label);
    Set(option, "value", value);
    Append(options, std::move(option));
  }
  Set(page, "has_options", !data_.options.empty());
  Set(page, "options", std::move(options));
  Inputs(page);
  Results(page);
  Fields(page);
  Columns(page);

  const auto shown = static_cast<std::int64_t>(data_.pairs.size());
  Data note;
  Set(note, "none", data_.differing_pairs == 0 && shown == 0);
  Set(note, "none_asked", data_.differing_pairs != 0 && shown == 0);
  Set(note, "first", shown != 0 && shown < data_.differing_pairs);
  Set(note, "all", shown != 0 && shown >= data_.differing_pairs);
  Set(note, "shown", Grouped(shown));
  Set(note, "total", Grouped(data_.differing_pairs));
  Set(page, "pairs_note", std::move(note));
  Set(page, "differing", data_.pairs.empty() ? Data(false) : Listing(data_.pairs, false));

  Unmatched(page);
  Rules(page);
  return page;
}

// What the evidence concludes, at a glance: the verdict in large type, marked by a symbol, a
// border and a colour each (so that it reads in black and white too), and the figures that
// decide it; then who made the evidence, when, and how.
void PageData::Header(Data& page) {
  struct Verdict {
    std::string_view outcome, css, symbol, text;
  };
  static constexpr Verdict kVerdicts[] = {
      {"no-differences", "v-ok", "○", "一致"},
      {"differences", "v-ng", "×", "差異あり"},
      {"expected-differences", "v-accepted", "△", "許容された差異のみ"},
      {"stopped", "v-halt", "―", "中止"},
  };
  Verdict verdict{"", "v-error", "！", "失敗"};  // failed, refused, out of key order
  for (const Verdict& v : kVerdicts) {
    if (data_.outcome == v.outcome) verdict = v;
  }
  Data shown;
  Set(shown, "css", std::string(verdict.css));
  Set(shown, "symbol", std::string(verdict.symbol));
  Set(shown, "text", std::string(verdict.text));
  Set(shown, "shows_status", verdict.css == "v-error" || verdict.css == "v-halt");
  Set(page, "verdict", std::move(shown));

  Data figures = List();
  const auto figure = [&](std::string_view label, const std::string& value) {
    Data f;
    Set(f, "label", std::string(label));
    Set(f, "value", value);
    Append(figures, std::move(f));
  };
  figure("差異のある組", Grouped(data_.differing_pairs) + " 組");
  figure("比較元だけのレコード", Grouped(UnmatchedFound(0)) + " 件");
  figure("比較先だけのレコード", Grouped(UnmatchedFound(1)) + " 件");
  if (!data_.rules_path.empty()) figure("許容された組", Grouped(data_.run.expected_pairs) + " 組");
  const InputEvidence& a = data_.inputs[0];
  const InputEvidence& b = data_.inputs[1];
  figure("入力の SHA-256", a.sha256.empty() || b.sha256.empty() ? std::string("—（求めていません）")
                           : a.sha256 == b.sha256               ? std::string("同じ")
                                                                : std::string("異なる"));
  Set(page, "figures", std::move(figures));

  Set(page, "status", data_.status);
  Set(page, "generated_at", data_.generated_at);
  Set(page, "version", data_.version);
  Set(page, "has_build", !data_.build.empty());
  Set(page, "build", data_.build);
  Set(page, "has_host_or_user", !data_.host.empty() || !data_.user.empty());
  Set(page, "host", data_.host);
  Set(page, "user", data_.user);
  Set(page, "has_working_folder", !data_.working_folder.empty());
  Set(page, "working_folder", data_.working_folder);
  Set(page, "command_line", CommandWords(data_.command_line));
}

void PageData::Inputs(Data& page) {
  // An input as the evidence shows it: the run's summary of it and what the evidence adds.
  struct Input {
    const InputSummary& run;
    const InputEvidence& evidence;
  };
  const std::array<Input, 2> in = {Input{data_.run.inputs[0], data_.inputs[0]},
                                   Input{data_.run.inputs[1], data_.inputs[1]}};
  Data labels = List();
  for (const char* label : messages::kSideNames) Append(labels, label);
  Set(page, "input_labels", std::move(labels));
  Data rows = List();
  const auto row = [&](std::string_view label, const char* cls, auto&& value) {
    Data r;
    Set(r, "label", std::string(label));
    Data values = List();
    for (const Input& input : in) {
      Data v;
      Set(v, "class", cls);
      Set(v, "value", value(input));
      Append(values, std::move(v));
    }
    Set(r, "values", std::move(values));
    Append(rows, std::move(r));
  };
  row("パス", "m", [](const Input& i) { return i.run.path; });
  row("絶対パス", "m", [](const Input& i) {
    return i.evidence.absolute_path.empty() ? std::string("—") : i.evidence.absolute_path;
  });
  row("サイズ", "n",
      [](const Input& i) { return Grouped(static_cast<std::int64_t>(i.run.bytes)) + " バイト"; });
  row("行数", "n", [](const Input& i) { return Grouped(i.run.lines) + " 行"; });
  row("SHA-256", "m", [](const Input& i) { return i.evidence.sha256; });
  if (!in[0].evidence.utf8_original_path.empty() || !in[1].evidence.utf8_original_path.empty()) {
    row("UTF-8 の元ファイル", "m", [](const Input& i) {
      return i.evidence.utf8_original_path.empty() ? std::string("—")
                                                   : i.evidence.utf8_original_path;
    });
    row("元ファイルの SHA-256", "m", [](const Input& i) {
      return i.evidence.utf8_original_path.empty() ? std::string("—")
                                                   : i.evidence.utf8_original_sha256;
    });
  }
  if (in[0].run.repeated_records != 0 || in[1].run.repeated_records != 0 ||
      in[0].run.repeated_keys != 0 || in[1].run.repeated_keys != 0) {
    row("重複キーのレコード", "n",
        [](const Input& i) { return Grouped(i.run.repeated_records) + " 件"; });
    row("重複したキー", "n", [](const Input& i) { return Grouped(i.run.repeated_keys) + " 種"; });
  }
  Set(page, "input_rows", std::move(rows));
}

void PageData::Results(Data& page) {
  Set(page, "outcome", OutcomeText(data_.outcome));
  Set(page, "differing_pairs", Grouped(data_.differing_pairs));
  Set(page, "same_text_other_bytes", Grouped(data_.run.same_text_other_bytes));
  Set(page, "expected_pairs", Grouped(data_.run.expected_pairs));
  Set(page, "has_error", !data_.error.empty());
  Set(page, "error", data_.error);
  Data outputs = List();
  for (const OutputKind kind : kAllOutputKinds) {
    const OutputSummary& o = data_.run.outputs[kind];
    Data output;
    Set(output, "kind", Decimal(static_cast<std::int64_t>(Index(kind))));
    Set(output, "name", messages::kOutputNames[Index(kind)]);
    Set(output, "selected", o.selected);
    Set(output, "found", Grouped(o.found));
    Set(output, "written", Grouped(o.written));
    Set(output, "complete", o.complete);
    Set(output, "path", o.path);
    Append(outputs, std::move(output));
  }
  Set(page, "outputs", std::move(outputs));
}

void PageData::Fields(Data& page) {
  Set(page, "has_layout", !data_.layout_path.empty());
  Set(page, "layout_path", data_.layout_path);
  Data fields = List();
  for (std::size_t i = 0; i < data_.fields.size(); ++i) {
    const Field& f = data_.fields[i];
    const std::int64_t differing = FieldCount(data_, i);
    Data field;
    Set(field, "name", f.name);
    Set(field, "columns", FieldColumns(f));
    Set(field, "attribute", std::string(1, f.attribute));
    Set(field, "differing", Grouped(differing));
    Set(field, "share", TextOrFalse(Share(differing, data_.differing_pairs)));
    if (i < data_.field_sides.size()) {
      Set(field, "source_side", data_.field_sides[i][0]);
      Set(field, "destination_side", data_.field_sides[i][1]);
      const bool counted = i < data_.invalid_numbers.size() && !data_.invalid_numbers[i][0].empty();
      Set(field, "invalid",
          counted ? data_.invalid_numbers[i][0] + " / " + data_.invalid_numbers[i][1]
                  : std::string("—"));
    }
    Append(fields, std::move(field));
  }
  Set(page, "fields", std::move(fields));
  Set(page, "has_sides", !data_.field_sides.empty());
  Data unmatched = List();
  for (std::size_t side = 0; side < 2; ++side) {
    for (const std::string& name : data_.unmatched_fields[side]) {
      Data entry;
      Set(entry, "side", side == 0 ? "比較元" : "比較先");
      Set(entry, "field", name);
      Append(unmatched, std::move(entry));
    }
  }
  Set(page, "has_unmatched_fields",
      !data_.unmatched_fields[0].empty() || !data_.unmatched_fields[1].empty());
  Set(page, "unmatched_fields", std::move(unmatched));
}

void PageData::Columns(Data& page) {
  const std::vector<std::int64_t>& counts = data_.column_counts;
  std::int64_t max = 0, nonzero = 0;
  for (const std::int64_t c : counts) {
    max = std::max(max, c);
    if (c > 0) ++nonzero;
  }
  Set(page, "differing_columns", Grouped(nonzero));
  Set(page, "columns", Grouped(static_cast<std::int64_t>(counts.size())));
  if (max == 0) {
    Set(page, "heat_map", false);
    return;
  }
  // Geometry in SVG units: a column is kCell wide; each row of 100 columns has the ruler above.
  // Its natural size on a screen, scrolled sideways where the window is narrower: a cell shrunk
  // to fit 800 pixels could not be read. Printed, it fits the page.
  constexpr int kCell = 8, kLabel = 52, kRuler = 12, kBox = 14, kPitch = 30;
  const std::size_t row_count = (counts.size() + kSegment - 1) / kSegment;
  const int legend_y = static_cast<int>(row_count) * kPitch + 8;
  Data map;
  Set(map, "max", Grouped(max));
  Set(map, "width", Decimal(kLabel + static_cast<int>(kSegment) * kCell + 4));
  Set(map, "height", Decimal(legend_y + 26));
  Set(map, "cell", Decimal(kCell));
  Set(map, "box", Decimal(kBox));
  // The ruler's characters, decoded once: (0-based column, columns, character).
  struct RulerChar {
    std::size_t column;
    std::size_t columns;
    std::string text;
  };
  std::vector<RulerChar> ruler;
  const std::string_view scale = data_.scale;
  for (std::size_t i = 0; i < scale.size() && i < kSegment;) {
    const std::size_t n = cp932::CharLength(scale.data() + i, scale.size() - i);
    if (i + n > kSegment) break;
    const Shown shown = ShowCharacter(scale.data() + i, n);
    if (shown.c != ' ' && shown.c != 0x3000) {
      std::string text;
      AppendUtf8(shown.c, text);
      ruler.push_back({i, n, std::move(text)});
    }
    i += n;
  }
  Data rows = List();
  for (std::size_t r = 0; r < row_count; ++r) {
    const int y = static_cast<int>(r) * kPitch;
    const std::size_t first = r * kSegment;
    const std::size_t in_row = std::min(kSegment, counts.size() - first);
    Data row;
    Data texts = List();
    for (const RulerChar& rc : ruler) {
      if (rc.column >= in_row) break;
      Data text;
      Set(text, "x",
          Decimal(kLabel + static_cast<int>(rc.column) * kCell +
                  static_cast<int>(rc.columns) * kCell / 2));
      Set(text, "y", Decimal(y + kRuler - 2));
      Set(text, "text", rc.text);
      Append(texts, std::move(text));
    }
    Set(row, "ruler", std::move(texts));
    Set(row, "label_x", Decimal(kLabel - 6));
    Set(row, "label_y", Decimal(y + kRuler + kBox - 3));
    Set(row, "first_column", Decimal(static_cast<std::int64_t>(first + 1)));
    Set(row, "frame_x", Decimal(kLabel));
    Set(row, "frame_y", Decimal(y + kRuler));
    Set(row, "frame_width", Decimal(static_cast<int>(in_row) * kCell));
    Data cells = List();
    for (std::size_t c = 0; c < in_row; ++c) {
      const std::int64_t count = counts[first + c];
      if (count <= 0) continue;
      Data cell;
      Set(cell, "x", Decimal(kLabel + static_cast<int>(c) * kCell));
      Set(cell, "y", Decimal(y + kRuler));
      Set(cell, "fill", HeatColour(count, max));
      Set(cell, "column", Decimal(static_cast<std::int64_t>(first + c + 1)));
      Set(cell, "count", Grouped(count));
      Append(cells, std::move(cell));
    }
    Set(row, "cells", std::move(cells));
    Append(rows, std::move(row));
  }
  Set(map, "rows", std::move(rows));
  // The legend: swatches from one pair to the maximum.
  std::vector<std::int64_t> steps = {1};
  for (int k = 1; k <= 4; ++k) {
    const std::int64_t v = std::max<std::int64_t>(1, (max * k + 2) / 4);
    if (v > steps.back()) steps.push_back(v);
  }
  int x = kLabel;
  Set(map, "legend_x", Decimal(x));
  Set(map, "legend_y", Decimal(legend_y));
  Set(map, "legend_text_y", Decimal(legend_y + 11));
  x += 34;
  Data legend = List();
  for (const std::int64_t v : steps) {
    const std::string label = Grouped(v) + (v == max ? " 組（最大）" : " 組");
    Data swatch;
    Set(swatch, "x", Decimal(x));
    Set(swatch, "fill", HeatColour(v, max));
    Set(swatch, "text_x", Decimal(x + kBox + 4));
    Set(swatch, "label", label);
    Append(legend, std::move(swatch));
    x += kBox + 16 + static_cast<int>(label.size()) * 4;
  }
  Set(map, "legend", std::move(legend));
  Set(page, "heat_map", std::move(map));
}

const std::string& PageData::Ruler() {
  if (ruler_.empty()) {
    LineWriter line;
    line.AddAscii(std::string(14, ' '), "sc");
    AddCp932(data_.scale, 0, nullptr, nullptr, 0, line);
    line.End(ruler_);
  }
  return ruler_;
}

// A value of a field list: its pieces {text, differs}, the part that differs apart.
Data ValuePieces(const std::string& value, std::size_t begin, std::size_t end) {
  Data pieces = List();
  begin = std::min(begin, value.size());
  end = std::clamp(end, begin, value.size());
  const std::size_t cuts[] = {0, begin, end, value.size()};
  for (int i = 0; i < 3; ++i) {
    if (cuts[i + 1] == cuts[i]) continue;
    Data piece;
    Set(piece, "text", value.substr(cuts[i], cuts[i + 1] - cuts[i]));
    Set(piece, "differs", i == 1);
    Append(pieces, std::move(piece));
  }
  return pieces;
}

Data PageData::Pair(const KeptPair& pair, std::size_t index, bool accepted) {
  if (pair.texts) return TextPair(pair, index);
  const std::size_t max =
      std::max({pair.source_line.size(), pair.destination_line.size(), pair.marker.size()});
  // Each column's differing field (1 + its index among the titles), the first listed winning.
  std::vector<int> shade(max, 0);
  std::vector<std::string> titles;
  std::string names;
  for (const int f : pair.differing_fields) {
    if (f < 0 || static_cast<std::size_t>(f) >= data_.fields.size()) continue;
    const Field& field = data_.fields[static_cast<std::size_t>(f)];
    titles.push_back(AttributeText(field.name + " (" + FieldColumns(field) + ")"));
    if (!names.empty()) names += "、";
    names += field.name;
    if (field.start < 1 || field.length < 1) continue;
    const std::size_t begin = static_cast<std::size_t>(field.start) - 1;
    const std::size_t end = std::min(max, begin + static_cast<std::size_t>(field.length));
    for (std::size_t c = begin; c < end; ++c) {
      if (shade[c] == 0) shade[c] = static_cast<int>(titles.size());
    }
  }
  Data shown;
  Set(shown, "index", Grouped(static_cast<std::int64_t>(index + 1)));
  Set(shown, "number", Decimal(pair.number));
  Set(shown, "field_names", TextOrFalse(names));

  const std::string number = Padded(static_cast<std::uint64_t>(pair.number), 7) + " ";
  const char shade_class = accepted ? 'a' : 'f';
  static constexpr const char* kTags[3] = {"-O:", "-C:", "-R:"};
  // Segments as the result list cuts them: 100 columns, one more when the cut would split a
  // double-byte character of the source line, and then a space in front of the next segment.
  std::string segments;
  LineWriter line;
  bool carry = false;
  const std::size_t count = (max + kSegment - 1) / kSegment;
  for (std::size_t s = 0, start = 0; s < count; ++s, start += kSegment) {
    const std::size_t end = std::min(start + kSegment, max);
    const bool carries = end < max && CutCarries(pair.source_line, end);
    const std::size_t from = carry ? start + 1 : start;
    const std::size_t to = carries ? end + 1 : end;
    segments += "<div class=\"seg\">\n<div class=\"ln\">";
    segments += Ruler();
    segments += "</div>\n";
    const std::string prefix = number + Padded(s, 3);
    for (int i = 0; i < 3; ++i) {
      const std::string_view bytes = i == 0   ? pair.source_line
                                     : i == 1 ? pair.destination_line
                                              : pair.marker;
      segment_.assign(to - from, ' ');
      if (from < bytes.size()) {
        const std::size_t have = std::min(to, bytes.size()) - from;
        segment_.replace(0, have, bytes.substr(from, have));
      }
      line.AddAscii(prefix + kTags[i], "no");
      if (carry) line.AddAscii(" ", "");
      if (i < 2) {
        AddCp932(segment_, from, &shade, &titles, shade_class, line);
      } else {
        for (const char m : segment_) {
          line.Add(static_cast<unsigned char>(m), 1, m == '?' ? "q" : "", {});
        }
      }
      segments += "<div class=\"ln\">";
      line.End(segments);
      segments += "</div>\n";
    }
    segments += "</div>\n";
    carry = carries;
  }
  Set(shown, "segments", std::move(segments));
  Set(shown, "records", false);
  Set(shown, "text_fields", false);
  return shown;
}

Data PageData::TextPair(const KeptPair& pair, std::size_t index) {
  std::string names;
  for (const int f : pair.differing_fields) {
    if (f < 0 || static_cast<std::size_t>(f) >= data_.fields.size()) continue;
    if (!names.empty()) names += "、";
    names += data_.fields[static_cast<std::size_t>(f)].name;
  }
  Data shown;
  Set(shown, "index", Grouped(static_cast<std::int64_t>(index + 1)));
  Set(shown, "number", Decimal(pair.number));
  Set(shown, "field_names", TextOrFalse(names));
  Data records;
  const auto number = [](std::int64_t n) { return n > 0 ? Decimal(n) : std::string("—"); };
  Set(records, "source", number(pair.source_number));
  Set(records, "destination", number(pair.destination_number));
  Set(records, "key", TextOrFalse(pair.key));
  Set(shown, "records", std::move(records));
  Set(shown, "segments", std::string());
  Data fields = List();
  for (const KeptField& f : pair.fields) {
    Data field;
    Set(field, "name", f.name);
    Set(field, "source", ValuePieces(f.source, f.source_begin, f.source_end));
    Set(field, "destination", ValuePieces(f.destination, f.destination_begin, f.destination_end));
    Append(fields, std::move(field));
  }
  Data list;
  Set(list, "fields", std::move(fields));
  Set(shown, "text_fields", std::move(list));
  return shown;
}

// The pairs of a listing: {accepted, note, pairs}.
Data PageData::Listing(const std::vector<KeptPair>& pairs, bool accepted) {
  // Each pair is made into its markup at once, by the template engine: a listing of a thousand
  // long pairs holds its text, never the cells of every pair together.
  kainjow::mustache::mustache& pair_page = ParsedTemplate(embedded::kListedPair);
  Data listing;
  Data shown = List();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    Data pair = Pair(pairs[i], i, accepted);
    Set(pair, "accepted", accepted);
    Data item;
    Set(item, "html", pair_page.render(pair));
    Append(shown, std::move(item));
  }
  Set(listing, "pairs", std::move(shown));
  return listing;
}

void PageData::Unmatched(Data& page) {
  Data sides = List();
  for (int side = 0; side < 2; ++side) {
    const std::vector<KeptRecord>& records = data_.unmatched[static_cast<std::size_t>(side)];
    Data shown;
    Set(shown, "heading", side == 0 ? "比較元だけのレコード" : "比較先だけのレコード");
    Set(shown, "note",
        ListedNote(static_cast<std::int64_t>(records.size()), UnmatchedFound(side), true));
    Set(shown, "has_records", !records.empty());
    Data lines = List();
    for (const KeptRecord& record : records) {
      LineWriter line;
      line.AddAscii(Padded(static_cast<std::uint64_t>(record.number), 7) + " ", "no");
      // A decoded record as its text: its bytes are of another code page.
      if (!record.texts) AddCp932(record.line, 0, nullptr, nullptr, 0, line);
      std::string cells;
      line.End(cells);
      Data shown_line;
      Set(shown_line, "cells", std::move(cells));
      Set(shown_line, "text", record.texts ? Data(record.text) : Data(false));
      Append(lines, std::move(shown_line));
    }
    Set(shown, "records", std::move(lines));
    Append(sides, std::move(shown));
  }
  Set(page, "unmatched", std::move(sides));
}

void PageData::Rules(Data& page) {
  Set(page, "rules_path", data_.rules_path);
  Data rules = List();
  for (std::size_t i = 0; i < data_.rules.size(); ++i) {
    const RuleLine& r = data_.rules[i];
    Data rule;
    Set(rule, "line", Decimal(r.line));
    Set(rule, "field", r.field);
    Set(rule, "rule", r.rule);
    Set(rule, "value", r.value);
    Set(rule, "pairs", Grouped(RuleCount(data_, i)));
    Append(rules, std::move(rule));
  }
  Set(page, "rules", std::move(rules));
  if (data_.expected.empty()) {
    Set(page, "expected", false);
    return;
  }
  Data listing = Listing(data_.expected, true);
  Set(listing, "note",
      ListedNote(static_cast<std::int64_t>(data_.expected.size()), data_.run.expected_pairs,
                 false));
  Set(page, "expected", std::move(listing));
}

// ----------------------------------------------------------------------------------------------
// CSV

// UTF-8 with malformed bytes as U+FFFD: the file says it is UTF-8 and must be.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(text.data() + i, text.size() - i, taken);
    if (c == kReplacementChar) {
      AppendUtf8(c, out);
    } else {
      out.append(text.data() + i, taken);
    }
    i += taken;
  }
  return out;
}

class Csv {
 public:
  Csv() { out_ = "\xEF\xBB\xBF"; }
  // A text cell. Text that a spreadsheet would take for a formula gets an apostrophe in front
  // (the usual guard): a field name "=HYPERLINK(...)" must stay text when the summary is opened.
  Csv& Text(std::string_view text) {
    std::string cell = ValidUtf8(text);
    if (!cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@' ||
                          cell[0] == '\t' || cell[0] == '\r')) {
      cell.insert(0, 1, '\'');
    }
    return Cell(cell);
  }
  Csv& Number(std::int64_t value) { return Cell(std::to_string(value)); }
  // A figure already formatted ("12.5").
  Csv& Figure(const std::string& value) { return Cell(value); }
  void EndRow() {
    out_ += "\r\n";
    first_ = true;
  }
  std::string Take() { return std::move(out_); }

 private:
  // RFC 4180: quoted when the cell holds a comma, a quote or a line end; quotes doubled.
  Csv& Cell(const std::string& cell) {
    if (!first_) out_.push_back(',');
    first_ = false;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
      out_ += cell;
      return *this;
    }
    out_.push_back('"');
    for (const char c : cell) {
      if (c == '"') out_.push_back('"');
      out_.push_back(c);
    }
    out_.push_back('"');
    return *this;
  }

  std::string out_;
  bool first_ = true;
};

}  // namespace

std::string RenderReportHtml(const ReportData& data) {
  kainjow::mustache::mustache& page = ParsedTemplate(embedded::kReportPage);
  Data values = PageData(data).Make();
  Set(values, "listing",
      kainjow::mustache::partial([] { return std::string(embedded::kPairListing); }));
  std::string html = page.render(values);
  // The templates are ours and built in: one that does not parse is a fault of the build, which
  // the kept pages of the tests show at once, never something a run can meet.
  assert(page.is_valid());
  return html;
}

std::string RenderSummaryCsv(const ReportData& data) {
  Csv csv;
  std::int64_t columns = 0;
  for (const std::int64_t c : data.column_counts) {
    if (c > 0) ++columns;
  }
  csv.Text("項目").Text("値").EndRow();
  csv.Text("表題").Text(data.title).EndRow();
  csv.Text("作成日時").Text(data.generated_at).EndRow();
  csv.Text("プログラム").Text(data.version).EndRow();
  csv.Text("コマンドライン").Text(data.command_line).EndRow();
  csv.Text("結果").Text(data.outcome).EndRow();
  csv.Text("状態").Text(data.status).EndRow();
  csv.Text("エラー").Text(data.error).EndRow();
  csv.Text("差異のある組").Number(data.differing_pairs).EndRow();
  csv.Text("文字としては一致するがバイトが異なる組")
      .Number(data.run.same_text_other_bytes)
      .EndRow();
  if (data.texts) {
    csv.Text("差異のある桁").Text("").EndRow();  // texts have no columns of bytes
  } else {
    csv.Text("差異のある桁").Number(columns).EndRow();
  }
  csv.Text("明細の件数").Number(static_cast<std::int64_t>(data.pairs.size())).EndRow();
  csv.Text("レイアウトファイル").Text(data.layout_path).EndRow();
  csv.Text("規則ファイル").Text(data.rules_path).EndRow();
  csv.Text("許容された組").Number(data.run.expected_pairs).EndRow();
  for (const auto& [label, value] : data.options) csv.Text(label).Text(value).EndRow();
  csv.EndRow();

  csv.Text("入力")
      .Text("パス")
      .Text("サイズ")
      .Text("行数")
      .Text("SHA-256")
      .Text("UTF-8の元ファイル")
      .Text("元ファイルのSHA-256")
      .Text("重複キーのレコード")
      .Text("重複したキー")
      .EndRow();
  for (const Side s : kSides) {
    const InputSummary& in = data.run.inputs[Index(s)];
    const InputEvidence& evidence = data.inputs[Index(s)];
    csv.Text(messages::kSideNames[Index(s)])
        .Text(in.path)
        .Number(static_cast<std::int64_t>(in.bytes))
        .Number(in.lines)
        .Text(evidence.sha256)
        .Text(evidence.utf8_original_path)
        .Text(evidence.utf8_original_sha256)
        .Number(in.repeated_records)
        .Number(in.repeated_keys)
        .EndRow();
  }
  csv.EndRow();

  csv.Text("種別")
      .Text("結果ファイル")
      .Text("パス")
      .Text("出力")
      .Text("検出")
      .Text("書き込み")
      .Text("完了")
      .EndRow();
  for (const OutputKind kind : kAllOutputKinds) {
    const OutputSummary& o = data.run.outputs[kind];
    csv.Number(static_cast<std::int64_t>(Index(kind)))
        .Text(messages::kOutputNames[Index(kind)])
        .Text(o.path)
        .Text(o.selected ? "する" : "しない")
        .Number(o.found)
        .Number(o.written)
        .Text(o.complete ? "完了" : "未完了")
        .EndRow();
  }
  csv.EndRow();

  if (data.field_sides.empty()) {
    csv.Text("項目名").Text("開始-終了").Text("属性").Text("差異のある組").Text("割合(%)").EndRow();
    for (std::size_t i = 0; i < data.fields.size(); ++i) {
      const Field& f = data.fields[i];
      csv.Text(f.name)
          .Text(FieldColumns(f))
          .Text(std::string_view(&f.attribute, 1))
          .Number(FieldCount(data, i))
          .Figure(Share(FieldCount(data, i), data.differing_pairs))
          .EndRow();
    }
  } else {
    // Typed fields: where and how each side holds the field, not a column of the records.
    csv.Text("項目名")
        .Text("比較元（位置と型）")
        .Text("比較先（位置と型）")
        .Text("差異のある組")
        .Text("割合(%)")
        .Text("数値でない値（比較元）")
        .Text("数値でない値（比較先）")
        .EndRow();
    for (std::size_t i = 0; i < data.fields.size() && i < data.field_sides.size(); ++i) {
      const bool counted = i < data.invalid_numbers.size() && !data.invalid_numbers[i][0].empty();
      csv.Text(data.fields[i].name)
          .Text(data.field_sides[i][0])
          .Text(data.field_sides[i][1])
          .Number(FieldCount(data, i))
          .Figure(Share(FieldCount(data, i), data.differing_pairs))
          .Text(counted ? data.invalid_numbers[i][0] : "")
          .Text(counted ? data.invalid_numbers[i][1] : "")
          .EndRow();
    }
    for (std::size_t side = 0; side < 2; ++side) {
      for (const std::string& name : data.unmatched_fields[side]) {
        csv.Text(side == 0 ? "比較元にしかない項目（比較していません）"
                           : "比較先にしかない項目（比較していません）")
            .Text(name)
            .EndRow();
      }
    }
  }
  csv.EndRow();

  csv.Text("桁").Text("差異のある組").EndRow();
  for (std::size_t c = 0; c < data.column_counts.size(); ++c) {
    if (data.column_counts[c] > 0) {
      csv.Number(static_cast<std::int64_t>(c + 1)).Number(data.column_counts[c]).EndRow();
    }
  }
  csv.EndRow();

  csv.Text("規則の行").Text("項目").Text("規則").Text("値").Text("許容した組").EndRow();
  for (std::size_t i = 0; i < data.rules.size(); ++i) {
    const RuleLine& r = data.rules[i];
    csv.Number(r.line).Text(r.field).Text(r.rule).Text(r.value).Number(RuleCount(data, i)).EndRow();
  }
  return csv.Take();
}

}  // namespace vesmer
