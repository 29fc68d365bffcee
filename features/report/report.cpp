#include "report/report.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result_list.h"
#include "platform/cp932.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

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

// Appends UTF-8 text (malformed bytes shown as U+FFFD) as HTML text, or as the value of a quoted
// attribute: markup characters escaped; control and hidden format characters as "U+XXXX", framed
// in text, in brackets in an attribute (fonts seldom have the control pictures).
void AppendText(std::string_view utf8, std::string& out, bool attribute = false) {
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t taken = 0;
    const char32_t c = DecodeUtf8(utf8.data() + i, utf8.size() - i, taken);
    i += taken;
    if (IsControl(c) || IsHiddenFormat(c)) {
      out += attribute ? "[" : "<span class=\"ctl\">";
      out += "U+";
      AppendHex(static_cast<std::uint32_t>(c), 4, out);
      out += attribute ? "]" : "</span>";
    } else {
      AppendEscapedChar(c, out);
    }
  }
}

std::string Text(std::string_view utf8) {
  std::string out;
  AppendText(utf8, out);
  return out;
}

// A command line whose lines break only at its spaces: each word is a box of its own, broken only
// when it is wider than the line itself (a browser would otherwise break after any hyphen, so
// "--report" could end a line with "--").
std::string CommandText(std::string_view utf8) {
  std::string out;
  std::size_t start = 0;
  while (start <= utf8.size()) {
    std::size_t end = utf8.find(' ', start);
    if (end == std::string_view::npos) end = utf8.size();
    if (end > start) {
      out += "<span class=\"w\">";
      AppendText(utf8.substr(start, end - start), out);
      out += "</span>";
    }
    if (end < utf8.size()) out += ' ';
    start = end + 1;
  }
  return out;
}

std::string Attr(std::string_view utf8) {
  std::string out;
  AppendText(utf8, out, true);
  return out;
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
Shown ShowCharacter(const char* p, std::size_t n, std::u16string& scratch) {
  const auto b0 = static_cast<std::uint8_t>(p[0]);
  scratch.clear();
  cp932::DecodeAppend(std::string_view(p, n), scratch);
  const char32_t c = scratch.empty() ? U'\uFFFD' : scratch[0];
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

// Writes one line of a listing as cells of fixed width (a column is 1ch), so the columns line
// up under the ruler whatever font the reader has. Neighbouring characters of the same class and
// title share one cell.
class LineWriter {
 public:
  explicit LineWriter(std::string& out) : out_(out) { out_ += "<div class=\"ln\">"; }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Text that is all ASCII, one column a byte (the number in front of a line).
  void AddAscii(std::string_view text, std::string_view cls) {
    for (const char ch : text) Add(static_cast<unsigned char>(ch), 1, cls, {});
  }
  // One character of `columns` columns; `title` is HTML already escaped. With `alone` the
  // character gets a cell of its own (a stand-in, or a cell shaded on one half only).
  void Add(char32_t c, int columns, std::string_view cls, std::string_view title,
           bool alone = false) {
    if (alone || cls != cls_ || title != title_) Close();
    if (columns_ == 0) {
      cls_.assign(cls);
      title_.assign(title);
    }
    AppendEscapedChar(c, text_);
    columns_ += columns;
    if (alone) Close();
  }
  void End() {
    Close();
    out_ += "</div>\n";
  }

 private:
  void Close() {
    if (columns_ == 0) return;
    out_ += "<span";
    if (!cls_.empty()) {
      out_ += " class=\"";
      out_ += cls_;
      out_ += '"';
    }
    if (!title_.empty()) {
      out_ += " title=\"";
      out_ += title_;
      out_ += '"';
    }
    out_ += " style=\"width:";
    out_ += std::to_string(columns_);
    out_ += "ch\">";
    out_ += text_;
    out_ += "</span>";
    text_.clear();
    cls_.clear();
    title_.clear();
    columns_ = 0;
  }

  std::string& out_;
  std::string cls_;
  std::string title_;
  std::string text_;
  int columns_ = 0;
};

// Adds the characters of code page 932 `bytes` (the first at 0-based column `first_column` of
// the line) to `line`. `shade`, when not null, gives each column of the line its field: 0 none,
// else 1 + an index into `titles` (HTML), and `cls` is the class of a shaded column.
void AddCp932(std::string_view bytes, std::size_t first_column, const std::vector<int>* shade,
              const std::vector<std::string>* titles, char cls, LineWriter& line,
              std::u16string& scratch) {
  const auto shade_at = [&](std::size_t column) {
    return shade != nullptr && column < shade->size() ? (*shade)[column] : 0;
  };
  std::string klass, title;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    const Shown shown = ShowCharacter(bytes.data() + i, n, scratch);
    const std::size_t column = first_column + i;
    const int left = shade_at(column);
    const int right = n == 2 ? shade_at(column + 1) : left;
    klass.clear();
    title.clear();
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
      title = "0x";
      for (std::size_t k = 0; k < n; ++k) {
        AppendHex(static_cast<std::uint8_t>(bytes[i + k]), 2, title);
      }
    }
    if (const int field = left != 0 ? left : right; field != 0) {
      if (!title.empty()) title.push_back(' ');
      title += (*titles)[static_cast<std::size_t>(field - 1)];
    }
    line.Add(shown.c, static_cast<int>(n), klass, title, half || shown.stand_in);
    i += n;
  }
}

// ----------------------------------------------------------------------------------------------
// The document

constexpr const char* kStyle = R"(
@page { size: A4; margin: 14mm 11mm 16mm 11mm;
  @bottom-center { content: counter(page) " / " counter(pages); font-size: 8pt; color: #555; } }
* { box-sizing: border-box; }
html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { margin: 0 auto; max-width: 1120px; padding: 16px 22px; color: #111; background: #fff;
  font-family: "BIZ UDPGothic", "Meiryo", "Yu Gothic", "IPAPGothic", "Noto Sans CJK JP", sans-serif;
  font-size: 14px; line-height: 1.5; }
h1 { font-size: 22px; margin: 0 0 10px; padding-bottom: 4px; border-bottom: 3px solid #1f3a5f; }
h2 { font-size: 17px; margin: 26px 0 8px; padding: 3px 10px; background: #1f3a5f; color: #fff;
  break-after: avoid; }
h3 { font-size: 15px; margin: 16px 0 6px; break-after: avoid; }
nav { margin: 8px 0 0; font-size: 13px; }
nav a { margin-right: 14px; color: #1f3a5f; }
table { border-collapse: collapse; margin: 4px 0 10px; }
th, td { border: 1px solid #9aa5b1; padding: 3px 8px; text-align: left; vertical-align: top; }
th { background: #e8edf3; white-space: nowrap; }
thead { display: table-header-group; }
tr { break-inside: avoid; }
td.n { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
.m { font-family: MONO; font-size: 13px; word-break: break-all; }
table.kv { width: 100%; }
table.kv th:first-child { width: 12em; }
.err { border: 2px solid #c62828; background: #fdecea; padding: 6px 10px; margin: 8px 0; }
.warn { color: #b71c1c; font-weight: bold; }
.note { color: #333; background: #f3f5f8; border-left: 4px solid #1f3a5f; padding: 4px 10px; }
.ctl { color: #6a1b9a; border: 1px dotted #6a1b9a; padding: 0 1px; font-size: 85%; }
.bar { display: block; height: 9px; background: #1f3a5f; }
.barbox { display: inline-block; width: 120px; height: 9px; margin-left: 8px; background: #e8edf3;
  vertical-align: middle; text-align: left; }
h2 + *, h3 + * { break-before: avoid; }
table.kv, .verdict { break-inside: avoid; }
.cmd { font-family: MONO; font-size: 13px; white-space: pre-wrap; word-break: normal;
  overflow-wrap: normal; }
.cmd .w { display: inline-block; max-width: 100%; overflow-wrap: anywhere; }
.verdict { margin: 10px 0 14px; padding: 10px 16px; border: 4px solid #333; }
.verdict .vt { font-size: 30px; font-weight: bold; line-height: 1.2; }
.verdict .vt .sym { display: inline-block; width: 1.3em; }
.verdict .vf { margin-top: 4px; font-size: 14px; }
.verdict .vf span { margin-right: 18px; white-space: nowrap; }
.v-ok { border-color: #2e7d32; background: #e8f5e9; color: #1b5e20; }
.v-ng { border-style: double; border-width: 6px; border-color: #c62828; background: #fdecea;
  color: #8e0000; }
.v-accepted { border-style: dashed; border-color: #a15c00; background: #fff4e0; color: #6d3d00; }
.v-error { border-width: 6px; border-color: #212121; background: #eceff1; color: #000; }
.v-halt { border-style: dotted; border-color: #555; background: #f5f5f5; color: #333; }
.hmw { overflow-x: auto; }
.hm { display: block; max-width: none; }
.hm text { font-family: MONO; font-size: 10px; fill: #333; }
.hm .rl { text-anchor: end; fill: #555; }
.hm .hf { fill: none; stroke: #9aa5b1; stroke-width: 0.6; }
.ls { font-family: MONO; font-size: 13px; line-height: 1.35; overflow-x: auto; }
.pair { margin: 0 0 14px; }
.cap { font-family: "BIZ UDPGothic", "Meiryo", "IPAPGothic", "Noto Sans CJK JP", sans-serif;
  font-size: 13px; font-weight: bold; margin: 8px 0 2px; break-after: avoid; }
.badge { display: inline-block; padding: 0 6px; margin-left: 6px; border-radius: 3px;
  background: #2e7d32; color: #fff; font-size: 12px; }
.seg { break-inside: avoid; margin: 0 0 3px; }
.ln { white-space: pre; height: 1.35em; }
.ln > span { display: inline-block; overflow: hidden; vertical-align: top; white-space: pre;
  height: 1.35em; }
.sc, .no { color: #5f6b7a; }
.f { background: #ffd54f; }
.fl { background: linear-gradient(90deg, #ffd54f 50%, transparent 50%); }
.fr { background: linear-gradient(90deg, transparent 50%, #ffd54f 50%); }
.a { background: #a5d6a7; }
.al { background: linear-gradient(90deg, #a5d6a7 50%, transparent 50%); }
.ar { background: linear-gradient(90deg, transparent 50%, #a5d6a7 50%); }
.q { color: #c62828; font-weight: bold; }
.x { color: #6a1b9a; outline: 1px dotted #6a1b9a; outline-offset: -1px; }
@media print {
  body { max-width: none; padding: 0; font-size: 10pt; }
  nav { display: none; }
  h2 { margin-top: 0; }
  .ls { font-size: 8pt; overflow: visible; }
  .hmw { overflow: visible; }
  .hm { width: 100%; height: auto; }
}
)";

class Document {
 public:
  explicit Document(const ReportData& data) : data_(data) {}
  std::string Render();

 private:
  void Header();
  void Banner();
  void Settings();
  void Inputs();
  void Results();
  void Fields();
  void Columns();
  void Pairs();
  void Unmatched();
  void Rules();
  void Listing(const std::vector<ReportPair>& pairs, bool accepted);
  void Pair(const ReportPair& pair, std::size_t index, bool accepted);
  void Ruler();
  // Records of kinds 0 and 1 found: records without a partner.
  [[nodiscard]] std::int64_t UnmatchedFound(int side = -1) const {
    std::int64_t n = 0;
    for (const ReportOutput& o : data_.outputs) {
      if ((o.kind == 0 || o.kind == 1) && (side < 0 || o.kind == side)) n += o.found;
    }
    return n;
  }
  // <tr><th>label</th><td>value</td></tr>, the value already HTML.
  void Row(std::string_view label, const std::string& value_html, const char* td_class = nullptr);

  const ReportData& data_;
  std::string out_;
  std::u16string scratch_;
  std::string segment_;
};

std::string Document::Render() {
  out_.reserve(64 * 1024);
  std::string style = kStyle;
  // The fixed-pitch font stack is defined once (kMonoFonts) and put in for MONO.
  for (std::size_t at = 0; (at = style.find("MONO", at)) != std::string::npos;) {
    style.replace(at, 4, kMonoFonts);
    at += std::string_view(kMonoFonts).size();
  }
  out_ += "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n";
  // Nothing may be loaded from anywhere: the page is evidence and must read the same offline.
  out_ +=
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">\n";
  out_ += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  out_ += Text(data_.title);
  out_ += "</title>\n<style>";
  out_ += style;
  out_ += "</style>\n</head>\n<body>\n";
  Header();
  Settings();
  Inputs();
  Results();
  if (!data_.fields.empty()) Fields();
  Columns();
  Pairs();
  if (!data_.unmatched[0].empty() || !data_.unmatched[1].empty() || UnmatchedFound() != 0) {
    Unmatched();
  }
  if (!data_.rules_path.empty()) Rules();
  out_ += "</body>\n</html>\n";
  return std::move(out_);
}

void Document::Row(std::string_view label, const std::string& value_html, const char* td_class) {
  out_ += "<tr><th>";
  out_ += Text(label);
  out_ += "</th><td";
  if (td_class != nullptr) {
    out_ += " class=\"";
    out_ += td_class;
    out_ += '"';
  }
  out_ += '>';
  out_ += value_html;
  out_ += "</td></tr>\n";
}

void Document::Header() {
  out_ += "<header>\n<h1>";
  out_ += Text(data_.title);
  out_ += "</h1>\n";
  Banner();
  out_ += "<table class=\"kv\">\n";
  Row("作成日時", Text(data_.generated_at));
  Row("プログラム",
      Text(data_.version) + (data_.build.empty() ? "" : "（" + Text(data_.build) + "）"));
  if (!data_.host.empty() || !data_.user.empty()) {
    Row("実行したマシンと利用者", Text(data_.host) + "　" + Text(data_.user));
  }
  if (!data_.working_folder.empty()) Row("作業フォルダ", Text(data_.working_folder), "m");
  Row("コマンドライン", CommandText(data_.command_line), "cmd");
  out_ += "</table>\n<nav>";
  out_ += "<a href=\"#settings\">設定</a><a href=\"#inputs\">入力</a><a href=\"#results\">結果</a>";
  if (!data_.fields.empty()) out_ += "<a href=\"#fields\">項目別</a>";
  out_ += "<a href=\"#columns\">桁別</a><a href=\"#pairs\">差異の明細</a>";
  if (!data_.unmatched[0].empty() || !data_.unmatched[1].empty()) {
    out_ += "<a href=\"#unmatched\">キー不一致</a>";
  }
  if (!data_.rules_path.empty()) out_ += "<a href=\"#accepted\">許容された差異</a>";
  out_ += "</nav>\n</header>\n";
}

// What the evidence concludes, at a glance: the verdict in large type, marked by a symbol, a
// border and a colour each (so that it reads in black and white too), and the figures that
// decide it.
void Document::Banner() {
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
  out_ += "<div class=\"verdict ";
  out_ += verdict.css;
  out_ += "\" role=\"status\"><div class=\"vt\"><span class=\"sym\">";
  out_ += verdict.symbol;
  out_ += "</span>";
  out_ += verdict.text;
  out_ += "</div>\n<div class=\"vf\">";
  const auto figure = [&](std::string_view label, const std::string& value) {
    out_ += "<span>";
    out_ += Text(label);
    out_ += "：<b>";
    out_ += value;
    out_ += "</b></span>";
  };
  figure("差異のある組", Grouped(data_.differing_pairs) + " 組");
  figure("比較元だけのレコード", Grouped(UnmatchedFound(0)) + " 件");
  figure("比較先だけのレコード", Grouped(UnmatchedFound(1)) + " 件");
  if (!data_.rules_path.empty()) figure("許容された組", Grouped(data_.expected_pairs) + " 組");
  const ReportInput& a = data_.inputs[0];
  const ReportInput& b = data_.inputs[1];
  figure("入力の SHA-256", a.sha256.empty() || b.sha256.empty() ? std::string("—（求めていません）")
                           : a.sha256 == b.sha256               ? std::string("同じ")
                                                                : std::string("異なる"));
  out_ += "</div>\n";
  if (verdict.css == "v-error" || verdict.css == "v-halt") {
    out_ += "<div class=\"vf\">";
    out_ += Text(data_.status);
    out_ += "</div>\n";
  }
  out_ += "</div>\n";
}

void Document::Settings() {
  out_ += "<section id=\"settings\">\n<h2>設定</h2>\n";
  if (data_.options.empty()) {
    out_ += "<p>（設定項目はありません）</p>\n";
  } else {
    out_ += "<table class=\"kv\">\n<thead><tr><th>項目</th><th>値</th></tr></thead>\n<tbody>\n";
    for (const auto& [label, value] : data_.options) Row(label, Text(value), "m");
    out_ += "</tbody>\n</table>\n";
  }
  out_ += "</section>\n";
}

void Document::Inputs() {
  const auto& in = data_.inputs;
  out_ += "<section id=\"inputs\">\n<h2>入力</h2>\n<table class=\"kv\">\n<thead><tr><th></th>";
  for (const ReportInput& input : in) {
    out_ += "<th>";
    out_ += Text(input.label);
    out_ += "</th>";
  }
  out_ += "</tr></thead>\n<tbody>\n";
  const auto row = [&](std::string_view label, const char* cls, auto&& value) {
    out_ += "<tr><th>";
    out_ += Text(label);
    out_ += "</th>";
    for (const ReportInput& input : in) {
      out_ += "<td class=\"";
      out_ += cls;
      out_ += "\">";
      out_ += value(input);
      out_ += "</td>";
    }
    out_ += "</tr>\n";
  };
  row("パス", "m", [](const ReportInput& i) { return Text(i.path); });
  row("絶対パス", "m", [](const ReportInput& i) {
    return i.absolute_path.empty() ? std::string("—") : Text(i.absolute_path);
  });
  row("サイズ", "n",
      [](const ReportInput& i) { return Grouped(static_cast<std::int64_t>(i.size)) + " バイト"; });
  row("行数", "n", [](const ReportInput& i) { return Grouped(i.lines) + " 行"; });
  row("SHA-256", "m", [](const ReportInput& i) { return Text(i.sha256); });
  if (!in[0].utf8_original_path.empty() || !in[1].utf8_original_path.empty()) {
    row("UTF-8 の元ファイル", "m", [](const ReportInput& i) {
      return i.utf8_original_path.empty() ? std::string("—") : Text(i.utf8_original_path);
    });
    row("元ファイルの SHA-256", "m", [](const ReportInput& i) {
      return i.utf8_original_path.empty() ? std::string("—") : Text(i.utf8_original_sha256);
    });
  }
  if (in[0].repeated_records != 0 || in[1].repeated_records != 0 || in[0].repeated_keys != 0 ||
      in[1].repeated_keys != 0) {
    row("重複キーのレコード", "n",
        [](const ReportInput& i) { return Grouped(i.repeated_records) + " 件"; });
    row("重複したキー", "n", [](const ReportInput& i) { return Grouped(i.repeated_keys) + " 種"; });
  }
  out_ += "</tbody>\n</table>\n</section>\n";
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
  return Text(outcome);
}

void Document::Results() {
  out_ += "<section id=\"results\">\n<h2>結果</h2>\n<table class=\"kv\">\n";
  Row("結果", OutcomeText(data_.outcome));
  Row("状態", Text(data_.status));
  Row("差異のある組", Grouped(data_.differing_pairs) + " 組");
  Row("文字としては一致するがバイトが異なる組", Grouped(data_.same_text_other_bytes) + " 組");
  if (!data_.rules_path.empty()) Row("許容された組", Grouped(data_.expected_pairs) + " 組");
  out_ += "</table>\n";
  if (!data_.error.empty()) {
    out_ += "<div class=\"err\"><b>エラー：</b>";
    out_ += Text(data_.error);
    out_ += "</div>\n";
  }
  out_ +=
      "<table>\n<thead><tr><th>種別</th><th>結果ファイル</th><th>出力</th><th>検出</th>"
      "<th>書き込み</th><th>パス</th></tr></thead>\n<tbody>\n";
  for (const ReportOutput& o : data_.outputs) {
    out_ += "<tr><td class=\"n\">";
    out_ += Decimal(o.kind);
    out_ += "</td><td>";
    out_ += Text(o.name);
    out_ += "</td><td>";
    out_ += o.selected ? "する" : "しない";
    out_ += "</td><td class=\"n\">";
    out_ += Grouped(o.found);
    out_ += " 件</td><td class=\"n\">";
    out_ += Grouped(o.written);
    out_ += " 件";
    if (!o.complete) out_ += "<br><span class=\"warn\">未完了</span>";
    out_ += "</td><td class=\"m\">";
    out_ += Text(o.path);
    out_ += "</td></tr>\n";
  }
  out_ += "</tbody>\n</table>\n</section>\n";
}

// "開始-終了" of a field, 1-based byte columns.
std::string FieldColumns(const ReportField& f) {
  const std::int64_t end = std::int64_t{f.start} + std::max<std::int64_t>(f.length, 1) - 1;
  return Decimal(f.start) + "-" + Decimal(end);
}

void Document::Fields() {
  out_ += "<section id=\"fields\">\n<h2>項目別</h2>\n";
  if (!data_.layout_path.empty()) {
    out_ += "<p>レイアウトファイル：<span class=\"m\">";
    out_ += Text(data_.layout_path);
    out_ += "</span></p>\n";
  }
  out_ +=
      "<table>\n<thead><tr><th>項目名</th><th>桁</th><th>属性</th><th>差異のある組</th>"
      "<th>割合</th></tr></thead>\n<tbody>\n";
  for (const ReportField& f : data_.fields) {
    const std::string share = Share(f.differing, data_.differing_pairs);
    out_ += "<tr><td>";
    out_ += Text(f.name);
    out_ += "</td><td class=\"n\">";
    out_ += FieldColumns(f);
    out_ += "</td><td>";
    out_ += Text(std::string_view(&f.attribute, 1));
    out_ += "</td><td class=\"n\">";
    out_ += Grouped(f.differing);
    out_ += " 組</td><td class=\"n\">";
    if (share.empty()) {
      out_ += "—";
    } else {
      out_ += share;
      out_ += "%<span class=\"barbox\"><span class=\"bar\" style=\"width:";
      out_ += share;
      out_ += "%\"></span></span>";
    }
    out_ += "</td></tr>\n";
  }
  out_ += "</tbody>\n</table>\n</section>\n";
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

void Document::Columns() {
  const std::vector<std::int64_t>& counts = data_.column_counts;
  std::int64_t max = 0, nonzero = 0;
  for (const std::int64_t c : counts) {
    max = std::max(max, c);
    if (c > 0) ++nonzero;
  }
  out_ += "<section id=\"columns\">\n<h2>桁別</h2>\n<p>差異のある桁：";
  out_ += Grouped(nonzero);
  out_ += " 桁（全 ";
  out_ += Grouped(static_cast<std::int64_t>(counts.size()));
  out_ += " 桁中）";
  if (max > 0) {
    out_ += "　一桁あたりの最大：";
    out_ += Grouped(max);
    out_ += " 組";
  }
  out_ += "</p>\n";
  if (max == 0) {
    out_ += "<p class=\"note\">差異のある桁はありません。</p>\n</section>\n";
    return;
  }
  // Geometry in SVG units: a column is kCell wide; each row of 100 columns has the ruler above.
  constexpr int kCell = 8, kLabel = 52, kRuler = 12, kBox = 14, kPitch = 30;
  const std::size_t rows = (counts.size() + kSegment - 1) / kSegment;
  const int width = kLabel + static_cast<int>(kSegment) * kCell + 4;
  const int legend_y = static_cast<int>(rows) * kPitch + 8;
  const int height = legend_y + 26;
  // Its natural size on a screen, scrolled sideways where the window is narrower: a cell shrunk
  // to fit 800 pixels could not be read. Printed, it fits the page.
  out_ +=
      "<div class=\"hmw\">\n<svg class=\"hm\" role=\"img\" aria-label=\"桁別の差異\" viewBox=\"0 "
      "0 ";
  out_ += Decimal(width) + " " + Decimal(height) + "\" width=\"" + Decimal(width) + "\" height=\"" +
          Decimal(height) + "\">\n";
  // The ruler's characters, decoded once: (0-based column, columns, text).
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
    const Shown shown = ShowCharacter(scale.data() + i, n, scratch_);
    if (shown.c != ' ' && shown.c != 0x3000) {
      std::string text;
      AppendEscapedChar(shown.c, text);
      ruler.push_back({i, n, std::move(text)});
    }
    i += n;
  }
  for (std::size_t r = 0; r < rows; ++r) {
    const int y = static_cast<int>(r) * kPitch;
    const std::size_t first = r * kSegment;
    const std::size_t in_row = std::min(kSegment, counts.size() - first);
    for (const RulerChar& rc : ruler) {
      if (rc.column >= in_row) break;
      out_ += "<text x=\"" +
              Decimal(kLabel + static_cast<int>(rc.column) * kCell +
                      static_cast<int>(rc.columns) * kCell / 2) +
              "\" y=\"" + Decimal(y + kRuler - 2) + "\" text-anchor=\"middle\">" + rc.text +
              "</text>";
    }
    out_ += "\n<text class=\"rl\" x=\"" + Decimal(kLabel - 6) + "\" y=\"" +
            Decimal(y + kRuler + kBox - 3) + "\">" + Decimal(static_cast<std::int64_t>(first + 1)) +
            "</text>";
    out_ += "<rect class=\"hf\" x=\"" + Decimal(kLabel) + "\" y=\"" + Decimal(y + kRuler) +
            "\" width=\"" + Decimal(static_cast<int>(in_row) * kCell) + "\" height=\"" +
            Decimal(kBox) + "\"/>\n";
    for (std::size_t c = 0; c < in_row; ++c) {
      const std::int64_t count = counts[first + c];
      if (count <= 0) continue;
      out_ += "<rect x=\"" + Decimal(kLabel + static_cast<int>(c) * kCell) + "\" y=\"" +
              Decimal(y + kRuler) + "\" width=\"" + Decimal(kCell) + "\" height=\"" +
              Decimal(kBox) + "\" fill=\"" + HeatColour(count, max) + "\"><title>" +
              Decimal(static_cast<std::int64_t>(first + c + 1)) + " 桁目：" + Grouped(count) +
              " 組</title></rect>\n";
    }
  }
  // The legend: swatches from one pair to the maximum.
  std::vector<std::int64_t> steps = {1};
  for (int k = 1; k <= 4; ++k) {
    const std::int64_t v = std::max<std::int64_t>(1, (max * k + 2) / 4);
    if (v > steps.back()) steps.push_back(v);
  }
  int x = kLabel;
  out_ += "<text x=\"" + Decimal(x) + "\" y=\"" + Decimal(legend_y + 11) + "\">凡例</text>";
  x += 34;
  for (const std::int64_t v : steps) {
    out_ += "<rect x=\"" + Decimal(x) + "\" y=\"" + Decimal(legend_y) + "\" width=\"" +
            Decimal(kBox) + "\" height=\"" + Decimal(kBox) + "\" fill=\"" + HeatColour(v, max) +
            "\"/>";
    const std::string label = Grouped(v) + (v == max ? " 組（最大）" : " 組");
    out_ += "<text x=\"" + Decimal(x + kBox + 4) + "\" y=\"" + Decimal(legend_y + 11) + "\">" +
            label + "</text>";
    x += kBox + 16 + static_cast<int>(label.size()) * 4;
  }
  out_ += "\n</svg>\n</div>\n</section>\n";
}

void Document::Ruler() {
  LineWriter line(out_);
  line.AddAscii(std::string(14, ' '), "sc");
  AddCp932(data_.scale, 0, nullptr, nullptr, 0, line, scratch_);
  line.End();
}

void Document::Pair(const ReportPair& pair, std::size_t index, bool accepted) {
  const std::size_t max =
      std::max({pair.source_line.size(), pair.destination_line.size(), pair.marker.size()});
  // Each column's differing field (1 + its index among the titles), the first listed winning.
  std::vector<int> shade(max, 0);
  std::vector<std::string> titles;
  std::string names;
  for (const int f : pair.differing_fields) {
    if (f < 0 || static_cast<std::size_t>(f) >= data_.fields.size()) continue;
    const ReportField& field = data_.fields[static_cast<std::size_t>(f)];
    titles.push_back(Attr(field.name + " (" + FieldColumns(field) + ")"));
    if (!names.empty()) names += "、";
    names += field.name;
    if (field.start < 1 || field.length < 1) continue;
    const std::size_t begin = static_cast<std::size_t>(field.start) - 1;
    const std::size_t end = std::min(max, begin + static_cast<std::size_t>(field.length));
    for (std::size_t c = begin; c < end; ++c) {
      if (shade[c] == 0) shade[c] = static_cast<int>(titles.size());
    }
  }
  out_ += "<div class=\"pair\">\n<div class=\"cap\">";
  out_ += accepted ? "許容 " : "差異 ";
  out_ += Grouped(static_cast<std::int64_t>(index + 1));
  out_ += "　行 ";
  out_ += Decimal(pair.number);
  if (accepted) out_ += "<span class=\"badge\">許容された差異</span>";
  if (!names.empty()) {
    out_ += "　差異のある項目：";
    out_ += Text(names);
  }
  out_ += "</div>\n";

  const std::string number = Padded(static_cast<std::uint64_t>(pair.number), 7) + " ";
  const char shade_class = accepted ? 'a' : 'f';
  static constexpr const char* kTags[3] = {"-O:", "-C:", "-R:"};
  // Segments as the result list cuts them: 100 columns, one more when the cut would split a
  // double-byte character of the source line, and then a space in front of the next segment.
  bool carry = false;
  const std::size_t count = (max + kSegment - 1) / kSegment;
  for (std::size_t s = 0, start = 0; s < count; ++s, start += kSegment) {
    const std::size_t end = std::min(start + kSegment, max);
    const bool carries = end < max && CutCarries(pair.source_line, end);
    const std::size_t from = carry ? start + 1 : start;
    const std::size_t to = carries ? end + 1 : end;
    out_ += "<div class=\"seg\">\n";
    Ruler();
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
      LineWriter line(out_);
      line.AddAscii(prefix + kTags[i], "no");
      if (carry) line.AddAscii(" ", "");
      if (i < 2) {
        AddCp932(segment_, from, &shade, &titles, shade_class, line, scratch_);
      } else {
        for (const char m : segment_) {
          line.Add(static_cast<unsigned char>(m), 1, m == '?' ? "q" : "", {});
        }
      }
      line.End();
    }
    out_ += "</div>\n";
    carry = carries;
  }
  out_ += "</div>\n";
}

void Document::Listing(const std::vector<ReportPair>& pairs, bool accepted) {
  out_ += "<div class=\"ls\">\n";
  for (std::size_t i = 0; i < pairs.size(); ++i) Pair(pairs[i], i, accepted);
  out_ += "</div>\n";
}

void Document::Pairs() {
  out_ += "<section id=\"pairs\">\n<h2>差異の明細</h2>\n";
  const auto shown = static_cast<std::int64_t>(data_.pairs.size());
  if (data_.differing_pairs == 0 && shown == 0) {
    out_ += "<p class=\"note\">差異のある組はありません。</p>\n";
  } else if (shown == 0) {
    out_ += "<p class=\"note\">明細を表示する件数が 0 件のため、明細はありません（全 ";
    out_ += Grouped(data_.differing_pairs);
    out_ += " 組）。</p>\n";
  } else if (shown < data_.differing_pairs) {
    out_ += "<p class=\"note\">最初の ";
    out_ += Grouped(shown);
    out_ += " 件を表示（全 ";
    out_ += Grouped(data_.differing_pairs);
    out_ += " 組）</p>\n";
  } else {
    out_ += "<p class=\"note\">全 ";
    out_ += Grouped(shown);
    out_ += " 件を表示</p>\n";
  }
  if (!data_.pairs.empty()) {
    if (!data_.fields.empty()) {
      out_ +=
          "<p>差異のある項目の桁を<span class=\"f\">色</span>で示します。"
          "「?」は内容の異なる桁です。</p>\n";
    }
    Listing(data_.pairs, false);
  }
  out_ += "</section>\n";
}

void Document::Unmatched() {
  out_ += "<section id=\"unmatched\">\n<h2>キー不一致のレコード</h2>\n";
  out_ += "<p>相手のキーが見つからなかったレコードを、結果ファイルのとおりに示します。</p>\n";
  for (int side = 0; side < 2; ++side) {
    const std::vector<ReportRecord>& records = data_.unmatched[static_cast<std::size_t>(side)];
    const std::int64_t found = UnmatchedFound(side);
    out_ += "<h3>";
    out_ += side == 0 ? "比較元だけのレコード" : "比較先だけのレコード";
    out_ += "</h3>\n<p class=\"note\">";
    const auto shown = static_cast<std::int64_t>(records.size());
    if (found == 0) {
      out_ += "ありません。";
    } else if (shown < found) {
      out_ += "最初の " + Grouped(shown) + " 件を表示（全 " + Grouped(found) + " 件）";
    } else {
      out_ += "全 " + Grouped(shown) + " 件を表示";
    }
    out_ += "</p>\n";
    if (records.empty()) continue;
    out_ += "<div class=\"ls\">\n";
    for (const ReportRecord& record : records) {
      LineWriter line(out_);
      line.AddAscii(Padded(static_cast<std::uint64_t>(record.number), 7) + " ", "no");
      AddCp932(record.line, 0, nullptr, nullptr, 0, line, scratch_);
      line.End();
    }
    out_ += "</div>\n";
  }
  out_ += "</section>\n";
}

void Document::Rules() {
  out_ += "<section id=\"accepted\">\n<h2>許容された差異</h2>\n";
  out_ += "<p>規則ファイル：<span class=\"m\">";
  out_ += Text(data_.rules_path);
  out_ += "</span>　許容された組：";
  out_ += Grouped(data_.expected_pairs);
  out_ += " 組</p>\n";
  out_ +=
      "<table>\n<thead><tr><th>行</th><th>項目</th><th>規則</th><th>値</th>"
      "<th>許容した組</th></tr></thead>\n<tbody>\n";
  for (const ReportRule& r : data_.rules) {
    out_ += "<tr><td class=\"n\">";
    out_ += Decimal(r.line);
    out_ += "</td><td>";
    out_ += Text(r.field);
    out_ += "</td><td>";
    out_ += Text(r.rule);
    out_ += "</td><td>";
    out_ += Text(r.value);
    out_ += "</td><td class=\"n\">";
    out_ += Grouped(r.pairs);
    out_ += " 組</td></tr>\n";
  }
  out_ += "</tbody>\n</table>\n";
  const auto shown = static_cast<std::int64_t>(data_.expected.size());
  if (shown > 0) {
    out_ += "<h3>許容された組の明細</h3>\n<p class=\"note\">";
    if (shown < data_.expected_pairs) {
      out_ +=
          "最初の " + Grouped(shown) + " 件を表示（全 " + Grouped(data_.expected_pairs) + " 組）";
    } else {
      out_ += "全 " + Grouped(shown) + " 件を表示";
    }
    out_ += "。規則で許容された項目の桁を<span class=\"a\">色</span>で示します。</p>\n";
    Listing(data_.expected, true);
  }
  out_ += "</section>\n";
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

std::string RenderReportHtml(const ReportData& data) { return Document(data).Render(); }

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
  csv.Text("文字としては一致するがバイトが異なる組").Number(data.same_text_other_bytes).EndRow();
  csv.Text("差異のある桁").Number(columns).EndRow();
  csv.Text("明細の件数").Number(static_cast<std::int64_t>(data.pairs.size())).EndRow();
  csv.Text("レイアウトファイル").Text(data.layout_path).EndRow();
  csv.Text("規則ファイル").Text(data.rules_path).EndRow();
  csv.Text("許容された組").Number(data.expected_pairs).EndRow();
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
  for (const ReportInput& in : data.inputs) {
    csv.Text(in.label)
        .Text(in.path)
        .Number(static_cast<std::int64_t>(in.size))
        .Number(in.lines)
        .Text(in.sha256)
        .Text(in.utf8_original_path)
        .Text(in.utf8_original_sha256)
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
  for (const ReportOutput& o : data.outputs) {
    csv.Number(o.kind)
        .Text(o.name)
        .Text(o.path)
        .Text(o.selected ? "する" : "しない")
        .Number(o.found)
        .Number(o.written)
        .Text(o.complete ? "完了" : "未完了")
        .EndRow();
  }
  csv.EndRow();

  csv.Text("項目名").Text("開始-終了").Text("属性").Text("差異のある組").Text("割合(%)").EndRow();
  for (const ReportField& f : data.fields) {
    csv.Text(f.name)
        .Text(FieldColumns(f))
        .Text(std::string_view(&f.attribute, 1))
        .Number(f.differing)
        .Figure(Share(f.differing, data.differing_pairs))
        .EndRow();
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
  for (const ReportRule& r : data.rules) {
    csv.Number(r.line).Text(r.field).Text(r.rule).Text(r.value).Number(r.pairs).EndRow();
  }
  return csv.Take();
}

}  // namespace vesmer
