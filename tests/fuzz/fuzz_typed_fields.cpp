// Records of typed fields on arbitrary bytes and fields: no crash; every record has its fields,
// a number field's text is a canonical number or shown as no number; a prefix decodes as the
// whole record's first fields; a record known clean decodes clean; and the keys of two number
// fields order as their values.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ranges.h"
#include "formats/typed_fields.h"
#include "numbers/number_decoders.h"

namespace {

using vesmer::DecodedRecord;
using vesmer::TypedField;

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Copy {
  std::u16string text;
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint8_t> numbers;
  std::size_t fields = 0;
  std::size_t undecodable = 0;
};

Copy CopyOf(const DecodedRecord& d) {
  return Copy{std::u16string(d.text),
              {d.offsets.begin(), d.offsets.end()},
              {d.numbers.begin(), d.numbers.end()},
              d.fields,
              d.undecodable};
}

std::u16string FieldOf(const Copy& c, std::uint32_t field) {
  std::u16string text;
  for (std::size_t u = 0; u < c.text.size(); ++u) {
    if (c.offsets[u] == field) text.push_back(c.text[u]);
  }
  return text;
}

std::string KeyOf(const Copy& c, std::uint32_t field) {
  DecodedRecord record{c.text, c.offsets, 0, c.fields, false, {}, {}};
  record.numbers = c.numbers;
  vesmer::RangeList ranges;
  ranges[0] = {static_cast<std::int32_t>(field + 1), static_cast<std::int32_t>(field + 1)};
  std::string key;
  vesmer::AppendFieldsKeyForm(record, ranges, false, key);
  return key;
}

int Sign(int n) { return (n > 0) - (n < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static const char* const kCodePages[] = {"cp932", "ibm-930", "utf-8", "ibm-037"};
  const char* code_page = kCodePages[data[0] % 4];
  const bool mark = (data[0] & 4) != 0;
  const std::size_t count = 1 + data[1] % 8;
  std::size_t at = 2;
  std::vector<TypedField> fields;
  for (std::size_t f = 0; f < count && at + 3 <= size; ++f, at += 3) {
    TypedField field;
    const std::uint8_t kind = data[at] % 8;
    field.begin = data[at + 1] % 40;
    field.end = (data[at + 2] & 0x80) != 0 && kind < 2 ? TypedField::kToRecordEnd
                                                       : field.begin + 1 + data[at + 2] % 17;
    if (kind == 0) {
      field.kind = TypedField::Kind::kText;
    } else if (kind == 1) {
      field.kind = TypedField::Kind::kDoubleByte;
    } else {
      field.kind = TypedField::Kind::kNumber;
      static const vesmer::NumberType kTypes[] = {
          vesmer::NumberType::kZoned, vesmer::NumberType::kPacked, vesmer::NumberType::kBinary,
          vesmer::NumberType::kUnsignedBinary, vesmer::NumberType::kText};
      field.number.type = kTypes[kind % 5];
      field.number.places = static_cast<std::uint8_t>(data[at + 2] % 5);
      field.number.blank_when_zero = (data[at + 1] & 0x40) != 0;
    }
    fields.push_back(field);
  }
  if (fields.empty()) return 0;
  std::string message;
  const std::unique_ptr<vesmer::TypedBytesCoding> coding =
      vesmer::TypedBytesCoding::Open(code_page, fields, mark, message);
  Check(coding != nullptr);
  const std::unique_ptr<vesmer::RecordDecoder> decoder = coding->NewDecoder();
  const std::string_view rest(reinterpret_cast<const char*>(data) + at, size - at);
  // Two records: the rest, and its second half.
  const std::string_view records[2] = {rest, rest.substr(rest.size() / 2)};
  Copy decoded[2];
  for (int r = 0; r < 2; ++r) {
    const bool first = r == 0;
    decoded[r] = CopyOf(decoder->Decode(records[r], first));
    const Copy& d = decoded[r];
    Check(d.fields == fields.size());
    Check(d.numbers.size() == fields.size());
    for (std::size_t u = 0; u < d.offsets.size(); ++u) {
      Check(d.offsets[u] < fields.size());
      if (u > 0) Check(d.offsets[u - 1] <= d.offsets[u]);
    }
    for (std::uint32_t f = 0; f < fields.size(); ++f) {
      Check((d.numbers[f] != 0) == (fields[f].kind == TypedField::Kind::kNumber));
      const std::u16string text = FieldOf(d, f);
      vesmer::Decimal value;
      if (d.numbers[f] != 0 && vesmer::IsNumberText(text)) {
        // The canonical text of its value.
        Check(vesmer::ParseDecimalText(text, value));
        const std::string shown = value.ToString();
        Check(std::u16string(shown.begin(), shown.end()) == text);
      }
    }
    if (decoder->KnownClean(records[r], first)) Check(d.undecodable == 0);
    for (std::size_t prefix = 1; prefix <= fields.size(); ++prefix) {
      const Copy p = CopyOf(decoder->DecodePrefix(records[r], first, prefix));
      for (std::uint32_t f = 0; f < prefix; ++f) Check(FieldOf(p, f) == FieldOf(d, f));
    }
  }
  // Keys of a number field order as its values.
  for (std::uint32_t f = 0; f < fields.size(); ++f) {
    if (decoded[0].numbers[f] == 0) continue;
    const std::u16string a = FieldOf(decoded[0], f), b = FieldOf(decoded[1], f);
    vesmer::Decimal x, y;
    const bool numbers = vesmer::IsNumberText(a) && vesmer::IsNumberText(b) &&
                         vesmer::ParseDecimalText(a, x) && vesmer::ParseDecimalText(b, y);
    const int keys = Sign(KeyOf(decoded[0], f).compare(KeyOf(decoded[1], f)));
    if (numbers) Check(keys == (x < y ? -1 : y < x ? 1 : 0));
    if (numbers && a != b) Check(keys != 0);
    if (!numbers && a == b) Check(keys == 0);
  }
  return 0;
}
