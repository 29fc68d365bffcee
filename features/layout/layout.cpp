#include "layout/layout.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <tuple>
#include <unordered_map>

#include "core/ranges.h"
#include "layout/copybook.h"
#include "numbers/decimal.h"
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

bool ParseType(std::string_view column, FieldType& type) {
  std::string text = NormaliseRangeText(column);
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static constexpr FieldType kTypes[] = {FieldType::kText,       FieldType::kZoned,
                                         FieldType::kDoubleByte, FieldType::kPacked,
                                         FieldType::kBinary,     FieldType::kUnsignedBinary};
  if (text.empty()) {
    type = FieldType::kText;
    return true;
  }
  for (const FieldType t : kTypes) {
    if (text == FieldTypeName(t)) {
      type = t;
      return true;
    }
  }
  return false;
}

char AttributeOf(FieldType type) {
  switch (type) {
    case FieldType::kText:
      return 'X';
    case FieldType::kDoubleByte:
      return 'N';
    case FieldType::kZoned:
    case FieldType::kPacked:
    case FieldType::kBinary:
    case FieldType::kUnsignedBinary:
      break;
  }
  return '9';
}

// The attribute of a CSV column: X, 9 or N only, as a column holds text.
bool ParseAttribute(std::string_view column, char& attribute) {
  FieldType type = FieldType::kText;
  if (!ParseType(column, type) || type == FieldType::kPacked || type == FieldType::kBinary ||
      type == FieldType::kUnsignedBinary) {
    return false;
  }
  attribute = AttributeOf(type);
  return true;
}

// The most digits a number field of `type` and `length` bytes holds.
std::int64_t DigitsOf(FieldType type, std::int64_t length) {
  switch (type) {
    case FieldType::kZoned:
      return length;
    case FieldType::kPacked:
      return 2 * length - 1;
    case FieldType::kBinary:
      return length == 2 ? 5 : length == 4 ? 10 : 19;
    case FieldType::kUnsignedBinary:
      return length == 2 ? 5 : length == 4 ? 10 : 20;
    case FieldType::kText:
    case FieldType::kDoubleByte:
      break;
  }
  return 0;
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
  // A column's text: a number column is read as decimal text, whatever its type says.
  field.type = attribute == '9'   ? FieldType::kZoned
               : attribute == 'N' ? FieldType::kDoubleByte
                                  : FieldType::kText;
  return {};
}

// The checks of one data line; "" when it defines a field, else what is wrong with it.
std::string ParseFieldLine(const std::vector<std::string_view>& columns, Field& field) {
  if (table_file::UsedColumns(columns) > 5) {
    return "列が多すぎます（名前,開始桁,桁数,属性,小数桁 の 5 列までです）";
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
  FieldType type = FieldType::kText;
  if (columns.size() > 3 && !ParseType(columns[3], type)) {
    return "属性「" + ShownText(columns[3]) +
           "」が正しくありません（X、9、N、P、B、BU のいずれかです）";
  }
  if ((type == FieldType::kBinary || type == FieldType::kUnsignedBinary) && length != 2 &&
      length != 4 && length != 8) {
    return "属性 " + std::string(FieldTypeName(type)) + " の桁数は 2、4、8 のいずれかです";
  }
  if (type == FieldType::kPacked && length > 16) return "属性 P の桁数は 16 までです";
  std::int64_t places = 0;
  if (columns.size() > 4 && !columns[4].empty()) {
    if (AttributeOf(type) != '9') {
      return "小数桁は数値の項目（属性 9、P、B、BU）にだけ指定できます";
    }
    if (!ParseWholeNumber(columns[4], places)) return "小数桁が数値ではありません";
    if (places < 0) return "小数桁は 0 以上にしてください";
    const std::int64_t digits = std::min<std::int64_t>(DigitsOf(type, length), Decimal::kMaxScale);
    if (places > digits) {
      return "小数桁 " + std::to_string(places) + " が項目の桁数を超えています（" +
             std::to_string(digits) + " までです）";
    }
  }
  field.name = std::string(columns[0]);
  field.start = static_cast<std::int32_t>(start);
  field.length = static_cast<std::int32_t>(length);
  field.type = type;
  field.attribute = AttributeOf(type);
  field.places = static_cast<std::uint8_t>(places);
  return {};
}

}  // namespace

std::string_view FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::kText:
      return "X";
    case FieldType::kZoned:
      return "9";
    case FieldType::kDoubleByte:
      return "N";
    case FieldType::kPacked:
      return "P";
    case FieldType::kBinary:
      return "B";
    case FieldType::kUnsignedBinary:
      return "BU";
  }
  return "X";
}

NumberFormat NumberFormatOf(const Field& field, DigitFamily family) {
  NumberFormat format;
  format.sign = field.sign;
  format.family = family;
  format.places = field.places;
  format.blank_when_zero = field.blank_when_zero;
  switch (field.type) {
    case FieldType::kPacked:
      format.type = NumberType::kPacked;
      break;
    case FieldType::kBinary:
      format.type = NumberType::kBinary;
      break;
    case FieldType::kUnsignedBinary:
      format.type = NumberType::kUnsignedBinary;
      break;
    case FieldType::kZoned:
    case FieldType::kText:
    case FieldType::kDoubleByte:
      format.type = NumberType::kZoned;
      break;
  }
  return format;
}

const Field* Layout::Find(std::string_view name) const {
  for (const Field& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

const FieldGroup* Layout::FindGroup(std::string_view name) const {
  for (const FieldGroup& group : groups) {
    if (group.name == name) return &group;
  }
  return nullptr;
}

bool ParseLayoutText(std::string_view bytes, const std::string& path_for_messages, Layout& layout,
                     std::string& message) {
  layout.path = path_for_messages;
  layout.form = LayoutForm::kBytes;
  layout.form_line = 0;
  layout.fields.clear();
  layout.groups.clear();
  layout.copybook = false;
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
  layout.groups.clear();
  std::string bytes;
  const Status read = table_file::Read(path, bytes);
  if (!read.ok()) {
    message = "★レイアウトファイル " + path + " を読み込めません: " + read.reason();
    return read;
  }
  const bool parsed = LooksLikeCopybook(bytes) ? ParseCopybookText(bytes, path, layout, message)
                                               : ParseLayoutText(bytes, path, layout, message);
  if (!parsed) return Status::Error(EINVAL, "parse", path);
  return Status();
}

bool ParseFieldMapText(std::string_view bytes, const std::string& path_for_messages, FieldMap& map,
                       std::string& message) {
  map.path = path_for_messages;
  map.renamed.clear();
  std::unordered_map<std::string, int> sources, destinations;  // name, line
  for (table_file::Reader lines(bytes); lines.Next();) {
    const auto& columns = lines.columns();
    const int line = lines.line_number();
    std::string problem;
    if (lines.malformed()) {
      problem = "UTF-8 として正しくないバイトがあります";
    } else if (table_file::UsedColumns(columns) != 2 || columns[0].empty() || columns[1].empty()) {
      problem = "旧名と新名の二つを書いてください";
    } else {
      for (const auto& [names, name, which] :
           {std::tuple{&sources, columns[0], "旧名"}, {&destinations, columns[1], "新名"}}) {
        const auto [it, inserted] = names->emplace(std::string(name), line);
        if (!inserted && problem.empty()) {
          problem = std::string(which) + "「" + ShownText(std::string(name)) + "」は " +
                    std::to_string(it->second) + " 行目にもあります";
        }
      }
    }
    if (!problem.empty()) {
      message = table_file::LineMessage("項目の対応ファイル", path_for_messages, line, problem);
      map.renamed.clear();
      return false;
    }
    map.renamed.emplace_back(columns[0], columns[1]);
  }
  if (map.renamed.empty()) {
    message = "★項目の対応ファイル " + path_for_messages + " に対応がありません";
    return false;
  }
  return true;
}

Status LoadFieldMap(const std::string& path, FieldMap& map, std::string& message) {
  std::string bytes;
  const Status read = table_file::Read(path, bytes);
  if (!read.ok()) {
    message = "★項目の対応ファイル " + path + " を読み込めません: " + read.reason();
    return read;
  }
  if (!ParseFieldMapText(bytes, path, map, message)) return Status::Error(EINVAL, "parse", path);
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
    std::int32_t start = 0, length = 0;
    if (const Field* field = layout.Find(name)) {
      start = field->start;
      length = field->length;
    } else if (const FieldGroup* group = layout.FindGroup(name)) {
      start = group->start;
      length = group->length;
    }
    if (length != 0) {
      if (!range_text.empty()) range_text += ',';
      range_text += std::to_string(start);
      range_text += '-';
      range_text += std::to_string(std::int64_t{start} + length - 1);
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

std::string LayoutText(const Layout& layout) {
  const bool csv = layout.form == LayoutForm::kCsvColumns;
  std::string text = csv ? "項目名,列番号,属性\n" : "項目名,開始桁,桁数,属性,小数桁\n";
  auto append_field = [&](const Field& f) {
    text += f.name;
    text += ',';
    text += std::to_string(f.start);
    if (!csv) {
      text += ',';
      text += std::to_string(f.length);
    }
    text += ',';
    text += FieldTypeName(f.type);
    if (!csv && f.places != 0) {
      text += ',';
      text += std::to_string(f.places);
    }
  };
  // Each group just before its first field, as a copybook names them.
  std::size_t group = 0;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const Field& f = layout.fields[i];
    for (; group < layout.groups.size() && layout.groups[group].first_field <= i; ++group) {
      const FieldGroup& g = layout.groups[group];
      text += "# 集団項目: " + g.name + "," + std::to_string(g.start) + "," +
              std::to_string(g.length) + "\n";
    }
    switch (f.role) {
      case FieldRole::kCompared:
        break;
      case FieldRole::kFiller:
        text += "# 比較しない（FILLER）: ";
        break;
      case FieldRole::kRedefining:
        text += "# 比較しない（REDEFINES）: ";
        break;
    }
    append_field(f);
    text += '\n';
  }
  for (; group < layout.groups.size(); ++group) {
    const FieldGroup& g = layout.groups[group];
    text += "# 集団項目: " + g.name + "," + std::to_string(g.start) + "," +
            std::to_string(g.length) + "\n";
  }
  return text;
}

}  // namespace vesmer
