// The evidence report as it comes out of a printer: printed to PDF by headless Chromium, then
// read back page by page with poppler's pdftotext. Skipped where Chromium or poppler is missing
// (CI installs both).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::Exists;
using testing::OnPath;
using testing::ProcessResult;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFile;

std::string Chromium() {
  for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
    if (OnPath(name)) return name;
  }
  return "";
}

// One record of the staff listing the report is made of: 社員番号 (1-6), 氏名カナ (8-19),
// 氏名 (20-29), 住所 (32-45), 支給額 (48-55), as Shift-JIS bytes with CR LF.
std::string Record(int number, int amount) {
  char key[8], money[10];
  std::snprintf(key, sizeof key, "%06d", number);
  std::snprintf(money, sizeof money, "%08d", amount);
  return cp932::FromUtf8(std::string(key) + " ﾔﾏﾀﾞ ﾀﾛｳ    山田　太郎  東京都千代田区  " + money +
                         "\r\n");
}

constexpr char kLayout[] =
    "社員番号,1,6,X\r\n氏名カナ,8,12,X\r\n氏名,20,10,N\r\n住所,32,14,N\r\n支給額,48,8,9\r\n";

class ReportPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chromium_ = Chromium();
    if (chromium_.empty() || !OnPath("pdftotext") || !OnPath("pdfinfo")) {
      GTEST_SKIP() << "needs chromium and poppler-utils (scripts/install-deps.sh installs them)";
    }
  }

  // Compares `records` records of which every `differ_every`-th differs and a few are on one
  // side only, writes the report and prints it; returns the text of each page.
  std::vector<std::string> PrintedPages(int records, int differ_every, int report_pairs,
                                        const std::string& name_a = "a.prn",
                                        const std::string& name_b = "b.prn") {
    std::string a, b;
    for (int i = 1; i <= records; ++i) {
      a += Record(i, i * 1000);
      if (i % 7 == 3) continue;  // on the source side only
      b += Record(i, i * 1000 + (i % differ_every == 1 ? 7 : 0));
    }
    b += Record(records + 1, 0);  // on the destination side only
    WriteFile(dir_ / name_a, a);
    WriteFile(dir_ / name_b, b);
    WriteFile(dir_ / "lay.csv", cp932::FromUtf8(kLayout));
    arguments_ = {"-q",
                  "--layout",
                  dir_ / "lay.csv",
                  "--key-fields",
                  "社員番号",
                  "--report",
                  dir_ / "r.html",
                  "--report-pairs",
                  std::to_string(report_pairs),
                  dir_ / name_a,
                  dir_ / name_b};
    const ProcessResult run = RunBatchExe(arguments_);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    html_ = ReadFile(dir_ / "r.html");
    const ProcessResult print =
        RunProgram(chromium_, {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update",
                               "--disable-sync", "--user-data-dir=" + dir_ / "profile",
                               "--no-pdf-header-footer", "--print-to-pdf=" + dir_ / "r.pdf",
                               "file://" + dir_ / "r.html"});
    if (!Exists(dir_ / "r.pdf")) {
      ADD_FAILURE() << "Chromium printed nothing: " << print.err;
      return {};
    }
    const ProcessResult info = RunProgram("pdfinfo", {dir_ / "r.pdf"});
    std::smatch m;
    if (!std::regex_search(info.out, m, std::regex("Pages:\\s+(\\d+)"))) {
      ADD_FAILURE() << "pdfinfo: " << info.out << info.err;
      return {};
    }
    std::vector<std::string> pages;
    for (int page = 1; page <= std::stoi(m[1]); ++page) {
      const std::string n = std::to_string(page);
      pages.push_back(RunProgram("pdftotext", {"-f", n, "-l", n, dir_ / "r.pdf", "-"}).out);
    }
    return pages;
  }

  // The texts of the page's headings (h1, h2, h3).
  std::set<std::string> Headings() const {
    std::set<std::string> headings;
    const std::regex heading("<h[123][^>]*>([^<]*)</h[123]>");
    for (auto it = std::sregex_iterator(html_.begin(), html_.end(), heading);
         it != std::sregex_iterator(); ++it) {
      headings.insert((*it)[1]);
    }
    return headings;
  }

  // The page's lines with text, trimmed, without the page number at its foot ("2 / 3").
  static std::vector<std::string> Lines(const std::string& page) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < page.size()) {
      std::size_t end = page.find('\n', start);
      if (end == std::string::npos) end = page.size();
      std::string line = page.substr(start, end - start);
      start = end + 1;
      line = std::regex_replace(line, std::regex("^[\\s\\f]+|\\s+$"), "");
      if (line.empty() || std::regex_match(line, std::regex("\\d+ / \\d+"))) continue;
      lines.push_back(line);
    }
    return lines;
  }

  TempDir dir_;
  std::string chromium_, html_;
  std::vector<std::string> arguments_;
};

TEST_F(ReportPrintTest, ASmallRunPrintsOnFewPagesEachStartingWithAHeading) {
  const std::vector<std::string> pages = PrintedPages(20, 5, 100);
  ASSERT_FALSE(pages.empty());
  // The title and verdict, the settings; the inputs, results and fields; the differences and
  // the records without a partner. More is blank paper.
  EXPECT_LE(pages.size(), 3U);
  const std::set<std::string> headings = Headings();
  ASSERT_TRUE(headings.count("差異の明細")) << html_;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::vector<std::string> lines = Lines(pages[i]);
    ASSERT_FALSE(lines.empty()) << "page " << i + 1 << " is blank";
    EXPECT_TRUE(headings.count(lines.front()))
        << "page " << i + 1 << " starts with \"" << lines.front() << "\", not with a heading";
    EXPECT_FALSE(headings.count(lines.back()))
        << "page " << i + 1 << " ends with the heading \"" << lines.back() << "\"";
  }
}

TEST_F(ReportPrintTest, TheCommandLineWrapsBetweenItsWordsNeverInsideOne) {
  // Names of many short parts between hyphens, where a browser may break a line by default;
  // each word still fits the line.
  const std::vector<std::string> pages = PrintedPages(
      20, 5, 100, "old-pay-extract-2026-12-a-b-c-d.prn", "new-pay-extract-2026-12-e-f-g-h.prn");
  ASSERT_FALSE(pages.empty());
  // The words as printed: from the program's name to the first heading.
  const std::vector<std::string> lines = Lines(pages.front());
  auto at = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("vesmer-batch -q ") != std::string::npos;
  });
  ASSERT_NE(at, lines.end()) << pages.front();
  std::string printed;
  for (; at != lines.end() && *at != "設定"; ++at) printed += *at + "\n";
  std::vector<std::string> words;
  std::istringstream split(printed);
  for (std::string word; split >> word;) words.push_back(word);
  ASSERT_FALSE(words.empty());
  words.erase(words.begin());  // the program's path
  EXPECT_EQ(words, arguments_) << "as printed:\n" << printed;
}

TEST_F(ReportPrintTest, ALongListingRunsOverPagesWithoutLeavingAHeadingAtTheFoot) {
  const std::vector<std::string> pages = PrintedPages(400, 2, 150);
  ASSERT_GT(pages.size(), 4U);
  const std::set<std::string> headings = Headings();
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::vector<std::string> lines = Lines(pages[i]);
    ASSERT_FALSE(lines.empty()) << "page " << i + 1 << " is blank";
    EXPECT_FALSE(headings.count(lines.back()))
        << "page " << i + 1 << " ends with the heading \"" << lines.back() << "\"";
  }
}

}  // namespace
}  // namespace vesmer
