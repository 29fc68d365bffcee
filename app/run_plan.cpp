#include "app/run_plan.h"

#include <algorithm>
#include <utility>

#include "core/result_names.h"
#include "formats/code_page.h"
#include "formats/field_codings.h"
#include "formats/typed_fields.h"
#include "list_sinks.h"
#include "plan_words.h"
#include "platform/cp932.h"
#include "platform/unicode.h"

namespace vesmer {

using plan_words::Contains;
using plan_words::NameList;
using plan_words::SideName;

RunRequest RunRequestFromSettings(const SettingsStore& values) {
  RunRequest request;
  request.inputs = values.InputData;
  for (std::size_t i = 0; i < 2; ++i) request.utf8[i] = IsOn(values.Utf8[i]);
  request.use_key = IsOn(values.Key);
  request.key_text = values.KeyRange;
  request.use_omit = IsOn(values.Omit);
  request.omit_text = values.OmitRange;
  for (std::size_t k = 0; k < kOutputKinds && k < values.OutputData.size(); ++k) {
    request.outputs.values[k] = values.OutputData[k] == '1';
  }
  request.space_compare = IsOn(values.SpaceCompare);
  request.arrange_length = IsOn(values.ArrangeLength);
  request.scale = values.Scale;
  return request;
}

namespace {

// Whether the code page writes line ends, quotes and the usual delimiters as ASCII does.
bool KeepsAsciiControls(CodePage& code_page) {
  static constexpr std::string_view kBytes = "\n\r\",;|\t";
  DecodedText text;
  if (code_page.Decode(kBytes, text) != 0) return false;
  return text.text() == u"\n\r\",;|\t";
}

std::size_t CsvInputs(const RunRequest& r) {
  return static_cast<std::size_t>(std::count_if(
      r.formats.begin(), r.formats.end(), [](auto& f) { return f.framing == Framing::kCsv; }));
}

// A layout of CSV columns where byte columns are wanted, or the other way round.
std::string CsvLayoutForBytes(const Layout& layout) {
  return "★レイアウトファイル " + layout.path + " は CSV の列のレイアウト（" +
         std::to_string(layout.form_line) +
         " 行目が 名前,列番号 の形）です。CSV でない入力には 名前,開始桁,桁数[,属性] の"
         "レイアウトを指定してください";
}
std::string ByteLayoutForCsv(const Layout& layout) {
  return "★レイアウトファイル " + layout.path + " は 名前,開始桁,桁数 のレイアウトです" +
         (layout.form_line == 0 ? "（どの行も 名前,数,9 の形のため、開始桁と桁数と読みました）"
                                : "") +
         "。CSV の列には 名前,列番号[,属性] のレイアウトを指定してください";
}

// A layout whose every line is "名前,数,9" reads as byte columns, as it may be either; for CSV
// columns it is read again as those: each line a column of attribute 9. False when it is not
// such a layout, or names a column twice.
bool ReadAsCsvColumns(Layout& layout) {
  if (layout.form != LayoutForm::kBytes || layout.form_line != 0 || layout.copybook) return false;
  std::vector<std::int32_t> columns;
  for (const Field& f : layout.fields) {
    if (std::find(columns.begin(), columns.end(), f.start) != columns.end()) return false;
    columns.push_back(f.start);
  }
  for (Field& f : layout.fields) {
    f.length = 1;
    f.attribute = '9';
    f.type = FieldType::kZoned;
  }
  layout.form = LayoutForm::kCsvColumns;
  return true;
}

// Why the inputs' formats cannot run as asked, if they cannot.
std::optional<PlanRefusal> CheckFormats(const RunRequest& r,
                                        const std::array<const Layout*, 2>& layouts) {
  for (std::size_t i = 0; i < 2; ++i) {
    const RecordFormat& format = r.formats[i];
    const std::string side = i == 0 ? "比較元" : "比較先";
    if (format.framing == Framing::kLf || format.framing == Framing::kCsv) {
      // These framings find LF, quotes and delimiters as ASCII bytes: an EBCDIC file holds them
      // as other bytes, and its records would be cut in the wrong places.
      std::string message;
      const std::unique_ptr<CodePage> code_page = CodePage::Open(format.code_page, message);
      if (code_page != nullptr && !KeepsAsciiControls(*code_page)) {
        return PlanRefusal{"★" + side + "のコードページ「" + format.code_page + "」では、" +
                           (format.framing == Framing::kLf ? "lf" : "csv") +
                           " の区切りを読めません（fixed=N か rdw を指定してください）"};
      }
    }
    if (r.utf8[i] && !format.IsDefault()) {
      return PlanRefusal{"★" + side + "の UTF-8 からの変換は、形式を指定した入力にはできません"};
    }
    if (format.framing == Framing::kFixed && layouts[i] != nullptr) {
      for (const Field& f : layouts[i]->fields) {
        const auto end = static_cast<std::size_t>(f.start) + static_cast<std::size_t>(f.length) - 1;
        if (f.length > 0 && end > format.record_length) {
          return PlanRefusal{"★レイアウトファイル " + layouts[i]->path + " の " +
                             std::to_string(f.line) + " 行目: 項目「" + f.name + "」（" +
                             std::to_string(f.start) + "-" + std::to_string(end) + " 桁）が" +
                             side + "のレコード長 " + std::to_string(format.record_length) +
                             " バイトを越えています"};
        }
      }
    }
  }
  return std::nullopt;
}

// Whether a run with `layout` compares its number fields by value: packed and binary fields
// always (their bytes are no text), zoned ones where the run compares texts anyway (another
// code page, CSV). Lines of code page 932 compare their bytes, as they always have, whatever
// list they write.
bool TypedRun(const RunRequest& r, const Layout& layout) {
  bool numbers = false, host = false;
  for (const Field& f : layout.fields) {
    if (!f.Compared() || !f.IsNumber()) continue;
    numbers = true;
    host = host || f.type != FieldType::kZoned;
  }
  return host || (numbers &&
                  (CsvInputs(r) != 0 || r.formats[0].code_page != RecordFormat::kDefaultCodePage ||
                   r.formats[1].code_page != RecordFormat::kDefaultCodePage));
}

}  // namespace

// An old and a new layout: each side's own (--layout for a side that has none of its own), of
// byte columns, or of CSV columns for a CSV side, which may also name its columns by its header.
bool RunPlan::PrepareSideLayouts(RunRequest& r, std::string& problem) {
  if (r.csv_layout) {
    problem =
        "★--csv-layout は --source-layout、--destination-layout と一緒には指定できません"
        "（CSV の側のレイアウトも --source-layout か --destination-layout で指定してください）";
    return false;
  }
  for (std::size_t i = 0; i < 2; ++i) {
    const std::optional<std::string>& own = i == 0 ? r.source_layout : r.destination_layout;
    const std::optional<std::string>& path = own ? own : r.layout;
    const bool csv = r.formats[i].framing == Framing::kCsv;
    if (!path) {
      if (csv) continue;  // its header names its columns
      problem = "★" + SideName(i) + "のレイアウトがありません（" +
                (i == 0 ? "--source-layout" : "--destination-layout") +
                " か --layout で指定してください）";
      return false;
    }
    Layout read;
    if (Status s = LoadLayout(*path, read, problem); !s.ok()) return false;
    if (csv && read.form != LayoutForm::kCsvColumns && !ReadAsCsvColumns(read)) {
      problem = ByteLayoutForCsv(read);
      return false;
    }
    if (!csv && read.form == LayoutForm::kCsvColumns) {
      problem = CsvLayoutForBytes(read);
      return false;
    }
    side_layouts_[i] = std::move(read);
  }
  typed_ = true;
  return true;
}

// Reads the layouts and tells what each names: byte columns of an input that is not CSV, or
// the columns of CSV inputs. False with `problem` when a layout does not fit the inputs.
bool RunPlan::PrepareLayouts(RunRequest& r, std::string& problem) {
  layout_.reset();
  csv_layout_.reset();
  typed_ = false;
  csv_values_ = false;
  side_layouts_ = {};
  compared_fields_.clear();
  unmatched_fields_ = {};
  warnings_.clear();
  if (r.source_layout || r.destination_layout) return PrepareSideLayouts(r, problem);
  std::optional<Layout> given, csv_given;
  for (const auto& [path, layout] : {std::pair{&r.layout, &given}, {&r.csv_layout, &csv_given}}) {
    if (!*path) continue;
    Layout read;
    if (Status s = LoadLayout(**path, read, problem); !s.ok()) return false;
    *layout = std::move(read);
  }
  if (csv_given && csv_given->form != LayoutForm::kCsvColumns && !ReadAsCsvColumns(*csv_given)) {
    problem = ByteLayoutForCsv(*csv_given);
    return false;
  }
  switch (CsvInputs(r)) {
    case 0:
      if (csv_given) {
        problem = "★--csv-layout は、CSV の入力の列に名前を付けるときに指定してください";
        return false;
      }
      if (given && given->form == LayoutForm::kCsvColumns) {
        problem = CsvLayoutForBytes(*given);
        return false;
      }
      layout_ = std::move(given);
      return true;
    case 2:
      if (given && csv_given) {
        problem = "★--layout と --csv-layout は、どちらか一方だけを指定してください";
        return false;
      }
      if (given && given->form == LayoutForm::kBytes && !ReadAsCsvColumns(*given)) {
        problem = ByteLayoutForCsv(*given);
        return false;
      }
      csv_layout_ = given ? std::move(given) : std::move(csv_given);
      return true;
    default: {
      const std::size_t bytes_side = r.formats[0].framing == Framing::kCsv ? 1 : 0;
      if (!given) {
        problem = "★CSV と CSV でない形式を比較するには、CSV でない" + SideName(bytes_side) +
                  "の項目を --layout（名前,開始桁,桁数[,属性]）で指定してください";
        return false;
      }
      if (given->form == LayoutForm::kCsvColumns) {
        problem = CsvLayoutForBytes(*given) + "（CSV の列の名前は --csv-layout で指定します）";
        return false;
      }
      layout_ = std::move(given);
      csv_layout_ = std::move(csv_given);
      return true;
    }
  }
}

// A CSV run: the layout, or else the header, names the fields, which keys and omissions name
// (or number); each side's records are split into fields and decoded.
bool RunPlan::PrepareCsv(RunRequest& r, std::string& problem) {
  std::array<std::vector<std::string>, 2> names;
  std::array<std::size_t, 2> expected{};
  for (std::size_t i = 0; i < 2; ++i) {
    if (!r.formats[i].header) continue;
    if (!ReadCsvHeader(r.inputs[i], r.formats[i], names[i], problem)) return false;
    expected[i] = names[i].size();
  }
  // A layout names the columns whatever the headers say; without one they must agree.
  if (!csv_layout_ && r.formats[0].header && r.formats[1].header && names[0] != names[1]) {
    problem =
        "★比較元と比較先の CSV の見出しが異なります（列の名前と順序が同じ CSV を比較できます）";
    return false;
  }
  // Columns are the fields' numbers: a field named is the range of its number.
  Layout columns;
  if (csv_layout_) {
    columns = *csv_layout_;
  } else {
    const std::vector<std::string>& header = r.formats[0].header ? names[0] : names[1];
    for (std::size_t f = 0; f < header.size(); ++f) {
      columns.fields.push_back(Field{header[f], static_cast<std::int32_t>(f + 1), 1, 'X', 0});
    }
  }
  std::size_t named = 0;  // the last column a layout names
  for (const Field& f : columns.fields) {
    field_names_.push_back({f.name, f.start, 1});
    if (csv_layout_) named = std::max(named, static_cast<std::size_t>(f.start));
  }
  const auto to_ranges = [&](const std::string& given, std::string& range_text) {
    std::string text;
    std::size_t from = 0;
    while (from <= given.size()) {
      const std::size_t comma = std::min(given.find(',', from), given.size());
      const std::string word = given.substr(from, comma - from);
      from = comma + 1;
      const bool number = !word.empty() && word.size() <= 6 &&
                          word.find_first_not_of("0123456789") == std::string::npos &&
                          std::stoul(word) >= 1;
      std::string piece;
      if (number && columns.Find(word) == nullptr) {
        piece = word + "-" + word;
      } else if (!FieldNamesToRangeText(columns, word, piece, problem)) {
        return false;
      }
      if (!text.empty()) text += ',';
      text += piece;
    }
    range_text = text;
    return true;
  };
  if (r.key_fields) {
    if (!to_ranges(*r.key_fields, r.key_text)) return false;
    r.use_key = true;
  }
  if (r.omit_fields) {
    if (!to_ranges(*r.omit_fields, r.omit_text)) return false;
    r.use_omit = true;
  }
  // Columns of attribute 9 are compared by value: "1.50" equals "1.5".
  std::vector<std::uint8_t> numbers;
  for (const Field& f : csv_layout_ ? csv_layout_->fields : std::vector<Field>{}) {
    if (!f.IsNumber()) continue;
    numbers.resize(std::max(numbers.size(), static_cast<std::size_t>(f.start)), 0);
    numbers[static_cast<std::size_t>(f.start - 1)] = 1;
  }
  csv_values_ = !numbers.empty();
  for (std::size_t i = 0; i < 2; ++i) {
    codings_[i] = CsvCoding::Open(r.formats[i], expected[i], problem, named);
    if (codings_[i] == nullptr) return false;
    if (!numbers.empty()) {
      codings_[i] = std::make_unique<NumberFieldsCoding>(std::move(codings_[i]), numbers);
    }
  }
  return true;
}

// CSV against records of byte columns: the fields of the byte layout and the CSV columns are
// matched by name, and both sides become records of the fields they share, in the layout's
// order, so that they compare field by field. A name on one side only refuses the run unless it
// is omitted: a field is never left out of the comparison unasked.
bool RunPlan::PrepareCsvAgainstBytes(RunRequest& r, std::string& problem) {
  const std::size_t csv_side = r.formats[0].framing == Framing::kCsv ? 0 : 1;
  const std::size_t bytes_side = 1 - csv_side;
  const RecordFormat& csv_format = r.formats[csv_side];
  if (r.key_given || r.omit_given || (r.use_key && !r.key_fields) ||
      (r.use_omit && !r.omit_fields)) {
    // Columns of bytes mean nothing to the CSV side.
    problem =
        "★CSV と CSV でない形式の比較では、キーと比較しない項目を --key-fields と "
        "--omit-fields に項目の名前で指定してください";
    return false;
  }
  // The CSV columns by name: its layout's, else its header's.
  std::vector<std::string> header;
  if (csv_format.header && !ReadCsvHeader(r.inputs[csv_side], csv_format, header, problem)) {
    return false;
  }
  std::vector<std::pair<std::string, std::uint32_t>> csv_columns;  // name, 0-based column
  if (csv_layout_) {
    for (const Field& f : csv_layout_->fields) {
      csv_columns.emplace_back(f.name, static_cast<std::uint32_t>(f.start - 1));
    }
  } else if (csv_format.header) {
    for (std::size_t f = 0; f < header.size(); ++f) {
      csv_columns.emplace_back(header[f], static_cast<std::uint32_t>(f));
    }
  } else {
    problem = "★" + SideName(csv_side) +
              "の CSV の列に名前がありません（見出しのある CSV なら形式に header を、"
              "なければ --csv-layout で列の名前を指定してください）";
    return false;
  }
  const std::vector<std::string> keys = SplitFieldNames(r.key_fields.value_or(""));
  const std::vector<std::string> omitted = SplitFieldNames(r.omit_fields.value_or(""));
  const auto in_csv = [&](const std::string& name) {
    return std::any_of(csv_columns.begin(), csv_columns.end(),
                       [&](const auto& c) { return c.first == name; });
  };
  std::vector<std::string> unknown, only_bytes, only_csv, repeated;
  for (const std::string& name : omitted) {
    if (layout_->Find(name) == nullptr && !in_csv(name) && !Contains(unknown, name)) {
      unknown.push_back(name);
    }
  }
  if (!unknown.empty()) {
    problem = "★比較元にも比較先にもない項目です: " + NameList(unknown);
    return false;
  }
  for (const Field& f : layout_->fields) {
    if (!in_csv(f.name) && !Contains(omitted, f.name)) only_bytes.push_back(f.name);
  }
  for (std::size_t c = 0; c < csv_columns.size(); ++c) {
    const std::string& name = csv_columns[c].first;
    if (Contains(omitted, name)) continue;
    if (layout_->Find(name) == nullptr) {
      if (!Contains(only_csv, name)) only_csv.push_back(name);
    } else if (std::any_of(csv_columns.begin(), csv_columns.begin() + static_cast<long>(c),
                           [&](const auto& earlier) { return earlier.first == name; }) &&
               !Contains(repeated, name)) {
      repeated.push_back(name);
    }
  }
  if (!repeated.empty()) {
    problem = "★" + SideName(csv_side) +
              "の CSV に同じ名前の列がいくつもあります: " + NameList(repeated) +
              "（比較しないなら --omit-fields で指定してください）";
    return false;
  }
  if (!only_bytes.empty() || !only_csv.empty()) {
    std::vector<std::string> parts;
    for (const auto& [side, names] : {std::pair{bytes_side, &only_bytes}, {csv_side, &only_csv}}) {
      if (!names->empty())
        parts.push_back(SideName(side) + "にしかない項目があります: " + NameList(*names));
    }
    problem = "★" + parts[0] + (parts.size() > 1 ? "。" + parts[1] : "") +
              "（比較しない項目は --omit-fields で指定してください）";
    return false;
  }
  // The fields both sides have, in the layout's order, the omitted left out; one that is part of
  // the key too stays, omitted by its number, for the start checks to refuse the overlap as they
  // refuse ranges that overlap.
  std::vector<ByteSpan> spans;
  std::vector<std::uint32_t> columns;
  std::vector<std::string> common;
  for (const Field& f : layout_->fields) {
    const auto c = std::find_if(csv_columns.begin(), csv_columns.end(),
                                [&](const auto& column) { return column.first == f.name; });
    if (c == csv_columns.end()) continue;
    if (Contains(omitted, f.name) && !Contains(keys, f.name)) continue;
    spans.push_back(
        {static_cast<std::uint32_t>(f.start - 1),
         static_cast<std::uint32_t>(f.start - 1) + static_cast<std::uint32_t>(f.length)});
    columns.push_back(c->second);
    common.push_back(f.name);
    field_names_.push_back({f.name, static_cast<std::int32_t>(common.size()), 1});
  }
  if (common.empty()) {
    problem = "★比較元と比較先に、比較する同じ名前の項目がありません";
    return false;
  }
  const auto ranges_of = [&](const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
      const auto at = std::find(common.begin(), common.end(), name);
      if (at == common.end()) continue;
      const std::string number = std::to_string(at - common.begin() + 1);
      if (!text.empty()) text += ',';
      text += number + "-" + number;
    }
    return text;
  };
  if (r.key_fields) {
    std::vector<std::string> missing;
    for (const std::string& name : keys) {
      if (!Contains(common, name) && !Contains(missing, name)) missing.push_back(name);
    }
    if (!missing.empty()) {
      problem =
          "★キーの項目は、比較元と比較先の両方にある名前で指定してください: " + NameList(missing);
      return false;
    }
    r.key_text = ranges_of(keys);
    r.use_key = true;
  }
  r.omit_text = ranges_of(omitted);  // only omitted key fields are still among them
  r.use_omit = !r.omit_text.empty();

  std::unique_ptr<RecordCoding> text =
      CodePageCoding::Open(r.formats[bytes_side].code_page, problem);
  if (text == nullptr) return false;
  codings_[bytes_side] = std::make_unique<ByteFieldsCoding>(std::move(text), std::move(spans));
  std::unique_ptr<RecordCoding> fields = CsvCoding::Open(csv_format, header.size(), problem);
  if (fields == nullptr) return false;
  codings_[csv_side] =
      std::make_unique<SelectedFieldsCoding>(std::move(fields), std::move(columns));
  return true;
}

// Records of another code page on either side, or CSV: both are decoded and compared as
// texts. False with `problem` when they cannot be.
bool RunPlan::PrepareCodings(RunRequest& r, std::string& problem) {
  codings_ = {};
  field_names_.clear();
  const std::size_t csv = CsvInputs(r);
  if (typed_ || csv != 0 || r.field_list ||
      r.formats[0].code_page != RecordFormat::kDefaultCodePage ||
      r.formats[1].code_page != RecordFormat::kDefaultCodePage) {
    if (typed_) {
      if (!PrepareTypedFields(r, problem)) return false;
    } else if (csv == 2 && !PrepareCsv(r, problem)) {
      return false;
    } else if (csv == 1 && !PrepareCsvAgainstBytes(r, problem)) {
      return false;
    }
    for (std::size_t i = 0; i < 2 && csv == 0 && !typed_; ++i) {
      codings_[i] = CodePageCoding::Open(r.formats[i].code_page, problem);
      if (codings_[i] == nullptr) return false;
    }
    // Texts of two code pages are other bytes for the same text, CSV fields are no bytes of
    // their own, and a pair of one code page that differed in its bytes only would be listed
    // with two equal texts: bytes never decide between texts.
    if (r.compare_bytes) {
      problem =
          "★--compare-bytes は、テキストとして比べるレコード（cp932 でないコードページ、CSV、"
          "--list fields）にはまだ使えません";
      return false;
    }
    // Fields compared one by one have no length of the record to cut: the shorter record's
    // length would cut nothing, and its missing bytes would differ all the same.
    if (r.arrange_length && typed_) {
      problem = "★-a（短い方の長さで比較）は、項目ごとに値で比べるレコードには使えません";
      return false;
    }
  }
  // The fields counted and judged: of records of fields, their numbers.
  fields_.clear();
  if (!field_names_.empty()) {
    for (std::size_t f = 0; f < field_names_.size(); ++f) {
      // Of two CSV inputs, the columns of attribute 9 of their layout are compared by value.
      const Field* named =
          typed_ || !csv_layout_ ? nullptr : csv_layout_->Find(field_names_[f].name);
      const bool number = f < compared_fields_.size() ? compared_fields_[f].number
                                                      : named != nullptr && named->IsNumber();
      fields_.push_back(
          Field{field_names_[f].name, field_names_[f].start, 1, number ? '9' : 'X', 0});
    }
  } else if (layout_) {
    fields_ = layout_->fields;
  }
  return true;
}

std::optional<std::array<std::uint64_t, 2>> RunPlan::InvalidNumbers(std::size_t f) const {
  if (!invalid_numbers_ || f >= fields_.size() || !fields_[f].IsNumber()) return std::nullopt;
  // Typed fields are counted by their number in the records; CSV columns by their column.
  const std::size_t at = typed_ ? f : static_cast<std::size_t>(fields_[f].start - 1);
  const auto& counts = invalid_numbers_->counts();
  if (at >= counts.size()) return std::nullopt;
  return counts[at];
}

RunPlan::RunPlan() = default;
RunPlan::~RunPlan() = default;

std::optional<PlanRefusal> RunPlan::Prepare(RunRequest request, RangeTextListener* listener) {
  request_ = std::move(request);
  RunRequest& r = request_;
  std::string problem;
  const auto refused = [&] { return PlanRefusal{std::move(problem), StartItem::kNone}; };
  // A layout that cannot be read is the first thing said.
  if (!PrepareLayouts(r, problem)) return refused();
  if (r.key_fields && r.key_given) {
    problem = "★--key と --key-fields は、どちらか一方だけを指定してください";
    return refused();
  }
  if (r.omit_fields && r.omit_given) {
    problem = "★--omit と --omit-fields は、どちらか一方だけを指定してください";
    return refused();
  }
  if (!typed_ && layout_ && TypedRun(r, *layout_)) {
    // Numbers to compare by value: each side's records become records of the layout's fields.
    typed_ = true;
    for (std::size_t i = 0; i < 2; ++i) {
      side_layouts_[i] = r.formats[i].framing == Framing::kCsv ? csv_layout_ : layout_;
    }
  }
  if (layout_ && CsvInputs(r) == 0 && !typed_) {
    // Fields by name give ranges as if they had been typed, through the same start checks.
    if (r.key_fields) {
      if (!FieldNamesToRangeText(*layout_, *r.key_fields, r.key_text, problem)) return refused();
      r.use_key = true;
    }
    if (r.omit_fields) {
      if (!FieldNamesToRangeText(*layout_, *r.omit_fields, r.omit_text, problem)) return refused();
      r.use_omit = true;
    }
  }
  std::array<const Layout*, 2> layouts{layout(), layout()};
  for (std::size_t i = 0; i < 2 && typed_; ++i) {
    layouts[i] = side_layouts_[i] ? &*side_layouts_[i] : nullptr;
  }
  if (std::optional<PlanRefusal> refusal = CheckFormats(r, layouts)) return refusal;
  if (!PrepareCodings(r, problem)) return refused();
  if (r.rules) {
    RuleSet rules;
    // Records of fields: rules name their fields, or give their numbers as ranges.
    Layout names;
    names.fields = fields_;
    // A field the two layouts name differently goes by either name.
    for (std::size_t f = 0; f < compared_fields_.size(); ++f) {
      const std::string& other = compared_fields_[f].sides[1].name;
      if (other != fields_[f].name && names.Find(other) == nullptr) {
        Field alias = fields_[f];
        alias.name = other;
        names.fields.push_back(std::move(alias));
      }
    }
    const Layout* named = field_names_.empty() ? layout() : &names;
    if (Status s = LoadRules(*r.rules, named, rules, problem); !s.ok()) return refused();
    if (typed_ && !MapRuleRanges(rules, problem)) return refused();
    rules_ = std::move(rules);
  }

  StartRequest start;
  start.source = r.inputs[0];
  start.destination = r.inputs[1];
  start.use_key = r.use_key;
  start.use_omit = r.use_omit;
  start.key_text = r.key_text;
  start.omit_text = r.omit_text;
  RangeList key, omit;
  const StartCheckResult check = RunStartChecks(start, key, omit, listener);
  if (!check.passed) return PlanRefusal{check.message, check.failed};
  if (r.use_key) {
    // A key column past a fixed-length record's end would cut every key of that input: its
    // records would pair by their order, not by their keys. (Records of fields are keyed by
    // field numbers, whose fields the layout's check kept within the record.)
    for (std::size_t i = 0; i < 2 && field_names_.empty(); ++i) {
      const RecordFormat& format = r.formats[i];
      if (format.framing != Framing::kFixed) continue;
      for (std::size_t k = 0, used = key.UsedPrefix(); k < used; ++k) {
        if (static_cast<std::uint64_t>(key[k].End) <= format.record_length) continue;
        return PlanRefusal{"★キーの領域 " + std::to_string(key[k].Start) + "-" +
                               std::to_string(key[k].End) + " 桁が" +
                               (i == 0 ? "比較元" : "比較先") + "のレコード長 " +
                               std::to_string(format.record_length) + " バイトを越えています",
                           StartItem::kKeyRange};
      }
    }
  }
  r.key_text = start.key_text;
  r.omit_text = start.omit_text;

  job_ = {};
  job_.InputData = r.inputs;
  job_.Utf8 = r.utf8;
  job_.OutputSelected = r.outputs;
  job_.UseKey = r.use_key;
  job_.OutputSelected[OutputKind::kSourceUnmatched] = job_.UseKey;
  job_.OutputSelected[OutputKind::kDestinationUnmatched] = job_.UseKey;
  job_.ResultPath = r.result_folder ? MakeResultPathsIn(*r.result_folder, r.inputs[0])
                                    : MakeResultPaths(r.inputs[0]);
  job_.KeyColumns = key;
  job_.UseOmit = r.use_omit;
  job_.OmitColumns = omit;
  job_.SpaceCompare = r.space_compare;
  job_.ArrangeLength = r.arrange_length;
  job_.CompareBytes = r.compare_bytes;
  // Padding is how a format stores a text, not the text: two formats pad the same text alike
  // only by chance.
  // So is it how two layouts pad a field.
  job_.TrimPadding = (!(r.formats[0] == r.formats[1]) || r.source_layout || r.destination_layout) &&
                     !r.keep_padding;
  job_.Scale = r.scale;
  if (!field_names_.empty()) {
    job_.ListFields = field_names_;  // records of fields: by number
  } else if (layout_) {
    for (const Field& f : layout_->fields) job_.ListFields.push_back({f.name, f.start, f.length});
  }
  if (r.sort && !job_.UseKey) {
    return PlanRefusal{"★--sort は、キーで比較するとき（--key）に指定してください"};
  }
  return std::nullopt;
}

RunSummary RunPlan::Run(RunObserver& observer, const std::atomic<bool>* interrupt) {
  const RunRequest& r = request_;
  RunExtensions extensions;
  extensions.interrupt = interrupt;
  // The run checks that none of its outputs is a file it reads, before it touches any.
  if (r.layout) extensions.reads.push_back({*r.layout, "レイアウト"});
  if (r.csv_layout) extensions.reads.push_back({*r.csv_layout, "CSV のレイアウト"});
  if (r.source_layout) extensions.reads.push_back({*r.source_layout, "比較元のレイアウト"});
  if (r.destination_layout) {
    extensions.reads.push_back({*r.destination_layout, "比較先のレイアウト"});
  }
  if (r.field_map) extensions.reads.push_back({*r.field_map, "項目の対応"});
  if (r.rules) extensions.reads.push_back({*r.rules, "規則"});
  if (r.settings_file) extensions.reads.push_back({*r.settings_file, "設定"});
  extensions.later_outputs = r.later_outputs;

  // Statistics cost only on pairs that differ.
  if (r.statistics) {
    std::vector<FieldSpan> fields;
    for (const Field& f : fields_) fields.push_back(FieldSpan{f.start, f.length});
    stats_.emplace(std::move(fields), r.counted_columns, r.kept_pairs);
  }
  if (rules_) {
    judge_.emplace(*rules_);
    extensions.judge = &*judge_;
  }
  if (r.hashes) {
    for (std::size_t i = 0; i < 2; ++i) {
      hashes_[i] = std::make_unique<Sha256>();
      original_hashes_[i] = std::make_unique<Sha256>();
      extensions.input_observers[i] = hashes_[i].get();
      extensions.original_observers[i] = original_hashes_[i].get();
    }
  }
  if (r.duplicates) {
    extensions.outputs.push_back({*r.duplicates, &duplicates_file_, "キー重複の一覧"});
    duplicates_ = std::make_unique<DuplicatesSink>(duplicates_file_);
    extensions.sinks.push_back(duplicates_.get());
  }
  if (r.expected) {
    extensions.outputs.push_back({*r.expected, &expected_file_, "許容された差異の一覧"});
    expected_ =
        std::make_unique<ExpectedListSink>(expected_file_, cp932::FromUtf8(job_.Scale), job_);
    extensions.sinks.push_back(expected_.get());
  }
  if (stats_) extensions.sinks.push_back(&*stats_);
  invalid_numbers_.reset();
  if (typed_ || csv_values_) {
    std::size_t counted = compared_fields_.size();
    for (const Field& f : fields_) {
      if (csv_values_) counted = std::max(counted, static_cast<std::size_t>(f.start));
    }
    invalid_numbers_ = std::make_unique<InvalidNumbersSink>(counted);
    extensions.sinks.push_back(invalid_numbers_.get());
  }
  if (r.sort) extensions.sort = &sort_.emplace(*r.sort);
  for (std::size_t i = 0; i < 2; ++i) extensions.codings[i] = codings_[i].get();
  for (std::size_t i = 0; i < 2; ++i) {
    framings_[i].reset();
    if (r.formats[i].framing != Framing::kLines) {
      extensions.framings[i] = &framings_[i].emplace(r.formats[i]);
    }
  }
  return RunComparison(job_, observer, extensions);
}

}  // namespace vesmer
