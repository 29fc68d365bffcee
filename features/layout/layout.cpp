#include "layout/layout.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <unordered_map>

#include "core/ranges.h"
#include "platform/table_file.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

constexpr std::int64_t kColumnLimit = std::numeric_limits<std::int32_t>::max();

// A whole number: an optional sign, then decimal digits, half-width or full-width. Values far
// beyond any column stop growing, so they stay out of range without overflowing.
bool ParseWholeNumber(std::string_view column, std::int64_t& value) {
  const std::string text = NormaliseRangeText(column);
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return false;
  std::int64_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
    if (n > kColumnLimit * 2) n = kColumnLimit * 2;
  }
  value = negative ? -n : n;
  return true;
}

bool IsWholeNumber(std::string_view column) {
  std::int64_t ignored = 0;
  return ParseWholeNumber(column, ignored);
}

bool ParseAttribute(std::string_view column, char& attribute) {
  const std::string text = NormaliseRangeText(column);
  if (text.empty() || text == "X" || text == "x") {
    attribute = 'X';
  } else if (text == "9") {
    attribute = '9';
  } else if (text == "N" || text == "n") {
    attribute = 'N';
  } else {
    return false;
  }
  return true;
}

std::string LineMessage(const std::string& path, int line, std::string_view text) {
  return table_file::LineMessage("レイアウトファイル", path, line, text);
}

// What form a data line has, on its own: "名前,数" and "名前,数,X" are CSV columns, "名前,数,9"
// may be either, anything else is read as byte columns (its slips reported as such).
enum class LineForm { kBytes, kCsvColumns, kEither };

LineForm FormOfLine(const std::vector<std::string_view>& columns) {
  const std::size_t used = table_file::UsedColumns(columns);
  if ((used != 2 && used != 3) || !IsWholeNumber(columns[1])) return LineForm::kBytes;
  if (used == 2) return LineForm::kCsvColumns;
  char attribute = 'X';
  if (!ParseAttribute(columns[2], attribute)) return LineForm::kBytes;  // a length, or its slip
  return attribute == '9' ? LineForm::kEither : LineForm::kCsvColumns;
}

// Walks the data lines of a layout file, the header passed over: the first line that carries
// data is one when neither its second nor its third column is a number, as a typing slip in the
// first field's start alone must not pass for a header.
class FieldLines {
 public:
  explicit FieldLines(std::string_view bytes) : reader_(bytes) {}
  bool Next() {
    while (reader_.Next()) {
      if (!first_ || reader_.malformed()) {
        first_ = false;
        return true;
      }
      first_ = false;
      const auto& columns = reader_.columns();
      const bool second_is_number = columns.size() > 1 && IsWholeNumber(columns[1]);
      const bool third_is_number = columns.size() > 2 && IsWholeNumber(columns[2]);
      if (columns.size() > 1 && !second_is_number && !third_is_number) continue;
      return true;
    }
    return false;
  }
  [[nodiscard]] const std::vector<std::string_view>& columns() const { return reader_.columns(); }
  [[nodiscard]] int line_number() const { return reader_.line_number(); }
  [[nodiscard]] bool malformed() const { return reader_.malformed(); }

 private:
  table_file::Reader reader_;
  bool first_ = true;
};

// The checks of one line of a CSV layout; "" when it names a column, else what is wrong.
std::string ParseColumnLine(const std::vector<std::string_view>& columns, Field& field) {
  if (table_file::UsedColumns(columns) > 3) {
    return "列が多すぎます（名前,列番号,属性 の 3 列までです）";
  }
  if (columns[0].empty()) return "項目名がありません";
  if (columns.size() < 2 || columns[1].empty()) return "列番号がありません";
  std::int64_t column = 0;
  if (!ParseWholeNumber(columns[1], column)) return "列番号が数値ではありません";
  if (column < 1) return "列番号は 1 以上にしてください";
  if (column > kColumnLimit) return "列番号が 2147483647 を超えています";
  char attribute = 'X';
  if (columns.size() > 2 && !ParseAttribute(columns[2], attribute)) {
    return "属性「" + ShownText(columns[2]) + "」が正しくありません（X、9、N のいずれかです）";
  }
  field.name = std::string(columns[0]);
  field.start = static_cast<std::int32_t>(column);
  field.length = 1;
  field.attribute = attribute;
  return {};
}

// The checks of one data line; "" when it defines a field, else what is wrong with it.
std::string ParseFieldLine(const std::vector<std::string_view>& columns, Field& field) {
  if (table_file::UsedColumns(columns) > 4) {
    return "列が多すぎます（名前,開始桁,桁数,属性 の 4 列までです）";
  }
  if (columns[0].empty()) return "項目名がありません";
  if (columns.size() < 2 || columns[1].empty()) return "開始桁がありません";
  std::int64_t start = 0, length = 0;
  if (!ParseWholeNumber(columns[1], start)) return "開始桁が数値ではありません";
  if (columns.size() < 3 || columns[2].empty()) return "桁数がありません";
  if (!ParseWholeNumber(columns[2], length)) return "桁数が数値ではありません";
  if (start < 1) return "開始桁は 1 以上にしてください";
  if (length < 1) return "桁数は 1 以上にしてください";
  if (start + length - 1 > kColumnLimit) return "項目が 2147483647 桁目を超えています";
  char attribute = 'X';
  if (columns.size() > 3 && !ParseAttribute(columns[3], attribute)) {
    return "属性「" + ShownText(columns[3]) + "」が正しくありません（X、9、N のいずれかです）";
  }
  field.name = std::string(columns[0]);
  field.start = static_cast<std::int32_t>(start);
  field.length = static_cast<std::int32_t>(length);
  field.attribute = attribute;
  return {};
}

}  // namespace

const Field* Layout::Find(std::string_view name) const {
  for (const Field& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

bool ParseLayoutText(std::string_view bytes, const std::string& path_for_messages, Layout& layout,
                     std::string& message) {
  layout.path = path_for_messages;
  layout.form = LayoutForm::kBytes;
  layout.form_line = 0;
  layout.fields.clear();
  // The form first: the first line that can be of one form only.
  for (FieldLines lines(bytes); lines.Next();) {
    if (lines.malformed()) continue;
    const LineForm form = FormOfLine(lines.columns());
    if (form == LineForm::kEither) continue;
    layout.form = form == LineForm::kCsvColumns ? LayoutForm::kCsvColumns : LayoutForm::kBytes;
    layout.form_line = lines.line_number();
    break;
  }
  const bool csv = layout.form == LayoutForm::kCsvColumns;
  std::unordered_map<std::string, int> lines_by_name;
  std::unordered_map<std::int32_t, std::size_t> fields_by_column;  // index in layout.fields
  for (FieldLines lines(bytes); lines.Next();) {
    const auto& columns = lines.columns();
    const int line = lines.line_number();
    if (lines.malformed()) {
      message = LineMessage(path_for_messages, line, "UTF-8 として正しくないバイトがあります");
      layout.fields.clear();
      return false;
    }
    Field field;
    std::string problem = csv ? ParseColumnLine(columns, field) : ParseFieldLine(columns, field);
    if (!problem.empty() && csv && FormOfLine(columns) == LineForm::kBytes) {
      // Most likely a line of the other form: say which line made this a CSV layout.
      problem += "（" + std::to_string(layout.form_line) +
                 " 行目から、名前,列番号[,属性] の CSV の列のレイアウトとして読んでいます）";
    }
    if (problem.empty()) {
      const auto [it, inserted] = lines_by_name.emplace(field.name, line);
      if (!inserted) {
        problem = "項目名「" + ShownText(field.name) + "」は " + std::to_string(it->second) +
                  " 行目にもあります";
      }
    }
    if (problem.empty() && csv) {
      // One name a column: a column of two names would be listed under one of them only.
      const auto [it, inserted] = fields_by_column.emplace(field.start, layout.fields.size());
      if (!inserted) {
        const Field& other = layout.fields[it->second];
        problem = "列番号 " + std::to_string(field.start) + " は " + std::to_string(other.line) +
                  " 行目の「" + ShownText(other.name) + "」にもあります";
      }
    }
    if (!problem.empty()) {
      message = LineMessage(path_for_messages, line, problem);
      layout.fields.clear();
      return false;
    }
    field.line = line;
    layout.fields.push_back(std::move(field));
  }
  if (layout.fields.empty()) {
    message = "★レイアウトファイル " + path_for_messages + " に項目がありません";
    return false;
  }
  return true;
}

Status LoadLayout(const std::string& path, Layout& layout, std::string& message) {
  layout.path = path;
  layout.fields.clear();
  std::string bytes;
  const Status read = table_file::Read(path, bytes);
  if (!read.ok()) {
    message = "★レイアウトファイル " + path + " を読み込めません: " + read.reason();
    return read;
  }
  if (!ParseLayoutText(bytes, path, layout, message)) return Status::Error(EINVAL, "parse", path);
  return Status();
}

std::vector<std::string> SplitFieldNames(std::string_view names) {
  constexpr std::string_view kFullWidthComma = "\xEF\xBC\x8C";  // '，'
  std::vector<std::string> split;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = names.find(',', start);
    const std::size_t wide = names.find(kFullWidthComma, start);
    const std::size_t end = std::min(comma, wide);
    const std::string_view name = table_file::TrimBlanks(names.substr(start, end - start));
    if (!name.empty()) split.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + (end == comma ? 1 : kFullWidthComma.size());
  }
  return split;
}

bool FieldNamesToRangeText(const Layout& layout, std::string_view names, std::string& range_text,
                           std::string& message) {
  range_text.clear();
  std::vector<std::string> unknown;
  for (std::string& name : SplitFieldNames(names)) {
    if (const Field* field = layout.Find(name)) {
      if (!range_text.empty()) range_text += ',';
      range_text += std::to_string(field->start);
      range_text += '-';
      range_text += std::to_string(std::int64_t{field->start} + field->length - 1);
    } else if (std::find(unknown.begin(), unknown.end(), name) == unknown.end()) {
      unknown.push_back(std::move(name));
    }
  }
  if (unknown.empty()) return true;
  range_text.clear();
  message = "★レイアウトにない項目です: ";
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (i > 0) message += ", ";
    message += ShownText(unknown[i]);
  }
  return false;
}

}  // namespace vesmer
