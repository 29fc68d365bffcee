// The evidence report byte for byte: fixed report data rendered as HTML and as CSV against pages
// kept in tests/data/report/. Whatever changes how the page is written must leave these bytes as
// they are; set VESMER_UPDATE_GOLDEN=1 to write the pages anew when the page is meant to change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/result_list.h"
#include "platform/cp932.h"
#include "report/report.h"
#include "tests/report/report_parts.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::Exists;
using testing::MakeField;
using testing::MakePair;
using testing::Output;
using testing::ReadFile;
using testing::SetFields;
using testing::SetInput;
using testing::SetRules;
using testing::Unmatched;
using testing::WriteFile;

const std::string kScale =
    "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
    "....+....#....+....*....+....*....+....*....+....*....+....*";

// Every character that the page shows otherwise than as itself: markup characters, C0 and C1
// controls, DEL, hidden format characters (soft hyphen, zero-width space, direction override,
// byte order mark) and malformed UTF-8.
const std::string kHostile =
    "<b>&amp;\"'</b>\x01\t\x7F\xC2\x85\xC2\xAD\xE2\x80\x8B\xE2\x80\xAE\xEF\xBB\xBF\xFF\xC3 end";

std::string Sjis(const std::string& utf8) { return cp932::FromUtf8(utf8); }

void AddOutputs(ReportData& data, const std::vector<std::int64_t>& found, bool key_mode) {
  for (int k = 0; k < 6; ++k) {
    OutputSummary& o = Output(data, k);
    o.path = "/data/work/SRC_" + std::to_string(k) + ".TXT";
    o.selected = k != 4 && (key_mode || k >= 2);
    o.found = found[static_cast<std::size_t>(k)];
    o.written = o.selected ? o.found : 0;
  }
}

ReportData Common() {
  ReportData data;
  data.title = "Vesmer 比較結果報告書";
  data.generated_at = "2026-12-07 14:03:05 +0900";
  data.version = "vesmer-batch 2.0.40";
  data.build = "Release, GCC 12.2.0";
  data.working_folder = "/data/work";
  data.host = "ikou-01";
  data.user = "tanaka";
  data.scale = kScale.substr(0, 100);
  SetInput(data, 0,
           {"old/SRC.TXT", 1482003, 10204,
            "3f1a0c9d52e4b7a8816c0e2f4d9b7a51c3e8f0a2b4d6c8e0f1a3b5c7d9e1f2a4", "", "", 0, 0,
            "/data/work/old/SRC.TXT"});
  SetInput(data, 1,
           {"new/SRC.TXT", 1483456, 10206,
            "9b2e7d4c1a0f8e6d5c3b2a1908f7e6d5c4b3a2918e7d6c5b4a39281706f5e4d3", "", "", 0, 0,
            "/data/work/new/SRC.TXT"});
  return data;
}

// A key run with a layout and rules: fields shaded (one cut through a double-byte character),
// records over two segments with a double-byte character at the cut, a heat-map of two rows,
// records without a partner, expected pairs, an input converted from UTF-8, repeated keys.
ReportData KeyRunWithLayoutAndRules() {
  ReportData data = Common();
  data.command_line =
      "vesmer-batch --key 1-6 --layout /data/shain.csv --rules /data/kisoku.csv "
      "--report /data/houkoku.html old/SRC.TXT new/SRC.TXT";
  data.options = {{"比較モード", "キー"}, {"キー", "1-6（社員番号）"},
                  {"除外する桁", "なし"}, {"全角空白を半角空白 2 個と比較", "しない"},
                  {"出力", "0,1,2,3,5"},  {"スケール", kScale}};
  data.outcome = "differences";
  data.status = "☆処理が終了しました";
  data.inputs[1].utf8_original_path = "new/SRC_UTF8.TXT";
  data.inputs[1].utf8_original_sha256 =
      "0d4e2c9b8a7f6e5d4c3b2a19f8e7d6c5b4a3928170f6e5d4c3b2a1908f7e6d5c";
  data.run.inputs[0].repeated_records = 2;
  data.run.inputs[0].repeated_keys = 1;
  AddOutputs(data, {3, 1, 3, 3, 10196, 3}, true);
  data.layout_path = "/data/shain.csv";
  SetFields(data, {MakeField("社員番号", 1, 6, 'X', 0), MakeField("氏名", 8, 20, 'N', 1),
                   MakeField("住所", 31, 70, 'N', 2), MakeField("給与", 102, 8, '9', 1),
                   MakeField("空", 130, 0, 'X', 0)});
  // Columns 1-6 key, 7 a space, 8-27 the name, 28-29 spaces; the address's double-byte
  // characters take columns 30-101, a column more on either side than the field, so its first and
  // last character are cut in half; the last sits across the cut of the segment.
  const std::string head = "100231 " + Sjis("上野　健二　　　　　") + "  ";
  const std::string address_a =
      Sjis("愛知県名古屋市中区栄三丁目１５番２７号　　　　　　　　　　　　　　　　　");
  const std::string address_b =
      Sjis("愛知県名古屋市中区栄三丁目１５番２８号　　　　　　　　　　　　　　　　　");
  const std::string source = head + address_a + "00021000" + "  20261130";
  const std::string destination = head + address_b + "00021500" + "  20261201";
  data.pairs.push_back(MakePair(source, destination, 1204, {2, 3}));
  const std::string name_b = "100245 " + Sjis("佐藤　花子　　　　　") + "  ";
  data.pairs.push_back(
      MakePair(name_b + address_a + "00034500",
               "100245 " + Sjis("佐藤　華子　　　　　") + "  " + address_b + "00034500xyz", 2311,
               {1, 2, 7}));
  data.pairs.push_back(MakePair("100302 short", "100302 shorter and longer", 4087, {}));
  data.differing_pairs = 12345;
  data.run.same_text_other_bytes = 1203;
  data.pairs_limit = 3;
  data.column_counts.assign(140, 0);
  for (std::size_t c = 0; c < data.column_counts.size(); ++c) {
    if (c % 7 == 3 || c > 125) data.column_counts[c] = static_cast<std::int64_t>(c * 37 % 1500);
  }
  data.column_counts[10] = 1;
  data.unmatched[0] = {Unmatched(17, "100999 " + Sjis("取消　済み")),
                       Unmatched(18, Sjis("ｶﾀｶﾅ<&>\"'"))};
  data.unmatched[1] = {Unmatched(5, "100001 new")};
  data.rules_path = "/data/kisoku.csv";
  SetRules(data, {{2, "更新日", "無視", "", 2}, {3, "給与", "数値", "0.5", 1234567}});
  data.run.expected_pairs = 1500;
  data.expected = {MakePair(source, head + address_a + "00021000" + "  20261202", 1533, {2, 3, 4})};
  return data;
}

// Every text the page takes from outside hostile: paths, options, names, rules, the error,
// the command line; record bytes that have no glyph of their own.
ReportData FailedRunWithHostileTexts() {
  ReportData data = Common();
  data.title = "報告書 " + kHostile;
  data.command_line = "vesmer-batch --report=" + kHostile + "  -k 1-4 a--b --x-y";
  data.build = kHostile;
  data.working_folder = kHostile;
  data.host = "host" + kHostile;
  data.user = "";
  data.options = {{"キー" + kHostile, "1-4" + kHostile}, {"=SUM(A1)", "-1+2"}, {"@x", "\ty"}};
  data.outcome = "failed";
  data.status = "★ファイルの読み書きに失敗しました" + kHostile;
  data.error = "/data/" + kHostile + ": 入出力エラー";
  data.run.inputs[0].path = kHostile;
  data.inputs[0].absolute_path = "";
  data.inputs[1].sha256 = "";
  data.inputs[0].utf8_original_path = kHostile;
  data.inputs[0].utf8_original_sha256 = kHostile;
  AddOutputs(data, {0, 0, 2, 2, 0, 2}, false);
  Output(data, 2).complete = false;
  Output(data, 3).path = kHostile;
  data.layout_path = kHostile;
  SetFields(data, {MakeField(kHostile, 1, 4, 'X', 2), MakeField("<i>", 5, 6, 'N', 1),
                   MakeField("\"q\"", 11, 10, '9', 0)});
  data.fields[2].attribute = '<';
  // Control bytes, DEL, 0x80, 0xA0, 0xFD-0xFF, a lone lead byte, a user-defined character, a
  // character without a mapping, the real middle dot, half-width katakana, markup characters.
  const std::string odd = std::string("\x01\x7F\x80\xA0\xFD\xFE\xFF", 7) + "\xF0\x40" + "\x85\x40" +
                          "\x81\x45" + "\xB1\xB2" + "<&>\"'" + "\x81";
  data.pairs.push_back(MakePair("0001" + odd, "0002" + odd + "tail", 7, {0, 1, 2, 9, -1}));
  data.pairs.push_back(MakePair("", "only destination", 8, {}));
  data.differing_pairs = 2;
  data.column_counts = {2, 0, 0, 1, 1, 1, 2};
  data.scale = "<&>\"'" + Sjis("　全") + "\x01\x81 ....+....*";
  data.unmatched[1] = {Unmatched(3, odd)};
  data.rules_path = kHostile;
  SetRules(data, {{1, kHostile, kHostile, kHostile, 0}});
  data.run.expected_pairs = 0;
  return data;
}

// Nothing to show: no options, no fields, no differences, no hashes asked for.
ReportData NoDifferences() {
  ReportData data = Common();
  data.command_line = "vesmer-batch a b";
  data.build = "";
  data.host = "";
  data.user = "";
  data.working_folder = "";
  data.outcome = "no-differences";
  data.status = "☆処理が終了しました";
  data.inputs[0].sha256 = "";
  data.inputs[1].sha256 = "";
  AddOutputs(data, {0, 0, 0, 0, 5, 0}, false);
  return data;
}

// A stopped key run that lists nothing: none asked for, none kept of the records without a
// partner; an outcome the page does not know.
ReportData StoppedWithNothingListed() {
  ReportData data = Common();
  data.command_line = "vesmer-batch -k 1-4 --report-pairs 0 a b";
  data.options = {{"比較モード", "キー"}};
  data.outcome = "stopped";
  data.status = "☆中止しました";
  data.inputs[1].sha256 = data.inputs[0].sha256;
  AddOutputs(data, {4, 5, 1, 1, 0, 1}, true);
  data.differing_pairs = 1;
  data.column_counts = {0, 0, 3};
  data.pairs_limit = 0;
  return data;
}

ReportData OnlyExpectedDifferences(std::string outcome) {
  ReportData data = Common();
  data.command_line = "vesmer-batch --rules r.csv a b";
  data.options = {{"規則", "r.csv"}};
  data.outcome = std::move(outcome);
  data.status = "☆処理が終了しました";
  AddOutputs(data, {0, 0, 0, 0, 3, 0}, false);
  data.rules_path = "r.csv";
  SetRules(data, {{1, "1-4", "前後空白", "", 1}});
  data.run.expected_pairs = 1;
  data.expected = {MakePair("  12", "12  ", 2, {})};
  return data;
}

// Compares `actual` with the kept page `name`, naming the first byte that differs.
void ExpectSameAsKept(const std::string& name, const std::string& actual) {
  const std::string path = std::string(VESMER_TEST_DATA) + "/report/" + name;
  if (std::getenv("VESMER_UPDATE_GOLDEN") != nullptr) WriteFile(path, actual);
  ASSERT_TRUE(Exists(path)) << path;
  const std::string kept = ReadFile(path);
  if (kept == actual) return;
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(kept.begin(), kept.end(), actual.begin(), actual.end()).first - kept.begin());
  const std::size_t from = at < 80 ? 0 : at - 80;
  ADD_FAILURE() << name << " differs at byte " << at << " (kept " << kept.size() << " bytes, now "
                << actual.size() << ")\nkept: " << kept.substr(from, 160)
                << "\nnow:  " << actual.substr(from, 160);
}

TEST(ReportGoldenTest, KeyRunWithLayoutAndRules) {
  const ReportData data = KeyRunWithLayoutAndRules();
  ExpectSameAsKept("key_layout_rules.html", RenderReportHtml(data));
  ExpectSameAsKept("key_layout_rules.csv", RenderSummaryCsv(data));
}

TEST(ReportGoldenTest, FailedRunWithHostileTexts) {
  const ReportData data = FailedRunWithHostileTexts();
  ExpectSameAsKept("failed_hostile.html", RenderReportHtml(data));
  ExpectSameAsKept("failed_hostile.csv", RenderSummaryCsv(data));
}

TEST(ReportGoldenTest, NoDifferences) {
  const ReportData data = NoDifferences();
  ExpectSameAsKept("no_differences.html", RenderReportHtml(data));
  ExpectSameAsKept("no_differences.csv", RenderSummaryCsv(data));
}

TEST(ReportGoldenTest, StoppedWithNothingListed) {
  const ReportData data = StoppedWithNothingListed();
  ExpectSameAsKept("stopped.html", RenderReportHtml(data));
  ExpectSameAsKept("stopped.csv", RenderSummaryCsv(data));
}

TEST(ReportGoldenTest, EveryOtherVerdict) {
  for (const char* outcome : {"expected-differences", "out-of-order", "refused", "<unknown>"}) {
    SCOPED_TRACE(outcome);
    const std::string name = outcome[0] == '<' ? "unknown" : outcome;
    ExpectSameAsKept("outcome_" + name + ".html",
                     RenderReportHtml(OnlyExpectedDifferences(outcome)));
  }
}

}  // namespace
}  // namespace vesmer
