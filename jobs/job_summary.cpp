#include "jobs/job_summary.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mustache.hpp>
#include <nlohmann/json.hpp>
#include <system_error>
#include <tuple>

#include "core/result_names.h"
#include "dashboard_html_mustache.h"
#include "platform/files.h"
#include "platform/status.h"
#include "platform/unicode.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Data = kainjow::mustache::data;

// A JSON summary holds at most its first differing pairs; a file far larger is none.
constexpr std::size_t kMaxSummaryBytes = std::size_t{256} << 20;

std::int64_t Integer(const Json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_number_integer() ? it->get<std::int64_t>() : 0;
}

std::string Text(const Json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// `path` from `folder`, both as given: the link a page in `folder` makes to it.
std::string LinkFrom(const std::string& folder, const std::string& path) {
  std::error_code error;
  const fs::path from = fs::absolute(folder, error).lexically_normal();
  const fs::path to = fs::absolute(path, error).lexically_normal();
  return to.lexically_relative(from).generic_string();
}

// A relative path as a URL path: each byte outside the unreserved set and "/" percent-encoded,
// so that "#", "?", "%" and blanks in file names stay part of the name.
std::string UrlPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url;
  for (const char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~' || c == '/') {
      url += c;
    } else {
      url += '%';
      url += kHex[b >> 4];
      url += kHex[b & 15];
    }
  }
  return url;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

const char* VerdictClass(Verdict v) {
  switch (v) {
    case Verdict::kFailed:
      return "v-error";
    case Verdict::kStopped:
    case Verdict::kNotRun:
      return "v-halt";
    case Verdict::kDifferences:
    case Verdict::kOneSide:
      return "v-ng";
    case Verdict::kExpected:
      return "v-accepted";
    case Verdict::kMatch:
      break;
  }
  return "v-ok";
}

std::string Number(std::int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return (n < 0 ? "-" : "") + digits;
}

// A CSV cell: quoted when it holds a comma, a quote or a line end; a text a spreadsheet would
// take for a formula gets an apostrophe.
void CsvCell(std::string& out, std::string_view text, bool is_text) {
  std::string cell;
  if (is_text && !text.empty() &&
      (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) {
    cell = "'";
  }
  cell += text;
  if (cell.find_first_of(",\"\r\n") != std::string::npos) {
    std::string quoted = "\"";
    for (const char c : cell) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    cell = quoted + "\"";
  }
  out += cell;
}

}  // namespace

Verdict VerdictOf(std::string_view outcome) {
  if (outcome == "no-differences") return Verdict::kMatch;
  if (outcome == "expected-differences") return Verdict::kExpected;
  if (outcome == "differences") return Verdict::kDifferences;
  if (outcome == kOnlyInSource || outcome == kOnlyInDestination) return Verdict::kOneSide;
  if (outcome == "stopped") return Verdict::kStopped;
  if (outcome == kNotRun) return Verdict::kNotRun;
  return Verdict::kFailed;  // failed, refused, out-of-order, usage-error
}

std::string VerdictText(std::string_view outcome) {
  if (outcome == kOnlyInSource) return "× 比較元のみ";
  if (outcome == kOnlyInDestination) return "× 比較先のみ";
  if (outcome == "out-of-order") return "！ キーの順序誤り";
  switch (VerdictOf(outcome)) {
    case Verdict::kMatch:
      return "○ 一致";
    case Verdict::kExpected:
      return "△ 許容された差異のみ";
    case Verdict::kDifferences:
      return "× 差異あり";
    case Verdict::kStopped:
      return "― 中止";
    case Verdict::kNotRun:
      return "― 未実行";
    case Verdict::kOneSide:
    case Verdict::kFailed:
      break;
  }
  return "！ 失敗";
}

bool PairRowFromJson(std::string_view json, const std::string& summary_path,
                     const std::string& root, const std::string& dashboard_folder, PairRow& row,
                     std::string& problem) {
  const Json j = Json::parse(json, nullptr, false);
  if (j.is_discarded() || !j.is_object() || !j.contains("outcome")) {
    problem = "★比較の要約（JSON）ではありません: " + ShownText(summary_path);
    return false;
  }
  row = {};
  row.summary_path = summary_path;
  row.outcome = Text(j, "outcome");
  row.status = Text(j, "status");
  row.verdict = VerdictOf(row.outcome);
  const Json pair = j.contains("pair") && j["pair"].is_object() ? j["pair"] : Json::object();
  row.source = Text(pair, "source");
  row.destination = Text(pair, "destination");
  row.profile = Text(pair, "profile");
  row.relative = Text(pair, "relative");
  if (pair.contains("seconds") && pair["seconds"].is_number()) {
    row.seconds = pair["seconds"].get<double>();
  }
  if (const auto inputs = j.find("inputs"); inputs != j.end() && inputs->is_array()) {
    for (std::size_t i = 0; i < 2 && i < inputs->size(); ++i) {
      const Json& input = (*inputs)[i];
      row.lines[i] = Integer(input, "lines");
      row.sha256[i] = Text(input, "sha256");
      if (std::string& path = i == 0 ? row.source : row.destination; path.empty()) {
        path = Text(input, "path");
      }
    }
  }
  if (const auto outputs = j.find("outputs"); outputs != j.end() && outputs->is_array()) {
    for (const Json& o : *outputs) {
      const std::int64_t kind = Integer(o, "kind");
      if (kind == 0 || kind == 1) row.unmatched += Integer(o, "found");
      if (kind == 5) row.differing = Integer(o, "found");
    }
  }
  if (const auto expected = j.find("expected"); expected != j.end() && expected->is_object()) {
    row.expected = Integer(*expected, "pairs");
  }
  if (const auto duplicates = j.find("duplicates");
      duplicates != j.end() && duplicates->is_array()) {
    for (const Json& d : *duplicates) row.duplicates += Integer(d, "records");
  }
  const std::string folder = fs::path(summary_path).parent_path().string();
  if (const std::string report = Text(pair, "report"); !report.empty()) {
    row.report_link = LinkFrom(dashboard_folder, (fs::path(folder) / report).string());
  }
  if (row.relative.empty()) {
    const std::string under = LinkFrom(root, folder);
    const std::string name(PathFileName(row.source));
    row.relative = under.empty() || under == "." ? name : under + "/" + name;
  }
  return true;
}

void SortRows(std::vector<PairRow>& rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const PairRow& a, const PairRow& b) {
    return std::tie(a.verdict, a.relative, a.source) < std::tie(b.verdict, b.relative, b.source);
  });
}

JobTotals Totals(const std::vector<PairRow>& rows) {
  JobTotals t;
  for (const PairRow& row : rows) {
    ++t.pairs;
    switch (row.verdict) {
      case Verdict::kMatch:
        ++t.matching;
        break;
      case Verdict::kExpected:
        ++t.expected;
        break;
      case Verdict::kDifferences:
        ++t.differing;
        break;
      case Verdict::kOneSide:
        ++t.one_side;
        break;
      case Verdict::kFailed:
        ++t.failed;
        break;
      case Verdict::kStopped:
        ++t.stopped;
        break;
      case Verdict::kNotRun:
        ++t.not_run;
        break;
    }
  }
  return t;
}

std::string JobOutcome(const JobTotals& t) {
  if (t.stopped != 0 || t.not_run != 0) return "stopped";
  if (t.failed != 0) return "failed";
  if (t.differing != 0 || t.one_side != 0) return "differences";
  return "no-differences";
}

std::string JobVerdictText(const JobTotals& t) {
  const std::string all = std::to_string(t.pairs);
  const std::int64_t differ = t.differing + t.one_side;
  std::string text;
  if (t.stopped != 0 || t.not_run != 0) {
    text = "― 中止しました（" + all + " 組中 " + std::to_string(t.not_run) + " 組は未実行）";
  } else if (t.failed != 0) {
    text = "！ " + all + " 組中 " + std::to_string(t.failed) + " 組が失敗しました";
  } else if (differ != 0) {
    return "× " + all + " 組中 " + std::to_string(differ) + " 組に差異があります";
  } else if (t.pairs == 0) {
    return "○ 比較する組はありませんでした";
  } else {
    text = "○ " + all + " 組すべて一致しました";
    if (t.expected != 0) {
      text += "（うち " + std::to_string(t.expected) + " 組は規則で許容された差異のみ）";
    }
    return text;
  }
  if (differ != 0) text += "。" + std::to_string(differ) + " 組に差異があります";
  return text;
}

std::string RenderDashboardHtml(const std::vector<PairRow>& rows, const DashboardInfo& info) {
  const JobTotals t = Totals(rows);
  Data page;
  page.set("title", info.title);
  page.set("generated_at", info.generated_at);
  page.set("version", info.version);
  page.set("command_line", info.command_line);
  page.set("verdict", JobVerdictText(t));
  Verdict worst = Verdict::kMatch;
  for (const PairRow& row : rows) worst = std::min(worst, row.verdict);
  page.set("verdict_class", VerdictClass(worst));
  const std::pair<const char*, std::int64_t> figures[] = {
      {"組", t.pairs},           {"一致", t.matching},     {"許容された差異のみ", t.expected},
      {"差異あり", t.differing}, {"片方のみ", t.one_side}, {"失敗", t.failed},
      {"中止", t.stopped},       {"未実行", t.not_run}};
  Data figure_list{Data::type::list};
  for (const auto& [label, count] : figures) {
    if (count == 0 && std::string_view(label) != "組") continue;
    Data f;
    f.set("label", label);
    f.set("count", Number(count));
    figure_list.push_back(f);
  }
  page.set("figures", figure_list);
  Data list{Data::type::list};
  for (const PairRow& row : rows) {
    Data r;
    r.set("verdict", VerdictText(row.outcome));
    r.set("class", VerdictClass(row.verdict));
    r.set("relative", row.relative);
    r.set("source", row.source);
    r.set("destination", row.destination);
    r.set("profile", row.profile);
    r.set("status", row.status);
    const bool ran = row.verdict != Verdict::kNotRun && row.verdict != Verdict::kOneSide;
    r.set("lines0", ran ? Number(row.lines[0]) : "");
    r.set("lines1", ran ? Number(row.lines[1]) : "");
    r.set("unmatched", ran ? Number(row.unmatched) : "");
    r.set("differing", ran ? Number(row.differing) : "");
    r.set("expected", ran ? Number(row.expected) : "");
    r.set("duplicates", ran ? Number(row.duplicates) : "");
    r.set("sha0", row.sha256[0]);
    r.set("sha1", row.sha256[1]);
    r.set("seconds", ran ? Seconds(row.seconds) : "");
    if (!row.report_link.empty()) r.set("report", UrlPath(row.report_link));
    list.push_back(r);
  }
  page.set("rows", list);
  kainjow::mustache::mustache templ{std::string(embedded::kDashboardPage)};
  return templ.render(page);
}

std::string RenderJobCsv(const std::vector<PairRow>& rows) {
  std::string out = "\xEF\xBB\xBF";
  const char* header[] = {
      "判定",           "結果",         "比較元の相対パス", "比較元",           "比較先",
      "プロファイル",   "比較元の行数", "比較先の行数",     "キー不一致",       "内容不一致の組",
      "許容された差異", "キー重複",     "比較元の SHA-256", "比較先の SHA-256", "所要時間（秒）",
      "報告書",         "状態"};
  for (std::size_t i = 0; i < std::size(header); ++i) {
    if (i != 0) out += ',';
    CsvCell(out, header[i], true);
  }
  out += "\r\n";
  for (const PairRow& row : rows) {
    const bool ran = row.verdict != Verdict::kNotRun && row.verdict != Verdict::kOneSide;
    const auto number = [&](std::int64_t n) { return ran ? std::to_string(n) : std::string(); };
    const std::pair<std::string, bool> cells[] = {{VerdictText(row.outcome), true},
                                                  {row.outcome, true},
                                                  {row.relative, true},
                                                  {row.source, true},
                                                  {row.destination, true},
                                                  {row.profile, true},
                                                  {number(row.lines[0]), false},
                                                  {number(row.lines[1]), false},
                                                  {number(row.unmatched), false},
                                                  {number(row.differing), false},
                                                  {number(row.expected), false},
                                                  {number(row.duplicates), false},
                                                  {row.sha256[0], true},
                                                  {row.sha256[1], true},
                                                  {ran ? Seconds(row.seconds) : "", false},
                                                  {row.report_link, true},
                                                  {row.status, true}};
    for (std::size_t i = 0; i < std::size(cells); ++i) {
      if (i != 0) out += ',';
      CsvCell(out, cells[i].first, cells[i].second);
    }
    out += "\r\n";
  }
  return out;
}

std::string PairFolder(std::string_view output_dir, std::string_view relative) {
  const std::size_t slash = relative.rfind('/');
  std::string folder(output_dir);
  if (slash != std::string_view::npos) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folder += relative.substr(0, slash);
  }
  return folder;
}

PairFiles PairFilesIn(std::string_view folder, std::string_view source) {
  PairFiles files;
  files.folder = std::string(folder);
  files.results = MakeResultPathsIn(folder, source);
  const std::string name(PathFileName(source));
  if (name.empty()) return files;
  std::string stem = files.folder;
  if (!stem.empty() && stem.back() != '/') stem += '/';
  stem += RemoveExtension(name);
  files.report = stem + "_report.html";
  files.summary = stem + std::string(kSummarySuffix);
  return files;
}

bool ReadRollup(const std::vector<std::string>& roots, const std::string& dashboard_folder,
                std::vector<PairRow>& rows, std::string& problem) {
  for (const std::string& root : roots) {
    std::error_code error;
    if (!fs::is_directory(root, error)) {
      problem = "★フォルダがありません: " + ShownText(root);
      return false;
    }
    std::vector<std::string> summaries;
    fs::recursive_directory_iterator it(root, error), end;
    for (; !error && it != end; it.increment(error)) {
      std::error_code type_error;
      const std::string name = it->path().filename().string();
      if (name.ends_with(kSummarySuffix) && it->is_regular_file(type_error)) {
        summaries.push_back(it->path().string());
      }
    }
    if (error) {
      problem =
          "★フォルダを読めませんでした: " + ShownText(root) + ": " + ReasonText(error.value());
      return false;
    }
    std::sort(summaries.begin(), summaries.end());
    for (const std::string& path : summaries) {
      std::string text;
      if (const Status s = ReadWholeFile(path, kMaxSummaryBytes, text); !s.ok()) {
        problem = "★比較の要約（JSON）を読めませんでした: " + ShownText(path) + ": " + s.reason();
        return false;
      }
      PairRow row;
      if (!PairRowFromJson(text, path, root, dashboard_folder, row, problem)) return false;
      rows.push_back(std::move(row));
    }
  }
  return true;
}

}  // namespace vesmer
