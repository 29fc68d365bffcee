#include "jobs/workbook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "core/result_names.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

using Json = nlohmann::ordered_json;

// A cell holds at most 32,767 characters; a longer value is cut (at a character).
std::string CellText(const std::string& text) {
  constexpr std::size_t kMaxCell = 32767;
  if (text.size() <= kMaxCell) return text;
  std::size_t cut = kMaxCell;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// A sheet name: at most 31 characters, none of []:*?/\ (nor a quote, which would end the
// link's name). The row's number in front keeps it unique.
std::string SheetName(std::size_t number, const std::string& relative) {
  std::string base = std::to_string(number) + " ";
  for (const char c : std::string(PathFileName(relative))) {
    base += std::string_view("[]:*?/\\'").find(c) == std::string_view::npos ? c : '_';
  }
  // Cut to 31 characters, counting UTF-8 lead bytes.
  std::string name;
  std::size_t characters = 0;
  for (const char c : base) {
    const bool lead = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (lead && ++characters > 31) break;
    name += c;
  }
  return name;
}

class Book {
 public:
  explicit Book(const std::string& path) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // rows go to temporary files: memory stays flat
    book_ = workbook_new_opt(path.c_str(), &options);
    if (book_ == nullptr) return;
    text_ = Format(0, false);
    header_ = Format(0xE8EDF3, true);
    differs_ = Format(0xFFD54F, true);
    verdicts_[Verdict::kMatch] = Format(0xE8F5E9, true);
    verdicts_[Verdict::kExpected] = Format(0xFFF4E0, true);
    verdicts_[Verdict::kDifferences] = Format(0xFDECEA, true);
    verdicts_[Verdict::kOneSide] = verdicts_[Verdict::kDifferences];
    verdicts_[Verdict::kFailed] = Format(0xCFD8DC, true);
    verdicts_[Verdict::kStopped] = Format(0xF5F5F5, true);
    verdicts_[Verdict::kNotRun] = verdicts_[Verdict::kStopped];
    number_ = workbook_add_format(book_);
    format_set_num_format(number_, "#,##0");
    link_ = Format(0, false);
    format_set_font_color(link_, 0x1F3A5F);
    format_set_underline(link_, LXW_UNDERLINE_SINGLE);
  }
  ~Book() {
    if (book_ != nullptr) {
      // Closing writes the file; a book given up is still closed, and its file removed after.
      workbook_close(book_);
    }
  }
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;

  [[nodiscard]] bool ok() const { return book_ != nullptr && error_ == LXW_NO_ERROR; }
  lxw_worksheet* Sheet(const std::string& name) {
    lxw_worksheet* sheet = workbook_add_worksheet(book_, name.c_str());
    if (sheet == nullptr) error_ = LXW_ERROR_SHEETNAME_ALREADY_USED;
    return sheet;
  }
  void Text(lxw_worksheet* s, lxw_row_t r, lxw_col_t c, const std::string& text,
            lxw_format* format = nullptr) {
    if (s == nullptr || !ok()) return;
    Check(worksheet_write_string(s, r, c, CellText(text).c_str(), format ? format : text_));
  }
  void Number(lxw_worksheet* s, lxw_row_t r, lxw_col_t c, double value) {
    if (s == nullptr || !ok()) return;
    Check(worksheet_write_number(s, r, c, value, number_));
  }
  void Link(lxw_worksheet* s, lxw_row_t r, lxw_col_t c, const std::string& url,
            const std::string& text) {
    if (s == nullptr || !ok()) return;
    Check(worksheet_write_url_opt(s, r, c, url.c_str(), link_, text.c_str(), nullptr));
  }
  // Closes the book; false when writing it failed.
  bool Close() {
    const lxw_error closed = workbook_close(book_);
    book_ = nullptr;
    return closed == LXW_NO_ERROR && error_ == LXW_NO_ERROR;
  }

  lxw_format* header() const { return header_; }
  lxw_format* differs() const { return differs_; }
  lxw_format* verdict(Verdict v) const { return verdicts_.at(v); }
  lxw_format* text() const { return text_; }

 private:
  lxw_format* Format(lxw_color_t fill, bool bold) {
    lxw_format* f = workbook_add_format(book_);
    format_set_num_format(f, "@");  // text: what is typed in later stays text too
    if (fill != 0) {
      format_set_pattern(f, LXW_PATTERN_SOLID);
      format_set_bg_color(f, fill);
    }
    if (bold) format_set_bold(f);
    format_set_align(f, LXW_ALIGN_VERTICAL_TOP);
    return f;
  }
  void Check(lxw_error e) {
    // A value cut to the cell's size or a row past the sheet's end is no failure of the file.
    if (e != LXW_NO_ERROR && e != LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE) error_ = e;
  }

  lxw_workbook* book_ = nullptr;
  lxw_error error_ = LXW_NO_ERROR;
  lxw_format *text_ = nullptr, *header_ = nullptr, *differs_ = nullptr, *number_ = nullptr,
             *link_ = nullptr;
  std::map<Verdict, lxw_format*> verdicts_;
};

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

// The header row of the detail sheets, and their widths.
constexpr const char* kDetailHeader[] = {"組",   "比較元の行", "比較先の行", "キー",
                                         "項目", "比較元の値", "比較先の値"};
constexpr double kDetailWidths[] = {6, 10, 10, 18, 18, 40, 40};

void WriteDetails(Book& book, lxw_worksheet* sheet, const PairRow& row, const Json& pairs) {
  book.Text(sheet, 0, 0, "比較元の相対パス", book.header());
  book.Text(sheet, 0, 1, row.relative);
  for (lxw_col_t c = 0; c < std::size(kDetailHeader); ++c) {
    book.Text(sheet, 1, c, kDetailHeader[c], book.header());
    worksheet_set_column(sheet, c, c, kDetailWidths[c], nullptr);
  }
  worksheet_freeze_panes(sheet, 2, 0);
  lxw_row_t r = 2;
  std::size_t number = 0;
  for (const Json& pair : pairs) {
    ++number;
    const auto get = [&](const Json& j, const char* key) {
      return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
    };
    const auto record = [&](const char* key) {
      return pair.contains(key) && pair[key].is_number_integer() && pair[key].get<long long>() > 0
                 ? std::to_string(pair[key].get<long long>())
                 : std::string();
    };
    if (!pair.contains("fields") || !pair["fields"].is_array()) continue;
    for (const Json& field : pair["fields"]) {
      const bool differs = field.contains("differs") && field["differs"].is_boolean() &&
                           field["differs"].get<bool>();
      book.Text(sheet, r, 0, std::to_string(number));
      book.Text(sheet, r, 1, record("source_number"));
      book.Text(sheet, r, 2, record("destination_number"));
      book.Text(sheet, r, 3, get(pair, "key"));
      book.Text(sheet, r, 4, get(field, "name"), differs ? book.differs() : nullptr);
      book.Text(sheet, r, 5, get(field, "source"), differs ? book.differs() : nullptr);
      book.Text(sheet, r, 6, get(field, "destination"), differs ? book.differs() : nullptr);
      ++r;
    }
  }
}

Status WriteBook(const std::string& file, const std::vector<PairRow>& rows,
                 const std::function<std::string(const PairRow&)>& summary_json) {
  Book book(file);
  if (!book.ok()) return Status::Error(EIO, "write", file);
  lxw_worksheet* list = book.Sheet("一覧");
  const char* header[] = {
      "判定",         "比較元の相対パス", "比較元",           "比較先",     "プロファイル",
      "比較元の行数", "比較先の行数",     "キー不一致",       "内容不一致", "許容された差異",
      "キー重複",     "比較元の SHA-256", "比較先の SHA-256", "時間（秒）", "状態",
      "明細"};
  const double widths[] = {16, 30, 36, 36, 12, 11, 11, 10, 10, 12, 9, 66, 66, 10, 40, 14};
  for (lxw_col_t c = 0; c < std::size(header); ++c) {
    book.Text(list, 0, c, header[c], book.header());
    worksheet_set_column(list, c, c, widths[c], nullptr);
  }
  worksheet_freeze_panes(list, 1, 0);
  // Sheets are named first: the list links to them, and constant memory writes it row by row.
  std::vector<std::string> sheet_names(rows.size());
  std::vector<Json> details(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].verdict != Verdict::kDifferences) continue;
    const std::string text = summary_json(rows[i]);
    if (text.empty()) continue;
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.contains("differing_pairs") || j["differing_pairs"].empty())
      continue;
    sheet_names[i] = SheetName(i + 1, rows[i].relative);
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const PairRow& row = rows[i];
    const auto r = static_cast<lxw_row_t>(i + 1);
    const bool ran = row.verdict != Verdict::kNotRun && row.verdict != Verdict::kOneSide;
    book.Text(list, r, 0, VerdictText(row.outcome), book.verdict(row.verdict));
    book.Text(list, r, 1, row.relative);
    book.Text(list, r, 2, row.source);
    book.Text(list, r, 3, row.destination);
    book.Text(list, r, 4, row.profile);
    if (ran) {
      book.Number(list, r, 5, static_cast<double>(row.lines[0]));
      book.Number(list, r, 6, static_cast<double>(row.lines[1]));
      book.Number(list, r, 7, static_cast<double>(row.unmatched));
      book.Number(list, r, 8, static_cast<double>(row.differing));
      book.Number(list, r, 9, static_cast<double>(row.expected));
      book.Number(list, r, 10, static_cast<double>(row.duplicates));
    }
    book.Text(list, r, 11, row.sha256[0]);
    book.Text(list, r, 12, row.sha256[1]);
    if (ran) book.Text(list, r, 13, Seconds(row.seconds));
    book.Text(list, r, 14, row.status);
    if (!sheet_names[i].empty()) {
      book.Link(list, r, 15, "internal:'" + sheet_names[i] + "'!A1", sheet_names[i]);
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (sheet_names[i].empty()) continue;
    // Read again here, one at a time, rather than held for every pair.
    const Json j = Json::parse(summary_json(rows[i]), nullptr, false);
    lxw_worksheet* sheet = book.Sheet(sheet_names[i]);
    if (!j.is_discarded() && j.contains("differing_pairs")) {
      WriteDetails(book, sheet, rows[i], j["differing_pairs"]);
    }
  }
  if (!book.Close()) return Status::Error(EIO, "write", file);
  return {};
}

}  // namespace

Status WriteSummaryWorkbook(const std::string& path, const std::vector<PairRow>& rows,
                            const std::function<std::string(const PairRow&)>& summary_json) {
  std::string target;
  if (Status s = ResolveLinks(path, target); !s.ok()) return WithPath(std::move(s), path);
  const std::filesystem::path final_path(target);
  const std::string folder =
      final_path.has_parent_path() ? final_path.parent_path().string() : std::string(".");
  // The library writes to a name; a name of our own, unique in the folder, taken first.
  std::string temp = folder + "/." + final_path.filename().string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return Status::Error(errno, "open", path);
  // mkstemp makes the file for its owner alone; the book gets the mode any new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const bool moded = ::fchmod(fd, 0666 & ~mask) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !moded) {
    ::unlink(temp.c_str());
    return Status::Error(moded ? errno : saved, "open", path);
  }
  Status written = WriteBook(temp, rows, summary_json);
  if (written.ok() && ::rename(temp.c_str(), target.c_str()) != 0) {
    written = Status::Error(errno, "rename", path);
  }
  if (!written.ok()) {
    ::unlink(temp.c_str());
    return Status::Error(written.error_number(), written.operation(), path);
  }
  return {};
}

}  // namespace vesmer
