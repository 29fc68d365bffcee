// Runs of typed fields: each side's fields (a layout of byte columns, a CSV layout or header)
// matched by name, and both sides made records of the fields they share, numbers read as
// values, so that an old and a new system's records compare value against value.
#include <algorithm>
#include <unordered_map>
#include <utility>

#include "app/run_plan.h"
#include "formats/csv_coding.h"
#include "formats/field_codings.h"
#include "formats/typed_fields.h"
#include "numbers/decimal.h"
#include "plan_words.h"

namespace vesmer {

using plan_words::Contains;
using plan_words::NameList;
using plan_words::SideName;

namespace {

// A field of one side as the plan matches it.
struct SideField {
  FieldOnSide shown;
  TypedField typed;          // of a side of byte columns
  std::uint32_t column = 0;  // of a CSV side: 0-based
};

TypedField TypedOf(const Field& f) {
  TypedField typed;
  typed.begin = static_cast<std::uint32_t>(f.start - 1);
  typed.end = typed.begin + static_cast<std::uint32_t>(f.length);
  switch (f.type) {
    case FieldType::kText:
      typed.kind = TypedField::Kind::kText;
      break;
    case FieldType::kDoubleByte:
      typed.kind = TypedField::Kind::kDoubleByte;
      break;
    default:
      typed.kind = TypedField::Kind::kNumber;
      typed.number = NumberFormatOf(f, DigitFamily::kAscii);  // the coding knows the digits
      break;
  }
  return typed;
}

// The compared fields of a layout of byte columns in the order of their columns and, when
// `gaps`, the bytes no field of the layout covers as text fields named by their columns
// ("51-60", and "201-" for what follows the last field up to a record's end): with one layout
// for both sides nothing of a record is left out of the comparison unasked. A FILLER covers its
// bytes (they are not compared, as asked); an item that redefines others does not (it is
// compared only through what it redefines, and bytes it alone covers would be compared by
// nothing). `record_end`: the 1-based column after the records' last byte when both sides'
// records have that length; 0 when they may be of any.
std::vector<SideField> ByteSideFields(const Layout& layout, bool gaps, std::int64_t record_end) {
  std::vector<SideField> fields;
  std::vector<std::pair<std::int64_t, std::int64_t>> covered;  // [start, end) of every field
  for (const Field& f : layout.fields) {
    if (f.role != FieldRole::kRedefining) {
      covered.emplace_back(f.start, std::int64_t{f.start} + f.length);
    }
    if (!f.Compared()) continue;
    fields.push_back(
        SideField{FieldOnSide{f.name, f.start, f.length, false, f.type, f.places}, TypedOf(f), 0});
  }
  if (gaps) {
    std::sort(covered.begin(), covered.end());
    const auto add_gap = [&](std::int64_t start, std::int64_t end) {  // end 0: the record's end
      SideField gap;
      gap.shown.name = std::to_string(start) + "-" + (end == 0 ? "" : std::to_string(end - 1));
      gap.shown.start = static_cast<std::int32_t>(start);
      gap.shown.length = end == 0 ? 0 : static_cast<std::int32_t>(end - start);
      gap.typed.begin = static_cast<std::uint32_t>(start - 1);
      gap.typed.end = end == 0 ? TypedField::kToRecordEnd : static_cast<std::uint32_t>(end - 1);
      fields.push_back(std::move(gap));
    };
    std::int64_t at = 1;
    for (const auto& [start, end] : covered) {
      if (start > at) add_gap(at, start);
      at = std::max(at, end);
    }
    if (record_end == 0) {
      add_gap(at, 0);
    } else if (at < record_end) {
      add_gap(at, record_end);
    }
  }
  std::stable_sort(fields.begin(), fields.end(), [](const SideField& a, const SideField& b) {
    return a.shown.start < b.shown.start;
  });
  return fields;
}

// The columns of a CSV side: its layout's (a column of attribute 9 a number), else its header's.
std::vector<SideField> CsvSideFields(const Layout* layout, const std::vector<std::string>& header) {
  std::vector<SideField> fields;
  if (layout != nullptr) {
    for (const Field& f : layout->fields) {
      SideField field;
      field.shown = FieldOnSide{f.name, f.start, 1, true, f.type, 0};
      field.column = static_cast<std::uint32_t>(f.start - 1);
      fields.push_back(std::move(field));
    }
    return fields;
  }
  for (std::size_t c = 0; c < header.size(); ++c) {
    SideField field;
    field.shown =
        FieldOnSide{header[c], static_cast<std::int32_t>(c + 1), 1, true, FieldType::kText, 0};
    field.column = static_cast<std::uint32_t>(c);
    fields.push_back(std::move(field));
  }
  return fields;
}

// The compared fields (their source's columns) that lie in `range`, when it starts where one
// starts and ends where one ends: [first, last]. Bytes between them are of no compared field
// (a FILLER). False when the range cuts a field.
bool WholeFieldsOf(const std::vector<ComparedField>& fields, ColumnRange range, std::size_t& first,
                   std::size_t& last) {
  first = fields.size();
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const FieldOnSide& side = fields[f].sides[0];
    const std::int64_t end = std::int64_t{side.start} + side.length - 1;
    if (side.start == range.Start && first == fields.size()) first = f;
    if (first == fields.size()) {
      if (side.start < range.Start && end >= range.Start) return false;  // cut at its start
      continue;
    }
    if (end == range.End) {
      last = f;
      return side.length != 0;
    }
    if (end > range.End) return false;
  }
  return false;
}

const SideField* FindField(const std::vector<SideField>& fields, const std::string& name) {
  const auto at = std::find_if(fields.begin(), fields.end(),
                               [&](const SideField& f) { return f.shown.name == name; });
  return at == fields.end() ? nullptr : &*at;
}

}  // namespace

// Both sides become records of the fields they share, in the source's order. With two layouts
// a field one side lacks is listed and not compared; with one layout against a CSV header it
// refuses the run unless it is omitted, as comparing texts does.
bool RunPlan::PrepareTypedFields(RunRequest& r, std::string& problem) {
  const bool two = r.source_layout || r.destination_layout;
  const std::array<bool, 2> csv{r.formats[0].framing == Framing::kCsv,
                                r.formats[1].framing == Framing::kCsv};
  // What a layout leaves out of a record is a field of its own, named by its columns up to the
  // record's end: with one layout for both sides it is compared all the same (both sides must
  // place the end alike for the fields to pair); with two it pairs with the other side's bytes
  // of the same name, or is listed as not compared, never passed over in silence. A layout
  // against a CSV file compares the fields both name, as comparing texts does.
  const bool gaps = two || (!csv[0] && !csv[1]);
  const bool same_length = r.formats[0].framing == Framing::kFixed &&
                           r.formats[1].framing == Framing::kFixed &&
                           r.formats[0].record_length == r.formats[1].record_length;
  const auto record_end = [&](std::size_t i) -> std::int64_t {
    const RecordFormat& f = r.formats[i];
    if (f.framing != Framing::kFixed || (!two && !same_length)) return 0;
    return static_cast<std::int64_t>(f.record_length) + 1;
  };
  std::array<std::vector<SideField>, 2> sides;
  std::array<std::vector<std::string>, 2> headers;
  for (std::size_t i = 0; i < 2; ++i) {
    const RecordFormat& format = r.formats[i];
    if (!csv[i]) {
      // A value has 38 digits at most: a zoned field of more would never hold a number.
      for (const Field& f : side_layouts_[i]->fields) {
        if (f.Compared() && f.type == FieldType::kZoned && f.length > Decimal::kMaxDigits + 1) {
          problem = "★レイアウトファイル " + side_layouts_[i]->path + " の " +
                    std::to_string(f.line) + " 行目: 項目「" + ShownText(f.name) +
                    "」は値で比べる数（38 桁まで）には長すぎます（文字として比べるなら属性を X に"
                    "してください）";
          return false;
        }
      }
      sides[i] = ByteSideFields(*side_layouts_[i], gaps, record_end(i));
      continue;
    }
    if (format.header && !ReadCsvHeader(r.inputs[i], format, headers[i], problem)) return false;
    if (!side_layouts_[i] && !format.header) {
      problem = "★" + SideName(i) +
                "の CSV の列に名前がありません（見出しのある CSV なら形式に header を、"
                "なければ" +
                (two ? std::string(i == 0 ? "--source-layout" : "--destination-layout")
                     : std::string("--csv-layout")) +
                " で列の名前を指定してください）";
      return false;
    }
    sides[i] = CsvSideFields(side_layouts_[i] ? &*side_layouts_[i] : nullptr, headers[i]);
    std::vector<std::string> names, repeated;
    for (const SideField& f : sides[i]) {
      if (Contains(names, f.shown.name) && !Contains(repeated, f.shown.name)) {
        repeated.push_back(f.shown.name);
      }
      names.push_back(f.shown.name);
    }
    if (!repeated.empty()) {
      problem = "★" + SideName(i) +
                "の CSV に同じ名前の列がいくつもあります: " + NameList(repeated) +
                "（比較しないなら --omit-fields で指定してください）";
      // With one layout, an omitted name may repeat: it is not compared.
      if (two) return false;
      const std::vector<std::string> omitted = SplitFieldNames(r.omit_fields.value_or(""));
      if (std::any_of(repeated.begin(), repeated.end(),
                      [&](const std::string& name) { return !Contains(omitted, name); })) {
        return false;
      }
      problem.clear();
    }
  }

  FieldMap map;
  if (r.field_map) {
    if (!two) {
      problem = "★--field-map は、--source-layout か --destination-layout と一緒に指定してください";
      return false;
    }
    if (Status s = LoadFieldMap(*r.field_map, map, problem); !s.ok()) return false;
    for (const auto& [from, to] : map.renamed) {
      for (const auto& [side, name] : {std::pair{std::size_t{0}, &from}, {std::size_t{1}, &to}}) {
        if (FindField(sides[side], *name) != nullptr) continue;
        problem = "★項目の対応ファイル " + map.path + " の「" + ShownText(*name) + "」は" +
                  SideName(side) + "の項目にありません";
        return false;
      }
    }
  }
  const auto partner_name = [&](const std::string& name) {
    for (const auto& [from, to] : map.renamed) {
      if (from == name) return to;
    }
    return name;
  };

  // The pairs of fields, in the source's order.
  struct Pair {
    const SideField* source;
    const SideField* destination;
  };
  std::vector<Pair> pairs;
  // The destination's fields by name, and by name in capitals (COBOL's names are the same
  // whatever their case), each taken once.
  std::unordered_map<std::string, std::vector<std::size_t>> by_name, by_capitals;
  const auto capitals = [](std::string name) {
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
  };
  for (std::size_t d = 0; d < sides[1].size(); ++d) {
    by_name[sides[1][d].shown.name].push_back(d);
    by_capitals[capitals(sides[1][d].shown.name)].push_back(d);
  }
  std::vector<bool> taken(sides[1].size(), false);
  const auto take = [&](const std::unordered_map<std::string, std::vector<std::size_t>>& names,
                        const std::string& name, bool unique) -> const SideField* {
    const auto found = names.find(name);
    if (found == names.end() || (unique && found->second.size() != 1)) return nullptr;
    for (const std::size_t d : found->second) {
      if (!taken[d]) {
        taken[d] = true;
        return &sides[1][d];
      }
    }
    return nullptr;
  };
  // Every very name first, then names whatever their case, among the fields left: a field
  // whose own name is on the other side never loses it to one that differs in case.
  std::vector<const SideField*> partner(sides[0].size(), nullptr);
  for (std::size_t i = 0; i < sides[0].size(); ++i) {
    partner[i] = take(by_name, partner_name(sides[0][i].shown.name), false);
  }
  for (std::size_t i = 0; i < sides[0].size(); ++i) {
    if (partner[i] == nullptr) {
      partner[i] = take(by_capitals, capitals(partner_name(sides[0][i].shown.name)), true);
    }
  }
  for (std::size_t i = 0; i < sides[0].size(); ++i) {
    if (partner[i] == nullptr) {
      unmatched_fields_[0].push_back(sides[0][i].shown);
    } else {
      pairs.push_back({&sides[0][i], partner[i]});
    }
  }
  for (std::size_t d = 0; d < sides[1].size(); ++d) {
    if (!taken[d]) unmatched_fields_[1].push_back(sides[1][d].shown);
  }

  // Names of the key and of the fields left out: a field's name on either side, or a group of
  // a copybook, whose fields are then those within its columns.
  const std::vector<std::string> keys = SplitFieldNames(r.key_fields.value_or(""));
  const std::vector<std::string> omitted = SplitFieldNames(r.omit_fields.value_or(""));
  const auto pairs_named = [&](const std::string& name) {
    // The source's names first: a name both sides use for different fields (renamed through
    // the map) is the source's.
    std::vector<std::size_t> found;
    for (const bool source : {true, false}) {
      if (!found.empty()) break;
      for (std::size_t p = 0; p < pairs.size(); ++p) {
        if ((source ? pairs[p].source : pairs[p].destination)->shown.name == name) {
          found.push_back(p);
        }
      }
    }
    // A group of a copybook: the source's, else the destination's.
    for (std::size_t i = 0; i < 2 && found.empty(); ++i) {
      const FieldGroup* group =
          side_layouts_[i] && !csv[i] ? side_layouts_[i]->FindGroup(name) : nullptr;
      for (std::size_t p = 0; group != nullptr && p < pairs.size(); ++p) {
        const std::int32_t start = (i == 0 ? pairs[p].source : pairs[p].destination)->shown.start;
        if (start >= group->start && start < group->start + group->length) found.push_back(p);
      }
    }
    return found;
  };
  const auto on_one_side = [&](const std::string& name) {
    for (std::size_t i = 0; i < 2; ++i) {
      for (const FieldOnSide& f : unmatched_fields_[i]) {
        if (f.name == name) return true;
      }
    }
    return false;
  };
  // A name that is a compared field's on one side alone and a field's on the other side that is
  // compared with nothing (a field renamed through the map whose old name the other side gives a
  // field of its own) names both: omitting it would pass over the pair and the field at once.
  for (const std::vector<std::string>* names : {&keys, &omitted}) {
    for (const std::string& name : *names) {
      bool ambiguous = false;
      for (const Pair& p : pairs) {
        for (std::size_t i = 0; i < 2 && !ambiguous; ++i) {
          const SideField* mine = i == 0 ? p.source : p.destination;
          const SideField* other = i == 0 ? p.destination : p.source;
          if (mine->shown.name != name || other->shown.name == name) continue;
          ambiguous = std::any_of(unmatched_fields_[1 - i].begin(), unmatched_fields_[1 - i].end(),
                                  [&](const FieldOnSide& f) { return f.name == name; });
        }
      }
      if (ambiguous) {
        problem = "★項目名「" + ShownText(name) +
                  "」は、比較元と比較先で別の項目の名前です（項目の対応で名前が変わっています）。"
                  "名前を変えた項目は新しい名前でも指定できます";
        return false;
      }
    }
  }
  std::vector<std::string> unknown, lacking;
  for (const std::vector<std::string>* names : {&keys, &omitted}) {
    for (const std::string& name : *names) {
      if (!pairs_named(name).empty() || Contains(unknown, name) || Contains(lacking, name)) {
        continue;
      }
      if (names == &keys && on_one_side(name)) {
        lacking.push_back(name);
      } else if (!on_one_side(name)) {
        unknown.push_back(name);
      }
    }
  }
  if (!unknown.empty()) {
    problem = "★比較元にも比較先にもない項目です: " + NameList(unknown);
    return false;
  }
  if (!lacking.empty()) {
    problem =
        "★キーの項目は、比較元と比較先の両方にある名前で指定してください: " + NameList(lacking);
    return false;
  }
  // A name on one side only that is omitted is no difference: it is simply not compared.
  for (std::size_t i = 0; i < 2; ++i) {
    std::erase_if(unmatched_fields_[i],
                  [&](const FieldOnSide& f) { return Contains(omitted, f.name); });
  }
  if (!two && (!unmatched_fields_[0].empty() || !unmatched_fields_[1].empty())) {
    // One layout against a CSV file: every field of each is compared, or omitted by name.
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < 2; ++i) {
      std::vector<std::string> names;
      for (const FieldOnSide& f : unmatched_fields_[i]) {
        if (!Contains(names, f.name)) names.push_back(f.name);
      }
      if (!names.empty())
        parts.push_back(SideName(i) + "にしかない項目があります: " + NameList(names));
    }
    problem = "★" + parts[0] + (parts.size() > 1 ? "。" + parts[1] : "") +
              "（比較しない項目は --omit-fields で指定してください）";
    return false;
  }

  // Pair p is field p + 1 of the records. A field left out stays there, omitted by its number as
  // columns of bytes are, so that a pair that differs there alone is told from one equal in
  // value; one that is part of the key too is for the start checks to refuse, as they refuse
  // ranges that overlap.
  for (std::size_t p = 0; p < pairs.size(); ++p) {
    ComparedField field;
    field.name = pairs[p].source->shown.name;
    field.sides = {pairs[p].source->shown, pairs[p].destination->shown};
    field.number = field.sides[0].IsNumber() || field.sides[1].IsNumber();
    compared_fields_.push_back(std::move(field));
    field_names_.push_back(
        {compared_fields_.back().name, static_cast<std::int32_t>(compared_fields_.size()), 1});
  }
  if (compared_fields_.empty()) {
    problem = "★比較元と比較先に、比較する同じ名前の項目がありません";
    return false;
  }
  // Fields one side lacks are no difference: the user must hear that they were not compared.
  for (std::size_t i = 0; i < 2; ++i) {
    std::vector<std::string> names;
    for (const FieldOnSide& f : unmatched_fields_[i]) names.push_back(f.name);
    if (!names.empty()) {
      warnings_.push_back(SideName(i) + "にしかない項目は比較していません: " + NameList(names));
    }
  }
  const auto ranges_of = [&](const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
      for (const std::size_t p : pairs_named(name)) {
        const std::string number = std::to_string(p + 1);
        if (!text.empty()) text += ',';
        text += number + "-" + number;
      }
    }
    return text;
  };
  // Columns typed as ranges name bytes: with one layout for both sides they name the fields
  // whose columns they are, if they cover whole fields.
  const auto fields_of_ranges = [&](std::string& text, const char* what) {
    RangeList list;
    if (ParseRangeText(NormaliseRangeText(text), list) != ParseOutcome::kValid) {
      return true;  // the start checks say what is wrong with it
    }
    std::string fields;
    for (std::size_t i = 0, used = list.UsedPrefix(); i < used; ++i) {
      const ColumnRange range = list[i];
      std::size_t first = 0, last = 0;
      const bool whole = WholeFieldsOf(compared_fields_, range, first, last);
      if (!whole) {
        problem = std::string("★") + what + " " + std::to_string(range.Start) + "-" +
                  std::to_string(range.End) +
                  " 桁が、レイアウトの項目の境目に合っていません（項目の名前で指定できます）";
        return false;
      }
      if (!fields.empty()) fields += ',';
      fields += std::to_string(first + 1) + "-" + std::to_string(last + 1);
    }
    text = fields;
    return true;
  };
  if (r.key_given || r.omit_given || (r.use_key && !r.key_fields) ||
      (r.use_omit && !r.omit_fields)) {
    if (two || csv[0] || csv[1]) {
      // Columns of bytes mean nothing to a side of other columns.
      problem = std::string("★") +
                (two ? "二つのレイアウトで比較するときは" : "CSV と CSV でない形式の比較では") +
                "、キーと比較しない項目を --key-fields と --omit-fields に項目の名前で指定して"
                "ください";
      return false;
    }
    if (r.use_key && !r.key_fields && !fields_of_ranges(r.key_text, "キーの領域")) return false;
    if (r.use_omit && !r.omit_fields && !fields_of_ranges(r.omit_text, "比較しない領域")) {
      return false;
    }
  }
  if (r.key_fields) {
    r.key_text = ranges_of(keys);
    r.use_key = true;
  }
  if (r.omit_fields) {
    r.omit_text = ranges_of(omitted);
    r.use_omit = !r.omit_text.empty();
  }

  for (std::size_t i = 0; i < 2; ++i) {
    const RecordFormat& format = r.formats[i];
    std::vector<TypedField> typed;
    std::vector<std::uint32_t> columns;
    std::vector<std::uint8_t> numbers;
    bool host_numbers = false;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
      const SideField& f = *(i == 0 ? pairs[p].source : pairs[p].destination);
      const bool number = compared_fields_[p].number;
      columns.push_back(f.column);
      numbers.push_back(number ? 1 : 0);
      TypedField t = f.typed;
      if (number && t.kind != TypedField::Kind::kNumber) {
        // Text against a number: the text is read as a decimal.
        t.kind = TypedField::Kind::kNumber;
        t.number = NumberFormat{NumberType::kText};
      }
      host_numbers =
          host_numbers || (f.shown.type != FieldType::kZoned && f.shown.IsNumber() && !f.shown.csv);
      typed.push_back(t);
    }
    if (csv[i]) {
      std::unique_ptr<RecordCoding> fields = CsvCoding::Open(format, headers[i].size(), problem);
      if (fields == nullptr) return false;
      codings_[i] = std::make_unique<SelectedFieldsCoding>(std::move(fields), std::move(columns));
      if (std::find(numbers.begin(), numbers.end(), 1) != numbers.end()) {
        codings_[i] = std::make_unique<NumberFieldsCoding>(std::move(codings_[i]), numbers);
      }
      continue;
    }
    // With two layouts, each side's coding tells its whole layout: the same bytes read through
    // other layouts are not known to be the same values, even where the fields read coincide.
    std::string layout;
    for (const SideField& f : two ? sides[i] : std::vector<SideField>{}) {
      layout += f.shown.name + ':' + std::to_string(f.shown.start) + ':' +
                std::to_string(f.shown.length) + ':' + std::string(FieldTypeName(f.shown.type)) +
                '/';
    }
    codings_[i] =
        TypedBytesCoding::Open(format.code_page, std::move(typed),
                               format.framing == Framing::kLines || format.framing == Framing::kLf,
                               problem, std::move(layout));
    if (codings_[i] == nullptr) return false;
    if (host_numbers && (format.framing == Framing::kLines || format.framing == Framing::kLf)) {
      warnings_.push_back(SideName(i) + "は " +
                          (format.framing == Framing::kLines ? "lines" : "lf") +
                          " の形式です。P、B、BU の項目のバイトが CR や LF と同じ値のところで"
                          "レコードが切れるため、正しく読めないことがあります（fixed=N か rdw "
                          "を指定してください）");
    }
  }
  return true;
}

// Rules name fields, or give columns as ranges. With one layout for both sides' byte columns,
// a range gives the fields whose columns it covers whole; against a CSV file, the numbers of
// the fields compared, as comparing texts has them; with two layouts a range names nothing.
bool RunPlan::MapRuleRanges(RuleSet& rules, std::string& problem) const {
  const RunRequest& r = request_;
  const bool two = r.source_layout || r.destination_layout;
  const bool csv = r.formats[0].framing == Framing::kCsv || r.formats[1].framing == Framing::kCsv;
  for (FieldRules& f : rules.fields) {
    const bool named = std::any_of(
        compared_fields_.begin(), compared_fields_.end(), [&](const ComparedField& field) {
          return field.sides[0].name == f.field || field.sides[1].name == f.field;
        });
    if (named || (csv && !two)) continue;
    const std::string where = "★規則ファイル " + rules.path + " の「" + ShownText(f.field) + "」: ";
    if (two) {
      problem = where + "二つのレイアウトで比較するときは、規則の項目を名前で指定してください";
      return false;
    }
    std::size_t first = 0, last = 0;
    if (!WholeFieldsOf(compared_fields_, ColumnRange{f.start, f.start + f.length - 1}, first,
                       last)) {
      problem = where + "レイアウトの項目の境目に合っていません（項目の名前で指定できます）";
      return false;
    }
    f.start = static_cast<std::int32_t>(first + 1);
    f.length = static_cast<std::int32_t>(last - first + 1);
  }
  return true;
}

}  // namespace vesmer
