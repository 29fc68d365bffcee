// The evidence report: the HTML page (figures, escaping, nothing loaded from outside, pairs
// listed as the result list lists them, fields shaded on exactly their columns, the heat-map)
// and the CSV summary, bytes compared exactly.
#include "report/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/result_list.h"
#include "core/run_observer.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "tests/report/report_parts.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::MakeField;
using testing::MakePair;
using testing::Output;
using testing::ReadFile;
using testing::SetFields;
using testing::SetInput;
using testing::SetRules;
using testing::TempDir;
using testing::Unmatched;
using testing::WriteFile;

const std::string kScale =
    "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
    "....+....#";

// ---------------------------------------------------------------------------------------------
// Building data

// Code page 932 bytes of a program text, padded to `width` bytes with half-width spaces, or
// with full-width ones for a double-byte field.
std::string Field(const std::string& utf8, std::size_t width, bool double_byte = false) {
  std::string bytes = cp932::FromUtf8(utf8);
  while (bytes.size() + (double_byte ? 2 : 1) <= width) bytes += double_byte ? "\x81\x40" : " ";
  if (bytes.size() < width) bytes += " ";
  return bytes;
}

// A run of a migration check: employee records before and after, a layout, rules.
struct Employee {
  std::string number, kana, name, section, address, salary, updated;
};

std::string Record(const Employee& e) {
  return Field(e.number, 6) + Field("1", 1) + Field(e.kana, 20) + Field(e.name, 20, true) +
         Field(e.section, 20, true) + Field(e.address, 60, true) + Field(e.salary, 10) +
         Field(e.updated, 8);
}

std::vector<testing::CountedField> EmployeeFields() {
  return {MakeField("社員番号", 1, 6, 'X'),  MakeField("区分", 7, 1, '9'),
          MakeField("氏名カナ", 8, 20, 'X'), MakeField("氏名", 28, 20, 'N'),
          MakeField("所属", 48, 20, 'N'),    MakeField("住所", 68, 60, 'N'),
          MakeField("給与", 128, 10, '9'),   MakeField("更新日", 138, 8, 'X')};
}

// Fills in what the comparison counts from the listed pairs: each pair's differing fields, the
// fields' counts and the per-column counts.
void Count(ReportData& data, std::vector<KeptPair>& pairs, bool statistics) {
  for (KeptPair& pair : pairs) {
    pair.differing_fields.clear();
    for (std::size_t f = 0; f < data.fields.size(); ++f) {
      const auto& field = data.fields[f];
      bool differs = false;
      for (int c = field.start - 1; c < field.start - 1 + field.length; ++c) {
        if (static_cast<std::size_t>(c) < pair.marker.size() && pair.marker[c] == '?') {
          differs = true;
        }
      }
      if (differs) {
        pair.differing_fields.push_back(static_cast<int>(f));
        if (statistics) {
          if (data.field_counts.size() < data.fields.size())
            data.field_counts.resize(data.fields.size());
          ++data.field_counts[f];
        }
      }
    }
    if (!statistics) continue;
    if (data.column_counts.size() < pair.marker.size()) {
      data.column_counts.resize(pair.marker.size());
    }
    for (std::size_t c = 0; c < pair.marker.size(); ++c) {
      if (pair.marker[c] == '?') ++data.column_counts[c];
    }
  }
}

ReportData Realistic() {
  ReportData data;
  data.title = "Vesmer 比較結果報告書";
  data.generated_at = "2026-12-07 14:03:05 +0900";
  data.version = "vesmer-batch 2.0.40";
  data.command_line =
      "vesmer-batch --key 1-6 --layout /srv/ikou/shain.csv --rules /srv/ikou/kisoku.csv "
      "--report /srv/ikou/houkoku.html /srv/ikou/old/SHAIN.TXT /srv/ikou/new/SHAIN.TXT";
  data.options = {{"比較モード", "キー"},
                  {"キー", "1-6（社員番号）"},
                  {"除外する桁", "なし"},
                  {"全角空白を半角空白 2 個と比較", "しない"},
                  {"長さを揃えて比較", "しない"},
                  {"出力", "0,1,2,3,5"},
                  {"スケール", kScale}};
  data.outcome = "differences";
  data.status = "☆処理が終了しました";
  SetInput(data, 0,
           {"/srv/ikou/old/SHAIN.TXT", 1482003, 10204,
            "3f1a0c9d52e4b7a8816c0e2f4d9b7a51c3e8f0a2b4d6c8e0f1a3b5c7d9e1f2a4", "", "", 0, 0, ""});
  SetInput(data, 1,
           {"/srv/ikou/new/SHAIN.TXT", 1483456, 10206,
            "9b2e7d4c1a0f8e6d5c3b2a1908f7e6d5c4b3a2918e7d6c5b4a39281706f5e4d3",
            "/srv/ikou/new/SHAIN_UTF8.TXT",
            "0d4e2c9b8a7f6e5d4c3b2a19f8e7d6c5b4a3928170f6e5d4c3b2a1908f7e6d5c", 2, 1, ""});
  const std::int64_t found[6] = {1, 3, 4, 4, 10196, 4};
  for (int k = 0; k < 6; ++k) {
    OutputSummary& o = Output(data, k);
    o.path = "/srv/ikou/old/SHAIN_" + std::to_string(k) + ".TXT";
    o.selected = k != 4;
    o.found = found[k];
    o.written = o.selected ? found[k] : 0;
  }
  data.layout_path = "/srv/ikou/shain.csv";
  SetFields(data, EmployeeFields());
  data.scale = kScale;

  const Employee before[4] = {{"100231", "ｳｴﾉ ｹﾝｼﾞ", "上野　健二", "営業第一部",
                               "愛知県名古屋市中区栄三丁目１５番２７号", "00021000", "20261130"},
                              {"100245", "ｻﾄｳ ﾊﾅｺ", "佐藤　花子", "経理部",
                               "東京都千代田区丸の内一丁目９番１号", "00034500", "20261130"},
                              {"100302", "ﾀｶﾊｼ ｲﾁﾛｳ", "髙橋　一郎", "情報システム部",
                               "大阪府大阪市北区梅田二丁目４番９号", "00028750", "20261130"},
                              {"100517", "ﾔﾏﾀﾞ ﾀﾛｳ", "山田　太郎", "総務部",
                               "福岡県福岡市博多区博多駅前三丁目２番１号", "00019800", "20261130"}};
  Employee after[4] = {before[0], before[1], before[2], before[3]};
  after[0].salary = "00021500";
  after[1].address = "東京都千代田区丸の内一丁目９番１号　丸の内ビル";
  after[2].name = "高橋　一郎";
  after[2].kana = "ﾀｶﾊｼ ｲﾁﾛｰ";
  after[3].section = "総務人事部";
  after[3].salary = "00020100";
  const std::int64_t lines[4] = {1204, 2311, 4087, 9120};
  for (int i = 0; i < 4; ++i) {
    data.pairs.push_back(MakePair(Record(before[i]), Record(after[i]), lines[i]));
  }
  data.differing_pairs = 4;
  data.run.same_text_other_bytes = 1203;
  data.pairs_limit = 100;
  Count(data, data.pairs, true);

  data.rules_path = "/srv/ikou/kisoku.csv";
  SetRules(data, {{2, "更新日", "無視", "", 2}, {3, "給与", "数値", "0.5", 0}});
  Employee moved = before[0];
  moved.updated = "20261201";
  Employee moved2 = before[1];
  moved2.updated = "20261202";
  data.expected = {MakePair(Record(before[0]), Record(moved), 1533),
                   MakePair(Record(before[1]), Record(moved2), 2207)};
  data.run.expected_pairs = 2;
  Count(data, data.expected, false);
  return data;
}

// ---------------------------------------------------------------------------------------------
// Reading the HTML back

std::string Unescape(std::string_view s) {
  static const std::pair<std::string_view, std::string_view> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    bool replaced = false;
    if (s[i] == '&') {
      for (const auto& [entity, text] : kEntities) {
        if (s.substr(i, entity.size()) == entity) {
          out += text;
          i += entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out.push_back(s[i++]);
  }
  return out;
}

std::string StripTags(std::string_view s) {
  std::string out;
  bool in_tag = false;
  for (const char c : s) {
    if (c == '<') in_tag = true;
    if (!in_tag) out.push_back(c);
    if (c == '>') in_tag = false;
  }
  return out;
}

// The value of attribute `name` in the opening tag `tag`, unescaped; "" when absent.
std::string Attribute(std::string_view tag, std::string_view name) {
  const std::string key = " " + std::string(name) + "=\"";
  const std::size_t at = tag.find(key);
  if (at == std::string_view::npos) return "";
  const std::size_t begin = at + key.size();
  return Unescape(tag.substr(begin, tag.find('"', begin) - begin));
}

struct Cell {
  std::set<std::string> classes;
  std::string title;
  std::string text;  // shown text, UTF-8
  int width = 0;     // columns
};

struct Line {
  std::vector<Cell> cells;
  [[nodiscard]] std::string Text() const {
    std::string text;
    for (const Cell& c : cells) text += c.text;
    return text;
  }
  [[nodiscard]] int Width() const {
    int width = 0;
    for (const Cell& c : cells) width += c.width;
    return width;
  }
  // The cells after the number ("0000012 000-O:"), one entry per column: the cell's classes.
  [[nodiscard]] std::vector<const Cell*> Columns() const {
    std::vector<const Cell*> columns;
    for (const Cell& c : cells) {
      if (c.classes.count("no") != 0) continue;
      for (int i = 0; i < c.width; ++i) columns.push_back(&c);
    }
    return columns;
  }
};

Line ParseLine(std::string_view html) {
  Line line;
  for (std::size_t at = 0; (at = html.find("<span", at)) != std::string_view::npos;) {
    const std::size_t open_end = html.find('>', at);
    const std::string_view tag = html.substr(at, open_end + 1 - at);
    const std::size_t close = html.find("</span>", open_end);
    Cell cell;
    std::string classes = Attribute(tag, "class");
    for (std::size_t p = 0; p < classes.size();) {
      const std::size_t q = std::min(classes.find(' ', p), classes.size());
      cell.classes.insert(classes.substr(p, q - p));
      p = q + 1;
    }
    cell.title = Attribute(tag, "title");
    const std::string style = Attribute(tag, "style");
    EXPECT_EQ(style.rfind("width:", 0), 0u) << style;
    cell.width = std::atoi(style.c_str() + 6);
    EXPECT_EQ(style.substr(style.size() - 2), "ch");
    cell.text = Unescape(StripTags(html.substr(open_end + 1, close - open_end - 1)));
    line.cells.push_back(std::move(cell));
    at = close + 7;
  }
  return line;
}

// The part of the page from `<section id="id"` to its end; "" when there is none.
std::string Section(const std::string& html, const std::string& id) {
  const std::size_t begin = html.find("<section id=\"" + id + "\"");
  if (begin == std::string::npos) return "";
  return html.substr(begin, html.find("</section>", begin) - begin);
}

// The listed pairs of a section, each as its lines (ruler, -O:, -C:, -R: per segment).
std::vector<std::vector<Line>> ListedPairs(const std::string& section) {
  std::vector<std::vector<Line>> pairs;
  const std::string kPair = "<div class=\"pair\">", kLine = "<div class=\"ln\">";
  for (std::size_t at = 0; (at = section.find(kPair, at)) != std::string::npos;) {
    const std::size_t next = std::min(section.find(kPair, at + 1), section.size());
    std::vector<Line> lines;
    for (std::size_t l = at; (l = section.find(kLine, l)) < next;) {
      const std::size_t end = section.find("</div>", l);
      lines.push_back(ParseLine(std::string_view(section).substr(l, end - l)));
      l = end;
    }
    pairs.push_back(std::move(lines));
    at = next;
  }
  return pairs;
}

// The tags of a document in order ("<td", "</td", ...): text cannot add any.
std::vector<std::string> Tags(const std::string& html) {
  std::vector<std::string> tags;
  for (std::size_t i = 0; i < html.size(); ++i) {
    if (html[i] != '<') continue;
    std::size_t j = i + 1;
    while (j < html.size() && (std::isalnum(static_cast<unsigned char>(html[j])) ||
                               html[j] == '/' || html[j] == '!')) {
      ++j;
    }
    tags.push_back(html.substr(i, j - i));
  }
  return tags;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

// ---------------------------------------------------------------------------------------------
// The figures

TEST(ReportHtmlTest, StatesWhatWasComparedHowAndWhatWasFound) {
  const ReportData data = Realistic();
  const std::string html = RenderReportHtml(data);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>\n<html lang=\"ja\">", 0), 0u);
  EXPECT_NE(html.find("<title>Vesmer 比較結果報告書</title>"), std::string::npos);
  EXPECT_NE(html.find("<h1>Vesmer 比較結果報告書</h1>"), std::string::npos);
  EXPECT_NE(html.find("2026-12-07 14:03:05 +0900"), std::string::npos);
  EXPECT_NE(html.find("vesmer-batch 2.0.40"), std::string::npos);
  // Shown as given, each word a box of its own so that lines break only between words.
  EXPECT_NE(StripTags(html).find(data.command_line), std::string::npos);
  EXPECT_NE(html.find("<td class=\"cmd\"><span class=\"w\">vesmer-batch</span> <span "
                      "class=\"w\">"),
            std::string::npos);

  const std::string settings = Section(html, "settings");
  for (const auto& [label, value] : data.options) {
    EXPECT_NE(settings.find("<th>" + label + "</th><td class=\"m\">" + value + "</td>"),
              std::string::npos)
        << label;
  }

  const std::string inputs = Section(html, "inputs");
  EXPECT_NE(inputs.find("<th>比較元</th><th>比較先</th>"), std::string::npos);
  EXPECT_NE(inputs.find("<td class=\"m\">/srv/ikou/old/SHAIN.TXT</td><td class=\"m\">"
                        "/srv/ikou/new/SHAIN.TXT</td>"),
            std::string::npos);
  EXPECT_NE(inputs.find("1,482,003 バイト</td><td class=\"n\">1,483,456 バイト"),
            std::string::npos);
  EXPECT_NE(inputs.find("10,204 行</td><td class=\"n\">10,206 行"), std::string::npos);
  EXPECT_NE(inputs.find(data.inputs[0].sha256 + "</td><td class=\"m\">" + data.inputs[1].sha256),
            std::string::npos);
  // The kept UTF-8 original of the destination only.
  EXPECT_NE(inputs.find("<th>UTF-8 の元ファイル</th><td class=\"m\">—</td><td class=\"m\">"
                        "/srv/ikou/new/SHAIN_UTF8.TXT</td>"),
            std::string::npos);
  EXPECT_NE(inputs.find(data.inputs[1].utf8_original_sha256), std::string::npos);
  EXPECT_NE(inputs.find("<th>重複キーのレコード</th><td class=\"n\">0 件</td><td class=\"n\">2 件"),
            std::string::npos);
  EXPECT_NE(inputs.find("<th>重複したキー</th><td class=\"n\">0 種</td><td class=\"n\">1 種"),
            std::string::npos);

  const std::string results = Section(html, "results");
  EXPECT_NE(results.find("<th>結果</th><td>差異あり</td>"), std::string::npos);
  EXPECT_NE(results.find("☆処理が終了しました"), std::string::npos);
  EXPECT_NE(results.find("<th>差異のある組</th><td>4 組</td>"), std::string::npos);
  EXPECT_NE(results.find("<th>文字としては一致するがバイトが異なる組</th><td>1,203 組</td>"),
            std::string::npos);
  EXPECT_NE(results.find("<th>許容された組</th><td>2 組</td>"), std::string::npos);
  EXPECT_EQ(results.find("class=\"err\""), std::string::npos);
  EXPECT_NE(results.find("<tr><td class=\"n\">4</td><td>キー・内容とも一致</td><td>しない</td>"
                         "<td class=\"n\">10,196 件</td><td class=\"n\">0 件</td>"
                         "<td class=\"m\">/srv/ikou/old/SHAIN_4.TXT</td></tr>"),
            std::string::npos);
  EXPECT_NE(results.find("<tr><td class=\"n\">1</td><td>比較先ファイル：キー不一致</td>"
                         "<td>する</td><td class=\"n\">3 件</td><td class=\"n\">3 件</td>"),
            std::string::npos);
  EXPECT_EQ(Occurrences(results, "<tr><td class=\"n\">"), 6u);
  EXPECT_EQ(results.find("未完了"), std::string::npos);

  const std::string rules = Section(html, "accepted");
  EXPECT_NE(rules.find("/srv/ikou/kisoku.csv"), std::string::npos);
  EXPECT_NE(rules.find("<tr><td class=\"n\">3</td><td>給与</td><td>数値</td><td>0.5</td>"
                       "<td class=\"n\">0 組</td></tr>"),
            std::string::npos);
  EXPECT_NE(rules.find("<tr><td class=\"n\">2</td><td>更新日</td><td>無視</td><td></td>"
                       "<td class=\"n\">2 組</td></tr>"),
            std::string::npos);

  // Rendering is a function of the data.
  EXPECT_EQ(RenderReportHtml(data), html);
}

// The page opens with the verdict in large type, its symbol, border and colour telling it in
// black and white too, and the figures that decide it; no English outcome code anywhere.
TEST(ReportHtmlTest, TheVerdictComesFirstForEveryOutcome) {
  struct Case {
    std::string outcome, css, verdict;
  };
  const std::vector<Case> cases = {
      {"no-differences", "v-ok", "○</span>一致"},
      {"differences", "v-ng", "×</span>差異あり"},
      {"expected-differences", "v-accepted", "△</span>許容された差異のみ"},
      {"failed", "v-error", "！</span>失敗"},
      {"refused", "v-error", "！</span>失敗"},
      {"out-of-order", "v-error", "！</span>失敗"},
      {"stopped", "v-halt", "―</span>中止"},
  };
  for (const Case& c : cases) {
    ReportData data = Realistic();
    data.outcome = c.outcome;
    const std::string html = RenderReportHtml(data);
    const std::size_t banner = html.find("<div class=\"verdict " + c.css + "\"");
    ASSERT_NE(banner, std::string::npos) << c.outcome;
    // Before everything else the page holds: right under the title.
    EXPECT_LT(banner, html.find("<table class=\"kv\">")) << c.outcome;
    EXPECT_EQ(html.find("<div class=\"verdict", banner + 1), std::string::npos);
    const std::string shown = html.substr(banner, html.find("</div>\n</div>", banner) - banner);
    EXPECT_NE(shown.find(c.verdict), std::string::npos) << c.outcome;
    EXPECT_NE(shown.find("差異のある組：<b>4 組</b>"), std::string::npos) << shown;
    EXPECT_NE(shown.find("比較元だけのレコード：<b>1 件</b>"), std::string::npos) << shown;
    EXPECT_NE(shown.find("比較先だけのレコード：<b>3 件</b>"), std::string::npos) << shown;
    EXPECT_NE(shown.find("許容された組：<b>2 組</b>"), std::string::npos) << shown;
    EXPECT_NE(shown.find("入力の SHA-256：<b>異なる</b>"), std::string::npos) << shown;
    // The codes a script reads are for the JSON and the CSV; the command line is the user's.
    std::string words = html;
    const std::size_t command = words.find("<td class=\"cmd\">");
    ASSERT_NE(command, std::string::npos);
    words.erase(command, words.find("</td>", command) - command);
    for (const char* code :
         {"no-differences", "differences", "out-of-order", "stopped", "failed", "refused"}) {
      EXPECT_EQ(words.find(code), std::string::npos) << c.outcome << ": " << code;
    }
  }
  ReportData data = Realistic();
  data.inputs[1].sha256 = data.inputs[0].sha256;
  EXPECT_NE(RenderReportHtml(data).find("入力の SHA-256：<b>同じ</b>"), std::string::npos);
  data.inputs[1].sha256.clear();  // a run that did not read to the end
  EXPECT_NE(RenderReportHtml(data).find("入力の SHA-256：<b>—（求めていません）</b>"),
            std::string::npos);
  data.rules_path.clear();
  EXPECT_EQ(RenderReportHtml(data).find("許容された組：<b>"), std::string::npos);
}

// Records without a partner are listed as their result files hold them, up to the number asked
// for, with how many there were.
TEST(ReportHtmlTest, RecordsWithoutAPartnerAreListed) {
  ReportData data = Realistic();
  data.unmatched[0] = {Unmatched(17, "000017 \x8f\x5b\x93\x63")};  // 充田
  data.unmatched[1] = {Unmatched(5, "000005 A"), Unmatched(9, "000009 B")};
  const std::string section = Section(RenderReportHtml(data), "unmatched");
  ASSERT_FALSE(section.empty());
  const std::string source = section.substr(0, section.find("比較先だけのレコード"));
  EXPECT_NE(source.find("全 1 件を表示"), std::string::npos);
  EXPECT_NE(source.find("000017 充田"), std::string::npos) << source;
  EXPECT_NE(source.find(">0000017 </span>"), std::string::npos) << source;
  const std::string destination = section.substr(section.find("比較先だけのレコード"));
  EXPECT_NE(destination.find("最初の 2 件を表示（全 3 件）"), std::string::npos) << destination;
  EXPECT_LT(destination.find("000005 A"), destination.find("000009 B"));
  // Line mode has no such records, and no section for them.
  data.unmatched = {};
  Output(data, 0).found = Output(data, 1).found = 0;
  EXPECT_EQ(Section(RenderReportHtml(data), "unmatched"), "");
}

// The evidence says where, by whom and with what it was made, and names each input by an
// absolute path too; the command line wraps between words only.
TEST(ReportHtmlTest, EvidenceStandsAlone) {
  ReportData data = Realistic();
  data.build = "Release, GNU 12.2.0";
  data.working_folder = "/srv/ikou";
  data.host = "ikou-01";
  data.user = "yamada";
  data.inputs[0].absolute_path = "/mnt/data/old/SHAIN.TXT";
  const std::string html = RenderReportHtml(data);
  EXPECT_NE(html.find("<th>プログラム</th><td>vesmer-batch 2.0.40（Release, GNU 12.2.0）</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<th>実行したマシンと利用者</th><td>ikou-01　yamada</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<th>作業フォルダ</th><td class=\"m\">/srv/ikou</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>絶対パス</th><td class=\"m\">/mnt/data/old/SHAIN.TXT</td>"
                      "<td class=\"m\">—</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<th>コマンドライン</th><td class=\"cmd\">"), std::string::npos);
  EXPECT_NE(html.find(".cmd { font-family:"), std::string::npos);
  EXPECT_NE(html.find("white-space: pre-wrap; word-break: normal;"), std::string::npos);
}

// On a narrow screen the heat-map keeps the size of its cells and scrolls sideways.
TEST(ReportHtmlTest, TheHeatMapScrollsInsteadOfShrinking) {
  const std::string columns = Section(RenderReportHtml(Realistic()), "columns");
  EXPECT_NE(columns.find("<div class=\"hmw\">\n<svg class=\"hm\""), std::string::npos);
  EXPECT_NE(columns.find("width=\"856\""), std::string::npos);
  const std::string html = RenderReportHtml(Realistic());
  EXPECT_NE(html.find(".hmw { overflow-x: auto; }"), std::string::npos);
  EXPECT_NE(html.find(".hm { display: block; max-width: none; }"), std::string::npos);
}

TEST(ReportHtmlTest, FailedRunShowsItsErrorAndIncompleteFilesAreMarked) {
  ReportData data = Realistic();
  data.outcome = "failed";
  data.status = "★書き込みに失敗しました";
  data.error = "/srv/ikou/old/SHAIN_2.TXT: デバイスに空き領域がありません";
  Output(data, 2).written = 3;
  Output(data, 2).complete = false;
  const std::string results = Section(RenderReportHtml(data), "results");
  EXPECT_NE(results.find("<th>結果</th><td>失敗</td>"), std::string::npos);
  EXPECT_NE(results.find("<div class=\"err\"><b>エラー：</b>/srv/ikou/old/SHAIN_2.TXT: "
                         "デバイスに空き領域がありません</div>"),
            std::string::npos);
  // Only the file that did not get everything is marked.
  EXPECT_EQ(Occurrences(results, "未完了"), 1u);
  EXPECT_NE(results.find("<td class=\"n\">4 件</td><td class=\"n\">3 件<br><span class=\"warn\">"
                         "未完了</span></td><td class=\"m\">/srv/ikou/old/SHAIN_2.TXT</td>"),
            std::string::npos);
  // An outcome the page has no words for is shown as it came.
  data.outcome = "<new>";
  EXPECT_NE(RenderReportHtml(data).find("<th>結果</th><td>&lt;new&gt;</td>"), std::string::npos);
}

TEST(ReportHtmlTest, OptionalPartsOnlyWhenThereIsSomethingToShow) {
  ReportData data = Realistic();
  data.inputs[1].utf8_original_path.clear();
  data.run.inputs[1].repeated_records = data.run.inputs[1].repeated_keys = 0;
  data.fields.clear();
  data.rules_path.clear();
  const std::string html = RenderReportHtml(data);
  EXPECT_EQ(html.find("UTF-8 の元ファイル"), std::string::npos);
  EXPECT_EQ(html.find("重複キー"), std::string::npos);
  EXPECT_EQ(html.find("<section id=\"fields\""), std::string::npos);
  EXPECT_EQ(html.find("<section id=\"accepted\""), std::string::npos);
  EXPECT_EQ(html.find("許容された組"), std::string::npos);
  EXPECT_EQ(html.find("href=\"#fields\""), std::string::npos);

  // A single repeated key on one side is enough to show both counts.
  data.run.inputs[0].repeated_keys = 1;
  EXPECT_NE(RenderReportHtml(data).find("<th>重複キーのレコード</th><td class=\"n\">0 件"),
            std::string::npos);
}

TEST(ReportHtmlTest, FieldTableGivesColumnsAttributeCountAndShareToOneDecimal) {
  ReportData data;
  data.differing_pairs = 16;
  data.layout_path = "/l/layout.csv";
  SetFields(data, {MakeField("A", 1, 5, 'X', 1),      // 6.25 -> 6.3 (halves round up)
                   MakeField("B", 6, 1, '9', 3),      // 18.75 -> 18.8
                   MakeField("C", 100, 20, 'N', 16),  // 100.0
                   MakeField("D", 7, 2, 'X', 0),      // 0.0
                   MakeField("E", 9, 3, 'X', 5)});    // 31.25 -> 31.3
  std::string fields = Section(RenderReportHtml(data), "fields");
  EXPECT_NE(fields.find("/l/layout.csv"), std::string::npos);
  const auto row = [](const std::string& name, const std::string& columns, const std::string& a,
                      const std::string& count, const std::string& share) {
    return "<tr><td>" + name + "</td><td class=\"n\">" + columns + "</td><td>" + a +
           "</td><td class=\"n\">" + count + " 組</td><td class=\"n\">" + share +
           "%<span class=\"barbox\"><span class=\"bar\" style=\"width:" + share + "%\">";
  };
  EXPECT_NE(fields.find(row("A", "1-5", "X", "1", "6.3")), std::string::npos);
  EXPECT_NE(fields.find(row("B", "6-6", "9", "3", "18.8")), std::string::npos);
  EXPECT_NE(fields.find(row("C", "100-119", "N", "16", "100.0")), std::string::npos);
  EXPECT_NE(fields.find(row("D", "7-8", "X", "0", "0.0")), std::string::npos);
  EXPECT_NE(fields.find(row("E", "9-11", "X", "5", "31.3")), std::string::npos);

  data.differing_pairs = 3;
  SetFields(data, {MakeField("F", 1, 1, 'X', 1), MakeField("G", 2, 1, 'X', 2)});
  fields = Section(RenderReportHtml(data), "fields");
  EXPECT_NE(fields.find(row("F", "1-1", "X", "1", "33.3")), std::string::npos);
  EXPECT_NE(fields.find(row("G", "2-2", "X", "2", "66.7")), std::string::npos);

  // Without differing pairs there is no share to give.
  data.differing_pairs = 0;
  SetFields(data, {MakeField("H", 1, 1, 'X', 0)});
  fields = Section(RenderReportHtml(data), "fields");
  EXPECT_NE(fields.find("<td class=\"n\">0 組</td><td class=\"n\">—</td>"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Escaping

// The data with texts full of markup characters, or its twin with each of them replaced by a
// digit (no text here holds digits where it matters): the two pages must have the same markup.
ReportData HostileData(bool hostile) {
  const auto t = [&](std::string s) {
    if (hostile) return s;
    for (char& c : s) {
      if (const char* at = std::strchr("<>&\"'", c); at != nullptr && c != 0) {
        c = static_cast<char>('1' + (at - "<>&\"'"));
      }
    }
    return s;
  };
  const std::string kBad = "</script><img src=x>";
  ReportData data;
  data.title = t("<b>報告</b>");
  data.generated_at = t("2026&<x>");
  data.version = t("v\"1'");
  data.command_line = t("vesmer-batch \"" + kBad + "\" 'a&b' <in >out");
  data.options = {{t("キー<"), t("1-6\"><script>alert(1)</script>")}};
  data.outcome = t("<i>");
  data.status = t("&amp;");
  data.error = t(kBad + ": x");
  data.run.inputs[0].path = t("/tmp/" + kBad + ".prn");
  data.inputs[0].sha256 = t("<sha>");
  data.inputs[0].utf8_original_path = t("/tmp/\"q\"&'a'.txt");
  data.inputs[0].utf8_original_sha256 = t("&#x3C;");
  data.run.inputs[1].path = t("/tmp/b&c.prn");
  data.run.inputs[0].repeated_keys = 1;
  Output(data, 5).path = t("/tmp/" + kBad + "_5.TXT");
  data.layout_path = t("/tmp/<layout>.csv");
  // A field name lands in a title attribute too.
  SetFields(data, {MakeField(t("\"><img src=x onerror=alert(1)>"), 1, 8, 'X', 1),
                   MakeField(t("a'b"), 9, 4, 'X', 1)});
  data.differing_pairs = 1;
  data.scale = t("<<<<+&&&&*\"\"\"\"+''''#");
  data.column_counts = {1, 1, 0, 1};
  data.pairs = {MakePair(t("<b>&amp;</b> \"x\" 'y'"), t("<i>&lt;</i> \"z\" 'w'"), 7, {0, 1})};
  data.pairs_limit = 1;
  data.rules_path = t("/tmp/<rules>.csv");
  SetRules(data, {{1, t("<f>"), t("数値"), t("0.5\"/><x"), 1}});
  data.expected = {MakePair(t("<a href=x>"), t("<a href=y>"), 8, {0})};
  data.run.expected_pairs = 1;
  return data;
}

// The templates a page is made from are parsed once a thread and kept: a page must come out the
// same whatever was made before it, and pages made on several threads at once each whole.
TEST(ReportHtmlTest, PagesAreTheSameWhateverWasMadeBeforeAndOnAnyThread) {
  const std::vector<ReportData> pages = {Realistic(), HostileData(true), HostileData(false)};
  std::vector<std::string> alone;
  for (const ReportData& data : pages) alone.push_back(RenderReportHtml(data));
  EXPECT_NE(alone[1], alone[2]);
  // Again on this thread, in another order.
  for (std::size_t i = pages.size(); i-- > 0;) EXPECT_EQ(RenderReportHtml(pages[i]), alone[i]);
  std::vector<std::vector<std::string>> made(4);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < made.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        for (std::size_t i = 0; i < pages.size(); ++i) {
          made[t].push_back(RenderReportHtml(pages[(i + t) % pages.size()]));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < made.size(); ++t) {
    ASSERT_EQ(made[t].size(), 5 * pages.size());
    for (std::size_t k = 0; k < made[t].size(); ++k) {
      EXPECT_EQ(made[t][k], alone[(k % pages.size() + t) % pages.size()]) << t << " " << k;
    }
  }
}

TEST(ReportHtmlTest, HostileTextsAndRecordBytesProduceNoMarkup) {
  const std::string benign = RenderReportHtml(HostileData(false));
  const std::string hostile = RenderReportHtml(HostileData(true));
  // Every text, attribute value and record byte stays text: the markup is the benign twin's.
  EXPECT_EQ(Tags(hostile), Tags(benign));
  EXPECT_EQ(hostile.find("<img"), std::string::npos);
  EXPECT_EQ(hostile.find("<script"), std::string::npos);
  EXPECT_NE(hostile.find("/tmp/&lt;/script&gt;&lt;img src=x&gt;.prn"), std::string::npos);
  EXPECT_NE(StripTags(hostile).find("vesmer-batch &quot;&lt;/script&gt;&lt;img src=x&gt;&quot; "
                                    "&#39;a&amp;b&#39; &lt;in &gt;out"),
            std::string::npos);
  EXPECT_NE(hostile.find("/tmp/&quot;q&quot;&amp;&#39;a&#39;.txt"), std::string::npos);
  EXPECT_NE(hostile.find("&amp;#x3C;"), std::string::npos);
  EXPECT_NE(hostile.find("title=\"&quot;&gt;&lt;img src=x onerror=alert(1)&gt; (1-8)\""),
            std::string::npos);
  // The record bytes, decoded and escaped, cell by cell.
  const auto pairs = ListedPairs(Section(hostile, "pairs"));
  ASSERT_EQ(pairs.size(), 1u);
  ASSERT_EQ(pairs[0].size(), 4u);
  EXPECT_EQ(pairs[0][1].Text(), "0000007 000-O:<b>&amp;</b> \"x\" 'y'");
  EXPECT_EQ(pairs[0][2].Text(), "0000007 000-C:<i>&lt;</i> \"z\" 'w' ");
  EXPECT_EQ(pairs[0][0].Text(), std::string(14, ' ') + "<<<<+&&&&*\"\"\"\"+''''#");
}

TEST(ReportHtmlTest, ControlAndHiddenCharactersAreShownNeverWritten) {
  ReportData data;
  data.run.inputs[0].path = std::string("/tmp/a\tb\x1b[31m\x7f.prn");
  data.run.inputs[1].path = "/tmp/\xE2\x80\xAEtxt.exe";  // U+202E would reverse what follows
  data.command_line = "vesmer-batch /tmp/\xFF\xFE.prn";  // not UTF-8
  data.differing_pairs = 1;
  SetFields(data, {MakeField("a\tb\xE2\x80\x8B", 1, 1, 'X')});  // a tab and a zero-width space
  // A tab and a NUL in a record; the destination is longer.
  data.pairs = {MakePair(std::string("A\tB\0C", 5), "A B C D", 1, {0})};
  const std::string html = RenderReportHtml(data);
  for (const char c : html) {
    const auto b = static_cast<unsigned char>(c);
    EXPECT_TRUE(b >= 0x20 || c == '\n') << "raw control byte " << static_cast<int>(b);
  }
  EXPECT_NE(html.find("/tmp/a<span class=\"ctl\">U+0009</span>b<span class=\"ctl\">U+001B</span>"
                      "[31m<span class=\"ctl\">U+007F</span>.prn"),
            std::string::npos);
  EXPECT_EQ(html.find("\xE2\x80\xAE"), std::string::npos);
  EXPECT_NE(html.find("/tmp/<span class=\"ctl\">U+202E</span>txt.exe"), std::string::npos);
  EXPECT_NE(StripTags(html).find("vesmer-batch /tmp/\xEF\xBF\xBD\xEF\xBF\xBD.prn"),
            std::string::npos);

  const auto pairs = ListedPairs(Section(html, "pairs"));
  ASSERT_EQ(pairs.size(), 1u);
  const Line& o = pairs[0][1];
  // Each control byte keeps its one column: a dot in a cell of its own that names the byte.
  EXPECT_EQ(o.Text(), "0000001 000-O:A･B･C  ");
  const auto columns = o.Columns();
  ASSERT_EQ(columns.size(), 7u);
  EXPECT_EQ(columns[1]->title, "0x09");
  EXPECT_EQ(columns[1]->classes, std::set<std::string>{"x"});
  EXPECT_EQ(columns[1]->width, 1);
  EXPECT_EQ(columns[3]->title, "0x00");
  EXPECT_EQ(columns[0]->classes, std::set<std::string>{"f"});
  // In an attribute the codes are bracketed instead of framed.
  EXPECT_EQ(columns[0]->title, "a[U+0009]b[U+200B] (1-1)");
  EXPECT_EQ(pairs[0][3].Text(), "0000001 000-R: ? ? ??");
}

TEST(ReportHtmlTest, RecordCharactersWithoutAGlyphGetAStandInOfTheirWidth) {
  ReportData data;
  data.differing_pairs = 1;
  // Half-width katakana, a full-width space, a user-defined character (F040), a pair that is
  // not in the table (8540), the byte 0x80 and a lone lead byte at the end.
  const std::string source =
      "\xB1\xB2\x81\x40\xF0\x40\x85\x40\x80"
      "Z\x88";
  data.pairs = {MakePair(source, std::string(source.size(), 'Z'), 3)};
  const auto pairs = ListedPairs(Section(RenderReportHtml(data), "pairs"));
  ASSERT_EQ(pairs.size(), 1u);
  const Line& o = pairs[0][1];
  EXPECT_EQ(o.Text(), "0000003 000-O:ｱｲ　〓・･Z･");
  const auto columns = o.Columns();
  ASSERT_EQ(columns.size(), source.size());
  EXPECT_TRUE(columns[0]->classes.empty());  // ｱｲ　 are text
  EXPECT_TRUE(columns[3]->classes.empty());
  EXPECT_EQ(columns[4]->title, "0xF040");
  EXPECT_EQ(columns[4]->width, 2);
  EXPECT_EQ(columns[6]->title, "0x8540");
  EXPECT_EQ(columns[8]->title, "0x80");
  EXPECT_EQ(columns[8]->width, 1);
  EXPECT_TRUE(columns[9]->classes.empty());
  EXPECT_EQ(columns[10]->title, "0x88");
  EXPECT_EQ(columns[10]->width, 1);
}

// ---------------------------------------------------------------------------------------------
// Nothing from outside

TEST(ReportHtmlTest, ReferencesNothingOutsideItself) {
  const std::string html = RenderReportHtml(Realistic());
  for (const char* banned :
       {"src=", "url(", "@import", "<script", "<link", "<iframe", "<object", "<embed", "<img",
        "<base", "http:", "https:", "//", "@font-face", "srcset", "xlink"}) {
    EXPECT_EQ(html.find(banned), std::string::npos) << banned;
  }
  // Links only within the page, each to a part that is there.
  std::size_t links = 0;
  for (std::size_t at = 0; (at = html.find("href=", at)) != std::string::npos; ++at) {
    ++links;
    ASSERT_EQ(html.substr(at, 7), "href=\"#");
    const std::string id = html.substr(at + 7, html.find('"', at + 7) - at - 7);
    EXPECT_NE(html.find("<section id=\"" + id + "\""), std::string::npos) << id;
  }
  EXPECT_EQ(links, 7u);
  // The page forbids loading anything, prints on A4 and lays records out in fixed-pitch
  // Japanese fonts.
  EXPECT_NE(html.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                      "'none'; style-src 'unsafe-inline'\">"),
            std::string::npos);
  EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(html.find("size: A4"), std::string::npos);
  // A heading never ends a page, and nothing forces a page of its own: a small run prints on
  // few pages.
  EXPECT_NE(html.find("h2 + *, h3 + * { break-before: avoid; }"), std::string::npos);
  EXPECT_EQ(html.find("break-before: page"), std::string::npos);
  EXPECT_NE(html.find(".seg { break-inside: avoid;"), std::string::npos);
  EXPECT_NE(html.find(".ls { font-family: \"BIZ UDGothic\", \"MS Gothic\", \"IPAGothic\", "
                      "\"Noto Sans Mono CJK JP\", \"Noto Sans CJK JP\", monospace;"),
            std::string::npos);
  // With VESMER_REPORT_SAMPLE set, the page is kept there to be looked at
  // (scripts/report-pictures.sh makes the README's pictures).
  if (const char* keep = std::getenv("VESMER_REPORT_SAMPLE")) {
    WriteFile(keep, html);
    WriteFile(std::string(keep) + ".csv", RenderSummaryCsv(Realistic()));
  }
}

// ---------------------------------------------------------------------------------------------
// Pairs as the result list shows them

// The result list the engine writes for `pairs`, one line per entry line, decoded to UTF-8.
std::vector<std::string> EngineList(const std::vector<KeptPair>& pairs, const std::string& scale) {
  TempDir dir;
  OutputFile file;
  EXPECT_TRUE(file.Create(dir / "list.txt").ok());
  RunObserver observer;
  ResultListWriter writer(file, scale, false, observer);
  for (const KeptPair& p : pairs) {
    ListedPair listed;
    listed.source_line = listed.source_comparison = p.source_line;
    listed.destination_line = listed.destination_comparison = p.destination_line;
    listed.source_width = p.source_line.size();
    listed.destination_width = p.destination_line.size();
    listed.number = p.number;
    EXPECT_TRUE(writer.Write(listed));
  }
  EXPECT_TRUE(file.Close().ok());
  const std::string bytes = ReadFile(dir / "list.txt");
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    lines.push_back(cp932::ToUtf8(bytes.substr(at, end - at)));
    at = end + 2;
  }
  return lines;
}

TEST(ReportListingTest, DoubleByteCharacterAtColumn100IsCarriedIntoTheFirstSegment) {
  ReportData data;
  data.scale = kScale;
  // 亜 (88 9F) at columns 100-101, and again at 200-201 after the carry.
  const std::string source =
      std::string(99, 'a') + "\x88\x9F" + std::string(98, 'b') + "\x88\x9F" + "cd";
  std::string destination = source;
  destination[0] = 'X';
  destination[150] = 'Y';
  data.pairs = {MakePair(source, destination, 12)};
  data.differing_pairs = 1;
  const auto pairs = ListedPairs(Section(RenderReportHtml(data), "pairs"));
  ASSERT_EQ(pairs.size(), 1u);
  const std::vector<Line>& lines = pairs[0];
  ASSERT_EQ(lines.size(), 12u);
  const std::string ruler = std::string(14, ' ') + kScale;
  EXPECT_EQ(lines[0].Text(), ruler);
  EXPECT_EQ(lines[1].Text(), "0000012 000-O:" + std::string(99, 'a') + "亜");
  EXPECT_EQ(lines[2].Text(), "0000012 000-C:X" + std::string(98, 'a') + "亜");
  EXPECT_EQ(lines[3].Text(), "0000012 000-R:?" + std::string(100, ' '));
  EXPECT_EQ(lines[4].Text(), ruler);
  EXPECT_EQ(lines[5].Text(), "0000012 001-O: " + std::string(98, 'b') + "亜");
  EXPECT_EQ(lines[6].Text(),
            "0000012 001-C: " + std::string(49, 'b') + "Y" + std::string(48, 'b') + "亜");
  EXPECT_EQ(lines[7].Text(), "0000012 001-R: " + std::string(49, ' ') + "?" + std::string(50, ' '));
  EXPECT_EQ(lines[9].Text(), "0000012 002-O: cd");
  // Each line is as wide as its text: a full-width character takes two columns.
  EXPECT_EQ(lines[1].Width(), 14 + 101);
  EXPECT_EQ(lines[5].Width(), 14 + 101);
  EXPECT_EQ(lines[9].Width(), 14 + 3);
  EXPECT_EQ(lines[0].Width(), 14 + 100);
}

TEST(ReportListingTest, SegmentsMatchTheEnginesResultList) {
  // The scale holds a full-width character too, and the number needs more than seven digits.
  const std::string scale = "....+....\x82\x50....+....*";
  const std::string kanji = "\x88\x9F";  // 亜
  std::vector<KeptPair> pairs = {
      MakePair("ABC123", "ABD12345", 12),
      MakePair(std::string(100, 'a'), std::string(100, 'b'), 1),
      MakePair(std::string(100, 'a') + "x", std::string(100, 'a') + "y", 2),
      MakePair(std::string(99, 'a') + kanji + "z", std::string(99, 'a') + "ccz", 3),
      // 漢 (8A BF) at 199-200: its trail byte is no lead byte, so the cut after 200 does not
      // carry.
      MakePair(std::string(99, 'a') + kanji + std::string(97, 'q') + "\x8A\xBF" + kanji + "end",
               std::string(250, 'q'), 4),
      MakePair("", std::string(120, 'k'), 5),  // a destination line without a partner
      MakePair(std::string(40, ' ') + "\x83\x65\x83\x58\x83\x67", "\x83\x65\x83\x58", 123456789),
      // A full-width space across the cut: it is carried like any double-byte character.
      MakePair(std::string(99, '0') + "\x81\x40" + "1", std::string(99, '0') + "221", 6),
  };
  ReportData data;
  data.scale = scale;
  data.pairs = pairs;
  data.differing_pairs = static_cast<std::int64_t>(pairs.size());
  const auto listed = ListedPairs(Section(RenderReportHtml(data), "pairs"));
  ASSERT_EQ(listed.size(), pairs.size());
  std::vector<std::string> shown;
  for (const auto& lines : listed) {
    for (const Line& line : lines) shown.push_back(line.Text());
  }
  EXPECT_EQ(shown, EngineList(pairs, scale));
}

TEST(ReportListingTest, DestinationCharacterCutByTheSourcesSegmentShowsAsStandIns) {
  // The source decides the cut: its column 100 is half-width, so the destination's 亜 at
  // columns 100-101 is split into a lone lead byte and a trail byte, as in the result list.
  ReportData data;
  data.differing_pairs = 1;
  data.pairs = {MakePair(std::string(101, 'a'), std::string(99, 'a') + "\x88\x9F", 1)};
  const auto pairs = ListedPairs(Section(RenderReportHtml(data), "pairs"));
  ASSERT_EQ(pairs.size(), 1u);
  ASSERT_EQ(pairs[0].size(), 8u);
  EXPECT_EQ(pairs[0][2].Text(), "0000001 000-C:" + std::string(99, 'a') + "･");
  EXPECT_EQ(pairs[0][2].cells.back().title, "0x88");
  // 0x9F alone is not a character either.
  EXPECT_EQ(pairs[0][6].Text(), "0000001 001-C:･");
  EXPECT_EQ(pairs[0][6].cells.back().title, "0x9F");
  EXPECT_EQ(pairs[0][7].Text(), "0000001 001-R:?");
}

// The 1-based columns of a segment's data that carry class `shade` (whole, or one half: a
// "<shade>l" cell shades its first column, "<shade>r" its second). `first` is the column of the
// first data cell; a segment after a carry starts with a space that is no column of the line.
std::set<int> Shaded(const Line& line, int first, bool carry, const std::string& shade) {
  std::set<int> shaded;
  const auto columns = line.Columns();
  for (std::size_t i = carry ? 1 : 0; i < columns.size(); ++i) {
    const Cell& cell = *columns[i];
    // Position of this column within its cell.
    std::size_t start = i;
    while (start > 0 && columns[start - 1] == &cell) --start;
    const std::size_t within = i - start;
    const int column = first + static_cast<int>(i) - (carry ? 1 : 0);
    if (cell.classes.count(shade) != 0 || (cell.classes.count(shade + "l") != 0 && within == 0) ||
        (cell.classes.count(shade + "r") != 0 && within == 1)) {
      shaded.insert(column);
    }
  }
  return shaded;
}

std::set<int> Range(int first, int last) {
  std::set<int> s;
  for (int c = first; c <= last; ++c) s.insert(c);
  return s;
}

std::set<int> Union(std::initializer_list<std::set<int>> sets) {
  std::set<int> all;
  for (const auto& s : sets) all.insert(s.begin(), s.end());
  return all;
}

TEST(ReportListingTest, ShadesExactlyTheColumnsOfDifferingFields) {
  ReportData data;
  data.scale = kScale;
  // Fields: 1-4 (differs), 5-9 (same), 10-13 (differs, its last column cuts the 亜 at 13-14),
  // 95-110 (differs, across the cut after column 101), 150-160 (same), 198-205 (differs, beyond
  // the end of the source line: the destination is longer).
  SetFields(data, {MakeField("番号", 1, 4, 'X'), MakeField("名", 5, 5, 'X'),
                   MakeField("区分", 10, 4, 'X'), MakeField("住所", 95, 16, 'N'),
                   MakeField("予備", 150, 11, 'X'), MakeField("備考", 198, 8, 'X')});
  std::string source = "0001" + std::string(8, 's') + "\x88\x9F" + std::string(85, 't') +
                       "\x88\x9F" + std::string(98, 'u');  // 亜 at 13-14 and at 100-101
  ASSERT_EQ(source.size(), 199u);
  std::string destination = source;
  destination[1] = '9';       // in 番号
  destination[10] = 'S';      // in 区分
  destination[104] = 'U';     // in 住所
  destination += "xyz12345";  // 備考 differs past the source's end (columns 200-207)
  data.pairs = {MakePair(source, destination, 42, {0, 2, 3, 5})};
  data.differing_pairs = 1;
  const auto pairs = ListedPairs(Section(RenderReportHtml(data), "pairs"));
  ASSERT_EQ(pairs.size(), 1u);
  ASSERT_EQ(pairs[0].size(), 12u);
  // Segments: 1-101 (carry), then a space and 102-200, then 201-207.
  const std::set<int> expected =
      Union({Range(1, 4), Range(10, 13), Range(95, 110), Range(198, 205)});
  for (int line : {1, 2}) {
    const std::set<int> shaded =
        Union({Shaded(pairs[0][line], 1, false, "f"), Shaded(pairs[0][line + 4], 102, true, "f"),
               Shaded(pairs[0][line + 8], 201, false, "f")});
    EXPECT_EQ(shaded, expected) << "line " << line;
  }
  // The 亜 at 13-14 is shaded on its left half only; 住所's 亜 at 100-101 whole.
  const auto columns = pairs[0][1].Columns();
  EXPECT_EQ(columns[12]->classes, std::set<std::string>{"fl"});
  EXPECT_EQ(columns[12]->width, 2);
  EXPECT_EQ(columns[99]->classes, std::set<std::string>{"f"});
  // Each shaded cell names its field.
  EXPECT_EQ(columns[0]->title, "番号 (1-4)");
  EXPECT_EQ(columns[12]->title, "区分 (10-13)");
  EXPECT_EQ(columns[96]->title, "住所 (95-110)");
  // Neither the ruler nor the marker line is shaded; the caption names the fields.
  for (int line : {0, 3, 4, 7, 8, 11}) {
    EXPECT_TRUE(Shaded(pairs[0][line], 1, false, "f").empty()) << line;
  }
  const std::string section = Section(RenderReportHtml(data), "pairs");
  EXPECT_NE(section.find("差異のある項目：番号、区分、住所、備考</div>"), std::string::npos);

  // Accepted pairs are shaded in their own colour, on the same columns.
  data.rules_path = "/r.csv";
  data.expected = data.pairs;
  data.run.expected_pairs = 1;
  data.pairs.clear();
  const auto accepted = ListedPairs(Section(RenderReportHtml(data), "accepted"));
  ASSERT_EQ(accepted.size(), 1u);
  EXPECT_EQ(Union({Shaded(accepted[0][1], 1, false, "a"), Shaded(accepted[0][5], 102, true, "a"),
                   Shaded(accepted[0][9], 201, false, "a")}),
            expected);
  EXPECT_TRUE(Shaded(accepted[0][1], 1, false, "f").empty());
}

TEST(ReportListingTest, NotesHowManyPairsAreListed) {
  ReportData data;
  const auto note = [&] {
    const std::string s = Section(RenderReportHtml(data), "pairs");
    const std::size_t at = s.find("<p class=\"note\">");
    return at == std::string::npos ? std::string()
                                   : s.substr(at + 16, s.find("</p>", at) - at - 16);
  };
  EXPECT_EQ(note(), "差異のある組はありません。");
  data.pairs_limit = 2;
  data.differing_pairs = 5;
  data.pairs = {MakePair("a", "b", 1), MakePair("c", "d", 2)};
  EXPECT_EQ(note(), "最初の 2 件を表示（全 5 組）");
  EXPECT_EQ(ListedPairs(Section(RenderReportHtml(data), "pairs")).size(), 2u);
  data.differing_pairs = 2;
  EXPECT_EQ(note(), "全 2 件を表示");
  data.pairs.clear();
  data.pairs_limit = 0;
  EXPECT_EQ(note(), "明細を表示する件数が 0 件のため、明細はありません（全 2 組）。");

  data.rules_path = "/r.csv";
  data.expected = {MakePair("a", "b", 1)};
  data.run.expected_pairs = 3;
  const std::string accepted = Section(RenderReportHtml(data), "accepted");
  EXPECT_NE(accepted.find("最初の 1 件を表示（全 3 組）"), std::string::npos);
  EXPECT_NE(accepted.find("<span class=\"badge\">許容された差異</span>"), std::string::npos);
}

// A pair compared as texts, as the statistics keep it.
KeptPair TextPair(std::int64_t source, std::int64_t destination, std::string key,
                  std::vector<KeptField> fields) {
  KeptPair pair;
  pair.texts = true;
  pair.number = source;
  pair.source_number = source;
  pair.destination_number = destination;
  pair.key = std::move(key);
  pair.fields = std::move(fields);
  return pair;
}

TEST(ReportListingTest, PairsComparedAsTextsAreListedFieldByFieldWithWhatDiffersMarked) {
  ReportData data;
  data.texts = true;
  SetFields(data, {MakeField("番号", 1, 4, 'X', 0), MakeField("名前", 6, 10, 'X', 1)});
  data.differing_pairs = 1;
  data.pairs = {TextPair(
      3, 4, "B002",
      {MakeKeptField("名前", u"佐藤次郎", u"佐藤"), MakeKeptField("備考", u"a<b  c", u"a<x  c")})};
  data.pairs[0].differing_fields = {1};
  data.unmatched[0] = {Unmatched(7, "\xC1\xF0")};
  data.unmatched[0][0].texts = true;
  data.unmatched[0][0].text = "A0 \\x01";
  Output(data, 0).found = 1;
  const std::string html = RenderReportHtml(data);
  const std::string pairs = Section(html, "pairs");
  EXPECT_NE(
      pairs.find("<div class=\"cap\">差異 1　比較元 3 行　比較先 4 行　キー「B002」　差異のある"
                 "項目：名前</div>"),
      std::string::npos)
      << pairs;
  // Each differing field with both values; exactly the characters that differ marked, as the
  // marker line marks a differing column; markup in a value is text.
  EXPECT_NE(pairs.find("<tr><th>名前</th><td class=\"tv\">佐藤<span class=\"q\">次郎</span></td>"
                       "<td class=\"tv\">佐藤</td></tr>"),
            std::string::npos)
      << pairs;
  EXPECT_NE(pairs.find("<tr><th>備考</th><td class=\"tv\">a&lt;<span class=\"q\">b</span>  c</td>"
                       "<td class=\"tv\">a&lt;<span class=\"q\">x</span>  c</td></tr>"),
            std::string::npos)
      << pairs;
  // No ruler, no byte lines.
  EXPECT_EQ(pairs.find("-O:"), std::string::npos);
  EXPECT_EQ(pairs.find("<div class=\"seg\">"), std::string::npos);
  // Texts have no columns to count.
  const std::string columns = Section(html, "columns");
  EXPECT_NE(columns.find("桁ごとの集計はありません"), std::string::npos) << columns;
  EXPECT_EQ(columns.find("<svg"), std::string::npos);
  // A record without a partner as its text, never its bytes of another code page.
  const std::string unmatched = Section(html, "unmatched");
  EXPECT_NE(unmatched.find("<span class=\"tv\">A0 \\x01</span>"), std::string::npos) << unmatched;
  EXPECT_EQ(unmatched.find("\xEF\xBD\xA5"), std::string::npos) << unmatched;  // no stand-ins

  // The summary counts fields, and has no columns to count.
  const std::string csv = RenderSummaryCsv(data);
  EXPECT_NE(csv.find("\r\n差異のある桁,\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n名前,6-15,X,1,100.0\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\n桁,差異のある組\r\n\r\n"), std::string::npos) << csv;

  // Accepted pairs are listed alike.
  data.rules_path = "/r.csv";
  data.expected = {TextPair(5, 5, "", {MakeKeptField("金額", u"100", u"101")})};
  data.run.expected_pairs = 1;
  const std::string accepted = Section(RenderReportHtml(data), "accepted");
  EXPECT_NE(accepted.find("許容 1　比較元 5 行　比較先 5 行<span class=\"badge\">"),
            std::string::npos)
      << accepted;
  EXPECT_NE(accepted.find("10<span class=\"q\">0</span>"), std::string::npos) << accepted;
}

// ---------------------------------------------------------------------------------------------
// The heat-map

// The value of attribute `name` of the element that `at` points into.
std::string AttrAt(const std::string& html, std::size_t at, const std::string& name) {
  const std::size_t begin = html.rfind('<', at - 1);
  return Attribute(std::string_view(html).substr(begin, html.find('>', begin) - begin), name);
}

TEST(ReportHeatMapTest, OneCellPerColumnWithADifferenceUnderTheRuler) {
  ReportData data;
  data.scale = kScale;
  data.differing_pairs = 9;
  data.column_counts.assign(150, 0);
  data.column_counts[2] = 1;    // column 3
  data.column_counts[56] = 9;   // column 57: the maximum
  data.column_counts[99] = 4;   // column 100, under the ruler's '#'
  data.column_counts[100] = 2;  // column 101: first of the second row
  data.column_counts[149] = 1;  // column 150
  const std::string html = Section(RenderReportHtml(data), "columns");
  EXPECT_NE(html.find("差異のある桁：5 桁（全 150 桁中）"), std::string::npos);
  EXPECT_NE(html.find("一桁あたりの最大：9 組"), std::string::npos);
  EXPECT_EQ(Occurrences(html, "<svg "), 1u);
  EXPECT_EQ(Occurrences(html, " 桁目："), 5u);  // one cell per nonzero column, none for 0

  const auto cell = [&](int column, const std::string& count) {
    const std::size_t at =
        html.find("<title>" + std::to_string(column) + " 桁目：" + count + " 組</title>");
    EXPECT_NE(at, std::string::npos) << column;
    return at;
  };
  const std::size_t c3 = cell(3, "1"), c57 = cell(57, "9"), c100 = cell(100, "4"),
                    c101 = cell(101, "2"), c150 = cell(150, "1");
  // Darkest at the maximum, lightest for one pair.
  EXPECT_EQ(AttrAt(html, c57, "fill"), "#A01010");
  EXPECT_EQ(AttrAt(html, c3, "fill"), "#FFD6D6");
  EXPECT_EQ(AttrAt(html, c150, "fill"), "#FFD6D6");
  // Columns 100 to a row: 101 starts the second row where 1 started the first, 150 sits
  // under 50.
  const auto x = [&](std::size_t at) { return std::stoi(AttrAt(html, at, "x")); };
  const auto y = [&](std::size_t at) { return std::stoi(AttrAt(html, at, "y")); };
  const int cell_width = std::stoi(AttrAt(html, c3, "width"));
  EXPECT_EQ(x(c101), x(c3) - 2 * cell_width);
  EXPECT_EQ(y(c3), y(c57));
  EXPECT_GT(y(c101), y(c100));
  EXPECT_EQ(x(c57) - x(c3), 54 * cell_width);
  EXPECT_EQ(x(c150) - x(c101), 49 * cell_width);
  // The ruler above each row: its '#' (column 100) centred over column 100's cell, its '*'
  // (column 10) over where column 10 is.
  const std::size_t hash = html.find(">#</text>");
  ASSERT_NE(hash, std::string::npos);
  EXPECT_EQ(x(hash), x(c100) + cell_width / 2);
  EXPECT_EQ(Occurrences(html, ">#</text>"), 1u);  // the second row ends at column 150
  EXPECT_EQ(Occurrences(html, ">*</text>"), 9u + 5u);
  const std::size_t star = html.find(">*</text>");
  EXPECT_EQ(x(star), x(c3) + 7 * cell_width + cell_width / 2);
  // A legend up to the maximum.
  EXPECT_NE(html.find("9 組（最大）"), std::string::npos);
}

TEST(ReportHeatMapTest, NoDifferencesNoMap) {
  ReportData data;
  data.column_counts.assign(80, 0);
  const std::string html = Section(RenderReportHtml(data), "columns");
  EXPECT_NE(html.find("差異のある桁：0 桁（全 80 桁中）"), std::string::npos);
  EXPECT_NE(html.find("差異のある桁はありません。"), std::string::npos);
  EXPECT_EQ(html.find("<svg"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The CSV summary

TEST(ReportCsvTest, SameFiguresAsRowsWithABomAndCrLf) {
  ReportData data;
  data.title = "報告書";
  data.generated_at = "2026-12-07 14:03:05 +0900";
  data.version = "vesmer-batch 2.0.40";
  data.command_line = "vesmer-batch -k 1-4 \"/d/a,\"\"b\"\".prn\" /d/b.prn";
  data.options = {{"キー", "1-4"}, {"出力", "2,3,5"}};
  data.outcome = "differences";
  data.status = "☆処理が終了しました";
  SetInput(data, 0, {"/d/a,\"b\".prn", 120, 3, "aa11", "", "", 0, 0, ""});
  SetInput(data, 1, {"/d/b.prn", 130, 4, "bb22", "/d/b_UTF8.TXT", "cc33", 2, 1, ""});
  OutputSummary& o2 = Output(data, 2);
  o2.path = "/d/a,\"b\"_2.TXT";
  o2.selected = true;
  o2.found = 3;
  o2.written = 2;
  o2.complete = false;
  Output(data, 4).path = "/d/a_4.TXT";
  data.layout_path = "/d/l.csv";
  SetFields(data, {MakeField("番号", 1, 4, 'X', 1), MakeField("=HYPERLINK(\"x\")", 5, 3, '9', 2)});
  data.differing_pairs = 3;
  data.run.same_text_other_bytes = 5;
  data.column_counts = {1, 0, 0, 0, 2, 0, 1};
  data.pairs = {MakePair("a", "b", 1)};
  data.rules_path = "/d/r.csv";
  data.run.expected_pairs = 1;
  SetRules(data, {{4, "番号", "前後空白", "", 1}, {6, "5-7", "数値", "0.5", 0}});

  const std::string expected =
      "\xEF\xBB\xBF"
      "項目,値\r\n"
      "表題,報告書\r\n"
      "作成日時,2026-12-07 14:03:05 +0900\r\n"
      "プログラム,vesmer-batch 2.0.40\r\n"
      "コマンドライン,\"vesmer-batch -k 1-4 \"\"/d/a,\"\"\"\"b\"\"\"\".prn\"\" /d/b.prn\"\r\n"
      "結果,differences\r\n"
      "状態,☆処理が終了しました\r\n"
      "エラー,\r\n"
      "差異のある組,3\r\n"
      "文字としては一致するがバイトが異なる組,5\r\n"
      "差異のある桁,3\r\n"
      "明細の件数,1\r\n"
      "レイアウトファイル,/d/l.csv\r\n"
      "規則ファイル,/d/r.csv\r\n"
      "許容された組,1\r\n"
      "キー,1-4\r\n"
      "出力,\"2,3,5\"\r\n"
      "\r\n"
      "入力,パス,サイズ,行数,SHA-256,UTF-8の元ファイル,元ファイルのSHA-256,重複キーのレコード,"
      "重複したキー\r\n"
      "比較元,\"/d/a,\"\"b\"\".prn\",120,3,aa11,,,0,0\r\n"
      "比較先,/d/b.prn,130,4,bb22,/d/b_UTF8.TXT,cc33,2,1\r\n"
      "\r\n"
      "種別,結果ファイル,パス,出力,検出,書き込み,完了\r\n"
      "0,比較元ファイル：キー不一致,,しない,0,0,完了\r\n"
      "1,比較先ファイル：キー不一致,,しない,0,0,完了\r\n"
      "2,比較元ファイル：キー一致・内容不一致,\"/d/a,\"\"b\"\"_2.TXT\",する,3,2,未完了\r\n"
      "3,比較先ファイル：キー一致・内容不一致,,しない,0,0,完了\r\n"
      "4,キー・内容とも一致,/d/a_4.TXT,しない,0,0,完了\r\n"
      "5,比較結果リスト,,しない,0,0,完了\r\n"
      "\r\n"
      "項目名,開始-終了,属性,差異のある組,割合(%)\r\n"
      "番号,1-4,X,1,33.3\r\n"
      // A spreadsheet must not take a field name for a formula.
      "\"'=HYPERLINK(\"\"x\"\")\",5-7,9,2,66.7\r\n"
      "\r\n"
      "桁,差異のある組\r\n"
      "1,1\r\n"
      "5,2\r\n"
      "7,1\r\n"
      "\r\n"
      "規則の行,項目,規則,値,許容した組\r\n"
      "4,番号,前後空白,,1\r\n"
      "6,5-7,数値,0.5,0\r\n";
  EXPECT_EQ(RenderSummaryCsv(data), expected);
}

TEST(ReportCsvTest, EveryLineEndsInCrLfAndTextStaysValidUtf8) {
  ReportData data = Realistic();
  data.run.inputs[0].path = "/tmp/a\nb\xFF.prn";  // a line end and a byte that is not UTF-8
  data.error = "x\r\ny";
  const std::string csv = RenderSummaryCsv(data);
  ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_NE(csv.find(",\"/tmp/a\nb\xEF\xBF\xBD.prn\","), std::string::npos);
  EXPECT_NE(csv.find("\r\nエラー,\"x\r\ny\"\r\n"), std::string::npos);
  // Outside quoted cells every LF follows a CR.
  bool quoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    if (csv[i] == '"') quoted = !quoted;
    if (!quoted && csv[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(csv[i - 1], '\r') << "at " << i;
    }
  }
  EXPECT_FALSE(quoted);
  EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
  // The columns section lists exactly the columns with a difference.
  std::size_t nonzero = 0;
  for (const std::int64_t c : data.column_counts) nonzero += c > 0 ? 1 : 0;
  const std::size_t begin = csv.find("桁,差異のある組\r\n");
  const std::size_t end = csv.find("\r\n\r\n", begin);
  EXPECT_EQ(Occurrences(csv.substr(begin, end - begin), "\r\n"), nonzero);
  EXPECT_GT(nonzero, 5u);
}

}  // namespace
}  // namespace vesmer
