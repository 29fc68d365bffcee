// Runs of typed fields: each side's fields (a layout of byte columns, a CSV layout or header)
// matched by name, and both sides made records of the fields they share, numbers read as
// values, so that an old and a new system's records compare value against value.
#include <algorithm>
#include <utility>

#include "app/run_plan.h"
#include "formats/csv_coding.h"
#include "formats/field_codings.h"
#include "formats/typed_fields.h"
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
// for both sides nothing of a record is left out of the comparison unasked.
std::vector<SideField> ByteSideFields(const Layout& layout, const RecordFormat& format, bool gaps) {
  std::vector<SideField> fields;
  std::vector<std::pair<std::int64_t, std::int64_t>> covered;  // [start, end) of every field
  for (const Field& f : layout.fields) {
    covered.emplace_back(f.start, std::int64_t{f.start} + f.length);
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
    if (format.framing != Framing::kFixed) {
      add_gap(at, 0);
    } else if (at <= static_cast<std::int64_t>(format.record_length)) {
      add_gap(at, static_cast<std::int64_t>(format.record_length) + 1);
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
  // One layout for both sides: what it leaves out of a record is compared all the same.
  const bool gaps = !two && !csv[0] && !csv[1];
  std::array<std::vector<SideField>, 2> sides;
  std::array<std::vector<std::string>, 2> headers;
  for (std::size_t i = 0; i < 2; ++i) {
    const RecordFormat& format = r.formats[i];
    if (!csv[i]) {
      sides[i] = ByteSideFields(*side_layouts_[i], format, gaps);
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
  std::vector<const SideField*> taken;
  for (const SideField& s : sides[0]) {
    const std::string wanted = partner_name(s.shown.name);
    const SideField* d = nullptr;
    for (const SideField& f : sides[1]) {
      if (f.shown.name == wanted && std::find(taken.begin(), taken.end(), &f) == taken.end()) {
        d = &f;
        break;
      }
    }
    if (d == nullptr) {
      unmatched_fields_[0].push_back(s.shown);
      continue;
    }
    taken.push_back(d);
    pairs.push_back({&s, d});
  }
  for (const SideField& f : sides[1]) {
    if (std::find(taken.begin(), taken.end(), &f) == taken.end()) {
      unmatched_fields_[1].push_back(f.shown);
    }
  }

  // Names of the key and of the fields left out: a field's name on either side, or a group of
  // the source's copybook, whose fields are then those within its columns.
  const std::vector<std::string> keys = SplitFieldNames(r.key_fields.value_or(""));
  const std::vector<std::string> omitted = SplitFieldNames(r.omit_fields.value_or(""));
  const Layout* source_layout = side_layouts_[0] && !csv[0] ? &*side_layouts_[0] : nullptr;
  const auto pairs_named = [&](const std::string& name) {
    std::vector<std::size_t> found;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
      if (pairs[p].source->shown.name == name || pairs[p].destination->shown.name == name) {
        found.push_back(p);
      }
    }
    const FieldGroup* group =
        source_layout != nullptr && found.empty() ? source_layout->FindGroup(name) : nullptr;
    for (std::size_t p = 0; group != nullptr && p < pairs.size(); ++p) {
      const std::int32_t start = pairs[p].source->shown.start;
      if (start >= group->start && start < group->start + group->length) found.push_back(p);
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
  // A field left out goes unless it is part of the key too: it stays, omitted by its number,
  // for the start checks to refuse the overlap as they refuse ranges that overlap.
  std::vector<bool> in_key(pairs.size(), false), left_out(pairs.size(), false);
  for (const std::string& name : keys) {
    for (const std::size_t p : pairs_named(name)) in_key[p] = true;
  }
  for (const std::string& name : omitted) {
    for (const std::size_t p : pairs_named(name)) left_out[p] = true;
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

  std::vector<std::size_t> number_of(pairs.size(), 0);  // 1-based in the records; 0: left out
  for (std::size_t p = 0; p < pairs.size(); ++p) {
    if (left_out[p] && !in_key[p]) continue;
    ComparedField field;
    field.name = pairs[p].source->shown.name;
    field.sides = {pairs[p].source->shown, pairs[p].destination->shown};
    field.number = field.sides[0].IsNumber() || field.sides[1].IsNumber();
    compared_fields_.push_back(std::move(field));
    number_of[p] = compared_fields_.size();
    field_names_.push_back(
        {compared_fields_.back().name, static_cast<std::int32_t>(compared_fields_.size()), 1});
  }
  if (compared_fields_.empty()) {
    problem = "★比較元と比較先に、比較する同じ名前の項目がありません";
    return false;
  }
  const auto ranges_of = [&](const std::vector<std::string>& names, bool omitting) {
    std::string text;
    for (const std::string& name : names) {
      for (const std::size_t p : pairs_named(name)) {
        if (number_of[p] == 0 || (omitting && !in_key[p])) continue;
        const std::string number = std::to_string(number_of[p]);
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
      std::size_t first = compared_fields_.size(), last = first;
      for (std::size_t f = 0; f < compared_fields_.size(); ++f) {
        const FieldOnSide& side = compared_fields_[f].sides[0];
        if (side.start == range.Start) first = f;
        if (first <= f && std::int64_t{side.start} + side.length - 1 == range.End) {
          last = f;
          break;
        }
      }
      bool whole = first <= last && last < compared_fields_.size();
      for (std::size_t f = first; whole && f < last; ++f) {
        const FieldOnSide& a = compared_fields_[f].sides[0];
        whole = a.start + a.length == compared_fields_[f + 1].sides[0].start;
      }
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
    r.key_text = ranges_of(keys, false);
    r.use_key = true;
  }
  if (r.omit_fields) {
    r.omit_text = ranges_of(omitted, true);  // only omitted key fields are still among them
    r.use_omit = !r.omit_text.empty();
  }

  for (std::size_t i = 0; i < 2; ++i) {
    const RecordFormat& format = r.formats[i];
    std::vector<TypedField> typed;
    std::vector<std::uint32_t> columns;
    std::vector<std::uint8_t> numbers;
    bool host_numbers = false;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
      if (number_of[p] == 0) continue;
      const SideField& f = *(i == 0 ? pairs[p].source : pairs[p].destination);
      const bool number = compared_fields_[number_of[p] - 1].number;
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
    codings_[i] = TypedBytesCoding::Open(format.code_page, std::move(typed), problem);
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

}  // namespace vesmer
